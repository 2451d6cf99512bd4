#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// Small helpers shared by the benchmarks: the clock, percentiles, what the process holds.
namespace kalvor::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
// CPU time this thread has used, in microseconds: unlike the clock, it leaves out the time
// other processes of a busy machine took the CPU away.
double ThreadCpuUs();

// Nearest-rank percentile (p in 0..100) of the samples; 0 for none.
double Percentile(std::vector<double> samples, double p);

struct Spread {
    double min = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    int count = 0;
};
Spread SpreadOf(const std::vector<double>& samples);
QJsonObject ToJson(const Spread& s);

// A line of /proc/self/status in KiB (VmRSS, VmHWM, ...); -1 when absent.
long StatusKiB(const char* key);
// Open descriptors of this process (entries of /proc/self/fd, without the one that reads it).
int OpenDescriptors();

// Progress for the person waiting: one line on stderr, flushed.
template <typename... Args> void Progress(const char* format, Args... args) {
    std::fprintf(stderr, "[bench] ");
    std::fprintf(stderr, format, args...);
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

} // namespace kalvor::bench
