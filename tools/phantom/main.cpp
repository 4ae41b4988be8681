// vexa2-phantom: writes CT and CT-XAFS sample data sets of a head phantom as ITEX files.
#include "EnergyNaming.h"
#include "Phantom.h"
#include "Projector.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "vexa2-phantom: " << message << Qt::endl;
    return 1;
}

// A command line that asks for something impossible: nothing was written.
int usage(const QString &message)
{
    QTextStream(stderr) << "vexa2-phantom: " << message << Qt::endl;
    return 2;
}

std::optional<int> intValue(const QString &text, int lo, int hi)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::optional<double> doubleValue(const QString &text, double lo, double hi)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < lo || v > hi)
        return std::nullopt;
    return v;
}

// "8950,8979.5,9000" and "8900:9100:10" (first:last:step, both ends included), mixed at
// will; the result is sorted. Empty on a malformed list.
QList<double> parseEnergies(const QString &text, QString *error)
{
    const int maxEnergies = 10000;
    QList<double> energies;
    for (const QString &item : text.split(u',', Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(u':');
        if (parts.size() == 1) {
            const auto e = doubleValue(parts[0], 1e-3, 1e7);
            if (!e) {
                *error = QStringLiteral("not an energy: \"%1\"").arg(item);
                return {};
            }
            energies << *e;
        } else if (parts.size() == 3) {
            const auto first = doubleValue(parts[0], 1e-3, 1e7);
            const auto last = doubleValue(parts[1], 1e-3, 1e7);
            const auto step = doubleValue(parts[2], 1e-6, 1e7);
            if (!first || !last || !step || *last < *first) {
                *error = QStringLiteral("not an energy range first:last:step: \"%1\"").arg(item);
                return {};
            }
            const double count = std::floor((*last - *first) / *step + 1e-6) + 1;
            if (energies.size() + count > maxEnergies) {
                *error = QStringLiteral("more than %1 energies").arg(maxEnergies);
                return {};
            }
            // Multiplying rather than accumulating keeps 8900 + 37 * 0.1 free of drift.
            for (int k = 0; k < int(count); ++k)
                energies << *first + k * *step;
        } else {
            *error = QStringLiteral("not an energy or range: \"%1\"").arg(item);
            return {};
        }
        if (energies.size() > maxEnergies) {
            *error = QStringLiteral("more than %1 energies").arg(maxEnergies);
            return {};
        }
    }
    std::sort(energies.begin(), energies.end());
    if (energies.isEmpty())
        *error = QStringLiteral("no energy given");
    return energies;
}

QString sizeText(const QString &path)
{
    return QStringLiteral("%1 bytes").arg(QFileInfo(path).size());
}

void reportSet(const QString &label, const QStringList &files)
{
    out() << label << ": " << files.size() << " files " << QFileInfo(files.first()).fileName();
    if (files.size() > 1)
        out() << " ... " << QFileInfo(files.last()).fileName();
    out() << " in " << QFileInfo(files.first()).absolutePath() << ", " << sizeText(files.first())
          << " each" << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vexa2-phantom"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VEXA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes sample projection data for Vexa2: a 3-D Shepp-Logan-like head phantom made of\n"
        "ellipsoids, projected over 180 or 360 degrees and stored as 16-bit ITEX files\n"
        "(\"<name>-00000.img\", ...) together with an I0 and a BG image.\n"
        "\n"
        "Geometry: projection i is taken at angle i * range / projections. A detector line\n"
        "(an image row, or an image column with --horizontal-axis) sees one slice; its pixel j\n"
        "holds the exact line integral through the phantom at u = j - axis, point-sampled at\n"
        "the pixel position (no averaging over the pixel area). The axis lies at line length / 2\n"
        "+ offset; use that number as the centre of rotation. Counts are\n"
        "I = BG + (I0 - BG) * exp(-integral), rounded and clamped to 0..65535, with Poisson noise\n"
        "when asked for in the projections and I0 images (the same seed gives the same\n"
        "files); the BG image is the constant BG.\n"
        "\n"
        "Phantom: ten ellipsoids with additive attenuations (1/pixel), turned only about the\n"
        "rotation axis, filling 90 % of the part of each detector line that is symmetric about\n"
        "the axis and 90 % of the detector along the axis.\n"
        "\n"
        "Layout of the output folder:\n"
        "  CT:                  <name>-NNNNN.img, ref/I0.img, ref/BG.img\n"
        "  CT-XAFS, sub-folders: <energy>eV/<name>-NNNNN.img (e.g. 08980_0eV), one per energy;\n"
        "                       I0-<energy>eV-00000.img and BG.img beside the sub-folders\n"
        "  CT-XAFS, --zbx:      <name>-<energy>keV-NNNNN.img (e.g. sample-08_980keV-00000.img);\n"
        "                       ref/I0-<energy>keV-00000.img and ref/BG.img\n"
        "Energy names are zero-padded so that name order is energy order. The I0 and BG images\n"
        "are placed where the data-set listing of Vexa2 does not take them for projections.\n"
        "In CT-XAFS mode one body of the phantom has an absorption edge (Cu K, 8979 eV, unless\n"
        "--edge says otherwise): its attenuation triples across the edge; all bodies fall\n"
        "gently with energy."));
    parser.addHelpOption();
    parser.addVersionOption();

    const QCommandLineOption widthOpt(QStringLiteral("width"),
        QStringLiteral("Detector width in pixels (4..16384, default 256)."),
        QStringLiteral("pixels"), QStringLiteral("256"));
    const QCommandLineOption heightOpt(QStringLiteral("height"),
        QStringLiteral("Detector height in pixels (4..16384, default 256)."),
        QStringLiteral("pixels"), QStringLiteral("256"));
    const QCommandLineOption projOpt({ QStringLiteral("n"), QStringLiteral("projections") },
        QStringLiteral("Number of projections (1..100000, default 360)."), QStringLiteral("count"),
        QStringLiteral("360"));
    const QCommandLineOption rangeOpt(QStringLiteral("range"),
        QStringLiteral("Angular range of the projections: 180 or 360 degrees (default 180)."),
        QStringLiteral("degrees"), QStringLiteral("180"));
    const QCommandLineOption offsetOpt(QStringLiteral("axis-offset"),
        QStringLiteral("Rotation axis position relative to the middle of a detector line, in "
                       "pixels; fractions allowed (default 0)."),
        QStringLiteral("pixels"), QStringLiteral("0"));
    const QCommandLineOption horizOpt(QStringLiteral("horizontal-axis"),
        QStringLiteral("Horizontal rotation axis: detector lines are image columns, slices run "
                       "along x."));
    const QCommandLineOption i0Opt(QStringLiteral("i0"),
        QStringLiteral("Counts of the incident beam (default 30000)."), QStringLiteral("counts"),
        QStringLiteral("30000"));
    const QCommandLineOption bgOpt(QStringLiteral("bg"),
        QStringLiteral("Background (dark) counts, below I0 (default 100)."),
        QStringLiteral("counts"), QStringLiteral("100"));
    const QCommandLineOption noiseOpt(QStringLiteral("noise"),
        QStringLiteral("Add Poisson noise to the projections and the I0 images."));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
        QStringLiteral("Seed of the noise (default 1)."), QStringLiteral("number"),
        QStringLiteral("1"));
    const QCommandLineOption outOpt({ QStringLiteral("o"), QStringLiteral("out") },
        QStringLiteral("Output folder, created when missing; it must be empty unless --force "
                       "(default phantom-data)."),
        QStringLiteral("folder"), QStringLiteral("phantom-data"));
    const QCommandLineOption forceOpt(QStringLiteral("force"),
        QStringLiteral("Write into a folder that is not empty (files of the same name are "
                       "replaced, others are kept)."));
    const QCommandLineOption nameOpt(QStringLiteral("name"),
        QStringLiteral("Sample name at the start of the file names (default sample)."),
        QStringLiteral("text"), QStringLiteral("sample"));
    const QCommandLineOption scaleOpt(QStringLiteral("mu-scale"),
        QStringLiteral("Attenuation scale: multiplies every attenuation coefficient (default 1, "
                       "where the thickest rays keep about a fifth of the beam at any detector "
                       "size)."),
        QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption energiesOpt(QStringLiteral("energies"),
        QStringLiteral("CT-XAFS mode: one data set per energy in eV, a list and/or ranges "
                       "first:last:step, e.g. 8900:9100:20 or 8950,8979,9000."),
        QStringLiteral("list"));
    const QCommandLineOption zbxOpt(QStringLiteral("zbx"),
        QStringLiteral("CT-XAFS file sets in one folder named by the \"ZBX Std.\" rule instead "
                       "of one sub-folder per energy."));
    const QCommandLineOption edgeOpt(QStringLiteral("edge"),
        QStringLiteral("Absorption edge energy in eV (default 8979, Cu K)."), QStringLiteral("eV"),
        QStringLiteral("8979"));
    const QCommandLineOption expOpt(QStringLiteral("exposure"),
        QStringLiteral("Exposure time written into every file, in seconds (default 1)."),
        QStringLiteral("seconds"), QStringLiteral("1"));
    const QCommandLineOption hdf5Opt(QStringLiteral("hdf5"),
        QStringLiteral("Write the CT data set as one DXchange HDF5 file instead of ITEX files: "
                       "/exchange/data (gzip), data_white (the I0 image), data_dark (the BG "
                       "image), theta (degrees)."),
        QStringLiteral("file.h5"));
    const QCommandLineOption gzipOpt(QStringLiteral("gzip"),
        QStringLiteral("gzip level of the HDF5 projections, 0 for none (default 4)."),
        QStringLiteral("level"), QStringLiteral("4"));
    const QCommandLineOption threadsOpt(QStringLiteral("threads"),
        QStringLiteral("Worker threads, 0 for one per hardware thread (default 0)."),
        QStringLiteral("count"), QStringLiteral("0"));
    parser.addOptions({ widthOpt, heightOpt, projOpt, rangeOpt, offsetOpt, horizOpt, i0Opt, bgOpt,
        noiseOpt, seedOpt, outOpt, forceOpt, nameOpt, scaleOpt, energiesOpt, zbxOpt, edgeOpt,
        expOpt, threadsOpt });
    parser.addOptions({ hdf5Opt, gzipOpt });
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument \"%1\"; see --help")
                         .arg(parser.positionalArguments().first()));

    Projector proj;
    const auto width = intValue(parser.value(widthOpt), 4, 16384);
    const auto height = intValue(parser.value(heightOpt), 4, 16384);
    if (!width || !height)
        return usage(QStringLiteral("width and height must be whole numbers from 4 to 16384"));
    if (qint64(*width) * *height > 16 * 1024 * 1024)
        return usage(QStringLiteral("at most 16777216 pixels per image"));
    proj.detector.width = *width;
    proj.detector.height = *height;
    proj.detector.horizontalAxis = parser.isSet(horizOpt);
    const auto offset = doubleValue(parser.value(offsetOpt), -1e6, 1e6);
    if (!offset)
        return usage(QStringLiteral("the axis offset must be a number"));
    proj.detector.axisOffset = *offset;
    if (!proj.detector.isValid())
        return usage(QStringLiteral("the axis at %1 leaves too little of the detector line on "
                                    "one side")
                         .arg(proj.detector.axis()));

    const auto count = intValue(parser.value(projOpt), 1, 100000);
    if (!count)
        return usage(QStringLiteral("the number of projections must be from 1 to 100000"));
    proj.projections = *count;
    const auto range = intValue(parser.value(rangeOpt), 0, 360);
    if (!range || (*range != 180 && *range != 360))
        return usage(QStringLiteral("the range must be 180 or 360"));
    proj.rangeDeg = *range;

    const auto i0 = doubleValue(parser.value(i0Opt), 0, 65535);
    const auto bg = doubleValue(parser.value(bgOpt), 0, 65535);
    if (!i0 || !bg || *bg >= *i0)
        return usage(QStringLiteral("I0 and BG must lie in 0..65535 with BG below I0"));
    proj.i0 = *i0;
    proj.bg = *bg;
    proj.noise = parser.isSet(noiseOpt);
    bool seedOk = false;
    proj.seed = parser.value(seedOpt).trimmed().toULongLong(&seedOk);
    if (!seedOk)
        return usage(QStringLiteral("the seed must be a whole number from 0 to 2^64 - 1"));
    const auto exposure = doubleValue(parser.value(expOpt), 1e-9, 1e9);
    if (!exposure)
        return usage(QStringLiteral("the exposure time must be a positive number"));
    proj.exposureTime = *exposure;
    const auto threads = intValue(parser.value(threadsOpt), 0, 1024);
    if (!threads)
        return usage(QStringLiteral("the number of threads must be from 0 to 1024"));
    proj.threads = *threads;

    const auto muScale = doubleValue(parser.value(scaleOpt), 0, 1e6);
    if (!muScale)
        return usage(QStringLiteral("the attenuation scale must be a number of at least 0"));
    const auto edge = doubleValue(parser.value(edgeOpt), 1, 1e7);
    if (!edge)
        return usage(QStringLiteral("the edge energy must be a positive number"));

    const QString name = parser.value(nameOpt);
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name == "."
        || name == "..")
        return usage(QStringLiteral("the sample name must be a plain file name"));

    const bool xafs = parser.isSet(energiesOpt);
    const auto gzip = intValue(parser.value(gzipOpt), 0, 9);
    if (!gzip)
        return usage(QStringLiteral("the gzip level must be from 0 to 9"));
    if (parser.isSet(hdf5Opt) && xafs)
        return usage(QStringLiteral("--hdf5 writes one CT data set; it cannot be combined with "
                                    "--energies"));
    const bool zbx = parser.isSet(zbxOpt);
    if (zbx && !xafs)
        return usage(QStringLiteral("--zbx needs --energies"));
    QList<double> energies;
    EnergyNaming naming;
    if (xafs) {
        QString error;
        energies = parseEnergies(parser.value(energiesOpt), &error);
        if (energies.isEmpty())
            return usage(error);
        naming = EnergyNaming::forEnergies(energies, zbx);
        for (int k = 1; k < energies.size(); ++k) {
            if (naming.text(energies[k]) == naming.text(energies[k - 1]))
                return usage(QStringLiteral("energies %1 and %2 get the same name %3")
                                 .arg(energies[k - 1])
                                 .arg(energies[k])
                                 .arg(naming.text(energies[k])));
        }
    }

    if (parser.isSet(hdf5Opt)) {
        const QString path = QFileInfo(parser.value(hdf5Opt)).absoluteFilePath();
        if (QFileInfo::exists(path) && !parser.isSet(forceOpt))
            return fail(QStringLiteral("%1 exists (use --force to replace it)").arg(path));
        const Phantom phantom = Phantom::head(proj.detector, *muScale, *edge);
        QElapsedTimer timer;
        timer.start();
        QString error;
        if (!proj.writeHdf5(phantom, path, *gzip, &error))
            return fail(error);
        out() << "HDF5 (DXchange): " << proj.projections << " projections of "
              << proj.detector.width << " x " << proj.detector.height << ", centre of rotation "
              << proj.detector.axis() << ", in " << path << ", " << sizeText(path) << Qt::endl;
        out() << "Done in " << timer.elapsed() / 1000.0 << " s" << Qt::endl;
        return 0;
    }

    const QString outDir = QDir(parser.value(outOpt)).absolutePath();
    const QDir dir(outDir);
    if (dir.exists() && !dir.isEmpty() && !parser.isSet(forceOpt))
        return fail(QStringLiteral("the output folder %1 is not empty (use --force to write "
                                   "into it)")
                        .arg(outDir));
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("cannot create the output folder %1").arg(outDir));

    const Phantom phantom = Phantom::head(proj.detector, *muScale, *edge);
    const DetectorGeometry &det = proj.detector;
    out() << "Detector " << det.width << " x " << det.height << " pixels, " << proj.projections
          << " projections over " << proj.rangeDeg << " degrees (step "
          << proj.rangeDeg / proj.projections << " degrees)" << Qt::endl;
    out() << "Rotation axis " << (det.horizontalAxis ? "horizontal" : "vertical")
          << ": detector lines are image " << (det.horizontalAxis ? "columns" : "rows")
          << ", axis at " << (det.horizontalAxis ? "row " : "column ") << det.axis() << " (offset "
          << det.axisOffset << " from the middle); centre of rotation " << det.axis() << Qt::endl;
    out() << "Counts I0 " << proj.i0 << ", BG " << proj.bg << ", noise "
          << (proj.noise ? QStringLiteral("Poisson, seed %1").arg(proj.seed)
                         : QStringLiteral("off"))
          << Qt::endl;

    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!xafs) {
        QStringList files;
        if (!proj.writeProjections(phantom, 0.0, outDir, name, 0, &files, &error))
            return fail(error);
        reportSet(QStringLiteral("Projections"), files);
        const QString i0Path = dir.filePath(QStringLiteral("ref/I0.img"));
        const QString bgPath = dir.filePath(QStringLiteral("ref/BG.img"));
        if (!proj.writeFlat(i0Path, Projector::I0Image, 0, 0.0, &error)
            || !proj.writeFlat(bgPath, Projector::BGImage, 0, 0.0, &error))
            return fail(error);
        out() << "I0: " << i0Path << ", " << sizeText(i0Path) << Qt::endl;
        out() << "BG: " << bgPath << ", " << sizeText(bgPath) << Qt::endl;
    } else {
        out() << "CT-XAFS: " << energies.size() << " energies from " << energies.first() << " to "
              << energies.last() << " eV, edge at " << *edge << " eV, "
              << (zbx ? "\"ZBX Std.\" file sets" : "one sub-folder per energy") << Qt::endl;
        // Sub-folder mode lists every sub-folder as a data set, the file-set mode every
        // matching file: the references go where each listing does not look.
        const QString refDir = zbx ? dir.filePath(QStringLiteral("ref")) : outDir;
        for (int k = 0; k < energies.size(); ++k) {
            const double e = energies[k];
            const QString energyText = naming.text(e);
            QStringList files;
            const QString folder = zbx ? outDir : dir.filePath(energyText);
            const QString prefix = zbx ? name + u'-' + energyText : name;
            if (!proj.writeProjections(phantom, e, folder, prefix, k, &files, &error))
                return fail(error);
            reportSet(QStringLiteral("%1 eV").arg(e), files);
            const QString i0Path = QDir(refDir).filePath(
                QStringLiteral("I0-%1-%2.img").arg(energyText, QStringLiteral("00000")));
            if (!proj.writeFlat(i0Path, Projector::I0Image, k, e, &error))
                return fail(error);
            out() << "I0: " << i0Path << ", " << sizeText(i0Path) << Qt::endl;
        }
        const QString bgPath = QDir(refDir).filePath(QStringLiteral("BG.img"));
        if (!proj.writeFlat(bgPath, Projector::BGImage, 0, 0.0, &error))
            return fail(error);
        out() << "BG: " << bgPath << ", " << sizeText(bgPath) << Qt::endl;
    }
    out() << "Done in " << timer.elapsed() / 1000.0 << " s" << Qt::endl;
    return 0;
}
