#include "SendOptions.h"

#include "protocol/CardOperations.h"
#include "protocol/LineSpeeds.h"

namespace {

QString describeStep(const CardOperations::Step &step)
{
    using namespace CardOperations;
    QString text = QStringLiteral("code ") + QString::number(step.code, 16).rightJustified(2, u'0').toUpper();
    switch (step.parameterFrom) {
    case Parameter::Fixed:
        if (*step.parameter)
            text += QStringLiteral(" \"%1\"").arg(QLatin1StringView(step.parameter));
        break;
    case Parameter::Operator:
        text += QStringLiteral(" TEXT");
        break;
    case Parameter::SamplePrint:
        text += QStringLiteral(" sample text");
        break;
    }
    text += step.timeoutFrom == Timeout::Operator ? QStringLiteral(", --timeout")
                                                  : QStringLiteral(", %1 ms").arg(step.timeoutMs);
    if (step.dsr == Dsr::AlwaysCheck)
        text += QStringLiteral(", DSR always checked");
    return text;
}

// One entry per operation, from the table the console's buttons use.
QString operationList()
{
    QString list;
    for (const CardOperations::Operation &operation : CardOperations::operations()) {
        const QString name = QLatin1StringView(operation.name) + (operation.takesText() ? QStringLiteral(" TEXT") : QString());
        QStringList steps;
        for (const CardOperations::Step &step : operation.steps)
            steps << describeStep(step);
        list += QStringLiteral("  %1%2\n      %3\n")
                    .arg(name.leftJustified(21), QLatin1StringView(operation.summary), steps.join(QStringLiteral("; ")));
    }
    return list;
}

} // namespace

// The help is written out whole, so that it can be used without the README.
QString sendHelpText()
{
    return QStringLiteral(R"(Usage: kestra-send LINK [options] COMMAND...
       kestra-send LINK [options] -f FILE|-
       kestra-send -h | --help | -v | --version

Sends commands to a Kestra rewritable-card reader/writer without a window, with byte for byte
the frames of the Brindle console, and prints one line per command.

Link (exactly one):
  --device PATH        a serial device, e.g. /dev/ttyUSB0 or /dev/serial/by-id/usb-..., or
                       a port behind an RFC 2217 device server: rfc2217://HOST:PORT
  --com N[=PATH]       COMn (N 1-9): N=PATH makes PATH the device of COMn, e.g. --com 1=/dev/ttyUSB0
                       or --com 1=/dev/serial/by-id/usb-...; N alone finds it as the console does:
                       PLENKO_COMn, else /dev/ttyS<N-1>
  --tcp HOST[:PORT]    a networked device: IPv4 address or host name; the port defaults to
                       PLENKO_TCP_PORT, else 10001
  --speed BPS          serial speed: %2 (default 9600)

Commands (named operations, any number, run in order, with the console's codes, parameters
and time-outs; "--timeout" marks a time-out taken from --timeout):
%1or one free command:
  --code HEX           command code 00-FF (one or two hexadecimal digits, 0x allowed)
  --param TEXT         its parameter, sent in CP932 as the console's parameter box sends it
  --bin TEXT           its parameter in BIN mode: "$hh" is the one byte hh, the rest is CP932
or a script:
  -f, --file FILE      one command per line from FILE; - reads standard input

Options:
  --timeout MS         time-out of a free command and of write's first two commands; the
                       other operations keep the console's (default 30000; 0 = no limit)
  --dsr, --no-dsr      check the DSR line before each command on a serial link (default: check)
  --keep-going         go on after a command whose result is not 0 (default: stop there)
  --json               one JSON object per command instead of the line for people
  --journal FILE       append a record of the link (every frame in hex) to FILE; - = stderr
  --journal-redact     write that record with every byte of card data (stripe data, print
                       text, parameters) replaced, so that none reaches the disk
  -h, --help           this help;  -v, --version  the version

Script syntax (-f): one command per line, "#" starts a comment, blank lines are skipped.
  read
  write "%ABC 123?"
  code 41 --param "1, 0, 0,Hello" --timeout 5000 --no-dsr
  code 39 --bin '$02ABC$03'
  reopen
A line is a named operation (write takes one TEXT) or
  code HEX [--param TEXT | --bin TEXT] [--timeout MS] [--dsr | --no-dsr]
whose options override --timeout and --dsr for that line, or reopen: the link is closed (unless
it was lost) and opened again as it first opened, where kestra-journal script found a new
session in a journal. It prints "line N reopen: LINK, opened" (with --json an object with line,
reopen (true), link, opened, open_result, open_result_meaning and reason). A link that does not
open again is told on standard error and counts as a failed command; the commands after it fail
as refused (not open) until a later reopen opens it. Nothing is ever sent twice: a script runs
what it holds, once. Words are split as in a shell:
'single quotes' keep everything, "double quotes" keep everything except that a backslash makes
the next character literal (\" and \\); outside quotes a backslash does the same. The whole
script is read first: a line that cannot be read is reported as FILE:LINE: reason, and then
nothing is sent.

Output, one line per command on standard output, e.g.
  read: code 22, status 20 normal completion, data "%ABC?" [25 41 42 43 3F], result 0,
  a response was received, 12.3 ms
(on one line; a script's commands begin with "line N"). With --json every command is a JSON
object on one line with the fields line, operation, step, steps, code, code_hex, parameter_hex,
send_result, status, status_hex, status_meaning, data, data_hex, error, error_meaning, result
and elapsed_ms; status and error are null when there was none. The result is the console's:
0 normal completion, 1 time-out, -1 anything else. Diagnostics of the link go to standard error.

The commands of one operation (write, sample) are all sent, as the console's buttons send them,
except that the magnetic write and the rewrite are skipped when the data command before them did
not complete (the device would use an earlier card's data): "write 2/3: code 31, skipped: ...",
in JSON "skipped": true. A result other than 0 ends the run unless --keep-going. A write TEXT
that starts with "-" goes after "--", which ends the options: kestra-send --com 1 -- write -42.

When the link does not open, --json prints one object: link, open_result, open_result_meaning,
reason. A serial port held by another program (by any of its names) does not open; the reason
names that program. When standard output cannot be written, the run stops after the running
command and the link is closed.

Exit status:
  0    every command completed normally (result 0)
  1    a command timed out (and none failed otherwise)
  2    usage error: a wrong option or script line, a script or journal that cannot be
       opened, a PLENKO_TCP_PORT that is not a port; nothing was sent
  3    any other device or link failure (the link did not open, a refusal, a device status
       other than 20, a lost link), or standard output could not be written (a full disk)
  129, 130, 143  ended by SIGHUP, Ctrl-C (SIGINT) or SIGTERM: the running command was aborted
       and the link closed
  141  standard output's reader went away (a closed pipe)

Environment:
  PLENKO_COM1 ... PLENKO_COM9  device path of COMn (default /dev/ttyS<n-1>); --com N=PATH wins
  PLENKO_TCP_PORT              port of --tcp without :PORT (default 10001); not a port: usage error
  QT_LOGGING_RULES             "brindle.link=false" silences the link's diagnostics

See kestra-send(1), brindle(1) and kestra-emu(1).
)").arg(operationList(), LineSpeeds::ratesInWords());
}
