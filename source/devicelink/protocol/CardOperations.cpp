#include "protocol/CardOperations.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace CardOperations {

namespace {

constexpr std::array kRead{MagneticRead};
constexpr std::array kEject{Eject};
constexpr std::array kClear{BufferClear};
constexpr std::array kReset{Reset};
constexpr std::array kErase{Erase};
constexpr std::array kWrite{MagneticData, MagneticWrite, Eject};
constexpr std::array kSample{PrintSample, Rewrite};

constexpr std::array kOperations{
    Operation{"read", "magnetic read", kRead},
    Operation{"eject", "eject the card", kEject},
    Operation{"clear", "buffer clear", kClear},
    Operation{"reset", "reset the device", kReset},
    Operation{"erase", "erase the rewritable surface", kErase},
    Operation{"write", "magnetic data TEXT, magnetic write, eject", kWrite},
    Operation{"sample", "sample print data, then rewrite", kSample},
};

// A step that needs the step before acts on what that step put into the device: the first step of
// an operation has none, and would be skipped for what another operation left.
constexpr bool firstStepsStandAlone()
{
    for (const Operation &operation : kOperations) {
        if (operation.steps.empty() || operation.steps.front().needsStepBefore)
            return false;
    }
    return true;
}
static_assert(firstStepsStandAlone());

// OperationId names kOperations' rows.
constexpr bool named(OperationId id, std::string_view name)
{
    return name == kOperations[size_t(id)].name;
}
static_assert(kOperations.size() == size_t(OperationId::Sample) + 1);
static_assert(named(OperationId::Read, "read") && named(OperationId::Eject, "eject") && named(OperationId::Clear, "clear")
              && named(OperationId::Reset, "reset") && named(OperationId::Erase, "erase")
              && named(OperationId::Write, "write") && named(OperationId::Sample, "sample"));

} // namespace

bool Operation::takes(Parameter from) const
{
    return std::any_of(steps.begin(), steps.end(), [from](const Step &step) { return step.parameterFrom == from; });
}

bool Operation::takes(Timeout from) const
{
    return std::any_of(steps.begin(), steps.end(), [from](const Step &step) { return step.timeoutFrom == from; });
}

const Operation &operation(OperationId id)
{
    return kOperations[size_t(id)];
}

std::span<const Operation> operations()
{
    return kOperations;
}

const Operation *findOperation(QStringView name)
{
    for (const Operation &operation : kOperations) {
        if (name == QLatin1StringView(operation.name))
            return &operation;
    }
    return nullptr;
}

} // namespace CardOperations
