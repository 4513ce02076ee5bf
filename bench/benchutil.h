#pragma once

#include <QElapsedTimer>
#include <QVector>

#include <algorithm>
#include <sys/resource.h>

// Small helpers for the timing programs: median of repeated runs, peak memory.
namespace BenchUtil {

template<typename Function>
double medianMs(int runs, Function &&function)
{
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        function();
        times.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline double peakMemoryMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

} // namespace BenchUtil
