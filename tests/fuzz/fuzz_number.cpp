// Arbitrary UTF-16 text (lone surrogates, NULs and all) read as an operator's number.
#include "FuzzCheck.h"
#include "window/NumberReading.h"

#include <QString>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool isSkipped(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

int hexValue(char16_t c)
{
    if (isDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The reading rules applied the long way round: blanks removed first, then the grammar, then the
// C library's own conversion. Independent of the code under test.
LeadingNumber reference(const QString &text)
{
    std::u16string t;
    for (QChar c : text) {
        if (!isSkipped(c.unicode()))
            t += c.unicode();
    }
    std::size_t i = 0;
    if (i < t.size() && t[i] == u'&') {
        ++i;
        if (i >= t.size() || (t[i] != u'H' && t[i] != u'h'))
            return {};
        ++i;
        while (i < t.size() && t[i] == u'0')
            ++i;
        std::uint32_t pattern = 0;
        int digits = 0;
        for (; i < t.size() && hexValue(t[i]) >= 0; ++i) {
            if (++digits > 8)
                return {0.0, false};
            pattern = (pattern << 4) | std::uint32_t(hexValue(t[i]));
        }
        return {double(std::int32_t(pattern)), true};
    }
    std::string number;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        number += char(t[i++]);
    bool anyDigit = false;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (isDigit(t[i])) {
            anyDigit = true;
        } else if (t[i] == u'.' && !point) {
            point = true;
        } else {
            break;
        }
        number += char(t[i]);
    }
    if (!anyDigit)
        return {};
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        std::string exponent = "e";
        ++i;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
            exponent += char(t[i++]);
        bool exponentDigit = false;
        for (; i < t.size() && isDigit(t[i]); ++i) {
            exponent += char(t[i]);
            exponentDigit = true;
        }
        if (exponentDigit)
            number += exponent;
    }
    errno = 0;
    const double value = std::strtod(number.c_str(), nullptr);
    if (std::isinf(value))
        return {0.0, false};
    if (errno == ERANGE && std::fabs(value) < DBL_MIN)
        return {0.0, true}; // too small to tell from zero
    return {value, true};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(data),
                                            qsizetype(size / 2));
    const LeadingNumber number = readLeadingNumber(text);
    const std::optional<qint32> int32 = readInt32(text);

    if (number.representable) {
        FUZZ_CHECK(std::isfinite(number.value));
        FUZZ_CHECK(int32 == nearestInt32(number.value));
    } else {
        FUZZ_CHECK(!int32.has_value());
    }

    const LeadingNumber expected = reference(text);
    FUZZ_CHECK(number.representable == expected.representable);
    // Below the smallest normal double the two conversions may differ (a subnormal or zero);
    // both round to 0 for any use here.
    FUZZ_CHECK(number.value == expected.value
               || (std::fabs(number.value) < DBL_MIN && std::fabs(expected.value) < DBL_MIN));

    // Nearest integer: within one half, halves to the even neighbour.
    if (number.representable) {
        const double rounded = roundHalfEven(number.value);
        const double distance = std::fabs(rounded - number.value);
        FUZZ_CHECK(rounded == std::floor(rounded));
        FUZZ_CHECK(distance <= 0.5);
        if (distance == 0.5)
            FUZZ_CHECK(std::fmod(rounded, 2.0) == 0.0);
        if (int32)
            FUZZ_CHECK(double(*int32) == rounded);
        else
            FUZZ_CHECK(rounded < -2147483648.0 || rounded > 2147483647.0);
    }
    return 0;
}
