#include "RunReport.h"

#include "Failures.h"

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr qint64 lineIntervalMs = 1000;
constexpr int refusedShown = 3;

} // namespace

QString RunReport::clockText(double seconds)
{
    if (seconds < 0)
        return QStringLiteral("--:--:--");
    const qint64 s = qint64(std::llround(std::max(0.0, seconds)));
    return QString("%1:%2:%3")
        .arg(s / 3600, 2, 10, QChar('0'))
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

QString RunReport::loadLine(
    int images, int width, int height, const QString &folder, const QStringList &refused)
{
    QString line = QString("Loaded %1 images %2 x %3 from %4")
                       .arg(images)
                       .arg(width)
                       .arg(height)
                       .arg(folder);
    if (!refused.isEmpty()) {
        QStringList shown = refused.mid(0, refusedShown);
        if (refused.size() > refusedShown)
            shown << "...";
        line += QString(" (%1 refused: %2)").arg(refused.size()).arg(shown.join(", "));
    }
    return line;
}

QString RunReport::startLine(
    qint64 from, qint64 to, qint64 step, int workers, const QString &method)
{
    const QString slices = from == to
        ? QString("slice %1").arg(from)
        : QString("slices %1 to %2 step %3").arg(from).arg(to).arg(std::abs(step));
    return QString("Run: %1, %2 %3, %4")
        .arg(slices)
        .arg(workers)
        .arg(workers == 1 ? "worker" : "workers", method);
}

void RunReport::begin(qint64 slices)
{
    total = slices;
    lastLineMs = 0;
    failuresAtBegin = Failures::instance().count();
    sliceFailuresAtBegin = Failures::instance().count(Failures::Slice);
    clock.start();
}

QString RunReport::progress(qint64 done)
{
    const qint64 now = elapsedMs();
    if (done >= total || now - lastLineMs < lineIntervalMs)
        return QString();
    lastLineMs = now;
    const double seconds = now / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0.0;
    const QString left = clockText(secondsLeft(now, done, total));
    return QString("Progress: %1 % (%2 of %3 slices), %4 slices/s, %5 left")
        .arg(total > 0 ? 100.0 * done / total : 100.0, 0, 'f', 1)
        .arg(done)
        .arg(total)
        .arg(rate, 0, 'f', rate < 10 ? 2 : 1)
        .arg(left);
}

double RunReport::secondsLeft(qint64 elapsedMs, qint64 done, qint64 total)
{
    if (done >= total)
        return 0;
    if (done <= 0 || elapsedMs <= 0)
        return -1;
    return double(elapsedMs) / 1000.0 / double(done) * double(total - done);
}

QString RunReport::endLine(qint64 done, qint64 filesWritten) const
{
    const int failures = Failures::instance().count() - failuresAtBegin;
    // A slice that could not be made still counts as handled; it is told apart here.
    const qint64 failedSlices = std::clamp<qint64>(
        Failures::instance().count(Failures::Slice) - sliceFailuresAtBegin, 0, done);
    return QString("Run end: %1 of %2 slices reconstructed, %3 %4 failed, %5 files written, "
                   "%6 %7, %8 s")
        .arg(done - failedSlices)
        .arg(total)
        .arg(failedSlices)
        .arg(failedSlices == 1 ? "slice" : "slices")
        .arg(filesWritten)
        .arg(failures)
        .arg(failures == 1 ? "failure" : "failures")
        .arg(elapsedMs() / 1000.0, 0, 'f', 2);
}

void RunReport::print(const QString &line)
{
    static QMutex mutex;
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    QMutexLocker lock(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
