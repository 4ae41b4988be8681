#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ImgData;

// The image readers the program knows, one entry each: which image names a reader takes and
// how one is made. Every place that loads an image by name (the image set, the I0 and BG
// selectors, the tools) asks this table, so a new format is one reader class and one entry.
//
// An image name is a file, or a file with the part of it after '#' ("stack.tif#3" is page 3
// of a TIFF stack, "scan.h5#12" projection 12 of a DXchange file, "scan.nxs#/entry#white"
// the flats of an NXtomo entry), or the average of several images: their names joined by
// '|', or a folder (every image in it).
class ImgReaders
{
public:
    struct Reader
    {
        const char *name; // "TIFF", "TIFF page", "DXchange", "NXtomo", "average", ...
        bool (*takes)(const QString &name);
        ImgData *(*make)();
    };

    static const std::vector<Reader> &table();
    // The reader for a name, or nullptr (said on the debug log as "Unknown file type").
    static const Reader *readerOf(const QString &name);
    // A fresh reader with its file name set, not loaded; nullptr when no reader takes it.
    static ImgData *create(const QString &name);
    // A loaded reader, or nullptr with `why` set to a few words.
    static std::unique_ptr<ImgData> load(const QString &name, QString *why = nullptr);

    // The images a listed file stands for: each page of a TIFF stack, or the file itself.
    static QStringList imagesOf(const QString &path);
    // The image files of a folder (camera files and TIFF stacks, page by page), in name order.
    static QStringList imagesInFolder(const QString &folder);
    // One name for the average of `names` (the name itself for one).
    static QString averageName(const QStringList &names);
    // The names an average stands for (a folder's images, or the joined names); the name
    // itself when it is no average.
    static QStringList averagedNames(const QString &name);
    // Whether `name` is the average of several images.
    static bool isAverage(const QString &name);
};
