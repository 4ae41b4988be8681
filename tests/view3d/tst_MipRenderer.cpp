#include "MipRenderer.h"

#include <QtTest>

#include <numbers>
#include <random>

// A volume of sw x sh x ss voxels held in one array, slice after slice.
struct TestVolume
{
    int sw, sh, ss;
    std::vector<double> v;

    TestVolume(int w, int h, int s, double fill = 0)
        : sw(w)
        , sh(h)
        , ss(s)
        , v(size_t(w) * size_t(h) * size_t(s), fill)
    { }
    double &at(int x, int y, int j) { return v[(size_t(j) * sh + y) * sw + x]; }
    MipVolume mip() const
    {
        MipVolume m;
        m.sw = sw;
        m.sh = sh;
        for (int j = 0; j < ss; ++j)
            m.slices.push_back(v.data() + size_t(j) * sw * sh);
        return m;
    }
};

class TestMipRenderer : public QObject
{
    Q_OBJECT
private slots:
    void brightVoxelPosition_data();
    void brightVoxelPosition();
    void thresholds_data();
    void thresholds();
    void cuttingPlane_data();
    void cuttingPlane();
    void planeAcrossColumns();
    void edgeOnViewShowsNothing();
    void rampColour_data();
    void rampColour();
    void threadsGiveTheSamePicture();
    void fullPictureOfTheInitialView();
    void obliqueViewsFollowTheRays_data();
    void obliqueViewsFollowTheRays();
    void shading_data();
    void shading();
};

namespace {

constexpr double pi = std::numbers::pi;

MipView turned(const Vec3 &axis, double angle)
{
    MipView v;
    v.nx = v.nx.rotated(axis, angle);
    v.ny = v.ny.rotated(axis, angle);
    v.nz = v.nz.rotated(axis, angle);
    return v;
}

QList<QPoint> drawnPixels(const QImage &img)
{
    QList<QPoint> pts;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != 0)
                pts << QPoint(x, y);
    return pts;
}

} // namespace

void TestMipRenderer::brightVoxelPosition_data()
{
    QTest::addColumn<Vec3>("axis");
    QTest::addColumn<double>("angle");
    QTest::addColumn<QPoint>("pixel");
    // The voxel at column 13, row 6 of slice 10 of a 16^3 volume spans x 5...6, y -2...-1 at
    // z = 2; a pan by a quarter pixel puts the rays through cell centres, away from edges.
    QTest::newRow("initial view") << Vec3(0, 0, 1) << 0.0 << QPoint(13, 6);
    QTest::newRow("half turn about y") << Vec3(0, 1, 0) << pi << QPoint(3, 6);
    QTest::newRow("quarter turn about z") << Vec3(0, 0, 1) << pi / 2 << QPoint(6, 3);
    // Tilted by 45 degrees about x, the ray of row 8 meets slice 10 at y = -1.75.
    QTest::newRow("tilt about x") << Vec3(1, 0, 0) << pi / 4 << QPoint(13, 8);
}

void TestMipRenderer::brightVoxelPosition()
{
    QFETCH(Vec3, axis);
    QFETCH(double, angle);
    QFETCH(QPoint, pixel);
    TestVolume vol(16, 16, 16);
    vol.at(13, 6, 10) = 0.5;
    MipView view = turned(axis, angle);
    view.off = Vec3(0.25, 0.25, 0);
    MipStyle style; // window 0 ... 1: the voxel maps to 128
    const QImage img = MipRenderer::renderImage(vol.mip(), view, style, 16, 16);
    QCOMPARE(drawnPixels(img), QList<QPoint> { pixel });
    QCOMPARE(img.pixel(pixel), MipRenderer::rampColour(style.vColor, 128.0, 255));
}

void TestMipRenderer::thresholds_data()
{
    QTest::addColumn<double>("thLow");
    QTest::addColumn<double>("thHigh");
    QTest::addColumn<double>("shown");
    QTest::newRow("inside the window") << 0.0 << 1.0 << 128.0;
    QTest::newRow("narrower window") << 0.25 << 0.75 << 128.0;
    QTest::newRow("below the window") << 0.6 << 1.0 << 0.0;
    // Above the window the value vanishes; it is not drawn in full colour.
    QTest::newRow("above the window") << 0.0 << 0.4 << 0.0;
    // The upper bound belongs to the window: the brightest voxel is drawn in full colour.
    QTest::newRow("at the upper bound") << 0.0 << 0.5 << 255.0;
    QTest::newRow("in the top 1/256") << 0.0 << 0.5005 << 255.0;
    QTest::newRow("at the lower bound") << 0.5 << 1.0 << 0.0;
    QTest::newRow("empty window") << 0.5 << 0.5 << 0.0;
    // Thresholds the other way round invert the ramp between them.
    QTest::newRow("inverted window") << 1.0 << 0.25 << 512.0 / 3;
    QTest::newRow("inverted, value above") << 0.4 << 0.1 << 0.0;
    QTest::newRow("inverted, value below") << 1.0 << 0.6 << 0.0;
}

void TestMipRenderer::thresholds()
{
    QFETCH(double, thLow);
    QFETCH(double, thHigh);
    QFETCH(double, shown);
    TestVolume vol(8, 8, 4);
    vol.at(2, 3, 1) = 0.5;
    MipStyle style;
    style.thLow = thLow;
    style.thHigh = thHigh;
    const QImage img = MipRenderer::renderImage(vol.mip(), MipView(), style, 8, 8);
    if (shown == 0) {
        QVERIFY(drawnPixels(img).isEmpty());
    } else {
        QCOMPARE(drawnPixels(img), QList<QPoint> { QPoint(2, 3) });
        QCOMPARE(img.pixel(2, 3), MipRenderer::rampColour(style.vColor, shown, 255));
    }
}

void TestMipRenderer::cuttingPlane_data()
{
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("slider");
    QTest::addColumn<bool>("atPlane");
    QTest::addColumn<bool>("section");
    QTest::addColumn<double>("shown");
    // One ray through 15 slices (z = j - 7.5): slice 3 holds 0.25, slice 12 holds 0.75 and,
    // in some rows, slice 7 (z = -0.5, within one unit of the plane z = 0) holds 0.5.
    QTest::newRow("no cut") << false << 0 << true << false << 192.0;
    QTest::newRow("back half removed") << true << 0 << false << false << 64.0;
    QTest::newRow("section coloured") << true << 0 << true << true << 128.0;
    QTest::newRow("plane beyond the volume") << true << 100 << true << false << 192.0;
    QTest::newRow("plane before the volume") << true << -100 << true << false << 0.0;
}

void TestMipRenderer::cuttingPlane()
{
    QFETCH(bool, cut);
    QFETCH(int, slider);
    QFETCH(bool, atPlane);
    QFETCH(bool, section);
    QFETCH(double, shown);
    TestVolume vol(4, 4, 15);
    vol.at(1, 1, 3) = 0.25;
    vol.at(1, 1, 12) = 0.75;
    if (atPlane)
        vol.at(1, 1, 7) = 0.5;
    MipStyle style;
    style.cut = cut;
    style.cutB = slider / 100.0 * vol.ss;
    style.csNormal = Vec3(0, 0, 1);
    style.alpha = 200;
    const QImage img = MipRenderer::renderImage(vol.mip(), MipView(), style, 4, 4);
    const QRgb expected = shown == 0
        ? QRgb(0)
        : MipRenderer::rampColour(section ? style.sColor : style.vColor, shown, 200);
    QCOMPARE(img.pixel(1, 1), expected);
    QCOMPARE(drawnPixels(img).size(), shown == 0 ? 0 : 1);
}

void TestMipRenderer::planeAcrossColumns()
{
    // With the normal along x the plane x = 0 removes the right half of a filled volume. A pan
    // by half a pixel puts the rays through the cell centres.
    TestVolume vol(8, 8, 8, 0.5);
    MipView view;
    view.off = Vec3(0.5, 0, 0);
    MipStyle style;
    style.cut = true;
    style.cutB = 0;
    style.csNormal = Vec3(1, 0, 0);
    const QImage img = MipRenderer::renderImage(vol.mip(), view, style, 8, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            // The rays of column 3 run at x = -0.5: within one unit of the plane.
            const QRgb want = x >= 4 ? QRgb(0)
                : x == 3             ? MipRenderer::rampColour(style.sColor, 128, 255)
                                     : MipRenderer::rampColour(style.vColor, 128, 255);
            QCOMPARE(img.pixel(x, y), want);
        }
    }
}

void TestMipRenderer::edgeOnViewShowsNothing()
{
    TestVolume vol(8, 8, 8, 0.5);
    // A quarter turn about y leaves nz.z at about 6e-17, not 0: still edge-on.
    const MipView view = turned(Vec3(0, 1, 0), pi / 2);
    QVERIFY(std::abs(view.nz.z) < 1e-15);
    QVERIFY(drawnPixels(MipRenderer::renderImage(vol.mip(), view, MipStyle(), 16, 16)).isEmpty());
    MipView exact;
    exact.nx = Vec3(0, 0, -1);
    exact.nz = Vec3(1, 0, 0);
    QVERIFY(drawnPixels(MipRenderer::renderImage(vol.mip(), exact, MipStyle(), 16, 16)).isEmpty());
}

void TestMipRenderer::rampColour_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<double>("v");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("full value is the colour")
        << QColor(0, 127, 127) << 255.0 << 255 << qRgba(0, 127, 127, 255);
    QTest::newRow("zero is white")
        << QColor(0, 127, 127) << 0.0 << 128 << qRgba(255, 255, 255, 128);
    // 255 + 128 (c / 255 - 1), truncated: 127 for 0, 190.75 -> 190 for 127.
    QTest::newRow("half way") << QColor(0, 127, 127) << 128.0 << 255 << qRgba(127, 190, 190, 255);
    QTest::newRow("alpha out of range is clamped")
        << QColor(127, 0, 0) << 255.0 << 300 << qRgba(127, 0, 0, 255);
}

void TestMipRenderer::rampColour()
{
    QFETCH(QColor, colour);
    QFETCH(double, v);
    QFETCH(int, alpha);
    QFETCH(QRgb, expected);
    QCOMPARE(MipRenderer::rampColour(colour, v, alpha), expected);
}

void TestMipRenderer::threadsGiveTheSamePicture()
{
    TestVolume vol(40, 30, 20);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> d(0, 1);
    for (double &x : vol.v)
        x = d(gen);
    MipView view = turned(Vec3(0.6, 0, 0.8), 0.7);
    view.scale = 0.8;
    MipStyle style;
    style.thLow = 0.1;
    style.thHigh = 0.95;
    style.cut = true;
    style.cutB = 2;
    style.csNormal = view.nz;
    std::vector<QRgb> one(64 * 61), many(64 * 61);
    MipRenderer::render(vol.mip(), view, style, 64, 61, one.data(), 1);
    MipRenderer::render(vol.mip(), view, style, 64, 61, many.data(), 5);
    QVERIFY(one == many);
    QVERIFY(std::count(one.begin(), one.end(), QRgb(0)) < qsizetype(one.size()) / 2);
}

void TestMipRenderer::fullPictureOfTheInitialView()
{
    // With the initial view, scale 1 and a picture the size of the slices, pixel (c, r)
    // shows the largest windowed value of column c, row r over all slices.
    TestVolume vol(32, 32, 9);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> d(0, 10);
    for (double &x : vol.v)
        x = d(gen);
    MipStyle style;
    style.thLow = 1;
    style.thHigh = 9;
    const QImage img = MipRenderer::renderImage(vol.mip(), MipView(), style, 32, 32);
    for (int r = 0; r < 32; ++r) {
        for (int c = 0; c < 32; ++c) {
            double best = 0;
            for (int j = 0; j < 9; ++j) {
                const double x = vol.at(c, r, j);
                if (x >= 1 && x <= 9)
                    best = std::max(best, std::min((x - 1) / 8 * 256, 255.0));
            }
            const QRgb want = best > 0 ? MipRenderer::rampColour(style.vColor, best, 255) : 0;
            QCOMPARE(img.pixel(c, r), want);
        }
    }
}

void TestMipRenderer::obliqueViewsFollowTheRays_data()
{
    QTest::addColumn<Vec3>("axis");
    QTest::addColumn<double>("angle");
    QTest::addColumn<double>("scale");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("ranges");
    QTest::addColumn<double>("thLow");
    QTest::addColumn<double>("thHigh");
    QTest::addColumn<bool>("bytes"); // values 0 ... 255 read as bytes
    QTest::newRow("oblique") << Vec3(0.6, 0.8, 0) << 0.5 << 0.7 << false << false << 0.2 << 0.9
                             << false;
    QTest::newRow("oblique, slice ranges")
        << Vec3(0.6, 0.8, 0) << 0.5 << 0.7 << false << true << 0.2 << 0.9 << false;
    QTest::newRow("steep, zoomed out")
        << Vec3(1, 0.2, 0.1) << 1.0 << 1.3 << false << true << 0.05 << 0.6 << false;
    QTest::newRow("saturating window")
        << Vec3(0.3, 1, 0.2) << 0.8 << 0.5 << false << true << 0.1 << 0.3 << false;
    QTest::newRow("inverted window")
        << Vec3(0.2, 0.9, 0.4) << 0.6 << 0.6 << false << true << 0.9 << 0.3 << false;
    QTest::newRow("cutting plane")
        << Vec3(0.6, 0.8, 0) << 0.5 << 0.7 << true << true << 0.2 << 0.9 << false;
    QTest::newRow("cutting plane, steep")
        << Vec3(0.9, -0.3, 0.3) << 1.1 << 0.9 << true << true << 0.05 << 0.95 << false;
    QTest::newRow("bytes, oblique")
        << Vec3(0.6, 0.8, 0) << 0.5 << 0.7 << false << true << 51.0 << 229.5 << true;
    QTest::newRow("bytes, inverted window")
        << Vec3(0.2, 0.9, 0.4) << 0.6 << 0.6 << false << true << 229.0 << 76.5 << true;
    QTest::newRow("bytes, cutting plane")
        << Vec3(0.9, -0.3, 0.3) << 1.1 << 0.9 << true << true << 12.75 << 242.0 << true;
}

// Against the rays followed one by one, as the view is defined: the ray of each pixel
// meets slice j at P = P0 + t nz, samples the nearest pixel, and keeps the largest
// windowed value (or, with the plane, the last one within a unit of it).
void TestMipRenderer::obliqueViewsFollowTheRays()
{
    QFETCH(Vec3, axis);
    QFETCH(double, angle);
    QFETCH(double, scale);
    QFETCH(bool, cut);
    QFETCH(bool, ranges);
    QFETCH(double, thLow);
    QFETCH(double, thHigh);
    QFETCH(bool, bytes);
    // A ball of random material in empty slices, with a few voxels at the top of the range.
    TestVolume vol(37, 29, 23);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> d(0, 1);
    const double top = bytes ? 255.0 : 1.0;
    for (int j = 0; j < vol.ss; ++j)
        for (int y = 0; y < vol.sh; ++y)
            for (int x = 0; x < vol.sw; ++x)
                if (std::hypot(x - 18.0, y - 14.0, j - 11.0) < 10.5)
                    vol.at(x, y, j) = d(gen) < 0.05 ? top
                        : bytes                     ? std::round(255 * d(gen))
                                                    : d(gen);
    MipVolume mv = vol.mip();
    std::vector<unsigned char> asBytes(vol.v.begin(), vol.v.end());
    if (ranges) {
        for (int j = 0; j < vol.ss; ++j) {
            const auto first = vol.v.begin() + qsizetype(j) * vol.sw * vol.sh;
            const auto [mn, mx] = std::minmax_element(first, first + vol.sw * vol.sh);
            mv.sliceMin.push_back(*mn);
            mv.sliceMax.push_back(*mx);
        }
    }
    MipView view = turned(axis * (1.0 / axis.length()), angle);
    view.scale = scale;
    view.off = Vec3(1.5, -2, 0.5);
    MipStyle style;
    style.thLow = thLow;
    style.thHigh = thHigh;
    style.cut = cut;
    style.cutB = 1.5;
    style.csNormal = Vec3(0.3, 0.4, 0.866) * (1.0 / Vec3(0.3, 0.4, 0.866).length());
    style.alpha = 200;
    const int pw = 61, ph = 53;
    const QImage img = MipRenderer::renderImage(mv, view, style, pw, ph);
    // The same values with their grey levels for this window: the same picture, pixel for
    // pixel; levels made for another window are not used.
    std::vector<unsigned char> levels(vol.v.size());
    MipRenderer::greyLevels(vol.v.data(), vol.v.size(), thLow, thHigh, levels.data());
    MipVolume withLevels = mv;
    for (int j = 0; j < vol.ss; ++j)
        withLevels.greyLevels.push_back(levels.data() + size_t(j) * vol.sw * vol.sh);
    withLevels.greyThLow = thLow;
    withLevels.greyThHigh = thHigh;
    QCOMPARE(MipRenderer::renderImage(withLevels, view, style, pw, ph), img);
    std::fill(levels.begin(), levels.end(), 0);
    withLevels.greyThHigh = thHigh + 1e-9;
    QCOMPARE(MipRenderer::renderImage(withLevels, view, style, pw, ph), img);
    if (bytes) {
        // The same volume read as bytes: the same picture, pixel for pixel.
        for (int j = 0; j < vol.ss; ++j)
            mv.bytes.push_back(asBytes.data() + size_t(j) * vol.sw * vol.sh);
        QCOMPARE(MipRenderer::renderImage(mv, view, style, pw, ph), img);
    }

    const double lo = std::min(thLow, thHigh), hi = std::max(thLow, thHigh);
    int differ = 0;
    for (int r = 0; r < ph; ++r) {
        for (int c = 0; c < pw; ++c) {
            const Vec3 p0
                = view.off + view.scale * ((c - pw / 2.0) * view.nx + (r - ph / 2.0) * view.ny);
            double mip = 0, secVal = 0;
            for (int j = 0; j < vol.ss; ++j) {
                const double t = (j - vol.ss / 2.0 - p0.z) / view.nz.z;
                const Vec3 p = p0 + t * view.nz;
                const double fx = vol.sw / 2.0 + p.x, fy = vol.sh / 2.0 + p.y;
                if (!(fx > -1 && fx < vol.sw && fy > -1 && fy < vol.sh))
                    continue;
                const double dist = p.dot(style.csNormal);
                if (cut && dist >= style.cutB)
                    continue;
                const double x = vol.at(int(fx), int(fy), j);
                double v = (x >= lo && x <= hi) ? (x - thLow) / (thHigh - thLow) * 256 : 0;
                v = v > 0 ? std::min(v, 255.0) : 0;
                mip = std::max(mip, v);
                if (cut && dist > style.cutB - 1 && dist < style.cutB + 1)
                    secVal = v;
            }
            const QRgb want = cut && secVal > 0 ? MipRenderer::rampColour(style.sColor, secVal, 200)
                : mip > 0                       ? MipRenderer::rampColour(style.vColor, mip, 200)
                                                : 0;
            differ += img.pixel(c, r) != want;
        }
    }
    // Rays passing a voxel's edge within rounding may pick either neighbour.
    QVERIFY2(differ <= 3, qPrintable(QString("%1 pixels differ").arg(differ)));
    QVERIFY2(drawnPixels(img).size() > 100, qPrintable(QString::number(drawnPixels(img).size())));
}

void TestMipRenderer::shading_data()
{
    // A 3 x 3 layer whose rows are alike (so no slope up or down): the left, middle and right
    // columns' pixels, and the middle pixel after shading with relief 4 and ambient 0.35. The
    // light is (-1, -1, 1) / sqrt 3; a height is the palest channel's fall from 255, over 255.
    QTest::addColumn<QRgb>("left");
    QTest::addColumn<QRgb>("middle");
    QTest::addColumn<QRgb>("right");
    QTest::addColumn<QRgb>("expected");
    const QRgb none = qRgba(10, 20, 30, 0);
    // Flat: n = (0, 0, 1), n.l = 0.57735, factor 0.35 + 0.65 x 0.57735 = 0.725278.
    QTest::newRow("flat") << qRgba(55, 155, 255, 200) << qRgba(55, 155, 255, 200)
                          << qRgba(55, 155, 255, 200) << qRgba(39, 112, 184, 200);
    // Rising to the right from nothing (0) to black (1): gx = 4 x 1 / 2 = 2, n.l = 3 / sqrt 15
    // = 0.774597, factor 0.853488: the slope faces the light.
    QTest::newRow("facing the light")
        << none << qRgba(127, 127, 127, 255) << qRgba(0, 0, 0, 255) << qRgba(108, 108, 108, 255);
    // Falling to the right: n.l < 0, the ambient part alone.
    QTest::newRow("facing away") << qRgba(0, 0, 0, 255) << qRgba(127, 127, 127, 255) << none
                                 << qRgba(44, 44, 44, 255);
    QTest::newRow("nothing drawn stays")
        << qRgba(0, 0, 0, 255) << none << qRgba(0, 0, 0, 255) << none;
}

void TestMipRenderer::shading()
{
    QFETCH(QRgb, left);
    QFETCH(QRgb, middle);
    QFETCH(QRgb, right);
    QFETCH(QRgb, expected);
    QImage layer(3, 3, QImage::Format_ARGB32);
    for (int r = 0; r < 3; ++r) {
        layer.setPixel(0, r, left);
        layer.setPixel(1, r, middle);
        layer.setPixel(2, r, right);
    }
    MipRenderer::shade(layer, 4.0, 0.35);
    const QRgb got = layer.pixel(1, 1);
    QVERIFY2(got == expected,
        qPrintable(QString("%1 %2 %3 %4")
                       .arg(qRed(got))
                       .arg(qGreen(got))
                       .arg(qBlue(got))
                       .arg(qAlpha(got))));
}

QTEST_MAIN(TestMipRenderer)
#include "tst_MipRenderer.moc"
