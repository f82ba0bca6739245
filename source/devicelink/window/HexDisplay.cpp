#include "window/HexDisplay.h"

QString hexDigits(qint32 value)
{
    return QString::number(quint32(value), 16).toUpper();
}
