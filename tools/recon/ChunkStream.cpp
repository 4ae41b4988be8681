#include "ChunkStream.h"

#include "Failures.h"
#include "ImgDatas.h"
#include "Memory.h"

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// The program itself, its libraries and the HDF5 chunk cache, measured on small runs with
// room to spare.
constexpr qint64 ProgramBytes = 96ll << 20;

// Reads lines `first` ... `last` of every file into `set` (emptied first), until `cancel`.
void readChunk(ImgDatas &set, const QStringList &files, const ImgData::Window &window,
    const std::atomic<bool> &cancel)
{
    set.clearImgs();
    set.window = window;
    for (const QString &f : files) {
        if (cancel.load())
            return;
        set.add(f);
    }
}

} // namespace

std::optional<qint64> ChunkStream::parseBytes(const QString &text)
{
    static const QRegularExpression rx(
        QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]*)?)\\s*([kKmMgGtT]?)(?:i?[bB])?\\s*$"));
    const auto m = rx.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const double number = m.captured(1).toDouble();
    const QString unit = m.captured(2).toUpper();
    const int shift = unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : unit == "T" ? 40 : 0;
    const double bytes = std::ldexp(number, shift);
    if (!(bytes >= 1) || bytes > 9.0e18)
        return std::nullopt;
    return qint64(bytes);
}

int ChunkStream::Budget::linesPerChunk() const
{
    if (perLine <= 0 || limit < least())
        return 0;
    return int(std::min<qint64>((limit - fixed) / (2 * perLine), std::max(lineCount, 1)));
}

ChunkStream::Budget ChunkStream::budget(qint64 limit, int projections, int imageWidth,
    int imageHeight, bool rotAxIsV, int bytesPerPixel, int workers)
{
    const qint64 p = projections, w = imageWidth, h = imageHeight;
    const qint64 n = rotAxIsV ? w : h; // the length of a detector line
    Budget b;
    b.limit = limit;
    b.lineCount = rotAxIsV ? imageHeight : imageWidth;
    b.perLine = p * n * bytesPerPixel;
    // Each reader's row and column buffers, in both chunks; the I0 and BG images whole, as
    // doubles at most; each worker's sinograms and transforms (as the whole-set memory check
    // counts them) and two finished slices per worker waiting for the disk (a data file and
    // a TIFF file, at most 8 bytes a pixel).
    b.fixed = ProgramBytes + 2 * p * ((w + h) * 8 + 512) + 2 * w * h * 8
        + qint64(workers) * (8 * n * n + 48 * n * p + 4 * 8 * n * n);
    return b;
}

QList<QList<int>> ChunkStream::chunks(const QList<int> &slices, int lines)
{
    QList<QList<int>> out;
    int lo = 0, hi = 0;
    for (int s : slices) {
        if (!out.isEmpty()) {
            const int nlo = std::min(lo, s), nhi = std::max(hi, s);
            if (nhi - nlo + 1 <= lines) {
                out.last() << s;
                lo = nlo;
                hi = nhi;
                continue;
            }
        }
        out << QList<int> { s };
        lo = hi = s;
    }
    return out;
}

ImgData::Window ChunkStream::window(bool rotAxIsV, int first, int last)
{
    const int lo = std::min(first, last), count = std::abs(last - first) + 1;
    return rotAxIsV ? ImgData::Window { 0, lo, INT_MAX, count }
                    : ImgData::Window { lo, 0, count, INT_MAX };
}

QString ChunkStream::planText(const QList<QList<int>> &chunks, qint64 limit)
{
    qsizetype most = 0;
    for (const QList<int> &c : chunks)
        most = std::max(most, c.size());
    return QStringLiteral("Streaming %1 %2 of %3 %4 within %5")
        .arg(chunks.size())
        .arg(chunks.size() == 1 ? QStringLiteral("chunk") : QStringLiteral("chunks"))
        .arg(most)
        .arg(most == 1 ? QStringLiteral("slice") : QStringLiteral("slices"))
        .arg(memoryText(limit));
}

bool ChunkStream::run(ImgDatas &set, const QStringList &files, bool rotAxIsV,
    const QList<QList<int>> &chunks, const std::function<void(const QList<int> &)> &reconstruct,
    const std::function<bool()> &stopped)
{
    // The chunk being read. Only the reading thread touches it until it is joined; `set` is
    // read by the workers meanwhile and changed only here, between chunks, while they idle.
    ImgDatas next;
    next.width = set.width;
    next.height = set.height;
    std::atomic<bool> cancel = false;
    const auto windowOf = [rotAxIsV](const QList<int> &chunk) {
        const auto [lo, hi] = std::minmax_element(chunk.cbegin(), chunk.cend());
        return window(rotAxIsV, *lo, *hi);
    };
    std::thread reader;
    const auto startReading = [&](int c) {
        const ImgData::Window w = windowOf(chunks.at(c));
        try {
            reader
                = std::thread([&next, &files, w, &cancel] { readChunk(next, files, w, cancel); });
        } catch (const std::system_error &) {
            // No thread to spare: the chunk is read before the next one is reconstructed.
            readChunk(next, files, w, cancel);
        }
    };
    const auto finishReading = [&] {
        if (reader.joinable())
            reader.join();
    };

    bool ok = true;
    startReading(0);
    for (int c = 0; c < chunks.size(); ++c) {
        finishReading();
        if (stopped())
            break;
        if (!next.isComplete() || next.count() != files.size()) {
            recordFailure(Failures::Load,
                QString("%1; the slices from %2 on are not reconstructed")
                    .arg(next.incompleteText().isEmpty()
                            ? QStringLiteral("Projections went missing")
                            : next.incompleteText())
                    .arg(chunks.at(c).first()));
            ok = false;
            break;
        }
        // The workers are idle: the set takes the chunk's readers, and the thread frees the
        // previous ones before it reads the chunk after.
        std::swap(set.imgs, next.imgs);
        if (c + 1 < chunks.size())
            startReading(c + 1);
        reconstruct(chunks.at(c));
        if (stopped()) {
            cancel = true;
            break;
        }
    }
    finishReading();
    next.clearImgs();
    return ok;
}
