#include "NxtomoFile.h"

#include "Hdf5Guard.h"
#include "ThetaUnits.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <hdf5.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <new>

namespace {

// One image may hold at most this many pixels: a damaged header must not make a reader ask
// for terabytes.
constexpr qint64 MaxImagePixels = qint64(1) << 31;

// An HDF5 identifier closed with the function of its kind when it goes out of scope.
struct Id
{
    hid_t id = H5I_INVALID_HID;
    herr_t (*close)(hid_t) = nullptr;
    Id(hid_t i, herr_t (*c)(hid_t))
        : id(i)
        , close(c)
    { }
    Id(const Id &) = delete;
    Id &operator=(const Id &) = delete;
    ~Id()
    {
        if (id >= 0)
            close(id);
    }
    bool valid() const { return id >= 0; }
    operator hid_t() const { return id; }
};

QString failText(const QString &path, const QString &what)
{
    return QStringLiteral("Cannot load the NXtomo file %1: %2").arg(path, what);
}

// The kind of the object at `path` (H5I_DATASET, H5I_GROUP), or H5I_BADID when there is
// none; each step of the path must exist before the next is asked for.
H5I_type_t kindOf(hid_t file, const QString &path)
{
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return H5I_BADID;
    QByteArray at;
    for (const QString &p : parts) {
        at += '/' + p.toUtf8();
        if (H5Lexists(file, at.constData(), H5P_DEFAULT) <= 0)
            return H5I_BADID;
    }
    const hid_t obj = H5Oopen(file, at.constData(), H5P_DEFAULT);
    if (obj < 0)
        return H5I_BADID;
    const H5I_type_t kind = H5Iget_type(obj);
    H5Oclose(obj);
    return kind;
}

bool isDataset(hid_t file, const QString &path)
{
    return kindOf(file, path) == H5I_DATASET;
}

// A string attribute of an object, or an empty text.
QString stringAttribute(hid_t file, const QString &object, const char *name)
{
    const QByteArray obj = object.toUtf8();
    if (H5Aexists_by_name(file, obj.constData(), name, H5P_DEFAULT) <= 0)
        return {};
    Id attr(H5Aopen_by_name(file, obj.constData(), name, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    Id type(H5Aget_type(attr), H5Tclose);
    if (!attr.valid() || H5Tget_class(type) != H5T_STRING)
        return {};
    Id space(H5Aget_space(attr), H5Sclose);
    if (H5Sget_simple_extent_npoints(space) != 1)
        return {};
    if (H5Tis_variable_str(type) > 0) {
        Id mem(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(mem, H5T_VARIABLE);
        H5Tset_cset(mem, H5Tget_cset(type));
        char *text = nullptr;
        if (H5Aread(attr, mem, &text) < 0 || !text)
            return {};
        const QString s = QString::fromUtf8(text);
        H5free_memory(text);
        return s;
    }
    const size_t size = H5Tget_size(type);
    if (size == 0 || size > 4096)
        return {};
    QByteArray text(qsizetype(size), '\0');
    if (H5Aread(attr, type, text.data()) < 0)
        return {};
    return QString::fromUtf8(text.constData(), qstrnlen(text.constData(), size)).trimmed();
}

herr_t collectGroup(hid_t, const char *name, const H5L_info_t *, void *data)
{
    static_cast<QStringList *>(data)->append(QString::fromUtf8(name));
    return 0;
}

QStringList children(hid_t file, const QString &group)
{
    QStringList names;
    Id g(H5Gopen2(file, group.toUtf8().constData(), H5P_DEFAULT), H5Gclose);
    if (!g.valid())
        return names;
    H5Literate(g, H5_INDEX_NAME, H5_ITER_NATIVE, nullptr, collectGroup, &names);
    return names;
}

bool isGroup(hid_t file, const QString &path)
{
    return kindOf(file, path) == H5I_GROUP;
}

// The stack of frames of an entry: the "data" of its NXdata group, or of its detector.
QString framesOf(hid_t file, const QString &entry)
{
    QStringList candidates;
    for (const QString &child : children(file, entry)) {
        const QString path = entry + u'/' + child;
        if (isGroup(file, path) && stringAttribute(file, path, "NX_class") == u"NXdata")
            candidates << path + QStringLiteral("/data");
    }
    candidates << entry + QStringLiteral("/data/data")
               << entry + QStringLiteral("/instrument/detector/data");
    for (const QString &c : std::as_const(candidates)) {
        if (!isDataset(file, c))
            continue;
        Id set(H5Dopen2(file, c.toUtf8().constData(), H5P_DEFAULT), H5Dclose);
        Id space(H5Dget_space(set), H5Sclose);
        if (set.valid() && H5Sget_simple_extent_ndims(space) == 3)
            return c;
    }
    return {};
}

// A rank-1 numeric dataset read as doubles; false when absent or of another kind.
bool readList(hid_t file, const QString &path, std::vector<double> &values)
{
    values.clear();
    if (!isDataset(file, path))
        return false;
    Id set(H5Dopen2(file, path.toUtf8().constData(), H5P_DEFAULT), H5Dclose);
    Id space(H5Dget_space(set), H5Sclose);
    Id type(H5Dget_type(set), H5Tclose);
    if (!set.valid() || H5Sget_simple_extent_ndims(space) != 1
        || !Hdf5Guard::plainNumberType(type))
        return false;
    hsize_t n = 0;
    H5Sget_simple_extent_dims(space, &n, nullptr);
    if (n > hsize_t(INT_MAX))
        return false;
    values.resize(size_t(n));
    return n == 0
        || H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
}

// One read at a time. Files are opened for each look-up and closed at once, so that a file
// can be rewritten while the program runs; the layout of the entries read last is kept for
// as long as the file is not changed.
std::mutex fileMutex;
QString cachedFile; // absolute path and modification time
QHash<QString, NxtomoFile::Entry> entryCache;

struct OpenFile
{
    hid_t id = H5I_INVALID_HID;
    OpenFile() = default;
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile()
    {
        if (id >= 0)
            H5Fclose(id);
    }
};

bool openFile(const QString &path, OpenFile &f, QString *error)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const QFileInfo fi(path);
    if (!fi.isFile()) {
        *error = failText(path, QStringLiteral("no such file"));
        return false;
    }
    if (!DxchangeFile::isHdf5(path)) {
        *error = failText(path, QStringLiteral("not an HDF5 file"));
        return false;
    }
    const QString key = fi.absoluteFilePath() + u'|' + QString::number(fi.size()) + u'|'
        + QString::number(fi.lastModified().toMSecsSinceEpoch());
    if (key != cachedFile) {
        cachedFile = key;
        entryCache.clear();
    }
    QString why;
    f.id = Hdf5Guard::openReadOnly(path, &why);
    if (f.id < 0) {
        *error = failText(path, why);
        return false;
    }
    return true;
}

QStringList entriesOf(hid_t file)
{
    QStringList withClass, named;
    for (const QString &child : children(file, QStringLiteral("/"))) {
        const QString path = u'/' + child;
        if (!isGroup(file, path) || framesOf(file, path).isEmpty())
            continue;
        if (stringAttribute(file, path, "NX_class") == u"NXentry")
            withClass << path;
        else if (child.startsWith(QStringLiteral("entry"), Qt::CaseInsensitive))
            named << path;
    }
    return withClass.isEmpty() ? named : withClass;
}

bool inspectLocked(const QString &path, const QString &entryName, NxtomoFile::Entry &e,
    QString *error, OpenFile &f)
{
    if (f.id < 0 && !openFile(path, f, error))
        return false;
    const hid_t file = f.id;
    const QString cacheKey = entryName;
    if (entryCache.contains(cacheKey)) {
        e = entryCache.value(cacheKey);
        return true;
    }
    const QStringList all = entriesOf(file);
    QString entry = entryName;
    if (entry.isEmpty()) {
        if (all.isEmpty()) {
            *error = failText(path,
                QStringLiteral("no NXtomo entry (a group of class NXentry with data/data or "
                               "instrument/detector/data) and no DXchange /exchange/data"));
            return false;
        }
        if (all.size() > 1) {
            *error = failText(path,
                QStringLiteral("it holds %1 entries (%2): choose one with --entry")
                    .arg(all.size())
                    .arg(all.join(QStringLiteral(", "))));
            return false;
        }
        entry = all.first();
    } else if (!entry.startsWith(u'/')) {
        entry.prepend(u'/');
    }
    if (!all.contains(entry)) {
        *error = failText(path,
            QStringLiteral("no entry %1 with frames (entries: %2)")
                .arg(entry,
                    all.isEmpty() ? QStringLiteral("none") : all.join(QStringLiteral(", "))));
        return false;
    }
    e = NxtomoFile::Entry();
    e.name = entry;
    e.data = framesOf(file, entry);
    Id set(H5Dopen2(file, e.data.toUtf8().constData(), H5P_DEFAULT), H5Dclose);
    Id space(H5Dget_space(set), H5Sclose);
    Id type(H5Dget_type(set), H5Tclose);
    hsize_t dims[3] = {};
    H5Sget_simple_extent_dims(space, dims, nullptr);
    const H5T_class_t cls = H5Tget_class(type);
    if (cls != H5T_INTEGER && cls != H5T_FLOAT) {
        *error = failText(path, QStringLiteral("dataset %1 holds no numbers").arg(e.data));
        return false;
    }
    if (dims[0] < 1 || dims[1] < 1 || dims[2] < 1 || dims[0] > hsize_t(INT_MAX)
        || dims[1] > hsize_t(INT_MAX) || dims[2] > hsize_t(INT_MAX)
        || qint64(dims[1]) * qint64(dims[2]) > MaxImagePixels) {
        *error = failText(path,
            QStringLiteral("dataset %1 has an unusable size %2 x %3 x %4")
                .arg(e.data)
                .arg(dims[0])
                .arg(dims[1])
                .arg(dims[2]));
        return false;
    }
    const int frames = int(dims[0]);
    e.rows = int(dims[1]);
    e.columns = int(dims[2]);

    std::vector<double> keys;
    QString keyPath;
    for (const QString &c : { entry + QStringLiteral("/instrument/detector/image_key"),
             entry + QStringLiteral("/data/image_key") }) {
        if (readList(file, c, keys)) {
            keyPath = c;
            break;
        }
    }
    if (!keyPath.isEmpty() && keys.size() != size_t(frames)) {
        *error = failText(path,
            QStringLiteral("dataset %1 has %2 keys for %3 frames")
                .arg(keyPath)
                .arg(keys.size())
                .arg(frames));
        return false;
    }
    for (int i = 0; i < frames; ++i) {
        const double k = keyPath.isEmpty() ? 0.0 : keys[size_t(i)];
        if (k == 0)
            e.projections.push_back(i);
        else if (k == 1)
            e.flats.push_back(i);
        else if (k == 2)
            e.darks.push_back(i);
    }
    if (e.projections.empty()) {
        *error = failText(path, QStringLiteral("%1 has no projection (image_key 0)").arg(entry));
        return false;
    }

    std::vector<double> angles;
    for (const QString &c : { entry + QStringLiteral("/sample/rotation_angle"),
             entry + QStringLiteral("/data/rotation_angle") }) {
        if (!readList(file, c, angles))
            continue;
        e.thetaPath = c;
        e.thetaUnits = stringAttribute(file, c, "units");
        if (angles.size() == size_t(frames)) {
            for (int i : e.projections)
                e.theta.push_back(angles[size_t(i)]);
        } else if (angles.size() == e.projections.size()) {
            e.theta = angles;
        } else {
            *error = failText(path,
                QStringLiteral("dataset %1 has %2 angles for %3 frames (%4 projections)")
                    .arg(c)
                    .arg(angles.size())
                    .arg(frames)
                    .arg(e.projections.size()));
            return false;
        }
        break;
    }
    entryCache.insert(cacheKey, e);
    return true;
}

} // namespace

bool NxtomoFile::isNxtomo(const QString &path)
{
    if (!QFileInfo(path).isFile() || !DxchangeFile::isHdf5(path))
        return false;
    std::lock_guard<std::mutex> lock(fileMutex);
    QString error;
    OpenFile f;
    return openFile(path, f, &error) && !entriesOf(f.id).isEmpty();
}

QStringList NxtomoFile::entries(const QString &path, QString *error)
{
    std::lock_guard<std::mutex> lock(fileMutex);
    OpenFile f;
    return openFile(path, f, error) ? entriesOf(f.id) : QStringList();
}

bool NxtomoFile::inspect(const QString &path, const QString &entry, Entry &e, QString *error)
{
    QString dummy;
    std::lock_guard<std::mutex> lock(fileMutex);
    OpenFile f;
    return inspectLocked(path, entry, e, error ? error : &dummy, f);
}

bool NxtomoFile::describe(const QString &path, const QString &entry, const QString &chosenUnits,
    DxchangeFile::Info &info, QString &base, QString *error)
{
    Entry e;
    if (!inspect(path, entry, e, error))
        return false;
    info = DxchangeFile::Info();
    info.projections = int(e.projections.size());
    info.rows = e.rows;
    info.columns = e.columns;
    info.whites = int(e.flats.size());
    info.darks = int(e.darks.size());
    info.theta = e.theta;
    if (!ThetaUnits::toDegrees(info.theta, e.thetaUnits, chosenUnits,
            QStringLiteral("%1 (dataset %2)").arg(path, e.thetaPath), error))
        return false;
    base = path + u'#' + e.name;
    return true;
}

bool NxtomoFile::isAddress(const QString &name)
{
    QString file, entry;
    DxchangeFile::Part part;
    int index = 0;
    return splitAddress(name, file, entry, part, index) && QFileInfo(file).isFile();
}

bool NxtomoFile::splitAddress(
    const QString &name, QString &file, QString &entry, DxchangeFile::Part &part, int &index)
{
    QString base;
    if (!DxchangeFile::splitAddress(name, base, part, index))
        return false;
    const qsizetype hash = base.lastIndexOf(u'#');
    if (hash < 1 || base.size() < hash + 2 || base.at(hash + 1) != u'/')
        return false;
    file = base.left(hash);
    entry = base.mid(hash + 1);
    return true;
}

bool NxtomoFile::readImage(const QString &path, const QString &entryName, DxchangeFile::Part part,
    int index, std::vector<double> &pixels, int &rows, int &columns, bool &singleExact,
    QString *error)
{
    QString dummy;
    if (!error)
        error = &dummy;
    std::lock_guard<std::mutex> lock(fileMutex);
    Entry e;
    OpenFile f;
    if (!inspectLocked(path, entryName, e, error, f))
        return false;
    if (f.id < 0 && !openFile(path, f, error))
        return false;
    const hid_t file = f.id;
    rows = e.rows;
    columns = e.columns;
    const std::vector<int> &frames = part == DxchangeFile::Part::White ? e.flats
        : part == DxchangeFile::Part::Dark                             ? e.darks
                                                                       : e.projections;
    const char *what = part == DxchangeFile::Part::White ? "flat"
        : part == DxchangeFile::Part::Dark               ? "dark"
                                                         : "projection";
    if (frames.empty()
        || (part == DxchangeFile::Part::Projection && (index < 0 || index >= int(frames.size())))) {
        *error = failText(path,
            QStringLiteral("%1 has no %2 %3 (%4 of them)")
                .arg(e.name, what)
                .arg(part == DxchangeFile::Part::Projection ? QString::number(index) : QString())
                .arg(frames.size()));
        return false;
    }
    Id set(H5Dopen2(file, e.data.toUtf8().constData(), H5P_DEFAULT), H5Dclose);
    Id type(H5Dget_type(set), H5Tclose);
    if (!Hdf5Guard::plainNumberType(type)) {
        *error = failText(path,
            QStringLiteral("dataset %1 stores numbers of a damaged or unknown kind").arg(e.data));
        return false;
    }
    const size_t bytes = H5Tget_size(type);
    singleExact = part == DxchangeFile::Part::Projection
        && ((H5Tget_class(type) == H5T_INTEGER && bytes <= 2)
            || (H5Tget_class(type) == H5T_FLOAT && bytes == 4));
    Id fileSpace(H5Dget_space(set), H5Sclose);
    const hsize_t one[3] = { 1, hsize_t(rows), hsize_t(columns) };
    Id memSpace(H5Screate_simple(3, one, nullptr), H5Sclose);
    const size_t count = size_t(rows) * size_t(columns);
    try {
        std::vector<double> frame(count);
        pixels.assign(count, 0.0);
        const std::vector<int> chosen = part == DxchangeFile::Part::Projection
            ? std::vector<int> { frames[size_t(index)] }
            : frames;
        for (int k : chosen) {
            const hsize_t start[3] = { hsize_t(k), 0, 0 };
            if (H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, one, nullptr) < 0
                || H5Dread(set, H5T_NATIVE_DOUBLE, memSpace, fileSpace, H5P_DEFAULT, frame.data())
                    < 0) {
                *error = failText(
                    path, QStringLiteral("dataset %1: frame %2 cannot be read").arg(e.data).arg(k));
                return false;
            }
            for (size_t i = 0; i < count; ++i)
                pixels[i] += frame[i];
        }
        if (chosen.size() > 1) {
            const double n = double(chosen.size());
            for (double &v : pixels)
                v /= n;
        }
    } catch (const std::bad_alloc &) {
        pixels.clear();
        *error = failText(path,
            QStringLiteral("dataset %1: no memory for an image of %2 x %3")
                .arg(e.data)
                .arg(columns)
                .arg(rows));
        return false;
    }
    return true;
}
