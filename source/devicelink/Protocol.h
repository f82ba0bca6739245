#pragma once

#include <QtGlobal>

// The device protocol's constants, shared by the control, the front ends, the emulator, the
// benchmarks and the tests, so that no code or byte is written down twice.

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
constexpr quint8 Normal = 0x20;
constexpr quint8 NoCard = 0x30;         // the command needs a card and the slot is empty
constexpr quint8 ParameterError = 0x31; // a parameter the command does not accept
constexpr quint8 UnknownCommand = 0x32;
constexpr quint8 ReadError = 0x33;      // nothing readable on the stripe (blank)
constexpr quint8 BufferEmpty = 0x34;    // nothing to write or print
constexpr quint8 BufferFull = 0x35;     // the data would not fit the buffer
}

// Command bytes, as the device's letters.
namespace DeviceCommand {
constexpr quint8 MagneticRead = 0x22;   // '"'
constexpr quint8 MagneticWrite = 0x31;  // '1', parameter "2"
constexpr quint8 MagneticData = 0x39;   // '9'
constexpr quint8 PrintData = 0x41;      // 'A'
constexpr quint8 Rewrite = 0x46;        // 'F', parameter "1"
constexpr quint8 Erase = 0x48;          // 'H', parameter "1"
constexpr quint8 BufferClear = 0x49;    // 'I'
constexpr quint8 Eject = 0x50;          // 'P', parameter "1"
constexpr quint8 Reset = 0x5F;          // '_'
}
