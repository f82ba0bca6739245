#pragma once

#include <QString>

// The three labels at the top of the main window that show the connection in force. The
// connection code writes them through this interface so that it needs no widget of its own;
// the window implements it over lbl_PortNmae, lbl_Port and lbl_Baud.
class ConnectionLabels
{
public:
    virtual ~ConnectionLabels() = default;

    virtual void setPortNmaeText(const QString &text) = 0; // lbl_PortNmae
    virtual void setPortText(const QString &text) = 0;     // lbl_Port
    virtual void setBaudText(const QString &text) = 0;     // lbl_Baud
};
