#pragma once

#include "SpectraReader.h"
#include "SpectrumCurves.h"

#include <QWidget>

#include <memory>
#include <vector>

class ImgDispWCBar;
class LinearCombination;
class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QSpinBox;
namespace Ui {
class SpectrumView;
}

// The "Spectrum" view: a spectral stack's slice at one energy, or one of its maps, as an
// image; a click on a voxel (or "Region mean" after a Shift drag) plots its mu(E) with the
// pre-edge line and post-edge curve, or its normalised spectrum with the reference fit and
// its components. Spectra can be pinned for comparison and the shown curves exported as CSV.
// The computation lives in the xafs library; this panel only reads, calls and shows.
class SpectrumView : public QWidget
{
    Q_OBJECT
public:
    explicit SpectrumView(QWidget *parent = nullptr);
    ~SpectrumView() override;

    // Each returns false with lastError() naming the file concerned.
    bool loadStack(const QString &path);
    bool loadReferences(const QStringList &paths);
    // Makes the maps file with the tool's defaults (and these references), then shows it.
    bool makeMaps(const QString &outPath, const QStringList &references);
    // The same on a thread of its own: false (nothing started) when no stack is loaded, a
    // reference cannot be read or maps are being made already; otherwise mapsFinished()
    // follows, with the maps shown when they were made.
    bool startMaps(const QString &outPath, const QStringList &references);
    bool makingMaps() const { return mapsThread_ != nullptr; }
    bool loadMaps(const QString &path);
    bool exportCsv(const QString &path) const;
    QString lastError() const { return error_; }

    bool showVoxel(int slice, int row, int column);
    // The voxel of the slice numbered `sliceNumber` (as the slices were numbered in the run,
    // not the stack's index).
    bool showSliceVoxel(int sliceNumber, int row, int column);
    // A stack was just made: "Load Stack Just Made" loads it.
    void offerStack(const QString &path);
    QString offeredStack() const { return offered_; }
    bool showRegion(int slice, int row0, int row1, int column0, int column1);
    void pinCurrent();
    void clearPins();
    void setNormalised(bool on);

    const SpectraReader &stack() const { return reader_; }
    const SpectrumCurves &current() const { return current_; }
    QChart *chart() const { return chart_; }
    ImgDispWCBar *imageView() const { return disp_; }
    // The series on the chart named `name` (nullptr when none).
    QLineSeries *series(const QString &name) const;
    int slice() const;
    QStringList mapNames() const { return mapNames_; }

signals:
    void spectrumShown(const QString &label);
    void mapsFinished(bool ok);

private slots:
    void onPointSelected(double x, double y, int stat);
    void onPos(int ix, int iy);
    void showImage();
    void redrawImage();
    void onLoadClicked();
    void onMapsClicked();
    void onExportClicked();
    void onRegionClicked();
    void onMadeClicked();

private:
    void plot();
    void refreshAnalyser();

    std::unique_ptr<Ui::SpectrumView> ui;
    SpectraReader reader_;
    std::unique_ptr<SpectrumEdge> analyser_;
    std::unique_ptr<LinearCombination> lcf_;
    QStringList refPaths_, refNames_;
    QString mapsPath_;
    QStringList mapNames_;
    SpectrumCurves current_;
    std::vector<SpectrumCurves> pinned_;
    std::vector<float> image_;
    int imageRows_ = 0, imageCols_ = 0;
    QString error_;
    QString offered_;
    class QThread *mapsThread_ = nullptr;

    ImgDispWCBar *disp_;
    QChartView *chartView_;
    QChart *chart_;
    QLabel *fileLabel_, *readout_, *edgeLabel_;
    QSpinBox *sliceBox_, *energyBox_;
    QComboBox *showBox_;
    QCheckBox *normBox_;
    QPushButton *loadButton_, *mapsButton_, *pinButton_, *clearButton_, *exportButton_,
        *regionButton_, *madeButton_;
};
