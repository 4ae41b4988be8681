// Runs `vexa2-spectra maps` as a user would: a stack file written here with the HDF5 library,
// reference files, and the maps read back against the values of the model.
#include "CtTiffData.h"
#include "xafs/ModelStack.h"

#include <QtTest>

#include <hdf5.h>

#include <cmath>
#include <random>

using namespace xafsmodel;
using namespace modelstack;

namespace {

QString tool()
{
    return qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/tools/spectra/vexa2-spectra";
}

int run(const QStringList &args, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool(), args);
    if (!p.waitForFinished(120000))
        return -1;
    *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::vector<float> readFloats(const QString &file, const char *name)
{
    std::vector<float> v;
    const hid_t f = H5Fopen(file.toLocal8Bit().constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        return v;
    const hid_t d = H5Dopen2(f, name, H5P_DEFAULT);
    if (d >= 0) {
        const hid_t s = H5Dget_space(d);
        v.resize(std::size_t(H5Sget_simple_extent_npoints(s)));
        H5Dread(d, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
        H5Sclose(s);
        H5Dclose(d);
    }
    H5Fclose(f);
    return v;
}

std::vector<double> readAttr(const QString &file, const char *name)
{
    std::vector<double> v;
    const hid_t f = H5Fopen(file.toLocal8Bit().constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        return v;
    if (H5Aexists_by_name(f, "/entry", name, H5P_DEFAULT) > 0) {
        const hid_t a = H5Aopen_by_name(f, "/entry", name, H5P_DEFAULT, H5P_DEFAULT);
        const hid_t s = H5Aget_space(a);
        v.resize(std::size_t(H5Sget_simple_extent_npoints(s)));
        H5Aread(a, H5T_NATIVE_DOUBLE, v.data());
        H5Sclose(s);
        H5Aclose(a);
    }
    H5Fclose(f);
    return v;
}

std::size_t at(int s, int r, int c)
{
    return (std::size_t(s) * kRows + r) * kCols + c;
}

} // namespace

class tst_SpectraMaps : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void mapsOfAModelStack();
    void pcaDenoisesTheEdgePosition();
    void failures_data();
    void failures();

private:
    QTemporaryDir dir_;
    QString stack_, refA_, refB_;
};

void tst_SpectraMaps::initTestCase()
{
    QVERIFY(QFileInfo(tool()).isExecutable());
    stack_ = dir_.filePath("stack.h5");
    refA_ = dir_.filePath("FeA.txt");
    refB_ = dir_.filePath("FeB.txt");
    QVERIFY(writeStack(stack_, 0));
    QVERIFY(writeReference(refA_, kA));
    QVERIFY(writeReference(refB_, kB));
}

void tst_SpectraMaps::mapsOfAModelStack()
{
    const QString out = dir_.filePath("maps.h5");
    const QString tiff = dir_.filePath("tiff");
    QString log;
    QCOMPARE(
        run({ "maps", stack_, "-o", out, "--pre", "-100:-30", "--post", "30:120", "--refs", refA_,
                refB_, "--sum-to-one", "--normalised", "--tiff", tiff, "--threads", "2" },
            &log),
        0);
    QVERIFY2(log.contains("pre-edge -100:-30 eV"), qPrintable(log));
    QVERIFY(!QFile::exists(out + ".part"));

    const std::vector<float> step = readFloats(out, "/entry/edge_step/data");
    const std::vector<float> e0 = readFloats(out, "/entry/e0/data");
    const std::vector<float> half = readFloats(out, "/entry/e0_half/data");
    const std::vector<float> wl = readFloats(out, "/entry/white_line/data");
    const std::vector<float> fa = readFloats(out, "/entry/fraction_FeA/data");
    const std::vector<float> fb = readFloats(out, "/entry/fraction_FeB/data");
    const std::vector<float> rf = readFloats(out, "/entry/r_factor/data");
    const std::size_t n = std::size_t(kSlices * kRows * kCols);
    for (const auto *m : { &step, &e0, &half, &wl, &fa, &fb, &rf })
        QCOMPARE(m->size(), n);
    QCOMPARE(readAttr(out, "pre_edge_range"), (std::vector<double> { -100, -30 }));
    QCOMPARE(readAttr(out, "post_edge_range"), (std::vector<double> { 30, 120 }));

    const std::vector<double> energies = scanEnergies();
    for (int s = 0; s < kSlices; ++s)
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < 2; ++c) { // air and matrix: no edge
                QVERIFY(std::isnan(e0[at(s, r, c)]));
                QVERIFY(std::isnan(fa[at(s, r, c)]));
                QVERIFY(std::isnan(rf[at(s, r, c)]));
            }
            for (int c = 2; c < kCols; ++c) {
                const std::size_t i = at(s, r, c);
                const double f = fractionA(r, c);
                std::vector<double> mu;
                for (double e : energies)
                    mu.push_back(voxelMu(s, r, c, e));
                const QString where = QString("slice %1 row %2 column %3").arg(s).arg(r).arg(c);
                QVERIFY2(std::abs(fa[i] - f) <= 0.02,
                    qPrintable(where + QString(": A %1, expected %2").arg(fa[i]).arg(f)));
                QVERIFY2(std::abs(fb[i] - (1 - f)) <= 0.02,
                    qPrintable(where + QString(": B %1").arg(fb[i])));
                QVERIFY(rf[i] >= 0 && rf[i] < 1e-3);
                QVERIFY(std::isfinite(half[i]) && std::isfinite(wl[i]) && wl[i] > 1);
                if (c == 4 && r > 0 && r < 5)
                    continue; // a mixture's E0 depends on its make-up; its fractions are checked
                const double density = s == 0 ? 1.0 : 0.5;
                const double e0True = trueE0({ kA, kB }, { density * f, density * (1 - f) });
                const double stepTrue = fitAt(energies, mu, e0True, 30, 120, 2)
                    - fitAt(energies, mu, e0True, -100, -30, 1);
                QVERIFY2(std::abs(e0[i] - e0True) <= 0.05,
                    qPrintable(where + QString(": E0 %1, expected %2").arg(e0[i]).arg(e0True)));
                QVERIFY2(std::abs(step[i] / stepTrue - 1) <= 0.005,
                    qPrintable(
                        where + QString(": step %1, expected %2").arg(step[i]).arg(stepTrue)));
            }
        }

    // The normalised stack: species A's last energy against the reference file's value.
    const std::vector<float> norm = readFloats(out, "/entry/normalised/mu");
    QCOMPARE(norm.size(), energies.size() * n);
    QFile ref(refA_);
    QVERIFY(ref.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = ref.readAll().trimmed().split('\n');
    const double lastA = lines.last().split(' ').at(1).toDouble();
    QVERIFY(std::abs(norm[(energies.size() - 1) * n + at(0, 0, 2)] - lastA) < 0.005);

    // TIFF slices named by the stack's slice numbers, equal to the maps.
    std::vector<float> pixels;
    int w = 0, h = 0;
    QVERIFY(CtTiffData::read(tiff + "/fraction_FeA/fraction_FeA_00011.tif", pixels, w, h));
    QCOMPARE(w, kCols);
    QCOMPARE(h, kRows);
    QCOMPARE(pixels[3 * kCols + 4], fa[at(1, 3, 4)]);
    QVERIFY(QFile::exists(tiff + "/e0/e0_00010.tif"));
}

void tst_SpectraMaps::pcaDenoisesTheEdgePosition()
{
    const QString noisy = dir_.filePath("noisy.h5");
    QVERIFY(writeStack(noisy, 0.01));
    auto e0Error = [&](const QStringList &extra, QString *log) {
        const QString out = dir_.filePath("noisy-maps.h5");
        if (run(QStringList { "maps", noisy, "-o", out } + extra, log) != 0)
            return -1.0;
        const std::vector<float> e0 = readFloats(out, "/entry/e0/data");
        double ss = 0;
        int count = 0;
        for (int s = 0; s < kSlices; ++s)
            for (int r = 0; r < kRows; ++r)
                for (int c = 2; c < 4; ++c) {
                    const double t = trueE0({ c == 2 ? kA : kB }, { 1.0 });
                    const double d = std::isnan(e0[at(s, r, c)]) ? 10 : e0[at(s, r, c)] - t;
                    ss += d * d;
                    ++count;
                }
        return std::sqrt(ss / count);
    };
    QString log;
    const double plain = e0Error({}, &log);
    QVERIFY2(plain > 0, qPrintable(log));
    // Noise alone (air, and the matrix without an edge) is no edge.
    const std::vector<float> e0 = readFloats(dir_.filePath("noisy-maps.h5"), "/entry/e0/data");
    for (int s = 0; s < kSlices; ++s)
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < 2; ++c)
                QVERIFY2(std::isnan(e0[at(s, r, c)]),
                    qPrintable(
                        QString("E0 %1 at %2 %3 %4").arg(e0[at(s, r, c)]).arg(s).arg(r).arg(c)));
    const double denoised = e0Error({ "--pca", "3" }, &log);
    QVERIFY2(denoised > 0, qPrintable(log));
    QVERIFY2(log.contains("3 components explain"), qPrintable(log));
    const std::vector<double> explained
        = readAttr(dir_.filePath("noisy-maps.h5"), "pca_explained_variance");
    QCOMPARE(explained.size(), std::size_t(1));
    QVERIFY(explained[0] > 0.9 && explained[0] <= 1);
    QVERIFY2(denoised < 0.5 * plain, qPrintable(QString("%1 -> %2 eV").arg(plain).arg(denoised)));
}

void tst_SpectraMaps::failures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("no output") << QStringList { "maps", "STACK" } << 2 << "no output file";
    QTest::newRow("reversed range") << QStringList { "maps", "STACK", "-o", "OUT", "--pre",
        "-30:-100" } << 2 << "--pre needs a range";
    QTest::newRow("unknown option")
        << QStringList { "maps", "STACK", "-o", "OUT", "--fast" } << 2 << "unknown option --fast";
    QTest::newRow("missing stack")
        << QStringList { "maps", "MISSING", "-o", "OUT" } << 1 << "missing.h5: no such file";
    QTest::newRow("missing reference")
        << QStringList { "maps", "STACK", "-o", "OUT", "--refs", "NOREF" } << 1 << "noref.txt";
}

void tst_SpectraMaps::failures()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    for (QString &a : args) {
        a.replace("STACK", stack_);
        a.replace("MISSING", dir_.filePath("missing.h5"));
        a.replace("OUT", dir_.filePath("failed.h5"));
        a.replace("NOREF", dir_.filePath("noref.txt"));
    }
    QString log;
    QCOMPARE(run(args, &log), status);
    QVERIFY2(log.contains(message), qPrintable(log));
    QVERIFY(!QFile::exists(dir_.filePath("failed.h5")));
}

QTEST_GUILESS_MAIN(tst_SpectraMaps)
#include "tst_SpectraMaps.moc"
