#pragma once

#include "control/LinkDiagnostics.h"
#include "control/LinkEvents.h"
#include "JournalFormat.h"

class LinkJournal;

// Turns what happens on a link into words: failures and losses as one line each on standard
// error (category brindle.link), and, when a journal is set, every event and byte of the link
// into that journal in its line format (docs/journal.md).
class LinkRecorder : public LinkEvents
{
public:
    // Records into journal from now on (nullptr: no record). Not owned.
    void setJournal(LinkJournal *journal) { m_journal = journal; }
    LinkJournal *journal() const { return m_journal; }

    void hold() override;
    void release() override;
    void flush() override;

    void linkNamed(const QString &name) override;
    void openFailed(qint32 result, const QString &what, const QString &reason, const QString &hint) override;
    void opened(const QString &what, const char *how) override;
    void closed(const QString &what) override;
    void lost(const QString &what, const QString &reason) override;
    void dsrInactive(const QString &what) override;
    void dsrActiveAgain(const QString &what) override;

    void refused(qint32 code, qint32 sendResult) override;
    void commandStarted(const CommandRequest &request) override;
    void sent(FrameRole role, QByteArrayView bytes) override;
    void received(FrameRole role, QByteArrayView bytes) override;
    void frameReceived(FrameRole role, QByteArrayView body) override;
    void resent(int send, int maxSends) override;
    void settling() override;
    void commandEnded(quint8 code, const CommandResult &outcome, qint64 elapsedMs) override;

    // The journal's kind of line for a role.
    static Journal::Kind kindOf(FrameRole role);

private:
    void event(Journal::Kind kind, const QString &text);

    LinkJournal *m_journal = nullptr;
};
