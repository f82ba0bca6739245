#include "BenchSupport.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace bench {

double percentileOfSorted(const QList<double> &sorted, double p)
{
    Q_ASSERT(!sorted.isEmpty());
    p = std::clamp(p, 0.0, 100.0);
    const double rank = p / 100.0 * double(sorted.size() - 1);
    const auto lower = qsizetype(std::floor(rank));
    const auto upper = qsizetype(std::ceil(rank));
    const double fraction = rank - double(lower);
    return sorted[lower] + (sorted[upper] - sorted[lower]) * fraction;
}

Summary summarize(QList<double> samples)
{
    Summary s;
    s.count = samples.size();
    if (samples.isEmpty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.min = samples.front();
    s.max = samples.back();
    s.median = percentileOfSorted(samples, 50);
    s.p95 = percentileOfSorted(samples, 95);
    s.p99 = percentileOfSorted(samples, 99);
    s.mean = std::accumulate(samples.cbegin(), samples.cend(), 0.0) / double(samples.size());
    return s;
}

double ratio(double a, double b)
{
    if (!(b > 0) || !std::isfinite(a) || !std::isfinite(b))
        return std::numeric_limits<double>::quiet_NaN();
    return a / b;
}

QJsonObject toJson(const Summary &summary)
{
    return QJsonObject{
        {"count", double(summary.count)}, {"min", summary.min}, {"median", summary.median},
        {"p95", summary.p95},             {"p99", summary.p99}, {"max", summary.max},
        {"mean", summary.mean},
    };
}

Summary summaryFromJson(const QJsonObject &object)
{
    Summary s;
    s.count = qsizetype(object.value("count").toDouble());
    s.min = object.value("min").toDouble();
    s.median = object.value("median").toDouble();
    s.p95 = object.value("p95").toDouble();
    s.p99 = object.value("p99").toDouble();
    s.max = object.value("max").toDouble();
    s.mean = object.value("mean").toDouble();
    return s;
}

QJsonArray toJsonArray(const QList<double> &samples)
{
    QJsonArray array;
    for (double value : samples)
        array.append(value);
    return array;
}

QList<double> samplesFromJson(const QJsonArray &array)
{
    QList<double> samples;
    samples.reserve(array.size());
    for (const QJsonValue &value : array)
        if (value.isDouble())
            samples.append(value.toDouble());
    return samples;
}

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

qint64 currentRssBytes()
{
    // statm: size resident shared text lib data dt, in pages.
    QFile file(QStringLiteral("/proc/self/statm"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toLongLong() * qint64(sysconf(_SC_PAGESIZE));
}

qint64 peakRssBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024; // kilobytes on Linux
}

} // namespace bench
