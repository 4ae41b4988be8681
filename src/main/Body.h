#pragma once

#include "BatchCmd.h"
#include "CtParams.h"
#include "CtRegion.h"
#include "DxchangeFile.h"
#include "MouseC.h"
#include "RunReport.h"
#include "ui_Body.h"

#include <QDateTime>
#include <QFileInfoList>
#include <QFrame>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPen>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class Batch;
struct CtRegion;
class CtCalc;
class CtCalc2;
class CtCalc2Ui;
class CtDisp;
class CtView;
class SpectrumView;
class CorSweepPanel;
class QProgressBar;
class DataSaver;
class ImgDatas;
class QAbstractButton;
class QMenu;
class QToolButton;
class QButtonGroup;
class QCloseEvent;
class QFileDialog;
class QPainter;
class QThread;
class QuoltLink;
class RawDisp;
class Sinogram;
class XafsBatch;

// The program's one main window. It owns the projection image set, every panel, the
// reconstruction workers with their views, the background saver, the batch interpreter and
// the viewer link, wires them together and carries the interactive workflow: loading a
// measurement one file per event-loop pass, raw-image overlays, point and region selection,
// and reconstruction runs of one slice (CT1 or one worker) or of a slice range dispatched to
// idle workers.
//
// Members are public like those of the other panels, so that the parts of this class that
// live in files of their own (batch commands, setup files, sequential execution, the viewer
// driving) and the tests reach them without accessors.
class Body : public QFrame, public Ui_Body
{
    Q_OBJECT
public:
    explicit Body(QWidget *parent = nullptr);
    ~Body() override;

    // Runs every retained configuration line through the batch-command executor.
    void execConfigLines();

    // The energy in eV that an I0 file's name states in its second-to-last "-"-separated field
    // ("Fe-7_112keV-00001.img" gives 7112); 0 when the path has no such field.
    static double energyOfI0File(const QString &path);

    // The three values a user sets before loading and expects to keep: these clear the matching
    // reset flag, so the first load after start does not replace them with its defaults. The
    // batch commands "ct_proc_slice", "ct_slice_to" and "ct_cor" go through them.
    void setProcSlice(int slice);
    void setProcSliceTo(int sliceTo);
    // "from" and "to" are one range: setting either keeps both through the next load.
    void setProcSliceFrom(int sliceFrom);
    void setProcCor(double cor);

    // A worker has been handed a slice or is still working on one. A worker's own busy flag is
    // raised only when the queued request reaches its thread, so the workers addressed and not
    // yet heard back from count too.
    bool workerInFlight(CtCalc2 *worker) const;
    int workersInFlight() const;
    // The angles (degrees) of the images of the set when they all come from HDF5 files whose
    // angles are not evenly spread; empty otherwise.
    std::vector<double> imageAngles() const;

    // Carries out one command line; batchExCmd is this for the interpreter's commands. Only a
    // command the interpreter sent reports its completion to it and writes its result flag:
    // setup-file and configuration lines must neither advance nor steer a running batch.
    void execCmd(const BatchCmd &cmd, bool fromBatch);

    // Closes the window after a stop signal from outside (SIGINT, SIGTERM, SIGHUP): as a close
    // by the user, except that a batch waiting for a run is not released.
    void stopFromOutside(int signalNumber);

    // Puts on the status line (and the log) what the user should know at once and would
    // otherwise miss: an entry refused, a value replaced, a file left out, a link not made.
    // A problem recorded later takes the line over again.
    void notice(const QString &text);

    // Starts reconstructing the current slice at from, from + step, ... to (the process
    // control's method, filter and ring removal) on the process control's number of threads;
    // the "CoR Sweep" tab shows the slices when they are made, the best first. With `dir`,
    // each slice is then also written there as a CT image data file named with its centre
    // ("slice00012_cor127.50.dat"). With `holdBatch`, the batch waits for the sweep's end and
    // its result flag tells whether the sweep made and wrote its slices. False, with the
    // failure recorded, when the range gives no centre, or a sweep, a run or a load is going on.
    bool corSweepRun(double from, double to, double step, const QString &dir = QString(),
        bool holdBatch = false);
    CorSweepPanel *corSweepPanel() const { return corSweep; }

    // Loads a data folder (or data file) of the recent list as "Data Select" would load its
    // files; a folder that is gone is dropped from the list with a message on the status line.
    bool openRecentData(const QString &path);
    // Rebuilds the "Recent" menu from the list kept in the settings: newest first, a folder
    // that is gone shown disabled.
    void refreshRecentData();
    QToolButton *recentDataButton = nullptr;
    QMenu *recentDataMenu = nullptr;

    // The calculation region covers the whole slice of the loaded set (every region does
    // before a set is loaded).
    bool regionIsWhole(const CtRegion &r) const;

    // The exit status a "quit" command asked for; -1 when none did.
    int quitStatus = -1;
    // False when the system refused a thread the window cannot work without (the image set,
    // the batch, the saver, the first worker): the program then ends at once with status 1.
    bool threadsStarted = true;
    // "auto_save_volume FILE": after each slice-range run that saves its slices, one volume
    // file (.h5 NeXus or .tif stack) of the run's float TIFF slices; empty: none.
    QString volumeFile;

    ImgDatas *imgDatas = nullptr;
    QThread *imgDatasThread = nullptr;
    Batch *batch = nullptr;
    QThread *batchThread = nullptr;
    XafsBatch *xafsBatch = nullptr;
    QThread *xafsBatchThread = nullptr;
    DataSaver *dataSaver = nullptr;
    QThread *dataSaverThread = nullptr;
    RawDisp *rawDisp = nullptr;
    Sinogram *sinogram = nullptr;
    CtCalc *ctCalc = nullptr;
    QList<CtCalc2 *> ctCalc2s;
    QList<CtCalc2Ui *> ctCalc2Uis;
    QList<QThread *> ctCalc2Threads;
    CtDisp *ctDisp = nullptr;
    CtView *ctView = nullptr;
    // The Spectrum tab: spectra and maps of a spectral stack.
    SpectrumView *spectrumView = nullptr;
    CorSweepPanel *corSweep = nullptr;
    // What the sweep under way was started with, for its end.
    struct SweepRun
    {
        int slice = 0;
        bool rotAxIsV = false;
        double firstCor = 0;
        int count = 0;
        QString dir;
        bool holdsBatch = false;
        CtParams params;
    };
    SweepRun sweep;
    // The run's progress under its times: the part done, the time left at the rate so far and,
    // in a sequence, which energy set of how many.
    QProgressBar *runProgress = nullptr;
    QString seqStep;
    // The slices in "CT Images" come from a run that saved nothing; a close or a new run by the
    // user asks before they go. Off for a close the program itself asks for (quit, a signal).
    bool resultsUnsaved = false;
    bool askBeforeDiscard = true;
    QuoltLink *quoltLink = nullptr;
    QFileDialog *setupDialog = nullptr;
    bool savingSetup = false;
    QStringList pendingFiles;
    // A load is under way: its files are being read one per event-loop pass. A selection made
    // meanwhile joins it, and a start waits for its end.
    bool loading = false;
    // The memory the load under way needs has been compared with what there is.
    bool memoryChecked = false;
    // "I0" / "BG": why the last choice of that reference image failed. A run that would use
    // the previous image (or none) in its place is not started while one is kept.
    QHash<QString, QString> refusedRefs;
    QList<double> i0Energies;
    bool calculating = false;
    bool batchCalc = false;
    // Cleared when a command sets the value; set again by every completed load. A default is
    // applied at a load only to values whose flag is set (see finishedLoadDataFiles).
    bool resetRegions = true;
    bool resetSliceTo = true;
    bool resetSlice = true;
    bool resetCor = true;
    // A load of images has completed since construction.
    bool loadedOnce = false;
    // Image size of the set loaded last: a set of the same series and size keeps every
    // condition, whatever "keep Conds." says.
    int loadedWidth = 0;
    int loadedHeight = 0;
    // The data-set selector is choosing the files of a set of its series (selectedDir,
    // selectedFileInfoList), and the load under way is such a set.
    bool announcingSet = false;
    // A batch command is choosing the files: its load must end (the batch waits for it) and
    // must not leave an earlier set in place for its next command to reconstruct.
    bool loadByCommand = false;
    // A command is switching the rotation axis: the values commands have set since the last
    // load stay (a setup file may set the CoR before the axis).
    bool axisByCommand = false;
    // "Link 2dQuolt" was clicked and its attempt has not failed yet.
    bool linkAsked = false;
    bool loadIsSeries = false;
    // Values the user has set (in the window or by a command) and no default has replaced
    // since: a default that replaces one says so on the log.
    bool userSlice = false;
    bool userRange = false;
    bool userCor = false;
    bool userRegions = false;
    // The defaults of a load are being written: the changes they cause are not the user's.
    bool applyingDefaults = false;
    // The save tag the data-set selector gave for the set it loaded; a load chosen otherwise
    // drops it again, so that the files of another set do not carry that set's energy.
    QString setTag;
    // A "Clear" of the projection list waits for the event loop: the selection that follows
    // a "New" choice clears the set itself, and only once one of its files has been read.
    bool clearPending = false;
    QDateTime calcStart;
    QDateTime calcEnd;
    bool showAllCt2Images = false;
    CtParams ctParams;
    QPen crossPen, slicePen, rangePen, corPen, selectingPen, selectedPen;

    // Which path the active run takes; None between runs.
    enum class RunKind { None, Ct1, Ct2Single, Ct2Range };
    RunKind runKind = RunKind::None;
    // A start waits for the workers of a stopped run (they still read ctParams).
    bool startPending = false;
    QSet<CtCalc2 *> addressed;
    // The dispatcher's next slice, wide enough that stepping past the last slice never
    // overflows.
    qint64 nextSlice = 0;

    // Driving the companion viewer: 0 idle, 1 a load request is out, 2 a 2DA request is out.
    int qlkState = 0;
    bool qlkBusy = false;
    bool cont2dA = false;
    int contFrom = 0;
    int contTo = 0;
    int contStep = 1;
    int contSlice = 0;

    // "Make Stack": the spectral stack of the series' result tree (the data save folder, one
    // folder per energy) written to `file` on a thread of its own, aligned when "Align" is
    // checked. False (and a counted failure) when one is being made already. The end is
    // logged, a failure counted, and the Spectrum tab offered the stack.
    bool makeStack(const QString &file);
    bool makingStack() const { return stackThread != nullptr; }
    // A voxel clicked in a slice view (CT1 or a worker's): with a stack loaded, the Spectrum tab
    // shows its spectrum (the pixel less the corner of the view's calculation region `cr` gives row
    // and column, as the saved slices and so the stack have them). False when it is not in the
    // stack.
    bool showSpectrumOf(const CtRegion &cr, int slice, int x, int z);
    // The stack made last in this session; empty before.
    QString madeStack;

    // The data files of one slice as saved under the current data save settings: the files
    // of every energy folder (or of the save folder without sub folders), in name order.
    QStringList sliceDataFiles(int slice) const;

signals:
    void batchCalcStart();
    void batchCalcFinished();
    void askAddAnImg(QString fname);
    void askLoadNextDataFile();
    void noticeFinishedLoadDataFiles();
    void setFirstSet(int firstIdx);
    void setNextSet(int lastIdx);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg);
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice);
    void finishing();
    void finishedLoadingCTFiles();
    void calcFinished();
    void stage(QString msg, qulonglong dEt);
    void callBatchLoad(QString fname);
    void callBatchExec();
    void callBatchCheckEnd();
    void qlkLoadFilesOfPattern(QString path);
    void qlkLoadFiles(QStringList fileList);
    void qlkStatChanged();
    void exec2dA(QString sliceNoS);

public slots:
    void batchLoad(QString fname);
    void batchExec();
    void setFixColorScale(bool f);
    void setColorMin(double v);
    void setColorMax(double v);
    void setAutoSaveImage(bool f);
    void setAutoSaveData(bool f);

private slots:
    void dataFilesSelected(QStringList files, bool clear);
    void loadNextDataFile();
    void finishedLoadDataFiles();
    // White and dark of a chosen HDF5 file become the I0 and BG images, its angles the data
    // set's origin and range.
    void useHdf5File(QString path, DxchangeFile::Info info);
    void newPosOnRawImg(double x, double y);
    void updateRawImage();
    void draw(QPainter *p);
    void selectedAPointInRawImg(double x, double y, MouseC::MStat s);
    void showDispRaw();
    void showSinogram();
    void toggleCalcCt();
    void startCalcCt();
    void stopCalcCt();
    void setupFFT();
    void setupSaveConds();
    void execSingleCtCalc();
    void execMultiCtCalc();
    void ctCalcFinished();
    void setShowAdditionalInfo(bool f);
    void setShowAdditionalAdditionalInfo(bool f);
    void changedCtSel(QAbstractButton *button);
    void changedAutoExec();
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);
    void batchExCmd(BatchCmd cmd);
    void fixColorScaleChanged();
    double colorMin();
    double colorMax();
    void selectedDir(QString dir, QStringList patterns);
    void selectedFileInfoList(QFileInfoList fileInfoList);
    void newSets(int count);
    void setFirstImageSet();
    void setNextImageSet();
    // A set of the sequence is loaded: its own centre of rotation first when asked, then the
    // calculation.
    void startSeqCalculation();
    void startingSeqCalc();
    void finishedSeqCalc();
    void i0FilesSelected(QStringList files, bool clear);
    void noticedStage(QString msg, qlonglong dEt);
    void makeStackClicked();
    void setI0FileFromList();
    void showSaveSetupD();
    void showLoadSetupD();
    void saveLoadFileSelected(QString fname);
    void saveSetup(QString fname);
    void loadSetup(QString fname);
    void exec2dA0();
    void setupQuoltLink();
    void qlkInitFlags();
    void qlkChangedIsBusy(bool f);
    void qlkStageCtrl();
    void qlkStartCont2dA();
    void ctImage(int no, QImage img);
    // The rotation axis was switched: slice, range, CoR and regions become what a first load
    // of the set gives for the new axis.
    void rotAxisChanged();
    // "Whole": every view calculates and shows the whole slice again.
    void resetRegionsToWhole();
    void showRegionState();
    // The histogram of a slice just made, and the limits its pictures are shown with.
    void showContrastOf(const double *values, std::size_t n);
    // The sweep started last has ended: its message, its files, a waiting batch released.
    void corSweepEnded(int made);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWorkers(int n);
    void setupCorSweep();
    void setupRecentData();
    void addWorkerTab(int k, CtCalc2Ui *view, bool appended);
    void connectSignals();
    // The part of a start that reads the panel into ctParams and hands out work; run at once,
    // or when the last worker of a stopped run has reported and the load under way has ended.
    void beginRun();
    // Goes on with a start that waited, once no worker is in flight and no load under way.
    void resumeStart();
    void workerReported(CtCalc2 *worker);
    bool inSliceRange(qint64 slice) const;
    // Fits the run's slice range to the lines of the loaded set, saying so; false (and a
    // recorded failure) when no slice of the range lies in the set.
    bool fitSliceRange();
    // Why the loaded set cannot give a sinogram of `slice` at `cor`; empty when it can.
    QString sliceRefusal(bool rotAxIsV, double cor, int slice) const;
    // Hands the image set the factor I0(raw) / I0(I0 image) of the two "I0 of Image" panels.
    void updateI0Scale();
    // A value changed outside the defaults of a load: it is the user's. Before any set is
    // loaded it also survives the first load, as the commands' values do.
    void noteUserValue(bool &resetFlag, bool &userFlag);
    void showProgress();
    // The progress bar at `done` of `total` slices (the sequence's step before it).
    void showRunProgress(qint64 done, qint64 total);
    void setupRunProgress();
    // True when nothing unsaved would be lost, or the user agrees to lose it; never asks without
    // a window, during a batch, or for a single slice.
    bool confirmDiscard();
    // Slices of the active run that have been reconstructed, and all it was to reconstruct.
    qint64 slicesDone() const;
    qint64 slicesTotal() const;
    // Records a run that ends before its last slice, and stops a batch waiting for it: going
    // on would hide that the data set is incomplete.
    void noteStoppedRun(const QString &why);
    // Puts a line of the run's report where the user sees it: on standard output without a
    // window, and in the tool tip of the status field that shows the same state.
    void report(const QString &line, QWidget *field);
    void relayRegion(
        bool display, const QObject *from, double rx0, double rz0, double rx1, double rz1);
    // "CoR per Energy": guesses the loaded set's centre of rotation and moves the calculation
    // region with the rotation axis, so that the set's slices fall on the grid of the
    // sequence's first set (the same size, the axis at the same pixel).
    void useCorOfThisSet();
    // The first set of the sequence (or of the folder listed last) has fixed the grid.
    bool seqGridSet = false;
    // The set in hand was loaded from the data-set list: a batch's calc_exec on it is a step of
    // a sequence.
    bool setOfListLoaded = false;
    int seqGridHalf = 0; // its sampling window's half width
    CtRegion seqGridCr; // its calculation region
    void applyRawSelection();
    // The defaults a first load gives: the slice range, slice and CoR as their flags ask, and
    // the regions when `regions`. Values the user had set and that change are listed in
    // `replaced` ("CoR 30.25 -> 32").
    void writeDefaults(bool range, bool slice, bool cor, bool regions, QStringList &replaced);
    // The set's extent across the rotation axis less one: the far edge of a whole region.
    double regionExtent() const;
    // I0 and BG images of another size than the projections are not used: their selector
    // fields turn red and the sizes are reported (at a run's start as a failure).
    void checkI0BgSizes(bool runStart);
    // After the first image of a load: false (and the load is dropped, with a message giving
    // both numbers) when the rest of the files and the workers need more memory than there is.
    bool memoryAllowsLoad();
    // Runs `action` now when no worker is in flight, else once the last one has reported:
    // the image set and the I0/BG readers must not change while a worker reads them.
    // The I0 and BG selectors accept changes only while no worker is reading their images.
    void updateReferenceLock();
    void whenWorkersIdle(std::function<void()> action);
    void runIdleActions();
    // Stops dispatching, lets every worker finish its slice, writes every queued record and
    // ends the owned threads. Safe to call more than once.
    void shutDown();
    // The stack is written: the thread is gone, the result is reported, a waiting batch goes on.
    void finishedStack(
        bool ok, const QString &file, const QString &error, const QStringList &suspect);
    QThread *stackThread = nullptr;
    bool stackHoldsBatch = false; // a batch's seq_make_stack waits for the end
    // Creates the sequential-execution controller's thread and wires the controller.
    void setupXafsBatch();
    // Asks the viewer to load the data files of `slice` (also makes it the current slice).
    void sendSliceFiles(int slice);
    void setCont2dA(bool on);

    QButtonGroup *ctSelGroup = nullptr;
    QList<CtCalc2Ui *> untabbedViews; // views without a tab, owned here
    std::vector<double> rawRow; // the read-out's row buffer
    std::vector<double> contrastValues; // a worker's result, copied for the histogram
    double crossX = -1.0;
    double crossY = -1.0;
    std::vector<std::function<void()>> idleActions;
    bool runningIdleAction = false;
    bool closing = false;
    bool shutDownDone = false;
    // Without a window the run's report goes to standard output too.
    bool consoleReport = false;
    RunReport runReport;
    // The saver's count of written files when the run began; set and read on its thread.
    std::shared_ptr<qint64> runWrittenFrom;
    bool runCutShort = false;
    // The folder of the load under way and the files of it that could not be loaded.
    QString loadFolder;
    QStringList loadRefused;
    // HDF5 files of this session whose angles are not evenly spread: their theta, by path.
    QHash<QString, std::vector<double>> unevenAngles;
};
