#include "protocol/LineSpeeds.h"

#include <QStringList>
#include <array>

namespace LineSpeeds {

namespace {

constexpr std::array kSpeeds{
    LineSpeed{SpeedCode::Bps2400, 2400, "2400bps"},
    LineSpeed{SpeedCode::Bps4800, 4800, "4800bps"},
    LineSpeed{SpeedCode::Bps9600, 9600, "9600bps"},
    LineSpeed{SpeedCode::Bps19200, 19200, "19200bps"},
    LineSpeed{SpeedCode::Bps38400, 38400, "38400bps"},
};

// Until a speed is chosen the line opens at the device's factory setting.
constexpr qint32 kUnchosenCode = 0;
constexpr SpeedCode kFactorySpeed = SpeedCode::Bps9600;

const LineSpeed *find(qint32 speedCode)
{
    for (const LineSpeed &speed : kSpeeds) {
        if (qint32(speed.code) == speedCode)
            return &speed;
    }
    return nullptr;
}

} // namespace

std::span<const LineSpeed> all()
{
    return kSpeeds;
}

qint32 bitsPerSecond(qint32 speedCode)
{
    if (speedCode == kUnchosenCode)
        speedCode = qint32(kFactorySpeed);
    const LineSpeed *speed = find(speedCode);
    return speed ? speed->bitsPerSecond : 0;
}

std::optional<SpeedCode> codeFor(QStringView bitsPerSecond)
{
    for (const LineSpeed &speed : kSpeeds) {
        if (bitsPerSecond == QString::number(speed.bitsPerSecond))
            return speed.code;
    }
    return std::nullopt;
}

std::optional<QString> label(qint32 speedCode)
{
    const LineSpeed *speed = find(speedCode);
    if (!speed)
        return std::nullopt;
    return QString::fromLatin1(speed->label);
}

QString ratesInWords()
{
    QStringList rates;
    for (const LineSpeed &speed : kSpeeds)
        rates << QString::number(speed.bitsPerSecond);
    const QString last = rates.takeLast();
    return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace LineSpeeds
