#pragma once

#include "protocol/HexDigit.h"

#include <QChar>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// The number at the start of an operator's text. Blanks, tabs and line feeds are skipped
// anywhere; then a decimal number (sign, digits, one full stop, exponent E with sign and
// digits) or "&H" with hexadecimal digits. Reading stops at the first character that does not
// fit; no number gives 0.
struct LeadingNumber
{
    double value = 0.0;
    // False when the text holds a number that no 32-bit reading can represent: more than eight
    // significant hexadecimal digits, or a decimal exponent that overflows.
    bool representable = true;
};

LeadingNumber readLeadingNumber(QStringView text);

// Nearest integer, a value halfway between two going to the even one (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// The nearest signed 32-bit integer, or nothing when the value does not fit (or is not finite).
std::optional<qint32> nearestInt32(double value);

// Leading-number reading followed by the nearest-integer conversion; nothing when the text's
// value cannot be held in a signed 32-bit integer.
std::optional<qint32> readInt32(QStringView text);
