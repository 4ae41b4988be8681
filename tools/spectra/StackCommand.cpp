#include "StackCommand.h"

#include "SeriesTree.h"
#include "StackBuilder.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <cmath>
#include <optional>

namespace {

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

int usageError(const QString &msg)
{
    err() << "vexa2-spectra stack: " << msg << " (see vexa2-spectra stack --help)" << Qt::endl;
    return 2;
}

int failure(const QString &msg)
{
    err() << "vexa2-spectra stack: " << msg << Qt::endl;
    return 1;
}

// "512M", "4G", "1.5GiB", "2048" (MiB without a unit): bytes, or nothing.
std::optional<qint64> memoryLimit(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*([0-9]*\\.?[0-9]+)\\s*([kmgt]?)(i?b)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const double v = m.captured(1).toDouble();
    const QString unit = m.captured(2).toLower();
    const int shift = unit == "k" ? 10 : unit == "g" ? 30 : unit == "t" ? 40 : 20;
    const double bytes = std::ldexp(v, shift);
    if (!(bytes >= 1 << 20) || bytes > 9e18)
        return std::nullopt;
    return qint64(bytes);
}

} // namespace

int runStackCommand(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reads the result tree of a CT-XAFS series run (one folder per energy, named by its\n"
        "energy, each holding the same slices as float TIFF files or CT image data files) and\n"
        "writes one NeXus HDF5 file with every voxel's spectrum: /entry/spectra/mu, float32,\n"
        "(energies, slices, rows, columns), with energy (eV), cor, shift and slice_numbers.\n"
        "The energies are ordered by the number in the folder names. With --align, each\n"
        "energy's volume is registered onto its neighbour's by 3-D upsampled phase correlation\n"
        "and shifted (cubic resampling) onto the reference energy; the shifts also go to a text\n"
        "table beside the stack. The file is written under a temporary name and renamed into\n"
        "place when complete; a missing or cut slice file fails the stack (exit status 1).");
    parser.addHelpOption();
    parser.addPositionalArgument("series_out", "The output folder of the series run.");
    const QCommandLineOption outOpt(
        QStringList { "o", "output" }, "The stack file to write.", "STACK.h5");
    const QCommandLineOption alignOpt("align", "Align the energies' volumes.");
    const QCommandLineOption refOpt("align-ref",
        "Energy (eV) the others are aligned to; the nearest one of the series is taken "
        "(default: the first).",
        "E");
    const QCommandLineOption maxShiftOpt("max-shift",
        "Largest believable shift between neighbouring energies, in pixels; a larger one is "
        "reported as a likely failure (exit status 1, the stack is still written).",
        "P", "10");
    const QCommandLineOption memoryOpt("memory",
        "Memory the step may use, e.g. 512M or 4G (a number alone is MiB).", "LIMIT", "2G");
    const QCommandLineOption offsetOpt("offset",
        "The offset the run added to the values of CT image data files (removed again).", "V",
        "10");
    const QCommandLineOption tableOpt("table",
        "The text table of shifts (default: the stack's name with -shifts.txt, with --align).",
        "FILE");
    parser.addOptions({ outOpt, alignOpt, refOpt, maxShiftOpt, memoryOpt, offsetOpt, tableOpt });

    if (!parser.parse(args))
        return usageError(parser.errorText());
    if (parser.isSet("help")) {
        out() << parser.helpText().replace(
            QFileInfo(args.value(0)).fileName(), "vexa2-spectra stack");
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return usageError("name one series output folder");
    if (!parser.isSet(outOpt))
        return usageError("name the stack file with -o");
    bool ok = false;
    const double maxShift = parser.value(maxShiftOpt).toDouble(&ok);
    if (!ok || !(maxShift > 0))
        return usageError("--max-shift takes a positive number of pixels");
    const double offset = parser.value(offsetOpt).toDouble(&ok);
    if (!ok || !std::isfinite(offset))
        return usageError("--offset takes a number");
    const auto memory = memoryLimit(parser.value(memoryOpt));
    if (!memory)
        return usageError("--memory takes a size of at least 1M, e.g. 512M or 4G");
    StackBuilder::Options options;
    options.output = parser.value(outOpt);
    options.align = parser.isSet(alignOpt);
    options.maxShift = maxShift;
    options.memoryBytes = *memory;
    if (parser.isSet(refOpt)) {
        options.alignRefEv = parser.value(refOpt).toDouble(&ok);
        if (!ok || !std::isfinite(options.alignRefEv))
            return usageError("--align-ref takes an energy in eV");
        if (!options.align)
            return usageError("--align-ref needs --align");
    }
    if (parser.isSet(tableOpt))
        options.tablePath = parser.value(tableOpt);
    else if (options.align) {
        const QFileInfo fi(options.output);
        options.tablePath = fi.absoluteDir().filePath(fi.completeBaseName() + "-shifts.txt");
    }

    SeriesTree tree;
    QString error;
    if (!tree.scan(parser.positionalArguments().first(), offset, &error))
        return failure(error);
    out() << "Series in " << tree.root << ": " << tree.energies.size()
          << (tree.energies.size() == 1 ? " energy" : " energies") << " ("
          << tree.energies.first().energyEv << " ... " << tree.energies.last().energyEv << " eV), "
          << tree.slices.size() << " slices (" << tree.slices.first() << " ... "
          << tree.slices.last() << ") of " << tree.cols << " x " << tree.rows << " "
          << tree.formatText() << Qt::endl;

    StackBuilder builder;
    builder.log = [](const QString &line) { out() << line << Qt::endl; };
    StackBuilder::Result result;
    if (!builder.build(tree, options, result, &error))
        return failure(error);
    if (options.align) {
        out() << "Shifts (slices, rows, columns in pixels) to "
              << tree.energies[result.refIndex].tag << ", measured in "
              << QString::number(result.measureSeconds, 'f', 1) << " s:" << Qt::endl;
        for (int k = 0; k < tree.energies.size(); ++k) {
            const auto &s = result.shifts[size_t(k)];
            out() << "  " << tree.energies[k].tag << "\t" << QString::number(s[0], 'f', 3) << "\t"
                  << QString::number(s[1], 'f', 3) << "\t" << QString::number(s[2], 'f', 3)
                  << Qt::endl;
        }
        out() << "Table of shifts: " << QFileInfo(options.tablePath).absoluteFilePath() << Qt::endl;
    }
    out() << "Wrote " << QFileInfo(options.output).absoluteFilePath() << " in "
          << QString::number(result.writeSeconds, 'f', 1) << " s" << Qt::endl;
    if (!result.suspect.isEmpty())
        return failure(QString("the shift of %1 beyond %2 px: the alignment has likely failed "
                               "there (see the table)")
                           .arg(result.suspect.join(", "))
                           .arg(maxShift));
    return 0;
}
