#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What the emulator's trace says about each command frame it received under --fault-mix: on
// which link, its number there, the fault drawn for it, and which of the soak's commands sent it
// (the tag "#<index>" the soak puts into every parameter).
struct TracedFrame
{
    int link = -1;       // index into SoakTrace::links
    quint32 number = 0;  // the frame's number on its link, as --answer-ids reports it
    quint8 code = 0;
    qint64 tag = -1;     // the soak command's index; -1 when the parameter carries none
    QString fault;       // "none", "late:MS", "nak", ...
    bool answerSent = false; // the device put (part of) a response on the line for it
};

struct SoakTrace
{
    QList<QString> links;
    QList<TracedFrame> frames;               // in trace order
    QHash<qint64, QList<int>> framesOfTag;   // tag -> indexes into frames
    QHash<QPair<int, quint32>, int> frameAt; // (link, number) -> index into frames
    QString error;                           // non-empty when the trace could not be read

    // Reads the whole trace file, line by line.
    static SoakTrace read(const QString &path);
};

// "#<index>": the parameter the soak sends with command index; readTag is its inverse.
QByteArray tagParameter(qint64 index);
qint64 readTag(QByteArrayView parameter);
