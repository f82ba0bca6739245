#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QtGlobal>

// Small pieces that every benchmark program shares: summaries of timing samples and what the
// process costs (CPU time, resident memory, a monotonic clock that other processes read too).
namespace bench {

// A timing series reduced to the figures the report shows. Percentiles interpolate linearly
// between the two nearest ranks, so the median of an even count is the mean of the middle two.
struct Summary
{
    qsizetype count = 0;
    double min = 0;
    double median = 0;
    double p95 = 0;
    double p99 = 0;
    double max = 0;
    double mean = 0;
};

// p in [0, 100]; the samples must be sorted ascending and not empty.
double percentileOfSorted(const QList<double> &sorted, double p);
Summary summarize(QList<double> samples);

// a / b, or NaN when b is not a positive number (a figure that could not be measured must not
// turn into a ratio that meets its target).
double ratio(double a, double b);

QJsonObject toJson(const Summary &summary);
Summary summaryFromJson(const QJsonObject &object);
QJsonArray toJsonArray(const QList<double> &samples);
// Non-numeric entries are skipped.
QList<double> samplesFromJson(const QJsonArray &array);

// CLOCK_MONOTONIC in nanoseconds: the same clock in every process of the machine, so a parent
// can hand its reading to a child and the child can measure from it.
qint64 monotonicNs();
// CPU time of the whole process (all threads), user and system, in seconds.
double processCpuSeconds();
// What is resident now, from /proc/self/statm; 0 when it cannot be read.
qint64 currentRssBytes();
// The largest resident size so far (getrusage ru_maxrss).
qint64 peakRssBytes();

} // namespace bench
