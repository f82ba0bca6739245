#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QtGlobal>

// The operator's boxes read as the window reads them. Where a text's value cannot be handed on
// (it does not fit a signed 32-bit integer, is no command code, or holds a character the
// device's code page lacks), the reading carries a message that names the box and the value;
// the click then sends nothing.

struct BoxNumber
{
    qint32 value = 0;
    QString refusal; // empty when the value is usable
    bool ok() const { return refusal.isEmpty(); }
};

// Time-out box: the leading number (decimal, or hexadecimal after "&H"), nearest integer.
BoxNumber readTimeoutBox(const QString &text);

// The time-out box's refusal once earlier commands of the click have gone out: it says what
// became of the rest (`consequence`) instead of "Nothing was sent".
QString timeoutRefusedMidway(const QString &text, const QString &consequence);

// Command box: hexadecimal digits without a prefix ("41" is 0x41, "ff" 255, "4G" 4); a code
// outside 00-FF is refused.
BoxNumber readCommandBox(const QString &text);

struct ParameterBytes
{
    QByteArray bytes;
    QString refusal; // empty when every character could be encoded
    bool ok() const { return refusal.isEmpty(); }
};

// The parameter box as the device receives it: the text in CP932.
ParameterBytes parameterBytes(const QString &text);

// The parameter box in BIN mode: byte escapes become their bytes, the rest is CP932.
ParameterBytes binParameterBytes(const QString &text);

// A text as a message quotes it: cut short when long, so that a huge box stays readable.
QString quotedForMessage(QStringView text);
