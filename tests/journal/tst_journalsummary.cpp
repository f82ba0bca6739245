// kestra-journal summary over journals written out line by line: sessions and the span in time
// order, medians, skipped and stopped commands, operation names, the verdict, and its bounds.

#include "JournalReader.h"
#include "JournalSummary.h"

#include <QJsonArray>
#include <QTest>

#include <cstdio>

namespace {

QByteArray at(const char *time, const QByteArray &rest)
{
    return "2026-12-07T" + QByteArray(time) + "Z " + rest + '\n';
}

QByteArray end(const char *code, int result, int ms)
{
    const QByteArray how = result == 1    ? "error 107 (time-out: no complete response in time)"
                           : result == -1 ? "error 0 (a response was received), status 21 (unknown command)"
                                          : "error 0 (a response was received), status 20 (normal completion)";
    return "-- end code " + QByteArray(code) + ", " + how + ", result " + QByteArray::number(result) + ", "
           + QByteArray::number(ms) + " ms" + (result == 1 ? "" : ", data (none)");
}

const QByteArray kOpen = "-- open 127.0.0.1 port 10001";
const QByteArray kCommand = "-- command code 22, time-out 30000 ms, DSR check on, parameter (none)";
const QByteArray kClose = "-- close 127.0.0.1 port 10001";

// A session of s<pid>.1 on tcp from "hh:mm:ss" on: opened, one read ending in ms, closed.
QByteArray session(int pid, const char *minute, int ms = 63)
{
    const QByteArray s = "tcp s" + QByteArray::number(pid) + ".1 ";
    const QByteArray m(minute);
    return at(m + ":00.000", s + kOpen) + at(m + ":01.000", s + kCommand) + at(m + ":01.100", s + end("22", 0, ms))
           + at(m + ":02.000", s + kClose);
}

// "a/0/b" in the JSON, as text: numbers as QString::number writes them, null as "null".
QString valueAt(QJsonValue value, const QString &path)
{
    for (const QString &key : path.split(u'/')) {
        bool index = false;
        const int i = key.toInt(&index);
        value = index ? value.toArray().at(i) : value.toObject().value(key);
    }
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 12);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.isString() ? value.toString() : QStringLiteral("null");
}

} // namespace

class TestJournalSummary : public QObject
{
    Q_OBJECT
private slots:
    void summarizes_data();
    void summarizes();
};

void TestJournalSummary::summarizes_data()
{
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<QStringList>("json");  // "path=value"
    QTest::addColumn<QStringList>("table"); // lines the table holds
    QTest::addColumn<QString>("verdict");

    const QByteArray s1 = "tcp s1.1 ";
    QTest::newRow("median of an even count")
        << at("01:00:00.000", s1 + kOpen) + at("01:00:01.000", s1 + end("22", 0, 63)) + at("01:00:02.000", s1 + end("22", 0, 70))
        << QStringList{"codes/0/elapsed_ms_median=66.5", "codes/0/operation=read"}
        << QStringList{"  22  read               2        2        0         0       0       63      66.5       70"}
        << "all normal";
    QTest::newRow("median of an odd count")
        << session(1, "01:00", 63) + session(2, "01:01", 100) + session(3, "01:02", 70)
        << QStringList{"codes/0/elapsed_ms_median=70", "normal=true"} << QStringList{} << "all normal";
    QTest::newRow("median of two times past 65536 ms, to three digits")
        << session(1, "01:00", 70001) + session(2, "01:01", 123456) << QStringList{"codes/0/elapsed_ms_median=96500"}
        << QStringList{} << "all normal";
    QTest::newRow("appended sessions out of time order")
        << session(7, "01:50") + session(8, "01:40")
        << QStringList{"first_time=2026-12-07T01:40:00.000Z", "last_time=2026-12-07T01:50:02.000Z", "sessions/0/number=2",
                       "sessions/0/session=s8.1", "sessions/1/number=1", "sessions/1/what=127.0.0.1 port 10001"}
        << QStringList{"j: 8 lines, 2 sessions, 2026-12-07T01:40:00.000Z to 2026-12-07T01:50:02.000Z",
                       "  2  tcp   127.0.0.1 port 10001  01:40:00.000  01:40:02.000         1      0  closed",
                       "  1  tcp   127.0.0.1 port 10001  01:50:00.000  01:50:02.000         1      0  closed"}
        << "all normal";
    QTest::newRow("three sessions, one lost")
        << session(1, "02:00") + at("02:01:00.000", "tcp s2.1 " + kOpen)
               + at("02:01:05.000", "tcp s2.1 -- lost 127.0.0.1 port 10001: the device closed the connection") + session(3, "02:02")
        << QStringList{"sessions/1/ending=lost", "sessions/1/reason=the device closed the connection", "sessions/2/ending=closed",
                       "links/0/opened=3", "links/0/lost=1", "links/0/closed=2"}
        << QStringList{"  2  tcp   127.0.0.1 port 10001  02:01:00.000  02:01:05.000         0      0  lost: the device closed the connection"}
        << "1 not normal: 1 lost (tcp)";
    QTest::newRow("skipped and stopped")
        << at("03:00:00.000", s1 + kOpen) + at("03:00:01.000", s1 + end("39", -1, 5))
               + at("03:00:01.001", s1 + "-- skipped code 31 (write 2/3): write 1/3 ended with result -1")
               + at("03:00:01.002", s1 + "-- skipped code 31: The data command (&h39) ended with result -1")
               + at("03:00:02.000", s1 + "-- stopped standard output could not be written")
        << QStringList{"skipped=2", "stopped=1", "codes/0/code_hex=31", "codes/0/operation=write 2/3", "codes/0/skipped=2",
                       "codes/0/elapsed_ms_median=null"}
        << QStringList{"commands 0, ended 1, refused 0, skipped 2, stopped 1"}
        << "4 not normal: 1 result -1 on code 39 (write 1/3), 2 skipped on code 31 (write 2/3), 1 stopped";
    QTest::newRow("a mix, the worst first")
        << at("04:00:00.000", "com1 s5.1 -- open-failed COM1 (/dev/ttyUSB0, 9600 bit/s) does not open: No such file or "
                              "directory (OpenLink result 1: no such port: no device at its path); list the serial ports")
               + at("04:00:01.000", s1 + kOpen) + at("04:00:01.000", s1 + kCommand) + at("04:00:02.000", s1 + end("22", 1, 30000))
               + at("04:00:02.000", s1 + kCommand) + at("04:00:03.000", s1 + end("7e", -1, 4)) + at("04:00:03.000", s1 + kCommand)
               + at("04:00:04.000", s1 + end("22", 1, 30000)) + at("04:00:05.000", s1 + kCommand)
               + at("04:00:06.000", s1 + "-- lost 127.0.0.1 port 10001: Input/output error")
        << QStringList{"sessions/0/ending=did not open", "sessions/0/what=COM1 (/dev/ttyUSB0, 9600 bit/s)",
                       "sessions/0/reason=No such file or directory", "codes/1/operation=null", "normal=false"}
        << QStringList{"  7e                     1        0        0         1       0        4         4        4"}
        << "6 not normal: 1 lost (tcp), 1 did not open (com1), 1 result -1 on code 7e, 2 time-outs on code 22 (read), "
           "1 command without an end";
    QTest::newRow("a journal from before sessions were named")
        << at("05:00:00.000", "tcp " + kOpen) + at("05:00:01.000", "tcp " + end("22", 0, 63))
               + at("05:00:02.000", "tcp -- lost 127.0.0.1 port 10001: the device closed the connection")
               + at("05:01:00.000", "tcp " + kOpen) + at("05:01:01.000", "tcp " + kClose)
        << QStringList{"session_count=2", "sessions/0/session=null", "sessions/0/ending=lost", "sessions/1/ending=closed"}
        << QStringList{} << "1 not normal: 1 lost (tcp)";
    QTest::newRow("a control character in a reason is shown, not sent to the terminal")
        << at("06:00:00.000", s1 + kOpen) + at("06:00:01.000", s1 + "-- lost 127.0.0.1 port 10001: \x1b[2Jgone")
        << QStringList{"losses/0/reason=\x1b[2Jgone"} << QStringList{"  lost 1x: \\x1b[2Jgone"} << "1 not normal: 1 lost (tcp)";

    // Past the listed sessions the quiet ones are counted together; the lost one stays listed.
    QByteArray many = at("00:00:00.000", "tcp s1.1 " + kOpen) + at("00:00:00.001", "tcp s1.1 -- lost 127.0.0.1 port 10001: gone");
    for (int pid = 2; pid <= int(JournalSummary::kListedSessions) + 5; ++pid)
        many += session(pid, qPrintable(QStringLiteral("%1:%2").arg(pid / 60 % 24, 2, 10, QLatin1Char('0')).arg(pid % 60, 2, 10, QLatin1Char('0'))));
    QTest::newRow("more sessions than are listed")
        << many << QStringList{"session_count=1005", "sessions/0/ending=lost", "more_sessions/count=5", "more_sessions/closed=5",
                               "more_sessions/commands=5"}
        << QStringList{} << "1 not normal: 1 lost (tcp)";
}

void TestJournalSummary::summarizes()
{
    QFETCH(QByteArray, journal);
    QFETCH(QStringList, json);
    QFETCH(QStringList, table);
    QFETCH(QString, verdict);
    std::FILE *stream = fmemopen(journal.data(), size_t(journal.size()), "rb");
    QVERIFY(stream);
    JournalReader reader(JournalReader::Mode::Strict);
    reader.open(stream, QStringLiteral("j"));
    JournalSummary summary;
    JournalLine line;
    while (reader.next(&line))
        summary.add(line);
    std::fclose(stream);
    QCOMPARE(reader.error(), QString());
    summary.setLinesRead(reader.linesRead());

    const QJsonObject object = summary.json(QStringLiteral("j"));
    QCOMPARE(object.value(QStringLiteral("verdict")).toString(), verdict);
    QVERIFY(object.value(QStringLiteral("sessions")).toArray().size() <= int(JournalSummary::kListedSessions));
    for (const QString &check : json) {
        const qsizetype is = check.indexOf(u'=');
        QCOMPARE(valueAt(object, check.left(is)), check.mid(is + 1));
    }
    const QStringList lines = summary.table(QStringLiteral("j")).split(u'\n');
    for (const QString &expected : table)
        QVERIFY2(lines.contains(expected), qPrintable(lines.join(u'\n')));
    QCOMPARE(lines.value(lines.size() - 2), QStringLiteral("verdict: ") + verdict);
}

QTEST_MAIN(TestJournalSummary)
#include "tst_journalsummary.moc"
