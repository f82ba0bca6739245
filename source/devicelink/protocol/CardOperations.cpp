#include "protocol/CardOperations.h"

#include <algorithm>
#include <array>

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

} // namespace

bool Operation::takesText() const
{
    return std::any_of(steps.begin(), steps.end(),
                       [](const Step &step) { return step.parameterFrom == Parameter::Operator; });
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
