#include "transport/SerialTransport.h"

#include <QFileInfo>

SerialTransport::SerialTransport(QObject *parent) : LinkTransport(parent), m_port(new QSerialPort(this))
{
    setDevice(m_port);
}

SerialTransport::~SerialTransport()
{
    shutDown();
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
        m_port->clearError();
        return missing ? OpenResult::NoSuchPort : OpenResult::CannotOpen;
    }
    connect(m_port, &QSerialPort::readyRead, this, &SerialTransport::readAvailable);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialTransport::handleError);
    return OpenResult::Opened;
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
