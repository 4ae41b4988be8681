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

    // Whether a dataset's number type is a plain one that the library converts safely: an
    // integer of 1, 2, 4 or 8 bytes using all its bits, or an IEEE float of 4 or 8 bytes. A
    // damaged type description (a precision beyond its size, odd bit fields) makes the
    // library's conversion write outside its buffers.
    static bool plainNumberType(hid_t type);

    // Opens `path` read-only, after making sure that the HDF5 library can walk its whole
    // structure (groups, object headers, attributes, dataset layouts) without failing: the
    // library trusts the file's metadata, and a damaged group heap or object header makes it
    // read outside its buffers and bring the program down. The walk runs in a child process,
    // once per file as it is on disk (see Stamp); a child that dies or takes longer than
    // StructureSeconds marks the file as damaged. Returns the file's identifier, or a negative
    // value with `why` saying what is wrong in words for the user (the file not named).
    static hid_t openReadOnly(const QString &path, QString *why);
    static constexpr int StructureSeconds = 60;

    // At most this many chunk positions are looked up one by one; a larger chunk grid is
    // checked by its count of stored chunks only.
    static constexpr qint64 MaxChunkLookups = qint64(1) << 20;
};
