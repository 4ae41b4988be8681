// Runs vexa2-phantom and vexa2-recon as a user would: sample data in, complete result files out.
#include "CtTiffData.h"

#include <QtTest>

#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <random>
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
    for (const QString &kv : env)
        e.insert(kv.section('=', 0, 0), kv.section('=', 1));
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

// Puts the projections of a DXchange file in another order, with their angles: projection j
// becomes the one that was at order[j]. The same data set, whose angles are then no longer in
// order.
bool permuteProjections(const QString &path, const QList<int> &order)
{
    const hid_t file = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDWR, H5P_DEFAULT);
    if (file < 0)
        return false;
    bool ok = true;
    for (const char *name : { "/exchange/data", "/exchange/theta" }) {
        const hid_t set = H5Dopen2(file, name, H5P_DEFAULT);
        const hid_t space = H5Dget_space(set);
        hsize_t dims[3] = { 1, 1, 1 };
        H5Sget_simple_extent_dims(space, dims, nullptr);
        const size_t image = size_t(dims[1]) * dims[2];
        std::vector<double> all(size_t(dims[0]) * image), permuted(all.size());
        ok = ok && set >= 0 && hsize_t(order.size()) == dims[0]
            && H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, all.data()) >= 0;
        if (ok) {
            for (qsizetype j = 0; j < order.size(); ++j)
                std::copy_n(all.begin() + ptrdiff_t(order[j] * image), image,
                    permuted.begin() + ptrdiff_t(j * image));
            ok = H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, permuted.data())
                >= 0;
        }
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
    void hdf5EqualsItex();
    void everyFilterEveryWidth_data();
    void everyFilterEveryWidth();
    void rangeFromTheData_data();
    void rangeFromTheData();
    void hdf5OwnAngles_data();
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
    QTest::newRow("all slices, guessed centre, three workers") << QStringList { "--threads", "3",
        "--png" } << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7 } << true;
    QTest::newRow("descending range, given centre") << QStringList { "--cor", "32.7", "--from", "7",
        "--to", "0", "--step", "3", "--name", "scan", "--tag", "7112eV", "--tiff" }
                                                    << QList<int> { 7, 4, 1 } << false;
}

void TestRecon::reconstructsARange()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, slices);
    QFETCH(bool, pictures);
    const QString outDir
        = tmp.filePath(QString("out-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
    QString output;
    QVERIFY2(
        run(tool("/tools/recon/vexa2-recon"), QStringList { data, "-o", outDir } + args, &output),
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
    QTest::newRow("a projection cut short") << QStringList { "CUT" };
    QTest::newRow("share beyond the count") << QStringList { "SERIES", "--task", "3/3" };
    QTest::newRow("share without a count") << QStringList { "SERIES", "--task", "1" };
    QTest::newRow("a tag for a series") << QStringList { "SERIES", "--tag", "x" };
    QTest::newRow("a series without images")
        << QStringList { "SERIES", "--series", "--pattern", "*.none" };
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
    const QString outDir = tmp.filePath("refused");
    QProcess p;
    p.start(tool("/tools/recon/vexa2-recon"), args + QStringList { "-o", outDir });
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    const QByteArray err = p.readAllStandardError();
    QVERIFY(err.contains("vexa2-recon: "));
    if (QByteArray(QTest::currentDataTag()) == "a projection cut short")
        QVERIFY2(err.contains("The image set is incomplete: 1 of 90 files could not be read (")
                && err.contains(": pixel block shorter than the image size); no run started"),
            err.constData());
    QVERIFY(QDir(outDir).entryList(QDir::Files).isEmpty());
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

void TestRecon::everyFilterEveryWidth_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("cor");
    // At 64.5 on 128 pixels the slice is 122 wide, whose padded length (at least 244, with no
    // prime factor above 7) was once odd and could not be transformed.
    for (const QString filter :
        { "ramp", "ramp_padded", "shepp_logan", "cosine", "hamming", "hann" })
        for (const QString method : { "fbp", "gridding" })
            for (const QString cor : { "64.5", "61.2" })
                QTest::addRow("%s %s %s", qPrintable(filter), qPrintable(method), qPrintable(cor))
                    << filter << method << cor;
}

void TestRecon::everyFilterEveryWidth()
{
    QFETCH(QString, filter);
    QFETCH(QString, method);
    QFETCH(QString, cor);
    const QString source = tmp.filePath("wide");
    QString output;
    if (!QFileInfo::exists(source))
        QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"),
                     { "-o", source, "--width", "128", "--height", "4", "-n", "90" }, &output),
            qPrintable(output));
    const QString out
        = tmp.filePath(QString("wide-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
    QVERIFY2(
        run(tool("/tools/recon/vexa2-recon"),
            { source, "-o", out, "--cor", cor, "--filter", filter, "--method", method }, &output),
        qPrintable(output));
    QVERIFY2(output.contains("Run end: 4 of 4 slices reconstructed, 0 slices failed, 4 files"),
        qPrintable(output));
    QCOMPARE(QDir(out).entryList({ "*.dat" }, QDir::Files).size(), 4);
}

void TestRecon::rangeFromTheData_data()
{
    QTest::addColumn<QString>("range"); // of the generated set
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said"); // on the console; empty: nothing decided
    QTest::addColumn<QString>("same"); // the slice equals the one made with this --range
    QTest::newRow("180 degrees") << "180" << QStringList {} << "Range 180 degrees, decided"
                                 << "180";
    QTest::newRow("360 degrees") << "360" << QStringList {} << "Range 360 degrees, decided"
                                 << "360";
    QTest::newRow("360 degrees, guessed centre")
        << "360" << QStringList { "--cor", "" } << "Range 360 degrees, decided"
        << "360";
    QTest::newRow("--range overrules")
        << "360" << QStringList { "--range", "180" } << QString() << "180";
}

void TestRecon::rangeFromTheData()
{
    QFETCH(QString, range);
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    QFETCH(QString, same);
    // Camera files carry no angles: without --range the tool tells 180 from 360 degrees by the
    // data and says so; a 360-degree set taken as 180 would be reconstructed wrongly.
    const QString source = tmp.filePath("range-" + range);
    QString output;
    if (!QFileInfo::exists(source))
        QVERIFY2(run(tool("/tools/phantom/vexa2-phantom"),
                     { "-o", source, "--width", "64", "--height", "4", "-n", "120", "--range",
                         range, "--axis-offset", "0.7" },
                     &output),
            qPrintable(output));
    QStringList common { "--from", "2", "--to", "2", "--tiff", "--no-data", "--tag", "r" };
    if (args.size() == 2 && args.at(1).isEmpty())
        args.clear(); // the centre guessed
    else if (!args.contains("--cor"))
        common << "--cor"
               << "32.7";
    QByteArray slices[2];
    for (int k = 0; k < 2; ++k) {
        const QString out = tmp.filePath(
            QString("range-out-%1-%2").arg(QTest::currentDataTag()).arg(k).replace(' ', '_'));
        const QStringList extra = k == 0 ? args : QStringList { "--range", same };
        QVERIFY2(run(tool("/tools/recon/vexa2-recon"),
                     QStringList { source, "-o", out } + common + extra, &output),
            qPrintable(output));
        if (k == 0) {
            if (said.isEmpty())
                QVERIFY2(!output.contains("decided from the data"), qPrintable(output));
            else
                QVERIFY2(output.contains(said), qPrintable(output));
        }
        QFile f(out + "/r-00002.tif");
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(output));
        slices[k] = f.readAll();
    }
    QVERIFY(!slices[0].isEmpty());
    QVERIFY(slices[0] == slices[1]);
}

void TestRecon::hdf5OwnAngles_data()
{
    QTest::addColumn<QList<int>>("order"); // of the 90 projections of data.h5, 0 ... 178 degrees
    QTest::addColumn<bool>("own"); // reconstructed at their own angles (not one common step)
    QList<int> swapped, golden, shuffled, descending;
    for (int i = 0; i < 90; ++i) {
        swapped << i;
        descending << 89 - i;
    }
    std::swap(swapped[10], swapped[41]);
    // Golden-angle order: the angles taken by the fractional parts of i times the golden
    // ratio, as an acquisition that fills the range ever more finely.
    std::vector<std::pair<double, int>> turns;
    for (int i = 0; i < 90; ++i)
        turns.push_back({ std::fmod(i * 0.6180339887498949, 1.0), i });
    QList<int> rank(90);
    std::sort(turns.begin(), turns.end());
    for (int k = 0; k < 90; ++k)
        rank[turns[size_t(k)].second] = k;
    golden = rank;
    shuffled = swapped;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(19));
    QTest::newRow("two swapped") << swapped << true;
    QTest::newRow("golden-angle order") << golden << true;
    QTest::newRow("shuffled") << shuffled << true;
    QTest::newRow("descending") << descending << false;
}

void TestRecon::hdf5OwnAngles()
{
    QFETCH(QList<int>, order);
    QFETCH(bool, own);
    // The set in another order, each projection with its angle: each method turns each
    // projection by its own angle (or, descending, by the negative step) and gives the slices
    // of the file in order, to rounding; the log names the span the angles cover.
    const QString swapped
        = tmp.filePath(QString("%1.h5").arg(QTest::currentDataTag()).replace(' ', '_'));
    QFile::remove(swapped);
    QVERIFY(QFile::copy(tmp.filePath("data.h5"), swapped));
    QVERIFY(permuteProjections(swapped, order));
    for (const QString method : { "fbp", "gridding" }) {
        QString output;
        std::vector<float> slices[2];
        for (int k = 0; k < 2; ++k) {
            const QString out = tmp.filePath(QString("own-%1-%2-%3")
                                                 .arg(QTest::currentDataTag(), method)
                                                 .arg(k)
                                                 .replace(' ', '_'));
            QVERIFY2(run(tool("/tools/recon/vexa2-recon"),
                         { k == 0 ? tmp.filePath("data.h5") : swapped, "-o", out, "--tag", "s",
                             "--cor", "32.7", "--from", "4", "--to", "4", "--tiff", "--no-data",
                             "--method", method },
                         &output),
                qPrintable(output));
            QCOMPARE(output.contains("reconstructed at its own angle"), k == 1 && own);
            if (k == 1 && own)
                QVERIFY2(output.contains("(0 ... 178 degrees)"), qPrintable(output));
            int w = 0, h = 0;
            QString why;
            QVERIFY2(
                CtTiffData::read(out + "/s-00004.tif", slices[k], w, h, &why), qPrintable(why));
            QVERIFY(w > 50 && h > 50);
        }
        QCOMPARE(slices[1].size(), slices[0].size());
        const auto [lo, hi] = std::minmax_element(slices[0].begin(), slices[0].end());
        double worst = 0;
        for (size_t i = 0; i < slices[0].size(); ++i)
            worst = std::max(worst, double(std::abs(slices[1][i] - slices[0][i])));
        // The gridding computes in single precision. Over a descending common step it comes
        // within 5e-4 of the range of the ascending slice, not closer: left to be explained.
        const double tolerance = method == "fbp" ? 1e-6 : (own ? 1e-5 : 1e-3);
        QVERIFY2(worst <= tolerance * (*hi - *lo),
            qPrintable(QString("%1: %2 of %3").arg(method).arg(worst).arg(*hi - *lo)));
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
    QVERIFY2(output.contains("Run end: 9 of 9 slices reconstructed"), qPrintable(output));
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
        QVERIFY2(out.contains("Run end: 8 of 8 slices reconstructed, 0 slices failed, 7 files "
                              "written, 1 failure,"),
            out.constData());
    }
}

QTEST_GUILESS_MAIN(TestRecon)
#include "tst_Recon.moc"
