#pragma once

#include <cstdint>

// The device protocol's constants, shared by the control, the front ends, the emulator, the
// benchmarks and the tests, so that no code or byte is written down twice. Plain C++ (no Qt), so
// that the benchmarks' plain client can share it too.

// Control bytes and limits of the frame (Frame.h has the frame's layout).
namespace Wire {
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr int kMaxBody = 65535;
constexpr int kOverhead = 5; // STX, two LEN bytes, ETX, BCC
}

// Status bytes the device puts first in a response body.
namespace DeviceStatus {
constexpr std::uint8_t Normal = 0x20;
constexpr std::uint8_t NoCard = 0x30;         // the command needs a card and the slot is empty
constexpr std::uint8_t ParameterError = 0x31; // a parameter the command does not accept
constexpr std::uint8_t UnknownCommand = 0x32;
constexpr std::uint8_t ReadError = 0x33;      // nothing readable on the stripe (blank)
constexpr std::uint8_t BufferEmpty = 0x34;    // nothing to write or print
constexpr std::uint8_t BufferFull = 0x35;     // the data would not fit the buffer
}

// Command bytes, as the device's letters.
namespace DeviceCommand {
constexpr std::uint8_t MagneticRead = 0x22;   // '"'
constexpr std::uint8_t MagneticWrite = 0x31;  // '1', parameter "2"
constexpr std::uint8_t MagneticData = 0x39;   // '9'
constexpr std::uint8_t PrintData = 0x41;      // 'A'
constexpr std::uint8_t Rewrite = 0x46;        // 'F', parameter "1"
constexpr std::uint8_t Erase = 0x48;          // 'H', parameter "1"
constexpr std::uint8_t BufferClear = 0x49;    // 'I'
constexpr std::uint8_t Eject = 0x50;          // 'P', parameter "1"
constexpr std::uint8_t Reset = 0x5F;          // '_'
}
