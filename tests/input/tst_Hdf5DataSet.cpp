// HDF5 data sets in the DXchange and NXtomo layouts, written here through the HDF5 library the
// way beamline software writes them, opened and read back as the program does.
#include "DxchangeFile.h"
#include "Hdf5DataSet.h"
#include "ImgData.h"
#include "ImgReaders.h"

#include <QTemporaryDir>
#include <QtTest>

#include <hdf5.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr int Rows = 3, Cols = 5;

// Value of frame k at (x, y): distinct everywhere.
double frameValue(int k, int y, int x)
{
    return 1000.0 + 100.0 * k + 10.0 * y + x;
}

// Writes HDF5 files object by object; every object is closed again at once.
class Writer
{
public:
    explicit Writer(const QString &path)
    {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        file = H5Fcreate(
            QFile::encodeName(path).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        ok = file >= 0;
    }
    ~Writer()
    {
        if (file >= 0)
            H5Fclose(file);
    }
    void group(const char *path, const char *nxClass = nullptr)
    {
        const hid_t g = H5Gcreate2(file, path, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        ok = ok && g >= 0;
        if (g >= 0) {
            if (nxClass)
                text(g, "NX_class", nxClass);
            H5Gclose(g);
        }
    }
    // A dataset of doubles converted to `type`, with a "units" attribute when given.
    void dataset(const char *path, hid_t type, const std::vector<hsize_t> &dims,
        const std::vector<double> &values, const char *units = nullptr)
    {
        const hid_t space = H5Screate_simple(int(dims.size()), dims.data(), nullptr);
        const hid_t set
            = H5Dcreate2(file, path, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        ok = ok && set >= 0
            && H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
        if (set >= 0) {
            if (units)
                text(set, "units", units);
            H5Dclose(set);
        }
        H5Sclose(space);
    }
    // `frames` frames of Rows x Cols, frame k holding frameValue(k, ...).
    void frames(const char *path, int frames, hid_t type = H5T_STD_U16LE)
    {
        std::vector<double> v;
        for (int k = 0; k < frames; ++k)
            for (int y = 0; y < Rows; ++y)
                for (int x = 0; x < Cols; ++x)
                    v.push_back(frameValue(k, y, x));
        dataset(path, type, { hsize_t(frames), Rows, Cols }, v);
    }
    hid_t file = H5I_INVALID_HID;
    bool ok = false;

private:
    // A variable-length string attribute, as h5py writes them.
    void text(hid_t obj, const char *name, const char *value)
    {
        const hid_t type = H5Tcopy(H5T_C_S1);
        H5Tset_size(type, H5T_VARIABLE);
        H5Tset_cset(type, H5T_CSET_UTF8);
        const hid_t space = H5Screate(H5S_SCALAR);
        const hid_t attr = H5Acreate2(obj, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
        ok = ok && attr >= 0 && H5Awrite(attr, type, &value) >= 0;
        if (attr >= 0)
            H5Aclose(attr);
        H5Sclose(space);
        H5Tclose(type);
    }
};

std::vector<double> spread(int n, double step, double first = 0)
{
    std::vector<double> v;
    for (int i = 0; i < n; ++i)
        v.push_back(first + i * step);
    return v;
}

// The image `name` loaded, compared value by value with `expected(y, x)`.
template <typename F> bool imageIs(const QString &name, F expected, QString *why)
{
    const std::unique_ptr<ImgData> d = ImgReaders::load(name, why);
    if (!d)
        return false;
    if (d->width != Cols || d->height != Rows) {
        *why = QString("size %1 x %2").arg(d->width).arg(d->height);
        return false;
    }
    std::vector<double> row(Cols);
    for (int y = 0; y < Rows; ++y) {
        d->hLine(y, row.data());
        for (int x = 0; x < Cols; ++x) {
            if (std::abs(row[x] - expected(y, x)) > 1e-9) {
                *why = QString("%1 at (%2, %3), not %4")
                           .arg(row[x])
                           .arg(x)
                           .arg(y)
                           .arg(expected(y, x));
                return false;
            }
        }
    }
    return true;
}

} // namespace

class TestHdf5DataSet : public QObject
{
    Q_OBJECT
private slots:
    void nxtomoEntries_data();
    void nxtomoEntries();
    void chooseAnEntry();
    void angleUnits_data();
    void angleUnits();

private:
    QTemporaryDir tmp;
};

void TestHdf5DataSet::nxtomoEntries_data()
{
    QTest::addColumn<QString>("layout");
    // Frame numbers of the projections, flats and darks of each layout written below.
    QTest::addColumn<QList<int>>("projections");
    QTest::addColumn<QList<int>>("flats");
    QTest::addColumn<QList<int>>("darks");
    QTest::addColumn<double>("stepDeg"); // angle step of the projections, in degrees
    QTest::newRow("ESRF: data/data, image_key, darks and flats first, angles per frame")
        << "esrf" << QList<int> { 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15 }
        << QList<int> { 2, 3, 17 } << QList<int> { 0, 1 } << 15.0;
    QTest::newRow("Diamond: instrument/detector/data, NXdata link, radians")
        << "diamond" << QList<int> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 } << QList<int> { 0 }
        << QList<int> { 13 } << 15.0;
    QTest::newRow("no image_key, no NX_class, angles per projection")
        << "plain" << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 } << QList<int> {}
        << QList<int> {} << 15.0;
}

void TestHdf5DataSet::nxtomoEntries()
{
    QFETCH(QString, layout);
    QFETCH(QList<int>, projections);
    QFETCH(QList<int>, flats);
    QFETCH(QList<int>, darks);
    QFETCH(double, stepDeg);
    const QString path = tmp.filePath(layout + ".nxs");
    {
        Writer w(path);
        if (layout == "esrf") {
            // 2 darks, 2 flats, 12 projections, 1 invalid frame (key 3), 1 flat.
            const int n = 18;
            std::vector<double> keys { 2, 2, 1, 1 };
            for (int i = 0; i < 12; ++i)
                keys.push_back(0);
            keys.push_back(3);
            keys.push_back(1);
            std::vector<double> angles(n, 0.0);
            for (int i = 0; i < 12; ++i)
                angles[size_t(4 + i)] = 30.0 + i * stepDeg;
            w.group("/entry0000", "NXentry");
            w.group("/entry0000/data", "NXdata");
            w.frames("/entry0000/data/data", n);
            w.dataset("/entry0000/data/image_key", H5T_STD_I32LE, { n }, keys);
            w.group("/entry0000/sample", "NXsample");
            w.dataset("/entry0000/sample/rotation_angle", H5T_IEEE_F64LE, { n }, angles, "degree");
            // Another top-level group of another class is no entry.
            w.group("/process", "NXprocess");
        } else if (layout == "diamond") {
            const int n = 14;
            std::vector<double> keys { 1 };
            for (int i = 0; i < 12; ++i)
                keys.push_back(0);
            keys.push_back(2);
            std::vector<double> angles(n, 0.0);
            for (int i = 0; i < 12; ++i)
                angles[size_t(1 + i)] = (30.0 + i * stepDeg) * std::numbers::pi / 180.0;
            w.group("/entry1", "NXentry");
            w.group("/entry1/instrument", "NXinstrument");
            w.group("/entry1/instrument/detector", "NXdetector");
            w.frames("/entry1/instrument/detector/data", n, H5T_IEEE_F32LE);
            w.dataset("/entry1/instrument/detector/image_key", H5T_STD_U8LE, { n }, keys);
            w.group("/entry1/tomo", "NXdata");
            H5Lcreate_soft("/entry1/instrument/detector/data", w.file, "/entry1/tomo/data",
                H5P_DEFAULT, H5P_DEFAULT);
            w.group("/entry1/sample", "NXsample");
            w.dataset("/entry1/sample/rotation_angle", H5T_IEEE_F64LE, { n }, angles, "rad");
        } else {
            w.group("/entry");
            w.group("/entry/data");
            w.frames("/entry/data/data", 12, H5T_STD_U32LE);
            w.dataset("/entry/data/rotation_angle", H5T_IEEE_F32LE, { 12 }, spread(12, stepDeg, 30),
                "degrees");
        }
        QVERIFY(w.ok);
    }
    Hdf5DataSet set;
    QString error;
    QVERIFY2(set.open(path, QString(), QString(), &error), qPrintable(error));
    QCOMPARE(set.layout, QString("NXtomo"));
    QCOMPARE(set.info.projections, int(projections.size()));
    QCOMPARE(set.info.whites, int(flats.size()));
    QCOMPARE(set.info.darks, int(darks.size()));
    QCOMPARE(set.info.rows, Rows);
    QCOMPARE(set.info.columns, Cols);
    QCOMPARE(int(set.info.theta.size()), int(projections.size()));
    for (size_t i = 0; i < set.info.theta.size(); ++i)
        QVERIFY(std::abs(set.info.theta[i] - (30.0 + double(i) * stepDeg)) < 1e-9);

    const QStringList names = set.projections();
    QCOMPARE(names.size(), projections.size());
    for (int i = 0; i < names.size(); ++i) {
        QString why;
        QVERIFY2(
            imageIs(
                names[i], [&](int y, int x) { return frameValue(projections[i], y, x); }, &why),
            qPrintable(names[i] + ": " + why));
    }
    // Flats and darks are averaged, each over its own frames.
    for (const auto &[name, frames] :
        { std::pair { set.flat(), flats }, std::pair { set.dark(), darks } }) {
        QCOMPARE(name.isEmpty(), frames.isEmpty());
        if (frames.isEmpty())
            continue;
        QString why;
        QVERIFY2(imageIs(
                     name,
                     [&](int y, int x) {
                         double sum = 0;
                         for (int k : frames)
                             sum += frameValue(k, y, x);
                         return sum / double(frames.size());
                     },
                     &why),
            qPrintable(name + ": " + why));
    }
}

void TestHdf5DataSet::chooseAnEntry()
{
    const QString path = tmp.filePath("two.nxs");
    {
        Writer w(path);
        for (const char *e : { "/entry1", "/entry2" }) {
            w.group(e, "NXentry");
            w.group(QByteArray(e) + "/data", "NXdata");
            w.frames(QByteArray(QByteArray(e) + "/data/data").constData(), e[6] == '1' ? 4 : 6);
        }
        QVERIFY(w.ok);
    }
    Hdf5DataSet set;
    QString error;
    QVERIFY(!set.open(path, QString(), QString(), &error));
    QVERIFY2(error.contains("/entry1, /entry2") && error.contains("--entry"), qPrintable(error));
    QVERIFY2(set.open(path, "/entry2", QString(), &error), qPrintable(error));
    QCOMPARE(set.info.projections, 6);
    QCOMPARE(set.base, path + "#/entry2");
    QVERIFY2(set.open(path, "entry1", QString(), &error), qPrintable(error));
    QCOMPARE(set.info.projections, 4);
    QVERIFY(!set.open(path, "/entry3", QString(), &error));
    QVERIFY2(error.contains("/entry3"), qPrintable(error));
}

void TestHdf5DataSet::angleUnits_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("step"); // as stored
    QTest::addColumn<QString>("units"); // the file's units attribute; empty: none
    QTest::addColumn<QString>("chosen"); // --theta-units
    QTest::addColumn<double>("stepDeg"); // expected; 0: refused
    QTest::addColumn<QString>("message"); // part of the refusal
    const double rad = std::numbers::pi / 180.0;
    QTest::newRow("degrees, no units") << 180 << 1.0 << ""
                                       << "" << 1.0 << "";
    QTest::newRow("units rad") << 180 << rad << "rad"
                               << "" << 1.0 << "";
    QTest::newRow("units radians") << 90 << 2 * rad << "radians"
                                   << "" << 2.0 << "";
    QTest::newRow("units deg") << 90 << 2.0 << "deg"
                               << "" << 2.0 << "";
    QTest::newRow("units degrees over a small span") << 30 << 0.1 << "degrees"
                                                     << "" << 0.1 << "";
    QTest::newRow("radians without units") << 180 << rad << ""
                                           << "" << 0.0 << "--theta-units rad|deg";
    QTest::newRow("radians without units, chosen rad") << 180 << rad << ""
                                                       << "rad" << 1.0 << "";
    QTest::newRow("a small span chosen deg") << 30 << 0.1 << ""
                                             << "deg" << 0.1 << "";
    QTest::newRow("few projections without units") << 5 << 0.5 << ""
                                                   << "" << 0.5 << "";
    QTest::newRow("unknown units") << 10 << 1.0 << "furlong"
                                   << "" << 0.0 << "furlong";
    QTest::newRow("unknown choice") << 10 << 1.0 << ""
                                    << "grad" << 0.0 << "grad";
}

void TestHdf5DataSet::angleUnits()
{
    QFETCH(int, count);
    QFETCH(double, step);
    QFETCH(QString, units);
    QFETCH(QString, chosen);
    QFETCH(double, stepDeg);
    QFETCH(QString, message);
    for (const QString layout : { "DXchange", "NXtomo" }) {
        const QString path = tmp.filePath(QString("units-%1.h5").arg(layout));
        {
            Writer w(path);
            const QByteArray u = units.toUtf8();
            if (layout == "DXchange") {
                w.group("/exchange");
                w.frames("/exchange/data", count);
                w.dataset("/exchange/theta", H5T_IEEE_F64LE, { hsize_t(count) },
                    spread(count, step), u.isEmpty() ? nullptr : u.constData());
            } else {
                w.group("/entry", "NXentry");
                w.group("/entry/data", "NXdata");
                w.frames("/entry/data/data", count);
                w.group("/entry/sample", "NXsample");
                w.dataset("/entry/sample/rotation_angle", H5T_IEEE_F64LE, { hsize_t(count) },
                    spread(count, step), u.isEmpty() ? nullptr : u.constData());
            }
            QVERIFY(w.ok);
        }
        Hdf5DataSet set;
        QString error;
        const bool opened = set.open(path, QString(), chosen, &error);
        QCOMPARE(set.layout, layout);
        QCOMPARE(opened, stepDeg > 0);
        if (!opened) {
            QVERIFY2(error.contains(message) && error.contains(path), qPrintable(error));
            continue;
        }
        QCOMPARE(int(set.info.theta.size()), count);
        for (int i = 0; i < count; ++i)
            QVERIFY2(std::abs(set.info.theta[size_t(i)] - i * stepDeg) < 1e-9,
                qPrintable(QString::number(set.info.theta[size_t(i)])));
    }
}

QTEST_MAIN(TestHdf5DataSet)
#include "tst_Hdf5DataSet.moc"
