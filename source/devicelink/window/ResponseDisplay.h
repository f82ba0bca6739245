#pragma once

#include <QString>

// What the command runner needs from the window: the four response boxes and the beep.
// devicelink reaches the window only through this interface.
class ResponseDisplay
{
public:
    virtual ~ResponseDisplay() = default;

    virtual void setCommandBox(const QString &text) = 0; // dis_Cmd
    virtual void setCodeBox(const QString &text) = 0;    // dis_Code
    virtual void setDataBox(const QString &text) = 0;    // dis_KestraData
    virtual void setResultBox(const QString &text) = 0;  // dis_Ocx
    virtual void beep() = 0;
};
