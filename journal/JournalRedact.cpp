#include "JournalRedact.h"

#include "JournalRedaction.h"

bool writeRedacted(JournalReader &reader, const std::function<void(const QByteArray &)> &write, QString *error)
{
    JournalLine line;
    while (reader.next(&line)) {
        QByteArray redacted = Journal::redactLine(line.raw);
        redacted += '\n';
        write(redacted);
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return false;
    }
    return true;
}
