#include "CtCalc2Ui.h"

#include "ColorBar.h"
#include "CtCalc2.h"
#include "ImgDispWPV.h"
#include "ProfilePanel.h"
#include "ui_CtCalc.h"

#include <QCheckBox>
#include <QMutexLocker>

#include <cmath>

namespace {

QString timeText(const QDateTime &t)
{
    return t.toString("hh:mm:ss.zzz");
}

} // namespace

CtCalc2Ui::CtCalc2Ui(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::CtCalc>())
{
    ui->setupUi(this);
    regions = std::make_unique<CtRegions>(CtRegionFields(ui->Drx0, ui->Drz0, ui->Drx1, ui->Drz1),
        CtRegionFields(ui->Crx0, ui->Crz0, ui->Crx1, ui->Crz1));

    connect(ui->DispCt, &ImgDisp::newS, this, &CtCalc2Ui::noticedNewS);
    connect(ui->DispCt, &ImgDispWPV::newPosInvY, this, &CtCalc2Ui::noticedNewPos);
    ui->DispCt->setProfileSampler([this](QPointF a, QPointF b) {
        // A copy, taken only while the worker is not writing its result; a busy worker
        // leaves the profile as it was.
        std::vector<double> values;
        int size = 0;
        if (!calc || !calc->copyResult(values, size))
            return ui->DispCt->profilePanel()->points();
        return LineProfile::sample(size, size, values.data(), a, b);
    });
    connect(ui->SetCRegion, &QPushButton::clicked, this, &CtCalc2Ui::setCRegion);
    connect(
        ui->DispCt, &ImgDisp::selectedAPoint, this, [this](double x, double y, MouseC::MStat s) {
            if (s == MouseC::Left && sliceNo >= 0 && std::abs(x) < 1e9 && std::abs(y) < 1e9)
                emit voxelSelected(sliceNo, int(std::floor(x)), int(std::floor(y)));
        });

    // Everything the worker copies must be current in the snapshot before it can ask: these
    // run directly on the GUI thread, while the worker's redraw request is queued behind them.
    ColorBar *bar = ui->DispCt->colorBar();
    connect(ui->DispCt, &ImgDispWCBar::newBar, this, &CtCalc2Ui::refreshState);
    if (auto *fix = bar->uiBase()->findChild<QCheckBox *>("CFix"))
        connect(fix, &QCheckBox::toggled, this, &CtCalc2Ui::refreshState);
    // A region typed here is announced like any other, so the other views take it too.
    for (QLineEdit *e : regions->crEdits().edits())
        connect(e, &QLineEdit::editingFinished, this, [this] {
            refreshState();
            const CtRegion r = regions->cr();
            emit cRUpdated(r.x0, r.z0, r.x1, r.z1);
        });
    refreshState();
}

CtCalc2Ui::~CtCalc2Ui() = default;

ImgDispWPV *CtCalc2Ui::display() const
{
    return ui->DispCt;
}

void CtCalc2Ui::setCalc(CtCalc2 *c)
{
    if (calc)
        disconnect(ui->DispCt, &ImgDispWCBar::newBar, calc, &CtCalc2::genResImage);
    calc = c;
    if (calc)
        connect(ui->DispCt, &ImgDispWCBar::newBar, calc, &CtCalc2::genResImage);
}

CtViewState CtCalc2Ui::state() const
{
    QMutexLocker lock(&stateMutex);
    return snapshot;
}

void CtCalc2Ui::refreshState()
{
    const ColorBar *bar = ui->DispCt->colorBar();
    CtViewState s { regions->cr(), regions->regionSet(), bar->greyMap(), bar->fixedScale() };
    QMutexLocker lock(&stateMutex);
    snapshot = s;
}

void CtCalc2Ui::noticedNewPos(double x, double z)
{
    // Converting a position beyond the int range (or not a number) would be undefined.
    if (!(std::abs(x) < 1e9) || !(std::abs(z) < 1e9))
        return;
    double v = 0;
    if (calc && calc->valueAt(static_cast<int>(x), static_cast<int>(z), &v))
        ui->DispCt->setVal(v);
}

void CtCalc2Ui::noticedNewS(QRectF s)
{
    const CtRegion r = CtRegion::ofSource(s);
    setDR(r.x0, r.z0, r.x1, r.z1);
}

void CtCalc2Ui::setCRegion()
{
    CtRegion r;
    if (!regions->setCRegion(&r))
        return;
    refreshState();
    emit cRUpdated(r.x0, r.z0, r.x1, r.z1);
}

void CtCalc2Ui::showStartTime()
{
    startedAt(QDateTime::currentDateTime());
}

void CtCalc2Ui::showEndTime()
{
    calcEnd = QDateTime::currentDateTime();
    ui->EndT->setText(timeText(calcEnd));
}

void CtCalc2Ui::showSpentT()
{
    ui->SpentT->setText(QString::number(calcStart.msecsTo(calcEnd) / 1000.0, 'g', 6));
}

void CtCalc2Ui::showSliceNo(int no)
{
    sliceNo = no;
    ui->ShowSliceNo->setText(QString::number(no));
}

void CtCalc2Ui::newImage()
{
    ui->DispCt->newImage();
}

void CtCalc2Ui::saveImage(QString fname)
{
    ui->DispCt->saveImage(fname);
}

void CtCalc2Ui::setCR(double rx0, double rz0, double rx1, double rz1)
{
    if (!regions->setCR(CtRegion { rx0, rz0, rx1, rz1 }))
        return;
    refreshState();
    emit cRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc2Ui::setDR(double rx0, double rz0, double rx1, double rz1)
{
    const CtRegion r { rx0, rz0, rx1, rz1 };
    if (!regions->setDR(r))
        return;
    CtRegions::showRegion(ui->DispCt, r);
    emit dRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc2Ui::setFixColorScale(bool f)
{
    ui->DispCt->colorBar()->setFixColorScale(f);
    refreshState();
}

void CtCalc2Ui::setCBarMinMaxForced(double min, double max)
{
    ColorBar *bar = ui->DispCt->colorBar();
    bar->setMinV(min);
    bar->setMaxV(max);
    bar->update();
    refreshState();
}

void CtCalc2Ui::useDefaultCR(int n)
{
    if (!regions->setDefaultCR(n))
        return;
    refreshState();
    emit cRUpdated(0, 0, n, n);
}

void CtCalc2Ui::showSliceRange(double min, double max)
{
    ColorBar *bar = ui->DispCt->colorBar();
    if (bar->fixedScale())
        return;
    bar->setMinV(min);
    bar->setMaxV(max);
    bar->update();
    refreshState();
}

void CtCalc2Ui::takePicture(const QImage &img)
{
    ui->DispCt->img = img;
    ui->DispCt->newImage();
}

void CtCalc2Ui::startedAt(const QDateTime &t)
{
    calcStart = t;
    ui->StartT->setText(timeText(t));
    // The end of the previous slice, shown beside this start, would read as an end before
    // the start.
    ui->EndT->setText("--");
    ui->SpentT->setText("--");
}

void CtCalc2Ui::endedAt(const QDateTime &t)
{
    calcEnd = t;
    ui->EndT->setText(timeText(t));
    showSpentT();
}
