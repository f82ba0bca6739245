#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The benchmark report: a table of figures against their targets, the machine it ran on, and
// the markdown file that docs/performance.md is.
namespace bench {

// Reported: a figure shown beside another, without a target of its own.
enum class Verdict { Met, Missed, NotMeasured, Reported };

// A figure that could not be measured (NaN, infinite) is never judged as met.
Verdict atMost(double value, double limit);
Verdict atLeast(double value, double limit);
// |value - reference| <= tolerance * reference
Verdict within(double value, double reference, double tolerance);
QString verdictText(Verdict verdict); // "met", "MISSED", "not measured", "reported"

struct Row
{
    QString item;   // "1 round trip, buffer clear: a/b (medians)"
    QString figure; // "1.42"
    QString target; // "≤ 2"
    Verdict verdict = Verdict::NotMeasured;
};

// Durations given in microseconds, shown in the unit that suits them: "63.2 µs", "1.25 ms",
// "10.00 s". Not a number: "n/a".
QString formatMicros(double micros);
QString formatBytes(double bytes); // "23.5 GiB", "23.4 MiB", "512 KiB", "800 B"; negative values keep their sign
QString formatRatio(double value); // two decimals, "n/a" when not a number
QString formatPercent(double share); // 0.0123 -> "1.23 %"

// A markdown table; cells are escaped so that a "|" in a cell cannot break the row.
QString markdownTable(const QStringList &header, const QList<QStringList> &rows);
// The same as aligned plain text for a terminal.
QString plainTable(const QStringList &header, const QList<QStringList> &rows);
QList<QStringList> rowsAsCells(const QList<Row> &rows);

struct MachineInfo
{
    int cores = 0;
    QString cpuModel;
    qint64 memoryBytes = 0;
    QString kernel;
};
// From the texts of /proc/cpuinfo and /proc/meminfo (kernel and cores are filled in by the caller).
MachineInfo parseMachineInfo(const QString &cpuinfo, const QString &meminfo);
MachineInfo readMachineInfo();
QString loadAverage(); // the first three fields of /proc/loadavg

} // namespace bench
