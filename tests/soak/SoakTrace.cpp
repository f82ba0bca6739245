#include "SoakTrace.h"

#include "TestHelpers.h"

#include <QFile>

QByteArray tagParameter(qint64 index)
{
    return '#' + QByteArray::number(index);
}

qint64 readTag(QByteArrayView parameter)
{
    if (parameter.size() < 2 || parameter[0] != '#')
        return -1;
    bool ok = false;
    const qint64 tag = parameter.sliced(1).toByteArray().toLongLong(&ok);
    return ok ? tag : -1;
}

SoakTrace SoakTrace::read(const QString &path)
{
    SoakTrace trace;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        trace.error = QStringLiteral("cannot read the trace %1: %2").arg(path, file.errorString());
        return trace;
    }
    QHash<QString, int> linkIndex;
    QHash<int, QByteArray> lastBody; // per link: the body of the last command frame received
    QHash<int, int> current;         // per link: the frame whose answer the device is on
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const EmulatorProcess::TraceEntry entry = EmulatorProcess::parseTraceLine(line);
        if (!linkIndex.contains(entry.link)) {
            linkIndex.insert(entry.link, int(trace.links.size()));
            trace.links.append(entry.link);
        }
        const int link = linkIndex.value(entry.link);
        if (entry.direction == QLatin1String("in") && entry.kind == QLatin1String("frame")) {
            lastBody.insert(link, entry.bytes.mid(3, entry.bytes.size() - 5));
            current.remove(link);
        } else if (entry.kind == QLatin1String("event") && entry.text.startsWith(QLatin1String("command #"))) {
            // "command #N 0xCC fault NAME"
            const QStringList words = entry.text.split(QLatin1Char(' '));
            if (words.size() < 5)
                continue;
            TracedFrame frame;
            frame.link = link;
            frame.number = words[1].mid(1).toUInt();
            frame.code = quint8(words[2].toUInt(nullptr, 16));
            frame.fault = words[4];
            frame.tag = readTag(QByteArrayView(lastBody.value(link)).sliced(qMin<qsizetype>(1, lastBody.value(link).size())));
            const int index = int(trace.frames.size());
            trace.frames.append(frame);
            trace.framesOfTag[frame.tag].append(index);
            trace.frameAt.insert({link, frame.number}, index);
            current.insert(link, index);
        } else if (entry.direction == QLatin1String("out") && entry.kind != QLatin1String("ACK")
                   && entry.kind != QLatin1String("NAK") && current.contains(link)) {
            trace.frames[current.value(link)].answerSent = true;
        }
    }
    return trace;
}
