#include "StackBuilder.h"

#include "ParallelRange.h"
#include "PhaseCorrelation3D.h"
#include "ShiftedSlices.h"
#include "StackFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

namespace {

bool setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

QString mb(qint64 bytes)
{
    return QString::number(double(bytes) / (1 << 20), 'f', 1) + " MiB";
}

} // namespace

int StackBuilder::nearestEnergy(const SeriesTree &tree, double ev)
{
    if (!std::isfinite(ev))
        return 0;
    int best = 0;
    for (int k = 1; k < tree.energies.size(); ++k) {
        if (std::abs(tree.energies[k].energyEv - ev) < std::abs(tree.energies[best].energyEv - ev))
            best = k;
    }
    return best;
}

bool StackBuilder::measure(
    const SeriesTree &tree, const Options &options, Result &result, QString *error)
{
    QElapsedTimer clock;
    clock.start();
    const int energies = int(tree.energies.size());
    result.refIndex = nearestEnergy(tree, options.alignRefEv);
    result.shifts.assign(size_t(energies), { 0, 0, 0 });
    result.pairShifts.assign(size_t(energies), { 0, 0, 0 });
    result.suspect.clear();

    // The central sub-volume: as large as asked, within the volume and within half the
    // memory budget (two volumes as floats, four complex volumes, the window: ~80 bytes a voxel).
    int edge = std::max(8, options.subVolume);
    const auto voxels = [&](int e) {
        return qint64(std::min(e, int(tree.slices.size()))) * std::min(e, tree.rows)
            * std::min(e, tree.cols);
    };
    while (edge > 8
        && voxels(edge) * 80 + ShiftedSlices::bytesNeeded(tree.rows, tree.cols)
            > options.memoryBytes / 2)
        edge = edge * 3 / 4;
    const int nz = std::min(edge, int(tree.slices.size()));
    const int ny = std::min(edge, tree.rows);
    const int nx = std::min(edge, tree.cols);
    result.subVolume = { nz, ny, nx };
    const int z0 = (int(tree.slices.size()) - nz) / 2;
    const int y0 = (tree.rows - ny) / 2;
    const int x0 = (tree.cols - nx) / 2;
    say(QString("Measuring the shifts between neighbouring energies on the central %1 x %2 x %3 "
                "voxels (slices x rows x columns), reference %4 eV (%5)")
            .arg(nz)
            .arg(ny)
            .arg(nx)
            .arg(tree.energies[result.refIndex].energyEv)
            .arg(tree.energies[result.refIndex].tag));

    std::vector<float> slice(size_t(tree.rows) * tree.cols);
    const auto readSub = [&](int k, std::vector<float> &vol) {
        vol.resize(size_t(nz) * ny * nx);
        for (int z = 0; z < nz; ++z) {
            if (!tree.readSlice(k, z0 + z, slice.data(), error))
                return false;
            for (int y = 0; y < ny; ++y)
                std::copy_n(slice.data() + size_t(y0 + y) * tree.cols + x0, nx,
                    vol.data() + (size_t(z) * ny + y) * nx);
        }
        return true;
    };
    PhaseCorrelation3D correlation(nz, ny, nx);
    std::vector<float> fixed, moving;
    // Outwards from the reference on each side: each energy onto the one before it.
    for (int dir : { +1, -1 }) {
        if (!readSub(result.refIndex, fixed))
            return false;
        for (int k = result.refIndex + dir; k >= 0 && k < energies; k += dir) {
            if (!readSub(k, moving))
                return false;
            const auto d = correlation.measure(fixed.data(), moving.data());
            const auto &prev = result.shifts[size_t(k - dir)];
            result.pairShifts[size_t(k)] = d;
            result.shifts[size_t(k)] = { prev[0] + d[0], prev[1] + d[1], prev[2] + d[2] };
            const double largest = std::max({ std::abs(d[0]), std::abs(d[1]), std::abs(d[2]) });
            if (largest > options.maxShift) {
                result.suspect << tree.energies[k].tag;
                say(QString("Energy %1 (%2 eV): shift %3 px against %4 is beyond the maximum of "
                            "%5 px: the alignment has likely failed there")
                        .arg(tree.energies[k].tag)
                        .arg(tree.energies[k].energyEv)
                        .arg(largest, 0, 'f', 2)
                        .arg(tree.energies[k - dir].tag)
                        .arg(options.maxShift));
            }
            std::swap(fixed, moving);
        }
    }
    result.measureSeconds = clock.elapsed() / 1000.0;
    return true;
}

QString StackBuilder::shiftTable(const SeriesTree &tree, const Result &result, double maxShift)
{
    QString text;
    QTextStream s(&text);
    s << "# Shifts applied to each energy's volume to align it to "
      << tree.energies[result.refIndex].tag << " (" << tree.energies[result.refIndex].energyEv
      << " eV), in pixels; "
      << "measured: against the neighbour towards the reference\n";
    s << "# energy_eV\tslices\trows\tcolumns\tmeasured_slices\tmeasured_rows\tmeasured_columns\t"
         "folder\tnote\n";
    for (int k = 0; k < tree.energies.size(); ++k) {
        const auto &a = result.shifts[size_t(k)];
        const auto &m = result.pairShifts[size_t(k)];
        s << QString::number(tree.energies[k].energyEv, 'g', 10);
        for (double v : a)
            s << '\t' << QString::number(v, 'f', 3);
        for (double v : m)
            s << '\t' << QString::number(v, 'f', 3);
        s << '\t' << tree.energies[k].tag << '\t';
        if (k == result.refIndex)
            s << "reference";
        else if (result.suspect.contains(tree.energies[k].tag))
            s << "beyond " << maxShift << " px: likely failed";
        else
            s << "ok";
        s << '\n';
    }
    return text;
}

bool StackBuilder::build(
    const SeriesTree &tree, const Options &options, Result &result, QString *error)
{
    const int energies = int(tree.energies.size());
    const int slices = int(tree.slices.size());
    const qint64 sliceBytes = qint64(tree.rows) * tree.cols * qint64(sizeof(float));
    if (energies < 1 || slices < 1)
        return setError(error, "the series holds no slice");

    result = Result();
    result.refIndex = 0;
    result.shifts.assign(size_t(energies), { 0, 0, 0 });
    result.pairShifts.assign(size_t(energies), { 0, 0, 0 });
    if (options.align && energies > 1 && !measure(tree, options, result, error))
        return false;

    // Energies per block: a chunk's worth when the budget allows, fewer otherwise. Each one
    // holds its output slice and, when shifted, the shifter's slices; the reader holds one.
    StackFile::Layout layout { energies, slices, tree.rows, tree.cols };
    const int chunkEnergies = StackFile::chunkShape(layout)[0];
    const qint64 perEnergy
        = sliceBytes + (options.align ? ShiftedSlices::bytesNeeded(tree.rows, tree.cols) : 0);
    const qint64 fixedPart = 2 * sliceBytes;
    int atOnce = chunkEnergies;
    while (atOnce > 1 && fixedPart + atOnce * perEnergy > options.memoryBytes)
        --atOnce;
    if (fixedPart + atOnce * perEnergy > options.memoryBytes)
        return setError(error,
            QString("the memory limit of %1 is below the %2 that stacking slices of %3 x %4 needs")
                .arg(mb(options.memoryBytes), mb(fixedPart + perEnergy))
                .arg(tree.cols)
                .arg(tree.rows));
    result.energiesAtOnce = atOnce;

    QElapsedTimer clock;
    clock.start();
    StackFile file;
    // The chunk cache gathers the partly written chunks of a block of fewer energies than a
    // chunk holds; it gets what the blocks leave of the budget.
    const qint64 cache = options.memoryBytes - fixedPart - atOnce * perEnergy;
    if (!file.create(options.output, layout, cache, error))
        return false;
    say(QString("Writing %1 energies x %2 slices x %3 x %4 (%5) into %6, %7 energies at a time")
            .arg(energies)
            .arg(slices)
            .arg(tree.rows)
            .arg(tree.cols)
            .arg(mb(qint64(energies) * slices * sliceBytes),
                QFileInfo(options.output).absoluteFilePath())
            .arg(atOnce));

    std::vector<float> block(size_t(atOnce) * tree.rows * tree.cols);
    const int readers = std::max(1, int(std::thread::hardware_concurrency()));
    const size_t area = size_t(tree.rows) * tree.cols;
    for (int e0 = 0; e0 < energies; e0 += atOnce) {
        const int count = std::min(atOnce, energies - e0);
        std::vector<std::unique_ptr<ShiftedSlices>> shifters;
        for (int i = 0; options.align && i < count; ++i) {
            const int k = e0 + i;
            shifters.push_back(std::make_unique<ShiftedSlices>(slices, tree.rows, tree.cols,
                result.shifts[size_t(k)], [&tree, k](int s, float *out, QString *err) {
                    return tree.readSlice(k, s, out, err);
                }));
        }
        for (int s = 0; s < slices; ++s) {
            // The energies' slices are read side by side; each energy has its own shifter.
            std::vector<QString> errors(static_cast<size_t>(count));
            std::vector<char> read(static_cast<size_t>(count), 0);
            parallelRange(size_t(count), readers, [&](size_t b, size_t e, int) {
                for (size_t i = b; i < e; ++i) {
                    float *out = block.data() + i * area;
                    read[i] = options.align ? shifters[i]->slice(s, out, &errors[i])
                                            : tree.readSlice(e0 + int(i), s, out, &errors[i]);
                }
            });
            for (int i = 0; i < count; ++i)
                if (!read[size_t(i)]) {
                    if (error)
                        *error = errors[size_t(i)];
                    file.abort();
                    return false;
                }
            if (!file.writeBlock(e0, count, s, block.data(), error)) {
                file.abort();
                return false;
            }
        }
        say(QString("Energies %1 ... %2 of %3 written").arg(e0 + 1).arg(e0 + count).arg(energies));
    }

    StackFile::Axes axes;
    for (const auto &e : tree.energies) {
        axes.energyEv.push_back(e.energyEv);
        axes.cor.push_back(e.cor);
    }
    axes.shift = result.shifts;
    axes.sliceNumbers.assign(tree.slices.cbegin(), tree.slices.cend());
    StackFile::Notes notes;
    notes.method = tree.method;
    notes.filter = tree.filter;
    notes.valueScale = tree.format == SeriesTree::Format::Tiff
        ? QString("attenuation per pixel as reconstructed, from float TIFF slices")
        : QString("attenuation per pixel as reconstructed, from CT image data files less "
                  "their offset %1")
              .arg(tree.dataOffset);
    notes.alignment = options.align
        ? QString("3-D upsampled phase correlation of neighbouring energies on the central "
                  "%1 x %2 x %3 voxels, accumulated to %4 eV; cubic resampling")
              .arg(result.subVolume[0])
              .arg(result.subVolume[1])
              .arg(result.subVolume[2])
              .arg(tree.energies[result.refIndex].energyEv)
        : QString("none");
    if (!file.writeAxes(axes, notes, error) || !file.commit(error)) {
        file.abort();
        return false;
    }
    result.writeSeconds = clock.elapsed() / 1000.0;

    if (!options.tablePath.isEmpty()) {
        QSaveFile table(options.tablePath);
        if (!table.open(QIODevice::WriteOnly)
            || table.write(shiftTable(tree, result, options.maxShift).toUtf8()) < 0
            || !table.commit())
            return setError(error, "cannot write the table of shifts " + options.tablePath);
    }
    return true;
}
