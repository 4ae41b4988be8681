// The batch-command executor of the main window.
#include "Body.h"

void Body::batchExCmd(BatchCmd cmd)
{
    // "calc_exec" holds the batch until the run has ended (stopCalcCt reports it); every
    // other command lets the interpreter go on at once.
    if (cmd.is("calc_exec")) {
        batchCalc = true;
        emit batchCalcStart();
        return;
    }
    emit callBatchCheckEnd();
}
