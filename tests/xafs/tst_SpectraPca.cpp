// PCA denoising against a data set whose variances are known by construction.
#include "SpectraPca.h"

#include <QtTest>

#include <cmath>
#include <random>

class tst_SpectraPca : public QObject
{
    Q_OBJECT
private slots:
    void explainedVarianceAndExactReconstruction_data();
    void explainedVarianceAndExactReconstruction();
    void projectionRemovesNoise();
};

namespace {

// Spectra mean + c1 u + c2 v with orthonormal u, v over n energies and (c1, c2) running
// through (+-2, +-1) equally often: variance 4 along u, 1 along v, nothing else.
std::vector<float> rankTwo(int n, std::size_t voxels, std::vector<float> *clean = nullptr)
{
    std::vector<float> block(std::size_t(n) * voxels);
    const double norm = std::sqrt(n / 2.0);
    for (std::size_t v = 0; v < voxels; ++v) {
        const double c1 = (v & 1) ? 2 : -2;
        const double c2 = (v & 2) ? 1 : -1;
        for (int e = 0; e < n; ++e) {
            const double u = std::sin(2 * M_PI * e / n) / norm;
            const double w = std::cos(2 * M_PI * e / n) / norm;
            block[std::size_t(e) * voxels + v] = float(1.0 + 0.01 * e + c1 * u + c2 * w);
        }
    }
    if (clean)
        *clean = block;
    return block;
}

} // namespace

void tst_SpectraPca::explainedVarianceAndExactReconstruction_data()
{
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("workers");
    QTest::addColumn<double>("explained");
    QTest::newRow("one component") << 1 << 1 << 0.8;
    QTest::newRow("two components") << 2 << 2 << 1.0;
    QTest::newRow("three components, three threads") << 3 << 3 << 1.0;
}

void tst_SpectraPca::explainedVarianceAndExactReconstruction()
{
    QFETCH(int, k);
    QFETCH(int, workers);
    QFETCH(double, explained);
    const int n = 40;
    const std::size_t voxels = 4000;
    std::vector<float> clean;
    std::vector<float> block = rankTwo(n, voxels, &clean);
    SpectraPca pca(n, workers);
    // Two blocks, as a stack read in two parts.
    pca.accumulate(block.data(), voxels);
    pca.accumulate(block.data(), voxels);
    QVERIFY(pca.finish(k));
    QCOMPARE(pca.voxelCount(), 2 * voxels);
    QVERIFY(std::abs(pca.explainedVariance() - explained) < 1e-6);
    QVERIFY(std::abs(pca.eigenvalues()[0] - 4) < 1e-4);
    QVERIFY(std::abs(pca.eigenvalues()[1] - 1) < 1e-4);
    pca.project(block.data(), voxels);
    double maxErr = 0;
    for (std::size_t i = 0; i < block.size(); ++i)
        maxErr = std::max(maxErr, double(std::abs(block[i] - clean[i])));
    if (k >= 2)
        QVERIFY2(maxErr < 1e-4, qPrintable(QString::number(maxErr)));
    else
        QVERIFY(maxErr > 0.1); // the second direction is gone
}

void tst_SpectraPca::projectionRemovesNoise()
{
    const int n = 60;
    const std::size_t voxels = 8000;
    std::vector<float> clean;
    std::vector<float> block = rankTwo(n, voxels, &clean);
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss(0, 0.05);
    for (float &v : block)
        v += float(gauss(rng));
    SpectraPca pca(n, 2);
    pca.accumulate(block.data(), voxels);
    QVERIFY(pca.finish(2));
    auto rms = [&] {
        double s = 0;
        for (std::size_t i = 0; i < block.size(); ++i)
            s += (block[i] - clean[i]) * double(block[i] - clean[i]);
        return std::sqrt(s / double(block.size()));
    };
    const double before = rms();
    pca.project(block.data(), voxels);
    const double after = rms();
    // Noise spread over 60 directions, 2 kept: about sqrt(2/60) of it remains.
    QVERIFY2(after < 0.3 * before, qPrintable(QString("%1 -> %2").arg(before).arg(after)));
}

QTEST_GUILESS_MAIN(tst_SpectraPca)
#include "tst_SpectraPca.moc"
