// Reconstructs a CT-XAFS series on a real Slurm cluster of one host, started by the test itself
// (munged, slurmctld and slurmd with their key, configuration, state and logs in a temporary
// folder; no system service is touched), through scripts/slurm/submit-series, and checks that
// the array's files are those of one vexa2-recon run over the whole series, byte for byte.
// Where the cluster cannot run (no root, Slurm or munge not installed) the program exits with
// status 77, which CTest reports as skipped, and says why.
#include <QtTest>

#include <QTcpServer>

#include <unistd.h>

namespace {

constexpr int skippedStatus = 77;
bool skippedForGood = false;

QString tool(const QString &rel)
{
    return qEnvironmentVariable("VEXA_TEST_BIN_DIR") + rel;
}

QString program(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, { "/usr/sbin", "/sbin", "/usr/local/sbin" });
    return path;
}

int freePort()
{
    QTcpServer s;
    return s.listen(QHostAddress::Any, 0) ? s.serverPort() : 0;
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QMap<QString, QByteArray> filesBelow(const QString &root, const QStringList &leaveOut = {})
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        const QString rel = QDir(root).relativeFilePath(f.fileName());
        if (std::any_of(leaveOut.begin(), leaveOut.end(),
                [&rel](const QString &p) { return rel.startsWith(p); }))
            continue;
        if (f.open(QIODevice::ReadOnly))
            files.insert(rel, f.readAll());
    }
    return files;
}

// munged, slurmctld and slurmd in the foreground as children of the test, stopped with it.
class OneHostCluster
{
public:
    ~OneHostCluster() { stop(); }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    bool start(const QString &dir, QString *why)
    {
        const QString munged = program("munged");
        const QString slurmctld = program("slurmctld");
        const QString slurmd = program("slurmd");
        if (munged.isEmpty() || slurmctld.isEmpty() || slurmd.isEmpty()
            || program("sbatch").isEmpty() || program("squeue").isEmpty()) {
            *why = "slurm-wlm and munge are not installed (scripts/setup-deps installs them)";
            return false;
        }
        const QDir d(dir);
        for (const char *sub : { "munge", "state", "spool", "log", "run" })
            d.mkpath(sub);
        QFile::setPermissions(
            d.filePath("munge"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile key(d.filePath("munge/munge.key"));
        if (!key.open(QIODevice::WriteOnly))
            return failed("cannot write the munge key", why);
        QByteArray bytes(1024, 0);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), 256);
        key.write(bytes);
        key.close();
        key.setPermissions(QFile::ReadOwner);

        const QString socket = d.filePath("munge/munge.sock");
        startDaemon(munged,
            { "-F", "--force", "--key-file=" + key.fileName(), "--socket=" + socket,
                "--pid-file=" + d.filePath("munge/munged.pid"),
                "--log-file=" + d.filePath("munge/munged.log"),
                "--seed-file=" + d.filePath("munge/seed") });
        if (!waitFor([&] { return QFileInfo::exists(socket); }, 15000))
            return failed("munged did not start: " + readText(d.filePath("munge/munged.log")), why);

        // The loopback address spares the test any name lookup of this host.
        const QString host = QSysInfo::machineHostName().section('.', 0, 0);
        const int ctldPort = freePort();
        int dPort = freePort();
        while (dPort == ctldPort)
            dPort = freePort();
        QFile conf(d.filePath("slurm.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return failed("cannot write slurm.conf", why);
        QTextStream(&conf) << "ClusterName=vexa\n"
                           << "SlurmctldHost=" << host << "(127.0.0.1)\n"
                           << "AuthType=auth/munge\nAuthInfo=socket=" << socket << "\n"
                           << "CryptoType=crypto/munge\n"
                           << "SlurmUser=root\nSlurmdUser=root\n"
                           << "StateSaveLocation=" << d.filePath("state") << "\n"
                           << "SlurmdSpoolDir=" << d.filePath("spool") << "\n"
                           << "SlurmctldPidFile=" << d.filePath("run/slurmctld.pid") << "\n"
                           << "SlurmdPidFile=" << d.filePath("run/slurmd.pid") << "\n"
                           << "SlurmctldLogFile=" << d.filePath("log/slurmctld.log") << "\n"
                           << "SlurmdLogFile=" << d.filePath("log/slurmd.log") << "\n"
                           << "SlurmctldPort=" << ctldPort << "\nSlurmdPort=" << dPort << "\n"
                           << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
                           << "JobAcctGatherType=jobacct_gather/none\n"
                           << "SelectType=select/cons_tres\nSelectTypeParameters=CR_Core\n"
                           << "MpiDefault=none\nReturnToService=2\n"
                           << "NodeName=" << host
                           << " NodeAddr=127.0.0.1 CPUs=" << QThread::idealThreadCount()
                           << " RealMemory=2000 State=UNKNOWN\n"
                           << "PartitionName=main Nodes=" << host
                           << " Default=YES MaxTime=INFINITE State=UP\n";
        conf.close();
        env.insert("SLURM_CONF", conf.fileName());

        startDaemon(slurmctld, { "-D", "-c" });
        startDaemon(slurmd, { "-D" });
        QString state;
        if (!waitFor(
                [&] {
                    state = output("sinfo", { "-h", "-o", "%T" }).trimmed();
                    return state == "idle";
                },
                60000))
            return failed(QString("the node did not become idle (sinfo: \"%1\"):\n%2\n%3")
                              .arg(state, readText(d.filePath("log/slurmctld.log")).right(2000),
                                  readText(d.filePath("log/slurmd.log")).right(2000)),
                why);
        return true;
    }

    QString output(const QString &name, const QStringList &args) const
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program(name), args);
        p.waitForFinished(20000);
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    void cancel(const QStringList &jobs)
    {
        if (jobs.isEmpty() || daemons.isEmpty())
            return;
        output("scancel", jobs);
        waitFor([&] { return output("squeue", { "-h", "-j", jobs.join(',') }).isEmpty(); }, 30000);
    }

    // slurmd first, so that nothing new starts; munged last, since both daemons talk to it
    // while they close down.
    void stop()
    {
        while (!daemons.isEmpty()) {
            QProcess *p = daemons.takeLast();
            p->terminate();
            if (!p->waitForFinished(15000)) {
                p->kill();
                p->waitForFinished(5000);
            }
            delete p;
        }
    }

private:
    static bool failed(const QString &what, QString *why)
    {
        *why = what;
        return false;
    }

    template <typename F> static bool waitFor(F &&done, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(250);
        }
        return true;
    }

    void startDaemon(const QString &path, const QStringList &args)
    {
        auto *p = new QProcess;
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(path, args);
        p->waitForStarted(5000);
        daemons << p;
    }

    QList<QProcess *> daemons;
};

} // namespace

class TestSlurmSeries : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void seriesOnTheCluster();
    void cleanupTestCase();

private:
    QTemporaryDir tmp;
    OneHostCluster cluster;
    QString series;
    QString whole;
    QStringList jobs;

    bool runSubmit(const QStringList &args, QString *output, qint64 *ms);
};

void TestSlurmSeries::initTestCase()
{
    QVERIFY(tmp.isValid());
    if (::geteuid() != 0) {
        skippedForGood = true;
        QSKIP("slurmd has to start jobs as root: run as root to test on a Slurm cluster");
    }
    QString why;
    if (!cluster.start(tmp.filePath("cluster"), &why)) {
        if (why.contains("not installed")) {
            skippedForGood = true;
            QSKIP(qPrintable(why));
        }
        QFAIL(qPrintable(why));
    }

    // Four energies, one sub-folder each; the whole run on this machine is the reference.
    series = tmp.filePath("series");
    whole = tmp.filePath("whole");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool("/tools/phantom/vexa2-phantom"),
        { "-o", series, "--width", "64", "--height", "12", "-n", "90", "--axis-offset", "0.4",
            "--noise", "--energies", "8950,8979,9000,9050" });
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAll().constData());
    p.start(tool("/tools/recon/vexa2-recon"),
        { series, "-o", whole, "--cor", "32.4", "--from", "1", "--to", "10", "--png" });
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitCode() == 0, p.readAll().constData());
}

bool TestSlurmSeries::runSubmit(const QStringList &args, QString *output, qint64 *ms)
{
    QProcess p;
    p.setProcessEnvironment(cluster.env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    p.start(QStringLiteral(VEXA_SOURCE_DIR "/scripts/slurm/submit-series"), args);
    const bool ended = p.waitForFinished(240000);
    *ms = timer.elapsed();
    if (!ended)
        p.kill();
    *output = QString::fromLocal8Bit(p.readAll());
    const auto m
        = QRegularExpression("Submitted array job (\\d+) and check job (\\d+)").match(*output);
    if (m.hasMatch())
        jobs << m.captured(1) << m.captured(2);
    const auto stackJob = QRegularExpression("Submitted stack job (\\d+)").match(*output);
    if (stackJob.hasMatch())
        jobs << stackJob.captured(1);
    if (!ended)
        *output += "\n(no end within the time limit)";
    return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void TestSlurmSeries::seriesOnTheCluster()
{
    const QString out = tmp.filePath("cluster-out");
    const QStringList args { "--wait", "--tasks", "3", "--cpus", "1", "--recon",
        tool("/tools/recon/vexa2-recon"), series, "-o", out, "--cor", "32.4", "--from", "1", "--to",
        "10", "--png" };
    QString output;
    qint64 ms = 0;
    QVERIFY2(runSubmit(args, &output, &ms), qPrintable(output));
    qInfo("The series (4 energies x 10 slices of 64 x 64 from 90 projections) ran on the cluster "
          "in %.1f s",
        ms / 1000.0);

    // Three task logs, a summary that counts everything, and the files of the whole run.
    const QStringList logs = QDir(out + "/slurm-logs").entryList({ "task-*.log" }, QDir::Files);
    QCOMPARE(logs.size(), 3);
    const QString summary = readText(out + "/series-summary.txt");
    QVERIFY2(
        summary.contains("Energies: 4, slices per energy: 10, files expected: 80, present: 80, "
                         "missing: 0"),
        qPrintable(summary));
    QVERIFY2(summary.contains("Result: complete"), qPrintable(summary));
    const QStringList extra { "slurm-logs/", "series-summary.txt" };
    const QMap<QString, QByteArray> expected = filesBelow(whole);
    QCOMPARE(expected.size(), 80);
    QCOMPARE(filesBelow(out, extra).keys(), expected.keys());
    QVERIFY(filesBelow(out, extra) == expected);

    // The same command again after a lost file: only that slice is made again.
    const QString lost = out + "/09000_0eV/09000_0eV-00007.tif";
    QVERIFY(QFile::remove(lost));
    QVERIFY2(runSubmit(args, &output, &ms), qPrintable(output));
    QVERIFY(filesBelow(out, extra) == expected);
    int skipped = 0;
    for (const QString &log : QDir(out + "/slurm-logs").entryList({ "task-*.log" }, QDir::Files)) {
        const auto m = QRegularExpression("Skipped (\\d+) slices")
                           .match(readText(out + "/slurm-logs/" + log));
        skipped += m.hasMatch() ? m.captured(1).toInt() : 0;
    }
    QCOMPARE(skipped, 39);

    // The stack step after the check: the same file as the one made from the whole run here.
    const QString stack = tmp.filePath("cluster-stack.h5");
    QVERIFY2(runSubmit(QStringList { "--stack", stack, "--align", "--spectra",
                           tool("/tools/spectra/vexa2-spectra") }
                     + args,
                 &output, &ms),
        qPrintable(output));
    QVERIFY2(output.contains("Submitted stack job"), qPrintable(output));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool("/tools/spectra/vexa2-spectra"),
        { "stack", whole, "-o", tmp.filePath("whole-stack.h5"), "--align" });
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitCode() == 0, p.readAll().constData());
    const QByteArray fromCluster = readBytes(stack);
    QVERIFY(!fromCluster.isEmpty());
    QVERIFY(fromCluster == readBytes(tmp.filePath("whole-stack.h5")));
}

void TestSlurmSeries::cleanupTestCase()
{
    cluster.cancel(jobs);
    cluster.stop();
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestSlurmSeries test;
    const int status = QTest::qExec(&test, argc, argv);
    return status == 0 && skippedForGood ? skippedStatus : status;
}

#include "tst_slurm_series.moc"
