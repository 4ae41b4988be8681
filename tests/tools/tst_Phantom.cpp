// The phantom's line integrals, the projection geometry the reconstruction expects, the
// counts written to ITEX files, the CT-XAFS naming, and the vexa2-phantom program itself.
#include "EnergyNaming.h"
#include "ImgData.h"
#include "Phantom.h"
#include "Projector.h"

#include <QtTest>

#include <cmath>
#include <map>
#include <memory>
#include <numbers>

namespace {

constexpr double pi = std::numbers::pi;

Phantom sphere(double r, double mu, double x = 0, double y = 0, double z = 0)
{
    Ellipsoid e;
    e.cx = x, e.cy = y, e.cz = z;
    e.ax = e.ay = e.az = r;
    e.mu = mu;
    Phantom p;
    p.ellipsoids.push_back(e);
    return p;
}

// The energy in eV of a name field as the program reads it: the text up to its last
// decimal digit with "_" as the decimal point, times 1000 for the unit "keV".
double readNameEnergy(const QString &field, bool applyUnit)
{
    qsizetype last = field.size() - 1;
    while (last >= 0 && !(field[last] >= u'0' && field[last] <= u'9'))
        --last;
    const double v = field.left(last + 1).replace(u'_', u'.').toDouble();
    return applyUnit && field.mid(last + 1).toUpper() == "KEV" ? v * 1000 : v;
}

std::unique_ptr<ImgData> readItex(const QString &path)
{
    std::unique_ptr<ImgData> img(ImgData::create(ImgData::fileType(path)));
    if (!img)
        return {};
    img->fileName = path;
    if (!img->load())
        return {};
    return img;
}

} // namespace

class TestPhantom : public QObject
{
    Q_OBJECT
private slots:
    void sphereChord_data();
    void sphereChord();
    void offCentreShadowMoves_data();
    void offCentreShadowMoves();
    void rotatedEllipsoidMatchesNumericIntegral_data();
    void rotatedEllipsoidMatchesNumericIntegral();
    void projectionMatchesLineIntegrals_data();
    void projectionMatchesLineIntegrals();
    void backProjectionFindsTheBody_data();
    void backProjectionFindsTheBody();
    void headFitsAndAbsorbsModerately();
    void edgeBodyJumpsAtTheEdge();
    void countsAndClamping_data();
    void countsAndClamping();
    void noiseIsReproducibleWithTheRightMean_data();
    void noiseIsReproducibleWithTheRightMean();
    void filesReadBack_data();
    void filesReadBack();
    void energyNamesSortAndFollowTheRules_data();
    void energyNamesSortAndFollowTheRules();
    void toolWritesDataSets_data();
    void toolWritesDataSets();
    void toolRejectsBadInput_data();
    void toolRejectsBadInput();
};

void TestPhantom::sphereChord_data()
{
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("u");
    QTest::addColumn<double>("v");
    QTest::addColumn<double>("expected");
    const double r = 20, mu = 0.01;
    // A centred sphere looks the same from every angle.
    for (double deg : { 0.0, 37.0, 90.0, 215.0 }) {
        const double t = deg * pi / 180;
        const QByteArray a = QByteArray::number(deg);
        QTest::newRow(a + " centre") << t << 0.0 << 0.0 << 2 * r * mu;
        QTest::newRow(a + " half radius")
            << t << r / 2 << 0.0 << 2 * std::sqrt(r * r - r * r / 4) * mu;
        QTest::newRow(a + " other side") << t << -12.0 << 0.0 << 2 * std::sqrt(r * r - 144) * mu;
        QTest::newRow(a + " above") << t << 6.0 << -8.0 << 2 * std::sqrt(r * r - 100) * mu;
        QTest::newRow(a + " tangent") << t << r << 0.0 << 0.0;
        QTest::newRow(a + " outside") << t << 1.5 * r << 0.0 << 0.0;
        QTest::newRow(a + " beyond top") << t << 0.0 << 21.0 << 0.0;
    }
}

void TestPhantom::sphereChord()
{
    QFETCH(double, theta);
    QFETCH(double, u);
    QFETCH(double, v);
    QFETCH(double, expected);
    const double got = sphere(20, 0.01).lineIntegral(theta, u, v);
    QVERIFY2(std::abs(got - expected) < 1e-12, qPrintable(QString::number(got)));
}

void TestPhantom::offCentreShadowMoves_data()
{
    QTest::addColumn<double>("theta");
    for (double deg : { 0.0, 30.0, 90.0, 135.0, 180.0, 290.0 })
        QTest::newRow(QByteArray::number(deg)) << deg * pi / 180;
}

void TestPhantom::offCentreShadowMoves()
{
    QFETCH(double, theta);
    const double r = 5, mu = 0.1, x0 = 14, z0 = -9;
    const Phantom p = sphere(r, mu, x0, 0, z0);
    const double u0 = x0 * std::cos(theta) - z0 * std::sin(theta);
    QCOMPARE_LT(std::abs(p.lineIntegral(theta, u0, 0) - 2 * r * mu), 1e-12);
    QCOMPARE_LT(std::abs(p.lineIntegral(theta, u0 - 3, 0) - 2 * 4 * mu), 1e-12);
    QCOMPARE(p.lineIntegral(theta, u0 + r + 0.01, 0), 0.0);
    // The projection image puts the shadow's peak on the pixel nearest to axis + u0.
    DetectorGeometry det;
    det.width = 64, det.height = 8, det.axisOffset = 0.3;
    const std::vector<double> img = p.project(det, theta);
    const double *row = img.data() + 4 * det.width; // v = 0
    const int peak = int(std::max_element(row, row + det.width) - row);
    QCOMPARE(peak, int(std::lround(det.axis() + u0)));
}

void TestPhantom::rotatedEllipsoidMatchesNumericIntegral_data()
{
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("du"); // from the shadow of the centre
    QTest::addColumn<double>("v");
    QTest::newRow("0, centre line") << 0.0 << 0.0 << 3.0;
    QTest::newRow("40 deg") << 40 * pi / 180 << -4.0 << 10.0;
    QTest::newRow("100 deg, near the rim") << 100 * pi / 180 << 15.0 << -12.0;
    QTest::newRow("250 deg") << 250 * pi / 180 << 9.5 << 0.0;
}

void TestPhantom::rotatedEllipsoidMatchesNumericIntegral()
{
    QFETCH(double, theta);
    QFETCH(double, du);
    QFETCH(double, v);
    Ellipsoid e;
    e.cx = 5, e.cy = 3, e.cz = -8;
    e.ax = 30, e.ay = 20, e.az = 12;
    e.phi = 0.7;
    e.mu = 0.02;
    Phantom p;
    p.ellipsoids.push_back(e);
    const double u = e.cx * std::cos(theta) - e.cz * std::sin(theta) + du;
    const double exact = p.lineIntegral(theta, u, v);
    // Midpoint rule along the ray X = u cos + s sin, Z = -u sin + s cos.
    const double ds = 0.001;
    double sum = 0;
    for (double s = -80 + ds / 2; s < 80; s += ds)
        sum += p.mu(u * std::cos(theta) + s * std::sin(theta), v,
            -u * std::sin(theta) + s * std::cos(theta));
    QVERIFY(exact > 0.05);
    QVERIFY2(std::abs(sum * ds - exact) < 4 * ds * e.mu,
        qPrintable(QString("%1 vs %2").arg(sum * ds).arg(exact)));
}

void TestPhantom::projectionMatchesLineIntegrals_data()
{
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("energy");
    QTest::addColumn<double>("theta");
    QTest::newRow("vertical") << false << 0.0 << 0.0 << 0.3;
    QTest::newRow("vertical, offset axis") << false << -3.7 << 0.0 << 2.0;
    QTest::newRow("horizontal") << true << 1.25 << 0.0 << 1.1;
    QTest::newRow("above the edge") << false << 0.5 << 9000.0 << 4.0;
}

void TestPhantom::projectionMatchesLineIntegrals()
{
    QFETCH(bool, horizontal);
    QFETCH(double, offset);
    QFETCH(double, energy);
    QFETCH(double, theta);
    DetectorGeometry det;
    det.width = 48, det.height = 40, det.axisOffset = offset, det.horizontalAxis = horizontal;
    const Phantom p = Phantom::head(det);
    const std::vector<double> img = p.project(det, theta, energy);
    double largest = 0;
    for (int y = 0; y < det.height; ++y) {
        for (int x = 0; x < det.width; ++x) {
            const double u = (horizontal ? y : x) - det.axis();
            const double v = horizontal ? x - det.width / 2.0 : y - det.height / 2.0;
            const double expected = p.lineIntegral(theta, u, v, energy);
            QVERIFY2(std::abs(img[y * det.width + x] - expected) < 1e-9,
                qPrintable(QString("pixel %1, %2").arg(x).arg(y)));
            largest = std::max(largest, expected);
        }
    }
    QVERIFY(largest > 0.5);
}

void TestPhantom::backProjectionFindsTheBody_data()
{
    QTest::addColumn<double>("range");
    QTest::addColumn<double>("offset");
    QTest::newRow("180") << 180.0 << 0.0;
    QTest::newRow("360, offset axis") << 360.0 << 2.4;
}

// Back-projects (without filter) as the reconstruction does: a slice pixel (x, z) takes the
// detector position t = (x - g) cos - (z - g) sin from the axis. The blurred image of a
// small body peaks where the body is, which fails for any sign or angle slip.
void TestPhantom::backProjectionFindsTheBody()
{
    QFETCH(double, range);
    QFETCH(double, offset);
    Projector proj;
    proj.detector.width = 80, proj.detector.height = 4, proj.detector.axisOffset = offset;
    proj.projections = 120, proj.rangeDeg = range;
    const double x0 = 13, z0 = -7;
    const Phantom p = sphere(2.5, 0.2, x0, 0, z0);
    const int n = 64, g = n / 2;
    std::vector<double> image(n * n, 0.0);
    for (int i = 0; i < proj.projections; ++i) {
        const double th = proj.angle(i), c = std::cos(th), s = std::sin(th);
        const std::vector<double> lines = p.project(proj.detector, th);
        const double *row = lines.data() + 2 * proj.detector.width; // v = 0
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                if (std::hypot(x - g, z - g) >= g)
                    continue;
                const double t = (x - g) * c - (z - g) * s + proj.detector.axis();
                const int k = int(std::floor(t));
                image[z * n + x] += row[k] + (row[k + 1] - row[k]) * (t - k);
            }
    }
    const int best = int(std::max_element(image.begin(), image.end()) - image.begin());
    QCOMPARE(best % n, g + int(x0));
    QCOMPARE(best / n, g + int(z0));
}

void TestPhantom::headFitsAndAbsorbsModerately()
{
    DetectorGeometry det;
    det.width = 200, det.height = 100, det.axisOffset = 20;
    const Phantom p = Phantom::head(det);
    const double room = det.usableHalfWidth() - 1;
    const Ellipsoid &skull = p.ellipsoids.front();
    QCOMPARE_LT(std::max(skull.ax, skull.az), room);
    QCOMPARE_GT(std::max(skull.ax, skull.az), 0.8 * room);
    QCOMPARE_LT(skull.ay, det.height / 2.0);
    double thickest = 0;
    for (double th : { 0.0, 0.8, 1.6, 2.4 }) {
        const std::vector<double> img = p.project(det, th);
        thickest = std::max(thickest, *std::max_element(img.begin(), img.end()));
    }
    QCOMPARE_GT(thickest, 1.0);
    QCOMPARE_LT(thickest, 2.5);
    QCOMPARE(p.lineIntegral(0.3, room + 0.5, 0), 0.0);
}

void TestPhantom::edgeBodyJumpsAtTheEdge()
{
    DetectorGeometry det;
    const Phantom p = Phantom::head(det, 1.0, 8979);
    const Ellipsoid &edge = p.ellipsoids[Phantom::edgeBody];
    QCOMPARE(edge.muAt(0), edge.mu);
    QCOMPARE_GT(edge.muAt(8999) / edge.muAt(8959), 2.5);
    QCOMPARE_GT(edge.muAt(9050), edge.muAt(9300)); // falls again above the edge
    for (int k = 0; k < int(p.ellipsoids.size()); ++k) {
        if (k == Phantom::edgeBody)
            continue;
        const double ratio = p.ellipsoids[k].muAt(9100) / p.ellipsoids[k].muAt(8900);
        QVERIFY2(ratio < 1.0 && ratio > 0.9, qPrintable(QString::number(k)));
    }
    // The jump shows in the projections through that body only.
    const double u = edge.cx, v = edge.cy;
    QCOMPARE_GT(p.lineIntegral(0, u, v, 8999) - p.lineIntegral(0, u, v, 8959), 0.1);
}

void TestPhantom::countsAndClamping_data()
{
    QTest::addColumn<double>("integral");
    QTest::addColumn<double>("i0");
    QTest::addColumn<double>("bg");
    QTest::addColumn<int>("pixel");
    QTest::newRow("no sample") << 0.0 << 30000.0 << 100.0 << 30000;
    QTest::newRow("half") << std::log(2.0) << 30000.0 << 100.0 << 15050;
    QTest::newRow("opaque") << 60.0 << 30000.0 << 100.0 << 100;
    QTest::newRow("rounds") << std::log(4.0) << 1002.0 << 0.0 << 251; // 250.5
    QTest::newRow("above 16 bits") << 0.0 << 70000.0 << 0.0 << 65535;
    QTest::newRow("negative integral") << -0.5 << 60000.0 << 0.0 << 65535;
    QTest::newRow("below zero") << 60.0 << 1000.0 << -10.0 << 0;
}

void TestPhantom::countsAndClamping()
{
    QFETCH(double, integral);
    QFETCH(double, i0);
    QFETCH(double, bg);
    QFETCH(int, pixel);
    Projector proj;
    proj.detector.width = 6, proj.detector.height = 4, proj.detector.horizontalAxis = true;
    proj.i0 = i0, proj.bg = bg;
    const std::vector<double> lines(24, integral);
    std::vector<quint16> pixels(24, 7);
    std::mt19937_64 rng;
    proj.toPixels(lines.data(), pixels.data(), rng);
    for (quint16 v : pixels)
        QCOMPARE(int(v), pixel);
}

void TestPhantom::noiseIsReproducibleWithTheRightMean_data()
{
    QTest::addColumn<double>("mean");
    QTest::newRow("bright") << 2000.0;
    QTest::newRow("dim") << 12.0;
    QTest::newRow("few photons") << 3.0;
}

void TestPhantom::noiseIsReproducibleWithTheRightMean()
{
    QFETCH(double, mean);
    Projector proj;
    proj.detector.width = 128, proj.detector.height = 128;
    proj.noise = true, proj.seed = 42, proj.i0 = 4 * mean, proj.bg = 0;
    const size_t n = 128 * 128;
    const std::vector<double> lines(n, std::log(4.0));
    auto image = [&](const Projector &pr, int set, int index) {
        std::vector<quint16> px(n);
        std::mt19937_64 rng = pr.generator(Projector::ProjectionImage, set, index);
        pr.toPixels(lines.data(), px.data(), rng);
        return px;
    };
    const std::vector<quint16> a = image(proj, 0, 5);
    QVERIFY(a == image(proj, 0, 5));
    QVERIFY(a != image(proj, 0, 6));
    QVERIFY(a != image(proj, 1, 5));
    Projector other = proj;
    other.seed = 43;
    QVERIFY(a != image(other, 0, 5));
    double sum = 0, sum2 = 0;
    for (quint16 v : a)
        sum += v, sum2 += double(v) * v;
    const double m = sum / n, var = sum2 / n - m * m;
    QVERIFY2(std::abs(m - mean) < 5 * std::sqrt(mean / n), qPrintable(QString::number(m)));
    QVERIFY2(std::abs(var / mean - 1) < 0.1, qPrintable(QString::number(var)));

    // The shape too: frequencies around the mean against the Poisson probabilities.
    std::mt19937_64 rng(7);
    const int draws = 200000;
    std::map<qint64, int> freq;
    for (int i = 0; i < draws; ++i)
        ++freq[Projector::poisson(mean, rng)];
    for (double z : { -1.5, -0.5, 0.0, 0.7, 2.0 }) {
        const qint64 k = std::llround(mean + z * std::sqrt(mean));
        const double pk = std::exp(k * std::log(mean) - mean - std::lgamma(k + 1.0));
        const double tol = 5 * std::sqrt(pk * (1 - pk) / draws);
        QVERIFY2(std::abs(freq[k] / double(draws) - pk) < tol,
            qPrintable(QString("k %1: %2 vs %3").arg(k).arg(freq[k] / double(draws)).arg(pk)));
    }
}

void TestPhantom::filesReadBack_data()
{
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<double>("energy");
    QTest::newRow("vertical axis") << false << 0.0;
    QTest::newRow("horizontal axis, with energy") << true << 8990.0;
}

void TestPhantom::filesReadBack()
{
    QFETCH(bool, horizontal);
    QFETCH(double, energy);
    QTemporaryDir dir;
    Projector proj;
    proj.detector.width = 24, proj.detector.height = 18, proj.detector.horizontalAxis = horizontal;
    proj.projections = 7, proj.exposureTime = 0.25, proj.threads = 3;
    const Phantom p = Phantom::head(proj.detector);
    QStringList files;
    QString error;
    QVERIFY(proj.writeProjections(p, energy, dir.filePath("set"), "s", 2, &files, &error));
    QCOMPARE(files.size(), 7);
    QCOMPARE(QFileInfo(files[6]).fileName(), QString("s-00006.img"));
    std::vector<double> line(proj.detector.width);
    for (int i = 0; i < files.size(); ++i) {
        const auto img = readItex(files[i]);
        QVERIFY(img);
        QCOMPARE(img->width, 24);
        QCOMPARE(img->height, 18);
        QCOMPARE(img->expTime, 0.25);
        const std::vector<double> integral = p.project(proj.detector, proj.angle(i), energy);
        for (int y = 0; y < img->height; ++y) {
            img->hLine(y, line.data());
            for (int x = 0; x < img->width; ++x)
                QCOMPARE(line[x],
                    double(Projector::toPixel(
                        Projector::counts(integral[y * 24 + x], proj.i0, proj.bg))));
        }
    }
    QVERIFY(proj.writeFlat(dir.filePath("ref/BG.img"), Projector::BGImage, 0, energy, &error));
    const auto bg = readItex(dir.filePath("ref/BG.img"));
    QVERIFY(bg);
    double mn, mx;
    bg->minMax(mn, mx);
    QCOMPARE(mn, proj.bg);
    QCOMPARE(mx, proj.bg);
}

void TestPhantom::energyNamesSortAndFollowTheRules_data()
{
    QTest::addColumn<QList<double>>("energies");
    QTest::newRow("edge scan") << QList<double> { 9100, 8900, 8978.5, 8979, 8980, 9000.25 };
    QTest::newRow("wide") << QList<double> { 950, 9999.9, 12000, 7112 };
}

// The names are checked the way the program reads them: sub-folders sorted by name, each
// name's number in eV; "ZBX Std." files sorted by name, set key up to the last "-", sample
// name up to the key's last "-", energy text after it; the I0 file's energy from the
// second-to-last "-" field of its path.
void TestPhantom::energyNamesSortAndFollowTheRules()
{
    QFETCH(QList<double>, energies);
    QList<double> sorted = energies;
    std::sort(sorted.begin(), sorted.end());
    for (bool keV : { false, true }) {
        QTemporaryDir dir;
        const EnergyNaming naming = EnergyNaming::forEnergies(energies, keV);
        for (double e : energies) {
            const QString t = naming.text(e);
            QVERIFY(QDir(dir.path()).mkdir(t));
            for (int i : { 0, 1, 10 }) {
                QFile f(dir.filePath(Projector::fileName("my-sample-" + t, i, 11)));
                QVERIFY(f.open(QIODevice::WriteOnly));
            }
            QCOMPARE(
                readNameEnergy(dir.filePath("I0-" + t + "-00000.img").section(u'-', -2, -2), true),
                e);
        }
        const QStringList dirs
            = QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        const QStringList files = QDir(dir.path()).entryList({ "*.img" }, QDir::Files, QDir::Name);
        QCOMPARE(dirs.size(), sorted.size());
        QCOMPARE(files.size(), 3 * sorted.size());
        for (int k = 0; k < sorted.size(); ++k) {
            if (!keV)
                QCOMPARE(readNameEnergy(dirs[k], false), sorted[k]);
            for (int i = 0; i < 3; ++i) {
                const QString &name = files[3 * k + i];
                const QString setKey = name.left(name.lastIndexOf(u'-'));
                QCOMPARE(setKey.left(setKey.lastIndexOf(u'-')), QString("my-sample"));
                const QString energyText = setKey.mid(setKey.lastIndexOf(u'-') + 1);
                QCOMPARE(energyText, naming.text(sorted[k]));
                QCOMPARE(readNameEnergy(energyText, true), sorted[k]);
            }
        }
    }
}

void TestPhantom::toolWritesDataSets_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("printed");
    QTest::newRow("CT") << QStringList { "--width", "20", "--height", "6", "-n", "3" }
                        << QStringList { "s-00000.img", "s-00002.img", "ref/I0.img", "ref/BG.img" }
                        << "axis at column 10 ";
    QTest::newRow("CT, horizontal axis, 360") << QStringList { "--width", "6", "--height", "20",
        "-n", "2", "--horizontal-axis", "--range", "360", "--axis-offset", "0.5",
        "--noise" } << QStringList { "s-00000.img", "s-00001.img", "ref/I0.img", "ref/BG.img" }
                                              << "axis at row 10.5 ";
    QTest::newRow("CT-XAFS sub-folders")
        << QStringList { "--width", "20", "--height", "6", "-n", "2", "--energies", "8990,8970.5" }
        << QStringList { "08970_5eV/s-00000.img", "08990_0eV/s-00001.img", "I0-08970_5eV-00000.img",
               "I0-08990_0eV-00000.img", "BG.img" }
        << "2 energies from 8970.5 to 8990 eV";
    QTest::newRow("CT-XAFS ZBX") << QStringList { "--width", "20", "--height", "6", "-n", "2",
        "--energies", "9000:9020:20", "--zbx" }
                                 << QStringList { "s-09_000keV-00000.img", "s-09_020keV-00001.img",
                                        "ref/I0-09_000keV-00000.img", "ref/I0-09_020keV-00000.img",
                                        "ref/BG.img" }
                                 << "\"ZBX Std.\" file sets";
}

void TestPhantom::toolWritesDataSets()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    QFETCH(QString, printed);
    QTemporaryDir dir;
    QProcess p;
    p.start(qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/tools/phantom/vexa2-phantom",
        args << "--name"
             << "s"
             << "-o" << dir.filePath("out"));
    QVERIFY(p.waitForFinished(30000));
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(text.contains(printed), qPrintable(text));
    const int w = args[args.indexOf("--width") + 1].toInt();
    const int h = args[args.indexOf("--height") + 1].toInt();
    for (const QString &f : expected) {
        const auto img = readItex(dir.filePath("out/" + f));
        QVERIFY2(img, qPrintable(f));
        QCOMPARE(img->width, w);
        QCOMPARE(img->height, h);
        QVERIFY2(text.contains(QFileInfo(f).fileName()), qPrintable(f));
    }
    // A second run into the same folder must not mix old and new files.
    p.start(p.program(), p.arguments());
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains("not empty"));
}

void TestPhantom::toolRejectsBadInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed");
    // Usage errors exit 2, apart from the 1 of a run that failed.
    QTest::newRow("range") << QStringList { "--range", "270" } << 2 << QString();
    QTest::newRow("I0 below BG") << QStringList { "--i0", "50", "--bg", "100" } << 2 << QString();
    QTest::newRow("axis off the detector")
        << QStringList { "--width", "20", "--axis-offset", "9" } << 2 << QString();
    QTest::newRow("zbx without energies") << QStringList { "--zbx" } << 2 << QString();
    QTest::newRow("bad energy range")
        << QStringList { "--energies", "9000:8900:10" } << 2 << QString();
    QTest::newRow("same energy name")
        << QStringList { "--energies", "8980,8980.00001" } << 2 << QString();
    QTest::newRow("name with folder") << QStringList { "--name", "a/b" } << 2 << QString();
    QTest::newRow("unknown option")
        << QStringList { "--widht", "20" } << 2 << QString("Unknown option 'widht'");
    QTest::newRow("stray argument") << QStringList { "extra" } << 2 << QString("\"extra\"");
    QTest::newRow("an output folder that cannot be made")
        << QStringList { "-o", "/proc/vexa2-phantom-out" } << 1 << QString("cannot create");
    QTest::newRow("version") << QStringList { "--version" } << 0
                             << QString("vexa2-phantom " VEXA_VERSION);
}

void TestPhantom::toolRejectsBadInput()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, printed);
    QTemporaryDir dir;
    QProcess p;
    p.start(qEnvironmentVariable("VEXA_TEST_BIN_DIR") + "/tools/phantom/vexa2-phantom",
        QStringList { "--width", "16", "--height", "4", "-n", "2", "-o", dir.filePath("out") }
            + args);
    QVERIFY(p.waitForFinished(30000));
    const QString text
        = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    QVERIFY2(p.exitCode() == status, qPrintable(QString::number(p.exitCode()) + ": " + text));
    QVERIFY(!QFileInfo::exists(dir.filePath("out")));
    if (status != 0)
        QVERIFY2(text.startsWith("vexa2-phantom: "), qPrintable(text));
    QVERIFY2(text.contains(printed), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestPhantom)
#include "tst_Phantom.moc"
