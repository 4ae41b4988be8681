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

private:
    QString program;
};

void TestProgram::initTestCase()
{
    program = qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/src/app/vexa2";
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
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
    p.setProcessEnvironment(env);
    p.start(program, args);
    QVERIFY(p.waitForStarted());
    // It keeps running until stopped from outside.
    QVERIFY(!p.waitForFinished(1500));
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains("Can't open config file : config.cfg"), qPrintable(err));
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(program, { "-c", "mine.cfg" });
    QVERIFY(p.waitForStarted());
    QVERIFY(!p.waitForFinished(1000));
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains("Can't open config file : missing.cfg"), qPrintable(err));
    QVERIFY2(!err.contains("Can't open config file : mine.cfg"), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_Program.moc"
