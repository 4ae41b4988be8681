#pragma once

#include <QStringList>

// vexa2-spectra stack SERIES_OUT -o STACK.h5 [--align] [--align-ref E] [--max-shift P]
// [--memory LIMIT] [--offset V]: the arguments after the sub-command's name. Returns the exit
// status: 0 done, 1 failed (or an alignment beyond the maximum shift), 2 a usage error.
int runStackCommand(const QStringList &args);
