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
    QTest::newRow("no window") << QStringList { "-nw" };
    QTest::newRow("window") << QStringList {};
    QTest::newRow("window in English") << QStringList { "-e" };
}

void TestProgram::startsWithoutConfig()
{
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
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
