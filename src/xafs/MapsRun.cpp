#include "MapsRun.h"

#include "LinearCombination.h"
#include "ParallelRange.h"
#include "SpectraPca.h"
#include "SpectraReader.h"

#include <hdf5.h>
#include <tiffio.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

const char *const kEdgeMaps[] = { "edge_step", "e0", "e0_half", "white_line", "white_line_energy" };
constexpr int kEdgeMapCount = 5;

struct MapInfo
{
    const char *units;
    const char *longName;
};

MapInfo infoFor(const QString &name)
{
    if (name == QLatin1String("edge_step"))
        return { "", "edge step: post-edge minus pre-edge at E0" };
    if (name == QLatin1String("e0"))
        return { "eV", "E0: largest slope of the smoothed spectrum" };
    if (name == QLatin1String("e0_half"))
        return { "eV", "energy where the normalised spectrum reaches one half" };
    if (name == QLatin1String("white_line"))
        return { "", "white-line height in the normalised spectrum" };
    if (name == QLatin1String("white_line_energy"))
        return { "eV", "white-line position" };
    if (name == QLatin1String("r_factor"))
        return { "", "R-factor of the linear-combination fit" };
    return { "", "weight of the reference in the linear-combination fit" };
}

void setStringAttr(hid_t obj, const char *name, const QString &value)
{
    const QByteArray v = value.toUtf8();
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, std::max<size_t>(1, size_t(v.size())));
    H5Tset_cset(type, H5T_CSET_UTF8);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t a = H5Acreate2(obj, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, type, v.isEmpty() ? "" : v.constData());
    H5Aclose(a);
    H5Sclose(space);
    H5Tclose(type);
}

void setDoubleAttr(hid_t obj, const char *name, const double *values, hsize_t n)
{
    const hid_t space = H5Screate_simple(1, &n, nullptr);
    const hid_t a = H5Acreate2(obj, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_DOUBLE, values);
    H5Aclose(a);
    H5Sclose(space);
}

void setIntAttr(hid_t obj, const char *name, int value)
{
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t a = H5Acreate2(obj, name, H5T_STD_I32LE, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_INT, &value);
    H5Aclose(a);
    H5Sclose(space);
}

hid_t makeGroup(hid_t parent, const char *name, const char *nxClass)
{
    const hid_t g = H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    if (g >= 0)
        setStringAttr(g, "NX_class", QString::fromLatin1(nxClass));
    return g;
}

bool writeVector(
    hid_t parent, const char *name, hid_t fileType, hid_t memType, const void *data, hsize_t n)
{
    const hid_t space = H5Screate_simple(1, &n, nullptr);
    const hid_t d
        = H5Dcreate2(parent, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = d >= 0 && H5Dwrite(d, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0;
    if (d >= 0)
        H5Dclose(d);
    H5Sclose(space);
    return ok;
}

bool writeBox(hid_t d, int rank, const hsize_t *start, const hsize_t *count, const float *data)
{
    const hid_t fs = H5Dget_space(d);
    H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr);
    const hid_t ms = H5Screate_simple(rank, count, nullptr);
    const bool ok = H5Dwrite(d, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, data) >= 0;
    H5Sclose(ms);
    H5Sclose(fs);
    return ok;
}

QString rangeText(double a, double b)
{
    return QStringLiteral("%1:%2").arg(a, 0, 'g', 6).arg(b, 0, 'g', 6);
}

} // namespace

QStringList MapsRun::mapNames(const QStringList &referenceStems)
{
    QStringList names;
    for (const char *n : kEdgeMaps)
        names << QString::fromLatin1(n);
    for (const QString &s : referenceStems)
        names << QStringLiteral("fraction_") + s;
    if (!referenceStems.isEmpty())
        names << QStringLiteral("r_factor");
    return names;
}

bool MapsRun::writeFloatTiff(const QString &path, const float *pixels, int w, int h,
    const QString &description, QString &error)
{
    const QString tmp = path + QStringLiteral(".part");
    TIFF *t = TIFFOpen(QFile::encodeName(tmp).constData(), "w");
    if (!t) {
        error = QStringLiteral("cannot write %1").arg(tmp);
        return false;
    }
    const QByteArray text = description.toUtf8();
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, quint32(w))
        && TIFFSetField(t, TIFFTAG_IMAGELENGTH, quint32(h))
        && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, quint16(1))
        && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, quint16(32))
        && TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, quint16(SAMPLEFORMAT_IEEEFP))
        && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, quint16(PHOTOMETRIC_MINISBLACK))
        && TIFFSetField(t, TIFFTAG_PLANARCONFIG, quint16(PLANARCONFIG_CONTIG))
        && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, quint32(std::max(1, 65536 / std::max(1, w))))
        && TIFFSetField(t, TIFFTAG_SOFTWARE, "Vexa2")
        && TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, text.constData());
    for (int y = 0; ok && y < h; ++y)
        ok = TIFFWriteScanline(t, const_cast<float *>(pixels + std::size_t(y) * w), quint32(y), 0)
            >= 0;
    TIFFClose(t);
    if (!ok
        || std::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(path).constData())
            != 0) {
        QFile::remove(tmp);
        error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

bool MapsRun::run(const MapsOptions &o, MapsReport &report, QString &error,
    const std::function<void(const QString &)> &log)
{
    auto say = [&](const QString &s) {
        if (log)
            log(s);
    };
    report = MapsReport();
    SpectraReader in;
    if (!in.open(o.stackPath)) {
        error = in.error();
        return false;
    }
    const std::size_t ne = in.energyCount(), ns = in.slices(), nr = in.rows(), nc = in.columns();
    report.energies = ne;
    report.firstEnergy = in.energies().front();
    report.lastEnergy = in.energies().back();
    report.slices = ns;
    report.rows = nr;
    report.columns = nc;
    const std::vector<double> &energies = in.energies();
    if (ne < 6) {
        error = QStringLiteral("%1: %2 energies are too few for an edge").arg(o.stackPath).arg(ne);
        return false;
    }
    const int workers
        = o.workers > 0 ? o.workers : std::max(1, int(std::thread::hardware_concurrency()));

    // References first: a bad file should fail before any long pass.
    std::vector<LinearCombination::Reference> refs;
    QStringList stems;
    for (const QString &path : o.references) {
        LinearCombination::Reference r;
        QString why;
        if (!LinearCombination::readReference(path, r, &why)) {
            error = why;
            return false;
        }
        if (stems.contains(r.name)) {
            error = QStringLiteral("two references named %1 (%2)").arg(r.name, path);
            return false;
        }
        stems << r.name;
        refs.push_back(std::move(r));
    }
    std::unique_ptr<LinearCombination> lcf;
    if (!refs.empty()) {
        lcf = std::make_unique<LinearCombination>(energies, refs, o.sumToOne, o.fitFrom, o.fitTo);
        if (!lcf->valid()) {
            error = QStringLiteral("%1: %2").arg(o.references.join(u' '), lcf->error());
            return false;
        }
    }
    const int nk = int(refs.size());
    const QStringList names = mapNames(stems);
    report.mapNames = names;
    const int nmaps = names.size();

    // Blocks: whole spectra of [slices] x [rows] x all columns, on chunk boundaries. Two of
    // them are held, since the next block is read while the workers analyse this one; a large
    // stack is taken in at least eight blocks so that reading and analysis overlap.
    const double bytesPerVoxel = 2.0 * double(ne) * sizeof(float) + nmaps * sizeof(float);
    const std::size_t budgetVoxels = std::max<std::size_t>(nc,
        std::min(std::size_t(o.memoryBudgetMiB * 1048576.0 / bytesPerVoxel),
            std::max<std::size_t>(ns * nr * nc / 8, std::size_t(1) << 16)));
    std::size_t blockSlices = 1, blockRows = nr;
    if (budgetVoxels >= nr * nc) {
        blockSlices = std::min(ns, budgetVoxels / (nr * nc));
        const std::size_t cs = in.chunk()[1];
        if (cs > 1 && blockSlices >= cs)
            blockSlices -= blockSlices % cs;
    } else {
        blockRows = std::max<std::size_t>(1, budgetVoxels / nc);
        const std::size_t cr = in.chunk()[2];
        if (cr > 1 && blockRows >= cr)
            blockRows -= blockRows % cr;
    }
    report.blockVoxels = blockSlices * blockRows * nc;
    struct Box
    {
        std::size_t s0, bs, r0, br;
    };
    std::vector<Box> boxes;
    for (std::size_t s0 = 0; s0 < ns; s0 += blockSlices)
        for (std::size_t r0 = 0; r0 < nr; r0 += blockRows)
            boxes.push_back({ s0, std::min(blockSlices, ns - s0), r0, std::min(blockRows, nr - r0) });
    std::vector<float> blocks[2];
    blocks[0].resize(ne * report.blockVoxels);
    if (boxes.size() > 1)
        blocks[1].resize(ne * report.blockVoxels);
    // fn(s0, bs, r0, br, spectra) for every block in turn; the block after it is read on a
    // thread of its own meanwhile (the HDF5 library serialises its calls).
    auto forEachBlock = [&](const std::function<bool(
                                std::size_t, std::size_t, std::size_t, std::size_t, float *)> &fn) {
        auto read = [&](const Box &b, float *to) {
            QElapsedTimer c;
            c.start();
            const bool ok = in.readBlock(b.s0, b.bs, b.r0, b.br, to);
            report.readSeconds += c.nsecsElapsed() * 1e-9;
            return ok;
        };
        if (boxes.empty())
            return true;
        if (!read(boxes[0], blocks[0].data())) {
            error = in.error();
            return false;
        }
        for (std::size_t k = 0; k < boxes.size(); ++k) {
            bool nextOk = true;
            std::thread next;
            if (k + 1 < boxes.size())
                next = std::thread(
                    [&, k] { nextOk = read(boxes[k + 1], blocks[(k + 1) % 2].data()); });
            const Box &b = boxes[k];
            const bool ok = fn(b.s0, b.bs, b.r0, b.br, blocks[k % 2].data());
            if (next.joinable())
                next.join();
            if (!ok)
                return false;
            if (!nextOk) {
                error = in.error();
                return false;
            }
        }
        return true;
    };
    // PCA before everything else: a first pass gathers the covariance of the spectra.
    std::unique_ptr<SpectraPca> pca;
    if (o.pcaComponents > 0) {
        if (o.pcaComponents > int(ne)) {
            error = QStringLiteral("%1: %2 components asked for %3 energies")
                        .arg(o.stackPath)
                        .arg(o.pcaComponents)
                        .arg(ne);
            return false;
        }
        pca = std::make_unique<SpectraPca>(int(ne), workers);
        say(QStringLiteral("PCA: gathering the covariance of %1 spectra").arg(ns * nr * nc));
        if (!forEachBlock([&](std::size_t, std::size_t bs, std::size_t, std::size_t br,
                              float *block) {
                QElapsedTimer c;
                c.start();
                pca->accumulate(block, bs * br * nc);
                report.computeSeconds += c.nsecsElapsed() * 1e-9;
                return true;
            }))
            return false;
        pca->finish(o.pcaComponents);
        report.pcaExplained = pca->explainedVariance();
        say(QStringLiteral("PCA: %1 components explain %2 % of the variance")
                .arg(o.pcaComponents)
                .arg(100 * report.pcaExplained, 0, 'f', 4));
    }

    // Default ranges from the energies present around the edge of the middle slice's mean.
    SpectrumEdge::Params edge = o.edge;
    {
        std::vector<double> mean;
        double e0 = edge.fixedE0;
        if (std::isnan(e0)) {
            const std::size_t mid = ns / 2;
            if (!in.readMeanSpectrum(mid, mid + 1, 0, nr, 0, nc, mean)) {
                error = in.error();
                return false;
            }
            std::vector<double> work(2 * ne);
            e0 = SpectrumEdge::edgeEnergy(energies, mean.data(), edge.smoothing, work.data());
        }
        report.e0Guess = e0;
        SpectrumEdge::Params def = edge;
        SpectrumEdge::defaultRanges(energies, e0, def);
        if (!o.preGiven) {
            edge.preFrom = def.preFrom;
            edge.preTo = def.preTo;
        }
        if (!o.postGiven) {
            edge.postFrom = def.postFrom;
            edge.postTo = def.postTo;
        }
    }
    report.edge = edge;
    say(QStringLiteral("pre-edge %1 eV%2, post-edge %3 eV%4 (order %5), relative to E0 (edge of "
                       "the mean spectrum near %6 eV)")
            .arg(rangeText(edge.preFrom, edge.preTo), o.preGiven ? "" : " (default)",
                rangeText(edge.postFrom, edge.postTo), o.postGiven ? "" : " (default)")
            .arg(edge.postOrder)
            .arg(report.e0Guess, 0, 'f', 2));
    const SpectrumEdge analyser(energies, edge);

    // The output, under a temporary name beside the final one.
    const QString tmpPath = QStringLiteral("%1.part%2").arg(o.outPath).arg(qint64(getpid()));
    QFile::remove(tmpPath);
    const hid_t out = H5Fcreate(
        QFile::encodeName(tmpPath).constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (out < 0) {
        error = QStringLiteral("cannot create %1").arg(tmpPath);
        return false;
    }
    bool ok = true;
    const hid_t entry = makeGroup(out, "entry", "NXentry");
    setStringAttr(out, "default", QStringLiteral("entry"));
    setStringAttr(entry, "default",
        nk ? QStringLiteral("fraction_") + stems[0] : QStringLiteral("edge_step"));
    setStringAttr(entry, "program", QStringLiteral("vexa2-spectra maps"));
    setStringAttr(entry, "source", QFileInfo(o.stackPath).absoluteFilePath());
    {
        const double pre[2] = { edge.preFrom, edge.preTo };
        const double post[2] = { edge.postFrom, edge.postTo };
        setDoubleAttr(entry, "pre_edge_range", pre, 2);
        setDoubleAttr(entry, "post_edge_range", post, 2);
        setStringAttr(entry, "pre_edge_range_chosen",
            o.preGiven ? QStringLiteral("given") : QStringLiteral("default from the energies"));
        setStringAttr(entry, "post_edge_range_chosen",
            o.postGiven ? QStringLiteral("given") : QStringLiteral("default from the energies"));
        setIntAttr(entry, "post_edge_order", edge.postOrder);
        setIntAttr(entry, "smoothing_passes", edge.smoothing);
        setStringAttr(entry, "smoothing", QStringLiteral("[1 2 1]/4 passes before the derivative"));
        setDoubleAttr(entry, "e0_guess", &report.e0Guess, 1);
        setStringAttr(entry, "e0_method",
            std::isnan(edge.fixedE0)
                ? QStringLiteral(
                    "largest slope: steepest step after smoothing, refined by the quintic "
                    "through the six measured values around it")
                : QStringLiteral("given: %1 eV").arg(edge.fixedE0, 0, 'g', 10));
        setDoubleAttr(entry, "white_line_span", &edge.whiteLineSpan, 1);
        setStringAttr(entry, "min_step",
            std::isnan(o.minStep) ? QStringLiteral(
                "5 x the standard error of each voxel's step (from its pre-edge rms)")
                                  : QString::number(o.minStep, 'g', 8));
        setIntAttr(entry, "pca_components", o.pcaComponents);
        if (pca)
            setDoubleAttr(entry, "pca_explained_variance", &report.pcaExplained, 1);
        QStringList absRefs;
        for (const QString &r : o.references)
            absRefs << QFileInfo(r).absoluteFilePath();
        setStringAttr(entry, "references", absRefs.join(u'\n'));
        setIntAttr(entry, "sum_to_one", o.sumToOne ? 1 : 0);
        if (lcf) {
            const double fr[2] = { energies[lcf->fitBegin()], energies[lcf->fitEnd() - 1] };
            setDoubleAttr(entry, "fit_range", fr, 2);
        }
    }
    ok = ok && writeVector(entry, "energy", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, energies.data(), ne);
    ok = ok
        && writeVector(
            entry, "slice_numbers", H5T_STD_I32LE, H5T_NATIVE_INT, in.sliceNumbers().data(), ns);

    std::vector<hid_t> mapSets;
    const hsize_t mapDims[3] = { ns, nr, nc };
    const hsize_t mapChunk[3] = { 1, std::min<hsize_t>(nr, 512), std::min<hsize_t>(nc, 512) };
    for (const QString &name : names) {
        const QByteArray n = name.toLatin1();
        const hid_t g = makeGroup(entry, n.constData(), "NXdata");
        setStringAttr(g, "signal", QStringLiteral("data"));
        const hid_t space = H5Screate_simple(3, mapDims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 3, mapChunk);
        const float nanFill = std::numeric_limits<float>::quiet_NaN();
        H5Pset_fill_value(dcpl, H5T_NATIVE_FLOAT, &nanFill);
        const hid_t d
            = H5Dcreate2(g, "data", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        H5Pclose(dcpl);
        H5Sclose(space);
        ok = ok && d >= 0;
        if (d >= 0) {
            const MapInfo info = infoFor(name);
            if (*info.units)
                setStringAttr(d, "units", QString::fromLatin1(info.units));
            setStringAttr(d, "long_name", QString::fromLatin1(info.longName));
            setStringAttr(g, "title", name);
        }
        mapSets.push_back(d);
        H5Gclose(g);
    }
    hid_t normSet = -1;
    if (o.writeNormalised) {
        const hid_t g = makeGroup(entry, "normalised", "NXdata");
        setStringAttr(g, "signal", QStringLiteral("mu"));
        ok = ok && writeVector(g, "energy", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, energies.data(), ne);
        const hsize_t dims[4] = { ne, ns, nr, nc };
        hsize_t chunk[4];
        for (int i = 0; i < 4; ++i)
            chunk[i] = std::max<hsize_t>(1, std::min<hsize_t>(dims[i], in.chunk()[i]));
        const hid_t space = H5Screate_simple(4, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 4, chunk);
        normSet = H5Dcreate2(g, "mu", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        H5Pclose(dcpl);
        H5Sclose(space);
        ok = ok && normSet >= 0;
        H5Gclose(g);
    }

    // The analysis, block by block; each thread owns a contiguous run of the block's voxels.
    std::vector<float> maps(std::size_t(nmaps) * report.blockVoxels);
    std::vector<std::size_t> noEdge(std::size_t(workers), 0);
    const float fnan = std::numeric_limits<float>::quiet_NaN();
    std::size_t done = 0;
    const std::size_t total = ns * nr * nc;
    ok = ok
        && forEachBlock([&](std::size_t s0, std::size_t bs, std::size_t r0, std::size_t br,
                            float *block) {
        const std::size_t nv = bs * br * nc;
        QElapsedTimer c;
        c.start();
        if (pca)
            pca->project(block, nv);
        parallelRange(nv, workers, [&](std::size_t b, std::size_t e, int w) {
            // The block holds one energy after another, a whole block apart; a tile of voxels
            // is first copied row by row (each energy's values contiguous), so that the
            // spectra are then read from the cache.
            constexpr std::size_t tileVoxels = 256;
            std::vector<float> tile(tileVoxels * ne), norm(ne);
            std::vector<double> absSums(tileVoxels);
            std::vector<double> work(analyser.workSize());
            double weights[LinearCombination::maxReferences];
            for (std::size_t t0 = b; t0 < e; t0 += tileVoxels) {
                const std::size_t nt = std::min(tileVoxels, e - t0);
                std::fill(absSums.begin(), absSums.end(), 0.0);
                for (std::size_t i = 0; i < ne; ++i) {
                    const float *from = block + i * nv + t0;
                    float *to = tile.data() + i * tileVoxels;
                    for (std::size_t j = 0; j < nt; ++j) {
                        to[j] = from[j];
                        absSums[j] += std::abs(double(from[j]));
                    }
                }
                for (std::size_t j = 0; j < nt; ++j) {
                    const std::size_t v = t0 + j;
                    float *mu = tile.data() + j;
                    const double absSum = absSums[j];
                    const SpectrumEdge::Result r
                        = analyser.analyse(mu, tileVoxels, work.data(), norm.data());
                    const double threshold = std::isnan(o.minStep)
                        ? std::max(5 * r.stepError, 1e-4 * absSum / double(ne))
                        : o.minStep;
                    const bool edgeOk = r.ok && r.step > threshold;
                    maps[0 * nv + v] = float(r.step);
                    if (edgeOk) {
                        maps[1 * nv + v] = float(r.e0);
                        maps[2 * nv + v] = float(r.e0Half);
                        maps[3 * nv + v] = float(r.whiteLine);
                        maps[4 * nv + v] = float(r.whiteLineEnergy);
                        if (lcf) {
                            const double rf = lcf->fit(norm.data(), weights);
                            for (int k = 0; k < nk; ++k)
                                maps[std::size_t(kEdgeMapCount + k) * nv + v] = float(weights[k]);
                            maps[std::size_t(kEdgeMapCount + nk) * nv + v] = float(rf);
                        }
                    } else {
                        ++noEdge[std::size_t(w)];
                        for (int m = 1; m < nmaps; ++m)
                            maps[std::size_t(m) * nv + v] = fnan;
                    }
                    if (normSet >= 0)
                        for (std::size_t i = 0; i < ne; ++i)
                            mu[i * tileVoxels] = norm[i];
                }
                if (normSet >= 0)
                    for (std::size_t i = 0; i < ne; ++i)
                        std::copy_n(tile.data() + i * tileVoxels, nt, block + i * nv + t0);
            }
        });
        report.computeSeconds += c.nsecsElapsed() * 1e-9;
        c.start();
        const hsize_t start[3] = { s0, r0, 0 };
        const hsize_t count[3] = { bs, br, nc };
        for (int m = 0; m < nmaps; ++m)
            if (!writeBox(
                    mapSets[std::size_t(m)], 3, start, count, maps.data() + std::size_t(m) * nv)) {
                error = QStringLiteral("cannot write %1 into %2").arg(names[m], tmpPath);
                return false;
            }
        if (normSet >= 0) {
            const hsize_t st4[4] = { 0, s0, r0, 0 };
            const hsize_t ct4[4] = { ne, bs, br, nc };
            if (!writeBox(normSet, 4, st4, ct4, block)) {
                error = QStringLiteral("cannot write the normalised stack into %1").arg(tmpPath);
                return false;
            }
        }
        report.writeSeconds += c.nsecsElapsed() * 1e-9;
        done += nv;
        if (total > 4 * report.blockVoxels)
            say(QStringLiteral("%1 % of the voxels analysed").arg(100 * done / total));
        return true;
    });
    for (hid_t d : mapSets)
        if (d >= 0)
            H5Dclose(d);
    if (normSet >= 0)
        H5Dclose(normSet);
    H5Gclose(entry);
    const bool closed = H5Fclose(out) >= 0;
    if (!ok || !closed) {
        if (error.isEmpty())
            error = QStringLiteral("cannot write %1").arg(tmpPath);
        QFile::remove(tmpPath);
        return false;
    }
    if (std::rename(
            QFile::encodeName(tmpPath).constData(), QFile::encodeName(o.outPath).constData())
        != 0) {
        error = QStringLiteral("cannot rename %1 to %2").arg(tmpPath, o.outPath);
        QFile::remove(tmpPath);
        return false;
    }
    report.voxels = total;
    for (std::size_t n : noEdge)
        report.withoutEdge += n;

    if (!o.tiffDir.isEmpty()) {
        // Read back slice by slice: the maps never need to be whole in memory.
        const hid_t f
            = H5Fopen(QFile::encodeName(o.outPath).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
        std::vector<float> image(nr * nc);
        for (const QString &name : names) {
            const QString dir = QDir(o.tiffDir).filePath(name);
            if (!QDir().mkpath(dir)) {
                error = QStringLiteral("cannot make the folder %1").arg(dir);
                H5Fclose(f);
                return false;
            }
            const hid_t d = H5Dopen2(
                f, QStringLiteral("/entry/%1/data").arg(name).toLatin1().constData(), H5P_DEFAULT);
            for (std::size_t s = 0; s < ns; ++s) {
                const hsize_t start[3] = { s, 0, 0 };
                const hsize_t count[3] = { 1, nr, nc };
                const hid_t fs = H5Dget_space(d);
                H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr);
                const hid_t ms = H5Screate_simple(3, count, nullptr);
                H5Dread(d, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, image.data());
                H5Sclose(ms);
                H5Sclose(fs);
                const QString file
                    = QDir(dir).filePath(QStringLiteral("%1_%2.tif")
                                             .arg(name)
                                             .arg(in.sliceNumbers()[s], 5, 10, QLatin1Char('0')));
                if (!writeFloatTiff(file, image.data(), int(nc), int(nr),
                        QStringLiteral("%1 slice %2 from %3")
                            .arg(name)
                            .arg(in.sliceNumbers()[s])
                            .arg(QFileInfo(o.stackPath).fileName()),
                        error)) {
                    H5Dclose(d);
                    H5Fclose(f);
                    return false;
                }
                report.tiffFiles << file;
            }
            H5Dclose(d);
        }
        H5Fclose(f);
    }
    return true;
}

namespace {
// Silences the HDF5 error stack while probing for objects that may be missing.
struct QuietHdf5
{
    H5E_auto2_t func = nullptr;
    void *data = nullptr;
    QuietHdf5()
    {
        H5Eget_auto2(H5E_DEFAULT, &func, &data);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    }
    ~QuietHdf5() { H5Eset_auto2(H5E_DEFAULT, func, data); }
};
} // namespace

QStringList MapsRun::mapsIn(const QString &path)
{
    const QuietHdf5 quiet;
    QStringList names;
    const hid_t f = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        return names;
    const hid_t entry = H5Gopen2(f, "/entry", H5P_DEFAULT);
    if (entry >= 0) {
        H5Literate(
            entry, H5_INDEX_NAME, H5_ITER_INC, nullptr,
            [](hid_t g, const char *name, const H5L_info_t *, void *data) -> herr_t {
                const QByteArray path = QByteArray(name) + "/data";
                if (H5Lexists(g, name, H5P_DEFAULT) > 0
                    && H5Oexists_by_name(g, path.constData(), H5P_DEFAULT) > 0) {
                    const hid_t d = H5Dopen2(g, path.constData(), H5P_DEFAULT);
                    const hid_t s = H5Dget_space(d);
                    if (H5Sget_simple_extent_ndims(s) == 3)
                        static_cast<QStringList *>(data)->append(QString::fromUtf8(name));
                    H5Sclose(s);
                    H5Dclose(d);
                }
                return 0;
            },
            &names);
        H5Gclose(entry);
    }
    H5Fclose(f);
    return names;
}

bool MapsRun::readMapSlice(const QString &path, const QString &name, std::size_t slice,
    std::vector<float> &out, std::size_t &rows, std::size_t &columns)
{
    const QuietHdf5 quiet;
    const hid_t f = H5Fopen(QFile::encodeName(path).constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0)
        return false;
    bool ok = false;
    const QByteArray p = QStringLiteral("/entry/%1/data").arg(name).toUtf8();
    const hid_t d = H5Lexists(f, "/entry", H5P_DEFAULT) > 0
            && H5Oexists_by_name(f, p.constData(), H5P_DEFAULT) > 0
        ? H5Dopen2(f, p.constData(), H5P_DEFAULT)
        : -1;
    if (d >= 0) {
        const hid_t fs = H5Dget_space(d);
        hsize_t dims[3] = { 0, 0, 0 };
        if (H5Sget_simple_extent_ndims(fs) == 3) {
            H5Sget_simple_extent_dims(fs, dims, nullptr);
            if (slice < dims[0]) {
                rows = dims[1];
                columns = dims[2];
                out.resize(rows * columns);
                const hsize_t start[3] = { slice, 0, 0 };
                const hsize_t count[3] = { 1, dims[1], dims[2] };
                H5Sselect_hyperslab(fs, H5S_SELECT_SET, start, nullptr, count, nullptr);
                const hid_t ms = H5Screate_simple(3, count, nullptr);
                ok = H5Dread(d, H5T_NATIVE_FLOAT, ms, fs, H5P_DEFAULT, out.data()) >= 0;
                H5Sclose(ms);
            }
        }
        H5Sclose(fs);
        H5Dclose(d);
    }
    H5Fclose(f);
    return ok;
}
