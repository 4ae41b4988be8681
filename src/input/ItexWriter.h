#pragma once

#include <QString>

// Writes an ITEX camera file that ImgDataITEX reads back: the 64-byte header, a comment
// giving the size, the pixel width and (when exposureTime >= 0) the exposure time, then
// `extra` (further comma-ended items), then the pixels of a row-major buffer of quint16
// (bytesPerPixel 2) or quint32 (bytesPerPixel 4), stored little-endian. The file appears
// complete or not at all. Returns false on any failure (bad arguments, comment longer than
// the header can state, write or rename error).
bool writeItexFile(const QString &path, int width, int height, int bytesPerPixel,
    const void *pixels, double exposureTime = -1.0, const QString &extra = {});
