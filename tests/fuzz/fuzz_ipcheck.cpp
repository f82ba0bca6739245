// Arbitrary UTF-16 text in one address box: the entry check and the byte it stands for.
#include "FuzzCheck.h"
#include "IpEntryCheck.h"
#include "window/NumberReading.h"

#include <QString>

#include <cstdint>

namespace {

bool isAsciiDigits(const QString &text)
{
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return !text.isEmpty();
}

bool hasSurrogate(const QString &text)
{
    for (QChar c : text) {
        if (c.isSurrogate())
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(data),
                                            qsizetype(size / 2));
    const bool passes = octetEntryPasses(text);
    const quint8 value = octetValue(text);

    if (!passes) {
        FUZZ_CHECK(value == 0);
    } else {
        // A passing box holds one to three characters whose reading lies from 0 to 255, and its
        // byte is that reading rounded half to even.
        FUZZ_CHECK(!text.isEmpty() && text.size() <= 6);
        const LeadingNumber number = readLeadingNumber(text);
        FUZZ_CHECK(number.representable && number.value >= 0.0 && number.value <= 255.0);
        FUZZ_CHECK(double(value) == roundHalfEven(number.value));
    }
    if (text.isEmpty() || (!hasSurrogate(text) && text.size() > 3))
        FUZZ_CHECK(!passes);

    // Plain digits: the familiar rule.
    if (isAsciiDigits(text) && text.size() <= 3) {
        const int plain = text.toInt();
        FUZZ_CHECK(passes == (plain <= 255));
        if (passes)
            FUZZ_CHECK(value == plain);
    }
    return 0;
}
