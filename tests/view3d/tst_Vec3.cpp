#include "Vec3.h"

#include <QtTest>

#include <numbers>

class TestVec3 : public QObject
{
    Q_OBJECT
private slots:
    void rotated_data();
    void rotated();
    void rotationsKeepTheBasisOrthonormal();
};

namespace {

constexpr double pi = std::numbers::pi;

bool near(const Vec3 &a, const Vec3 &b, double tol = 1e-12)
{
    return std::abs(a.x - b.x) < tol && std::abs(a.y - b.y) < tol && std::abs(a.z - b.z) < tol;
}

} // namespace

void TestVec3::rotated_data()
{
    QTest::addColumn<Vec3>("v");
    QTest::addColumn<Vec3>("axis");
    QTest::addColumn<double>("angle");
    QTest::addColumn<Vec3>("expected");
    // Right-handed: a quarter turn about z takes x to y, about x takes y to z, about y z to x.
    QTest::newRow("x about z") << Vec3(1, 0, 0) << Vec3(0, 0, 1) << pi / 2 << Vec3(0, 1, 0);
    QTest::newRow("y about x") << Vec3(0, 1, 0) << Vec3(1, 0, 0) << pi / 2 << Vec3(0, 0, 1);
    QTest::newRow("z about y") << Vec3(0, 0, 1) << Vec3(0, 1, 0) << pi / 2 << Vec3(1, 0, 0);
    QTest::newRow("half turn") << Vec3(1, 2, 3) << Vec3(0, 0, 1) << pi << Vec3(-1, -2, 3);
    QTest::newRow("along the axis") << Vec3(0, 0, 2) << Vec3(0, 0, 1) << 1.0 << Vec3(0, 0, 2);
    QTest::newRow("zero angle") << Vec3(1, 2, 3) << Vec3(0.6, 0.8, 0) << 0.0 << Vec3(1, 2, 3);
    const double s = std::sqrt(1.0 / 3.0);
    // A third of a turn about the diagonal cycles the axes.
    QTest::newRow("diagonal") << Vec3(1, 0, 0) << Vec3(s, s, s) << 2 * pi / 3 << Vec3(0, 1, 0);
}

void TestVec3::rotated()
{
    QFETCH(Vec3, v);
    QFETCH(Vec3, axis);
    QFETCH(double, angle);
    QFETCH(Vec3, expected);
    const Vec3 r = v.rotated(axis, angle);
    QVERIFY2(near(r, expected), qPrintable(QString("got (%1, %2, %3)").arg(r.x).arg(r.y).arg(r.z)));
}

void TestVec3::rotationsKeepTheBasisOrthonormal()
{
    Vec3 nx(1, 0, 0), ny(0, 1, 0), nz(0, 0, 1);
    const Vec3 axes[] = { Vec3(0, 1, 0), Vec3(0.6, 0.8, 0), Vec3(0, 0.28, 0.96) };
    for (int i = 0; i < 300; ++i) {
        const Vec3 &k = axes[i % 3];
        const double a = 0.01 * (i % 17) + 0.05;
        nx = nx.rotated(k, a);
        ny = ny.rotated(k, a);
        nz = nz.rotated(k, a);
    }
    QVERIFY(std::abs(nx.length() - 1) < 1e-12);
    QVERIFY(std::abs(nz.length() - 1) < 1e-12);
    QVERIFY(std::abs(nx.dot(ny)) < 1e-12);
    QVERIFY(near(nx.cross(ny), nz));
}

QTEST_MAIN(TestVec3)
#include "tst_Vec3.moc"
