#include "CommandPlan.h"

#include "protocol/CardOperations.h"
#include "protocol/OperationSteps.h"
#include "OperatorInput.h"
#include "SamplePrint.h"

#include <limits>

namespace {

// The refusal of the console's parameter box, without the box's name and the window's ending.
QString refusalWithoutBox(QString refusal)
{
    refusal.remove(QStringLiteral("Parameter: "));
    refusal.remove(QStringLiteral(" Nothing was sent."));
    return refusal;
}

// The device takes a frame body of kMaxBody bytes, the command code and its parameter; a longer
// one would be refused by the control after the commands before it had been sent.
QString parameterTooLong(const QByteArray &parameter)
{
    constexpr qsizetype kMaxParameter = Wire::kMaxBody - 1;
    if (parameter.size() <= kMaxParameter)
        return {};
    return QStringLiteral("the parameter is %1 bytes; the device takes at most %2").arg(parameter.size()).arg(kMaxParameter);
}

} // namespace

std::optional<quint8> readCommandCode(const QString &text)
{
    QStringView digits(text);
    if (digits.startsWith(u"0x", Qt::CaseInsensitive))
        digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 2)
        return std::nullopt;
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return quint8(value);
}

std::optional<qint32> readTimeoutMs(const QString &text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < 0 || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

QString operationNames()
{
    QStringList names;
    for (const CardOperations::Operation &operation : CardOperations::operations())
        names << QLatin1StringView(operation.name) + (operation.takesText() ? QStringLiteral(" TEXT") : QString());
    return names.join(QStringLiteral(", "));
}

QString planOperation(const QString &name, const QString &text, const CommandDefaults &defaults, int line,
                      int group, QList<PlannedCommand> &into)
{
    using namespace CardOperations;
    const Operation *operation = findOperation(name);
    if (!operation)
        return QStringLiteral("unknown command '%1' (one of %2, or code HEX)").arg(name, operationNames());

    StepInputs inputs;
    if (operation->takes(Parameter::Operator)) {
        const ParameterBytes bytes = parameterBytes(text);
        if (!bytes.ok())
            return QStringLiteral("%1 TEXT: %2").arg(name, refusalWithoutBox(bytes.refusal));
        if (const QString tooLong = parameterTooLong(bytes.bytes); !tooLong.isEmpty())
            return QStringLiteral("%1 TEXT: %2").arg(name, tooLong);
        inputs.parameter = bytes.bytes;
    }
    if (operation->takes(Parameter::SamplePrint))
        inputs.samplePrint = SamplePrintData();
    inputs.timeoutMs = defaults.timeoutMs;
    inputs.dsrOption = defaults.dsr;

    const int steps = int(operation->steps.size());
    for (int i = 0; i < steps; ++i) {
        const Step &step = operation->steps[size_t(i)];
        const StepCommand sent = commandFor(step, inputs);
        PlannedCommand command;
        command.line = line;
        command.group = group;
        command.operation = name;
        command.step = i + 1;
        command.steps = steps;
        command.code = sent.code;
        command.parameter = sent.parameter;
        command.timeoutMs = sent.timeoutMs;
        command.dsr = sent.dsr;
        command.needsStepBefore = step.needsStepBefore;
        into << command;
    }
    return {};
}

QString planFreeCommand(const FreeCommand &free, const CommandDefaults &settings, int line, int group,
                        QList<PlannedCommand> &into)
{
    const std::optional<quint8> code = readCommandCode(free.code);
    if (!code)
        return QStringLiteral("'%1' is not a command code (one or two hexadecimal digits, 00 to FF)").arg(free.code);
    if (free.param && free.bin)
        return QStringLiteral("--param and --bin exclude each other");

    PlannedCommand command;
    command.line = line;
    command.group = group;
    command.operation = QStringLiteral("code");
    command.code = *code;
    command.timeoutMs = settings.timeoutMs;
    command.dsr = settings.dsr;
    if (free.param || free.bin) {
        const ParameterBytes bytes = free.param ? parameterBytes(*free.param) : binParameterBytes(*free.bin);
        if (!bytes.ok())
            return QStringLiteral("%1: %2").arg(free.param ? QStringLiteral("--param") : QStringLiteral("--bin"),
                                                refusalWithoutBox(bytes.refusal));
        command.parameter = bytes.bytes;
        if (const QString tooLong = parameterTooLong(command.parameter); !tooLong.isEmpty())
            return QStringLiteral("%1: %2").arg(free.param ? QStringLiteral("--param") : QStringLiteral("--bin"), tooLong);
    }
    into << command;
    return {};
}

CommandPlan planOperationWords(const QStringList &words, const CommandDefaults &defaults)
{
    CommandPlan plan;
    int group = 0;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &name = words[i];
        const CardOperations::Operation *operation = CardOperations::findOperation(name);
        QString text;
        if (operation && operation->takesText()) {
            if (i + 1 >= words.size()) {
                plan.error = QStringLiteral("%1 needs its TEXT").arg(name);
                return plan;
            }
            text = words[++i];
        }
        plan.error = planOperation(name, text, defaults, 0, ++group, plan.commands);
        if (!plan.ok())
            return plan;
    }
    return plan;
}
