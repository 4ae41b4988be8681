#include "SliceData.h"

#include "CtTiffData.h"
#include "Failures.h"
#include "TextUtil.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

// Lines longer than this are not slice file lines (a binary file, a broken transfer); they
// are skipped rather than buffered whole.
constexpr qsizetype kMaxLine = 64 * 1024;
constexpr qsizetype kBlock = 1 << 20;

// Reads a file line by line in large blocks, without a per-line allocation.
class LineSource
{
public:
    explicit LineSource(QIODevice &d)
        : dev(d)
    {
        buf.resize(kBlock + kMaxLine);
    }

    // The next line without its line feed; `tooLong` tells that the line was cut off and
    // its rest skipped. False at the end of the file.
    bool next(std::string_view &line, bool &tooLong)
    {
        tooLong = false;
        for (;;) {
            const char *s = buf.constData() + pos;
            const void *nl = std::memchr(s, '\n', size_t(end - pos));
            if (nl) {
                const char *e = static_cast<const char *>(nl);
                line = std::string_view(s, size_t(e - s));
                pos += (e - s) + 1;
                endLongLine(line, tooLong);
                return true;
            }
            if (atEnd) {
                if (pos < end) {
                    line = std::string_view(s, size_t(end - pos));
                    pos = end;
                    endLongLine(line, tooLong);
                    return true;
                }
                return false;
            }
            if (end - pos >= kMaxLine) {
                // Drop what was buffered of this line; the rest up to its line feed follows.
                longLine = true;
                pos = end;
            }
            fill();
        }
    }

private:
    // A skipped long line is handed out once, empty and marked.
    void endLongLine(std::string_view &line, bool &tooLong)
    {
        if (longLine) {
            longLine = false;
            tooLong = true;
            line = std::string_view();
        }
    }

    void fill()
    {
        const qsizetype keep = end - pos;
        std::memmove(buf.data(), buf.constData() + pos, size_t(keep));
        pos = 0;
        end = keep;
        const qint64 n = dev.read(buf.data() + end, buf.size() - end);
        if (n <= 0)
            atEnd = true;
        else
            end += n;
    }

    QIODevice &dev;
    QByteArray buf;
    qsizetype pos = 0;
    qsizetype end = 0;
    bool atEnd = false;
    bool longLine = false;
};

// The first few blank-separated items of a line, and how many there are in all.
struct Items
{
    static constexpr int kept = 4;
    std::string_view item[kept];
    int count = 0;
};

inline bool isBlank(char c, bool commaIsBlank)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || (commaIsBlank && c == ',');
}

void splitItems(std::string_view line, bool commaIsBlank, Items &out)
{
    out.count = 0;
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && isBlank(line[i], commaIsBlank))
            ++i;
        if (i == n)
            break;
        const size_t b = i;
        while (i < n && !isBlank(line[i], commaIsBlank))
            ++i;
        if (out.count < Items::kept)
            out.item[out.count] = line.substr(b, i - b);
        ++out.count;
    }
}

// A whole item as a decimal integer of 32 bits (an optional sign, then digits only).
bool toInt(std::string_view s, int &v)
{
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty() || s.front() == '+')
        return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int toIntOrZero(std::string_view s)
{
    int v = 0;
    return toInt(s, v) ? v : 0;
}

// A whole item as a finite double: slice values must be ordinary numbers, or the range, the
// histogram and the colours of the whole set would be lost.
bool toFiniteDouble(std::string_view s, double &v)
{
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty() || s.front() == '+')
        return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool startsWith(std::string_view line, const char *head)
{
    return line.substr(0, std::strlen(head)) == head;
}

// Counts the lines of one file that could not be used, for one message at the end.
class LineTrouble
{
public:
    explicit LineTrouble(const QString &f)
        : fname(f)
    { }

    void malformed(qint64 lineNo)
    {
        if (bad++ == 0)
            firstBad = lineNo;
    }
    void outside(qint64 lineNo)
    {
        if (out++ == 0)
            firstOut = lineNo;
    }
    void report() const
    {
        if (bad > 0)
            logLine("Malformed lines skipped in slice file :",
                QString("%1 (%2 lines, the first is line %3)").arg(fname).arg(bad).arg(firstBad));
        if (out > 0)
            logLine("Points outside the slice grid ignored in :",
                QString("%1 (%2 points, the first on line %3)").arg(fname).arg(out).arg(firstOut));
    }

private:
    QString fname;
    qint64 bad = 0;
    qint64 firstBad = 0;
    qint64 out = 0;
    qint64 firstOut = 0;
};

// Where a header line of a dated text file keeps its key: "# KEY ..." or "#KEY ...".
std::string_view headerKey(const Items &it)
{
    std::string_view k = it.item[0];
    while (!k.empty() && k.front() == '#')
        k.remove_prefix(1);
    if (k.empty() && it.count > 1)
        k = it.item[1];
    while (!k.empty() && (k.back() == ':' || k.back() == '='))
        k.remove_suffix(1);
    return k;
}

QString upper(std::string_view s)
{
    return QString::fromLatin1(s.data(), qsizetype(s.size())).toUpper();
}

} // namespace

void SliceData::clear()
{
    sw = 0;
    sh = 0;
    isImage = false;
    picture = QImage();
    vMin = 0;
    vMax = 1;
    rows = std::vector<double>();
    bytes = std::vector<unsigned char>();
}

bool SliceData::read(const QString &fname)
{
    clear();
    if (readFloatTiff(fname) || readPicture(fname) || readCtImageData(fname)
        || readDatedText(fname))
        return true;
    clear();
    return false;
}

bool SliceData::allocate(qint64 w, qint64 h, qint64 fileSize, const QString &fname)
{
    const qint64 allowance = std::min(maxCells, std::max(fileSize, minCellAllowance));
    if (w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max()
        || w > allowance / h) {
        logLine("Slice size too large for its file, skipped :",
            QString("%1 (%2 x %3)").arg(fname).arg(w).arg(h));
        return false;
    }
    sw = int(w);
    sh = int(h);
    rows.assign(size_t(w * h), 0.0);
    return true;
}

bool SliceData::readFloatTiff(const QString &fname)
{
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray mark = f.read(4);
    f.close();
    // Classic and big TIFF in either byte order; anything else is left to the other readers.
    if (mark != QByteArray("II*\0", 4) && mark != QByteArray("MM\0*", 4)
        && mark != QByteArray("II+\0", 4) && mark != QByteArray("MM\0+", 4))
        return false;
    std::vector<float> pixels;
    int w = 0, h = 0;
    QString why;
    if (!CtTiffData::read(fname, pixels, w, h, &why))
        return false; // perhaps a picture TIFF: the picture reader decides
    if (qint64(w) * h > maxCells) {
        logLine("Slice size too large for its file, skipped :",
            QString("%1 (%2 x %3)").arg(fname).arg(w).arg(h));
        return false;
    }
    clear();
    sw = w;
    sh = h;
    rows.assign(pixels.begin(), pixels.end());
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    for (const double v : rows) {
        // A value that is not a number widens no range.
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    vMin = lo;
    vMax = hi;
    return true;
}

bool SliceData::readPicture(const QString &fname)
{
    QImageReader reader(fname);
    if (!reader.canRead())
        return false;
    QImage img;
    if (!reader.read(&img) || img.isNull()) {
        logLine("Picture could not be read :", fname);
        return false;
    }
    clear();
    const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        return false;
    sw = argb.width();
    sh = argb.height();
    rows.resize(size_t(sw) * size_t(sh));
    bytes.resize(rows.size());
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    for (int y = 0; y < sh; ++y) {
        const QRgb *src = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        double *dst = rows.data() + size_t(y) * size_t(sw);
        unsigned char *b = bytes.data() + size_t(y) * size_t(sw);
        for (int x = 0; x < sw; ++x) {
            const double v = double(src[x] & 0xff);
            b[x] = static_cast<unsigned char>(src[x] & 0xff);
            dst[x] = v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    vMin = lo;
    vMax = hi;
    isImage = true;
    picture = img;
    return true;
}

bool SliceData::readCtImageData(const QString &fname)
{
    QFile f(fname);
    // The mark is looked at first: a large file of another kind without line feeds would
    // otherwise be read to its end only to learn that its first line is no mark.
    if (!f.open(QIODevice::ReadOnly) || !f.peek(11).startsWith("#VEXA-CTImg"))
        return false;
    LineSource src(f);
    std::string_view line;
    bool tooLong = false;
    if (!src.next(line, tooLong) || !startsWith(line, "#VEXA-CTImg"))
        return false;

    clear();
    LineTrouble trouble(fname);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool allocated = false;
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    Items it;
    qint64 lineNo = 1;
    // The writer puts every point of the grid in the file, so a point that never comes
    // means the file was cut short (a full disk, a copy stopped half way).
    std::vector<bool> seen;
    qint64 points = 0;
    while (src.next(line, tooLong)) {
        ++lineNo;
        if (tooLong) {
            trouble.malformed(lineNo);
            continue;
        }
        splitItems(line, false, it);
        if (it.count == 0)
            continue;
        if (it.item[0] == "#") {
            if (it.count >= 4) {
                const std::string_view key = it.item[1];
                if (key == "Range_X0")
                    x0 = toIntOrZero(it.item[3]);
                else if (key == "Range_Y0")
                    y0 = toIntOrZero(it.item[3]);
                else if (key == "Range_X1")
                    x1 = toIntOrZero(it.item[3]);
                else if (key == "Range_Y1")
                    y1 = toIntOrZero(it.item[3]);
            }
            continue;
        }
        if (!allocated) {
            const qint64 w = qint64(x1) - x0 + 1;
            const qint64 h = qint64(y1) - y0 + 1;
            if (x1 <= 0 || y1 <= 0 || w <= 0 || h <= 0)
                continue; // the grid is not known yet
            if (!allocate(w, h, f.size(), fname)) {
                clear();
                return false;
            }
            allocated = true;
            seen.assign(rows.size(), false);
        }
        int x, y;
        double v;
        if (it.count < 3 || !toInt(it.item[0], x) || !toInt(it.item[1], y)
            || !toFiniteDouble(it.item[2], v)) {
            trouble.malformed(lineNo);
            continue;
        }
        v -= dataOffset;
        const qint64 col = qint64(x) - x0, row = qint64(y) - y0;
        if (!putValue(col, row, v, lo, hi)) {
            trouble.outside(lineNo);
            continue;
        }
        const size_t cell = size_t(row) * size_t(sw) + size_t(col);
        if (!seen[cell]) {
            seen[cell] = true;
            ++points;
        }
    }
    trouble.report();
    if (!allocated) {
        logLine("CT image data file without a usable range, skipped :", fname);
        clear();
        return false;
    }
    if (points < qint64(rows.size())) {
        // A damaged result file: a failure of the run or batch that loads it.
        recordFailure(Failures::Load,
            QString("CT image data file cut short, skipped : %1 (%2 of %3 points)")
                .arg(fname)
                .arg(points)
                .arg(rows.size()));
        clear();
        return false;
    }
    vMin = lo;
    vMax = hi;
    return true;
}

bool SliceData::putValue(qint64 col, qint64 row, double v, double &lo, double &hi)
{
    if (col < 0 || col >= sw || row < 0 || row >= sh)
        return false;
    rows[size_t(row) * size_t(sw) + size_t(col)] = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    return true;
}

bool SliceData::readDatedText(const QString &fname)
{
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly) || !f.peek(9).startsWith("## 240301"))
        return false;
    LineSource src(f);
    std::string_view line;
    bool tooLong = false;
    if (!src.next(line, tooLong) || !startsWith(line, "## 240301"))
        return false;

    clear();
    LineTrouble trouble(fname);
    qint64 w = 0, h = 0;
    qint64 ox = 0, oy = 0;
    bool allocated = false;
    double lo = std::numeric_limits<double>::max();
    double hi = -std::numeric_limits<double>::max();
    Items it;
    qint64 lineNo = 1;
    while (src.next(line, tooLong)) {
        ++lineNo;
        if (tooLong) {
            trouble.malformed(lineNo);
            continue;
        }
        splitItems(line, true, it);
        if (it.count == 0)
            continue;
        if (it.item[0].front() == '#') {
            const std::string_view key = headerKey(it);
            if (it.count == 3 && (key == "X-NUM" || key == "Y-NUM")) {
                int n;
                const qint64 size = toInt(it.item[2], n) ? qint64(n) - 1 : -1;
                (key == "X-NUM" ? w : h) = size;
            } else if (it.count >= 4 && (key == "Format1" || key == "Format2")) {
                const char *expected = key == "Format1" ? "XYV" : "SPACE-SEPARATED";
                if (upper(it.item[3]) != QLatin1String(expected))
                    logLine("Unexpected format line in dated slice file, read as usual :",
                        QString("%1 line %2").arg(fname).arg(lineNo));
            }
            continue;
        }
        int x, y;
        const bool xyOk = it.count >= 2 && toInt(it.item[0], x) && toInt(it.item[1], y);
        if (!allocated) {
            if (w <= 0 || h <= 0)
                continue; // the grid is not known yet
            if (!xyOk) {
                trouble.malformed(lineNo);
                continue;
            }
            if (!allocate(w, h, f.size(), fname)) {
                clear();
                return false;
            }
            allocated = true;
            ox = x;
            oy = y;
        }
        double v;
        if (it.count < 3 || !xyOk || !toFiniteDouble(it.item[2], v)) {
            trouble.malformed(lineNo);
            continue;
        }
        if (!putValue(qint64(x) - ox, qint64(y) - oy, v, lo, hi))
            trouble.outside(lineNo);
    }
    trouble.report();
    if (!allocated) {
        logLine("Dated slice file without a usable size, skipped :", fname);
        clear();
        return false;
    }
    vMin = lo;
    vMax = hi;
    return true;
}
