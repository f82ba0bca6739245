#include "Report.h"

#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <cmath>
#include <sys/utsname.h>

namespace bench {

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString escapeCell(QString text)
{
    text.replace(QLatin1Char('|'), QLatin1String("\\|"));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

Verdict atMost(double value, double limit)
{
    if (!std::isfinite(value))
        return Verdict::NotMeasured;
    return value <= limit ? Verdict::Met : Verdict::Missed;
}

Verdict atLeast(double value, double limit)
{
    // An infinite ratio (a wait that took no measurable CPU at all) does meet an "at least".
    if (std::isnan(value))
        return Verdict::NotMeasured;
    return value >= limit ? Verdict::Met : Verdict::Missed;
}

Verdict within(double value, double reference, double tolerance)
{
    if (!std::isfinite(value) || !std::isfinite(reference) || !(reference > 0))
        return Verdict::NotMeasured;
    return std::fabs(value - reference) <= tolerance * reference ? Verdict::Met : Verdict::Missed;
}

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Met: return QStringLiteral("met");
    case Verdict::Missed: return QStringLiteral("MISSED");
    case Verdict::NotMeasured: return QStringLiteral("not measured");
    case Verdict::Reported: return QStringLiteral("reported");
    }
    return {};
}

QString formatMicros(double micros)
{
    if (!std::isfinite(micros))
        return QStringLiteral("n/a");
    const double magnitude = std::fabs(micros);
    if (magnitude < 1000.0)
        return QStringLiteral("%1 µs").arg(micros, 0, 'f', 1);
    if (magnitude < 1'000'000.0)
        return QStringLiteral("%1 ms").arg(micros / 1000.0, 0, 'f', 2);
    return QStringLiteral("%1 s").arg(micros / 1'000'000.0, 0, 'f', 2);
}

QString formatBytes(double bytes)
{
    if (!std::isfinite(bytes))
        return QStringLiteral("n/a");
    const double magnitude = std::fabs(bytes);
    if (magnitude < 1024.0)
        return QStringLiteral("%1 B").arg(qint64(std::llround(bytes)));
    if (magnitude < 1024.0 * 1024.0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024.0, 0, 'f', 0);
    if (magnitude < 1024.0 * 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
    return QStringLiteral("%1 GiB").arg(bytes / (1024.0 * 1024.0 * 1024.0), 0, 'f', 1);
}

QString formatRatio(double value)
{
    if (std::isnan(value))
        return QStringLiteral("n/a");
    if (std::isinf(value))
        return QStringLiteral("∞");
    return QString::number(value, 'f', 2);
}

QString formatPercent(double share)
{
    if (!std::isfinite(share))
        return QStringLiteral("n/a");
    return QStringLiteral("%1 %").arg(share * 100.0, 0, 'f', 2);
}

QString markdownTable(const QStringList &header, const QList<QStringList> &rows)
{
    QString out;
    auto line = [&out, &header](const QStringList &cells) {
        out += QLatin1String("|");
        for (qsizetype i = 0; i < header.size(); ++i)
            out += QLatin1Char(' ') + escapeCell(cells.value(i)) + QLatin1String(" |");
        out += QLatin1Char('\n');
    };
    line(header);
    out += QLatin1String("|");
    for (qsizetype i = 0; i < header.size(); ++i)
        out += QLatin1String("---|");
    out += QLatin1Char('\n');
    for (const QStringList &row : rows)
        line(row);
    return out;
}

QString plainTable(const QStringList &header, const QList<QStringList> &rows)
{
    QList<qsizetype> widths(header.size(), 0);
    auto measure = [&widths](const QStringList &cells) {
        for (qsizetype i = 0; i < widths.size(); ++i)
            widths[i] = qMax(widths[i], cells.value(i).size());
    };
    measure(header);
    for (const QStringList &row : rows)
        measure(row);
    QString out;
    auto line = [&out, &widths](const QStringList &cells) {
        QString text;
        for (qsizetype i = 0; i < widths.size(); ++i)
            text += cells.value(i).leftJustified(widths[i]) + QLatin1String("  ");
        out += text.trimmed() + QLatin1Char('\n');
    };
    line(header);
    QStringList rules;
    for (qsizetype width : widths)
        rules << QString(width, QLatin1Char('-'));
    line(rules);
    for (const QStringList &row : rows)
        line(row);
    return out;
}

QList<QStringList> rowsAsCells(const QList<Row> &rows)
{
    QList<QStringList> cells;
    for (const Row &row : rows)
        cells << QStringList{row.item, row.figure, row.target, verdictText(row.verdict)};
    return cells;
}

MachineInfo parseMachineInfo(const QString &cpuinfo, const QString &meminfo)
{
    MachineInfo info;
    static const QRegularExpression model(QStringLiteral("^model name\\s*:\\s*(.+)$"),
                                          QRegularExpression::MultilineOption);
    if (const auto match = model.match(cpuinfo); match.hasMatch())
        info.cpuModel = match.captured(1).trimmed();
    static const QRegularExpression total(QStringLiteral("^MemTotal:\\s*(\\d+)\\s*kB"),
                                          QRegularExpression::MultilineOption);
    if (const auto match = total.match(meminfo); match.hasMatch())
        info.memoryBytes = match.captured(1).toLongLong() * 1024;
    return info;
}

MachineInfo readMachineInfo()
{
    MachineInfo info = parseMachineInfo(readText(QStringLiteral("/proc/cpuinfo")),
                                        readText(QStringLiteral("/proc/meminfo")));
    info.cores = QThread::idealThreadCount();
    utsname name{};
    if (uname(&name) == 0)
        info.kernel = QStringLiteral("%1 %2 %3").arg(QString::fromLocal8Bit(name.sysname),
                                                     QString::fromLocal8Bit(name.release),
                                                     QString::fromLocal8Bit(name.machine));
    return info;
}

QString loadAverage()
{
    const QStringList fields = readText(QStringLiteral("/proc/loadavg")).split(QLatin1Char(' '));
    return fields.mid(0, 3).join(QLatin1Char(' '));
}

} // namespace bench
