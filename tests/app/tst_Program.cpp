// Runs the real vexa2 program as a user would start it.
#include <QtTest>

#include <csignal>

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void startsWithoutConfig_data();
    void startsWithoutConfig();
    void readsConfigNamedByOption();
    void answersWithoutStarting_data();
    void answersWithoutStarting();
    void runsBatchToItsEnd_data();
    void runsBatchToItsEnd();
    void refusedThreadsEndTheProgram();

private:
    QString program;
    QTemporaryDir dataDir;
};

void TestProgram::initTestCase()
{
    program = qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/src/app/vexa2";
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    // A measurement large enough that a run over all its slices lasts a while.
    QProcess gen;
    gen.start(qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/tools/phantom/vexa2-phantom",
        { "-o", dataDir.filePath("data"), "--width", "256", "--height", "64", "-n", "360" });
    QVERIFY(gen.waitForFinished(60000));
    QCOMPARE(gen.exitCode(), 0);
}

void TestProgram::startsWithoutConfig_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("display");
    QTest::newRow("no window") << QStringList { "-nw" } << true;
    // Batch machines often have no display at all.
    QTest::newRow("no window, no display") << QStringList { "-nw" } << false;
    QTest::newRow("window") << QStringList {} << true;
    QTest::newRow("window in English") << QStringList { "-e" } << true;
}

void TestProgram::startsWithoutConfig()
{
    QFETCH(QStringList, args);
    QFETCH(bool, display);
    QTemporaryDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display) {
        env.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
    }
    env.remove("XDG_RUNTIME_DIR"); // as in a batch job or a container
    p.setProcessEnvironment(env);
    p.start(program, args);
    QVERIFY(p.waitForStarted());
    // It keeps running until stopped from outside.
    QVERIFY(!p.waitForFinished(1500));
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + SIGTERM);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains("Can't open config file : config.cfg"), qPrintable(err));
    QVERIFY2(!err.contains("XDG_RUNTIME_DIR"), qPrintable(err));
}

void TestProgram::answersWithoutStarting_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("logged");
    // No display and a platform that needs one: only a program that builds no window ends.
    QTest::newRow("--help") << QStringList { "--help" } << 0 << QString("-nw ") << QString();
    QTest::newRow("-h") << QStringList { "-h" } << 0 << QString("Usage: vexa2 [options]")
                        << QString();
    QTest::newRow("--version") << QStringList { "--version" } << 0
                               << QString("vexa2 " VEXA_VERSION "\n") << QString();
    QTest::newRow("--version before a batch")
        << QStringList { "-nw", "--version", "-b", "job.bat", "-x" } << 0
        << QString("vexa2 " VEXA_VERSION) << QString();
    QTest::newRow("unknown option without a window") << QStringList { "-nw",
        "--bogus" } << 2 << QString() << QString("Unknown option (see --help) : --bogus");
    QTest::newRow("misspelt option before a batch") << QStringList { "-nw", "-bb", "job.bat",
        "-x" } << 2 << QString() << QString("Unknown option (see --help) : -bb");
}

void TestProgram::answersWithoutStarting()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, printed);
    QFETCH(QString, logged);
    QTemporaryDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    p.setProcessEnvironment(env);
    p.start(program, args);
    QVERIFY(p.waitForStarted());
    QVERIFY(p.waitForFinished(10000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == status, qPrintable(out + err));
    QVERIFY2(out.contains(printed), qPrintable(out));
    QVERIFY2(err.contains(logged), qPrintable(err));
}

void TestProgram::readsConfigNamedByOption()
{
    QTemporaryDir dir;
    QFile cfg(dir.filePath("mine.cfg"));
    QVERIFY(cfg.open(QIODevice::WriteOnly));
    cfg.write("INCLUDE missing.cfg\n-nw\n");
    cfg.close();
    QProcess p;
    p.setWorkingDirectory(dir.path());
    // "-nw" from the file must keep a machine without a display from aborting the start.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    p.setProcessEnvironment(env);
    p.start(program, { "-c", "mine.cfg" });
    QVERIFY(p.waitForStarted());
    QVERIFY(!p.waitForFinished(1000));
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + SIGINT);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains("Can't open config file : missing.cfg"), qPrintable(err));
    QVERIFY2(!err.contains("Can't open config file : mine.cfg"), qPrintable(err));
}

void TestProgram::runsBatchToItsEnd_data()
{
    QTest::addColumn<QString>("batch");
    QTest::addColumn<bool>("stopDuringRun");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("dataFiles");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<QStringList>("notLogged");
    QTest::addColumn<QStringList>("printed");

    // Loads the measurement and reconstructs all 64 slices; DATAPATH is where the data files go.
    const QString run = "ct_rot_ax_is_v 1\n"
                        "i0_load DATA/ref/I0.img\n"
                        "bg_load DATA/ref/BG.img\n"
                        "images_load DATA *.img\n"
                        "ct_cor 128\n"
                        "ct_slice_from 0\n"
                        "ct_slice_to 63\n"
                        "ct_auto_exec 1\n"
                        "ct_threads 1\n"
                        "auto_save_in_sub_folders 0\n"
                        "auto_save_data_path DATAPATH\n"
                        "auto_save_data 1\n"
                        "calc_exec\n"
                        ":echo after the run\n";
    QTest::newRow("quit after a full run")
        << run + "quit\n:echo after quit\n"
        << false << 0 << 64 << QStringList { ":echo after the run" } << QStringList { "after quit" }
        << QStringList { "Loaded 360 images 256 x 64 from " + dataDir.filePath("data"),
               "Run: slices 0 to 63 step 1, 1 worker, filtered back-projection",
               "Run end: 64 of 64 slices reconstructed, 0 slices failed, 64 files written, 0 "
               "failures," };
    QTest::newRow("quit with a status")
        << run + "quit 3\n"
        << false << 3 << 64 << QStringList {} << QStringList {} << QStringList {};
    QTest::newRow("quit after a failed write")
        << QString(run + "quit\n").replace("DATAPATH", "blocker/data") << false << 1 << 0
        << QStringList { "Cannot create the folder", "blocker/data" } << QStringList {}
        << QStringList {
               "Run end: 64 of 64 slices reconstructed, 0 slices failed, 0 files written,"
           };
    QTest::newRow("stopped from outside during calc_exec")
        << run + "quit\n"
        << true << 128 + SIGTERM << -1 << QStringList { "The batch stops" }
        << QStringList { "after the run", "cmd quit" } << QStringList {};
    // A misspelt command and a CoR that is not a number: both named with their line, the CoR
    // kept (at 0 no slice would be written), the batch goes on, and the status tells.
    QTest::newRow("mistakes in batch lines")
        << "# a job\n\n"
            + QString(run).replace("ct_cor 128\n", "ct_cor 128\nct_corr 12\nct_cor abc\n")
            + "quit\n"
        << false << 1 << 64
        << QStringList { "Unknown command 'ct_corr' at line 8 of job.bat",
               "Not a number 'abc' at line 9 of job.bat" }
        << QStringList {} << QStringList {};
    QTest::newRow("batch file that cannot be read")
        << QString() << false << 2 << 0 << QStringList { "Can't open batch file", "none.bat" }
        << QStringList {} << QStringList {};
}

void TestProgram::runsBatchToItsEnd()
{
    QFETCH(QString, batch);
    QFETCH(bool, stopDuringRun);
    QFETCH(int, status);
    QFETCH(int, dataFiles);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, notLogged);
    QFETCH(QStringList, printed);

    QTemporaryDir dir;
    QFile blocker(dir.filePath("blocker")); // a file where a folder is wanted
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString batchName = "none.bat";
    if (!batch.isEmpty()) {
        batchName = "job.bat";
        QFile f(dir.filePath(batchName));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(batch.replace("DATAPATH", "out/data")
                    .replace("DATA", dataDir.filePath("data"))
                    .toUtf8());
    }
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(program, { "-nw", "-b", batchName, "-x" });
    QVERIFY(p.waitForStarted());
    QByteArray err;
    if (stopDuringRun) {
        while (!err.contains("cmd calc_exec") && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            err += p.readAllStandardError();
        }
        ::kill(pid_t(p.processId()), SIGTERM);
    }
    // It ends by itself: nothing is left running.
    QVERIFY(p.waitForFinished(120000));
    err += p.readAllStandardError();
    const QString log = QString::fromLocal8Bit(err);
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == status, qPrintable(QString::number(p.exitCode()) + "\n" + log));
    const QStringList written = QDir(dir.filePath("out/data")).entryList({ "*.dat" }, QDir::Files);
    if (dataFiles >= 0)
        QCOMPARE(written.size(), dataFiles);
    else
        QVERIFY2(written.size() < 64, qPrintable(log)); // the run did not reach its end
    // Every file there is complete: nothing half-written is left behind.
    for (const QString &name : written)
        QVERIFY(QFileInfo(dir.filePath("out/data/" + name)).size() > 0);
    for (const QString &text : logged)
        QVERIFY2(log.contains(text), qPrintable(text + "\n" + log));
    for (const QString &text : notLogged)
        QVERIFY2(!log.contains(text), qPrintable(text + "\n" + log));
    const QString console = QString::fromLocal8Bit(p.readAllStandardOutput());
    for (const QString &text : printed)
        QVERIFY2(console.contains(text), qPrintable(text + "\n" + console));
}

void TestProgram::refusedThreadsEndTheProgram()
{
#ifdef __SANITIZE_ADDRESS__
    // The thread-refusing library is preloaded, and AddressSanitizer's runtime must come first.
    QSKIP("not with AddressSanitizer");
#endif
    // The system refuses the k-th new thread and every one after, for k from none upwards: a
    // batch run either does its work with the threads it has or ends with status 1 and the
    // reason. None waits for ever on a thread that never ran.
    QTemporaryDir dir;
    QFile bat(dir.filePath("job.bat"));
    QVERIFY(bat.open(QIODevice::WriteOnly));
    bat.write(QString("ct_rot_ax_is_v 1\nauto_save_data_path \"%1\"\nauto_save_data 1\n"
                      "ct_slice_from 30\nct_slice_to 31\nct_auto_exec 1\nct_cor 128\n"
                      "images_load \"%2\" *.img\ncalc_exec\nquit\n")
                  .arg(dir.filePath("out"), dataDir.filePath("data"))
                  .toUtf8());
    bat.close();
    bool someRefused = false;
    for (int allowed = 0; allowed <= 12; allowed += 2) {
        QDir(dir.filePath("out")).removeRecursively();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LD_PRELOAD", VEXA_FAIL_THREADS);
        env.insert("VEXA_THREADS_ALLOWED", QString::number(allowed));
        p.setProcessEnvironment(env);
        p.start(program, { "-nw", "-b", bat.fileName(), "-x" });
        QVERIFY2(
            p.waitForFinished(60000), qPrintable(QString("hangs with %1 threads").arg(allowed)));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QByteArray err = p.readAllStandardError();
        if (p.exitCode() == 0) {
            int written = 0;
            for (QDirIterator it(
                     dir.filePath("out"), { "*.dat" }, QDir::Files, QDirIterator::Subdirectories);
                 it.hasNext(); it.next())
                ++written;
            QCOMPARE(written, 2);
        } else {
            QCOMPARE(p.exitCode(), 1);
            QVERIFY2(err.contains("Cannot start the thread of"), err.right(2000).constData());
            someRefused = true;
        }
    }
    QVERIFY(someRefused);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_Program.moc"
