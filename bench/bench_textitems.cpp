// Splitting a long command line into its items: the time must grow with the line's length,
// not with its square (a configuration line of a million items is read before a batch starts).
#include "BatchCmd.h"
#include "TextUtil.h"

#include <benchmark/benchmark.h>

namespace {

QString lineOf(qint64 items)
{
    QString line = QStringLiteral("images_load");
    line.reserve(items * 4 + 16);
    for (qint64 i = 0; i < items; ++i)
        line += QStringLiteral(" ") + QString::number(i % 1000);
    return line;
}

void BM_SplitItems(benchmark::State &state)
{
    const QString line = lineOf(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(splitItems(line));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SplitItems)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_BatchCmdOfLongLine(benchmark::State &state)
{
    const QString line = lineOf(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(BatchCmd(line));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BatchCmdOfLongLine)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
