#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

// The text of each event line (after "-- <event> "), made by the programs that write a journal
// and read back by the tools; docs/journal.md shows every one.
namespace Journal {

// "code 22, time-out 30000 ms, DSR check on, parameter 32 |2|"
struct CommandEvent
{
    quint8 code = 0;
    qint32 timeoutMs = 0;
    bool dsr = true;
    QByteArray parameter;
};
QString commandText(const CommandEvent &command);
bool parseCommandEvent(QByteArrayView text, CommandEvent *command, QByteArray *reason);

// "code 22, error 0 (meaning), status 20 (meaning), result 0, 63 ms, data 41 |A|, text "A""
// The status, data and text come only when a response came (error 0); the text only with data.
struct EndEvent
{
    quint8 code = 0;
    qint32 error = 0;
    QString errorMeaning;
    int status = -1; // -1 when no response came
    QString statusMeaning;
    int result = 0;
    qint64 elapsedMs = 0;
    QByteArray data;
};
QString endText(const EndEvent &end);
// Reads every part; the data's text is not read back (it follows from the data).
bool parseEndEvent(QByteArrayView text, EndEvent *end, QByteArray *reason);

// "code 31 (write 2/3): REASON" or, without the operation, "code 31: REASON": a command that was
// not sent because the data command before it did not complete.
QString skippedText(quint8 code, const QString &operation, const QString &reason);
bool parseSkippedEvent(QByteArrayView text, quint8 *code, QByteArrayView *reason);

// "code 22: the link is not open and started": nothing was sent.
QString refusedText(int code, const QString &reason);
// "send 2 of 3 after NAK"
QString resendText(int send, int maxSends);
QString settleText();
// "COM1 (/dev/ttyUSB0, 9600 bit/s) does not open: REASON (OpenLink result 1: MEANING); HINT"
QString openFailedText(const QString &what, const QString &reason, qint32 result, const QString &meaning,
                       const QString &hint);
// The reason alone, from an open-failed text.
QByteArrayView openFailureReason(QByteArrayView text);
// "127.0.0.1 port 10001: the device closed the connection"
QString lostText(const QString &what, const QString &reason);
QByteArrayView lossReason(QByteArrayView text);

// "\"ser2net 4.3.11\"": a device server's signature, quoted as a journal quotes text.
QString serverText(const QString &signature);
// "DSR on", "DSR off": the modem lines as a device server reports them.
QString modemText(bool dsrActive);

} // namespace Journal
