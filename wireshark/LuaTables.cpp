// Writes the Kestra dissector: its template with the tables put in that the console already has
// (operation names per command code, the meanings of the device's statuses, CP932 text), so that
// none of them is written twice.
//   kestra-lua-tables TEMPLATE OUTPUT

#include "control/LinkMeaning.h"
#include "protocol/CardOperations.h"
#include "protocol/DeviceText.h"

#include <QFile>
#include <QMap>
#include <QStringList>

#include <cstdio>

namespace {

// A Lua string literal.
QByteArray luaString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// "read", "write 2/3", or both where a code serves several operations ("eject; write 3/3").
QByteArray operationTable()
{
    QMap<int, QStringList> names;
    for (const CardOperations::Operation &operation : CardOperations::operations()) {
        const qsizetype steps = qsizetype(operation.steps.size());
        for (qsizetype i = 0; i < steps; ++i) {
            QString name = QString::fromLatin1(operation.name);
            if (steps > 1)
                name += QStringLiteral(" %1/%2").arg(i + 1).arg(steps);
            names[operation.steps[size_t(i)].code] << name;
        }
    }
    QByteArray lua = "local OPERATIONS = {\n";
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        lua += "    [0x" + QByteArray::number(it.key(), 16) + "] = " + luaString(it.value().join(QStringLiteral("; ")))
               + ",\n";
    return lua + "}\n";
}

QByteArray statusTable()
{
    const QString unknown = LinkMeaning::responseStatus(-1);
    QByteArray lua = "local STATUS = {\n";
    for (int status = 0; status < 256; ++status) {
        const QString meaning = LinkMeaning::responseStatus(status);
        if (meaning != unknown)
            lua += "    [0x" + QByteArray::number(status, 16) + "] = " + luaString(meaning) + ",\n";
    }
    return lua + "}\nlocal STATUS_UNKNOWN = " + luaString(unknown) + "\n";
}

// Per lead byte, the code points of its 188 trail bytes (0x40-0x7E, 0x80-0xFC) as four hex
// digits each, "0000" where the pair is no character.
QByteArray cp932Table()
{
    QByteArray lua = "local CP932 = {\n";
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        QByteArray points;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            QByteArray pair;
            pair.append(char(lead)).append(char(trail));
            const QString text = decodeDeviceText(pair);
            const bool one = text.size() == 1 && text[0] != QChar(0xFFFD);
            points += one ? QByteArray::number(text[0].unicode(), 16).rightJustified(4, '0') : QByteArray("0000");
        }
        lua += "    [0x" + QByteArray::number(lead, 16) + "] = \"" + points + "\",\n";
    }
    return lua + "}\n";
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestra-lua-tables TEMPLATE OUTPUT\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kestra-lua-tables: %s: %s\n", argv[1], qPrintable(in.errorString()));
        return 1;
    }
    QByteArray lua = in.readAll();
    const QByteArray marker = "-- @GENERATED-TABLES@\n";
    if (!lua.contains(marker)) {
        std::fprintf(stderr, "kestra-lua-tables: %s has no line %s", argv[1], marker.constData());
        return 1;
    }
    lua.replace(marker, "-- Generated at build time from the console's own tables; edit those, not this.\n"
                            + operationTable() + statusTable() + cp932Table());
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(lua) != lua.size()) {
        std::fprintf(stderr, "kestra-lua-tables: %s: %s\n", argv[2], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
