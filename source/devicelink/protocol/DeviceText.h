#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

// Text crosses the device boundary as bytes in the device's code page, CP932 (Windows-31J).

// Device bytes as text. A byte sequence that does not decode shows as U+FFFD, never as nothing.
QString decodeDeviceText(const QByteArray &bytes);

// Device bytes as text that stays on its line: \\ and \" escaped, \n, \r, \t, and \xNN for any
// other control character and for every byte that is no character. The journal, kestra-send and
// the Wireshark dissector show device text this way.
QString escapedDeviceText(const QByteArray &bytes);
// One character escaped as escapedDeviceText escapes it.
void appendEscapedChar(QString &out, QChar c);

struct DeviceBytes
{
    QByteArray bytes;
    // The first character the code page cannot represent (nothing when all of them can).
    std::optional<char32_t> unencodable;
};

DeviceBytes encodeDeviceText(QStringView text);
