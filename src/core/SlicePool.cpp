#include "SlicePool.h"

#include "CtImageData.h"
#include "CtParams.h"
#include "CtTiffData.h"
#include "Failures.h"
#include "GreyLevels.h"
#include "HSgm.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "ResultSaver.h"
#include "SaveNaming.h"
#include "SinogramBuild.h"
#include "SlicePipeline.h"
#include "TextUtil.h"
#include "ThreadStart.h"

#include <QStringList>
#include <QThread>

#include <exception>
#include <new>

struct SlicePool::Worker
{
    HSgm hSgm;
    SlicePipeline pipeline;
    int sizedFor = -1; // the run the engine was sized for
};

SlicePool::SlicePool(ResultSaver *saver_, QObject *parent)
    : QObject(parent)
    , saver(saver_)
{ }

SlicePool::~SlicePool()
{
    shutDown();
}

int SlicePool::start(int count)
{
    for (int i = 0; i < count; ++i) {
        auto w = std::make_unique<Worker>();
        Worker *raw = w.get();
        QThread *t = QThread::create([this, raw] { workerLoop(raw); });
        const QString what = QString("reconstruction worker %1").arg(i + 1);
        if (!startThread(t, what, threads.empty())) {
            delete t;
            break;
        }
        threads.push_back(t);
        state.push_back(std::move(w));
    }
    return int(threads.size());
}

void SlicePool::run(const SliceRunSetup &s, const QList<int> &list)
{
    bool empty = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        setup = s;
        slices = list;
        ++generation;
        next = 0;
        done = 0;
        inProgress = 0;
        running = true;
        if (stopping || slices.isEmpty() || threads.empty()) {
            running = false;
            empty = true;
        }
    }
    if (empty)
        emit finished();
    else
        work.notify_all();
}

void SlicePool::stop()
{
    bool end = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            return;
        stopping = true;
        if (running && inProgress == 0) {
            running = false;
            end = true;
        }
    }
    if (end)
        emit finished();
}

int SlicePool::slicesDone() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return done;
}

void SlicePool::shutDown()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    work.notify_all();
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    threads.clear();
    state.clear();
}

void SlicePool::workerLoop(Worker *w)
{
    for (;;) {
        int slice = 0;
        SliceRunSetup s;
        bool sizeFirst = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            work.wait(lock,
                [this] { return quitting || (running && !stopping && next < slices.size()); });
            if (!(running && !stopping && next < slices.size()))
                return; // quitting, nothing left to do
            slice = slices.at(next++);
            ++inProgress;
            s = setup;
            sizeFirst = w->sizedFor != generation;
            w->sizedFor = generation;
        }
        try {
            // Sized as the run asks before its first slice (the engine of another method is
            // freed: only the run's own is kept).
            if (sizeFirst)
                w->pipeline.engineFor(s.params->method).sizeForRun(s.engineN, s.engineProjections);
            makeSlice(*w, s, slice);
        } catch (const std::bad_alloc &) {
            // The slice is lost, not the program: the run goes on and counts the failure.
            w->hSgm.setSize(0, 0);
            recordFailure(Failures::Memory,
                "Not enough memory to reconstruct slice " + QString::number(slice));
        } catch (const std::exception &e) {
            w->hSgm.setSize(0, 0);
            recordFailure(Failures::Other,
                QString("Slice %1 was abandoned (%2); its results are missing")
                    .arg(slice)
                    .arg(QString::fromLocal8Bit(e.what())));
        }
        {
            // Signalled under the lock, so that `progressed` and `finished` come in order.
            std::lock_guard<std::mutex> lock(mutex);
            --inProgress;
            ++done;
            emit progressed(done);
            if (running && inProgress == 0 && (stopping || next >= slices.size())) {
                running = false;
                emit finished();
            }
        }
    }
}

void SlicePool::makeSlice(Worker &w, const SliceRunSetup &s, int slice)
{
    HSgm &hSgm = w.hSgm;
    SlicePipeline &pipeline = w.pipeline;
    const CtParams &p = *s.params;
    // Emptied first: a sinogram that cannot be built must not leave the previous slice's to be
    // reconstructed and saved under this slice's number.
    hSgm.setSize(0, 0);
    hSgm.mendDeadPixels = p.ringRemoval > 0;
    buildSinogram(hSgm, *s.images,
        PartialDataSet { p.usePartialDataSet, p.startImageNo, p.usingImages }, s.rotAxIsV, s.cor,
        slice);
    if (!hSgm.hasData() || hSgm.w / 2 * 2 < 2) {
        recordSliceRefused(s.images, s.rotAxIsV, s.cor, slice);
        return;
    }
    logMendedPixels(hSgm.mendedPixels, slice);
    const int n = hSgm.w / 2 * 2;
    const int rows = hSgm.h;
    const SlicePipeline::Step prepared = pipeline.prepare(hSgm, &p);
    if (prepared != SlicePipeline::Step::Done) {
        // These fail only when memory or the transforms' plans cannot be had: say which part.
        recordFailure(Failures::Slice,
            prepared == SlicePipeline::Step::RingRemoval
                ? QString("Slice %1 was not reconstructed: no memory for the ring removal")
                      .arg(slice)
                : prepared == SlicePipeline::Step::Size
                ? QString("Slice %1 was not reconstructed: no memory for its %2 x %3 sinogram "
                          "and its transforms")
                      .arg(slice)
                      .arg(n)
                      .arg(rows)
                : QString("Slice %1 was not reconstructed: the %2 filter's transforms for a "
                          "width of %3 could not be made (no memory)")
                      .arg(slice)
                      .arg(CtFilter::name(p.filter))
                      .arg(n));
        return;
    }
    const double x0 = s.regionSet ? s.x0 : 0, z0 = s.regionSet ? s.z0 : 0;
    const double x1 = s.regionSet ? s.x1 : n, z1 = s.regionSet ? s.z1 : n;
    double angle0 = 0, dAngle = 0;
    SlicePipeline::commonStep(p, &angle0, &dAngle);
    // Refused only for angles that are not numbers (no images or range in the data set).
    if (pipeline.reconstruct(hSgm, x0, x1, z0, z1, angle0, dAngle) != SlicePipeline::Step::Done) {
        recordFailure(Failures::Slice,
            QString("Slice %1 was not reconstructed: its projection angles are not numbers "
                    "(check the data set's images and range)")
                .arg(slice));
        return;
    }
    CtEngine &engine = *pipeline.engine();
    const int size = engine.resultSize();
    if (n < 2 || size != n)
        return;
    const auto record = [&](const QString &ext) {
        ResultRecord r;
        r.path = s.path;
        r.name = s.name;
        r.tag = s.tag;
        r.no = saveSliceNo(slice);
        r.ext = ext;
        return r;
    };
    if (s.pictures) {
        // The grey levels of a colour bar spanning the slice's values, as the window draws
        // them.
        engine.findMinMax();
        const GreyLevels map { engine.resMin(), engine.resMax(), 0, 1 };
        saver->waitForRoom();
        ResultRecord r = record(QStringLiteral("png"));
        r.width = r.height = n;
        r.grey.resize(std::size_t(n) * std::size_t(n));
        for (int y = 0; y < n; ++y)
            map.fillRow(
                engine.resultData() + std::size_t(y) * n, n, r.grey.data() + std::size_t(y) * n);
        saver->post(std::move(r));
    }
    // A slice without a result has no file: one of offsets alone would pass for data.
    if (!engine.resultValid())
        return;
    if (s.data) {
        saver->waitForRoom();
        ResultRecord r = record(QStringLiteral("dat"));
        r.data = makeCtImageData(engine.resultData(), size, size, x0, z0, x1, z1, p);
        saver->post(std::move(r));
    }
    if (s.tiff) {
        CtTiffData::Info info;
        info.slice = slice;
        info.cor = s.cor;
        info.x0 = x0;
        info.z0 = z0;
        info.x1 = x1;
        info.z1 = z1;
        // The filter really used: the gridding takes ramp_padded for ramp.
        info.method = engine.label();
        info.filter = CtFilter::name(engine.filter());
        info.ringRemoval = p.ringRemoval;
        info.scale = p.floatScale;
        info.unit = p.floatUnit;
        QString why;
        QByteArray bytes
            = CtTiffData::make(engine.resultData(), size, size, info, s.tiffZlib, &why);
        if (bytes.isEmpty()) {
            recordFailure(Failures::FileWrite,
                QString("Cannot write the TIFF file of slice %1 (%2)").arg(slice).arg(why));
            return;
        }
        saver->waitForRoom();
        ResultRecord r = record(QStringLiteral("tif"));
        r.data = std::move(bytes);
        saver->post(std::move(r));
    }
}
