// vexa2-recon: reconstructs a slice range of one data set, or of every energy of a CT-XAFS
// series, without a window, with the same sinogram builder, reconstruction workers and
// background saver as the program.
#include "ChunkStream.h"
#include "CorPerEnergy.h"
#include "DataSeries.h"
#include "OptionFile.h"
#include "ResultFiles.h"
#include "RunParams.h"
#include "WorkShare.h"

#include "CorSearch.h"
#include "CtParams.h"
#include "DxchangeFile.h"
#include "Failures.h"
#include "FileNames.h"
#include "FolderLayout.h"
#include "GuardedApp.h"
#include "Hdf5DataSet.h"
#include "I0Correction.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ImgReaders.h"
#include "Memory.h"
#include "ImgDatasLines.h"
#include "ResultSaver.h"
#include "RingRemoval.h"
#include "RowWindow.h"
#include "RunReport.h"
#include "SlicePool.h"
#include "StartUp.h"
#include "StopSignals.h"
#include "VolumeFile.h"
#include "ThetaUnits.h"
#include "ThreadStart.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>
#include <tuple>

namespace {

// Share of the detector line the centre-of-rotation search compares, as the sinogram panel's
// default.
constexpr double CorGuessFraction = 0.35;

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

int fail(const QString &msg)
{
    QTextStream(stderr) << "vexa2-recon: " << msg << Qt::endl;
    return 1;
}

// A command line (or option file) that asks for something impossible: nothing was started.
int usage(const QString &msg)
{
    QTextStream(stderr) << "vexa2-recon: " << msg << Qt::endl;
    return 2;
}

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

std::optional<int> integer(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

// The images a command-line reference stands for: every image of a folder, the pages of a
// stack, or the file, for each name given; averaged when there are several.
QString referenceName(const QStringList &named)
{
    QStringList images;
    for (const QString &n : named)
        images << (QFileInfo(n).isDir() ? ImgReaders::imagesInFolder(n) : ImgReaders::imagesOf(n));
    return ImgReaders::averageName(images);
}

// "ref/I0.img" (or .tif, .tiff) in `folder`, as the sample-data generator and many beamline
// scripts put it; empty when there is none.
QString refImage(const QDir &folder, const QString &base)
{
    for (const char *ext : { ".img", ".tif", ".tiff" }) {
        const QString path = folder.filePath(base + QLatin1String(ext));
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

// How the console names a reference: its file, or "the average of 10 images (flat_00.tif
// ... flat_09.tif)".
QString referenceText(const ImgData *img)
{
    if (!img)
        return {};
    if (!ImgReaders::isAverage(img->fileName))
        return img->fileName;
    const QStringList names = ImgReaders::averagedNames(img->fileName);
    if (names.size() == 1)
        return names.first();
    return QString("the average of %1 images (%2 ... %3)")
        .arg(names.size())
        .arg(names.first(), QFileInfo(names.last()).fileName());
}

// The I0 images a series may take its references from: the named file, every image in the
// named folder, or the images whose names begin with "I0" in the series folder and in its
// "ref" folder (where the data-set listings do not take them for projections).
QStringList seriesI0Files(const QString &named, const QDir &folder, const QStringList &patterns)
{
    if (!named.isEmpty() && !QFileInfo(named).isDir())
        return { named };
    QStringList files;
    const QStringList dirs = !named.isEmpty()
        ? QStringList { named }
        : QStringList { folder.path(), folder.filePath("ref") };
    for (const QString &d : dirs) {
        const QDir dir(d);
        for (const QString &f : dir.entryList(patterns, QDir::Files, QDir::Name)) {
            if (!named.isEmpty() || f.startsWith("I0", Qt::CaseInsensitive))
                files << dir.absoluteFilePath(f);
        }
    }
    return files;
}

// Loads the projections of one set; a series takes a set only when every file loads and has
// the size of the first set, since its slices must match those of the other energies. A stop
// signal (`stopSignal` set by the event loop) ends the loading without a result.
bool loadSet(ImgDatas &imgDatas, const SeriesSet &set, bool series, int width, int height,
    const int &stopSignal)
{
    imgDatas.clear();
    int failed = 0;
    bool memoryChecked = false;
    for (const QString &f : set.files) {
        // A refused file is named in the set's one failure below.
        if (!imgDatas.add(f))
            ++failed;
        QCoreApplication::processEvents();
        if (stopSignal != 0)
            return false;
        // As the window does after the first image: the set is held whole, and a worker
        // holds about 8 N^2 + 32 N P bytes besides.
        // A set read in chunks (a window) was planned within its own budget.
        if (!memoryChecked && imgDatas.count() > 0 && imgDatas.window.whole()) {
            memoryChecked = true;
            const qint64 available = availableMemory();
            const ImgData &first = *imgDatas.at(0);
            const qint64 p = set.files.size();
            const qint64 n = std::max(first.width, first.height);
            const qint64 need = ImgDatas::bytesPerImage(first) * p + 8 * n * n + 40 * n * p;
            if (available >= 0 && need > available) {
                recordFailure(Failures::Memory,
                    QString("The images of %1 need about %2 of memory (%3 images of %4 x %5), but "
                            "only %6 are available; not loaded (--memory LIMIT reconstructs it "
                            "chunk by chunk)")
                        .arg(set.tag.isEmpty() ? QString("the data set") : set.tag)
                        .arg(memoryText(need))
                        .arg(p)
                        .arg(first.width)
                        .arg(first.height)
                        .arg(memoryText(available)));
                imgDatas.clear();
                return false;
            }
        }
    }
    if (imgDatas.count() == 0) {
        recordFailure(Failures::Load,
            "No projection of " + set.tag + " could be loaded (" + imgDatas.refusedText() + ")");
        return false;
    }
    if (!series && failed > 0) {
        // A projection left out would put every later one at a wrong angle.
        recordFailure(Failures::Load, imgDatas.incompleteText() + "; no run started");
        return false;
    }
    if (series && failed > 0) {
        recordFailure(Failures::Load,
            QString("Energy %1 skipped: %2 of its %3 projections could not be loaded (%4)")
                .arg(set.tag)
                .arg(failed)
                .arg(set.files.size())
                .arg(imgDatas.refusedText()));
        return false;
    }
    if (series && (imgDatas.width != width || imgDatas.height != height)) {
        recordFailure(Failures::Load,
            QString("Energy %1 skipped: its images are %2 x %3, those of the first energy %4 x %5")
                .arg(set.tag)
                .arg(imgDatas.width)
                .arg(imgDatas.height)
                .arg(width)
                .arg(height));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // No window, no platform plugin: whatever QT_QPA_PLATFORM says (a desktop user's xcb,
    // exported into a cluster job), a node without a display runs the tool.
    setPrivateRuntimeFolder();
    GuardedApp<QCoreApplication> app(argc, argv);
    QCoreApplication::setApplicationName("vexa2-recon");
    QCoreApplication::setApplicationVersion(VEXA_VERSION);
    // A folder or file named in bytes that are not valid text would be reached under another
    // name: the output written into a folder nobody asked for.
    for (int i = 1; i < argc; ++i) {
        if (!namesRoundTrip(QByteArray(argv[i])))
            return fail("the argument " + escapedName(QByteArray(argv[i]))
                + " is not valid UTF-8; name files and folders in UTF-8");
    }

    // Stopped from outside (Ctrl-C, kill, a batch system's time limit): the slices in
    // progress are finished and written, nothing further is started.
    StopSignals stopSignals;
    int stopSignal = 0;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, [&stopSignal](int sig) {
        if (stopSignal == 0) {
            stopSignal = sig;
            QTextStream(stderr) << "vexa2-recon: stopped by signal " << sig << Qt::endl;
        }
    });

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reconstructs slices of one CT data set, or of every energy of a CT-XAFS series, by\n"
        "filtered back-projection or gridding on several worker threads and writes 32-bit float\n"
        "TIFF slices named [name-]tag-NNNNN.tif (--dat adds CT image data files, --png pictures).\n"
        "\n"
        "One data set: the projections are the files of FOLDER that match the patterns, in name\n"
        "order (a TIFF stack gives one projection per page), or those of FOLDER/tomo (proj,\n"
        "projections) with flats/ (flat, white) and darks/ (dark) beside it. Files named\n"
        "flat*, white*, ref*, I0* are flats, dark*, BG* darks (any case; --flat-names,\n"
        "--dark-names): never projections, averaged into the I0 and BG images. --i0/--bg name\n"
        "them instead (several files or a folder: averaged); otherwise FOLDER/ref/I0 and\n"
        "FOLDER/ref/BG (.img, .tif, .tiff) are used when they exist. The results go to the\n"
        "output folder.\n"
        "\n"
        "A series (detected, or insisted on with --series): FOLDER holds one sub-folder per\n"
        "energy, or \"ZBX Std.\" file sets (<sample>-<energy>-<number>) side by side. Every "
        "energy\n"
        "is reconstructed with the same centre of rotation and slices and with the I0 image\n"
        "nearest to it in energy (--i0 names one file or a folder of I0 files; by default the\n"
        "files beginning \"I0\" in FOLDER and FOLDER/ref); its results go to a folder named\n"
        "after the set, tag the same. --task I/N (or the Slurm array variables) does share I of\n"
        "N of the (energy, slice) work, so that N tasks together write the files of one run.\n"
        "\n"
        "FOLDER may also be an HDF5 file in the DXchange layout (/exchange/data, data_white,\n"
        "data_dark, theta) or an NXtomo entry (data with image_key, rotation_angle; --entry\n"
        "chooses one of several): one data set of its projections, with the averages of its\n"
        "white (flat) and dark images as I0 and BG and the range and origin its angles give\n"
        "(unless --range or --origin). A folder of such files is a series, one per energy.\n"
        "\n"
        "--config FILE reads options from FILE, one per line: the option's name and its value\n"
        "(\"cor 1024.5\", \"method gridding\", \"tiff\", \"folder /data/scan\"), # starts a "
        "comment;\n"
        "options typed on the command line win.\n"
        "\n"
        "Exit status: 0 when everything was written, 1 when anything failed, 2 for a command\n"
        "line that cannot be run, 128 + the signal number when stopped from outside.");
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    parser.addPositionalArgument(
        "folder", "Folder holding the projection images or the series, or a DXchange HDF5 file.");
    const QCommandLineOption patternOpt(
        "pattern", "Name patterns of the projections.", "patterns", "*.img *.tif *.tiff");
    const QCommandLineOption i0Opt("i0",
        "I0 image (incident beam); given several times, or a folder, the average of the images.\n"
        "For a series a folder of I0 images, the one nearest in energy taken for each energy.",
        "file");
    const QCommandLineOption bgOpt("bg",
        "BG image (background); given several times, or a folder, the average of the images.",
        "file");
    const QCommandLineOption flatNamesOpt("flat-names",
        "Name beginnings of flats in a projection folder (any case).", "list",
        FolderLayout::defaultFlatNames().join(','));
    const QCommandLineOption darkNamesOpt("dark-names",
        "Name beginnings of darks in a projection folder (any case).", "list",
        FolderLayout::defaultDarkNames().join(','));
    const QCommandLineOption thetaUnitsOpt("theta-units",
        "Unit of the angles of HDF5 files (rad or deg), over the one the file states. Angles\n"
        "without a unit that span less than 6.3 over 10 or more projections are refused.",
        "unit");
    const QCommandLineOption entryOpt(
        "entry", "The NXtomo entry to take from a file of several (e.g. /entry1).", "path");
    const QCommandLineOption rangeOpt("range",
        "Angular range of the set in degrees (negative: descending angles). Without it, a "
        "DXchange file's angles give it, and camera files are taken as 180 or 360 degrees as "
        "their data show (the console says which; 180 when they cannot tell).",
        "deg", "180");
    const QCommandLineOption originOpt(
        "origin", "Angle of the first image in degrees.", "deg", "0");
    const QCommandLineOption horizOpt(
        "horizontal-axis", "The rotation axis is horizontal (detector lines are image columns).");
    const QCommandLineOption corOpt("cor",
        "Centre of rotation; guessed (on the first energy of a series) when not given.", "pixel");
    const QCommandLineOption corPerEnergyOpt("cor-per-energy",
        "A series: each energy's centre of rotation guessed on its own data, or read from a\n"
        "table of \"energy cor\" lines with --cor-per-energy=TABLE; every energy is then\n"
        "reconstructed on one common grid (same size, the axis at the same pixel).");
    QCommandLineOption corTableOpt("cor-table", "The table of --cor-per-energy=TABLE.", "TABLE");
    corTableOpt.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption guessSliceOpt("guess-slice",
        "Slice on which the centre of rotation is guessed (default: the middle one).", "slice");
    const QCommandLineOption fromOpt("from", "First slice (default 0).", "slice");
    const QCommandLineOption toOpt("to", "Last slice (default the last detector line).", "slice");
    const QCommandLineOption stepOpt("step", "Slice step.", "n", "1");
    const QCommandLineOption threadsOpt("threads",
        "Reconstruction workers (default 80 % of the hardware threads, at least 1).", "n");
    const QCommandLineOption outOpt(
        QStringList { "o", "out" }, "Folder of the results.", "folder", "recon");
    const QCommandLineOption nameOpt("name", "Name part of the file names.", "name");
    const QCommandLineOption tagOpt("tag",
        "Tag part of the file names (default: the data folder's name; a series tags each "
        "energy with its set's name).",
        "tag");
    const QCommandLineOption pngOpt("png", "Also save the result pictures as PNG files.");
    const QCommandLineOption datOpt("dat",
        "Also write CT image data files ([name-]tag-NNNNN.dat: text, limited by --lower and\n"
        "--upper, plus the offset), as the window's automatic saving does.");
    const QCommandLineOption noDataOpt("no-data", "Write no CT image data files (the default).");
    const QCommandLineOption tiffOpt("tiff",
        "Write each slice as a 32-bit float TIFF file ([name-]tag-NNNNN.tif, the values as\n"
        "computed, without limits or offset): the default.");
    const QCommandLineOption noTiffOpt(
        "no-tiff", "Write no float TIFF slices (then --dat or --png must say what to write).");
    const QCommandLineOption tiffZlibOpt("tiff-compress", "Compress the TIFF files (deflate).");
    const QCommandLineOption lowerOpt(
        "lower", "Values below are written as 0 + offset.", "v", "-10");
    const QCommandLineOption upperOpt(
        "upper", "Values above are written as 0 + offset.", "v", "10");
    const QCommandLineOption offsetOpt("offset", "Added to every written value.", "v", "10");
    const QCommandLineOption filterOpt("filter",
        "Filter: ramp_padded (the default: exact values), ramp (the window's default; reads "
        "large objects low), shepp_logan, cosine, hamming, hann (ramp_padded with a window).",
        "name", "ramp_padded");
    const QCommandLineOption methodOpt("method",
        "Reconstruction method: fbp (filtered back-projection, the default) or gridding\n"
        "(direct Fourier method, the same values within a fraction of a per cent, faster).",
        "name", "fbp");
    const QCommandLineOption ringOpt("ring-removal",
        "Ring removal: the widest detector stripe taken out of each sinogram, in pixels,\n"
        "0 (off, the default) to 20; 2 or 3 suits most data.",
        "level", "0");
    const QCommandLineOption seriesOpt(
        "series", "FOLDER is a CT-XAFS series; refuse it when no data set is found in it.");
    const QCommandLineOption taskOpt("task",
        "Do share I of N (0 <= I < N) of the (energy, slice) work. Without it, a Slurm array "
        "task takes SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT.",
        "I/N");
    const QCommandLineOption skipOpt("skip-existing",
        "Skip the slices whose files are already there complete (a resubmitted run).");
    const QCommandLineOption checkOpt("check",
        "Reconstruct nothing: check that every file of the whole run is there complete, print "
        "a summary and exit with status 1 when any is missing.");
    // Every option is also a key of the --config files.
    QList<QCommandLineOption> options;
    const auto addOptions = [&](const QList<QCommandLineOption> &list) {
        parser.addOptions(list);
        options += list;
    };
    addOptions({ patternOpt, i0Opt, bgOpt, rangeOpt, originOpt, horizOpt, corOpt, guessSliceOpt,
        fromOpt, toOpt, stepOpt, threadsOpt, outOpt, nameOpt, tagOpt, pngOpt, datOpt, noDataOpt, lowerOpt,
        upperOpt, offsetOpt, seriesOpt, taskOpt, skipOpt, checkOpt, methodOpt });
    addOptions({ tiffOpt, noTiffOpt, tiffZlibOpt });
    addOptions({ filterOpt, ringOpt });
    const QCommandLineOption volumeOpt("volume",
        "Also write the whole slice range as one volume: HDF5 (NeXus NXdata, .h5/.nxs) or a\n"
        "multi-page 32-bit float BigTIFF (.tif) that ImageJ/Fiji opens as a stack. Made from the\n"
        "float TIFF slices (written for it and kept) once every slice is there: at the end of\n"
        "a run that does the whole range, or by --check.",
        "file");
    const QCommandLineOption tiffStackOpt(
        "tiff-stack", "The same as --volume with a .tif name: one multi-page float TIFF.", "file");
    const QCommandLineOption pixelSizeOpt("pixel-size",
        "Pixel size with its unit, e.g. 0.65um (nm, um, mm, cm); recorded in the TIFF\n"
        "resolution tags and the volume's attributes.",
        "size");
    const QCommandLineOption valuesOpt("values",
        "Scale of the float outputs (TIFF slices, volumes): 2mu (the default: twice the linear\n"
        "attenuation coefficient per pixel length) or mu-per-cm (mu in 1/cm; needs\n"
        "--pixel-size). CT image data files keep the default scale.",
        "scale", "2mu");
    addOptions({ volumeOpt, tiffStackOpt, pixelSizeOpt, valuesOpt });
    addOptions({ corPerEnergyOpt, corTableOpt });
    addOptions({ flatNamesOpt, darkNamesOpt, thetaUnitsOpt, entryOpt });
    const QCommandLineOption memoryOpt("memory",
        "Memory the run may take, e.g. 256M or 8G: the slices are reconstructed chunk by chunk,\n"
        "holding of every projection only the detector lines of the current chunk (the next one\n"
        "read meanwhile). Without it the set is held whole when it fits the memory available.",
        "bytes");
    addOptions({ memoryOpt });
    // The window's "I0 of Raw Image" and "I0 of I0 Image".
    const QCommandLineOption rawI0Opt("raw-i0",
        "I0 of the projections (default 1); the I0 image's counts above BG are scaled by\n"
        "I0 of the projections / I0 of the I0 image.",
        "value", "1");
    const QCommandLineOption rawI0XafsOpt("raw-i0-xafs",
        "Take the I0 of the projections from this XAFS scan file, at the energy that\n"
        "--raw-i0-pattern finds in the first projection's file name (or its folder's).",
        "file");
    const QCommandLineOption rawI0PatternOpt("raw-i0-pattern",
        "Where the energy stands in the projections' names: # one digit, _ the decimal point,\n"
        "other characters themselves (default ####_####).",
        "pattern", "####_####");
    const QCommandLineOption i0I0Opt("i0-i0", "I0 of the I0 image (default 1).", "value", "1");
    const QCommandLineOption i0I0XafsOpt("i0-i0-xafs",
        "Take the I0 of the I0 image from this XAFS scan file, at the energy in its name.", "file");
    const QCommandLineOption i0I0PatternOpt("i0-i0-pattern",
        "Where the energy stands in the I0 image's name (default ####_####).", "pattern",
        "####_####");
    addOptions({ rawI0Opt, rawI0XafsOpt, rawI0PatternOpt, i0I0Opt, i0I0XafsOpt, i0I0PatternOpt });
    const QCommandLineOption writersOpt("writers",
        "Threads that write the result files (default 1, at most 8). More than one can help\n"
        "where every file waits long for the disk (a network file system).",
        "n", "1");
    addOptions({ writersOpt });
    const QCommandLineOption configOpt("config", "Read options from FILE (see above).", "file");
    parser.addOption(configOpt);

    // The options of a --config file come first, so that those typed win.
    QStringList args = QCoreApplication::arguments();
    // "--cor-per-energy=TABLE" names the table; the bare option guesses.
    for (int i = 1; i < args.size(); ++i) {
        if (args[i].startsWith("--cor-per-energy=")) {
            const QString table = args[i].section('=', 1);
            args[i] = "--cor-per-energy";
            args.insert(i + 1, "--cor-table=" + table);
        }
    }
    QString fileFolder;
    {
        QCommandLineParser first;
        first.addOption(configOpt);
        first.addOption(helpOpt);
        first.addOption(versionOpt);
        first.addOptions(options);
        if (first.parse(args) && first.isSet(configOpt)) {
            QStringList fileArgs;
            QString error;
            if (!OptionFile::read(first.value(configOpt), options, &fileArgs, &fileFolder, &error))
                return usage(error);
            args = args.mid(0, 1) + fileArgs + args.mid(1);
        }
    }
    if (!parser.parse(args))
        return usage(parser.errorText() + " (see --help)");
    if (parser.isSet(helpOpt))
        parser.showHelp(0);
    if (parser.isSet(versionOpt))
        parser.showVersion();

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() && !fileFolder.isEmpty())
        positional << fileFolder;
    if (positional.size() != 1)
        return usage("name one folder of projection images (see --help)");
    const QString source = positional.first();
    const bool hdf5 = QFileInfo(source).isFile() && DxchangeFile::isHdf5(source);
    const QDir folder(hdf5 ? QFileInfo(source).absolutePath() : source);
    if (!folder.exists())
        return fail("no such folder: " + folder.path());
    if (!ThetaUnits::validChoice(parser.value(thetaUnitsOpt)))
        return usage("--theta-units takes rad or deg, not " + parser.value(thetaUnitsOpt));
    const QString thetaUnits = parser.value(thetaUnitsOpt);
    const QString nxEntry = parser.value(entryOpt);
    FolderLayout names;
    names.flatNames = parser.value(flatNamesOpt).split(',', Qt::SkipEmptyParts);
    names.darkNames = parser.value(darkNamesOpt).split(',', Qt::SkipEmptyParts);
    const QStringList patterns = parser.value(patternOpt).split(' ', Qt::SkipEmptyParts);

    // Data sets. An HDF5 file is one; a folder may be one or a series.
    QString error;
    DataSeries series;
    Hdf5DataSet hdf5Set;
    if (hdf5) {
        if (!hdf5Set.open(source, nxEntry, thetaUnits, &error))
            return fail(error);
        SeriesSet set { QString(), 0.0, hdf5Set.projections(), {}, {} };
        if (!hdf5Set.flat().isEmpty())
            set.flats << hdf5Set.flat();
        if (!hdf5Set.dark().isEmpty())
            set.darks << hdf5Set.dark();
        series.sets << set;
        out() << hdf5Set.layout << " file " << source << ": " << hdf5Set.info.projections
              << " projections, " << hdf5Set.info.whites << " flats (averaged into I0), "
              << hdf5Set.info.darks << " darks (averaged into BG)" << Qt::endl;
    } else {
        series = DataSeries::find(
            folder.path(), patterns, parser.isSet(seriesOpt), &error, names, thetaUnits, nxEntry);
        // One HDF5 file per energy: the angles of the first stand for all.
        if (series.layout == DataSeries::Hdf5Files
            && !hdf5Set.open(
                series.sets.first().files.first().section('#', 0, 0), nxEntry, thetaUnits, &error))
            return fail(error);
    }
    if (series.sets.isEmpty())
        return fail(error);
    const DxchangeFile::Info &hdf5Info = hdf5Set.info;
    bool thetaGiven = false, thetaEven = true;
    double thetaOrigin = 0, thetaRange = 180;
    if (!hdf5Set.base.isEmpty()
        && !DxchangeFile::angleRange(
            hdf5Set.file, hdf5Info, thetaGiven, thetaOrigin, thetaRange, &error, &thetaEven))
        return fail(error);
    CtMethod method = CtMethod::Fbp;
    if (!CtMethods::fromName(parser.value(methodOpt), &method))
        return usage(
            "the method must be " + CtMethods::choiceText() + ", not " + parser.value(methodOpt));
    if (!thetaEven) {
        const auto [lo, hi] = std::minmax_element(hdf5Info.theta.begin(), hdf5Info.theta.end());
        out() << "The angles of " << source << " are not evenly spread or not in order (" << *lo
              << " ... " << *hi << " degrees): each projection is reconstructed at its own "
              << "angle, weighted by the angle it stands for" << Qt::endl;
    }

    auto range = number(parser.value(rangeOpt));
    auto origin = number(parser.value(originOpt));
    if (thetaGiven && !parser.isSet(rangeOpt) && !parser.isSet(originOpt)) {
        range = thetaRange;
        origin = thetaOrigin;
    }
    const auto step = integer(parser.value(stepOpt));
    const auto lower = number(parser.value(lowerOpt));
    const auto upper = number(parser.value(upperOpt));
    const auto offset = number(parser.value(offsetOpt));
    // A negative range is a set taken in the other direction (descending angles), as the
    // window takes it.
    if (!range || *range == 0 || !std::isfinite(*range) || !origin)
        return usage("the range must be a number of degrees other than 0 and the origin a number");
    if (!step || *step == 0)
        return usage("the slice step must be a whole number other than 0");
    if (!lower || !upper || !offset)
        return usage("the value limits and the offset must be numbers");
    CtFilterKind filter = CtFilterKind::RampPadded;
    if (!CtFilter::fromName(parser.value(filterOpt), &filter))
        return usage("unknown filter " + parser.value(filterOpt)
            + " (known: " + CtFilter::names().join(' ') + ")");
    I0Correction i0OfRaw, i0OfI0;
    for (auto [side, valueOpt, xafsOpt, patternOpt] :
        { std::tuple { &i0OfRaw, &rawI0Opt, &rawI0XafsOpt, &rawI0PatternOpt },
            std::tuple { &i0OfI0, &i0I0Opt, &i0I0XafsOpt, &i0I0PatternOpt } }) {
        const auto v = number(parser.value(*valueOpt));
        if (!v)
            return usage("--" + valueOpt->names().first() + " takes a number");
        side->value = *v;
        side->pattern = parser.value(*patternOpt);
        side->fromXafs = parser.isSet(*xafsOpt);
        if (side->fromXafs && !side->table.readXafs(parser.value(*xafsOpt)))
            return fail("cannot read the XAFS scan file " + parser.value(*xafsOpt));
        if (side->fromXafs && side->table.count() == 0)
            return fail("no I0 points in the XAFS scan file " + parser.value(*xafsOpt));
    }
    std::optional<qint64> memoryLimit;
    if (parser.isSet(memoryOpt)) {
        memoryLimit = ChunkStream::parseBytes(parser.value(memoryOpt));
        if (!memoryLimit)
            return usage("--memory takes a size in bytes with K, M or G, e.g. 256M, not "
                + parser.value(memoryOpt));
    }
    const auto writers = integer(parser.value(writersOpt));
    if (!writers || *writers < 1 || *writers > 8)
        return usage("the number of writers must be a whole number from 1 to 8");
    const auto ringLevel = integer(parser.value(ringOpt));
    if (!ringLevel || *ringLevel < 0 || *ringLevel > RingRemoval::maxLevel)
        return usage(QString("the ring removal level must be a whole number from 0 to %1")
                         .arg(RingRemoval::maxLevel));

    // One volume file, the pixel size and the scale of the float outputs.
    QString volumePath;
    VolumeFile::Format volumeFormat = VolumeFile::Format::Hdf5;
    if (parser.isSet(volumeOpt) && parser.isSet(tiffStackOpt))
        return usage("give --volume or --tiff-stack, not both");
    if (parser.isSet(volumeOpt) || parser.isSet(tiffStackOpt)) {
        volumePath = QFileInfo(parser.value(parser.isSet(volumeOpt) ? volumeOpt : tiffStackOpt))
                         .absoluteFilePath();
        if (!VolumeFile::formatOf(volumePath, &volumeFormat)
            || (parser.isSet(tiffStackOpt) && volumeFormat != VolumeFile::Format::TiffStack))
            return usage("the volume file must end in .h5, .hdf5, .nxs (HDF5) or .tif, .tiff "
                        "(TIFF stack): "
                + volumePath);
    }
    double pixelSize = 0;
    QString pixelUnit;
    if (parser.isSet(pixelSizeOpt)) {
        static const QRegularExpression sizeRx(
            QStringLiteral("^\\s*([0-9.eE+-]+)\\s*([a-zA-Z\u00b5\u03bc]+)\\s*$"));
        const auto m = sizeRx.match(parser.value(pixelSizeOpt));
        bool ok = m.hasMatch();
        if (ok) {
            pixelSize = m.captured(1).toDouble(&ok);
            pixelUnit = m.captured(2) == "micron" ? QString("um") : m.captured(2);
        }
        if (!ok || !(pixelSize > 0) || VolumeFile::centimetres(pixelUnit) == 0)
            return usage("the pixel size takes a positive number and a unit (nm, um, mm, cm), "
                        "e.g. 0.65um, not "
                + parser.value(pixelSizeOpt));
    }
    double floatScale = 1.0;
    QString floatUnit;
    if (parser.value(valuesOpt) == "mu-per-cm") {
        if (pixelSize <= 0)
            return usage("--values mu-per-cm needs --pixel-size");
        // The values are 2 mu per pixel length.
        floatScale = 1.0 / (2.0 * pixelSize * VolumeFile::centimetres(pixelUnit));
        floatUnit = QStringLiteral("1/cm (linear attenuation coefficient)");
    } else if (parser.value(valuesOpt) != "2mu") {
        return usage("--values takes 2mu or mu-per-cm, not " + parser.value(valuesOpt));
    }

    WorkShare share;
    if (parser.isSet(taskOpt)) {
        const auto s = WorkShare::parse(parser.value(taskOpt));
        if (!s)
            return usage("--task takes I/N with 0 <= I < N, e.g. 3/8");
        share = *s;
    } else if (!parser.isSet(checkOpt)) {
        bool fromSlurm = false;
        QString error;
        const auto s
            = WorkShare::fromSlurm(QProcessEnvironment::systemEnvironment(), &fromSlurm, &error);
        if (fromSlurm && !s)
            return fail(error);
        if (s)
            share = *s;
    }

    if (!series.setText.isEmpty())
        out() << series.setText << Qt::endl;
    for (const QString &skipped : std::as_const(series.skipped))
        out() << "Not an energy: " << skipped << Qt::endl;
    if (series.isSeries() && !volumePath.isEmpty())
        return usage("--volume applies to one data set; a series makes one spectral stack of "
                     "its energies with vexa2-spectra stack");
    if (series.isSeries() && parser.isSet(tagOpt))
        return usage("--tag does not apply to a series: each energy is tagged with its set's name");
    if (!series.isSeries())
        series.sets[0].tag = parser.isSet(tagOpt) ? parser.value(tagOpt)
            : hdf5                                ? QFileInfo(source).completeBaseName()
                                                  : folder.dirName();
    const bool isSeries = series.isSeries();

    // The first set's first image gives the geometry every set must share.
    ImgDatas imgDatas;
    int probeWidth = 0, probeHeight = 0, probePixelBytes = 0;
    {
        // Through a set, so that files refused for one reason are said once.
        ImgDatas probe;
        for (const QString &f : series.sets.first().files) {
            if (probe.add(f))
                break;
        }
        if (probe.count() == 0)
            return fail("no projection image could be loaded from "
                + (isSeries    ? series.sets.first().tag
                        : hdf5 ? source
                               : folder.path())
                + " (" + probe.refusedText() + ")");
        probeWidth = probe.width;
        probeHeight = probe.height;
        probePixelBytes = ImgDatas::bytesPerPixel(*probe.at(0));
    }
    if (isSeries) {
        out() << "Series of " << series.sets.size()
              << (series.sets.size() == 1 ? " energy" : " energies") << " (" << series.layoutText()
              << ") in " << folder.path() << ": " << series.sets.first().tag;
        if (series.sets.size() > 1)
            out() << " ... " << series.sets.last().tag;
        out() << Qt::endl;
    }

    const bool rotAxIsV = !parser.isSet(horizOpt);
    const int lineLength = rotAxIsV ? probeWidth : probeHeight;
    const int lineCount = rotAxIsV ? probeHeight : probeWidth;

    const int from = parser.isSet(fromOpt) ? integer(parser.value(fromOpt)).value_or(-1) : 0;
    const int to = parser.isSet(toOpt) ? integer(parser.value(toOpt)).value_or(-1) : lineCount - 1;
    if (from < 0 || from >= lineCount || to < 0 || to >= lineCount)
        return usage(QString("slices must lie in 0 ... %1").arg(lineCount - 1));
    QList<int> slices;
    const int signedStep = std::abs(*step) * (to < from ? -1 : 1);
    for (int s = from; signedStep > 0 ? s <= to : s >= to; s += signedStep)
        slices << s;

    const QString outDir = QDir(parser.value(outOpt)).absolutePath();
    ResultFiles results;
    results.outDir = outDir;
    results.name = parser.value(nameOpt);
    results.perEnergyFolders = isSeries;
    // Float TIFF slices by default, the values as computed; data files on asking.
    if (parser.isSet(datOpt) && parser.isSet(noDataOpt))
        return usage("--dat and --no-data contradict each other");
    if (parser.isSet(noTiffOpt) && (parser.isSet(tiffOpt) || parser.isSet(tiffZlibOpt)))
        return usage("--no-tiff contradicts --tiff and --tiff-compress");
    results.data = parser.isSet(datOpt);
    results.pictures = parser.isSet(pngOpt);
    results.tiff = !parser.isSet(noTiffOpt);
    // A volume is made of the float TIFF slices.
    if (!results.tiff && !volumePath.isEmpty())
        return usage("a volume is made of the float TIFF slices: drop --no-tiff");
    if (!results.tiff && !results.data && !results.pictures)
        return usage("--no-tiff leaves nothing to write: add --dat or --png");
    double volumeCor = 0; // known once the run has its centre of rotation
    // The volume of the whole slice range, from its TIFF slices.
    const auto makeVolume = [&]() {
        ResultFiles tiffs = results;
        tiffs.data = tiffs.pictures = false;
        tiffs.tiff = true;
        QStringList files;
        for (int slice : std::as_const(slices))
            files << tiffs.of(series.sets.first().tag, slice);
        VolumeFile::Info info;
        info.firstSlice = slices.first();
        info.sliceStep = signedStep;
        info.pixelSize = pixelSize;
        info.pixelUnit = pixelUnit;
        info.valueUnit = floatUnit.isEmpty() ? QStringLiteral("2 mu per pixel") : floatUnit;
        info.method = parser.value(methodOpt);
        info.filter = parser.value(filterOpt);
        info.cor = volumeCor;
        QString why;
        if (!VolumeFile::fromTiffSlices(files, volumePath, volumeFormat, info, &why)) {
            recordFailure(Failures::FileWrite, why);
            return false;
        }
        out() << "Volume of " << files.size() << " slices written to " << volumePath << Qt::endl;
        return true;
    };

    // The (set, slice) items, energy by energy: all of them for a check, this task's share
    // otherwise, less those already written when asked.
    const qint64 totalItems = qint64(series.sets.size()) * slices.size();
    const qint64 firstItem = parser.isSet(checkOpt) ? 0 : share.begin(totalItems);
    const qint64 endItem = parser.isSet(checkOpt) ? totalItems : share.end(totalItems);
    QList<QList<int>> work(series.sets.size());
    int skipped = 0, missing = 0, files = 0;
    for (qint64 item = firstItem; item < endItem; ++item) {
        const int k = int(item / slices.size());
        const int slice = slices.at(int(item % slices.size()));
        if (parser.isSet(checkOpt) || parser.isSet(skipOpt)) {
            bool whole = true;
            for (const QString &f : results.of(series.sets.at(k).tag, slice)) {
                ++files;
                if (!ResultFiles::complete(f)) {
                    whole = false;
                    if (parser.isSet(checkOpt) && ++missing <= 20)
                        out() << "Missing: " << f << Qt::endl;
                }
            }
            if (whole) {
                ++skipped;
                continue;
            }
        }
        work[k] << slice;
    }
    if (parser.isSet(checkOpt)) {
        out() << "Energies: " << series.sets.size() << ", slices per energy: " << slices.size()
              << ", files expected: " << files << ", present: " << files - missing
              << ", missing: " << missing << Qt::endl;
        if (missing == 0 && !volumePath.isEmpty() && !makeVolume())
            return fail(Failures::instance().last());
        return missing > 0 ? 1 : 0;
    }
    if (share.count > 1)
        out() << "Task " << share.index << " of " << share.count << ": items " << firstItem
              << " ... " << endItem - 1 << " of " << totalItems << " (energy, slice) items"
              << Qt::endl;
    if (skipped > 0)
        out() << "Skipped " << skipped << " slices written before" << Qt::endl;
    if (std::all_of(work.cbegin(), work.cend(), [](const QList<int> &w) { return w.isEmpty(); })) {
        out() << "Nothing to reconstruct" << Qt::endl;
        if (!volumePath.isEmpty() && share.count <= 1 && !makeVolume())
            return fail(Failures::instance().last());
        return 0;
    }

    // References of each set: the images named on the command line; else the set's own flats
    // and darks (found by name, in flats/ and darks/, or those of its HDF5 file), averaged;
    // else, for a series, the I0 image nearest in energy; else ref/I0 and ref/BG.
    const QStringList namedI0 = parser.values(i0Opt);
    const QStringList namedBg = parser.values(bgOpt);
    QStringList i0Files;
    if (isSeries && namedI0.size() <= 1)
        i0Files = seriesI0Files(namedI0.value(0), folder, patterns);
    const QString fallbackI0 = hdf5 ? QString() : refImage(folder, "ref/I0");
    QString fallbackBg = hdf5 ? QString() : refImage(folder, "ref/BG");
    if (fallbackBg.isEmpty() && isSeries)
        fallbackBg = refImage(folder, "BG");
    std::unique_ptr<ImgData> i0, bg;
    // The set reads the references through these; they change only between sets, while no
    // worker runs.
    ImgData *i0Ptr = nullptr;
    ImgData *bgPtr = nullptr;
    imgDatas.i0 = &i0Ptr;
    imgDatas.bg = &bgPtr;
    // Loads the references of `set` unless they are loaded already; false with the reason in
    // `why`.
    const auto useReferencesOf = [&](const SeriesSet &set, QString *why) {
        QString i0Name, bgName;
        if (!namedI0.isEmpty())
            i0Name = isSeries && namedI0.size() == 1 ? nearestInEnergy(i0Files, set.energyEv)
                                                     : referenceName(namedI0);
        else if (!set.flats.isEmpty())
            i0Name = ImgReaders::averageName(set.flats);
        else
            i0Name = isSeries ? nearestInEnergy(i0Files, set.energyEv) : fallbackI0;
        bgName = !namedBg.isEmpty() ? referenceName(namedBg)
            : !set.darks.isEmpty()  ? ImgReaders::averageName(set.darks)
                                    : fallbackBg;
        for (const auto &[name, which] :
            { std::pair { i0Name, "I0" }, std::pair { bgName, "BG" } }) {
            // An image that is both a projection and a reference would be divided by itself.
            for (const QString &n : ImgReaders::averagedNames(name)) {
                const QString clean = QDir::cleanPath(QFileInfo(n).absoluteFilePath());
                for (const QString &f : set.files) {
                    if (QDir::cleanPath(QFileInfo(f).absoluteFilePath()) == clean) {
                        *why = QString("the %1 image %2 is also one of the projections; name "
                                       "another, or narrow the projections with --pattern")
                                   .arg(which, n);
                        return false;
                    }
                }
            }
        }
        for (auto [name, img, ptr, which] : { std::tuple { i0Name, &i0, &i0Ptr, "I0" },
                 std::tuple { bgName, &bg, &bgPtr, "BG" } }) {
            if (name.isEmpty()) {
                img->reset();
            } else if (!*img || (*img)->fileName != name) {
                QString reason;
                *img = ImgReaders::load(name, &reason);
                if (!*img) {
                    *why = QString("the %1 image %2 could not be loaded (%3)")
                               .arg(which, name, reason);
                    *ptr = nullptr;
                    return false;
                }
            }
            *ptr = img->get();
        }
        return true;
    };
    if (!isSeries) {
        QString why;
        if (!useReferencesOf(series.sets.first(), &why))
            return fail(why);
    }
    const auto referencesLine = [&] {
        return QString("I0: %1, BG: %2")
            .arg(i0 ? referenceText(i0.get()) : QString("none, 1.0"),
                bg ? referenceText(bg.get()) : QString("none, 0.0"));
    };

    // The run's settings, kept and handed to the workers as the window keeps them.
    RunParams run;
    run.method = method;
    run.filter = filter;
    run.ringRemoval = *ringLevel;
    run.rotAxIsV = rotAxIsV;
    run.setRangeDeg(*range);
    run.setOriginDeg(*origin);
    run.sliceFrom = from;
    run.sliceTo = to;
    run.sliceStep = signedStep;

    int loadedSet = -1;
    const auto load = [&](int k) {
        const SeriesSet &set = series.sets.at(k);
        loadedSet = -1;
        // The files refused on the way, for the load line.
        QStringList refused;
        const auto noteRefusal = QObject::connect(&Failures::instance(), &Failures::recorded, &app,
            [&refused](int kind, const QString &message) {
                if (kind == Failures::Load)
                    refused << message;
            });
        const bool loaded = loadSet(imgDatas, set, isSeries, probeWidth, probeHeight, stopSignal);
        QObject::disconnect(noteRefusal);
        if (!loaded)
            return false;
        QString why;
        if (!useReferencesOf(set, &why)) {
            recordFailure(Failures::Load,
                (isSeries ? QString("Energy %1 skipped: ").arg(set.tag) : QString()) + why);
            return false;
        }
        // As in the window: an I0 or BG image of another size than the projections is not
        // used, and that is a failure of the run.
        for (const auto &[reader, which] :
            { std::pair { i0Ptr, QString("I0") }, std::pair { bgPtr, QString("BG") } }) {
            const QString text = reader ? imgDatas.sizeMismatchText(reader, which) : QString();
            if (!text.isEmpty())
                recordFailure(Failures::Load, text);
        }
        // The I0 image follows the beam of this set's projections, as in the window.
        imgDatas.i0Scale = I0Correction::scale(
            i0OfRaw.i0For(imgDatas.at(0) ? imgDatas.at(0)->fileName : QString()),
            i0OfI0.i0For(i0 ? i0->fileName : QString()));
        loadedSet = k;
        run.images = imgDatas.count();
        out() << RunReport::loadLine(imgDatas.count(), imgDatas.width, imgDatas.height,
            isSeries   ? QString("energy %1").arg(set.tag)
                : hdf5 ? source
                       : folder.path(),
            refused)
              << Qt::endl;
        out() << referencesLine() << Qt::endl;
        if (imgDatas.i0Scale != 1.0)
            out() << "I0 image scaled by " << QString::number(imgDatas.i0Scale, 'g', 10)
                  << Qt::endl;
        return true;
    };

    const int guessSlice = parser.isSet(guessSliceOpt)
        ? integer(parser.value(guessSliceOpt)).value_or(-1)
        : lineCount / 2;
    if (guessSlice < 0 || guessSlice >= lineCount)
        return usage(QString("the slice must lie in 0 ... %1").arg(lineCount - 1));
    run.slice = guessSlice;
    // Streamed: the range and the centre are found on the guess slice's lines alone.
    if (memoryLimit)
        imgDatas.window = ChunkStream::window(rotAxIsV, guessSlice, guessSlice);
    if (!parser.isSet(rangeOpt) && !thetaGiven) {
        // Camera files say nothing of their range: the data tell 180 from 360 degrees.
        if (!load(0) && stopSignal != 0)
            return exitStatus(stopSignal, -1, Failures::instance().count());
        // A single set that cannot be loaded ends the run here, said once; a series goes on
        // with its other energies.
        if (loadedSet != 0 && !isSeries)
            return fail(Failures::instance().last());
        double s180 = 0, s360 = 0;
        const double deg = loadedSet == 0 ? guessRangeOnLines(ImgDatasLines(imgDatas, rotAxIsV),
                               guessSlice, CorGuessFraction, &s180, &s360)
                                          : 0.0;
        if (deg > 0) {
            run.setRangeDeg(deg);
            out() << "Range " << deg << " degrees, decided from the data on slice " << guessSlice
                  << (deg == 360 ? ": the projection half the set after the first mirrors it"
                                 : ": the last projection nearly mirrors the first")
                  << QString(" (mirror scores %1 over 180, %2 over 360; --range overrules)")
                         .arg(s180, 0, 'f', 4)
                         .arg(s360, 0, 'f', 4)
                  << Qt::endl;
        } else {
            out() << "Range " << run.rangeDeg()
                  << " degrees: the data cannot tell 180 from 360"
                  << (s180 > 0 || s360 > 0
                             ? QString(" (mirror scores %1 over 180, %2 over 360, too close)")
                                   .arg(s180, 0, 'f', 4)
                                   .arg(s360, 0, 'f', 4)
                             : QString())
                  << " (--range sets it)" << Qt::endl;
        }
    }
    const bool corPerEnergy = parser.isSet(corPerEnergyOpt) || parser.isSet(corTableOpt);
    QList<double> cors; // per set, with a centre per energy
    CorPerEnergy::Grid grid;
    if (corPerEnergy && parser.isSet(corOpt))
        return usage("--cor gives one centre for all energies; --cor-per-energy one for each");
    if (corPerEnergy && !isSeries)
        return usage("--cor-per-energy needs a series");
    if (corPerEnergy && parser.isSet(corTableOpt)) {
        cors = CorPerEnergy::fromTable(parser.value(corTableOpt), series.sets, &error);
        if (cors.isEmpty())
            return fail(error);
        for (int k = 0; k < series.sets.size(); ++k)
            out() << "Centre of rotation of energy " << series.sets[k].tag << ": " << cors[k]
                  << " (from " << parser.value(corTableOpt) << ")" << Qt::endl;
    } else if (corPerEnergy) {
        // Guessed on every energy before any is reconstructed, since the common grid depends
        // on all of them; the last one guessed is the first reconstructed, so it stays loaded.
        cors = QList<double>(series.sets.size(), 0.0);
        for (int k = int(series.sets.size()) - 1; k >= 0; --k) {
            if (!load(k) && stopSignal != 0)
                return exitStatus(stopSignal, -1, Failures::instance().count());
            if (loadedSet != k)
                return fail("the centre of rotation of energy " + series.sets[k].tag
                    + " cannot be guessed: " + Failures::instance().last());
            run.cor = lineLength / 2.0;
            run.guessCor(imgDatas, CorGuessFraction);
            cors[k] = run.cor;
            out() << "Centre of rotation of energy " << series.sets[k].tag << ": " << cors[k]
                  << " (guessed on slice " << guessSlice << ")" << Qt::endl;
        }
    }
    if (corPerEnergy) {
        for (int k = 0; k < cors.size(); ++k) {
            if (!(cors[k] >= 1 && cors[k] < lineLength - 1))
                return fail(QString("the centre of rotation %1 of energy %2 lies outside 1 ... %3")
                                .arg(cors[k])
                                .arg(series.sets[k].tag)
                                .arg(lineLength - 2));
        }
        grid = CorPerEnergy::commonGrid(rotAxIsV, lineLength, cors);
        if (grid.size < 2)
            return fail("the centres of rotation leave no common grid");
        run.cor = cors.first();
        out() << "Common grid of the energies: " << grid.size << " x " << grid.size
              << " pixels, rotation axis at pixel " << grid.size / 2 << Qt::endl;
    } else if (parser.isSet(corOpt)) {
        const auto cor = number(parser.value(corOpt));
        if (!cor || *cor < 1 || *cor >= lineLength - 1)
            return usage(
                QString("the centre of rotation must lie in 1 ... %1").arg(lineLength - 2));
        run.cor = *cor;
        out() << "Centre of rotation " << run.cor << Qt::endl;
    } else {
        // Every task of a series guesses on the same set, so all of them find the same centre.
        if (loadedSet != 0 && !load(0) && stopSignal != 0)
            return exitStatus(stopSignal, -1, Failures::instance().count());
        if (loadedSet != 0)
            return fail("the centre of rotation cannot be guessed: " + Failures::instance().last());
        run.cor = lineLength / 2.0;
        run.guessCor(imgDatas, CorGuessFraction);
        out() << "Centre of rotation " << run.cor << " (guessed on slice " << guessSlice
              << (isSeries ? " of energy " + series.sets.first().tag : QString()) << ")"
              << Qt::endl;
    }

    volumeCor = run.cor;
    const int hardware = std::max(1u, std::thread::hardware_concurrency());
    int threads = std::max(1, int(0.8 * hardware));
    if (parser.isSet(threadsOpt)) {
        const auto t = integer(parser.value(threadsOpt));
        if (!t || *t < 1)
            return usage("the number of workers must be 1 or more");
        threads = *t;
    }

    int linesPerChunk = 0;
    if (memoryLimit) {
        // The largest set of the run, by its first image.
        qsizetype projections = 0;
        for (const SeriesSet &set : std::as_const(series.sets))
            projections = std::max(projections, set.files.size());
        const ChunkStream::Budget budget = ChunkStream::budget(*memoryLimit, int(projections),
            probeWidth, probeHeight, rotAxIsV, probePixelBytes, threads);
        linesPerChunk = budget.linesPerChunk();
        if (linesPerChunk < 1)
            return usage(QString("--memory %1 cannot hold one slice of %2 projections of %3 x "
                                 "%4 on %5 %6; at least %7 (%8 bytes) is needed")
                             .arg(parser.value(memoryOpt))
                             .arg(projections)
                             .arg(probeWidth)
                             .arg(probeHeight)
                             .arg(threads)
                             .arg(threads == 1 ? "worker" : "workers")
                             .arg(memoryText(budget.least()))
                             .arg(budget.least()));
    }

    CtParams ctParams;
    if (!QDir().mkpath(outDir))
        return fail("cannot make the folder " + outDir);

    ResultSaver saver;
    // A series is filed as the window's automatic saving files it with "of Energy".
    saver.inSubFolders = isSeries;
    saver.ofEnergy = isSeries;
    saver.ofSlice = false;
    if (!saver.start(*writers))
        return fail(Failures::instance().last());

    // A worker that the system refuses a thread is not made; the run goes on with those that
    // run, and cannot start without any.
    SlicePool pool(&saver);
    const int started = pool.start(threads);
    if (started == 0) {
        saver.finish();
        return fail(Failures::instance().last());
    }
    if (started < threads) {
        out() << "Going on with " << started << " of " << threads << " workers" << Qt::endl;
        threads = started;
    }
    run.threads = threads;
    // A worker waits when the saver is two slices per worker behind, so memory stays bounded
    // however slow the disk.
    const int filesPerSlice
        = std::max(1, int(results.data) + int(results.pictures) + int(results.tiff));
    saver.setQueueLimit(2 * threads * filesPerSlice);
    RowWindow window = makeRowWindow(rotAxIsV, lineLength, run.cor);

    const int planned = std::accumulate(work.cbegin(), work.cend(), 0,
        [](int sum, const QList<int> &w) { return sum + int(w.size()); });
    RunReport runReport;
    bool runBegun = false;
    int done = 0;
    // Stopped from outside: the slices in progress are finished, no further one is started.
    QObject::connect(
        &stopSignals, &StopSignals::stopRequested, &pool, [&pool](int) { pool.stop(); });
    for (int k = 0; k < series.sets.size() && stopSignal == 0; ++k) {
        if (work.at(k).isEmpty())
            continue;
        const SeriesSet &set = series.sets.at(k);
        if (loadedSet != k && !load(k))
            continue;
        // Every worker is idle here: the parameter block, the sizes and the save targets
        // change only between sets.
        SliceRunSetup setup;
        if (corPerEnergy) {
            // This energy's centre, and the part of its grid that is the common one.
            run.cor = cors[k];
            window = makeRowWindow(rotAxIsV, lineLength, cors[k]);
            const double o = grid.offset[k];
            setup.regionSet = true;
            setup.x0 = setup.z0 = o;
            setup.x1 = setup.z1 = o + grid.size;
        }
        ctParams = CtParams {};
        run.fill(ctParams);
        if (!thetaEven)
            ctParams.imageAnglesDeg = hdf5Info.theta;
        ctParams.lowerLimit = *lower;
        ctParams.upperLimit = *upper;
        ctParams.dataOffset = *offset;
        ctParams.floatScale = floatScale;
        ctParams.floatUnit = floatUnit;
        setup.images = &imgDatas;
        setup.params = &ctParams;
        setup.rotAxIsV = rotAxIsV;
        setup.cor = run.cor;
        setup.engineN = window.n / 2 * 2;
        setup.engineProjections = imgDatas.count();
        setup.path = outDir;
        setup.name = results.name;
        setup.tag = set.tag;
        setup.data = results.data;
        setup.pictures = results.pictures;
        setup.tiff = results.tiff;
        setup.tiffZlib = parser.isSet(tiffZlibOpt);
        const QList<int> &todo = work.at(k);
        out() << "Reconstructing " << todo.size() << (todo.size() == 1 ? " slice" : " slices")
              << " (" << todo.first()
              << (todo.size() > 1 ? QString(" ... %1").arg(todo.last()) : QString()) << ")"
              << (isSeries ? " of energy " + set.tag : QString()) << " on " << threads
              << (threads == 1 ? " worker" : " workers") << " into "
              << (isSeries ? QDir(outDir).filePath(set.tag) : outDir) << Qt::endl;
        // The slices of the set, or of one chunk of it.
        const auto reconstruct = [&](const QList<int> &slices) {
            QEventLoop loop;
            const auto quit = QObject::connect(
                &pool, &SlicePool::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
            const auto progress = QObject::connect(
                &pool, &SlicePool::progressed, &loop,
                [&runReport, &done](int doneHere) {
                    const QString line = runReport.progress(done + doneHere);
                    if (!line.isEmpty())
                        out() << line << Qt::endl;
                },
                Qt::QueuedConnection);
            if (!runBegun) {
                // The clock starts with the first slice, so the rate is that of the workers.
                runBegun = true;
                out() << RunReport::startLine(
                    from, to, signedStep, threads, CtMethods::info(method).runText)
                      << Qt::endl;
                runReport.begin(planned);
            }
            if (stopSignal != 0)
                pool.stop();
            pool.run(setup, slices);
            loop.exec();
            QObject::disconnect(quit);
            QObject::disconnect(progress);
            done += pool.slicesDone();
        };
        if (!memoryLimit) {
            reconstruct(todo);
        } else {
            const QList<QList<int>> chunks = ChunkStream::chunks(todo, linesPerChunk);
            out() << ChunkStream::planText(chunks, *memoryLimit) << Qt::endl;
            ChunkStream::run(imgDatas, set.files, rotAxIsV, chunks, reconstruct,
                [&stopSignal] { return stopSignal != 0; });
        }
    }

    // The slices in progress are finished, then every file queued is written.
    pool.shutDown();
    saver.finish();
    const qint64 written = saver.written();
    if (stopSignal != 0 && done < planned)
        recordFailure(Failures::RunStopped,
            QString("The reconstruction was stopped before its end: %1 of %2 slices done")
                .arg(done)
                .arg(planned));
    if (!runBegun)
        runReport.begin(planned); // no set could be reconstructed
    out() << runReport.endLine(done, written) << Qt::endl;
    // The volume needs every slice: a share of the work leaves it to a --check run.
    if (!volumePath.isEmpty() && stopSignal == 0 && Failures::instance().count() == 0) {
        if (share.count > 1)
            out() << "The volume is made by a run with --check once every task has ended"
                  << Qt::endl;
        else
            makeVolume();
    }
    const int failures = Failures::instance().count();
    if (failures > 0)
        out() << "Failures: " << failures << " (last: " << Failures::instance().last() << ")"
              << Qt::endl;
    return exitStatus(stopSignal, -1, failures);
}
