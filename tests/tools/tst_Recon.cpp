// Runs vexa2-phantom and vexa2-recon as a user would: sample data in, complete result files out.
#include "CtTiffData.h"
#include "ImgData.h"
#include "ItexWriter.h"
#include "input/XafsTestUtil.h"

#include <QtTest>

#include <hdf5.h>

#include <cmath>
#include <csignal>
#include <vector>

namespace {

QString tool(const QString &rel)
{
    return qEnvironmentVariable("VEXA_TEST_BIN_DIR") + rel;
}

bool run(const QString &program, const QStringList &args, QString *output, int timeoutMs = 60000,
    const QStringList &env = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    // "NAME=value" sets a variable, "NAME" alone removes it.
    for (const QString &kv : env) {
        if (kv.contains('='))
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        else
            e.remove(kv);
    }
    p.setProcessEnvironment(e);
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
    if (lines.size() != 6 + expectLines + 1 || lines.first() != "#VEXA-CTImg"
        || !lines.last().isEmpty())
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

// Every file below `root`, by path relative to it, with its bytes.
QMap<QString, QByteArray> filesBelow(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            files.insert(QDir(root).relativeFilePath(f.fileName()), f.readAll());
    }
    return files;
}

// Swaps projections a and b of a DXchange file in place, with their angles: the same data set
// in another order, whose angles are then no longer evenly spread.
bool swapProjections(const QString &path, int a, int b)
{
    const hid_t file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDWR, H5P_DEFAULT);
    if (file < 0)
        return false;
    bool ok = true;
    for (const char *name : { "/exchange/data", "/exchange/theta" }) {
        const hid_t set = H5Dopen2(file, name, H5P_DEFAULT);
        const hid_t space = H5Dget_space(set);
        hsize_t dims[3] = { 1, 1, 1 };
        const int rank = H5Sget_simple_extent_ndims(space);
        H5Sget_simple_extent_dims(space, dims, nullptr);
        hsize_t one[3] = { 1, dims[1], dims[2] };
        const hid_t mem = H5Screate_simple(rank, one, nullptr);
        std::vector<double> first(size_t(dims[1]) * dims[2]), second(first.size());
        const auto io = [&](int k, std::vector<double> &v, bool write) {
            const hsize_t start[3] = { hsize_t(k), 0, 0 };
            return H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, one, nullptr) >= 0
                && (write ? H5Dwrite(set, H5T_NATIVE_DOUBLE, mem, space, H5P_DEFAULT, v.data())
                          : H5Dread(set, H5T_NATIVE_DOUBLE, mem, space, H5P_DEFAULT, v.data()))
                >= 0;
        };
        ok = ok && set >= 0 && io(a, first, false) && io(b, second, false) && io(a, second, true)
            && io(b, first, true);
        H5Sclose(mem);
        H5Sclose(space);
        H5Dclose(set);
    }
    return H5Fclose(file) >= 0 && ok;
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
    void answersInfoOptions_data();
    void answersInfoOptions();
    void i0CorrectionLikeTheWindow_data();
    void i0CorrectionLikeTheWindow();
    void hdf5EqualsItex();
    void hdf5OwnAngles();
    void reconstructsASeries_data();
    void reconstructsASeries();
    void sharesMakeTheWholeRun_data();
    void sharesMakeTheWholeRun();
    void resumesWhatIsMissing();
    void failureSetsExitStatus_data();
    void failureSetsExitStatus();

private:
    QTemporaryDir tmp;
    QString data;
    QString subSeries; // one sub-folder per energy
    QString zbxSeries; // "ZBX Std." file sets
};

void TestRecon::initTestCase()
{
    QVERIFY(tmp.isValid());
    data = tmp.filePath("data");
    QString output;
    QVERIFY2(
        run(tool("/tools/phantom/vexa2-phantom"),
            { "-o", data, "--width", "64", "--height", "8", "-n", "90", "--axis-offset", "0.7" },
            &output),
        qPrintable(output));
    // Noise makes every energy's I0 image its own, so a series that took another energy's
    // I0 would write other numbers.
    subSeries = tmp.filePath("series");
    zbxSeries = tmp.filePath("zbx");
    const QStringList common { "--width", "40", "--height", "5", "-n", "48", "--noise",
        "--axis-offset", "0.3", "--energies", "8950,8979,9000" };
    QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"), QStringList { "-o", subSeries } + common,
                 &output),
        qPrintable(output));
    // The same data set as one DXchange HDF5 file.
    QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"),
                 { "--hdf5", tmp.filePath("data.h5"), "--width", "64", "--height", "8", "-n", "90",
                     "--axis-offset", "0.7" },
                 &output),
        qPrintable(output));
    QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"),
                 QStringList { "-o", zbxSeries, "--zbx" } + common, &output),
        qPrintable(output));
}

void TestRecon::reconstructsARange_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<int>>("slices");
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<QString>("optionFile"); // written to a file and named with --config
    QTest::addColumn<QStringList>("env");
    QTest::newRow("all slices, guessed centre, three workers")
        << QStringList { "--threads", "3", "--png" } << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7 }
        << true << QString() << QStringList {};
    QTest::newRow("descending range, given centre")
        << QStringList { "--cor", "32.7", "--from", "7", "--to", "0", "--step", "3", "--name",
               "scan", "--tag", "7112eV", "--tiff" }
        << QList<int> { 7, 4, 1 } << false << QString() << QStringList {};
    // The same from an option file; the typed --step wins over the file's.
    QTest::newRow("options from a file")
        << QStringList { "--step", "3" } << QList<int> { 7, 4, 1 } << false
        << QString("# a job run again and again\n"
                   "cor 32.7   # the centre\n"
                   "\n"
                   "from 7\nto 0\nstep 1\nname \"scan\"\ntag 7112eV\ntiff\npng 0\n")
        << QStringList {};
    // A desktop user's environment exported into a cluster job: the X platform, no display.
    QTest::newRow("X platform named, no display")
        << QStringList { "--cor", "32.7", "--from", "2", "--to", "2" } << QList<int> { 2 } << false
        << QString() << QStringList { "QT_QPA_PLATFORM=xcb", "DISPLAY", "WAYLAND_DISPLAY" };
}

void TestRecon::reconstructsARange()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, slices);
    QFETCH(bool, pictures);
    QFETCH(QString, optionFile);
    QFETCH(QStringList, env);
    const QString outDir
        = tmp.filePath(QString("out-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
    if (!optionFile.isEmpty()) {
        QFile f(outDir + ".options");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(optionFile.toUtf8());
        f.close();
        args = QStringList { "--config", f.fileName() } + args;
    }
    QString output;
    QVERIFY2(run(tool("/tools/recon/vexa2-recon"), QStringList { data, "-o", outDir } + args,
                 &output, 60000, env),
        qPrintable(output));
    // Not every start of a program should warn about its runtime folder.
    QVERIFY2(!output.contains("XDG_RUNTIME_DIR"), qPrintable(output));

    // The centre lies at 32 + 0.7; the guess finds it.
    const QRegularExpression corLine("Centre of rotation ([0-9.]+)");
    const auto m = corLine.match(output);
    QVERIFY2(m.hasMatch(), qPrintable(output));
    const double cor = m.captured(1).toDouble();
    QVERIFY2(std::abs(cor - 32.7) < 0.15, qPrintable(output));
    // The slice is as wide as the even part of the sampling window around the centre.
    const int half = int(std::floor(std::min(cor, 64 - cor - 1)));
    const int n = (2 * half - 1) / 2 * 2;

    const bool named = args.contains("--name") || optionFile.contains("name");
    QStringList expected;
    for (int s : slices) {
        const QString base = named ? QString("scan-7112eV-%1").arg(s, 5, 10, QChar('0'))
                                   : QString("data-%1").arg(s, 5, 10, QChar('0'));
        expected << base + ".dat";
        if (pictures)
            expected << base + ".png";
        if (args.contains("--tiff") || optionFile.contains("tiff"))
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
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    // A command line that cannot be run exits 2, data that cannot be read 1.
    QTest::newRow("no folder") << QStringList {} << 2 << QString("name one folder");
    QTest::newRow("missing folder")
        << QStringList { "/nonexistent/folder" } << 1 << QString("no such folder");
    QTest::newRow("slice out of range")
        << QStringList { "DATA", "--to", "8" } << 2 << QString("0 ... 7");
    QTest::newRow("centre outside the line")
        << QStringList { "DATA", "--cor", "70" } << 2 << QString("1 ... 62");
    QTest::newRow("step 0") << QStringList { "DATA", "--step", "0" } << 2 << QString("step");
    QTest::newRow("no workers") << QStringList { "DATA", "--threads", "0" } << 2
                                << QString("workers");
    QTest::newRow("a projection cut short") << QStringList { "CUT" } << 1 << QString();
    QTest::newRow("share beyond the count")
        << QStringList { "SERIES", "--task", "3/3" } << 2 << QString("--task");
    QTest::newRow("share without a count")
        << QStringList { "SERIES", "--task", "1" } << 2 << QString("--task");
    QTest::newRow("a tag for a series")
        << QStringList { "SERIES", "--tag", "x" } << 2 << QString("--tag");
    QTest::newRow("a series without images")
        << QStringList { "SERIES", "--series", "--pattern", "*.none" } << 1 << QString();
    QTest::newRow("unknown option")
        << QStringList { "DATA", "--corr", "30" } << 2 << QString("Unknown option 'corr'");
    QTest::newRow("unknown filter")
        << QStringList { "DATA", "--filter", "box" } << 2 << QString("unknown filter box");
    QTest::newRow("option file that cannot be read")
        << QStringList { "DATA", "--config", "/nonexistent/job.options" } << 2
        << QString("cannot read the option file /nonexistent/job.options");
    QTest::newRow("unknown key in an option file") << QStringList { "DATA", "--config",
        "OPTIONS=cor 32.7\ncorr 3\n" } << 2 << QString("unknown option 'corr' at line 2 of ");
    QTest::newRow("switch with a value in an option file") << QStringList { "DATA", "--config",
        "OPTIONS=tiff maybe\n" } << 2 << QString("'tiff' takes no value");
    QTest::newRow("option without its value in an option file") << QStringList { "DATA", "--config",
        "OPTIONS=# job\ncor\n" } << 2 << QString("'cor' without its pixel at line 2 of ");
}

void TestRecon::refusesBadInput()
{
    QFETCH(QStringList, args);
    args.replaceInStrings("DATA", data);
    if (args.contains("CUT")) {
        // The set with its 18th projection cut short, as when a disk fills during a scan.
        const QString cut = tmp.filePath("cut");
        QVERIFY(QDir().mkpath(cut + "/ref"));
        const QDir src(data);
        for (const QString &f : src.entryList(QDir::Files))
            QVERIFY(QFile::copy(src.filePath(f), cut + "/" + f));
        for (const QString &f : QDir(data + "/ref").entryList(QDir::Files))
            QVERIFY(QFile::copy(data + "/ref/" + f, cut + "/ref/" + f));
        const QString victim = cut + "/" + src.entryList(QDir::Files, QDir::Name).at(17);
        QVERIFY(QFile::resize(victim, QFileInfo(victim).size() - 10));
        args.replaceInStrings("CUT", cut);
    }
    args.replaceInStrings("SERIES", subSeries);
    QTemporaryDir optionDir;
    for (QString &a : args) {
        if (a.startsWith("OPTIONS=")) {
            QFile f(optionDir.filePath("job.options"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(a.mid(8).toUtf8());
            a = f.fileName();
        }
    }
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString outDir = tmp.filePath("refused");
    QProcess p;
    p.start(tool("/tools/recon/vexa2-recon"), args + QStringList { "-o", outDir });
    QVERIFY(p.waitForFinished(30000));
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == status, err.constData());
    QVERIFY(err.contains("vexa2-recon: "));
    QVERIFY2(err.contains(said.toUtf8()), err.constData());
    if (QByteArray(QTest::currentDataTag()) == "a projection cut short")
        QVERIFY2(err.contains("The image set is incomplete: 1 of 90 files could not be read (")
                && err.contains(": pixel block shorter than the image size); no run started"),
            err.constData());
    QVERIFY(QDir(outDir).entryList(QDir::Files).isEmpty());
}

void TestRecon::answersInfoOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("printed");
    QTest::newRow("version") << QStringList { "--version" } << QString("vexa2-recon " VEXA_VERSION);
    QTest::newRow("help") << QStringList { "--help" } << QString("--config <file>");
    QTest::newRow("help beside other options")
        << QStringList { "-h", "--cor", "12" } << QString("Exit status: 0 when");
}

void TestRecon::answersInfoOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, printed);
    QString output;
    QVERIFY2(run(tool("/tools/recon/vexa2-recon"), args, &output), qPrintable(output));
    QVERIFY2(output.contains(printed), qPrintable(output));
    QVERIFY2(!output.contains("XDG_RUNTIME_DIR"), qPrintable(output));
}

void TestRecon::i0CorrectionLikeTheWindow_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    // I0 of the raw images twice that of the I0 image: the same slices as from an I0 image
    // whose counts above BG are doubled.
    QTest::newRow("fixed values") << QStringList { "--raw-i0", "2", "--i0-i0", "1" } << 0;
    QTest::newRow("halved I0 of the I0 image") << QStringList { "--i0-i0", "0.5" } << 0;
    // The scan's I0 is 200 counts per second; the energy 8980 eV is read from the folder's name.
    QTest::newRow("raw I0 from an XAFS scan")
        << QStringList { "--raw-i0-xafs", "SCAN", "--i0-i0", "100" } << 0;
    QTest::newRow("both from XAFS scans, patterns") << QStringList { "--raw-i0-xafs", "SCAN",
        "--raw-i0-pattern", "Fe-####", "--i0-i0-xafs", "HALFSCAN", "--i0-i0-pattern", "I0-####" }
                                                    << 0;
    QTest::newRow("a scan file that cannot be read")
        << QStringList { "--raw-i0-xafs", "/nonexistent/scan.dat" } << 1;
    QTest::newRow("an I0 that is not a number") << QStringList { "--raw-i0", "two" } << 2;
}

void TestRecon::i0CorrectionLikeTheWindow()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    // The data set in a folder whose name carries the energy; its I0 image, beside it, named
    // with one too.
    const QString set = tmp.filePath("Fe-8980_0000");
    if (!QFileInfo::exists(set)) {
        QVERIFY(QDir().mkpath(set + "/ref"));
        for (const QString &f : QDir(data).entryList(QDir::Files))
            QVERIFY(QFile::copy(data + "/" + f, set + "/" + f));
        QVERIFY(QFile::copy(data + "/ref/BG.img", set + "/ref/BG.img"));
        QVERIFY(QFile::copy(data + "/ref/I0.img", tmp.filePath("I0-8980.img")));
        QVERIFY(writeXafsFile(tmp.filePath("scan.dat"), "Mode 0 0 0 1",
            { "13 13 1 0 200", "14 14 2 0 400", "15 15 1 0 200" }));
        QVERIFY(writeXafsFile(
            tmp.filePath("halfscan.dat"), "Mode 0 0 0 1", { "13 13 1 0 100", "15 15 1 0 100" }));
        // The reference: the I0 image with its counts above BG doubled (whole numbers, exact).
        std::unique_ptr<ImgData> i0(ImgData::create(ImgData::fileType(data + "/ref/I0.img")));
        std::unique_ptr<ImgData> bg(ImgData::create(ImgData::fileType(data + "/ref/BG.img")));
        i0->fileName = data + "/ref/I0.img";
        bg->fileName = data + "/ref/BG.img";
        QVERIFY(i0->load() && bg->load());
        std::vector<quint16> doubled(size_t(i0->width) * i0->height);
        std::vector<double> a(i0->width), b(i0->width);
        for (int y = 0; y < i0->height; ++y) {
            i0->hLine(y, a.data());
            bg->hLine(y, b.data());
            for (int x = 0; x < i0->width; ++x) {
                const double v = b[x] + 2 * (a[x] - b[x]);
                QVERIFY(v >= 0 && v <= 65535);
                doubled[size_t(y) * i0->width + x] = quint16(v);
            }
        }
        QVERIFY(
            writeItexFile(tmp.filePath("doubledI0.img"), i0->width, i0->height, 2, doubled.data()));
        QString output;
        QVERIFY2(
            run(tool("/tools/recon/vexa2-recon"),
                { data, "-o", tmp.filePath("i0-reference"), "--i0", tmp.filePath("doubledI0.img"),
                    "--cor", "32.7", "--tiff", "--no-data", "--tag", "s" },
                &output),
            qPrintable(output));
    }
    args.replaceInStrings("HALFSCAN", tmp.filePath("halfscan.dat"));
    args.replaceInStrings("SCAN", tmp.filePath("scan.dat"));
    const QString out
        = tmp.filePath(QString("i0-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool("/tools/recon/vexa2-recon"),
        QStringList { set, "-o", out, "--i0", tmp.filePath("I0-8980.img"), "--cor", "32.7",
            "--tiff", "--no-data", "--tag", "s" }
            + args);
    QVERIFY(p.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(p.readAll());
    QVERIFY2(p.exitCode() == status, qPrintable(output));
    if (status != 0)
        return;
    QVERIFY2(output.contains("I0 image scaled by 2\n"), qPrintable(output));
    const QStringList files = QDir(out).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 8);
    QCOMPARE(QDir(tmp.filePath("i0-reference")).entryList(QDir::Files, QDir::Name), files);
    for (const QString &f : files) {
        std::vector<float> got, expected;
        int w = 0, h = 0;
        QVERIFY(CtTiffData::read(out + "/" + f, got, w, h));
        QVERIFY(CtTiffData::read(tmp.filePath("i0-reference/") + f, expected, w, h));
        QVERIFY2(got == expected, qPrintable(f));
    }
}

void TestRecon::hdf5EqualsItex()
{
    // Projections, white/dark as I0/BG and theta as the range: every result byte the same as
    // from the ITEX files, for the guessed centre as well.
    QStringList results[2];
    for (int k = 0; k < 2; ++k) {
        const QString out = tmp.filePath(k == 0 ? "rt-itex" : "rt-hdf5");
        QString output;
        QVERIFY2(
            run(tool("/tools/recon/vexa2-recon"),
                { k == 0 ? data : tmp.filePath("data.h5"), "-o", out, "--tag", "rt", "--tiff" },
                &output),
            qPrintable(output));
        QDir dir(out);
        for (const QString &f : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(f));
            QVERIFY(file.open(QIODevice::ReadOnly));
            results[k] << f + '\n' + QString::fromLatin1(file.readAll().toBase64());
        }
    }
    QCOMPARE(results[0].size(), 16); // 8 data files and 8 TIFF files
    QVERIFY(results[0] == results[1]);
}

void TestRecon::hdf5OwnAngles()
{
    // Two projections swapped with their angles: each method turns each projection by its
    // own angle and gives the slices of the file in order, to rounding.
    const QString swapped = tmp.filePath("swapped.h5");
    QFile::remove(swapped);
    QVERIFY(QFile::copy(tmp.filePath("data.h5"), swapped));
    QVERIFY(swapProjections(swapped, 10, 41));
    for (const QString method : { "fbp", "gridding" }) {
        QString output;
        std::vector<float> slices[2];
        for (int k = 0; k < 2; ++k) {
            const QString out = tmp.filePath(QString("own-%1-%2").arg(method).arg(k));
            QVERIFY2(run(tool("/tools/recon/vexa2-recon"),
                         { k == 0 ? tmp.filePath("data.h5") : swapped, "-o", out, "--tag", "s",
                             "--cor", "32.7", "--from", "4", "--to", "4", "--tiff", "--no-data",
                             "--method", method },
                         &output),
                qPrintable(output));
            QCOMPARE(output.contains("reconstructed at its own angle"), k == 1);
            int w = 0, h = 0;
            QString why;
            QVERIFY2(CtTiffData::read(out + "/s-00004.tif", slices[k], w, h, &why),
                qPrintable(why));
            QVERIFY(w > 50 && h > 50);
        }
        QCOMPARE(slices[1].size(), slices[0].size());
        const auto [lo, hi] = std::minmax_element(slices[0].begin(), slices[0].end());
        double worst = 0;
        for (size_t i = 0; i < slices[0].size(); ++i)
            worst = std::max(worst, double(std::abs(slices[1][i] - slices[0][i])));
        // The gridding computes in single precision.
        const double tolerance = method == "fbp" ? 1e-6 : 1e-4;
        QVERIFY2(worst <= tolerance * (*hi - *lo), qPrintable(QString::number(worst)));
    }
}

void TestRecon::reconstructsASeries_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("tags");
    const QStringList subTags { "08950_0eV", "08979_0eV", "09000_0eV" };
    const QStringList zbxTags { "08_950keV", "08_979keV", "09_000keV" };
    QTest::newRow("sub-folders, detected") << "sub" << QStringList { "--cor", "20.3" } << subTags;
    QTest::newRow("sub-folders, insisted, guessed centre, pictures")
        << "sub" << QStringList { "--series", "--png", "--name", "scan" } << subTags;
    QTest::newRow("file sets, detected, slices 4 to 1")
        << "zbx" << QStringList { "--cor", "20.3", "--from", "4", "--to", "1", "--step", "3" }
        << zbxTags;
}

void TestRecon::reconstructsASeries()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, args);
    QFETCH(QStringList, tags);
    const bool zbx = layout == "zbx";
    const QString series = zbx ? zbxSeries : subSeries;
    const QString outDir = tmp.filePath(QString("series-%1").arg(QTest::currentDataTag()));
    QString output;
    QVERIFY2(
        run(tool("/tools/recon/vexa2-recon"), QStringList { series, "-o", outDir } + args, &output),
        qPrintable(output));
    const auto m = QRegularExpression("Centre of rotation ([0-9.]+)").match(output);
    QVERIFY2(m.hasMatch(), qPrintable(output));
    const QString cor = m.captured(1);

    // One folder per energy, named and filled as automatic saving "of Energy" does; each
    // energy's files are those of a run over that energy alone, with its own I0 image and the
    // series' centre of rotation.
    const QMap<QString, QByteArray> written = filesBelow(outDir);
    QStringList folders = QDir(outDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders, tags);
    QStringList single { "--cor", cor };
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--series")
            continue;
        if (args[i] == "--cor")
            ++i;
        else
            single << args[i];
    }
    int compared = 0;
    for (const QString &tag : tags) {
        const QString alone
            = tmp.filePath(QString("alone-%1-%2").arg(QTest::currentDataTag(), tag));
        const QString i0 = zbx ? QString("%1/ref/I0-%2-00000.img").arg(series, tag)
                               : QString("%1/I0-%2-00000.img").arg(series, tag);
        const QString bg = zbx ? series + "/ref/BG.img" : series + "/BG.img";
        const QStringList where = zbx
            ? QStringList { series, "--pattern", "sample-" + tag + "-*.img" }
            : QStringList { series + "/" + tag };
        QVERIFY2(
            run(tool("/tools/recon/vexa2-recon"),
                where + QStringList { "-o", alone, "--i0", i0, "--bg", bg, "--tag", tag } + single,
                &output),
            qPrintable(output));
        const QMap<QString, QByteArray> expected = filesBelow(alone);
        QVERIFY(!expected.isEmpty());
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            QVERIFY2(written.value(tag + "/" + it.key()) == it.value(),
                qPrintable(tag + "/" + it.key()));
            ++compared;
        }
    }
    QCOMPARE(written.size(), compared);
}

void TestRecon::sharesMakeTheWholeRun_data()
{
    QTest::addColumn<int>("tasks");
    QTest::addColumn<bool>("slurm");
    QTest::addColumn<QString>("layout");
    QTest::newRow("4 shares") << 4 << false << "sub";
    QTest::newRow("7 shares of file sets") << 7 << false << "zbx";
    QTest::newRow("more shares than slices") << 20 << false << "sub";
    QTest::newRow("a Slurm array of 5") << 5 << true << "sub";
}

void TestRecon::sharesMakeTheWholeRun()
{
    QFETCH(int, tasks);
    QFETCH(bool, slurm);
    QFETCH(QString, layout);
    const QString series = layout == "zbx" ? zbxSeries : subSeries;
    const QStringList args { series, "--png", "--tiff", "--threads", "2", "--name", "s" };
    const QString base = tmp.filePath(QString("shares-%1").arg(QTest::currentDataTag()));
    QString output;
    QVERIFY2(run(tool("/tools/recon/vexa2-recon"), args + QStringList { "-o", base + "/whole" },
                 &output),
        qPrintable(output));
    const QMap<QString, QByteArray> whole = filesBelow(base + "/whole");
    QCOMPARE(whole.size(), 3 * 5 * 3);

    // Each share in a folder of its own: together they write every file of the whole run,
    // byte for byte, and no file twice.
    QMap<QString, QByteArray> together;
    for (int i = 0; i < tasks; ++i) {
        const QString own = QString("%1/task-%2").arg(base).arg(i);
        // An array numbered from 10, as Slurm numbers a job array submitted with --array=10-14.
        const QStringList env = slurm ? QStringList { QString("SLURM_ARRAY_TASK_ID=%1").arg(10 + i),
            QString("SLURM_ARRAY_TASK_COUNT=%1").arg(tasks), "SLURM_ARRAY_TASK_MIN=10",
            QString("SLURM_ARRAY_TASK_MAX=%1").arg(9 + tasks) }
                                      : QStringList {};
        const QStringList share
            = slurm ? QStringList {} : QStringList { "--task", QString("%1/%2").arg(i).arg(tasks) };
        QVERIFY2(run(tool("/tools/recon/vexa2-recon"), args + share + QStringList { "-o", own },
                     &output, 60000, env),
            qPrintable(output));
        const QMap<QString, QByteArray> mine = filesBelow(own);
        for (auto it = mine.begin(); it != mine.end(); ++it) {
            QVERIFY2(!together.contains(it.key()), qPrintable(it.key()));
            together.insert(it.key(), it.value());
        }
    }
    QCOMPARE(together.keys(), whole.keys());
    QVERIFY(together == whole);
}

void TestRecon::resumesWhatIsMissing()
{
    const QString outDir = tmp.filePath("resumed");
    const QStringList args { subSeries, "-o", outDir, "--cor", "20.3" };
    QString output;
    QVERIFY2(run(tool("/tools/recon/vexa2-recon"), args + QStringList { "--task", "0/2" }, &output),
        qPrintable(output));
    // The check finds the other share missing and says so in its status.
    QProcess check;
    check.start(tool("/tools/recon/vexa2-recon"), args + QStringList { "--check" });
    QVERIFY(check.waitForFinished(30000));
    QCOMPARE(check.exitCode(), 1);
    const QByteArray summary = check.readAllStandardOutput();
    QVERIFY2(summary.contains(
                 "Energies: 3, slices per energy: 5, files expected: 15, present: 7, missing: 8"),
        summary.constData());

    // A file of the first share cut short (no final line feed) counts as missing; a complete
    // one is kept as it is.
    const QString cut = outDir + "/08950_0eV/08950_0eV-00001.dat";
    const QString kept = outDir + "/08950_0eV/08950_0eV-00002.dat";
    QFile f(cut);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const QByteArray good = f.readAll();
    QVERIFY(f.resize(good.size() - 1));
    f.close();
    QFile k(kept);
    QVERIFY(k.open(QIODevice::WriteOnly));
    k.write("kept\n");
    k.close();

    QVERIFY2(
        run(tool("/tools/recon/vexa2-recon"), args + QStringList { "--skip-existing" }, &output),
        qPrintable(output));
    QVERIFY2(output.contains("Skipped 6 slices written before"), qPrintable(output));
    QVERIFY2(output.contains("Run end: 9 of 9 slices done"), qPrintable(output));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), good);
    QVERIFY(k.open(QIODevice::ReadOnly));
    QCOMPARE(k.readAll(), QByteArray("kept\n"));
    QVERIFY(run(tool("/tools/recon/vexa2-recon"), args + QStringList { "--check" }, &output));
}

void TestRecon::failureSetsExitStatus_data()
{
    QTest::addColumn<bool>("stop");
    QTest::addColumn<int>("status");
    QTest::newRow("a file that cannot be written") << false << 1;
    QTest::newRow("stopped from outside") << true << 128 + SIGTERM;
}

void TestRecon::failureSetsExitStatus()
{
    QFETCH(bool, stop);
    QFETCH(int, status);
    const QString outDir
        = tmp.filePath(QString("fail-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
    QString source = data;
    QStringList args { "--cor", "32.7" };
    int slices = 8;
    if (stop) {
        // One worker over 64 slices of a larger set: the run lasts long enough to be stopped.
        source = tmp.filePath("large");
        QString output;
        QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"),
                     { "-o", source, "--width", "256", "--height", "64", "-n", "360" }, &output),
            qPrintable(output));
        args = QStringList { "--cor", "128", "--threads", "1" };
        slices = 64;
    } else {
        // A folder in the place of one result file.
        QVERIFY(QDir().mkpath(outDir + "/data-00003.dat"));
    }
    QProcess p;
    p.start(tool("/tools/recon/vexa2-recon"), QStringList { source, "-o", outDir } + args);
    QVERIFY(p.waitForStarted());
    QByteArray out;
    if (stop) {
        while (!out.contains("Run: ") && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        ::kill(pid_t(p.processId()), SIGTERM);
    }
    QVERIFY(p.waitForFinished(120000));
    out += p.readAllStandardOutput() + p.readAllStandardError();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == status, out.constData());

    // The files that were written are complete: the slices in progress were finished.
    const QStringList written = QDir(outDir).entryList({ "*.dat" }, QDir::Files);
    QVERIFY2(written.size() < slices, out.constData());
    for (const QString &f : written) {
        const QString path = QDir(outDir).filePath(f);
        if (!QFileInfo(path).isFile())
            continue;
        double maxValue = 0;
        // As wide as the even part of the sampling window around the centre.
        const int half = stop ? 127 : 30;
        const int n = (2 * half - 1) / 2 * 2;
        QVERIFY2(readDataFile(path, n * n, &maxValue), qPrintable(f));
    }
    if (!stop) {
        QCOMPARE(written.size(), slices - 1); // all but the one with a folder in its way
        QVERIFY2(out.contains("Run end: 8 of 8 slices done, 7 files written, 1 failure,"),
            out.constData());
    }
}

QTEST_GUILESS_MAIN(TestRecon)
#include "tst_Recon.moc"
