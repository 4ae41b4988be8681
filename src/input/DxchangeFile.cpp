#include "DxchangeFile.h"

#include "Hdf5Guard.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <hdf5.h>
#include <libdeflate.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <utility>

#include <climits>
#include <cstring>
#include <future>

namespace {

const char *const DataSet = "/exchange/data";
const char *const WhiteSet = "/exchange/data_white";
const char *const DarkSet = "/exchange/data_dark";
const char *const ThetaSet = "/exchange/theta";

// One image may hold at most this many pixels: a damaged header must not make a reader ask
// for terabytes.
constexpr qint64 MaxImagePixels = qint64(1) << 31;

// Owns one HDF5 identifier and closes it with the function of its kind.
class Hid
{
public:
    using Closer = herr_t (*)(hid_t);
    Hid() = default;
    Hid(hid_t id, Closer c)
        : id(id)
        , closer(c)
    { }
    Hid(Hid &&o) noexcept
        : id(std::exchange(o.id, H5I_INVALID_HID))
        , closer(o.closer)
    { }
    Hid &operator=(Hid &&o) noexcept
    {
        if (this != &o) {
            reset();
            id = std::exchange(o.id, H5I_INVALID_HID);
            closer = o.closer;
        }
        return *this;
    }
    ~Hid() { reset(); }
    void reset()
    {
        if (id >= 0 && closer)
            closer(id);
        id = H5I_INVALID_HID;
    }
    bool valid() const { return id >= 0; }
    operator hid_t() const { return id; }

private:
    hid_t id = H5I_INVALID_HID;
    Closer closer = nullptr;
};

// HDF5 prints its error stack to stderr unless told otherwise, per thread; the reader
// reports failures itself, naming the file and the dataset.
void quietErrors()
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

bool linkExists(hid_t file, const char *path)
{
    // Each step of the path must exist before the next is asked for.
    const QByteArray p(path);
    qsizetype from = 1;
    for (;;) {
        const qsizetype slash = p.indexOf('/', from);
        const QByteArray part = slash < 0 ? p : p.left(slash);
        if (H5Lexists(file, part.constData(), H5P_DEFAULT) <= 0)
            return false;
        if (slash < 0)
            return true;
        from = slash + 1;
    }
}

QString typeName(hid_t type)
{
    const H5T_class_t cls = H5Tget_class(type);
    const size_t size = H5Tget_size(type);
    if (cls == H5T_INTEGER)
        return QString("%1int%2").arg(H5Tget_sign(type) == H5T_SGN_NONE ? "u" : "").arg(size * 8);
    if (cls == H5T_FLOAT)
        return QString("float%1").arg(size * 8);
    if (cls == H5T_STRING)
        return "string";
    if (cls == H5T_COMPOUND)
        return "compound";
    return "non-numeric";
}

// The stored pixel type of a projection dataset, or false.
bool pixelOf(hid_t type, DxchangeFile::Pixel &pixel)
{
    const H5T_class_t cls = H5Tget_class(type);
    const size_t size = H5Tget_size(type);
    if (cls == H5T_INTEGER && H5Tget_sign(type) == H5T_SGN_NONE && (size == 2 || size == 4)) {
        pixel = size == 2 ? DxchangeFile::Pixel::UInt16 : DxchangeFile::Pixel::UInt32;
        return true;
    }
    if (cls == H5T_FLOAT && size == 4) {
        pixel = DxchangeFile::Pixel::Float32;
        return true;
    }
    return false;
}

hid_t memoryType(DxchangeFile::Pixel pixel)
{
    switch (pixel) {
    case DxchangeFile::Pixel::UInt16:
        return H5T_NATIVE_UINT16;
    case DxchangeFile::Pixel::UInt32:
        return H5T_NATIVE_UINT32;
    case DxchangeFile::Pixel::Float32:
        return H5T_NATIVE_FLOAT;
    case DxchangeFile::Pixel::Float64:
        break;
    }
    return H5T_NATIVE_DOUBLE;
}

size_t pixelBytes(DxchangeFile::Pixel pixel)
{
    return pixel == DxchangeFile::Pixel::UInt16 ? 2 : pixel == DxchangeFile::Pixel::Float64 ? 8 : 4;
}

QString failText(const QString &path, const QString &what)
{
    return QString("Cannot load the HDF5 file %1: %2").arg(path, what);
}

struct Stack
{
    Hid set;
    // Each image is one chunk, stored as it is or deflated (the usual layout of projection
    // files), in the byte order and type of this machine: read and inflated without the
    // library's chunk cache and conversion (see readChunk).
    bool wholeImageChunks = false;
    bool deflated = false;
    int count = 0; // images
    int rows = 0;
    int columns = 0;
    DxchangeFile::Pixel pixel = DxchangeFile::Pixel::UInt16;
};

// Opens an image stack (rank 3: images x rows x columns) and checks it. `chunkCacheBytes`
// sizes the chunk cache so that the chunks of one image stay cached for the next.
bool openStack(
    hid_t file, const char *name, const QString &path, bool anyNumber, Stack &s, QString *error)
{
    s.set = Hid(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose);
    if (!s.set.valid()) {
        *error = failText(path, QString("%1 is not a dataset").arg(name));
        return false;
    }
    Hid space(H5Dget_space(s.set), H5Sclose);
    const int rank = H5Sget_simple_extent_ndims(space);
    if (rank != 3) {
        *error = failText(path,
            QString("dataset %1 has rank %2, not 3 (images x rows x columns)").arg(name).arg(rank));
        return false;
    }
    hsize_t dims[3] = {};
    H5Sget_simple_extent_dims(space, dims, nullptr);
    Hid type(H5Dget_type(s.set), H5Tclose);
    const bool numeric = H5Tget_class(type) == H5T_INTEGER || H5Tget_class(type) == H5T_FLOAT;
    if (!(anyNumber ? numeric : pixelOf(type, s.pixel))) {
        *error = failText(path,
            QString("dataset %1 holds %2 values (%3 expected)")
                .arg(name, typeName(type), anyNumber ? "numbers" : "uint16, uint32 or float32"));
        return false;
    }
    if (dims[0] < 1 || dims[1] < 1 || dims[2] < 1 || dims[0] > hsize_t(INT_MAX)
        || dims[1] > hsize_t(INT_MAX) || dims[2] > hsize_t(INT_MAX)
        || qint64(dims[1]) * qint64(dims[2]) > MaxImagePixels) {
        *error = failText(path,
            QString("dataset %1 has an unusable size %2 x %3 x %4")
                .arg(name)
                .arg(dims[0])
                .arg(dims[1])
                .arg(dims[2]));
        return false;
    }
    s.count = int(dims[0]);
    s.rows = int(dims[1]);
    s.columns = int(dims[2]);
    return true;
}

// Whether the images of `s` can be read chunk by chunk, raw: one chunk per image, no filter
// but deflate, and the file's type the one the image is kept in here.
void checkDirectChunks(Stack &s, hid_t memType)
{
    s.wholeImageChunks = false;
    Hid dcpl(H5Dget_create_plist(s.set), H5Pclose);
    if (!dcpl.valid() || H5Pget_layout(dcpl) != H5D_CHUNKED)
        return;
    hsize_t chunk[3] = {};
    if (H5Pget_chunk(dcpl, 3, chunk) != 3 || chunk[0] != 1 || chunk[1] != hsize_t(s.rows)
        || chunk[2] != hsize_t(s.columns))
        return;
    const int filters = H5Pget_nfilters(dcpl);
    if (filters < 0 || filters > 1)
        return;
    s.deflated = false;
    if (filters == 1) {
        unsigned flags = 0;
        size_t values = 0;
        unsigned config = 0;
        if (H5Pget_filter2(dcpl, 0, &flags, &values, nullptr, 0, nullptr, &config)
            != H5Z_FILTER_DEFLATE)
            return;
        s.deflated = true;
    }
    Hid type(H5Dget_type(s.set), H5Tclose);
    if (H5Tequal(type, memType) <= 0)
        return;
    s.wholeImageChunks = true;
}

// The chunk cache a projection dataset needs so that reading projection after projection
// decompresses every chunk once: all chunks that one projection touches.
void sizeChunkCache(hid_t file, Stack &s)
{
    Hid dcpl(H5Dget_create_plist(s.set), H5Pclose);
    if (H5Pget_layout(dcpl) != H5D_CHUNKED)
        return;
    hsize_t chunk[3] = {};
    if (H5Pget_chunk(dcpl, 3, chunk) != 3 || chunk[1] == 0 || chunk[2] == 0)
        return;
    Hid type(H5Dget_type(s.set), H5Tclose);
    const hsize_t across
        = ((s.rows + chunk[1] - 1) / chunk[1]) * ((s.columns + chunk[2] - 1) / chunk[2]);
    const hsize_t bytes = across * chunk[0] * chunk[1] * chunk[2] * H5Tget_size(type);
    const size_t cache = size_t(std::min<hsize_t>(bytes + (1 << 20), hsize_t(1) << 30));
    Hid dapl(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
    H5Pset_chunk_cache(dapl, size_t(std::max<hsize_t>(across * 10 + 1, 521)), cache, 1.0);
    Hid reopened(H5Dopen2(file, DataSet, dapl), H5Dclose);
    if (reopened.valid())
        s.set = std::move(reopened);
}

// Everything `s` declares is stored in the file (see Hdf5Guard), so that nothing is allocated
// for, or read from, images the file does not hold.
bool checkStored(hid_t file, const Stack &s, const char *name, const QString &path,
    const Hdf5Guard::Stamp &stamp, QString *error)
{
    QString what;
    if (Hdf5Guard::checkStorage(file, s.set, name, stamp.size, &what))
        return true;
    *error = failText(path, what);
    return false;
}

} // namespace

class DxchangeFile::Source
{
public:
    QString path;
    // The file as it was when opened; a file replaced since is opened anew, and the readers
    // of the old one are refused (see retire).
    Hdf5Guard::Stamp stamp;
    bool retired = false;
    Hid file;
    Stack data;
    Stack white;
    Stack dark;
    std::mutex mutex; // one read at a time through the shared handles
    // For raw chunks: the compressed bytes of one, and the inflater.
    std::vector<unsigned char> packed;
    libdeflate_decompressor *inflater = nullptr;
    // Images are mostly read in order: image k + 1, inflated on another thread while image k
    // is inflated here (see readChunk).
    struct Ahead
    {
        int index = -1;
        std::vector<unsigned char> packed;
        std::vector<char> image;
        libdeflate_decompressor *inflater = nullptr;
        std::future<bool> done;
    } ahead;

    ~Source()
    {
        if (ahead.done.valid())
            ahead.done.wait();
        for (libdeflate_decompressor *d : { inflater, ahead.inflater })
            if (d)
                libdeflate_free_decompressor(d);
    }

    // Closes every handle on a file that has been replaced: the library shares one open file
    // among all opens of the same inode, so the new one is read anew only once the old
    // handles are gone. Called with `mutex` held.
    void retire()
    {
        if (ahead.done.valid())
            ahead.done.wait();
        ahead.index = -1;
        data.set.reset();
        white.set.reset();
        dark.set.reset();
        file.reset();
        retired = true;
    }

    // The stored bytes of the chunk of image `index` into `raw`; `filtered` tells whether
    // they are deflated. False when the chunk is not what the layout promised.
    bool readRaw(int index, size_t bytes, std::vector<unsigned char> &raw, bool &filtered)
    {
        const hsize_t offset[3] = { hsize_t(index), 0, 0 };
        hsize_t stored = 0;
        if (H5Dget_chunk_storage_size(data.set, offset, &stored) < 0 || stored == 0
            || stored > hsize_t(2) * bytes + 4096)
            return false;
        raw.resize(size_t(stored));
        uint32_t mask = 0;
        if (H5Dread_chunk(data.set, H5P_DEFAULT, offset, &mask, raw.data()) < 0)
            return false;
        // A chunk the filter was skipped for is stored as it is.
        filtered = data.deflated && mask == 0;
        return filtered || stored == bytes;
    }

    static bool inflate(libdeflate_decompressor *&d, const std::vector<unsigned char> &raw,
        bool filtered, void *dst, size_t bytes)
    {
        if (!filtered) {
            std::memcpy(dst, raw.data(), bytes);
            return true;
        }
        if (!d && !(d = libdeflate_alloc_decompressor()))
            return false;
        size_t out = 0;
        return libdeflate_zlib_decompress(d, raw.data(), raw.size(), dst, bytes, &out)
            == LIBDEFLATE_SUCCESS
            && out == bytes;
    }

    // Image `index` of the projections, raw from its chunk into `dst` (`bytes` long).
    // False when the chunk is not what the layout promised: the file is then damaged, and
    // is not handed to the library to read anyway. Deflated images come in pairs: image k + 1 is
    // inflated on another thread while this one inflates image k, and is ready when it is asked for
    // next.
    bool readChunk(int index, void *dst, size_t bytes)
    {
        if (ahead.done.valid()) {
            const bool ready = ahead.done.get();
            const bool match = ahead.index == index && ready && ahead.image.size() == bytes;
            ahead.index = -1;
            if (match) {
                std::memcpy(dst, ahead.image.data(), bytes);
                return true;
            }
        }
        bool filtered = false;
        if (!readRaw(index, bytes, packed, filtered))
            return false;
        if (filtered && index + 1 < data.count)
            startAhead(index + 1, bytes);
        return inflate(inflater, packed, filtered, dst, bytes);
    }

    void startAhead(int index, size_t bytes)
    {
        bool filtered = false;
        try {
            if (!readRaw(index, bytes, ahead.packed, filtered))
                return;
            ahead.image.resize(bytes);
            ahead.done = std::async(std::launch::async, [this, filtered, bytes] {
                return inflate(ahead.inflater, ahead.packed, filtered, ahead.image.data(), bytes);
            });
            ahead.index = index;
        } catch (const std::exception &) {
            // No memory or no thread: the image is read when it is asked for.
            ahead.index = -1;
        }
    }
};

bool DxchangeFile::isHdf5(const QString &path)
{
    static const char signature[8] = { '\x89', 'H', 'D', 'F', '\r', '\n', '\x1a', '\n' };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (qint64 offset = 0; offset < f.size(); offset = offset == 0 ? 512 : offset * 2) {
        if (!f.seek(offset))
            return false;
        if (f.read(8) == QByteArray(signature, 8))
            return true;
        if (offset > (qint64(1) << 30))
            break;
    }
    return false;
}

QString DxchangeFile::address(const QString &path, int projection)
{
    return path + '#' + QString::number(projection);
}

QString DxchangeFile::address(const QString &path, Part part)
{
    return path + (part == Part::White ? "#white" : part == Part::Dark ? "#dark" : "#0");
}

QStringList DxchangeFile::projectionAddresses(const QString &path, int projections)
{
    QStringList list;
    list.reserve(projections);
    for (int i = 0; i < projections; ++i)
        list << address(path, i);
    return list;
}

bool DxchangeFile::splitAddress(const QString &name, QString &path, Part &part, int &index)
{
    const qsizetype hash = name.lastIndexOf('#');
    if (hash < 1 || QFileInfo::exists(name))
        return false;
    const QString tail = name.mid(hash + 1);
    index = 0;
    if (tail == "white") {
        part = Part::White;
    } else if (tail == "dark") {
        part = Part::Dark;
    } else {
        bool ok = false;
        index = tail.toInt(&ok);
        if (!ok || index < 0 || tail.startsWith('+'))
            return false;
        part = Part::Projection;
    }
    path = name.left(hash);
    return true;
}

bool DxchangeFile::evenlySpread(const std::vector<double> &theta, double &first, double &step)
{
    if (theta.empty())
        return false;
    first = theta.front();
    step = theta.size() > 1 ? (theta.back() - theta.front()) / double(theta.size() - 1) : 0.0;
    if (theta.size() > 1 && step == 0.0)
        return false;
    const double tolerance = 1e-3 * std::abs(step);
    for (size_t i = 0; i < theta.size(); ++i) {
        if (!(std::abs(theta[i] - (first + double(i) * step)) <= tolerance))
            return false;
    }
    return true;
}

bool DxchangeFile::angleRange(const QString &path, const Info &info, bool &given, double &origin,
    double &range, QString *error, bool *even)
{
    given = !info.theta.empty();
    if (even)
        *even = true;
    if (!given)
        return true;
    const auto [lo, hi] = std::minmax_element(info.theta.begin(), info.theta.end());
    const bool numbers = std::all_of(
        info.theta.begin(), info.theta.end(), [](double t) { return std::isfinite(t); });
    double first = 0, step = 0;
    if (numbers && evenlySpread(info.theta, first, step) && !(info.theta.size() > 1 && step == 0)) {
        origin = first;
        // One projection alone covers no range; 180 degrees keeps the usual meaning.
        range = info.theta.size() > 1 ? step * double(info.theta.size()) : 180.0;
        return true;
    }
    const size_t n = info.theta.size();
    if (even && numbers && n > 1 && *hi > *lo) {
        *even = false;
        // The angles in any order (golden-angle or shuffled acquisitions): the span they
        // cover round the circle plus the usual step between neighbours, so that an even set
        // in another order gets the range it has in order. Each image keeps its own angle
        // relative to the first image's.
        origin = info.theta.front();
        std::vector<double> sorted(info.theta);
        std::sort(sorted.begin(), sorted.end());
        std::vector<double> steps;
        for (size_t i = 1; i < n; ++i)
            if (sorted[i] > sorted[i - 1])
                steps.push_back(sorted[i] - sorted[i - 1]);
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        range = (*hi - *lo) + steps[steps.size() / 2];
        return true;
    }
    if (error)
        *error = failText(path,
            !numbers || !(n < 2 || *hi > *lo)
                ? QString("the angles of dataset %1 are not numbers, or all alike").arg(ThetaSet)
                : QString("the angles of dataset %1 are not evenly spread (%2 ... %3 degrees over "
                          "%4 projections); this needs one common angle step")
                      .arg(ThetaSet)
                      .arg(info.theta.front())
                      .arg(info.theta.back())
                      .arg(n));
    return false;
}

DxchangeFile::SourcePtr DxchangeFile::open(const QString &path, QString *error)
{
    static std::mutex cacheMutex;
    static QHash<QString, std::weak_ptr<Source>> cache;
    QString dummy;
    if (!error)
        error = &dummy;
    const QString key = QFileInfo(path).absoluteFilePath();
    std::lock_guard<std::mutex> lock(cacheMutex);
    const Hdf5Guard::Stamp stamp = Hdf5Guard::stamp(path);
    if (SourcePtr s = cache.value(key).lock()) {
        std::lock_guard<std::mutex> sourceLock(s->mutex);
        if (!s->retired && s->stamp == stamp)
            return s;
        s->retire();
    }
    cache.remove(key);

    quietErrors();
    if (!QFileInfo(path).isFile()) {
        *error = failText(path, "no such file");
        return nullptr;
    }
    if (!isHdf5(path)) {
        *error = failText(path, "not an HDF5 file");
        return nullptr;
    }
    auto s = std::make_shared<Source>();
    s->path = path;
    s->stamp = stamp;
    QString why;
    s->file = Hid(Hdf5Guard::openReadOnly(path, &why), H5Fclose);
    if (!s->file.valid()) {
        *error = failText(path, why);
        return nullptr;
    }
    if (!linkExists(s->file, DataSet)) {
        *error = failText(path, QString("dataset %1 is missing").arg(DataSet));
        return nullptr;
    }
    if (!openStack(s->file, DataSet, path, false, s->data, error)
        || !checkStored(s->file, s->data, DataSet, path, stamp, error))
        return nullptr;
    sizeChunkCache(s->file, s->data);
    checkDirectChunks(s->data, memoryType(s->data.pixel));
    for (auto [name, stack] :
        { std::pair { WhiteSet, &s->white }, std::pair { DarkSet, &s->dark } }) {
        if (!linkExists(s->file, name))
            continue;
        if (!openStack(s->file, name, path, true, *stack, error)
            || !checkStored(s->file, *stack, name, path, stamp, error))
            return nullptr;
        if (stack->rows != s->data.rows || stack->columns != s->data.columns) {
            *error = failText(path,
                QString("dataset %1 has images of %2 x %3 pixels, %4 of %5 x %6")
                    .arg(name)
                    .arg(stack->columns)
                    .arg(stack->rows)
                    .arg(DataSet)
                    .arg(s->data.columns)
                    .arg(s->data.rows));
            return nullptr;
        }
    }
    cache.insert(key, s);
    return s;
}

void DxchangeFile::imageSize(const SourcePtr &source, int &rows, int &columns)
{
    rows = source ? source->data.rows : 0;
    columns = source ? source->data.columns : 0;
}

bool DxchangeFile::inspect(const QString &path, Info &info, QString *error)
{
    info = Info();
    SourcePtr s = open(path, error);
    if (!s)
        return false;
    std::lock_guard<std::mutex> lock(s->mutex);
    quietErrors();
    info.projections = s->data.count;
    info.rows = s->data.rows;
    info.columns = s->data.columns;
    info.whites = s->white.set.valid() ? s->white.count : 0;
    info.darks = s->dark.set.valid() ? s->dark.count : 0;
    if (!linkExists(s->file, ThetaSet))
        return true;
    Hid theta(H5Dopen2(s->file, ThetaSet, H5P_DEFAULT), H5Dclose);
    if (!theta.valid()) {
        *error = failText(path, QString("%1 is not a dataset").arg(ThetaSet));
        return false;
    }
    Hid space(H5Dget_space(theta), H5Sclose);
    Hid type(H5Dget_type(theta), H5Tclose);
    const int rank = H5Sget_simple_extent_ndims(space);
    hsize_t n = 0;
    if (rank == 1)
        H5Sget_simple_extent_dims(space, &n, nullptr);
    if (rank != 1 || (H5Tget_class(type) != H5T_FLOAT && H5Tget_class(type) != H5T_INTEGER)) {
        *error = failText(path,
            QString("dataset %1 must be a list of angles (rank 1, numbers), not rank %2 of %3")
                .arg(ThetaSet)
                .arg(rank)
                .arg(typeName(type)));
        return false;
    }
    if (n != hsize_t(info.projections)) {
        *error = failText(path,
            QString("dataset %1 has %2 angles for %3 projections")
                .arg(ThetaSet)
                .arg(n)
                .arg(info.projections));
        return false;
    }
    QString what;
    if (!Hdf5Guard::checkStorage(s->file, theta, ThetaSet, s->stamp.size, &what)) {
        *error = failText(path, what);
        return false;
    }
    info.theta.resize(n);
    if (H5Dread(theta, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, info.theta.data()) < 0) {
        info.theta.clear();
        *error = failText(path, QString("dataset %1 cannot be read").arg(ThetaSet));
        return false;
    }
    for (double t : info.theta) {
        if (!std::isfinite(t)) {
            info.theta.clear();
            *error = failText(
                path, QString("dataset %1 holds an angle that is not a number").arg(ThetaSet));
            return false;
        }
    }
    return true;
}

bool DxchangeFile::readImage(const SourcePtr &source, Part part, int index,
    std::vector<char> &pixels, Pixel &pixel, QString *error, const Part2D &window)
{
    QString dummy;
    if (!error)
        error = &dummy;
    if (!source)
        return false;
    std::lock_guard<std::mutex> lock(source->mutex);
    quietErrors();
    if (!source->retired && Hdf5Guard::stamp(source->path) != source->stamp)
        source->retire();
    if (source->retired) {
        *error = failText(
            source->path, "the file has been replaced since it was opened; load it again");
        return false;
    }
    const Stack &s = part == Part::White ? source->white
        : part == Part::Dark             ? source->dark
                                         : source->data;
    const char *name = part == Part::White ? WhiteSet : part == Part::Dark ? DarkSet : DataSet;
    if (!s.set.valid()) {
        *error = failText(source->path, QString("dataset %1 is missing").arg(name));
        return false;
    }
    if (index < 0 || index >= s.count) {
        *error = failText(source->path,
            QString("dataset %1 has no image %2 (%3 images)").arg(name).arg(index).arg(s.count));
        return false;
    }
    const size_t count = size_t(s.rows) * size_t(s.columns);
    pixel = part == Part::Projection ? s.pixel : Pixel::Float64;
    Hid fileSpace(H5Dget_space(s.set), H5Sclose);
    const hsize_t one[3] = { 1, hsize_t(s.rows), hsize_t(s.columns) };
    Hid memSpace(H5Screate_simple(3, one, nullptr), H5Sclose);
    auto readFrame = [&](int k, hid_t memType, void *dst) {
        const hsize_t start[3] = { hsize_t(k), 0, 0 };
        return H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, one, nullptr) >= 0
            && H5Dread(s.set, memType, memSpace, fileSpace, H5P_DEFAULT, dst) >= 0;
    };
    try {
        const bool partial = part == Part::Projection && window.rows >= 0 && window.columns >= 0
            && (window.rows != s.rows || window.columns != s.columns);
        if (partial) {
            const int r0 = std::clamp(window.row0, 0, s.rows);
            const int c0 = std::clamp(window.column0, 0, s.columns);
            const int rows = std::clamp(window.rows, 0, s.rows - r0);
            const int columns = std::clamp(window.columns, 0, s.columns - c0);
            const size_t bpp = pixelBytes(pixel);
            pixels = std::vector<char>(size_t(rows) * size_t(columns) * bpp);
            if (rows == 0 || columns == 0)
                return true;
            if (s.wholeImageChunks) {
                // The image is one stored chunk: inflated once, its part kept.
                std::vector<char> whole(count * bpp);
                if (!source->readChunk(index, whole.data(), whole.size())) {
                    *error = failText(source->path,
                        QString("dataset %1: the chunk of image %2 is damaged (wrong size or "
                                "checksum)")
                            .arg(name)
                            .arg(index));
                    pixels.clear();
                    return false;
                }
                for (int r = 0; r < rows; ++r)
                    std::copy_n(whole.data() + (size_t(r0 + r) * s.columns + c0) * bpp,
                        size_t(columns) * bpp, pixels.data() + size_t(r) * columns * bpp);
                return true;
            }
            // A hyperslab of the part: the library reads each stored chunk it touches once.
            const hsize_t start[3] = { hsize_t(index), hsize_t(r0), hsize_t(c0) };
            const hsize_t extent[3] = { 1, hsize_t(rows), hsize_t(columns) };
            Hid partSpace(H5Screate_simple(3, extent, nullptr), H5Sclose);
            if (H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, extent, nullptr) < 0
                || H5Dread(
                       s.set, memoryType(pixel), partSpace, fileSpace, H5P_DEFAULT, pixels.data())
                    < 0) {
                *error = failText(source->path,
                    QString("dataset %1: image %2 cannot be read").arg(name).arg(index));
                pixels.clear();
                return false;
            }
            return true;
        }
        pixels.resize(count * pixelBytes(pixel));
        if (part == Part::Projection) {
            if (s.wholeImageChunks) {
                if (source->readChunk(index, pixels.data(), pixels.size()))
                    return true;
                *error = failText(source->path,
                    QString("dataset %1: the chunk of image %2 is damaged (wrong size or "
                            "checksum)")
                        .arg(name)
                        .arg(index));
                pixels.clear();
                return false;
            }
            if (!readFrame(index, memoryType(pixel), pixels.data())) {
                *error = failText(source->path,
                    QString("dataset %1: image %2 cannot be read").arg(name).arg(index));
                return false;
            }
            return true;
        }
        // The average of all images, summed in double (exact for integer counts).
        auto *sum = reinterpret_cast<double *>(pixels.data());
        std::fill_n(sum, count, 0.0);
        std::vector<double> frame(count);
        for (int k = 0; k < s.count; ++k) {
            if (!readFrame(k, H5T_NATIVE_DOUBLE, frame.data())) {
                *error = failText(
                    source->path, QString("dataset %1: image %2 cannot be read").arg(name).arg(k));
                return false;
            }
            for (size_t i = 0; i < count; ++i)
                sum[i] += frame[i];
        }
        if (s.count > 1) {
            const double k = double(s.count);
            for (size_t i = 0; i < count; ++i)
                sum[i] /= k;
        }
        return true;
    } catch (const std::bad_alloc &) {
        pixels.clear();
        *error = failText(source->path,
            QString("dataset %1: no memory for an image of %2 x %3")
                .arg(name)
                .arg(s.columns)
                .arg(s.rows));
        return false;
    }
}
