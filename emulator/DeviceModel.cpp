#include "DeviceModel.h"

#include "protocol/DeviceText.h"

namespace {

constexpr int kBufferOpMs = 20;
constexpr int kMagneticMs = 300;
constexpr int kEjectMs = 300;
constexpr int kEraseMs = 800;
constexpr int kRewriteMs = 1000;
constexpr int kResetMs = 500;
constexpr int kSensorMs = 20; // how long the device takes to notice the slot is empty

// Reads an unsigned decimal number after optional blanks; advances pos. -1 when none is there.
int readNumber(QByteArrayView data, qsizetype &pos)
{
    while (pos < data.size() && data[pos] == ' ')
        ++pos;
    const qsizetype start = pos;
    qint64 value = 0;
    while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9' && pos - start < 6) {
        value = value * 10 + (data[pos] - '0');
        ++pos;
    }
    if (pos == start)
        return -1;
    while (pos < data.size() && data[pos] == ' ')
        ++pos;
    return int(value);
}

bool isParameter(QByteArrayView parameter, const char *expected)
{
    return parameter == QByteArrayView(expected);
}

} // namespace

bool parsePrintBlock(QByteArrayView data, PrintBlock *block)
{
    *block = PrintBlock{};
    qsizetype pos = 0;
    int numbers[3] = {0, 0, 0};
    bool header = true;
    for (int &number : numbers) {
        number = readNumber(data, pos);
        if (number < 0 || pos >= data.size() || data[pos] != ',') {
            header = false;
            break;
        }
        ++pos;
    }
    if (header) {
        if (numbers[0] < 1 || numbers[0] > 3 || numbers[1] >= DeviceModel::kCardWidth
            || numbers[2] >= DeviceModel::kCardHeight)
            return false;
        block->size = numbers[0];
        block->x = numbers[1];
        block->y = numbers[2];
        data = data.sliced(pos);
    }
    for (QByteArrayView rest = data;;) {
        const qsizetype lf = rest.indexOf('\n');
        if (lf < 0) {
            block->lines.append(rest.toByteArray());
            break;
        }
        block->lines.append(rest.first(lf).toByteArray());
        rest = rest.sliced(lf + 1);
    }
    return true;
}

DeviceModel::DeviceModel(QObject *parent) : QObject(parent)
{
    m_reinsertTimer.setSingleShot(true);
    connect(&m_reinsertTimer, &QTimer::timeout, this, &DeviceModel::insertCard);
}

bool DeviceModel::needsCard(quint8 code)
{
    switch (code) {
    case DeviceCommand::MagneticRead:
    case DeviceCommand::MagneticWrite:
    case DeviceCommand::Erase:
    case DeviceCommand::Eject:
    case DeviceCommand::Rewrite:
        return true;
    default:
        return false;
    }
}

int DeviceModel::operationMs(quint8 code, QByteArrayView parameter) const
{
    Q_UNUSED(parameter);
    if (needsCard(code) && !m_cardPresent)
        return kSensorMs;
    switch (code) {
    case DeviceCommand::MagneticRead:
    case DeviceCommand::MagneticWrite:
        return kMagneticMs;
    case DeviceCommand::Eject:
        return kEjectMs;
    case DeviceCommand::Erase:
        return kEraseMs;
    case DeviceCommand::Rewrite:
        return kRewriteMs;
    case DeviceCommand::Reset:
        return kResetMs;
    default:
        return kBufferOpMs;
    }
}

void DeviceModel::insertCard()
{
    m_reinsertTimer.stop();
    if (m_cardPresent)
        return;
    m_cardPresent = true;
    emit cardMoved(true);
}

void DeviceModel::clearBuffers()
{
    m_writeBuffer.clear();
    m_printBuffer.clear();
    m_printBytes = 0;
}

void DeviceModel::printOnSurface()
{
    m_surface.clear();
    for (const PrintBlock &block : std::as_const(m_printBuffer)) {
        const int pitch = 12 * block.size;
        int y = block.y;
        for (const QByteArray &line : block.lines) {
            m_surface.append({block.x, y, pitch, decodeDeviceText(line)});
            y += pitch;
        }
    }
}

DeviceModel::Outcome DeviceModel::execute(quint8 code, QByteArrayView parameter)
{
    Outcome outcome;
    auto fail = [&outcome](quint8 status) {
        outcome.status = status;
        return outcome;
    };

    switch (code) {
    case DeviceCommand::MagneticRead:
    case DeviceCommand::MagneticWrite:
    case DeviceCommand::Erase:
    case DeviceCommand::Eject:
    case DeviceCommand::Rewrite:
    case DeviceCommand::MagneticData:
    case DeviceCommand::PrintData:
    case DeviceCommand::BufferClear:
    case DeviceCommand::Reset:
        break;
    default:
        return fail(DeviceStatus::UnknownCommand);
    }
    if (needsCard(code) && !m_cardPresent)
        return fail(DeviceStatus::NoCard);

    switch (code) {
    case DeviceCommand::MagneticRead:
        if (m_stripe.isEmpty())
            return fail(DeviceStatus::ReadError);
        outcome.data = m_stripe;
        break;
    case DeviceCommand::MagneticData:
        if (parameter.size() > kBufferLimit)
            return fail(DeviceStatus::BufferFull);
        m_writeBuffer = parameter.toByteArray();
        break;
    case DeviceCommand::MagneticWrite:
        if (!isParameter(parameter, "2"))
            return fail(DeviceStatus::ParameterError);
        if (m_writeBuffer.isEmpty())
            return fail(DeviceStatus::BufferEmpty);
        m_stripe = m_writeBuffer;
        break;
    case DeviceCommand::BufferClear:
        clearBuffers();
        break;
    case DeviceCommand::Reset:
        clearBuffers();
        break;
    case DeviceCommand::Erase:
        if (!isParameter(parameter, "1"))
            return fail(DeviceStatus::ParameterError);
        m_surface.clear();
        emit surfaceChanged();
        break;
    case DeviceCommand::Eject:
        if (!isParameter(parameter, "1"))
            return fail(DeviceStatus::ParameterError);
        m_cardPresent = false;
        emit cardMoved(false);
        if (m_reinsertMs == 0)
            insertCard();
        else if (m_reinsertMs > 0)
            m_reinsertTimer.start(m_reinsertMs);
        break;
    case DeviceCommand::PrintData: {
        if (parameter.isEmpty())
            return fail(DeviceStatus::ParameterError);
        if (m_printBytes + parameter.size() > kBufferLimit)
            return fail(DeviceStatus::BufferFull);
        PrintBlock block;
        if (!parsePrintBlock(parameter, &block))
            return fail(DeviceStatus::ParameterError);
        m_printBuffer.append(block);
        m_printBytes += int(parameter.size());
        break;
    }
    case DeviceCommand::Rewrite:
        if (!isParameter(parameter, "1"))
            return fail(DeviceStatus::ParameterError);
        if (m_printBuffer.isEmpty())
            return fail(DeviceStatus::BufferEmpty);
        printOnSurface();
        m_printBuffer.clear();
        m_printBytes = 0;
        emit surfaceChanged();
        break;
    }
    return outcome;
}
