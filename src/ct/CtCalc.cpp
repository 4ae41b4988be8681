#include "CtCalc.h"
#include "Failures.h"

#include "ColorBar.h"
#include "CtParams.h"
#include "CtProgress.h"
#include "ImgDispWPV.h"
#include "ParallelBackProj.h"
#include "Sinogram.h"
#include "SinogramBuild.h"
#include "TextUtil.h"
#include "ui_CtCalc.h"

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

QString timeText(const QDateTime &t)
{
    return t.toString("hh:mm:ss.zzz");
}

// The run's own copy of a sinogram record.
void copyRecord(const HSgm &from, HSgm &to)
{
    to.setSize(from.w, from.h);
    to.slice = from.slice;
    if (!from.hasData() || !to.hasData())
        return;
    const std::size_t bytes = static_cast<std::size_t>(from.w) * from.h * sizeof(double);
    std::memcpy(to.sgm.get(), from.sgm.get(), bytes);
    std::memcpy(to.rawSgm.get(), from.rawSgm.get(), bytes);
}

} // namespace

CtCalc::CtCalc(QWidget *parent)
    : QFrame(parent)
    , progress(new CtProgress)
    , progressThread(new QThread)
    , ui(std::make_unique<Ui::CtCalc>())
{
    ui->setupUi(this);
    regions = std::make_unique<CtRegions>(CtRegionFields(ui->Drx0, ui->Drz0, ui->Drx1, ui->Drz1),
        CtRegionFields(ui->Crx0, ui->Crz0, ui->Crx1, ui->Crz1));

    connect(ui->StartCalc, &QPushButton::clicked, this, &CtCalc::askToStartCalc);
    connect(ui->DispCt, &ImgDisp::newS, this, &CtCalc::noticedNewS);
    connect(ui->DispCt, &ImgDispWPV::newPosInvY, this, &CtCalc::noticedNewPos);
    connect(ui->DispCt, &ImgDispWCBar::newBar, this, &CtCalc::genResImage);
    connect(ui->SetCRegion, &QPushButton::clicked, this, &CtCalc::setCRegion);
    // A region typed here is announced like any other, so the other views take it too.
    for (QLineEdit *e : regions->crEdits().edits())
        connect(e, &QLineEdit::editingFinished, this, [this] {
            const CtRegion r = regions->cr();
            emit cRUpdated(r.x0, r.z0, r.x1, r.z1);
        });

    progressThread->setObjectName("CtProgress");
    progress->moveToThread(progressThread);
    // All of these cross between the GUI thread and the relay's thread, so they are queued.
    connect(this, &CtCalc::startCalcAll, progress, &CtProgress::startCalcAll);
    connect(progress, &CtProgress::calcAll, this, &CtCalc::calcAll);
    connect(this, &CtCalc::startCalcOneByOne, progress, &CtProgress::startCalcOneByOne);
    connect(progress, &CtProgress::calcOne, this, &CtCalc::calcOne);
    connect(this, &CtCalc::finishedCalcOne, progress, &CtProgress::calcNext);
    // The relay announces the end only once its count is complete; a notice still queued
    // from a stopped run finds the count of the next run incomplete and is dropped.
    connect(progress, &CtProgress::finishedCalcOneByOne, this, [this] {
        if (progress->current.load() >= progress->total.load())
            endCt();
    });
}

CtCalc::~CtCalc()
{
    progressThread->quit();
    progressThread->wait();
    delete progress;
    delete progressThread;
}

ImgDispWPV *CtCalc::display() const
{
    return ui->DispCt;
}

void CtCalc::rowAngles(double *angle0, double *dAngle) const
{
    const CtParams p = ctParams != nullptr ? *ctParams : CtParams {};
    const double delta = p.dataSetRangeDeg / 180.0 * std::numbers::pi / p.dataSetImages;
    *dAngle = delta;
    *angle0 = p.startImageNo * delta + p.angleOriginDeg * std::numbers::pi / 180.0;
}

void CtCalc::startCt()
{
    // calcCt() ends a run in progress; a second start meanwhile would run two request chains.
    if (sinogram == nullptr || running)
        return;
    calcStart = QDateTime::currentDateTime();
    ui->StartT->setText(timeText(calcStart));

    sinogram->genSinogram();
    const HSgm &source = sinogram->hSgm;
    if (!source.hasData() || source.w / 2 * 2 < 2)
        return;
    copyRecord(source, hSgm);
    // The sinogram panel keeps showing the stripes; only this copy loses them.
    const int ringLevel = ctParams != nullptr ? ctParams->ringRemoval : 0;
    if (!hSgm.hasData() || !rings.apply(hSgm.sgm.get(), hSgm.w, hSgm.h, ringLevel)) {
        recordFailure(Failures::Memory,
            "Not enough memory for the sinogram of slice " + QString::number(source.slice));
        return;
    }
    ui->ShowSliceNo->setText(QString::number(hSgm.slice));
    projections = hSgm.h;
    n = hSgm.w / 2 * 2;
    const CtFilterKind filter = ctParams != nullptr ? ctParams->filter : CtFilterKind::Ramp;
    gridded = ctParams != nullptr && ctParams->method == CtMethod::Gridding;
    angles = ctParams != nullptr ? rowAnglesOf(*ctParams, projections) : std::vector<double>();
    if (ctParams != nullptr)
        weightRows(hSgm, *ctParams, angles);
    engine.setRowAngles(angles.empty() ? nullptr : angles.data());
    gridding.setRowAngles(angles.empty() ? nullptr : angles.data());
    // Plans are made here on the GUI thread; buffers are kept when N and P still fit.
    if (gridded) {
        gridding.setup(n, projections);
        if (!gridding.setFilter(filter) || gridding.n() != n) {
            recordFailure(Failures::Memory,
                "Not enough memory for the transforms of slice " + QString::number(hSgm.slice));
            return;
        }
    } else {
        engine.setup(n, projections);
        if (!engine.setFilter(filter) || engine.n() != n || engine.rowCapacity() < projections) {
            recordFailure(Failures::Memory,
                "Not enough memory for the transforms of slice " + QString::number(hSgm.slice));
            return;
        }
    }
    if (!regions->regionSet())
        setCR(0, 0, n, n);
    if (gridded)
        gridding.initResult(n);
    else
        engine.initResult(n);
    QImage blank(n, n, QImage::Format_Grayscale8);
    blank.fill(0);
    ui->DispCt->img = blank;
    ui->DispCt->newImage();

    // The relay was asked to quit at the end of the previous run; once it has stopped,
    // requests of that run still waiting for it are discarded, and the counts below can be
    // written without a race before it starts again.
    if (progressThread->isRunning()) {
        progressThread->quit();
        progressThread->wait();
    }
    QCoreApplication::removePostedEvents(progress);
    progress->total = 0;
    progress->current = 0;
    progressThread->start(QThread::InheritPriority);

    running = true;
    active = true;
    nextRow = 0;
    if (ui->CalcAtOnce->isChecked() || gridded) {
        allPending = true;
        emit startCalcAll();
        // The slice is computed in one piece that nothing interrupts.
        running = false;
    } else {
        allPending = false;
        progress->total = projections;
        progress->current = 0;
        emit startCalcOneByOne();
    }
}

void CtCalc::stopCt()
{
    endCt();
}

void CtCalc::endCt()
{
    if (!active)
        return;
    finishRun();
}

void CtCalc::finishRun()
{
    running = false;
    active = false;
    allPending = false;
    progressThread->quit();
    calcEnd = QDateTime::currentDateTime();
    ui->EndT->setText(timeText(calcEnd));
    ui->SpentT->setText(QString::number(calcStart.msecsTo(calcEnd) / 1000.0, 'g', 6));
    emit calcFinished();
}

void CtCalc::calcAll()
{
    if (!allPending)
        return;
    allPending = false;
    double angle0 = 0.0;
    double dAngle = 0.0;
    rowAngles(&angle0, &dAngle);
    const CtRegion r = regions->cr();
    if (gridded) {
        if (!gridding.reconstruct(hSgm, r.x0, r.x1, r.z0, r.z1, angle0, dAngle))
            recordFailure(Failures::Slice,
                QString("Slice %1 was not reconstructed: no memory, or angles that are not "
                        "numbers (check the data set's images and range)")
                    .arg(hSgm.slice));
        genResImage();
        endCt();
        return;
    }
    for (int i = 0; i < projections; ++i)
        engine.fftRow(hSgm.sgmRow(i), i);
    for (int i = 0; i < projections; ++i)
        engine.filterRow(i);
    backProjectParallel(engine, projections, r.x0, r.x1, r.z0, r.z1, angle0, dAngle, atOnceThreads);
    genResImage();
    endCt();
}

void CtCalc::calcOne(int iz)
{
    // A stop takes effect here: the chain of requests ends with the first one refused.
    if (!running || iz != nextRow || iz < 0 || iz >= projections)
        return;
    ++nextRow;
    engine.fftRow(hSgm.sgmRow(iz), iz);
    engine.filterRow(iz);
    double angle0 = 0.0;
    double dAngle = 0.0;
    rowAngles(&angle0, &dAngle);
    const CtRegion r = regions->cr();
    engine.backProject(iz, r.x0, r.x1, r.z0, r.z1, angle0, dAngle);
    genResImage();
    calcEnd = QDateTime::currentDateTime();
    ui->EndT->setText(timeText(calcEnd));
    emit finishedCalcOne();
}

void CtCalc::noticedNewPos(double x, double z)
{
    const int size = resultSize();
    if (size <= 0 || !(std::abs(x) < 1e9) || !(std::abs(z) < 1e9))
        return;
    const int ix = static_cast<int>(x);
    const int iz = static_cast<int>(z);
    if (ix >= 0 && ix < size && iz >= 0 && iz < size)
        ui->DispCt->setVal(resultData()[size_t(iz) * size_t(size) + size_t(ix)]);
}

void CtCalc::noticedNewS(QRectF s)
{
    const CtRegion r = CtRegion::ofSource(s);
    setDR(r.x0, r.z0, r.x1, r.z1);
}

void CtCalc::setCRegion()
{
    CtRegion r;
    if (regions->setCRegion(&r))
        emit cRUpdated(r.x0, r.z0, r.x1, r.z1);
}

void CtCalc::calcCt()
{
    if (running)
        endCt();
    else
        startCt();
}

void CtCalc::genResImage()
{
    if (n <= 0 || resultSize() != n)
        return;
    ColorBar *bar = ui->DispCt->colorBar();
    if (gridded ? gridding.resultValid() : engine.resultValid()) {
        gridded ? gridding.findMinMax() : engine.findMinMax();
        const double lo = gridded ? gridding.resMin() : engine.resMin();
        const double hi = gridded ? gridding.resMax() : engine.resMax();
        if (!bar->fixedScale()) {
            bar->setMinV(lo);
            bar->setMaxV(hi);
            bar->update();
        }
    }
    ui->DispCt->img = bar->greyMap().greyImage(resultData(), n, n);
    ui->DispCt->newImage();
}

void CtCalc::setDR(double rx0, double rz0, double rx1, double rz1)
{
    const CtRegion r { rx0, rz0, rx1, rz1 };
    if (!regions->setDR(r))
        return;
    CtRegions::showRegion(ui->DispCt, r);
    emit dRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc::setCR(double rx0, double rz0, double rx1, double rz1)
{
    if (regions->setCR(CtRegion { rx0, rz0, rx1, rz1 }))
        emit cRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc::setFixColorScale(bool f)
{
    ui->DispCt->colorBar()->setFixColorScale(f);
}

void CtCalc::setCBarMinMaxForced(double min, double max)
{
    ColorBar *bar = ui->DispCt->colorBar();
    bar->setMinV(min);
    bar->setMaxV(max);
    bar->update();
}

void CtCalc::setSaveImage(bool f, QString path, QString name, QString tag)
{
    saveImage = f;
    imagePath = path;
    imageName = name;
    imageTag = tag;
}

void CtCalc::setSaveData(bool f, QString path, QString name, QString tag)
{
    saveData = f;
    dataPath = path;
    dataName = name;
    dataTag = tag;
}
