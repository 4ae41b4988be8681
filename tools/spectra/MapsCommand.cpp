#include "MapsCommand.h"

#include "MapsRun.h"

#include <QTextStream>

#include <cmath>
#include <optional>

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "vexa2-spectra maps: " << message << "\n\n" << mapsUsage() << Qt::flush;
    return 2;
}

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// "A:B" with A < B.
bool range(const QString &text, double &a, double &b)
{
    const QStringList parts = text.split(u':');
    if (parts.size() != 2)
        return false;
    const auto x = number(parts[0]), y = number(parts[1]);
    if (!x || !y || !(*x < *y))
        return false;
    a = *x;
    b = *y;
    return true;
}

} // namespace

QString mapsUsage()
{
    return QStringLiteral(
        "Usage: vexa2-spectra maps STACK.h5 -o MAPS.h5 [options]\n"
        "Edge step, E0, half-height energy, white line and reference weights of every voxel.\n"
        "  -o, --output FILE     the maps file (NeXus HDF5), written atomically\n"
        "  --pre A:B             pre-edge range relative to E0 in eV (default: from the first\n"
        "                        energy to a third of the way to the edge, 10 to 30 eV below it)\n"
        "  --post A:B            post-edge range relative to E0 in eV (default: from\n"
        "                        min(30, 0.3 x span above the edge) to the last energy)\n"
        "  --post-order 1|2      post-edge line or quadratic (default 2)\n"
        "  --smooth N            [1 2 1] smoothing passes before the derivative (default 1)\n"
        "  --e0 E                E0 in eV for every voxel instead of the derivative's maximum\n"
        "  --white-line-span W   look for the white line up to W eV above E0 (default 30)\n"
        "  --refs A.txt B.txt .. reference spectra (energy eV, normalised mu): non-negative\n"
        "                        linear-combination fit of every voxel, with its R-factor\n"
        "  --sum-to-one          the reference weights sum to one\n"
        "  --fit-range A:B       absolute energies (eV) of the fit (default: all that the\n"
        "                        references cover)\n"
        "  --pca K               denoise by keeping K principal components first\n"
        "  --min-step S          edge step below S: NaN in the maps that need an edge\n"
        "                        (default: 5 x the standard error of the voxel's\n"
        "                        step, from its pre-edge scatter)\n"
        "  --normalised          also write the normalised stack (/entry/normalised/mu)\n"
        "  --tiff DIR            also write each map as float TIFF slices DIR/<map>/\n"
        "  --threads N           worker threads (default: all)\n"
        "  --memory MIB          memory for blocks of spectra (default 1024)\n");
}

int runMapsCommand(const QStringList &args)
{
    MapsOptions o;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString &v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            out() << mapsUsage() << Qt::flush;
            return 0;
        } else if (a == QLatin1String("-o") || a == QLatin1String("--output")) {
            if (!value(o.outPath))
                return usageError(QStringLiteral("-o needs a file"));
        } else if (a == QLatin1String("--pre") || a == QLatin1String("--post")) {
            const bool pre = a == QLatin1String("--pre");
            if (!value(v)
                || !range(
                    v, pre ? o.edge.preFrom : o.edge.postFrom, pre ? o.edge.preTo : o.edge.postTo))
                return usageError(QStringLiteral("%1 needs a range A:B with A < B").arg(a));
            (pre ? o.preGiven : o.postGiven) = true;
        } else if (a == QLatin1String("--post-order")) {
            if (!value(v) || (v != QLatin1String("1") && v != QLatin1String("2")))
                return usageError(QStringLiteral("--post-order is 1 or 2"));
            o.edge.postOrder = v.toInt();
        } else if (a == QLatin1String("--smooth")) {
            bool ok = false;
            if (!value(v) || (o.edge.smoothing = v.toInt(&ok), !ok) || o.edge.smoothing < 0
                || o.edge.smoothing > 50)
                return usageError(QStringLiteral("--smooth needs a count 0 to 50"));
        } else if (a == QLatin1String("--e0") || a == QLatin1String("--white-line-span")
            || a == QLatin1String("--min-step")) {
            std::optional<double> x;
            if (!value(v) || !(x = number(v)))
                return usageError(QStringLiteral("%1 needs a number").arg(a));
            if (a == QLatin1String("--e0"))
                o.edge.fixedE0 = *x;
            else if (a == QLatin1String("--min-step"))
                o.minStep = *x;
            else if (*x > 0)
                o.edge.whiteLineSpan = *x;
            else
                return usageError(QStringLiteral("--white-line-span must be positive"));
        } else if (a == QLatin1String("--refs")) {
            while (i + 1 < args.size() && !args[i + 1].startsWith(u'-'))
                o.references << args[++i];
            if (o.references.isEmpty())
                return usageError(QStringLiteral("--refs needs reference files"));
        } else if (a == QLatin1String("--sum-to-one")) {
            o.sumToOne = true;
        } else if (a == QLatin1String("--fit-range")) {
            if (!value(v) || !range(v, o.fitFrom, o.fitTo))
                return usageError(QStringLiteral("--fit-range needs A:B with A < B"));
        } else if (a == QLatin1String("--pca") || a == QLatin1String("--threads")) {
            bool ok = false;
            const int n = value(v) ? v.toInt(&ok) : 0;
            if (!ok || n < 1)
                return usageError(QStringLiteral("%1 needs a positive count").arg(a));
            (a == QLatin1String("--pca") ? o.pcaComponents : o.workers) = n;
        } else if (a == QLatin1String("--memory")) {
            std::optional<double> x;
            if (!value(v) || !(x = number(v)) || *x < 1)
                return usageError(QStringLiteral("--memory needs MiB >= 1"));
            o.memoryBudgetMiB = *x;
        } else if (a == QLatin1String("--normalised")) {
            o.writeNormalised = true;
        } else if (a == QLatin1String("--tiff")) {
            if (!value(o.tiffDir))
                return usageError(QStringLiteral("--tiff needs a folder"));
        } else if (a.startsWith(u'-')) {
            return usageError(QStringLiteral("unknown option %1").arg(a));
        } else if (o.stackPath.isEmpty()) {
            o.stackPath = a;
        } else {
            return usageError(QStringLiteral("one stack file only (%1)").arg(a));
        }
    }
    if (o.stackPath.isEmpty())
        return usageError(QStringLiteral("no stack file"));
    if (o.outPath.isEmpty())
        return usageError(QStringLiteral("no output file (-o)"));
    if (o.sumToOne && o.references.isEmpty())
        return usageError(QStringLiteral("--sum-to-one needs --refs"));

    MapsReport report;
    QString error;
    const bool ok
        = MapsRun::run(o, report, error, [](const QString &line) { out() << line << Qt::endl; });
    if (!ok) {
        QTextStream(stderr) << "vexa2-spectra maps: " << error << Qt::endl;
        return 1;
    }
    out() << QStringLiteral("%1 energies (%2 to %3 eV), %4 slices x %5 rows x %6 columns\n")
                 .arg(report.energies)
                 .arg(report.firstEnergy, 0, 'f', 1)
                 .arg(report.lastEnergy, 0, 'f', 1)
                 .arg(report.slices)
                 .arg(report.rows)
                 .arg(report.columns);
    out() << QStringLiteral("voxels without an edge (step below the minimum): %1 of %2\n")
                 .arg(report.withoutEdge)
                 .arg(report.voxels);
    out() << QStringLiteral("read %1 s, analysis %2 s, write %3 s\n")
                 .arg(report.readSeconds, 0, 'f', 2)
                 .arg(report.computeSeconds, 0, 'f', 2)
                 .arg(report.writeSeconds, 0, 'f', 2);
    out() << QStringLiteral("maps: %1\n").arg(report.mapNames.join(u' '));
    if (!report.tiffFiles.isEmpty())
        out() << QStringLiteral("%1 TIFF files under %2\n")
                     .arg(report.tiffFiles.size())
                     .arg(o.tiffDir);
    out() << QStringLiteral("written %1").arg(o.outPath) << Qt::endl;
    return 0;
}
