#include "ResultStream.h"

#include "SendOptions.h"

#include <cerrno>

ResultStream::ResultStream(std::FILE *stream) : m_stream(stream)
{
}

bool ResultStream::write(const QByteArray &bytes)
{
    if (m_error != 0)
        return false;
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    if (written == size_t(bytes.size()) && std::fflush(m_stream) == 0)
        return true;
    m_error = errno != 0 ? errno : EIO;
    return false;
}

int ResultStream::exitStatus() const
{
    return m_error == EPIPE ? SendExit::BrokenPipe : SendExit::Failed;
}

QString ResultStream::failureText() const
{
    return QStringLiteral("standard output cannot be written (%1): the run stopped after the command that was "
                          "running, and the link was closed")
        .arg(m_error == EPIPE ? QStringLiteral("the reader has gone") : qt_error_string(m_error));
}
