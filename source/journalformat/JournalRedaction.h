#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Card data out of a journal, for a journal that leaves the site (kestra-journal redact) or that
// must never hold card data at all (the programs' --journal-redact). docs/journal.md tells what
// is replaced and what is kept.
namespace Journal {

// The line (without its newline) with its card data replaced; a line that is not a journal line
// comes back as it is.
QByteArray redactLine(QByteArrayView line);

} // namespace Journal
