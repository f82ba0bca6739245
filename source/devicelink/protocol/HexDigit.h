#pragma once

#include <QChar>

// A hexadecimal digit's value (0-9, A-F, a-f), -1 for anything else: the one reader of hex digits
// for the window's number boxes, BIN mode and the journal's notation.
constexpr int hexDigitValue(char16_t u)
{
    return u >= u'0' && u <= u'9' ? u - u'0'
           : u >= u'A' && u <= u'F' ? u - u'A' + 10
           : u >= u'a' && u <= u'f' ? u - u'a' + 10
                                   : -1;
}

constexpr int hexDigitValue(QChar c)
{
    return hexDigitValue(c.unicode());
}
