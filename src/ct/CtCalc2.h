#pragma once

#include "CtParams.h"
#include "CtRegion.h"
#include "HSgm.h"
#include "SlicePipeline.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

class CtCalc2Ui;
class DataSaver;
class Sinogram;
struct CtViewState;
struct SavingData;
struct SavingImg;

// A reconstruction worker: a QObject on a thread of its own that reconstructs one slice per
// `startCt` addressed to it, with its own sinogram record and engine, then makes the picture
// and the save records asked for and reports back. It shares nothing mutable with other
// workers; its view is reached only through copies and queued calls.
class CtCalc2 : public QObject
{
    Q_OBJECT
public:
    // Fills a sinogram record for (rotAxIsV, cor, slice) on the worker's thread: a stand-in
    // for the Sinogram panel where a test or benchmark runs without one.
    using SinogramSource = std::function<void(HSgm *, bool, double, int)>;

    explicit CtCalc2(QObject *parent = nullptr);
    ~CtCalc2() override;

    // Wiring by the owner, before the first request.
    void setUi(CtCalc2Ui *view);
    CtCalc2Ui *view() const { return ui; }
    void setCtParams(const CtParams *params) { ctParams = params; }
    // The panel that builds this worker's sinograms (it must outlive the worker's runs), with
    // the partial-data-set settings of the run's parameter block when there is one; it takes
    // precedence over a source function.
    void setSinogram(Sinogram *panel) { sinogram = panel; }
    void setSinogramSource(SinogramSource source) { sinogramSource = std::move(source); }

    // Sizes the engine's transforms for a run (GUI thread). Applied at once when the worker
    // is idle; otherwise kept and applied by the worker before its next slice, because the
    // slice in progress still uses the present buffers.
    void setupFFT(int n, int projections);
    // The reconstructed value at (ix, iz), for any thread; false outside the result or while
    // a slice is being computed (the caller never waits for a worker).
    bool valueAt(int ix, int iz, double *v) const;
    // A copy of the whole result (size x size values), for any thread; false, and `out` left
    // alone, while a slice is being computed or when there is no result.
    bool copyResult(std::vector<double> &out, int &size) const;

    // Set while a slice is being reconstructed; read by the dispatcher on the GUI thread.
    std::atomic<bool> busy { false };

signals:
    void askToStartCalc();
    void calcFinished();
    void saveDataWDiscard(SavingData *data);
    void saveImgWDiscard(SavingImg *img);
    void ctImage(int slice, QImage imge);

public slots:
    void beginingCt();
    void endingCt();
    void genResImage();
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genAndDispImage);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice);
    void saveImage();
    void saveData();
    void setSaveImage(bool f, QString path, QString name, QString tag);
    void setSaveData(bool f, QString path, QString name, QString tag);
    // Float TIFF slices beside the data files (same folder, name and tag as those), with
    // deflate compression when `zlib`.
    void setSaveTiff(bool f, bool zlib);

private:
    struct SaveTarget
    {
        bool on = false;
        QString path, name, tag;
    };

    // The engine mutex is held by the caller of these.
    void reconstructSlice(bool rotAxIsV, double cor);
    void makePicture(const CtViewState &view);
    void postImage(const CtViewState &view, const SaveTarget &target);
    void postData(const CtRegion &region, const SaveTarget &target);
    void postTiff(const CtRegion &region, const SaveTarget &target, bool zlib);
    void applyPendingSetup();
    CtParams params() const;
    CtViewState viewState() const;
    // The current slice's result, from the engine of the method it was made with.
    int resultSize() const { return pipeline.engine() ? pipeline.engine()->resultSize() : 0; }
    const double *resultData() const
    {
        return pipeline.engine() ? pipeline.engine()->resultData() : nullptr;
    }
    bool resultValid() const { return pipeline.engine() && pipeline.engine()->resultValid(); }
    void clearResult();
    template <typename F> void toView(F &&f);

    CtCalc2Ui *ui = nullptr;
    const CtParams *ctParams = nullptr;
    Sinogram *sinogram = nullptr;
    SinogramSource sinogramSource;
    HSgm hSgm;
    // The engine of the run's method and the steps to a slice.
    SlicePipeline pipeline;
    int n = 0;
    int rows = 0;
    int slice = 0; // of the current request: names and pictures never read the view's field
    double sliceCor = 0; // the centre the current result was reconstructed with
    QImage picture; // the worker's own; the view and the saver get copies
    bool genAndDispImage = true;
    bool picReady = false;
    QDateTime startTime;

    // Held by the worker for a whole slice and by anything that reads the engine or the
    // slice's members above (n, slice, picture...); other threads only try it.
    mutable std::mutex engineMutex;
    // Written by whichever thread hands out the settings or the sizing, copied by the worker.
    // Taken after engineMutex when both are needed.
    mutable std::mutex settingsMutex;
    bool setupPending = false;
    int pendingN = 0;
    int pendingProjections = 0;
    SaveTarget imageTarget;
    SaveTarget dataTarget;
    bool tiffOn = false;
    bool tiffZlib = false;
};

// Close-down that loses no result: the thread of every worker is asked to quit and waited for
// (a slice in progress is finished first, its records are queued to the saver), then the
// saver writes everything queued and stops. Call on the owner's thread; the workers can be
// deleted afterwards.
void shutDownWorkers(const QList<CtCalc2 *> &workers, DataSaver *saver);
