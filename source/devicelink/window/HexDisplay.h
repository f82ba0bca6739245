#pragma once

#include <QString>
#include <QtGlobal>

// Upper-case hexadecimal digits of the value's 32-bit two's-complement pattern, without
// leading zeros: 0 -> "0", 80 -> "50", -1 -> "FFFFFFFF".
QString hexDigits(qint32 value);
