#include "JournalProgram.h"

#include "JournalCapture.h"
#include "JournalReader.h"
#include "JournalScript.h"
#include "JournalSummary.h"

#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

void printError(const QString &text)
{
    std::fprintf(stderr, "kestra-journal: %s\n", text.toLocal8Bit().constData());
}

int usage(const QString &text)
{
    printError(text + QStringLiteral(" (see --help)"));
    return JournalExit::Usage;
}

struct Arguments
{
    QString action;
    QString file;
    QString output;
    bool json = false;
};

// False with a usage message.
bool readArguments(const QStringList &arguments, Arguments *into, QString *error)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        if (word == u"--json") {
            into->json = true;
        } else if (word == u"-o" || word == u"--output") {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a file").arg(word);
                return false;
            }
            into->output = arguments[++i];
        } else if (word.startsWith(u'-') && word != u"-") {
            *error = QStringLiteral("unknown option %1").arg(word);
            return false;
        } else if (into->action.isEmpty()) {
            into->action = word;
        } else if (into->file.isEmpty()) {
            into->file = word;
        } else {
            *error = QStringLiteral("unexpected '%1'").arg(word);
            return false;
        }
    }
    if (into->action.isEmpty()) {
        *error = QStringLiteral("say what to do: summary, script or pcapng");
        return false;
    }
    if (into->action != u"summary" && into->action != u"script" && into->action != u"pcapng") {
        *error = QStringLiteral("unknown action '%1': summary, script or pcapng").arg(into->action);
        return false;
    }
    if (into->file.isEmpty()) {
        *error = QStringLiteral("%1 needs the journal FILE").arg(into->action);
        return false;
    }
    if (into->json && into->action != u"summary") {
        *error = QStringLiteral("--json goes with summary only");
        return false;
    }
    if (into->action == u"pcapng" && into->output.isEmpty()) {
        *error = QStringLiteral("pcapng needs -o CAPTURE");
        return false;
    }
    if (into->action == u"summary" && !into->output.isEmpty()) {
        *error = QStringLiteral("summary writes to standard output; -o goes with script and pcapng");
        return false;
    }
    return true;
}

struct FileCloser
{
    void operator()(std::FILE *file) const
    {
        if (file && file != stdout)
            std::fclose(file);
    }
};
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

OutputFile openOutput(const QString &path, const char *mode, QString *error)
{
    if (path.isEmpty() || path == u"-")
        return OutputFile(stdout);
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), mode);
    if (!file)
        *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return OutputFile(file);
}

bool finishOutput(OutputFile &file, const QString &path, QString *error)
{
    std::FILE *raw = file.release();
    const bool ok = std::fflush(raw) == 0 && !std::ferror(raw) && (raw == stdout || std::fclose(raw) == 0);
    if (!ok)
        *error = QStringLiteral("%1: writing failed").arg(path.isEmpty() ? QStringLiteral("standard output") : path);
    return ok;
}

int summarize(const Arguments &args)
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
    if (reader.linesRead() > 0 && reader.skipped() >= reader.linesRead()) {
        printError(QStringLiteral("%1 is not a journal: no line could be read (the first: %2)")
                       .arg(args.file, reader.firstSkipped()));
        return JournalExit::BadJournal;
    }
    summary.setLinesRead(reader.linesRead());
    summary.setSkipped(reader.skipped(), reader.firstSkipped());
    const QByteArray text = args.json ? QJsonDocument(summary.json(args.file)).toJson(QJsonDocument::Compact) + '\n'
                                      : summary.table(args.file).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return std::fflush(stdout) == 0 ? JournalExit::Done : JournalExit::BadJournal;
}

int convert(const Arguments &args)
{
    JournalReader reader(JournalReader::Mode::Strict);
    QString error;
    if (!reader.open(args.file, &error)) {
        printError(error);
        return JournalExit::BadJournal;
    }
    const bool capture = args.action == u"pcapng";
    OutputFile out = openOutput(args.output, capture ? "wbe" : "we", &error);
    if (!out) {
        printError(error);
        return JournalExit::BadJournal;
    }
    std::FILE *stream = out.get();
    const bool converted = capture ? writeCapture(reader, stream, &error)
                                   : writeScript(reader, [stream](const QByteArray &text) {
                                         std::fwrite(text.constData(), 1, size_t(text.size()), stream);
                                     }, &error);
    QString writeError;
    const bool written = finishOutput(out, args.output, &writeError);
    if (!converted || !written) {
        // Half a script or capture would pass for a whole one.
        if (!args.output.isEmpty() && args.output != u"-")
            QFile::remove(args.output);
        printError(converted ? writeError : error);
        return JournalExit::BadJournal;
    }
    return JournalExit::Done;
}

} // namespace

int runJournal(const QStringList &arguments)
{
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(journalHelpText().toLocal8Bit().constData(), stdout);
        return JournalExit::Done;
    }
    if (arguments.contains(QStringLiteral("--version")) || arguments.contains(QStringLiteral("-v"))) {
        std::printf("kestra-journal %s\nQt %s\n", BRINDLE_VERSION, qVersion());
        return JournalExit::Done;
    }
    Arguments args;
    QString error;
    if (!readArguments(arguments, &args, &error))
        return usage(error);
    return args.action == u"summary" ? summarize(args) : convert(args);
}
