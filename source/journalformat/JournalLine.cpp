#include "JournalLine.h"

#include <cstring>

namespace {

// The next word up to a blank; the view moves past the blank.
QByteArrayView nextWord(QByteArrayView &text)
{
    if (text.isEmpty())
        return {};
    const char *blank = static_cast<const char *>(std::memchr(text.data(), ' ', size_t(text.size())));
    if (!blank) {
        const QByteArrayView word = text;
        text = QByteArrayView();
        return word;
    }
    const QByteArrayView word(text.data(), blank - text.data());
    text = QByteArrayView(blank + 1, text.size() - word.size() - 1);
    return word;
}

bool fail(QByteArray *reason, const char *text)
{
    if (reason)
        *reason = text;
    return false;
}

} // namespace

bool parseJournalLine(QByteArrayView text, JournalLine *line, QByteArray *bytes, QByteArray *reason)
{
    using Journal::Direction;
    QByteArrayView rest = text;
    // Kept whole: a view ending at rest's end fails where the line ends with its last word, whose
    // rest is a null view.
    line->raw = text;
    line->time = nextWord(rest);
    if (!Journal::parseTime(line->time, &line->msecs))
        return fail(reason, "not a journal line: it does not begin with a time such as 2026-12-07T16:38:25.565Z");
    line->link = nextWord(rest);
    if (line->link.isEmpty())
        return fail(reason, "no link name after the time");
    QByteArrayView direction = nextWord(rest);
    line->session = {};
    if (Journal::isSessionToken(direction)) {
        line->session = direction;
        direction = nextWord(rest);
    }
    if (direction == "in")
        line->direction = Direction::In;
    else if (direction == "out")
        line->direction = Direction::Out;
    else if (direction == "--")
        line->direction = Direction::Event;
    else
        return fail(reason, "expected a session, in, out or -- after the link name");
    line->word = nextWord(rest);
    line->rest = rest;
    const std::optional<Journal::Kind> kind = Journal::kindOf(line->direction, line->word);
    if (!kind)
        return fail(reason, line->isBytes() ? "a kind of bytes this journal reader does not know"
                                            : "an event this journal reader does not know");
    line->kind = *kind;
    if (!line->isBytes())
        return true;
    if (!Journal::decodeHexAndText(rest, bytes) || bytes->isEmpty())
        return fail(reason, "damaged bytes: expected hexadecimal bytes and the same bytes between bars");
    if ((line->kind == Journal::Kind::Ack || line->kind == Journal::Kind::Nak)
        && (bytes->size() != 1 || bytes->at(0) != (line->kind == Journal::Kind::Ack ? '\x06' : '\x15')))
        return fail(reason, "an ACK or NAK line whose byte is not 06 or 15");
    return true;
}
