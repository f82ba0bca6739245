#include "BinConvert.h"

#include "window/NumberReading.h"

#include <algorithm>

namespace {

// Walks the text once and hands every typed character to `literal` and every escape's value
// to `escape`, in order. Positions are qsizetype, so there is no length limit.
template <typename Literal, typename Escape>
void walk(const QString &text, Literal literal, Escape escape)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r')
            continue;
        if (c != u'$') {
            literal(c);
            continue;
        }
        const QString pair = text.mid(i + 1, 2); // shorter near the end of the text
        if (!IsHex(pair)) {
            literal(c);
            continue;
        }
        int value = 0;
        for (const QChar digit : pair)
            value = value * 16 + hexDigitValue(digit);
        escape(quint8(value));
        i += 2;
    }
}

} // namespace

bool IsHex(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return hexDigitValue(c) >= 0; });
}

QString BinConvert(const QString &text)
{
    QString result;
    result.reserve(text.size());
    walk(
        text, [&](QChar c) { result.append(c); }, [&](quint8 value) { result.append(QChar(char16_t(value))); });
    return result;
}

DeviceBytes BinConvertToDeviceBytes(const QString &text)
{
    DeviceBytes result;
    result.bytes.reserve(text.size());
    QString run; // typed characters since the last escape, encoded together
    auto flush = [&] {
        if (run.isEmpty() || result.unencodable)
            return;
        DeviceBytes encoded = encodeDeviceText(run);
        if (encoded.unencodable)
            result.unencodable = encoded.unencodable;
        else
            result.bytes.append(encoded.bytes);
        run.clear();
    };
    walk(
        text, [&](QChar c) { run.append(c); },
        [&](quint8 value) {
            flush();
            result.bytes.append(char(value));
        });
    flush();
    if (result.unencodable)
        result.bytes.clear();
    return result;
}
