#pragma once

#include "protocol/CardOperations.h"

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// How the steps of a card operation (protocol/CardOperations) become device commands and when
// one is left out. The window's buttons and kestra-send's planner both go through here, so that a
// button and the operation of the same name send the same commands and skip the same ones.
namespace CardOperations {

// What a step takes from outside the table.
struct StepInputs
{
    QByteArray parameter;   // Parameter::Operator: the window's parameter box, kestra-send's TEXT
    QByteArray samplePrint; // Parameter::SamplePrint
    qint32 timeoutMs = 0;   // Timeout::Operator: the window's time-out box, kestra-send's --timeout
    bool dsrOption = true;  // Dsr::Option: the window's Check / No Check, --dsr / --no-dsr
};

// A step as SendCommand takes it.
struct StepCommand
{
    quint8 code = 0;
    QByteArray parameter;
    qint32 timeoutMs = 0;
    bool dsr = true;
};

StepCommand commandFor(const Step &step, const StepInputs &inputs);

// "write 2/3" (step counted from 1), or the operation's word alone when it has one step: how
// kestra-send's lines and both programs' journal lines name a command.
QString stepName(QStringView operation, int step, int steps);
QString stepName(const Operation &operation, qsizetype index);

// Why a step is not sent: it needs the step before (Step::needsStepBefore) and that step did not
// complete with result 0, or was itself not sent (resultBefore empty). The device would otherwise
// write or print what its buffer still holds from an earlier card. Empty when the step is to be
// sent. The reason names the step before as stepName does: "write 1/3 ended with result -1, so
// the device may still hold an earlier card's data".
QString skipReason(bool needsStepBefore, const QString &stepBefore, std::optional<qint32> resultBefore);

} // namespace CardOperations
