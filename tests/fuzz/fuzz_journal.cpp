// Any bytes as a journal file, read strictly and leniently, and turned into a script and a
// capture: nothing may crash, and what the reader accepts must be what the journal writes.
#include "FuzzCheck.h"
#include "JournalCapture.h"
#include "JournalReader.h"
#include "JournalScript.h"
#include "JournalSummary.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

// The journal's own notation of bytes: lower-case hex, blanks, then the printable text.
QByteArray hexAndText(const QByteArray &bytes)
{
    QByteArray text = bytes.toHex(' ') + " |";
    for (char c : bytes)
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    return text + '|';
}

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
                FUZZ_CHECK(hexAndText(strict.bytes()) == line.rest.toByteArray());
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
        QString error;
        writeScript(reader, [](const QByteArray &) {}, &error);
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
