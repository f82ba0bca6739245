#include "IpEntryCheck.h"

#include "window/NumberReading.h"

namespace {

qsizetype characterCount(QStringView text)
{
    // Characters as the operator sees them: a surrogate pair is one character.
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++count;
    }
    return count;
}

} // namespace

bool octetEntryPasses(QStringView text)
{
    if (text.isEmpty() || characterCount(text) > 3)
        return false;
    const LeadingNumber number = readLeadingNumber(text);
    if (!number.representable)
        return false;
    return number.value >= 0.0 && number.value <= 255.0;
}

quint8 octetValue(QStringView text)
{
    if (!octetEntryPasses(text))
        return 0;
    return quint8(roundHalfEven(readLeadingNumber(text).value));
}
