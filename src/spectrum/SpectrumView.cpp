#include "SpectrumView.h"

#include "ColorBar.h"
#include "DispB.h"
#include "ImgDispWCBar.h"
#include "LinearCombination.h"
#include "MapsRun.h"
#include "Places.h"
#include "ui_SpectrumView.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QThread>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

SpectrumView::SpectrumView(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SpectrumView>())
{
    ui->setupUi(this);
    loadButton_ = ui->LoadStack;
    mapsButton_ = ui->MakeMaps;
    madeButton_ = ui->LoadMadeStack;
    fileLabel_ = ui->FileLabel;
    sliceBox_ = ui->SliceBox;
    showBox_ = ui->ShowBox;
    energyBox_ = ui->EnergyBox;
    normBox_ = ui->Normalised;
    regionButton_ = ui->RegionMean;
    pinButton_ = ui->Pin;
    clearButton_ = ui->ClearPins;
    exportButton_ = ui->ExportCsv;
    readout_ = ui->Readout;
    edgeLabel_ = ui->EdgeLabel;
    disp_ = ui->Disp;
    chartView_ = ui->ChartView;
    // The colour bar belongs to the display, which makes it: placed under the image.
    ui->ImageLayout->insertWidget(1, disp_->colorBar()->uiBase());
    // The view made by the form owns a chart already; setting another would orphan it.
    chart_ = chartView_->chart();
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chartView_->setRenderHint(QPainter::Antialiasing);

    connect(loadButton_, &QPushButton::clicked, this, &SpectrumView::onLoadClicked);
    connect(mapsButton_, &QPushButton::clicked, this, &SpectrumView::onMapsClicked);
    connect(madeButton_, &QPushButton::clicked, this, &SpectrumView::onMadeClicked);
    connect(exportButton_, &QPushButton::clicked, this, &SpectrumView::onExportClicked);
    connect(regionButton_, &QPushButton::clicked, this, &SpectrumView::onRegionClicked);
    connect(pinButton_, &QPushButton::clicked, this, &SpectrumView::pinCurrent);
    connect(clearButton_, &QPushButton::clicked, this, &SpectrumView::clearPins);
    connect(normBox_, &QCheckBox::toggled, this, [this] { plot(); });
    connect(sliceBox_, &QSpinBox::valueChanged, this, &SpectrumView::showImage);
    connect(energyBox_, &QSpinBox::valueChanged, this, &SpectrumView::showImage);
    connect(showBox_, &QComboBox::currentIndexChanged, this, &SpectrumView::showImage);
    connect(disp_, &ImgDisp::selectedAPoint, this,
        [this](double x, double y, MouseC::MStat st) { onPointSelected(x, y, int(st)); });
    connect(disp_, &ImgDisp::newPos, this, &SpectrumView::onPos);
    connect(disp_->colorBar(), &ColorBar::newBar, this, &SpectrumView::redrawImage);
}

SpectrumView::~SpectrumView()
{
    // Maps being made are finished: their file is not left half written.
    if (mapsThread_) {
        mapsThread_->wait();
        delete mapsThread_;
    }
}

int SpectrumView::slice() const
{
    return sliceBox_->value();
}

bool SpectrumView::loadStack(const QString &path)
{
    if (!reader_.open(path)) {
        error_ = reader_.error();
        fileLabel_->setText(tr("No stack"));
        return false;
    }
    mapsPath_.clear();
    mapNames_.clear();
    pinned_.clear();
    refreshAnalyser();
    if (!refPaths_.isEmpty() && !loadReferences(refPaths_))
        refPaths_.clear();
    fileLabel_->setText(QStringLiteral("%1  (%2 energies %3-%4 eV, %5 x %6 x %7)")
                            .arg(QFileInfo(path).fileName())
                            .arg(reader_.energyCount())
                            .arg(reader_.energies().front(), 0, 'f', 1)
                            .arg(reader_.energies().back(), 0, 'f', 1)
                            .arg(reader_.slices())
                            .arg(reader_.rows())
                            .arg(reader_.columns()));
    {
        const QSignalBlocker b1(sliceBox_), b2(energyBox_), b3(showBox_);
        sliceBox_->setRange(0, int(reader_.slices()) - 1);
        sliceBox_->setValue(int(reader_.slices() / 2));
        energyBox_->setRange(0, int(reader_.energyCount()) - 1);
        energyBox_->setValue(int(reader_.energyCount()) - 1);
        showBox_->clear();
        showBox_->addItem(tr("Energy image"), QString());
    }
    showImage();
    return showVoxel(slice(), int(reader_.rows() / 2), int(reader_.columns() / 2));
}

void SpectrumView::refreshAnalyser()
{
    SpectrumEdge::Params p;
    std::vector<double> mean;
    const std::size_t mid = reader_.slices() / 2;
    if (reader_.readMeanSpectrum(mid, mid + 1, 0, reader_.rows(), 0, reader_.columns(), mean)) {
        std::vector<double> work(2 * mean.size());
        SpectrumEdge::defaultRanges(reader_.energies(),
            SpectrumEdge::edgeEnergy(reader_.energies(), mean.data(), p.smoothing, work.data()), p);
    }
    analyser_ = std::make_unique<SpectrumEdge>(reader_.energies(), p);
}

bool SpectrumView::loadReferences(const QStringList &paths)
{
    std::vector<LinearCombination::Reference> refs;
    QStringList names;
    for (const QString &path : paths) {
        LinearCombination::Reference r;
        if (!LinearCombination::readReference(path, r, &error_))
            return false;
        names << r.name;
        refs.push_back(std::move(r));
    }
    refPaths_ = paths;
    refNames_ = names;
    lcf_.reset();
    if (!refs.empty() && reader_.isOpen()) {
        lcf_ = std::make_unique<LinearCombination>(reader_.energies(), refs, true,
            -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity());
        if (!lcf_->valid()) {
            error_ = lcf_->error();
            lcf_.reset();
            return false;
        }
    }
    return true;
}

bool SpectrumView::makeMaps(const QString &outPath, const QStringList &references)
{
    if (!reader_.isOpen()) {
        error_ = QStringLiteral("no stack loaded for %1").arg(outPath);
        return false;
    }
    if (!loadReferences(references))
        return false;
    MapsOptions o;
    o.stackPath = reader_.path();
    o.outPath = outPath;
    o.references = references;
    o.sumToOne = !references.isEmpty();
    MapsReport report;
    if (!MapsRun::run(o, report, error_))
        return false;
    return loadMaps(outPath);
}

bool SpectrumView::startMaps(const QString &outPath, const QStringList &references)
{
    if (mapsThread_) {
        error_ = QStringLiteral("maps are being made already; %1 is not made").arg(outPath);
        return false;
    }
    if (!reader_.isOpen()) {
        error_ = QStringLiteral("no stack loaded for %1").arg(outPath);
        return false;
    }
    if (!loadReferences(references))
        return false;
    MapsOptions o;
    o.stackPath = reader_.path();
    o.outPath = outPath;
    o.references = references;
    o.sumToOne = !references.isEmpty();
    mapsButton_->setEnabled(false);
    fileLabel_->setText(tr("Making the maps %1 ...").arg(QFileInfo(outPath).fileName()));
    // The thread reads the stack through a reader of its own (HDF5 is built thread-safe) and
    // hands its outcome back queued; the destructor waits for it.
    mapsThread_ = QThread::create([this, o] {
        MapsReport report;
        QString error;
        const bool ok = MapsRun::run(o, report, error);
        QMetaObject::invokeMethod(
            this,
            [this, ok, error, out = o.outPath] {
                mapsThread_->wait();
                delete mapsThread_;
                mapsThread_ = nullptr;
                mapsButton_->setEnabled(true);
                bool shown = ok;
                if (ok)
                    shown = loadMaps(out);
                else
                    error_ = error;
                if (!shown)
                    fileLabel_->setText(error_);
                emit mapsFinished(shown);
            },
            Qt::QueuedConnection);
    });
    mapsThread_->setObjectName("Maps");
    mapsThread_->start();
    return true;
}

bool SpectrumView::showSliceVoxel(int sliceNumber, int row, int column)
{
    const std::vector<int> &numbers = reader_.sliceNumbers();
    const auto it = std::find(numbers.begin(), numbers.end(), sliceNumber);
    if (!reader_.isOpen() || it == numbers.end()) {
        error_ = QStringLiteral("no slice %1 in %2").arg(sliceNumber).arg(reader_.path());
        return false;
    }
    return showVoxel(int(it - numbers.begin()), row, column);
}

void SpectrumView::offerStack(const QString &path)
{
    offered_ = path;
    madeButton_->setEnabled(true);
    madeButton_->setToolTip(path);
}

void SpectrumView::onMadeClicked()
{
    if (!offered_.isEmpty() && !loadStack(offered_))
        fileLabel_->setText(error_);
}

bool SpectrumView::loadMaps(const QString &path)
{
    const QStringList names = MapsRun::mapsIn(path);
    if (names.isEmpty()) {
        error_ = QStringLiteral("%1: no maps").arg(path);
        return false;
    }
    mapsPath_ = path;
    mapNames_ = names;
    {
        const QSignalBlocker b(showBox_);
        while (showBox_->count() > 1)
            showBox_->removeItem(1);
        for (const QString &n : names)
            showBox_->addItem(n, n);
        const int i = showBox_->findData(
            names.filter(QStringLiteral("fraction_")).value(0, QStringLiteral("edge_step")));
        showBox_->setCurrentIndex(std::max(0, i));
    }
    showImage();
    return true;
}

void SpectrumView::showImage()
{
    if (!reader_.isOpen())
        return;
    const QString map = showBox_->currentData().toString();
    energyBox_->setEnabled(map.isEmpty());
    std::size_t rows = reader_.rows(), cols = reader_.columns();
    if (map.isEmpty()) {
        image_.resize(rows * cols);
        if (!reader_.readImage(
                std::size_t(energyBox_->value()), std::size_t(slice()), image_.data()))
            return;
    } else if (!MapsRun::readMapSlice(mapsPath_, map, std::size_t(slice()), image_, rows, cols)) {
        return;
    }
    imageRows_ = int(rows);
    imageCols_ = int(cols);
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (float v : image_)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    ColorBar *bar = disp_->colorBar();
    if (!bar->fixedScale() && lo <= hi) {
        const QSignalBlocker b(bar);
        bar->setMinV(lo);
        bar->setMaxV(hi > lo ? hi : lo + 1);
    }
    redrawImage();
}

void SpectrumView::redrawImage()
{
    if (imageRows_ <= 0 || imageCols_ <= 0)
        return;
    QImage img(imageCols_, imageRows_, QImage::Format_RGB32);
    const GreyLevelMap map = disp_->colorBar()->greyMap();
    for (int r = 0; r < imageRows_; ++r) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(r));
        const float *src = image_.data() + std::size_t(r) * std::size_t(imageCols_);
        for (int c = 0; c < imageCols_; ++c) {
            // Voxels without a value (no edge) in a dark blue, apart from every grey.
            if (!std::isfinite(src[c])) {
                line[c] = qRgb(0, 0, 80);
                continue;
            }
            const int g = map.level(src[c]);
            line[c] = qRgb(g, g, g);
        }
    }
    disp_->img = img;
    disp_->newImage();
}

void SpectrumView::onPos(int ix, int iy)
{
    if (ix < 0 || iy < 0 || ix >= imageCols_ || iy >= imageRows_)
        return;
    const float v = image_[std::size_t(iy) * std::size_t(imageCols_) + std::size_t(ix)];
    readout_->setText(tr("row %1  column %2  value %3")
                          .arg(iy)
                          .arg(ix)
                          .arg(std::isfinite(v) ? QString::number(v, 'g', 6) : tr("none")));
}

void SpectrumView::onPointSelected(double x, double y, int stat)
{
    if (stat != MouseC::Left)
        return;
    const int c = int(std::floor(x)), r = int(std::floor(y));
    if (r >= 0 && c >= 0 && r < imageRows_ && c < imageCols_)
        showVoxel(slice(), r, c);
}

void SpectrumView::onRegionClicked()
{
    if (!disp_->selValid)
        return;
    const QRectF s = disp_->sel.normalized();
    showRegion(slice(), int(std::floor(s.top())), int(std::ceil(s.bottom())),
        int(std::floor(s.left())), int(std::ceil(s.right())));
}

bool SpectrumView::showVoxel(int slice, int row, int column)
{
    if (!reader_.isOpen() || slice < 0 || row < 0 || column < 0
        || std::size_t(slice) >= reader_.slices() || std::size_t(row) >= reader_.rows()
        || std::size_t(column) >= reader_.columns()) {
        error_ = QStringLiteral("no voxel %1 %2 %3 in %4")
                     .arg(slice)
                     .arg(row)
                     .arg(column)
                     .arg(reader_.path());
        return false;
    }
    std::vector<float> mu(reader_.energyCount());
    if (!reader_.readSpectrum(
            std::size_t(slice), std::size_t(row), std::size_t(column), mu.data())) {
        error_ = reader_.error();
        return false;
    }
    if (sliceBox_->value() != slice)
        sliceBox_->setValue(slice);
    current_
        = SpectrumCurves::make(QStringLiteral("voxel %1 %2 %3").arg(slice).arg(row).arg(column),
            std::vector<double>(mu.begin(), mu.end()), *analyser_, lcf_.get(), refNames_);
    plot();
    emit spectrumShown(current_.label);
    return true;
}

bool SpectrumView::showRegion(int slice, int row0, int row1, int column0, int column1)
{
    std::vector<double> mean;
    if (!reader_.isOpen() || slice < 0
        || !reader_.readMeanSpectrum(std::size_t(slice), std::size_t(slice) + 1,
            std::size_t(std::max(0, row0)), std::size_t(std::max(0, row1)),
            std::size_t(std::max(0, column0)), std::size_t(std::max(0, column1)), mean)) {
        error_ = QStringLiteral("no region %1 %2:%3 %4:%5 in %6")
                     .arg(slice)
                     .arg(row0)
                     .arg(row1)
                     .arg(column0)
                     .arg(column1)
                     .arg(reader_.path());
        return false;
    }
    current_ = SpectrumCurves::make(QStringLiteral("mean %1 %2:%3 %4:%5")
                                        .arg(slice)
                                        .arg(row0)
                                        .arg(row1)
                                        .arg(column0)
                                        .arg(column1),
        mean, *analyser_, lcf_.get(), refNames_);
    plot();
    emit spectrumShown(current_.label);
    return true;
}

void SpectrumView::pinCurrent()
{
    if (current_.energies.empty())
        return;
    pinned_.push_back(current_);
    plot();
}

void SpectrumView::clearPins()
{
    pinned_.clear();
    plot();
}

void SpectrumView::setNormalised(bool on)
{
    normBox_->setChecked(on);
}

QLineSeries *SpectrumView::series(const QString &name) const
{
    for (QAbstractSeries *s : chart_->series())
        if (s->name() == name)
            return qobject_cast<QLineSeries *>(s);
    return nullptr;
}

void SpectrumView::plot()
{
    chart_->removeAllSeries();
    // The chart gives up an axis it removes: it is ours to delete.
    for (QAbstractAxis *a : chart_->axes()) {
        chart_->removeAxis(a);
        delete a;
    }
    if (current_.energies.empty())
        return;
    const bool norm = normBox_->isChecked();
    auto add = [&](const QString &name, const std::vector<double> &e, const std::vector<double> &v,
                   Qt::PenStyle style) {
        auto *s = new QLineSeries;
        s->setName(name);
        for (std::size_t i = 0; i < e.size() && i < v.size(); ++i)
            if (std::isfinite(v[i]))
                s->append(e[i], v[i]);
        chart_->addSeries(s); // the chart's theme gives the colour
        QPen pen = s->pen();
        pen.setStyle(style);
        pen.setWidthF(style == Qt::SolidLine ? 2 : 1.2);
        s->setPen(pen);
    };
    const SpectrumCurves &c = current_;
    if (norm) {
        add(tr("normalised"), c.energies, c.normalised, Qt::SolidLine);
        if (!c.fit.empty()) {
            add(tr("fit"), c.energies, c.fit, Qt::DashLine);
            for (std::size_t k = 0; k < c.components.size(); ++k)
                add(c.componentNames.value(int(k)), c.energies, c.components[k], Qt::DotLine);
        }
    } else {
        add(tr("mu"), c.energies, c.mu, Qt::SolidLine);
        add(tr("pre-edge"), c.energies, c.pre, Qt::DashLine);
        add(tr("post-edge"), c.energies, c.post, Qt::DashLine);
    }
    for (const SpectrumCurves &p : pinned_)
        add(p.label, p.energies, norm ? p.normalised : p.mu, Qt::SolidLine);
    chart_->createDefaultAxes();
    const QList<QAbstractAxis *> x = chart_->axes(Qt::Horizontal);
    const QList<QAbstractAxis *> y = chart_->axes(Qt::Vertical);
    if (!x.isEmpty())
        x.first()->setTitleText(tr("Energy (eV)"));
    if (!y.isEmpty()) {
        y.first()->setTitleText(norm ? tr("normalised mu") : tr("mu"));
        // The pre/post curves run far outside the data at the ends: keep the data in view.
        if (auto *axis = qobject_cast<QValueAxis *>(y.first())) {
            double lo = 1e300, hi = -1e300;
            auto span = [&](const std::vector<double> &v) {
                for (double d : v)
                    if (std::isfinite(d)) {
                        lo = std::min(lo, d);
                        hi = std::max(hi, d);
                    }
            };
            span(norm ? c.normalised : c.mu);
            for (const SpectrumCurves &p : pinned_)
                span(norm ? p.normalised : p.mu);
            if (lo < hi)
                axis->setRange(lo - 0.05 * (hi - lo), hi + 0.05 * (hi - lo));
        }
    }
    chart_->setTitle(c.label);
    const SpectrumEdge::Result &r = c.edge;
    QString text = r.ok ? tr("E0 %1 eV  step %2  half height %3 eV  white line %4 at %5 eV")
                              .arg(r.e0, 0, 'f', 2)
                              .arg(r.step, 0, 'g', 4)
                              .arg(r.e0Half, 0, 'f', 2)
                              .arg(r.whiteLine, 0, 'f', 3)
                              .arg(r.whiteLineEnergy, 0, 'f', 2)
                        : tr("no edge found");
    for (std::size_t k = 0; k < c.weights.size(); ++k)
        text += QStringLiteral("  %1 %2")
                    .arg(c.componentNames.value(int(k)))
                    .arg(c.weights[k], 0, 'f', 3);
    if (!c.weights.empty())
        text += tr("  R %1").arg(c.rFactor, 0, 'g', 3);
    edgeLabel_->setText(text);
}

bool SpectrumView::exportCsv(const QString &path) const
{
    std::vector<SpectrumCurves> all = pinned_;
    if (!current_.energies.empty())
        all.insert(all.begin(), current_);
    if (all.empty())
        return false;
    const QString tmp = path + QStringLiteral(".part");
    QFile f(tmp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text)
        || f.write(SpectrumCurves::csv(all).toUtf8()) < 0 || !f.flush()) {
        f.remove();
        return false;
    }
    f.close();
    QFile::remove(path);
    return QFile::rename(tmp, path);
}

void SpectrumView::onLoadClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Spectral stack"),
        Places::dialogFolder("stack", QString()),
        tr("HDF5 files (*.h5 *.hdf5 *.nxs);;All files (*)"));
    Places::rememberDialogFolder("stack", path);
    if (!path.isEmpty() && !loadStack(path))
        fileLabel_->setText(error_);
}

void SpectrumView::onMapsClicked()
{
    if (!reader_.isOpen())
        return;
    const QStringList refs
        = QFileDialog::getOpenFileNames(this, tr("Reference spectra (none: edge maps only)"),
            Places::dialogFolder("referenceSpectra", QFileInfo(reader_.path()).absolutePath()),
            tr("Text files (*.txt *.dat *.csv);;All files (*)"));
    if (!refs.isEmpty())
        Places::rememberDialogFolder("referenceSpectra", refs.first());
    const QString out = QFileDialog::getSaveFileName(this, tr("Maps file"),
        QFileInfo(reader_.path()).absolutePath() + QStringLiteral("/maps.h5"),
        tr("HDF5 files (*.h5)"));
    if (out.isEmpty())
        return;
    if (!startMaps(out, refs))
        fileLabel_->setText(error_);
}

void SpectrumView::onExportClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export shown spectra"),
        Places::dialogFolder("spectraCsv", QString()), tr("CSV files (*.csv)"));
    Places::rememberDialogFolder("spectraCsv", path);
    if (!path.isEmpty() && !exportCsv(path))
        fileLabel_->setText(tr("Cannot write %1").arg(path));
}
