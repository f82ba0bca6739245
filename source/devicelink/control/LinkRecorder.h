#pragma once

#include "control/LinkDiagnostics.h"
#include "control/LinkEvents.h"
#include "JournalFormat.h"

class LinkEndpoints;
class LinkJournal;

// Turns what happens on a link into words (LinkWords): failures and losses as one line each on
// standard error (category brindle.link), and, when a journal is set, every event and byte of the
// link into that journal in its line format (docs/journal.md).
class LinkRecorder : public LinkEvents
{
public:
    // endpoints gives the program's own advice for a missing COM device. Not owned: it must
    // outlive the recorder.
    explicit LinkRecorder(const LinkEndpoints &endpoints) : m_endpoints(endpoints) {}

    // Records into journal from now on (nullptr: no record). Not owned.
    void setJournal(LinkJournal *journal) { m_journal = journal; }
    LinkJournal *journal() const { return m_journal; }

    void hold() override;
    void release() override;
    void flush() override;

    void opening(const LinkAddress &address) override;
    void openCallRefused(const OpenCall &call) override;
    void openFailed(qint32 result, const LinkAddress &address, const LinkFailure &failure) override;
    void opened(const LinkAddress &address) override;
    void closed(const LinkAddress &address) override;
    void lost(const LinkAddress &address, const QString &reason) override;
    void dsrInactive(const LinkAddress &address) override;
    void dsrActiveAgain(const LinkAddress &address) override;
    void serverIdentified(const LinkAddress &address, const QString &signature) override;
    void dsrChanged(const LinkAddress &address, bool active) override;

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
    void beginSession(const QString &linkName);
    void sayOpenFailed(qint32 result, const QString &what, const QString &reason, const QString &hint);

    const LinkEndpoints &m_endpoints;
    LinkJournal *m_journal = nullptr;
};
