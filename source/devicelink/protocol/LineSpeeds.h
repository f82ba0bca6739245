#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>
#include <span>

// The speed code that OpenLink receives, a Baud Rate menu item stores and kestra-send's --speed
// chooses. The codes are the device's own numbering, not the order of speed.
enum class SpeedCode : qint32 {
    Bps19200 = 1,
    Bps9600 = 2,
    Bps4800 = 3,
    Bps2400 = 4,
    Bps38400 = 5,
};

// The serial line's speeds: each code with its bit rate and the label the window shows for it
// ("2400bps"), in the Baud Rate menu's order, slowest first.
namespace LineSpeeds {

struct LineSpeed
{
    SpeedCode code;
    qint32 bitsPerSecond;
    const char *label;
};

std::span<const LineSpeed> all();

// The bit rate of a speed code: 9600 for code 0 (no speed chosen yet), 0 for a code outside 0-5.
qint32 bitsPerSecond(qint32 speedCode);
// The code of a bit rate written in plain digits ("9600"), or nothing for any other text.
std::optional<SpeedCode> codeFor(QStringView bitsPerSecond);
// The window's label of a code ("19200bps" for 1); nothing outside 1-5.
std::optional<QString> label(qint32 speedCode);
// The rates in words, slowest first: "2400, 4800, 9600, 19200 or 38400".
QString ratesInWords();

} // namespace LineSpeeds
