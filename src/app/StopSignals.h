#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a queued Qt signal, so that a program running
// without a window ("-nw") can be stopped from outside and still close down in order:
// the main window's close handler runs and every thread finishes its queued work.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier *notifier = nullptr;
};
