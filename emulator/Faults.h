#pragma once

#include <QString>
#include <QtGlobal>

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

// A random mixture of faults: for each command frame, with probability rate, one of the fault
// modes (each as likely as the others), otherwise none. The sequence depends on the seed alone,
// so a run can be repeated. Late answers come 0.75 to 1.25 times timeoutMs after the operation
// time, so that they land on both sides of a client's time-out of timeoutMs.
struct FaultMix
{
    bool enabled = false;
    quint64 seed = 0;
    double rate = 0.3;
    int timeoutMs = 1000;
};

// What the device does to one command frame.
struct FaultChoice
{
    FaultMode mode = FaultMode::None;
    int lateMs = 0;
    bool operator==(const FaultChoice &) const = default;
};

// "silent", "late:MS", ...; false when the text names no fault.
bool parseFault(const QString &text, FaultPlan *plan);
// "SEED" or "SEED:RATE" (RATE from 0 to 1); false when the text is neither.
bool parseFaultMix(const QString &text, FaultMix *mix);
QString faultName(FaultMode mode);
// "late:MS" for a late answer, otherwise the mode's name.
QString faultText(const FaultChoice &choice);

// Hands out the fault for each command frame the device receives, over all links together.
class FaultPolicy
{
public:
    explicit FaultPolicy(FaultPlan plan = {}, FaultMix mix = {});
    const FaultPlan &plan() const { return m_plan; }
    bool mixed() const { return m_mix.enabled; }
    FaultChoice nextCommand();

private:
    quint64 nextRandom();

    FaultPlan m_plan;
    FaultMix m_mix;
    quint64 m_state = 0;
    int m_used = 0;
};
