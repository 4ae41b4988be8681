// DXchange HDF5 files written here through the HDF5 library itself, read back through the
// image set as the program does.
#include "DxchangeFile.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "InputTestUtil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <hdf5.h>
#include <libdeflate.h>

#include <memory>
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

// A file whose /exchange/data (uint16) declares `dims` with chunks of `chunk` (none: contiguous),
// deflated or not, of which only the first `written` images are written. The values are
// those of stack().
hid_t createData(hid_t file, std::vector<hsize_t> dims, std::vector<hsize_t> chunk, bool gzip,
    hid_t dcpl = H5P_DEFAULT)
{
    const hid_t space = H5Screate_simple(3, dims.data(), nullptr);
    const hid_t own = dcpl == H5P_DEFAULT ? H5Pcreate(H5P_DATASET_CREATE) : dcpl;
    if (!chunk.empty())
        H5Pset_chunk(own, 3, chunk.data());
    if (gzip)
        H5Pset_deflate(own, 6);
    const hid_t set
        = H5Dcreate2(file, "/exchange/data", H5T_STD_U16LE, space, H5P_DEFAULT, own, H5P_DEFAULT);
    if (own != dcpl)
        H5Pclose(own);
    H5Sclose(space);
    return set;
}

bool writeImages(hid_t set, int first, int count, int rows, int cols)
{
    std::vector<quint16> values;
    for (int k = first; k < first + count; ++k)
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                values.push_back(quint16(pixel(k, y, x)));
    const hsize_t start[3] = { hsize_t(first), 0, 0 };
    const hsize_t size[3] = { hsize_t(count), hsize_t(rows), hsize_t(cols) };
    const hid_t fileSpace = H5Dget_space(set);
    const hid_t memSpace = H5Screate_simple(3, size, nullptr);
    H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, size, nullptr);
    const bool ok
        = H5Dwrite(set, H5T_NATIVE_UINT16, memSpace, fileSpace, H5P_DEFAULT, values.data()) >= 0;
    H5Sclose(memSpace);
    H5Sclose(fileSpace);
    return ok;
}

// Writes a file with one storage fault of the kind `fault` in /exchange/data; other files it
// needs go beside it.
bool writeFault(const QString &path, const QString &fault)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const QString dir = QFileInfo(path).path();
    if (fault == "virtual, source in another file") {
        const QString other = dir + "/other.h5";
        const hid_t f = H5Fcreate(
            QFile::encodeName(other).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        const hsize_t dims[3] = { 3, 4, 4 };
        const hid_t space = H5Screate_simple(3, dims, nullptr);
        const hid_t src
            = H5Dcreate2(f, "/data", H5T_STD_U16LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        writeImages(src, 0, 3, 4, 4);
        H5Dclose(src);
        H5Fclose(f);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_virtual(dcpl, space, QFile::encodeName(other).constData(), "/data", space);
        const hid_t file = H5Fcreate(
            QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        H5Gclose(H5Gcreate2(file, "/exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        const hid_t set = H5Dcreate2(
            file, "/exchange/data", H5T_STD_U16LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        const bool ok = set >= 0;
        H5Dclose(set);
        H5Pclose(dcpl);
        H5Sclose(space);
        return H5Fclose(file) >= 0 && ok;
    }

    const hid_t file
        = H5Fcreate(QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0)
        return false;
    H5Gclose(H5Gcreate2(file, "/exchange", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    hid_t set = H5I_INVALID_HID;
    bool ok = true;
    if (fault == "1e9 projections declared, two stored") {
        set = createData(file, { 1000000000, 4, 4 }, { 1, 4, 4 }, false);
        ok = writeImages(set, 0, 2, 4, 4);
    } else if (fault == "scan stopped after 45 of 90") {
        set = createData(file, { 90, 4, 4 }, { 1, 4, 4 }, true);
        ok = writeImages(set, 0, 45, 4, 4);
    } else if (fault == "46340 x 46340 images declared, none stored") {
        set = createData(file, { 2, 46340, 46340 }, {}, false);
    } else if (fault == "raw chunk of the wrong size" || fault == "deflated chunk inflating short"
        || fault == "deflated chunk with a bad checksum") {
        const bool gzip = fault != "raw chunk of the wrong size";
        set = createData(file, { 3, 4, 4 }, { 1, 4, 4 }, gzip);
        ok = writeImages(set, 0, 3, 4, 4);
        // Image 1 replaced by a chunk of half an image.
        std::vector<quint16> half(8, 7);
        std::vector<unsigned char> packed(256);
        size_t bytes = half.size() * 2;
        const void *chunk = half.data();
        if (gzip) {
            libdeflate_compressor *c = libdeflate_alloc_compressor(6);
            bytes = libdeflate_zlib_compress(
                c, half.data(), half.size() * 2, packed.data(), packed.size());
            libdeflate_free_compressor(c);
            if (fault == "deflated chunk with a bad checksum") {
                // A whole image's worth, with its checksum changed.
                std::vector<quint16> whole(16, 7);
                c = libdeflate_alloc_compressor(6);
                bytes = libdeflate_zlib_compress(
                    c, whole.data(), whole.size() * 2, packed.data(), packed.size());
                libdeflate_free_compressor(c);
                packed[bytes - 1] ^= 0x5a;
            }
            chunk = packed.data();
        }
        const hsize_t at[3] = { 1, 0, 0 };
        ok = ok && bytes > 0 && H5Dwrite_chunk(set, H5P_DEFAULT, 0, at, bytes, chunk) >= 0;
    } else if (fault == "external storage") {
        const QString outside = dir + "/outside.bin";
        QFile f(outside);
        ok = f.open(QIODevice::WriteOnly) && f.write(QByteArray(96, 'x')) == 96;
        f.close();
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_external(dcpl, QFile::encodeName(outside).constData(), 0, 96);
        set = createData(file, { 3, 4, 4 }, {}, false, dcpl);
        H5Pclose(dcpl);
    } else if (fault == "root group's heap address damaged" || fault == "number type damaged"
        || fault == "chunk larger than its dataset") {
        set = createData(file, { 3, 4, 4 }, { 1, 4, 4 }, fault == "chunk larger than its dataset");
        ok = writeImages(set, 0, 3, 4, 4);
    }
    ok = ok && set >= 0;
    if (set >= 0)
        H5Dclose(set);
    ok = H5Fclose(file) >= 0 && ok;
    if (ok && fault == "root group's heap address damaged") {
        // In a version-0 superblock, the root group's entry ends with the addresses of its
        // B-tree and of its local heap (bytes 120 and 128); the heap's is made "undefined".
        QFile f(path);
        if (!f.open(QIODevice::ReadWrite))
            return false;
        QByteArray b = f.readAll();
        if (!b.startsWith("\x89HDF\r\n\x1a\n") || b.at(8) != 0 || b.size() < 136
            || qFromLittleEndian<quint64>(b.constData() + 128) >= quint64(b.size()))
            return false;
        b.replace(128, 8, QByteArray(8, char(0xff)));
        ok = f.seek(0) && f.write(b) == b.size();
    }
    if (ok && fault == "chunk larger than its dataset") {
        // The chunked layout message's chunk size (1, 4, 4 and the value size 2, four bytes
        // each) made to claim chunks of 1 x 4 x 32792.
        QFile f(path);
        if (!f.open(QIODevice::ReadWrite))
            return false;
        QByteArray b = f.readAll();
        const QByteArray dims("\x01\0\0\0\x04\0\0\0\x04\0\0\0\x02\0\0\0", 16);
        const qsizetype at = b.indexOf(dims);
        if (at < 0 || b.indexOf(dims, at + 1) >= 0)
            return false;
        b[at + 8] = char(0x18);
        b[at + 9] = char(0x80);
        ok = f.seek(0) && f.write(b) == b.size();
    }
    if (ok && fault == "number type damaged") {
        // The type message of a little-endian 16-bit unsigned integer (version 1, fixed
        // point, size 2, offset 0, precision 16) made to claim a precision of 240 bits.
        QFile f(path);
        if (!f.open(QIODevice::ReadWrite))
            return false;
        QByteArray b = f.readAll();
        const QByteArray u16("\x10\0\0\0\x02\0\0\0\0\0\x10\0", 12);
        qsizetype at = b.indexOf(u16);
        if (at < 0)
            return false;
        for (; at >= 0; at = b.indexOf(u16, at + 1))
            b[at + 10] = char(240);
        ok = f.seek(0) && f.write(b) == b.size();
    }
    return ok;
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
    void refusesWhatTheFileDoesNotHold_data();
    void refusesWhatTheFileDoesNotHold();
    void readsAReplacedFileAnew();

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
    // Part of a projection (the detector lines of a chunk of slices): a hyperslab, or the
    // part of a whole-image chunk, reads as the whole image does.
    for (const QString &name : DxchangeFile::projectionAddresses(path, count)) {
        const auto make = [&name] {
            return std::unique_ptr<ImgData>(ImgData::create(ImgData::fileType(name)));
        };
        QCOMPARE(partsMismatch(name, make), QString());
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

void TestDxchangeFile::refusesWhatTheFileDoesNotHold_data()
{
    QTest::addColumn<QString>("message");
    // -1: the file is refused when chosen; else the image refused when loaded.
    QTest::addColumn<int>("refusedImage");
    QTest::newRow("1e9 projections declared, two stored")
        << "at least 999999998 of its 1000000000 images are not stored" << -1;
    QTest::newRow("scan stopped after 45 of 90") << "45 of its 90 images are not stored" << -1;
    QTest::newRow("46340 x 46340 images declared, none stored")
        << "none are stored (all 2 images are missing)" << -1;
    QTest::newRow("raw chunk of the wrong size")
        << "the chunk of image 1 holds 16 bytes, not 32" << -1;
    QTest::newRow("deflated chunk inflating short") << "the chunk of image 1 is damaged" << 1;
    QTest::newRow("deflated chunk with a bad checksum") << "the chunk of image 1 is damaged" << 1;
    QTest::newRow("external storage") << "keeps its data in other files" << -1;
    QTest::newRow("virtual, source in another file") << "takes data from another file" << -1;
    // The library itself reads outside its buffers on this one (a crash of the program).
    QTest::newRow("root group's heap address damaged") << "fails on its structure" << -1;
    // A conversion from this type writes past the library's own buffers.
    QTest::newRow("number type damaged") << "stores numbers of a damaged or unknown kind" << -1;
    QTest::newRow("chunk larger than its dataset") << "has a damaged chunk layout" << -1;
}

void TestDxchangeFile::refusesWhatTheFileDoesNotHold()
{
    QFETCH(QString, message);
    QFETCH(int, refusedImage);
    QTemporaryDir dir;
    const QString path = dir.filePath("data.h5");
    QVERIFY(writeFault(path, QTest::currentDataTag()));
    DxchangeFile::Info info;
    QString error;
    const bool inspected = DxchangeFile::inspect(path, info, &error);
    QCOMPARE(inspected, refusedImage >= 0);
    ImgDatas set;
    if (!inspected) {
        QVERIFY2(error.startsWith("Cannot load the HDF5 file " + path + ": "), qPrintable(error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(!set.add(DxchangeFile::address(path, 0)));
        QVERIFY2(set.refused.last().reason.contains(message), qPrintable(set.refusedText()));
        return;
    }
    // The images around the damaged one load as written; the damaged one is refused.
    for (int k = 0; k < info.projections; ++k)
        QCOMPARE(set.add(DxchangeFile::address(path, k)), k != refusedImage);
    QVERIFY2(set.refusedText().contains(message), qPrintable(set.refusedText()));
    std::vector<double> line(info.columns);
    set.at(1)->hLine(2, line.data());
    QCOMPARE(line[3], pixel(2, 2, 3));
}

void TestDxchangeFile::readsAReplacedFileAnew()
{
    const QString path = tmp.filePath("replaced.h5");
    QVERIFY(writeFile(path, { stack("/exchange/data", H5T_STD_U16LE, 2, 3, 4) }));
    std::unique_ptr<ImgData> before(ImgData::create(ImgData::fileType(path + "#1")));
    before->fileName = path + "#1";
    QVERIFY(before->load());
    std::vector<double> line(4);
    before->hLine(0, line.data());
    QCOMPARE(line[0], pixel(1, 0, 0));

    // Another acquisition written to the same name while the first is still shown.
    Set other = stack("/exchange/data", H5T_STD_U16LE, 3, 3, 4);
    for (double &v : other.values)
        v += 5000;
    const QString next = tmp.filePath("next.h5");
    QVERIFY(writeFile(next, { other }));
    QVERIFY(QFile::remove(path) && QFile::rename(next, path));

    DxchangeFile::Info info;
    QString error;
    QVERIFY2(DxchangeFile::inspect(path, info, &error), qPrintable(error));
    QCOMPARE(info.projections, 3);
    std::unique_ptr<ImgData> after(ImgData::create(ImgData::fileType(path + "#1")));
    after->fileName = path + "#1";
    QVERIFY(after->load());
    after->hLine(0, line.data());
    QCOMPARE(line[0], pixel(1, 0, 0) + 5000);
}

QTEST_GUILESS_MAIN(TestDxchangeFile)
#include "tst_DxchangeFile.moc"
