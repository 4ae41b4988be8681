#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

// The console lines of an unattended run, so that a log or a terminal shows what was loaded,
// what a run does, how far it is and how it ended: one line each on standard output, progress
// at most about once a second, every line whole even when several threads print.
class RunReport
{
public:
    // "Loaded 900 images 2048 x 2048 from /data/scan (2 refused: <message>, <message>)".
    static QString loadLine(
        int images, int width, int height, const QString &folder, const QStringList &refused);
    // "Run: slices 0 to 63 step 1, 4 workers, filtered back-projection".
    static QString startLine(
        qint64 from, qint64 to, qint64 step, int workers, const QString &method);

    // Starts the clock of a run of `total` slices and notes the failures so far.
    void begin(qint64 total);
    // The progress line after `done` slices ("Progress: 45.3 % (29 of 64 slices), 12.5
    // slices/s, 00:00:03 left"); empty when the last one is less than a second old or the
    // run is complete (its end line follows).
    QString progress(qint64 done);
    // "Run end: 62 of 64 slices reconstructed, 2 slices failed, 124 files written, 2 failures,
    // 5.12 s": of the `done` slices handled, those that could not be made (a slice failure
    // recorded since begin()) are counted apart; the failures are all those since begin().
    QString endLine(qint64 done, qint64 filesWritten) const;
    qint64 elapsedMs() const { return clock.isValid() ? clock.elapsed() : 0; }

    // Seconds left of a run of `total` slices with `done` made in `elapsedMs`, at the rate so
    // far; -1 while nothing is done (no rate yet), 0 when all are.
    static double secondsLeft(qint64 elapsedMs, qint64 done, qint64 total);
    // "00:03:07" (hours, minutes, seconds; a negative time as "--:--:--").
    static QString clockText(double seconds);

    // Writes one line to standard output and flushes it; callable from any thread.
    static void print(const QString &line);

private:
    QElapsedTimer clock;
    qint64 total = 0;
    qint64 lastLineMs = 0;
    int failuresAtBegin = 0;
    int sliceFailuresAtBegin = 0;
};
