#include "window/NumberReading.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace {

bool isSkipped(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Walks the text's characters with blanks, tabs and line feeds left out.
class Cursor
{
public:
    explicit Cursor(QStringView text) : m_text(text) { skip(); }
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text[m_pos]; }
    void next()
    {
        ++m_pos;
        skip();
    }

private:
    void skip()
    {
        while (m_pos < m_text.size() && isSkipped(m_text[m_pos]))
            ++m_pos;
    }
    QStringView m_text;
    qsizetype m_pos = 0;
};

LeadingNumber readHex(Cursor &cursor)
{
    quint64 value = 0;
    int significant = 0;
    for (int digit = hexDigitValue(cursor.peek()); digit >= 0; digit = hexDigitValue(cursor.peek())) {
        if (significant > 0 || digit != 0)
            ++significant;
        if (significant > 8)
            return {0.0, false};
        value = (value << 4) | quint64(digit);
        cursor.next();
    }
    // Eight digits are a 32-bit two's-complement pattern: FFFFFFFF is -1.
    return {double(qint32(quint32(value))), true};
}

// For a number that is out of a double's range: true when it is too large rather than too small.
// The exponent's sign alone does not tell ("1000...0E-1" is huge, "0.000...01" is tiny): the
// place of the first significant digit plus the exponent does.
bool isHuge(const std::string &number)
{
    const std::size_t e = number.find('e');
    const std::string_view mantissa = std::string_view(number).substr(0, e);
    qint64 digitsBeforePoint = 0;
    qint64 digitsSeen = 0;
    qint64 firstSignificant = -1;
    bool point = false;
    for (char c : mantissa) {
        if (c == '.') {
            point = true;
        } else if (c >= '0' && c <= '9') {
            if (firstSignificant < 0 && c != '0')
                firstSignificant = digitsSeen;
            ++digitsSeen;
            if (!point)
                ++digitsBeforePoint;
        }
    }
    if (firstSignificant < 0)
        return false; // zero
    qint64 exponent = 0;
    if (e != std::string::npos) {
        const std::string_view digits = std::string_view(number).substr(e + 1);
        const bool negative = !digits.empty() && digits.front() == '-';
        for (char c : digits) {
            if (c >= '0' && c <= '9')
                exponent = qMin<qint64>(exponent * 10 + (c - '0'), qint64(1) << 40);
        }
        if (negative)
            exponent = -exponent;
    }
    // The value lies between 10^(magnitude - 1) and 10^magnitude.
    const qint64 magnitude = digitsBeforePoint - firstSignificant + exponent;
    return magnitude > 0;
}

LeadingNumber readDecimal(Cursor &cursor)
{
    std::string number;
    if (cursor.peek() == u'+' || cursor.peek() == u'-') {
        if (cursor.peek() == u'-')
            number += '-';
        cursor.next();
    }
    bool anyDigit = false;
    bool point = false;
    while (!cursor.atEnd()) {
        const QChar c = cursor.peek();
        if (isDigit(c)) {
            number += char(c.unicode());
            anyDigit = true;
        } else if (c == u'.' && !point) {
            number += '.';
            point = true;
        } else {
            break;
        }
        cursor.next();
    }
    if (!anyDigit)
        return {};
    if (cursor.peek() == u'E' || cursor.peek() == u'e') {
        cursor.next();
        std::string exponent = "e";
        if (cursor.peek() == u'+' || cursor.peek() == u'-') {
            exponent += char(cursor.peek().unicode());
            cursor.next();
        }
        bool exponentDigit = false;
        while (isDigit(cursor.peek())) {
            exponent += char(cursor.peek().unicode());
            exponentDigit = true;
            cursor.next();
        }
        if (exponentDigit)
            number += exponent;
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow cannot be represented.
        return {0.0, !isHuge(number)};
    }
    if (result.ec != std::errc() || !std::isfinite(value))
        return {0.0, false};
    return {value, true};
}

} // namespace


LeadingNumber readLeadingNumber(QStringView text)
{
    Cursor cursor(text);
    if (cursor.peek() == u'&') {
        cursor.next();
        if (cursor.peek() == u'H' || cursor.peek() == u'h') {
            cursor.next();
            return readHex(cursor);
        }
        return {};
    }
    return readDecimal(cursor);
}

double roundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction < 0.5)
        return floor;
    if (fraction > 0.5)
        return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::optional<qint32> nearestInt32(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < double(std::numeric_limits<qint32>::min())
        || rounded > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(rounded);
}

std::optional<qint32> readInt32(QStringView text)
{
    const LeadingNumber number = readLeadingNumber(text);
    if (!number.representable)
        return std::nullopt;
    return nearestInt32(number.value);
}
