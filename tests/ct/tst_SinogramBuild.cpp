#include "HSgm.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ItexWriter.h"
#include "ProcCtrl.h"
#include "SinogramBuild.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Image k, line `slice`, pixel j holds 100 + 10 k + j + 1000 slice; I0 and BG are flat.
class FakeLines : public DetectorLines
{
public:
    int length = 12;
    int lines = 3;
    int images = 8;
    bool haveI0 = true;
    bool haveBg = true;
    double i0 = 1000.0;
    double bg = 10.0;
    // Replaces pixel 5 of image 3 when not 0 (a float file may hold infinities).
    double spike = 0.0;

    int lineLength() const override { return length; }
    int lineCount() const override { return lines; }
    int imageCount() const override { return images; }
    void readProjection(int image, int slice, double *out) const override
    {
        for (int j = 0; j < length; ++j)
            out[j] = value(image, slice, j);
        if (spike != 0.0 && image == 3)
            out[5] = spike;
    }
    bool readI0(int, double *out) const override
    {
        std::fill(out, out + length, i0);
        return haveI0;
    }
    bool readBg(int, double *out) const override
    {
        std::fill(out, out + length, bg);
        return haveBg;
    }
    static double value(int image, int slice, double j)
    {
        return 100 + 10 * image + j + 1000 * slice;
    }
};

} // namespace

class TestSinogramBuild : public QObject
{
    Q_OBJECT
private slots:
    void selectProjections_data();
    void selectProjections();
    void rowsComeFromWrappingImages();
    void missingI0AndBgAndDarkSamples_data();
    void missingI0AndBgAndDarkSamples();
    void badCentreOrSliceLeavesRecord_data();
    void badCentreOrSliceLeavesRecord();
    void windowWithoutRoomOrImagesGivesEmptyRecord();
    void fromImageFilesAlongBothAxes_data();
    void fromImageFilesAlongBothAxes();
    void deadPixelsMended_data();
    void deadPixelsMended();
};

void TestSinogramBuild::selectProjections_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("partial");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("usingImages");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("rows");
    QTest::newRow("whole set") << 8 << false << 5 << 10 << 0 << 8;
    QTest::newRow("partial wraps") << 8 << true << 5 << 10 << 5 << 10;
    QTest::newRow("negative start") << 8 << true << -1 << 3 << 0 << 3;
    QTest::newRow("start past the end") << 8 << true << 8 << 3 << 0 << 3;
    QTest::newRow("negative count") << 8 << true << 2 << -4 << 2 << 4;
    QTest::newRow("empty set") << 0 << false << 0 << 5 << 0 << 0;
}

void TestSinogramBuild::selectProjections()
{
    QFETCH(int, count);
    QFETCH(bool, partial);
    QFETCH(int, start);
    QFETCH(int, usingImages);
    QFETCH(int, first);
    QFETCH(int, rows);
    const ProjectionSelection sel = ::selectProjections(count, partial, start, usingImages);
    QCOMPARE(sel.first, first);
    QCOMPARE(sel.rows, rows);
}

void TestSinogramBuild::rowsComeFromWrappingImages()
{
    FakeLines lines;
    HSgm s;
    // Start 5, 10 images of 8: images 5, 6, 7, 0, 1, ..., 6.
    QVERIFY(buildSinogram(s, lines, { 5, 10 }, true, 5.5, 2));
    QCOMPARE(s.slice, 2);
    QCOMPARE(s.h, 10);
    QCOMPARE(s.w, 2 * 5 - 1); // half = min(5.5, 5.5)
    for (int i = 0; i < s.h; ++i) {
        const int image = (5 + i) % 8;
        for (int j = 0; j < s.w; ++j) {
            const double raw = FakeLines::value(image, 2, 5.5 + j - 4);
            QVERIFY(std::abs(s.rawRow(i)[j] - raw) < 1e-9);
            QVERIFY(std::abs(s.sgmRow(i)[j] - std::log((1000.0 - 10.0) / (raw - 10.0))) < 1e-12);
        }
    }
}

void TestSinogramBuild::missingI0AndBgAndDarkSamples_data()
{
    QTest::addColumn<bool>("haveI0");
    QTest::addColumn<bool>("haveBg");
    QTest::addColumn<double>("bg");
    QTest::addColumn<double>("i0");
    QTest::addColumn<double>("spike");
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("no I0 (1) nor BG (0)") << false << false << 10.0 << 1000.0 << 0.0;
    // Projections darker than the background: the denominator becomes 1.
    QTest::newRow("darker than BG") << true << true << 5000.0 << 9000.0 << 0.0;
    // I0 below BG: the numerator becomes 1 as well.
    QTest::newRow("I0 below BG") << true << true << 5000.0 << 4000.0 << 0.0;
    // An infinity in a float file becomes NaN in the resampling, and a NaN difference counts
    // as 1 too: one infinite attenuation would turn the whole slice into NaN.
    QTest::newRow("infinite sample") << true << true << 10.0 << 1000.0 << inf;
}

void TestSinogramBuild::missingI0AndBgAndDarkSamples()
{
    QFETCH(bool, haveI0);
    QFETCH(bool, haveBg);
    QFETCH(double, bg);
    QFETCH(double, i0);
    QFETCH(double, spike);
    FakeLines lines;
    lines.haveI0 = haveI0;
    lines.haveBg = haveBg;
    lines.bg = bg;
    lines.i0 = i0;
    lines.spike = spike;
    HSgm s;
    QVERIFY(buildSinogram(s, lines, { 0, 8 }, true, 6.0, 0));
    const double i0Used = haveI0 ? i0 : 1.0;
    const double bgUsed = haveBg ? bg : 0.0;
    for (int i = 0; i < s.h; ++i)
        for (int j = 0; j < s.w; ++j) {
            double a = i0Used - bgUsed;
            double b = s.rawRow(i)[j] - bgUsed;
            if (!(a > 0))
                a = 1.0;
            if (!(b > 0))
                b = 1.0;
            QVERIFY(std::isfinite(s.sgmRow(i)[j]));
            QVERIFY(std::abs(s.sgmRow(i)[j] - std::log(a / b)) < 1e-12);
        }
}

void TestSinogramBuild::badCentreOrSliceLeavesRecord_data()
{
    QTest::addColumn<double>("cor");
    QTest::addColumn<int>("slice");
    QTest::newRow("floor 0") << 0.5 << 0;
    QTest::newRow("ceil reaches L") << 11.2 << 0;
    QTest::newRow("far right") << 1e200 << 0;
    QTest::newRow("not a number") << std::nan("") << 0;
    QTest::newRow("slice below") << 6.0 << -1;
    QTest::newRow("slice past the image") << 6.0 << 3;
}

void TestSinogramBuild::badCentreOrSliceLeavesRecord()
{
    QFETCH(double, cor);
    QFETCH(int, slice);
    FakeLines lines;
    HSgm s;
    QVERIFY(buildSinogram(s, lines, { 0, 8 }, true, 6.0, 1));
    const double *before = s.sgm.get();
    const double first = s.sgm[0];
    QVERIFY(!buildSinogram(s, lines, { 0, 4 }, true, cor, slice));
    QCOMPARE(s.slice, 1);
    QCOMPARE(s.h, 8);
    QCOMPARE(s.w, 9);
    QCOMPARE(s.sgm.get(), before);
    QCOMPARE(s.sgm[0], first);
}

void TestSinogramBuild::windowWithoutRoomOrImagesGivesEmptyRecord()
{
    FakeLines lines; // L = 12: a centre in (10, 11] leaves half = 0
    HSgm s;
    QVERIFY(buildSinogram(s, lines, { 0, 8 }, true, 10.5, 0));
    QCOMPARE(s.w, -1);
    QVERIFY(!s.hasData());
    // 1 <= cor < 2: one sample per row.
    QVERIFY(buildSinogram(s, lines, { 0, 8 }, true, 1.25, 0));
    QCOMPARE(s.w, 1);
    QVERIFY(s.hasData());
    QVERIFY(std::abs(s.rawRow(3)[0] - FakeLines::value(3, 0, 1.25)) < 1e-9);
    // An empty set: no rows, no arrays.
    lines.images = 0;
    QVERIFY(buildSinogram(s, lines, { 0, 5 }, true, 6.0, 0));
    QCOMPARE(s.h, 0);
    QVERIFY(!s.hasData());
}

void TestSinogramBuild::fromImageFilesAlongBothAxes_data()
{
    QTest::addColumn<bool>("rotAxIsV");
    QTest::addColumn<bool>("partial");
    QTest::newRow("vertical axis: rows") << true << false;
    QTest::newRow("horizontal axis: columns") << false << false;
    QTest::newRow("vertical, partial wrapping") << true << true;
}

void TestSinogramBuild::fromImageFilesAlongBothAxes()
{
    QFETCH(bool, rotAxIsV);
    QFETCH(bool, partial);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const int width = 9;
    const int height = 7;
    auto pixel = [](int image, int x, int y) { return quint16(200 + 30 * image + 5 * x + 11 * y); };
    ImgDatas set;
    for (int k = 0; k < 4; ++k) {
        std::vector<quint16> px(width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                px[y * width + x] = pixel(k, x, y);
        const QString path = dir.filePath(QString("p%1.img").arg(k));
        QVERIFY(writeItexFile(path, width, height, 2, px.data()));
        QVERIFY(set.add(path));
    }
    // I0 from a file; BG from a reader of another size, which must count as absent.
    std::vector<quint16> flat(width * height, 4000);
    QVERIFY(writeItexFile(dir.filePath("i0.img"), width, height, 2, flat.data()));
    std::unique_ptr<ImgData> i0(ImgData::create(0));
    i0->fileName = dir.filePath("i0.img");
    QVERIFY(i0->load());
    std::vector<quint16> small(4, 100);
    QVERIFY(writeItexFile(dir.filePath("bg.img"), 2, 2, 2, small.data()));
    std::unique_ptr<ImgData> bg(ImgData::create(0));
    bg->fileName = dir.filePath("bg.img");
    QVERIFY(bg->load());
    ImgData *i0p = i0.get();
    ImgData *bgp = bg.get();
    set.i0 = &i0p;
    set.bg = &bgp;

    PartialDataSet pds;
    pds.enabled = partial;
    pds.startImageNo = 3;
    pds.usingImages = 6;
    const int slice = 2;
    const double cor = 3.5;
    HSgm s;
    QVERIFY(buildSinogram(s, set, pds, rotAxIsV, cor, slice));
    const int rows = partial ? 6 : 4;
    const int first = partial ? 3 : 0;
    QCOMPARE(s.h, rows);
    const int length = rotAxIsV ? width : height;
    const int half = int(std::floor(std::min(cor, length - cor - 1)));
    QCOMPARE(s.w, 2 * half - 1);
    for (int i = 0; i < rows; ++i) {
        const int image = (first + i) % 4;
        for (int j = 0; j < s.w; ++j) {
            const double p = cor + j - (half - 1);
            const int a = int(std::floor(p));
            const double fa = rotAxIsV ? pixel(image, a, slice) : pixel(image, slice, a);
            const double fb = rotAxIsV ? pixel(image, a + 1, slice) : pixel(image, slice, a + 1);
            const double raw = fa + (p - a) * (fb - fa);
            QVERIFY(std::abs(s.rawRow(i)[j] - raw) < 1e-9);
            QVERIFY(std::abs(s.sgmRow(i)[j] - std::log(4000.0 / raw)) < 1e-12);
        }
    }
}

void TestSinogramBuild::deadPixelsMended_data()
{
    QTest::addColumn<double>("reading"); // of pixel 7 in every projection, and of I0 there
    QTest::addColumn<bool>("mend");
    QTest::addColumn<bool>("mended");
    QTest::newRow("dead, at the dark level") << 10.0 << true << true;
    QTest::newRow("saturated, at the top of the range") << 65535.0 << true << true;
    QTest::newRow("dead, ring removal off") << 10.0 << false << false;
    QTest::newRow("a working pixel") << -1.0 << true << false;
}

void TestSinogramBuild::deadPixelsMended()
{
    QFETCH(double, reading);
    QFETCH(bool, mend);
    QFETCH(bool, mended);
    // Readings rise by 1 per pixel (FakeLines); pixel 7 reads `reading` in every projection
    // (and in the I0 image, where a saturated pixel saturates too).
    class DeadLines : public FakeLines
    {
    public:
        double reading = -1.0;
        void readProjection(int image, int slice, double *out) const override
        {
            FakeLines::readProjection(image, slice, out);
            if (reading >= 0.0)
                out[7] = reading;
        }
        bool readI0(int slice, double *out) const override
        {
            FakeLines::readI0(slice, out);
            if (reading > i0)
                out[7] = reading;
            return true;
        }
    } lines;
    lines.reading = reading;
    HSgm s;
    s.mendDeadPixels = mend;
    QVERIFY(buildSinogram(s, lines, { 0, 8 }, true, 6.0, 0));
    QCOMPARE(s.mendedPixels, mended ? std::vector<int> { 7 } : std::vector<int> {});
    const int k = 5; // pixel 7: the window around 6 starts at pixel 2
    for (int i = 0; i < s.h; ++i) {
        // Mended: the straight line between pixels 6 and 8, as a working pixel reads.
        const double want
            = std::log((lines.i0 - lines.bg) / (FakeLines::value(i, 0, 7) - lines.bg));
        const double got = s.sgmRow(i)[k];
        if (mended || reading < 0)
            QVERIFY2(std::abs(got - want) < 1e-9,
                qPrintable(QString("%1 vs %2").arg(got).arg(want)));
        else
            QVERIFY(std::abs(got - want) > 0.1);
    }
}

QTEST_MAIN(TestSinogramBuild)
#include "tst_SinogramBuild.moc"
