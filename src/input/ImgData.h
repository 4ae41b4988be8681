#pragma once

#include <QString>

class QIODevice;

#include <vector>

// One camera file (projection, I0 or background image) held in memory. The size and the
// exposure time come from the file's header; the pixels are then served as rows (`hLine`)
// and columns (`vLine`) of doubles into buffers owned by the caller, so that the sinogram
// builder can read the same reader from several threads at once without locks: after
// `load` a reader is never changed by `hLine`/`vLine`.
class ImgData
{
public:
    bool ready = false;
    double expTime = 1.0;
    int width = 0, height = 0;
    QString fileName;
    bool minMaxValid = false;
    double min = 0, max = 0;
    std::vector<double> hBuf, vBuf;
    // The part of the image `load` keeps, for a reconstruction that holds only the detector
    // lines of its current slices: columns [x, x + width) and rows [y, y + height), the whole
    // image while `width` is negative. Readers that cannot read a part (keepsWindow() false)
    // keep the whole image; lines outside what is kept read as zeros.
    struct Window
    {
        int x = 0, y = 0, width = -1, height = -1;
        bool whole() const { return width < 0 || height < 0; }
    };
    Window window;
    // What the last `load` kept (the whole image unless a window was asked for).
    int keptX = 0, keptY = 0, keptWidth = 0, keptHeight = 0;
    // Why the last `load` failed, in a few words without the file name ("pixel block shorter
    // than the image size"); empty after a successful load.
    QString failure;

    ImgData() = default;
    ImgData(const ImgData &) = delete;
    ImgData &operator=(const ImgData &) = delete;
    virtual ~ImgData();

    virtual void reset();
    virtual bool readProps(const QString &f, int &w, int &h) = 0;
    virtual bool openData(const QString &f) = 0;
    // Row y (`width` values) into out. A row outside the image gives zeros.
    virtual double *hLine(int y, double *out) const = 0;
    // Column x (`height` values) into out. A column outside the image gives zeros.
    virtual double *vLine(int x, double *out) const = 0;

    // Whether the reader reads only the window from the file (after readProps).
    virtual bool keepsWindow() const { return false; }

    // 0 = ITEX, 1 = TIFF (or a page of one, "FILE#p"), 2 = unknown (reported on the debug
    // log), 3 = an image of a DXchange HDF5 file ("FILE#i", "FILE#white", "FILE#dark").
    // ImgReaders knows every format; these codes remain for the three first ones.
    static int fileType(const QString &path);
    static bool isITEX(const QString &path);
    static bool isTIFF(const QString &path);
    // A fresh reader for a type from fileType, or nullptr.
    static ImgData *create(int type);

    // Reads the file. Never throws: a pixel block that cannot be allocated fails the load
    // with the failure "not enough memory".
    bool load();
    // Where the loading thread keeps the text of the last refusal said on the log while a
    // set is listed (nullptr otherwise): a refusal that repeats it is not said again.
    static thread_local QString *lastRefusal;
    void minMax(double &mn, double &mx);

protected:
    // For row y: zeros in `out` outside the kept columns, and the index of the row's first
    // kept pixel in the kept block; -1 (and `out` all zeros) when the row is not kept.
    qsizetype keptRowStart(int y, double *out) const;
    // The same for column x (`height` values), the index of its first kept pixel.
    qsizetype keptColumnStart(int x, double *out) const;
    // Reads the kept part of a block of uncompressed pixels that starts at `offset` in `file`
    // (`width` pixels of `bytesPerPixel` bytes a row) into `dst`: one read when whole rows are
    // kept, a positioned read per row otherwise.
    bool readKept(QIODevice &file, qint64 offset, int bytesPerPixel, char *dst) const;
    // Writes `text` and the file name `f` to the debug log, keeps `reason` as the failure
    // and returns false.
    bool refuse(const QString &f, const QString &text, const QString &reason);
};
