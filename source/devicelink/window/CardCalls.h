#pragma once

#include "control/CardControl.h"
#include "control/LinkDiagnostics.h"

#include <QString>
#include <stdexcept>

// An error that no handler traps: the application shows its text and ends the program.
class UntrappedError : public std::runtime_error
{
public:
    explicit UntrappedError(const QString &text);
    QString text() const { return QString::fromUtf8(what()); }
};

// The window's conversion of any control result to a 32-bit integer: an empty value is 0,
// fractions go to the nearest integer (a half to the even one). A value that is not a number
// or does not fit raises UntrappedError.
qint32 variantToInt32(const QVariant &value);

// ResponseData as device bytes; an empty value is the empty text. Other types raise UntrappedError.
QByteArray variantToDeviceBytes(const QVariant &value);

// Typed calls on a card control: every result converted as the window converts it, also where
// the caller drops it, so that an unconvertible result always takes the untrapped-error path.
class CardCalls
{
public:
    explicit CardCalls(CardControl &control) : m_control(control) {}

    qint32 Version() { return variantToInt32(m_control.Version()); }
    qint32 CommStatus() { return variantToInt32(m_control.CommStatus()); }
    qint32 ErrorCode() { return variantToInt32(m_control.ErrorCode()); }
    qint32 ResponseCode() { return variantToInt32(m_control.ResponseCode()); }
    QByteArray ResponseData() { return variantToDeviceBytes(m_control.ResponseData()); }
    qint32 OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4)
    {
        return variantToInt32(m_control.OpenLink(portOrAddress, speedCode, arg3, arg4));
    }
    qint32 CloseLink() { return variantToInt32(m_control.CloseLink()); }
    qint32 StartLink(qint32 mode) { return variantToInt32(m_control.StartLink(mode)); }
    qint32 StopLink() { return variantToInt32(m_control.StopLink()); }
    qint32 SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck)
    {
        return variantToInt32(m_control.SendCommand(code, parameter, timeoutMs, dsrCheck));
    }
    qint32 AbortCommand() { return variantToInt32(m_control.AbortCommand()); }

    // Why the last OpenLink failed, where the control can tell (no dispatch call: empty when the
    // control does not keep that).
    QString lastOpenFailure() const
    {
        const auto *diagnostics = dynamic_cast<const LinkDiagnostics *>(&m_control);
        return diagnostics ? diagnostics->lastOpenFailure() : QString();
    }

private:
    CardControl &m_control;
};
