#include "ColorBar.h"
#include "ImgData.h"
#include "ImgDataITEX.h"
#include "ImgDataTiff.h"
#include "ImgPicture.h"
#include "InputTestUtil.h"
#include "ItexWriter.h"

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

// ITEX reading through the public reader interface: header comment parsing, pixel widths,
// refusal of damaged files, concurrent line reads, and the grey picture.
class tst_ImgData : public QObject
{
    Q_OBJECT

private slots:
    void fileType_data();
    void fileType();
    void comment_data();
    void comment();
    void pixelValues_data();
    void pixelValues();
    void badInput_data();
    void badInput();
    void largeImageRowsAndColumns();
    void allocationFailureRefusesTheFile();
    void concurrentLines();
    void minMaxAndImage_data();
    void minMaxAndImage();
    void notReady();

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    std::unique_ptr<ImgData> loadFile(const QString &file, bool *ok);
    QTemporaryDir dir;
};

std::unique_ptr<ImgData> tst_ImgData::loadFile(const QString &file, bool *ok)
{
    std::unique_ptr<ImgData> d(ImgData::create(ImgData::fileType(file)));
    *ok = false;
    if (d) {
        d->fileName = file;
        *ok = d->load();
    }
    return d;
}

void tst_ImgData::fileType_data()
{
    QTest::addColumn<QByteArray>("content"); // null: the file does not exist
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("ITEX") << QByteArray("IM\0\0", 4) << 0 << QStringList();
    QTest::newRow("TIFF little-endian") << QByteArray("II*\0", 4) << 1 << QStringList();
    QTest::newRow("TIFF big-endian") << QByteArray("MM\0*", 4) << 1 << QStringList();
    QTest::newRow("lower case is not a mark")
        << QByteArray("im") << 2 << QStringList { "Unknown file type : %1" };
    QTest::newRow("one byte") << QByteArray("I") << 2 << QStringList { "Unknown file type : %1" };
    QTest::newRow("empty") << QByteArray("") << 2 << QStringList { "Unknown file type : %1" };
    QTest::newRow("missing") << QByteArray() << 2
                             << QStringList { "Check File Type (ITEX):: Can not open %1",
                                    "Check File Type (TIFF):: Can not open %1",
                                    "Unknown file type : %1" };
}

void tst_ImgData::fileType()
{
    QFETCH(QByteArray, content);
    QFETCH(int, type);
    QFETCH(QStringList, log);

    const QString file = path(QString("type-%1").arg(QTest::currentDataTag()));
    if (!content.isNull())
        QVERIFY(writeBytes(file, content));
    LogCapture cap;
    QCOMPARE(ImgData::fileType(file), type);
    for (QString &l : log)
        l = l.arg(file);
    QCOMPARE(cap.lines, log);

    std::unique_ptr<ImgData> d(ImgData::create(type));
    QCOMPARE(d != nullptr, type != 2);
    if (type == 0)
        QVERIFY(dynamic_cast<ImgDataITEX *>(d.get()));
    if (type == 1)
        QVERIFY(dynamic_cast<ImgDataTiff *>(d.get()));
}

void tst_ImgData::comment_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<int>("blockBytes"); // bytes of pixel data after the comment
    QTest::addColumn<bool>("loads"); // a refused header fails without a message of its own
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<double>("expTime");

    QTest::newRow("explicit size wins over areSource")
        << QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=3,areSource=\"0,0,2048,2048\","
                      "BytesPerPixel=2,")
        << 24 << true << 4 << 3 << 2 << 1.0;
    QTest::newRow("areSource with quoted commas")
        << QByteArray("areSource=\"0,0,2048,2048\",BytesPerPixel=2,") << 2048 * 2048 * 2 << true
        << 2048 << 2048 << 2 << 1.0;
    QTest::newRow("areSource with an origin")
        << QByteArray("areSource=\"10,20,14,23\",BytesPerPixel=4,") << 48 << true << 4 << 3 << 4
        << 1.0;
    QTest::newRow("width below 1 falls back to areSource") << QByteArray(
        "Prop_ImageWidth=0,Prop_ImageHeight=3,areSource=\"0,0,4,9\","
        "BytesPerPixel=2,") << 24 << true << 4 << 3 << 2 << 1.0;
    QTest::newRow("quoted value") << QByteArray(
        "Prop_ImageWidth=\"4\",Prop_ImageHeight=3,BytesPerPixel=2,")
                                  << 24 << true << 4 << 3 << 2 << 1.0;
    QTest::newRow("last item without comma is ignored")
        << QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=3,BytesPerPixel=2,"
                      "Prop_ExposureTime1=5")
        << 24 << true << 4 << 3 << 2 << 1.0;
    QTest::newRow("size in the unterminated last item")
        << QByteArray("Prop_ImageWidth=4,BytesPerPixel=2,Prop_ImageHeight=3") << 24 << false << 0
        << 0 << 0 << 1.0;
    QTest::newRow("blank before key does not match")
        << QByteArray("Prop_ImageWidth=4,\r\nProp_ImageHeight=3,BytesPerPixel=2,") << 24 << false
        << 0 << 0 << 0 << 1.0;
    QTest::newRow("key is case-sensitive")
        << QByteArray("prop_imagewidth=4,Prop_ImageHeight=3,BytesPerPixel=2,") << 24 << false << 0
        << 0 << 0 << 1.0;
    QTest::newRow("exposure time absent")
        << QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=3,BytesPerPixel=2,") << 24 << true << 4
        << 3 << 2 << 1.0;
    QTest::newRow("exposure time 2 after 1 wins")
        << QByteArray("Prop_ExposureTime1=0.5,Prop_ImageWidth=4,Prop_ImageHeight=3,"
                      "Prop_ExposureTime2=2.5,BytesPerPixel=2,")
        << 24 << true << 4 << 3 << 2 << 2.5;
    QTest::newRow("exposure time 1 after 2 wins")
        << QByteArray("Prop_ExposureTime2=2.5,Prop_ExposureTime1=0.125,Prop_ImageWidth=4,"
                      "Prop_ImageHeight=3,BytesPerPixel=2,")
        << 24 << true << 4 << 3 << 2 << 0.125;
    QTest::newRow("exposure with a blank before the key is not read") << QByteArray(
        "Prop_ImageWidth=4,Prop_ImageHeight=3, Prop_ExposureTime1=3,"
        "BytesPerPixel=2,") << 24 << true << 4 << 3 << 2 << 1.0;
    QTest::newRow("unreadable exposure counts as 0")
        << QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=3,Prop_ExposureTime1=abc,"
                      "BytesPerPixel=2,")
        << 24 << true << 4 << 3 << 2 << 0.0;
    QTest::newRow("32-bit pixels")
        << QByteArray("Prop_ImageWidth=4,Prop_ImageHeight=3,BytesPerPixel=4,") << 48 << true << 4
        << 3 << 4 << 1.0;
}

void tst_ImgData::comment()
{
    QFETCH(QByteArray, comment);
    QFETCH(int, blockBytes);
    QFETCH(bool, loads);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bytesPerPixel);
    QFETCH(double, expTime);

    const QString file = path("comment.img");
    QVERIFY(writeRawItex(file, comment, blockBytes));
    LogCapture cap;
    bool ok = false;
    std::unique_ptr<ImgData> d = loadFile(file, &ok);
    QCOMPARE(ok, loads);
    QCOMPARE(cap.lines, QStringList());
    QCOMPARE(d->ready, ok);
    auto *itex = dynamic_cast<ImgDataITEX *>(d.get());
    QVERIFY(itex);
    if (ok) {
        QCOMPARE(d->width, width);
        QCOMPARE(d->height, height);
        QCOMPARE(itex->bytesPerPixel, bytesPerPixel);
        QCOMPARE(itex->pixelOffset, 64 + comment.size());
        QCOMPARE(int(d->hBuf.size()), width);
        QCOMPARE(int(d->vBuf.size()), height);
    }
    QCOMPARE(d->expTime, expTime);
}

void tst_ImgData::pixelValues_data()
{
    QTest::addColumn<int>("bytesPerPixel");
    QTest::newRow("16-bit") << 2;
    QTest::newRow("32-bit") << 4;
}

void tst_ImgData::pixelValues()
{
    QFETCH(int, bytesPerPixel);
    const int w = 5, h = 3;
    const quint32 top = bytesPerPixel == 2 ? 0xffffu : 0xffffffffu;
    std::vector<quint32> v(w * h);
    for (int i = 0; i < w * h; ++i)
        v[i] = quint32(i * 4099 + 1) & top;
    v[3] = top; // all bits set
    v[7] = 0;
    v[8] = bytesPerPixel == 2 ? 0x8000u : 0x80000000u; // high bit alone: unsigned, not negative
    std::vector<quint16> v16(v.begin(), v.end());
    const void *src = bytesPerPixel == 2 ? static_cast<const void *>(v16.data()) : v.data();
    const QString file = path("values.img");
    QVERIFY(writeItexFile(file, w, h, bytesPerPixel, src, 0.75));

    bool ok = false;
    std::unique_ptr<ImgData> d = loadFile(file, &ok);
    QVERIFY(ok);
    QCOMPARE(d->expTime, 0.75);
    std::vector<double> row(w), col(h);
    for (int y = 0; y < h; ++y) {
        QCOMPARE(d->hLine(y, row.data()), row.data());
        for (int x = 0; x < w; ++x)
            QCOMPARE(row[x], double(v[y * w + x]));
    }
    for (int x = 0; x < w; ++x) {
        QCOMPARE(d->vLine(x, col.data()), col.data());
        for (int y = 0; y < h; ++y)
            QCOMPARE(col[y], double(v[y * w + x]));
    }
    // Lines outside the image are zeros, not reads beyond the block.
    std::fill(row.begin(), row.end(), 9.0);
    d->hLine(h, row.data());
    QCOMPARE(row, std::vector<double>(w, 0.0));
    std::fill(col.begin(), col.end(), 9.0);
    d->vLine(-1, col.data());
    QCOMPARE(col, std::vector<double>(h, 0.0));
    // A part of the image (the detector lines of a chunk of slices) reads as the whole does.
    QCOMPARE(partsMismatch(file, [] { return std::make_unique<ImgDataITEX>(); }), QString());
}

void tst_ImgData::badInput_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<qint64>("blockBytes");
    QTest::addColumn<int>("commentLength"); // -1: the comment's real length
    QTest::addColumn<int>("truncateTo"); // -1: keep the whole file
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("bytesPerPixel"); // 0: refused

    const QByteArray c43 = "Prop_ImageWidth=4,Prop_ImageHeight=3,";
    const QString shortBlock = "ITEX pixel block is shorter than the image size. %1";
    QTest::newRow("shorter than its header")
        << (c43 + "BytesPerPixel=2,") << qint64(24) << -1 << 9
        << QStringList { "Error on reading ITEX file props. %1" } << 0;
    QTest::newRow("header without comment")
        << (c43 + "BytesPerPixel=2,") << qint64(24) << -1 << 40 << QStringList() << 0;
    QTest::newRow("comment length past the end")
        << (c43 + "BytesPerPixel=2,") << qint64(0) << 5000 << -1 << QStringList() << 0;
    QTest::newRow("zero comment length")
        << (c43 + "BytesPerPixel=2,") << qint64(24) << 0 << -1 << QStringList() << 0;
    QTest::newRow("pixel block one byte short")
        << (c43 + "BytesPerPixel=2,") << qint64(23) << -1 << -1 << QStringList { shortBlock } << 0;
    QTest::newRow("32-bit block holding 16-bit data")
        << (c43 + "BytesPerPixel=4,") << qint64(24) << -1 << -1 << QStringList { shortBlock } << 0;
    QTest::newRow("16-bit label on a 32-bit block")
        << (c43 + "BytesPerPixel=2,") << qint64(48) << -1 << -1
        << QStringList { "ITEX pixel block does not fit the header's pixel size (48 bytes of "
                         "pixels for 4 x 3 pixels of 2 bytes). %1" }
        << 0;
    QTest::newRow("16-bit block with a short trailer")
        << (c43 + "BytesPerPixel=2,") << qint64(29) << -1 << -1 << QStringList() << 2;
    QTest::newRow("size overflowing 32 bits")
        << QByteArray("Prop_ImageWidth=2147483647,Prop_ImageHeight=2147483647,BytesPerPixel=4,")
        << qint64(64) << -1 << -1 << QStringList { shortBlock } << 0;
    QTest::newRow("huge size, small file")
        << QByteArray("Prop_ImageWidth=60000,Prop_ImageHeight=60000,BytesPerPixel=2,")
        << qint64(1000) << -1 << -1 << QStringList { shortBlock } << 0;
    QTest::newRow("BytesPerPixel missing, block fits 2")
        << c43 << qint64(24) << -1 << -1
        << QStringList { "ITEX header gives no usable BytesPerPixel; 2 taken from the file "
                         "size. %1" }
        << 2;
    QTest::newRow("BytesPerPixel missing, block fits 4")
        << c43 << qint64(48) << -1 << -1
        << QStringList { "ITEX header gives no usable BytesPerPixel; 4 taken from the file "
                         "size. %1" }
        << 4;
    QTest::newRow("BytesPerPixel 3, block fits 4")
        << (c43 + "BytesPerPixel=3,") << qint64(48) << -1 << -1
        << QStringList { "ITEX header gives no usable BytesPerPixel; 4 taken from the file "
                         "size. %1" }
        << 4;
    QTest::newRow("BytesPerPixel missing, block fits neither")
        << c43 << qint64(36) << -1 << -1
        << QStringList { "ITEX header gives no usable BytesPerPixel and the file size fits "
                         "neither 2 nor 4 bytes per pixel. %1" }
        << 0;
    QTest::newRow("BytesPerPixel missing, block too short")
        << c43 << qint64(12) << -1 << -1
        << QStringList { "ITEX header gives no usable BytesPerPixel and the file size fits "
                         "neither 2 nor 4 bytes per pixel. %1" }
        << 0;
}

void tst_ImgData::badInput()
{
    QFETCH(QByteArray, comment);
    QFETCH(qint64, blockBytes);
    QFETCH(int, commentLength);
    QFETCH(int, truncateTo);
    QFETCH(QStringList, log);
    QFETCH(int, bytesPerPixel);

    const QString file = path("bad.img");
    QVERIFY(writeRawItex(file, comment, blockBytes, commentLength));
    if (truncateTo >= 0)
        QVERIFY(QFile::resize(file, truncateTo));

    LogCapture cap;
    bool ok = false;
    std::unique_ptr<ImgData> d = loadFile(file, &ok);
    QVERIFY(d);
    for (QString &l : log)
        l = l.arg(file);
    QCOMPARE(cap.lines, log);
    QCOMPARE(ok, bytesPerPixel != 0);
    QCOMPARE(d->ready, ok);
    if (ok) {
        QCOMPARE(static_cast<ImgDataITEX *>(d.get())->bytesPerPixel, bytesPerPixel);
        // The pattern of writeRawItex, read back in the width that was chosen.
        std::vector<double> row(4);
        d->hLine(1, row.data());
        const int at = 4 * bytesPerPixel;
        double expect = 0;
        for (int b = bytesPerPixel - 1; b >= 0; --b)
            expect = expect * 256 + quint8((at + b) * 37 + 11);
        QCOMPARE(row[0], expect);
    } else {
        std::vector<double> row(4, 9.0);
        d->hLine(0, row.data()); // harmless on a reader that never loaded
    }
}

void tst_ImgData::allocationFailureRefusesTheFile()
{
    // A sparse file of 8000 x 8000 32-bit pixels (256 MB) with room for only 64 MB more.
    const QString file = path("huge.img");
    QVERIFY(writeRawItex(file, "Prop_ImageWidth=8000,Prop_ImageHeight=8000,BytesPerPixel=4,", 0));
    QVERIFY(QFile::resize(file, QFileInfo(file).size() + qint64(8000) * 8000 * 4));
    std::unique_ptr<ImgData> d(ImgData::create(ImgData::fileType(file)));
    d->fileName = file;
    bool ok = true;
    {
        AddressSpaceLimit limit(64);
        if (!limit.active)
            QSKIP("the address space cannot be limited here (sanitizer build)");
        ok = d->load();
    }
    QVERIFY(!ok);
    QVERIFY(!d->ready);
    QCOMPARE(d->failure, QString("not enough memory"));
    QFile::remove(file);
}

static quint16 pattern16(int x, int y)
{
    return quint16((x * 7 + y * 13 + (x * y) % 101) * 31);
}

void tst_ImgData::largeImageRowsAndColumns()
{
    const int n = 2048;
    std::vector<quint16> px(size_t(n) * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            px[size_t(y) * n + x] = pattern16(x, y);
    px[size_t(n) * n - 1] = 65535;
    const QString file = path("large.img");
    QVERIFY(writeItexFile(file, n, n, 2, px.data()));

    bool ok = false;
    std::unique_ptr<ImgData> d = loadFile(file, &ok);
    QVERIFY(ok);
    QCOMPARE(d->width, n);
    QCOMPARE(d->height, n);
    qint64 rowMismatch = 0, colMismatch = 0;
    for (int y = 0; y < n; ++y) {
        d->hLine(y, d->hBuf.data());
        for (int x = 0; x < n; ++x)
            rowMismatch += d->hBuf[x] != px[size_t(y) * n + x];
    }
    for (int x = 0; x < n; ++x) {
        d->vLine(x, d->vBuf.data());
        for (int y = 0; y < n; ++y)
            colMismatch += d->vBuf[y] != px[size_t(y) * n + x];
    }
    QCOMPARE(rowMismatch, 0);
    QCOMPARE(colMismatch, 0);
    QCOMPARE(d->vBuf[n - 1], 65535.0);
}

void tst_ImgData::concurrentLines()
{
    const int w = 701, h = 900; // w prime: every stride below visits every column
    std::vector<quint32> px(size_t(w) * h);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = quint32(i * 2654435761u);
    const QString file = path("threads.img");
    QVERIFY(writeItexFile(file, w, h, 4, px.data()));
    bool ok = false;
    std::unique_ptr<ImgData> d = loadFile(file, &ok);
    QVERIFY(ok);
    const ImgData *reader = d.get();

    // Every column and row, serially: the reference.
    std::vector<double> serial(size_t(w) * h * 2);
    for (int x = 0; x < w; ++x)
        reader->vLine(x, serial.data() + size_t(x) * h);
    for (int y = 0; y < h; ++y)
        reader->hLine(y, serial.data() + size_t(w) * h + size_t(y) * w);

    // Several threads read the same reader at once, each into its own buffers and each in
    // its own order, several passes so that the reads overlap.
    const int threads = 4;
    std::vector<std::vector<double>> results(threads, std::vector<double>(serial.size()));
    std::vector<std::unique_ptr<QThread>> pool;
    for (int t = 0; t < threads; ++t) {
        double *out = results[t].data();
        pool.emplace_back(QThread::create([reader, out, t, w, h] {
            for (int pass = 0; pass < 3; ++pass) {
                for (int i = 0; i < w; ++i) {
                    const int x = (i * (2 * t + 1) + pass) % w;
                    reader->vLine(x, out + size_t(x) * h);
                }
                for (int i = 0; i < h; ++i) {
                    const int y = (h - 1 - i + t * 17) % h;
                    reader->hLine(y, out + size_t(w) * h + size_t(y) * w);
                }
            }
        }));
        pool.back()->start();
    }
    for (auto &th : pool)
        QVERIFY(th->wait(60000));
    for (int t = 0; t < threads; ++t)
        QVERIFY2(results[t] == serial, qPrintable(QString("thread %1").arg(t)));
    QCOMPARE(serial[size_t(3) * h + 5], double(px[size_t(5) * w + 3]));
}

void tst_ImgData::minMaxAndImage_data()
{
    QTest::addColumn<bool>("fixed");
    QTest::newRow("scale follows the image") << false;
    QTest::newRow("fixed scale kept") << true;
}

void tst_ImgData::minMaxAndImage()
{
    QFETCH(bool, fixed);
    const int w = 6, h = 4;
    std::vector<quint16> px(w * h);
    for (int i = 0; i < w * h; ++i)
        px[i] = quint16(1000 + (i * 739) % 5000);
    px[13] = 40000;
    px[20] = 7;
    const QString file = path("grey.img");
    QVERIFY(writeItexFile(file, w, h, 2, px.data()));
    bool ok = false;
    std::unique_ptr<ImgData> d = loadFile(file, &ok);
    QVERIFY(ok);

    double mn = -1, mx = -1;
    d->minMax(mn, mx);
    QCOMPARE(mn, 7.0);
    QCOMPARE(mx, 40000.0);
    QVERIFY(d->minMaxValid);

    ColorBar bar;
    bar.setFixColorScale(fixed);
    bar.setMinV(2000);
    bar.setMaxV(3000);
    QImage img(1, 1, QImage::Format_RGB32);
    toImage(*d, img, &bar);
    QCOMPARE(bar.vMin, fixed ? 2000.0 : 7.0);
    QCOMPARE(bar.vMax, fixed ? 3000.0 : 40000.0);
    QCOMPARE(img.format(), QImage::Format_Grayscale8);
    QCOMPARE(img.size(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            QCOMPARE(int(img.constScanLine(y)[x]), bar.level(px[y * w + x]));
    if (!fixed) {
        QCOMPARE(int(img.constScanLine(2)[1]), 255);
        QCOMPARE(int(img.constScanLine(3)[2]), 0);
    }
}

void tst_ImgData::notReady()
{
    std::unique_ptr<ImgData> d(ImgData::create(0));
    d->fileName = path("never-written.img");
    LogCapture cap;
    QVERIFY(!d->load());
    QCOMPARE(cap.lines, QStringList { "Can not open ITEX file to read props. " + d->fileName });
    double mn = 5, mx = 5;
    d->minMax(mn, mx);
    QCOMPARE(mn, 0.0);
    QCOMPARE(mx, 0.0);
    ColorBar bar;
    bar.setMinV(1);
    bar.setMaxV(2);
    QImage img(3, 3, QImage::Format_RGB32);
    toImage(*d, img, &bar);
    QCOMPARE(img.size(), QSize(3, 3));
    QCOMPARE(img.format(), QImage::Format_RGB32);
    QCOMPARE(bar.vMax, 2.0);
}

QTEST_MAIN(tst_ImgData)
#include "tst_ImgData.moc"
