#include "Projector.h"

#include "DxchangeWriter.h"
#include "ItexWriter.h"
#include "Phantom.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <numbers>
#include <thread>

double Projector::counts(double lineIntegral, double i0, double bg)
{
    return bg + (i0 - bg) * std::exp(-lineIntegral);
}

quint16 Projector::toPixel(double counts)
{
    if (!(counts > 0.0)) // NaN too
        return 0;
    if (counts >= 65535.0)
        return 65535;
    return quint16(std::lround(counts));
}

double Projector::angle(int i) const
{
    return projections > 0 ? i * (rangeDeg * std::numbers::pi / 180.0) / projections : 0.0;
}

qint64 Projector::poisson(double mean, std::mt19937_64 &rng)
{
    if (!(mean > 0.0))
        return 0;
    // Uniforms from the top 53 bits, so that a seed gives the same files on every platform.
    auto uniform = [&rng]() { return double(rng() >> 11) * 0x1.0p-53; };
    if (mean < 10.0) {
        // Multiplication of uniforms until the product drops below exp(-mean).
        const double limit = std::exp(-mean);
        qint64 k = 0;
        for (double prod = uniform(); prod > limit; prod *= uniform())
            ++k;
        return k;
    }
    // Transformed rejection with squeeze (Hoermann 1993): most draws are accepted by the
    // squeeze without evaluating a logarithm.
    const double sq = std::sqrt(mean);
    const double logMean = std::log(mean);
    const double b = 0.931 + 2.53 * sq;
    const double a = -0.059 + 0.02483 * b;
    const double invAlpha = 1.1239 + 1.1328 / (b - 3.4);
    const double vr = 0.9277 - 3.6224 / (b - 2.0);
    for (;;) {
        const double u = uniform() - 0.5;
        const double v = uniform();
        const double us = 0.5 - std::abs(u);
        const double k = std::floor((2.0 * a / us + b) * u + mean + 0.43);
        if (us >= 0.07 && v <= vr)
            return qint64(k);
        if (k < 0.0 || (us < 0.013 && v > us))
            continue;
        if (std::log(v) + std::log(invAlpha) - std::log(a / (us * us) + b)
            <= -mean + k * logMean - std::lgamma(k + 1.0))
            return qint64(k);
    }
}

std::mt19937_64 Projector::generator(Kind kind, int set, int image) const
{
    std::seed_seq seq { quint32(seed), quint32(seed >> 32), quint32(kind), quint32(set),
        quint32(image) };
    return std::mt19937_64(seq);
}

void Projector::toPixels(const double *lines, quint16 *pixels, std::mt19937_64 &rng) const
{
    const int w = detector.width;
    const int h = detector.height;
    const int len = detector.lineLength();
    const double a = i0 - bg;
    for (int y = 0; y < h; ++y) {
        quint16 *out = pixels + size_t(y) * w;
        // With a horizontal axis image row y is pixel y of every detector line.
        const double *in = detector.horizontalAxis ? lines + y : lines + size_t(y) * len;
        const size_t step = detector.horizontalAxis ? size_t(len) : 1;
        if (!noise) {
            for (int x = 0; x < w; ++x)
                out[x] = toPixel(bg + a * std::exp(-in[x * step]));
            continue;
        }
        for (int x = 0; x < w; ++x)
            out[x] = toPixel(double(poisson(bg + a * std::exp(-in[x * step]), rng)));
    }
}

QString Projector::fileName(const QString &prefix, int index, int count)
{
    const int digits = std::max<int>(5, QString::number(std::max(count - 1, 0)).size());
    return QStringLiteral("%1-%2.img").arg(prefix).arg(index, digits, 10, QLatin1Char('0'));
}

QString Projector::headerExtra(double angleDeg, double energy)
{
    // Extra items a reader may show; the program's reader ignores keys it does not know.
    QString extra;
    if (angleDeg >= 0.0)
        extra += QStringLiteral("Phantom_Angle=%1,").arg(angleDeg, 0, 'f', 6);
    if (energy > 0.0)
        extra += QStringLiteral("Phantom_Energy=%1,").arg(energy, 0, 'f', 3);
    return extra;
}

bool Projector::writeProjections(const Phantom &phantom, double energy, const QString &folder,
    const QString &prefix, int set, QStringList *written, QString *error) const
{
    if (!detector.isValid() || projections < 1) {
        if (error)
            *error = QStringLiteral("invalid detector or projection count");
        return false;
    }
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error)
            *error = QStringLiteral("cannot create folder %1").arg(folder);
        return false;
    }
    QStringList paths;
    for (int i = 0; i < projections; ++i)
        paths << dir.filePath(fileName(prefix, i, projections));

    std::atomic<int> next { 0 };
    std::atomic<bool> failed { false };
    std::mutex errorMutex;
    QString firstError;
    const size_t pixelCount = size_t(detector.width) * detector.height;
    // Workers share only read-only state (phantom, settings, paths) and the atomics; each
    // has its own buffers and writes its own files.
    auto work = [&]() {
        std::vector<double> lines(pixelCount);
        std::vector<quint16> pixels(pixelCount);
        for (int i = next++; i < projections && !failed; i = next++) {
            const double theta = angle(i);
            phantom.projectLines(detector, theta, energy, lines.data());
            std::mt19937_64 rng = generator(ProjectionImage, set, i);
            toPixels(lines.data(), pixels.data(), rng);
            if (!writeItexFile(paths[i], detector.width, detector.height, 2, pixels.data(),
                    exposureTime, headerExtra(theta * 180.0 / std::numbers::pi, energy))) {
                std::lock_guard lock(errorMutex);
                if (!failed.exchange(true))
                    firstError = QStringLiteral("Cannot write the file %1").arg(paths[i]);
            }
        }
    };
    int n = threads > 0 ? threads : QThread::idealThreadCount();
    n = std::clamp(n, 1, projections);
    std::vector<std::thread> pool;
    for (int t = 1; t < n; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();
    if (failed) {
        if (error)
            *error = firstError;
        return false;
    }
    if (written)
        *written += paths;
    return true;
}

std::vector<quint16> Projector::flatPixels(Kind kind, int set) const
{
    const double level = kind == BGImage ? bg : i0;
    std::vector<quint16> pixels(size_t(detector.width) * detector.height);
    if (noise && kind == I0Image && level > 0.0) {
        std::mt19937_64 rng = generator(kind, set, 0);
        for (quint16 &p : pixels)
            p = toPixel(double(poisson(level, rng)));
    } else {
        std::fill(pixels.begin(), pixels.end(), toPixel(level));
    }
    return pixels;
}

bool Projector::writeFlat(
    const QString &path, Kind kind, int set, double energy, QString *error) const
{
    const std::vector<quint16> pixels = flatPixels(kind, set);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())
        || !writeItexFile(path, detector.width, detector.height, 2, pixels.data(), exposureTime,
            headerExtra(-1.0, energy))) {
        if (error)
            *error = QStringLiteral("Cannot write the file %1").arg(path);
        return false;
    }
    return true;
}

bool Projector::writeHdf5(
    const Phantom &phantom, const QString &path, int gzipLevel, QString *error) const
{
    if (!detector.isValid() || projections < 1) {
        if (error)
            *error = QStringLiteral("invalid detector or projection count");
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    DxchangeWriter writer;
    if (!writer.create(path, projections, detector.height, detector.width, gzipLevel, error))
        return false;

    std::atomic<int> next { 0 };
    std::atomic<bool> failed { false };
    std::mutex errorMutex;
    QString firstError;
    const size_t pixelCount = size_t(detector.width) * detector.height;
    // As writeProjections, with the same noise per image; the writer takes one projection at
    // a time.
    auto work = [&]() {
        std::vector<double> lines(pixelCount);
        std::vector<quint16> pixels(pixelCount);
        for (int i = next++; i < projections && !failed; i = next++) {
            phantom.projectLines(detector, angle(i), 0.0, lines.data());
            std::mt19937_64 rng = generator(ProjectionImage, 0, i);
            toPixels(lines.data(), pixels.data(), rng);
            QString why;
            if (!writer.writeProjection(i, pixels.data(), &why)) {
                std::lock_guard lock(errorMutex);
                if (!failed.exchange(true))
                    firstError = why;
            }
        }
    };
    int n = threads > 0 ? threads : QThread::idealThreadCount();
    n = std::clamp(n, 1, projections);
    std::vector<std::thread> pool;
    for (int t = 1; t < n; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();
    if (failed) {
        if (error)
            *error = firstError;
        return false;
    }
    std::vector<double> theta(static_cast<size_t>(projections));
    for (int i = 0; i < projections; ++i)
        theta[size_t(i)] = i * rangeDeg / projections;
    return writer.writeWhite(flatPixels(I0Image, 0).data(), 1, error)
        && writer.writeDark(flatPixels(BGImage, 0).data(), 1, error)
        && writer.writeTheta(theta, error) && writer.close(error);
}
