#include "Sinogram.h"

#include "ColorBar.h"
#include "Config.h"
#include "CorSearch.h"
#include "FourierSinogram.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "ImgDispWPV.h"
#include "ProcCtrl.h"
#include "RowWindow.h"
#include "TextUtil.h"
#include "ui_Sinogram.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Larger pictures (a tiny angular range makes the half turn absurdly many images long)
// are refused rather than allocated.
constexpr long long MaxPicturePixels = 1LL << 28;

// Row of a picture: the same grey levels right to left.
void mirrorRow(const uchar *src, int width, uchar *dst)
{
    std::reverse_copy(src, src + width, dst);
}

// Line `line` (length d) sampled at cor - d + j for j = 0 ... 2d - 1, 0 outside the line.
// `padded` (d + 2 values) holds the line between two zeros, so that the interpolation
// between floor(p) and floor(p) + 1 needs no test per sample.
void sampleAroundCor(const double *line, int d, double cor, double *padded, double *out)
{
    const int width = 2 * d;
    std::fill(out, out + width, 0.0);
    if (!std::isfinite(cor) || std::abs(cor) > 4.0 * d + 4.0)
        return;
    padded[0] = 0.0;
    std::copy(line, line + d, padded + 1);
    padded[d + 1] = 0.0;
    const double base = std::floor(cor);
    const double frac = cor - base;
    // Sample j interpolates between k = base - d + j and k + 1; only -1 <= k <= d - 1 can
    // touch the line.
    const long long k0 = static_cast<long long>(base) - d;
    const long long jFrom = std::max(0LL, -1 - k0);
    const long long jTo = std::min(static_cast<long long>(width) - 1, d - 1 - k0);
    for (long long j = jFrom; j <= jTo; ++j) {
        const double y0 = padded[k0 + j + 1];
        const double y1 = padded[k0 + j + 2];
        out[j] = y0 + frac * (y1 - y0);
    }
}

} // namespace

Sinogram::Sinogram(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::Sinogram>())
{
    ui->setupUi(this);
    ui->DispFouS->setVisible(ui->GenFouS->isChecked());
    sgmMin = std::numeric_limits<double>::max();
    sgmMax = -std::numeric_limits<double>::max();

    connect(ui->GenFouS, &QCheckBox::toggled, ui->DispFouS, &QWidget::setVisible);
    // In the default picture mode nothing else would ever draw the Fourier picture: make it
    // when the box is checked.
    connect(ui->GenFouS, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            genFouSImage();
    });
    connect(ui->DispSinogram, &ImgDispWPV::newPosInvY, this, &Sinogram::newPos);
    connect(ui->DispSinogram, &ImgDispWCBar::newBar, this, &Sinogram::genImage);
    connect(ui->Cor, &QLineEdit::editingFinished, this, &Sinogram::corEditingFinished);
    connect(ui->GuessCor, &QPushButton::clicked, this, &Sinogram::guessCor);
    // A user pressing "Gen Image" expects a fresh picture of fresh data.
    connect(ui->GenImg, &QPushButton::clicked, this, &Sinogram::genSgmImage);
}

Sinogram::~Sinogram() = default;

ImgDispWPV *Sinogram::sinogramDisplay() const
{
    return ui->DispSinogram;
}

ImgDispWPV *Sinogram::fourierDisplay() const
{
    return ui->DispFouS;
}

void Sinogram::setProcCtrl(ProcCtrl *p)
{
    if (procCtrl != nullptr)
        disconnect(procCtrl, nullptr, this, nullptr);
    procCtrl = p;
    if (procCtrl == nullptr)
        return;
    connect(procCtrl, &ProcCtrl::sliceNoUpdated, this, &Sinogram::sliceNoUpdated);
    connect(procCtrl, &ProcCtrl::corUpdated, this, &Sinogram::corUpdated);
    connect(procCtrl, &ProcCtrl::rotAxUpdated, this, &Sinogram::rotAxUpdated);
    connect(
        procCtrl, &ProcCtrl::usePartialDataSetUpdated, this, &Sinogram::usePartialDataSetUpdated);
    connect(procCtrl, &ProcCtrl::autoUpdateUpdated, this, &Sinogram::autoUpdateUpdated);
    connect(procCtrl, &ProcCtrl::angleOriginUpdated, this, &Sinogram::angleOriginUpdated);
    connect(procCtrl, &ProcCtrl::dataSetRangeUpdated, this, &Sinogram::dataSetRangeUpdated);
    connect(
        procCtrl, &ProcCtrl::dataSetUsingImagesUpdated, this, &Sinogram::dataSetUsingImagesUpdated);
    connect(procCtrl, &ProcCtrl::dataSetStartImageNoUpdated, this,
        &Sinogram::dataSetStartImageNoUpdated);
}

void Sinogram::regenerate()
{
    if (procCtrl == nullptr)
        return;
    genSinogram();
    genImage();
}

PartialDataSet Sinogram::partialSettings() const
{
    if (procCtrl == nullptr)
        return PartialDataSet {};
    // On the panel's own thread its fields are read directly: the panel refreshes its guarded
    // copy only after the partial-set signal has already made this panel regenerate.
    if (QThread::currentThread() == procCtrl->thread())
        return PartialDataSet { procCtrl->usePartialDataSet(), procCtrl->dataSetStartImageNo(),
            procCtrl->dataSetUsingImages() };
    // Worker threads must not touch widgets: they read the guarded copy.
    return procCtrl->partialDataSet();
}

int Sinogram::imagesPerHalfTurn() const
{
    const int count = imgDatas != nullptr ? imgDatas->count() : 0;
    const double range = procCtrl != nullptr ? procCtrl->dataSetRangeDeg() : 180.0;
    if (count <= 0 || !(range > 0.0))
        return 0;
    const double e = count * 180.0 / range;
    if (!(e < static_cast<double>(std::numeric_limits<int>::max() / 2)))
        return 0;
    return static_cast<int>(e);
}

bool Sinogram::pictureFits(long long width, long long height) const
{
    if (width <= 0 || height <= 0)
        return false;
    if (width * height > MaxPicturePixels) {
        logLine("Sinogram picture too large to draw:", QString("%1 x %2").arg(width).arg(height));
        return false;
    }
    return true;
}

void Sinogram::scanRawRange()
{
    sgmMin = std::numeric_limits<double>::max();
    sgmMax = -std::numeric_limits<double>::max();
    if (hSgm.hasData()) {
        const long long total = static_cast<long long>(hSgm.w) * hSgm.h;
        const double *raw = hSgm.rawSgm.get();
        double lo = sgmMin;
        double hi = sgmMax;
        for (long long k = 0; k < total; ++k) {
            const double v = raw[k];
            // A value that is not a number would make the whole range useless.
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        sgmMin = lo;
        sgmMax = hi;
    }
    ColorBar *bar = ui->DispSinogram->colorBar();
    if (!bar->fixedScale() && sgmMin <= sgmMax) {
        bar->setMinV(sgmMin);
        bar->setMaxV(sgmMax);
    }
}

void Sinogram::showPicture(const QImage &picture)
{
    ui->DispSinogram->img = picture;
    ui->DispSinogram->newImage();
}

void Sinogram::newPos(double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y) || std::abs(x) > 1e9 || std::abs(y) > 1e9)
        return;
    const int ix = static_cast<int>(x);
    const int iy = static_cast<int>(y);
    // The value is the one drawn under the pointer: rows of the lower half show their
    // projection mirrored, so the column is mirrored too.
    if (shown.mode == 1) {
        if (!hSgm.hasData() || shown.width != hSgm.w)
            return;
        const int rows = std::min(shown.e, hSgm.h);
        if (ix < 0 || ix >= hSgm.w || iy < 0 || iy >= 2 * shown.e)
            return;
        const bool lower = iy >= shown.e;
        const int r = lower ? iy - shown.e : iy;
        if (r >= rows)
            return;
        ui->DispSinogram->setVal(hSgm.rawRow(r)[lower ? hSgm.w - 1 - ix : ix]);
    } else if (shown.mode == 2) {
        if (imgDatas == nullptr || imgDatas->count() <= 0)
            return;
        if (ix < 0 || ix >= shown.width || iy < 0 || iy >= 2 * shown.e)
            return;
        const ImgDatasLines lines(*imgDatas, shown.rotAxIsV);
        const int d = lines.lineLength();
        if (2 * d != shown.width)
            return;
        const bool lower = iy >= shown.e;
        const int r = lower ? iy - shown.e : iy;
        const int count = lines.imageCount();
        const int image
            = static_cast<int>((static_cast<long long>(shown.selection.first) + r) % count);
        std::vector<double> line(d);
        lines.readProjection(image, shown.slice, line.data());
        const int j = lower ? shown.width - 1 - ix : ix;
        ui->DispSinogram->setVal(sampleLine(line.data(), d, shown.cor - d + j));
    }
}

void Sinogram::corUpdated()
{
    if (procCtrl != nullptr)
        ui->Cor->setText(QString::number(procCtrl->cor(), 'g', 6));
    regenerate();
}

void Sinogram::autoUpdateUpdated()
{
    regenerate();
}

void Sinogram::sliceNoUpdated()
{
    regenerate();
}

void Sinogram::rotAxUpdated()
{
    regenerate();
}

void Sinogram::angleOriginUpdated()
{
    genImage();
}

void Sinogram::dataSetRangeUpdated()
{
    regenerate();
    // The picture's height follows the range: show the whole new picture.
    ui->DispSinogram->resetScale();
}

void Sinogram::usePartialDataSetUpdated()
{
    regenerate();
}

void Sinogram::dataSetUsingImagesUpdated()
{
    regenerate();
}

void Sinogram::dataSetStartImageNoUpdated()
{
    regenerate();
}

void Sinogram::corEditingFinished()
{
    if (procCtrl == nullptr)
        return;
    bool ok = false;
    const double v = ui->Cor->text().trimmed().toDouble(&ok);
    // The panel signals only a real change, so re-entering the same CoR rebuilds nothing.
    procCtrl->setCor(ok ? v : 0.0);
}

void Sinogram::guessCor()
{
    // The guess goes to the process control panel; without one it has nowhere to go.
    if (procCtrl == nullptr || imgDatas == nullptr)
        return;
    const ImgDatasLines lines(*imgDatas, procCtrl->rotAxIsV());
    const PartialDataSet partial = partialSettings();
    const ProjectionSelection sel = selectProjections(
        lines.imageCount(), partial.enabled, partial.startImageNo, partial.usingImages);
    bool ok = false;
    const double fraction = ui->GuessParam->text().trimmed().toDouble(&ok);
    double found = 0.0;
    if (!guessCorOnLines(lines, procCtrl->slice(), sel.first, procCtrl->dataSetRangeDeg(),
            procCtrl->cor(), ok ? fraction : 0.0, &found))
        return;
    procCtrl->setCor(found);
}

void Sinogram::genSinogram0(HSgm *hSgm, bool rotAxIsV, double cor, int slice)
{
    // Runs on worker threads too: it reads only the image set (not changed while a run
    // uses it) and the panel's guarded partial-data-set copy, and writes only `hSgm`.
    genSinogramWith(hSgm, rotAxIsV, cor, slice, partialSettings());
}

void Sinogram::genSinogramWith(
    HSgm *hSgm, bool rotAxIsV, double cor, int slice, const PartialDataSet &partial) const
{
    // Safe on any thread: reads only the image set, writes only `hSgm`.
    if (hSgm == nullptr || imgDatas == nullptr)
        return;
    buildSinogram(*hSgm, *imgDatas, partial, rotAxIsV, cor, slice);
}

void Sinogram::genSinogram()
{
    if (procCtrl == nullptr)
        return;
    genSinogram0(&hSgm, procCtrl->rotAxIsV(), procCtrl->cor(), procCtrl->slice());
}

void Sinogram::genImage()
{
    if (sgmImageMode == 2)
        genImage2();
    else
        genImage1();
}

void Sinogram::genImage1()
{
    scanRawRange();
    const int e = imagesPerHalfTurn();
    if (!hSgm.hasData() || !pictureFits(hSgm.w, 2LL * e))
        return;
    const int w = hSgm.w;
    QImage picture(w, 2 * e, QImage::Format_Grayscale8);
    if (picture.isNull())
        return;
    // Rows without sinogram data stay black.
    picture.fill(0);
    const GreyLevelMap map = ui->DispSinogram->colorBar()->greyMap();
    const int rows = std::min(e, hSgm.h);
    for (int r = 0; r < rows; ++r) {
        uchar *top = picture.scanLine(r);
        map.fillRow(hSgm.rawRow(r), w, top);
        mirrorRow(top, w, picture.scanLine(e + r));
    }
    shown = Shown { 1, e, w, {}, false, 0.0, hSgm.slice };
    showPicture(picture);
    genFouSImage();
}

void Sinogram::genImage2()
{
    scanRawRange();
    if (imgDatas == nullptr)
        return;
    const bool rotAxIsV = procCtrl != nullptr ? procCtrl->rotAxIsV() : false;
    const double cor = procCtrl != nullptr ? procCtrl->cor() : 0.0;
    const int slice = procCtrl != nullptr ? procCtrl->slice() : hSgm.slice;
    const ImgDatasLines lines(*imgDatas, rotAxIsV);
    const int d = lines.lineLength();
    const int count = lines.imageCount();
    const int e = imagesPerHalfTurn();
    if (d <= 0 || count <= 0 || !pictureFits(2LL * d, 2LL * e))
        return;
    const int width = 2 * d;
    QImage picture(width, 2 * e, QImage::Format_Grayscale8);
    if (picture.isNull())
        return;
    const PartialDataSet partial = partialSettings();
    const ProjectionSelection sel
        = selectProjections(count, partial.enabled, partial.startImageNo, partial.usingImages);
    const GreyLevelMap map = ui->DispSinogram->colorBar()->greyMap();
    // Buffers for the whole picture: each detector line is read once into them.
    std::vector<double> line(d), padded(d + 2), values(width);
    for (int r = 0; r < e; ++r) {
        const int image = static_cast<int>((static_cast<long long>(sel.first) + r) % count);
        lines.readProjection(image, slice, line.data());
        sampleAroundCor(line.data(), d, cor, padded.data(), values.data());
        uchar *top = picture.scanLine(r);
        map.fillRow(values.data(), width, top);
        mirrorRow(top, width, picture.scanLine(e + r));
    }
    shown = Shown { 2, e, width, sel, rotAxIsV, cor, slice };
    showPicture(picture);
    // Keeps a Fourier picture on show in step with the sinogram it belongs to.
    genFouSImage();
}

void Sinogram::genSgmImage()
{
    regenerate();
}

void Sinogram::genFouSImage()
{
    if (!ui->GenFouS->isChecked() || !hSgm.hasData())
        return;
    const int w = hSgm.w;
    const int h = hSgm.h;
    if (!pictureFits(w, 2LL * h))
        return;
    // Plans are made here, on the GUI thread, under the program's planner lock.
    const std::vector<double> magnitude = fourierSinogram(hSgm.rawSgm.get(), w, h);
    if (magnitude.empty())
        return;
    ColorBar *bar = ui->DispFouS->colorBar();
    if (!bar->fixedScale()) {
        bar->setMinV(-10.0);
        bar->setMaxV(10.0);
    }
    // The zero frequency stays at the top-left corner.
    ui->DispFouS->img = bar->greyMap().greyImage(magnitude.data(), w, 2 * h);
    ui->DispFouS->newImage();
}

void Sinogram::setGenFouS(bool f)
{
    ui->GenFouS->setChecked(f);
}
