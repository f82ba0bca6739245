#pragma once

#include "frm_IP.h"

#include <QObject>
#include <QPointer>

// What the main window's "IP Address" entry does: one address dialog at a time, modeless and
// without owner. Opening it while it is on the screen brings it to the front with what was
// typed; opening it after it was closed loads a fresh one from the address state.
class AddressDialogLauncher : public QObject
{
    Q_OBJECT
public:
    AddressDialogLauncher(CardControl &control, AddressState &address, ConnectionLabels &labels,
                          QObject *parent = nullptr);
    ~AddressDialogLauncher() override;

    // The click on mnu_IP.
    void showDialog();
    // Closes the dialog if it is open (the window's shutdown).
    void closeDialog();

    // The dialog on the screen, or nullptr.
    frm_IP *dialog() const;

    // Handed to every dialog this launcher creates (tests replace the message box).
    void setMessageSink(frm_IP::MessageSink message);
    // Handed to every dialog this launcher creates: where the control connects
    // (LinkEndpoints::standard() unless set). Not owned: it must outlive the launcher.
    void setEndpoints(const LinkEndpoints &endpoints);

private:
    CardControl &m_control;
    AddressState &m_address;
    ConnectionLabels &m_labels;
    frm_IP::MessageSink m_message;
    const LinkEndpoints *m_endpoints;
    QPointer<frm_IP> m_dialog;
};
