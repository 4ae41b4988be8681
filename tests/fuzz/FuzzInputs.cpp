// vexa2-fuzz: feeds damaged copies of input files to the program's readers, to find inputs
// that crash, hang or exhaust memory instead of being refused with a message. Each run takes
// seed files, changes a few bytes of a copy (flipped bits, boundary values in place of
// integers, cut or repeated pieces), writes the copy to a temporary file and reads it the way
// the program does. Built with the sanitizers (scripts/test-sanitized), a fault stops the run
// with a report; the copy that caused it stays in the temporary folder under "last-input".
//
//   vexa2-fuzz seeds DIR                       writes one small seed file of every kind
//   vexa2-fuzz KIND SEED... [--runs N] [--seed S]
//   vexa2-fuzz KIND FILE... --as-is             reads each file once as it is (a kept input)
//   KIND: images (ITEX and TIFF camera files), hdf5 (DXchange files), scan (XAFS scan
//         files), slices (slice files of the 3D view)
#include "DxchangeFile.h"
#include "DxchangeWriter.h"
#include "ImgData.h"
#include "ItexWriter.h"
#include "SliceData.h"
#include "XafsI0Table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The readers, as the program calls them. Their results do not matter here, only that they
// return.
void readImages(const QString &path)
{
    const int type = ImgData::fileType(path);
    if (type < 0)
        return;
    std::unique_ptr<ImgData> d(ImgData::create(type));
    if (!d)
        return;
    d->fileName = path;
    if (d->load() && d->height > 0) {
        d->hLine(d->height - 1, d->hBuf.data());
        d->vLine(d->width - 1, d->vBuf.data());
    }
}

void readHdf5(const QString &path)
{
    DxchangeFile::Info info;
    QString error;
    if (!DxchangeFile::inspect(path, info, &error))
        return;
    bool given = false;
    double origin = 0, range = 0;
    bool even = true;
    DxchangeFile::angleRange(path, info, given, origin, range, &error, &even);
    const DxchangeFile::SourcePtr source = DxchangeFile::open(path, &error);
    if (!source)
        return;
    std::vector<char> pixels;
    DxchangeFile::Pixel pixel;
    for (int i : { 0, info.projections / 2, info.projections - 1 })
        DxchangeFile::readImage(source, DxchangeFile::Part::Projection, i, pixels, pixel, &error);
    DxchangeFile::readImage(source, DxchangeFile::Part::White, 0, pixels, pixel, &error);
    DxchangeFile::readImage(source, DxchangeFile::Part::Dark, 0, pixels, pixel, &error);
}

void readScan(const QString &path)
{
    XafsI0Table table;
    if (table.readXafs(path))
        table.i0At(8980.0);
}

void readSlices(const QString &path)
{
    SliceData s;
    s.read(path);
}

using Reader = void (*)(const QString &);

Reader readerFor(const QString &kind)
{
    if (kind == QLatin1String("images"))
        return readImages;
    if (kind == QLatin1String("hdf5"))
        return readHdf5;
    if (kind == QLatin1String("scan"))
        return readScan;
    if (kind == QLatin1String("slices"))
        return readSlices;
    return nullptr;
}

// A copy of `seed` with one to eight changes.
QByteArray mutate(const QByteArray &seed, std::mt19937_64 &rng)
{
    QByteArray b = seed;
    const int changes = int(rng() % 8) + 1;
    static const quint32 boundary[]
        = { 0u, 1u, 0x7fu, 0x80u, 0xffu, 0x7fffu, 0xffffu, 0x7fffffffu, 0x80000000u, 0xffffffffu };
    for (int c = 0; c < changes && !b.isEmpty(); ++c) {
        const qsizetype at = qsizetype(rng() % quint64(b.size()));
        switch (rng() % 6) {
        case 0: // a flipped bit
            b[at] = char(b[at] ^ (1 << (rng() % 8)));
            break;
        case 1: // a boundary value in place of a byte
            b[at] = char(boundary[rng() % 5]);
            break;
        case 2: { // a boundary value in place of a 16- or 32-bit integer
            const quint32 v = boundary[rng() % std::size(boundary)];
            const int width = rng() % 2 ? 4 : 2;
            for (int k = 0; k < width && at + k < b.size(); ++k)
                b[at + k] = char(v >> (8 * k));
            break;
        }
        case 3: // cut short
            b.truncate(at);
            break;
        case 4: { // a piece repeated
            const qsizetype len = qsizetype(rng() % 64) + 1;
            b.insert(at, b.mid(at, len));
            break;
        }
        default: // a piece removed
            b.remove(at, qsizetype(rng() % 64) + 1);
            break;
        }
    }
    return b;
}

int writeSeeds(const QString &dirName)
{
    QDir dir;
    if (!dir.mkpath(dirName)) {
        out() << "vexa2-fuzz: cannot make " << dirName << Qt::endl;
        return 1;
    }
    const QDir d(dirName);
    const int w = 24, h = 6, p = 5;
    std::vector<quint16> pixels(size_t(w) * h * p);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = quint16(1000 + (i * 37) % 3000);
    bool ok = writeItexFile(d.filePath("image.img"), w, h, 2, pixels.data(), 0.5);

    TIFF *t = TIFFOpen(QFile::encodeName(d.filePath("image.tif")).constData(), "w");
    if (t) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, quint32(w));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, quint32(h));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, quint16(16));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, quint16(1));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_COMPRESSION, quint16(COMPRESSION_ADOBE_DEFLATE));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, quint32(2));
        for (int s = 0; s < h / 2 && ok; ++s)
            ok = TIFFWriteEncodedStrip(t, s, pixels.data() + s * 2 * w, tmsize_t(2 * w * 2)) >= 0;
        TIFFClose(t);
    } else {
        ok = false;
    }

    DxchangeWriter dx;
    QString error;
    ok = ok && dx.create(d.filePath("set.h5"), p, h, w, 1, &error);
    for (int i = 0; i < p && ok; ++i)
        ok = dx.writeProjection(i, pixels.data() + size_t(i) * w * h, &error);
    std::vector<double> theta;
    for (int i = 0; i < p; ++i)
        theta.push_back(180.0 * i / p);
    ok = ok && dx.writeWhite(pixels.data(), 2, &error) && dx.writeDark(pixels.data(), 1, &error)
        && dx.writeTheta(theta, &error) && dx.close(&error);

    QByteArray scan = "9809     XAFS\n2026.12.07 10:00 - 2026.12.07 10:30\nSample\n"
                      "Ring : 2.5 GeV  300 mA  -  300 mA\nMono : Si(111)  D= 3.13551 A\n"
                      "Points= 4\n    Mode       0       1\n  Offset       0       0\n";
    for (int i = 0; i < 4; ++i)
        scan += QByteArray::number(12.9 - 0.01 * i, 'f', 5) + "  "
            + QByteArray::number(12.9 - 0.01 * i, 'f', 5) + "  1.0  "
            + QByteArray::number(100000 + 100 * i) + "  " + QByteArray::number(5000 + i) + "\n";
    ok = ok && writeBytes(d.filePath("scan.dat"), scan);
    if (!ok) {
        out() << "vexa2-fuzz: cannot write the seeds " << error << Qt::endl;
        return 1;
    }
    out() << "Seeds written to " << dirName << ": image.img, image.tif (images), set.h5 (hdf5), "
          << "scan.dat (scan)" << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 2 && args.at(0) == QLatin1String("seeds"))
        return writeSeeds(args.at(1));
    qint64 runs = 1000;
    quint64 seed = 1;
    bool asIs = false;
    QStringList files;
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs") && i + 1 < args.size())
            runs = args.at(++i).toLongLong();
        else if (args.at(i) == QLatin1String("--as-is"))
            asIs = true;
        else if (args.at(i) == QLatin1String("--seed") && i + 1 < args.size())
            seed = args.at(++i).toULongLong();
        else
            files << args.at(i);
    }
    const Reader reader = args.isEmpty() ? nullptr : readerFor(args.at(0));
    if (!reader || files.isEmpty() || runs < 1) {
        out() << "usage: vexa2-fuzz seeds DIR\n"
                 "       vexa2-fuzz images|hdf5|scan|slices SEED... [--runs N] [--seed S]\n"
                 "       vexa2-fuzz images|hdf5|scan|slices FILE... --as-is"
              << Qt::endl;
        return 2;
    }
    if (asIs) {
        for (const QString &f : std::as_const(files))
            reader(f);
        out() << files.size() << " files read without a fault" << Qt::endl;
        return 0;
    }
    std::vector<QByteArray> seeds;
    for (const QString &f : std::as_const(files)) {
        QFile file(f);
        if (!file.open(QIODevice::ReadOnly)) {
            out() << "vexa2-fuzz: cannot read " << f << Qt::endl;
            return 1;
        }
        seeds.push_back(file.readAll());
    }
    // Messages of refused inputs would drown the report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QTemporaryDir tmp;
    tmp.setAutoRemove(false);
    const QString input = tmp.filePath(
        QStringLiteral("last-input") + QFileInfo(files.at(0)).suffix().prepend(u'.'));
    // Said before the first read: after a crash this is the input that caused it.
    out() << "Each damaged input is written to " << input << Qt::endl;
    std::mt19937_64 rng(seed);
    for (qint64 r = 0; r < runs; ++r) {
        if (!writeBytes(input, mutate(seeds[size_t(r) % seeds.size()], rng))) {
            out() << "vexa2-fuzz: cannot write " << input << Qt::endl;
            return 1;
        }
        reader(input);
    }
    tmp.setAutoRemove(true);
    out() << runs << " damaged inputs read without a fault" << Qt::endl;
    return 0;
}
