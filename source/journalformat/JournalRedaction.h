#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Card data out of a journal, for a journal that leaves the site (kestra-journal redact) or that
// must never hold card data at all (the programs' --journal-redact). docs/journal.md tells what
// is replaced and what is kept.
namespace Journal {

// What every byte of card data becomes. Printable ASCII, so that a line's printable part and an
// end's text show where the data was and how long it was; one byte in CP932, so that the text
// made again from the data reads one character for each; no hexadecimal digit, quote or
// backslash, so that nothing around it reads differently; and none of the track's sentinels and
// separators (% ; ? = ^), which are kept.
inline constexpr char kPlaceholder = 'X';

// The line (without its newline) with its card data replaced byte for byte, so that lengths,
// codes, status bytes, times and whether each frame was sound stay as they were; a line that is
// not a journal line comes back as it is. A redacted line comes back unchanged.
QByteArray redactLine(QByteArrayView line);

} // namespace Journal
