#include "ScriptReader.h"

#include "protocol/CardOperations.h"

namespace {

// The words after "code": HEX, then options in any order.
QString planCodeLine(const QStringList &words, const CommandDefaults &defaults, int line, int group,
                     QList<PlannedCommand> &into)
{
    if (words.size() < 2)
        return QStringLiteral("code needs a command code (code HEX ...)");
    FreeCommand command;
    command.code = words[1];
    CommandDefaults settings = defaults;
    for (qsizetype i = 2; i < words.size(); ++i) {
        const QString &word = words[i];
        const bool takesValue = word == u"--param" || word == u"--bin" || word == u"--timeout";
        if (takesValue && i + 1 >= words.size())
            return QStringLiteral("%1 needs a value").arg(word);
        if (word == u"--param" || word == u"--bin") {
            std::optional<QString> &slot = word == u"--param" ? command.param : command.bin;
            if (slot)
                return QStringLiteral("%1 is given twice").arg(word);
            slot = words[++i];
        } else if (word == u"--timeout") {
            const std::optional<qint32> timeout = readTimeoutMs(words[++i]);
            if (!timeout)
                return QStringLiteral("--timeout takes milliseconds from 0 (no limit) to 2147483647 (got '%1')")
                    .arg(words[i]);
            settings.timeoutMs = *timeout;
        } else if (word == u"--dsr" || word == u"--no-dsr") {
            settings.dsr = word == u"--dsr";
        } else {
            return QStringLiteral("unexpected '%1' (code HEX [--param TEXT | --bin TEXT] [--timeout MS] "
                                  "[--dsr | --no-dsr])")
                .arg(word);
        }
    }
    return planFreeCommand(command, settings, line, group, into);
}

// A journal's script reopens the link where the recording began a new session.
QString planReopen(const QStringList &words, int line, int group, QList<PlannedCommand> &into)
{
    if (words.size() > 1)
        return QStringLiteral("unexpected '%1' after reopen (it takes nothing: the link opens again as it opened first)")
            .arg(words[1]);
    PlannedCommand reopen;
    reopen.line = line;
    reopen.group = group;
    reopen.operation = QStringLiteral("reopen");
    reopen.reopen = true;
    into << reopen;
    return {};
}

QString planLine(const QStringList &words, const CommandDefaults &defaults, int line, int group,
                 QList<PlannedCommand> &into)
{
    if (words.first() == u"code")
        return planCodeLine(words, defaults, line, group, into);
    if (words.first() == u"reopen")
        return planReopen(words, line, group, into);
    const CardOperations::Operation *operation = CardOperations::findOperation(words.first());
    const qsizetype wanted = operation && operation->takesText() ? 2 : 1;
    if (operation && words.size() < wanted)
        return QStringLiteral("%1 needs its TEXT (quote it when it has blanks)").arg(words.first());
    if (operation && words.size() > wanted)
        return QStringLiteral("unexpected '%1' after %2%3")
            .arg(words[wanted], words.first(),
                 wanted == 2 ? QStringLiteral(" TEXT (quote a TEXT that has blanks)") : QString());
    return planOperation(words.first(), words.value(1), defaults, line, group, into);
}

} // namespace

SplitLine splitWords(QStringView line)
{
    SplitLine result;
    QString word;
    bool inWord = false;
    enum class Quote { None, Single, Double } quote = Quote::None;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quote == Quote::Single) {
            if (c == u'\'')
                quote = Quote::None;
            else
                word += c;
            continue;
        }
        if (quote == Quote::Double) {
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\') {
                if (++i >= line.size())
                    break; // unterminated: reported below
                word += line[i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\r') {
            if (inWord)
                result.words << word;
            word.clear();
            inWord = false;
        } else if (c == u'#') {
            break;
        } else if (c == u'\'' || c == u'"') {
            quote = c == u'\'' ? Quote::Single : Quote::Double;
            inWord = true;
        } else if (c == u'\\') {
            if (++i >= line.size()) {
                result.error = QStringLiteral("a backslash at the end of the line escapes nothing");
                return result;
            }
            word += line[i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote != Quote::None) {
        result.error = quote == Quote::Single ? QStringLiteral("a single quote is not closed")
                                              : QStringLiteral("a double quote is not closed");
        return result;
    }
    if (inWord)
        result.words << word;
    return result;
}

CommandPlan planScript(const QString &text, const QString &name, const CommandDefaults &defaults)
{
    CommandPlan plan;
    const QStringList lines = text.split(QLatin1Char('\n'));
    int group = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i + 1);
        const SplitLine split = splitWords(lines[i]);
        QString error = split.error;
        if (error.isEmpty() && !split.words.isEmpty())
            error = planLine(split.words, defaults, lineNumber, ++group, plan.commands);
        if (!error.isEmpty()) {
            plan.commands.clear();
            plan.error = QStringLiteral("%1:%2: %3").arg(name).arg(lineNumber).arg(error);
            return plan;
        }
    }
    return plan;
}
