// Projection folders as beamlines leave them: flats and darks beside the projections, told
// apart by name, or in sub-folders of their own; several flats or darks averaged into one
// I0 or BG image.
#include "FolderLayout.h"
#include "ImgData.h"
#include "ImgReaders.h"

#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <memory>
#include <vector>

namespace {

constexpr int W = 6, H = 4;

// A 16-bit TIFF file (of `pages` pages) whose pixel (x, y) of page p holds
// base + 10 y + x + 100 p.
bool writeTiff(const QString &path, int base, int pages = 1)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!t)
        return false;
    bool ok = true;
    for (int p = 0; p < pages && ok; ++p) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, quint32(W));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, quint32(H));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, quint16(16));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, quint16(1));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, quint32(H));
        std::vector<quint16> px;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                px.push_back(quint16(base + 10 * y + x + 100 * p));
        ok = TIFFWriteEncodedStrip(t, 0, px.data(), tmsize_t(px.size() * 2)) >= 0
            && TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return ok;
}

QStringList fileNames(const QStringList &paths)
{
    QStringList names;
    for (const QString &p : paths)
        names << QFileInfo(p.section('#', 0, 0)).fileName()
                + (p.contains('#') ? '#' + p.section('#', 1) : QString());
    return names;
}

} // namespace

class TestFolderLayout : public QObject
{
    Q_OBJECT
private slots:
    void sortsAFolder_data();
    void sortsAFolder();
    void averages_data();
    void averages();
};

void TestFolderLayout::sortsAFolder_data()
{
    QTest::addColumn<QStringList>("files"); // written, relative to the folder
    QTest::addColumn<QStringList>("projections"); // file names expected, in order
    QTest::addColumn<QStringList>("flats");
    QTest::addColumn<QStringList>("darks");
    QTest::addColumn<QString>("text"); // part of the console line
    QTest::newRow("flats and darks by name, any case")
        << QStringList { "proj_0000.tif", "proj_0001.tif", "flat_0.tif", "Flat_1.tif", "WHITE.tif",
               "ref_a.tif", "i0.tif", "dark_0.tif", "BG.tif", "bg_2.tif", "Dark9.tif" }
        << QStringList { "proj_0000.tif", "proj_0001.tif" }
        << QStringList { "flat_0.tif", "Flat_1.tif", "i0.tif", "ref_a.tif", "WHITE.tif" }
        << QStringList { "BG.tif", "bg_2.tif", "Dark9.tif", "dark_0.tif" }
        << "2 projections, 5 flats (flat_0.tif ... WHITE.tif, averaged into I0), 4 darks";
    QTest::newRow("tomo, flats and darks sub-folders")
        << QStringList { "tomo/a_000.tif", "tomo/a_001.tif", "tomo/a_002.tif", "flats/f0.tif",
               "flats/f1.tif", "darks/d0.tif", "other/x.tif" }
        << QStringList { "a_000.tif", "a_001.tif", "a_002.tif" }
        << QStringList { "f0.tif", "f1.tif" } << QStringList { "d0.tif" }
        << "3 projections from tomo/, 2 flats from flats/ (f0.tif, f1.tif, averaged into I0), 1 "
           "dark from darks/ (d0.tif, the BG image)";
    QTest::newRow("Projections, flat and dark sub-folders")
        << QStringList { "Projections/p1.tif", "flat/w.tif", "dark/k.tif" }
        << QStringList { "p1.tif" } << QStringList { "w.tif" } << QStringList { "k.tif" }
        << "1 projection from Projections/";
    QTest::newRow("a stack of projections and a stack of flats")
        << QStringList { "scan.tif*3", "flats.tif*2" }
        << QStringList { "scan.tif#0", "scan.tif#1", "scan.tif#2" }
        << QStringList { "flats.tif#0", "flats.tif#1" } << QStringList {}
        << "3 projections, 2 flats (flats.tif#0, flats.tif#1, averaged into I0)";
}

void TestFolderLayout::sortsAFolder()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, projections);
    QFETCH(QStringList, flats);
    QFETCH(QStringList, darks);
    QFETCH(QString, text);
    QTemporaryDir tmp;
    for (const QString &f : files)
        QVERIFY(writeTiff(tmp.filePath(f.section('*', 0, 0)), 1000,
            f.contains('*') ? f.section('*', 1).toInt() : 1));
    FolderLayout layout;
    QString error;
    QVERIFY2(layout.read(tmp.path(), { "*.tif" }, &error), qPrintable(error));
    QCOMPARE(fileNames(layout.projections), projections);
    QCOMPARE(fileNames(layout.flats), flats);
    QCOMPARE(fileNames(layout.darks), darks);
    QVERIFY2(layout.text().contains(text), qPrintable(layout.text()));
}

void TestFolderLayout::averages_data()
{
    QTest::addColumn<QStringList>("files"); // "name:base" or "name:base*pages"
    QTest::addColumn<QString>("name"); // the average's name: "folder", or names joined by '|'
    QTest::addColumn<double>("offset"); // expected value at (x, y) less 10 y + x
    QTest::newRow("two files") << QStringList { "a.tif:1000", "b.tif:1004" } << "a.tif|b.tif"
                               << 1002.0;
    QTest::newRow("three files, a fraction") << QStringList { "a.tif:1000", "b.tif:1001",
        "c.tif:1001" } << "a.tif|b.tif|c.tif" << 1000.0 + 2.0 / 3.0;
    QTest::newRow("a folder with a stack")
        << QStringList { "f/a.tif:1000*3", "f/b.tif:1200" } << "folder" << 1125.0;
    QTest::newRow("one file") << QStringList { "a.tif:700" } << "a.tif" << 700.0;
}

void TestFolderLayout::averages()
{
    QFETCH(QStringList, files);
    QFETCH(QString, name);
    QFETCH(double, offset);
    QTemporaryDir tmp;
    for (const QString &f : files) {
        const QString path = tmp.filePath(f.section(':', 0, 0));
        const QString shape = f.section(':', 1);
        QVERIFY(writeTiff(path, shape.section('*', 0, 0).toInt(),
            shape.contains('*') ? shape.section('*', 1).toInt() : 1));
    }
    QStringList parts;
    for (const QString &p : name.split('|'))
        parts << tmp.filePath(p == "folder" ? "f" : p);
    const QString averaged = ImgReaders::averageName(parts);
    QString why;
    const std::unique_ptr<ImgData> d = ImgReaders::load(averaged, &why);
    QVERIFY2(d, qPrintable(why));
    QCOMPARE(d->width, W);
    QCOMPARE(d->height, H);
    std::vector<double> row(W);
    for (int y = 0; y < H; ++y) {
        d->hLine(y, row.data());
        for (int x = 0; x < W; ++x)
            QVERIFY2(std::abs(row[x] - (offset + 10 * y + x)) < 1e-9,
                qPrintable(QString::number(row[x])));
    }
}

QTEST_MAIN(TestFolderLayout)
#include "tst_FolderLayout.moc"
