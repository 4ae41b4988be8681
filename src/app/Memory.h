#pragma once

#include <QString>
#include <QtGlobal>

// What memory a process can still count on, and the message given when a task needs more.

// Bytes that this process can still allocate without swapping or hitting its limits: the
// system's available memory (MemAvailable of /proc/meminfo, else the free physical pages),
// lowered to what an address-space limit (ulimit -v, as batch systems set it) still leaves.
// -1 when nothing can be found out.
qint64 availableMemory();

// "1.5 GB", "230 MB": a byte count for messages.
QString memoryText(qint64 bytes);
