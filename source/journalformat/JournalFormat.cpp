#include "JournalFormat.h"

#include "protocol/DeviceText.h"
#include "protocol/HexDigit.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace Journal {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int digits(const char *p, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (p[i] - '0');
    return value;
}

// The journal's hexadecimal digits (lower case only, as it writes them), as a table: this runs for
// every byte of every line a tool reads.
constexpr std::array<int, 256> kHexValue = [] {
    std::array<int, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = i >= 'A' && i <= 'F' ? -1 : hexDigitValue(char16_t(i));
    return table;
}();

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

char printable(char c)
{
    return (c >= 0x20 && c < 0x7F) ? c : '.';
}

} // namespace

const KindInfo &info(Kind kind)
{
    return kKinds[size_t(kind)];
}

static_assert([] {
    for (size_t i = 0; i < kKinds.size(); ++i) {
        if (size_t(kKinds[i].kind) != i)
            return false;
    }
    return true;
}(), "kKinds lists the kinds in the order of their enumeration");

std::optional<Kind> kindOf(Direction direction, QByteArrayView word)
{
    for (const KindInfo &kind : kKinds) {
        const bool fits = direction == Direction::Event ? !kind.isBytes()
                          : direction == Direction::In  ? kind.in
                                                        : kind.out;
        if (fits && word == kind.word)
            return kind.kind;
    }
    return std::nullopt;
}

QByteArray formatTime(qint64 msecs)
{
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    const time_t whole = time_t(seconds);
    tm utc{};
    gmtime_r(&whole, &utc);
    char text[40];
    const int size = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                                   utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                                   int(msecs - seconds * 1000));
    return QByteArray(text, size);
}

QByteArray currentTime()
{
    // The C library's clock: several times cheaper than a QDateTime, and this runs for every step
    // of every command.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return formatTime(qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

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

QByteArray serialLinkName(int port)
{
    return "com" + QByteArray::number(port);
}

bool isSerialLinkName(QByteArrayView name)
{
    return name == kDeviceLink || (name.size() == 4 && name.startsWith("com") && name[3] >= '1' && name[3] <= '9');
}

bool isKnownLinkName(QByteArrayView name)
{
    return name == kTcpLink || name == kNoLink || isSerialLinkName(name);
}

QByteArray sessionToken(qint64 processId, int link)
{
    return 's' + QByteArray::number(processId) + '.' + QByteArray::number(link);
}

bool isSessionToken(QByteArrayView word)
{
    // s<digits>.<digits>
    if (word.size() < 4 || word.size() > 32 || word[0] != 's')
        return false;
    const qsizetype dot = word.indexOf('.');
    if (dot < 2 || dot == word.size() - 1)
        return false;
    for (qsizetype i = 1; i < word.size(); ++i) {
        if (i != dot && !isDigit(word[i]))
            return false;
    }
    return true;
}

QByteArray hexAndText(QByteArrayView bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    QByteArray text(bytes.size() * 4 + 2, Qt::Uninitialized);
    char *out = text.data();
    for (char c : bytes) {
        *out++ = kHex[(uchar(c) >> 4) & 0xF];
        *out++ = kHex[uchar(c) & 0xF];
        *out++ = ' ';
    }
    *out++ = '|';
    for (char c : bytes)
        *out++ = printable(c);
    *out = '|';
    return text;
}

QByteArray bytesOrNone(QByteArrayView bytes)
{
    return bytes.isEmpty() ? QByteArray("(none)") : hexAndText(bytes);
}

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
    const char *shown = bar + 1;
    for (qsizetype k = 0; k < count; ++k) {
        const int high = kHexValue[uchar(p[3 * k])];
        const int low = kHexValue[uchar(p[3 * k + 1])];
        if ((high | low) < 0 || p[3 * k + 2] != ' ')
            return false;
        const char c = char(high * 16 + low);
        if (shown[k] != printable(c))
            return false;
        out[k] = c;
    }
    return true;
}

QString quoted(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text)
        appendEscapedChar(out, c);
    out += QLatin1Char('"');
    return out;
}

QString quotedDeviceText(const QByteArray &bytes)
{
    return QLatin1Char('"') + escapedDeviceText(bytes) + QLatin1Char('"');
}

namespace {

QByteArray lineStart(QByteArrayView time, QByteArrayView link, QByteArrayView session, qsizetype more)
{
    QByteArray line;
    line.reserve(time.size() + link.size() + session.size() + more + 16);
    line.append(time).append(' ').append(link).append(' ');
    if (!session.isEmpty())
        line.append(session).append(' ');
    return line;
}

} // namespace

QByteArray bytesLine(QByteArrayView time, QByteArrayView link, QByteArrayView session, Direction direction,
                     Kind kind, QByteArrayView bytes)
{
    QByteArray line = lineStart(time, link, session, bytes.size() * 4 + 16);
    line.append(direction == Direction::In ? "in " : "out ").append(word(kind)).append(' ');
    line.append(hexAndText(bytes));
    return line;
}

QByteArray eventLine(QByteArrayView time, QByteArrayView link, QByteArrayView session, Kind kind, QByteArrayView text)
{
    QByteArray line = lineStart(time, link, session, text.size() + 16);
    line.append("-- ").append(word(kind)).append(' ').append(text);
    return line;
}

} // namespace Journal
