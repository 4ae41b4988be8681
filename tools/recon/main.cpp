// vexa2-recon: reconstructs a slice range of one data set, or of every energy of a CT-XAFS
// series, without a window, with the same sinogram builder, reconstruction workers and
// background saver as the program.
#include "DataSeries.h"
#include "ResultFiles.h"
#include "SliceDispatcher.h"
#include "WorkShare.h"

#include "CorSearch.h"
#include "CtCalc2.h"
#include "CtCalc2Ui.h"
#include "CtParams.h"
#include "DataSaver.h"
#include "DxchangeFile.h"
#include "Failures.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ImgDatasLines.h"
#include "ProcCtrl.h"
#include "RingRemoval.h"
#include "RowWindow.h"
#include "RunReport.h"
#include "Sinogram.h"
#include "StartUp.h"
#include "StopSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QProcessEnvironment>
#include <QRadioButton>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

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

// An I0 or BG image: the one named, or the one the sample-data generator puts in "ref/".
std::unique_ptr<ImgData> loadReference(
    const QString &named, const QString &fallback, bool &ok, bool fallbackIsImage = false)
{
    ok = true;
    const QString path = !named.isEmpty()
        ? named
        : (fallbackIsImage || QFileInfo::exists(fallback) ? fallback : QString());
    if (path.isEmpty())
        return nullptr;
    std::unique_ptr<ImgData> img(ImgData::create(ImgData::fileType(path)));
    if (!img) {
        ok = false;
        return nullptr;
    }
    img->fileName = path;
    if (!img->load()) {
        ok = false;
        return nullptr;
    }
    return img;
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
    for (const QString &f : set.files) {
        // A refused file is named in the set's one failure below.
        if (!imgDatas.add(f))
            ++failed;
        QCoreApplication::processEvents();
        if (stopSignal != 0)
            return false;
    }
    if (imgDatas.count() == 0) {
        recordFailure(Failures::Load, "No projection of " + set.tag + " could be loaded");
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
    // Nothing is shown: the panels only compute.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("vexa2-recon");

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
        "filtered back-projection on several worker threads and writes CT image data files (and\n"
        "PNG pictures) named [name-]tag-NNNNN.dat.\n"
        "\n"
        "One data set: the projections are the files of FOLDER that match the patterns, in name\n"
        "order; I0 and BG images are taken from --i0/--bg or from FOLDER/ref/I0.img and\n"
        "FOLDER/ref/BG.img when those exist; the results go to the output folder.\n"
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
        "data_dark, theta): one data set of its projections, with the averages of its white and\n"
        "dark images as I0 and BG and the range and origin its angles give (unless --range or\n"
        "--origin).");
    parser.addHelpOption();
    parser.addPositionalArgument(
        "folder", "Folder holding the projection images or the series, or a DXchange HDF5 file.");
    const QCommandLineOption patternOpt(
        "pattern", "Name patterns of the projections.", "patterns", "*.img *.tif *.tiff");
    const QCommandLineOption i0Opt(
        "i0", "I0 image (incident beam); for a series also a folder of I0 images.", "file");
    const QCommandLineOption bgOpt("bg", "BG image (background).", "file");
    const QCommandLineOption rangeOpt("range",
        "Angular range of the set in degrees (negative: descending angles). Without it, a "
        "DXchange file's angles give it, and camera files are taken as 180 or 360 degrees as "
        "their data show (the console says which).",
        "deg", "180");
    const QCommandLineOption originOpt(
        "origin", "Angle of the first image in degrees.", "deg", "0");
    const QCommandLineOption horizOpt(
        "horizontal-axis", "The rotation axis is horizontal (detector lines are image columns).");
    const QCommandLineOption corOpt("cor",
        "Centre of rotation; guessed (on the first energy of a series) when not given.", "pixel");
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
    const QCommandLineOption noDataOpt("no-data", "Do not write CT image data files.");
    const QCommandLineOption tiffOpt("tiff",
        "Also write each slice as a 32-bit float TIFF file ([name-]tag-NNNNN.tif, the values as "
        "computed, without limits or offset).");
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
    parser.addOptions(
        { patternOpt, i0Opt, bgOpt, rangeOpt, originOpt, horizOpt, corOpt, guessSliceOpt, fromOpt,
            toOpt, stepOpt, threadsOpt, outOpt, nameOpt, tagOpt, pngOpt, noDataOpt, lowerOpt,
            upperOpt, offsetOpt, seriesOpt, taskOpt, skipOpt, checkOpt, methodOpt });
    parser.addOptions({ tiffOpt, tiffZlibOpt });
    parser.addOptions({ filterOpt, ringOpt });
    parser.process(app);

    if (parser.positionalArguments().size() != 1)
        return fail("name one folder of projection images (see --help)");
    const QString source = parser.positionalArguments().first();
    const bool hdf5 = QFileInfo(source).isFile() && DxchangeFile::isHdf5(source);
    const QDir folder(hdf5 ? QFileInfo(source).absolutePath() : source);
    if (!folder.exists())
        return fail("no such folder: " + folder.path());
    DxchangeFile::Info hdf5Info;
    bool thetaGiven = false, thetaEven = true;
    double thetaOrigin = 0, thetaRange = 180;
    if (hdf5) {
        QString error;
        if (!DxchangeFile::inspect(source, hdf5Info, &error)
            || !DxchangeFile::angleRange(
                source, hdf5Info, thetaGiven, thetaOrigin, thetaRange, &error, &thetaEven))
            return fail(error);
    }
    CtMethod method = CtMethod::Fbp;
    if (!CtMethods::fromName(parser.value(methodOpt), &method))
        return fail("the method must be fbp or gridding, not " + parser.value(methodOpt));
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
        return fail("the range must be a number of degrees other than 0 and the origin a number");
    if (!step || *step == 0)
        return fail("the slice step must be a whole number other than 0");
    if (!lower || !upper || !offset)
        return fail("the value limits and the offset must be numbers");
    CtFilterKind filter = CtFilterKind::RampPadded;
    if (!CtFilter::fromName(parser.value(filterOpt), &filter))
        return fail("unknown filter " + parser.value(filterOpt)
            + " (known: " + CtFilter::names().join(' ') + ")");
    const auto ringLevel = integer(parser.value(ringOpt));
    if (!ringLevel || *ringLevel < 0 || *ringLevel > RingRemoval::maxLevel)
        return fail(QString("the ring removal level must be a whole number from 0 to %1")
                        .arg(RingRemoval::maxLevel));

    WorkShare share;
    if (parser.isSet(taskOpt)) {
        const auto s = WorkShare::parse(parser.value(taskOpt));
        if (!s)
            return fail("--task takes I/N with 0 <= I < N, e.g. 3/8");
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

    // Data sets.
    const QStringList patterns = parser.value(patternOpt).split(' ', Qt::SkipEmptyParts);
    QString error;
    DataSeries series;
    if (hdf5) {
        // One data set: the file's projections.
        series.sets << SeriesSet { QString(), 0.0,
            DxchangeFile::projectionAddresses(source, hdf5Info.projections) };
    } else {
        series = DataSeries::find(folder.path(), patterns, parser.isSet(seriesOpt), &error);
    }
    if (series.sets.isEmpty())
        return fail(error);
    if (series.isSeries() && parser.isSet(tagOpt))
        return fail("--tag does not apply to a series: each energy is tagged with its set's name");
    if (!series.isSeries())
        series.sets[0].tag = parser.isSet(tagOpt) ? parser.value(tagOpt)
            : hdf5                                ? QFileInfo(source).completeBaseName()
                                                  : folder.dirName();
    const bool isSeries = series.isSeries();

    // The first set's first image gives the geometry every set must share.
    ImgDatas imgDatas;
    int probeWidth = 0, probeHeight = 0;
    {
        std::unique_ptr<ImgData> probe;
        for (const QString &f : series.sets.first().files) {
            probe.reset(ImgData::create(ImgData::fileType(f)));
            if (probe) {
                probe->fileName = f;
                if (probe->load())
                    break;
            }
            probe.reset();
        }
        if (!probe)
            return fail("no projection image could be loaded from "
                + (isSeries    ? series.sets.first().tag
                        : hdf5 ? source
                               : folder.path()));
        probeWidth = probe->width;
        probeHeight = probe->height;
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
        return fail(QString("slices must lie in 0 ... %1").arg(lineCount - 1));
    QList<int> slices;
    const int signedStep = std::abs(*step) * (to < from ? -1 : 1);
    for (int s = from; signedStep > 0 ? s <= to : s >= to; s += signedStep)
        slices << s;

    const QString outDir = QDir(parser.value(outOpt)).absolutePath();
    ResultFiles results;
    results.outDir = outDir;
    results.name = parser.value(nameOpt);
    results.perEnergyFolders = isSeries;
    results.data = !parser.isSet(noDataOpt);
    results.pictures = parser.isSet(pngOpt);
    results.tiff = parser.isSet(tiffOpt) || parser.isSet(tiffZlibOpt);

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
        return 0;
    }

    // References. A series looks for the I0 image of each energy; one data set has one.
    // An HDF5 file brings its own: the averages of its white and dark images.
    bool refOk = false;
    const QString hdf5Dark = hdf5 && hdf5Info.darks > 0
        ? DxchangeFile::address(source, DxchangeFile::Part::Dark)
        : QString();
    const QString hdf5White = hdf5 && hdf5Info.whites > 0
        ? DxchangeFile::address(source, DxchangeFile::Part::White)
        : QString();
    std::unique_ptr<ImgData> bg = loadReference(parser.value(bgOpt),
        hdf5 ? hdf5Dark
             : (QFileInfo::exists(folder.filePath("ref/BG.img")) || !isSeries
                     ? folder.filePath("ref/BG.img")
                     : folder.filePath("BG.img")),
        refOk, hdf5);
    if (!refOk)
        return fail("the BG image could not be loaded");
    std::unique_ptr<ImgData> i0;
    QStringList i0Files;
    if (isSeries) {
        i0Files = seriesI0Files(parser.value(i0Opt), folder, patterns);
    } else {
        i0 = loadReference(
            parser.value(i0Opt), hdf5 ? hdf5White : folder.filePath("ref/I0.img"), refOk, hdf5);
        if (!refOk)
            return fail("the I0 image could not be loaded");
    }
    // The set reads the references through these; they change only between sets, while no
    // worker runs.
    ImgData *i0Ptr = i0.get();
    ImgData *bgPtr = bg.get();
    imgDatas.i0 = &i0Ptr;
    imgDatas.bg = &bgPtr;
    const auto useI0Of = [&](const SeriesSet &set) {
        const QString path = nearestInEnergy(i0Files, set.energyEv);
        if (path.isEmpty() || (i0 && i0->fileName == path))
            return true;
        i0 = loadReference(path, QString(), refOk);
        i0Ptr = i0.get();
        if (!refOk)
            recordFailure(Failures::Load, "Cannot load the I0 image " + path);
        return refOk;
    };
    const auto referenceText = [&] {
        return QString("I0: %1, BG: %2")
            .arg(
                i0 ? i0->fileName : QString("none, 1.0"), bg ? bg->fileName : QString("none, 0.0"));
    };

    // The process control panel and the sinogram panel do what they do in the window.
    ProcCtrl procCtrl;
    procCtrl.setMethod(method);
    procCtrl.setFilter(CtFilter::name(filter));
    procCtrl.setRingRemoval(*ringLevel);
    if (rotAxIsV)
        procCtrl.findChild<QRadioButton *>("RotAxV")->click();
    procCtrl.setDataSetRangeDeg(*range);
    procCtrl.setAngleOriginDeg(*origin);
    Sinogram sinogram;
    sinogram.imgDatas = &imgDatas;
    sinogram.setProcCtrl(&procCtrl);

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
        if (isSeries && !useI0Of(set))
            return false;
        loadedSet = k;
        procCtrl.setDataSetImages(imgDatas.count());
        out() << RunReport::loadLine(imgDatas.count(), imgDatas.width, imgDatas.height,
            isSeries   ? QString("energy %1").arg(set.tag)
                : hdf5 ? source
                       : folder.path(),
            refused)
              << Qt::endl;
        out() << referenceText() << Qt::endl;
        return true;
    };

    const int guessSlice = parser.isSet(guessSliceOpt)
        ? integer(parser.value(guessSliceOpt)).value_or(-1)
        : lineCount / 2;
    if (guessSlice < 0 || guessSlice >= lineCount)
        return fail(QString("the slice must lie in 0 ... %1").arg(lineCount - 1));
    procCtrl.setSliceNo(guessSlice);
    if (!parser.isSet(rangeOpt) && !thetaGiven) {
        // Camera files say nothing of their range: the data tell 180 from 360 degrees.
        if (!load(0) && stopSignal != 0)
            return exitStatus(stopSignal, -1, Failures::instance().count());
        double s180 = 0, s360 = 0;
        const double deg = loadedSet == 0 ? guessRangeOnLines(ImgDatasLines(imgDatas, rotAxIsV),
                               guessSlice, CorGuessFraction, &s180, &s360)
                                          : 0.0;
        if (deg > 0) {
            procCtrl.setDataSetRangeDeg(deg);
            out() << "Range " << deg << " degrees, decided from the data on slice " << guessSlice
                  << (deg == 360 ? ": the projection half the set after the first mirrors it"
                                 : ": the last projection nearly mirrors the first")
                  << QString(" (mirror scores %1 over 180, %2 over 360; --range overrules)")
                         .arg(s180, 0, 'f', 4)
                         .arg(s360, 0, 'f', 4)
                  << Qt::endl;
        } else {
            out() << "Range " << procCtrl.dataSetRangeDeg()
                  << " degrees: the data cannot tell 180 from 360 (--range sets it)" << Qt::endl;
        }
    }
    if (parser.isSet(corOpt)) {
        const auto cor = number(parser.value(corOpt));
        if (!cor || *cor < 1 || *cor >= lineLength - 1)
            return fail(QString("the centre of rotation must lie in 1 ... %1").arg(lineLength - 2));
        procCtrl.setCor(*cor);
        out() << "Centre of rotation " << procCtrl.cor() << Qt::endl;
    } else {
        // Every task of a series guesses on the same set, so all of them find the same centre.
        if (loadedSet != 0 && !load(0) && stopSignal != 0)
            return exitStatus(stopSignal, -1, Failures::instance().count());
        if (loadedSet != 0)
            return fail("the centre of rotation cannot be guessed: " + Failures::instance().last());
        procCtrl.setCor(lineLength / 2.0);
        sinogram.guessCor();
        out() << "Centre of rotation " << procCtrl.cor() << " (guessed on slice " << guessSlice
              << (isSeries ? " of energy " + series.sets.first().tag : QString()) << ")"
              << Qt::endl;
    }

    const int hardware = std::max(1u, std::thread::hardware_concurrency());
    int threads = std::max(1, int(0.8 * hardware));
    if (parser.isSet(threadsOpt)) {
        const auto t = integer(parser.value(threadsOpt));
        if (!t || *t < 1)
            return fail("the number of workers must be 1 or more");
        threads = *t;
    }

    CtParams ctParams;
    if (!QDir().mkpath(outDir))
        return fail("cannot make the folder " + outDir);

    auto *saverThread = new QThread(&app);
    auto *saver = new DataSaver;
    // A series is filed as the window's automatic saving files it with "of Energy".
    saver->inSubFolders = isSeries;
    saver->ofEnergy = isSeries;
    saver->ofSlice = false;
    saver->moveToThread(saverThread);
    saverThread->start();

    const RowWindow window = makeRowWindow(rotAxIsV, lineLength, procCtrl.cor());
    QList<CtCalc2 *> workers;
    std::vector<std::unique_ptr<CtCalc2Ui>> views;
    for (int i = 0; i < threads; ++i) {
        views.push_back(std::make_unique<CtCalc2Ui>());
        auto *w = new CtCalc2;
        w->setUi(views.back().get());
        w->setCtParams(&ctParams);
        w->setSinogram(&sinogram);
        w->setSaveTiff(results.tiff, parser.isSet(tiffZlibOpt));
        QObject::connect(w, &CtCalc2::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard);
        QObject::connect(w, &CtCalc2::saveImgWDiscard, saver, &DataSaver::saveImgWDiscard);
        auto *t = new QThread(&app);
        w->moveToThread(t);
        QObject::connect(t, &QThread::finished, w, &QObject::deleteLater);
        t->start();
        workers << w;
    }

    const int planned = std::accumulate(work.cbegin(), work.cend(), 0,
        [](int sum, const QList<int> &w) { return sum + int(w.size()); });
    RunReport runReport;
    bool runBegun = false;
    int done = 0;
    for (int k = 0; k < series.sets.size() && stopSignal == 0; ++k) {
        if (work.at(k).isEmpty())
            continue;
        const SeriesSet &set = series.sets.at(k);
        if (loadedSet != k && !load(k))
            continue;
        // Every worker is idle here: the parameter block, the sizes and the save targets
        // change only between sets.
        procCtrl.fillCtParams(ctParams, false, true);
        if (!thetaEven)
            ctParams.imageAnglesDeg = hdf5Info.theta;
        ctParams.lowerLimit = *lower;
        ctParams.upperLimit = *upper;
        ctParams.dataOffset = *offset;
        for (CtCalc2 *w : std::as_const(workers)) {
            w->setupFFT(window.n / 2 * 2, imgDatas.count());
            w->setSaveData(results.data, outDir, results.name, set.tag);
            w->setSaveImage(results.pictures, outDir, results.name, set.tag);
        }
        const QList<int> &todo = work.at(k);
        out() << "Reconstructing " << todo.size() << (todo.size() == 1 ? " slice" : " slices")
              << " (" << todo.first()
              << (todo.size() > 1 ? QString(" ... %1").arg(todo.last()) : QString()) << ")"
              << (isSeries ? " of energy " + set.tag : QString()) << " on " << threads
              << (threads == 1 ? " worker" : " workers") << " into "
              << (isSeries ? QDir(outDir).filePath(set.tag) : outDir) << Qt::endl;
        SliceDispatcher dispatcher(workers, rotAxIsV, procCtrl.cor(), todo);
        QEventLoop loop;
        QObject::connect(&dispatcher, &SliceDispatcher::finished, &loop, &QEventLoop::quit,
            Qt::QueuedConnection);
        QObject::connect(&stopSignals, &StopSignals::stopRequested, &dispatcher,
            [&dispatcher](int) { dispatcher.stop(); });
        QObject::connect(
            &dispatcher, &SliceDispatcher::progressed, &loop, [&runReport, &done](int doneHere) {
                const QString line = runReport.progress(done + doneHere);
                if (!line.isEmpty())
                    out() << line << Qt::endl;
            });
        if (!runBegun) {
            // The clock starts with the first slice, so the rate is that of the workers.
            runBegun = true;
            out() << RunReport::startLine(from, to, signedStep, threads,
                method == CtMethod::Fbp ? "filtered back-projection" : "gridding")
                  << Qt::endl;
            runReport.begin(planned);
        }
        if (stopSignal != 0)
            dispatcher.stop();
        dispatcher.start();
        loop.exec();
        done += dispatcher.slicesDone();
    }

    // Every record the workers queued is written before the saver stops.
    shutDownWorkers(workers, saver);
    // The saver's thread has ended: nothing of it runs any more.
    const qint64 written = saver->written.load();
    delete saver;
    if (stopSignal != 0 && done < planned)
        recordFailure(Failures::RunStopped,
            QString("The reconstruction was stopped before its end: %1 of %2 slices done")
                .arg(done)
                .arg(planned));
    if (!runBegun)
        runReport.begin(planned); // no set could be reconstructed
    out() << runReport.endLine(done, written) << Qt::endl;
    const int failures = Failures::instance().count();
    if (failures > 0)
        out() << "Failures: " << failures << " (last: " << Failures::instance().last() << ")"
              << Qt::endl;
    return exitStatus(stopSignal, -1, failures);
}
