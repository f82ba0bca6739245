// Arbitrary UTF-16 text typed as a BIN-mode parameter: BinConvert, IsHex and the bytes that go
// to the device.
#include "BinConvert.h"
#include "protocol/DeviceText.h"
#include "FuzzCheck.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <variant>

namespace {

bool hexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

int digitValue(char16_t c)
{
    if (c <= u'9')
        return c - u'0';
    return (c | 0x20) - u'a' + 10;
}

// The conversion written out as its rules read, with 1-based positions: pieces of typed text
// and escape values, in order.
using Piece = std::variant<QString, quint8>;

QList<Piece> referencePieces(const QString &text)
{
    QList<Piece> pieces;
    const auto typed = [&](QChar c) {
        if (pieces.isEmpty() || !std::holds_alternative<QString>(pieces.back()))
            pieces.append(QString());
        std::get<QString>(pieces.back()).append(c);
    };
    const qsizetype n = text.size();
    qsizetype i = 1;
    while (i <= n) {
        const QChar c = text.at(i - 1);
        if (c == u'\r') {
            // dropped
        } else if (c == u'$') {
            QString pair;
            if (i + 1 <= n)
                pair += text.at(i);
            if (i + 2 <= n)
                pair += text.at(i + 1);
            bool hex = true;
            for (QChar d : pair)
                hex = hex && hexDigit(d.unicode());
            if (hex) {
                int value = 0;
                for (QChar d : pair)
                    value = value * 16 + digitValue(d.unicode());
                pieces.append(quint8(value));
                i += 2;
            } else {
                typed(c);
            }
        } else {
            typed(c);
        }
        ++i;
    }
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(data),
                                            qsizetype(size / 2));

    bool allHex = true;
    for (QChar c : text)
        allHex = allHex && hexDigit(c.unicode());
    FUZZ_CHECK(IsHex(text) == allHex);

    const QList<Piece> pieces = referencePieces(text);
    QString expectedText;
    for (const Piece &piece : pieces) {
        if (const QString *typed = std::get_if<QString>(&piece))
            expectedText += *typed;
        else
            expectedText += QChar(char16_t(std::get<quint8>(piece)));
    }
    const QString converted = BinConvert(text);
    FUZZ_CHECK(converted == expectedText);
    FUZZ_CHECK(converted.size() <= text.size());

    // On the wire: each escape exactly one byte, typed text in the device's code page, and
    // nothing at all when a typed character has no place in it.
    QByteArray expectedBytes;
    std::optional<char32_t> unencodable;
    for (const Piece &piece : pieces) {
        if (const QString *typed = std::get_if<QString>(&piece)) {
            const DeviceBytes encoded = encodeDeviceText(*typed);
            if (encoded.unencodable && !unencodable)
                unencodable = encoded.unencodable;
            expectedBytes += encoded.bytes;
        } else {
            expectedBytes += char(std::get<quint8>(piece));
        }
    }
    const DeviceBytes bytes = BinConvertToDeviceBytes(text);
    FUZZ_CHECK(bytes.unencodable == unencodable);
    if (unencodable)
        FUZZ_CHECK(bytes.bytes.isEmpty());
    else
        FUZZ_CHECK(bytes.bytes == expectedBytes);
    return 0;
}
