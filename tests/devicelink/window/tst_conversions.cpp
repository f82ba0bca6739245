#include "window/CardCalls.h"
#include "window/HexDisplay.h"
#include "window/NumberReading.h"

#include <QTest>

class TestConversions : public QObject
{
    Q_OBJECT
private slots:
    void leadingNumber_data();
    void leadingNumber();
    void int32Reading_data();
    void int32Reading();
    void halfToEven_data();
    void halfToEven();
    void hex_data();
    void hex();
    void variantConversion_data();
    void variantConversion();
    void variantRefused_data();
    void variantRefused();
};

void TestConversions::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("unit after number") << "1500ms" << 1500.0;
    QTest::newRow("blanks anywhere") << " 1 2\t3\n4" << 1234.0;
    QTest::newRow("fraction") << "2500.5" << 2500.5;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("negative") << "-20" << -20.0;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("exponent") << "1.5E3x" << 1500.0;
    QTest::newRow("exponent lower case") << "2e-1" << 0.2;
    QTest::newRow("exponent without digits") << "2E" << 2.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("hex") << "&H41" << 65.0;
    QTest::newRow("hex lower digits") << "&hff" << 255.0;
    QTest::newRow("hex stops at G") << "&H4G" << 4.0;
    QTest::newRow("hex without digits") << "&HG1" << 0.0;
    QTest::newRow("hex twice") << "&H&H41" << 0.0;
    QTest::newRow("hex all ones is -1") << "&HFFFFFFFF" << -1.0;
    QTest::newRow("hex lowest") << "&H80000000" << -2147483648.0;
    QTest::newRow("hex leading zeros do not count") << "&H0000000012345678" << double(0x12345678);
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("comma is not a point") << "1,5" << 1.0;
}

void TestConversions::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    const LeadingNumber number = readLeadingNumber(text);
    QVERIFY(number.representable);
    QCOMPARE(number.value, value);
}

void TestConversions::int32Reading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("value");
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("half above max") << "2147483647.5" << false << 0;
    QTest::newRow("eleven nines") << "99999999999" << false << 0;
    QTest::newRow("nine hex digits") << "&H123456789" << false << 0;
    QTest::newRow("exponent overflow") << "1E999" << false << 0;
    QTest::newRow("exponent underflow reads as zero") << "1E-999" << true << 0;
    QTest::newRow("very long digits") << QString(100000, u'9') << false << 0;
    QTest::newRow("long zeros") << QString(100000, u'0') + "5" << true << 5;
    QTest::newRow("long mantissa, negative exponent") << "1" + QString(400, u'0') + "E-1" << false << 0;
    QTest::newRow("tiny without exponent") << "0." + QString(400, u'0') + "1" << true << 0;
    QTest::newRow("tiny, positive exponent") << "0." + QString(400, u'0') + "1E5" << true << 0;
}

void TestConversions::int32Reading()
{
    QFETCH(QString, text);
    QFETCH(bool, fits);
    QFETCH(int, value);
    const std::optional<qint32> result = readInt32(text);
    QCOMPARE(result.has_value(), fits);
    if (fits)
        QCOMPARE(*result, value);
}

void TestConversions::halfToEven_data()
{
    QTest::addColumn<double>("in");
    QTest::addColumn<double>("out");
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("1000.5") << 1000.5 << 1000.0;
    QTest::newRow("1001.5") << 1001.5 << 1002.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-3.5") << -3.5 << -4.0;
    QTest::newRow("2.4999") << 2.4999 << 2.0;
    QTest::newRow("-0.4") << -0.4 << 0.0;
}

void TestConversions::halfToEven()
{
    QFETCH(double, in);
    QFETCH(double, out);
    QCOMPARE(roundHalfEven(in), out);
}

void TestConversions::hex_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("digits");
    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("80") << 80 << "50";
    QTest::newRow("32") << 32 << "20";
    QTest::newRow("255") << 255 << "FF";
    QTest::newRow("-1") << -1 << "FFFFFFFF";
    QTest::newRow("min") << int(-2147483647 - 1) << "80000000";
}

void TestConversions::hex()
{
    QFETCH(int, value);
    QFETCH(QString, digits);
    QCOMPARE(hexDigits(value), digits);
}

void TestConversions::variantConversion_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << QVariant() << 0;
    QTest::newRow("int") << QVariant(42) << 42;
    QTest::newRow("2.5") << QVariant(2.5) << 2;
    QTest::newRow("3.5") << QVariant(3.5) << 4;
    QTest::newRow("true") << QVariant(true) << -1;
    QTest::newRow("numeric text") << QVariant(QStringLiteral(" 12 ")) << 12;
    QTest::newRow("long long in range") << QVariant(qlonglong(-5)) << -5;
}

void TestConversions::variantConversion()
{
    QFETCH(QVariant, value);
    QFETCH(int, expected);
    QCOMPARE(variantToInt32(value), expected);
}

void TestConversions::variantRefused_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("text") << QVariant(QStringLiteral("abc"));
    QTest::newRow("empty text") << QVariant(QString());
    QTest::newRow("too large double") << QVariant(3e9);
    QTest::newRow("too large integer") << QVariant(qlonglong(1) << 40);
    QTest::newRow("list") << QVariant(QVariantList{1, 2});
}

void TestConversions::variantRefused()
{
    QFETCH(QVariant, value);
    QVERIFY_THROWS_EXCEPTION(UntrappedError, variantToInt32(value));
}

QTEST_GUILESS_MAIN(TestConversions)
#include "tst_conversions.moc"
