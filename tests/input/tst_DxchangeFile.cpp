// DXchange HDF5 files written here through the HDF5 library itself, read back through the
// image set as the program does.
#include "DxchangeFile.h"
#include "ImgData.h"
#include "ImgDatas.h"

#include <QTemporaryDir>
#include <QtTest>

#include <hdf5.h>

#include <vector>

namespace {

// One dataset to put into a test file: its path, HDF5 file type, dimensions and values
// (converted by the library from doubles).
struct Set
{
    QByteArray name;
    hid_t type;
    std::vector<hsize_t> dims;
    std::vector<double> values;
    bool gzip = false;
};

// Value of image k, row y, column x of a test stack: distinct everywhere.
double pixel(int k, int y, int x)
{
    return 1000.0 + 100.0 * k + 10.0 * y + x;
}

Set stack(const char *name, hid_t type, int count, int rows, int cols, bool gzip = false)
{
    Set s { name, type, { hsize_t(count), hsize_t(rows), hsize_t(cols) }, {}, gzip };
    for (int k = 0; k < count; ++k)
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                s.values.push_back(pixel(k, y, x));
    return s;
}

Set theta(int n, double step)
{
    Set s { "/exchange/theta", H5T_IEEE_F32LE, { hsize_t(n) }, {}, false };
    for (int i = 0; i < n; ++i)
        s.values.push_back(i * step);
    return s;
}

bool writeFile(const QString &path, const QList<Set> &sets)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hid_t file
        = H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0)
        return false;
    bool ok = H5Gclose(H5Gcreate2(file, "/exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT)) >= 0;
    for (const Set &s : sets) {
        const hid_t space = H5Screate_simple(int(s.dims.size()), s.dims.data(), nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        if (s.gzip) {
            std::vector<hsize_t> chunk = s.dims;
            chunk[0] = 1;
            H5Pset_chunk(dcpl, int(chunk.size()), chunk.data());
            H5Pset_deflate(dcpl, 6);
        }
        const hid_t set
            = H5Dcreate2(file, s.name.constData(), s.type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        ok = ok && set >= 0
            && H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, s.values.data())
                >= 0;
        if (set >= 0)
            H5Dclose(set);
        H5Pclose(dcpl);
        H5Sclose(space);
    }
    return H5Fclose(file) >= 0 && ok;
}

} // namespace

Q_DECLARE_METATYPE(Set)

class TestDxchangeFile : public QObject
{
    Q_OBJECT
private slots:
    void readsTheImages_data();
    void readsTheImages();
    void refusesMalformedFiles_data();
    void refusesMalformedFiles();

private:
    QTemporaryDir tmp;
};

void TestDxchangeFile::readsTheImages_data()
{
    QTest::addColumn<qint64>("type");
    QTest::addColumn<bool>("gzip");
    QTest::addColumn<bool>("references");
    QTest::newRow("uint16, contiguous, white and dark") << qint64(H5T_STD_U16LE) << false << true;
    QTest::newRow("uint16, gzip chunks") << qint64(H5T_STD_U16LE) << true << false;
    QTest::newRow("uint32, big-endian, gzip chunks") << qint64(H5T_STD_U32BE) << true << true;
    QTest::newRow("float32, contiguous") << qint64(H5T_IEEE_F32LE) << false << false;
    // Chunks of this machine's types are read raw and inflated apart from the library.
    QTest::newRow("uint32, gzip chunks") << qint64(H5T_STD_U32LE) << true << false;
    QTest::newRow("float32, gzip chunks") << qint64(H5T_IEEE_F32LE) << true << true;
}

void TestDxchangeFile::readsTheImages()
{
    QFETCH(qint64, type);
    QFETCH(bool, gzip);
    QFETCH(bool, references);
    const int count = 5, rows = 3, cols = 7;
    const QString path = tmp.filePath(QString("%1.h5").arg(QTest::currentDataTag()));
    QList<Set> sets { stack("/exchange/data", hid_t(type), count, rows, cols, gzip),
        theta(count, 36.0) };
    if (references)
        sets << stack("/exchange/data_white", H5T_STD_U16LE, 3, rows, cols)
             << stack("/exchange/data_dark", H5T_STD_U16LE, 1, rows, cols);
    QVERIFY(writeFile(path, sets));

    DxchangeFile::Info info;
    QString error;
    QVERIFY2(DxchangeFile::inspect(path, info, &error), qPrintable(error));
    QCOMPARE(info.projections, count);
    QCOMPARE(info.rows, rows);
    QCOMPARE(info.columns, cols);
    QCOMPARE(info.whites, references ? 3 : 0);
    QCOMPARE(info.darks, references ? 1 : 0);
    QCOMPARE(info.theta, (std::vector<double> { 0, 36, 72, 108, 144 }));
    double first = -1, step = -1;
    QVERIFY(DxchangeFile::evenlySpread(info.theta, first, step));
    QCOMPARE(first, 0.0);
    QCOMPARE(step, 36.0);

    // Each projection through the image set, by rows and by columns.
    ImgDatas set;
    for (const QString &name : DxchangeFile::projectionAddresses(path, count))
        QVERIFY2(set.add(name), qPrintable(name));
    QCOMPARE(set.count(), count);
    QCOMPARE(set.width, cols);
    QCOMPARE(set.height, rows);
    std::vector<double> line(cols), column(rows);
    for (int k = 0; k < count; ++k) {
        for (int y = 0; y < rows; ++y) {
            set.at(k)->hLine(y, line.data());
            for (int x = 0; x < cols; ++x)
                QCOMPARE(line[x], pixel(k, y, x));
        }
        set.at(k)->vLine(cols - 1, column.data());
        for (int y = 0; y < rows; ++y)
            QCOMPARE(column[y], pixel(k, y, cols - 1));
    }

    // White and dark: the average over their images.
    for (auto [part, images] :
        { std::pair { DxchangeFile::Part::White, 3 }, std::pair { DxchangeFile::Part::Dark, 1 } }) {
        const QString name = DxchangeFile::address(path, part);
        std::unique_ptr<ImgData> img(ImgData::create(ImgData::fileType(name)));
        QVERIFY(img);
        img->fileName = name;
        QCOMPARE(img->load(), references);
        if (!references)
            continue;
        img->hLine(1, line.data());
        for (int x = 0; x < cols; ++x) {
            double sum = 0;
            for (int k = 0; k < images; ++k)
                sum += pixel(k, 1, x);
            QCOMPARE(line[x], sum / images);
        }
    }
}

void TestDxchangeFile::refusesMalformedFiles_data()
{
    QTest::addColumn<QList<Set>>("sets");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("imagesRefused"); // angles are checked when the file is chosen
    const Set data = stack("/exchange/data", H5T_STD_U16LE, 4, 3, 5);
    QTest::newRow("no projections")
        << QList<Set> { theta(4, 45) } << "dataset /exchange/data is missing" << true;
    QTest::newRow("rank 2") << QList<Set> { Set {
        "/exchange/data", H5T_STD_U16LE, { 3, 5 }, std::vector<double>(15, 1.0) } }
                            << "dataset /exchange/data has rank 2, not 3" << true;
    QTest::newRow("signed bytes") << QList<Set> { stack("/exchange/data", H5T_STD_I8LE, 4, 3,
        5) } << "dataset /exchange/data holds int8 values (uint16, uint32 or float32 expected)"
                                  << true;
    QTest::newRow("white of another size")
        << QList<Set> { data, stack("/exchange/data_white", H5T_STD_U16LE, 2, 3, 6) }
        << "dataset /exchange/data_white has images of 6 x 3 pixels, /exchange/data of 5 x 3"
        << true;
    QTest::newRow("dark of rank 2") << QList<Set> { data,
        Set { "/exchange/data_dark", H5T_STD_U16LE, { 3, 5 }, std::vector<double>(15, 1.0) } }
                                    << "dataset /exchange/data_dark has rank 2, not 3" << true;
    QTest::newRow("too few angles")
        << QList<Set> { data, theta(3, 45) }
        << "dataset /exchange/theta has 3 angles for 4 projections" << false;
    QTest::newRow("angles of rank 2")
        << QList<Set> { data, Set { "/exchange/theta", H5T_IEEE_F64LE, { 2, 2 }, { 0, 1, 2, 3 } } }
        << "dataset /exchange/theta must be a list of angles" << false;
    QTest::newRow("uneven angles")
        << QList<Set> { data, Set { "/exchange/theta", H5T_IEEE_F64LE, { 4 }, { 0, 10, 30, 40 } } }
        << "the angles of dataset /exchange/theta are not evenly spread" << false;
    QTest::newRow("not HDF5") << QList<Set> {} << "not an HDF5 file" << true;
}

void TestDxchangeFile::refusesMalformedFiles()
{
    QFETCH(QList<Set>, sets);
    QFETCH(QString, message);
    QFETCH(bool, imagesRefused);
    const QString path = tmp.filePath(QString("%1.h5").arg(QTest::currentDataTag()));
    if (sets.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("#VEXA-CTImg\n") > 0);
    } else {
        QVERIFY(writeFile(path, sets));
    }
    DxchangeFile::Info info;
    QString error;
    bool given = false;
    double origin = 0, range = 0;
    QVERIFY(!DxchangeFile::inspect(path, info, &error)
        || !DxchangeFile::angleRange(path, info, given, origin, range, &error));
    QVERIFY2(error.startsWith("Cannot load the HDF5 file " + path + ": "), qPrintable(error));
    QVERIFY2(error.contains(message), qPrintable(error));
    // Nor does a projection of a broken file load into an image set.
    ImgDatas set;
    QCOMPARE(set.add(DxchangeFile::address(path, 0)), !imagesRefused);
}

QTEST_GUILESS_MAIN(TestDxchangeFile)
#include "tst_DxchangeFile.moc"
