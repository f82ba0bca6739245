// Every text of the main window and the address dialog is drawn bold at the scale factor this run
// gets (CTest runs it with QT_SCALE_FACTOR 1, 1.5 and 2). Each text's ink is measured on the
// screen picture, drawn bold as the form asks and drawn regular, against the control with a
// blank for its text; bold has to add at least 38 percent. With BRINDLE_SCREENSHOTS set, both
// windows are saved there as PNG.

#include "BoldTextStyle.h"
#include "ConsoleFixture.h"
#include "Fonts.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QTest>

namespace {

// Liberation Sans's own bold face gives these texts 1.40 to 1.48 times the ink of its regular
// face at every scale, IPA P Gothic's synthetic bold 1.55 to 1.65 at scale 1; left to fade with
// the scale factor, the latter fell to 1.36-1.44 at 1.5 and 1.27-1.33 at 2.
constexpr double kBoldInkRatio = 1.38;

// The sum of the grey-level differences between two pictures of the same control.
double inkBetween(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += qAbs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
    return sum;
}

QString textOf(QWidget *w)
{
    if (auto label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto box = qobject_cast<QGroupBox *>(w))
        return box->title();
    if (auto edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    return {};
}

void setTextOf(QWidget *w, const QString &text)
{
    if (auto label = qobject_cast<QLabel *>(w))
        label->setText(text);
    else if (auto button = qobject_cast<QAbstractButton *>(w))
        button->setText(text);
    else if (auto box = qobject_cast<QGroupBox *>(w))
        box->setTitle(text);
    else if (auto edit = qobject_cast<QLineEdit *>(w))
        edit->setText(text);
}

QImage picture(QWidget *w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Bold ink over regular ink for the control's text; a control without text gets `sample`, as
// the program writes into it later (connection labels, response boxes).
double boldRatio(QWidget *w, const QString &sample)
{
    const QString own = textOf(w);
    const QString text = own.isEmpty() ? sample : own;
    const QFont bold = w->font();
    QFont regular = bold;
    regular.setBold(false);

    // A blank rather than nothing: an address box keeps its colour, a frame keeps its title row.
    setTextOf(w, QStringLiteral(" "));
    const QImage empty = picture(w);
    setTextOf(w, text);
    const QImage boldPicture = picture(w);
    w->setFont(regular);
    const QImage regularPicture = picture(w);
    w->setFont(bold);
    setTextOf(w, own);
    return inkBetween(boldPicture, empty) / inkBetween(regularPicture, empty);
}

} // namespace

class TestBoldText : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyTextIsBold_data();
    void everyTextIsBold();

private:
    std::unique_ptr<ConsoleFixture> f;
    QWidget *dialog = nullptr;
};

void TestBoldText::initTestCase()
{
    installFontSubstitutions();
    installBoldTextStyle();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    f = std::make_unique<ConsoleFixture>();
    f->window->show();
    f->window->addressDialog().showDialog();
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frm_IP"))
            dialog = w;
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowExposed(f->window.get()));
    QVERIFY(QTest::qWaitForWindowExposed(dialog));

    const QString folder = qEnvironmentVariable("BRINDLE_SCREENSHOTS");
    if (!folder.isEmpty()) {
        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
        QDir().mkpath(folder);
        QVERIFY(f->window->grab().save(folder + QStringLiteral("/main-scale%1.png").arg(scale)));
        QVERIFY(dialog->grab().save(folder + QStringLiteral("/dialog-scale%1.png").arg(scale)));
    }
}

void TestBoldText::everyTextIsBold_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << QStringLiteral("frmMain");
    QTest::newRow("address dialog") << QStringLiteral("frm_IP");
}

void TestBoldText::everyTextIsBold()
{
    QFETCH(QString, window);
    QWidget *top = window == QLatin1String("frmMain") ? static_cast<QWidget *>(f->window.get()) : dialog;
    // No text cursor: it blinks, and would count as ink in one picture and not the other.
    if (QWidget *focus = QApplication::focusWidget())
        focus->clearFocus();
    QStringList faint;
    int measured = 0;
    for (QWidget *w : top->findChildren<QWidget *>()) {
        if (!w->isVisible())
            continue;
        if (!qobject_cast<QLabel *>(w) && !qobject_cast<QAbstractButton *>(w) && !qobject_cast<QGroupBox *>(w)
            && !qobject_cast<QLineEdit *>(w))
            continue;
        const double ratio = boldRatio(w, QStringLiteral("COM1 9600bps &H 20"));
        ++measured;
        if (ratio < kBoldInkRatio)
            faint << QStringLiteral("%1 (%2)").arg(w->objectName()).arg(ratio, 0, 'f', 2);
    }
    QVERIFY(measured >= 5);
    QVERIFY2(faint.isEmpty(), qPrintable(QStringLiteral("not bold: ") + faint.join(QStringLiteral(", "))));
}

QTEST_MAIN(TestBoldText)
#include "tst_boldtext.moc"
