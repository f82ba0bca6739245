#pragma once

#include "transport/LinkTransport.h"
#include "transport/ModemLines.h"

#include <QSerialPort>

// A serial line, 8 data bits, no parity, one stop bit, no flow control.
//
// A read error or hang-up (a USB adapter pulled out, the far side of a pseudo-terminal closed)
// ends the link: Qt keeps the port open after one and reports the same error over and over from
// its read notifier, so the port is closed from the event loop right after the first report.
class SerialTransport : public LinkTransport, public ModemLines
{
    Q_OBJECT
public:
    // Busy: another program has the device open, by this name or another (openError() says who).
    enum class OpenResult { Opened, NoSuchPort, CannotOpen, Busy };

    explicit SerialTransport(QObject *parent = nullptr);
    ~SerialTransport() override;

    // A serial address: its device at its speed. A COM below 1 and a speed code that names no
    // speed are refused before any device is tried.
    Opening open(const LinkAddress &address) override;

    OpenResult open(const QString &path, qint32 baudRate);
    // Why the last open() failed, in the system's words ("Permission denied"); for a busy port,
    // who holds it and what to do.
    QString openError() const { return m_openError; }

    void shutDown() override;
    ModemLines *modemLines() override { return this; }

    // Reads DSR from the port; nothing when the port has no modem lines.
    std::optional<bool> dsrActive() override;

private:
    bool isReady() const override { return m_port->isOpen(); }
    void pushOut() override { m_port->flush(); }
    void handleError(QSerialPort::SerialPortError error);
    // After Qt refused the port for permission: true, with openError() saying who holds it, when
    // the refusal is in fact another program's hold on the port.
    bool refusedAsBusy(const QString &path);
    void closeAfterFailure();

    QSerialPort *m_port = nullptr;
    QString m_openError;
};
