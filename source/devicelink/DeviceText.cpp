#include "DeviceText.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <vector>

// The converter behind "windows-31j" is IBM's variant of the code page: it swaps the control
// codes 0x1A, 0x1C and 0x7F. The device's code page maps 0x00-0x7F straight to ASCII, so ASCII
// is handled here and only the other characters go through the converter.

namespace {

constexpr const char *kCodePage = "windows-31j";
constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kUnmapped = 0x1A; // what the converter writes for a character it cannot map

bool isLeadByte(quint8 b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isTrailByte(quint8 b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

bool isHalfWidthKatakana(quint8 b)
{
    return b >= 0xA1 && b <= 0xDF;
}

// One character's worth of device bytes.
struct Unit
{
    qsizetype pos;
    qsizetype len;
    enum { Ascii, Wide, Malformed } kind;
};

std::vector<Unit> splitUnits(const QByteArray &bytes)
{
    std::vector<Unit> units;
    units.reserve(size_t(bytes.size()));
    for (qsizetype i = 0; i < bytes.size();) {
        const quint8 b = quint8(bytes[i]);
        if (b < 0x80) {
            units.push_back({i, 1, Unit::Ascii});
            i += 1;
        } else if (isLeadByte(b) && i + 1 < bytes.size() && isTrailByte(quint8(bytes[i + 1]))) {
            units.push_back({i, 2, Unit::Wide});
            i += 2;
        } else {
            units.push_back({i, 1, isHalfWidthKatakana(b) ? Unit::Wide : Unit::Malformed});
            i += 1;
        }
    }
    return units;
}

QChar checked(QChar decoded)
{
    return (decoded == QChar(kUnmapped)) ? QChar(kReplacement) : decoded;
}

QChar decodeWideUnit(QByteArrayView unit)
{
    QStringDecoder decoder(kCodePage);
    const QString text = decoder(unit);
    if (decoder.hasError() || text.size() != 1)
        return QChar(kReplacement);
    return checked(text[0]);
}

// The converter also takes a few characters one way only (to the bytes of another character);
// the device would show something else than what was typed, so only a character that reads back
// as itself counts as encodable.
bool encodesAlone(QStringView character)
{
    QStringEncoder encoder(kCodePage);
    const QByteArray bytes = encoder(character);
    return !encoder.hasError() && !bytes.isEmpty() && decodeDeviceText(bytes) == character;
}

} // namespace

QString decodeDeviceText(const QByteArray &bytes)
{
    const std::vector<Unit> units = splitUnits(bytes);
    QByteArray wide;
    qsizetype wideCount = 0;
    for (const Unit &unit : units) {
        if (unit.kind == Unit::Wide) {
            wide.append(bytes.constData() + unit.pos, unit.len);
            ++wideCount;
        }
    }
    if (qsizetype(units.size()) == bytes.size()
        && std::all_of(units.begin(), units.end(), [](const Unit &u) { return u.kind == Unit::Ascii; }))
        return QString::fromLatin1(bytes);

    QStringDecoder decoder(kCodePage);
    const QString decodedWide = wideCount ? QString(decoder(wide)) : QString();
    // Each wide unit decodes to one UTF-16 unit; if the converter saw it otherwise, go one by one.
    const bool aligned = !decoder.hasError() && decodedWide.size() == wideCount;

    QString text;
    text.reserve(qsizetype(units.size()));
    qsizetype next = 0;
    for (const Unit &unit : units) {
        switch (unit.kind) {
        case Unit::Ascii:
            text.append(QChar(char16_t(quint8(bytes[unit.pos]))));
            break;
        case Unit::Malformed:
            text.append(QChar(kReplacement));
            break;
        case Unit::Wide:
            text.append(aligned ? checked(decodedWide[next])
                                : decodeWideUnit(QByteArrayView(bytes).sliced(unit.pos, unit.len)));
            ++next;
            break;
        }
    }
    return text;
}

DeviceBytes encodeDeviceText(QStringView text)
{
    DeviceBytes result;
    result.bytes.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i].unicode() < 0x80) {
            result.bytes.append(char(text[i].unicode()));
            ++i;
            continue;
        }
        // A run of non-ASCII characters goes through the converter in one piece.
        qsizetype end = i;
        while (end < text.size() && text[end].unicode() >= 0x80)
            ++end;
        const QStringView run = text.sliced(i, end - i);
        for (qsizetype k = 0; k < run.size(); ++k) {
            const QChar unit = run[k];
            if (unit.isHighSurrogate() && k + 1 < run.size() && run[k + 1].isLowSurrogate()) {
                ++k;
            } else if (unit.isSurrogate()) {
                result.unencodable = unit.unicode(); // a lone surrogate is no character at all
                return result;
            }
        }
        QStringEncoder encoder(kCodePage);
        const QByteArray bytes = encoder(run);
        if (encoder.hasError() || decodeDeviceText(bytes) != run) {
            for (qsizetype k = 0; k < run.size(); ++k) {
                const qsizetype length = (run[k].isHighSurrogate() && k + 1 < run.size()) ? 2 : 1;
                const QStringView character = run.sliced(k, length);
                if (!encodesAlone(character)) {
                    result.unencodable = length == 2 ? QChar::surrogateToUcs4(run[k], run[k + 1])
                                                     : char32_t(run[k].unicode());
                    return result;
                }
                k += length - 1;
            }
        }
        result.bytes.append(bytes);
        i = end;
    }
    return result;
}
