#pragma once

#include <QLoggingCategory>
#include <QString>

// Diagnostics of the link on standard error, one line per event (a port that does not open, a
// refused address, a lost link, DSR inactive), never one per command that fails after it.
// QT_LOGGING_RULES="brindle.link=false" silences them; "brindle.link.info=true" adds opens and
// closes.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// What a control can tell about its last failed OpenLink beyond the result number. The window
// reaches it through the card control when the control offers it (CardCalls).
class LinkDiagnostics
{
public:
    virtual ~LinkDiagnostics() = default;
    // Why the last OpenLink failed, in the system's words ("connection refused"); empty after an
    // OpenLink that opened or when nothing more is known.
    virtual QString lastOpenFailure() const = 0;
};
