#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

// Runs fn(begin, end, worker) over [0, n) split into `workers` contiguous parts, one thread
// each (the calling thread takes the first part). The parts never overlap, so fn may write
// its own part of a shared buffer without locking.
template <typename Fn> void parallelRange(std::size_t n, int workers, Fn &&fn)
{
    workers = std::max(1, std::min<int>(workers, int(std::max<std::size_t>(n, 1))));
    if (workers == 1) {
        fn(std::size_t(0), n, 0);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(std::size_t(workers - 1));
    const std::size_t part = (n + std::size_t(workers) - 1) / std::size_t(workers);
    for (int w = 1; w < workers; ++w) {
        const std::size_t b = std::min(n, part * std::size_t(w));
        const std::size_t e = std::min(n, b + part);
        threads.emplace_back([&fn, b, e, w] { fn(b, e, w); });
    }
    fn(std::size_t(0), std::min(n, part), 0);
    for (std::thread &t : threads)
        t.join();
}
