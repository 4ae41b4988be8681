// The main window with its real panels, image set, workers, saver and threads, on camera files
// of a phantom written into temporary folders.
#include "Body.h"

#include "Batch.h"
#include "ClosableBase.h"
#include "ColorBar.h"
#include "Config.h"
#include "ContrastPanel.h"
#include "CtCalc.h"
#include "CtCalc2.h"
#include "CtCalc2Ui.h"
#include "CtDisp.h"
#include "CtTiffData.h"
#include "CtView.h"
#include "DataSaver.h"
#include "DxchangeWriter.h"
#include "Failures.h"
#include "HSgm.h"
#include "ImgData.h"
#include "ImgDataTiff.h"
#include "ImgDatas.h"
#include "ItexWriter.h"
#include "Places.h"
#include "PopDockBase.h"
#include "RawDisp.h"
#include "SavingData.h"
#include "SavingImg.h"
#include "Sinogram.h"
#include "StartUp.h"
#include "ct/CtTestData.h"
#include "display/DisplayTestUtil.h"
#include "input/InputTestUtil.h"
#include "input/XafsTestUtil.h"

#include <QApplication>

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTranslator>
#include <QtTest>
#include <hdf5.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

const QString IdleStyle = "background-color: rgb(213, 245, 255);";
const QString RunningStyle = "background-color: rgb(255, 255, 128);";

int hardwareThreads()
{
    return std::max(1, int(std::thread::hardware_concurrency()));
}

template <typename T> T *child(QObject *parent, const char *name)
{
    T *c = parent->findChild<T *>(name);
    if (!c)
        qWarning() << "no child" << name;
    return c;
}

// Projection files of a phantom: `lines` detector lines (slices) of `width` pixels.
struct Measurement
{
    CtTestData::PhantomImages images;
    QStringList files;

    bool make(int width = 64, int lines = 12, int projections = 36)
    {
        CtTestData::PhantomSetup setup;
        setup.width = width;
        setup.height = lines;
        setup.projections = projections;
        if (!images.make(setup))
            return false;
        const QDir d(images.dir.path());
        for (const QString &f : d.entryList({ "p-*.img" }, QDir::Files, QDir::Name))
            files << d.absoluteFilePath(f);
        return files.size() == projections;
    }
};

// Watches the hand-out of one or more runs from outside: which worker got which slice, and
// that no worker is handed a slice before it has reported the previous one.
struct RunMonitor
{
    explicit RunMonitor(Body &body)
        : workers(body.ctCalc2s)
    {
        for (int i = 0; i < workers.size(); ++i)
            outstanding.push_back(std::make_unique<std::atomic<int>>(0));
        conns << QObject::connect(&body,
            qOverload<CtCalc2 *, bool, double, int, bool>(&Body::startCt), &body,
            [this](CtCalc2 *w, bool, double, int slice, bool) {
                // The worker may count its picture before this runs (the request reached it
                // first), so a fair hand-out leaves 0 or 1 here; 2 means the worker was
                // handed a slice while still at work on one.
                const int i = int(workers.indexOf(w));
                if (i < 0 || outstanding[size_t(i)]->fetch_add(1) + 1 > 1)
                    ++violations;
                slices << slice;
                used.insert(w);
                int others = 0;
                for (int j = 0; j < int(outstanding.size()); ++j)
                    others += j == i ? 0 : std::max(0, outstanding[size_t(j)]->load());
                maxOutstanding = std::max(maxOutstanding, others + 1);
                othersAtDispatch << others;
            });
        // A worker emits its picture before its report, so counting the picture on the worker's
        // own thread is sure to happen before the report can reach the window.
        body.ShowCalcRes->setChecked(true);
        for (int i = 0; i < workers.size(); ++i) {
            std::atomic<int> *o = outstanding[size_t(i)].get();
            std::atomic<int> *r = &reports;
            conns << QObject::connect(
                workers[i], &CtCalc2::ctImage, workers[i],
                [o, r] {
                    o->fetch_sub(1);
                    r->fetch_add(1);
                },
                Qt::DirectConnection);
        }
    }
    ~RunMonitor()
    {
        for (const auto &c : conns)
            QObject::disconnect(c);
    }

    QList<CtCalc2 *> workers;
    std::vector<std::unique_ptr<std::atomic<int>>> outstanding;
    std::atomic<int> reports { 0 };
    QList<int> slices;
    QList<int> othersAtDispatch; // slices other workers still had
    QSet<CtCalc2 *> used;
    int violations = 0;
    int maxOutstanding = 0;
    QList<QMetaObject::Connection> conns;
};

} // namespace

char *toString(const CtRegion &r)
{
    return QTest::toString(QString("(%1, %2, %3, %4)").arg(r.x0).arg(r.z0).arg(r.x1).arg(r.z1));
}

class TestBody : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void tabPages_data();
    void tabPages();
    void defaultWidgetStates_data();
    void defaultWidgetStates();
    void threadsFollowHardware();
    void additionalInfoFollowsItsBoxes();
    void closingEmitsFinishing();
    void embeddedTranslationLoads();
    void problemsShowInStatusLine();
    void fitsALaptopScreen_data();
    void fitsALaptopScreen();

    void loadsOneFilePerPass();
    void selectionDuringLoadJoinsIt_data();
    void selectionDuringLoadJoinsIt();
    void calcDuringLoadWaitsForIt();
    void setLargerThanMemoryIsRefused();
    void resetFlagsOnLoad_data();
    void resetFlagsOnLoad();
    void valuesSetBeforeFirstLoadSurvive_data();
    void valuesSetBeforeFirstLoadSurvive();
    void axisSwitchGivesItsDefaults_data();
    void axisSwitchGivesItsDefaults();
    void unreadableChoiceKeepsTheSet();
    void setTagStaysWithItsSet_data();
    void setTagStaysWithItsSet();
    void wheelScrollsUnlessFieldFocused_data();
    void wheelScrollsUnlessFieldFocused();
    void numberFieldsRefuseText_data();
    void numberFieldsRefuseText();
    void rawReadOutAndPointSelection();
    void regionsAreRelayed();
    void regionStateIsOneAndShown();
    void fixedColorScaleReachesEveryView();
    void i0FileNearestInEnergy();
    void i0FileEnergy_data();
    void i0FileEnergy();
    void flatOfAnotherSizeIsReported_data();
    void flatOfAnotherSizeIsReported();
    void i0CorrectionShiftsAttenuation_data();
    void i0CorrectionShiftsAttenuation();

    void ct1RunEndsOnce();
    void contrastPanelSetsTheScale();
    void keysReachTheirButtons_data();
    void keysReachTheirButtons();
    void batchRunWithoutImagesEnds();
    void ct2SingleSliceEndsAfterFirstReport();
    void hdf5WithOwnAngles();
    void flatsAndDarksOfTheFolder_data();
    void flatsAndDarksOfTheFolder();
    void sliceRange_data();
    void sliceRange();
    void unreconstructableSliceCounts_data();
    void unreconstructableSliceCounts();
    void rangeWithCt1SelectedUsesWorkers();
    void stopDuringRangeKeepsResults();
    void stopStopsWaitingBatch();
    void startWaitsForWorkersOfStoppedRun();
    void startWaitsForDataSetChosenBefore();
    void autoSavingWritesFolders_data();
    void autoSavingWritesFolders();
    void queuedRecordsKeepTheirRunsFolders();
    void volumeOfTheRun_data();
    void volumeOfTheRun();
    void closeDuringRunLosesNothing();
    void unsavedSlicesAsk_data();
    void controlsSayWhatTheyDo();
    void recentDataFolders();
    void unsavedSlicesAsk();

private:
    // A window with the measurement loaded, the rotation axis vertical.
    bool load(Body &body, const Measurement &m);
    void setRange(Body &body, int from, int to, int step, int threads);
    bool waitForIdle(Body &body);
    void saveDataTo(Body &body, const QString &dir, bool subFolders);
};

void TestBody::init()
{
    config.set("show_all_ct2_images", "0", "0");
}

void TestBody::cleanup()
{
    config.set("show_all_ct2_images", "0", "0");
    QCOMPARE(SavingData::liveCount(), 0);
    QCOMPARE(SavingImg::liveCount(), 0);
}

bool TestBody::load(Body &body, const Measurement &m)
{
    child<QRadioButton>(body.procCtrl, "RotAxV")->click();
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    body.CTFiles->handleChosenFiles(m.files);
    return loaded.wait(10000) && body.imgDatas->count() == m.files.size();
}

void TestBody::setRange(Body &body, int from, int to, int step, int threads)
{
    body.procCtrl->setSliceFrom(from);
    body.procCtrl->setSliceTo(to);
    body.procCtrl->setSliceStep(step);
    child<QSpinBox>(body.procCtrl, "Threads")->setValue(threads);
    child<QCheckBox>(body.procCtrl, "AutoExecCtCalc")->setChecked(true);
}

bool TestBody::waitForIdle(Body &body)
{
    QDeadlineTimer deadline(20000);
    while (body.workersInFlight() > 0 && !deadline.hasExpired())
        QTest::qWait(10);
    return body.workersInFlight() == 0;
}

void TestBody::saveDataTo(Body &body, const QString &dir, bool subFolders)
{
    body.SelectDataSaveDir->setFilePath(dir);
    body.SelectDataSaveDir->setName("scan");
    body.SelectDataSaveDir->setAddTag("t");
    body.SaveInSubFolders->setChecked(subFolders);
    body.setAutoSaveData(true);
}

void TestBody::unsavedSlicesAsk_data()
{
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("viaCalc"); // else by closing the window
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("goesOn"); // the window closed, or a new run began
    QTest::newRow("close, No keeps the window")
        << false << false << int(QMessageBox::No) << true << false;
    QTest::newRow("close, Yes closes") << false << false << int(QMessageBox::Yes) << true << true;
    QTest::newRow("close, saved slices: no question")
        << true << false << int(QMessageBox::No) << false << true;
    QTest::newRow("Calc, No starts nothing")
        << false << true << int(QMessageBox::No) << true << false;
    QTest::newRow("Calc, Yes starts the run")
        << false << true << int(QMessageBox::Yes) << true << true;
}

void TestBody::unsavedSlicesAsk()
{
    QFETCH(bool, saved);
    QFETCH(bool, viaCalc);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, goesOn);
    Measurement m;
    QVERIFY(m.make());
    QTemporaryDir out;
    Body body;
    QVERIFY(load(body, m));
    if (saved)
        saveDataTo(body, out.path(), false);
    setRange(body, 2, 5, 1, 2);
    body.ShowCalcRes->setChecked(true); // the slices kept in "CT Images"
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QVERIFY(finished.wait(30000));
    QVERIFY(waitForIdle(body));
    QTRY_COMPARE(body.ctDisp->count(), 4);

    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    bool questioned = false;
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            questioned = true;
            box->button(QMessageBox::StandardButton(answer))->click();
        }
    });
    answering.start(20);
    if (viaCalc) {
        body.CalcCT->click();
        QCOMPARE(body.calculating, goesOn);
        if (goesOn) {
            QVERIFY(finished.wait(30000));
            QVERIFY(waitForIdle(body));
        }
        QTRY_COMPARE(body.ctDisp->count(), 4); // the old slices, or the new run's four
    } else {
        body.close();
        QCOMPARE(!body.isVisible(), goesOn);
    }
    answering.stop();
    QCOMPARE(questioned, asked);
    if (!viaCalc && !goesOn)
        body.hide(); // hidden, the window is not asked again when it goes
}

void TestBody::controlsSayWhatTheyDo()
{
    // Every button, box, counter and slider of the control column and of the 3D view (with
    // its slice set panels) has a tool tip (number fields show their whole text in theirs).
    Body body;
    QStringList silent;
    for (QWidget *w :
        body.ctrlColumn->findChildren<QWidget *>() + body.ctView->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w)
            || qobject_cast<QAbstractSpinBox *>(w) || qobject_cast<QSlider *>(w);
        if (control && w->toolTip().isEmpty())
            silent << w->objectName();
    }
    QVERIFY2(silent.isEmpty(), qPrintable(silent.join(' ')));
}

void TestBody::recentDataFolders()
{
    // The settings of this test only: kept until the program ends, as QSettings keeps the path.
    static QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    Measurement m;
    QVERIFY(m.make(32, 4, 8));
    QTemporaryDir data;
    QStringList folders;
    for (const char *name : { "scan-a", "scan-b" }) {
        const QString dir = QDir(data.path()).absoluteFilePath(name);
        QVERIFY(QDir().mkpath(dir));
        for (const QString &f : std::as_const(m.files))
            QVERIFY(QFile::copy(f, QDir(dir).filePath(QFileInfo(f).fileName())));
        folders << dir;
    }
    Body body;
    auto texts = [&body] {
        QStringList t;
        for (QAction *a : body.recentDataMenu->actions())
            t << QString("%1%2").arg(a->text(), a->isEnabled() ? "" : " [off]");
        return t;
    };
    QCOMPARE(texts(), QStringList { "No data folder loaded yet [off]" });
    for (const QString &dir : std::as_const(folders)) {
        QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
        body.CTFiles->loadFromDir(dir, {});
        QVERIFY(loaded.wait(10000));
        QCOMPARE(body.imgDatas->count(), 8);
    }
    // Newest first.
    const QString a = QDir::toNativeSeparators(folders[0]);
    const QString b = QDir::toNativeSeparators(folders[1]);
    QCOMPARE(Places::recentData(), (QStringList { folders[1], folders[0] }));
    QCOMPARE(texts(), (QStringList { b, a }));

    // A folder that is gone is shown disabled; opening it drops it and says so.
    QVERIFY(QDir(folders[0]).removeRecursively());
    body.refreshRecentData();
    QCOMPARE(texts(), (QStringList { b, a + " (missing) [off]" }));
    QVERIFY(!body.openRecentData(folders[0]));
    QCOMPARE(Places::recentData(), QStringList { folders[1] });
    QVERIFY2(body.StatusLine->text().contains(a), qPrintable(body.StatusLine->text()));
    QCOMPARE(texts(), QStringList { b });

    // Choosing an entry loads it as "Data Select" does.
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    body.recentDataMenu->actions().first()->trigger();
    QVERIFY(loaded.wait(10000));
    QCOMPARE(body.imgDatas->count(), 8);
    QVERIFY(body.CTFiles->files().value(0).startsWith(folders[1]));

    // A file dialog opens where that dialog was last used, also in a later session.
    emit body.CTFiles->fileDialog()->filesSelected({ QDir(folders[1]).filePath("p-00000.img") });
    Body later;
    QCOMPARE(later.CTFiles->fileDialog()->directory().absolutePath(), folders[1]);
}

// ---- construction ------------------------------------------------------------------------

void TestBody::tabPages_data()
{
    QTest::addColumn<bool>("showAll");
    QTest::newRow("first worker's tab at 3") << false;
    QTest::newRow("a tab per worker") << true;
}

void TestBody::tabPages()
{
    QFETCH(bool, showAll);
    config.set("show_all_ct2_images", showAll ? "1" : "0", showAll ? "1" : "0");
    Body body;
    const int n = hardwareThreads();
    QStringList pages { "Raw Image", "Sinogram", "CT Reconstructed Image", "I0 Image", "BG Image",
        "CT Images", "3D View", "Spectrum" };
    QStringList titles { "Measured Raw Image", "Check Sinogram", "CT Reconstruction", "I0 Image",
        "BG Image", "CT images", "Reconstructed Body View", "Spectrum View" };
    if (showAll) {
        for (int k = 1; k <= n; ++k) {
            pages << QString("CT2 %1").arg(k);
            titles << QString("CT Calc2 %1").arg(k);
        }
    } else {
        pages.insert(3, "CT2");
        titles.insert(3, "CT Calc2 1");
    }
    pages << "CoR Sweep";
    titles << "Centre of Rotation Sweep";
    QStringList shown, shownTitles;
    for (int i = 0; i < body.ImgsTab->count(); ++i) {
        shown << body.ImgsTab->tabText(i);
        auto *base = qobject_cast<PopDockBase *>(body.ImgsTab->widget(i));
        if (!base)
            base = body.ImgsTab->widget(i)->findChild<PopDockBase *>();
        QVERIFY(base);
        shownTitles << base->popWindow()->windowTitle();
    }
    QCOMPARE(shown, pages);
    QCOMPARE(shownTitles, titles);
    QCOMPARE(body.ctCalc2s.size(), n);
    QCOMPARE(body.ctCalc2Uis.size(), n);
    // Each worker's tab holds its own view, in worker order.
    const int firstWorkerTab = showAll ? 8 : 3; // after the Spectrum tab
    for (int k = 0; k < (showAll ? n : 1); ++k)
        QVERIFY(body.ImgsTab->widget(firstWorkerTab + k)->isAncestorOf(body.ctCalc2Uis[k]));
    QCOMPARE(body.ImgsPopDocBase->widget(), body.ImgsTab);
    QCOMPARE(body.ImgsPopDocBase->popWindow()->windowTitle(), QString("Vexa2 Images"));
    QVERIFY(body.RawImgBase->isAncestorOf(body.rawDisp));
    QVERIFY(body.CtViewBase->isAncestorOf(body.ctView));
}

void TestBody::defaultWidgetStates_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("expected");
    auto row = [](const char *o, const char *p, const QVariant &v) {
        QTest::newRow(QByteArray(o).append('.').append(p).constData())
            << QString(o) << QByteArray(p) << v;
    };
    row("Body", "windowTitle", "Vexa2");
    row("SaveInSubFolders", "checked", true);
    row("SubOfEnergy", "checked", false);
    row("SubOfSlice", "checked", false);
    row("AutoSaveImage", "checked", false);
    row("AutoSaveData", "checked", false);
    row("AutoSaveTiff", "checked", false);
    row("DataUpperLimit", "text", "10");
    row("DataLowerLimit", "text", "-10");
    row("DataOffset", "text", "10");
    row("ColorMin", "text", "0");
    row("ColorMax", "text", "1");
    row("FixColorScale", "checked", false);
    row("SelectCt1", "checked", true);
    row("SelectCt2", "checked", false);
    row("CalcCT", "text", "Calc");
    row("CalcSpentT", "text", "0");
    row("ProgPerCent", "text", "0 %");
    row("CalcStartT", "readOnly", true);
    row("CalcCT", "styleSheet", IdleStyle);
    row("SeqCalc", "styleSheet", IdleStyle);
    row("Cont2DA", "styleSheet", IdleStyle);
    row("QLKIsBusy", "styleSheet", "background-color: rgb(211, 255, 241);");
    row("ShowAdditionalInfo", "text", "Show Additionl Info for CT XAFS");
    row("SaveInSubFolders", "toolTip",
        "When this option is selected but neither 'of Energy' nor 'of Slice' is selected, it "
        "works as if 'of Slice' is selected.W");
}

void TestBody::defaultWidgetStates()
{
    QFETCH(QString, object);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, expected);
    Body body;
    QObject *o = object == "Body" ? &body : body.findChild<QObject *>(object);
    QVERIFY(o);
    QCOMPARE(o->property(property.constData()), expected);
}

void TestBody::threadsFollowHardware()
{
    Body body;
    const int n = hardwareThreads();
    auto *threads = child<QSpinBox>(body.procCtrl, "Threads");
    QCOMPARE(threads->maximum(), n);
    QCOMPARE(threads->value(), std::max(threads->minimum(), int(n * 0.8)));
    QCOMPARE(child<QLabel>(body.procCtrl, "MaxThreads")->text(), QString("/%1").arg(n));
    for (QThread *t : body.ctCalc2Threads)
        QVERIFY(t->isRunning());
}

void TestBody::additionalInfoFollowsItsBoxes()
{
    Body body;
    QVERIFY(!body.AdditionalInfo->isVisibleTo(&body));
    QVERIFY(!body.ShowAdditionalAdditionalInfo->isVisibleTo(&body));
    QVERIFY(!body.AdditionalAdditionalInfo->isVisibleTo(&body));
    body.ShowAdditionalInfo->setChecked(true);
    QVERIFY(body.AdditionalInfo->isVisibleTo(&body));
    QVERIFY(body.ShowAdditionalAdditionalInfo->isVisibleTo(&body));
    body.ShowAdditionalAdditionalInfo->setChecked(true);
    QVERIFY(body.AdditionalAdditionalInfo->isVisibleTo(&body));
    body.ShowAdditionalInfo->setChecked(false);
    QVERIFY(!body.AdditionalInfo->isVisibleTo(&body));
    QCOMPARE(body.I0ofRawImage_->title(), QString("I0 of Raw Image"));
    QCOMPARE(body.I0ofI0Image_->title(), QString("I0 of I0 Image"));
}

void TestBody::closingEmitsFinishing()
{
    Body body;
    QSignalSpy spy(&body, &Body::finishing);
    body.show();
    body.resize(1, 1);
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    QVERIFY(body.close());
    QCOMPARE(spy.count(), 1);
    for (QThread *t : body.ctCalc2Threads)
        QVERIFY(t->isFinished());
    QVERIFY(body.dataSaverThread->isFinished());
    QVERIFY(body.batchThread->isFinished());
    QVERIFY(body.imgDatasThread->isFinished());
}

void TestBody::embeddedTranslationLoads()
{
    QTranslator tr;
    QVERIFY(tr.load(":Vexa2_ja_JP", QCoreApplication::applicationDirPath()));
    for (const char *text : { "Vexa2 Images", "Measured Raw Image" }) {
        const QString ja = tr.translate("Body", text);
        QVERIFY(!ja.isEmpty());
        QVERIFY(ja != text);
    }
}

void TestBody::problemsShowInStatusLine()
{
    Failures::instance().reset();
    Body body;
    QVERIFY(body.StatusLine->text().isEmpty());
    // Recorded on another thread, as workers and the saver do.
    std::thread([] {
        recordFailure(Failures::Load, "Cannot read /data/a-00001.img", true);
        recordFailure(Failures::FileWrite, "Cannot write /out/slice-00005.dat", true);
    }).join();
    QTRY_VERIFY(body.StatusLine->text().contains("Cannot write /out/slice-00005.dat"));
    QVERIFY(body.StatusLine->text().contains("2"));
    QCOMPARE(body.StatusLine->toolTip(),
        QString("Cannot read /data/a-00001.img\nCannot write /out/slice-00005.dat"));
    Failures::instance().reset();
}

void TestBody::fitsALaptopScreen_data()
{
    QTest::addColumn<bool>("japanese");
    QTest::newRow("English") << false;
    QTest::newRow("Japanese") << true;
}

// A 1366 x 768 screen less a title bar and a desktop panel must hold the whole window with
// the CT-XAFS frames open.
void TestBody::fitsALaptopScreen()
{
    QFETCH(bool, japanese);
    QTranslator translator;
    if (japanese)
        QVERIFY(installJapanese(*QCoreApplication::instance(), translator));
    {
        Body body;
        body.ShowAdditionalInfo->setChecked(true);
        body.ShowAdditionalAdditionalInfo->setChecked(true);
        body.show();
        body.resize(1, 1);
        QVERIFY(QTest::qWaitForWindowExposed(&body));
        if (japanese) {
            QVERIFY(body.CalcStartLabel->text() != "Start");
            // The toolkit's own dialogs speak Japanese too.
            QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"),
                QString::fromUtf8("キャンセル"));
        }
        QVERIFY(body.AdditionalAdditionalInfo->isVisible());
        // The control column scrolls only up and down: at the smallest size nothing of it
        // is cut off at the side.
        QTRY_VERIFY(
            body.ctrlScroll->viewport()->width() >= body.ctrlColumn->minimumSizeHint().width());
        const QSize min = body.minimumSizeHint().expandedTo(body.minimumSize());
        QVERIFY2(min.width() <= 1366 && min.height() <= 700,
            qPrintable(QString("minimum %1 x %2").arg(min.width()).arg(min.height())));
    }
    QCoreApplication::removeTranslator(&translator);
}

// ---- loading -----------------------------------------------------------------------------

void TestBody::loadsOneFilePerPass()
{
    Measurement m;
    QVERIFY(m.make(64, 12, 8));
    QTemporaryDir bad;
    QFile junk(bad.filePath("junk.img"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a camera file");
    junk.close();
    QStringList files = m.files;
    files.insert(3, junk.fileName());

    Body body;
    Failures::instance().reset();
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    body.CTFiles->handleChosenFiles(files);
    QCOMPARE(body.imgDatas->count(), 0); // nothing is read before the event loop runs
    int passes = 0;
    int previous = 0;
    while (loaded.isEmpty() && passes < 100) {
        QCoreApplication::processEvents();
        ++passes;
        QVERIFY(body.imgDatas->count() - previous <= 1);
        previous = body.imgDatas->count();
    }
    QCOMPARE(loaded.count(), 1);
    QVERIFY(passes >= files.size());
    QCOMPARE(body.imgDatas->count(), m.files.size());
    QCOMPARE(body.CTFiles->files(), m.files);
    QCOMPARE(body.seekCtrl->maximum(), m.files.size() - 1);
    QCOMPARE(body.procCtrl->dataSetImages(), m.files.size());
    QVERIFY(!body.rawDisp->img.isNull());

    // The refused file is named once; the set is marked incomplete and no run starts on it.
    const QString incomplete
        = "The image set is incomplete: 1 of 9 files could not be read (junk.img: unknown file "
          "type)";
    QCOMPARE(Failures::instance().messages().count(incomplete), 1);
    QCOMPARE(Failures::instance().count(Failures::Load), 1); // one bad file, one failure
    QLabel *count = child<QLabel>(body.CTFiles, "Count");
    QCOMPARE(count->text(), QString("8 / 9"));
    QVERIFY(count->styleSheet().contains("255, 0, 0"));
    QSignalSpy finished(&body, &Body::calcFinished);
    const int loadFailures = Failures::instance().count(Failures::Load);
    body.CalcCT->click();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!body.calculating);
    QCOMPARE(Failures::instance().count(Failures::Load), loadFailures + 1);
    QCOMPARE(Failures::instance().last(), incomplete + "; no run started");

    // "Clear" empties the set too: the same files added again make a set of their own size.
    child<QPushButton>(body.CTFiles, "Clear")->click();
    body.CTFiles->setLoadNewFiles(false);
    body.CTFiles->handleChosenFiles(m.files);
    QVERIFY(loaded.wait(10000));
    QCOMPARE(body.imgDatas->count(), m.files.size());
    QVERIFY(body.imgDatas->isComplete());
    QCOMPARE(body.procCtrl->dataSetImages(), m.files.size());
    QCOMPARE(count->text(), QString::number(m.files.size()));
}

void TestBody::selectionDuringLoadJoinsIt_data()
{
    QTest::addColumn<bool>("newFiles");
    QTest::addColumn<bool>("atLastPass");
    QTest::newRow("New: the second selection replaces the first") << true << false;
    QTest::newRow("Add: both selections are loaded") << false << false;
    QTest::newRow("Add, as the last pass ends") << false << true;
}

void TestBody::selectionDuringLoadJoinsIt()
{
    QFETCH(bool, newFiles);
    QFETCH(bool, atLastPass);
    Measurement m;
    QVERIFY(m.make(64, 12, 8));
    const QStringList first = m.files.mid(0, 5);
    const QStringList second = m.files.mid(5);
    Body body;
    body.CTFiles->setLoadNewFiles(newFiles);
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    bool chosen = false;
    auto chooseSecond = [&] {
        if (!std::exchange(chosen, true))
            body.CTFiles->handleChosenFiles(second);
    };
    if (atLastPass)
        connect(&body, &Body::noticeFinishedLoadDataFiles, &body, chooseSecond);
    body.CTFiles->handleChosenFiles(first);
    if (!atLastPass) {
        QTRY_COMPARE(body.imgDatas->count(), 1);
        chooseSecond();
    }
    QVERIFY(loaded.wait(10000));
    QTest::qWait(50);
    QVERIFY(chosen);
    QCOMPARE(loaded.count(), 1); // one load, one end: a batch or a sequence waits for it
    const QStringList expected = newFiles ? second : m.files;
    QCOMPARE(body.CTFiles->files(), expected);
    QCOMPARE(body.imgDatas->count(), expected.size());
    QCOMPARE(body.procCtrl->dataSetImages(), expected.size());
}

void TestBody::calcDuringLoadWaitsForIt()
{
    Measurement m;
    QVERIFY(m.make(64, 12, 36));
    Body body;
    child<QRadioButton>(body.procCtrl, "RotAxV")->click();
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CTFiles->handleChosenFiles(m.files);
    QTRY_VERIFY(body.imgDatas->count() > 0);
    QVERIFY(body.imgDatas->count() < m.files.size());
    body.CalcCT->click();
    QVERIFY(body.calculating);
    QVERIFY(finished.wait(20000));
    QCOMPARE(loaded.count(), 1);
    // The run saw the whole measurement, not the part read when "Calc" was pressed.
    QCOMPARE(body.ctParams.dataSetImages, m.files.size());
    QCOMPARE(body.ctCalc->projections, m.files.size());
}

void TestBody::setLargerThanMemoryIsRefused()
{
    // 400 images of 1024 x 1024 16-bit pixels (800 MB) where 300 MB are left.
    QTemporaryDir tmp;
    const QString file = tmp.filePath("p.img");
    const std::vector<quint16> px(1024 * 1024, 100);
    QVERIFY(writeItexFile(file, 1024, 1024, 2, px.data()));
    Body body;
    Failures::instance().reset();
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    {
        AddressSpaceLimit limit(300);
        if (!limit.active)
            QSKIP("the address space cannot be limited here (sanitizer build)");
        body.CTFiles->handleChosenFiles(QStringList(400, file));
        QVERIFY(loaded.wait(10000));
    }
    QCOMPARE(body.imgDatas->count(), 0);
    QCOMPARE(body.CTFiles->count(), 0);
    QCOMPARE(Failures::instance().count(Failures::Memory), 1);
    const QRegularExpression refusal("^The image set needs about \\d+ MB of memory \\(400 images "
                                     "of 1024 x 1024 pixels and \\d+ workers\\), but only \\d+ MB "
                                     "are available; the set is not loaded$");
    const QRegularExpressionMatch first = refusal.match(Failures::instance().last());
    QVERIFY2(first.hasMatch(), qPrintable(Failures::instance().last()));

    // With ring removal each worker holds one more sinogram: the estimate grows.
    body.procCtrl->setRingRemoval(3);
    {
        AddressSpaceLimit limit(300);
        body.CTFiles->handleChosenFiles(QStringList(400, file));
        QVERIFY(loaded.wait(10000));
    }
    const QRegularExpression needed("needs about (\\d+) MB");
    const int before = needed.match(first.captured(0)).captured(1).toInt();
    const int after = needed.match(Failures::instance().last()).captured(1).toInt();
    QVERIFY2(after > before, qPrintable(QString("%1 -> %2 MB").arg(before).arg(after)));
}

void TestBody::resetFlagsOnLoad_data()
{
    QTest::addColumn<bool>("keepOnFirst");
    QTest::addColumn<bool>("keepOnSecond");
    QTest::addColumn<bool>("secondKeeps");
    QTest::newRow("keep checked: first applies, second keeps") << true << true << true;
    QTest::newRow("keep unchecked: both apply") << false << false << false;
    QTest::newRow("keep checked only later") << false << true << true;
}

void TestBody::resetFlagsOnLoad()
{
    QFETCH(bool, keepOnFirst);
    QFETCH(bool, keepOnSecond);
    QFETCH(bool, secondKeeps);
    Measurement m;
    QVERIFY(m.make(64, 12, 6));
    Body body;
    body.CTFiles->setKeepConditions(keepOnFirst);
    QVERIFY(load(body, m));
    // Vertical axis: slices are rows.
    QCOMPARE(body.procCtrl->slice(), 6);
    QCOMPARE(body.procCtrl->sliceTo(), 11);
    QCOMPARE(body.procCtrl->cor(), 32.0);
    QCOMPARE(body.ctCalc->cr(), (CtRegion { 0, 0, 63, 63 }));
    for (CtCalc2Ui *v : body.ctCalc2Uis) {
        QCOMPARE(v->cr(), (CtRegion { 0, 0, 63, 63 }));
        QCOMPARE(v->dr(), (CtRegion { 0, 0, 63, 63 }));
    }

    body.procCtrl->setSliceNo(2);
    body.procCtrl->setSliceTo(9);
    body.procCtrl->setCor(30.25);
    body.ctCalc->setCR(1, 2, 40, 41);
    body.CTFiles->setKeepConditions(keepOnSecond);
    QVERIFY(load(body, m));
    QCOMPARE(body.procCtrl->slice(), secondKeeps ? 2 : 6);
    QCOMPARE(body.procCtrl->sliceTo(), secondKeeps ? 9 : 11);
    QCOMPARE(body.procCtrl->cor(), secondKeeps ? 30.25 : 32.0);
    QCOMPARE(
        body.ctCalc->cr(), secondKeeps ? (CtRegion { 1, 2, 40, 41 }) : (CtRegion { 0, 0, 63, 63 }));
    QCOMPARE(body.ctCalc2Uis.first()->cr(), body.ctCalc->cr());
    // What the defaults replaced is said on the status line, not only in the log.
    const QString replaced = "The new set of 64 x 12 images replaces what you set: slice range "
                             "0...9 -> 0...11, slice 2 -> 6, CoR 30.25 -> 32, region (1, 2, 40, "
                             "41) -> (0, 0, 63, 63)";
    QCOMPARE(body.StatusLine->text() == replaced, !secondKeeps);
}

void TestBody::valuesSetBeforeFirstLoadSurvive_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("keep Conds. checked") << true;
    QTest::newRow("keep Conds. unchecked") << false;
}

void TestBody::valuesSetBeforeFirstLoadSurvive()
{
    QFETCH(bool, keep);
    Measurement m;
    QVERIFY(m.make(64, 12, 6));
    Body body;
    body.CTFiles->setKeepConditions(keep);
    body.setProcCor(20.5);
    body.setProcSliceTo(8);
    QVERIFY(load(body, m));
    QCOMPARE(body.procCtrl->cor(), 20.5);
    QCOMPARE(body.procCtrl->sliceTo(), 8);
    QCOMPARE(body.procCtrl->slice(), 6); // not set beforehand: the default applies

    // The next load: a value set by a command in between survives it as well; the others
    // get their defaults again unless "keep Conds." is checked.
    body.setProcCor(25.25);
    body.procCtrl->setSliceTo(5);
    QVERIFY(load(body, m));
    QCOMPARE(body.procCtrl->cor(), 25.25);
    QCOMPARE(body.procCtrl->sliceTo(), keep ? 5 : 11);
}

void TestBody::axisSwitchGivesItsDefaults_data()
{
    QTest::addColumn<bool>("toV"); // loaded with the other axis, then switched to this one
    QTest::addColumn<int>("slice");
    QTest::addColumn<int>("sliceTo");
    QTest::addColumn<double>("cor");
    QTest::addColumn<double>("edge");
    // 64 x 12 images: a vertical axis has 12 slices of 64 pixels, a horizontal one 64 of 12.
    QTest::newRow("H to V") << true << 6 << 11 << 32.0 << 63.0;
    QTest::newRow("V to H") << false << 32 << 63 << 6.0 << 11.0;
}

void TestBody::axisSwitchGivesItsDefaults()
{
    QFETCH(bool, toV);
    QFETCH(int, slice);
    QFETCH(int, sliceTo);
    QFETCH(double, cor);
    QFETCH(double, edge);
    Measurement m;
    QVERIFY(m.make(64, 12, 6));
    Body body;
    child<QRadioButton>(body.procCtrl, toV ? "RotAxH" : "RotAxV")->click();
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    body.CTFiles->handleChosenFiles(m.files);
    QVERIFY(loaded.wait(10000));
    // Values the user set for the first axis do not carry over to the other.
    body.procCtrl->setCor(3.5);
    body.ctCalc->setCR(1, 1, 5, 5);
    child<QRadioButton>(body.procCtrl, toV ? "RotAxV" : "RotAxH")->click();
    QCOMPARE(body.procCtrl->rotAxIsV(), toV);
    QCOMPARE(body.procCtrl->slice(), slice);
    QCOMPARE(body.procCtrl->sliceFrom(), 0);
    QCOMPARE(body.procCtrl->sliceTo(), sliceTo);
    QCOMPARE(body.procCtrl->cor(), cor);
    const CtRegion whole { 0, 0, edge, edge };
    QCOMPARE(body.ctCalc->cr(), whole);
    for (CtCalc2Ui *v : body.ctCalc2Uis) {
        QCOMPARE(v->cr(), whole);
        QCOMPARE(v->dr(), whole);
    }
    QCOMPARE(body.RegionState->text(), QString("Region: whole"));
    QVERIFY2(body.StatusLine->text().startsWith(
                 QString("Rotation axis %1: slice %2").arg(toV ? "V" : "H").arg(slice)),
        qPrintable(body.StatusLine->text()));
    // The same as a first load with that axis gives.
    Body fresh;
    child<QRadioButton>(fresh.procCtrl, toV ? "RotAxV" : "RotAxH")->click();
    QSignalSpy freshLoaded(&fresh, &Body::finishedLoadingCTFiles);
    fresh.CTFiles->handleChosenFiles(m.files);
    QVERIFY(freshLoaded.wait(10000));
    QCOMPARE(fresh.procCtrl->slice(), body.procCtrl->slice());
    QCOMPARE(fresh.procCtrl->sliceTo(), body.procCtrl->sliceTo());
    QCOMPARE(fresh.procCtrl->cor(), body.procCtrl->cor());
    QCOMPARE(fresh.ctCalc->cr(), body.ctCalc->cr());
}

void TestBody::unreadableChoiceKeepsTheSet()
{
    Measurement m;
    QVERIFY(m.make(64, 12, 8));
    Body body;
    QVERIFY(load(body, m));
    body.procCtrl->setCor(30.25);
    QTemporaryDir tmp;
    QFile text(tmp.filePath("notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not an image\n");
    text.close();
    QVERIFY(body.CTFiles->loadNewFiles());
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    body.CTFiles->handleChosenFiles({ text.fileName() });
    QTest::qWait(100); // the clear that would have followed the choice has its pass
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(body.imgDatas->count(), m.files.size());
    QCOMPARE(body.CTFiles->files(), m.files);
    QCOMPARE(body.procCtrl->dataSetImages(), m.files.size());
    QCOMPARE(body.procCtrl->cor(), 30.25);
    QVERIFY2(body.StatusLine->text().contains("the loaded set of 8 images stays"),
        qPrintable(body.StatusLine->text()));
    QVERIFY(body.StatusLine->text().contains("notes.txt: unknown file type"));

    // A readable choice replaces it; the CoR the user set gives way to the new set's default,
    // and the status line says so.
    body.CTFiles->setKeepConditions(false);
    QVERIFY(load(body, m));
    QCOMPARE(body.procCtrl->cor(), 32.0);
    QVERIFY2(
        body.StatusLine->text().contains("CoR 30.25 -> 32"), qPrintable(body.StatusLine->text()));
}

void TestBody::setTagStaysWithItsSet_data()
{
    QTest::addColumn<QString>("typed"); // a tag the user types after the set's load
    QTest::addColumn<QString>("after"); // the tag once other files are chosen
    QTest::newRow("the set's tag goes") << QString() << QString();
    QTest::newRow("a tag of the user's stays") << "mine"
                                               << "mine";
}

void TestBody::setTagStaysWithItsSet()
{
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QTemporaryDir dir;
    QDir root(dir.path());
    QVERIFY(root.mkpath("sets/09020_0eV"));
    const std::vector<quint16> pixels(8 * 4, 1000);
    for (int i = 0; i < 3; ++i)
        QVERIFY(writeItexFile(
            root.filePath(QString("sets/09020_0eV/p-%1.img").arg(i)), 8, 4, 2, pixels.data(), 1.0));
    Measurement other;
    QVERIFY(other.make(8, 4, 3));

    Body body;
    body.SelDDir->setPattern("*.img");
    body.SelDDir->setDataDir(root.filePath("sets"));
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    body.SelDDir->setFirstSet(0);
    QVERIFY(loaded.wait(5000));
    QCOMPARE(body.SelectDataSaveDir->addTag(), QString("09020_0eV"));
    if (!typed.isEmpty()) {
        body.SelectDataSaveDir->setAddTag(typed);
        body.SelectImageSaveDir->setAddTag(typed);
    }
    body.CTFiles->handleChosenFiles(other.files);
    QVERIFY(loaded.wait(5000));
    QCOMPARE(body.SelectDataSaveDir->addTag(), after);
    QCOMPARE(body.SelectImageSaveDir->addTag(), after);
    if (typed.isEmpty())
        QVERIFY2(
            body.StatusLine->text().contains("09020_0eV"), qPrintable(body.StatusLine->text()));
    // The next set of the list brings its tag again.
    body.SelDDir->setFirstSet(0);
    QVERIFY(loaded.wait(5000));
    QCOMPARE(body.SelectDataSaveDir->addTag(), QString("09020_0eV"));
}

void TestBody::wheelScrollsUnlessFieldFocused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<int>("delta"); // one notch toward the field's next value
    QTest::newRow("Filter") << "Filter" << QByteArray("currentIndex") << -120;
    QTest::newRow("Ring removal") << "RingRemoval" << QByteArray("value") << 120;
    QTest::newRow("I0 file set") << "SelI0Files" << QByteArray("currentIndex") << -120;
    QTest::newRow("Seq. To") << "SeqCalcTo" << QByteArray("value") << 120;
}

void TestBody::wheelScrollsUnlessFieldFocused()
{
    QFETCH(QString, field);
    QFETCH(QByteArray, property);
    QFETCH(int, delta);
    Body body;
    body.ShowAdditionalInfo->setChecked(true);
    body.ShowAdditionalAdditionalInfo->setChecked(true);
    body.SelI0Files->appendFile("/d/I0-08950eV-00001.img");
    body.SelI0Files->appendFile("/d/I0-09000eV-00001.img");
    body.SeqCalcTo->setMaximum(5);
    body.resize(1200, 500);
    body.show();
    QVERIFY(QTest::qWaitForWindowActive(&body));
    QWidget *w = body.findChild<QWidget *>(field);
    if (field == "SelI0Files")
        w = child<QComboBox>(w, "Selected");
    QVERIFY(w);
    QScrollBar *bar = body.ctrlScroll->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    // Room to scroll the way the wheel turns.
    bar->setValue(delta < 0 ? 0 : bar->maximum());
    const QVariant before = w->property(property);
    body.CalcCT->setFocus();
    disptest::wheel(w, QPoint(5, 5), delta);
    QCOMPARE(w->property(property), before);
    QVERIFY(bar->value() != (delta < 0 ? 0 : bar->maximum()));
    // Clicked into, the field takes the wheel.
    w->setFocus();
    QVERIFY(w->hasFocus());
    const int scrolled = bar->value();
    disptest::wheel(w, QPoint(5, 5), delta);
    QVERIFY(w->property(property) != before);
    QCOMPARE(bar->value(), scrolled);
}

void TestBody::numberFieldsRefuseText_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept"); // the field's text once the user has left it
    QTest::addColumn<int>("slice");
    QTest::addColumn<double>("cor");
    QTest::addColumn<QString>("said"); // on the status line; empty for nothing
    // Loaded: slices 0 ... 11, slice 6, CoR 32.
    // Keys that cannot make a number are not taken at all.
    QTest::newRow("letters in Slice") << "SliceNo"
                                      << "abc"
                                      << "6" << 6 << 32.0 << "";
    QTest::newRow("slice outside the set")
        << "SliceNo"
        << "999"
        << "6" << 6 << 32.0 << "Slice: 999 is not taken, the set has slices 0 ... 11; it stays 6";
    QTest::newRow("slice in the set") << "SliceNo"
                                      << "9"
                                      << "9" << 9 << 32.0 << "";
    QTest::newRow("letter after the CoR") << "Cor"
                                          << "12x"
                                          << "12" << 6 << 12.0 << "";
    QTest::newRow("sign alone in the CoR")
        << "Cor"
        << "-"
        << "32" << 6 << 32.0 << "CoR: \"-\" is not a number; it stays 32";
    QTest::newRow("exponent in the CoR") << "Cor"
                                         << "3.1e1"
                                         << "3.1e1" << 6 << 31.0 << "";
    QTest::newRow("letters in Min") << "ColorMin"
                                    << "abc"
                                    << "0" << 6 << 32.0 << "";
    QTest::newRow("sign alone in Min")
        << "ColorMin"
        << "-"
        << "0" << 6 << 32.0 << "\"-\" is not a number; the field keeps 0";
}

void TestBody::numberFieldsRefuseText()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QFETCH(int, slice);
    QFETCH(double, cor);
    QFETCH(QString, said);
    Measurement m;
    QVERIFY(m.make(64, 12, 6));
    Body body;
    QVERIFY(load(body, m));
    body.show();
    QVERIFY(QTest::qWaitForWindowActive(&body));
    body.StatusLine->clear();
    auto *edit = body.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    // While the text is no number it shows red, and nothing takes it.
    QCOMPARE(edit->styleSheet().contains("255, 192, 192"), !said.isEmpty());
    body.CalcCT->setFocus();
    QCOMPARE(edit->text(), kept);
    QVERIFY(!edit->styleSheet().contains("255, 192, 192"));
    QCOMPARE(body.procCtrl->slice(), slice);
    QCOMPARE(body.procCtrl->cor(), cor);
    QCOMPARE(body.StatusLine->text(), said);
}

void TestBody::rawReadOutAndPointSelection()
{
    Measurement m;
    QVERIFY(m.make(64, 12, 6));
    Body body;
    QVERIFY(load(body, m));
    // Fields the program filled show the start of their text, and the whole of it as a tip.
    for (const QLineEdit *e : body.findChildren<QLineEdit *>()) {
        if (qobject_cast<QAbstractSpinBox *>(e->parentWidget()) || e->text().isEmpty())
            continue;
        QVERIFY2(e->cursorPosition() == 0, qPrintable(e->objectName()));
    }
    QCOMPARE(child<QLineEdit>(body.procCtrl, "Cor")->toolTip(), QString("32"));
    body.seekCtrl->setIndex(2);
    auto reader = CtTestData::loadReader(m.files.at(2));
    QVERIFY(reader);
    std::vector<double> row(64);
    const double expected = reader->hLine(5, row.data())[17];
    auto *val = child<QLineEdit>(body.rawDisp, "Val");
    body.rawDisp->noticedNewPos(17, 5);
    QCOMPARE(val->text(), QString::number(expected, 'g', 6));
    QVERIFY(expected != 0.0);
    body.rawDisp->noticedNewPos(64, 5);
    QCOMPARE(val->text(), QString("0"));
    body.rawDisp->noticedNewPos(3, -1);
    QCOMPARE(val->text(), QString("0"));

    // Vertical axis: a left click picks the row as slice, a right click the column as CoR.
    emit body.rawDisp->selectedAPoint(10.7, 4.9, MouseC::Left);
    QCOMPARE(body.procCtrl->slice(), 4);
    emit body.rawDisp->selectedAPoint(30.5, 2.0, MouseC::Right);
    QCOMPARE(body.procCtrl->cor(), 30.5);
    emit body.rawDisp->selectedAPoint(1.0, 1.0, MouseC::LeftShift);
    QCOMPARE(body.procCtrl->slice(), 4);
    QCOMPARE(body.procCtrl->cor(), 30.5);
    // A click below the last line is no slice of the set.
    emit body.rawDisp->selectedAPoint(10.0, 40.2, MouseC::Left);
    QCOMPARE(body.procCtrl->slice(), 4);
    QCOMPARE(body.StatusLine->text(),
        QString("Slice 40 lies outside the set (0 ... 11): the slice stays 4"));

    // A completed selection gives the regions and the slice range when the picture is drawn.
    body.rawDisp->sel = QRectF(8, 2, 20, 5);
    body.rawDisp->selValid = true;
    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    body.ImgsTab->setCurrentIndex(0);
    body.rawDisp->dispB()->repaint();
    QCOMPARE(body.ctCalc->cr(), (CtRegion { 8, 8, 28, 28 }));
    QCOMPARE(body.ctCalc2Uis.last()->dr(), (CtRegion { 8, 8, 28, 28 }));
    QCOMPARE(body.procCtrl->sliceFrom(), 2);
    QCOMPARE(body.procCtrl->sliceTo(), 7);
    // The window's overlay draws the finished selection in yellow-green; the display's own
    // red outline is not drawn on top of it.
    const QImage shown = body.rawDisp->dispB()->grab().toImage();
    int red = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            red += shown.pixel(x, y) == qRgb(255, 0, 0);
    QCOMPARE(red, 0);

    // A range typed by the user ends the selection's hold on it.
    auto *from = child<QLineEdit>(body.procCtrl, "SliceFrom");
    from->selectAll();
    QTest::keyClicks(from, "5");
    QTest::keyClick(from, Qt::Key_Return);
    body.rawDisp->dispB()->repaint();
    QCOMPARE(body.procCtrl->sliceFrom(), 5);
    QVERIFY(!body.rawDisp->selValid);
}

void TestBody::regionsAreRelayed()
{
    Body body;
    body.ctCalc->setCR(1, 2, 30, 31);
    for (CtCalc2Ui *v : body.ctCalc2Uis)
        QCOMPARE(v->cr(), (CtRegion { 1, 2, 30, 31 }));
    body.ctCalc2Uis.first()->setDR(4, 5, 20, 21);
    QCOMPARE(body.ctCalc->dr(), (CtRegion { 4, 5, 20, 21 }));
    for (CtCalc2Ui *v : body.ctCalc2Uis)
        QCOMPARE(v->dr(), (CtRegion { 4, 5, 20, 21 }));
}

void TestBody::regionStateIsOneAndShown()
{
    Measurement m;
    QVERIFY(m.make(64, 12, 6));
    Body body;
    QVERIFY(load(body, m));
    const CtRegion whole { 0, 0, 63, 63 };
    QCOMPARE(body.RegionState->text(), QString("Region: whole"));
    QVERIFY(!body.RegionReset->isEnabled());
    auto type = [](QWidget *view, const char *name, const QString &v) {
        auto *e = child<QLineEdit>(view, name);
        e->setText(v);
        emit e->editingFinished();
    };
    // A region typed into the worker view is the single-slice panel's as well.
    type(body.ctCalc2Uis.first(), "Crx0", "8");
    QCOMPARE(body.ctCalc->cr(), (CtRegion { 8, 0, 63, 63 }));
    QCOMPARE(body.RegionState->text(), QString("Region: 8 0 63 63"));
    QVERIFY(body.RegionReset->isEnabled());
    // "Whole" gives every view the whole slice back.
    body.RegionReset->click();
    QCOMPARE(body.ctCalc->cr(), whole);
    for (CtCalc2Ui *v : body.ctCalc2Uis)
        QCOMPARE(v->cr(), whole);
    QCOMPARE(body.RegionState->text(), QString("Region: whole"));

    // Set apart, CT1 keeps a region of its own, and the state shows both.
    body.RegionsApart->setChecked(true);
    type(body.ctCalc, "Crz1", "40");
    QCOMPARE(body.ctCalc->cr(), (CtRegion { 0, 0, 63, 40 }));
    QCOMPARE(body.ctCalc2Uis.first()->cr(), whole);
    QCOMPARE(body.RegionState->text(), QString("Region CT1: 0 0 63 40, CT2: whole"));
    // Together again, CT1 takes the region the workers save.
    body.RegionsApart->setChecked(false);
    QCOMPARE(body.ctCalc->cr(), whole);

    // A selection on the raw image sets the region; removing it gives the whole slice back.
    body.rawDisp->sel = QRectF(8, 2, 20, 5);
    body.rawDisp->selValid = true;
    body.show();
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    body.ImgsTab->setCurrentIndex(0);
    body.rawDisp->dispB()->repaint();
    QCOMPARE(body.RegionState->text(), QString("Region: 8 8 28 28"));
    disptest::press(body.rawDisp->dispB(), QPoint(10, 10), Qt::RightButton, Qt::ShiftModifier);
    disptest::release(body.rawDisp->dispB(), QPoint(10, 10), Qt::RightButton, Qt::ShiftModifier);
    body.rawDisp->dispB()->repaint();
    QCOMPARE(body.ctCalc->cr(), whole);
    QCOMPARE(body.ctCalc2Uis.last()->dr(), whole);
    QCOMPARE(body.RegionState->text(), QString("Region: whole"));
    QVERIFY(body.StatusLine->text().startsWith("Selection removed"));
}

void TestBody::fixedColorScaleReachesEveryView()
{
    Body body;
    body.setColorMin(-0.5);
    body.setColorMax(2.25);
    QCOMPARE(body.ColorMax->text(), QString("2.25"));
    body.setFixColorScale(true);
    QList<ColorBar *> bars { body.ctCalc->display()->colorBar() };
    for (CtCalc2Ui *v : body.ctCalc2Uis)
        bars << v->display()->colorBar();
    for (ColorBar *b : bars) {
        QVERIFY(b->fixedScale());
        QCOMPARE(b->vMin, -0.5);
        QCOMPARE(b->vMax, 2.25);
    }
    body.ColorMin->setText("abc");
    emit body.ColorMin->editingFinished();
    for (ColorBar *b : bars)
        QCOMPARE(b->vMin, 0.0);
    body.setFixColorScale(false);
    for (ColorBar *b : bars)
        QVERIFY(!b->fixedScale());
}

void TestBody::i0FileEnergy_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("energy");
    QTest::newRow("keV") << "/d/I0-7_112keV-00001.img" << 7112.0;
    QTest::newRow("KEV") << "/d/I0-7_5KEV-00001.img" << 7500.0;
    QTest::newRow("eV") << "/d/I0-7112eV-00001.img" << 7112.0;
    QTest::newRow("folder hyphen") << "/d-x/I0-8980-1.img" << 8980.0;
    QTest::newRow("no hyphen") << "/d/I0_7112.img" << 0.0;
}

void TestBody::i0FileEnergy()
{
    QFETCH(QString, path);
    QFETCH(double, energy);
    QCOMPARE(Body::energyOfI0File(path), energy);
}

void TestBody::i0FileNearestInEnergy()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::vector<quint16> pixels(8 * 4, 1000);
    QStringList i0Files;
    for (const char *name :
        { "I0-7_100keV-00001.img", "I0-7_120keV-00001.img", "I0-7_121keV-00001.img" }) {
        i0Files << dir.filePath(name);
        QVERIFY(writeItexFile(i0Files.last(), 8, 4, 2, pixels.data(), 1.0));
    }
    // Two data sets, sub-folders named by their energy.
    QDir root(dir.path());
    QVERIFY(root.mkpath("sets/7_119keV"));
    QVERIFY(root.mkpath("sets/7_101keV"));
    for (const char *set : { "sets/7_119keV", "sets/7_101keV" })
        for (int i = 0; i < 3; ++i)
            QVERIFY(writeItexFile(root.filePath(QString("%1/p-%2.img").arg(set).arg(i)), 8, 4, 2,
                pixels.data(), 1.0));

    Body body;
    body.SelI0Files->handleChosenFiles(i0Files);
    QCOMPARE(body.SelI0Files->files(), i0Files);
    QCOMPARE(body.i0Energies, (QList<double> { 7100, 7120, 7121 }));
    body.SelDDir->setPattern("*.img");
    body.SelDDir->setDataDir(root.filePath("sets"));
    QCOMPARE(body.SelDDir->count(), 2);
    QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
    for (int idx = 0; idx < 2; ++idx) {
        body.SelDDir->setFirstSet(idx);
        QVERIFY(loaded.wait(5000));
        const QString setName = body.SelDDir->currentSetName();
        // 7101 eV is nearest to 7100; 7119 eV to 7120 (the tie-free nearest, not 7121).
        QCOMPARE(body.I0ImgSel->filePath(), setName == "7_101keV" ? i0Files[0] : i0Files[1]);
        QCOMPARE(body.SelectDataSaveDir->addTag(), setName);
        QCOMPARE(body.SelectImageSaveDir->addTag(), setName);
        QCOMPARE(body.imgDatas->count(), 3);
        QVERIFY(body.CTFiles->files().first().contains(setName));
    }
}

void TestBody::flatOfAnotherSizeIsReported_data()
{
    QTest::addColumn<bool>("isBg");
    QTest::addColumn<bool>("flatFirst"); // the flat image chosen before the projections
    QTest::newRow("I0 after the projections") << false << false;
    QTest::newRow("BG after the projections") << true << false;
    QTest::newRow("I0 before the projections") << false << true;
}

void TestBody::flatOfAnotherSizeIsReported()
{
    QFETCH(bool, isBg);
    QFETCH(bool, flatFirst);
    Measurement m;
    QVERIFY(m.make(64, 12, 8));
    QTemporaryDir tmp;
    const QString flat = tmp.filePath("flat.img");
    const std::vector<quint16> px(10 * 7, 1000);
    QVERIFY(writeItexFile(flat, 10, 7, 2, px.data()));
    Body body;
    Failures::instance().reset();
    SelectAImgFile *sel = isBg ? body.BGImgSel : body.I0ImgSel;
    const QString text = QString("The %1 image flat.img has 10 x 7 pixels, the projections 64 x "
                                 "12: it is not used")
                             .arg(isBg ? "BG" : "I0");
    if (flatFirst)
        sel->fileSelected0(flat);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(text)); // said when both are loaded
    QVERIFY(load(body, m));
    if (!flatFirst)
        sel->fileSelected0(flat);
    QVERIFY(child<QLineEdit>(sel, "FilePath")->styleSheet().contains("255, 192, 192"));
    QCOMPARE(body.StatusLine->text(), text);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QVERIFY(finished.wait(20000));
    QVERIFY(Failures::instance().messages().contains(text));
}

// ---- run control -------------------------------------------------------------------------

void TestBody::i0CorrectionShiftsAttenuation_data()
{
    QTest::addColumn<bool>("rawFromScan");
    QTest::addColumn<double>("rawI0");
    QTest::addColumn<double>("refI0");
    QTest::addColumn<double>("shift");
    // The scan holds I0 100 at 14 degrees (8172.414 eV) and 300 at 13 degrees (8788.960 eV);
    // the projections lie in a folder named for 8480 eV.
    const double at8480
        = 100.0 + (8480.0 - 8172.41409314261) * 200.0 / (8788.960402099028 - 8172.41409314261);
    QTest::newRow("fixed values") << false << 3.0 << 1.5 << std::log(2.0);
    QTest::newRow("beam weaker for the projections") << false << 0.8 << 1.0 << std::log(0.8);
    QTest::newRow("raw I0 from the scan") << true << 0.0 << 150.0 << std::log(at8480 / 150.0);
}

void TestBody::i0CorrectionShiftsAttenuation()
{
    QFETCH(bool, rawFromScan);
    QFETCH(double, rawI0);
    QFETCH(double, refI0);
    QFETCH(double, shift);
    Measurement m;
    QVERIFY(m.make(32, 4, 12));
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir("8480_0000"));
    QStringList files;
    for (const QString &f : m.files) {
        files << tmp.filePath("8480_0000/" + QFileInfo(f).fileName());
        QVERIFY(QFile::copy(f, files.last()));
    }
    m.files = files;
    const QString scan = tmp.filePath("scan.dat");
    QVERIFY(writeXafsFile(scan, "Mode 0 0 0 1", { "14 14 1 0 100", "13 13 1 0 300" }));

    Body body;
    body.I0ImgSel->fileSelected0(m.images.dir.filePath("i0.img"));
    body.BGImgSel->fileSelected0(m.images.dir.filePath("bg.img"));
    QVERIFY(load(body, m));
    const HSgm &sgm = body.sinogram->hSgm;
    QVERIFY(sgm.hasData());
    std::vector<double> before;
    for (int i = 0; i < sgm.h; ++i)
        before.insert(before.end(), sgm.sgmRow(i), sgm.sgmRow(i) + sgm.w);

    body.I0ofRawImage_->setCalcFromXafs(rawFromScan);
    body.I0ofRawImage_->setI0Val(rawI0);
    if (rawFromScan)
        body.I0ofRawImage_->setXafsFile(scan);
    body.I0ofI0Image_->setCalcFromXafs(false);
    body.I0ofI0Image_->setI0Val(refI0);
    // The factor is taken when a set has been loaded (and at every run start).
    QVERIFY(load(body, m));
    QCOMPARE(size_t(sgm.w) * size_t(sgm.h), before.size());
    for (int i = 0; i < sgm.h; ++i) {
        for (int j = 0; j < sgm.w; ++j) {
            const double b = before[size_t(i) * size_t(sgm.w) + size_t(j)];
            const double a = sgm.sgmRow(i)[j];
            QVERIFY2(std::abs(a - b - shift) < 1e-9, qPrintable(QString::number(a - b)));
        }
    }
}

void TestBody::ct1RunEndsOnce()
{
    Measurement m;
    QVERIFY(m.make());
    Body body;
    QVERIFY(load(body, m));
    body.ProgPerCent->setText("untouched");
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QVERIFY(body.calculating);
    QCOMPARE(body.CalcCT->styleSheet(), RunningStyle);
    QCOMPARE(body.CalcEndT->text(), QString("--"));
    QCOMPARE(body.CalcSpentT->text(), QString("--"));
    QVERIFY(finished.wait(20000));
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
    QVERIFY(body.CalcSpentT->text().toDouble() >= 0.0);
    QVERIFY(body.CalcSpentT->text() != "--");
    QVERIFY(!body.calculating);
    QCOMPARE(body.CalcCT->styleSheet(), IdleStyle);
    QVERIFY(QTime::fromString(body.CalcEndT->text(), "hh:mm:ss.zzz").isValid());
    QCOMPARE(body.ProgPerCent->text(), QString("untouched"));
    QVERIFY(!body.ctCalc->display()->img.isNull());
}

void TestBody::contrastPanelSetsTheScale()
{
    Measurement m;
    QVERIFY(m.make());
    Body body;
    QVERIFY(load(body, m));
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QVERIFY(finished.wait(20000));
    const int n = body.ctCalc->resultSize();
    QVERIFY(n > 0);
    // The histogram holds the slice just made.
    std::vector<double> values(body.ctCalc->resultData(), body.ctCalc->resultData() + n * n);
    QCOMPARE(body.contrastPanel->histogram().total(), values.size());
    QCOMPARE(
        body.contrastPanel->histogram().min(), *std::min_element(values.begin(), values.end()));
    // "Auto" fixes the scale of every CT view at the 0.5 % and 99.5 % points of its values.
    std::sort(values.begin(), values.end());
    const double lo = values[size_t(std::floor(0.005 * double(values.size() - 1)))];
    const double hi = values[size_t(std::floor(0.995 * double(values.size() - 1)))];
    QVERIFY(lo < hi);
    body.contrastPanel->autoButton()->click();
    QVERIFY(body.FixColorScale->isChecked());
    QCOMPARE(body.ColorMin->text(), QString::number(lo, 'g', 6));
    QCOMPARE(body.ColorMax->text(), QString::number(hi, 'g', 6));
    QList<ColorBar *> bars { body.ctCalc->display()->colorBar() };
    for (CtCalc2Ui *v : body.ctCalc2Uis)
        bars << v->display()->colorBar();
    for (ColorBar *b : bars) {
        QVERIFY(b->fixedScale());
        QVERIFY(std::abs(b->vMin - lo) <= 1e-5 * std::abs(lo) + 1e-12);
        QVERIFY(std::abs(b->vMax - hi) <= 1e-5 * std::abs(hi) + 1e-12);
    }
    // Typed limits show on the histogram.
    body.ColorMax->setText("0.75");
    emit body.ColorMax->editingFinished();
    QCOMPARE(body.contrastPanel->hi(), 0.75);
}

void TestBody::keysReachTheirButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Data Select") << "Select" << int(Qt::Key_O) << int(Qt::ControlModifier);
    QTest::newRow("Calc") << "CalcCT" << int(Qt::Key_F5) << 0;
    QTest::newRow("Guess CoR") << "GuessCor" << int(Qt::Key_G) << int(Qt::ControlModifier);
    QTest::newRow("Save Setup") << "SaveSetup" << int(Qt::Key_S) << int(Qt::ControlModifier);
}

void TestBody::keysReachTheirButtons()
{
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Measurement m;
    QVERIFY(m.make(64, 12, 36));
    Body body;
    QVERIFY(load(body, m));
    body.show();
    QVERIFY(QTest::qWaitForWindowActive(&body));
    auto *b = body.findChild<QPushButton *>(button);
    QVERIFY(b);
    QSignalSpy clicked(b, &QPushButton::clicked);
    QTest::keyClick(&body, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(clicked.count(), 1);
    if (button == "CalcCT") {
        // Esc stops the run the key started.
        QVERIFY(body.calculating);
        QTest::keyClick(&body, Qt::Key_Escape);
        QVERIFY(!body.calculating);
        QVERIFY(waitForIdle(body));
    }
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog *>(w))
            w->close();
}

void TestBody::batchRunWithoutImagesEnds()
{
    Body body;
    QSignalSpy checkEnd(&body, &Body::callBatchCheckEnd);
    QSignalSpy finished(&body, &Body::calcFinished);
    QVERIFY(QMetaObject::invokeMethod(&body, "batchExCmd", Q_ARG(BatchCmd, BatchCmd("calc_exec"))));
    QTRY_COMPARE(checkEnd.count(), 1);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!body.batchCalc);
    QVERIFY(!body.calculating);
    // Any other command lets the batch go on at once.
    QVERIFY(
        QMetaObject::invokeMethod(&body, "batchExCmd", Q_ARG(BatchCmd, BatchCmd("no_such_cmd 1"))));
    QCOMPARE(checkEnd.count(), 2);
    QCOMPARE(finished.count(), 1);
}

void TestBody::ct2SingleSliceEndsAfterFirstReport()
{
    Measurement m;
    QVERIFY(m.make());
    Body body;
    QVERIFY(load(body, m));
    body.SelectCt2->click();
    body.ShowCalcRes->setChecked(true);
    body.procCtrl->setSliceNo(5);
    RunMonitor mon(body);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QCOMPARE(body.ProgPerCent->text(), QString("0 %"));
    QVERIFY(finished.wait(20000));
    QCOMPARE(mon.slices, QList<int> { 5 });
    QCOMPARE(mon.used.values(), QList<CtCalc2 *> { body.ctCalc2s.first() });
    QCOMPARE(mon.reports.load(), 1);
    QCOMPARE(body.ctDisp->sliceNumbers(), QList<int> { 5 });
    QVERIFY(waitForIdle(body));
    QCOMPARE(finished.count(), 1);
}

void TestBody::flatsAndDarksOfTheFolder_data()
{
    QTest::addColumn<QStringList>("names"); // the flats' and the dark's file names
    QTest::addColumn<QString>("command"); // run before the load, or empty
    QTest::newRow("usual names") << QStringList { "flat_1.img", "Flat_2.img", "dark.img" }
                                 << QString();
    QTest::newRow("names of the beamline")
        << QStringList { "OB-1.img", "ob-2.img", "closed.img" } << "images_flat_names ob";
}

void TestBody::flatsAndDarksOfTheFolder()
{
    // The projections, two copies of the I0 image and the BG image in one folder: loading the
    // folder in the window takes the projections as the set and the others as I0 and BG, and
    // the slice equals the one made with I0 and BG chosen by hand.
    QFETCH(QStringList, names);
    QFETCH(QString, command);
    Measurement m;
    QVERIFY(m.make());
    const QDir d(m.images.dir.path());
    QVERIFY(QFile::copy(d.filePath("i0.img"), d.filePath(names[0])));
    QVERIFY(QFile::rename(d.filePath("i0.img"), d.filePath(names[1])));
    QVERIFY(QFile::rename(d.filePath("bg.img"), d.filePath(names[2])));

    QList<double> slices[2];
    for (int k = 0; k < 2; ++k) {
        Body body;
        if (k == 0) {
            QVERIFY(load(body, m));
            body.I0ImgSel->fileSelected0(d.filePath(names[0]));
            body.BGImgSel->fileSelected0(d.filePath(names[2]));
        } else {
            const QStringList lines = command.isEmpty()
                ? QStringList { "images_load " + d.path() }
                : QStringList { command, "images_dark_names closed", "images_load " + d.path() };
            child<QRadioButton>(body.procCtrl, "RotAxV")->click();
            QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
            for (const QString &line : lines)
                QVERIFY(QMetaObject::invokeMethod(
                    &body, "batchExCmd", Q_ARG(BatchCmd, BatchCmd(line))));
            QVERIFY(loaded.wait(10000));
            QCOMPARE(body.imgDatas->count(), m.files.size());
            QTRY_COMPARE(
                body.I0ImgSel->filePath(), d.filePath(names[0]) + "|" + d.filePath(names[1]));
            QTRY_COMPARE(body.BGImgSel->filePath(), d.filePath(names[2]));
        }
        QVERIFY(waitForIdle(body));
        QVERIFY(body.I0ImgSel->img && body.BGImgSel->img);
        body.SelectCt2->click();
        body.procCtrl->setSliceNo(5);
        QSignalSpy finished(&body, &Body::calcFinished);
        body.CalcCT->click();
        QVERIFY(finished.wait(20000));
        QVERIFY(waitForIdle(body));
        double v = 0;
        for (int z = 0; z < 64; ++z)
            for (int x = 0; x < 64; ++x)
                if (body.ctCalc2s.first()->valueAt(x, z, &v))
                    slices[k] << v;
    }
    QVERIFY(slices[0].size() > 1000);
    QCOMPARE(slices[1].size(), slices[0].size());
    QCOMPARE(slices[1], slices[0]);
}

void TestBody::hdf5WithOwnAngles()
{
    // The measurement as one HDF5 file with projections 3 and 20 swapped, with their angles:
    // the set's own angles reach the workers, whose slice is the camera files' to rounding.
    Measurement m;
    QVERIFY(m.make());
    const int count = int(m.files.size()), w = 64, h = 12;
    const QString h5 = m.images.dir.filePath("swapped.h5");
    DxchangeWriter writer;
    QString error;
    QVERIFY2(writer.create(h5, count, h, w, 1, &error), qPrintable(error));
    std::vector<double> theta(static_cast<size_t>(count)), line(w);
    std::vector<quint16> pixels(size_t(w) * h);
    for (int i = 0; i < count; ++i) {
        const int from = i == 3 ? 20 : i == 20 ? 3 : i;
        theta[size_t(i)] = from * 180.0 / count;
        std::unique_ptr<ImgData> img(ImgData::create(ImgData::fileType(m.files[from])));
        img->fileName = m.files[from];
        QVERIFY(img->load());
        for (int y = 0; y < h; ++y) {
            img->hLine(y, line.data());
            for (int x = 0; x < w; ++x)
                pixels[size_t(y) * w + x] = quint16(line[size_t(x)]);
        }
        QVERIFY2(writer.writeProjection(i, pixels.data(), &error), qPrintable(error));
    }
    QVERIFY(writer.writeTheta(theta, &error) && writer.close(&error));

    // Both methods: the HDF5 set's slice equals the camera files' slice, to rounding.
    for (const CtMethod method : { CtMethod::Fbp, CtMethod::Gridding }) {
        QList<double> slices[2];
        for (int k = 0; k < 2; ++k) {
            Body body;
            if (k == 0) {
                QVERIFY(load(body, m));
            } else {
                child<QRadioButton>(body.procCtrl, "RotAxV")->click();
                QSignalSpy loaded(&body, &Body::finishedLoadingCTFiles);
                QVERIFY(QMetaObject::invokeMethod(
                    &body, "batchExCmd", Q_ARG(BatchCmd, BatchCmd("images_load_hdf5 " + h5))));
                QVERIFY(loaded.wait(10000));
                QCOMPARE(body.imgDatas->count(), count);
                QCOMPARE(body.imageAngles(), theta);
                QCOMPARE(body.procCtrl->dataSetRangeDeg(), 180.0);
            }
            body.procCtrl->setMethod(method);
            body.SelectCt2->click();
            body.procCtrl->setSliceNo(5);
            QSignalSpy finished(&body, &Body::calcFinished);
            body.CalcCT->click();
            QVERIFY(finished.wait(20000));
            QVERIFY(waitForIdle(body));
            double v = 0;
            for (int z = 0; z < w; ++z)
                for (int x = 0; x < w; ++x)
                    if (body.ctCalc2s.first()->valueAt(x, z, &v))
                        slices[k] << v;
        }
        QVERIFY(slices[0].size() > 1000);
        QCOMPARE(slices[1].size(), slices[0].size());
        double worst = 0, top = 0;
        for (qsizetype i = 0; i < slices[0].size(); ++i) {
            worst = std::max(worst, std::abs(slices[1][i] - slices[0][i]));
            top = std::max(top, std::abs(slices[0][i]));
        }
        // The gridding computes in single precision.
        QVERIFY2(worst <= (method == CtMethod::Fbp ? 1e-9 : 1e-5) * top,
            qPrintable(QString::number(worst)));
    }
}

void TestBody::sliceRange_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("threads");
    QTest::addColumn<QList<int>>("slices");
    const int many = std::min(3, hardwareThreads());
    QTest::newRow("one slice") << 4 << 4 << 1 << many << QList<int> { 4 };
    QTest::newRow("ten slices") << 0 << 9 << 1 << many
                                << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    QTest::newRow("one worker") << 1 << 5 << 2 << 1 << QList<int> { 1, 3, 5 };
    QTest::newRow("descending") << 11 << 2 << 3 << many << QList<int> { 11, 8, 5, 2 };
    QTest::newRow("step 0") << 3 << 6 << 0 << many << QList<int> { 3, 4, 5, 6 };
    QTest::newRow("step 0 descending") << 6 << 4 << 0 << many << QList<int> { 6, 5, 4 };
    // The set has 12 lines: a range beyond them runs what lies in the set, on its own steps.
    QTest::newRow("beyond the last line") << 8 << 20 << 1 << many << QList<int> { 8, 9, 10, 11 };
    QTest::newRow("over both ends, descending") << 15 << -3 << 4 << many << QList<int> { 11, 7, 3 };
    QTest::newRow("nothing in the set") << 20 << 30 << 1 << many << QList<int> {};
}

void TestBody::sliceRange()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(int, threads);
    QFETCH(QList<int>, slices);
    Measurement m;
    QVERIFY(m.make());
    QTemporaryDir out;
    Body body;
    QVERIFY(load(body, m));
    saveDataTo(body, out.path(), false);
    setRange(body, from, to, step, threads);
    QVERIFY(body.SelectCt2->isChecked());

    body.ProgPerCent->setText("-");
    RunMonitor mon(body);
    QList<double> progress;
    connect(body.ProgPerCent, &QLineEdit::textChanged, this, [&](const QString &t) {
        QVERIFY(t.endsWith(" %"));
        progress << t.chopped(2).toDouble();
    });
    QSignalSpy finished(&body, &Body::calcFinished);
    QVERIFY(body.I0ImgSel->isEnabled());
    const int failed = Failures::instance().count(Failures::Slice);
    body.CalcCT->click();
    if (slices.isEmpty()) {
        // Refused at the start, and counted.
        QCOMPARE(finished.count(), 1);
        QCOMPARE(mon.slices, QList<int> {});
        QCOMPARE(Failures::instance().count(Failures::Slice), failed + 1);
        QCOMPARE(Failures::instance().last(),
            QString("Slices %1…%2 asked, the set has 12 lines: nothing to run").arg(from).arg(to));
        return;
    }
    // While workers read the I0/BG images, their selectors cannot replace them.
    QVERIFY(!body.I0ImgSel->isEnabled() && !body.BGImgSel->isEnabled());
    QVERIFY(finished.wait(30000));
    QVERIFY(body.I0ImgSel->isEnabled() && body.BGImgSel->isEnabled());
    // The run ends only after the last report.
    QCOMPARE(mon.reports.load(), slices.size());
    QCOMPARE(mon.slices, slices);
    QCOMPARE(mon.violations, 0);
    QVERIFY(mon.maxOutstanding <= threads);
    QVERIFY(mon.used.size() <= threads);
    for (int i = 0; i < threads; ++i)
        QVERIFY(i >= slices.size() || mon.used.contains(body.ctCalc2s[i]));
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.first(), 0.0);
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY2(progress[i] >= progress[i - 1], qPrintable(QString::number(progress[i])));
    QCOMPARE(progress.last(), 100.0);
    QCOMPARE(body.ProgPerCent->text(), QString("100.0 %"));
    // The bar ends full, with the count and no time left.
    auto *bar = body.findChild<QProgressBar *>("RunProgress");
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bar->format(), QString("%1 of %1 slices").arg(slices.size()));
    for (int s : slices)
        QTRY_VERIFY(
            QFile::exists(out.filePath(QString("scan-t-%1.dat").arg(s, 5, 10, QChar('0')))));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), slices.size());
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QVERIFY(waitForIdle(body));
}

void TestBody::unreconstructableSliceCounts_data()
{
    QTest::addColumn<bool>("ct1");
    QTest::addColumn<int>("slice");
    QTest::addColumn<double>("cor");
    QTest::addColumn<QString>("message");
    // 64 pixels per line, 12 lines.
    QTest::newRow("worker, slice beyond the lines")
        << false << 50 << 32.0 << "Slice 50 was not reconstructed: the set has 12 lines (0…11)";
    QTest::newRow("CT1, slice beyond the lines")
        << true << 12 << 32.0 << "Slice 12 was not reconstructed: the set has 12 lines (0…11)";
    QTest::newRow("worker, CoR outside the line")
        << false << 3 << 70.0
        << "Slice 3 was not reconstructed: the centre of rotation 70 lies outside 1…63";
}

void TestBody::unreconstructableSliceCounts()
{
    QFETCH(bool, ct1);
    QFETCH(int, slice);
    QFETCH(double, cor);
    QFETCH(QString, message);
    Measurement m;
    QVERIFY(m.make(64, 12, 12));
    Body body;
    QVERIFY(load(body, m));
    (ct1 ? body.SelectCt1 : body.SelectCt2)->click();
    body.procCtrl->setSliceNo(slice);
    body.procCtrl->setCor(cor);
    const int failed = Failures::instance().count(Failures::Slice);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QTRY_COMPARE(Failures::instance().count(Failures::Slice), failed + 1);
    QCOMPARE(Failures::instance().last(), message);
    QVERIFY(waitForIdle(body));
}

void TestBody::rangeWithCt1SelectedUsesWorkers()
{
    Measurement m;
    QVERIFY(m.make());
    Body body;
    QVERIFY(load(body, m));
    setRange(body, 2, 4, 1, 1);
    body.SelectCt1->setChecked(true); // as batch commands can leave it
    QVERIFY(body.procCtrl->autoExecCtCalc());
    RunMonitor mon(body);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QVERIFY(body.SelectCt2->isChecked());
    QVERIFY(finished.wait(20000));
    QCOMPARE(mon.slices, (QList<int> { 2, 3, 4 }));
}

void TestBody::stopDuringRangeKeepsResults()
{
    Measurement m;
    QVERIFY(m.make(128, 12, 72));
    QTemporaryDir out;
    Body body;
    QVERIFY(load(body, m));
    saveDataTo(body, out.path(), false);
    const int threads = hardwareThreads();
    setRange(body, 0, 11, 1, threads);
    RunMonitor mon(body);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    const QList<int> handedOut = mon.slices;
    QCOMPARE(handedOut.size(), threads);
    body.CalcCT->click(); // ends the run at once
    QCOMPARE(finished.count(), 1);
    QVERIFY(!body.calculating);
    QCOMPARE(body.CalcCT->styleSheet(), IdleStyle);
    QVERIFY(waitForIdle(body));
    QCOMPARE(mon.slices, handedOut); // nothing more was handed out
    QCOMPARE(mon.reports.load(), threads);
    for (int s : handedOut)
        QTRY_VERIFY(
            QFile::exists(out.filePath(QString("scan-t-%1.dat").arg(s, 5, 10, QChar('0')))));
    QCOMPARE(finished.count(), 1);
}

void TestBody::stopStopsWaitingBatch()
{
    Measurement m;
    QVERIFY(m.make(128, 12, 72));
    QTemporaryDir dir;
    QFile job(dir.filePath("job.bat"));
    QVERIFY(job.open(QIODevice::WriteOnly));
    job.write("calc_exec\nct_slice_from 7\n");
    job.close();
    Body body;
    QVERIFY(load(body, m));
    setRange(body, 0, 11, 1, 1);
    const int stopped = Failures::instance().count(Failures::RunStopped);
    emit body.callBatchLoad(job.fileName());
    emit body.callBatchExec();
    QTRY_VERIFY(body.calculating);
    body.CalcCT->click(); // the run is stopped by the user before its end
    QVERIFY(!body.calculating);
    QCOMPARE(Failures::instance().count(Failures::RunStopped), stopped + 1);
    // The batch stops instead of going on with a set that is not complete.
    QTRY_VERIFY(!body.batch->running);
    QVERIFY(waitForIdle(body));
    QCOMPARE(body.procCtrl->sliceFrom(), 0);
}

void TestBody::startWaitsForWorkersOfStoppedRun()
{
    Measurement m;
    QVERIFY(m.make(128, 12, 72));
    Body body;
    QVERIFY(load(body, m));
    const int threads = hardwareThreads();
    setRange(body, 0, 5, 1, threads);
    RunMonitor mon(body);
    QSignalSpy finished(&body, &Body::calcFinished);
    QSignalSpy checkEnd(&body, &Body::callBatchCheckEnd);
    body.CalcCT->click();
    body.CalcCT->click();
    QCOMPARE(finished.count(), 1);
    // The next run comes from a batch while the first run's workers are still at work.
    body.procCtrl->setSliceFrom(6);
    body.procCtrl->setSliceTo(8);
    QVERIFY(QMetaObject::invokeMethod(&body, "batchExCmd", Q_ARG(BatchCmd, BatchCmd("calc_exec"))));
    QVERIFY(body.calculating);
    QCOMPARE(body.CalcCT->styleSheet(), RunningStyle);
    QVERIFY(body.startPending);
    QCOMPARE(body.ctParams.sliceFrom, 0); // not refilled while the workers read it
    QCOMPARE(mon.slices.size(), threads);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
    // The batch goes on once the saver has written the run's files, just after its end.
    QTRY_COMPARE(checkEnd.count(), 1);
    QCOMPARE(mon.slices.mid(threads), (QList<int> { 6, 7, 8 }));
    // The second run's first slice went out when none of the first run's was outstanding.
    QCOMPARE(mon.othersAtDispatch.at(threads), 0);
    QCOMPARE(mon.violations, 0);
    QTest::qWait(50);
    QCOMPARE(checkEnd.count(), 1);
    QCOMPARE(finished.count(), 2);
}

void TestBody::startWaitsForDataSetChosenBefore()
{
    Measurement m;
    QVERIFY(m.make(128, 12, 72));
    QTemporaryDir sets;
    QVERIFY(QDir().mkpath(sets.filePath("b")));
    for (int i = 0; i < 10; ++i)
        QVERIFY(QFile::copy(m.files[i], sets.filePath("b/") + QFileInfo(m.files[i]).fileName()));
    Body body;
    QVERIFY(load(body, m));
    body.SelDDir->setPattern("p-*.img");
    body.SelDDir->setDataDir(sets.path());
    setRange(body, 0, 5, 1, hardwareThreads());
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    body.CalcCT->click();
    QVERIFY(body.workersInFlight() > 0);
    // While the stopped run's workers are still at work: a data set, then "Calc".
    body.SelDDir->setFirstSet(0);
    body.CalcCT->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
    QCOMPARE(body.imgDatas->count(), 10);
    QCOMPARE(body.ctParams.dataSetImages, 10); // the run went to the set chosen before it
    QVERIFY(waitForIdle(body));
}

void TestBody::autoSavingWritesFolders_data()
{
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::addColumn<QStringList>("dataFiles");
    QTest::newRow("of slice") << false << true
                              << QStringList { "data/00003/scan-t-00003.dat",
                                     "data/00004/scan-t-00004.dat" };
    QTest::newRow("neither works as of slice")
        << false << false
        << QStringList { "data/00003/scan-t-00003.dat", "data/00004/scan-t-00004.dat" };
    QTest::newRow("of energy") << true << false
                               << QStringList { "data/t/scan-t-00003.dat",
                                      "data/t/scan-t-00004.dat" };
    QTest::newRow("both") << true << true
                          << QStringList { "data/t/scan-t-00003.dat", "data/t/scan-t-00004.dat",
                                 "data/00003/scan-t-00003.dat", "data/00004/scan-t-00004.dat" };
}

void TestBody::autoSavingWritesFolders()
{
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QFETCH(QStringList, dataFiles);
    Measurement m;
    QVERIFY(m.make());
    QTemporaryDir out;
    Body body;
    QVERIFY(load(body, m));
    // Folders that do not exist yet are made at the start.
    saveDataTo(body, out.filePath("data"), true);
    body.SubOfEnergy->setChecked(ofEnergy);
    body.SubOfSlice->setChecked(ofSlice);
    body.SelectImageSaveDir->setFilePath(out.filePath("pics/deep"));
    body.SelectImageSaveDir->setName("");
    body.SelectImageSaveDir->setAddTag("img");
    body.setAutoSaveImage(true);
    setRange(body, 3, 4, 1, 1);
    QSignalSpy finished(&body, &Body::calcFinished);
    body.CalcCT->click();
    QVERIFY(QDir(out.filePath("data")).exists());
    QVERIFY(QDir(out.filePath("pics/deep")).exists());
    QVERIFY(finished.wait(20000));
    QVERIFY(waitForIdle(body));
    for (const QString &f : dataFiles) {
        QTRY_VERIFY2(QFile::exists(out.filePath(f)), qPrintable(f));
        QFile file(out.filePath(f));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("#VEXA-CTImg\n"));
    }
    // Pictures carry the picture selector's tag, without a name part.
    const QString pics = out.filePath("pics/deep");
    for (int s : { 3, 4 }) {
        const QString no = QString("%1").arg(s, 5, 10, QChar('0'));
        QStringList where;
        if (ofEnergy)
            where << pics + "/img/img-" + no + ".png";
        if (ofSlice || !ofEnergy)
            where << pics + "/" + no + "/img-" + no + ".png";
        for (const QString &p : where) {
            QTRY_VERIFY2(QFile::exists(p), qPrintable(p));
            QVERIFY(!QImage(p).isNull());
        }
    }
}

void TestBody::volumeOfTheRun_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("tiff"); // float TIFF slices saved
    QTest::newRow("HDF5, ascending") << "v.h5" << 1 << true;
    QTest::newRow("HDF5, descending") << "v.h5" << -1 << true;
    QTest::newRow("TIFF stack") << "v.tif" << 1 << true;
    QTest::newRow("no TIFF slices saved") << "v.h5" << 1 << false;
}

void TestBody::volumeOfTheRun()
{
    // A slice range saved with automatic saving and "auto_save_volume": after the run, before
    // the batch goes on, one volume file holds the run's slices in the order of the range.
    QFETCH(QString, file);
    QFETCH(int, step);
    QFETCH(bool, tiff);
    Measurement m;
    QVERIFY(m.make());
    QTemporaryDir out;
    Body body;
    QVERIFY(load(body, m));
    saveDataTo(body, out.filePath("data"), false);
    body.AutoSaveTiff->setChecked(tiff);
    const int from = step > 0 ? 3 : 6, to = step > 0 ? 6 : 3;
    setRange(body, from, to, step, 2);
    const QString volume = out.filePath(file);
    const int failures = Failures::instance().count();
    QSignalSpy checkEnd(&body, &Body::callBatchCheckEnd);
    for (const QString &line : { "auto_save_volume " + volume, QString("calc_exec") })
        QVERIFY(QMetaObject::invokeMethod(&body, "batchExCmd", Q_ARG(BatchCmd, BatchCmd(line))));
    QTRY_COMPARE_WITH_TIMEOUT(checkEnd.count(), 2, 30000);
    if (!tiff) {
        QVERIFY(!QFile::exists(volume));
        QCOMPARE(Failures::instance().count(), failures + 1);
        QVERIFY2(Failures::instance().last().contains("saved no float TIFF slices"),
            qPrintable(Failures::instance().last()));
        return;
    }
    QCOMPARE(Failures::instance().count(), failures);
    QVERIFY2(QFile::exists(volume), qPrintable(volume)); // in place when the batch goes on
    // Slice k of the volume is the k-th slice of the range, as its own TIFF file holds it.
    std::vector<std::vector<float>> slices;
    int w = 0, h = 0;
    for (int s = from; step > 0 ? s <= to : s >= to; s += step) {
        std::vector<float> pixels;
        QString why;
        const QString f = out.filePath(QString("data/scan-t-%1.tif").arg(s, 5, 10, QChar('0')));
        QVERIFY2(CtTiffData::read(f, pixels, w, h, &why), qPrintable(f + ": " + why));
        slices.push_back(std::move(pixels));
    }
    if (file.endsWith(".tif")) {
        QCOMPARE(ImgDataTiff::pageCount(volume), int(slices.size()));
        return;
    }
    const hid_t f = H5Fopen(QFile::encodeName(volume).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    QVERIFY(f >= 0);
    const hid_t set = H5Dopen2(f, "/entry/data/data", H5P_DEFAULT);
    const hid_t space = H5Dget_space(set);
    hsize_t dims[3] = { 0, 0, 0 };
    H5Sget_simple_extent_dims(space, dims, nullptr);
    std::vector<float> all(size_t(dims[0] * dims[1] * dims[2]));
    const bool read
        = H5Dread(set, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, all.data()) >= 0;
    H5Sclose(space);
    H5Dclose(set);
    H5Fclose(f);
    QVERIFY(read);
    QCOMPARE(dims[0], hsize_t(slices.size()));
    QCOMPARE(dims[1], hsize_t(h));
    QCOMPARE(dims[2], hsize_t(w));
    for (size_t k = 0; k < slices.size(); ++k)
        QVERIFY(std::equal(slices[k].begin(), slices[k].end(), all.begin() + k * w * h,
            [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }));
}

void TestBody::queuedRecordsKeepTheirRunsFolders()
{
    Measurement m;
    QVERIFY(m.make());
    QTemporaryDir out;
    Body body;
    QVERIFY(load(body, m));
    saveDataTo(body, out.path(), false);
    // A slow disk: the saver is held until both runs have ended.
    QSemaphore gate;
    QMetaObject::invokeMethod(
        body.dataSaver, [&gate] { gate.acquire(); }, Qt::QueuedConnection);
    QSignalSpy finished(&body, &Body::calcFinished);
    setRange(body, 2, 3, 1, 1);
    body.CalcCT->click();
    QVERIFY(finished.wait(20000));
    QVERIFY(waitForIdle(body));
    body.SaveInSubFolders->setChecked(true);
    body.SubOfSlice->setChecked(true);
    setRange(body, 4, 5, 1, 1);
    body.CalcCT->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
    QVERIFY(waitForIdle(body));
    gate.release();
    for (const char *f : { "scan-t-00002.dat", "scan-t-00003.dat", "00004/scan-t-00004.dat",
             "00005/scan-t-00005.dat" })
        QTRY_VERIFY2(QFile::exists(out.filePath(f)), f);
    QVERIFY(!QFile::exists(out.filePath("00002/scan-t-00002.dat")));
}

void TestBody::closeDuringRunLosesNothing()
{
    Measurement m;
    QVERIFY(m.make(128, 12, 72));
    QTemporaryDir out;
    QStringList expected;
    {
        Body body;
        QVERIFY(load(body, m));
        saveDataTo(body, out.path(), false);
        body.SelectImageSaveDir->setFilePath(out.path());
        body.SelectImageSaveDir->setName("scan");
        body.SelectImageSaveDir->setAddTag("t");
        body.setAutoSaveImage(true);
        setRange(body, 0, 11, 1, hardwareThreads());
        RunMonitor mon(body);
        body.CalcCT->click();
        QVERIFY(!mon.slices.isEmpty());
        for (int s : mon.slices) {
            const QString no = QString("%1").arg(s, 5, 10, QChar('0'));
            expected << "scan-t-" + no + ".dat"
                     << "scan-t-" + no + ".png";
        }
        QSignalSpy finishing(&body, &Body::finishing);
        QVERIFY(body.close());
        QCOMPARE(finishing.count(), 1);
        // Everything is on disk the moment the window has closed.
        QCOMPARE(mon.reports.load(), mon.slices.size());
        QCOMPARE(SavingData::liveCount(), 0);
        QCOMPARE(SavingImg::liveCount(), 0);
        QStringList onDisk = QDir(out.path()).entryList(QDir::Files, QDir::Name);
        expected.sort();
        QCOMPARE(onDisk, expected);
        for (const QString &f : expected) {
            if (!f.endsWith(".dat"))
                continue;
            QFile file(out.filePath(f));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray all = file.readAll();
            QVERIFY(all.startsWith("#VEXA-CTImg\n"));
            QVERIFY(all.endsWith('\n'));
        }
    }
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), expected.size());
}

QTEST_MAIN(TestBody)
#include "tst_Body.moc"
