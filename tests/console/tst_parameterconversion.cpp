#include "BinConvert.h"
#include "OperatorInput.h"
#include "SamplePrint.h"

#include <QTest>

namespace {

QString chars(std::initializer_list<char16_t> codes)
{
    QString text;
    for (char16_t c : codes)
        text.append(QChar(c));
    return text;
}

} // namespace

class TestParameterConversion : public QObject
{
    Q_OBJECT
private slots:
    void binConvert_data();
    void binConvert();
    void binConvertBytes_data();
    void binConvertBytes();
    void binConvertLongText();
    void isHex_data();
    void isHex();
    void timeoutBox_data();
    void timeoutBox();
    void commandBox_data();
    void commandBox();
    void refusalNamesBoxAndValue_data();
    void refusalNamesBoxAndValue();
    void parameterEncoding_data();
    void parameterEncoding();
    void samplePrintData();
};

void TestParameterConversion::binConvert_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("two escapes") << "$41$42" << "AB";
    QTest::newRow("either case") << "$4a$4A" << "JJ";
    QTest::newRow("FF") << "$FF" << chars({0xFF});
    QTest::newRow("00") << "$00" << chars({0x00});
    QTest::newRow("dollar before escape") << "$$41" << "$A";
    QTest::newRow("not hex") << "$4G" << "$4G";
    QTest::newRow("blank in pair") << "$ 41" << "$ 41";
    QTest::newRow("one digit at end") << "x$7" << "x" + chars({0x07});
    QTest::newRow("dollar at end") << "x$" << "x" + chars({0x00});
    QTest::newRow("dollar alone") << "$" << chars({0x00});
    QTest::newRow("digit and CR") << "$4\r" << "$4";
    QTest::newRow("typed CR dropped") << "A\r\nB" << "A\nB";
    QTest::newRow("escaped CR stays") << "ab$0D$0Acd" << "ab\r\ncd";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("plain") << "Hello, World!" << "Hello, World!";
    QTest::newRow("only CRs") << "\r\r" << "";
    QTest::newRow("Japanese passes") << QStringLiteral("カード$21") << QStringLiteral("カード!");
    QTest::newRow("three dollars") << "$$$" << "$$" + chars({0x00});
    QTest::newRow("escape of a dollar") << "$24$24" << "$$";
}

void TestParameterConversion::binConvert()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    const QString before = in;
    QCOMPARE(BinConvert(in), out);
    QCOMPARE(in, before);
}

void TestParameterConversion::binConvertBytes_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("FF is one byte") << "$FF" << QByteArray("\xff", 1);
    QTest::newRow("00 is one byte") << "$00" << QByteArray("\x00", 1);
    QTest::newRow("80 to 9F are bytes, not characters") << "$80$9f$a0" << QByteArray("\x80\x9f\xa0", 3);
    QTest::newRow("escapes between CP932 text") << QStringLiteral("カ$82ド")
                                                << QByteArray::fromHex("834a828368");
    QTest::newRow("literal dollar") << "$4G" << QByteArray("$4G");
    QTest::newRow("dollar at end") << "x$" << QByteArray("x\x00", 2);
    QTest::newRow("CR dropped, escaped CR kept") << "a\r$0D" << QByteArray("a\r");
    QTest::newRow("half-width katakana") << QStringLiteral("ｶ$B6") << QByteArray("\xb6\xb6");
}

void TestParameterConversion::binConvertBytes()
{
    QFETCH(QString, in);
    QFETCH(QByteArray, bytes);
    const DeviceBytes result = BinConvertToDeviceBytes(in);
    QVERIFY(!result.unencodable);
    QCOMPARE(result.bytes, bytes);
}

void TestParameterConversion::binConvertLongText()
{
    // Far beyond 32,764 characters: every escape is still found, up to the very last one.
    QString in;
    QByteArray expected;
    for (int i = 0; i < 40000; ++i) {
        in += QStringLiteral("$%1x").arg(i % 256, 2, 16, QLatin1Char('0'));
        expected.append(char(i % 256));
        expected.append('x');
    }
    in += "$";
    expected.append('\0');
    QCOMPARE(in.size(), 160001);
    QCOMPARE(BinConvertToDeviceBytes(in).bytes, expected);
    QCOMPARE(BinConvert(in).size(), expected.size());
    QCOMPARE(BinConvert(in).back(), QChar(0));
}

void TestParameterConversion::isHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("9f") << "9f" << true;
    QTest::newRow("A0") << "A0" << true;
    QTest::newRow("all digits") << "0123456789abcdefABCDEF" << true;
    QTest::newRow("g0") << "g0" << false;
    QTest::newRow("0x") << "0x" << false;
    QTest::newRow("blank 1") << " 1" << false;
    QTest::newRow("G") << "G" << false;
    QTest::newRow("full-width digit") << QStringLiteral("１") << false;
    QTest::newRow("a minus 32 is not A") << "A" + chars({0x21}) << false;
    QTest::newRow("just above f") << "g" << false;
    QTest::newRow("backtick below a") << "`" << false;
}

void TestParameterConversion::isHex()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QCOMPARE(IsHex(text), hex);
}

void TestParameterConversion::timeoutBox_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("unit after number") << "1500ms" << true << 1500;
    QTest::newRow("2500.5") << "2500.5" << true << 2500;
    QTest::newRow("2501.5") << "2501.5" << true << 2502;
    QTest::newRow("2.5") << "2.5" << true << 2;
    QTest::newRow("3.5") << "3.5" << true << 4;
    QTest::newRow("negative") << "-20" << true << -20;
    QTest::newRow("empty") << "" << true << 0;
    QTest::newRow("abc") << "abc" << true << 0;
    QTest::newRow("hex") << "&H10" << true << 16;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("eleven nines") << "99999999999" << false << 0;
    QTest::newRow("above max") << "2147483648" << false << 0;
    QTest::newRow("exponent overflow") << "1E400" << false << 0;
    QTest::newRow("nine hex digits") << "&H123456789" << false << 0;
}

void TestParameterConversion::timeoutBox()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    const BoxNumber number = readTimeoutBox(text);
    QCOMPARE(number.ok(), ok);
    if (ok)
        QCOMPARE(number.value, value);
}

void TestParameterConversion::commandBox_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("41") << "41" << true << 0x41;
    QTest::newRow("ff") << "ff" << true << 255;
    QTest::newRow("4G") << "4G" << true << 4;
    QTest::newRow("empty") << "" << true << 0;
    QTest::newRow("G1") << "G1" << true << 0;
    QTest::newRow("typed prefix") << "&H41" << true << 0;
    QTest::newRow("blanks skipped") << " 4 1" << true << 0x41;
    QTest::newRow("eight digits are two's complement, no code") << "FFFFFFFF" << false << 0;
    QTest::newRow("one beyond FF") << "100" << false << 0;
    QTest::newRow("leading zeros do not count") << "000000000050" << true << 0x50;
    QTest::newRow("nine digits") << "123456789" << false << 0;
}

void TestParameterConversion::commandBox()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    const BoxNumber number = readCommandBox(text);
    QCOMPARE(number.ok(), ok);
    if (ok)
        QCOMPARE(number.value, value);
}

void TestParameterConversion::refusalNamesBoxAndValue_data()
{
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("mentions");
    QTest::newRow("time-out") << readTimeoutBox("99999999999").refusal
                              << QStringList{"Time Out", "\"99999999999\"", "Nothing was sent"};
    QTest::newRow("command") << readCommandBox("123456789").refusal
                             << QStringList{"Command", "\"123456789\"", "Nothing was sent"};
    QTest::newRow("long value is cut") << readTimeoutBox(QString(100000, u'9')).refusal
                                       << QStringList{"Time Out", "(100000 characters)"};
    QTest::newRow("e acute") << parameterBytes(QStringLiteral("a\u00E9b")).refusal
                             << QStringList{"Parameter", "U+00E9", QStringLiteral("\"\u00E9\"")};
    QTest::newRow("emoji in BIN mode") << binParameterBytes(QStringLiteral("$41\U0001F600")).refusal
                                       << QStringList{"Parameter", "U+1F600"};
    QTest::newRow("lone surrogate named by code") << parameterBytes(chars({u'a', 0xD800})).refusal
                                                  << QStringList{"U+D800"};
    // 39 digits, then a character outside the basic plane where the quote is cut.
    QTest::newRow("cut keeps a character whole")
        << readTimeoutBox(QString(39, u'9') + QStringLiteral("\U0001F600") + QString(20, u'9')).refusal
        << QStringList{"Time Out", QStringLiteral("\"%1...\"").arg(QString(39, u'9')), "(61 characters)"};
}

void TestParameterConversion::refusalNamesBoxAndValue()
{
    QFETCH(QString, refusal);
    QFETCH(QStringList, mentions);
    for (const QString &mention : mentions)
        QVERIFY2(refusal.contains(mention), qPrintable(refusal));
    QVERIFY(refusal.size() < 300);
    QVERIFY(QStringView(refusal).isValidUtf16());
}

void TestParameterConversion::parameterEncoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII") << "ABC" << QByteArray("ABC");
    QTest::newRow("dollars stay in plain mode") << "$41$42" << QByteArray("$41$42");
    QTest::newRow("Japanese in CP932") << QStringLiteral("カード") << QByteArray::fromHex("834a815b8368");
    QTest::newRow("CR and NUL pass") << QString(QChar(0)) + "\r" << QByteArray("\x00\r", 2);
    QTest::newRow("empty") << "" << QByteArray();
}

void TestParameterConversion::parameterEncoding()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const ParameterBytes parameter = parameterBytes(text);
    QVERIFY(parameter.ok());
    QCOMPARE(parameter.bytes, bytes);
}

void TestParameterConversion::samplePrintData()
{
    const QByteArray data = SamplePrintData();
    const QList<QByteArray> lines = data.split('\n');
    const QList<QByteArray> expected = {
        "2, 0, 23,Hello, World!", " ", "This is Kestra.", " Rewritable Card R/W", "  From Orvell, Velden.",
        " ", "/www.example.com/", " ", "You can use Kestra for...", "* Point card", "* Pre-Paid card",
        "* Member's card", "* Library ID Card", "* Medical ID card", "", "......And more!!",
    };
    QCOMPARE(lines, expected);
    QCOMPARE(data.count('\n'), 15);
    QVERIFY(!data.contains('\r'));
    QVERIFY(data.endsWith("card\n\n......And more!!"));
    for (const char c : data)
        QVERIFY(uchar(c) < 0x80);
}

QTEST_GUILESS_MAIN(TestParameterConversion)
#include "tst_parameterconversion.moc"
