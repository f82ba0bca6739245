#include "frmMain.h"
#include "ui_frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

// The client area below the menu bar, at 96 dots per inch (9030 x 6210 twips).
constexpr int kClientWidth = 602;
constexpr int kClientHeight = 414;

void endAtOnce(int status)
{
    // Ending the process here, rather than quitting the event loop, is what keeps a command that
    // waits in a nested loop from ever resuming after the window has closed.
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

} // namespace

frmMain::frmMain(std::unique_ptr<CardControl> plenko1, QWidget *parent)
    : QMainWindow(parent), m_ui(new Ui::frmMain), m_plenko1(std::move(plenko1))
{
    Q_ASSERT(m_plenko1);
    m_ui->setupUi(this);

    // Timer1 belongs to the settle wait of the connection settings; it does not tick until that
    // code gives it an interval and starts it.
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(0);
    m_connection = std::make_unique<ConnectionSettings>(*m_plenko1, *this, *m_timer1);
    m_addressDialog = std::make_unique<AddressDialogLauncher>(*m_plenko1, m_address, *this);

    m_showMessage = [this](const QString &text) {
        // The message quotes what the operator typed; it must show as typed, never as markup.
        QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    m_beep = [] { QApplication::beep(); };
    m_endProgram = endAtOnce;

    applyScreenScale();
    connectButtons();
    connectConnectionMenu();
    m_ui->txt_UserCommand->setFocus();
}

frmMain::~frmMain()
{
    delete m_ui;
}

// The form is laid out in pixels at 96 dpi; on a screen with another logical resolution every
// control is moved and sized in proportion (fonts, given in points, follow by themselves).
void frmMain::applyScreenScale()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const qreal scale = screen ? screen->logicalDotsPerInchY() / 96.0 : 1.0;
    auto scaled = [scale](int v) { return int(std::lround(v * scale)); };
    if (!qFuzzyCompare(scale, 1.0)) {
        const QList<QWidget *> controls = m_ui->centralwidget->findChildren<QWidget *>();
        for (QWidget *control : controls) {
            const QRect g = control->geometry();
            control->setGeometry(scaled(g.x()), scaled(g.y()), scaled(g.width()), scaled(g.height()));
        }
    }
    m_ui->centralwidget->setFixedSize(scaled(kClientWidth), scaled(kClientHeight));
    // A single fixed border: the window keeps the size of its menu bar plus the client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
}

void frmMain::centreOnScreen()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    // The frame is known once the window exists, so this runs when it is first shown.
    const QRect frame = frameGeometry();
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
}

void frmMain::connectButtons()
{
    connect(m_ui->cmd_Mg2Read, &QPushButton::clicked, this, &frmMain::cmd_Mg2Read_Click);
    connect(m_ui->cmd_Clear, &QPushButton::clicked, this, &frmMain::cmd_Clear_Click);
    connect(m_ui->cmd_Reset, &QPushButton::clicked, this, &frmMain::cmd_Reset_Click);
    connect(m_ui->cmd_Erase, &QPushButton::clicked, this, &frmMain::cmd_Erase_Click);
    connect(m_ui->cmd_Exit, &QPushButton::clicked, this, &frmMain::cmd_Exit_Click);
    connect(m_ui->cmdMagwrite, &QPushButton::clicked, this, &frmMain::cmdMagwrite_Click);
    connect(m_ui->cmdRewrite, &QPushButton::clicked, this, &frmMain::cmdRewrite_Click);
    connect(m_ui->cmd_Send, &QPushButton::clicked, this, &frmMain::cmd_Send_Click);
    connect(m_ui->cmd_Cancel, &QPushButton::clicked, this, &frmMain::cmd_Cancel_Click);
    connect(m_ui->cmdEnd, &QPushButton::clicked, this, &frmMain::cmdEnd_Click);
    // cmd_A and cmd_B are placeholders without an action.
}

// The port items (mnu_Com1..mnu_Com9) and the speed items (mnu_2400bps..mnu_38400bps)
// reconnect the card control; mnu_IP opens the address dialog.
void frmMain::connectConnectionMenu()
{
    for (const ConnectionSettings::PortItem &item : ConnectionSettings::portItems()) {
        QAction *action = findChild<QAction *>(QLatin1String(item.menuName));
        Q_ASSERT(action);
        connect(action, &QAction::triggered, this, [this, port = item.port] { m_connection->choosePort(port); });
    }
    for (const ConnectionSettings::SpeedItem &item : ConnectionSettings::speedItems()) {
        QAction *action = findChild<QAction *>(QLatin1String(item.menuName));
        Q_ASSERT(action);
        connect(action, &QAction::triggered, this, [this, code = item.code] { m_connection->chooseSpeed(code); });
    }
    connect(m_ui->mnu_IP, &QAction::triggered, this, [this] { m_addressDialog->showDialog(); });
}

QLabel *frmMain::lblPortNmae() const
{
    return m_ui->lbl_PortNmae;
}

QLabel *frmMain::lblPort() const
{
    return m_ui->lbl_Port;
}

QLabel *frmMain::lblBaud() const
{
    return m_ui->lbl_Baud;
}

void frmMain::setPortNmaeText(const QString &text)
{
    m_ui->lbl_PortNmae->setText(text);
}

void frmMain::setPortText(const QString &text)
{
    m_ui->lbl_Port->setText(text);
}

void frmMain::setBaudText(const QString &text)
{
    m_ui->lbl_Baud->setText(text);
}

void frmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        load();
    }
}

// Start-up. Runs once, when the window is first shown. No link is opened here: the control
// stays unconnected until the operator chooses a port, a speed or an address.
void frmMain::load()
{
    m_address.resetToDefault();
    m_ui->lbl_Ver->setText(QString::number(m_calls.Version()));
    centreOnScreen();
    m_ui->txt_UserCommand->setFocus();
}

// Shutdown, however the window is closed (cmdEnd, the close box, the window menu). It is never
// refused, and it ends the program from here, also when a command is waiting underneath.
void frmMain::closeEvent(QCloseEvent *event)
{
    m_calls.StopLink();
    m_calls.CloseLink();
    event->accept();
    m_addressDialog->closeDialog();
    m_endProgram(0);
}

QList<QPushButton *> frmMain::gatedButtons() const
{
    return {m_ui->cmdRewrite, m_ui->cmdMagwrite, m_ui->cmd_Reset, m_ui->cmd_Clear, m_ui->cmd_Exit,
            m_ui->cmd_Erase,  m_ui->cmd_Send,    m_ui->cmd_Mg2Read, m_ui->cmdEnd};
}

void frmMain::DisableButtons()
{
    for (QPushButton *button : gatedButtons())
        button->setEnabled(false);
}

void frmMain::EnableButtons()
{
    for (QPushButton *button : gatedButtons())
        button->setEnabled(true);
}

void frmMain::setCommandBox(const QString &text)
{
    m_ui->dis_Cmd->setText(text);
}

void frmMain::setCodeBox(const QString &text)
{
    m_ui->dis_Code->setText(text);
}

void frmMain::setDataBox(const QString &text)
{
    m_ui->dis_KestraData->setText(text);
}

void frmMain::setResultBox(const QString &text)
{
    m_ui->dis_Ocx->setText(text);
}

void frmMain::beep()
{
    m_beep();
}

bool frmMain::dsrCheck() const
{
    return m_ui->opt_DSR->isChecked();
}

qint32 frmMain::run(qint32 code, const QByteArray &parameter, qint32 timeoutMs, bool dsr)
{
    qint32 responseCode = 0;
    QByteArray responseData;
    return m_runner.RunCommand(code, parameter, timeoutMs, dsr, responseCode, responseData);
}

void frmMain::refuseInput(const QString &message)
{
    m_showMessage(message);
    EnableButtons();
}

void frmMain::cmd_Cancel_Click()
{
    // Runs whether or not a command is running; a waiting command then ends and shows its outcome.
    m_calls.AbortCommand();
    EnableButtons();
}

void frmMain::cmdEnd_Click()
{
    close();
}
