// The spectral stack from a series result tree: drifting series made here with known shifts,
// the shifts measured back, the file read back with the HDF5 library, refusal of bad files.
#include "CtImageData.h"
#include "CtTiffData.h"
#include "SeriesTree.h"
#include "SliceFiles.h"
#include "StackBuilder.h"

#include <QtTest>

#include <hdf5.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

using Vec3 = std::array<double, 3>; // slices, rows, columns

// A sample of Gaussian grains. Grain b has an edge: its amplitude rises by `jump` from the
// energy index `edgeAt` on, so the contrast changes across the series as in CT-XAFS.
struct Grain
{
    Vec3 centre;
    double sigma;
    double amplitude;
    double jump;
};

const std::vector<Grain> grains {
    { { 18, 20, 22 }, 3.0, 1.0, 0.0 },
    { { 12, 30, 14 }, 2.0, 0.6, 0.8 },
    { { 24, 14, 30 }, 2.5, 0.8, 0.3 },
    { { 20, 28, 32 }, 1.6, 0.5, 1.2 },
    { { 10, 16, 18 }, 2.2, 0.7, 0.0 },
    { { 26, 26, 16 }, 1.8, 0.9, 0.5 },
};
constexpr int kSlices = 36, kRows = 44, kCols = 46;

double sampleValue(const Vec3 &p, const Vec3 &drift, int energy, int edgeAt)
{
    double v = 0;
    for (const Grain &g : grains) {
        double r2 = 0;
        for (int i = 0; i < 3; ++i) {
            const double d = p[size_t(i)] - g.centre[size_t(i)] - drift[size_t(i)];
            r2 += d * d;
        }
        v += g.amplitude * (1 + (energy >= edgeAt ? g.jump : 0.0))
            * std::exp(-r2 / (2 * g.sigma * g.sigma));
    }
    return v;
}

std::vector<double> sliceOf(int s, const Vec3 &drift, int energy, int edgeAt)
{
    std::vector<double> v(size_t(kRows) * kCols);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kCols; ++x)
            v[size_t(y) * kCols + x]
                = sampleValue({ double(s), double(y), double(x) }, drift, energy, edgeAt);
    return v;
}

QString energyFolder(double ev)
{
    // The generator's naming: zero-padded, "_" for the decimal point.
    return QString("%1_%2eV")
        .arg(int(ev), 5, 10, QChar('0'))
        .arg(int(std::round((ev - std::floor(ev)) * 10)));
}

// Writes a series result tree below `root`: energy k drifted by drifts[k], as float TIFF
// slices (CoR 20 + k / 10 in their description) or as CT image data files with offset 10.
void writeSeries(const QString &root, const std::vector<double> &energies,
    const std::vector<Vec3> &drifts, bool tiff, int firstSlice = 100)
{
    const int edgeAt = int(energies.size()) / 2;
    for (size_t k = 0; k < energies.size(); ++k) {
        const QString folder = root + "/" + energyFolder(energies[k]);
        QVERIFY(QDir().mkpath(folder));
        for (int s = 0; s < kSlices; ++s) {
            const auto v = sliceOf(s, drifts[k], int(k), edgeAt);
            const QString no = QString("%1").arg(firstSlice + s, 5, 10, QChar('0'));
            QByteArray bytes;
            if (tiff) {
                std::vector<float> f(v.cbegin(), v.cend());
                CtTiffData::Info info;
                info.slice = firstSlice + s;
                info.cor = 20 + k / 10.0;
                info.x1 = kCols;
                info.z1 = kRows;
                info.method = "gridding";
                info.filter = "ramp_padded";
                bytes = CtTiffData::encode(
                    f.data(), kCols, kRows, CtTiffData::description(info), false);
            } else {
                bytes = makeCtImageData(v.data(), kRows, kCols, 0, 0, kCols, kRows, -10, 10, 10);
            }
            QFile f(folder + "/" + energyFolder(energies[k]) + "-" + no + (tiff ? ".tif" : ".dat"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
        }
    }
}

// HDF5 read-back helpers.
QString stringAttr(hid_t obj, const char *name)
{
    const hid_t a = H5Aopen(obj, name, H5P_DEFAULT);
    if (a < 0)
        return QString();
    const hid_t t = H5Aget_type(a);
    std::vector<char> buf(H5Tget_size(t) + 1, '\0');
    H5Aread(a, t, buf.data());
    H5Tclose(t);
    H5Aclose(a);
    return QString::fromUtf8(buf.data());
}

std::vector<double> readDoubles(hid_t file, const char *path, std::vector<hsize_t> *dims = nullptr)
{
    const hid_t d = H5Dopen2(file, path, H5P_DEFAULT);
    if (d < 0)
        return {};
    const hid_t s = H5Dget_space(d);
    const int rank = H5Sget_simple_extent_ndims(s);
    std::vector<hsize_t> dd(size_t(std::max(rank, 0)));
    H5Sget_simple_extent_dims(s, dd.data(), nullptr);
    const hssize_t n = H5Sget_simple_extent_npoints(s);
    std::vector<double> v(static_cast<size_t>(n));
    H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Sclose(s);
    H5Dclose(d);
    if (dims)
        *dims = dd;
    return v;
}

// The spectrum of voxel (s, y, x): a hyperslab of one column of mu.
std::vector<float> spectrum(hid_t file, int energies, int s, int y, int x)
{
    const hid_t d = H5Dopen2(file, "/entry/spectra/mu", H5P_DEFAULT);
    const hid_t fs = H5Dget_space(d);
    const hsize_t start[4] = { 0, hsize_t(s), hsize_t(y), hsize_t(x) };
    const hsize_t count[4] = { hsize_t(energies), 1, 1, 1 };
    H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr);
    const hsize_t n = hsize_t(energies);
    const hid_t ms = H5Screate_simple(1, &n, nullptr);
    std::vector<float> v(static_cast<size_t>(energies));
    H5Dread(d, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, v.data());
    H5Sclose(ms);
    H5Sclose(fs);
    H5Dclose(d);
    return v;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString tool()
{
    return qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/tools/spectra/vexa2-spectra";
}

int runTool(const QStringList &args, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool(), args);
    if (!p.waitForFinished(60000))
        return -1;
    *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class tst_StackBuilder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); }

    void energyOfName_data();
    void energyOfName();
    void measuredShifts_data();
    void measuredShifts();
    void fileLayout();
    void memoryBudget();
    void refusesBadSliceFile_data();
    void refusesBadSliceFile();
    void toolExitStatus();
};

void tst_StackBuilder::energyOfName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("ev");
    QTest::newRow("generator eV") << "08980_0eV" << 8980.0;
    QTest::newRow("generator keV") << "08_980keV" << 8980.0;
    QTest::newRow("decimal point") << "Cu-7112.5" << 7112.5;
    QTest::newRow("last number") << "scan3-7120eV" << 7120.0;
    QTest::newRow("no number") << "ref" << std::nan("");
}

void tst_StackBuilder::energyOfName()
{
    QFETCH(QString, name);
    QFETCH(double, ev);
    const double got = SliceFiles::energyOfName(name);
    if (std::isnan(ev))
        QVERIFY(std::isnan(got));
    else
        QCOMPARE(got, ev);
}

void tst_StackBuilder::measuredShifts_data()
{
    QTest::addColumn<std::vector<Vec3>>("drifts");
    QTest::addColumn<double>("refEv"); // NaN: the first energy
    QTest::addColumn<int>("subVolume");

    // Sample drift of up to 3.6 px between energies, in all three directions.
    const std::vector<Vec3> wobble { { 0, 0, 0 }, { 0.3, -1.7, 2.4 }, { -0.6, 1.25, 3.6 },
        { 0.9, -2.2, -1.35 }, { 0.15, 0.4, 0.75 } };
    QTest::newRow("drift, first energy reference") << wobble << std::nan("") << 128;
    QTest::newRow("drift, middle reference") << wobble << 7110.0 << 128;
    QTest::newRow("drift, smaller central sub-volume") << wobble << std::nan("") << 28;
    // Whole-pixel drift must come out whole.
    QTest::newRow("whole pixels") << std::vector<Vec3> { { 0, 0, 0 }, { 1, -2, 3 }, { -1, 0, 2 } }
                                  << std::nan("") << 128;
}

void tst_StackBuilder::measuredShifts()
{
    QFETCH(std::vector<Vec3>, drifts);
    QFETCH(double, refEv);
    QFETCH(int, subVolume);
    QTemporaryDir dir;
    std::vector<double> energies;
    for (size_t k = 0; k < drifts.size(); ++k)
        energies.push_back(7100 + 5.0 * k);
    writeSeries(dir.path() + "/series", energies, drifts, true);
    if (QTest::currentTestFailed())
        return;

    SeriesTree tree;
    QString error;
    QVERIFY2(tree.scan(dir.path() + "/series", 10, &error), qPrintable(error));
    StackBuilder::Options options;
    options.output = dir.path() + "/stack.h5";
    options.align = true;
    options.alignRefEv = refEv;
    options.subVolume = subVolume;
    options.tablePath = dir.path() + "/shifts.txt";
    StackBuilder::Result result;
    QVERIFY2(StackBuilder().build(tree, options, result, &error), qPrintable(error));
    const int ref = std::isnan(refEv) ? 0 : int(std::lround((refEv - 7100) / 5));
    QCOMPARE(result.refIndex, ref);
    QVERIFY(result.suspect.isEmpty());
    for (size_t k = 0; k < drifts.size(); ++k) {
        for (size_t i = 0; i < 3; ++i) {
            // Energy k sees the sample moved by drift[k]: it must move back by the difference.
            const double expected = drifts[size_t(ref)][i] - drifts[k][i];
            QVERIFY2(std::abs(result.shifts[k][i] - expected) <= 0.1,
                qPrintable(QString("energy %1 axis %2: %3 instead of %4")
                               .arg(k)
                               .arg(i)
                               .arg(result.shifts[k][i])
                               .arg(expected)));
        }
    }

    // The aligned spectra: at each grain's centre (where the reference sees it), every energy
    // reads the grain's own value for that energy.
    const hid_t f
        = H5Fopen(QFile::encodeName(options.output).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    QVERIFY(f >= 0);
    const int edgeAt = int(drifts.size()) / 2;
    double worst = 0;
    for (const Grain &g : grains) {
        const Vec3 at { g.centre[0] + drifts[size_t(ref)][0], g.centre[1] + drifts[size_t(ref)][1],
            g.centre[2] + drifts[size_t(ref)][2] };
        const int s = int(std::lround(at[0])), y = int(std::lround(at[1])),
                  x = int(std::lround(at[2]));
        const auto mu = spectrum(f, int(drifts.size()), s, y, x);
        for (size_t k = 0; k < drifts.size(); ++k) {
            const double expected = sampleValue(
                { double(s), double(y), double(x) }, drifts[size_t(ref)], int(k), edgeAt);
            worst = std::max(worst, std::abs(mu[k] - expected) / expected);
        }
    }
    H5Fclose(f);
    QVERIFY2(worst < 0.03, qPrintable(QString("aligned spectra off by %1 %").arg(worst * 100)));

    // The table names every energy with its shift.
    const QStringList lines
        = QString::fromUtf8(fileBytes(options.tablePath)).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), int(drifts.size()) + 2);
    QVERIFY(lines.at(2 + ref).endsWith("reference"));
}

void tst_StackBuilder::fileLayout()
{
    // Data files, written out of energy order and with an offset of 10 that must come off.
    QTemporaryDir dir;
    const std::vector<double> energies { 7120.5, 7100, 7110 };
    const std::vector<Vec3> still(3, Vec3 { 0, 0, 0 });
    writeSeries(dir.path() + "/series", energies, still, false, 7);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(QDir().mkpath(dir.path() + "/series/ref")); // no number, no slices: not an energy
    SeriesTree tree;
    QString error;
    QVERIFY2(tree.scan(dir.path() + "/series", 10, &error), qPrintable(error));
    QCOMPARE(tree.format, SeriesTree::Format::CtData);
    StackBuilder::Options options;
    options.output = dir.path() + "/out/stack.h5";
    StackBuilder::Result result;
    QVERIFY2(StackBuilder().build(tree, options, result, &error), qPrintable(error));
    QCOMPARE(QDir(dir.path() + "/out").entryList(QDir::Files), QStringList { "stack.h5" });

    const hid_t f
        = H5Fopen(QFile::encodeName(options.output).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    QVERIFY(f >= 0);
    const hid_t entry = H5Gopen2(f, "/entry", H5P_DEFAULT);
    QCOMPARE(stringAttr(entry, "NX_class"), QString("NXentry"));
    const hid_t data = H5Gopen2(f, "/entry/spectra", H5P_DEFAULT);
    QCOMPARE(stringAttr(data, "NX_class"), QString("NXdata"));
    QCOMPARE(stringAttr(data, "signal"), QString("mu"));
    QVERIFY(stringAttr(data, "value_scale").contains("offset 10"));
    {
        const hid_t a = H5Aopen(data, "axes", H5P_DEFAULT);
        const hid_t t = H5Aget_type(a);
        const size_t w = H5Tget_size(t);
        std::vector<char> buf(w * 4, '\0');
        H5Aread(a, t, buf.data());
        QStringList axes;
        for (int i = 0; i < 4; ++i)
            axes << QString::fromUtf8(buf.data() + i * w, int(qstrnlen(buf.data() + i * w, w)));
        QCOMPARE(axes, (QStringList { "energy", ".", ".", "." }));
        H5Tclose(t);
        H5Aclose(a);
    }

    const hid_t mu = H5Dopen2(f, "/entry/spectra/mu", H5P_DEFAULT);
    QVERIFY(mu >= 0);
    const hid_t type = H5Dget_type(mu);
    QVERIFY(H5Tequal(type, H5T_IEEE_F32LE) > 0);
    H5Tclose(type);
    const hid_t space = H5Dget_space(mu);
    hsize_t dims[4];
    QCOMPARE(H5Sget_simple_extent_ndims(space), 4);
    H5Sget_simple_extent_dims(space, dims, nullptr);
    QCOMPARE(dims[0], hsize_t(3));
    QCOMPARE(dims[1], hsize_t(kSlices));
    QCOMPARE(dims[2], hsize_t(kRows));
    QCOMPARE(dims[3], hsize_t(kCols));
    H5Sclose(space);
    const hid_t dcpl = H5Dget_create_plist(mu);
    QCOMPARE(H5Pget_layout(dcpl), H5D_CHUNKED);
    hsize_t chunk[4];
    QCOMPARE(H5Pget_chunk(dcpl, 4, chunk), 4);
    // A voxel's spectrum in one chunk, a slice of one energy in a few: 44 rows and 46 columns
    // in two equal parts each.
    QCOMPARE(chunk[0], hsize_t(3));
    QCOMPARE(chunk[1], hsize_t(1));
    QCOMPARE(chunk[2], hsize_t(22));
    QCOMPARE(chunk[3], hsize_t(23));
    H5Pclose(dcpl);
    H5Dclose(mu);

    std::vector<hsize_t> d;
    QCOMPARE(
        readDoubles(f, "/entry/spectra/energy", &d), (std::vector<double> { 7100, 7110, 7120.5 }));
    const hid_t energy = H5Dopen2(f, "/entry/spectra/energy", H5P_DEFAULT);
    QCOMPARE(stringAttr(energy, "units"), QString("eV"));
    H5Dclose(energy);
    readDoubles(f, "/entry/spectra/shift", &d);
    QCOMPARE(d, (std::vector<hsize_t> { 3, 3 }));
    const auto slices = readDoubles(f, "/entry/spectra/slice_numbers", &d);
    QCOMPARE(slices.size(), size_t(kSlices));
    QCOMPARE(slices.front(), 7.0);
    QCOMPARE(slices.back(), 7.0 + kSlices - 1);
    QCOMPARE(readDoubles(f, "/entry/spectra/cor", &d).size(), size_t(3));

    // The spectrum of a voxel is the value the slice files hold, less the offset, in energy
    // order (the edge at the middle energy); the files hold 6 significant digits of v + 10.
    const int s = 18, y = 20, x = 22;
    const auto mus = spectrum(f, 3, s, y, x);
    const int writtenAs[3] = { 1, 2, 0 }; // index of each sorted energy in the order written
    for (int k = 0; k < 3; ++k) {
        const double expected
            = sampleValue({ double(s), double(y), double(x) }, { 0, 0, 0 }, writtenAs[k], 1);
        QVERIFY2(std::abs(mus[size_t(k)] - expected) < 6e-5,
            qPrintable(
                QString("energy %1: %2 instead of %3").arg(k).arg(mus[size_t(k)]).arg(expected)));
    }
    H5Gclose(data);
    H5Gclose(entry);
    H5Fclose(f);
}

void tst_StackBuilder::memoryBudget()
{
    // A stack written one energy at a time (partial chunks) within a tight budget is the same
    // file, byte for byte, as one written a chunk's energies at a time.
    QTemporaryDir dir;
    const std::vector<Vec3> drifts { { 0, 0, 0 }, { 0.5, 1.5, -1 }, { 1, -0.5, 0.25 } };
    writeSeries(dir.path() + "/series", { 7100, 7105, 7110 }, drifts, true);
    if (QTest::currentTestFailed())
        return;
    SeriesTree tree;
    QString error;
    QVERIFY2(tree.scan(dir.path() + "/series", 10, &error), qPrintable(error));
    StackBuilder::Options options;
    options.output = dir.path() + "/wide.h5";
    StackBuilder::Result wide, tight;
    QVERIFY2(StackBuilder().build(tree, options, wide, &error), qPrintable(error));
    QCOMPARE(wide.energiesAtOnce, 3);
    options.output = dir.path() + "/tight.h5";
    options.memoryBytes = 30 * 1024;
    QVERIFY2(StackBuilder().build(tree, options, tight, &error), qPrintable(error));
    QCOMPARE(tight.energiesAtOnce, 1);
    const QByteArray a = fileBytes(dir.path() + "/wide.h5");
    QVERIFY(!a.isEmpty());
    QCOMPARE(fileBytes(dir.path() + "/tight.h5"), a);

    // Aligned within a tight budget: one energy at a time and a smaller sub-volume.
    options.align = true;
    options.memoryBytes = 100 * 1024;
    options.output = dir.path() + "/aligned.h5";
    QVERIFY2(StackBuilder().build(tree, options, tight, &error), qPrintable(error));
    QCOMPARE(tight.energiesAtOnce, 1);
    QVERIFY(tight.subVolume[1] < kRows);

    // Below one slice's needs the stack is refused, and nothing is left behind.
    options.memoryBytes = 1024;
    options.output = dir.path() + "/none.h5";
    QVERIFY(!StackBuilder().build(tree, options, tight, &error));
    QVERIFY2(error.contains("memory limit"), qPrintable(error));
    QCOMPARE(QDir(dir.path()).entryList({ "none*" }, QDir::Files), QStringList());
}

void tst_StackBuilder::refusesBadSliceFile_data()
{
    QTest::addColumn<bool>("tiff");
    QTest::addColumn<QString>("damage"); // "missing" or "cut"
    QTest::addColumn<bool>("align");
    QTest::newRow("TIFF missing") << true << "missing" << false;
    QTest::newRow("TIFF cut") << true << "cut" << false;
    QTest::newRow("TIFF cut, aligned") << true << "cut" << true;
    QTest::newRow("data file cut") << false << "cut" << false;
}

void tst_StackBuilder::refusesBadSliceFile()
{
    QFETCH(bool, tiff);
    QFETCH(QString, damage);
    QFETCH(bool, align);
    QTemporaryDir dir;
    const std::vector<Vec3> still(3, Vec3 { 0, 0, 0 });
    writeSeries(dir.path() + "/series", { 7100, 7105, 7110 }, still, tiff);
    if (QTest::currentTestFailed())
        return;
    const QString victim
        = QString("%1/series/07105_0eV/07105_0eV-00120.%2").arg(dir.path(), tiff ? "tif" : "dat");
    QFile f(victim);
    QVERIFY(f.exists());
    if (damage == "missing")
        QVERIFY(f.remove());
    else
        QVERIFY(f.resize(f.size() * 2 / 3));

    SeriesTree tree;
    StackBuilder::Options options;
    options.align = align;
    options.output = dir.path() + "/stack.h5";
    StackBuilder::Result result;
    QString error;
    const bool ok = tree.scan(dir.path() + "/series", 10, &error)
        && StackBuilder().build(tree, options, result, &error);
    QVERIFY(!ok);
    QVERIFY2(error.contains(victim), qPrintable(error));
    // No stack and no temporary file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

void tst_StackBuilder::toolExitStatus()
{
    QTemporaryDir dir;
    const std::vector<Vec3> drifts { { 0, 0, 0 }, { 0.4, -1.2, 2.0 } };
    writeSeries(dir.path() + "/series", { 7100, 7105 }, drifts, true);
    if (QTest::currentTestFailed())
        return;
    QString output;
    QCOMPARE(runTool({ "stack", dir.path() + "/series" }, &output), 2); // no -o
    QCOMPARE(runTool({ "stacks", dir.path() + "/series", "-o", "x.h5" }, &output), 2);
    QCOMPARE(
        runTool({ "stack", dir.path() + "/series", "-o", dir.path() + "/a.h5", "--memory", "lots" },
            &output),
        2);

    QCOMPARE(runTool({ "stack", dir.path() + "/series", "-o", dir.path() + "/a.h5", "--align" },
                 &output),
        0);
    QVERIFY2(QFileInfo::exists(dir.path() + "/a-shifts.txt"), qPrintable(output));
    // A maximum below the real drift: the stack is written, the run reports a likely failure.
    QCOMPARE(runTool({ "stack", dir.path() + "/series", "-o", dir.path() + "/b.h5", "--align",
                         "--max-shift", "1.5" },
                 &output),
        1);
    QVERIFY2(output.contains("likely failed"), qPrintable(output));
    QVERIFY(QFileInfo::exists(dir.path() + "/b.h5"));

    const QString victim = dir.path() + "/series/07105_0eV/07105_0eV-00110.tif";
    QFile f(victim);
    QVERIFY(f.resize(100));
    QCOMPARE(runTool({ "stack", dir.path() + "/series", "-o", dir.path() + "/c.h5" }, &output), 1);
    QVERIFY2(output.contains(victim), qPrintable(output));
    QVERIFY(!QFileInfo::exists(dir.path() + "/c.h5"));
}

QTEST_GUILESS_MAIN(tst_StackBuilder)
#include "tst_StackBuilder.moc"
