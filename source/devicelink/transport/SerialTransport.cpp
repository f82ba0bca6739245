#include "transport/SerialTransport.h"

#include "transport/PortHolder.h"

#include <QFileInfo>

#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

SerialTransport::SerialTransport(QObject *parent) : LinkTransport(parent), m_port(new QSerialPort(this))
{
    setDevice(m_port);
}

SerialTransport::~SerialTransport()
{
    shutDown();
}

LinkTransport::Opening SerialTransport::open(const LinkAddress &address)
{
    using Kind = LinkFailure::Kind;
    if (address.com < 1)
        return refuseOpen({Kind::NoSuchCom, {}});
    if (address.baudRate == 0)
        return refuseOpen({Kind::NoSuchSpeed, {}});
    switch (open(address.path, address.baudRate)) {
    case OpenResult::Opened:
        return Opening::Opened;
    case OpenResult::NoSuchPort:
        return refuseOpen({Kind::NoSuchDevice, m_openError});
    case OpenResult::CannotOpen:
        return refuseOpen({Kind::CannotOpen, m_openError});
    case OpenResult::Busy:
        return refuseOpen({Kind::Busy, m_openError});
    }
    return refuseOpen({Kind::CannotOpen, m_openError});
}

SerialTransport::OpenResult SerialTransport::open(const QString &path, qint32 baudRate)
{
    m_port->setPortName(path);
    m_port->setBaudRate(baudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_openError = m_port->errorString();
        const bool missing = m_port->error() == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(path);
        const bool refusedByLock = m_port->error() == QSerialPort::PermissionError;
        m_port->clearError();
        if (missing)
            return OpenResult::NoSuchPort;
        return refusedByLock && refusedAsBusy(path) ? OpenResult::Busy : OpenResult::CannotOpen;
    }
    // Qt's lock file is named after the name the port was opened by, so a link to the device (a
    // /dev/serial/by-id name) passes it; a lock on the open device itself holds whatever the name,
    // and for root too. It goes with the descriptor, so no crash leaves it behind.
    // A system that cannot record the lock (ENOLCK) still has Qt's lock file and the device's own
    // exclusive mode: the port opens without it rather than not at all.
    if (::flock(int(m_port->handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        m_port->close();
        m_openError = portBusyText(deviceLockHolder(path, qint64(::getpid())));
        return OpenResult::Busy;
    }
    connect(m_port, &QSerialPort::readyRead, this, &SerialTransport::readAvailable);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialTransport::handleError);
    return OpenResult::Opened;
}

bool SerialTransport::refusedAsBusy(const QString &path)
{
    // Qt refuses a port whose lock file a live process holds ("Permission error while locking the
    // device"); the device refuses a second open while it is kept exclusive (EBUSY).
    if (m_openError == qt_error_string(EBUSY)) {
        m_openError = portBusyText(deviceLockHolder(path, qint64(::getpid())));
        return true;
    }
    const std::optional<PortHolder> holder = lockFileHolder(path);
    if (!holder)
        return false;
    m_openError = portBusyText(*holder);
    return true;
}

void SerialTransport::shutDown()
{
    markClosed();
    m_port->disconnect(this);
    if (m_port->isOpen())
        m_port->close();
}

std::optional<bool> SerialTransport::dsrActive()
{
    if (isLost() || !m_port->isOpen())
        return std::nullopt;
    m_port->clearError();
    const QSerialPort::PinoutSignals lines = m_port->pinoutSignals();
    if (m_port->error() != QSerialPort::NoError) {
        // No modem lines here (a pseudo-terminal); a vanished port has been reported as lost
        // by handleError already.
        m_port->clearError();
        return std::nullopt;
    }
    return lines.testFlag(QSerialPort::DataSetReadySignal);
}

void SerialTransport::handleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:                   // emitted by open() and clearError()
    case QSerialPort::UnsupportedOperationError: // a port without modem lines asked for them
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
        return;
    default:
        break;
    }
    if (isLost())
        return;
    // Everything read before the failure has gone out through readyRead already. The close
    // waits for the event loop: the port is still inside its own notifier here.
    // After a hang-up the port's own words are whatever the next call failed with ("Inappropriate
    // ioctl for device"); say what happened and keep them for the record.
    reportLost(error == QSerialPort::ResourceError || error == QSerialPort::ReadError
                   ? QStringLiteral("the device went away (unplugged, switched off, or the far end hung up): %1")
                         .arg(m_port->errorString())
                   : m_port->errorString());
    QMetaObject::invokeMethod(this, &SerialTransport::closeAfterFailure, Qt::QueuedConnection);
}

void SerialTransport::closeAfterFailure()
{
    m_port->disconnect(this);
    if (m_port->isOpen())
        m_port->close();
}
