#include "ProcCtrl.h"

#include "CtParams.h"
#include "FieldGuard.h"
#include "ui_ProcCtrl.h"

#include <QButtonGroup>
#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// Fields hold numbers as text; anything that is not a number (or does not fit) reads as 0.
int intOf(const QLineEdit *edit)
{
    bool ok = false;
    const int v = edit->text().toInt(&ok);
    return ok ? v : 0;
}

double doubleOf(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok ? v : 0.0;
}

QString gText(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

ProcCtrl::ProcCtrl(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::ProcCtrl>())
{
    ui->setupUi(this);
    ui->Method->addItems(CtMethods::names());

    m_slice = intOf(ui->SliceNo);
    m_cor = doubleOf(ui->Cor);
    clearRecordedCoR();

    rotAxGroup = new QButtonGroup(this);
    rotAxGroup->setExclusive(true);
    rotAxGroup->addButton(ui->RotAxH);
    rotAxGroup->addButton(ui->RotAxV);
    ui->RotAxH->setChecked(true);
    m_rotAxIsV = ui->RotAxV->isChecked();

    // Item texts are the filters' batch names, so they are not translated.
    ui->Filter->addItems(CtFilter::names());

    showPartial();
    refreshPartialCopy();

    // The copy for worker threads is refreshed first, so that listeners of the update
    // signals below already see the new settings; textChanged also follows the text-only
    // setters, so the copy never lags behind.
    connect(ui->UsePartialDataSet, &QCheckBox::toggled, this, &ProcCtrl::refreshPartialCopy);
    connect(ui->DataSetStartImageNo, &QLineEdit::textChanged, this, &ProcCtrl::refreshPartialCopy);
    connect(ui->DataSetUsingImages, &QLineEdit::textChanged, this, &ProcCtrl::refreshPartialCopy);

    connect(ui->AutoExecCtCalc, &QCheckBox::toggled, this, &ProcCtrl::autoExecUpdated);
    connect(ui->AngleOriginDeg, &QLineEdit::editingFinished, this, &ProcCtrl::angleOriginUpdated);
    connect(ui->DataSetRangeDeg, &QLineEdit::editingFinished, this, &ProcCtrl::dataSetRangeUpdated);
    connect(ui->DataSetUsingImages, &QLineEdit::editingFinished, this,
        &ProcCtrl::dataSetUsingImagesUpdated);
    connect(ui->DataSetStartImageNo, &QLineEdit::editingFinished, this,
        &ProcCtrl::dataSetStartImageNoUpdated);
    connect(ui->UsePartialDataSet, &QCheckBox::toggled, this, &ProcCtrl::usePartialDataSetUpdated);
    connect(this, &ProcCtrl::usePartialDataSetUpdated, this, &ProcCtrl::showPartial);
    connect(ui->SliceNo, &QLineEdit::editingFinished, this, &ProcCtrl::sliceNoEditingFinished);
    connect(ui->Cor, &QLineEdit::editingFinished, this, &ProcCtrl::corEditingFinished);
    connect(rotAxGroup, &QButtonGroup::buttonClicked, this, &ProcCtrl::rotAxSelectionChanged);
    connect(ui->RecCoR, &QPushButton::clicked, this, &ProcCtrl::recordCoR);

    // Typed numbers: text that is not one is refused, the previous value stays.
    const std::pair<QLineEdit *, QString> integers[]
        = { { ui->SliceNo, tr("Slice") }, { ui->SliceFrom, tr("Slice From") },
              { ui->SliceTo, tr("Slice To") }, { ui->SliceStep, tr("Slice Step") },
              { ui->DataSetImages, tr("Images") }, { ui->DataSetStartImageNo, tr("Start Image") },
              { ui->DataSetUsingImages, tr("Using Images") } };
    const std::pair<QLineEdit *, QString> reals[] = { { ui->Cor, tr("CoR") },
        { ui->AngleOriginDeg, tr("Angle Origin") }, { ui->DataSetRangeDeg, tr("Data Set Range") } };
    auto guard = [this](QLineEdit *edit, const QString &label, NumberField::Kind kind) {
        NumberField *g = NumberField::guard(edit, kind);
        connect(g, &NumberField::refused, this, [this, edit, label](const QString &typed) {
            const bool isSlice
                = edit == ui->SliceNo || edit == ui->SliceFrom || edit == ui->SliceTo;
            bool number = false;
            typed.toDouble(&number);
            QString why = isSlice && number && m_sliceLines > 0
                ? tr("%1: %2 is not taken, the set has slices 0 ... %3; it stays %4")
                      .arg(label, typed)
                      .arg(m_sliceLines - 1)
                      .arg(edit->text())
                : tr("%1: \"%2\" is not a number; it stays %3").arg(label, typed, edit->text());
            emit refusedInput(why);
        });
    };
    for (const auto &[edit, label] : integers)
        guard(edit, label, NumberField::Integer);
    for (const auto &[edit, label] : reals)
        guard(edit, label, NumberField::Real);
    connect(ui->ClearRecCoR, &QPushButton::clicked, this, &ProcCtrl::clearRecordedCoR);
}

ProcCtrl::~ProcCtrl() = default;

double ProcCtrl::angleOriginDeg() const
{
    return doubleOf(ui->AngleOriginDeg);
}

int ProcCtrl::dataSetImages() const
{
    return intOf(ui->DataSetImages);
}

double ProcCtrl::dataSetRangeDeg() const
{
    return doubleOf(ui->DataSetRangeDeg);
}

bool ProcCtrl::usePartialDataSet() const
{
    return ui->UsePartialDataSet->isChecked();
}

int ProcCtrl::dataSetUsingImages() const
{
    return intOf(ui->DataSetUsingImages);
}

int ProcCtrl::dataSetStartImageNo() const
{
    return intOf(ui->DataSetStartImageNo);
}

bool ProcCtrl::autoExecCtCalc() const
{
    return ui->AutoExecCtCalc->isChecked();
}

int ProcCtrl::sliceFrom() const
{
    return intOf(ui->SliceFrom);
}

int ProcCtrl::sliceTo() const
{
    return intOf(ui->SliceTo);
}

int ProcCtrl::sliceStep() const
{
    return intOf(ui->SliceStep);
}

int ProcCtrl::threads() const
{
    return ui->Threads->value();
}

double ProcCtrl::corAtSlice(int s) const
{
    if (m_recSlice1 < 0 || m_recSlice2 < 0 || m_recSlice1 == m_recSlice2)
        return m_cor;
    return m_recCor1
        + (m_recCor2 - m_recCor1) * (double(s) - m_recSlice1) / (double(m_recSlice2) - m_recSlice1);
}

CtMethod ProcCtrl::method() const
{
    CtMethod m = CtMethod::Fbp;
    CtMethods::fromName(ui->Method->currentText(), &m);
    return m;
}

void ProcCtrl::setMethod(CtMethod method)
{
    ui->Method->setCurrentIndex(static_cast<int>(method));
}

void ProcCtrl::fillCtParams(CtParams &p, bool calcCt1, bool calcCt2) const
{
    p.method = method();
    p.calcCt1 = calcCt1;
    p.calcCt2 = calcCt2;
    p.rotAxIsV = m_rotAxIsV;
    p.slice = m_slice;
    p.cor = m_cor;
    p.recCor1 = m_recCor1;
    p.recCor2 = m_recCor2;
    p.recSlice1 = m_recSlice1;
    p.recSlice2 = m_recSlice2;
    p.angleOriginDeg = angleOriginDeg();
    p.dataSetImages = dataSetImages();
    p.dataSetRangeDeg = dataSetRangeDeg();
    const bool partialOn = usePartialDataSet();
    p.usePartialDataSet = partialOn;
    p.usingImages = partialOn ? dataSetUsingImages() : p.dataSetImages;
    p.startImageNo = partialOn ? dataSetStartImageNo() : 0;
    p.sliceRange = autoExecCtCalc();
    p.sliceFrom = sliceFrom();
    p.sliceTo = sliceTo();
    const int step = sliceStep();
    const int magnitude = step == INT_MIN ? INT_MAX : std::abs(step);
    p.sliceStep = p.sliceTo < p.sliceFrom ? -magnitude : magnitude;
    p.upperLimit = 10.0;
    p.lowerLimit = -10.0;
    p.dataOffset = 10.0;
    p.threads = threads();
    p.filter = filter();
    p.ringRemoval = ringRemoval();
}

int ProcCtrl::ringRemoval() const
{
    return ui->RingRemoval->value();
}

void ProcCtrl::setRingRemoval(int level)
{
    ui->RingRemoval->setValue(level);
}

CtFilterKind ProcCtrl::filter() const
{
    return static_cast<CtFilterKind>(std::max(0, ui->Filter->currentIndex()));
}

bool ProcCtrl::setFilter(const QString &name)
{
    CtFilterKind kind;
    if (!CtFilter::fromName(name, &kind))
        return false;
    ui->Filter->setCurrentIndex(static_cast<int>(kind));
    return true;
}

PartialDataSet ProcCtrl::partialDataSet() const
{
    QMutexLocker lock(&partialMutex);
    return partial;
}

void ProcCtrl::setHardwareThreads(int h)
{
    ui->Threads->setMaximum(h);
    ui->MaxThreads->setText(QString("/%1").arg(h));
    ui->Threads->setValue(int(0.8 * h));
}

void ProcCtrl::showPartial()
{
    ui->UsePartialDataSetParams->setVisible(ui->UsePartialDataSet->isChecked());
}

void ProcCtrl::recordCoR()
{
    setRecord2(m_recSlice1, m_recCor1);
    setRecord1(m_slice, m_cor);
}

void ProcCtrl::sliceNoEditingFinished()
{
    const int n = intOf(ui->SliceNo);
    if (n == m_slice)
        return;
    m_slice = n;
    emit sliceNoUpdated();
}

void ProcCtrl::corEditingFinished()
{
    const double c = doubleOf(ui->Cor);
    if (c == m_cor) // false for NaN on either side, which counts as a change
        return;
    m_cor = c;
    emit corUpdated();
}

void ProcCtrl::rotAxSelectionChanged(QAbstractButton *)
{
    const bool v = ui->RotAxV->isChecked();
    if (v == m_rotAxIsV)
        return;
    m_rotAxIsV = v;
    emit rotAxUpdated();
}

void ProcCtrl::clearRecordedCoR()
{
    setRecord1(-1, 0.0);
    setRecord2(-1, 0.0);
}

void ProcCtrl::setCor(double cor)
{
    if (cor == m_cor)
        return;
    m_cor = cor;
    ui->Cor->setText(gText(cor));
    emit corUpdated();
}

void ProcCtrl::setSliceNo(int sliceNo)
{
    if (sliceNo == m_slice)
        return;
    m_slice = sliceNo;
    ui->SliceNo->setText(QString::number(sliceNo));
    emit sliceNoUpdated();
}

void ProcCtrl::setSliceFrom(int from)
{
    ui->SliceFrom->setText(QString::number(from));
}

void ProcCtrl::setSliceTo(int to)
{
    ui->SliceTo->setText(QString::number(to));
}

void ProcCtrl::setSliceStep(int step)
{
    ui->SliceStep->setText(QString::number(step));
}

void ProcCtrl::setAngleOriginDeg(double deg)
{
    ui->AngleOriginDeg->setText(gText(deg));
}

void ProcCtrl::setDataSetImages(int no)
{
    ui->DataSetImages->setText(QString::number(no));
}

void ProcCtrl::setDataSetRangeDeg(double deg)
{
    ui->DataSetRangeDeg->setText(gText(deg));
}

void ProcCtrl::setUsePartialDataSet(bool f)
{
    ui->UsePartialDataSet->setChecked(f);
}

void ProcCtrl::setDataSetUsingImages(int images)
{
    ui->DataSetUsingImages->setText(QString::number(images));
}

void ProcCtrl::setDataSetStartImageNo(int no)
{
    ui->DataSetStartImageNo->setText(QString::number(no));
}

void ProcCtrl::setRecord1(int s, double c)
{
    m_recSlice1 = s;
    m_recCor1 = c;
    ui->RecordedCoR1->setText(s < 0 ? QString() : QString("%1 at %2").arg(gText(c)).arg(s));
}

void ProcCtrl::setRecord2(int s, double c)
{
    m_recSlice2 = s;
    m_recCor2 = c;
    ui->RecordedCoR2->setText(s < 0 ? QString() : QString("%1 at %2").arg(gText(c)).arg(s));
}

void ProcCtrl::setSliceLines(int lines)
{
    m_sliceLines = std::max(0, lines);
    for (QLineEdit *edit : { ui->SliceNo, ui->SliceFrom, ui->SliceTo }) {
        if (NumberField *g = NumberField::of(edit))
            g->setIntRange(
                m_sliceLines > 0 ? 0 : INT_MIN, m_sliceLines > 0 ? m_sliceLines - 1 : INT_MAX);
    }
}

void ProcCtrl::refreshPartialCopy()
{
    const PartialDataSet now { ui->UsePartialDataSet->isChecked(), intOf(ui->DataSetStartImageNo),
        intOf(ui->DataSetUsingImages) };
    QMutexLocker lock(&partialMutex);
    partial = now;
}
