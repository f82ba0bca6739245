#include "OperatorInput.h"

#include "BinConvert.h"
#include "protocol/DeviceText.h"
#include "window/NumberReading.h"

#include <optional>

namespace {

constexpr qsizetype kQuotedLength = 40;

BoxNumber fromReading(std::optional<qint32> value, const QString &refusal)
{
    if (value)
        return {*value, {}};
    return {0, refusal};
}

QString unencodableMessage(char32_t character)
{
    const QString code = QStringLiteral("U+%1").arg(uint(character), 4, 16, QLatin1Char('0')).toUpper();
    // A lone surrogate or an unprintable character is named by its code alone.
    const bool printable = !QChar::isSurrogate(character) && QChar::isPrint(character);
    const QString shown = printable ? QStringLiteral(" \"%1\"").arg(QString::fromUcs4(&character, 1))
                                    : QString();
    return QStringLiteral("Parameter: the character %1%2 cannot be sent in the device's code page "
                          "(CP932). Nothing was sent.")
        .arg(code, shown);
}

QString timeoutDoesNotFit(const QString &text)
{
    return QStringLiteral("Time Out: %1 does not fit a 32-bit integer (-2147483648 to 2147483647 ms).")
        .arg(quotedForMessage(text));
}

ParameterBytes fromDeviceBytes(DeviceBytes encoded)
{
    if (encoded.unencodable)
        return {{}, unencodableMessage(*encoded.unencodable)};
    return {std::move(encoded.bytes), {}};
}

} // namespace

QString quotedForMessage(QStringView text)
{
    if (text.size() <= kQuotedLength)
        return QLatin1Char('"') + text.toString() + QLatin1Char('"');
    // Cut between characters, never inside a surrogate pair, or the message would show half a
    // character.
    qsizetype cut = kQuotedLength;
    if (text[cut - 1].isHighSurrogate() && text[cut].isLowSurrogate())
        --cut;
    return QLatin1Char('"') + text.first(cut).toString() + QStringLiteral("...\" (%1 characters)")
                                                               .arg(text.size());
}

BoxNumber readTimeoutBox(const QString &text)
{
    return fromReading(readInt32(text), timeoutDoesNotFit(text) + QStringLiteral(" Nothing was sent."));
}

QString timeoutRefusedMidway(const QString &text, const QString &consequence)
{
    return timeoutDoesNotFit(text) + QLatin1Char(' ') + consequence;
}

BoxNumber readCommandBox(const QString &text)
{
    const std::optional<qint32> code = readInt32(QString(QStringLiteral("&H") + text));
    if (!code)
        return {0, QStringLiteral("Command: %1 does not fit a 32-bit command code "
                                  "(at most eight significant hexadecimal digits). Nothing was sent.")
                       .arg(quotedForMessage(text))};
    // The control refuses any other code, and its refusal stops the link: a typing slip would
    // cost the connection.
    if (*code < 0x00 || *code > 0xFF)
        return {0, QStringLiteral("Command: %1 is not a command code (00 to FF). Nothing was sent.")
                       .arg(quotedForMessage(text))};
    return {*code, {}};
}

ParameterBytes parameterBytes(const QString &text)
{
    return fromDeviceBytes(encodeDeviceText(text));
}

ParameterBytes binParameterBytes(const QString &text)
{
    return fromDeviceBytes(BinConvertToDeviceBytes(text));
}
