#include "CtCalc2.h"
#include "Failures.h"

#include "CtCalc2Ui.h"
#include "CtImageData.h"
#include "CtTiffData.h"
#include "DataSaver.h"
#include "Failures.h"
#include "ImgDatasLines.h"
#include "ProcCtrl.h"
#include "SaveNaming.h"
#include "SavingData.h"
#include "SavingImg.h"
#include "Sinogram.h"
#include "SinogramBuild.h"
#include "TextUtil.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QThread>

#include <mutex>

#include <utility>

CtCalc2::CtCalc2(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<CtCalc2 *>("CtCalc2*");
    DataSaver::registerTypes();
}

CtCalc2::~CtCalc2() = default;

void CtCalc2::setUi(CtCalc2Ui *view)
{
    if (ui)
        ui->setCalc(nullptr);
    ui = view;
    if (ui)
        ui->setCalc(this);
}

// The lambda runs on the GUI thread; everything it captures is a copy (QImage shares its
// pixels read-only: the worker makes a new picture for every slice instead of writing into
// one it has handed out). A view destroyed meanwhile takes its pending calls with it.
template <typename F> void CtCalc2::toView(F &&f)
{
    if (ui)
        QMetaObject::invokeMethod(ui, std::forward<F>(f), Qt::QueuedConnection);
}

CtParams CtCalc2::params() const
{
    // One copy per slice: the block is not changed while a run uses it, and a copy keeps one
    // slice consistent even if a new run starts refilling it.
    return ctParams ? *ctParams : CtParams {};
}

CtViewState CtCalc2::viewState() const
{
    return ui ? ui->state() : CtViewState {};
}

void CtCalc2::setupFFT(int n, int projections)
{
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        setupPending = true;
        pendingN = n;
        pendingProjections = projections;
    }
    std::unique_lock<std::mutex> engineLock(engineMutex, std::try_to_lock);
    if (engineLock.owns_lock())
        applyPendingSetup();
}

void CtCalc2::applyPendingSetup()
{
    int newN = 0;
    int newProjections = 0;
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        if (!setupPending)
            return;
        setupPending = false;
        newN = pendingN;
        newProjections = pendingProjections;
    }
    // Only the engine of the run's method is kept: a run of another method frees the
    // previous engine's buffers (118 MB per worker at 2048 x 1800).
    pipeline.engineFor(params().method).sizeForRun(newN, newProjections);
}

void CtCalc2::clearResult()
{
    if (pipeline.engine())
        pipeline.engine()->initResult(0);
}

bool CtCalc2::valueAt(int ix, int iz, double *v) const
{
    std::unique_lock<std::mutex> lock(engineMutex, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    const int size = resultSize();
    if (ix < 0 || iz < 0 || ix >= size || iz >= size)
        return false;
    *v = resultData()[static_cast<std::size_t>(iz) * size + ix];
    return true;
}

bool CtCalc2::copyResult(std::vector<double> &out, int &size) const
{
    std::unique_lock<std::mutex> lock(engineMutex, std::try_to_lock);
    if (!lock.owns_lock() || !resultValid() || resultSize() <= 0)
        return false;
    size = resultSize();
    const double *d = resultData();
    out.assign(d, d + std::size_t(size) * std::size_t(size));
    return true;
}

void CtCalc2::beginingCt()
{
    busy = true;
    startTime = QDateTime::currentDateTime();
    toView([v = ui, t = startTime] { v->startedAt(t); });
}

void CtCalc2::endingCt()
{
    busy = false;
    toView([v = ui, t = QDateTime::currentDateTime()] { v->endedAt(t); });
    emit calcFinished();
}

void CtCalc2::startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int sliceNo, bool genImg)
{
    if (ctc2 != this || ui == nullptr)
        return;
    // Claimed in one step: a request that reaches a worker already inside a slice is dropped.
    if (busy.exchange(true))
        return;
    beginingCt();
    toView([v = ui, sliceNo] { v->showSliceNo(sliceNo); });
    {
        std::lock_guard<std::mutex> lock(engineMutex);
        genAndDispImage = genImg;
        slice = sliceNo;
        try {
            applyPendingSetup();
            reconstructSlice(rotAxIsV, cor);
        } catch (const std::bad_alloc &) {
            // The slice is lost, not the program: the run goes on and counts the failure.
            picReady = false;
            n = rows = 0;
            hSgm.setSize(0, 0);
            recordFailure(Failures::Memory,
                "Not enough memory to reconstruct slice " + QString::number(sliceNo));
        }
    }
    endingCt();
}

void CtCalc2::startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int sliceNo)
{
    startCt(ctc2, rotAxIsV, cor, sliceNo, true);
}

void CtCalc2::reconstructSlice(bool rotAxIsV, double cor)
{
    picReady = false;
    // Emptied first: a source that cannot build this slice must not leave the previous
    // slice's sinogram to be reconstructed and saved under this slice's number.
    hSgm.setSize(0, 0);
    const CtParams p = params();
    hSgm.mendDeadPixels = p.ringRemoval > 0;
    if (sinogram && ctParams)
        sinogram->genSinogramWith(&hSgm, rotAxIsV, cor, slice,
            PartialDataSet { p.usePartialDataSet, p.startImageNo, p.usingImages });
    else if (sinogram)
        sinogram->genSinogram0(&hSgm, rotAxIsV, cor, slice);
    else if (sinogramSource)
        sinogramSource(&hSgm, rotAxIsV, cor, slice);
    if (!hSgm.hasData() || hSgm.w / 2 * 2 < 2) {
        // Nor may the previous slice's result be redrawn, read out or saved under it.
        n = rows = 0;
        clearResult();
        recordSliceRefused(sinogram ? sinogram->imgDatas : nullptr, rotAxIsV, cor, slice);
        return;
    }
    logMendedPixels(hSgm.mendedPixels, slice);
    const CtViewState view = viewState();
    sliceCor = cor;
    n = hSgm.w / 2 * 2;
    rows = hSgm.h;
    // The run sized the engine for its images and centre; this slice may need another width
    // or more rows (a partial set that wraps), which the pipeline provides.
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
        n = rows = 0;
        clearResult();
        return;
    }
    const CtRegion cr = view.regionSet ? view.cr : CtRegion { 0, 0, double(n), double(n) };
    if (!view.regionSet)
        toView([v = ui, n = n] { v->useDefaultCR(n); });

    double angle0 = 0, dAngle = 0;
    SlicePipeline::commonStep(p, &angle0, &dAngle);
    // Refused only for angles that are not numbers (no images or range in the data set):
    // such a slice has no result to show or save.
    if (pipeline.reconstruct(hSgm, cr.x0, cr.x1, cr.z0, cr.z1, angle0, dAngle)
        != SlicePipeline::Step::Done) {
        recordFailure(Failures::Slice,
            QString("Slice %1 was not reconstructed: its projection angles are not numbers "
                    "(check the data set's images and range)")
                .arg(slice));
        return;
    }

    SaveTarget imageSave, dataSave;
    bool tiff = false, zlib = false;
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        imageSave = imageTarget;
        dataSave = dataTarget;
        tiff = tiffOn;
        zlib = tiffZlib;
    }
    if (genAndDispImage)
        makePicture(view);
    if (imageSave.on)
        postImage(view, imageSave);
    if (dataSave.on)
        postData(cr, dataSave);
    if (tiff)
        postTiff(cr, dataSave, zlib);
    if (picReady)
        emit ctImage(slice, picture);
}

void CtCalc2::makePicture(const CtViewState &view)
{
    if (n < 2 || resultSize() != n)
        return;
    GreyLevelMap map = view.map;
    if (!view.fixedScale) {
        CtEngine *engine = pipeline.engine();
        engine->findMinMax();
        map.vMin = engine->resMin();
        map.vMax = engine->resMax();
        toView([v = ui, lo = map.vMin, hi = map.vMax] { v->showSliceRange(lo, hi); });
    }
    picture = map.greyImage(resultData(), n, n);
    picReady = !picture.isNull();
    if (picReady && genAndDispImage)
        toView([v = ui, img = picture] { v->takePicture(img); });
}

void CtCalc2::postImage(const CtViewState &view, const SaveTarget &target)
{
    if (!picReady)
        makePicture(view);
    // Without a receiver nobody would own (and delete) the record.
    if (!picReady || !isSignalConnected(QMetaMethod::fromSignal(&CtCalc2::saveImgWDiscard)))
        return;
    auto *rec = new SavingImg;
    rec->path = target.path;
    rec->name = target.name;
    rec->tag = target.tag;
    rec->no = saveSliceNo(slice);
    rec->img = picture;
    emit saveImgWDiscard(rec);
}

void CtCalc2::postData(const CtRegion &region, const SaveTarget &target)
{
    // A slice without a result has no file: one of offsets alone would pass for data.
    if (n < 2 || resultSize() != n || !resultValid()
        || !isSignalConnected(QMetaMethod::fromSignal(&CtCalc2::saveDataWDiscard)))
        return;
    // Results wait here rather than pile up in the saver's queue (never on the GUI thread,
    // whose event loop may be the one that delivers them).
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        SavingData::waitForRoom();
    auto *rec = new SavingData;
    rec->path = target.path;
    rec->name = target.name;
    rec->tag = target.tag;
    rec->no = saveSliceNo(slice);
    const int size = resultSize();
    rec->data = makeCtImageData(
        resultData(), size, size, region.x0, region.z0, region.x1, region.z1, params());
    emit saveDataWDiscard(rec);
}

void CtCalc2::postTiff(const CtRegion &region, const SaveTarget &target, bool zlib)
{
    if (n < 2 || resultSize() != n || !resultValid()
        || !isSignalConnected(QMetaMethod::fromSignal(&CtCalc2::saveDataWDiscard)))
        return;
    CtTiffData::Info info;
    info.slice = slice;
    info.cor = sliceCor;
    info.x0 = region.x0;
    info.z0 = region.z0;
    info.x1 = region.x1;
    info.z1 = region.z1;
    // The filter really used: the gridding takes ramp_padded for ramp.
    info.method = pipeline.engine()->label();
    info.filter = CtFilter::name(pipeline.engine()->filter());
    info.ringRemoval = params().ringRemoval;
    info.scale = params().floatScale;
    info.unit = params().floatUnit;
    const int size = resultSize();
    QString why;
    QByteArray bytes = CtTiffData::make(resultData(), size, size, info, zlib, &why);
    if (bytes.isEmpty()) {
        recordFailure(Failures::FileWrite,
            QString("Cannot write the TIFF file of slice %1 (%2)").arg(slice).arg(why));
        return;
    }
    // Results wait here rather than pile up in the saver's queue (never on the GUI thread,
    // whose event loop may be the one that delivers them).
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        SavingData::waitForRoom();
    auto *rec = new SavingData;
    rec->path = target.path;
    rec->name = target.name;
    rec->tag = target.tag;
    rec->no = saveSliceNo(slice);
    rec->ext = QStringLiteral("tif");
    rec->data = std::move(bytes);
    emit saveDataWDiscard(rec);
}

void CtCalc2::genResImage()
{
    std::lock_guard<std::mutex> lock(engineMutex);
    makePicture(viewState());
}

void CtCalc2::saveImage()
{
    std::lock_guard<std::mutex> lock(engineMutex);
    SaveTarget target;
    {
        std::lock_guard<std::mutex> settingsLock(settingsMutex);
        target = imageTarget;
    }
    postImage(viewState(), target);
}

void CtCalc2::saveData()
{
    std::lock_guard<std::mutex> lock(engineMutex);
    SaveTarget target;
    {
        std::lock_guard<std::mutex> settingsLock(settingsMutex);
        target = dataTarget;
    }
    const CtViewState view = viewState();
    const CtRegion region = view.regionSet ? view.cr : CtRegion { 0, 0, double(n), double(n) };
    postData(region, target);
    bool tiff = false, zlib = false;
    {
        std::lock_guard<std::mutex> settingsLock(settingsMutex);
        tiff = tiffOn;
        zlib = tiffZlib;
    }
    if (tiff)
        postTiff(region, target, zlib);
}

void CtCalc2::setSaveImage(bool f, QString path, QString name, QString tag)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    imageTarget = SaveTarget { f, path, name, tag };
}

void CtCalc2::setSaveData(bool f, QString path, QString name, QString tag)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    dataTarget = SaveTarget { f, path, name, tag };
}

void CtCalc2::setSaveTiff(bool f, bool zlib)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    tiffOn = f;
    tiffZlib = zlib;
}

void shutDownWorkers(const QList<CtCalc2 *> &workers, DataSaver *saver)
{
    QList<QThread *> threads;
    for (CtCalc2 *w : workers) {
        QThread *t = w ? w->thread() : nullptr;
        if (t && t != QThread::currentThread() && !threads.contains(t))
            threads << t;
    }
    // All asked first, so that the slices in progress finish side by side.
    for (QThread *t : threads)
        t->quit();
    for (QThread *t : threads)
        t->wait();
    // Only now is every record of those slices queued to the saver.
    if (saver)
        saver->shutDown();
}
