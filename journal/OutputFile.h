#pragma once

#include <QString>

#include <cstdio>

// Where kestra-journal writes a script, a capture or a redacted journal, so that a failure never
// destroys anything: a regular file (or a name not yet taken) is written beside its place and
// renamed over it only once the whole is written, so that what was there stays on any failure.
// Standard output ("-" or no name), a device and a pipe are written in place and never removed.
// A new file is for its owner alone (0600, like the journal it comes from: it holds card data);
// a file that is replaced keeps its mode.
class OutputFile
{
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // False with "FILE: reason".
    bool open(const QString &path, QString *error);
    std::FILE *stream() const { return m_stream; }
    // Everything written: flushed, closed and put in place. False with "FILE: reason"; what was
    // there before stays.
    bool commit(QString *error);
    // Gives up: a file written beside is removed, the target stays as it was.
    void abandon();

private:
    QString m_path;       // as named
    QString m_target;     // where the file goes (a symbolic link's target)
    QString m_temporary;  // the file written beside it; empty when writing in place
    std::FILE *m_stream = nullptr;
};
