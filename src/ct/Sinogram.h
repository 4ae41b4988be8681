#pragma once

#include "HSgm.h"
#include "SinogramBuild.h"

#include <QFrame>

#include <memory>

class ImgDatas;
class ImgDispWPV;
class ProcCtrl;
struct PartialDataSet;
namespace Ui {
class Sinogram;
}

// The sinogram of the current slice: builds it from the projection image set, shows it
// with its first half turn mirrored underneath so that the user can judge the centre of
// rotation, guesses that centre, and optionally shows the sinogram's 2-D Fourier magnitude.
// `genSinogram0` is also the sinogram builder of every reconstruction worker.
class Sinogram : public QFrame
{
    Q_OBJECT
public:
    explicit Sinogram(QWidget *parent = nullptr);
    ~Sinogram() override;

    // Stores the panel and follows its changes; called once by the main window.
    void setProcCtrl(ProcCtrl *p);

    ProcCtrl *procCtrl = nullptr;
    ImgDatas *imgDatas = nullptr;
    HSgm hSgm;
    double sgmMin = 0.0;
    double sgmMax = 0.0;

    ImgDispWPV *sinogramDisplay() const;
    ImgDispWPV *fourierDisplay() const;

    // genSinogram0 with the partial-data-set settings given rather than read from the process
    // control panel: a worker passes those of its run, which its projection angles come from.
    void genSinogramWith(
        HSgm *hSgm, bool rotAxIsV, double cor, int slice, const PartialDataSet &partial) const;

public slots:
    void newPos(double x, double y);
    void corUpdated();
    void autoUpdateUpdated();
    void sliceNoUpdated();
    void rotAxUpdated();
    void angleOriginUpdated();
    void dataSetRangeUpdated();
    void usePartialDataSetUpdated();
    void dataSetUsingImagesUpdated();
    void dataSetStartImageNoUpdated();
    void corEditingFinished();
    void guessCor();
    void genSinogram0(HSgm *hSgm, bool rotAxIsV, double cor, int slice);
    void genSinogram();
    void genImage();
    void genImage1();
    void genImage2();
    void genSgmImage();
    void genFouSImage();
    void setGenFouS(bool f);

private:
    // What the picture on show was drawn from, so that the value under the pointer is the
    // one drawn there.
    struct Shown
    {
        int mode = 0; // 0: nothing, 1: genImage1, 2: genImage2
        int e = 0; // images per half turn
        int width = 0; // picture width
        ProjectionSelection selection;
        bool rotAxIsV = false;
        double cor = 0.0;
        int slice = 0;
    };

    void regenerate();
    PartialDataSet partialSettings() const;
    // Images spanning 180 degrees, or 0 when the range or the set gives no usable number.
    int imagesPerHalfTurn() const;
    void scanRawRange();
    bool pictureFits(long long width, long long height) const;
    void showPicture(const QImage &picture);

    std::unique_ptr<Ui::Sinogram> ui;
    Shown shown;
};
