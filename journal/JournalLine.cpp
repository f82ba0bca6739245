#include "JournalLine.h"

#include <array>
#include <cstring>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The journal's hexadecimal digits (lower case, as it writes them); -1 for anything else.
constexpr std::array<int, 256> kHexValue = [] {
    std::array<int, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = i >= '0' && i <= '9' ? i - '0' : i >= 'a' && i <= 'f' ? i - 'a' + 10 : -1;
    return table;
}();

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int digits(const char *p, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (p[i] - '0');
    return value;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
qint64 daysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = int(year - era * 400);
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// "2026-12-07T16:38:25.565Z"
bool parseTime(QByteArrayView text, qint64 *msecs)
{
    if (text.size() != 24)
        return false;
    const char *p = text.data();
    if (p[4] != '-' || p[7] != '-' || p[10] != 'T' || p[13] != ':' || p[16] != ':' || p[19] != '.' || p[23] != 'Z')
        return false;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 20, 21, 22}) {
        if (!isDigit(p[i]))
            return false;
    }
    const int month = digits(p + 5, 2);
    const int day = digits(p + 8, 2);
    const int hour = digits(p + 11, 2);
    const int minute = digits(p + 14, 2);
    const int second = digits(p + 17, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    const qint64 days = daysFromCivil(digits(p, 4), month, day);
    *msecs = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + digits(p + 20, 3);
    return true;
}

// The next word up to a blank; the view moves past the blank.
QByteArrayView nextWord(QByteArrayView &text)
{
    if (text.isEmpty())
        return {};
    const char *blank = static_cast<const char *>(std::memchr(text.data(), ' ', size_t(text.size())));
    if (!blank) {
        const QByteArrayView word = text;
        text = QByteArrayView();
        return word;
    }
    const QByteArrayView word(text.data(), blank - text.data());
    text = QByteArrayView(blank + 1, text.size() - word.size() - 1);
    return word;
}

bool knownBytesKind(JournalLine::Direction direction, QByteArrayView kind)
{
    if (kind == "ACK" || kind == "NAK")
        return true;
    if (direction == JournalLine::Direction::Out)
        return kind == "command";
    return kind == "response" || kind == "late-frame" || kind == "bad-frame" || kind == "stray"
           || kind == "dropped";
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

bool takeHexByte(QByteArrayView &text, quint8 *value)
{
    if (text.size() < 2 || hexValue(text[0]) < 0 || hexValue(text[1]) < 0)
        return false;
    *value = quint8(hexValue(text[0]) * 16 + hexValue(text[1]));
    text = text.sliced(2);
    return true;
}

// "(meaning)" whose parentheses may nest; the view moves past it.
bool takeMeaning(QByteArrayView &text, QByteArrayView *meaning)
{
    if (!text.startsWith('('))
        return false;
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '(')
            ++depth;
        else if (text[i] == ')' && --depth == 0) {
            *meaning = text.sliced(1, i - 1);
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

bool decodeHexAndText(QByteArrayView text, QByteArray *bytes)
{
    bytes->resize(0);
    if (text == "(none)")
        return true;
    // "hh hh ... hh |ppp...p|": n pairs of hex digits with a blank after each (3n characters),
    // then the n printable characters between bars. The hex part holds no bar, so the first bar
    // gives n; the whole is then checked in one pass, writing the bytes straight into place.
    if (text.isEmpty())
        return false;
    const char *p = text.data();
    const qsizetype size = text.size();
    const char *bar = static_cast<const char *>(std::memchr(p, '|', size_t(size)));
    if (!bar)
        return false;
    const qsizetype hexLength = bar - p;
    const qsizetype count = hexLength / 3;
    if (count == 0 || hexLength % 3 != 0 || size != 4 * count + 2 || p[size - 1] != '|')
        return false;
    bytes->resize(count);
    char *out = bytes->data();
    const char *printable = bar + 1;
    for (qsizetype k = 0; k < count; ++k) {
        const int high = kHexValue[uchar(p[3 * k])];
        const int low = kHexValue[uchar(p[3 * k + 1])];
        if ((high | low) < 0 || p[3 * k + 2] != ' ')
            return false;
        const char c = char(high * 16 + low);
        if (printable[k] != ((c >= 0x20 && c < 0x7F) ? c : '.'))
            return false;
        out[k] = c;
    }
    return true;
}

bool isKnownEvent(QByteArrayView kind)
{
    static constexpr std::array kEvents{"open", "open-failed", "close", "lost", "command",
                                        "resend", "settle", "refused", "end"};
    for (const char *known : kEvents) {
        if (kind == known)
            return true;
    }
    return false;
}

bool parseJournalLine(QByteArrayView text, JournalLine *line, QByteArray *bytes, QByteArray *reason)
{
    QByteArrayView rest = text;
    line->time = nextWord(rest);
    if (!parseTime(line->time, &line->msecs))
        return fail(reason, "not a journal line: it does not begin with a time such as 2026-12-07T16:38:25.565Z");
    line->link = nextWord(rest);
    if (line->link.isEmpty())
        return fail(reason, "no link name after the time");
    const QByteArrayView direction = nextWord(rest);
    if (direction == "in")
        line->direction = JournalLine::Direction::In;
    else if (direction == "out")
        line->direction = JournalLine::Direction::Out;
    else if (direction == "--")
        line->direction = JournalLine::Direction::Event;
    else
        return fail(reason, "expected in, out or -- after the link name");
    line->kind = nextWord(rest);
    line->rest = rest;
    if (!line->isBytes()) {
        if (!isKnownEvent(line->kind))
            return fail(reason, "an event this journal reader does not know");
        return true;
    }
    if (!knownBytesKind(line->direction, line->kind))
        return fail(reason, "a kind of bytes this journal reader does not know");
    if (!decodeHexAndText(rest, bytes) || bytes->isEmpty())
        return fail(reason, "damaged bytes: expected hexadecimal bytes and the same bytes between bars");
    if ((line->kind == "ACK" || line->kind == "NAK")
        && (bytes->size() != 1 || bytes->at(0) != (line->kind == "ACK" ? '\x06' : '\x15')))
        return fail(reason, "an ACK or NAK line whose byte is not 06 or 15");
    return true;
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

bool parseEndEvent(QByteArrayView text, EndEvent *end, QByteArray *reason)
{
    QByteArrayView rest = text;
    qint64 number = 0;
    if (!takePrefix(rest, "code ") || !takeHexByte(rest, &end->code))
        return fail(reason, "an end event without its code");
    if (!takePrefix(rest, ", error ") || !takeNumber(rest, &number) || !takePrefix(rest, " ")
        || !takeMeaning(rest, &end->errorMeaning))
        return fail(reason, "an end event without its error and meaning");
    end->error = qint32(number);
    end->status = -1;
    end->statusMeaning = {};
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
    if (!rest.isEmpty() && !rest.startsWith(", data "))
        return fail(reason, "an end event with something unexpected after its time");
    return true;
}
