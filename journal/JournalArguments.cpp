#include "JournalArguments.h"

#include <QCommandLineParser>

namespace {

JournalArguments usage(const QString &error)
{
    JournalArguments wrong;
    wrong.action = JournalArguments::Action::UsageError;
    wrong.error = error;
    return wrong;
}

} // namespace

JournalArguments readJournalArguments(const QStringList &arguments)
{
    using Action = JournalArguments::Action;
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("FILE"));
    const QCommandLineOption link(QStringLiteral("link"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption session(QStringLiteral("session"), QString(), QStringLiteral("N"));
    parser.addOptions({help, version, json, output, link, session});
    if (!parser.parse(QStringList{QStringLiteral("kestra-journal")} + arguments))
        return usage(parser.errorText());

    JournalArguments args;
    if (parser.isSet(help)) {
        args.action = Action::Help;
        return args;
    }
    if (parser.isSet(version)) {
        args.action = Action::Version;
        return args;
    }
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usage(QStringLiteral("say what to do: summary, script, pcapng or redact"));
    const QString &name = words.first();
    if (name == u"summary")
        args.action = Action::Summary;
    else if (name == u"script")
        args.action = Action::Script;
    else if (name == u"pcapng")
        args.action = Action::Pcapng;
    else if (name == u"redact")
        args.action = Action::Redact;
    else
        return usage(QStringLiteral("unknown action '%1': summary, script, pcapng or redact").arg(name));
    if (words.size() < 2)
        return usage(QStringLiteral("%1 needs the journal FILE").arg(name));
    if (words.size() > 2)
        return usage(QStringLiteral("unexpected '%1'").arg(words[2]));
    args.file = words[1];
    args.json = parser.isSet(json);
    args.output = parser.value(output);
    if (args.json && args.action != Action::Summary)
        return usage(QStringLiteral("--json goes with summary only"));
    if (args.action == Action::Summary && parser.isSet(output))
        return usage(QStringLiteral("summary writes to standard output; -o goes with script, pcapng and redact"));
    if (args.action == Action::Pcapng && args.output.isEmpty())
        return usage(QStringLiteral("pcapng needs -o CAPTURE"));
    if ((parser.isSet(link) || parser.isSet(session)) && args.action != Action::Script)
        return usage(QStringLiteral("--link and --session go with script (kestra-emu --replay takes them too)"));
    args.choice.link = parser.value(link).toUtf8();
    if (parser.isSet(link) && !Journal::isKnownLinkName(args.choice.link))
        return usage(QStringLiteral("--link %1: a link is com1 to com9, tcp or device").arg(parser.value(link)));
    if (parser.isSet(session)) {
        bool number = false;
        args.choice.session = parser.value(session).toInt(&number);
        if (!number || args.choice.session < 1)
            return usage(QStringLiteral("--session %1: a session is a number from 1 (summary lists them)")
                             .arg(parser.value(session)));
    }
    return args;
}
