#pragma once

#include "protocol/DeviceText.h"

#include <QString>

// True when every character is a hexadecimal digit (either case); true for the empty text.
bool IsHex(const QString &text);

// The BIN-mode parameter: "$" and two hexadecimal digits become the one character of that code
// (0-255), a "$" followed by one digit at the end of the text reads that digit, a "$" at the
// very end reads as 0; a "$" that opens no escape stays; typed carriage returns are dropped.
// Works on texts of any length.
QString BinConvert(const QString &text);

// The same conversion with the device boundary in view: each escape becomes exactly one byte of
// its value, and the characters between escapes are encoded in CP932.
DeviceBytes BinConvertToDeviceBytes(const QString &text);
