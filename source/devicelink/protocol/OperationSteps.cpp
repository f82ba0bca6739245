#include "protocol/OperationSteps.h"

namespace CardOperations {

StepCommand commandFor(const Step &step, const StepInputs &inputs)
{
    StepCommand command;
    command.code = step.code;
    switch (step.parameterFrom) {
    case Parameter::Fixed:
        command.parameter = step.fixedParameter();
        break;
    case Parameter::Operator:
        command.parameter = inputs.parameter;
        break;
    case Parameter::SamplePrint:
        command.parameter = inputs.samplePrint;
        break;
    }
    command.timeoutMs = step.timeoutFrom == Timeout::Operator ? inputs.timeoutMs : step.timeoutMs;
    command.dsr = step.dsr == Dsr::AlwaysCheck || inputs.dsrOption;
    return command;
}

QString stepName(QStringView operation, int step, int steps)
{
    if (steps <= 1)
        return operation.toString();
    return QStringLiteral("%1 %2/%3").arg(operation).arg(step).arg(steps);
}

QString stepName(const Operation &operation, qsizetype index)
{
    return stepName(QString::fromLatin1(operation.name), int(index) + 1, int(operation.steps.size()));
}

QString skipReason(bool needsStepBefore, const QString &stepBefore, std::optional<qint32> resultBefore)
{
    if (!needsStepBefore || resultBefore == 0)
        return {};
    const QString how = resultBefore ? QStringLiteral("ended with result %1").arg(*resultBefore)
                                     : QStringLiteral("was not sent");
    return QStringLiteral("%1 %2, so the device may still hold an earlier card's data").arg(stepBefore, how);
}

} // namespace CardOperations
