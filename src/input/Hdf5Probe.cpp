#include "Hdf5Probe.h"

#include "Hdf5Guard.h"

#include <QFile>
#include <QFileInfo>

#include <hdf5.h>

namespace {

// The file opened for one look-up, closed at the end of it.
struct File
{
    hid_t id = H5I_INVALID_HID;
    explicit File(const QString &path)
    {
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        QString why;
        if (QFileInfo(path).isFile())
            id = Hdf5Guard::openReadOnly(path, &why);
    }
    ~File()
    {
        if (id >= 0)
            H5Fclose(id);
    }
};

// Names of the filters plugins usually bring; the library names the ones it has itself.
QString filterName(H5Z_filter_t id, const char *stored)
{
    switch (id) {
    case 32000:
        return QStringLiteral("LZF");
    case 32001:
        return QStringLiteral("Blosc");
    case 32004:
        return QStringLiteral("LZ4");
    case 32008:
        return QStringLiteral("Bitshuffle");
    case 32015:
        return QStringLiteral("Zstandard");
    case 32026:
        return QStringLiteral("Blosc2");
    default:
        break;
    }
    return stored && *stored ? QString::fromUtf8(stored) : QStringLiteral("unknown");
}

} // namespace

QString Hdf5Probe::units(const QString &path, const QString &dataset)
{
    File f(path);
    if (f.id < 0)
        return {};
    const QByteArray name = dataset.toUtf8();
    if (H5Lexists(f.id, name.constData(), H5P_DEFAULT) <= 0
        || H5Aexists_by_name(f.id, name.constData(), "units", H5P_DEFAULT) <= 0)
        return {};
    const hid_t attr = H5Aopen_by_name(f.id, name.constData(), "units", H5P_DEFAULT, H5P_DEFAULT);
    if (attr < 0)
        return {};
    QString text;
    const hid_t type = H5Aget_type(attr);
    if (H5Tget_class(type) == H5T_STRING) {
        if (H5Tis_variable_str(type) > 0) {
            const hid_t mem = H5Tcopy(H5T_C_S1);
            H5Tset_size(mem, H5T_VARIABLE);
            char *s = nullptr;
            if (H5Aread(attr, mem, &s) >= 0 && s) {
                text = QString::fromUtf8(s);
                H5free_memory(s);
            }
            H5Tclose(mem);
        } else {
            const size_t size = H5Tget_size(type);
            if (size > 0 && size <= 256) {
                QByteArray b(qsizetype(size), '\0');
                if (H5Aread(attr, type, b.data()) >= 0)
                    text = QString::fromUtf8(b.constData(), qstrnlen(b.constData(), size));
            }
        }
    }
    H5Tclose(type);
    H5Aclose(attr);
    return text.trimmed();
}

QString Hdf5Probe::missingFilter(const QString &path, const QString &dataset)
{
    File f(path);
    if (f.id < 0)
        return {};
    const QByteArray name = dataset.toUtf8();
    if (H5Lexists(f.id, name.constData(), H5P_DEFAULT) <= 0)
        return {};
    const hid_t set = H5Dopen2(f.id, name.constData(), H5P_DEFAULT);
    if (set < 0)
        return {};
    QString message;
    const hid_t dcpl = H5Dget_create_plist(set);
    const int n = dcpl >= 0 ? H5Pget_nfilters(dcpl) : 0;
    for (int i = 0; i < n && message.isEmpty(); ++i) {
        unsigned flags = 0, config = 0;
        size_t values = 0;
        char stored[64] = {};
        const H5Z_filter_t id = H5Pget_filter2(
            dcpl, unsigned(i), &flags, &values, nullptr, sizeof stored, stored, &config);
        if (id >= 0 && H5Zfilter_avail(id) <= 0)
            message = QStringLiteral("Cannot load the HDF5 file %1: dataset %2 is compressed with "
                                     "%3 (filter %4), which this HDF5 library cannot decode; "
                                     "rewrite it with gzip or without compression")
                          .arg(path, dataset, filterName(id, stored))
                          .arg(int(id));
    }
    if (dcpl >= 0)
        H5Pclose(dcpl);
    H5Dclose(set);
    return message;
}
