#pragma once

#include "BatchCmd.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>

// The batch-file interpreter. It lives on a thread of its own, steps through the loaded
// lines, handles the control words (":ifok", ":ifng", ":goto", ":end", ":stop", ":echo")
// itself and sends every other line to the main window's executor, then waits for the
// executor's completion signal before it goes on. Commands therefore run one at a time
// and strictly in file order.
class Batch : public QObject
{
    Q_OBJECT
public:
    explicit Batch(QObject *parent = nullptr);

    // Written only on the interpreter's thread; atomic because the window may look at
    // it (status display, shutdown) from the GUI thread.
    std::atomic<bool> running { false };
    int current = 0;
    QStringList batchLines;
    // Of each entry of batchLines: the number of its (first) line in the file, from 1.
    QList<int> lineNumbers;
    // The file the lines were loaded from, as it was named.
    QString fileName;
    // Written by the GUI thread while it carries out "seq_exec_next" and read here only
    // after that command's completion has arrived; atomic so the hand-over is defined.
    std::atomic<bool> lastOk { true };

signals:
    void batchExecNext();
    void batchFinishALine();
    void batchExCmd(BatchCmd cmd);

public slots:
    void batchStart();
    void batchStop();
    void batchNext();
    void batchLoad(QString fname);
    void batchExec();
    void batchCheckEnd();

private:
    void stepLater();
    int findLabel(const QString &label) const;
    // The labels some ":goto" of the loaded lines jumps to: lines that are not commands.
    QSet<QString> labels;

    // A command has been sent and its completion has not arrived yet. While it is set no
    // further line is sent, even after a stop and a restart: the old command's completion
    // then resumes the new run, so two commands never overlap.
    bool awaitingEnd = false;
    // A step is waiting in the event queue; at most one is ever queued.
    bool stepQueued = false;
};
