#pragma once

#include "CtBackProj.h"
#include "CtGridding.h"
#include "CtRegion.h"
#include "HSgm.h"
#include "RingRemoval.h"

#include <QDateTime>
#include <QFrame>
#include <QRectF>
#include <QString>

#include <memory>
#include <vector>

class CtProgress;
class ImgDispWPV;
class QThread;
class Sinogram;
struct CtParams;
namespace Ui {
class CtCalc;
}

// The single-slice reconstruction panel ("CT1"): reconstructs the current slice of the
// sinogram panel on the GUI thread, either in one piece ("At Once", its back-projection
// spread over all processor cores) or projection by projection with a redraw after each, paced
// by a CtProgress on its own thread so that the window stays responsive meanwhile. With the
// gridding method the slice is always made in one piece.
//
// A run works on a copy of the sinogram panel's record taken at its start: the panel rebuilds
// its record whenever the slice or CoR changes, which may happen between two projections.
class CtCalc : public QFrame
{
    Q_OBJECT
public:
    explicit CtCalc(QWidget *parent = nullptr);
    ~CtCalc() override;

    Sinogram *sinogram = nullptr;
    CtParams *ctParams = nullptr;
    CtProgress *progress = nullptr;
    QThread *progressThread = nullptr;
    bool running = false;
    QDateTime calcStart;
    QDateTime calcEnd;

    // The sinogram of the current run (a copy, see above), its row count P (the divisor of
    // the normalisation) and the transform length N.
    HSgm hSgm;
    int projections = 0;
    int n = 0;
    CtBackProj engine;
    // The run's method is gridding: `gridding` makes the slice, in one piece.
    CtGridding gridding;
    bool gridded = false;
    // The run's row angles for projections with angles of their own, else empty.
    std::vector<double> angles;
    RingRemoval rings;

    // Stored for the main window's save settings; the single-slice panel saves nothing.
    bool saveImage = false;
    QString imagePath, imageName, imageTag;
    bool saveData = false;
    QString dataPath, dataName, dataTag;

    // Threads of the "At Once" back-projection; 0: one per hardware thread.
    int atOnceThreads = 0;

    // The result of the last run, whichever method made it: resultSize() x resultSize().
    int resultSize() const { return gridded ? gridding.resultSize() : engine.resultSize(); }
    const double *resultData() const
    {
        return gridded ? gridding.resultData() : engine.resultData();
    }

    bool regionSet() const { return regions->regionSet(); }
    CtRegion cr() const { return regions->cr(); }
    CtRegion dr() const { return regions->dr(); }
    ImgDispWPV *display() const;

signals:
    void askToStartCalc();
    void startCalcAll();
    void calcFinished();
    void startCalcOneByOne();
    void finishedCalcOne();
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);

public slots:
    void startCt();
    void stopCt();
    void endCt();
    void calcAll();
    void calcOne(int iz);
    void noticedNewPos(double x, double z);
    void noticedNewS(QRectF s);
    void setCRegion();
    void calcCt();
    void genResImage();
    void setDR(double rx0, double rz0, double rx1, double rz1);
    void setCR(double rx0, double rz0, double rx1, double rz1);
    void setFixColorScale(bool f);
    void setCBarMinMaxForced(double min, double max);
    void setSaveImage(bool f, QString path, QString name, QString tag);
    void setSaveData(bool f, QString path, QString name, QString tag);

private:
    // Angle of projection row 0 and the step between rows, in radians.
    void rowAngles(double *angle0, double *dAngle) const;
    void finishRun();

    std::unique_ptr<Ui::CtCalc> ui;
    std::unique_ptr<CtRegions> regions;
    // A run has started and not yet ended: exactly one calcFinished() per run.
    bool active = false;
    // An "At Once" request is on its way; a late duplicate finds it cleared.
    bool allPending = false;
    // The row the next calcOne must carry; requests left over from a stopped run do not.
    int nextRow = 0;
};
