#pragma once

#include "AddressState.h"
#include "window/CardCalls.h"
#include "window/ConnectionLabels.h"

#include <QString>
#include <QWidget>
#include <functional>

class LinkEndpoints;
class QLineEdit;
namespace Ui {
class frm_IP;
}

// The address dialog: four boxes for the parts of an IPv4 address and a Set button that
// stores the address and reconnects the card control to it over the network.
//
// A top-level window without owner, shown modeless. Closing it (Set, the close box) unloads
// it: it is deleted, and the next opening is a fresh load that fills the boxes from the
// address state again.
class frm_IP : public QWidget
{
    Q_OBJECT
public:
    // Where Set reports a link that would not open; a message box unless replaced.
    using MessageSink = std::function<void(const QString &)>;

    frm_IP(CardControl &control, AddressState &address, ConnectionLabels &labels,
           MessageSink message = {}, QWidget *parent = nullptr);
    ~frm_IP() override;

    void setMessageSink(MessageSink message);
    // Where the control connects, for the message of a Set that did not connect
    // (LinkEndpoints::standard() unless set). Not owned: it must outlive the dialog.
    void setEndpoints(const LinkEndpoints &endpoints) { m_endpoints = &endpoints; }

    // True once the dialog has been closed; its deletion may still be pending while an outer
    // event loop runs.
    bool isUnloaded() const { return m_unloaded; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void txt_IP_Change(qint16 n);
    void CheckOctet(qint16 &n);
    void cmd_IPSet_Click();
    void showMessage(const QString &text);
    QLineEdit *box(qint16 n) const;

    Ui::frm_IP *m_ui = nullptr;
    CardCalls m_calls;
    AddressState &m_address;
    ConnectionLabels &m_labels;
    MessageSink m_message;
    const LinkEndpoints *m_endpoints;
    bool m_unloaded = false;
};
