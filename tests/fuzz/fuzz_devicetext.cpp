// Device text in both directions: arbitrary bytes from the device shown as text, and arbitrary
// UTF-16 typed by the operator encoded for the device.
//
// Input layout: the first byte chooses the direction (even: decode, odd: encode); the rest is
// the payload.
#include "protocol/DeviceText.h"
#include "FuzzCheck.h"

#include <QString>

#include <cstdint>

namespace {

// Characters typed in their JIS form go out as the CP932 form's bytes and so read back as that
// form; every other encodable character reads back as itself.
QString asReadBack(const QString &typed)
{
    QString text = typed;
    for (QChar &c : text) {
        switch (c.unicode()) {
        case 0x301C: c = QChar(0xFF5E); break;
        case 0x2016: c = QChar(0x2225); break;
        case 0x2212: c = QChar(0xFF0D); break;
        case 0x00A2: c = QChar(0xFFE0); break;
        case 0x00A3: c = QChar(0xFFE1); break;
        case 0x00AC: c = QChar(0xFFE2); break;
        case 0x2014: c = QChar(0x2015); break;
        case 0x00A5: c = QChar(u'\\'); break;
        case 0x203E: c = QChar(u'~'); break;
        default: break;
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char *payload = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);

    if ((data[0] & 1) == 0) {
        const QByteArray bytes(payload, length);
        const QString shown = decodeDeviceText(bytes);
        // Something shows for every byte sequence, at most one character per byte; ASCII shows
        // as itself.
        FUZZ_CHECK(shown.isEmpty() == bytes.isEmpty());
        FUZZ_CHECK(shown.size() <= bytes.size());
        bool ascii = true;
        for (char b : bytes)
            ascii = ascii && quint8(b) < 0x80;
        if (ascii)
            FUZZ_CHECK(shown == QString::fromLatin1(bytes));
        return 0;
    }

    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(payload), length / 2);
    const DeviceBytes encoded = encodeDeviceText(text);
    if (encoded.unencodable) {
        // The character named is one the text holds.
        const char32_t named = *encoded.unencodable;
        const QString namedText = named > 0xFFFF ? QString::fromUcs4(&named, 1)
                                                 : QString(QChar(char16_t(named)));
        FUZZ_CHECK(text.contains(namedText));
        return 0;
    }
    // What can be encoded reads back as typed, the JIS forms as their CP932 forms.
    FUZZ_CHECK(decodeDeviceText(encoded.bytes) == asReadBack(text));
    FUZZ_CHECK(encoded.bytes.size() <= 2 * text.size());
    return 0;
}
