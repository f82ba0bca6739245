#pragma once

#include <QApplication>
#include <functional>

// The report of an untrapped error: a critical message box with the error text, modal; returns
// when the operator has closed it.
void showUntrappedError(const QString &text);

// The application object of the console. It is where an error that no handler traps ends up:
// an UntrappedError raised by a card-control call or a conversion (or any other exception)
// leaves the handler that raised it and is caught here, reported, and the program ends.
class ConsoleApplication : public QApplication
{
    Q_OBJECT
public:
    ConsoleApplication(int &argc, char **argv);

    // Receives the error text. The default shows a critical message box and then ends the
    // program at once with status 1; tests replace it to capture the text.
    void setUntrappedErrorReporter(std::function<void(const QString &)> reporter)
    {
        m_reporter = std::move(reporter);
    }

    bool notify(QObject *receiver, QEvent *event) override;

private:
    void report(const QString &text);

    std::function<void(const QString &)> m_reporter;
    bool m_reporting = false;
};
