// Frame time of the 3D view as the user meets it: CtView's own paint path (the picture is
// re-rendered in full, then the canvas repainted) for an oblique view of a loaded set, on
// all cores, for 256^3 at a 256^2 picture and 512^3 at 512^2. The sets are files read by the
// view's own loader, pictures (tiff 0) or float TIFF slices as the reconstruction writes them
// (tiff 1): a sphere of noisy material in a cylinder of air.
#include "CtTiffData.h"
#include "CtView.h"
#include "DispA.h"
#include "MipRenderer.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>

namespace {

QStringList writeVolume(const QString &dir, int side, bool tiff)
{
    QStringList files;
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> noise(0, 40);
    const double c = (side - 1) / 2.0;
    const double r = side * 0.42;
    QImage img(side, side, QImage::Format_Grayscale8);
    for (int j = 0; j < side; ++j) {
        for (int y = 0; y < side; ++y) {
            uchar *row = img.scanLine(y);
            for (int x = 0; x < side; ++x) {
                const double d = std::hypot(x - c, y - c, j - c);
                int v = d < r ? 120 + noise(gen) : noise(gen) / 8;
                if (d < r * 0.3)
                    v = 220 + noise(gen) / 4; // a dense core
                row[x] = uchar(std::min(v, 255));
            }
        }
        const QString name = QDir(dir).filePath(
            QString("s%1.%2").arg(j, 5, 10, QChar('0')).arg(tiff ? "tif" : "png"));
        if (tiff) {
            // The same levels as values of a reconstruction, a little apart from whole numbers.
            std::vector<double> values(size_t(side) * side);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                    values[size_t(y) * side + x] = img.constScanLine(y)[x] * 0.001 + 1e-5 * x;
            CtTiffData::Info info;
            info.x1 = side;
            info.z1 = side;
            QFile f(name);
            if (!f.open(QIODevice::WriteOnly)
                || f.write(CtTiffData::make(values.data(), side, side, info, false)) <= 0)
                return {};
        } else {
            img.save(name);
        }
        files << name;
    }
    return files;
}

// One loaded view per size, kept for all the runs of that size.
struct Scene
{
    QTemporaryDir dir;
    std::unique_ptr<CtView> view;
};

Scene *scene(int side, bool tiff)
{
    static std::map<std::pair<int, bool>, std::unique_ptr<Scene>> scenes;
    auto &s = scenes[{ side, tiff }];
    if (s)
        return s.get();
    s = std::make_unique<Scene>();
    const QStringList files = writeVolume(s->dir.path(), side, tiff);
    s->view = std::make_unique<CtView>();
    CtView &v = *s->view;
    v.resize(1000, 800);
    v.show();
    SlicesCtrl *c = v.ctrls.first();
    QMetaObject::invokeMethod(
        c->sliceDatas(), "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files));
    QElapsedTimer t;
    t.start();
    while (c->sliceDatas()->current()->ss() < side && t.elapsed() < 600000) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();
    // Air below the lower threshold, the material and the core inside the window.
    c->setMinThPC(30, false);
    c->setMaxThPC(100, false);
    v.findChild<QLineEdit *>("imgPixWidth_")->setText(QString::number(side));
    v.findChild<QLineEdit *>("imgPixHeight_")->setText(QString::number(side));
    v.updateNvs(Vec3(0.6, 0.8, 0), 0.5);
    QCoreApplication::processEvents();
    return s.get();
}

// range(0): set and picture side; range(1): 1 with the cutting plane on; range(2): 1 for
// float TIFF slices.
void BM_ctViewFrame(benchmark::State &state)
{
    const int side = int(state.range(0));
    Scene *s = scene(side, state.range(2) != 0);
    CtView &v = *s->view;
    SlicesCtrl *c = v.ctrls.first();
    c->findChild<QCheckBox *>("showCSection_")->setChecked(state.range(1) != 0);
    QCoreApplication::processEvents();
    if (c->sliceDatas()->current()->ss() != side) {
        state.SkipWithError("the slice set did not load");
        return;
    }
    for (auto _ : state) {
        v.paintPImg();
        v.canvas()->repaint();
    }
    state.SetLabel(MipRenderer::pathName());
    state.counters["ns_per_sample"] = benchmark::Counter(double(side) * side * side,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_ctViewFrame)
    ->ArgNames({ "side", "cut", "tiff" })
    ->Args({ 256, 0, 0 })
    ->Args({ 256, 1, 0 })
    ->Args({ 256, 0, 1 })
    ->Args({ 256, 1, 1 })
    ->Args({ 512, 0, 0 })
    ->Args({ 512, 1, 0 })
    ->Args({ 512, 0, 1 })
    ->Args({ 512, 1, 1 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
