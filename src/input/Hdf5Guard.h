#pragma once

#include <QString>
#include <QtGlobal>

#include <hdf5.h>

// Checks of what an HDF5 file declares against what it really holds, made before a reader
// allocates anything that grows with a declared size or lets the library read a dataset. A
// damaged copy or a scan that stopped early declares sizes its file does not hold: these
// checks turn such a file into a message instead of a huge allocation, zeros read as data, or
// a library read past the end of a buffer. Every reader of HDF5 image stacks calls them on
// each dataset it is going to read.
class Hdf5Guard
{
public:
    // What identifies a file on disk as it was opened: a file replaced or rewritten since has
    // another stamp, and is then opened anew rather than served from what was read before.
    struct Stamp
    {
        qint64 size = -1;
        qint64 modifiedNs = 0;
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const Stamp &o) const
        {
            return size == o.size && modifiedNs == o.modifiedNs && device == o.device
                && inode == o.inode;
        }
        bool operator!=(const Stamp &o) const { return !(*this == o); }
    };
    // The stamp of `path`; size -1 when the file cannot be found.
    static Stamp stamp(const QString &path);

    // Checks the storage of dataset `set` of `file` (whose length on disk is `fileSize`):
    //  - raw data in external files is refused, as are virtual datasets with a source in
    //    another file (a data file must not make the program read other local files);
    //  - every stored byte lies within the file;
    //  - every image along the first dimension is stored: contiguous data is allocated and as
    //    long as declared, and every chunk is allocated (a scan stopped early leaves chunks
    //    unwritten, which the library would read as zeros);
    //  - a chunk stored without filtering holds exactly a chunk's bytes.
    // False with `what` saying why in words for the user (the dataset named, the file not).
    static bool checkStorage(
        hid_t file, hid_t set, const char *name, qint64 fileSize, QString *what);

    // At most this many chunk positions are looked up one by one; a larger chunk grid is
    // checked by its count of stored chunks only.
    static constexpr qint64 MaxChunkLookups = qint64(1) << 20;
};
