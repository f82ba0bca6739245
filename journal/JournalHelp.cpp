#include "JournalProgram.h"

#include <QString>

// The help is written out whole, so that it can be used without the manual page.
QString journalHelpText()
{
    return QStringLiteral(R"(Usage: kestra-journal summary [--json] FILE
       kestra-journal script FILE [-o SCRIPT]
       kestra-journal pcapng FILE -o CAPTURE
       kestra-journal --help | --version

Reads a link journal written by "brindle --journal" or "kestra-send --journal" (one session
or several appended ones; FILE - reads standard input).

  summary   links opened, failed and lost (with the reasons); per command code the number of
            commands, results 0 / 1 / -1, errors and device statuses with their meanings, and
            the time taken (min / median / max); late frames, damaged frames, resends, settles.
            Lines that cannot be read are skipped and counted.
    --json  one JSON object instead of the table
  script    the commands as a kestra-send script, in order, each after a comment with its
            recorded outcome:  kestra-send LINK --keep-going -f SCRIPT  runs them again
  pcapng    a capture for Wireshark: one packet per frame and handshake byte at the journal's
            time, inbound or outbound, one interface per link; events as packet comments.
            The Kestra dissector decodes it: wireshark -X lua_script:/usr/share/brindle/wireshark/kestra.lua CAPTURE
  -o FILE   where script and pcapng write (default: standard output for script)

script and pcapng stop at the first line that is not a journal line, as FILE:LINE: reason.

Exit status:
  0  done
  1  the journal could not be read (FILE:LINE: reason), or the output not written
  2  usage error

See kestra-journal(1), kestra-emu(1) (--replay FILE) and kestra-send(1).
)");
}
