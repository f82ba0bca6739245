// The journal reader on bad input, and the script lines it makes, read back by kestra-send's own
// script reader.

#include "JournalReader.h"
#include "JournalScript.h"
#include "ScriptReader.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kGood = "2026-12-07T16:38:25.565Z tcp out command 02 00 01 39 03 3b |...9.;|\n";

} // namespace

class TestJournalReader : public QObject
{
    Q_OBJECT
private slots:
    void badInputIsPlaced_data();
    void badInputIsPlaced();
    void scriptLineReadsBack_data();
    void scriptLineReadsBack();

private:
    QString write(const QByteArray &content);
    QTemporaryDir m_dir;
};

QString TestJournalReader::write(const QByteArray &content)
{
    const QString path = m_dir.filePath(QStringLiteral("journal.log"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(content);
    return path;
}

void TestJournalReader::badInputIsPlaced_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // after "FILE:"; empty: read to the end
    QTest::addColumn<int>("skipped");   // lenient reading

    QTest::newRow("sound") << kGood + kGood << "" << 0;
    QTest::newRow("times to the millisecond") << QByteArray("2026-12-07T16:38:25.001Z tcp -- close x\n2026-12-07T23:59:59.999Z tcp -- close x\n") << "" << 0;
    QTest::newRow("cut short") << kGood + kGood.left(40) << "2: the last line is cut short (no newline): the journal is truncated" << 1;
    QTest::newRow("not a journal") << QByteArray("hello\n") + kGood << "1: not a journal line: it does not begin with a time such as 2026-12-07T16:38:25.565Z" << 1;
    QTest::newRow("binary") << QByteArray("\x00\xff\x02\n", 4) << "1: not a journal line: it does not begin with a time such as 2026-12-07T16:38:25.565Z" << 1;
    QTest::newRow("month 13") << QByteArray("2026-13-07T16:38:25.565Z tcp -- close x\n") << "1: not a journal line: it does not begin with a time such as 2026-12-07T16:38:25.565Z" << 1;
    QTest::newRow("bad hex") << kGood + "2026-12-07T16:38:25.565Z tcp in ACK 0g |.|\n" << "2: damaged bytes: expected hexadecimal bytes and the same bytes between bars" << 1;
    QTest::newRow("text disagrees") << kGood + "2026-12-07T16:38:25.565Z tcp in response 02 00 01 20 03 22 |... .#|\n" << "2: damaged bytes: expected hexadecimal bytes and the same bytes between bars" << 1;
    QTest::newRow("ACK that is not") << QByteArray("2026-12-07T16:38:25.565Z tcp in ACK 15 |.|\n") + kGood << "1: an ACK or NAK line whose byte is not 06 or 15" << 1;
    QTest::newRow("command from the device") << QByteArray("2026-12-07T16:38:25.565Z tcp in command 06 |.|\n") << "1: a kind of bytes this journal reader does not know" << 1;
    QTest::newRow("unknown event") << kGood + "2026-12-07T16:38:25.565Z tcp -- reboot now\n" << "2: an event this journal reader does not know" << 1;
    QTest::newRow("no direction") << QByteArray("2026-12-07T16:38:25.565Z tcp\n") << "1: expected a session, in, out or -- after the link name" << 1;
    QTest::newRow("too long") << kGood + "2026-12-07T16:38:25.565Z tcp -- close " + QByteArray(LineSource::kMaxLine, 'x') + "\n" + kGood
                              << "2: a line longer than any journal line (1 MiB)" << 1;
}

void TestJournalReader::badInputIsPlaced()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QFETCH(int, skipped);
    const QString path = write(content);
    JournalLine line;
    QString openError;

    JournalReader strict(JournalReader::Mode::Strict);
    QVERIFY(strict.open(path, &openError));
    while (strict.next(&line)) // each time read in full, the milliseconds included
        QCOMPARE(line.msecs, QDateTime::fromString(QString::fromLatin1(line.time), Qt::ISODateWithMs).toMSecsSinceEpoch());
    QCOMPARE(strict.error(), error.isEmpty() ? QString() : path + u':' + error);

    JournalReader lenient(JournalReader::Mode::Lenient);
    QVERIFY(lenient.open(path, &openError));
    int read = 0;
    while (lenient.next(&line))
        ++read;
    QCOMPARE(lenient.skipped(), skipped);
    QCOMPARE(lenient.error(), QString());
    QCOMPARE(read, int(content.count('\n')) + (content.endsWith('\n') ? 0 : 1) - skipped);
}

void TestJournalReader::scriptLineReadsBack_data()
{
    QTest::addColumn<QByteArray>("event"); // the command event's text
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("parameter");

    QTest::newRow("no parameter") << QByteArray("code 22, time-out 30000 ms, DSR check on, parameter (none)")
                                  << QByteArray("code 22 --timeout 30000 --dsr") << QByteArray();
    QTest::newRow("text with a quote") << QByteArray("code 41, time-out 0 ms, DSR check off, parameter 31 2c 20 27 41 |1, 'A|")
                                       << QByteArray("code 41 --param \"1, 'A\" --timeout 0 --no-dsr") << QByteArray("1, 'A");
    QTest::newRow("bytes") << QByteArray("code 39, time-out 5000 ms, DSR check on, parameter 02 24 83 4a 0d 5c |.$.J.\\|")
                           << QByteArray("code 39 --bin '$02$24$83J$0D\\' --timeout 5000 --dsr")
                           << QByteArray("\x02$\x83J\r\\");
}

void TestJournalReader::scriptLineReadsBack()
{
    QFETCH(QByteArray, event);
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, parameter);
    Journal::CommandEvent command;
    QByteArray reason;
    QVERIFY2(Journal::parseCommandEvent(event, &command, &reason), reason.constData());
    QCOMPARE(scriptCommandLine(command), script);
    const CommandPlan plan = planScript(QString::fromLatin1(script), QStringLiteral("s"), {});
    QVERIFY2(plan.ok(), qPrintable(plan.error));
    QCOMPARE(plan.commands.value(0).parameter, parameter);
    QCOMPARE(plan.commands.value(0).timeoutMs, command.timeoutMs);
    QCOMPARE(plan.commands.value(0).dsr, command.dsr);
}

QTEST_MAIN(TestJournalReader)
#include "tst_journalreader.moc"
