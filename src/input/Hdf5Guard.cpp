#include "Hdf5Guard.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Closes an HDF5 identifier with the function of its kind when it goes out of scope.
struct Closing
{
    hid_t id;
    herr_t (*closer)(hid_t);
    ~Closing()
    {
        if (id >= 0)
            closer(id);
    }
};

QString sizeText(const std::vector<hsize_t> &dims)
{
    QStringList parts;
    for (hsize_t d : dims)
        parts << QString::number(d);
    return parts.join(" x ");
}

// a x b, held at 2^62 so that sizes declared beyond any file stay comparable.
hsize_t timesCapped(hsize_t a, hsize_t b)
{
    constexpr hsize_t cap = hsize_t(1) << 62;
    return a != 0 && b > cap / a ? cap : std::min(a * b, cap);
}

bool inFile(haddr_t addr, hsize_t bytes, qint64 fileSize)
{
    return addr != HADDR_UNDEF && fileSize >= 0 && addr <= hsize_t(fileSize)
        && bytes <= hsize_t(fileSize) - addr;
}

bool checkContiguous(hid_t set, const char *name, const std::vector<hsize_t> &dims,
    hsize_t declared, qint64 fileSize, QString *what)
{
    H5D_space_status_t status = H5D_SPACE_STATUS_ERROR;
    if (H5Dget_space_status(set, &status) < 0 || status != H5D_SPACE_STATUS_ALLOCATED) {
        *what = QString("dataset %1 declares %2 values but none are stored (all %3 images are "
                        "missing)")
                    .arg(name, sizeText(dims))
                    .arg(dims[0]);
        return false;
    }
    const haddr_t offset = H5Dget_offset(set);
    const hsize_t stored = H5Dget_storage_size(set);
    if (stored != declared || !inFile(offset, stored, fileSize)) {
        *what = QString("dataset %1 declares %2 values (%3 bytes) but the file holds %4 of "
                        "them; the file is cut short or damaged")
                    .arg(name, sizeText(dims))
                    .arg(declared)
                    .arg(inFile(offset, 0, fileSize)
                            ? std::min<hsize_t>(stored, hsize_t(fileSize) - offset)
                            : hsize_t(0));
        return false;
    }
    return true;
}

bool checkChunked(hid_t set, hid_t dcpl, const char *name, const std::vector<hsize_t> &dims,
    size_t valueBytes, qint64 fileSize, QString *what)
{
    const int rank = int(dims.size());
    std::vector<hsize_t> chunk(rank);
    if (H5Pget_chunk(dcpl, rank, chunk.data()) != rank
        || std::any_of(chunk.begin(), chunk.end(), [](hsize_t c) { return c == 0; })) {
        *what = QString("dataset %1 has an unreadable chunk layout").arg(name);
        return false;
    }
    // A dataset of fixed size cannot have chunks larger than itself; a layout that says so
    // is damaged, and the library would copy whole claimed chunks into its buffers.
    std::vector<hsize_t> maxDims(rank);
    const Closing extent { H5Dget_space(set), H5Sclose };
    H5Sget_simple_extent_dims(extent.id, nullptr, maxDims.data());
    for (int d = 0; d < rank; ++d)
        if (maxDims[d] != H5S_UNLIMITED && chunk[d] > std::max<hsize_t>(maxDims[d], 1)) {
            *what = QString("dataset %1 has a damaged chunk layout (chunks of %2 in a dataset "
                            "of %3)")
                        .arg(name, sizeText(chunk), sizeText(dims));
            return false;
        }
    // Chunk rows along the first dimension, and chunks across each row.
    std::vector<hsize_t> grid(rank);
    for (int d = 0; d < rank; ++d)
        grid[d] = (dims[d] + chunk[d] - 1) / chunk[d];
    hsize_t across = 1;
    for (int d = 1; d < rank; ++d)
        across = timesCapped(across, grid[d]);
    const hsize_t needed = timesCapped(grid[0], across);
    hsize_t chunkBytes = valueBytes;
    for (hsize_t c : chunk)
        chunkBytes = timesCapped(chunkBytes, c);

    const Closing space { H5Dget_space(set), H5Sclose };
    hsize_t allocated = 0;
    if (H5Dget_num_chunks(set, space.id, &allocated) < 0) {
        *what = QString("dataset %1: the index of its chunks cannot be read").arg(name);
        return false;
    }
    const auto missingText = [&](hsize_t missing, bool atLeast) {
        return QString("dataset %1 is incomplete: %2%3 of its %4 images are not stored (the "
                       "scan stopped early, or the file is damaged)")
            .arg(name, atLeast ? "at least " : "")
            .arg(missing)
            .arg(dims[0]);
    };
    if (needed > hsize_t(Hdf5Guard::MaxChunkLookups)) {
        if (allocated >= needed)
            return true;
        // Each complete row of chunks takes `across` stored chunks.
        const hsize_t covered = std::min(dims[0], allocated / across * chunk[0]);
        *what = missingText(dims[0] - covered, true);
        return false;
    }

    const int filters = H5Pget_nfilters(dcpl);
    const unsigned allFiltersSkipped = filters >= 32 ? ~0u : (1u << std::max(filters, 0)) - 1;
    hsize_t missingImages = 0;
    std::vector<hsize_t> at(rank, 0);
    for (hsize_t row = 0; row < grid[0]; ++row) {
        at[0] = row * chunk[0];
        bool rowComplete = true;
        for (hsize_t k = 0; k < across; ++k) {
            hsize_t rest = k;
            for (int d = rank - 1; d >= 1; --d) {
                at[d] = rest % grid[d] * chunk[d];
                rest /= grid[d];
            }
            unsigned mask = 0;
            haddr_t addr = HADDR_UNDEF;
            hsize_t size = 0;
            if (H5Dget_chunk_info_by_coord(set, at.data(), &mask, &addr, &size) < 0) {
                *what = QString("dataset %1: the index of its chunks cannot be read").arg(name);
                return false;
            }
            if (size == 0 || addr == HADDR_UNDEF) {
                rowComplete = false;
                continue;
            }
            if (!inFile(addr, size, fileSize)) {
                *what = QString("dataset %1: the chunk of image %2 lies beyond the end of the "
                                "file; the file is cut short or damaged")
                            .arg(name)
                            .arg(at[0]);
                return false;
            }
            // Stored as it is: no filter, or every filter skipped for this chunk.
            const bool raw = filters <= 0 || (mask & allFiltersSkipped) == allFiltersSkipped;
            if (raw && size != chunkBytes) {
                *what = QString("dataset %1: the chunk of image %2 holds %3 bytes, not %4; the "
                                "file is damaged")
                            .arg(name)
                            .arg(at[0])
                            .arg(size)
                            .arg(chunkBytes);
                return false;
            }
        }
        if (!rowComplete)
            missingImages += std::min(chunk[0], dims[0] - at[0]);
    }
    if (missingImages > 0) {
        *what = missingText(missingImages, false);
        return false;
    }
    return true;
}

bool checkVirtual(
    hid_t file, hid_t dcpl, const char *name, hsize_t points, qint64 fileSize, QString *what)
{
    size_t count = 0;
    if (H5Pget_virtual_count(dcpl, &count) < 0) {
        *what = QString("dataset %1: its virtual mappings cannot be read").arg(name);
        return false;
    }
    hsize_t mapped = 0;
    for (size_t i = 0; i < count; ++i) {
        const ssize_t fileLength = H5Pget_virtual_filename(dcpl, i, nullptr, 0);
        const ssize_t setLength = H5Pget_virtual_dsetname(dcpl, i, nullptr, 0);
        if (fileLength < 0 || setLength < 0 || fileLength > 4096 || setLength > 4096) {
            *what = QString("dataset %1: its virtual mappings cannot be read").arg(name);
            return false;
        }
        QByteArray sourceFile(fileLength + 1, '\0'), sourceSet(setLength + 1, '\0');
        H5Pget_virtual_filename(dcpl, i, sourceFile.data(), sourceFile.size());
        H5Pget_virtual_dsetname(dcpl, i, sourceSet.data(), sourceSet.size());
        sourceFile.truncate(fileLength);
        sourceSet.truncate(setLength);
        if (sourceFile != ".") {
            *what = QString("dataset %1 is virtual and takes data from another file (%2); only "
                            "data stored in the file itself is read")
                        .arg(name, QString::fromLocal8Bit(sourceFile));
            return false;
        }
        // A source in the same file is checked like any dataset; sources that are virtual
        // themselves, or named by a pattern, are not followed.
        const Closing source { sourceSet.contains('%')
                ? H5I_INVALID_HID
                : H5Dopen2(file, sourceSet.constData(), H5P_DEFAULT),
            H5Dclose };
        const Closing sourcePlist {
            source.id >= 0 ? H5Dget_create_plist(source.id) : H5I_INVALID_HID, H5Pclose
        };
        if (source.id < 0 || sourcePlist.id < 0 || H5Pget_layout(sourcePlist.id) == H5D_VIRTUAL) {
            *what = QString("dataset %1 is virtual with a source that cannot be followed (%2)")
                        .arg(name, QString::fromUtf8(sourceSet));
            return false;
        }
        QString why;
        if (!Hdf5Guard::checkStorage(file, source.id, sourceSet.constData(), fileSize, &why)) {
            *what = QString("dataset %1 is virtual, and its source %2").arg(name, why);
            return false;
        }
        const Closing vspace { H5Pget_virtual_vspace(dcpl, i), H5Sclose };
        const hssize_t n = vspace.id >= 0 ? H5Sget_select_npoints(vspace.id) : -1;
        if (n > 0)
            mapped += hsize_t(n);
    }
    if (mapped < points) {
        *what = QString("dataset %1 is virtual and only part of it is mapped to stored data; "
                        "the rest would be read as zeros")
                    .arg(name);
        return false;
    }
    return true;
}


// Touches what the library parses of one object: its attributes and, for a dataset, its
// space, type, layout and storage. Runs in the child process only.
herr_t touchObject(hid_t parent, const char *name, const H5O_info_t *info, void *)
{
    if (info->num_attrs > 0)
        H5Aiterate_by_name(parent, name, H5_INDEX_NAME, H5_ITER_NATIVE, nullptr,
            [](hid_t, const char *, const H5A_info_t *, void *) -> herr_t { return 0; }, nullptr,
            H5P_DEFAULT);
    if (info->type == H5O_TYPE_DATASET) {
        const hid_t set = H5Dopen2(parent, name, H5P_DEFAULT);
        if (set >= 0) {
            const hid_t space = H5Dget_space(set), type = H5Dget_type(set),
                        dcpl = H5Dget_create_plist(set);
            if (space >= 0) {
                H5Sget_simple_extent_npoints(space);
                H5Sclose(space);
            }
            if (type >= 0)
                H5Tclose(type);
            if (dcpl >= 0) {
                H5Pget_layout(dcpl);
                H5Pget_nfilters(dcpl);
                H5Pclose(dcpl);
            }
            H5Dget_storage_size(set);
            H5Dclose(set);
        }
    }
    return 0;
}

enum class Walk { Fine, Failed, TooLong };

// Walks the file's structure in a child process; a fault of the library ends the child only.
Walk walkInChild(const QByteArray &name)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return Walk::Fine; // nothing to learn from; the reader's own checks still apply
    if (pid == 0) {
        // The child: no Qt, no output, no exit handlers; just the library and _exit.
        ::alarm(unsigned(Hdf5Guard::StructureSeconds) + 5);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        const hid_t f = H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
        if (f >= 0) {
            H5Ovisit2(f, H5_INDEX_NAME, H5_ITER_NATIVE, touchObject, nullptr,
                H5O_INFO_BASIC | H5O_INFO_NUM_ATTRS);
            H5Fclose(f);
        }
        ::_exit(0);
    }
    const auto end = std::chrono::steady_clock::now()
        + std::chrono::seconds(Hdf5Guard::StructureSeconds);
    auto pause = std::chrono::microseconds(200);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0)
            return Walk::Fine; // the child was collected elsewhere; nothing known
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return Walk::TooLong;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Walk::Fine : Walk::Failed;
}

} // namespace

Hdf5Guard::Stamp Hdf5Guard::stamp(const QString &path)
{
    Stamp s;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return s;
    s.size = qint64(st.st_size);
    s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec);
    s.device = quint64(st.st_dev);
    s.inode = quint64(st.st_ino);
    return s;
}

bool Hdf5Guard::checkStorage(
    hid_t file, hid_t set, const char *name, qint64 fileSize, QString *what)
{
    const Closing space { H5Dget_space(set), H5Sclose };
    const Closing type { H5Dget_type(set), H5Tclose };
    const Closing dcpl { H5Dget_create_plist(set), H5Pclose };
    const int rank = space.id >= 0 ? H5Sget_simple_extent_ndims(space.id) : -1;
    if (rank < 1 || type.id < 0 || dcpl.id < 0) {
        *what = QString("dataset %1 cannot be inspected").arg(name);
        return false;
    }
    if (!plainNumberType(type.id)) {
        *what = QString("dataset %1 stores numbers of a damaged or unknown kind").arg(name);
        return false;
    }
    std::vector<hsize_t> dims(rank);
    H5Sget_simple_extent_dims(space.id, dims.data(), nullptr);
    const size_t valueBytes = H5Tget_size(type.id);
    // Declared values and bytes, saturated: a declared size beyond any file is refused below.
    hsize_t points = 1;
    for (hsize_t d : dims)
        points = timesCapped(points, d);
    const hsize_t declared = timesCapped(points, valueBytes);
    if (points == 0 || valueBytes == 0) {
        *what = QString("dataset %1 is empty (%2)").arg(name, sizeText(dims));
        return false;
    }

    if (H5Pget_external_count(dcpl.id) > 0) {
        *what = QString("dataset %1 keeps its data in other files (external storage); only data "
                        "stored in the file itself is read")
                    .arg(name);
        return false;
    }
    switch (H5Pget_layout(dcpl.id)) {
    case H5D_COMPACT:
        if (H5Dget_storage_size(set) != declared) {
            *what = QString("dataset %1 declares %2 bytes but holds %3")
                        .arg(name)
                        .arg(declared)
                        .arg(H5Dget_storage_size(set));
            return false;
        }
        return true;
    case H5D_CONTIGUOUS:
        return checkContiguous(set, name, dims, declared, fileSize, what);
    case H5D_CHUNKED:
        return checkChunked(set, dcpl.id, name, dims, valueBytes, fileSize, what);
    case H5D_VIRTUAL:
        return checkVirtual(file, dcpl.id, name, points, fileSize, what);
    default:
        break;
    }
    *what = QString("dataset %1 has a storage layout that is not read").arg(name);
    return false;
}

hid_t Hdf5Guard::openReadOnly(const QString &path, QString *why)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const QByteArray name = QFile::encodeName(path);
    const Stamp now = stamp(path);
    const QString key = QFileInfo(path).absoluteFilePath();
    struct Verdict
    {
        Stamp stamp;
        Walk walk;
    };
    static std::mutex mutex;
    static QHash<QString, Verdict> verdicts;
    Walk walk = Walk::Fine;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto known = verdicts.constFind(key);
        if (known != verdicts.constEnd() && known->stamp == now) {
            walk = known->walk;
        } else {
            walk = walkInChild(name);
            // Another thread of this process inside the library at the moment of the fork
            // could leave the child a library in mid-step; a damaged file fails again.
            if (walk == Walk::Failed)
                walk = walkInChild(name);
            verdicts.insert(key, { now, walk });
        }
    }
    if (walk == Walk::Failed) {
        *why = QStringLiteral("the HDF5 library fails on its structure (groups or object "
                              "headers are damaged)");
        return H5I_INVALID_HID;
    }
    if (walk == Walk::TooLong) {
        *why = QStringLiteral("the HDF5 library does not get through its structure within %1 s "
                              "(groups or object headers are damaged)")
                   .arg(StructureSeconds);
        return H5I_INVALID_HID;
    }
    const hid_t f = H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        *why = QStringLiteral("the HDF5 library cannot open it");
    return f;
}

bool Hdf5Guard::plainNumberType(hid_t type)
{
    const size_t bytes = H5Tget_size(type);
    switch (H5Tget_class(type)) {
    case H5T_INTEGER:
        return (bytes == 1 || bytes == 2 || bytes == 4 || bytes == 8)
            && H5Tget_precision(type) == 8 * bytes && H5Tget_offset(type) == 0;
    case H5T_FLOAT:
        for (const hid_t known : { H5T_IEEE_F32LE, H5T_IEEE_F32BE, H5T_IEEE_F64LE, H5T_IEEE_F64BE })
            if (H5Tequal(type, known) > 0)
                return true;
        return false;
    default:
        return false;
    }
}
