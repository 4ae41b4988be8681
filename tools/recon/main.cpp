// vexa2-recon: reconstructs a slice range of one data set without a window, with the same
// sinogram builder, reconstruction workers and background saver as the program.
#include "SliceDispatcher.h"

#include "CtCalc2.h"
#include "CtCalc2Ui.h"
#include "CtParams.h"
#include "DataSaver.h"
#include "ImgData.h"
#include "ImgDatas.h"
#include "ProcCtrl.h"
#include "RowWindow.h"
#include "Sinogram.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QRadioButton>
#include <QTextStream>
#include <QThread>

#include <memory>
#include <optional>
#include <thread>

namespace {

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
std::unique_ptr<ImgData> loadReference(const QString &named, const QString &fallback, bool &ok)
{
    ok = true;
    const QString path
        = !named.isEmpty() ? named : (QFileInfo::exists(fallback) ? fallback : QString());
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

} // namespace

int main(int argc, char *argv[])
{
    // Nothing is shown: the panels only compute.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("vexa2-recon");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reconstructs slices of one CT data set by filtered back-projection on several worker\n"
        "threads and writes CT image data files (and PNG pictures) named\n"
        "[name-]tag-NNNNN.dat. The projections are the files of FOLDER that match the\n"
        "patterns, in name order; I0 and BG images are taken from --i0/--bg or from\n"
        "FOLDER/ref/I0.img and FOLDER/ref/BG.img when those exist.");
    parser.addHelpOption();
    parser.addPositionalArgument("folder", "Folder holding the projection images.");
    const QCommandLineOption patternOpt(
        "pattern", "Name patterns of the projections.", "patterns", "*.img *.tif *.tiff");
    const QCommandLineOption i0Opt("i0", "I0 image (incident beam).", "file");
    const QCommandLineOption bgOpt("bg", "BG image (background).", "file");
    const QCommandLineOption rangeOpt(
        "range", "Angular range of the set in degrees.", "deg", "180");
    const QCommandLineOption originOpt(
        "origin", "Angle of the first image in degrees.", "deg", "0");
    const QCommandLineOption horizOpt(
        "horizontal-axis", "The rotation axis is horizontal (detector lines are image columns).");
    const QCommandLineOption corOpt("cor", "Centre of rotation; guessed when not given.", "pixel");
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
    const QCommandLineOption tagOpt(
        "tag", "Tag part of the file names (default: the data folder's name).", "tag");
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
        "Filter: ramp (default; reads large objects low), ramp_padded (exact values),\n"
        "shepp_logan, cosine, hamming, hann (ramp_padded with a window).",
        "name", "ramp");
    parser.addOptions({ patternOpt, i0Opt, bgOpt, rangeOpt, originOpt, horizOpt, corOpt,
        guessSliceOpt, fromOpt, toOpt, stepOpt, threadsOpt, outOpt, nameOpt, tagOpt, pngOpt,
        noDataOpt, lowerOpt, upperOpt, offsetOpt });
    parser.addOptions({ tiffOpt, tiffZlibOpt });
    parser.addOptions({ filterOpt });
    parser.process(app);

    if (parser.positionalArguments().size() != 1)
        return fail("name one folder of projection images (see --help)");
    const QDir folder(parser.positionalArguments().first());
    if (!folder.exists())
        return fail("no such folder: " + folder.path());

    const auto range = number(parser.value(rangeOpt));
    const auto origin = number(parser.value(originOpt));
    const auto step = integer(parser.value(stepOpt));
    const auto lower = number(parser.value(lowerOpt));
    const auto upper = number(parser.value(upperOpt));
    const auto offset = number(parser.value(offsetOpt));
    if (!range || *range <= 0 || !origin)
        return fail("the range must be a positive number of degrees and the origin a number");
    if (!step || *step == 0)
        return fail("the slice step must be a whole number other than 0");
    if (!lower || !upper || !offset)
        return fail("the value limits and the offset must be numbers");
    CtFilterKind filter = CtFilterKind::Ramp;
    if (!CtFilter::fromName(parser.value(filterOpt), &filter))
        return fail("unknown filter " + parser.value(filterOpt)
            + " (known: " + CtFilter::names().join(' ') + ")");

    // Projections.
    ImgDatas imgDatas;
    const QStringList files
        = folder.entryList(parser.value(patternOpt).split(' ', Qt::SkipEmptyParts), QDir::Files,
            QDir::Name | QDir::IgnoreCase);
    for (const QString &f : files)
        imgDatas.add(folder.filePath(f));
    if (imgDatas.count() == 0)
        return fail("no projection image could be loaded from " + folder.path());

    bool i0Ok = false, bgOk = false;
    std::unique_ptr<ImgData> i0
        = loadReference(parser.value(i0Opt), folder.filePath("ref/I0.img"), i0Ok);
    std::unique_ptr<ImgData> bg
        = loadReference(parser.value(bgOpt), folder.filePath("ref/BG.img"), bgOk);
    if (!i0Ok || !bgOk)
        return fail("the I0 or BG image could not be loaded");
    ImgData *i0Ptr = i0.get();
    ImgData *bgPtr = bg.get();
    imgDatas.i0 = &i0Ptr;
    imgDatas.bg = &bgPtr;

    const bool rotAxIsV = !parser.isSet(horizOpt);
    const int lineLength = rotAxIsV ? imgDatas.width : imgDatas.height;
    const int lineCount = rotAxIsV ? imgDatas.height : imgDatas.width;
    out() << "Loaded " << imgDatas.count() << " projections of " << imgDatas.width << " x "
          << imgDatas.height << " from " << folder.path()
          << " (I0: " << (i0 ? i0->fileName : QString("none, 1.0"))
          << ", BG: " << (bg ? bg->fileName : QString("none, 0.0")) << ")" << Qt::endl;

    // The process control panel and the sinogram panel do what they do in the window.
    ProcCtrl procCtrl;
    if (rotAxIsV)
        procCtrl.findChild<QRadioButton *>("RotAxV")->click();
    procCtrl.setDataSetImages(imgDatas.count());
    procCtrl.setDataSetRangeDeg(*range);
    procCtrl.setAngleOriginDeg(*origin);
    Sinogram sinogram;
    sinogram.imgDatas = &imgDatas;
    sinogram.setProcCtrl(&procCtrl);

    const int guessSlice = parser.isSet(guessSliceOpt)
        ? integer(parser.value(guessSliceOpt)).value_or(-1)
        : lineCount / 2;
    if (guessSlice < 0 || guessSlice >= lineCount)
        return fail(QString("the slice must lie in 0 ... %1").arg(lineCount - 1));
    procCtrl.setSliceNo(guessSlice);
    if (parser.isSet(corOpt)) {
        const auto cor = number(parser.value(corOpt));
        if (!cor || *cor < 1 || *cor >= lineLength - 1)
            return fail(QString("the centre of rotation must lie in 1 ... %1").arg(lineLength - 2));
        procCtrl.setCor(*cor);
        out() << "Centre of rotation " << procCtrl.cor() << Qt::endl;
    } else {
        procCtrl.setCor(lineLength / 2.0);
        sinogram.guessCor();
        out() << "Centre of rotation " << procCtrl.cor() << " (guessed on slice " << guessSlice
              << ")" << Qt::endl;
    }

    const int from = parser.isSet(fromOpt) ? integer(parser.value(fromOpt)).value_or(-1) : 0;
    const int to = parser.isSet(toOpt) ? integer(parser.value(toOpt)).value_or(-1) : lineCount - 1;
    if (from < 0 || from >= lineCount || to < 0 || to >= lineCount)
        return fail(QString("slices must lie in 0 ... %1").arg(lineCount - 1));

    const int hardware = std::max(1u, std::thread::hardware_concurrency());
    int threads = std::max(1, int(0.8 * hardware));
    if (parser.isSet(threadsOpt)) {
        const auto t = integer(parser.value(threadsOpt));
        if (!t || *t < 1)
            return fail("the number of workers must be 1 or more");
        threads = *t;
    }

    CtParams ctParams;
    procCtrl.fillCtParams(ctParams, false, true);
    ctParams.lowerLimit = *lower;
    ctParams.upperLimit = *upper;
    ctParams.dataOffset = *offset;
    ctParams.filter = filter;

    const QString outDir = QDir(parser.value(outOpt)).absolutePath();
    if (!QDir().mkpath(outDir))
        return fail("cannot make the folder " + outDir);
    const QString name = parser.value(nameOpt);
    const QString tag = parser.isSet(tagOpt) ? parser.value(tagOpt) : folder.dirName();

    auto *saverThread = new QThread(&app);
    auto *saver = new DataSaver;
    saver->inSubFolders = false;
    saver->moveToThread(saverThread);
    QObject::connect(saverThread, &QThread::finished, saver, &QObject::deleteLater);
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
        w->setupFFT(window.n / 2 * 2, imgDatas.count());
        w->setSaveData(!parser.isSet(noDataOpt), outDir, name, tag);
        w->setSaveImage(parser.isSet(pngOpt), outDir, name, tag);
        w->setSaveTiff(
            parser.isSet(tiffOpt) || parser.isSet(tiffZlibOpt), parser.isSet(tiffZlibOpt));
        QObject::connect(w, &CtCalc2::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard);
        QObject::connect(w, &CtCalc2::saveImgWDiscard, saver, &DataSaver::saveImgWDiscard);
        auto *t = new QThread(&app);
        w->moveToThread(t);
        QObject::connect(t, &QThread::finished, w, &QObject::deleteLater);
        t->start();
        workers << w;
    }

    out() << "Reconstructing slices " << from << " to " << to << " step " << std::abs(*step)
          << " on " << threads << (threads == 1 ? " worker" : " workers") << " into " << outDir
          << Qt::endl;
    SliceDispatcher dispatcher(workers, rotAxIsV, procCtrl.cor(), from, to, *step);
    QObject::connect(&dispatcher, &SliceDispatcher::finished, &app, &QCoreApplication::quit,
        Qt::QueuedConnection);
    dispatcher.start();
    const int rc = app.exec();

    // Every record the workers queued is written before the saver stops.
    shutDownWorkers(workers, saver);
    const double seconds = dispatcher.elapsedMs() / 1000.0;
    out() << "Done: " << dispatcher.slicesDone() << " slices in " << seconds << " s ("
          << seconds / std::max(1, dispatcher.slicesDone()) << " s per slice)" << Qt::endl;
    return rc;
}
