#pragma once

#include "JournalEvents.h"
#include "JournalLine.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <array>
#include <map>
#include <memory>
#include <set>
#include <vector>

// What a field journal says at a glance: its sessions in time order and how each ended, the
// links and how they ended, per command code how its commands ended and how long they took, and
// a one-line verdict. Fed one line at a time; what it holds does not grow with the number of
// lines (times are counted per millisecond, which a journal writes anyway) nor with the number
// of sessions (past kListedSessions the quiet ones are counted together).
class JournalSummary
{
public:
    // Sessions listed one by one; the rest make one row of their own.
    static constexpr size_t kListedSessions = 1000;

    JournalSummary();
    ~JournalSummary();

    // Takes one readable line; the byte line's bytes are not needed.
    void add(const JournalLine &line);
    void setSkipped(qint64 skipped, const QString &first);
    void setLinesRead(qint64 lines) { m_lines = lines; }

    QString table(const QString &name) const;
    QJsonObject json(const QString &name) const;

private:
    struct Reasons; // text -> count, bounded
    struct LinkCounts
    {
        qint64 opened = 0, failed = 0, lost = 0, closed = 0;
        qint64 firstMs = 0;
    };
    struct CodeCounts
    {
        qint64 count = 0;
        qint64 skipped = 0;
        std::array<qint64, 3> results{}; // 0, 1, -1
        std::map<int, std::pair<qint64, QByteArray>> errors;   // error -> count, meaning
        std::map<int, std::pair<qint64, QByteArray>> statuses; // status other than 20 -> count, meaning
        std::map<qint64, qint64> elapsed;                      // ms (rounded past 64 s) -> count
        qint64 min = 0, max = 0;
        double median() const;
    };
    enum class Ending { NoOpen, Open, Closed, Lost, Failed };
    struct Session
    {
        int number = 0;
        QByteArray token, link, what, reason;
        qint64 firstMs = 0, lastMs = 0;
        qint64 commands = 0;
        qint64 notZero = 0; // ends with result 1 or -1
        bool trouble = false; // a result other than 0, or a command skipped, refused or stopped
        Ending ending = Ending::NoOpen;
    };
    // The sessions not listed one by one.
    struct MoreSessions
    {
        qint64 count = 0, commands = 0, notZero = 0;
        qint64 firstMs = -1, lastMs = -1;
        qint64 closed = 0, lost = 0, failed = 0;
        void take(qint64 ms);
    };

    void addEvent(const JournalLine &line, Session *session);
    Session *sessionOf(const JournalLine &line);
    void noteTrouble(Session *session);
    LinkCounts *linkOf(const JournalLine &line);
    CodeCounts &code(quint8 code);
    std::vector<const Session *> sessionsInTimeOrder() const;
    std::vector<std::pair<QByteArray, const LinkCounts *>> linksInTimeOrder() const;
    QString verdict(bool *normal) const;

    qint64 m_lines = 0;
    qint64 m_skipped = 0;
    QString m_firstSkipped;
    std::map<QByteArray, LinkCounts> m_links;
    std::unique_ptr<Reasons> m_failures;
    std::unique_ptr<Reasons> m_losses;
    std::array<std::unique_ptr<CodeCounts>, 256> m_codes;
    qint64 m_commands = 0, m_ends = 0, m_unreadableEnds = 0;
    qint64 m_lateFrames = 0, m_badFrames = 0, m_resends = 0, m_settles = 0;
    qint64 m_stray = 0, m_dropped = 0, m_refused = 0;
    qint64 m_skippedCommands = 0, m_stopped = 0, m_dsrOff = 0;
    qint64 m_firstMs = -1, m_lastMs = -1; // the earliest and the latest time of any line

    std::map<int, Session> m_sessions; // the listed ones, by number
    std::set<int> m_quiet;             // listed sessions that closed without trouble: given up first
    MoreSessions m_more;
    qint64 m_sessionCount = 0;
    int m_highestSession = 0;
    int m_lastNumber = 0;
    Session *m_lastSession = nullptr; // lines come in runs of one session
};
