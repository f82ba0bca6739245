#include "ResultOutput.h"

#include "control/CardControl.h"
#include "protocol/DeviceText.h"
#include "protocol/OperationSteps.h"
#include "JournalFormat.h"
#include "control/LinkMeaning.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString hex2(qint32 value)
{
    return QString::number(value, 16).rightJustified(2, u'0').toUpper();
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

QString commandName(const PlannedCommand &command)
{
    const QString name = command.operation == u"code" ? QStringLiteral("code %1").arg(hex2(command.code)) : command.operation;
    return CardOperations::stepName(name, command.step, command.steps);
}

namespace {

bool answered(const CommandOutcome &outcome)
{
    return outcome.sendResult == 0 && outcome.errorCode == LinkError::None;
}

QString errorMeaning(const CommandOutcome &outcome)
{
    return outcome.sendResult != 0 ? LinkMeaning::sendResult(outcome.sendResult)
                                   : LinkMeaning::errorCode(outcome.errorCode);
}

} // namespace

QByteArray resultLine(const PlannedCommand &command, const CommandOutcome &outcome)
{
    QString line;
    if (command.line > 0)
        line += QStringLiteral("line %1 ").arg(command.line);
    line += commandName(command) + QStringLiteral(": ");
    if (command.operation != u"code")
        line += QStringLiteral("code %1, ").arg(hex2(command.code));
    if (answered(outcome))
        line += QStringLiteral("status %1 %2, ").arg(hex2(outcome.status), LinkMeaning::responseStatus(outcome.status));
    else
        line += QStringLiteral("no status, ");
    // The data quoted as the journal quotes text, so that it stays on its line whatever it holds.
    line += QStringLiteral("data %1 [%2], result %3, %4, %5 ms\n")
                .arg(Journal::quotedDeviceText(outcome.data), hexBytes(outcome.data))
                .arg(outcome.result)
                .arg(errorMeaning(outcome))
                .arg(outcome.elapsedMs, 0, 'f', 1);
    return line.toUtf8();
}

QByteArray resultJson(const PlannedCommand &command, const CommandOutcome &outcome)
{
    const bool accepted = outcome.sendResult == 0;
    QJsonObject object{
        {QStringLiteral("line"), command.line > 0 ? QJsonValue(command.line) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("operation"), command.operation},
        {QStringLiteral("step"), command.step},
        {QStringLiteral("steps"), command.steps},
        {QStringLiteral("code"), int(command.code)},
        {QStringLiteral("code_hex"), hex2(command.code)},
        {QStringLiteral("parameter_hex"), QString::fromLatin1(command.parameter.toHex())},
        {QStringLiteral("send_result"), outcome.sendResult},
        {QStringLiteral("status"), answered(outcome) ? QJsonValue(outcome.status) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("status_hex"), answered(outcome) ? QJsonValue(hex2(outcome.status)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("status_meaning"), answered(outcome) ? QJsonValue(LinkMeaning::responseStatus(outcome.status))
                                             : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("data"), decodeDeviceText(outcome.data)},
        {QStringLiteral("data_hex"), QString::fromLatin1(outcome.data.toHex())},
        {QStringLiteral("error"), accepted ? QJsonValue(outcome.errorCode) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("error_meaning"), errorMeaning(outcome)},
        {QStringLiteral("result"), outcome.result},
        {QStringLiteral("elapsed_ms"), qRound64(outcome.elapsedMs * 1000.0) / 1000.0},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray skippedLine(const PlannedCommand &command, const QString &reason)
{
    QString line;
    if (command.line > 0)
        line += QStringLiteral("line %1 ").arg(command.line);
    line += QStringLiteral("%1: code %2, skipped: %3\n").arg(commandName(command), hex2(command.code), reason);
    return line.toUtf8();
}

QByteArray skippedJson(const PlannedCommand &command, const QString &reason)
{
    const QJsonObject object{
        {QStringLiteral("line"), command.line > 0 ? QJsonValue(command.line) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("operation"), command.operation},
        {QStringLiteral("step"), command.step},
        {QStringLiteral("steps"), command.steps},
        {QStringLiteral("code"), int(command.code)},
        {QStringLiteral("code_hex"), hex2(command.code)},
        {QStringLiteral("skipped"), true},
        {QStringLiteral("reason"), reason},
        {QStringLiteral("result"), QJsonValue(QJsonValue::Null)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray openFailureJson(const QString &link, std::optional<qint32> openResult, const QString &reason)
{
    const QJsonObject object{
        {QStringLiteral("link"), link},
        {QStringLiteral("open_result"), openResult ? QJsonValue(*openResult) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("open_result_meaning"),
         openResult ? QJsonValue(LinkMeaning::openResult(*openResult)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("reason"), reason},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray reopenLine(const PlannedCommand &reopen, const QString &link, bool opened, std::optional<qint32> openResult)
{
    QString line = QStringLiteral("line %1 reopen: %2, ").arg(reopen.line).arg(link);
    if (opened)
        line += QStringLiteral("opened");
    else if (openResult)
        line += QStringLiteral("did not open (OpenLink result %1: %2)").arg(*openResult).arg(LinkMeaning::openResult(*openResult));
    else
        line += QStringLiteral("did not open");
    return (line + QLatin1Char('\n')).toUtf8();
}

QByteArray reopenJson(const PlannedCommand &reopen, const QString &link, bool opened, std::optional<qint32> openResult,
                      const QString &reason)
{
    const QJsonObject object{
        {QStringLiteral("line"), reopen.line},
        {QStringLiteral("reopen"), true},
        {QStringLiteral("link"), link},
        {QStringLiteral("opened"), opened},
        {QStringLiteral("open_result"), openResult ? QJsonValue(*openResult) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("open_result_meaning"),
         openResult ? QJsonValue(LinkMeaning::openResult(*openResult)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("reason"), opened ? QJsonValue(QJsonValue::Null) : QJsonValue(reason)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
