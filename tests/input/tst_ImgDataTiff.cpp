#include "ImgData.h"
#include "ImgDataTiff.h"
#include "ImgReaders.h"
#include "InputTestUtil.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

// TIFF reading: files are written with libtiff itself in every supported kind and layout
// and must read back equal; kinds the reader does not serve, and damaged files, are
// refused with a message naming the file.
namespace {

struct Layout
{
    int bits = 16;
    int format = SAMPLEFORMAT_UINT;
    bool bigEndian = false;
    int rowsPerStrip = 0; // 0: one strip for the whole image
    int tile = 0; // > 0: square tiles of this size instead of strips
    int compression = COMPRESSION_NONE;
    bool bigTiff = false;
    bool minIsWhite = false; // stored as MinIsWhite: read back as max - value
    bool flat = false; // every pixel the same (compresses extremely well)
};

// Test value of pixel (x, y) for a kind; covers the top of the integer range and, for
// floats, negative and fractional values that a float holds exactly.
double pixelValue(const Layout &l, int x, int y)
{
    if (l.flat)
        return 1000.0;
    if (x == 1 && y == 0) {
        if (l.format == SAMPLEFORMAT_IEEEFP)
            return -1234.5;
        if (l.format == SAMPLEFORMAT_INT)
            return -32768.0;
        return l.bits == 8 ? 255.0 : l.bits == 16 ? 65535.0 : 4294967295.0;
    }
    const qint64 i = qint64(y) * 1000 + x;
    switch (l.bits) {
    case 8:
        return double((i * 7) % 256);
    case 16:
        return double((i * 2741) % 65536) - (l.format == SAMPLEFORMAT_INT ? 32768.0 : 0.0);
    default:
        if (l.format == SAMPLEFORMAT_IEEEFP)
            return (x - 2 * y) * 0.25 + 3.0e5 * (y % 3);
        return double((quint64(i) * 2654435761u) % 4294967296u);
    }
}

void storeValue(const Layout &l, double v, char *dst)
{
    if (l.format == SAMPLEFORMAT_IEEEFP) {
        const float f = float(v);
        std::memcpy(dst, &f, 4);
    } else if (l.bits == 8) {
        const quint8 u = quint8(v);
        std::memcpy(dst, &u, 1);
    } else if (l.bits == 16 && l.format == SAMPLEFORMAT_INT) {
        const qint16 i = qint16(v);
        std::memcpy(dst, &i, 2);
    } else if (l.bits == 16) {
        const quint16 u = quint16(v);
        std::memcpy(dst, &u, 2);
    } else {
        const quint32 u = quint32(v);
        std::memcpy(dst, &u, 4);
    }
}

void setGreyTags(TIFF *t, const Layout &l, int w, int h)
{
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, quint32(w));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, quint32(h));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, quint16(l.bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, quint16(1));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, quint16(l.format));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
        quint16(l.minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, quint16(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_COMPRESSION, quint16(l.compression));
}

// One page of w x h pixels of the test pattern, offset by `shift` so pages differ.
bool writePage(TIFF *t, const Layout &l, int w, int h, int shift)
{
    setGreyTags(t, l, w, h);
    const int bpp = l.bits / 8;
    if (l.tile > 0) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, quint32(l.tile));
        TIFFSetField(t, TIFFTAG_TILELENGTH, quint32(l.tile));
        std::vector<char> tile(size_t(l.tile) * l.tile * bpp);
        for (int y0 = 0; y0 < h; y0 += l.tile)
            for (int x0 = 0; x0 < w; x0 += l.tile) {
                std::fill(tile.begin(), tile.end(), char(0x5a)); // padding must not leak
                for (int y = y0; y < std::min(h, y0 + l.tile); ++y)
                    for (int x = x0; x < std::min(w, x0 + l.tile); ++x)
                        storeValue(l, pixelValue(l, x + shift, y),
                            tile.data() + ((y - y0) * l.tile + (x - x0)) * bpp);
                if (TIFFWriteTile(t, tile.data(), x0, y0, 0, 0) < 0)
                    return false;
            }
    } else {
        const int rps = l.rowsPerStrip > 0 ? l.rowsPerStrip : h;
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, quint32(rps));
        std::vector<char> all(size_t(w) * h * bpp);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                storeValue(l, pixelValue(l, x + shift, y), all.data() + (size_t(y) * w + x) * bpp);
        for (int s = 0; s * rps < h; ++s) {
            const int rows = std::min(rps, h - s * rps);
            if (TIFFWriteEncodedStrip(
                    t, s, all.data() + size_t(s) * rps * w * bpp, tmsize_t(rows) * w * bpp)
                < 0)
                return false;
        }
    }
    return true;
}

bool writeTiff(const QString &path, const Layout &l, int w, int h, int pages = 1)
{
    QByteArray mode = "w";
    mode += l.bigEndian ? "b" : "l";
    if (l.bigTiff)
        mode += "8";
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), mode.constData());
    if (!t)
        return false;
    bool ok = true;
    for (int p = 0; p < pages && ok; ++p)
        ok = writePage(t, l, w + 3 * p, h + p, 50 * p) && TIFFWriteDirectory(t);
    TIFFClose(t);
    return ok;
}

// A little-endian TIFF written byte by byte, for headers libtiff would not produce:
// one strip of `dataBytes` bytes at the end of the file, whatever the size claims.
QByteArray craftTiff(
    quint32 w, quint32 h, quint16 bits, quint16 compression, quint32 stripBytes, int dataBytes)
{
    struct Entry
    {
        quint16 tag, type;
        quint32 value;
    };
    const quint16 Short = 3, Long = 4;
    const int entries = 9;
    const quint32 dataOffset = 8 + 2 + entries * 12 + 4;
    const Entry e[entries] = { { 256, Long, w }, { 257, Long, h }, { 258, Short, bits },
        { 259, Short, compression }, { 262, Short, 1 }, { 273, Long, dataOffset },
        { 277, Short, 1 }, { 278, Long, h }, { 279, Long, stripBytes } };
    QByteArray b("II", 2);
    char tmp[4];
    auto put16 = [&](quint16 v) {
        qToLittleEndian(v, tmp);
        b.append(tmp, 2);
    };
    auto put32 = [&](quint32 v) {
        qToLittleEndian(v, tmp);
        b.append(tmp, 4);
    };
    put16(42);
    put32(8);
    put16(entries);
    for (const Entry &x : e) {
        put16(x.tag);
        put16(x.type);
        put32(1);
        if (x.type == Short) {
            put16(quint16(x.value));
            put16(0);
        } else {
            put32(x.value);
        }
    }
    put32(0);
    for (int i = 0; i < dataBytes; ++i)
        b.append(char(i * 91 + 7));
    return b;
}

// A stack of `pages` pages of one size, page p holding the pattern shifted by 50 p; the first
// page carries `description` when given (ImageJ writes its own there).
bool writeStack(const QString &path, const Layout &l, int w, int h, int pages,
    const QByteArray &description = QByteArray())
{
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), l.bigEndian ? "wb" : "wl");
    if (!t)
        return false;
    bool ok = true;
    for (int p = 0; p < pages && ok; ++p) {
        if (p == 0 && !description.isEmpty())
            TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.constData());
        ok = writePage(t, l, w, h, 50 * p) && TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return ok;
}

// A 16-bit little-endian stack the way ImageJ writes large ones: one directory, the
// description "ImageJ=...\nimages=N", and the pixels of all N images back to back.
bool writeImageJStack(const QString &path, const Layout &l, int w, int h, int pages)
{
    const QByteArray description = QByteArray("ImageJ=1.54f\nimages=") + QByteArray::number(pages)
        + "\nslices=" + QByteArray::number(pages) + "\nloop=false\n";
    const quint16 Short = 3, Long = 4, Ascii = 2;
    struct Entry
    {
        quint16 tag, type;
        quint32 count, value;
    };
    const int entries = 10;
    const quint32 descOffset = 8 + 2 + entries * 12 + 4;
    const quint32 dataOffset = descOffset + quint32(description.size()) + 1;
    const quint32 pageBytes = quint32(w * h * 2);
    const Entry e[entries] = { { 256, Long, 1, quint32(w) }, { 257, Long, 1, quint32(h) },
        { 258, Short, 1, 16 }, { 259, Short, 1, 1 }, { 262, Short, 1, 1 },
        { 270, Ascii, quint32(description.size()) + 1, descOffset }, { 273, Long, 1, dataOffset },
        { 277, Short, 1, 1 }, { 278, Long, 1, quint32(h) }, { 279, Long, 1, pageBytes } };
    QByteArray b("II", 2);
    char tmp[4];
    auto put16 = [&](quint16 v) {
        qToLittleEndian(v, tmp);
        b.append(tmp, 2);
    };
    auto put32 = [&](quint32 v) {
        qToLittleEndian(v, tmp);
        b.append(tmp, 4);
    };
    put16(42);
    put32(8);
    put16(entries);
    for (const Entry &x : e) {
        put16(x.tag);
        put16(x.type);
        put32(x.count);
        if (x.type == Short) {
            put16(quint16(x.value));
            put16(0);
        } else {
            put32(x.value);
        }
    }
    put32(0);
    b += description;
    b += '\0';
    for (int p = 0; p < pages; ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                put16(quint16(pixelValue(l, x + 50 * p, y)));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

} // namespace

Q_DECLARE_METATYPE(Layout)

class tst_ImgDataTiff : public QObject
{
    Q_OBJECT

private slots:
    void readsBack_data();
    void readsBack();
    void firstPageOfMany();
    void stackPages_data();
    void stackPages();
    void exposureTimeFromExif();
    void refused_data();
    void refused();

private:
    QTemporaryDir dir;
};

void tst_ImgDataTiff::readsBack_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    auto row = [](const char *name, int bits, int format, bool big, int rps, int tile,
                   int compression, int w = 37, int h = 29, bool bigTiff = false,
                   bool minIsWhite = false, bool flat = false) {
        Layout l;
        l.minIsWhite = minIsWhite;
        l.flat = flat;
        l.bits = bits;
        l.format = format;
        l.bigEndian = big;
        l.rowsPerStrip = rps;
        l.tile = tile;
        l.compression = compression;
        l.bigTiff = bigTiff;
        QTest::newRow(name) << l << w << h;
    };
    const int U = SAMPLEFORMAT_UINT, F = SAMPLEFORMAT_IEEEFP, N = COMPRESSION_NONE;
    row("8-bit LE one strip", 8, U, false, 0, 0, N);
    row("8-bit BE strips of 4", 8, U, true, 4, 0, N);
    row("16-bit LE strips of 1", 16, U, false, 1, 0, N);
    row("16-bit BE strips of 7", 16, U, true, 7, 0, N);
    row("signed 16-bit LE strips of 4", 16, SAMPLEFORMAT_INT, false, 4, 0, N);
    row("signed 16-bit BE deflate tiles", 16, SAMPLEFORMAT_INT, true, 0, 16,
        COMPRESSION_ADOBE_DEFLATE);
    row("16-bit BE tiles", 16, U, true, 0, 16, N);
    row("16-bit LE LZW", 16, U, false, 5, 0, COMPRESSION_LZW);
    row("16-bit BE deflate tiles", 16, U, true, 0, 16, COMPRESSION_ADOBE_DEFLATE);
    row("32-bit LE strips of 3", 32, U, false, 3, 0, N);
    row("32-bit BE one strip", 32, U, true, 0, 0, N);
    row("32-bit LE tiles", 32, U, false, 0, 32, N);
    row("float LE one strip", 32, F, false, 0, 0, N);
    row("float BE strips of 2", 32, F, true, 2, 0, N);
    row("float BE deflate tiles", 32, F, true, 0, 16, COMPRESSION_ADOBE_DEFLATE);
    row("16-bit BigTIFF", 16, U, true, 6, 0, N, 37, 29, true);
    row("single pixel", 16, U, false, 0, 0, N, 1, 1);
    row("2048 x 2048 16-bit", 16, U, false, 8, 0, N, 2048, 2048);
    row("8-bit MinIsWhite", 8, U, false, 0, 0, N, 37, 29, false, true);
    row("16-bit MinIsWhite LZW", 16, U, true, 5, 0, COMPRESSION_LZW, 37, 29, false, true);
    row("32-bit MinIsWhite tiles", 32, U, false, 0, 16, N, 37, 29, false, true);
    row("flat 2048 x 2048 16-bit LZMA", 16, U, false, 0, 0, COMPRESSION_LZMA, 2048, 2048, false,
        false, true);
}

void tst_ImgDataTiff::readsBack()
{
    QFETCH(Layout, layout);
    QFETCH(int, width);
    QFETCH(int, height);

    const QString file = dir.filePath("back.tif");
    QVERIFY(writeTiff(file, layout, width, height));
    QCOMPARE(ImgData::fileType(file), 1);
    std::unique_ptr<ImgData> d(ImgData::create(1));
    d->fileName = file;
    LogCapture cap;
    QVERIFY(d->load());
    QCOMPARE(cap.lines, QStringList());
    QCOMPARE(d->width, width);
    QCOMPARE(d->height, height);
    QCOMPARE(d->expTime, 1.0);

    // MinIsWhite images are read as MinIsBlack: the brightest stored value is the largest.
    const double top = std::ldexp(1.0, layout.bits) - 1.0;
    auto expected = [&](int x, int y) {
        const double v = pixelValue(layout, x, y);
        return layout.minIsWhite ? top - v : v;
    };
    qint64 rowMismatch = 0, colMismatch = 0;
    for (int y = 0; y < height; ++y) {
        d->hLine(y, d->hBuf.data());
        for (int x = 0; x < width; ++x)
            rowMismatch += d->hBuf[x] != expected(x, y);
    }
    for (int x = 0; x < width; ++x) {
        d->vLine(x, d->vBuf.data());
        for (int y = 0; y < height; ++y)
            colMismatch += d->vBuf[y] != expected(x, y);
    }
    QCOMPARE(rowMismatch, 0);
    QCOMPARE(colMismatch, 0);
    if (width > 1) {
        d->hLine(0, d->hBuf.data());
        QCOMPARE(d->hBuf[1], expected(1, 0)); // the top of the range / a negative
    }    // A part of the image (the detector lines of a chunk of slices) reads as the whole does,
    // from the strips or tiles that cover it.
    QCOMPARE(partsMismatch(file, [] { return std::make_unique<ImgDataTiff>(); }), QString());
}

void tst_ImgDataTiff::firstPageOfMany()
{
    Layout l;
    l.rowsPerStrip = 4;
    const QString file = dir.filePath("pages.tif");
    QVERIFY(writeTiff(file, l, 20, 10, 3));
    std::unique_ptr<ImgData> d(ImgData::create(1));
    d->fileName = file;
    QVERIFY(d->load());
    QCOMPARE(d->width, 20);
    QCOMPARE(d->height, 10);
    std::vector<double> col(10);
    d->vLine(13, col.data());
    for (int y = 0; y < 10; ++y)
        QCOMPARE(col[y], pixelValue(l, 13, y));
    // Pages of other sizes (thumbnails, reduced images) make no stack.
    QCOMPARE(ImgDataTiff::pageCount(file), 1);
    QCOMPARE(ImgReaders::imagesOf(file), QStringList { file });
}

void tst_ImgDataTiff::stackPages_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<int>("pages");
    Layout le;
    le.rowsPerStrip = 3;
    Layout be = le;
    be.bigEndian = true;
    be.compression = COMPRESSION_ADOBE_DEFLATE;
    Layout fl;
    fl.bits = 32;
    fl.format = SAMPLEFORMAT_IEEEFP;
    QTest::newRow("16-bit stack, strips") << "stack" << le << 7;
    QTest::newRow("16-bit big-endian deflate stack") << "stack" << be << 5;
    QTest::newRow("float stack with an ImageJ description") << "imagej-ifds" << fl << 4;
    QTest::newRow("ImageJ stack in one directory") << "imagej" << Layout() << 6;
}

void tst_ImgDataTiff::stackPages()
{
    // Every page of a stack is an image of its own, read as "FILE#p".
    QFETCH(QString, kind);
    QFETCH(Layout, layout);
    QFETCH(int, pages);
    const int w = 11, h = 9;
    const QString file = dir.filePath(kind + ".tif");
    if (kind == "imagej")
        QVERIFY(writeImageJStack(file, layout, w, h, pages));
    else
        QVERIFY(writeStack(file, layout, w, h, pages,
            kind == "imagej-ifds" ? QByteArray("ImageJ=1.54f\nimages=4\nslices=4\n")
                                  : QByteArray()));
    QCOMPARE(ImgDataTiff::pageCount(file), pages);
    const QStringList names = ImgReaders::imagesOf(file);
    QCOMPARE(names.size(), pages);
    std::vector<double> row(w);
    for (int p = 0; p < pages; ++p) {
        QCOMPARE(names[p], file + '#' + QString::number(p));
        QString why;
        const std::unique_ptr<ImgData> d = ImgReaders::load(names[p], &why);
        QVERIFY2(d, qPrintable(why));
        QCOMPARE(d->width, w);
        QCOMPARE(d->height, h);
        for (int y : { 0, h - 1 }) {
            d->hLine(y, row.data());
            for (int x = 0; x < w; ++x)
                QCOMPARE(row[x], pixelValue(layout, x + 50 * p, y));
        }
        // A part of the page (ImageJ's later images are read past libtiff) reads as the whole.
        QCOMPARE(partsMismatch(names[p], [] { return std::make_unique<ImgDataTiff>(); }),
            QString());
    }
    QString why;
    QVERIFY(!ImgReaders::load(file + '#' + QString::number(pages), &why));
    QCOMPARE(why, QString("no such page"));
}

void tst_ImgDataTiff::exposureTimeFromExif()
{
    const QString file = dir.filePath("exif.tif");
    Layout l;
    TIFF *t = TIFFOpen(QFile::encodeName(file).constData(), "w");
    QVERIFY(t);
    // The EXIF directory's offset is known only after it is written: reserve the tag, write
    // the image, write the EXIF directory, then point the first page at it.
    TIFFSetField(t, TIFFTAG_EXIFIFD, uint64_t(0));
    QVERIFY(writePage(t, l, 8, 6, 0));
    QVERIFY(TIFFWriteDirectory(t));
    QVERIFY(TIFFCreateEXIFDirectory(t) == 0);
    TIFFSetField(t, EXIFTAG_EXPOSURETIME, 0.125);
    uint64_t exifOffset = 0;
    QVERIFY(TIFFWriteCustomDirectory(t, &exifOffset));
    QVERIFY(TIFFSetDirectory(t, 0));
    TIFFSetField(t, TIFFTAG_EXIFIFD, exifOffset);
    QVERIFY(TIFFRewriteDirectory(t));
    TIFFClose(t);

    std::unique_ptr<ImgData> d(ImgData::create(1));
    d->fileName = file;
    QVERIFY(d->load());
    QCOMPARE(d->expTime, 0.125);
    std::vector<double> row(8);
    d->hLine(5, row.data());
    QCOMPARE(row[7], pixelValue(l, 7, 5));
}

void tst_ImgDataTiff::refused_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: made by the row's own writer below
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("log");

    const QString notGrey = "TIFF file is not a single-channel grey image (colour, palette or "
                            "extra channels are not supported). %1";
    const QString format = "TIFF pixel format is not supported (8-, 16- or 32-bit unsigned "
                           "integer, 16-bit signed integer or 32-bit float only). %1";
    const QString shortData = "TIFF pixel data is shorter than the image size. %1";
    const QStringList undecodable { "TIFF pixel data could not be decoded. %1",
        "Can not open ImgData %1" };

    QTest::newRow("RGB colour") << QByteArray() << "rgb" << QStringList { notGrey };
    QTest::newRow("palette") << QByteArray() << "palette" << QStringList { notGrey };
    QTest::newRow("1-bit") << QByteArray() << "bilevel" << QStringList { format };
    QTest::newRow("signed 8-bit") << QByteArray() << "int8" << QStringList { format };
    QTest::newRow("64-bit float") << QByteArray() << "double" << QStringList { format };
    QTest::newRow("not a TIFF past the mark") << QByteArray("II\x2a\0\xff\xff\xff\x7f junk",
        14) << QString() << QStringList { "Can not open TIFF file to read props. %1" };
    QTest::newRow("huge size, uncompressed") << craftTiff(100000, 100000, 16, COMPRESSION_NONE, 100,
        100) << QString() << QStringList { shortData };
    QTest::newRow("huge size, deflate") << craftTiff(100000, 100000, 16, COMPRESSION_ADOBE_DEFLATE,
        100, 100) << QString() << QStringList { shortData };
    QTest::newRow("strip runs past the end")
        << craftTiff(10, 3, 16, COMPRESSION_NONE, 60, 20) << QString() << QStringList { shortData };
    QTest::newRow("corrupt deflate data")
        << craftTiff(4, 3, 16, COMPRESSION_ADOBE_DEFLATE, 60, 60) << QString() << undecodable;
}

void tst_ImgDataTiff::refused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, kind);
    QFETCH(QStringList, log);

    const QString file = dir.filePath("refused.tif");
    QFile::remove(file);
    if (!content.isEmpty()) {
        QVERIFY(writeBytes(file, content));
    } else {
        TIFF *t = TIFFOpen(QFile::encodeName(file).constData(), "w");
        QVERIFY(t);
        const int w = 6, h = 4;
        Layout l;
        l.bits = kind == "bilevel" ? 1 : kind == "double" ? 64 : 8;
        l.format = kind == "double" ? SAMPLEFORMAT_IEEEFP
            : kind == "int8"        ? SAMPLEFORMAT_INT
                                    : SAMPLEFORMAT_UINT;
        setGreyTags(t, l, w, h);
        std::vector<quint16> red(256), green(256), blue(256);
        if (kind == "rgb") {
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, quint16(3));
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_RGB));
        } else if (kind == "palette") {
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_PALETTE));
            TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        }
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, quint32(h));
        std::vector<char> data(size_t(w) * h * 3 * 8, 1);
        QVERIFY(TIFFWriteEncodedStrip(t, 0, data.data(), TIFFStripSize(t)) >= 0);
        TIFFClose(t);
    }

    QCOMPARE(ImgData::fileType(file), 1);
    std::unique_ptr<ImgData> d(ImgData::create(1));
    d->fileName = file;
    LogCapture cap;
    QVERIFY(!d->load());
    QVERIFY(!d->ready);
    for (QString &l : log)
        l = l.arg(file);
    QCOMPARE(cap.lines, log);
}

QTEST_GUILESS_MAIN(tst_ImgDataTiff)
#include "tst_ImgDataTiff.moc"
