#include "JournalEvents.h"

#include "JournalFormat.h"
#include "protocol/HexDigit.h"

namespace Journal {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    return hexDigitValue(char16_t(uchar(c)));
}

QString hex2(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0'));
}

bool takePrefix(QByteArrayView &text, QByteArrayView prefix)
{
    if (!text.startsWith(prefix))
        return false;
    text = text.sliced(prefix.size());
    return true;
}

// A decimal number, optionally negative; at least one digit and no more than 18.
bool takeNumber(QByteArrayView &text, qint64 *value)
{
    const bool negative = text.startsWith('-');
    qsizetype i = negative ? 1 : 0;
    qint64 number = 0;
    const qsizetype first = i;
    while (i < text.size() && isDigit(text[i]) && i - first < 18)
        number = number * 10 + (text[i++] - '0');
    if (i == first || (i < text.size() && isDigit(text[i])))
        return false;
    *value = negative ? -number : number;
    text = text.sliced(i);
    return true;
}

// Two hexadecimal digits, or one where the writer left out a leading zero ("code 5: ...").
bool takeHexByte(QByteArrayView &text, quint8 *value, bool onePlease = false)
{
    if (text.size() >= 2 && hexValue(text[0]) >= 0 && hexValue(text[1]) >= 0) {
        *value = quint8(hexValue(text[0]) * 16 + hexValue(text[1]));
        text = text.sliced(2);
        return true;
    }
    if (onePlease && !text.isEmpty() && hexValue(text[0]) >= 0) {
        *value = quint8(hexValue(text[0]));
        text = text.sliced(1);
        return true;
    }
    return false;
}

// "(meaning)" whose parentheses may nest; the view moves past it.
bool takeMeaning(QByteArrayView &text, QString *meaning)
{
    if (!text.startsWith('('))
        return false;
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '(')
            ++depth;
        else if (text[i] == ')' && --depth == 0) {
            *meaning = QString::fromUtf8(text.sliced(1, i - 1));
            text = text.sliced(i + 1);
            return true;
        }
    }
    return false;
}

bool fail(QByteArray *reason, const char *text)
{
    if (reason)
        *reason = text;
    return false;
}

} // namespace

QString commandText(const CommandEvent &command)
{
    return QStringLiteral("code %1, time-out %2 ms, DSR check %3, parameter %4")
        .arg(hex2(command.code))
        .arg(command.timeoutMs)
        .arg(command.dsr ? QStringLiteral("on") : QStringLiteral("off"),
             QString::fromLatin1(bytesOrNone(command.parameter)));
}

bool parseCommandEvent(QByteArrayView text, CommandEvent *command, QByteArray *reason)
{
    QByteArrayView rest = text;
    qint64 timeout = 0;
    if (!takePrefix(rest, "code ") || !takeHexByte(rest, &command->code))
        return fail(reason, "a command event without its code");
    if (!takePrefix(rest, ", time-out ") || !takeNumber(rest, &timeout) || timeout < 0 || timeout > 0x7FFFFFFF
        || !takePrefix(rest, " ms, DSR check "))
        return fail(reason, "a command event without its time-out");
    command->timeoutMs = qint32(timeout);
    if (takePrefix(rest, "on"))
        command->dsr = true;
    else if (takePrefix(rest, "off"))
        command->dsr = false;
    else
        return fail(reason, "a command event without its DSR check (on or off)");
    if (!takePrefix(rest, ", parameter ") || !decodeHexAndText(rest, &command->parameter))
        return fail(reason, "a command event whose parameter is damaged");
    return true;
}

QString endText(const EndEvent &end)
{
    QString text = QStringLiteral("code %1, error %2 (%3)").arg(hex2(end.code)).arg(end.error).arg(end.errorMeaning);
    if (end.status >= 0)
        text += QStringLiteral(", status %1 (%2)").arg(hex2(end.status), end.statusMeaning);
    text += QStringLiteral(", result %1, %2 ms").arg(end.result).arg(end.elapsedMs);
    if (end.status >= 0) {
        text += QStringLiteral(", data ") + QString::fromLatin1(bytesOrNone(end.data));
        if (!end.data.isEmpty())
            text += QStringLiteral(", text ") + quotedDeviceText(end.data);
    }
    return text;
}

bool parseEndEvent(QByteArrayView text, EndEvent *end, QByteArray *reason)
{
    QByteArrayView rest = text;
    qint64 number = 0;
    if (!takePrefix(rest, "code ") || !takeHexByte(rest, &end->code))
        return fail(reason, "an end event without its code");
    if (!takePrefix(rest, ", error ") || !takeNumber(rest, &number) || number < -0x80000000LL || number > 0x7FFFFFFF
        || !takePrefix(rest, " ") || !takeMeaning(rest, &end->errorMeaning))
        return fail(reason, "an end event without its error and meaning");
    end->error = qint32(number);
    end->status = -1;
    end->statusMeaning.clear();
    end->data.clear();
    if (takePrefix(rest, ", status ")) {
        quint8 status = 0;
        if (!takeHexByte(rest, &status) || !takePrefix(rest, " ") || !takeMeaning(rest, &end->statusMeaning))
            return fail(reason, "an end event whose status is damaged");
        end->status = status;
    }
    if (!takePrefix(rest, ", result ") || !takeNumber(rest, &number) || number < -1 || number > 1)
        return fail(reason, "an end event without its result (0, 1 or -1)");
    end->result = int(number);
    if (!takePrefix(rest, ", ") || !takeNumber(rest, &end->elapsedMs) || end->elapsedMs < 0
        || !takePrefix(rest, " ms"))
        return fail(reason, "an end event without its time in ms");
    if (rest.isEmpty())
        return true;
    if (!takePrefix(rest, ", data "))
        return fail(reason, "an end event with something unexpected after its time");
    // The data runs to its closing bar (or is "(none)"); the text, if any, follows.
    qsizetype size = rest.size();
    if (rest.startsWith("(none)")) {
        size = 6;
    } else {
        const qsizetype bar = rest.indexOf('|');
        const qsizetype count = bar / 3;
        size = bar < 0 ? -1 : 4 * count + 2;
    }
    if (size < 0 || size > rest.size() || !decodeHexAndText(rest.first(size), &end->data))
        return fail(reason, "an end event whose data is damaged");
    rest = rest.sliced(size);
    if (!rest.isEmpty() && !rest.startsWith(", text \""))
        return fail(reason, "an end event with something unexpected after its data");
    return true;
}

QString skippedText(quint8 code, const QString &operation, const QString &reason)
{
    return operation.isEmpty() ? QStringLiteral("code %1: %2").arg(hex2(code), reason)
                               : QStringLiteral("code %1 (%2): %3").arg(hex2(code), operation, reason);
}

bool parseSkippedEvent(QByteArrayView text, quint8 *code, QByteArrayView *reason)
{
    QByteArrayView rest = text;
    if (!takePrefix(rest, "code ") || !takeHexByte(rest, code, true))
        return false;
    if (rest.startsWith(" (")) {
        const qsizetype close = rest.indexOf("): ");
        if (close < 0)
            return false;
        rest = rest.sliced(close + 1);
    }
    if (!takePrefix(rest, ": "))
        return false;
    *reason = rest;
    return true;
}

QString refusedText(int code, const QString &reason)
{
    return QStringLiteral("code %1: %2").arg(QString::number(code, 16), reason);
}

QString resendText(int send, int maxSends)
{
    return QStringLiteral("send %1 of %2 after NAK").arg(send).arg(maxSends);
}

QString settleText()
{
    return QStringLiteral("the frame waits for the line to fall quiet after the command before was given up");
}

QString openFailedText(const QString &what, const QString &reason, qint32 result, const QString &meaning,
                       const QString &hint)
{
    return QStringLiteral("%1 does not open: %2 (OpenLink result %3: %4)%5")
        .arg(what, reason, QString::number(result), meaning, hint.isEmpty() ? QString() : QStringLiteral("; ") + hint);
}

QByteArrayView openFailureReason(QByteArrayView text)
{
    const qsizetype at = text.indexOf("does not open: ");
    const QByteArrayView reason = at < 0 ? text : text.sliced(at + 15);
    const qsizetype hint = reason.indexOf(" (OpenLink");
    return hint < 0 ? reason : reason.first(hint);
}

QString lostText(const QString &what, const QString &reason)
{
    return QStringLiteral("%1: %2").arg(what, reason);
}

QByteArrayView lossReason(QByteArrayView text)
{
    const qsizetype at = text.indexOf(": ");
    return at < 0 ? text : text.sliced(at + 2);
}

QString serverText(const QString &signature)
{
    return quoted(signature);
}

QString modemText(bool dsrActive)
{
    return dsrActive ? QStringLiteral("DSR on") : QStringLiteral("DSR off");
}

} // namespace Journal
