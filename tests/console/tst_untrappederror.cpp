#include "ConsoleApplication.h"
#include "ConsoleFixture.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <stdexcept>

// An error that no handler traps leaves the handler that raised it and reaches the application,
// which reports its text (and, outside tests, ends the program).
class TestUntrappedError : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void raisedByControlInLoad_data();
    void raisedByControlInLoad();
    void raisedInClickHandler_data();
    void raisedInClickHandler();
    void raisedDuringCommandWait();
    void reportShowsTextAsWritten_data();
    void reportShowsTextAsWritten();

private:
    ConsoleApplication *app() { return static_cast<ConsoleApplication *>(qApp); }
    QStringList m_reports;
    std::unique_ptr<ConsoleFixture> f;
};

void TestUntrappedError::init()
{
    m_reports.clear();
    app()->setUntrappedErrorReporter([this](const QString &text) { m_reports << text; });
    f = std::make_unique<ConsoleFixture>();
}

void TestUntrappedError::cleanup()
{
    f.reset();
}

void TestUntrappedError::raisedByControlInLoad_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("control raises") << 0 << "Automation error: the control failed";
    QTest::newRow("version not a number") << 1 << "Type mismatch";
    QTest::newRow("version too large") << 2 << "Overflow";
    QTest::newRow("standard exception") << 3 << "bad thing";
}

void TestUntrappedError::raisedByControlInLoad()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    switch (kind) {
    case 0:
        f->control->beforeCall = [](Dispid id) {
            if (id == Dispid::Version)
                throw UntrappedError(QStringLiteral("Automation error: the control failed"));
        };
        break;
    case 1:
        f->control->version = QStringLiteral("three");
        break;
    case 2:
        f->control->version = 5e9;
        break;
    case 3:
        f->control->beforeCall = [](Dispid) { throw std::runtime_error("bad thing"); };
        break;
    }
    f->window->show();
    QCOMPARE(m_reports.size(), 1);
    QVERIFY2(m_reports[0].contains(text), qPrintable(m_reports[0]));
}

void TestUntrappedError::raisedInClickHandler_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("failing");
    QTest::newRow("send result") << "cmd_Clear" << int(Dispid::SendCommand);
    QTest::newRow("abort") << "cmd_Cancel" << int(Dispid::AbortCommand);
    QTest::newRow("stop on close") << "cmdEnd" << int(Dispid::StopLink);
}

void TestUntrappedError::raisedInClickHandler()
{
    QFETCH(QString, button);
    QFETCH(int, failing);
    f->window->setEndProgram([](int) {});
    f->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f->window.get()));
    f->control->beforeCall = [failing](Dispid id) {
        if (int(id) == failing)
            throw UntrappedError(QStringLiteral("failure %1").arg(failing));
    };
    // The operator presses the button with the space bar: the key events travel through the
    // application object, as a mouse click does.
    f->button(button)->setFocus();
    QTest::keyClick(f->button(button), Qt::Key_Space);
    QCOMPARE(m_reports, QStringList{QStringLiteral("failure %1").arg(failing)});
}

void TestUntrappedError::raisedDuringCommandWait()
{
    // A timer event inside the command wait raises; the report comes from the nested loop.
    f->control->outcomes = {runsFor(50)};
    f->during(0, [] { throw UntrappedError(QStringLiteral("inside the wait")); });
    f->button("cmd_Reset")->click();
    QCOMPARE(m_reports, QStringList{QStringLiteral("inside the wait")});
}

void TestUntrappedError::reportShowsTextAsWritten_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("tag in a returned value") << QStringLiteral("Type mismatch: the card control returned QString \"<b>x</b>\"");
    QTest::newRow("angle brackets and ampersand") << QStringLiteral("<p>failed & gone</p>");
}

void TestUntrappedError::reportShowsTextAsWritten()
{
    // The report the operator reads (without the end of the program that follows it outside tests).
    QFETCH(QString, text);
    bool seen = false;
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    QTimer::singleShot(0, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                seen = true;
                format = box->textFormat();
                shown = box->text();
                box->done(0);
            }
        }
    });
    showUntrappedError(text);
    QVERIFY(seen);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shown, text);
}

int main(int argc, char *argv[])
{
    ConsoleApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    TestUntrappedError test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_untrappederror.moc"
