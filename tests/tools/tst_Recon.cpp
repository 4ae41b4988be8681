// Runs vexa2-phantom and vexa2-recon as a user would: sample data in, complete result files out.
#include <QtTest>

#include <cmath>

namespace {

QString tool(const QString &rel)
{
    return qEnvironmentVariable("VEXA_TEST_BIN_DIR") + rel;
}

bool run(const QString &program, const QStringList &args, QString *output, int timeoutMs = 60000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs))
        return false;
    *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Lines of a CT image data file; the header is checked and the body parsed.
bool readDataFile(const QString &path, int expectLines, double *maxValue)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    // The file ends with a line feed: the last piece is empty.
    if (lines.size() != 6 + expectLines + 1 || lines.first() != "#VEXA-CTImg" || !lines.last().isEmpty())
        return false;
    *maxValue = -1e300;
    for (int i = 6; i < 6 + expectLines; ++i) {
        const QList<QByteArray> items = lines.at(i).split('\t');
        bool ok = false;
        const double v = items.value(2).toDouble(&ok);
        if (items.size() != 3 || !ok || !std::isfinite(v))
            return false;
        *maxValue = std::max(*maxValue, v);
    }
    return true;
}

} // namespace

class TestRecon : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void reconstructsARange_data();
    void reconstructsARange();
    void refusesBadInput_data();
    void refusesBadInput();

private:
    QTemporaryDir tmp;
    QString data;
};

void TestRecon::initTestCase()
{
    QVERIFY(tmp.isValid());
    data = tmp.filePath("data");
    QString output;
    QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"),
                 { "-o", data, "--width", "64", "--height", "8", "-n", "90", "--axis-offset",
                     "0.7" },
                 &output),
        qPrintable(output));
}

void TestRecon::reconstructsARange_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<int>>("slices");
    QTest::addColumn<bool>("pictures");
    QTest::newRow("all slices, guessed centre, three workers")
        << QStringList { "--threads", "3", "--png" } << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7 }
        << true;
    QTest::newRow("descending range, given centre")
        << QStringList { "--cor", "32.7", "--from", "7", "--to", "0", "--step", "3", "--name",
               "scan", "--tag", "7112eV", "--tiff" }
        << QList<int> { 7, 4, 1 } << false;
}

void TestRecon::reconstructsARange()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, slices);
    QFETCH(bool, pictures);
    const QString outDir = tmp.filePath(QString("out-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
    QString output;
    QVERIFY2(run(tool("/tools/recon/vexa2-recon"), QStringList { data, "-o", outDir } + args, &output),
        qPrintable(output));

    // The centre lies at 32 + 0.7; the guess finds it.
    const QRegularExpression corLine("Centre of rotation ([0-9.]+)");
    const auto m = corLine.match(output);
    QVERIFY2(m.hasMatch(), qPrintable(output));
    const double cor = m.captured(1).toDouble();
    QVERIFY2(std::abs(cor - 32.7) < 0.15, qPrintable(output));
    // The slice is as wide as the even part of the sampling window around the centre.
    const int half = int(std::floor(std::min(cor, 64 - cor - 1)));
    const int n = (2 * half - 1) / 2 * 2;

    const bool named = args.contains("--name");
    QStringList expected;
    for (int s : slices) {
        const QString base = named ? QString("scan-7112eV-%1").arg(s, 5, 10, QChar('0'))
                                   : QString("data-%1").arg(s, 5, 10, QChar('0'));
        expected << base + ".dat";
        if (pictures)
            expected << base + ".png";
        if (args.contains("--tiff"))
            expected << base + ".tif";
    }
    QStringList found = QDir(outDir).entryList(QDir::Files);
    found.sort();
    expected.sort();
    QCOMPARE(found, expected);

    // Every data file is complete, over the default region (the whole slice), and the phantom
    // attenuates.
    double highest = -1e300;
    for (const QString &f : found) {
        if (f.endsWith(".dat")) {
            double maxValue = 0;
            QVERIFY2(readDataFile(QDir(outDir).filePath(f), n * n, &maxValue), qPrintable(f));
            highest = std::max(highest, maxValue);
        } else if (f.endsWith(".tif")) {
            // Uncompressed: the header and n x n floats.
            QFile tif(QDir(outDir).filePath(f));
            QVERIFY(tif.open(QIODevice::ReadOnly));
            QCOMPARE(tif.read(4), QByteArray("II*\0", 4));
            QVERIFY(tif.size() > qint64(n) * n * 4);
        } else {
            QImage img(QDir(outDir).filePath(f));
            QCOMPARE(img.size(), QSize(n, n));
        }
    }
    QVERIFY(highest > 10.01); // offset 10 plus the phantom's positive attenuation
}

void TestRecon::refusesBadInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no folder") << QStringList {};
    QTest::newRow("missing folder") << QStringList { "/nonexistent/folder" };
    QTest::newRow("slice out of range") << QStringList { "DATA", "--to", "8" };
    QTest::newRow("centre outside the line") << QStringList { "DATA", "--cor", "70" };
    QTest::newRow("step 0") << QStringList { "DATA", "--step", "0" };
    QTest::newRow("no workers") << QStringList { "DATA", "--threads", "0" };
}

void TestRecon::refusesBadInput()
{
    QFETCH(QStringList, args);
    args.replaceInStrings("DATA", data);
    const QString outDir = tmp.filePath("refused");
    QProcess p;
    p.start(tool("/tools/recon/vexa2-recon"), args + QStringList { "-o", outDir });
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().contains("vexa2-recon: "));
    QVERIFY(QDir(outDir).entryList(QDir::Files).isEmpty());
}

QTEST_GUILESS_MAIN(TestRecon)
#include "tst_Recon.moc"
