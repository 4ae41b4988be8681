#pragma once

#include "CtRegion.h"
#include "GreyLevelMap.h"

#include <QDateTime>
#include <QFrame>
#include <QImage>
#include <QMutex>
#include <QRectF>

#include <memory>

class CtCalc2;
class ImgDispWPV;
namespace Ui {
class CtCalc;
}

// What a worker needs from its view for one slice or one picture, taken as one copy so that
// a region or colour-bar change in the middle of a slice cannot mix old and new values.
struct CtViewState
{
    CtRegion cr;
    bool regionSet = false;
    GreyLevelMap map; // colour-bar range and cuts
    bool fixedScale = false; // "CFix"
};

// The view of one reconstruction worker: its regions, timings, slice number and result
// picture. Lives on the GUI thread; the worker never touches it directly but reads `state()`
// and hands its results over by queued calls.
class CtCalc2Ui : public QFrame
{
    Q_OBJECT
public:
    explicit CtCalc2Ui(QWidget *parent = nullptr);
    ~CtCalc2Ui() override;

    // Attaches the worker: the colour bar's changes make it redraw its picture.
    void setCalc(CtCalc2 *c);
    CtCalc2 *worker() const { return calc; }

    // Copy-on-change: refreshed on the GUI thread whenever the CR or the colour bar changes,
    // read by the worker's thread under the mutex.
    CtViewState state() const;

    bool regionSet() const { return regions->regionSet(); }
    CtRegion cr() const { return regions->cr(); }
    CtRegion dr() const { return regions->dr(); }
    ImgDispWPV *display() const;

    // Hand-overs from the worker (queued onto the GUI thread).
    // While no CR has been set, the CR becomes (0, 0, n, n) and is announced.
    void useDefaultCR(int n);
    // The slice's own value range for the colour bar, unless "CFix" is checked by now.
    void showSliceRange(double min, double max);
    // The display takes the picture and repaints.
    void takePicture(const QImage &img);
    void startedAt(const QDateTime &t);
    void endedAt(const QDateTime &t);

    QDateTime calcStart;
    QDateTime calcEnd;

    // The number of the slice the worker began last (its picture once it is done); -1 before.
    int shownSlice() const { return sliceNo; }

signals:
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);
    // A left click on pixel (x, z) of the slice's picture (whole-slice coordinates).
    void voxelSelected(int slice, int x, int z);

public slots:
    void noticedNewPos(double x, double z);
    void noticedNewS(QRectF s);
    void setCRegion();
    void showStartTime();
    void showEndTime();
    void showSpentT();
    void showSliceNo(int no);
    void newImage();
    void saveImage(QString fname);
    void setCR(double rx0, double rz0, double rx1, double rz1);
    void setDR(double rx0, double rz0, double rx1, double rz1);
    void setFixColorScale(bool f);
    void setCBarMinMaxForced(double min, double max);

private:
    void refreshState();

    std::unique_ptr<Ui::CtCalc> ui;
    std::unique_ptr<CtRegions> regions;
    CtCalc2 *calc = nullptr;
    int sliceNo = -1;

    mutable QMutex stateMutex;
    CtViewState snapshot;
};
