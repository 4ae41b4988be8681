#include "SlicesCtrl.h"

#include "Config.h"
#include "ExLabel.h"
#include "Places.h"
#include "SliceDatas.h"
#include "ui_SlicesCtrl.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

double numberIn(const QLineEdit *e)
{
    return e->text().toDouble(); // 0 when the text is not a number
}

void writeNumber(QLineEdit *e, double x)
{
    e->setText(QString::number(x, 'g', 6));
    e->setCursorPosition(0);
}

QPixmap swatchOf(const QColor &c)
{
    QPixmap pm(15, 27);
    pm.fill(c);
    return pm;
}

} // namespace

SlicesCtrl::SlicesCtrl(const QString &dir, QWidget *parent)
    : QFrame(parent)
    , dataDir(dir)
    , nativeDialog(configInt(config.valueNoCase("native_dialog", "0")) == 1)
    , ui(std::make_unique<Ui::SlicesCtrl>())
    , datas(new SliceDatas)
    , loader(new QThread(this))
{
    ui->setupUi(this);
    ui->showB_->setToolTip(tr("Show the settings of this set again."));
    ui->showB2_->setToolTip(tr("Fold the settings of this set away."));
    ui->selectB_->setToolTip(
        tr("Choose the slice files of this set (CT image data files, pictures or float TIFF "
           "slices), or a folder of them."));
    ui->nameList_->setToolTip(tr("The slice files of this set, in slice order."));
    ui->rMinV_->setToolTip(tr("Smallest value of the set."));
    ui->rMaxV_->setToolTip(tr("Largest value of the set."));
    ui->minTh_->setToolTip(tr("Lower threshold: smaller values are not drawn."));
    ui->maxTh_->setToolTip(tr("Upper threshold: larger values are not drawn."));
    ui->minThPC_->setToolTip(tr("Lower threshold in per cent of the value range."));
    ui->maxThPC_->setToolTip(tr("Upper threshold in per cent of the value range."));
    ui->dispH_->setToolTip(tr("Histogram of the set's values: drag the red lines to set the "
                              "thresholds."));
    ui->showFrame_->setToolTip(tr("Draw the outline of the set's box."));
    ui->showVolume_->setToolTip(tr("Draw the set's volume."));
    ui->showCSection_->setToolTip(
        tr("Cut the volume at the plane of the slider and paint the cut in the section colour."));
    ui->cSlider_->setToolTip(tr("Position of the cutting plane across the set."));
    ui->csFixDir_->setToolTip(tr("Keep the direction of the cutting plane while the view turns."));
    ui->selVColor_->setToolTip(tr("Choose the colour of the volume."));
    ui->selSColor_->setToolTip(tr("Choose the colour of the cross section."));
    ui->alpha_->setToolTip(tr("Opacity of the set: 255 opaque, 0 invisible."));
    datas->moveToThread(loader);
    loader->start();

    connect(ui->showB_, &QPushButton::toggled, this, &SlicesCtrl::showHide);
    connect(ui->showB2_, &QPushButton::toggled, this, &SlicesCtrl::showHide);
    connect(ui->selectB_, &QPushButton::clicked, this, &SlicesCtrl::selectFiles);
    connect(datas, &SliceDatas::loadedNewFile, this, &SlicesCtrl::noticedLoadedNewFile);
    connect(datas, &SliceDatas::loadFilesFinished, this, &SlicesCtrl::noticedLoadFilesFinished);
    connect(datas, &SliceDatas::cleared, this, &SlicesCtrl::datasCleared);
    // What a folder gave is told where the loaded files are listed.
    connect(
        datas, &SliceDatas::foldersScanned, this, [this](int found, const QStringList &refused) {
            QString text
                = tr("%1 slice data files found, %2 refused").arg(found).arg(refused.size());
            if (!refused.isEmpty())
                text += u'\n' + refused.join(u'\n');
            ui->nameList_->setToolTip(text);
            if (!refused.isEmpty())
                emit notice(tr("3D view: %1 slice data files found, %2 refused (see the tool tip "
                               "of the file list), the first: %3")
                                .arg(found)
                                .arg(refused.size())
                                .arg(refused.first()));
        });
    connect(ui->minTh_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMinTh);
    connect(ui->maxTh_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMaxTh);
    connect(ui->minThPC_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMinThPC);
    connect(ui->maxThPC_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMaxThPC);
    connect(ui->dispH_, &ExLabel::draw, this, &SlicesCtrl::drawHist);
    connect(&ui->dispH_->m, &MouseC::mPressed, this, &SlicesCtrl::mousePressedOnDispH);
    connect(&ui->dispH_->m, &MouseC::mMoved, this, &SlicesCtrl::mouseMovedOnDispH);
    connect(&ui->dispH_->m, &MouseC::mReleased, this, &SlicesCtrl::mouseReleasedOnDispH);
    connect(ui->showVolume_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
    connect(ui->showCSection_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
    connect(ui->showFrame_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
    connect(ui->cSlider_, &QSlider::valueChanged, this, &SlicesCtrl::changedSliderStat);
    connect(ui->csFixDir_, &QCheckBox::toggled, this, &SlicesCtrl::changedSliderStat);
    connect(ui->selVColor_, &QPushButton::clicked, this, &SlicesCtrl::selectVColor);
    connect(ui->selSColor_, &QPushButton::clicked, this, &SlicesCtrl::selectSColor);
    connect(ui->alpha_, &QLineEdit::editingFinished, this, [this] {
        fixupAlpha();
        emit paintPImg();
    });

    setVColor(vColor);
    setSColor(sColor);
    showHide(true);
}

SlicesCtrl::~SlicesCtrl()
{
    datas->stopRequested = true;
    loader->quit();
    loader->wait();
    // The loading thread has ended, so nothing runs in the set any more.
    delete datas;
}

void SlicesCtrl::setVColor(QColor c)
{
    vColor = c;
    ui->dispVColor_->setPixmap(swatchOf(c));
}

void SlicesCtrl::setSColor(QColor c)
{
    sColor = c;
    ui->dispSColor_->setPixmap(swatchOf(c));
}

void SlicesCtrl::setSetNo(int n)
{
    const QString text = tr("Show Setup %1").arg(n);
    ui->showB_->setText(text);
    ui->showB2_->setText(text);
}

void SlicesCtrl::setAlpha(int a)
{
    ui->alpha_->setText(QString::number(a));
    fixupAlpha();
}

void SlicesCtrl::fixupAlpha()
{
    bool ok = false;
    int a = ui->alpha_->text().toInt(&ok);
    // Text that is no number counts as 0; it is shown as 0 so that the field tells the truth.
    if (!ok)
        ui->alpha_->setText("0");
    while (a < 0 || a > 255) {
        ui->alpha_->setText(a < 0 ? "0" : "255");
        a = ui->alpha_->text().toInt();
    }
}

double SlicesCtrl::rMin() const
{
    return numberIn(ui->rMinV_);
}

double SlicesCtrl::rMax() const
{
    return numberIn(ui->rMaxV_);
}

double SlicesCtrl::minTh() const
{
    return numberIn(ui->minTh_);
}

double SlicesCtrl::maxTh() const
{
    return numberIn(ui->maxTh_);
}

double SlicesCtrl::minPC() const
{
    return numberIn(ui->minThPC_);
}

double SlicesCtrl::maxPC() const
{
    return numberIn(ui->maxThPC_);
}

int SlicesCtrl::alpha() const
{
    return std::clamp(ui->alpha_->text().toInt(), 0, 255);
}

bool SlicesCtrl::showFrame() const
{
    return ui->showFrame_->isChecked();
}

bool SlicesCtrl::showVolume() const
{
    return ui->showVolume_->isChecked();
}

bool SlicesCtrl::showCSection() const
{
    return ui->showCSection_->isChecked();
}

bool SlicesCtrl::csFixDir() const
{
    return ui->csFixDir_->isChecked();
}

int SlicesCtrl::cSliderValue() const
{
    return ui->cSlider_->value();
}

void SlicesCtrl::setCSliderValue(int v)
{
    ui->cSlider_->setValue(v);
}

void SlicesCtrl::setCsFixDir(bool f)
{
    ui->csFixDir_->setChecked(f);
}

bool SlicesCtrl::percentOf(double value, double &pc) const
{
    const double span = rMax() - rMin();
    if (span == 0.0 || !std::isfinite(span))
        return false;
    pc = (value - rMin()) / span * 100.0;
    return true;
}

void SlicesCtrl::setMinThPC(double x, bool quiet)
{
    writeNumber(ui->minThPC_, x);
    if (!quiet)
        setMinTh(valueOfPercent(x), true);
    emit paintPImg();
    ui->dispH_->update();
}

void SlicesCtrl::setMinTh(double x, bool quiet)
{
    writeNumber(ui->minTh_, x);
    double pc;
    if (!quiet && percentOf(minTh(), pc))
        setMinThPC(pc, true);
    emit paintPImg();
    ui->dispH_->update();
}

void SlicesCtrl::setMaxThPC(double x, bool quiet)
{
    writeNumber(ui->maxThPC_, x);
    if (!quiet)
        setMaxTh(valueOfPercent(x), true);
    emit paintPImg();
    ui->dispH_->update();
}

void SlicesCtrl::setMaxTh(double x, bool quiet)
{
    writeNumber(ui->maxTh_, x);
    double pc;
    if (!quiet && percentOf(maxTh(), pc))
        setMaxThPC(pc, true);
    emit paintPImg();
    ui->dispH_->update();
}

void SlicesCtrl::updatedMinThPC()
{
    setMinTh(valueOfPercent(minPC()), true);
}

void SlicesCtrl::updatedMaxThPC()
{
    setMaxTh(valueOfPercent(maxPC()), true);
}

void SlicesCtrl::updatedMinTh()
{
    double pc;
    if (percentOf(minTh(), pc))
        setMinThPC(pc, true);
}

void SlicesCtrl::updatedMaxTh()
{
    double pc;
    if (percentOf(maxTh(), pc))
        setMaxThPC(pc, true);
}

void SlicesCtrl::showHide(bool f)
{
    {
        const QSignalBlocker b1(ui->showB_);
        const QSignalBlocker b2(ui->showB2_);
        ui->showB_->setChecked(f);
        ui->showB2_->setChecked(f);
    }
    ui->showB_->setVisible(!ui->showB_->isChecked());
    ui->slicesCtrlFrame_->setVisible(ui->showB_->isChecked());
}

namespace {

// The file dialog of "Select": besides files it takes a folder, the one selected or, with
// nothing selected, the one shown, when "Open" is pressed (a double click still enters it).
class FilesOrFolderDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (chosen.size() == 1 && QFileInfo(chosen.first()).isDir()) {
            emit filesSelected(chosen);
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

} // namespace

void SlicesCtrl::selectFiles()
{
    if (fileDialog) {
        dataDir = fileDialog->directory().absolutePath();
        fileDialog->deleteLater();
    }
    fileDialog = new FilesOrFolderDialog(
        this, tr("Select Data Files"), Places::dialogFolder("sliceFiles", dataDir));
    fileDialog->setFileMode(QFileDialog::ExistingFiles);
    fileDialog->setNameFilters({ tr("Data Files (*.dat *.png)"),
        tr("Float TIFF Slices (*.tif *.tiff)"), tr("Any Files (* *.*)") });
    fileDialog->setOption(QFileDialog::DontUseNativeDialog, !nativeDialog);
    fileDialog->setModal(false);
    // Queued to the loading thread: the set reads the files there.
    connect(fileDialog, &QFileDialog::filesSelected, datas, &SliceDatas::filesSelected);
    connect(fileDialog, &QFileDialog::filesSelected, this, [](const QStringList &files) {
        if (!files.isEmpty())
            Places::rememberDialogFolder("sliceFiles", files.first());
    });
    fileDialog->show();
}

void SlicesCtrl::selectVColor()
{
    if (vColorDialog)
        vColorDialog->deleteLater();
    vColorDialog = new QColorDialog(vColor, this);
    vColorDialog->setWindowTitle(tr("Select Volume Color"));
    QColorDialog *dlg = vColorDialog;
    connect(dlg, &QColorDialog::colorSelected, this, [this, dlg] {
        setVColor(dlg->selectedColor());
        emit paintPImg();
    });
    dlg->show();
}

void SlicesCtrl::selectSColor()
{
    if (sColorDialog)
        sColorDialog->deleteLater();
    sColorDialog = new QColorDialog(sColor, this);
    sColorDialog->setWindowTitle(tr("Select Section Color"));
    QColorDialog *dlg = sColorDialog;
    connect(dlg, &QColorDialog::colorSelected, this, [this, dlg] {
        setSColor(dlg->selectedColor());
        emit paintPImg();
    });
    dlg->show();
}

void SlicesCtrl::noticedLoadedNewFile(QString fname)
{
    ui->nameList_->addItem(fname);
}

void SlicesCtrl::noticedLoadFilesFinished()
{
    const auto set = datas->current();
    // An empty set has no range to show (its bounds are the extreme doubles); the fields
    // keep the last range instead of turning into numbers no one can use.
    if (set->loaded) {
        writeNumber(ui->rMinV_, set->vMin);
        writeNumber(ui->rMaxV_, set->vMax);
        setMinTh(valueOfPercent(minPC()), false);
        setMaxTh(valueOfPercent(maxPC()), false);
    }
    ui->dispH_->update();
    emit paintPImg();
}

void SlicesCtrl::datasCleared()
{
    ui->nameList_->clear();
    ui->nameList_->setToolTip(QString());
}

void SlicesCtrl::mapHistogram()
{
    ExLabel *h = ui->dispH_;
    h->cc.setScreen(0, h->height(), h->width(), 0);
    h->cc.setReal(0, 0, 101, 1);
}

void SlicesCtrl::drawHist(QPainter *p)
{
    const int w = ui->dispH_->width();
    const int h = ui->dispH_->height();
    p->fillRect(0, 0, w, h, Qt::white);
    // Held while drawing: a load that publishes a new set meanwhile does not free this one.
    const auto set = datas->current();
    if (!set->histReady)
        return;
    mapHistogram();
    p->drawImage(QRect(0, 0, w, h), set->histImg,
        QRect(0, 0, SliceDatas::histBins - 1, SliceDatas::histH - 1));
    p->setPen(Qt::red);
    for (const double pc : { minPC(), maxPC() }) {
        // A per cent value typed far outside 0 ... 100 must not overflow the conversion; its
        // marker is off the display either way.
        const double sx = ui->dispH_->cc.toSx(pc);
        if (sx >= -1.0 && sx <= w + 1.0)
            p->drawLine(int(sx), 0, int(sx), h);
    }
}

double SlicesCtrl::pointerPercent()
{
    mapHistogram();
    return ui->dispH_->cc.toRx(ui->dispH_->m.pos.x());
}

void SlicesCtrl::mousePressedOnDispH()
{
    const MouseC &m = ui->dispH_->m;
    if (m.pressStat() != MouseC::Left)
        return;
    const double x = pointerPercent();
    grabbed = std::abs(maxPC() - x) <= std::abs(minPC() - x) ? 1 : 0;
}

void SlicesCtrl::mouseMovedOnDispH()
{
    const MouseC &m = ui->dispH_->m;
    if (!(m.pressed && m.pressLeft))
        return;
    const double x = pointerPercent();
    if (grabbed == 0)
        setMinThPC(x, false);
    else if (grabbed == 1)
        setMaxThPC(x, false);
    emit paintPImg();
}

void SlicesCtrl::mouseReleasedOnDispH()
{
    grabbed = -1;
}

void SlicesCtrl::initNz(Vec3 nz)
{
    csNormal = nz;
}

void SlicesCtrl::newNz(Vec3 nz)
{
    if (!csFixDir())
        csNormal = nz;
}
