#pragma once

#include <QString>

// Ways the emulated device misbehaves, for tests of the client's error handling.
enum class FaultMode {
    None,
    Silent,     // never answers, not even ACK or NAK
    Late,       // ACKs, answers lateMs after the operation time
    Partial,    // sends the first half of the response frame, then nothing
    Garbage,    // junk bytes before each response frame
    BadBccOnce, // the first send of each response has a wrong BCC, the resend is sound
    BadBcc,     // every send of a response has a wrong BCC
    Nak,        // answers every command frame with NAK
    ShortLen,   // a response whose LEN promises more bytes than follow, then silence
    CloseMid,   // hangs up in the middle of the response frame
};

struct FaultPlan
{
    FaultMode mode = FaultMode::None;
    int lateMs = 0;
    // How many command frames the fault applies to; the device behaves afterwards
    // (negative: all of them).
    int count = -1;
};

// "silent", "late:MS", ...; false when the text names no fault.
bool parseFault(const QString &text, FaultPlan *plan);
QString faultName(FaultMode mode);

// Hands out the fault for each command frame the device receives, over all links together.
class FaultPolicy
{
public:
    explicit FaultPolicy(FaultPlan plan = {}) : m_plan(plan) {}
    const FaultPlan &plan() const { return m_plan; }
    FaultMode nextCommand()
    {
        if (m_plan.mode == FaultMode::None)
            return FaultMode::None;
        if (m_plan.count >= 0 && m_used >= m_plan.count)
            return FaultMode::None;
        ++m_used;
        return m_plan.mode;
    }

private:
    FaultPlan m_plan;
    int m_used = 0;
};
