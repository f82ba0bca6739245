// Card data out of journal lines, and kestra-send writing its journal redacted against the emulator.

#include "JournalEvents.h"
#include "JournalLine.h"
#include "JournalRedaction.h"
#include "protocol/Frame.h"
#include "TestHelpers.h"

#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

using Journal::Kind;

QByteArray line(Kind kind, const QByteArray &bytes, const QByteArray &session = "s4242.1")
{
    const Journal::Direction in = kind == Kind::CommandFrame ? Journal::Direction::Out : Journal::Direction::In;
    return Journal::bytesLine("2026-12-07T16:38:25.565Z", "tcp", session, in, kind, bytes);
}

QByteArray line(Kind kind, const QString &text)
{
    return Journal::eventLine("2026-12-07T16:38:25.565Z", "tcp", "s4242.1", kind, text.toUtf8());
}

QByteArray endLine(const QByteArray &data)
{
    return line(Kind::End,
                Journal::endText({0x22, 0, "a response was received", 0x20, "normal completion", 0, 63, data}));
}

QByteArray with(QByteArray frame, qsizetype at, char value)
{
    frame[at] = value;
    return frame;
}

} // namespace

class TestJournalRedaction : public QObject
{
    Q_OBJECT
private slots:
    void redactLine_data();
    void redactLine();
    void sendWritesItRedacted();
};

void TestJournalRedaction::redactLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("redacted");
    QTest::addColumn<QByteArray>("secret"); // gone, as text and as hex
    const QByteArray sound = encodeFrame(" AB"), left = encodeFrame("XXX");
    const auto row = [](const char *name, const QByteArray &line, const QByteArray &redacted, const QByteArray &gone) {
        QTest::newRow(name) << line << redacted << gone;
    };
    row("command frame, no session", line(Kind::CommandFrame, encodeFrame("\x39%AB12?"), {}),
        line(Kind::CommandFrame, encodeFrame("\x39%XXXX?"), {}), "AB12");
    row("command event", line(Kind::Command, Journal::commandText({0x39, 0, true, "%AB12?"})),
        line(Kind::Command, Journal::commandText({0x39, 0, true, "%XXXX?"})), "AB12");
    row("track data: sentinels stay, BCC right", line(Kind::Response, encodeFrame(" %B1234^NAME^99?;1234=99?")),
        line(Kind::Response, encodeFrame(" %XXXXX^XXXX^XX?;XXXX=XX?")), "1234");
    row("BCC stays wrong by as much", line(Kind::BadFrame, with(sound, 7, char(sound[7] ^ 0x5a))),
        line(Kind::BadFrame, with(left, 7, char(left[7] ^ 0x5a))), "AB");
    row("wrong ETX stays", line(Kind::BadFrame, with(sound, 6, 'Z')), line(Kind::BadFrame, with(left, 6, 'Z')), "AB");
    row("stray bytes with STX inside", line(Kind::Stray, QByteArray("AB\x02" "C%\x03\xff")),
        line(Kind::Stray, QByteArray("XX\x02X%\x03X")), "AB");
    row("end: data and text", endLine("%B1234^NAME?"), endLine("%XXXXX^XXXX?"), "NAME");
    // One CP932 character is two bytes of data: two characters of text.
    row("end: CP932 data", endLine("\x83\x4a?"), endLine("XX?"), "\x83\x4a");
    row("end that does not read", line(Kind::End, QStringLiteral("code 22, data 4321")),
        line(Kind::End, QStringLiteral("XXXXXXXXXXXXXXXXXX")), "4321");
    row("ACK", line(Kind::Ack, QByteArray("\x06")), line(Kind::Ack, QByteArray("\x06")), {});
    const QByteArray open = line(Kind::Open, QStringLiteral("127.0.0.1 port 1"));
    row("open", open, open, {});
}

void TestJournalRedaction::redactLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, redacted);
    QFETCH(QByteArray, secret);
    const QByteArray out = Journal::redactLine(line);
    QCOMPARE(out, redacted);
    QCOMPARE(Journal::redactLine(out), out);
    QVERIFY2(secret.isEmpty() || (!out.contains(secret) && !out.contains(secret.toHex(' '))), out);
}

// No stripe data in the journal, and its frames still sound; alone, the option is a usage error.
void TestJournalRedaction::sendWritesItRedacted()
{
    EmulatorProcess emu({false, {"--time-scale", "0", "--reinsert-ms", "0"}});
    QVERIFY2(emu.start(), qPrintable(emu.errorText()));
    const QString path = emu.directory() + "/journal.log";
    const QStringList link{"--tcp", QStringLiteral("127.0.0.1:%1").arg(emu.tcpPort())};
    QProcess send;
    send.start(qEnvironmentVariable("KESTRA_SEND"), link + QStringList{"--journal-redact", "read"});
    QVERIFY(send.waitForFinished(60000));
    QCOMPARE(send.exitCode(), 2);
    send.start(qEnvironmentVariable("KESTRA_SEND"),
               link + QStringList{"--journal", path, "--journal-redact", "write", "%ABC123?", "read"});
    QVERIFY(send.waitForFinished(60000));
    QVERIFY2(send.exitCode() == 0 && send.readAllStandardOutput().contains("%ABC123?"), send.readAllStandardError());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray journal = file.readAll();
    QVERIFY2(!journal.contains("ABC") && !journal.contains("41 42 43") && !journal.contains("31 32 33"), journal);
    QVERIFY2(journal.contains("data 25 58 58 58 58 58 58 3f |%XXXXXX?|, text \"%XXXXXX?\""), journal);
    for (const QByteArray &text : journal.trimmed().split('\n')) {
        JournalLine parsed;
        QByteArray bytes;
        QVERIFY2(parseJournalLine(text, &parsed, &bytes, nullptr), text);
        if (parsed.kind == Kind::CommandFrame || parsed.kind == Kind::Response) {
            const QList<FrameReader::Item> items = FrameReader().feed(bytes);
            QVERIFY2(items.size() == 1 && items[0].kind == FrameReader::Kind::Frame, text);
        }
    }
}

QTEST_GUILESS_MAIN(TestJournalRedaction)
#include "tst_journalredaction.moc"
