#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <span>

// The fixed card operations: the window's buttons and kestra-send's named operations take the
// command codes, parameters and time-outs from here, so that both put the same frames on the wire.
namespace CardOperations {

// Where a step's parameter comes from.
enum class Parameter {
    Fixed,       // the step's own parameter text (ASCII)
    Operator,    // what the operator typed (the window's parameter box, kestra-send's TEXT)
    SamplePrint, // the sample print text of the front end
};

// Where a step's time-out comes from.
enum class Timeout {
    Fixed,    // the step's own time-out
    Operator, // the window's time-out box, kestra-send's --timeout
};

// Whether the DSR check follows the operator's choice or is always on.
enum class Dsr { Option, AlwaysCheck };

struct Step
{
    quint8 code;
    const char *parameter; // Parameter::Fixed only; "" for none
    qint32 timeoutMs;      // Timeout::Fixed only
    Parameter parameterFrom = Parameter::Fixed;
    Timeout timeoutFrom = Timeout::Fixed;
    Dsr dsr = Dsr::Option;
    // Acts on what the step before put into the device (the data it writes or prints): skipped when
    // that step did not complete with result 0, since the device would use what its buffer still
    // holds from an earlier card (skipReason in protocol/OperationSteps).
    bool needsStepBefore = false;

    // Null when the step has no parameter, as the window has always passed it.
    QByteArray fixedParameter() const { return *parameter ? QByteArray(parameter) : QByteArray(); }
};

constexpr Step MagneticRead{DeviceCommand::MagneticRead, "", 30000};
constexpr Step BufferClear{DeviceCommand::BufferClear, "", 5000};
constexpr Step Reset{DeviceCommand::Reset, "", 30000};
constexpr Step Erase{DeviceCommand::Erase, "1", 30000};
constexpr Step Eject{DeviceCommand::Eject, "1", 10000};
// The magnetic write: the data, the write, then the eject.
constexpr Step MagneticData{DeviceCommand::MagneticData, "", 0, Parameter::Operator, Timeout::Operator};
constexpr Step MagneticWrite{DeviceCommand::MagneticWrite, "2", 0, Parameter::Fixed, Timeout::Operator, Dsr::Option,
                             true};
// The sample rewrite: the print data always goes out with the DSR check; no eject follows.
constexpr Step PrintSample{DeviceCommand::PrintData, "", 5000, Parameter::SamplePrint, Timeout::Fixed,
                           Dsr::AlwaysCheck};
constexpr Step Rewrite{DeviceCommand::Rewrite, "1", 60000, Parameter::Fixed, Timeout::Fixed, Dsr::Option, true};

// An operation's steps run in order, in the window (CardButtons.cpp) and in kestra-send
// (send/CommandPlan) alike; how a step's inputs are taken and when one is skipped is in
// protocol/OperationSteps.
struct Operation
{
    const char *name;    // kestra-send's word for it
    const char *summary; // for help texts
    std::span<const Step> steps;
    bool takesText() const { return takes(Parameter::Operator); }
    // Whether any step takes its parameter or its time-out from there.
    bool takes(Parameter from) const;
    bool takes(Timeout from) const;
};

// The operations by button, in the order of operations().
enum class OperationId { Read, Eject, Clear, Reset, Erase, Write, Sample };
const Operation &operation(OperationId id);

// Every named operation, in the order help texts list them.
std::span<const Operation> operations();
// The operation of that name (case-sensitive), or nullptr.
const Operation *findOperation(QStringView name);

} // namespace CardOperations
