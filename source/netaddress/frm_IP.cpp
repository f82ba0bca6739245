#include "frm_IP.h"

#include "IpEntryCheck.h"
#include "transport/LinkEndpoints.h"
#include "control/LinkMeaning.h"
#include "ui_frm_IP.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QPushButton>

namespace {

// The form is laid out for 96 dots per inch (one pixel = 15 twips); other screens scale it.
constexpr double kDesignDpi = 96.0;

QRect scaled(const QRect &rect, double factor)
{
    return QRect(qRound(rect.x() * factor), qRound(rect.y() * factor), qRound(rect.width() * factor),
                 qRound(rect.height() * factor));
}

} // namespace

frm_IP::frm_IP(CardControl &control, AddressState &address, ConnectionLabels &labels, MessageSink message,
               QWidget *parent)
    : QWidget(parent, Qt::Dialog), m_ui(new Ui::frm_IP), m_calls(control), m_address(address), m_labels(labels),
      m_message(std::move(message)), m_endpoints(&LinkEndpoints::standard())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the dialog alone never ends the program; only the main window does.
    setAttribute(Qt::WA_QuitOnClose, false);

    const double factor = logicalDpiX() / kDesignDpi;
    QSize client = size();
    if (!qFuzzyCompare(factor, 1.0)) {
        for (QWidget *child : {static_cast<QWidget *>(m_ui->txt_IP1), static_cast<QWidget *>(m_ui->txt_IP2),
                               static_cast<QWidget *>(m_ui->txt_IP3), static_cast<QWidget *>(m_ui->txt_IP4),
                               static_cast<QWidget *>(m_ui->cmd_IPSet)})
            child->setGeometry(scaled(child->geometry(), factor));
        client = scaled(QRect(QPoint(), client), factor).size();
    }
    setFixedSize(client);

    for (qint16 n = 1; n <= 4; ++n)
        connect(box(n), &QLineEdit::textChanged, this, [this, n] { txt_IP_Change(n); });
    connect(m_ui->cmd_IPSet, &QPushButton::clicked, this, &frm_IP::cmd_IPSet_Click);

    Form_Load();
}

frm_IP::~frm_IP()
{
    delete m_ui;
}

void frm_IP::setMessageSink(MessageSink message)
{
    m_message = std::move(message);
}

void frm_IP::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        m_unloaded = true;
}

QLineEdit *frm_IP::box(qint16 n) const
{
    switch (n) {
    case 1:
        return m_ui->txt_IP1;
    case 2:
        return m_ui->txt_IP2;
    case 3:
        return m_ui->txt_IP3;
    default:
        return m_ui->txt_IP4;
    }
}

void frm_IP::Form_Load()
{
    // Each text change runs that box's check through its change handler.
    m_ui->txt_IP1->setText(QString::number(m_address.IPOctet1));
    m_ui->txt_IP2->setText(QString::number(m_address.IPOctet2));
    m_ui->txt_IP3->setText(QString::number(m_address.IPOctet3));
    m_ui->txt_IP4->setText(QString::number(m_address.IPOctet4));
    for (qint16 n = 1; n <= 4; ++n)
        CheckOctet(n);
}

void frm_IP::txt_IP_Change(qint16 n)
{
    CheckOctet(n);
}

void frm_IP::CheckOctet(qint16 &n)
{
    QLineEdit *edit = box(n);
    const bool passes = octetEntryPasses(edit->text());
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, passes ? QApplication::palette(edit).color(QPalette::Base) : QColor(255, 0, 0));
    edit->setPalette(palette);
    // The red is for the eye; a screen reader says the same through the box's description.
    edit->setAccessibleDescription(passes ? QString()
                                          : QStringLiteral("not accepted: a number from 0 to 255, at most 3 characters"));

    bool allPass = true;
    for (qint16 i = 1; i <= 4; ++i)
        allPass = allPass && octetEntryPasses(box(i)->text());
    m_ui->cmd_IPSet->setEnabled(allPass);
}

void frm_IP::cmd_IPSet_Click()
{
    m_address.IPOctet1 = octetValue(m_ui->txt_IP1->text());
    m_address.IPOctet2 = octetValue(m_ui->txt_IP2->text());
    m_address.IPOctet3 = octetValue(m_ui->txt_IP3->text());
    m_address.IPOctet4 = octetValue(m_ui->txt_IP4->text());

    m_labels.setPortNmaeText(QStringLiteral("IP Address := ") + m_address.spacedText());
    m_labels.setPortText(QString());
    m_labels.setBaudText(QString());

    m_calls.StopLink();
    m_calls.CloseLink();

    qint32 packed = PackAddress(m_address.IPOctet1, m_address.IPOctet2, m_address.IPOctet3, m_address.IPOctet4);
    qint32 speedArgument = -1;
    const QString address = m_address.dottedText();
    const QPointer<frm_IP> self(this);
    // Connecting may take a while and runs window events: meanwhile the operator may close the
    // dialog (it is then deleted), or press Set again, which reconnects and closes it. The
    // control outlives the dialog, so the rest of this Set goes through a copy of the calls.
    CardCalls calls = m_calls;
    const qint32 result = calls.OpenLink(packed, speedArgument, -1, -1);
    const bool stillOpen = self && !m_unloaded;
    if (result != 0) {
        // The operator learns why nothing happened and can correct the address; the link stays
        // closed until a later Set or menu choice opens it. A dialog that was closed meanwhile
        // has nothing to correct: a later Set has taken over, or the operator gave up.
        if (stillOpen) {
            QString reason = calls.lastOpenFailure();
            if (reason.isEmpty())
                reason = LinkMeaning::openResult(result);
            showMessage(QStringLiteral("Could not connect to %1 port %2: %3 (OpenLink result %4).")
                            .arg(address)
                            .arg(m_endpoints->tcpPort())
                            .arg(reason)
                            .arg(result));
        }
        return;
    }
    // A link that opened is started even when the dialog was closed meanwhile: the old link is
    // gone already, and the labels name this address.
    calls.StartLink(0);
    if (stillOpen)
        close();
}

void frm_IP::showMessage(const QString &text)
{
    if (m_message) {
        m_message(text);
        return;
    }
    QMessageBox::warning(this, windowTitle(), text);
}
