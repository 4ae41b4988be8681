#include "PngFile.h"

#include <QFile>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

namespace {

// libpng reports errors by longjmp to the setjmp of the function that called it: these keep
// every object with a destructor outside the functions that call setjmp.

void quiet(png_structp, png_const_charp) { }

void appendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto *out = static_cast<QByteArray *>(png_get_io_ptr(png));
    try {
        out->append(reinterpret_cast<const char *>(data), qsizetype(length));
    } catch (const std::bad_alloc &) {
        png_error(png, "no memory");
    }
}

void noFlush(png_structp) { }

bool writeRows(png_structp png, png_infop info, const unsigned char *pixels, int width, int height,
    int dotsPerMetre)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_GRAY,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (dotsPerMetre > 0)
        png_set_pHYs(
            png, info, png_uint_32(dotsPerMetre), png_uint_32(dotsPerMetre), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, pixels + std::size_t(y) * std::size_t(width));
    png_write_end(png, info);
    return true;
}

struct Reading
{
    const QByteArray *bytes;
    qsizetype at;
};

void readBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto *r = static_cast<Reading *>(png_get_io_ptr(png));
    if (qsizetype(length) > r->bytes->size() - r->at)
        png_error(png, "file cut short");
    std::memcpy(data, r->bytes->constData() + r->at, length);
    r->at += qsizetype(length);
}

// Every row into `row` (as wide as the widest row libpng may hand out), then the end chunk.
bool readRows(png_structp png, png_infop info, png_infop end, std::vector<unsigned char> *row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const png_size_t bytes = png_get_rowbytes(png, info);
    if (bytes == 0 || height == 0)
        return false;
    // A row buffer is all that is needed to decode: nothing of the picture is kept.
    if (row->size() < bytes)
        return false;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, row->data(), nullptr);
    }
    png_read_end(png, end);
    return true;
}

} // namespace

namespace PngFile {

QByteArray grey(const unsigned char *pixels, int width, int height, int dotsPerMetre)
{
    if (!pixels || width <= 0 || height <= 0)
        return {};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet, quiet);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    QByteArray out;
    bool ok = false;
    if (info) {
        png_set_write_fn(png, &out, appendBytes, noFlush);
        ok = writeRows(png, info, pixels, width, height, dotsPerMetre);
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok ? out : QByteArray();
}

bool decodes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.constData()), 0, 8))
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet, quiet);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    png_infop end = png_create_info_struct(png);
    bool ok = false;
    if (info && end) {
        Reading reading { &bytes, 0 };
        png_set_read_fn(png, &reading, readBytes);
        // Width x 8 bytes covers any colour type at 16 bits with alpha; the width is read
        // from the header first, so the buffer is sized in two steps.
        std::vector<unsigned char> row;
        if (bytes.size() >= 24) {
            const auto *h = reinterpret_cast<const unsigned char *>(bytes.constData()) + 16;
            const quint32 width
                = quint32(h[0]) << 24 | quint32(h[1]) << 16 | quint32(h[2]) << 8 | quint32(h[3]);
            // A width no real picture has is refused rather than allocated.
            if (width > 0 && width <= (1u << 20))
                row.resize(std::size_t(width) * 8);
        }
        ok = !row.empty() && readRows(png, info, end, &row);
    }
    png_destroy_read_struct(&png, info ? &info : nullptr, end ? &end : nullptr);
    return ok;
}

} // namespace PngFile
