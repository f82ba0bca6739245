#include "JournalProgram.h"

#include <QString>

// The help is written out whole, so that it can be used without the manual page.
QString journalHelpText()
{
    return QStringLiteral(R"(Usage: kestra-journal summary [--json] FILE
       kestra-journal script FILE [-o SCRIPT] [--link NAME | --session N]
       kestra-journal pcapng FILE -o CAPTURE
       kestra-journal redact FILE [-o OUT]
       kestra-journal -h | --help | -v | --version

Reads a link journal written by "brindle --journal" or "kestra-send --journal": one session or
several, appended one after the other or written by several programs at once (FILE - reads
standard input). A session is one program's one link, from its open to its close or loss.

  summary   the sessions in time order and how each ended; links opened, failed and lost
            (with the reasons); per command code its operation, the number of commands,
            results 0 / 1 / -1, skipped commands, errors and device statuses with their
            meanings, and the time taken (min / median / max); late frames, damaged frames,
            resends, settles; a last line "verdict: all normal" or "verdict: N not normal: ..."
            naming the worst first. Lines that cannot be read are skipped and counted.
    --json  one JSON object instead of the table
  script    the commands as a kestra-send script, in order, each after a comment with its
            recorded outcome; "reopen" where the recording opened the link again after a close
            or a loss:  kestra-send LINK --keep-going -f SCRIPT  runs them again, once each.
            Sessions one after the other on one link make one script; sessions that overlap
            (two programs at once) or ran on different links are refused with a list of them:
    --link NAME     take the sessions of one link (com1 ... com9, tcp, device)
    --session N     take session N (the number summary and the refusal give)
  pcapng    a capture for Wireshark: one packet per frame and handshake byte at the journal's
            time, inbound or outbound, one interface per session; events as packet comments.
            The Kestra dissector decodes it: wireshark -X lua_script:/usr/share/brindle/wireshark/kestra.lua CAPTURE
  redact    the journal with its card data replaced by X (parameters, response data, stray
            and dropped bytes, decoded texts), keeping framing, lengths, codes, statuses,
            errors, times, ACK/NAK, the sentinels % ; ? = ^ and whether each frame was sound
  -o, --output FILE
            where script, pcapng and redact write (default: standard output). A file is written
            beside FILE and put in its place only when all of it is written; a device or a pipe
            is written in place. A new file is readable by its owner alone (it holds card data).

script, pcapng and redact stop at the first line that is not a journal line, as FILE:LINE: reason.

Exit status:
  0  done
  1  the journal could not be read (FILE:LINE: reason, or FILE: no journal lines), or the
     output could not be written (the file named and the system's reason)
  2  usage error, or a script of sessions that would be merged (the sessions are listed)

See kestra-journal(1), kestra-emu(1) (--replay FILE) and kestra-send(1).
)");
}
