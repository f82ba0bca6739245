#include "window/CardCalls.h"

#include "protocol/DeviceText.h"
#include "window/NumberReading.h"

#include <limits>

UntrappedError::UntrappedError(const QString &text) : std::runtime_error(text.toStdString()) {}

namespace {

[[noreturn]] void typeMismatch(const QVariant &value)
{
    throw UntrappedError(QStringLiteral("Type mismatch: the card control returned %1 \"%2\"")
                             .arg(QString::fromLatin1(value.typeName()), value.toString()));
}

[[noreturn]] void overflow(const QVariant &value)
{
    throw UntrappedError(QStringLiteral("Overflow: the card control returned %1").arg(value.toString()));
}

qint32 fromDouble(double number, const QVariant &value)
{
    const std::optional<qint32> result = nearestInt32(number);
    if (!result)
        overflow(value);
    return *result;
}

} // namespace

qint32 variantToInt32(const QVariant &value)
{
    if (!value.isValid())
        return 0;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1 : 0;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return value.toInt();
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong: {
        const qlonglong number = value.toLongLong();
        if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
            overflow(value);
        return qint32(number);
    }
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        if (number > qulonglong(std::numeric_limits<qint32>::max()))
            overflow(value);
        return qint32(number);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return fromDouble(value.toDouble(), value);
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const double number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            typeMismatch(value);
        return fromDouble(number, value);
    }
    default:
        typeMismatch(value);
    }
}

QByteArray variantToDeviceBytes(const QVariant &value)
{
    if (!value.isValid())
        return {};
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::QString:
        return encodeDeviceText(value.toString()).bytes;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toString().toLatin1();
    case QMetaType::Bool:
        return value.toBool() ? "True" : "False";
    default:
        typeMismatch(value);
    }
}
