// Any bytes as a journal file, read strictly and leniently, and turned into a script and a
// capture: nothing may crash, and what the reader accepts must be what the journal writes.
#include "FuzzCheck.h"
#include "JournalCapture.h"
#include "JournalRedaction.h"
#include "JournalReader.h"
#include "JournalScript.h"
#include "JournalSummary.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

std::FILE *openInput(const uint8_t *data, size_t size)
{
    // fmemopen wants at least one byte of buffer: an empty input is an empty file.
    return size ? fmemopen(const_cast<uint8_t *>(data), size, "rb") : std::fopen("/dev/null", "rb");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString name = QStringLiteral("fuzz");
    qint64 strictLines = 0;
    {
        std::FILE *input = openInput(data, size);
        JournalReader strict(JournalReader::Mode::Strict);
        strict.open(input, name);
        JournalLine line;
        while (strict.next(&line)) {
            ++strictLines;
            if (line.isBytes()) {
                // A byte line is accepted only in the exact form the journal writes.
                FUZZ_CHECK(!strict.bytes().isEmpty());
                FUZZ_CHECK(Journal::hexAndText(strict.bytes()) == line.rest.toByteArray());
            } else if (line.kind == Journal::Kind::Command) {
                Journal::CommandEvent command;
                if (Journal::parseCommandEvent(line.rest, &command, nullptr))
                    FUZZ_CHECK(scriptCommandLine(command).startsWith("code "));
            }
        }
        std::fclose(input);
    }
    {
        std::FILE *input = openInput(data, size);
        JournalReader lenient(JournalReader::Mode::Lenient);
        lenient.open(input, name);
        JournalSummary summary;
        JournalLine line;
        qint64 read = 0;
        while (lenient.next(&line)) {
            summary.add(line);
            ++read;
        }
        // Strict reading stops at the first bad line; lenient reading gets at least as far.
        FUZZ_CHECK(read >= strictLines);
        FUZZ_CHECK(read <= lenient.linesRead());
        summary.setLinesRead(lenient.linesRead());
        summary.table(name);
        std::fclose(input);
    }
    {
        std::FILE *input = openInput(data, size);
        JournalReader reader(JournalReader::Mode::Strict);
        reader.open(input, name);
        // Every session taken, as a script of a journal chosen whole would.
        std::vector<bool> chosen(size_t(SessionTable::kMaxSessions) + 1, true);
        QString error;
        writeScript(reader, chosen, [](const QByteArray &) {}, &error);
        std::fclose(input);
    }
    {
        // The first pass of script and replay, and the choice it leads to.
        std::FILE *input = openInput(data, size);
        JournalReader reader(JournalReader::Mode::Lenient);
        reader.open(input, name);
        SessionTable table;
        JournalLine line;
        while (reader.next(&line) && table.add(line, reader.lineNumber())) {
        }
        std::vector<bool> chosen;
        QString error;
        chooseSessions(table.sessions(), SessionChoice{}, &chosen, &error);
        chooseSessions(table.sessions(), SessionChoice{"tcp", 0}, &chosen, &error);
        chooseSessions(table.sessions(), SessionChoice{{}, 2}, &chosen, &error);
        std::fclose(input);
    }
    {
        // A redacted line reads as a journal line whenever its original did, and redacting it
        // again changes nothing.
        std::FILE *input = openInput(data, size);
        LineSource source;
        source.open(input, name);
        QByteArrayView text;
        QByteArray bytes, reason;
        while (source.next(&text) == LineSource::Status::Line) {
            JournalLine original;
            const bool readable = parseJournalLine(text, &original, &bytes, &reason);
            const QByteArray redacted = Journal::redactLine(text);
            JournalLine after;
            if (readable) {
                FUZZ_CHECK(parseJournalLine(redacted, &after, &bytes, &reason));
                FUZZ_CHECK(after.kind == original.kind);
            }
            FUZZ_CHECK(Journal::redactLine(redacted) == redacted);
        }
        std::fclose(input);
    }
    {
        std::FILE *input = openInput(data, size);
        char *captured = nullptr;
        size_t capturedSize = 0;
        std::FILE *out = open_memstream(&captured, &capturedSize);
        JournalReader reader(JournalReader::Mode::Strict);
        reader.open(input, name);
        QString error;
        writeCapture(reader, out, &error);
        std::fclose(out);
        std::free(captured);
        std::fclose(input);
    }
    return 0;
}
