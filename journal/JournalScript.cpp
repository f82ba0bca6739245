#include "JournalScript.h"

#include <map>

namespace {

bool isPlainText(const QByteArray &bytes)
{
    // Printable ASCII reads the same in CP932 and on a terminal; anything else goes byte for byte.
    for (char c : bytes) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

// A word the script reader takes back as it is: single quotes unless the text holds one.
QByteArray quoted(const QByteArray &text)
{
    if (!text.contains('\''))
        return '\'' + text + '\'';
    QByteArray out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// BIN mode: "$hh" for every byte that is not plain ASCII, and for "$" itself.
QByteArray binText(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() * 3);
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        if (c >= 0x20 && c <= 0x7E && c != '$') {
            out += c;
        } else {
            out += '$';
            out += kHex[(uchar(c) >> 4) & 0xF];
            out += kHex[uchar(c) & 0xF];
        }
    }
    return out;
}

struct Pending
{
    Journal::CommandEvent command;
    qint64 line = 0;
    QByteArray afterwards; // comments on what happened while it ran (a loss), told after it
};

QByteArray lineNumberComment(const QString &path, qint64 line)
{
    return QStringLiteral("%1:%2").arg(path).arg(line).toUtf8();
}

bool taken(const std::vector<bool> &chosen, int session)
{
    return session > 0 && size_t(session) < chosen.size() && chosen[size_t(session)];
}

} // namespace

QByteArray scriptCommandLine(const Journal::CommandEvent &command)
{
    QByteArray line = "code " + QByteArray::number(command.code, 16).rightJustified(2, '0');
    if (!command.parameter.isEmpty())
        line += isPlainText(command.parameter) ? " --param " + quoted(command.parameter)
                                               : " --bin " + quoted(binText(command.parameter));
    line += " --timeout " + QByteArray::number(command.timeoutMs);
    line += command.dsr ? " --dsr" : " --no-dsr";
    return line;
}

bool writeScript(JournalReader &reader, const std::vector<bool> &chosen, const std::function<void(const QByteArray &)> &write,
                 QString *error)
{
    using Journal::Kind;
    write("# kestra-send script made by kestra-journal from " + reader.path().toUtf8() + "\n"
          "# Each command comes after what it did when it was recorded; \"reopen\" closes the link\n"
          "# and opens it again where the recording began a new session (another run, or after\n"
          "# the device hung up). Run it again with\n"
          "#   kestra-send LINK --keep-going -f THIS-FILE\n"
          "# (--keep-going: a recorded session goes on after a command that failed).\n");
    // The command waiting for its end, per session: the comment before it needs the outcome.
    std::map<int, Pending> pending;
    int current = 0; // the taken session whose lines came last
    auto emitCommand = [&](const Pending &command, const QByteArray &outcome) {
        write("\n# " + lineNumberComment(reader.path(), command.line) + ": " + outcome + "\n"
              + scriptCommandLine(command.command) + "\n" + command.afterwards);
    };
    auto here = [&] { return "# " + lineNumberComment(reader.path(), reader.lineNumber()) + ": "; };
    JournalLine line;
    while (reader.next(&line)) {
        if (line.isBytes() || !taken(chosen, line.sessionNumber))
            continue;
        const int session = line.sessionNumber;
        const auto running = pending.find(session);
        switch (line.kind) {
        case Kind::Open:
            // A command of the session before that never ended goes out before the link is
            // opened again, where it ran.
            for (const auto &[number, command] : pending)
                emitCommand(command, "no end recorded");
            pending.clear();
            write("\n# session " + QByteArray::number(session) + ": " + line.rest.toByteArray() + ", opened at "
                  + line.time.toByteArray() + " (" + lineNumberComment(reader.path(), reader.lineNumber()) + ")\n");
            if (current != 0 && current != session)
                write("reopen\n");
            break;
        case Kind::OpenFailed:
            write("\n" + here() + "session " + QByteArray::number(session) + " did not open as recorded: "
                  + Journal::openFailureReason(line.rest).toByteArray() + "\n");
            break;
        case Kind::Command: {
            Pending command;
            QByteArray reason;
            if (!Journal::parseCommandEvent(line.rest, &command.command, &reason)) {
                *error = reader.where() + QString::fromUtf8(reason);
                return false;
            }
            command.line = reader.lineNumber();
            if (running != pending.end())
                emitCommand(running->second, "no end recorded");
            pending[session] = command;
            break;
        }
        case Kind::End: {
            Journal::EndEvent end;
            QByteArray reason;
            if (!Journal::parseEndEvent(line.rest, &end, &reason)) {
                *error = reader.where() + QString::fromUtf8(reason);
                return false;
            }
            if (running == pending.end() || running->second.command.code != end.code) {
                *error = reader.where() + QStringLiteral("an end without its command");
                return false;
            }
            emitCommand(running->second, "recorded end " + line.rest.toByteArray());
            pending.erase(running);
            break;
        }
        case Kind::Lost:
        case Kind::Close: {
            // The end of a command that was running comes after the loss; the loss is told after
            // the command, where it happened in the run.
            const QByteArray comment = line.kind == Kind::Lost
                                           ? here() + "the link was lost here as recorded: "
                                                 + Journal::lossReason(line.rest).toByteArray() + "\n"
                                           : here() + "closed as recorded\n";
            if (running != pending.end())
                running->second.afterwards += comment;
            else
                write("\n" + comment);
            break;
        }
        case Kind::Refused:
            write("\n" + here() + "refused, nothing sent: " + line.rest.toByteArray() + "\n");
            break;
        case Kind::Skipped:
            write("\n" + here() + "skipped, nothing sent: " + line.rest.toByteArray() + "\n");
            break;
        case Kind::Stopped:
            write("\n" + here() + "the run stopped here as recorded: " + line.rest.toByteArray() + "\n");
            break;
        default:
            break;
        }
        current = session;
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return false;
    }
    for (const auto &[session, command] : pending)
        emitCommand(command, "no end recorded (the journal ends here)");
    return true;
}
