// The batch commands of the main window, carried out on its real widgets, and batch files run
// by the real interpreter on its thread against real camera files.
#include "Body.h"
#include "CtView.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"
#include "SpectrumView.h"
#include "xafs/ModelStack.h"

#include "Batch.h"
#include "Config.h"
#include "CorSweepGrid.h"
#include "CorSweepPanel.h"
#include "CtCalc.h"
#include "CtCalc2Ui.h"
#include "CtFilter.h"
#include "Failures.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ct/CtTestData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>

using Probe = std::function<QVariant(Body &)>;
Q_DECLARE_METATYPE(Probe)

#define PROBE(expr) Probe([](Body &b) -> QVariant { return QVariant(expr); })

namespace {

void run(Body &b, const QString &line)
{
    QVERIFY(QMetaObject::invokeMethod(
        &b, "batchExCmd", Qt::DirectConnection, Q_ARG(BatchCmd, BatchCmd(line))));
}

QString regions(Body &b)
{
    auto text = [](const CtRegion &r) {
        return QString("%1 %2 %3 %4").arg(r.x0).arg(r.z0).arg(r.x1).arg(r.z1);
    };
    return text(b.ctCalc->dr()) + " / " + text(b.ctCalc2Uis.last()->dr()) + " | "
        + text(b.ctCalc->cr()) + " / " + text(b.ctCalc2Uis.last()->cr());
}

QString text(const QVariant &v)
{
    QStringList items;
    for (const QVariant &i : v.canConvert<QVariantList>() ? v.toList() : QVariantList { v })
        items << i.toString();
    return items.join(", ");
}

QVariantList listOf(const QList<double> &l)
{
    QVariantList v;
    for (double d : l)
        v << d;
    return v;
}

bool writeFile(const QString &path, const QString &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Text) && f.write(text.toUtf8()) >= 0;
}

// Runs a batch file with the window's own interpreter and waits until it has stopped.
bool runBatch(Body &b, const QString &path, const QString &text)
{
    // The last line marks the end, so that a batch too quick to be seen running is not missed.
    if (!writeFile(path, text + "auto_save_data_offset batch-done\n"))
        return false;
    b.batchLoad(path);
    b.batchExec();
    return QTest::qWaitFor(
        [&b] { return b.DataOffset->text() == "batch-done" && !b.batch->running; }, 60000);
}

} // namespace

class TestBodyCommands : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void commandSetsControl_data();
    void commandSetsControl();
    void rotAxisAlreadyHorizontalEmitsNothing();
    void showCt2FindsWorkerTab();
    void configLinesRunAtStart();

    void conditionsFollowSeqExecNext();
    void batchDrivesLoadAndRangeRun();
    void calcExecWithoutImagesGoesOn_data();
    void calcExecWithoutImagesGoesOn();
    void calcExecSaysCt1DoesNotSave_data();
    void calcExecSaysCt1DoesNotSave();
    void failedLoadsAreCounted_data();
    void failedLoadsAreCounted();
    void spectraCommandsRunUnattended();
    void corSweepCommand_data();
    void corSweepCommand();
    void corSweepSideBySide();

private:
    CtTestData::PhantomImages images;
    QStringList projections;
    QTemporaryDir tmp;
    std::unique_ptr<Body> body; // one window through the whole table, images loaded
};

void TestBodyCommands::initTestCase()
{
    // The recent folders and dialog folders the loads remember stay in the temporary folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tmp.filePath("settings"));
    CtTestData::PhantomSetup setup;
    setup.width = 64;
    setup.height = 12;
    setup.projections = 8;
    QVERIFY(images.make(setup));
    const QDir d(images.dir.path());
    for (const QString &f : d.entryList({ "p-*.img" }, QDir::Files, QDir::Name))
        projections << d.absoluteFilePath(f);
    for (const char *sub : { "sets/7_100keV", "sets/7_200keV", "sets/7_300keV", "i0" })
        QVERIFY(QDir().mkpath(tmp.filePath(sub)));
    for (const char *name : { "i0/Fe-7_100keV-00001.img", "i0/Fe-7_300keV-00001.img" })
        QVERIFY(writeFile(tmp.filePath(name), ""));

    config.lines.clear();
    body = std::make_unique<Body>();
    body->findChild<QRadioButton *>("RotAxV")->click();
    QSignalSpy loaded(body.get(), &Body::finishedLoadingCTFiles);
    body->CTFiles->handleChosenFiles(projections);
    QVERIFY(loaded.wait(10000));
    QCOMPARE(body->imgDatas->count(), 8);
}

void TestBodyCommands::cleanupTestCase()
{
    body.reset();
}

void TestBodyCommands::commandSetsControl_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<Probe>("probe");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<bool>("changes");
    // Rows run in order on one window; each (but those marked) must change what it probes.
    auto row = [](const QString &line, const Probe &p, const QVariant &v, bool changes = true) {
        QTest::newRow(qPrintable(line)) << line << p << v << changes;
    };
    const QString i0 = images.dir.filePath("i0.img");
    const QString bg = images.dir.filePath("bg.img");
    const Probe i0State
        = PROBE((QVariantList { b.I0ImgSel->filePath(), b.I0ImgSel->img != nullptr }));
    const Probe bgState
        = PROBE((QVariantList { b.BGImgSel->filePath(), b.BGImgSel->img != nullptr }));
    const Probe page = PROBE(b.ImgsTab->tabText(b.ImgsTab->currentIndex()));
    const Probe imageSave = PROBE((QVariantList { b.SelectImageSaveDir->filePath(),
        b.SelectImageSaveDir->name(), b.SelectImageSaveDir->addTag() }));
    const Probe dataSave = PROBE((QVariantList { b.SelectDataSaveDir->filePath(),
        b.SelectDataSaveDir->name(), b.SelectDataSaveDir->addTag() }));
    const Probe rawI0
        = PROBE((QVariantList { b.I0ofRawImage_->i0Val(), b.I0ofRawImage_->calcFromXafs(),
            b.I0ofRawImage_->xafsFile(), b.I0ofRawImage_->engPattern() }));
    const Probe i0I0
        = PROBE((QVariantList { b.I0ofI0Image_->i0Val(), b.I0ofI0Image_->calcFromXafs(),
            b.I0ofI0Image_->xafsFile(), b.I0ofI0Image_->engPattern() }));

    row("images_new_on_load 0",
        PROBE(b.CTFiles->findChild<QRadioButton *>("AddFiles")->isChecked()), true);
    row("images_add_on_load 0", PROBE(b.CTFiles->loadNewFiles()), true);
    row("images_exp_time 0.25", PROBE(b.CTFiles->expTime()), 0.25);
    row("images_multi 1 7",
        PROBE((QVariantList { b.CTFiles->loadMultiTimes(), b.CTFiles->multiTimes() })),
        QVariantList { true, 7 });
    row("images_keep_setup 1", PROBE(b.CTFiles->keepConditions()), true);
    row("images_seek 999", PROBE(b.seekCtrl->index()), 7);
    row("images_seek 2", PROBE(b.seekCtrl->index()), 2);
    row("images_seek -3", PROBE(b.seekCtrl->index()), 0);
    row("images_clear", PROBE(b.CTFiles->count()), 0);
    row("i0_load " + i0, i0State, QVariantList { i0, true });
    row("i0_exp_time 3.5", PROBE(b.I0ImgSel->expTime()), 3.5);
    // Several images joined by '|' are averaged into one.
    row("i0_load " + i0 + "|" + bg, i0State, QVariantList { i0 + "|" + bg, true });
    row("images_theta_units rad", PROBE(b.CTFiles->thetaUnits), "rad");
    row("images_theta_units", PROBE(b.CTFiles->thetaUnits), QString());
    row("images_nx_entry /entry2", PROBE(b.CTFiles->nxEntry), "/entry2");
    row("images_flat_names open_beam, OB", PROBE(b.CTFiles->flatNames),
        QStringList { "open_beam", "OB" });
    row("images_dark_names closed", PROBE(b.CTFiles->darkNames), QStringList { "closed" });
    row("images_dark_names", PROBE(b.CTFiles->darkNames), QStringList { "dark", "BG" });
    row("i0_clear", i0State, QVariantList { QString(), false });
    row("bg_load " + bg, bgState, QVariantList { bg, true });
    row("bg_exp_time 1.5", PROBE(b.BGImgSel->expTime()), 1.5);
    row("bg_clear", bgState, QVariantList { QString(), false });

    row("ct_proc_slice 7", PROBE(b.procCtrl->slice()), 7);
    row("ct_auto_exec 1",
        PROBE((QVariantList { b.procCtrl->autoExecCtCalc(), b.SelectCt2->isChecked() })),
        QVariantList { true, true });
    row("calc_ct1 0", PROBE(b.SelectCt1->isChecked()), false, false);
    row("calc_ct1 1", PROBE(b.SelectCt1->isChecked()), true);
    row("calc_ct2 1", PROBE(b.SelectCt2->isChecked()), true);
    row("ct_slice_from 3", PROBE(b.procCtrl->sliceFrom()), 3);
    row("ct_slice_to 9", PROBE(b.procCtrl->sliceTo()), 9);
    row("ct_slice_step 2", PROBE(b.procCtrl->sliceStep()), 2);
    row("ct_threads 99", PROBE(b.procCtrl->threads()),
        std::max(1, int(std::thread::hardware_concurrency())));
    row("ct_threads -5", PROBE(b.procCtrl->threads()), 0);
    row("ct_filter ramp_padded", PROBE(b.procCtrl->findChild<QComboBox *>("Filter")->currentText()),
        "ramp_padded");
    row("CT_FILTER Shepp_Logan", PROBE(CtFilter::name(b.procCtrl->filter())), "shepp_logan");
    row("ct_filter no_such_filter", PROBE(CtFilter::name(b.procCtrl->filter())), "shepp_logan",
        false);
    row("ct_ring_removal 3", PROBE(b.procCtrl->findChild<QSpinBox *>("RingRemoval")->value()), 3);
    row("ct_ring_removal 21", PROBE(b.procCtrl->ringRemoval()), 3, false);
    row("ct_ring_removal two", PROBE(b.procCtrl->ringRemoval()), 3, false);
    row("ct_method gridding", PROBE(int(b.procCtrl->method())), int(CtMethod::Gridding));
    row("ct_method FBP", PROBE(int(b.procCtrl->method())), int(CtMethod::Fbp));
    row("ct_method nonsense", PROBE(int(b.procCtrl->method())), int(CtMethod::Fbp), false);
    row("ct_cor 512.5", PROBE(b.procCtrl->cor()), 512.5);
    row("CT_COR 300.25", PROBE(b.procCtrl->cor()), 300.25);
    row("ct_recorded_cor_1 500 1023.5",
        PROBE((QVariantList { b.procCtrl->recSlice1(), b.procCtrl->recCor1(),
            b.procCtrl->findChild<QLineEdit *>("RecordedCoR1")->text() })),
        QVariantList { 500, 1023.5, "1023.5 at 500" });
    row("ct_recorded_cor_2 1500 1025",
        PROBE((QVariantList { b.procCtrl->recSlice2(), b.procCtrl->recCor2() })),
        QVariantList { 1500, 1025.0 });
    row("ct_rot_ax_is_h 1",
        PROBE((QVariantList { b.procCtrl->rotAxIsV(),
            b.procCtrl->findChild<QRadioButton *>("RotAxV")->isChecked() })),
        QVariantList { false, false });
    row("ct_rot_ax_is_v 1", PROBE(b.procCtrl->rotAxIsV()), true);
    row("ct_angle_offset 12.5", PROBE(b.procCtrl->angleOriginDeg()), 12.5);
    row("ct_angle_origin -30", PROBE(b.procCtrl->angleOriginDeg()), -30.0);
    row("ct_use_partial_data_set 1", PROBE(b.procCtrl->usePartialDataSet()), true);
    row("ct_dataset_range 360", PROBE(b.procCtrl->dataSetRangeDeg()), 360.0);
    row("ct_dataset_using_images 90", PROBE(b.procCtrl->dataSetUsingImages()), 90);
    row("ct_dataset_start_image_no 4", PROBE(b.procCtrl->dataSetStartImageNo()), 4);
    row("ct_set_disp_region 1 2 30 40", PROBE(regions(b)),
        "1 2 30 40 / 1 2 30 40 | 0 0 63 63 / 0 0 63 63");
    row("ct_set_calc_region 3 4 20 21", PROBE(regions(b)),
        "1 2 30 40 / 1 2 30 40 | 3 4 20 21 / 3 4 20 21");

    row("calc_show_res 1", PROBE(b.ShowCalcRes->isChecked()), true);
    row("fix_color_scale 1", PROBE(b.ctCalc2Uis.last()->state().fixedScale), true);
    row("fix_color_min -2.5",
        PROBE((QVariantList { b.ColorMin->text(), b.ctCalc2Uis.last()->state().map.vMin })),
        QVariantList { "-2.5", -2.5 });
    row("fix_color_max 1e-05", PROBE(b.ColorMax->text()), "1e-05");
    row("auto_save_image 1", PROBE(b.AutoSaveImage->isChecked()), true);
    row("auto_save_image_path /tmp/pics", imageSave, QVariantList { "/tmp/pics", "", "" });
    row("auto_save_image_name scan", imageSave, QVariantList { "/tmp/pics", "scan", "" });
    row("auto_save_image_tag e1", imageSave, QVariantList { "/tmp/pics", "scan", "e1" });
    row("auto_save_image_clear", imageSave, QVariantList { "", "scan", "e1" });
    row("auto_save_data 1", PROBE(b.AutoSaveData->isChecked()), true);
    row("auto_save_tiff 1", PROBE(b.AutoSaveTiff->isChecked()), true);
    row("auto_save_tiff_compress 1", PROBE(b.AutoSaveTiffCompress->isChecked()), true);
    row("auto_save_data_path /tmp/data", dataSave, QVariantList { "/tmp/data", "", "" });
    row("auto_save_data_name run", dataSave, QVariantList { "/tmp/data", "run", "" });
    row("auto_save_data_tag e2", dataSave, QVariantList { "/tmp/data", "run", "e2" });
    row("auto_save_data_clear", dataSave, QVariantList { "", "run", "e2" });
    row("auto_save_in_sub_folders 0", PROBE(b.SaveInSubFolders->isChecked()), false);
    row("auto_save_in_sub_folders_of_slice 1", PROBE(b.SubOfSlice->isChecked()), true);
    row("auto_save_in_sub_folders_of_energy 1", PROBE(b.SubOfEnergy->isChecked()), true);
    row("auto_save_data_upper_limit abc", PROBE(b.DataUpperLimit->text()), "abc");
    row("auto_save_data_lower_limit -3e2", PROBE(b.DataLowerLimit->text()), "-3e2");
    row("auto_save_data_offset 5", PROBE(b.DataOffset->text()), "5");

    row("add_inf_show 1",
        PROBE((
            QVariantList { b.AdditionalInfo->isVisibleTo(&b), b.ShowAdditionalInfo->isChecked() })),
        QVariantList { true, false });
    row("add_inf_ZBX_standard 1", PROBE(b.SelDDir->isZBXStandard()), true);
    row("add_inf_ZBX_standard 0", PROBE(b.SelDDir->isZBXStandard()), false);
    row("add_inf_raw_i0_val 2.5", rawI0, QVariantList { 2.5, true, "", "####_####" });
    row("add_inf_raw_i0_from_xafs 0", rawI0, QVariantList { 2.5, false, "", "####_####" });
    row("add_inf_raw_i0_xafs /nowhere/a.dat", rawI0,
        QVariantList { 2.5, false, "/nowhere/a.dat", "####_####" });
    row("add_inf_raw_i0_eng_ptn E%1", rawI0, QVariantList { 2.5, false, "/nowhere/a.dat", "E%1" });
    row("add_inf_raw_i0_xafs_clear", rawI0, QVariantList { 2.5, false, "", "E%1" });
    row("add_inf_i0_i0_val 4.5", i0I0, QVariantList { 4.5, true, "", "####_####" });
    row("add_inf_i0_i0_from_xafs 0", i0I0, QVariantList { 4.5, false, "", "####_####" });
    row("add_inf_i0_i0_xafs /nowhere/b.dat", i0I0,
        QVariantList { 4.5, false, "/nowhere/b.dat", "####_####" });
    row("add_inf_i0_i0_eng_ptn K%1", i0I0, QVariantList { 4.5, false, "/nowhere/b.dat", "K%1" });
    row("add_inf_i0_i0_xafs_clear", i0I0, QVariantList { 4.5, false, "", "K%1" });

    // The named pages follow the worker tab "CT2" that pushed "I0 Image" and later pages on.
    row("show_tab 5", page, "BG Image");
    row("show_orig", page, "Raw Image");
    row("show_sinogram", page, "Sinogram");
    row("show_ct1", page, "CT Reconstructed Image");
    row("show_i0", page, "I0 Image");
    row("show_bg", page, "BG Image");
    row("show_ct2 1", page, "CT2");
    row("quoltLink_set_send_msg 1", PROBE(b.SendMsg2Quolt->isChecked()), true);
    row("seq_exec_show 1", PROBE(b.ShowAdditionalInfo->isChecked()), true);
    row("seq_exec_dir " + tmp.filePath("sets"),
        PROBE((QVariantList { b.SelDDir->dataDir(), b.SelDDir->count() })),
        QVariantList { tmp.filePath("sets"), 3 });
    row("seq_exec_file_pattern \"*.img *.tif\"", PROBE(b.SelDDir->patterns()),
        QStringList { "*.img", "*.tif" });
    row("seq_exec_next", PROBE(b.SelDDir->currentIndex()), 1);
    row("seq_exec_select_i0 " + tmp.filePath("i0") + " *.img", PROBE(listOf(b.i0Energies)),
        QVariantList { 7100.0, 7300.0 });
    row("seq_exec_keep_range_on_new_set 1", PROBE(b.keepOnNewSet->isChecked()), true);
    row("seq_cor_per_energy 1", PROBE(b.SeqCorPerEnergy->isChecked()), true);
}

void TestBodyCommands::commandSetsControl()
{
    QFETCH(QString, line);
    QFETCH(Probe, probe);
    QFETCH(QVariant, expected);
    QFETCH(bool, changes);
    Body &b = *body;
    const QVariant before = probe(b);
    QSignalSpy checkEnd(&b, &Body::callBatchCheckEnd);
    run(b, line);
    const QVariant after = probe(b);
    QVERIFY2(after == expected, qPrintable(text(after) + " != " + text(expected)));
    QCOMPARE(before != expected, changes);
    QCOMPARE(checkEnd.count(), 1);
}

void TestBodyCommands::rotAxisAlreadyHorizontalEmitsNothing()
{
    Body b;
    QSignalSpy axis(b.procCtrl, &ProcCtrl::rotAxUpdated);
    run(b, "ct_rot_ax_is_h 1");
    run(b, "ct_rot_ax_is_v 0");
    QCOMPARE(axis.count(), 0);
    run(b, "ct_rot_ax_is_h 0");
    QCOMPARE(axis.count(), 1);
    QVERIFY(b.procCtrl->rotAxIsV());
}

void TestBodyCommands::showCt2FindsWorkerTab()
{
    config.set("show_all_ct2_images", "1", "1");
    Body b;
    config.set("show_all_ct2_images", "0", "0");
    const int n = int(b.ctCalc2s.size());
    run(b, QString("show_ct2 %1").arg(n));
    QCOMPARE(b.ImgsTab->tabText(b.ImgsTab->currentIndex()), QString("CT2 %1").arg(n));
    run(b, "show_i0");
    QCOMPARE(b.ImgsTab->currentIndex(), 3); // no worker tab before it in this layout
    run(b, "show_tab 4");
    QCOMPARE(b.ImgsTab->currentIndex(), 4);
}

void TestBodyCommands::configLinesRunAtStart()
{
    config.lines = QStringList { "images_keep_setup 1", "ct_cor 512.5", "ct_proc_slice 3",
        "ct_slice_to 9", "calc_exec" };
    Body b;
    config.lines.clear();
    QCOMPARE(b.procCtrl->cor(), 512.5);
    QVERIFY(!b.resetCor && !b.resetSlice && !b.resetSliceTo);
    QVERIFY(!b.calculating && !b.batchCalc); // a run without images ends at once
    // Configuration lines never report to the interpreter.
    QSignalSpy checkEnd(&b, &Body::callBatchCheckEnd);
    config.lines = QStringList { "ct_cor 100", "calc_exec" };
    b.execConfigLines();
    config.lines.clear();
    QCOMPARE(checkEnd.count(), 0);
    // The values set before the first load survive it.
    b.findChild<QRadioButton *>("RotAxV")->click();
    QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
    b.CTFiles->handleChosenFiles(projections);
    QVERIFY(loaded.wait(10000));
    QCOMPARE(b.procCtrl->cor(), 100.0);
    QCOMPARE(b.procCtrl->slice(), 3);
    QCOMPARE(b.procCtrl->sliceTo(), 9);
}

void TestBodyCommands::conditionsFollowSeqExecNext()
{
    // Two data sets; the first holds the measurement, the second one image.
    for (const char *sub : { "d/a", "d/b" })
        QVERIFY(QDir().mkpath(tmp.filePath(sub)));
    for (const QString &f : projections)
        QVERIFY(QFile::copy(f, tmp.filePath("d/a/") + QFileInfo(f).fileName()));
    QVERIFY(QFile::copy(projections.first(), tmp.filePath("d/b/p-00000.img")));

    Body b;
    int countAtNextLine = -1;
    connect(
        b.ColorMin, &QLineEdit::textChanged, &b, [&] { countAtNextLine = b.imgDatas->count(); });
    QVERIFY(runBatch(b, tmp.filePath("seq.bat"),
        QString("seq_exec_dir \"%1\"\n"
                "seq_exec_file_pattern p-*.img\n"
                "seq_exec_set\n"
                "fix_color_min 0.5\n"
                "seq_exec_next\n"
                ":ifng ct_slice_from 11\n"
                "seq_exec_next\n"
                ":ifng ct_slice_to 77\n"
                "seq_exec_next\n"
                ":ifok ct_slice_step 5\n"
                "ct_sliec_from 5\n"
                "fix_color_max 0.75\n")
            .arg(tmp.filePath("d"))));
    QCOMPARE(countAtNextLine, 8); // the set was loaded whole before the batch went on
    QCOMPARE(b.SelDDir->currentIndex(), 1);
    QCOMPARE(b.procCtrl->sliceFrom(), 0);
    QCOMPARE(b.procCtrl->sliceStep(), 1);
    QCOMPARE(b.procCtrl->sliceTo(), 77);
    QCOMPARE(b.ColorMax->text(), QString("0.75")); // past the misspelt line
}

void TestBodyCommands::batchDrivesLoadAndRangeRun()
{
    QTemporaryDir out;
    Body b;
    int countAtStart = -1;
    QString endAtResume;
    bool calculatingAtResume = true;
    connect(&b, &Body::batchCalcStart, &b, [&] { countAtStart = b.imgDatas->count(); });
    connect(b.ColorMax, &QLineEdit::textChanged, &b, [&] {
        endAtResume = b.CalcEndT->text();
        calculatingAtResume = b.calculating;
    });
    QVERIFY(runBatch(b, tmp.filePath("run.bat"),
        QString("ct_rot_ax_is_v 1\n"
                "images_keep_setup 1\n"
                "auto_save_data_path \"%2\"\n"
                "auto_save_data_name scan\n"
                "auto_save_data_tag t\n"
                "auto_save_in_sub_folders 0\n"
                "auto_save_data 1\n"
                "ct_slice_from 2\n"
                "ct_slice_to 5\n"
                "ct_auto_exec 1\n"
                "images_load \"%1\" p-*.img\n"
                "ct_cor 32\n"
                "calc_exec\n"
                "fix_color_max 7\n"
                "body_view_load \"%2\"\n")
            .arg(images.dir.path(), out.path())));
    // The batch went on only once every file of the run was written and counted: the 3D view
    // it loaded next holds all four slices.
    QCOMPARE(b.ctView->ctrls.first()->sliceDatas()->current()->ss(), 4);
    QVERIFY2(b.CalcSpentT->toolTip().contains(
                 "4 of 4 slices reconstructed, 0 slices failed, 4 files written"),
        qPrintable(b.CalcSpentT->toolTip()));
    QCOMPARE(countAtStart, 8);
    QVERIFY(!calculatingAtResume);
    QVERIFY(QTime::fromString(endAtResume, "hh:mm:ss.zzz").isValid());
    for (int s = 2; s <= 5; ++s) {
        const QString f = out.filePath(QString("scan-t-%1.dat").arg(s, 5, 10, QChar('0')));
        QTRY_VERIFY2(QFile::exists(f), qPrintable(f));
        QFile file(f);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("#VEXA-CTImg\n"));
    }
    // The saved slices, loaded into the 3D view by a command.
    run(b, "body_view_load " + out.path());
    QVERIFY(b.ImgsTab->currentWidget()->isAncestorOf(b.CtViewBase));
    QTRY_COMPARE(b.ctView->ctrls.first()->sliceDatas()->current()->ss(), 4);
}

void TestBodyCommands::corSweepCommand_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QStringList>("cors"); // the names' centres, in order
    QTest::addColumn<bool>("starts");
    QTest::newRow("five centres") << "30 34 1"
                                  << QStringList { "30.00", "31.00", "32.00", "33.00", "34.00" }
                                  << true;
    QTest::newRow("downward by halves")
        << "33 32 0.5" << QStringList { "33.00", "32.50", "32.00" } << true;
    QTest::newRow("step 0") << "30 34 0" << QStringList {} << false;
    QTest::newRow("centre outside the line") << "200 201 1" << QStringList {} << true;
}

void TestBodyCommands::corSweepCommand()
{
    QFETCH(QString, args);
    QFETCH(QStringList, cors);
    QFETCH(bool, starts);
    Body &b = *body;
    // Commands earlier in the table may have cleared the set.
    if (b.imgDatas->count() == 0) {
        run(b, "ct_rot_ax_is_v 1");
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        b.CTFiles->handleChosenFiles(projections);
        QVERIFY(loaded.wait(10000));
    }
    QTemporaryDir out;
    const QString dir = out.filePath("sweep");
    const int failures = Failures::instance().count();
    b.batch->lastOk = !cors.isEmpty();
    QSignalSpy released(&b, &Body::callBatchCheckEnd);
    run(b, QString("ct_cor_sweep %1 \"%2\"").arg(args, dir));
    // A sweep that starts holds the batch until its slices are made and written.
    QCOMPARE(released.count(), starts ? 0 : 1);
    QCOMPARE(b.corSweepPanel()->sweeping(), starts);
    QTRY_COMPARE_WITH_TIMEOUT(released.count(), 1, 30000);
    QVERIFY(!b.corSweepPanel()->sweeping());
    // The batch's :ifok / :ifng follow the outcome.
    QCOMPARE(b.batch->lastOk, !cors.isEmpty());
    QCOMPARE(Failures::instance().count() > failures, cors.isEmpty());
    QStringList expected;
    const int slice = b.procCtrl->slice();
    for (const QString &c : cors)
        expected << QString("slice%1_cor%2.dat").arg(slice, 5, 10, QChar('0')).arg(c);
    QStringList written = QDir(dir).entryList(QDir::Files);
    std::sort(expected.begin(), expected.end());
    QCOMPARE(written, expected);
    if (cors.isEmpty())
        return;
    for (const QString &f : written) {
        QFile file(QDir(dir).filePath(f));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("#VEXA-CTImg\n"));
    }
    // The slices are in the sweep's tab, brought to the front; choosing one sets the centre.
    CorSweepPanel *panel = b.corSweepPanel();
    QVERIFY(b.ImgsTab->currentWidget()->isAncestorOf(panel));
    QCOMPARE(int(panel->slices().size()), int(cors.size()));
    panel->showSlice(1);
    QTest::mouseClick(panel->useButton(), Qt::LeftButton);
    QCOMPARE(b.procCtrl->cor(), cors.at(1).toDouble());
}

void TestBodyCommands::corSweepSideBySide()
{
    Body &b = *body;
    if (b.imgDatas->count() == 0) {
        run(b, "ct_rot_ax_is_v 1");
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        b.CTFiles->handleChosenFiles(projections);
        QVERIFY(loaded.wait(10000));
    }
    CorSweepPanel *panel = b.corSweepPanel();
    panel->setRange(30, 33, 1);
    QSignalSpy finished(panel, &CorSweepPanel::sweepFinished);
    QTest::mouseClick(panel->sweepButton(), Qt::LeftButton);
    // The click returns with the sweep running on its threads; meanwhile its button stops it
    // and a second sweep is refused.
    QVERIFY(panel->sweeping());
    QCOMPARE(panel->sweepButton()->text(), QString("Stop"));
    const int failures = Failures::instance().count();
    QVERIFY(!b.corSweepRun(30, 31, 1));
    QCOMPARE(Failures::instance().count(), failures + 1);
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first().at(0).toInt(), 4);
    QCOMPARE(panel->sweepButton()->text(), QString("Sweep"));

    // Side by side: a thumbnail per centre, labelled with it; a click selects one and "Use this
    // CoR" takes its centre.
    QVERIFY(panel->sideBySideBox()->isChecked());
    CorSweepGrid *grid = panel->grid();
    grid->resize(400, 300);
    QCOMPARE(grid->count(), 4);
    QCOMPARE(grid->label(2), QString("CoR 32"));
    const QRect cell = grid->pictureRect(2);
    QVERIFY(cell.width() > 40 && cell.height() > 40);
    for (int i = 0; i < 4; ++i)
        QVERIFY(i == 2 || !grid->pictureRect(i).intersects(cell));
    QTest::mouseClick(grid, Qt::LeftButton, {}, cell.center());
    QCOMPARE(panel->current(), 2);
    QCOMPARE(grid->current(), 2);
    QCOMPARE(panel->seeker()->index(), 2);
    QTest::mouseClick(panel->useButton(), Qt::LeftButton);
    QCOMPARE(b.procCtrl->cor(), 32.0);
    // The seek control moves the selection in the grid too.
    panel->seeker()->setIndex(0);
    QCOMPARE(grid->current(), 0);
}

void TestBodyCommands::calcExecWithoutImagesGoesOn_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("CT1") << "calc_ct1 1\n";
    QTest::newRow("CT2 one slice") << "calc_ct2 1\n";
    QTest::newRow("CT2 range") << "ct_auto_exec 1\nct_slice_from 0\nct_slice_to 3\n";
}

void TestBodyCommands::calcExecWithoutImagesGoesOn()
{
    QFETCH(QString, setup);
    Body b;
    QVERIFY(runBatch(b, tmp.filePath("empty.bat"), setup + "calc_exec\nfix_color_min 3\n"));
    QCOMPARE(b.ColorMin->text(), QString("3"));
    QVERIFY(!b.calculating && !b.batchCalc);
}

namespace {

// Lines of the debug log that hold `part`, from whichever thread they come.
QMutex logMutex;
QStringList *logSink = nullptr;
QString logPart;

void collectLog(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker lock(&logMutex);
    if (logSink && msg.contains(logPart))
        *logSink << msg;
}

} // namespace

void TestBodyCommands::calcExecSaysCt1DoesNotSave_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("lines");
    QTest::newRow("CT1 with saving") << "calc_ct1 1\nauto_save_data 1\n" << 1;
    QTest::newRow("CT1 with picture saving") << "calc_ct1 1\nauto_save_image 1\n" << 1;
    QTest::newRow("CT1 without saving") << "calc_ct1 1\n" << 0;
    QTest::newRow("CT2 with saving") << "calc_ct2 1\nauto_save_data 1\n" << 0;
}

void TestBodyCommands::calcExecSaysCt1DoesNotSave()
{
    QFETCH(QString, setup);
    QFETCH(int, lines);
    QTemporaryDir out;
    Body b;
    QStringList said;
    {
        QMutexLocker lock(&logMutex);
        logSink = &said;
        logPart = "CT1 does not save";
    }
    const QtMessageHandler previous = qInstallMessageHandler(collectLog);
    const bool ran = runBatch(b, tmp.filePath("ct1.bat"),
        QString("ct_rot_ax_is_v 1\nimages_load \"%1\" p-*.img\nauto_save_data_path \"%2\"\n"
                "auto_save_image_path \"%2\"\n%3calc_exec\n")
            .arg(images.dir.path(), out.path(), setup));
    qInstallMessageHandler(previous);
    {
        QMutexLocker lock(&logMutex);
        logSink = nullptr;
    }
    QVERIFY(ran);
    QCOMPARE(said.size(), lines);
}

void TestBodyCommands::failedLoadsAreCounted_data()
{
    // %1 the camera files, %2 a folder for results, %3 a name that does not exist.
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("message");
    QTest::newRow("images_load without a folder") << "images_load\n"
                                                  << "images_load needs a folder";
    QTest::newRow("images_load of a missing folder") << "images_load \"%3\" p-*.img\n"
                                                     << "images_load: no such folder";
    QTest::newRow("images_load matching nothing") << "images_load \"%1\" q-*.img\n"
                                                  << "images_load: no file in";
    QTest::newRow("i0_load of a missing file") << "i0_load \"%3.img\"\n"
                                               << "The I0 image";
    QTest::newRow("bg_load of a missing file") << "bg_load \"%3.img\"\n"
                                               << "The BG image";
    QTest::newRow("body_view_load of a missing folder") << "body_view_load \"%3\"\n"
                                                        << "body_view_load: no such folder";
    // A misspelt I0 must not give a run without I0 that ends "0 failures".
    QTest::newRow("a run without its I0")
        << "i0_load \"%3.img\"\nimages_load \"%1\" p-*.img\nct_auto_exec 1\nct_slice_from 2\n"
           "ct_slice_to 3\nauto_save_data_path \"%2\"\nauto_save_data 1\ncalc_exec\n"
        << "No run started: the I0 image";
    QTest::newRow("I0 table without points") << "add_inf_raw_i0_xafs \"%3.dat\"\n"
                                             << "gives no I0 points";
}

void TestBodyCommands::failedLoadsAreCounted()
{
    QFETCH(QString, lines);
    QFETCH(QString, message);
    QTemporaryDir out;
    Body b;
    b.findChild<QRadioButton *>("RotAxV")->click();
    Failures::instance().reset();
    QVERIFY(runBatch(b, tmp.filePath("failing.bat"),
        QString(lines)
            .replace("%1", images.dir.path())
            .replace("%2", out.path())
            .replace("%3", tmp.filePath("nowhere"))));
    QVERIFY(Failures::instance().count() > 0);
    QVERIFY2(Failures::instance().messages().join('\n').contains(message),
        qPrintable(Failures::instance().messages().join('\n')));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList());
}

// A stack, its maps with two references and one voxel's curves, from a batch alone.
void TestBodyCommands::spectraCommandsRunUnattended()
{
    QTemporaryDir dir;
    const QString stack = dir.filePath("stack.h5"), maps = dir.filePath("maps.h5");
    QVERIFY(modelstack::writeStack(stack, 0));
    QVERIFY(modelstack::writeReference(dir.filePath("FeA.txt"), modelstack::kA));
    QVERIFY(modelstack::writeReference(dir.filePath("FeB.txt"), modelstack::kB));
    Body b;
    QVERIFY(runBatch(b, dir.filePath("spectra.bat"),
        QString("spectra_load \"%1\"\n"
                "spectra_maps \"%2\" \"%3\" \"%4\"\n"
                "spectra_export 1 3 4 \"%5\"\n")
            .arg(stack, maps, dir.filePath("FeA.txt"), dir.filePath("FeB.txt"),
                dir.filePath("voxel.csv"))));
    QVERIFY(b.ImgsTab->currentWidget()->isAncestorOf(b.spectrumView));
    // The maps are made on a thread of the view's; the batch waited for them.
    QVERIFY(!b.spectrumView->makingMaps());
    QVERIFY(QFile::exists(maps));
    QVERIFY(b.spectrumView->mapNames().contains("fraction_FeA"));
    QCOMPARE(b.spectrumView->current().label, QString("voxel 1 3 4"));
    QVERIFY(std::abs(b.spectrumView->current().weights[0] - 0.6) < 0.02);
    QFile csv(dir.filePath("voxel.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), int(xafsmodel::scanEnergies().size()) + 1);
    QVERIFY(lines[0].startsWith("energy_eV,voxel 1 3 4 mu,"));
    // A missing stack is a failure named in the log, and the batch goes on.
    b.DataOffset->setText(QString()); // so that the next batch's end is its own
    QVERIFY(
        runBatch(b, dir.filePath("bad.bat"), "spectra_load \"" + dir.filePath("none.h5") + "\"\n"));
    QVERIFY(Failures::instance().last().contains("none.h5"));
}

QTEST_MAIN(TestBodyCommands)
#include "tst_BodyCommands.moc"
