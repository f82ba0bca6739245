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
};

QByteArray lineNumberComment(const QString &path, qint64 line)
{
    return QStringLiteral("%1:%2").arg(path).arg(line).toUtf8();
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

bool writeScript(JournalReader &reader, const std::vector<bool> &chosen,
                 const std::function<void(const QByteArray &)> &write, QString *error)
{
    Q_UNUSED(chosen);
    write("# kestra-send script made by kestra-journal from " + reader.path().toUtf8() + "\n"
          "# Each command comes after what it did when it was recorded. Run it again with\n"
          "#   kestra-send LINK --keep-going -f THIS-FILE\n"
          "# (--keep-going: a recorded session goes on after a command that failed).\n");
    // The command waiting for its end, per link: the comment before it needs the outcome.
    std::map<QByteArray, Pending> pending;
    auto emitCommand = [&](const Pending &command, const QByteArray &outcome) {
        write("\n# " + lineNumberComment(reader.path(), command.line) + ": " + outcome + "\n"
              + scriptCommandLine(command.command) + "\n");
    };
    JournalLine line;
    while (reader.next(&line)) {
        if (line.isBytes())
            continue;
        const QByteArray link = line.link.toByteArray();
        if (line.kind == Journal::Kind::Command) {
            Pending command;
            QByteArray reason;
            if (!Journal::parseCommandEvent(line.rest, &command.command, &reason)) {
                *error = reader.where() + QString::fromUtf8(reason);
                return false;
            }
            command.line = reader.lineNumber();
            if (auto it = pending.find(link); it != pending.end())
                emitCommand(it->second, "no end recorded");
            pending[link] = command;
        } else if (line.kind == Journal::Kind::End) {
            Journal::EndEvent end;
            QByteArray reason;
            if (!Journal::parseEndEvent(line.rest, &end, &reason)) {
                *error = reader.where() + QString::fromUtf8(reason);
                return false;
            }
            auto it = pending.find(link);
            if (it == pending.end() || it->second.command.code != end.code) {
                *error = reader.where() + QStringLiteral("an end without its command");
                return false;
            }
            emitCommand(it->second, "recorded end " + line.rest.toByteArray());
            pending.erase(it);
        } else if (line.kind == Journal::Kind::Refused) {
            write("\n# " + lineNumberComment(reader.path(), reader.lineNumber()) + ": refused, nothing sent: "
                  + line.rest.toByteArray() + "\n");
        }
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return false;
    }
    for (const auto &[link, command] : pending)
        emitCommand(command, "no end recorded (the journal ends here)");
    return true;
}
