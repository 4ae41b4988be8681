#include "ThreadStart.h"

#include "Failures.h"
#include "TextUtil.h"

#include <QThread>

bool startThread(QThread *thread, const QString &what, bool essential)
{
    thread->start();
    if (thread->isRunning())
        return true;
    const QString message = QString("Cannot start the thread of %1: the system refuses a new "
                                    "thread (a limit on processes or memory)")
                                .arg(what);
    if (essential)
        recordFailure(Failures::Other, message);
    else
        logLine(message);
    return false;
}
