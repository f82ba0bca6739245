#include "Faults.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<FaultMode, const char *>, 9> kNames{{
    {FaultMode::Silent, "silent"},
    {FaultMode::Late, "late"},
    {FaultMode::Partial, "partial"},
    {FaultMode::Garbage, "garbage"},
    {FaultMode::BadBccOnce, "bad-bcc-once"},
    {FaultMode::BadBcc, "bad-bcc"},
    {FaultMode::Nak, "nak"},
    {FaultMode::ShortLen, "short-len"},
    {FaultMode::CloseMid, "close-mid"},
}};

} // namespace

QString faultName(FaultMode mode)
{
    for (const auto &[m, name] : kNames) {
        if (m == mode)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("none");
}

bool parseFault(const QString &text, FaultPlan *plan)
{
    FaultPlan result;
    result.count = plan->count;
    QString name = text;
    if (text.startsWith(QLatin1String("late:"))) {
        bool ok = false;
        const int ms = text.mid(5).toInt(&ok);
        if (!ok || ms < 0)
            return false;
        result.mode = FaultMode::Late;
        result.lateMs = ms;
        *plan = result;
        return true;
    }
    if (name == QLatin1String("none")) {
        *plan = result;
        return true;
    }
    for (const auto &[mode, modeName] : kNames) {
        if (mode != FaultMode::Late && name == QLatin1String(modeName)) {
            result.mode = mode;
            *plan = result;
            return true;
        }
    }
    return false;
}
