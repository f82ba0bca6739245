#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// Standard output as kestra-send writes its results to it, with a failed write noticed: a full
// disk (ENOSPC) or a reader that has gone (EPIPE, "kestra-send ... | head -2"). A program whose
// results nobody receives must not go on sending commands, nor end as if they had been read.
//
// A closed pipe shows here as EPIPE when the program ignores SIGPIPE, as kestra-send's main does;
// otherwise the signal would end the program with its link open (a serial port's lock file would
// stay behind).
class ResultStream
{
public:
    explicit ResultStream(std::FILE *stream = stdout);

    // Writes and flushes; false once a write has failed (later writes are not tried).
    bool write(const QByteArray &bytes);
    bool failed() const { return m_error != 0; }

    // After a failure: the exit status, 141 for a reader that has gone (as a shell reports a
    // program SIGPIPE ended), 3 otherwise; and the line for standard error.
    int exitStatus() const;
    QString failureText() const;

private:
    std::FILE *m_stream;
    int m_error = 0;
};
