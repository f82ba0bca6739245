#include "protocol/Frame.h"

#include <QTest>

using Kind = FrameReader::Kind;

class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void encodesLengthBodyEtxAndChecksum();
    void decodesEveryKind_data();
    void decodesEveryKind();
    void splitAtEveryByteBoundary();
    void garbageBeforeStxIsSkipped();
    void longestBodyRoundTrips();
    void incompleteFrameWaits();
};

void TestFrame::encodesLengthBodyEtxAndChecksum()
{
    // Magnetic read: body is the command byte 0x22 alone.
    const QByteArray frame = encodeFrame(QByteArray("\x22"));
    QCOMPARE(frame.toHex(' '), QByteArray("02 00 01 22 03 20"));
    const QByteArray eject = encodeFrame(QByteArray("P1"));
    QCOMPARE(eject.toHex(' '), QByteArray("02 00 02 50 31 03 60"));
}

void TestFrame::decodesEveryKind_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("kinds");
    const QByteArray good = encodeFrame("\x20" "DATA");
    QByteArray badBcc = good;
    badBcc[badBcc.size() - 1] = char(badBcc.back() ^ 0x01);
    QByteArray badEtx = good;
    badEtx[badEtx.size() - 2] = 0x04;
    QTest::newRow("ack nak") << QByteArray("\x06\x15") << QList<int>{int(Kind::Ack), int(Kind::Nak)};
    QTest::newRow("good") << good << QList<int>{int(Kind::Frame)};
    QTest::newRow("bad bcc") << badBcc << QList<int>{int(Kind::BadFrame)};
    QTest::newRow("bad etx") << badEtx << QList<int>{int(Kind::BadFrame)};
    QTest::newRow("zero length") << QByteArray("\x02\x00\x00", 3) << QList<int>{int(Kind::BadFrame)};
    QTest::newRow("ack then frame then bad then good")
        << QByteArray("\x06") + good + badBcc + good
        << QList<int>{int(Kind::Ack), int(Kind::Frame), int(Kind::BadFrame), int(Kind::Frame)};
}

void TestFrame::decodesEveryKind()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, kinds);
    FrameReader reader;
    QList<int> seen;
    for (const auto &item : reader.feed(stream))
        seen.append(int(item.kind));
    QCOMPARE(seen, kinds);
    QVERIFY(!reader.inFrame());
}

void TestFrame::splitAtEveryByteBoundary()
{
    const QByteArray body = QByteArray("\x20") + QByteArray("\x02\x03\x06\x15 payload", 12);
    const QByteArray stream = QByteArray("\x06") + encodeFrame(body) + encodeFrame("\x21");
    for (int cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (int cut2 = cut1; cut2 <= stream.size(); ++cut2) {
            FrameReader reader;
            QList<FrameReader::Item> items;
            items += reader.feed(QByteArrayView(stream).first(cut1));
            items += reader.feed(QByteArrayView(stream).sliced(cut1, cut2 - cut1));
            items += reader.feed(QByteArrayView(stream).sliced(cut2));
            QCOMPARE(items.size(), 3);
            QCOMPARE(items[0].kind, Kind::Ack);
            QCOMPARE(items[1].kind, Kind::Frame);
            QCOMPARE(items[1].body, body);
            QCOMPARE(items[2].body, QByteArray("\x21"));
        }
    }
}

void TestFrame::garbageBeforeStxIsSkipped()
{
    FrameReader reader;
    const auto items = reader.feed(QByteArray("noise\xff\x00", 7) + encodeFrame("\x20ok"));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items[0].body, QByteArray("\x20ok"));
}

void TestFrame::longestBodyRoundTrips()
{
    const QByteArray body(Wire::kMaxBody, '\x5a');
    FrameReader reader;
    const auto items = reader.feed(encodeFrame(body));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items[0].body.size(), Wire::kMaxBody);
    QCOMPARE(encodeFrame(QByteArray(Wire::kMaxBody + 10, 'x')).size(), Wire::kMaxBody + Wire::kOverhead);
}

void TestFrame::incompleteFrameWaits()
{
    FrameReader reader;
    // LEN promises 100 bytes, only 3 follow.
    QVERIFY(reader.feed(QByteArray("\x02\x00\x64" "abc", 6)).isEmpty());
    QVERIFY(reader.inFrame());
    reader.reset();
    QVERIFY(!reader.inFrame());
    QCOMPARE(reader.feed(encodeFrame("\x20")).size(), 1);
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
