// Small helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

namespace bench {

// Best wall time of `runs` calls of `work`, in seconds.
inline double bestSeconds(int runs, const std::function<void()> &work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

inline double megabytesPerSecond(size_t bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / 1e6 / seconds : 0;
}

} // namespace bench
