// The arithmetic and formatting behind the benchmark report: a wrong percentile or a verdict that
// calls an unmeasured figure "met" would make the report lie.

#include "BenchSupport.h"
#include "Report.h"

#include <QJsonArray>
#include <QTest>

#include <cmath>
#include <limits>

using namespace bench;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
} // namespace

class TestBenchFigures : public QObject
{
    Q_OBJECT
private slots:
    void percentiles_data();
    void percentiles();
    void summaryOfUnsortedSamples();
    void emptySeriesSummarisesToZeroCount();
    void ratioOfUnmeasurable_data();
    void ratioOfUnmeasurable();
    void summarySurvivesJson();
    void nonNumericSamplesAreSkipped();

    void verdicts_data();
    void verdicts();
    void durations_data();
    void durations();
    void sizesAndRatios_data();
    void sizesAndRatios();
    void markdownCellsCannotBreakTheTable();
    void plainTableAlignsColumns();
    void machineInfoFromProcTexts_data();
    void machineInfoFromProcTexts();
};

void TestBenchFigures::percentiles_data()
{
    QTest::addColumn<QList<double>>("sorted");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("expected");

    QList<double> hundred;
    for (int i = 1; i <= 100; ++i)
        hundred << i;
    QTest::newRow("one sample, any p") << QList<double>{7} << 99.0 << 7.0;
    QTest::newRow("median of an even count is the mean of the middle two") << QList<double>{1, 2, 3, 10} << 50.0 << 2.5;
    QTest::newRow("median of an odd count is the middle one") << QList<double>{1, 2, 30} << 50.0 << 2.0;
    QTest::newRow("p0 is the minimum") << hundred << 0.0 << 1.0;
    QTest::newRow("p100 is the maximum") << hundred << 100.0 << 100.0;
    QTest::newRow("p99 of 1..100 interpolates") << hundred << 99.0 << 99.01;
    QTest::newRow("p95 of 1..100") << hundred << 95.0 << 95.05;
    QTest::newRow("p above 100 is clamped") << hundred << 250.0 << 100.0;
    QTest::newRow("negative p is clamped") << hundred << -5.0 << 1.0;
}

void TestBenchFigures::percentiles()
{
    QFETCH(QList<double>, sorted);
    QFETCH(double, p);
    QFETCH(double, expected);
    QVERIFY2(std::fabs(percentileOfSorted(sorted, p) - expected) < 1e-9,
             qPrintable(QString::number(percentileOfSorted(sorted, p), 'g', 12)));
}

void TestBenchFigures::summaryOfUnsortedSamples()
{
    // A single slow outlier must move the maximum and the mean, not the median.
    const Summary s = summarize({50, 10, 40, 20, 1000, 30});
    QCOMPARE(s.count, qsizetype(6));
    QCOMPARE(s.min, 10.0);
    QCOMPARE(s.max, 1000.0);
    QCOMPARE(s.median, 35.0);
    QCOMPARE(s.mean, 1150.0 / 6.0);
    QVERIFY(s.p99 > s.p95 && s.p95 > s.median);
}

void TestBenchFigures::emptySeriesSummarisesToZeroCount()
{
    const Summary s = summarize({});
    QCOMPARE(s.count, qsizetype(0));
    QCOMPARE(s.median, 0.0);
}

void TestBenchFigures::ratioOfUnmeasurable_data()
{
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<bool>("isNumber");
    QTest::newRow("plain") << 3.0 << 2.0 << true;
    QTest::newRow("zero denominator") << 3.0 << 0.0 << false;
    QTest::newRow("negative denominator") << 3.0 << -1.0 << false;
    QTest::newRow("NaN numerator") << kNaN << 2.0 << false;
    QTest::newRow("NaN denominator") << 3.0 << kNaN << false;
    QTest::newRow("infinite numerator") << kInf << 2.0 << false;
}

void TestBenchFigures::ratioOfUnmeasurable()
{
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(bool, isNumber);
    QCOMPARE(!std::isnan(ratio(a, b)), isNumber);
    if (isNumber)
        QCOMPARE(ratio(a, b), a / b);
}

void TestBenchFigures::summarySurvivesJson()
{
    const Summary s = summarize({1.5, 2.5, 100.25, 7});
    const Summary back = summaryFromJson(toJson(s));
    QCOMPARE(back.count, s.count);
    QCOMPARE(back.min, s.min);
    QCOMPARE(back.median, s.median);
    QCOMPARE(back.p95, s.p95);
    QCOMPARE(back.p99, s.p99);
    QCOMPARE(back.max, s.max);
    QCOMPARE(back.mean, s.mean);
}

void TestBenchFigures::nonNumericSamplesAreSkipped()
{
    const QJsonArray array{1.5, QStringLiteral("x"), QJsonValue(), 2, QJsonArray{3}};
    QCOMPARE(samplesFromJson(array), (QList<double>{1.5, 2}));
    QCOMPARE(samplesFromJson(toJsonArray({4, 5.25})), (QList<double>{4, 5.25}));
}

void TestBenchFigures::verdicts_data()
{
    QTest::addColumn<int>("kind"); // 0 atMost, 1 atLeast, 2 within 5 %
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("limit");
    QTest::addColumn<int>("expected");
    const int met = int(Verdict::Met), missed = int(Verdict::Missed), none = int(Verdict::NotMeasured);
    QTest::newRow("at most, equal") << 0 << 2.0 << 2.0 << met;
    QTest::newRow("at most, above") << 0 << 2.01 << 2.0 << missed;
    QTest::newRow("at most, NaN") << 0 << kNaN << 2.0 << none;
    QTest::newRow("at most, infinite") << 0 << kInf << 2.0 << none;
    QTest::newRow("at least, equal") << 1 << 50.0 << 50.0 << met;
    QTest::newRow("at least, below") << 1 << 49.9 << 50.0 << missed;
    QTest::newRow("at least, infinite factor") << 1 << kInf << 50.0 << met;
    QTest::newRow("at least, NaN") << 1 << kNaN << 50.0 << none;
    QTest::newRow("within, 5 % over") << 2 << 105.0 << 100.0 << met;
    QTest::newRow("within, 5 % under") << 2 << 95.0 << 100.0 << met;
    QTest::newRow("within, 6 % over") << 2 << 106.0 << 100.0 << missed;
    QTest::newRow("within, 6 % under") << 2 << 94.0 << 100.0 << missed;
    QTest::newRow("within, no reference") << 2 << 5.0 << 0.0 << none;
    QTest::newRow("within, NaN value") << 2 << kNaN << 100.0 << none;
}

void TestBenchFigures::verdicts()
{
    QFETCH(int, kind);
    QFETCH(double, value);
    QFETCH(double, limit);
    QFETCH(int, expected);
    const Verdict v = kind == 0 ? atMost(value, limit) : kind == 1 ? atLeast(value, limit) : within(value, limit, 0.05);
    QCOMPARE(int(v), expected);
    QVERIFY(!verdictText(v).isEmpty());
}

void TestBenchFigures::durations_data()
{
    QTest::addColumn<double>("micros");
    QTest::addColumn<QString>("text");
    QTest::newRow("microseconds") << 63.24 << QStringLiteral("63.2 µs");
    QTest::newRow("just below a millisecond") << 999.9 << QStringLiteral("999.9 µs");
    QTest::newRow("one millisecond") << 1000.0 << QStringLiteral("1.00 ms");
    QTest::newRow("milliseconds") << 115520.0 << QStringLiteral("115.52 ms");
    QTest::newRow("seconds") << 10'004'000.0 << QStringLiteral("10.00 s");
    QTest::newRow("negative lateness") << -250.0 << QStringLiteral("-250.0 µs");
    QTest::newRow("not a number") << kNaN << QStringLiteral("n/a");
}

void TestBenchFigures::durations()
{
    QFETCH(double, micros);
    QFETCH(QString, text);
    QCOMPARE(formatMicros(micros), text);
}

void TestBenchFigures::sizesAndRatios_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bytes") << formatBytes(800) << QStringLiteral("800 B");
    QTest::newRow("kibibytes") << formatBytes(32 * 1024) << QStringLiteral("32 KiB");
    QTest::newRow("mebibytes") << formatBytes(33.0 * 1024 * 1024) << QStringLiteral("33.0 MiB");
    QTest::newRow("gibibytes") << formatBytes(24105.2 * 1024 * 1024) << QStringLiteral("23.5 GiB");
    QTest::newRow("shrinking memory keeps its sign") << formatBytes(-2048) << QStringLiteral("-2 KiB");
    QTest::newRow("ratio") << formatRatio(1.857) << QStringLiteral("1.86");
    QTest::newRow("ratio NaN") << formatRatio(kNaN) << QStringLiteral("n/a");
    QTest::newRow("ratio infinite") << formatRatio(kInf) << QStringLiteral("∞");
    QTest::newRow("percent") << formatPercent(0.0015) << QStringLiteral("0.15 %");
    QTest::newRow("percent NaN") << formatPercent(kNaN) << QStringLiteral("n/a");
}

void TestBenchFigures::sizesAndRatios()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void TestBenchFigures::markdownCellsCannotBreakTheTable()
{
    const QString table = markdownTable({"item", "figure"}, {{"a | b", "line\nbreak"}, {"short row"}});
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], QStringLiteral("|---|---|"));
    QCOMPARE(lines[2], QStringLiteral("| a \\| b | line break |"));
    // A row with fewer cells still has every column.
    QCOMPARE(lines[3], QStringLiteral("| short row |  |"));
}

void TestBenchFigures::plainTableAlignsColumns()
{
    const QString table = plainTable({"item", "x"}, {{"a much longer item", "1"}, {"b", "22"}});
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    // The second column starts at the same place on every line.
    const qsizetype column = lines[0].indexOf('x');
    QCOMPARE(lines[2].indexOf('1'), column);
    QCOMPARE(lines[3].indexOf("22"), column);
    QVERIFY(lines[1].startsWith(QString(18, '-')));
}

void TestBenchFigures::machineInfoFromProcTexts_data()
{
    QTest::addColumn<QString>("cpuinfo");
    QTest::addColumn<QString>("meminfo");
    QTest::addColumn<QString>("model");
    QTest::addColumn<qint64>("memory");
    QTest::newRow("typical")
        << QStringLiteral("processor\t: 0\nvendor_id\t: GenuineIntel\nmodel\t\t: 85\n"
                          "model name\t: Intel(R) Xeon(R) CPU @ 2.20GHz\nprocessor\t: 1\n"
                          "model name\t: Intel(R) Xeon(R) CPU @ 2.20GHz\n")
        << QStringLiteral("MemTotal:       24684420 kB\nMemFree:        21532000 kB\n")
        << QStringLiteral("Intel(R) Xeon(R) CPU @ 2.20GHz") << qint64(24684420) * 1024;
    // "model" alone (the line before "model name") must not be taken for the name.
    QTest::newRow("no model name, no total") << QStringLiteral("processor\t: 0\nmodel\t\t: 85\n")
                                             << QStringLiteral("MemFree: 1 kB\n") << QString() << qint64(0);
}

void TestBenchFigures::machineInfoFromProcTexts()
{
    QFETCH(QString, cpuinfo);
    QFETCH(QString, meminfo);
    QFETCH(QString, model);
    QFETCH(qint64, memory);
    const MachineInfo info = parseMachineInfo(cpuinfo, meminfo);
    QCOMPARE(info.cpuModel, model);
    QCOMPARE(info.memoryBytes, memory);
}

QTEST_GUILESS_MAIN(TestBenchFigures)
#include "tst_benchfigures.moc"
