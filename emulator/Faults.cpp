#include "Faults.h"

#include <array>
#include <cmath>
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

// A uniform number in [0, 1) from 53 random bits.
double unit(quint64 bits)
{
    return double(bits >> 11) * (1.0 / 9007199254740992.0);
}

} // namespace

QString faultName(FaultMode mode)
{
    for (const auto &[m, name] : kNames) {
        if (m == mode)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("none");
}

QString faultText(const FaultChoice &choice)
{
    if (choice.mode == FaultMode::Late)
        return QStringLiteral("late:%1").arg(choice.lateMs);
    return faultName(choice.mode);
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

bool parseFaultMix(const QString &text, FaultMix *mix)
{
    FaultMix result = *mix;
    const QString seedText = text.section(QLatin1Char(':'), 0, 0);
    bool ok = false;
    result.seed = seedText.toULongLong(&ok);
    if (!ok)
        return false;
    if (text.contains(QLatin1Char(':'))) {
        result.rate = text.section(QLatin1Char(':'), 1).toDouble(&ok);
        if (!ok || !std::isfinite(result.rate) || result.rate < 0 || result.rate > 1)
            return false;
    }
    result.enabled = true;
    *mix = result;
    return true;
}

FaultPolicy::FaultPolicy(FaultPlan plan, FaultMix mix) : m_plan(plan), m_mix(mix), m_state(mix.seed)
{
}

quint64 FaultPolicy::nextRandom()
{
    // SplitMix64: the same numbers on every platform and compiler, unlike the standard
    // library's distributions.
    quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

FaultChoice FaultPolicy::nextCommand()
{
    if (m_mix.enabled) {
        // Three draws for every frame, whatever the outcome, so that one choice never shifts
        // the ones after it.
        const double chance = unit(nextRandom());
        const quint64 pick = nextRandom();
        const double lateShare = unit(nextRandom());
        if (chance >= m_mix.rate)
            return {};
        const FaultMode mode = kNames[pick % kNames.size()].first;
        const int lateMs = mode == FaultMode::Late ? int(std::lround(m_mix.timeoutMs * (0.75 + 0.5 * lateShare))) : 0;
        return {mode, lateMs};
    }
    if (m_plan.mode == FaultMode::None)
        return {};
    if (m_plan.count >= 0 && m_used >= m_plan.count)
        return {};
    ++m_used;
    return {m_plan.mode, m_plan.lateMs};
}
