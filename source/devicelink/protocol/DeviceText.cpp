#include "protocol/DeviceText.h"

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

// Linux input methods and documents type the JIS forms of a few characters where a Windows
// keyboard gives the CP932 ones; the converter knows only the latter and would refuse what the
// operator sees as the same character. They go out as the bytes a Windows host sends for them
// (one way: the device's bytes read back as the CP932 form). Yen sign and overline are what a
// Japanese keyboard's keys for 0x5C and 0x7E mean.
const char *jisVariantBytes(char16_t unit)
{
    switch (unit) {
    case 0x301C: return "\x81\x60"; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2016: return "\x81\x61"; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x2212: return "\x81\x7C"; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x00A2: return "\x81\x91"; // CENT SIGN -> FULLWIDTH CENT SIGN
    case 0x00A3: return "\x81\x92"; // POUND SIGN -> FULLWIDTH POUND SIGN
    case 0x00AC: return "\x81\xCA"; // NOT SIGN -> FULLWIDTH NOT SIGN
    case 0x2014: return "\x81\x5C"; // EM DASH -> HORIZONTAL BAR
    case 0x00A5: return "\x5C";      // YEN SIGN -> backslash byte
    case 0x203E: return "\x7E";      // OVERLINE -> tilde byte
    default: return nullptr;
    }
}

// Appends a run of characters outside ASCII, through the converter; false (and the first
// character it cannot take named in the result) when one has no place in the code page.
bool appendConverted(QStringView run, DeviceBytes &result)
{
    for (qsizetype k = 0; k < run.size(); ++k) {
        const QChar unit = run[k];
        if (unit.isHighSurrogate() && k + 1 < run.size() && run[k + 1].isLowSurrogate()) {
            ++k;
        } else if (unit.isSurrogate()) {
            result.unencodable = unit.unicode(); // a lone surrogate is no character at all
            return false;
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
                return false;
            }
            k += length - 1;
        }
    }
    result.bytes.append(bytes);
    return true;
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

void appendEscapedChar(QString &out, QChar c)
{
    if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
        out += QLatin1Char('\\') + c;
    else if (c == QLatin1Char('\n'))
        out += QLatin1String("\\n");
    else if (c == QLatin1Char('\r'))
        out += QLatin1String("\\r");
    else if (c == QLatin1Char('\t'))
        out += QLatin1String("\\t");
    else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
        out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    else
        out += c;
}

QString escapedDeviceText(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size() + 8);
    const QString decoded = decodeDeviceText(bytes);
    if (!decoded.contains(QChar(kReplacement))) {
        for (const QChar c : decoded)
            appendEscapedChar(out, c);
        return out;
    }
    // Character by character: a lead byte whose pair is no character stands alone, and the byte
    // after it is read afresh.
    const auto escapeByte = [&out](quint8 b) { out += QStringLiteral("\\x%1").arg(uint(b), 2, 16, QLatin1Char('0')); };
    for (qsizetype i = 0; i < bytes.size();) {
        const quint8 b = quint8(bytes[i]);
        if (b < 0x80) {
            appendEscapedChar(out, QChar(char16_t(b)));
            ++i;
            continue;
        }
        const bool pair = isLeadByte(b) && i + 1 < bytes.size() && isTrailByte(quint8(bytes[i + 1]));
        if (!pair && !isHalfWidthKatakana(b)) {
            escapeByte(b);
            ++i;
            continue;
        }
        const QChar c = decodeWideUnit(QByteArrayView(bytes).sliced(i, pair ? 2 : 1));
        if (c == QChar(kReplacement)) {
            escapeByte(b);
            ++i;
            continue;
        }
        appendEscapedChar(out, c);
        i += pair ? 2 : 1;
    }
    return out;
}

DeviceBytes encodeDeviceText(QStringView text)
{
    DeviceBytes result;
    result.bytes.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            result.bytes.append(char(unit));
            ++i;
            continue;
        }
        if (const char *variant = jisVariantBytes(unit)) {
            result.bytes.append(variant);
            ++i;
            continue;
        }
        // A run of other non-ASCII characters goes through the converter in one piece.
        qsizetype end = i;
        while (end < text.size() && text[end].unicode() >= 0x80 && !jisVariantBytes(text[end].unicode()))
            ++end;
        if (!appendConverted(text.sliced(i, end - i), result))
            return result;
        i = end;
    }
    return result;
}
