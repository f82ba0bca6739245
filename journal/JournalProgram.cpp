#include "JournalProgram.h"

#include "BrindleVersion.h"
#include "JournalArguments.h"
#include "JournalCapture.h"
#include "JournalReader.h"
#include "JournalRedact.h"
#include "JournalScript.h"
#include "JournalSummary.h"
#include "OutputFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

void printError(const QString &text)
{
    std::fprintf(stderr, "kestra-journal: %s\n", text.toLocal8Bit().constData());
}

bool printOut(const QByteArray &text)
{
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size())
           && std::fflush(stdout) == 0;
}

QString noLines(const QString &file)
{
    return QStringLiteral("%1: no journal lines").arg(file);
}

// A journal that is read twice (a first pass for its sessions): standard input is kept in a
// temporary file for the second reading.
class JournalInput
{
public:
    bool open(const QString &file, QString *error)
    {
        m_name = file;
        if (file != u"-") {
            m_path = file;
            return true;
        }
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly) || !m_copy.open()) {
            *error = QStringLiteral("-: cannot keep standard input for a second reading: %1").arg(m_copy.errorString());
            return false;
        }
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(1 << 16);
            if (chunk.isEmpty() || m_copy.write(chunk) != chunk.size()) {
                *error = QStringLiteral("-: cannot keep standard input for a second reading: %1").arg(m_copy.errorString());
                return false;
            }
        }
        m_copy.flush();
        m_path = m_copy.fileName();
        return true;
    }

    // Opens a reader on it, named as the user named the file.
    bool read(JournalReader &reader, QString *error) const
    {
        if (m_path == m_name)
            return reader.open(m_path, error);
        std::FILE *stream = std::fopen(QFile::encodeName(m_path).constData(), "rbe");
        if (!stream) {
            *error = QStringLiteral("-: the copy of standard input cannot be read again");
            return false;
        }
        m_streams.emplace_back(stream, &std::fclose);
        reader.open(stream, m_name);
        return true;
    }

private:
    QString m_name;
    QString m_path;
    QTemporaryFile m_copy;
    mutable std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE *)>> m_streams;
};

int summarize(const JournalArguments &args)
{
    JournalReader reader(JournalReader::Mode::Lenient);
    QString error;
    if (!reader.open(args.file, &error)) {
        printError(error);
        return JournalExit::BadJournal;
    }
    JournalSummary summary;
    JournalLine line;
    while (reader.next(&line))
        summary.add(line);
    if (!reader.error().isEmpty()) {
        printError(reader.error());
        return JournalExit::BadJournal;
    }
    if (reader.linesRead() == 0) {
        printError(noLines(args.file));
        return JournalExit::BadJournal;
    }
    if (reader.skipped() >= reader.linesRead()) {
        printError(QStringLiteral("%1 is not a journal: no line could be read (the first: %2)")
                       .arg(args.file, reader.firstSkipped()));
        return JournalExit::BadJournal;
    }
    summary.setLinesRead(reader.linesRead());
    summary.setSkipped(reader.skipped(), reader.firstSkipped());
    const QByteArray text = args.json ? QJsonDocument(summary.json(args.file)).toJson(QJsonDocument::Compact) + '\n'
                                      : summary.table(args.file).toUtf8();
    if (!printOut(text)) {
        printError(QStringLiteral("standard output: writing failed"));
        return JournalExit::BadJournal;
    }
    return JournalExit::Done;
}

// The first pass of a script: which sessions it takes. Exit status, or -1 to go on.
int chooseForScript(const JournalArguments &args, const JournalInput &input, std::vector<bool> *chosen)
{
    JournalReader reader(JournalReader::Mode::Strict);
    QString error;
    if (!input.read(reader, &error)) {
        printError(error);
        return JournalExit::BadJournal;
    }
    SessionTable table;
    JournalLine line;
    while (reader.next(&line)) {
        if (!table.add(line, reader.lineNumber())) {
            printError(reader.where() + QStringLiteral("more than %1 sessions in one journal").arg(SessionTable::kMaxSessions));
            return JournalExit::BadJournal;
        }
    }
    if (!reader.error().isEmpty()) {
        printError(reader.error());
        return JournalExit::BadJournal;
    }
    if (reader.linesRead() == 0) {
        printError(noLines(args.file));
        return JournalExit::BadJournal;
    }
    if (!chooseSessions(table.sessions(), args.choice, chosen, &error)) {
        printError(QStringLiteral("%1: %2").arg(args.file, error));
        return JournalExit::Usage;
    }
    return -1;
}

int convert(const JournalArguments &args)
{
    using Action = JournalArguments::Action;
    JournalInput input;
    QString error;
    std::vector<bool> chosen;
    if (args.action == Action::Script) {
        if (!input.open(args.file, &error)) {
            printError(error);
            return JournalExit::BadJournal;
        }
        if (const int status = chooseForScript(args, input, &chosen); status >= 0)
            return status;
    }
    JournalReader reader(JournalReader::Mode::Strict);
    const bool opened = args.action == Action::Script ? input.read(reader, &error) : reader.open(args.file, &error);
    if (!opened) {
        printError(error);
        return JournalExit::BadJournal;
    }
    OutputFile out;
    if (!out.open(args.output, &error)) {
        printError(error);
        return JournalExit::BadJournal;
    }
    std::FILE *stream = out.stream();
    const auto write = [stream](const QByteArray &text) { std::fwrite(text.constData(), 1, size_t(text.size()), stream); };
    bool converted = false;
    switch (args.action) {
    case Action::Script:
        converted = writeScript(reader, chosen, write, &error);
        break;
    case Action::Pcapng:
        converted = writeCapture(reader, stream, &error);
        break;
    case Action::Redact:
        converted = writeRedacted(reader, write, &error);
        break;
    default:
        break;
    }
    if (converted && reader.linesRead() == 0) {
        converted = false;
        error = noLines(args.file);
    }
    if (!converted && std::ferror(stream)) {
        const int reason = errno;
        error = QStringLiteral("%1: writing failed: %2")
                    .arg(args.output.isEmpty() || args.output == u"-" ? QStringLiteral("standard output") : args.output,
                         QString::fromLocal8Bit(std::strerror(reason)));
    }
    if (!converted) {
        // Half a script or capture would pass for a whole one; what was there stays.
        out.abandon();
        printError(error);
        return JournalExit::BadJournal;
    }
    if (!out.commit(&error)) {
        printError(error);
        return JournalExit::BadJournal;
    }
    return JournalExit::Done;
}

} // namespace

int runJournal(const QStringList &arguments)
{
    using Action = JournalArguments::Action;
    const JournalArguments args = readJournalArguments(arguments);
    switch (args.action) {
    case Action::Help:
        return printOut(journalHelpText().toLocal8Bit()) ? JournalExit::Done : JournalExit::BadJournal;
    case Action::Version:
        return printOut(QStringLiteral("kestra-journal %1\nQt %2\n")
                            .arg(QLatin1String(BRINDLE_VERSION), QLatin1String(qVersion()))
                            .toLocal8Bit())
                   ? JournalExit::Done
                   : JournalExit::BadJournal;
    case Action::UsageError:
        printError(args.error + QStringLiteral(" (see --help)"));
        return JournalExit::Usage;
    case Action::Summary:
        return summarize(args);
    case Action::Script:
    case Action::Pcapng:
    case Action::Redact:
        return convert(args);
    }
    return JournalExit::Usage;
}
