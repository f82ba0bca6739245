#pragma once

#include "control/CardControl.h"

#include <QList>
#include <QObject>
#include <QVariantList>
#include <functional>
#include <optional>

// The card control's operations as a call record names them, by the numbers of the control's
// dispatch interface.
enum class Dispid : int {
    Version = 3,
    CommStatus = 4,
    ErrorCode = 6,
    ResponseCode = 9,
    ResponseData = 11,
    OpenLink = 12,
    CloseLink = 13,
    StartLink = 14,
    StopLink = 15,
    SendCommand = 16,
    AbortCommand = 17,
};

// A card control for window tests: it records every call with its arguments in order, returns
// scripted results, and ends a command after a scripted delay from a timer, so that the change
// of CommStatus always happens inside event processing.
class ScriptedCardControl : public QObject, public CardControl
{
    Q_OBJECT
public:
    struct Call
    {
        Dispid id;
        QVariantList args;
    };

    // How one SendCommand goes.
    struct Outcome
    {
        QVariant sendResult = 0;     // non-zero: refused, nothing runs
        int runMs = 0;               // time until the command ends
        bool endsBeforeReturn = false; // already over when SendCommand returns
        bool neverEnds = false;      // only AbortCommand, StopLink or CloseLink end it
        QVariant errorCode = 0;
        QVariant responseCode = DeviceStatus::Normal;
        QVariant responseData = QByteArray();
    };

    explicit ScriptedCardControl(QObject *parent = nullptr);

    // Script.
    QVariant version = 3;
    QVariant openResult = 0;
    QList<Outcome> outcomes; // taken in order by SendCommand; when empty, defaultOutcome
    Outcome defaultOutcome;
    // Values written back through OpenLink's references (as a control may do).
    std::optional<qint32> openWritesPort;
    std::optional<qint32> openWritesSpeed;
    // Runs at the start of every call; a test may throw UntrappedError from it.
    std::function<void(Dispid)> beforeCall;

    // Record.
    QList<Call> calls;
    QList<Dispid> callIds() const;
    int count(Dispid id) const;
    QList<Call> callsOf(Dispid id) const;
    void clearCalls() { calls.clear(); }

    qint32 status() const { return m_status; }

    QVariant Version() override;
    QVariant CommStatus() override;
    QVariant ErrorCode() override;
    QVariant ResponseCode() override;
    QVariant ResponseData() override;
    QVariant OpenLink(qint32 &portOrAddress, qint32 &speedCode, qint32 arg3, qint32 arg4) override;
    QVariant CloseLink() override;
    QVariant StartLink(qint32 mode) override;
    QVariant StopLink() override;
    QVariant SendCommand(qint32 &code, QByteArray &parameter, qint32 &timeoutMs, bool &dsrCheck) override;
    QVariant AbortCommand() override;

private:
    void record(Dispid id, QVariantList args = {});
    void finish(const Outcome &outcome);
    void endRunning(qint32 errorCode, qint32 newStatus);

    qint32 m_status = LinkStatus::NoLink;
    QVariant m_errorCode = 0;
    QVariant m_responseCode = 0;
    QVariant m_responseData = QByteArray();
    quint64 m_generation = 0; // a command's timer only ends the command it was started for
};
