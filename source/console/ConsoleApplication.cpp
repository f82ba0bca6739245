#include "ConsoleApplication.h"

#include "window/CardCalls.h"

#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <unistd.h>

namespace {

void showAndEnd(const QString &text)
{
    showUntrappedError(text);
    // End at once: unwinding through command waits that sit in nested event loops below this
    // point would resume code whose state the error has already broken.
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(1);
}

} // namespace

void showUntrappedError(const QString &text)
{
    // The text may quote a value the control returned; it shows as written, never as markup.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Brindle"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

ConsoleApplication::ConsoleApplication(int &argc, char **argv) : QApplication(argc, argv), m_reporter(showAndEnd) {}

bool ConsoleApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const UntrappedError &error) {
        report(error.text());
    } catch (const std::exception &error) {
        report(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        report(QStringLiteral("Unknown error"));
    }
    return false;
}

void ConsoleApplication::report(const QString &text)
{
    // While the report is on screen events still flow (the message box runs its own loop); a
    // further error in that time ends in the same report and is not shown twice.
    if (m_reporting)
        return;
    m_reporting = true;
    m_reporter(text);
    m_reporting = false;
}
