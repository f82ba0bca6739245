#include "protocol/DeviceText.h"

#include <QHash>
#include <QTest>

// Device text: the operator's characters in CP932 and back, the forms Linux input methods type,
// and what has no place in the code page.
class TestDeviceText : public QObject
{
    Q_OBJECT
private slots:
    void deviceTextRoundTrip();
    void jisVariantsEncodeAsCp932_data();
    void jisVariantsEncodeAsCp932();
    void everyDoubleByteCodeRoundTrips();
    void undecodableBytesShowAsReplacement_data();
    void undecodableBytesShowAsReplacement();
    void unencodableCharacterIsNamed_data();
    void unencodableCharacterIsNamed();
};

void TestDeviceText::deviceTextRoundTrip()
{
    const QString text = QStringLiteral("磁気リード ｶﾀｶﾅ ①～ ABC\\");
    const DeviceBytes encoded = encodeDeviceText(text);
    QVERIFY(!encoded.unencodable);
    QCOMPARE(decodeDeviceText(encoded.bytes), text);
    QCOMPARE(encodeDeviceText(u"リ").bytes, QByteArray("\x83\x8a"));
}

// What Linux input methods type for characters a Windows keyboard gives in their CP932 form.
void TestDeviceText::jisVariantsEncodeAsCp932_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("wave dash between digits") << QString::fromUtf16(u"1\u301C3") << QByteArray::fromHex("31816033");
    QTest::newRow("double vertical line") << QString::fromUtf16(u"\u2016") << QByteArray::fromHex("8161");
    QTest::newRow("minus sign") << QString::fromUtf16(u"\u2212") << QByteArray::fromHex("817c");
    QTest::newRow("cent sign") << QString::fromUtf16(u"\u00A2") << QByteArray::fromHex("8191");
    QTest::newRow("pound sign") << QString::fromUtf16(u"\u00A3") << QByteArray::fromHex("8192");
    QTest::newRow("not sign") << QString::fromUtf16(u"\u00AC") << QByteArray::fromHex("81ca");
    QTest::newRow("em dash") << QString::fromUtf16(u"\u2014") << QByteArray::fromHex("815c");
    QTest::newRow("yen sign") << QString::fromUtf16(u"\u00A5100") << QByteArray("\x5c" "100");
    QTest::newRow("overline") << QString::fromUtf16(u"\u203E") << QByteArray("~");
    QTest::newRow("inside a Japanese run") << QString::fromUtf16(u"磁\u301C気\u00A5")
                                           << QByteArray::fromHex("8ea581608b435c");
}

void TestDeviceText::jisVariantsEncodeAsCp932()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const DeviceBytes encoded = encodeDeviceText(text);
    QVERIFY(!encoded.unencodable);
    QCOMPARE(encoded.bytes, bytes);
}

// Every double-byte code the code page defines reads as one character that encodes back to the
// same two bytes, the JIS variants above notwithstanding. Where the code page gives a character
// two codes (NEC and IBM extensions), it goes out as one of them.
void TestDeviceText::everyDoubleByteCodeRoundTrips()
{
    QHash<QString, QList<QByteArray>> codes;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF)
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue; // no trail byte
            const QByteArray bytes = QByteArray(1, char(lead)) + char(trail);
            const QString text = decodeDeviceText(bytes);
            QCOMPARE(text.size(), 1);
            if (text != QString(QChar(0xFFFD)))
                codes[text].append(bytes);
        }
    }
    QVERIFY(codes.size() > 9000);
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        const DeviceBytes encoded = encodeDeviceText(it.key());
        const QByteArray first = it.value().first();
        QVERIFY2(!encoded.unencodable, first.toHex().constData());
        if (it.value().size() == 1)
            QVERIFY2(encoded.bytes == first, first.toHex().constData());
        else
            QVERIFY2(it.value().contains(encoded.bytes), first.toHex().constData());
    }
}

void TestDeviceText::undecodableBytesShowAsReplacement_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0xFF") << QByteArray("A\xff" "B") << QString::fromUtf16(u"A\uFFFDB");
    QTest::newRow("lone lead byte at end") << QByteArray("A\x82") << QString::fromUtf16(u"A\uFFFD");
    QTest::newRow("lead byte before blank") << QByteArray("\x82 ") << QString::fromUtf16(u"\uFFFD ");
    QTest::newRow("real SUB stays") << QByteArray("\x1a\x82\xa0") << QString::fromUtf16(u"\x1a\u3042");
    QTest::newRow("NUL stays") << QByteArray("a\0b", 3) << QString(QChar(u'a')) + QChar(0) + QChar(u'b');
}

void TestDeviceText::undecodableBytesShowAsReplacement()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeDeviceText(bytes), text);
}

void TestDeviceText::unencodableCharacterIsNamed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("character");
    QTest::newRow("e acute") << QString::fromUtf16(u"a\u00E9b") << uint(0xE9);
    QTest::newRow("after a JIS variant") << QString::fromUtf16(u"\u301C\u00E9") << uint(0xE9);
    QTest::newRow("emoji") << QString::fromUtf8("x😀") << uint(0x1F600);
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << uint(0xD800);
    // The converter takes this private-use character one way only, to the bytes of "№": sent, it
    // would arrive as another character than the one typed.
    QTest::newRow("one-way mapping") << QString::fromUtf16(u"椪\uF86Fp") << uint(0xF86F);
}

void TestDeviceText::unencodableCharacterIsNamed()
{
    QFETCH(QString, text);
    QFETCH(uint, character);
    const DeviceBytes encoded = encodeDeviceText(text);
    QVERIFY(encoded.unencodable.has_value());
    QCOMPARE(uint(*encoded.unencodable), character);
}

QTEST_GUILESS_MAIN(TestDeviceText)
#include "tst_devicetext.moc"
