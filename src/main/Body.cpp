#include "Body.h"

#include "Batch.h"
#include "Places.h"
#include "ColorBar.h"
#include "Config.h"
#include "ContrastPanel.h"
#include "CorSweepPanel.h"
#include "CtCalc.h"
#include "CtCalc2.h"
#include "CtCalc2Ui.h"
#include "CtDisp.h"
#include "CtFileSet.h"
#include "CtView.h"
#include "PopDockBase.h"
#include "SpectrumView.h"
#include "DataSaver.h"
#include "SavingData.h"
#include "Failures.h"
#include "FieldGuard.h"
#include "FieldText.h"
#include "I0Correction.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ImgPicture.h"
#include "Memory.h"
#include "QuoltLink.h"
#include "RawDisp.h"
#include "RowWindow.h"
#include "Sinogram.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"
#include "TcpClient.h"
#include "TextUtil.h"
#include "ThreadStart.h"
#include "XafsBatch.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

const QString IdleStyle = QStringLiteral("background-color: rgb(213, 245, 255);");

double numberOf(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok ? v : 0.0;
}

QPen cosmeticPen(const QColor &c)
{
    // One screen pixel wide at any zoom: the overlays mark lines, they do not cover pixels.
    QPen pen(c);
    pen.setWidth(0);
    pen.setCosmetic(true);
    return pen;
}

// The control column scrolls up and down only; its scroll area keeps the column's own
// minimum width (whatever frames are open) so nothing is cut off at the side.
class ColumnWidthFollower : public QObject
{
public:
    ColumnWidthFollower(QScrollArea *area, QWidget *column)
        : QObject(area)
        , area(area)
        , column(column)
    {
        column->installEventFilter(this);
        follow();
    }

    bool eventFilter(QObject *o, QEvent *e) override
    {
        // Some panels only learn their final size when they are first shown, without
        // asking for a new layout; a resize of the column follows that too.
        if (o == column
            && (e->type() == QEvent::LayoutRequest || e->type() == QEvent::Show
                || e->type() == QEvent::Resize))
            follow();
        return false;
    }

private:
    void follow()
    {
        const int w = column->minimumSizeHint().width()
            + area->verticalScrollBar()->sizeHint().width() + 2 * area->frameWidth();
        if (area->minimumWidth() != w)
            area->setMinimumWidth(w);
    }

    QScrollArea *area;
    QWidget *column;
};

void showLastProblem(QLabel *line)
{
    const Failures &f = Failures::instance();
    const int n = f.count();
    if (n == 0) {
        line->clear();
        line->setToolTip(QString());
        line->setStyleSheet(QString());
        return;
    }
    line->setText(
        QCoreApplication::translate("Body", "Problems: %1, the last: %2").arg(n).arg(f.last()));
    line->setToolTip(f.messages().join('\n'));
    line->setStyleSheet(QStringLiteral("background-color: rgb(255, 192, 192);"));
}

} // namespace

Body::Body(QWidget *parent)
    : QFrame(parent)
{
    // 1. Members that the form's widgets are handed to.
    setupDialog = new QFileDialog(this);
    ctParams.dataSetRangeDeg = 180.0;
    batch = new Batch;
    xafsBatch = new XafsBatch;
    rawDisp = new RawDisp;
    sinogram = new Sinogram;
    ctCalc = new CtCalc;
    ctCalc->ctParams = &ctParams;
    imgDatas = new ImgDatas;
    ctDisp = new CtDisp;
    ctView = new CtView(dataRoot);
    quoltLink = new QuoltLink(this);
    resetRegions = resetSliceTo = resetSlice = resetCor = true;
    consoleReport = config.contains("-nw");

    // 2.
    qRegisterMetaType<BatchCmd>("BatchCmd");
    setupUi(this);
    setWindowTitle("Vexa2");

    // 3.
    new ColumnWidthFollower(ctrlScroll, ctrlColumn);
    ImgsPopDocBase->setWidget(ImgsTab, tr("Vexa2 Images"));
    CalcCT->setStyleSheet(IdleStyle);
    SeqCalc->setStyleSheet(IdleStyle);
    Cont2DA->setStyleSheet(IdleStyle);
    SelectImageSaveDir->setMode(1);
    SelectImageSaveDir->setNameTagVisible(true);
    SelectDataSaveDir->setMode(1);
    SelectDataSaveDir->setNameTagVisible(true);
    SelI0Files->setPlainMode();
    SelI0Files->setLabelText(QString(32, QChar(' ')));
    SelI0Files->setButtonText(tr("Sel. I0 File Set"));

    // 4.
    crossPen = cosmeticPen(QColor(255, 255, 0));
    slicePen = cosmeticPen(QColor(255, 232, 232));
    rangePen = cosmeticPen(QColor(255, 200, 200));
    corPen = cosmeticPen(QColor(255, 232, 232));
    corPen.setDashPattern({ 10, 3, 4, 3 });
    selectingPen = cosmeticPen(QColor(255, 0, 0));
    selectedPen = cosmeticPen(QColor(232, 255, 0));

    // 5.
    imgDatasThread = new QThread;
    imgDatasThread->setObjectName("ImgDatas");
    imgDatas->moveToThread(imgDatasThread);
    threadsStarted = startThread(imgDatasThread, "the image set") && threadsStarted;
    rawDisp->imgData = nullptr;
    sinogram->imgDatas = imgDatas;
    sinogram->setProcCtrl(procCtrl);
    ctCalc->sinogram = sinogram;
    sinogram->genSinogram();
    sinogram->genImage();

    // 6.
    connectSignals();
    batchThread = new QThread;
    batchThread->setObjectName("Batch");
    batch->moveToThread(batchThread);
    threadsStarted = startThread(batchThread, "the batch interpreter") && threadsStarted;
    connect(batch, &Batch::batchExCmd, this, &Body::batchExCmd);
    setupXafsBatch();

    // 7.
    RawImgBase->setWidget(rawDisp, tr("Measured Raw Image"));
    SinogramImgBase->setWidget(sinogram, tr("Check Sinogram"));
    CtImgBase->setWidget(ctCalc, tr("CT Reconstruction"));
    I0ImgBase->setWidget(I0ImgSel->view(), tr("I0 Image"));
    BGImgBase->setWidget(BGImgSel->view(), tr("BG Image"));
    CtImgsBase->setWidget(ctDisp, tr("CT images"));
    CtViewBase->setWidget(ctView, tr("Reconstructed Body View"));
    spectrumView = new SpectrumView;
    auto *spectrumBase = new PopDockBase;
    spectrumBase->setObjectName("SpectrumBase");
    spectrumBase->setWidget(spectrumView, tr("Spectrum View"));
    ImgsTab->insertTab(ImgsTab->indexOf(CtViewPage) + 1, spectrumBase, tr("Spectrum"));

    // 8., 9.
    const int n = std::max(1, int(std::thread::hardware_concurrency()));
    buildWorkers(n);
    // Fewer when the system refused some of their threads.
    procCtrl->setHardwareThreads(std::max<int>(1, int(ctCalc2s.size())));
    // Last of the tabs, so the pages before it keep the numbers "show_tab" knows them by.
    setupCorSweep();
    setupRunProgress();
    setupRecentData();
    imgDatas->i0 = I0ImgSel->imgSlot();
    imgDatas->bg = BGImgSel->imgSlot();

    // 10.
    ctSelGroup = new QButtonGroup(this);
    ctSelGroup->setExclusive(true);
    ctSelGroup->addButton(SelectCt1);
    ctSelGroup->addButton(SelectCt2);
    SelectCt1->setChecked(true);
    connect(ctSelGroup, &QButtonGroup::buttonClicked, this, &Body::changedCtSel);
    connect(procCtrl, &ProcCtrl::autoExecUpdated, this, &Body::changedAutoExec);
    connect(CTFiles, &SelectDataFiles::filesSelected, this, &Body::dataFilesSelected);
    connect(CTFiles, &SelectDataFiles::hdf5Chosen, this, &Body::useHdf5File);
    connect(CTFiles, &SelectDataFiles::referencesFound, this, [this](QString flat, QString dark) {
        // Flats and darks of the projection folder become the I0 and BG images.
        whenWorkersIdle([this, flat, dark] {
            if (!flat.isEmpty())
                I0ImgSel->fileSelected0(flat);
            if (!dark.isEmpty())
                BGImgSel->fileSelected0(dark);
        });
    });
    connect(SelI0Files, &SelectDataFiles::filesSelected, this, &Body::i0FilesSelected);
    // The overlay draws the selection in its own colours; the display's outline would
    // show it a second time.
    rawDisp->drawSelection = false;
    connect(rawDisp, &DispAWLayout::drawImage2, this, &Body::draw);
    // A slice range typed by the user wins over a raw-image selection made before, which
    // would otherwise write its own range back at the next repaint.
    for (const char *name : { "SliceFrom", "SliceTo" }) {
        if (auto *edit = procCtrl->findChild<QLineEdit *>(name)) {
            connect(edit, &QLineEdit::textEdited, this, [this] {
                rawDisp->selValid = false;
                rawDisp->dispB()->update();
            });
        }
    }
    connect(rawDisp, &ImgDispWPV::newPosInvY, this, &Body::newPosOnRawImg);
    rawDisp->setProfileSampler([this](QPointF a, QPointF b) {
        const ImgData *img = imgDatas->at(seekCtrl->index());
        if (!img || !img->ready)
            return std::vector<LineProfile::Point>();
        return LineProfile::sample(img->width, img->height,
            [img](int iy, double *buf) -> const double * { return img->hLine(iy, buf); }, a, b);
    });
    connect(rawDisp, &ImgDispWCBar::newBar, this, &Body::updateRawImage);
    connect(rawDisp, &ImgDisp::selectedAPoint, this, &Body::selectedAPointInRawImg);
    connect(seekCtrl, &SeekCtrl::newIndex, this, &Body::updateRawImage);
    // The set is only ever called from this thread, so its imageUpdated arrives here directly.
    connect(imgDatas, &ImgDatas::imageUpdated, rawDisp->dispB(), qOverload<>(&QWidget::update));
    connect(ctCalc, &CtCalc::askToStartCalc, this, &Body::toggleCalcCt);
    connect(CalcCT, &QPushButton::clicked, this, &Body::toggleCalcCt);
    connect(ctCalc, &CtCalc::cRUpdated, this, &Body::cRUpdated);
    // A left click on CT1's slice picture (whole-slice pixels) once it shows a result.
    connect(ctCalc->display(), &ImgDisp::selectedAPoint, this,
        [this](double x, double y, MouseC::MStat s) {
            if (s == MouseC::Left && ctCalc->n > 0 && ctCalc->hSgm.hasData() && std::abs(x) < 1e9
                && std::abs(y) < 1e9)
                showSpectrumOf(
                    ctCalc->cr(), ctCalc->hSgm.slice, int(std::floor(x)), int(std::floor(y)));
        });
    connect(ctCalc, &CtCalc::dRUpdated, this, &Body::dRUpdated);
    connect(ctCalc, &CtCalc::calcFinished, this, &Body::ctCalcFinished);
    // The contrast panel shows the histogram of the last slice reconstructed and sets the
    // fixed colour scale of every CT view.
    connect(ctCalc, &CtCalc::calcFinished, this, [this] {
        const int n = ctCalc->resultSize();
        if (n > 0 && ctCalc->resultData())
            showContrastOf(ctCalc->resultData(), std::size_t(n) * std::size_t(n));
    });
    connect(contrastPanel, &ContrastPanel::limitsChanged, this, [this](double lo, double hi) {
        setColorMin(lo);
        setColorMax(hi);
        if (FixColorScale->isChecked())
            fixColorScaleChanged();
        else
            setFixColorScale(true);
    });
    contrastPanel->setLimits(colorMin(), colorMax());
    for (auto sig : { &ProcCtrl::rotAxUpdated, &ProcCtrl::sliceNoUpdated, &ProcCtrl::corUpdated })
        connect(procCtrl, sig, rawDisp->dispB(), qOverload<>(&QWidget::update));
    // A CoR typed, picked on the raw image or guessed, a slice or range typed: the user's.
    connect(procCtrl, &ProcCtrl::corUpdated, this, [this] { noteUserValue(resetCor, userCor); });
    connect(procCtrl, &ProcCtrl::sliceNoUpdated, this,
        [this] { noteUserValue(resetSlice, userSlice); });
    for (const char *name : { "SliceFrom", "SliceTo" }) {
        if (auto *edit = procCtrl->findChild<QLineEdit *>(name))
            connect(edit, &QLineEdit::textChanged, this,
                [this] { noteUserValue(resetSliceTo, userRange); });
    }

    // 11.
    setShowAdditionalInfo(ShowAdditionalInfo->isChecked());
    setShowAdditionalAdditionalInfo(ShowAdditionalAdditionalInfo->isChecked());
    I0ofRawImage_->setTitle(tr("I0 of Raw Image"));
    I0ofI0Image_->setTitle(tr("I0 of I0 Image"));
    connect(ShowAdditionalInfo, &QCheckBox::toggled, this, &Body::setShowAdditionalInfo);
    connect(ShowAdditionalAdditionalInfo, &QCheckBox::toggled, this,
        &Body::setShowAdditionalAdditionalInfo);
    connect(FixColorScale, &QCheckBox::toggled, this, &Body::fixColorScaleChanged);
    connect(ColorMin, &QLineEdit::editingFinished, this, &Body::fixColorScaleChanged);
    connect(ColorMax, &QLineEdit::editingFinished, this, &Body::fixColorScaleChanged);
    connect(SelDDir, &SelectDataDir::selected, this, &Body::selectedDir);
    connect(SelDDir, &SelectDataDir::selectedFileInfoList, this, &Body::selectedFileInfoList);
    connect(SelDDir, &SelectDataDir::newSets, this, &Body::newSets);

    // 12.
    setupDialog->setAcceptMode(QFileDialog::AcceptSave);
    setupDialog->setNameFilters({ "*.cfg", "*.*" });
    connect(SaveSetup, &QPushButton::clicked, this, &Body::showSaveSetupD);
    connect(LoadSetup, &QPushButton::clicked, this, &Body::showLoadSetupD);
    connect(setupDialog, &QFileDialog::fileSelected, this, &Body::saveLoadFileSelected);

    // The last problem of loading, running or saving stays in view below the window, the
    // list of recent ones in its tool tip. Failures are recorded on any thread.
    connect(
        &Failures::instance(), &Failures::recorded, this,
        [this](int, const QString &) { showLastProblem(StatusLine); }, Qt::QueuedConnection);
    showLastProblem(StatusLine);
    showFieldTextsFromStart(this);

    // Guards against slips: the wheel scrolls the control column unless a field has been
    // clicked into; number fields refuse text that is not a number.
    passWheelUnlessFocused(ctrlScroll);
    for (QLineEdit *edit : { DataUpperLimit, DataLowerLimit, DataOffset, ColorMin, ColorMax }) {
        NumberField *g = NumberField::guard(edit, NumberField::Real);
        connect(g, &NumberField::refused, this, [this, edit](const QString &typed) {
            notice(tr("\"%1\" is not a number; the field keeps %2").arg(typed, edit->text()));
        });
    }
    // The 3D view takes the data offset off the data files it loads, as the run added it.
    const auto offsetTo3D = [this] {
        for (SlicesCtrl *c : std::as_const(ctView->ctrls))
            c->sliceDatas()->dataOffset = DataOffset->text().toDouble(); // 0 when not a number
    };
    connect(DataOffset, &QLineEdit::textChanged, this, offsetTo3D);
    offsetTo3D();
    connect(procCtrl, &ProcCtrl::refusedInput, this, &Body::notice);
    connect(procCtrl, &ProcCtrl::rotAxUpdated, this, &Body::rotAxisChanged);
    connect(RegionReset, &QPushButton::clicked, this, &Body::resetRegionsToWhole);
    connect(RegionsApart, &QCheckBox::toggled, this, [this](bool apart) {
        if (!apart && !ctCalc2Uis.isEmpty()) {
            // Together again: CT1 takes the region the workers save.
            const CtRegion cr = ctCalc2Uis.first()->cr();
            const CtRegion dr = ctCalc2Uis.first()->dr();
            ctCalc->setDR(dr.x0, dr.z0, dr.x1, dr.z1);
            ctCalc->setCR(cr.x0, cr.z0, cr.x1, cr.z1);
        }
        showRegionState();
    });
    // Removing the selection on the raw image removes the regions it set.
    connect(rawDisp, &ImgDisp::selectionCleared, this, [this] {
        resetRegionsToWhole();
        notice(tr("Selection removed: the region is the whole slice again"));
    });
    connect(ctView, &CtView::notice, this, &Body::notice);

    // Keys for the steps taken most often; each button's tip names its key.
    auto addKey = [this](const QKeySequence &key, QAbstractButton *button) {
        if (!button)
            return;
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
        const QString name = key.toString(QKeySequence::NativeText);
        button->setToolTip(
            button->toolTip().isEmpty() ? name : QString("%1 (%2)").arg(button->toolTip(), name));
    };
    addKey(QKeySequence(Qt::CTRL | Qt::Key_O), CTFiles->findChild<QPushButton *>("Select"));
    addKey(QKeySequence(Qt::Key_F5), CalcCT);
    addKey(QKeySequence(Qt::CTRL | Qt::Key_G), sinogram->findChild<QPushButton *>("GuessCor"));
    addKey(QKeySequence(Qt::CTRL | Qt::Key_S), SaveSetup);
    auto *stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, [this] {
        if (calculating)
            toggleCalcCt();
    });
    CalcCT->setToolTip(tr("Starts the reconstruction (F5) or stops it (F5, Esc)"));
    // A click on "Link 2dQuolt" that finds no viewer is answered; the attempt at start-up,
    // when many work without the viewer, only goes to the log.
    connect(Link2dQuolt, &QPushButton::clicked, this, [this] { linkAsked = true; });
    connect(quoltLink, &TcpClient::failed, this, [this](const QString &error) {
        if (!std::exchange(linkAsked, false))
            return;
        notice(tr("No link to 2dQuolt at %1:%2: %3")
                   .arg(quoltLink->host())
                   .arg(quoltLink->port())
                   .arg(error));
    });
    showRegionState();

    // 13.
    execConfigLines();
    setupQuoltLink();
}

void Body::connectSignals()
{
    connect(this, &Body::batchCalcStart, this, &Body::startCalcCt);
    connect(this, &Body::batchCalcFinished, this, &Body::callBatchCheckEnd);
    connect(this, &Body::askAddAnImg, imgDatas, &ImgDatas::add);
    // A new I0 or BG image is checked against the projections' size once it is loaded (the
    // selector's own load runs first: it connected first).
    for (SelectAImgFile *sel : { I0ImgSel, BGImgSel }) {
        connect(sel, &SelectAFile::fileSelected, this, [this] { checkI0BgSizes(false); });
        // A choice that could not be loaded leaves the previous image in the selector; a run
        // must not use it (or none) in place of the one asked for.
        const QString which = sel == I0ImgSel ? QStringLiteral("I0") : QStringLiteral("BG");
        connect(sel, &SelectAFile::fileSelected, this, [this, sel, which](const QString &f) {
            if (f.isEmpty() || (sel->img && sel->img->ready && sel->img->fileName == f)) {
                refusedRefs.remove(which);
                return;
            }
            const QString why
                = QString("The %1 image %2 cannot be loaded (%3); no run starts "
                          "until an %1 image is loaded or cleared")
                      .arg(which, f,
                          QFileInfo::exists(f) || f.contains('#') ? "unreadable" : "no such file");
            refusedRefs.insert(which, why);
            recordFailure(Failures::Load, why);
        });
        connect(sel, &SelectAFile::clear, this, [this, which] { refusedRefs.remove(which); });
    }
    // "Clear" of the projection selector empties the set as well as the list: files added
    // afterwards start a new set instead of extending the old one.
    // The list is also cleared before a "New" choice: that selection, which follows at once,
    // clears the set itself once it knows that one of its files can be read.
    connect(CTFiles, &SelectDataFiles::filesCleared, this, [this] {
        clearPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!std::exchange(clearPending, false))
                    return;
                whenWorkersIdle([this] {
                    pendingFiles.clear();
                    imgDatas->clear();
                    seekCtrl->setIndex(0);
                    seekCtrl->setMaximum(0);
                    procCtrl->setDataSetImages(0);
                    procCtrl->setSliceLines(0);
                    updateRawImage();
                    showRegionState();
                });
            },
            Qt::QueuedConnection);
    });
    connect(this, &Body::askLoadNextDataFile, this, &Body::loadNextDataFile, Qt::QueuedConnection);
    connect(this, &Body::noticeFinishedLoadDataFiles, this, &Body::finishedLoadDataFiles,
        Qt::QueuedConnection);
    connect(this, &Body::setFirstSet, SelDDir, &SelectDataDir::setFirstSet);
    connect(this, &Body::setNextSet, SelDDir, &SelectDataDir::setNextSet);
    connect(this, &Body::stage, this,
        [this](const QString &msg, qulonglong dEt) { noticedStage(msg, qlonglong(dEt)); });
    connect(this, &Body::callBatchLoad, batch, &Batch::batchLoad);
    connect(this, &Body::callBatchExec, batch, &Batch::batchExec);
    connect(this, &Body::callBatchCheckEnd, batch, &Batch::batchCheckEnd);
    connect(this, &Body::qlkLoadFilesOfPattern, quoltLink, &QuoltLink::loadFilesOfPattern);
    connect(this, &Body::qlkLoadFiles, quoltLink, &QuoltLink::loadFiles);
    connect(this, &Body::qlkStatChanged, this, &Body::qlkStageCtrl);
    connect(this, &Body::exec2dA, quoltLink, &QuoltLink::exec2dA);
    connect(quoltLink, &QuoltLink::connected, this, &Body::qlkInitFlags);
    connect(quoltLink, &QuoltLink::changedIsBusy, this, &Body::qlkChangedIsBusy);
    connect(Link2dQuolt, &QPushButton::clicked, quoltLink, &TcpClient::doConnect);
    connect(Exec2DA, &QPushButton::clicked, this, &Body::exec2dA0);
    connect(Cont2DA, &QPushButton::clicked, this, &Body::qlkStartCont2dA);
    quoltLink->setLinkButton(Link2dQuolt);
}

void Body::buildWorkers(int n)
{
    dataSaverThread = new QThread;
    dataSaverThread->setObjectName("DataSaver");
    dataSaver = new DataSaver;
    dataSaver->moveToThread(dataSaverThread);
    threadsStarted = startThread(dataSaverThread, "the file saver") && threadsStarted;

    showAllCt2Images = configInt(config.valueNoCase("show_all_ct2_images", "0")) == 1;
    for (int k = 1; k <= n; ++k) {
        // Started first: a worker whose thread the system refuses is not made at all, and
        // the run goes on with those that run. Without any, nothing can be reconstructed.
        auto *thread = new QThread;
        thread->setObjectName(QString("CtCalc2 %1").arg(k));
        if (!startThread(thread, QString("reconstruction worker %1").arg(k), k == 1)) {
            delete thread;
            threadsStarted = threadsStarted && k > 1;
            break;
        }
        auto *worker = new CtCalc2;
        auto *view = new CtCalc2Ui;
        worker->setUi(view);
        // ctParams is written only between runs, never while a worker reads it (see
        // beginRun); the sinogram panel builds a worker's sinogram from read-only readers.
        worker->setCtParams(&ctParams);
        worker->setSinogram(sinogram);
        view->setObjectName(QString("ctCalc2Ui%1").arg(k));
        if (k == 1 || showAllCt2Images)
            addWorkerTab(k, view, showAllCt2Images);
        else
            untabbedViews << view;

        worker->moveToThread(thread);

        // Across threads these are queued: requests to the worker, reports and pictures back.
        connect(this, qOverload<CtCalc2 *, bool, double, int, bool>(&Body::startCt), worker,
            qOverload<CtCalc2 *, bool, double, int, bool>(&CtCalc2::startCt));
        connect(worker, &CtCalc2::calcFinished, this, [this, worker] { workerReported(worker); });
        // The saver owns each record from here on and deletes it once written.
        connect(worker, &CtCalc2::saveDataWDiscard, dataSaver, &DataSaver::saveDataWDiscard);
        connect(worker, &CtCalc2::saveImgWDiscard, dataSaver, &DataSaver::saveImgWDiscard);
        connect(worker, &CtCalc2::ctImage, this, &Body::ctImage);
        connect(view, &CtCalc2Ui::cRUpdated, this, &Body::cRUpdated);
        connect(view, &CtCalc2Ui::dRUpdated, this, &Body::dRUpdated);
        connect(view, &CtCalc2Ui::voxelSelected, this,
            [this, view](int slice, int x, int z) { showSpectrumOf(view->cr(), slice, x, z); });
        ctCalc2s << worker;
        ctCalc2Uis << view;
        ctCalc2Threads << thread;
    }
    // Workers wait when the saver is two slices each behind: memory stays bounded on a slow disk.
    SavingData::setQueueLimit(4 * int(ctCalc2s.size()));
}

void Body::addWorkerTab(int k, CtCalc2Ui *view, bool appended)
{
    auto *base = new PopDockBase;
    base->setObjectName(QString("Ct2ImgBase%1").arg(k));
    base->setWidget(view, tr("CT Calc2 %1").arg(k));
    if (appended)
        ImgsTab->addTab(base, tr("CT2 %1").arg(k));
    else
        ImgsTab->insertTab(3, base, tr("CT2"));
}

Body::~Body()
{
    shutDown();
    for (CtCalc2 *w : std::as_const(ctCalc2s)) {
        w->setUi(nullptr);
        delete w; // its thread has ended: nothing of it runs or is queued any more
    }
    ctCalc2s.clear();
    qDeleteAll(ctCalc2Threads);
    ctCalc2Threads.clear();
    qDeleteAll(untabbedViews);
    untabbedViews.clear();
    delete dataSaver;
    delete dataSaverThread;
    delete batch;
    delete batchThread;
    delete xafsBatch;
    delete xafsBatchThread;
    imgDatas->clear();
    delete imgDatas;
    delete imgDatasThread;
    // The panels (raw display, sinogram, CT panels, 3D view) go with the widget tree.
}

void Body::shutDown()
{
    if (shutDownDone)
        return;
    shutDownDone = true;
    closing = true;
    if (calculating) {
        noteStoppedRun("the program is closing");
        stopCalcCt();
    }
    startPending = false;
    idleActions.clear();
    // The sweep's threads read the image set, which goes next.
    if (corSweep)
        corSweep->stopAndWait();
    // Workers finish the slices they have, then the saver writes every record queued.
    shutDownWorkers(ctCalc2s, dataSaver);
    // A stack being made is finished: no half-written file is left for the next session.
    if (stackThread) {
        stackThread->wait();
        delete stackThread;
        stackThread = nullptr;
    }
    for (QThread *t : { imgDatasThread, batchThread, xafsBatchThread, dataSaverThread }) {
        if (t) {
            t->quit();
            t->wait();
        }
    }
}

void Body::stopFromOutside(int signalNumber)
{
    logLine("Stopped from outside by signal", QString::number(signalNumber));
    askBeforeDiscard = false;
    close();
}

void Body::closeEvent(QCloseEvent *event)
{
    if (!confirmDiscard()) {
        event->ignore();
        return;
    }
    shutDown();
    emit finishing();
    QFrame::closeEvent(event);
}

bool Body::confirmDiscard()
{
    if (!resultsUnsaved || ctDisp->count() < 2 || !askBeforeDiscard || !isVisible()
        || batch->running)
        return true;
    const auto answer = QMessageBox::question(this, tr("Unsaved slices"),
        tr("The %1 slices of the last run in \"CT Images\" were not saved and will be lost. "
           "Go on?")
            .arg(ctDisp->count()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void Body::execConfigLines()
{
    for (const QString &line : std::as_const(config.lines))
        execCmd(BatchCmd(line), false);
}

// ---- reset flags -------------------------------------------------------------------------

void Body::setProcSlice(int slice)
{
    procCtrl->setSliceNo(slice);
    resetSlice = false;
}

void Body::setProcSliceTo(int sliceTo)
{
    procCtrl->setSliceTo(sliceTo);
    resetSliceTo = false;
}

void Body::setProcSliceFrom(int sliceFrom)
{
    procCtrl->setSliceFrom(sliceFrom);
    resetSliceTo = false;
}

void Body::setProcCor(double cor)
{
    procCtrl->setCor(cor);
    resetCor = false;
}

void Body::noteUserValue(bool &resetFlag, bool &userFlag)
{
    if (applyingDefaults)
        return;
    userFlag = true;
    if (imgDatas->count() == 0)
        resetFlag = false;
}

// ---- loading -----------------------------------------------------------------------------

void Body::dataFilesSelected(QStringList files, bool clear)
{
    const bool series = announcingSet;
    // Only a choice of the user's own keeps the set in hand when none of its files can be
    // read; a sequence or a batch must not go on with the previous set.
    const bool keepUnreadable = !series && !loadByCommand;
    // A "Clear" not yet carried out is carried out here, before the files join the set; the
    // one before a "New" choice waits for the check below.
    const bool wipe = std::exchange(clearPending, false) || clear;
    // The data-set selector's tag names its set: files chosen otherwise are not of that set.
    if (!series && !setTag.isEmpty()) {
        bool dropped = false;
        for (SelectAFile *sel : { SelectImageSaveDir, SelectDataSaveDir }) {
            if (sel->addTag() == setTag) {
                sel->setAddTag(QString());
                dropped = true;
            }
        }
        if (dropped)
            notice(tr("Files chosen outside the data-set list: the tag %1 of that set is no "
                      "longer added to the names of saved files")
                       .arg(setTag));
        setTag.clear();
    }
    whenWorkersIdle([this, files, clear, wipe, series, keepUnreadable] {
        loadIsSeries = series;
        if (clear && keepUnreadable && imgDatas->count() > 0 && !files.isEmpty()) {
            // The set in hand is given up only for one that can be read.
            QString why, firstWhy;
            bool readable = false;
            for (const QString &f : files) {
                if ((readable = ImgDatas::readable(f, &why)))
                    break;
                if (firstWhy.isEmpty())
                    firstWhy = why;
            }
            if (!readable) {
                for (int i = 0; i < imgDatas->count(); ++i)
                    CTFiles->appendFile(imgDatas->at(i)->fileName);
                CTFiles->setMissing(int(imgDatas->refused.size()));
                notice(tr("None of the %1 chosen files can be read (%2: %3): the loaded set of "
                          "%4 images stays")
                           .arg(files.size())
                           .arg(QFileInfo(files.first()).fileName(), firstWhy)
                           .arg(imgDatas->count()));
                return;
            }
        }
        if (wipe) {
            imgDatas->clear();
            seekCtrl->setIndex(0);
            seekCtrl->setMaximum(0);
            rawDisp->imgData = nullptr;
            rawDisp->scaleSet = false;
        }
        // One load at a time, however often files are chosen: a second chain of passes would
        // end the load twice, and a batch or sequence waiting for the first end would go on
        // with the set half read.
        if (wipe)
            pendingFiles.clear();
        pendingFiles += files;
        memoryChecked = false;
        if (!loading) {
            loading = true;
            // An HDF5 file or a TIFF stack ("FILE#0") is named itself, not its folder.
            const QString first = files.value(0);
            loadFolder = first.isEmpty()   ? QString()
                : QFileInfo::exists(first) ? QFileInfo(first).path()
                                           : first.section(u'#', 0, 0);
            loadRefused.clear();
            emit askLoadNextDataFile();
        }
    });
}

void Body::loadNextDataFile()
{
    // Adding to the set while a worker reads it would move the readers under its feet.
    if (workersInFlight() > 0) {
        whenWorkersIdle([this] { emit askLoadNextDataFile(); });
        return;
    }
    if (pendingFiles.isEmpty()) {
        emit noticeFinishedLoadDataFiles();
        return;
    }
    const QString name = pendingFiles.takeFirst();
    const qsizetype refusedBefore = imgDatas->refused.size();
    if (imgDatas->add(name)) {
        CTFiles->appendFile(name);
        if (!std::exchange(memoryChecked, true) && !memoryAllowsLoad()) {
            // Nothing half loaded stays: the list and the set are emptied together.
            pendingFiles.clear();
            CTFiles->clearFiles();
        }
    } else if (imgDatas->refused.size() > refusedBefore) {
        // Named in the log now; counted once, with every other refusal of this load, when
        // the load ends and the set is found incomplete.
        const QString why = imgDatas->refused.last().reason;
        logLine("Cannot load the image " + name + " (" + why + ")");
        loadRefused << QFileInfo(name).fileName() + ": " + why;
    }
    emit askLoadNextDataFile();
}

bool Body::memoryAllowsLoad()
{
    const ImgData *last = imgDatas->at(imgDatas->count() - 1);
    const qint64 available = availableMemory();
    if (!last || available < 0)
        return true;
    // Measured: a worker holds about 8 N^2 + 32 N P bytes for slices of width N from P
    // projections (transforms, sinogram, result); the single-slice panel as much again.
    // Ring removal adds one more sinogram of doubles, and the raw lines that the mending of
    // dead pixels holds while the sinogram is built.
    const qint64 projections = imgDatas->count() + pendingFiles.size();
    const qint64 n = procCtrl->rotAxIsV() ? last->width : last->height;
    const qint64 workers = ctCalc2s.size() + 1;
    const qint64 perWorker = 8 * n * n + (procCtrl->ringRemoval() > 0 ? 48 : 32) * n * projections;
    const qint64 need = ImgDatas::bytesPerImage(*last) * pendingFiles.size() + workers * perWorker;
    if (need <= available)
        return true;
    recordFailure(Failures::Memory,
        QString("The image set needs about %1 of memory (%2 images of %3 x %4 pixels and %5 "
                "workers), but only %6 are available; the set is not loaded")
            .arg(memoryText(need + ImgDatas::bytesPerImage(*last)))
            .arg(projections)
            .arg(last->width)
            .arg(last->height)
            .arg(workers)
            .arg(memoryText(available)));
    return false;
}

void Body::useHdf5File(QString path, DxchangeFile::Info info)
{
    bool given = false, even = true;
    double origin = 0, range = 0;
    // The chooser has refused a file whose angles cannot be used.
    if (DxchangeFile::angleRange(path, info, given, origin, range, nullptr, &even) && given) {
        procCtrl->setAngleOriginDeg(origin);
        procCtrl->setDataSetRangeDeg(range);
    }
    if (!even) {
        unevenAngles.insert(path, info.theta);
        const auto [lo, hi] = std::minmax_element(info.theta.begin(), info.theta.end());
        logLine(QString("The angles of %1 are not evenly spread or not in order (%2 ... %3 "
                        "degrees): each projection is reconstructed at its own angle, weighted "
                        "by the angle it stands for")
                    .arg(path)
                    .arg(*lo)
                    .arg(*hi));
    } else {
        unevenAngles.remove(path);
    }
    // A file without white or dark images has none to use: the previous data set's
    // references must not silently stay in force.
    whenWorkersIdle([this, path, info] {
        if (info.whites > 0)
            I0ImgSel->fileSelected0(DxchangeFile::address(path, DxchangeFile::Part::White));
        else
            I0ImgSel->clear0();
        if (info.darks > 0)
            BGImgSel->fileSelected0(DxchangeFile::address(path, DxchangeFile::Part::Dark));
        else
            BGImgSel->clear0();
    });
}

void Body::finishedLoadDataFiles()
{
    // Files chosen between the last pass and this one belong to the same load.
    if (!pendingFiles.isEmpty()) {
        emit askLoadNextDataFile();
        return;
    }
    loading = false;
    report(RunReport::loadLine(
               imgDatas->count(), imgDatas->width, imgDatas->height, loadFolder, loadRefused),
        nullptr);
    const bool series = loadIsSeries;
    loadIsSeries = false;
    const bool keep = CTFiles->keepConditions();
    const bool v = procCtrl->rotAxIsV();
    const int w = imgDatas->width;
    const int h = imgDatas->height;
    // Defaults from an empty set (extent 0) would be nonsense; they wait for a real load.
    const bool haveImages = imgDatas->count() > 0 && w > 0 && h > 0;
    // The energies of one series are reconstructed with one geometry: a set of the series
    // with the images of the same size keeps every condition, whatever "keep Conds." says.
    const bool sameSeries = series && loadedOnce && w == loadedWidth && h == loadedHeight;
    // Otherwise a default applies at the first load and, while "keep Conds." is unchecked, at
    // every load — except to a value that a command (batch, setup or configuration line) has
    // set since the previous load, or that was set before any set was loaded: a batch that
    // sets the CoR and then loads keeps its CoR.
    const bool applyDefaults = haveImages && !sameSeries && (!loadedOnce || !keep);
    QStringList replaced;
    if (applyDefaults)
        writeDefaults(resetSliceTo, resetSlice, resetCor, false, replaced);
    procCtrl->setDataSetImages(imgDatas->count());
    if (haveImages)
        procCtrl->setSliceLines(v ? h : w);
    seekCtrl->setMaximum(std::max(0, imgDatas->count() - 1));
    // A listed file left out would shift every later projection's angle: said once, counted
    // as a failure and shown on the selector's count; no run starts on such a set.
    CTFiles->setMissing(int(imgDatas->refused.size()));
    checkI0BgSizes(false);
    if (imgDatas->refused.size() > imgDatas->reportedRefusals) {
        imgDatas->reportedRefusals = imgDatas->refused.size();
        recordFailure(Failures::Load, imgDatas->incompleteText());
    }
    updateRawImage();
    if (haveImages)
        updateI0Scale();
    if (sinogram->procCtrl) {
        sinogram->genSinogram();
        sinogram->genImage();
    }
    if (applyDefaults && resetRegions)
        writeDefaults(false, false, false, true, replaced);
    // A value the user set and the defaults replaced is said where the user looks.
    if (!replaced.isEmpty())
        notice(tr("The new set of %1 x %2 images replaces what you set: %3")
                   .arg(w)
                   .arg(h)
                   .arg(replaced.join(QStringLiteral(", "))));
    setOfListLoaded = series && haveImages;
    // The sets of a series are steps of one measurement, not folders the user opened.
    if (haveImages && !series && !loadFolder.isEmpty()) {
        Places::addRecentData(loadFolder);
        refreshRecentData();
    }
    if (haveImages) {
        loadedOnce = true;
        loadedWidth = w;
        loadedHeight = h;
        resetSliceTo = resetSlice = resetCor = resetRegions = true;
    }
    showRegionState();
    emit finishedLoadingCTFiles();
    resumeStart();
}

double Body::regionExtent() const
{
    return (procCtrl->rotAxIsV() ? imgDatas->width : imgDatas->height) - 1;
}

bool Body::regionIsWhole(const CtRegion &r) const
{
    if (imgDatas->count() == 0)
        return true;
    const double e = regionExtent();
    return r.x0 <= 0 && r.z0 <= 0 && r.x1 >= e && r.z1 >= e;
}

void Body::writeDefaults(bool range, bool slice, bool cor, bool regions, QStringList &replaced)
{
    const bool v = procCtrl->rotAxIsV();
    const int w = imgDatas->width;
    const int h = imgDatas->height;
    const QString setText = QString("%1 x %2 images").arg(w).arg(h);
    // A default that replaces a value the user set says which and how.
    auto replace = [&](bool &user, const char *what, const QString &label, const QString &from,
                       const QString &to) {
        if (user && from != to) {
            logLine(QString("The default for the new set of %1 replaces the %2 set by the user: "
                            "%3 -> %4")
                        .arg(setText, QLatin1String(what), from, to));
            replaced << QString("%1 %2 -> %3").arg(label, from, to);
        }
        user = false;
    };
    applyingDefaults = true;
    if (range) {
        // "from" and "to" are one range: a range reset is a reset of both.
        const int to = (v ? h : w) - 1;
        replace(userRange, "slice range", tr("slice range"),
            QString("%1...%2").arg(procCtrl->sliceFrom()).arg(procCtrl->sliceTo()),
            QString("0...%1").arg(to));
        procCtrl->setSliceFrom(0);
        procCtrl->setSliceTo(to);
    }
    if (slice) {
        const int sl = v ? h / 2 : w / 2;
        replace(userSlice, "slice", tr("slice"), QString::number(procCtrl->slice()),
            QString::number(sl));
        procCtrl->setSliceNo(sl);
    }
    if (cor) {
        const double c = v ? w * 0.5 : double(h / 2);
        replace(userCor, "CoR", tr("CoR"), QString::number(procCtrl->cor(), 'g', 10),
            QString::number(c, 'g', 10));
        procCtrl->setCor(c);
    }
    if (regions) {
        const double e = (v ? w : h) - 1;
        const CtRegion cr = ctCalc->cr();
        replace(userRegions, "calculation region", tr("region"),
            QString("(%1, %2, %3, %4)").arg(cr.x0).arg(cr.z0).arg(cr.x1).arg(cr.z1),
            QString("(0, 0, %1, %1)").arg(e));
        ctCalc->setDR(0, 0, e, e);
        ctCalc->setCR(0, 0, e, e);
        for (CtCalc2Ui *view : std::as_const(ctCalc2Uis)) {
            view->setDR(0, 0, e, e);
            view->setCR(0, 0, e, e);
        }
    }
    applyingDefaults = false;
}

void Body::rotAxisChanged()
{
    // A selection on the raw image was made across the other axis.
    rawDisp->selValid = false;
    rawDisp->selecting = false;
    if (imgDatas->count() == 0 || imgDatas->width <= 0 || imgDatas->height <= 0)
        return; // the first load gives the defaults for the axis then chosen
    const bool v = procCtrl->rotAxIsV();
    procCtrl->setSliceLines(v ? imgDatas->height : imgDatas->width);
    QStringList replaced;
    if (axisByCommand) {
        // As at a load: values that commands have set since stay.
        writeDefaults(resetSliceTo, resetSlice, resetCor, resetRegions, replaced);
    } else {
        // Values set for the other axis mean other lines and columns: each takes what a first
        // load with this axis gives, whatever the user had set.
        userRange = userSlice = userCor = userRegions = false;
        writeDefaults(true, true, true, true, replaced);
    }
    showRegionState();
    rawDisp->dispB()->update();
    notice(tr("Rotation axis %1: slice %2, slices %3 ... %4, CoR %5, %6")
               .arg(v ? "V" : "H")
               .arg(procCtrl->slice())
               .arg(procCtrl->sliceFrom())
               .arg(procCtrl->sliceTo())
               .arg(procCtrl->cor())
               .arg(RegionState->text()));
}

void Body::resetRegionsToWhole()
{
    rawDisp->selValid = false;
    rawDisp->selecting = false;
    rawDisp->dispB()->update();
    userRegions = false;
    if (imgDatas->count() == 0) {
        // Nothing loaded: the next load gives the whole region.
        resetRegions = true;
    } else {
        QStringList replaced;
        writeDefaults(false, false, false, true, replaced);
    }
    showRegionState();
}

void Body::showRegionState()
{
    auto text = [](const CtRegion &r) {
        return QString("%1 %2 %3 %4")
            .arg(regionText(r.x0), regionText(r.z0), regionText(r.x1), regionText(r.z1));
    };
    const CtRegion ct1 = ctCalc->cr();
    const CtRegion ct2 = ctCalc2Uis.isEmpty() ? ct1 : ctCalc2Uis.first()->cr();
    const bool whole1 = regionIsWhole(ct1);
    const bool whole2 = regionIsWhole(ct2);
    QString shown;
    if (ct1 == ct2 || (whole1 && whole2))
        shown = tr("Region: %1").arg(whole1 ? tr("whole") : text(ct1));
    else
        shown = tr("Region CT1: %1, CT2: %2")
                    .arg(whole1 ? tr("whole") : text(ct1), whole2 ? tr("whole") : text(ct2));
    RegionState->setText(shown);
    RegionState->setToolTip(shown);
    // A part of the slice only is worth a glance before a run writes every slice so.
    RegionState->setStyleSheet(
        whole1 && whole2 ? QString() : QStringLiteral("background-color: rgb(255, 255, 128);"));
    RegionReset->setEnabled(!(whole1 && whole2));
}

void Body::notice(const QString &text)
{
    logLine(text);
    StatusLine->setText(text);
    StatusLine->setToolTip(text);
    StatusLine->setStyleSheet(QStringLiteral("background-color: rgb(255, 240, 192);"));
}

// ---- raw image ---------------------------------------------------------------------------

void Body::newPosOnRawImg(double x, double y)
{
    crossX = x;
    crossY = y;
    double v = 0.0;
    const ImgData *img = imgDatas->at(seekCtrl->index());
    if (img && std::abs(x) < 1e9 && std::abs(y) < 1e9) {
        const int ix = int(x);
        const int iy = int(y);
        if (ix >= 0 && iy >= 0 && ix < img->width && iy < img->height) {
            rawRow.resize(size_t(img->width));
            v = img->hLine(iy, rawRow.data())[ix];
        }
    }
    rawDisp->setVal(v);
}

std::vector<double> Body::imageAngles() const
{
    if (unevenAngles.isEmpty() || imgDatas->count() == 0)
        return {};
    std::vector<double> angles;
    angles.reserve(size_t(imgDatas->count()));
    for (int i = 0; i < imgDatas->count(); ++i) {
        QString path;
        DxchangeFile::Part part = DxchangeFile::Part::Projection;
        int index = 0;
        const ImgData *img = imgDatas->at(i);
        if (!img || !DxchangeFile::splitAddress(img->fileName, path, part, index)
            || part != DxchangeFile::Part::Projection)
            return {};
        const auto it = unevenAngles.constFind(path);
        if (it == unevenAngles.constEnd() || index >= int(it->size()))
            return {};
        angles.push_back((*it)[size_t(index)]);
    }
    return angles;
}

void Body::checkI0BgSizes(bool runStart)
{
    for (SelectAImgFile *sel : { I0ImgSel, BGImgSel }) {
        const ImgData *reader = sel->img;
        if (!reader || !reader->ready)
            continue;
        const QString text
            = imgDatas->sizeMismatchText(reader, sel == I0ImgSel ? QString("I0") : QString("BG"));
        sel->setStat(text.isEmpty());
        if (text.isEmpty())
            continue;
        if (runStart)
            recordFailure(Failures::Load, text);
        else
            notice(text);
    }
}

void Body::updateRawImage()
{
    const int idx = seekCtrl->index();
    rawDisp->imgData = imgDatas->at(idx);
    if (!toImage(*imgDatas, idx, rawDisp->img, rawDisp->colorBar()))
        rawDisp->img = QImage();
    rawDisp->newImage();
}

void Body::draw(QPainter *p)
{
    if (imgDatas->count() == 0 || rawDisp->s.width() == 0 || rawDisp->s.height() == 0)
        return;
    const QRectF s = rawDisp->shownRect();
    const QWidget *canvas = rawDisp->dispB();
    const double w = imgDatas->width;
    const double h = imgDatas->height;
    const bool v = procCtrl->rotAxIsV();

    p->save();
    p->scale(canvas->width() / s.width(), canvas->height() / s.height());
    p->translate(-s.x(), -s.y());
    // Pixel i covers i ... i + 1 on the canvas: lines through pixels run through their middle.
    auto hLine = [&](double row) { p->drawLine(QPointF(0, row + 0.5), QPointF(w, row + 0.5)); };
    auto vLine = [&](double col) { p->drawLine(QPointF(col + 0.5, 0), QPointF(col + 0.5, h)); };

    if (crossX >= 0 && crossY >= 0) {
        p->setPen(crossPen);
        hLine(crossY);
        vLine(crossX);
    }
    p->setPen(slicePen);
    v ? hLine(procCtrl->slice()) : vLine(procCtrl->slice());
    p->setPen(rangePen);
    for (int sl : { procCtrl->sliceFrom(), procCtrl->sliceTo() })
        v ? hLine(sl) : vLine(sl);
    p->setPen(corPen);
    v ? vLine(procCtrl->cor()) : hLine(procCtrl->cor());
    if (rawDisp->selecting || rawDisp->selValid) {
        p->setPen(rawDisp->selecting ? selectingPen : selectedPen);
        p->setBrush(Qt::NoBrush);
        p->drawRect(rawDisp->sel.normalized());
    }
    p->restore();
    if (rawDisp->selValid && !rawDisp->selecting)
        applyRawSelection();
}

void Body::applyRawSelection()
{
    const QRectF r = rawDisp->sel.normalized();
    if (!(std::abs(r.x()) < 1e9 && std::abs(r.y()) < 1e9 && r.width() < 1e9 && r.height() < 1e9))
        return;
    const bool v = procCtrl->rotAxIsV();
    const double a0 = v ? r.x() : r.y();
    const double a1 = a0 + (v ? r.width() : r.height());
    const double b0 = v ? r.y() : r.x();
    const double b1 = b0 + (v ? r.height() : r.width());
    relayRegion(true, nullptr, a0, a0, a1, a1);
    relayRegion(false, nullptr, a0, a0, a1, a1);
    if (procCtrl->sliceFrom() != int(b0))
        procCtrl->setSliceFrom(int(b0));
    if (procCtrl->sliceTo() != int(b1))
        procCtrl->setSliceTo(int(b1));
}

void Body::selectedAPointInRawImg(double x, double y, MouseC::MStat s)
{
    const bool v = procCtrl->rotAxIsV();
    if (s == MouseC::Right) {
        procCtrl->setCor(v ? x : y);
    } else if (s == MouseC::Left) {
        const double pos = v ? y : x;
        if (!(std::abs(pos) < 1e9))
            return;
        const int lines = procCtrl->sliceLines();
        if (lines > 0 && (pos < 0 || pos >= lines)) {
            notice(tr("Slice %1 lies outside the set (0 ... %2): the slice stays %3")
                       .arg(int(std::floor(pos)))
                       .arg(lines - 1)
                       .arg(procCtrl->slice()));
            return;
        }
        procCtrl->setSliceNo(int(pos));
        if (SendMsg2Quolt->isChecked())
            sendSliceFiles(int(pos));
    }
}

void Body::showDispRaw()
{
    rawDisp->setVisible(!rawDisp->isVisible());
}

void Body::showSinogram()
{
    sinogram->setVisible(!sinogram->isVisible());
    if (sinogram->procCtrl) {
        sinogram->genSinogram();
        sinogram->genImage();
    }
}

// ---- regions and colour scale ------------------------------------------------------------

void Body::relayRegion(
    bool display, const QObject *from, double rx0, double rz0, double rx1, double rz1)
{
    noteUserValue(resetRegions, userRegions);
    // "CT1, CT2 apart": the single-slice panel and the workers keep regions of their own (the
    // workers share one: they reconstruct one range together). A raw-image selection and the
    // defaults of a load still reach both.
    const bool apart = RegionsApart->isChecked() && from != nullptr && !applyingDefaults;
    const bool fromCt1 = from == ctCalc;
    if (!fromCt1 && !apart) {
        if (display)
            ctCalc->setDR(rx0, rz0, rx1, rz1);
        else
            ctCalc->setCR(rx0, rz0, rx1, rz1);
    }
    for (CtCalc2Ui *view : std::as_const(ctCalc2Uis)) {
        if (view == from || (apart && fromCt1))
            continue;
        if (display)
            view->setDR(rx0, rz0, rx1, rz1);
        else
            view->setCR(rx0, rz0, rx1, rz1);
    }
    showRegionState();
}

void Body::dRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    relayRegion(true, sender(), rx0, rz0, rx1, rz1);
}

void Body::cRUpdated(double rx0, double rz0, double rx1, double rz1)
{
    relayRegion(false, sender(), rx0, rz0, rx1, rz1);
}

void Body::showContrastOf(const double *values, std::size_t n)
{
    contrastPanel->setValues(values, n);
    // Without a fixed scale each picture spans its own values.
    const ValueHistogram &h = contrastPanel->histogram();
    if (!FixColorScale->isChecked() && !h.isEmpty())
        contrastPanel->setLimits(h.min(), h.max());
}

void Body::fixColorScaleChanged()
{
    const bool f = FixColorScale->isChecked();
    const ValueHistogram &h = contrastPanel->histogram();
    if (f || h.isEmpty())
        contrastPanel->setLimits(colorMin(), colorMax());
    else
        contrastPanel->setLimits(h.min(), h.max());
    ctCalc->setFixColorScale(f);
    for (CtCalc2Ui *view : std::as_const(ctCalc2Uis))
        view->setFixColorScale(f);
    if (!f)
        return;
    const double mn = colorMin();
    const double mx = colorMax();
    ctCalc->setCBarMinMaxForced(mn, mx);
    for (CtCalc2Ui *view : std::as_const(ctCalc2Uis))
        view->setCBarMinMaxForced(mn, mx);
}

double Body::colorMin()
{
    return numberOf(ColorMin);
}

double Body::colorMax()
{
    return numberOf(ColorMax);
}

void Body::setFixColorScale(bool f)
{
    FixColorScale->setChecked(f);
}

void Body::setColorMin(double v)
{
    ColorMin->setText(QString::number(v, 'g', 6));
}

void Body::setColorMax(double v)
{
    ColorMax->setText(QString::number(v, 'g', 6));
}

void Body::setAutoSaveImage(bool f)
{
    AutoSaveImage->setChecked(f);
}

void Body::setAutoSaveData(bool f)
{
    AutoSaveData->setChecked(f);
}

void Body::setShowAdditionalInfo(bool f)
{
    AdditionalInfo->setVisible(f);
    ShowAdditionalAdditionalInfo->setVisible(f);
}

void Body::setShowAdditionalAdditionalInfo(bool f)
{
    AdditionalAdditionalInfo->setVisible(f);
}

// ---- data sets and I0 files --------------------------------------------------------------

void Body::selectedDir(QString dir, QStringList patterns)
{
    // The I0 reader and the image set change here: not while a worker reads them.
    whenWorkersIdle([this, dir, patterns] {
        setI0FileFromList();
        const QString tag = SelDDir->currentSetName();
        SelectImageSaveDir->setAddTag(tag);
        SelectDataSaveDir->setAddTag(tag);
        setTag = tag;
        // The load this starts is a set of the series: it keeps the conditions.
        announcingSet = true;
        CTFiles->loadFromDir(dir, patterns);
        announcingSet = false;
    });
}

void Body::selectedFileInfoList(QFileInfoList fileInfoList)
{
    whenWorkersIdle([this, fileInfoList] {
        setI0FileFromList();
        const QString tag = SelDDir->currentSetName();
        SelectImageSaveDir->setAddTag(tag);
        SelectDataSaveDir->setAddTag(tag);
        setTag = tag;
        // The load this starts is a set of the series: it keeps the conditions.
        announcingSet = true;
        CTFiles->loadFileInfos(fileInfoList);
        announcingSet = false;
    });
}

double Body::energyOfI0File(const QString &path)
{
    const int last = path.lastIndexOf(u'-');
    if (last < 0)
        return 0.0;
    const QString rest = path.left(last);
    const QString field = rest.mid(rest.lastIndexOf(u'-') + 1);
    return CtFileSet::readNameNumber(field) * CtFileSet::scaleOf(CtFileSet::unitOf(field));
}

void Body::i0FilesSelected(QStringList files, bool clear)
{
    Q_UNUSED(clear); // the selector has already emptied its list when it should be
    for (const QString &f : std::as_const(files))
        SelI0Files->appendFile(f);
    // Recomputed from the whole list so that the energies stay parallel to its entries even
    // when files were added to an existing list.
    i0Energies.clear();
    for (const QString &f : SelI0Files->files())
        i0Energies << energyOfI0File(f);
}

void Body::setI0FileFromList()
{
    const QStringList files = SelI0Files->files();
    if (files.isEmpty() || i0Energies.size() != files.size())
        return;
    const double e = SelDDir->currentEnergy();
    int best = 0;
    for (int i = 1; i < i0Energies.size(); ++i) {
        if (std::abs(i0Energies.at(i) - e) < std::abs(i0Energies.at(best) - e))
            best = i;
    }
    I0ImgSel->fileSelected0(files.at(best));
}

void Body::updateI0Scale()
{
    // The I0 image was taken at another moment than the projections: the ring current has
    // decayed, the monochromator drifted. Its counts are scaled by I0(raw) / I0(I0 image),
    // each a fixed value or the XAFS scan's I0 at the energy in the file names.
    const ImgData *raw = imgDatas->at(0);
    const ImgData *ref = *I0ImgSel->imgSlot();
    const double i0Raw = I0ofRawImage_->i0ForImage(raw ? raw->fileName : QString());
    const double i0Ref = I0ofI0Image_->i0ForImage(ref ? ref->fileName : QString());
    const double scale = I0Correction::scale(i0Raw, i0Ref);
    if (scale != imgDatas->i0Scale)
        logLine(QString("I0 image scaled by %1 (I0 of the raw images %2, of the I0 image %3)")
                    .arg(scale, 0, 'g', 10)
                    .arg(i0Raw, 0, 'g', 10)
                    .arg(i0Ref, 0, 'g', 10));
    imgDatas->i0Scale = scale;
}

void Body::ctImage(int no, QImage img)
{
    ctDisp->addImg(no, img);
    if (!AutoSaveData->isChecked() && !AutoSaveImage->isChecked() && !AutoSaveTiff->isChecked())
        resultsUnsaved = true;
    // The worker that sent the picture still holds its values unless it has begun its next
    // slice already; then the histogram waits for the next picture.
    if (auto *worker = qobject_cast<CtCalc2 *>(sender())) {
        int n = 0;
        if (worker->copyResult(contrastValues, n))
            showContrastOf(contrastValues.data(), contrastValues.size());
    }
}

void Body::batchLoad(QString fname)
{
    emit callBatchLoad(fname);
}

void Body::batchExec()
{
    emit callBatchExec();
}
