// Reconstruction runs of the main window: start and end, the hand-out of a slice range to idle
// workers, the sizing of their transforms and the automatic-saving settings they get.
#include "Body.h"

#include "Batch.h"
#include "CorSweepPanel.h"
#include "CtCalc.h"
#include "CtCalc2.h"
#include "CtDisp.h"
#include "CtFilter.h"
#include "CtMethod.h"
#include "DataSaver.h"
#include "Failures.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "RowWindow.h"
#include "SinogramBuild.h"
#include "TextUtil.h"
#include "VolumeFile.h"

#include <QCheckBox>
#include <QDir>
#include <QProgressBar>
#include <QThread>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

const QString IdleStyle = QStringLiteral("background-color: rgb(213, 245, 255);");
const QString RunningStyle = QStringLiteral("background-color: rgb(255, 255, 128);");

QString timeText(const QDateTime &t)
{
    return t.toString("hh:mm:ss.zzz");
}

double numberOf(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok ? v : 0.0;
}

// Runs on the saver's thread once every file of the run is written: the run's float TIFF
// slices, in the order of the range, become one volume file. Counted as one file written, or
// as a failure naming why not.
void writeVolume(DataSaver &saver, const QString &path, VolumeFile::Info info)
{
    VolumeFile::Format format = VolumeFile::Format::Hdf5;
    if (!VolumeFile::formatOf(path, &format)) {
        recordFailure(Failures::FileWrite,
            "No volume written: " + path + " is neither .h5/.hdf5/.nxs nor .tif/.tiff");
        return;
    }
    if (saver.runTiffSlices.isEmpty()) {
        recordFailure(Failures::FileWrite,
            "No volume written to " + path + ": the run saved no float TIFF slices "
            "(auto_save_tiff 1 saves them)");
        return;
    }
    QStringList files = saver.runTiffSlices.values(); // ascending slice numbers
    if (info.sliceStep < 0)
        std::reverse(files.begin(), files.end());
    info.firstSlice = info.sliceStep < 0 ? saver.runTiffSlices.lastKey()
                                         : saver.runTiffSlices.firstKey();
    QString why;
    if (!VolumeFile::fromTiffSlices(files, path, format, info, &why)) {
        recordFailure(Failures::FileWrite, why);
        return;
    }
    ++saver.written;
    logLine(QString("Volume of %1 slices written to").arg(files.size()), path);
}

} // namespace

bool Body::workerInFlight(CtCalc2 *worker) const
{
    return addressed.contains(worker) || worker->busy.load();
}

int Body::workersInFlight() const
{
    // The CoR sweep's threads read the image set as the workers do.
    int count = corSweep && corSweep->sweeping() ? 1 : 0;
    for (CtCalc2 *w : ctCalc2s)
        count += workerInFlight(w) ? 1 : 0;
    return count;
}

void Body::whenWorkersIdle(std::function<void()> action)
{
    // What an action asks for while it runs is part of it and comes before the actions
    // waiting behind it: a data set chosen before "Calc" is being loaded when the start looks.
    if (workersInFlight() == 0 && (idleActions.empty() || runningIdleAction))
        action();
    else
        idleActions.push_back(std::move(action));
}

void Body::runIdleActions()
{
    // In arrival order; an action that hands out work (a postponed start) makes the rest wait
    // for the end of that work.
    while (!idleActions.empty() && workersInFlight() == 0) {
        std::function<void()> action = std::move(idleActions.front());
        idleActions.erase(idleActions.begin());
        runningIdleAction = true;
        action();
        runningIdleAction = false;
    }
}

void Body::updateReferenceLock()
{
    // Workers read the I0 and BG images through the selectors' readers while they build their
    // sinograms; a selector replacing or clearing its reader then would free it under them.
    const bool idle = workersInFlight() == 0;
    I0ImgSel->setEnabled(idle);
    BGImgSel->setEnabled(idle);
}

void Body::workerReported(CtCalc2 *worker)
{
    addressed.remove(worker);
    execMultiCtCalc();
    updateReferenceLock();
    if (workersInFlight() == 0)
        runIdleActions();
}

void Body::toggleCalcCt()
{
    if (imgDatas->count() == 0)
        return;
    if (calculating) {
        noteStoppedRun("stopped by the user");
        stopCalcCt();
    } else if (confirmDiscard()) {
        startCalcCt();
    }
}

qint64 Body::slicesTotal() const
{
    if (runKind != RunKind::Ct2Range)
        return 1;
    const qint64 step = std::max<qint64>(1, std::abs(qint64(ctParams.sliceStep)));
    return std::abs(qint64(ctParams.sliceTo) - ctParams.sliceFrom) / step + 1;
}

qint64 Body::slicesDone() const
{
    if (runKind != RunKind::Ct2Range)
        return 0;
    const qint64 step = std::max<qint64>(1, std::abs(qint64(ctParams.sliceStep)));
    const qint64 handedOut = std::abs(nextSlice - ctParams.sliceFrom) / step;
    return std::clamp<qint64>(handedOut - workersInFlight(), 0, slicesTotal());
}

void Body::report(const QString &line, QWidget *field)
{
    if (consoleReport)
        RunReport::print(line);
    if (field)
        field->setToolTip(line);
}

void Body::noteStoppedRun(const QString &why)
{
    runCutShort = true;
    recordFailure(Failures::RunStopped,
        QString("The reconstruction run was stopped before its end (%1): %2 of %3 slices done")
            .arg(why)
            .arg(slicesDone())
            .arg(slicesTotal()));
    if (batchCalc && batch) {
        logLine("The batch stops: the reconstruction run it waits for did not reach its end");
        // Queued ahead of the run's completion, which then finds the batch stopped.
        QMetaObject::invokeMethod(batch, &Batch::batchStop, Qt::QueuedConnection);
    }
}

void Body::startCalcCt()
{
    if (closing) {
        // No run starts any more; a waiting batch stays where it is.
        batchCalc = false;
        return;
    }
    // The run under way is the one a second start would wait for; it reports its end once.
    if (calculating) {
        logLine("A reconstruction run is already active: start ignored");
        return;
    }
    calculating = true;
    calcStart = QDateTime::currentDateTime();
    CalcStartT->setText(timeText(calcStart));
    CalcEndT->setText("--");
    // The time of the previous run would read as this run's until it ends.
    CalcSpentT->setText("--");
    CalcCT->setStyleSheet(RunningStyle);
    if (workersInFlight() > 0 || loading) {
        // Workers of a stopped run still read ctParams: refilling it now would change their
        // slices under them. A load under way would leave the run a part of the measurement
        // with the image count of the previous one. The start goes on when both are over.
        if (corSweep->sweeping())
            logLine("The run waits for the end of the CoR sweep");
        else if (workersInFlight() > 0)
            logLine("The run waits for the workers of the previous run:",
                QString::number(workersInFlight()));
        if (loading)
            logLine(
                "The run waits for the images being loaded:", QString::number(pendingFiles.size()));
        startPending = true;
        whenWorkersIdle([this] { resumeStart(); });
        return;
    }
    beginRun();
}

void Body::resumeStart()
{
    if (calculating && startPending && !loading && workersInFlight() == 0)
        beginRun();
}

void Body::beginRun()
{
    startPending = false;
    if (!imgDatas->isComplete()) {
        recordFailure(Failures::Load, imgDatas->incompleteText() + "; no run started");
        stopCalcCt();
        return;
    }
    if (!refusedRefs.isEmpty()) {
        for (const QString &why : std::as_const(refusedRefs))
            logLine(why);
        recordFailure(Failures::Load,
            QString("No run started: the %1 image asked for could not be loaded")
                .arg(QStringList(refusedRefs.keys()).join(" and ")));
        stopCalcCt();
        return;
    }
    checkI0BgSizes(true);
    ctDisp->clear();
    resultsUnsaved = false;

    const QString imagePath = SelectImageSaveDir->filePath();
    const QString dataPath = SelectDataSaveDir->filePath();
    if (AutoSaveImage->isChecked() && !imagePath.isEmpty() && !QDir().mkpath(imagePath))
        recordFailure(Failures::Folder, "Cannot create the folder " + imagePath);
    if ((AutoSaveData->isChecked() || AutoSaveTiff->isChecked()) && !dataPath.isEmpty()
        && !QDir().mkpath(dataPath))
        recordFailure(Failures::Folder, "Cannot create the folder " + dataPath);
    // Queued to the saver's thread behind every record of the earlier runs (their workers have
    // all reported, so all their records are posted): those are still written under their own
    // run's folder rule, and this run's records, posted later, find the new one.
    const bool inSub = SaveInSubFolders->isChecked();
    const bool ofEnergy = SubOfEnergy->isChecked();
    const bool ofSlice = SubOfSlice->isChecked();
    // The run's count of written files starts there too: files of an earlier run still
    // queued are not this run's. Only the saver's thread touches the counter's start.
    runWrittenFrom = std::make_shared<qint64>(0);
    QMetaObject::invokeMethod(
        dataSaver,
        [saver = dataSaver, inSub, ofEnergy, ofSlice, from = runWrittenFrom] {
            saver->inSubFolders = inSub;
            saver->ofEnergy = ofEnergy;
            saver->ofSlice = ofSlice;
            *from = saver->written.load();
            saver->beginRun();
        },
        Qt::QueuedConnection);

    // No worker is in flight here (see startCalcCt), so nobody reads the block while it is
    // refilled; from now until the run's last worker reports it stays as it is.
    procCtrl->fillCtParams(ctParams, SelectCt1->isChecked(), SelectCt2->isChecked());
    ctParams.imageAnglesDeg = imageAngles();
    if (!ctParams.imageAnglesDeg.empty()) {
        if (ctParams.dataSetImages != int(ctParams.imageAnglesDeg.size()))
            logLine(QString("The data set is given %1 images, the set holds %2: its own angles "
                            "are not used")
                        .arg(ctParams.dataSetImages)
                        .arg(ctParams.imageAnglesDeg.size()));
    }
    ctParams.upperLimit = numberOf(DataUpperLimit);
    ctParams.lowerLimit = numberOf(DataLowerLimit);
    ctParams.dataOffset = numberOf(DataOffset);
    if (ctParams.sliceRange && !ctParams.calcCt2) {
        // A range needs the workers; CT1 with the range box (which batch commands can set up)
        // would otherwise never end.
        logLine("A slice range is reconstructed by the CT2 workers");
        SelectCt2->setChecked(true);
        ctParams.calcCt1 = false;
        ctParams.calcCt2 = true;
    }
    if (ctParams.sliceRange && ctParams.sliceStep == 0) {
        // A user who typed 0 still wants the range done.
        logLine("Slice step 0 is taken as 1");
        ctParams.sliceStep = ctParams.sliceTo < ctParams.sliceFrom ? -1 : 1;
    }
    if (ctParams.sliceRange && !fitSliceRange()) {
        stopCalcCt();
        return;
    }
    // Only the workers save: a run on the single-slice panel would quietly write nothing.
    if (ctParams.calcCt1 && (AutoSaveData->isChecked() || AutoSaveImage->isChecked()))
        logLine("CT1 does not save its result: select CT2 (calc_ct2 1) to save slices "
                "automatically");
    if (ctParams.calcCt2)
        ProgPerCent->setText("0 %");

    // No worker reads the set now (see above); the factor holds for the whole run.
    updateI0Scale();
    setupFFT();
    setupSaveConds();

    runCutShort = false;
    const QString method = CtMethods::info(ctParams.method).runText;
    if (ctParams.sliceRange) {
        const qint64 step = std::max<qint64>(1, std::abs(qint64(ctParams.sliceStep)));
        runReport.begin(std::abs(qint64(ctParams.sliceTo) - ctParams.sliceFrom) / step + 1);
        report(RunReport::startLine(ctParams.sliceFrom, ctParams.sliceTo, ctParams.sliceStep,
                   std::clamp(ctParams.threads, 1, int(ctCalc2s.size())), method),
            CalcStartT);
    } else {
        runReport.begin(1);
        report(RunReport::startLine(ctParams.slice, ctParams.slice, 1, 1, method), CalcStartT);
    }
    showRunProgress(0,
        ctParams.sliceRange ? std::abs(qint64(ctParams.sliceTo) - ctParams.sliceFrom)
                    / std::max<qint64>(1, std::abs(qint64(ctParams.sliceStep)))
                + 1
                            : 1);

    if (ctParams.sliceRange) {
        runKind = RunKind::Ct2Range;
        nextSlice = ctParams.sliceFrom;
        ctParams.nextSlice = ctParams.sliceFrom;
        execMultiCtCalc();
    } else {
        execSingleCtCalc();
    }
}

void Body::execSingleCtCalc()
{
    if (ctParams.calcCt1) {
        runKind = RunKind::Ct1;
        // The panel keeps the sinogram it last had when the slice or centre cannot give one:
        // that would be reconstructed as this slice.
        const QString refusal = sliceRefusal(ctParams.rotAxIsV, ctParams.cor, ctParams.slice);
        if (!refusal.isEmpty()) {
            recordFailure(Failures::Slice,
                QString("Slice %1 was not reconstructed: %2").arg(ctParams.slice).arg(refusal));
            stopCalcCt();
            return;
        }
        // The panel refuses a slice it cannot reconstruct (no sinogram, no memory) without a
        // word, and then never reports; the run must still end. It has started exactly when it
        // has asked its relay for the first step.
        bool started = false;
        const auto note = [&started] { started = true; };
        const auto c1 = connect(ctCalc, &CtCalc::startCalcAll, this, note);
        const auto c2 = connect(ctCalc, &CtCalc::startCalcOneByOne, this, note);
        ctCalc->calcCt();
        disconnect(c1);
        disconnect(c2);
        if (calculating && runKind == RunKind::Ct1 && !started) {
            recordFailure(Failures::Slice,
                QString("Slice %1 was not reconstructed: the single-slice panel cannot start "
                        "(no memory for its sinogram or transforms)")
                    .arg(ctParams.slice));
            stopCalcCt();
        }
        return;
    }
    if (ctParams.calcCt2 && !ctCalc2s.isEmpty()) {
        runKind = RunKind::Ct2Single;
        CtCalc2 *worker = ctCalc2s.first();
        addressed.insert(worker);
        updateReferenceLock();
        emit startCt(
            worker, ctParams.rotAxIsV, ctParams.cor, ctParams.slice, ShowCalcRes->isChecked());
        return;
    }
    stopCalcCt();
}

bool Body::inSliceRange(qint64 slice) const
{
    const qint64 lo = std::min(ctParams.sliceFrom, ctParams.sliceTo);
    const qint64 hi = std::max(ctParams.sliceFrom, ctParams.sliceTo);
    return slice >= lo && slice <= hi;
}

QString Body::sliceRefusal(bool rotAxIsV, double cor, int slice) const
{
    return sinogramRefusal(ImgDatasLines(*imgDatas, rotAxIsV), rotAxIsV, cor, slice);
}

namespace {

// floor(a / b) and ceil(a / b) for b > 0, whatever the sign of a.
qint64 floorDiv(qint64 a, qint64 b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return -floorDiv(-a, b);
}

} // namespace

bool Body::fitSliceRange()
{
    const qint64 lines = ctParams.rotAxIsV ? imgDatas->height : imgDatas->width;
    const qint64 from = ctParams.sliceFrom;
    const qint64 to = ctParams.sliceTo;
    const qint64 step = ctParams.sliceStep; // not 0 here, its sign that of to - from
    const qint64 mag = std::abs(step);
    // The run visits from + k * step for k = 0 ... last; keep the k whose slice is a line.
    const qint64 last = std::abs(to - from) / mag;
    qint64 kMin = 0;
    qint64 kMax = last;
    if (step > 0) {
        kMin = std::max<qint64>(0, ceilDiv(-from, mag));
        kMax = std::min(last, floorDiv(lines - 1 - from, mag));
    } else {
        kMin = std::max<qint64>(0, ceilDiv(from - (lines - 1), mag));
        kMax = std::min(last, floorDiv(from, mag));
    }
    const QString asked = QString("Slices %1…%2 asked, the set has %3 lines: ")
                              .arg(ctParams.sliceFrom)
                              .arg(ctParams.sliceTo)
                              .arg(lines);
    if (lines <= 0 || kMin > kMax) {
        recordFailure(Failures::Slice, asked + "nothing to run");
        return false;
    }
    if (kMin == 0 && kMax == last)
        return true;
    ctParams.sliceFrom = int(from + kMin * step);
    ctParams.sliceTo = int(from + kMax * step);
    logLine(asked + QString("running %1…%2").arg(ctParams.sliceFrom).arg(ctParams.sliceTo));
    return true;
}

void Body::execMultiCtCalc()
{
    if (!calculating || startPending)
        return;
    if (runKind == RunKind::Ct1)
        return; // the single-slice panel reports through ctCalcFinished
    if (!ctParams.sliceRange) {
        stopCalcCt();
        return;
    }
    if (!ctParams.calcCt2)
        return;

    const int threads = std::clamp(ctParams.threads, 1, int(ctCalc2s.size()));
    const bool genImg = ShowCalcRes->isChecked();
    for (int i = 0; i < threads && inSliceRange(nextSlice); ++i) {
        CtCalc2 *worker = ctCalc2s.at(i);
        if (workerInFlight(worker))
            continue;
        addressed.insert(worker);
        updateReferenceLock();
        emit startCt(worker, ctParams.rotAxIsV, ctParams.cor, int(nextSlice), genImg);
        nextSlice += ctParams.sliceStep;
    }
    showProgress();
    const QString line = runReport.progress(slicesDone());
    if (!line.isEmpty())
        report(line, ProgPerCent);
    if (!inSliceRange(nextSlice) && workersInFlight() == 0)
        stopCalcCt();
}

void Body::showProgress()
{
    // Magnitudes, so that a descending range rises from 0 to 100 like an ascending one.
    const qint64 step = std::max<qint64>(1, std::abs(qint64(ctParams.sliceStep)));
    const qint64 handedOut = std::abs(nextSlice - ctParams.sliceFrom) / step;
    const qint64 total = std::abs(qint64(ctParams.sliceTo) - ctParams.sliceFrom) / step + 1;
    const qint64 inFlight = workersInFlight();
    double percent = std::trunc(double(handedOut - inFlight + 1) / double(total) * 1000.0) / 10.0;
    percent = std::clamp(percent, 0.0, 100.0);
    ProgPerCent->setText(QString("%1 %").arg(QString::number(percent, 'f', 1)));
    showRunProgress(slicesDone(), slicesTotal());
}

void Body::setupRunProgress()
{
    runProgress = new QProgressBar;
    runProgress->setObjectName("RunProgress");
    runProgress->setRange(0, 1000);
    runProgress->setValue(0);
    runProgress->setTextVisible(true);
    runProgress->setFormat(QString());
    runProgress->setToolTip(tr("Slices made of the run's range and the time left at the rate so "
                               "far; in a sequential run, which energy set of how many."));
    // Under the row of the run's times.
    for (QBoxLayout *column : ctrlColumn->findChildren<QBoxLayout *>()) {
        for (int i = 0; i < column->count(); ++i) {
            QLayout *row = column->itemAt(i)->layout();
            if (row && row->indexOf(ProgPerCent) >= 0) {
                column->insertWidget(i + 1, runProgress);
                return;
            }
        }
    }
}

void Body::showRunProgress(qint64 done, qint64 total)
{
    if (!runProgress)
        return;
    const double part = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
    runProgress->setValue(int(std::lround(part * 1000)));
    QString text = tr("%1 of %2 slices").arg(done).arg(total);
    if (done < total)
        text += tr(", %1 left")
                    .arg(RunReport::clockText(
                        RunReport::secondsLeft(runReport.elapsedMs(), done, total)));
    runProgress->setFormat(seqStep.isEmpty() ? text : seqStep + QStringLiteral(": ") + text);
}

void Body::stopCalcCt()
{
    if (!calculating)
        return; // one end per run
    const bool begun = runKind != RunKind::None;
    const qint64 done = runKind == RunKind::Ct2Range ? slicesDone() : (runCutShort ? 0 : 1);
    calculating = false;
    startPending = false;
    if (begun)
        showRunProgress(done, runKind == RunKind::Ct2Range ? slicesTotal() : 1);
    const RunKind kind = runKind;
    runKind = RunKind::None;
    calcEnd = QDateTime::currentDateTime();
    CalcEndT->setText(timeText(calcEnd));
    CalcSpentT->setText(QString::number(calcStart.msecsTo(calcEnd) / 1000.0, 'g', 6));
    CalcCT->setStyleSheet(IdleStyle);
    // A run cut short by closing must not release its batch: the lines after "calc_exec"
    // would run on a data set that is not complete.
    const bool release = std::exchange(batchCalc, false) && !closing;
    // Written once the saver has written every file queued so far (the workers post their
    // files before they report their end), so that the counts are those of the run's files.
    // A batch goes on only then: a command after "calc_exec" finds every file in place.
    // The volume of a slice range, from the float TIFF slices the saver wrote for it.
    QString volume;
    VolumeFile::Info volumeInfo;
    if (begun && kind == RunKind::Ct2Range && !volumeFile.isEmpty()) {
        volume = volumeFile;
        volumeInfo.firstSlice = ctParams.sliceFrom;
        volumeInfo.sliceStep = ctParams.sliceStep;
        volumeInfo.method = CtMethods::name(ctParams.method);
        volumeInfo.filter = CtFilter::name(ctParams.filter);
        volumeInfo.cor = ctParams.cor;
        volumeInfo.valueUnit = QStringLiteral("2 mu per pixel");
    }
    if (begun) {
        QMetaObject::invokeMethod(
            dataSaver,
            [this, console = consoleReport, done, report = runReport, saver = dataSaver,
                from = runWrittenFrom, field = CalcSpentT, release, volume, volumeInfo] {
                if (!volume.isEmpty())
                    writeVolume(*saver, volume, volumeInfo);
                const QString line
                    = report.endLine(done, saver->written.load() - (from ? *from : 0));
                if (console)
                    RunReport::print(line);
                QMetaObject::invokeMethod(
                    field, [field, line] { field->setToolTip(line); }, Qt::QueuedConnection);
                if (release)
                    QMetaObject::invokeMethod(
                        this, [this] { emit batchCalcFinished(); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    } else if (release) {
        emit batchCalcFinished();
    }
    // A stopped CT1 run ends the panel's run too, so its late calcFinished cannot end another.
    if (kind == RunKind::Ct1)
        ctCalc->stopCt();
    emit calcFinished();
}

void Body::ctCalcFinished()
{
    if (runKind == RunKind::Ct1)
        stopCalcCt();
}

void Body::setupFFT()
{
    const bool v = ctParams.rotAxIsV;
    const int length = v ? imgDatas->width : imgDatas->height;
    const int slice = ctParams.sliceRange ? ctParams.sliceFrom : ctParams.slice;
    double cor = ctParams.cor;
    if (ctParams.recSlice1 >= 0 && ctParams.recSlice2 >= 0
        && ctParams.recSlice1 != ctParams.recSlice2)
        cor = ctParams.recCor1
            + (ctParams.recCor2 - ctParams.recCor1) * (double(slice) - ctParams.recSlice1)
                / (double(ctParams.recSlice2) - ctParams.recSlice1);
    const RowWindow window = makeRowWindow(v, length, cor);
    const int n = window.n / 2 * 2;
    if (n < 2)
        return; // no usable window here; each worker sizes itself for the slice it gets
    // Room for the projections a sinogram holds: the images in use of a partial data set,
    // else all of them. (Each worker divides by the rows of its own slice.)
    const int count = imgDatas->count();
    int projections = count;
    if (ctParams.usePartialDataSet && ctParams.usingImages != 0 && ctParams.usingImages != INT_MIN)
        projections = std::min(std::abs(ctParams.usingImages), count);
    if (projections <= 0)
        return;
    // Plans are made here on the GUI thread; the workers are idle, so they apply it at once.
    for (CtCalc2 *w : std::as_const(ctCalc2s))
        w->setupFFT(n, projections);
}

void Body::setupSaveConds()
{
    const bool image = AutoSaveImage->isChecked();
    const QString imagePath = SelectImageSaveDir->filePath();
    const QString imageName = SelectImageSaveDir->name();
    const QString imageTag = SelectImageSaveDir->addTag();
    const bool data = AutoSaveData->isChecked();
    const QString dataPath = SelectDataSaveDir->filePath();
    const QString dataName = SelectDataSaveDir->name();
    const QString dataTag = SelectDataSaveDir->addTag();
    ctCalc->setSaveImage(image, imagePath, imageName, imageTag);
    ctCalc->setSaveData(data, dataPath, dataName, dataTag);
    // Called directly: a worker copies its save settings under its own lock.
    for (CtCalc2 *w : std::as_const(ctCalc2s)) {
        w->setSaveImage(image, imagePath, imageName, imageTag);
        w->setSaveData(data, dataPath, dataName, dataTag);
        w->setSaveTiff(AutoSaveTiff->isChecked(), AutoSaveTiffCompress->isChecked());
    }
}

void Body::changedCtSel(QAbstractButton *button)
{
    Q_UNUSED(button);
    if (!SelectCt1->isChecked())
        return;
    // A slice range needs the workers.
    if (auto *box = procCtrl->findChild<QCheckBox *>("AutoExecCtCalc"))
        box->setChecked(false);
}

void Body::changedAutoExec()
{
    if (procCtrl->autoExecCtCalc())
        SelectCt2->setChecked(true);
}
