#pragma once

#include <QImage>
#include <QString>

#include <vector>

// One slice of the 3D view, read from a float TIFF slice, a picture, a CT image data file
// ("#VEXA-CTImg") or a dated text slice file ("## 240301"). The values are kept as one row-major
// grid of doubles whatever the file kind, so that the renderer reads every slice the same way.
class SliceData
{
public:
    int sw = 0;
    int sh = 0;
    bool isImage = false;
    // What a CT image data file adds to every value (the run's data offset, 10 unless the
    // user changed it): taken off again when such a file is read, so the view shows the
    // reconstructed values, as it does for float TIFF slices.
    double dataOffset = 10.0;
    QImage picture;
    double vMin = 0;
    double vMax = 1;
    // sh rows of sw values; row y starts at y * sw.
    std::vector<double> rows;
    // A picture's values again as bytes (they are whole numbers 0 ... 255), which the 3D
    // view reads eight times faster; empty for other slices.
    std::vector<unsigned char> bytes;

    // The first reader that accepts the file wins: float TIFF, picture, CT image data, dated
    // text. (A float TIFF comes first: a picture reader would turn its values into grey
    // levels.)
    // Returns false (and leaves the slice empty) when none does.
    bool read(const QString &fname);
    bool readPicture(const QString &fname);
    bool readCtImageData(const QString &fname);
    bool readDatedText(const QString &fname);
    // A single-channel 32-bit float TIFF file, as the reconstruction saves slices.
    bool readFloatTiff(const QString &fname);

    // For a picture the low 8 bits of the pixel's RGB value (blue; the grey level of a grey
    // picture).
    double value(int x, int y) const { return rows[size_t(y) * size_t(sw) + size_t(x)]; }
    const double *row(int y) const { return rows.data() + size_t(y) * size_t(sw); }
    bool isValid() const { return sw > 0 && sh > 0 && rows.size() == size_t(sw) * size_t(sh); }

    void clear();

    // A grid may hold at most this many cells, or one per byte of its file when that is
    // more: a header that claims a larger grid than the file could fill is not believed.
    static constexpr qint64 minCellAllowance = qint64(1) << 20;
    static constexpr qint64 maxCells = qint64(1) << 28;

private:
    bool allocate(qint64 w, qint64 h, qint64 fileSize, const QString &fname);
    // Stores v at (col, row) and widens [lo, hi]; false when the point lies outside the grid.
    bool putValue(qint64 col, qint64 row, double v, double &lo, double &hi);
};
