// Setup files of the main window: the exact text written for a known state, and saving and
// loading through the real widgets, image files and reconstruction run.
#include "Body.h"
#include "Failures.h"

#include "ImgData.h"
#include "ImgDatas.h"
#include "ct/CtTestData.h"

#include <QtTest>

namespace {

void apply(Body &b, const QStringList &lines)
{
    for (const QString &l : lines)
        b.execCmd(BatchCmd(l), false);
}

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(f.readAll())
                                                         : QString();
}

// saveSetup and loadSetup are slots of the window, reached here as the dialog reaches them.
void call(Body &b, const char *slot, const QString &path)
{
    QVERIFY(QMetaObject::invokeMethod(&b, slot, Qt::DirectConnection, Q_ARG(QString, path)));
}

bool writeFile(const QString &path, const QString &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Text) && f.write(text.toUtf8()) >= 0;
}

} // namespace

class TestBodySetup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void savedText_data();
    void savedText();
    void roundTrip_data();
    void roundTrip();
    void calcExecInSetupStartsRun();
    void unopenableFiles();

private:
    bool load(Body &b);
    // Two complete states that differ in every setting a setup file holds.
    QStringList state(int which) const;

    CtTestData::PhantomImages images;
    QStringList projections;
    QTemporaryDir tmp;
};

void TestBodySetup::initTestCase()
{
    CtTestData::PhantomSetup setup;
    setup.width = 32;
    setup.height = 10;
    setup.projections = 8;
    QVERIFY(images.make(setup));
    const QDir d(images.dir.path());
    for (const QString &f : d.entryList({ "p-*.img" }, QDir::Files, QDir::Name))
        projections << d.absoluteFilePath(f);
    for (const char *sub : { "a", "b", "i0a", "i0b" })
        QVERIFY(QDir().mkpath(tmp.filePath(sub)));
    QVERIFY(writeFile(tmp.filePath("i0a/Fe-7_1keV-1.img"), ""));
    QVERIFY(writeFile(tmp.filePath("i0b/Fe-7_2keV-1.tif"), ""));
}

bool TestBodySetup::load(Body &b)
{
    QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
    b.CTFiles->handleChosenFiles(projections);
    return loaded.wait(10000) && b.imgDatas->count() == projections.size();
}

QStringList TestBodySetup::state(int which) const
{
    const bool one = which == 1;
    auto pick = [one](const QString &a, const QString &b) { return one ? a : b; };
    return {
        pick("images_new_on_load 1", "images_new_on_load 0"),
        pick("images_keep_setup 1", "images_keep_setup 0"),
        pick("images_multi 0 1", "images_multi 1 4"),
        pick("images_seek 5", "images_seek 2"),
        pick("i0_load " + images.dir.filePath("i0.img"), "i0_load"),
        pick("bg_load " + images.dir.filePath("bg.img"), "bg_clear"),
        pick("ct_proc_slice 4", "ct_proc_slice 6"),
        pick("ct_angle_origin 1.5", "ct_angle_origin -2"),
        pick("ct_dataset_range 180", "ct_dataset_range 360"),
        pick("ct_use_partial_data_set 0", "ct_use_partial_data_set 1"),
        pick("ct_dataset_using_images 90", "ct_dataset_using_images 45"),
        pick("ct_dataset_start_image_no 2", "ct_dataset_start_image_no 3"),
        pick("ct_auto_exec 0", "ct_auto_exec 1"),
        pick("ct_slice_from 1", "ct_slice_from 2"),
        pick("ct_slice_to 9", "ct_slice_to 8"),
        pick("ct_slice_step 1", "ct_slice_step 3"),
        pick("ct_threads 0", "ct_threads 1"),
        pick("ct_filter hamming", "ct_filter ramp_padded"),
        pick("ct_method gridding", "ct_method fbp"),
        pick("ct_ring_removal 3", "ct_ring_removal 0"),
        pick("ct_cor 15.5", "ct_cor 16.25"),
        pick("ct_rot_ax_is_v 1", "ct_rot_ax_is_h 1"),
        pick("ct_recorded_cor_1 3 15.25", "ct_recorded_cor_1 4 16"),
        pick("ct_recorded_cor_2 8 15.75", "ct_recorded_cor_2 -1 0"),
        pick("calc_ct1 1", "calc_ct1 0"),
        pick("calc_show_res 0", "calc_show_res 1"),
        pick("fix_color_scale 1", "fix_color_scale 0"),
        pick("fix_color_min -0.5", "fix_color_min 0.125"),
        pick("fix_color_max 2", "fix_color_max 3e-07"),
        pick("auto_save_image 1", "auto_save_image 0"),
        pick("auto_save_image_path /tmp/a/pics", "auto_save_image_path /tmp/b/pics"),
        pick("auto_save_image_name img", "auto_save_image_name pic"),
        pick("auto_save_image_tag ta", "auto_save_image_tag tb"),
        pick("auto_save_data 0", "auto_save_data 1"),
        pick("auto_save_tiff 1", "auto_save_tiff 0"),
        pick("auto_save_tiff_compress 0", "auto_save_tiff_compress 1"),
        pick("auto_save_data_path \"/tmp/a/da ta\"", "auto_save_data_path /tmp/b/data"),
        pick("auto_save_data_name dat", "auto_save_data_name run"),
        pick("auto_save_data_tag t1", "auto_save_data_tag t2"),
        pick("auto_save_data_upper_limit 5", "auto_save_data_upper_limit 6"),
        pick("auto_save_data_lower_limit -5", "auto_save_data_lower_limit -6"),
        pick("auto_save_data_offset 1", "auto_save_data_offset 2"),
        pick("auto_save_in_sub_folders 1", "auto_save_in_sub_folders 0"),
        pick("auto_save_in_sub_folders_of_energy 0", "auto_save_in_sub_folders_of_energy 1"),
        pick("add_inf_ZBX_standard 0", "add_inf_ZBX_standard 1"),
        pick("seq_exec_dir " + tmp.filePath("a"), "seq_exec_dir " + tmp.filePath("b")),
        pick("seq_exec_file_pattern \"*.img *.tif\"", "seq_exec_file_pattern *.tif"),
        pick("seq_exec_select_i0 " + tmp.filePath("i0a") + " *.img",
            "seq_exec_select_i0 " + tmp.filePath("i0b") + " *.tif"),
        pick("seq_exec_keep_range_on_new_set 1", "seq_exec_keep_range_on_new_set 0"),
        pick("seq_cor_per_energy 1", "seq_cor_per_energy 0"),
        pick("seq_align 1", "seq_align 0"),
    };
}

void TestBodySetup::savedText_data()
{
    QTest::addColumn<bool>("listed");
    QTest::newRow("no files listed") << false;
    QTest::newRow("files listed") << true;
}

void TestBodySetup::savedText()
{
    QFETCH(bool, listed);
    Body b;
    apply(b,
        { "images_new_on_load 0", "images_multi 1 3", "ct_proc_slice 500", "ct_angle_origin 1.5",
            "ct_use_partial_data_set 1", "ct_dataset_using_images 90",
            "ct_dataset_start_image_no 2", "ct_slice_from 10", "ct_slice_to 20", "ct_slice_step 2",
            "ct_threads 1", "ct_cor 512.5", "ct_rot_ax_is_v 1", "ct_recorded_cor_1 500 1023.5",
            "fix_color_max 1e-05", "auto_save_data 1", "auto_save_tiff 1",
            "auto_save_data_path \"/data/run 1\"", "auto_save_data_name scan",
            "auto_save_data_upper_limit abc", "auto_save_in_sub_folders_of_energy 1",
            "seq_exec_file_pattern \"*.img *.tif\"" });
    if (listed) {
        b.CTFiles->appendFile("/data/p/p-00001.img");
        b.SelI0Files->appendFile("/data/i0/Fe-7_1keV-1.tif");
    }
    const QString path = tmp.filePath("known.cfg");
    call(b, "saveSetup", path);
    const QString expected = QString("### Vexa2 setup saving setup file\n"
                                     "\n"
                                     "## Original Images\n"
                                     "\n"
                                     "%1"
                                     "images_new_on_load       0\n"
                                     "images_keep_setup        0\n"
                                     "images_multi             1 3\n"
                                     "images_seek              0\n"
                                     "i0_load                  \n"
                                     "bg_load                  \n"
                                     "\n"
                                     "## CT Reconstruction setting\n"
                                     "\n"
                                     "ct_proc_slice            500\n"
                                     "ct_angle_origin          1.5\n"
                                     "ct_dataset_range         180\n"
                                     "ct_use_partial_data_set  1\n"
                                     "ct_dataset_using_images  90\n"
                                     "ct_dataset_start_image_no 2\n"
                                     "ct_auto_exec             0\n"
                                     "ct_slice_from            10\n"
                                     "ct_slice_to              20\n"
                                     "ct_slice_step            2\n"
                                     "ct_threads               1\n"
                                     "ct_filter                ramp\n"
                                     "ct_method                fbp\n"
                                     "ct_ring_removal          0\n"
                                     "ct_cor                   512.5\n"
                                     "ct_rot_ax_is_h           0\n"
                                     "ct_recorded_cor_1        500 1023.5\n"
                                     "ct_recorded_cor_2        -1 0\n"
                                     "\n"
                                     "## CT Reconstruction calculation\n"
                                     "\n"
                                     "calc_ct1                 1\n"
                                     "calc_show_res            0\n"
                                     "fix_color_scale          0\n"
                                     "fix_color_min            0\n"
                                     "fix_color_max            1e-05\n"
                                     "auto_save_image          0\n"
                                     "auto_save_image_path     \n"
                                     "auto_save_image_name     \n"
                                     "auto_save_image_tag      \n"
                                     "auto_save_data           1\n"
                                     "auto_save_tiff           1\n"
                                     "auto_save_tiff_compress  0\n"
                                     "auto_save_data_path      \"/data/run 1\"\n"
                                     "auto_save_data_name      scan\n"
                                     "auto_save_data_tag       \n"
                                     "auto_save_data_upper_limit 0\n"
                                     "auto_save_data_lower_limit -10\n"
                                     "auto_save_data_offset    10\n"
                                     "auto_save_in_sub_folders 1\n"
                                     "auto_save_in_sub_folders_of_energy 1\n"
                                     "\n"
                                     "## Additional Settings for CT-XAFS\n"
                                     "\n"
                                     "add_inf_show             0\n"
                                     "add_inf_ZBX_standard     0\n"
                                     "seq_exec_dir             \n"
                                     "seq_exec_file_pattern    \"*.img *.tif\"\n"
                                     "%2"
                                     "seq_exec_keep_range_on_new_set 0\n"
                                     "seq_cor_per_energy       0\n"
                                     "seq_align                0\n")
                                 .arg(listed ? "#images_load             /data/p *.img\n" : "",
                                     listed ? "seq_exec_select_i0       /data/i0 *.tif\n" : "");
    QCOMPARE(readAll(path), expected);
}

void TestBodySetup::roundTrip_data()
{
    QTest::addColumn<int>("saved");
    QTest::newRow("vertical axis, CT1, I0 and BG images") << 1;
    QTest::newRow("horizontal axis, CT2 range, no I0 image") << 2;
}

void TestBodySetup::roundTrip()
{
    QFETCH(int, saved);
    Body b;
    QVERIFY(load(b));
    apply(b, state(saved));
    const QString path = tmp.filePath("saved.cfg");
    call(b, "saveSetup", path);
    const QString text = readAll(path);

    apply(b, state(3 - saved));
    call(b, "saveSetup", tmp.filePath("other.cfg"));
    const QStringList before = text.split('\n');
    const QStringList changed = readAll(tmp.filePath("other.cfg")).split('\n');
    QCOMPARE(changed.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        // The box "add_inf_show" reports is not set by its command, which only shows the frame.
        const bool setting = !before[i].isEmpty() && !before[i].startsWith('#')
            && !before[i].startsWith("add_inf_show");
        if (setting)
            QVERIFY2(before[i] != changed[i], qPrintable(before[i]));
    }

    QSignalSpy checkEnd(&b, &Body::callBatchCheckEnd);
    const int mistakes = Failures::instance().count(Failures::Command);
    call(b, "loadSetup", path);
    QCOMPARE(checkEnd.count(), 0); // setup lines never move a batch on
    // Every line the program writes is one it understands.
    QVERIFY2(Failures::instance().count(Failures::Command) == mistakes,
        qPrintable(Failures::instance().last()));
    call(b, "saveSetup", tmp.filePath("again.cfg"));
    QCOMPARE(readAll(tmp.filePath("again.cfg")), text);
    QCOMPARE(b.procCtrl->rotAxIsV(), saved == 1);
    QCOMPARE(b.I0ImgSel->img != nullptr, saved == 1);
}

void TestBodySetup::calcExecInSetupStartsRun()
{
    Body b;
    b.findChild<QRadioButton *>("RotAxV")->click();
    QVERIFY(load(b));
    const QString path = tmp.filePath("run.cfg");
    QVERIFY(writeFile(path, "ct_proc_slice 5 # a comment\nct_proc_slise 7\ncalc_exec\n"));
    QSignalSpy finished(&b, &Body::calcFinished);
    QSignalSpy checkEnd(&b, &Body::callBatchCheckEnd);
    QSignalSpy batchFinished(&b, &Body::batchCalcFinished);
    call(b, "loadSetup", path);
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    QCOMPARE(b.procCtrl->slice(), 5);
    QCOMPARE(Failures::instance().last(), "Unknown command 'ct_proc_slise' at line 2 of " + path);
    QVERIFY(QTime::fromString(b.CalcEndT->text(), "hh:mm:ss.zzz").isValid());
    QCOMPARE(checkEnd.count(), 0);
    QCOMPARE(batchFinished.count(), 0);
    QVERIFY(!b.batchCalc);
}

void TestBodySetup::unopenableFiles()
{
    // A folder that is a file cannot be written into, whoever runs the test.
    const QString file = tmp.filePath("plain");
    QVERIFY(writeFile(file, "x"));
    const QString path = file + "/setup.cfg";
    Body b;
    QTest::ignoreMessage(QtDebugMsg, qPrintable("can't open save setup file : " + path));
    call(b, "saveSetup", path);
    QVERIFY(!QFileInfo::exists(path));
    QTest::ignoreMessage(QtDebugMsg, qPrintable("can't open save setup file : " + path));
    call(b, "loadSetup", path);
    QCOMPARE(b.procCtrl->cor(), 1000.0);
}

QTEST_MAIN(TestBodySetup)
#include "tst_BodySetup.moc"
