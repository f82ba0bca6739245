#include "SoakRun.h"

#include "BenchSupport.h"
#include "control/Plenko.h"
#include "SoakTrace.h"
#include "window/CommandEnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <array>

namespace {

constexpr int kOpenAttempts = 20;
constexpr int kRetryPauseMs = 50;

// Waits without spinning: the timer's event ends the loop.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

quint32 loopbackAddress()
{
    return (127u << 24) | 1u;
}

} // namespace

quint8 SoakRun::codeFor(qint64 index)
{
    // Write data, magnetic read, buffer clear, print data, reset, and a code the device does not
    // know: every one of them takes the tag parameter without side effects that matter here.
    static constexpr std::array<quint8, 6> kCodes{0x39, 0x22, 0x49, 0x41, 0x5F, 0x7E};
    return kCodes[size_t(index % qint64(kCodes.size()))];
}

bool SoakRun::openLink(Plenko &control)
{
    qint32 port = m_settings.pty ? 1 : qint32(loopbackAddress());
    qint32 speed = m_settings.pty ? 5 : -1;
    const qint32 extra = m_settings.pty ? 1 : -1;
    if (control.OpenLink(port, speed, extra, extra).toInt() != Plenko::Opened)
        return false;
    return control.StartLink(0).toInt() == Plenko::Started;
}

bool SoakRun::reconnect(Plenko &control, RunFigures &figures)
{
    ++figures.reconnections;
    control.StopLink();
    control.CloseLink();
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (attempt > 0) {
            ++figures.reconnectRetries;
            pause(kRetryPauseMs);
        }
        if (openLink(control))
            return true;
        control.CloseLink();
    }
    ++figures.reconnectFailures;
    return false;
}

bool SoakRun::run(Plenko &control, std::vector<CommandRecord> &records, RunFigures &figures, QString *error)
{
    records.assign(size_t(m_settings.commands), CommandRecord{});
    if (!openLink(control)) {
        records.clear();
        *error = QStringLiteral("the first OpenLink failed");
        return false;
    }
    QElapsedTimer wall;
    wall.start();
    const int warmUp = qMax(1, m_settings.commands / 10);
    bool linkDown = false;
    for (int index = 0; index < m_settings.commands; ++index) {
        if (index == warmUp)
            figures.rssAfterWarmUp = bench::currentRssBytes();
        if (linkDown && !reconnect(control, figures)) {
            // The emulator is gone (it ended, or was ended): the rest would only be refusals.
            *error = QStringLiteral("no link after command %1: reconnection failed").arg(index - 1);
            records.resize(size_t(index));
            figures.rssAtEnd = bench::currentRssBytes();
            figures.wallSeconds = double(wall.elapsed()) / 1000.0;
            return false;
        }
        linkDown = false;

        CommandRecord &record = records[size_t(index)];
        qint32 code = codeFor(index);
        QByteArray parameter = tagParameter(index);
        qint32 timeoutMs = m_settings.timeoutMs;
        bool dsr = false;
        record.code = quint8(code);

        const double cpuBefore = bench::processCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        record.sendResult = qint16(control.SendCommand(code, parameter, timeoutMs, dsr).toInt());
        if (record.sendResult != Plenko::Accepted) {
            linkDown = true;
            continue;
        }
        // The console's own wait.
        CardCalls calls(control);
        waitForCommandEnd(calls);
        record.elapsedMs = qint32(clock.elapsed());
        record.errorCode = qint16(control.ErrorCode().toInt());
        record.responseCode = quint8(control.ResponseCode().toInt());
        const QByteArray data = control.ResponseData().toByteArray();
        if (data.size() >= 5) {
            record.answerNumber = (qint64(quint8(data[0])) << 24) | (quint8(data[1]) << 16)
                                  | (quint8(data[2]) << 8) | quint8(data[3]);
            record.answerCode = quint8(data[4]);
        }
        if (record.errorCode == LinkError::TimedOut) {
            figures.waitCpuSeconds += bench::processCpuSeconds() - cpuBefore;
            figures.waitWallSeconds += double(record.elapsedMs) / 1000.0;
        }
        if (record.errorCode == LinkError::LinkLost)
            linkDown = true;
    }
    figures.rssAtEnd = bench::currentRssBytes();
    figures.wallSeconds = double(wall.elapsed()) / 1000.0;
    control.StopLink();
    control.CloseLink();
    return true;
}
