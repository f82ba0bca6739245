#include "window/CommandEnd.h"

#include "control/LinkMeaning.h"

#include <QCoreApplication>
#include <QEventLoop>

void waitForCommandEnd(CardCalls &calls)
{
    QCoreApplication::processEvents();
    while (calls.CommStatus() == LinkStatus::Busy)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

CommandEnd readCommandEnd(CardCalls &calls)
{
    CommandEnd end;
    end.errorCode = calls.ErrorCode();
    // The status counts only after a response, and is read for the result only then; it is read
    // again below for the caller. A control may answer every read afresh, so the window keeps
    // this order of reads.
    const qint32 statusForResult = end.errorCode == LinkError::None ? calls.ResponseCode() : 0;
    end.result = LinkMeaning::resultCode(end.errorCode, statusForResult);
    end.responseCode = calls.ResponseCode();
    end.responseData = calls.ResponseData();
    return end;
}
