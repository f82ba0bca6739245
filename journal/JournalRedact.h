#pragma once

#include "JournalReader.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Writes the journal again with its card data replaced (Journal::redactLine), line for line, for
// a journal that leaves the site. False with "FILE:LINE: reason" at the first line that is not a
// journal line: a redacted journal must hold nothing that was not redacted.
bool writeRedacted(JournalReader &reader, const std::function<void(const QByteArray &)> &write, QString *error);
