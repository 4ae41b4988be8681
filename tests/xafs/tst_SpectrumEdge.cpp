// Edge analysis of model spectra against values worked out from the analytic model.
#include "SpectrumEdge.h"
#include "xafs/XafsModel.h"

#include <QtTest>

#include <random>

using namespace xafsmodel;

class tst_SpectrumEdge : public QObject
{
    Q_OBJECT
private slots:
    void analyse_data();
    void analyse();
    void defaultRangesFollowTheEnergies();
    void tooFewEnergiesInARangeIsNoResult();
};

void tst_SpectrumEdge::analyse_data()
{
    QTest::addColumn<double>("e0");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("wlHeight");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("postOrder");
    QTest::addColumn<double>("noise");
    QTest::newRow("on the grid, quadratic") << 7112.0 << 1.0 << 0.5 << 1.0 << 2 << 0.0;
    QTest::newRow("off the grid, quadratic") << 7112.23 << 1.0 << 0.5 << 0.8 << 2 << 0.0;
    QTest::newRow("off the grid, line") << 7111.81 << 1.5 << 0.3 << 2.0 << 1 << 0.0;
    QTest::newRow("no white line") << 7120.4 << 1.0 << 0.0 << 0.05 << 2 << 0.0;
    QTest::newRow("strong white line") << 7115.37 << 0.7 << 1.2 << 1.0 << 2 << 0.0;
    QTest::newRow("noise 0.2 %") << 7112.23 << 1.0 << 0.5 << 1.0 << 2 << 0.002;
}

void tst_SpectrumEdge::analyse()
{
    QFETCH(double, e0);
    QFETCH(double, width);
    QFETCH(double, wlHeight);
    QFETCH(double, step);
    QFETCH(int, postOrder);
    QFETCH(double, noise);
    Species sp;
    sp.e0 = e0;
    sp.width = width;
    sp.wlHeight = wlHeight;
    sp.step = step;
    const Background bg;
    const std::vector<double> energies = scanEnergies();
    std::vector<double> mu(energies.size()), clean(energies.size());
    std::mt19937 rng(7);
    std::normal_distribution<double> gauss(0, 1);
    for (std::size_t i = 0; i < energies.size(); ++i) {
        clean[i] = background(bg, energies[i]) + edgeOnly(sp, energies[i]);
        mu[i] = clean[i] + (noise > 0 ? noise * step * gauss(rng) : 0);
    }

    SpectrumEdge::Params p;
    p.preFrom = -100;
    p.preTo = -30;
    p.postFrom = 30;
    p.postTo = 120;
    p.postOrder = postOrder;
    const SpectrumEdge edge(energies, p);
    std::vector<double> work(edge.workSize()), norm(energies.size());
    const SpectrumEdge::Result r = edge.analyse(mu.data(), work.data(), norm.data());
    QVERIFY(r.ok);

    // Independent values from the noise-free model.
    const double e0True = trueE0({ sp }, { 1.0 });
    double preSlope = 0;
    const double preAtE0 = fitAt(energies, clean, e0True, p.preFrom, p.preTo, 1, &preSlope);
    const double stepTrue
        = fitAt(energies, clean, e0True, p.postFrom, p.postTo, postOrder) - preAtE0;
    auto normAt = [&](double e) {
        return (background(bg, e) + edgeOnly(sp, e) - preAtE0 - preSlope * (e - e0True)) / stepTrue;
    };
    double lo = e0True - 5, hi = e0True + 5; // the half-height crossing by bisection
    for (int i = 0; i < 80; ++i)
        (normAt(0.5 * (lo + hi)) < 0.5 ? lo : hi) = 0.5 * (lo + hi);
    const double halfTrue = 0.5 * (lo + hi);
    double wlTrue = -1e300, wlEnergyTrue = 0;
    for (double e = e0True; e <= e0True + p.whiteLineSpan; e += 0.001)
        if (normAt(e) > wlTrue) {
            wlTrue = normAt(e);
            wlEnergyTrue = e;
        }

    const double e0Tol = noise > 0 ? 0.2 : 0.05;
    const double stepTol = noise > 0 ? 0.01 : 0.005;
    QVERIFY2(std::abs(r.e0 - e0True) <= e0Tol,
        qPrintable(QString("E0 %1, expected %2").arg(r.e0, 0, 'f', 4).arg(e0True, 0, 'f', 4)));
    QVERIFY2(std::abs(r.step / stepTrue - 1) <= stepTol,
        qPrintable(QString("step %1, expected %2").arg(r.step).arg(stepTrue)));
    QVERIFY2(std::abs(r.e0Half - halfTrue) <= e0Tol,
        qPrintable(QString("half height %1, expected %2").arg(r.e0Half).arg(halfTrue)));
    if (wlHeight > 0.2) {
        QVERIFY2(std::abs(r.whiteLine - wlTrue) <= (noise > 0 ? 0.03 : 0.01),
            qPrintable(QString("white line %1, expected %2").arg(r.whiteLine).arg(wlTrue)));
        QVERIFY2(std::abs(r.whiteLineEnergy - wlEnergyTrue) <= (noise > 0 ? 0.5 : 0.1),
            qPrintable(QString("at %1, expected %2").arg(r.whiteLineEnergy).arg(wlEnergyTrue)));
    }
    // The normalised spectrum is 0 on the pre-edge line and about 1 far above the edge.
    if (noise == 0) {
        QVERIFY(std::abs(norm.front() - normAt(energies.front())) < 0.01);
        QVERIFY(std::abs(norm.back() - normAt(energies.back())) < 0.01);
    }
    // The step's standard error covers the step's actual error from the noise.
    if (noise > 0)
        QVERIFY2(r.stepError > 0 && std::abs(r.step - stepTrue) < 4 * r.stepError,
            qPrintable(
                QString("step %1 +- %2, expected %3").arg(r.step).arg(r.stepError).arg(stepTrue)));
    // The pre-edge rms measures the noise (it sets the default smallest step).
    if (noise > 0)
        QVERIFY2(
            std::abs(r.preRms / (noise * step) - 1) < 0.35, qPrintable(QString::number(r.preRms)));
    else
        QVERIFY(r.preRms < 1e-3 * step);
}

void tst_SpectrumEdge::defaultRangesFollowTheEnergies()
{
    SpectrumEdge::Params p;
    // 150 eV below and above: the usual -150:-30 and 30:150.
    SpectrumEdge::defaultRanges({ 6962, 7000, 7112, 7200, 7262 }, 7112, p);
    QCOMPARE(p.preFrom, -150.0);
    QCOMPARE(p.preTo, -30.0);
    QCOMPARE(p.postFrom, 30.0);
    QCOMPARE(p.postTo, 150.0);
    // A short scan 7070-7200 around 7112: the ranges shrink with it.
    SpectrumEdge::defaultRanges({ 7070, 7112, 7200 }, 7112, p);
    QCOMPARE(p.preFrom, -42.0);
    QCOMPARE(p.preTo, -14.0);
    QCOMPARE(p.postFrom, 26.4);
    QCOMPARE(p.postTo, 88.0);
}

void tst_SpectrumEdge::tooFewEnergiesInARangeIsNoResult()
{
    const std::vector<double> energies = scanEnergies();
    std::vector<double> mu(energies.size());
    for (std::size_t i = 0; i < energies.size(); ++i)
        mu[i] = edgeOnly(Species(), energies[i]);
    SpectrumEdge::Params p;
    p.preFrom = -500; // below the first energy
    p.preTo = -400;
    const SpectrumEdge edge(energies, p);
    std::vector<double> work(edge.workSize()), norm(energies.size());
    const SpectrumEdge::Result r = edge.analyse(mu.data(), work.data(), norm.data());
    QVERIFY(!r.ok);
    QVERIFY(std::isnan(r.step));
    QVERIFY(std::isnan(norm[10]));
}

QTEST_GUILESS_MAIN(tst_SpectrumEdge)
#include "tst_SpectrumEdge.moc"
