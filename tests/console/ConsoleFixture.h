#pragma once

#include "ScriptedCardControl.h"
#include "frmMain.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTimer>
#include <memory>

// A main window hosting a scripted card control, with the window's message box, beep and
// program end replaced by records.
class ConsoleFixture
{
public:
    ConsoleFixture()
    {
        auto control = std::make_unique<ScriptedCardControl>();
        this->control = control.get();
        window = std::make_unique<frmMain>(std::move(control));
        window->setMessageSink([this](const QString &text) { messages << text; });
        window->setBeep([this] { ++beeps; });
        window->setEndProgram([this](int status) { ends << status; });
    }
    ConsoleFixture(const ConsoleFixture &) = delete;
    ConsoleFixture &operator=(const ConsoleFixture &) = delete;

    template <typename T = QWidget>
    T *find(const QString &name) const
    {
        T *widget = window->findChild<T *>(name);
        if (!widget)
            qFatal("no control named %s", qPrintable(name));
        return widget;
    }
    QPushButton *button(const QString &name) const { return find<QPushButton>(name); }
    QLineEdit *edit(const QString &name) const { return find<QLineEdit>(name); }

    // The enabled state of the nine gated buttons, in gating order.
    static QStringList gatedNames()
    {
        return {"cmdRewrite", "cmdMagwrite", "cmd_Reset", "cmd_Clear", "cmd_Exit",
                "cmd_Erase",  "cmd_Send",    "cmd_Mg2Read", "cmdEnd"};
    }
    bool allGated(bool enabled) const
    {
        for (const QString &name : gatedNames())
            if (button(name)->isEnabled() != enabled)
                return false;
        return true;
    }

    // Runs `action` from inside the event processing of whatever wait is going on `ms` from now.
    void during(int ms, std::function<void()> action) { QTimer::singleShot(ms, window.get(), std::move(action)); }

    QList<QVariantList> sentCommands() const
    {
        QList<QVariantList> sent;
        for (const auto &call : control->callsOf(Dispid::SendCommand))
            sent << call.args;
        return sent;
    }
    QList<int> sentCodes() const
    {
        QList<int> codes;
        for (const QVariantList &args : sentCommands())
            codes << args[0].toInt();
        return codes;
    }

    ScriptedCardControl *control = nullptr;
    std::unique_ptr<frmMain> window;
    QStringList messages;
    int beeps = 0;
    QList<int> ends;
};

// A command that ends after `ms` with the given codes.
inline ScriptedCardControl::Outcome runsFor(int ms, QVariant errorCode = 0, QVariant responseCode = DeviceStatus::Normal,
                                            QByteArray data = {})
{
    ScriptedCardControl::Outcome outcome;
    outcome.runMs = ms;
    outcome.errorCode = std::move(errorCode);
    outcome.responseCode = std::move(responseCode);
    outcome.responseData = std::move(data);
    return outcome;
}

inline ScriptedCardControl::Outcome refused(int result = 1)
{
    ScriptedCardControl::Outcome outcome;
    outcome.sendResult = result;
    return outcome;
}

inline ScriptedCardControl::Outcome neverEnds()
{
    ScriptedCardControl::Outcome outcome;
    outcome.neverEnds = true;
    return outcome;
}
