// Linear-combination fits against weights known by construction or worked out by hand.
#include "LinearCombination.h"
#include "xafs/XafsModel.h"

#include <QtTest>

#include <random>

using namespace xafsmodel;

namespace {

// Normalised model spectra of three species (edges at 7112, 7116 and 7120 eV).
std::vector<LinearCombination::Reference> references(const std::vector<double> &energies)
{
    std::vector<LinearCombination::Reference> refs(3);
    const double e0[3] = { 7112, 7116, 7120 };
    const double wl[3] = { 0.2, 0.9, 0.5 };
    for (int r = 0; r < 3; ++r) {
        Species s;
        s.e0 = e0[r];
        s.wlHeight = wl[r];
        refs[r].name = QString("species%1").arg(r);
        refs[r].energies = energies;
        for (double e : energies)
            refs[r].values.push_back(edgeOnly(s, e));
    }
    return refs;
}

} // namespace

class tst_LinearCombination : public QObject
{
    Q_OBJECT
private slots:
    void weights_data();
    void weights();
    void negativeWeightIsClampedToTheBestNonNegativeFit();
    void readsReferenceFilesAndInterpolates();
    void refusesBadReferences();
};

void tst_LinearCombination::weights_data()
{
    QTest::addColumn<QList<double>>("truth");
    QTest::addColumn<bool>("sumToOne");
    QTest::addColumn<double>("noise");
    QTest::addColumn<QList<double>>("expected");
    QTest::newRow("two of three") << QList<double> { 0.3, 0.7, 0 } << false << 0.0
                                  << QList<double> { 0.3, 0.7, 0 };
    QTest::newRow("three, sum to one")
        << QList<double> { 0.2, 0.5, 0.3 } << true << 0.0 << QList<double> { 0.2, 0.5, 0.3 };
    QTest::newRow("scaled, free weights")
        << QList<double> { 0.12, 0.3, 0.18 } << false << 0.0 << QList<double> { 0.12, 0.3, 0.18 };
    QTest::newRow("one species") << QList<double> { 0, 0, 1 } << true << 0.0
                                 << QList<double> { 0, 0, 1 };
    QTest::newRow("noise 1 %") << QList<double> { 0.5, 0.25, 0.25 } << true << 0.01
                               << QList<double> { 0.5, 0.25, 0.25 };
}

void tst_LinearCombination::weights()
{
    QFETCH(QList<double>, truth);
    QFETCH(bool, sumToOne);
    QFETCH(double, noise);
    QFETCH(QList<double>, expected);
    const std::vector<double> energies = scanEnergies();
    const auto refs = references(energies);
    std::vector<double> y(energies.size(), 0.0);
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss(0, 1);
    for (std::size_t i = 0; i < y.size(); ++i) {
        for (int r = 0; r < 3; ++r)
            y[i] += truth[r] * refs[r].values[i];
        y[i] += noise * gauss(rng);
    }
    const LinearCombination lcf(energies, refs, sumToOne, 7080, 7180);
    QVERIFY(lcf.valid());
    double w[3];
    const double rf = lcf.fit(y.data(), w);
    for (int r = 0; r < 3; ++r)
        QVERIFY2(std::abs(w[r] - expected[r]) <= 0.02,
            qPrintable(QString("weight %1 = %2, expected %3").arg(r).arg(w[r]).arg(expected[r])));
    if (sumToOne)
        QVERIFY(std::abs(w[0] + w[1] + w[2] - 1) < 1e-9);
    if (noise == 0)
        QVERIFY(rf < 1e-12);
    else
        QVERIFY(rf > 0 && rf < 1e-3);
}

void tst_LinearCombination::negativeWeightIsClampedToTheBestNonNegativeFit()
{
    const std::vector<double> energies = scanEnergies();
    auto refs = references(energies);
    refs.resize(2);
    // y = 1.5 A - 0.5 B: the best fit without negative weights uses A alone, with the
    // weight of the projection of y onto A.
    std::vector<double> y(energies.size());
    double ya = 0, aa = 0, yy = 0;
    const LinearCombination lcf(energies, refs, false, 7080, 7180);
    for (std::size_t i = 0; i < y.size(); ++i) {
        y[i] = 1.5 * refs[0].values[i] - 0.5 * refs[1].values[i];
        if (i >= lcf.fitBegin() && i < lcf.fitEnd()) {
            ya += y[i] * refs[0].values[i];
            aa += refs[0].values[i] * refs[0].values[i];
            yy += y[i] * y[i];
        }
    }
    double w[2];
    const double rf = lcf.fit(y.data(), w);
    QCOMPARE(w[1], 0.0);
    QVERIFY(std::abs(w[0] - ya / aa) < 1e-9);
    QVERIFY(std::abs(rf - (yy - ya * ya / aa) / yy) < 1e-9);
}

void tst_LinearCombination::readsReferenceFilesAndInterpolates()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Fe2O3.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    // A straight line on a coarse grid: interpolation onto any energy is exact.
    f.write("# energy  mu\nenergy mu\n7000 0\n7100 1.0\n7200 2.0\n");
    f.close();
    LinearCombination::Reference ref;
    QString error;
    QVERIFY(LinearCombination::readReference(path, ref, &error));
    QCOMPARE(ref.name, QString("Fe2O3"));
    QCOMPARE(int(ref.energies.size()), 3);
    const std::vector<double> energies { 6990, 7050, 7125, 7190, 7210 };
    const LinearCombination lcf(energies, { ref }, false, -1e9, 1e9);
    QVERIFY(lcf.valid());
    QCOMPARE(int(lcf.fitBegin()), 1); // 6990 and 7210 lie outside the reference
    QCOMPARE(int(lcf.fitEnd()), 4);
    QVERIFY(std::abs(lcf.sampled(0)[2] - 1.25) < 1e-12);
}

void tst_LinearCombination::refusesBadReferences()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("7000 0\n7100 1\n7050 2\n");
    f.close();
    LinearCombination::Reference ref;
    QString error;
    QVERIFY(!LinearCombination::readReference(path, ref, &error));
    QVERIFY(error.contains("line 3"));
    QVERIFY(!LinearCombination::readReference(dir.filePath("missing.txt"), ref, &error));
    QVERIFY(error.contains("missing.txt"));
}

QTEST_GUILESS_MAIN(tst_LinearCombination)
#include "tst_LinearCombination.moc"
