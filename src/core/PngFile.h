#pragma once

#include <QByteArray>
#include <QString>

// Result pictures as PNG files through libpng, without Qt Gui: what the headless tools write
// and check. The bytes are those of the window's pictures of the same grey levels (8-bit
// grey, libpng's default compression and row filters, the resolution of a 96 dpi screen).
namespace PngFile {

// 96 dots per inch, the resolution the window's pictures carry.
constexpr int ScreenDotsPerMetre = 3780;

// The file of a width x height grey picture stored row after row (`pixels`, one byte each);
// empty when the sizes are not positive or libpng refuses (no memory).
QByteArray grey(
    const unsigned char *pixels, int width, int height, int dotsPerMetre = ScreenDotsPerMetre);

// Whether the file at `path` is a PNG file that decodes whole: every row and the end chunk,
// every checksum right. A file cut short fails.
bool decodes(const QString &path);

} // namespace PngFile
