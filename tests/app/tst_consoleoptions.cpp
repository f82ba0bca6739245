#include "BrindleVersion.h"
#include "ConsoleOptions.h"
#include "transport/LinkEndpoints.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

// The console's command line: what it accepts, what it refuses, and that the program answers
// --help, --version, --list-ports and a usage error without a display and without a window; and
// that all four programs answer -h, --help, -v, --version and a usage error alike.

using Action = ConsoleOptions::Action;
Q_DECLARE_METATYPE(ConsoleOptions::Action)

class TestConsoleOptions : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void program_data();
    void program();
    void everyProgram_data();
    void everyProgram();
};

namespace {

// The environment of a machine without a display.
QProcessEnvironment headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("PLENKO_TCP_PORT");
    return environment;
}

} // namespace

void TestConsoleOptions::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("comPaths"); // "1=/a;3=/b"
    QTest::addColumn<int>("tcpPort");
    QTest::addColumn<QString>("journal");
    QTest::addColumn<QString>("textHas"); // usage error or help fragment

    QTest::newRow("plain start") << QStringList{} << Action::Run << "" << 0 << "" << "";
    QTest::newRow("one com") << QStringList{"--com", "1=/dev/ttyUSB0"} << Action::Run << "1=/dev/ttyUSB0" << 0 << "" << "";
    QTest::newRow("com with = form") << QStringList{"--com=2=/dev/x=y"} << Action::Run << "2=/dev/x=y" << 0 << "" << "";
    QTest::newRow("two coms, the later wins for its port")
        << QStringList{"--com", "1=/a", "--com", "9=/b", "--com", "1=/c"} << Action::Run << "1=/c;9=/b" << 0 << "" << "";
    QTest::newRow("tcp port and journal") << QStringList{"--tcp-port", "2001", "--journal", "-"} << Action::Run << ""
                                          << 2001 << "-" << "";
    QTest::newRow("redacted journal") << QStringList{"--journal", "j.log", "--journal-redact"} << Action::Run << "" << 0
                                      << "j.log" << "";
    QTest::newRow("Qt options pass") << QStringList{"-platform", "offscreen", "-style=fusion", "-reverse"}
                                     << Action::Run << "" << 0 << "" << "";
    QTest::newRow("list ports with a mapping") << QStringList{"--list-ports", "--com", "3=/dev/pts/4"}
                                               << Action::ListPorts << "3=/dev/pts/4" << 0 << "" << "";
    QTest::newRow("help") << QStringList{"--help"} << Action::Help << "" << 0 << "" << "--com <N=PATH>";
    QTest::newRow("help short") << QStringList{"-h"} << Action::Help << "" << 0 << "" << "PLENKO_COM1";
    QTest::newRow("version") << QStringList{"--version"} << Action::Version << "" << 0 << "" << "brindle 2.50\nQt ";

    QTest::newRow("com 10") << QStringList{"--com", "10=x"} << Action::UsageError << "" << 0 << "" << "N from 1 to 9";
    QTest::newRow("com 0") << QStringList{"--com", "0=/dev/ttyS0"} << Action::UsageError << "" << 0 << "" << "'0=/dev/ttyS0'";
    QTest::newRow("com without path") << QStringList{"--com", "1"} << Action::UsageError << "" << 0 << "" << "got '1'";
    QTest::newRow("com with empty path") << QStringList{"--com", "1="} << Action::UsageError << "" << 0 << "" << "N=PATH";
    QTest::newRow("com without value") << QStringList{"--com"} << Action::UsageError << "" << 0 << "" << "com";
    QTest::newRow("tcp port 0") << QStringList{"--tcp-port", "0"} << Action::UsageError << "" << 0 << "" << "1 to 65535";
    QTest::newRow("tcp port too big") << QStringList{"--tcp-port", "65536"} << Action::UsageError << "" << 0 << ""
                                      << "1 to 65535";
    QTest::newRow("tcp port not a number") << QStringList{"--tcp-port", "ten"} << Action::UsageError << "" << 0 << ""
                                           << "'ten'";
    QTest::newRow("empty journal") << QStringList{"--journal", ""} << Action::UsageError << "" << 0 << "" << "--journal";
    QTest::newRow("redacting no journal") << QStringList{"--journal-redact"} << Action::UsageError << "" << 0 << ""
                                          << "--journal-redact goes with --journal";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << Action::UsageError << "" << 0 << ""
                                    << "frobnicate";
    QTest::newRow("stray argument") << QStringList{"COM1"} << Action::UsageError << "" << 0 << "" << "'COM1'";
}

void TestConsoleOptions::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QString, comPaths);
    QFETCH(int, tcpPort);
    QFETCH(QString, journal);
    QFETCH(QString, textHas);

    const ConsoleOptions options = parseConsoleOptions(QStringList{"brindle"} + arguments);
    QCOMPARE(options.action, action);
    QVERIFY2(options.text.contains(textHas), qPrintable(options.text));
    if (action == Action::UsageError) {
        QVERIFY(options.text.startsWith("brindle: "));
        QVERIFY(options.text.contains("Try 'brindle --help'"));
        return;
    }
    QStringList paths;
    for (auto it = options.comPaths.cbegin(); it != options.comPaths.cend(); ++it)
        paths << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
    QCOMPARE(paths.join(';'), comPaths);
    QCOMPARE(int(options.tcpPort), tcpPort);
    QCOMPARE(options.journalPath, journal);

    LinkEndpoints endpoints;
    applyConsoleOptions(options, endpoints);
    for (auto it = options.comPaths.cbegin(); it != options.comPaths.cend(); ++it)
        QCOMPARE(endpoints.serialPathFor(it.key()), it.value());
    if (tcpPort != 0)
        QCOMPARE(int(endpoints.tcpPort()), tcpPort);
}

void TestConsoleOptions::program_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("variable"); // NAME=VALUE, added to the program's environment
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outHas");
    QTest::addColumn<QString>("errHas");
    QTest::newRow("help") << QStringList{"--help"} << "" << 0 << "Usage: brindle" << "";
    QTest::newRow("version") << QStringList{"--version"} << "" << 0 << "brindle 2.50" << "";
    QTest::newRow("list ports") << QStringList{"--list-ports", "--com", "2=/nonexistent/port"} << "" << 0
                                << "COM2 /nonexistent/port (--com) may-open: no, no such device" << "";
    QTest::newRow("list ports: a directory") << QStringList{"--list-ports", "--com", "2=/tmp"} << "" << 0
                                             << "COM2 /tmp (--com) may-open: no, a directory" << "";
    QTest::newRow("list ports: not a terminal") << QStringList{"--list-ports", "--com", "3=/dev/null"} << "" << 0
                                                << "COM3 /dev/null (--com) may-open: no, a device that is not a terminal"
                                                << "";
    QTest::newRow("usage error") << QStringList{"--com", "10=x"} << "" << 2 << "" << "N from 1 to 9";
    QTest::newRow("journal that cannot be written")
        << QStringList{"--journal", "/nonexistent/dir/journal.log"} << "" << 2 << "" << "No such file or directory";
    QTest::newRow("PLENKO_TCP_PORT not a port") << QStringList{} << "PLENKO_TCP_PORT=http" << 2 << ""
                                                << "PLENKO_TCP_PORT='http' is not a port number";
    QTest::newRow("no display") << QStringList{} << "" << 3 << "" << "brindle: no display to show the window on";
}

// The real program, with no display at all: none of these may need one.
void TestConsoleOptions::program()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, variable);
    QFETCH(int, exitCode);
    QFETCH(QString, outHas);
    QFETCH(QString, errHas);

    QProcess brindle;
    QProcessEnvironment environment = headless();
    if (!variable.isEmpty())
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    brindle.setProcessEnvironment(environment);
    brindle.start(qEnvironmentVariable("BRINDLE"), arguments);
    QVERIFY(brindle.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(brindle.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(brindle.readAllStandardError());
    QCOMPARE(brindle.exitStatus(), QProcess::NormalExit);
    QVERIFY2(brindle.exitCode() == exitCode, qPrintable(err));
    QVERIFY2(out.contains(outHas), qPrintable(out));
    QVERIFY2(err.contains(errHas), qPrintable(err));
}

void TestConsoleOptions::everyProgram_data()
{
    QTest::addColumn<QString>("variable"); // where the test finds the program
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outStarts"); // empty: a usage error, said on stderr alone

    const QList<std::pair<QString, QStringList>> programs = {
        {"BRINDLE", {"brindle", "--frobnicate"}},
        {"KESTRA_SEND", {"kestra-send", "--tcp"}},
        {"KESTRA_EMU", {"kestra-emu", "--fault-count", "1"}},
        {"KESTRA_JOURNAL", {"kestra-journal", "summary"}},
    };
    for (const auto &[variable, words] : programs) {
        const QString program = words.first();
        const QString version = QStringLiteral("%1 %2\nQt ").arg(program, QStringLiteral(BRINDLE_VERSION));
        const QString usage = "Usage: " + program;
        QTest::addRow("%s -h", qPrintable(program)) << variable << program << QStringList{"-h"} << 0 << usage;
        QTest::addRow("%s --help", qPrintable(program)) << variable << program << QStringList{"--help"} << 0 << usage;
        QTest::addRow("%s -v", qPrintable(program)) << variable << program << QStringList{"-v"} << 0 << version;
        QTest::addRow("%s --version", qPrintable(program)) << variable << program << QStringList{"--version"} << 0
                                                           << version;
        QTest::addRow("%s usage error", qPrintable(program)) << variable << program << words.mid(1) << 2 << QString();
    }
}

void TestConsoleOptions::everyProgram()
{
    QFETCH(QString, variable);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, outStarts);

    QProcess process;
    process.setProcessEnvironment(headless());
    process.start(qEnvironmentVariable(qPrintable(variable)), arguments);
    QVERIFY2(process.waitForFinished(20000), qPrintable(variable));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode, qPrintable(err));
    if (outStarts.isEmpty()) {
        QVERIFY2(out.isEmpty(), qPrintable(out));
        QVERIFY2(err.startsWith(program + ": "), qPrintable(err));
    } else {
        QVERIFY2(out.startsWith(outStarts), qPrintable(out));
        QVERIFY2(err.isEmpty(), qPrintable(err));
    }
}

QTEST_GUILESS_MAIN(TestConsoleOptions)
#include "tst_consoleoptions.moc"
