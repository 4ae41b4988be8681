// Throughput of the reconstruction workers: slices per second for a pool of 1, 2, ...
// workers on their own threads, with data files and pictures going to the saver. Workers
// share nothing mutable and never wait for the disk, so the rate should grow with the pool
// up to the number of cores.
#include "CtCalc2.h"
#include "CtCalc2Ui.h"
#include "DataSaver.h"
#include "HSgm.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <numbers>

namespace {

constexpr int Width = 513;
constexpr int Rows = 360;

void fillSinogram(HSgm *sgm, bool, double, int slice)
{
    sgm->setSize(Width, Rows);
    const double c = (Width - 1) / 2.0;
    for (int i = 0; i < Rows; ++i) {
        const double th = i * std::numbers::pi / Rows;
        for (int j = 0; j < Width; ++j) {
            const double r = Width * 0.2;
            const double u = j - c - Width * 0.1 * std::cos(th + slice);
            const double v = std::abs(u) < r ? 2.0 * std::sqrt(r * r - u * u) * 0.001 : 0.0;
            sgm->sgmRow(i)[j] = v;
            sgm->rawRow(i)[j] = std::exp(-v);
        }
    }
}

QApplication &app()
{
    static int argc = 1;
    static char name[] = "bench_workers";
    static char *argv[] = { name, nullptr };
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication a(argc, argv);
    return a;
}

class Dispatcher : public QObject
{
    Q_OBJECT
signals:
    void startCt(CtCalc2 *ctc2, bool rotAxIsV, double cor, int slice, bool genImg);
};

void workers(benchmark::State &state)
{
    app();
    const int count = static_cast<int>(state.range(0));
    const int slicesPerRound = 2 * count;
    QTemporaryDir dir;
    CtParams params;
    params.dataSetImages = Rows;
    DataSaver saver;
    saver.inSubFolders = false;
    QThread saverThread;
    saver.moveToThread(&saverThread);
    saverThread.start();

    Dispatcher dispatcher;
    QList<CtCalc2 *> pool;
    QList<CtCalc2Ui *> views;
    QList<QThread *> threads;
    for (int i = 0; i < count; ++i) {
        auto *view = new CtCalc2Ui;
        auto *w = new CtCalc2;
        w->setUi(view);
        w->setCtParams(&params);
        w->setSinogramSource(fillSinogram);
        w->setupFFT(Width - 1, Rows);
        w->setSaveData(true, dir.path(), "b", "w");
        w->setSaveImage(true, dir.path(), "b", "w");
        QObject::connect(&dispatcher, &Dispatcher::startCt, w,
            qOverload<CtCalc2 *, bool, double, int, bool>(&CtCalc2::startCt));
        QObject::connect(w, &CtCalc2::saveDataWDiscard, &saver, &DataSaver::saveDataWDiscard);
        QObject::connect(w, &CtCalc2::saveImgWDiscard, &saver, &DataSaver::saveImgWDiscard);
        auto *t = new QThread;
        w->moveToThread(t);
        t->start();
        pool << w;
        views << view;
        threads << t;
    }

    int next = 0;
    int done = 0;
    QEventLoop loop;
    auto dispatch = [&] {
        for (CtCalc2 *w : pool)
            if (next < slicesPerRound && !w->busy)
                emit dispatcher.startCt(w, false, 0.0, next++, false);
    };
    for (CtCalc2 *w : pool)
        QObject::connect(w, &CtCalc2::calcFinished, &loop, [&] {
            if (++done == slicesPerRound)
                loop.quit();
            else
                dispatch();
        });

    for (auto _ : state) {
        next = done = 0;
        dispatch();
        loop.exec();
    }
    state.SetItemsProcessed(state.iterations() * slicesPerRound);

    shutDownWorkers(pool, &saver);
    qDeleteAll(pool);
    qDeleteAll(threads);
    qDeleteAll(views);
}

} // namespace

BENCHMARK(workers)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

#include "bench_workers.moc"
