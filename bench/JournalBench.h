#pragma once

#include "Report.h"

#include <QString>

namespace bench {

struct JournalBenchSetup
{
    QString journalTool; // kestra-journal
    QString peakRss;     // bench-peakrss
    bool quick = false;
};

struct JournalBenchResult
{
    QList<Row> rows;
    QString details; // markdown
};

// kestra-journal summary of a generated journal of 1,000,000 lines beside grep -c ' -- end ' of
// the same file, and its peak memory there and at a quarter of the size (it must not grow).
JournalBenchResult measureJournal(const JournalBenchSetup &setup);

} // namespace bench
