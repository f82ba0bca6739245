#include "AddressDialogLauncher.h"

#include "transport/LinkEndpoints.h"

AddressDialogLauncher::AddressDialogLauncher(CardControl &control, AddressState &address,
                                             ConnectionLabels &labels, QObject *parent)
    : QObject(parent), m_control(control), m_address(address), m_labels(labels),
      m_endpoints(&LinkEndpoints::standard())
{
}

AddressDialogLauncher::~AddressDialogLauncher()
{
    // The dialog has no owner: without this it would outlive the control and labels it uses.
    delete m_dialog.data();
}

frm_IP *AddressDialogLauncher::dialog() const
{
    // A closed dialog whose deletion waits for an outer event loop no longer counts.
    if (m_dialog && !m_dialog->isUnloaded())
        return m_dialog.data();
    return nullptr;
}

void AddressDialogLauncher::showDialog()
{
    frm_IP *current = dialog();
    if (!current) {
        current = new frm_IP(m_control, m_address, m_labels, m_message);
        current->setEndpoints(*m_endpoints);
        m_dialog = current;
    }
    current->show();
    current->raise();
    current->activateWindow();
}

void AddressDialogLauncher::closeDialog()
{
    if (frm_IP *current = dialog())
        current->close();
}

void AddressDialogLauncher::setMessageSink(frm_IP::MessageSink message)
{
    m_message = message;
    if (frm_IP *current = dialog())
        current->setMessageSink(std::move(message));
}

void AddressDialogLauncher::setEndpoints(const LinkEndpoints &endpoints)
{
    m_endpoints = &endpoints;
    if (frm_IP *current = dialog())
        current->setEndpoints(endpoints);
}
