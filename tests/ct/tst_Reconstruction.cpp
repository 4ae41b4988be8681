// Whole road from camera files to a slice: a phantom's exact projections written as ITEX
// files, read into an image set, turned into a sinogram and reconstructed, then compared
// with the phantom itself.
#include "CorSearch.h"
#include "CtBackProj.h"
#include "CtGridding.h"
#include "CtTestData.h"
#include "HSgm.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "Phantom.h"
#include "ProcCtrl.h"
#include "Projector.h"
#include "SinogramBuild.h"

#include <QtTest>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

Q_DECLARE_METATYPE(CtFilterKind)

namespace {

using DataSet = CtTestData::PhantomImages;

// The head fills about half the usable width: without zero padding the ramp filter's
// periodic convolution adds an offset that grows with the part of the line the object
// covers, and a smaller object keeps it small.
bool makeDataSet(DataSet &d, int projections, double rangeDeg, double axisOffset)
{
    CtTestData::PhantomSetup setup;
    setup.width = 128;
    setup.height = 8;
    setup.axisOffset = axisOffset;
    setup.projections = projections;
    setup.rangeDeg = rangeDeg;
    setup.objectWidth = 64;
    return d.make(setup);
}

} // namespace

class TestReconstruction : public QObject
{
    Q_OBJECT
private slots:
    void sliceMatchesPhantom_data();
    void sliceMatchesPhantom();
    void griddingAgreesWithBackProjection_data();
    void griddingAgreesWithBackProjection();
    void corSearchFindsAxis_data();
    void corSearchFindsAxis();
};

void TestReconstruction::sliceMatchesPhantom_data()
{
    QTest::addColumn<int>("projections");
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<double>("axisOffset");
    QTest::addColumn<QString>("method");
    // Every method of the table, made by name through the table as the callers make it.
    for (const CtMethodInfo &m : CtMethods::table()) {
        QTest::addRow("180 deg, %s", qPrintable(m.name)) << 180 << 180.0 << 0.3 << m.name;
        QTest::addRow("360 deg, %s", qPrintable(m.name)) << 360 << 360.0 << -0.45 << m.name;
    }
}

void TestReconstruction::sliceMatchesPhantom()
{
    QFETCH(int, projections);
    QFETCH(double, rangeDeg);
    QFETCH(double, axisOffset);
    QFETCH(QString, method);
    DataSet d;
    QVERIFY(makeDataSet(d, projections, rangeDeg, axisOffset));
    QCOMPARE(d.set.count(), projections);

    const int slice = 4;
    const double cor = d.detector.axis();
    HSgm sgm;
    QVERIFY(buildSinogram(sgm, d.set, PartialDataSet {}, true, cor, slice));
    QCOMPARE(sgm.h, projections);

    const double step = rangeDeg / 180.0 * std::numbers::pi / projections;
    const int n = sgm.w / 2 * 2;
    CtMethod chosen = CtMethod::Fbp;
    QVERIFY(CtMethods::fromName(method.toUpper(), &chosen));
    const std::unique_ptr<CtEngine> engine = CtMethods::info(chosen).make();
    QVERIFY(engine);
    QCOMPARE(engine->method(), chosen);
    QVERIFY(!engine->label().isEmpty());
    engine->sizeForRun(sgm.w, projections);
    QVERIFY(engine->setFilter(CtFilterKind::Ramp));
    QVERIFY(engine->reconstruct(sgm, 0, n, 0, n, 0.0, step));
    QVERIFY(engine->resultValid());
    QCOMPARE(engine->resultSize(), n);
    const std::vector<double> result(engine->resultData(), engine->resultData() + n * n);

    // Compare away from the bodies' edges, where a band-limited picture cannot follow.
    const int g = n / 2;
    const double y = d.detector.v(slice);
    std::vector<std::pair<double, double>> pairs;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const double X = x - g, Z = z - g;
            const double mu = d.phantom.mu(X, y, Z);
            bool flat = true;
            for (int dz = -3; dz <= 3 && flat; ++dz)
                for (int dx = -3; dx <= 3 && flat; ++dx)
                    flat = d.phantom.mu(X + dx, y, Z + dz) == mu;
            if (flat && X * X + Z * Z < 0.8 * g * g)
                pairs.emplace_back(mu, result[static_cast<std::size_t>(z) * n + x]);
        }
    QVERIFY(pairs.size() > 2000);
    // Least-squares line rec = offset + scale * mu.
    double sx = 0, sy = 0, sxx = 0, sxy = 0, top = 0;
    for (const auto &[mu, r] : pairs) {
        sx += mu;
        sy += r;
        sxx += mu * mu;
        sxy += mu * r;
        top = std::max(top, mu);
    }
    const double m = pairs.size();
    const double scale = (m * sxy - sx * sy) / (m * sxx - sx * sx);
    const double offset = (sy - scale * sx) / m;
    double err = 0;
    for (const auto &[mu, r] : pairs)
        err += std::pow(r - offset - scale * mu, 2);
    const double rms = std::sqrt(err / m);
    qInfo("scale %.4f offset %.3g rms %.3g (largest attenuation %.3g)", scale, offset, rms, top);
    // Ramp 2 pi |frequency| / (N P) with an unnormalised inverse, summed over P angles
    // spanning 180 or 360 degrees: twice the attenuation per pixel either way.
    QVERIFY(std::abs(scale - 2.0) < 0.06);
    // The offset is the filter's missing zero padding (see makeDataSet); the gridding pads.
    QVERIFY(std::abs(offset) < 0.08 * 2.0 * top);
    QVERIFY(rms < 0.04 * 2.0 * top);
}

void TestReconstruction::griddingAgreesWithBackProjection_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("projections");
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<double>("axisOffset");
    QTest::addColumn<int>("objectWidth");
    QTest::addColumn<CtFilterKind>("filter");
    QTest::newRow("256, 360 deg, head filling half")
        << 256 << 720 << 360.0 << -0.45 << 128 << CtFilterKind::RampPadded;
    QTest::newRow("384, 180 deg, sub-pixel axis")
        << 384 << 600 << 180.0 << 0.3 << 0 << CtFilterKind::RampPadded;
    QTest::newRow("512, 180 deg, Hann window")
        << 512 << 800 << 180.0 << 0.25 << 0 << CtFilterKind::Hann;
    QTest::newRow("512, 360 deg") << 512 << 1600 << 360.0 << -0.2 << 0 << CtFilterKind::RampPadded;
}

void TestReconstruction::griddingAgreesWithBackProjection()
{
    QFETCH(int, width);
    QFETCH(int, projections);
    QFETCH(double, rangeDeg);
    QFETCH(double, axisOffset);
    QFETCH(int, objectWidth);
    QFETCH(CtFilterKind, filter);
    DataSet d;
    CtTestData::PhantomSetup setup;
    setup.width = width;
    setup.height = 8;
    setup.axisOffset = axisOffset;
    setup.projections = projections;
    setup.rangeDeg = rangeDeg;
    setup.objectWidth = objectWidth;
    QVERIFY(d.make(setup));
    const int slice = 4;
    HSgm sgm;
    QVERIFY(buildSinogram(sgm, d.set, PartialDataSet {}, true, d.detector.axis(), slice));
    const int n = sgm.w / 2 * 2;
    const double step = rangeDeg / 180.0 * std::numbers::pi / projections;

    CtBackProj backProjection;
    QVERIFY(backProjection.setFilter(filter));
    backProjection.setup(n, projections);
    QVERIFY(backProjection.reconstruct(sgm, 0, n, 0, n, 0.0, step));
    CtGridding gridding;
    gridding.setFilter(filter);
    gridding.setup(n, projections);
    QVERIFY(gridding.reconstruct(sgm, 0, n, 0, n, 0.0, step));

    // Inside 90 % of the inscribed circle: the difference against the slice's range, and
    // either method's error against twice the phantom's attenuation.
    const int g = n / 2;
    const double y = d.detector.v(slice);
    double lo = 1e300, hi = -1e300, diff2 = 0, err2Bp = 0, err2Grid = 0;
    long long count = 0;
    for (int z = 0; z < n; ++z)
        for (int x = 0; x < n; ++x) {
            const double X = x - g, Z = z - g;
            if (X * X + Z * Z >= 0.81 * g * g)
                continue;
            const double bp = backProjection.resultRow(z)[x];
            const double grid = gridding.resultRow(z)[x];
            const double truth = 2.0 * d.phantom.mu(X, y, Z);
            lo = std::min(lo, bp);
            hi = std::max(hi, bp);
            diff2 += (grid - bp) * (grid - bp);
            err2Bp += (bp - truth) * (bp - truth);
            err2Grid += (grid - truth) * (grid - truth);
            ++count;
        }
    const double diff = std::sqrt(diff2 / count) / (hi - lo);
    const double ratio = std::sqrt(err2Grid / err2Bp);
    qInfo("RMS difference %.4f of the range, error %.4f of the back-projection's", diff, ratio);
    QVERIFY2(diff <= 0.01, qPrintable(QString::number(diff)));
    QVERIFY2(ratio <= 1.05, qPrintable(QString::number(ratio)));
}

void TestReconstruction::corSearchFindsAxis_data()
{
    QTest::addColumn<double>("axisOffset");
    QTest::addColumn<double>("start"); // from the axis
    QTest::addColumn<double>("rangeDeg");
    QTest::addColumn<int>("objectWidth"); // 0: the head fills the field
    QTest::addColumn<bool>("noise");
    QTest::newRow("axis on a sample") << 0.0 << 6.0 << 180.0 << 64 << false;
    QTest::newRow("axis between samples") << -0.5 << -5.5 << 180.0 << 64 << false;
    QTest::newRow("off-centre axis") << 2.0 << -6.0 << 180.0 << 64 << false;
    // Starts 30 pixels off, where a bare hill climb stops on a side peak.
    for (const double range : { 180.0, 360.0 })
        for (const double start : { -30.0, 30.0 }) {
            QTest::addRow("%g deg, start %+g, small head", range, start)
                << 0.3 << start << range << 64 << false;
            QTest::addRow("%g deg, start %+g, filling the field, noise", range, start)
                << -1.2 << start << range << 0 << true;
        }
}

void TestReconstruction::corSearchFindsAxis()
{
    QFETCH(double, axisOffset);
    QFETCH(double, start);
    QFETCH(double, rangeDeg);
    QFETCH(int, objectWidth);
    QFETCH(bool, noise);
    CtTestData::PhantomSetup setup;
    setup.axisOffset = axisOffset;
    setup.projections = int(2 * rangeDeg);
    setup.rangeDeg = rangeDeg;
    setup.objectWidth = objectWidth;
    setup.noise = noise;
    DataSet d;
    QVERIFY(d.make(setup));
    // The program's own road: attenuation lines of image 0 and its partner half a turn on.
    const double axis = d.detector.axis();
    double found = -1.0;
    QVERIFY(
        guessCorOnLines(ImgDatasLines(d.set, true), 4, 0, rangeDeg, axis + start, 0.35, &found));
    qInfo("axis %.3f found %.3f", axis, found);
    QVERIFY2(std::abs(found - axis) <= 0.25, qPrintable(QString::number(found)));
}

QTEST_MAIN(TestReconstruction)
#include "tst_Reconstruction.moc"
