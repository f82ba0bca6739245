#pragma once

#include "window/ConnectionLabels.h"

#include <QString>
#include <QStringList>

// The three connection labels of the main window, as plain texts, starting as the window
// shows them at start-up. Every write is also logged, so that tests can tell "left unchanged"
// from "written with the same text".
class FakeConnectionLabels : public ConnectionLabels
{
public:
    QString portNmae = QStringLiteral("Setting : =");
    QString port;
    QString baud;
    QStringList writes; // "PortNmae=...", "Port=...", "Baud=..." in order

    void setPortNmaeText(const QString &text) override
    {
        portNmae = text;
        writes.append(QStringLiteral("PortNmae=") + text);
    }
    void setPortText(const QString &text) override
    {
        port = text;
        writes.append(QStringLiteral("Port=") + text);
    }
    void setBaudText(const QString &text) override
    {
        baud = text;
        writes.append(QStringLiteral("Baud=") + text);
    }
};
