#pragma once

#include "JournalEvents.h"
#include "JournalLine.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <array>
#include <map>
#include <memory>

// What a field journal says at a glance: the links and how they ended, and per command code how
// its commands ended and how long they took. Fed one line at a time; what it holds does not grow
// with the number of lines (times are counted per millisecond, which a journal writes anyway).
class JournalSummary
{
public:
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
    };
    struct CodeCounts
    {
        qint64 count = 0;
        std::array<qint64, 3> results{}; // 0, 1, -1
        std::map<int, std::pair<qint64, QByteArray>> errors;   // error -> count, meaning
        std::map<int, std::pair<qint64, QByteArray>> statuses; // status other than 20 -> count, meaning
        std::map<qint64, qint64> elapsed;                      // ms (rounded past 64 s) -> count
        qint64 min = 0, max = 0;
        qint64 median() const;
    };

    void addEvent(const JournalLine &line);

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
    qint64 m_firstMs = -1, m_lastMs = -1;
};
