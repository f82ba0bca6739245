#pragma once

#include <optional>

// The modem lines of a serial link, as far as the port can report them. Kept behind this small
// interface so that the DSR check can be driven without a physical line.
class ModemLines
{
public:
    virtual ~ModemLines() = default;

    // True when DSR is active, false when it is not, nothing when the port cannot report its
    // modem lines at all (a pseudo-terminal, for one).
    virtual std::optional<bool> dsrActive() = 0;
};
