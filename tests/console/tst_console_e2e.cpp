// The console with the real card control against kestra-emu over loopback TCP.

#include "Fonts.h"
#include "control/Plenko.h"
#include "SamplePrint.h"
#include "TestHelpers.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr qint32 kLoopback = 0x7F000001; // 127.0.0.1

} // namespace

class TestConsoleEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandOutcomeShown_data();
    void commandOutcomeShown();
    void magneticWriteThenRead();
    void samplePrintReachesCard();
    void binFreeCommandIsByteExact();
    void cancelRunningCommandThenNextWorks();

private:
    bool startEmulator(QStringList args, bool surface = false);
    void openWindow();
    QLineEdit *edit(const char *name) { return m_window->findChild<QLineEdit *>(name); }
    QPushButton *button(const char *name) { return m_window->findChild<QPushButton *>(name); }
    QStringList shown()
    {
        return {edit("dis_Cmd")->text(), edit("dis_Code")->text(), edit("dis_KestraData")->text(),
                edit("dis_Ocx")->text()};
    }

    std::unique_ptr<EmulatorProcess> m_emu;
    std::unique_ptr<frmMain> m_window;
    Plenko *m_plenko = nullptr;
    QStringList m_messages;
    int m_beeps = 0;
};

void TestConsoleEndToEnd::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KESTRA_EMU"))
        QSKIP("KESTRA_EMU does not name the emulator (run through CTest)");
    installFontSubstitutions();
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void TestConsoleEndToEnd::init()
{
    m_messages.clear();
    m_beeps = 0;
}

void TestConsoleEndToEnd::cleanup()
{
    m_window.reset();
    m_plenko = nullptr;
    m_emu.reset();
}

bool TestConsoleEndToEnd::startEmulator(QStringList args, bool surface)
{
    EmulatorProcess::Options options;
    options.extraArgs = std::move(args);
    options.surfacePng = surface;
    m_emu = std::make_unique<EmulatorProcess>(options);
    if (!m_emu->start()) {
        qWarning("%s", qPrintable(m_emu->errorText()));
        return false;
    }
    qputenv("PLENKO_TCP_PORT", QByteArray::number(m_emu->tcpPort()));
    return true;
}

void TestConsoleEndToEnd::openWindow()
{
    auto plenko = std::make_unique<Plenko>();
    m_plenko = plenko.get();
    m_window = std::make_unique<frmMain>(std::move(plenko));
    m_window->setMessageSink([this](const QString &text) { m_messages << text; });
    m_window->setBeep([this] { ++m_beeps; });
    m_window->setEndProgram([](int) {});
    m_window->show();
    qint32 address = kLoopback;
    qint32 speed = -1;
    QCOMPARE(variantToInt32(m_plenko->OpenLink(address, speed, -1, -1)), 0);
    QCOMPARE(variantToInt32(m_plenko->StartLink(0)), 0);
    QCOMPARE(variantToInt32(m_plenko->CommStatus()), LinkStatus::Idle);
}

void TestConsoleEndToEnd::commandOutcomeShown_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("commandText");
    QTest::addColumn<QStringList>("display");
    QTest::newRow("buffer clear") << "cmd_Clear" << "" << QStringList{"&h 49", "&H 20", "", "0"};
    QTest::newRow("eject") << "cmd_Exit" << "" << QStringList{"&h 50", "&H 20", "", "0"};
    QTest::newRow("blank stripe read") << "cmd_Mg2Read" << "" << QStringList{"&h 22", "&H 33", "", "-1"};
    QTest::newRow("unknown free command") << "cmd_Send" << "7e" << QStringList{"&h 7E", "&H 32", "", "-1"};
    QTest::newRow("code outside 00-FF") << "cmd_Send" << "100" << QStringList{"", "", "", ""};
}

void TestConsoleEndToEnd::commandOutcomeShown()
{
    QFETCH(QString, button);
    QFETCH(QString, commandText);
    QFETCH(QStringList, display);
    QVERIFY(startEmulator({"--time-scale", "0", "--reinsert-ms", "0"}));
    openWindow();
    edit("txt_UserCommand")->setText(commandText);
    this->button(qPrintable(button))->click();
    QCOMPARE(shown(), display);
    QCOMPARE(m_beeps, display[1].isEmpty() ? 0 : 1);
    for (QPushButton *b : m_window->findChildren<QPushButton *>()) {
        const bool blank = b->objectName() == "cmd_A" || b->objectName() == "cmd_B";
        QCOMPARE(b->isEnabled(), !blank);
    }
    QCOMPARE(m_messages.size(), display[0].isEmpty() ? 1 : 0);
    QCOMPARE(variantToInt32(m_plenko->CommStatus()), LinkStatus::Idle); // the link stays started
}

void TestConsoleEndToEnd::magneticWriteThenRead()
{
    QVERIFY(startEmulator({"--time-scale", "0", "--reinsert-ms", "0"}));
    openWindow();
    const QString data = QStringLiteral("HELLO;カード 123?");
    edit("txt_UserParameter")->setText(data);
    edit("txt_UserTimeout")->setText("5000");
    button("cmdMagwrite")->click();
    QCOMPARE(shown(), (QStringList{"&h 50", "&H 20", "", "0"}));
    QCOMPARE(m_emu->receivedCommands().mid(0, 3),
             (QList<QByteArray>{"9HELLO;\x83\x4a\x81\x5b\x83\x68 123?", "12", "P1"}));

    button("cmd_Mg2Read")->click();
    QCOMPARE(shown(), (QStringList{"&h 22", "&H 20", data, "0"}));
}

void TestConsoleEndToEnd::samplePrintReachesCard()
{
    QVERIFY(startEmulator({"--time-scale", "0", "--reinsert-ms", "0"}, true));
    openWindow();
    m_window->findChild<QRadioButton *>("opt_NoDSR")->setChecked(true);
    button("cmdRewrite")->click();
    QCOMPARE(shown(), (QStringList{"&h 46", "&H 20", "", "0"}));
    QCOMPARE(m_emu->receivedCommands(), (QList<QByteArray>{"A" + SamplePrintData(), "F1"}));

    // The rewrite drew the text on the card: the picture has ink on it.
    QVERIFY(m_emu->waitForTrace("F1"));
    QImage surface(m_emu->surfacePath());
    QVERIFY2(!surface.isNull(), qPrintable(m_emu->surfacePath()));
    int ink = 0;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            ink += qGray(surface.pixel(x, y)) < 96 ? 1 : 0;
    QVERIFY2(ink > 500, qPrintable(QString::number(ink)));
}

void TestConsoleEndToEnd::binFreeCommandIsByteExact()
{
    QVERIFY(startEmulator({"--time-scale", "0", "--reinsert-ms", "0"}));
    openWindow();
    m_window->findChild<QCheckBox *>("opt_Bin")->setChecked(true);
    edit("txt_UserCommand")->setText("39");
    edit("txt_UserParameter")->setText(QStringLiteral("$00$FFx\r$0D$80カ$"));
    edit("txt_UserTimeout")->setText("3000");
    button("cmd_Send")->click();
    QCOMPARE(shown(), (QStringList{"&h 39", "&H 20", "", "0"}));
    const QByteArray expected = QByteArray("9\x00\xffx\r\x80\x83\x4a\x00", 9);
    QCOMPARE(m_emu->receivedCommands(), QList<QByteArray>{expected});
    // The trace holds the frame's exact bytes as they crossed the wire.
    QVERIFY(m_emu->trace().contains("in frame 02 00 09 39 00 ff 78 0d 80 83 4a 00 03"));
}

void TestConsoleEndToEnd::cancelRunningCommandThenNextWorks()
{
    // At the device's own pace a reset takes half a second: time to cancel it.
    QVERIFY(startEmulator({"--reinsert-ms", "0"}));
    openWindow();
    bool enabledAtOnce = false;
    QTimer::singleShot(50, m_window.get(), [&] {
        button("cmd_Cancel")->click();
        enabledAtOnce = button("cmd_Reset")->isEnabled();
    });
    button("cmd_Reset")->click();
    QVERIFY(enabledAtOnce);
    QCOMPARE(shown(), (QStringList{"&h 5F", "", "", "-1"}));
    QCOMPARE(variantToInt32(m_plenko->ErrorCode()), LinkError::Aborted);

    button("cmd_Clear")->click();
    QCOMPARE(shown(), (QStringList{"&h 49", "&H 20", "", "0"}));
}

QTEST_MAIN(TestConsoleEndToEnd)
#include "tst_console_e2e.moc"
