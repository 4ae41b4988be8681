#pragma once

#include "ImgData.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ImgDatas;

// Reconstruction of a slice range within a memory budget: of every projection only the
// detector lines of the current chunk of slices are held, and the next chunk is read on a
// thread of its own while the current one is reconstructed. The workers read the same image
// set as ever; between chunks (while they are idle) its readers are exchanged for those of
// the next chunk, so for the slices of a chunk the set answers exactly as the whole set would.
class ChunkStream
{
public:
    // "256M", "1.5G", "800K", "1000000": bytes (K, M, G, T are powers of 1024, an optional
    // "B" or "iB" may follow); nullopt for anything else or a size below one byte.
    static std::optional<qint64> parseBytes(const QString &text);

    // What a run holds: a part that does not depend on the chunk (the program, the I0 and BG
    // images, the workers' sinograms and transforms, the results waiting for the disk, the
    // readers' own buffers) and, for each of the two chunks held at once (the one
    // reconstructed and the one read), one detector line of every projection per slice.
    struct Budget
    {
        qint64 limit = 0;
        qint64 fixed = 0;
        qint64 perLine = 0; // one detector line of every projection
        int lineCount = 0; // of the detector

        // Detector lines one chunk may span; 0 when the limit cannot hold even one.
        int linesPerChunk() const;
        // The smallest limit that holds a chunk of one line.
        qint64 least() const { return fixed + 2 * perLine; }
    };
    static Budget budget(qint64 limit, int projections, int imageWidth, int imageHeight,
        bool rotAxIsV, int bytesPerPixel, int workers);

    // `slices` (in their order: ascending, descending, with a step) cut into runs whose
    // detector lines span at most `lines` lines.
    static QList<QList<int>> chunks(const QList<int> &slices, int lines);

    // The part of an image that holds detector lines first ... last: image rows when the
    // rotation axis is vertical, columns otherwise.
    static ImgData::Window window(bool rotAxIsV, int first, int last);

    // "Streaming 12 chunks of 86 slices within 1 GB".
    static QString planText(const QList<QList<int>> &chunks, qint64 limit);

    // For each chunk: its lines of every file in `files` are read into `set` (while the
    // chunk before is reconstructed), then `reconstruct` does its slices. Stops after the
    // chunk in progress when `stopped` says so. False, with the failure recorded, when a
    // file of a chunk cannot be read; the chunks before it are done.
    static bool run(ImgDatas &set, const QStringList &files, bool rotAxIsV,
        const QList<QList<int>> &chunks, const std::function<void(const QList<int> &)> &reconstruct,
        const std::function<bool()> &stopped);
};
