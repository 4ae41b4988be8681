#pragma once

#include <QString>

class QThread;

// Starts `thread`. False, with a message naming `what`, when the system refuses a new thread
// (a process limit such as ulimit -u, or no memory left for its stack): work queued to a
// thread that never runs would wait for ever. The message counts as a failure when
// `essential` (the caller cannot do without the thread); otherwise it goes to the log only,
// for a caller that goes on with fewer threads.
bool startThread(QThread *thread, const QString &what, bool essential = true);
