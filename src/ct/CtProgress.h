#pragma once

#include <QObject>

#include <atomic>

// Paces the single-slice panel from a thread of its own: one request for the whole slice,
// or one request per projection, each answered before the next is sent, so the GUI thread
// redraws and handles input between projections.
class CtProgress : public QObject
{
    Q_OBJECT
public:
    explicit CtProgress(QObject *parent = nullptr);

    // Written by the panel on the GUI thread before it starts a run, read here.
    std::atomic<int> total = 0;
    std::atomic<int> current = 0;

signals:
    void calcAll();
    void calcOne(int pc);
    void finishedCalcOneByOne();

public slots:
    void startCalcAll();
    void startCalcOneByOne();
    void calcNext();
};
