#pragma once

#include "AddressDialogLauncher.h"
#include "AddressState.h"
#include "window/CardCalls.h"
#include "window/CommandRunner.h"
#include "window/ConnectionLabels.h"
#include "window/ConnectionSettings.h"
#include "window/ResponseDisplay.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class LinkJournal;
namespace CardOperations {
struct Operation;
struct StepInputs;
}
class QLabel;
class QPushButton;
class QTimer;

namespace Ui {
class frmMain;
}

// The operator console: the main window with its controls, the card control it hosts as
// Plenko1, the button gating and the handlers behind the buttons.
class frmMain : public QMainWindow, public ResponseDisplay, public ConnectionLabels
{
    Q_OBJECT
public:
    explicit frmMain(std::unique_ptr<CardControl> plenko1, QWidget *parent = nullptr);
    ~frmMain() override;

    // Replaceable ends of the window, so that tests run without modal loops or a real exit.
    // Shows a refusal of the operator's input (a value out of range, a character the device
    // cannot take). Default: a warning message box.
    void setMessageSink(std::function<void(const QString &)> sink) { m_showMessage = std::move(sink); }
    // Default: QApplication::beep().
    void setBeep(std::function<void()> beep) { m_beep = std::move(beep); }
    // Ends the program with a status, at once and without returning into a waiting command.
    // Default: flush the standard streams, then _exit().
    void setEndProgram(std::function<void(int)> end) { m_endProgram = std::move(end); }
    // The link's journal, where the window notes what a click skipped (nullptr: none). Not owned.
    void setJournal(LinkJournal *journal) { m_journal = journal; }

    // The connection settings (port and speed menu), the address state and its dialog.
    CardControl &Plenko1() { return *m_plenko1; }
    QTimer &Timer1() { return *m_timer1; }
    ConnectionSettings &connectionSettings() { return *m_connection; }
    AddressState &addressState() { return m_address; }
    AddressDialogLauncher &addressDialog() { return *m_addressDialog; }

    QLabel *lblPortNmae() const;
    QLabel *lblPort() const;
    QLabel *lblBaud() const;
    // ConnectionLabels: lbl_PortNmae, lbl_Port, lbl_Baud.
    void setPortNmaeText(const QString &text) override;
    void setPortText(const QString &text) override;
    void setBaudText(const QString &text) override;

    // ResponseDisplay: the four response boxes and the beep, for the command runner.
    void setCommandBox(const QString &text) override;
    void setCodeBox(const QString &text) override;
    void setDataBox(const QString &text) override;
    void setResultBox(const QString &text) override;
    void beep() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void applyScreenScale();
    void centreOnScreen();
    void connectButtons();
    void connectConnectionMenu();
    void load();

    // Gating of the nine command buttons.
    QList<QPushButton *> gatedButtons() const;
    void DisableButtons();
    void EnableButtons();

    // Button handlers (CardButtons.cpp, FreeCommand.cpp).
    void cmd_Mg2Read_Click();
    void cmd_Clear_Click();
    void cmd_Reset_Click();
    void cmd_Erase_Click();
    void cmd_Exit_Click();
    void cmdMagwrite_Click();
    void cmdRewrite_Click();
    void cmd_Send_Click();
    void cmd_Cancel_Click();
    void cmdEnd_Click();

    // A card button's operation, its steps from the table (CardButtons.cpp); skippedNote follows
    // the operator's message when a step was skipped.
    void runOperation(const CardOperations::Operation &operation, const QString &skippedNote = QString());
    QString stepSkipped(const CardOperations::Operation &operation, qsizetype index, std::optional<qint32> resultBefore,
                        CardOperations::StepInputs &inputs);
    qint32 run(qint32 code, const QByteArray &parameter, qint32 timeoutMs, bool dsr);
    bool dsrCheck() const;
    // Ends a click whose input was refused: the operator reads why, the buttons come back.
    void refuseInput(const QString &message);
    // "The data command (&h34) ended with result -1: ...", for a command skipped after it.
    static QString staleDataSkip(qint32 dataCode, std::optional<qint32> result);

    Ui::frmMain *m_ui = nullptr;
    std::unique_ptr<CardControl> m_plenko1;
    CardCalls m_calls{*m_plenko1};
    CommandRunner m_runner{*m_plenko1, *this};
    QTimer *m_timer1 = nullptr;
    std::unique_ptr<ConnectionSettings> m_connection;
    AddressState m_address;
    std::unique_ptr<AddressDialogLauncher> m_addressDialog;
    bool m_loaded = false;

    std::function<void(const QString &)> m_showMessage;
    std::function<void()> m_beep;
    std::function<void(int)> m_endProgram;
    LinkJournal *m_journal = nullptr;
};
