#include "BenchUtil.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <time.h>

namespace kalvor::bench {

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(p / 100.0 * double(samples.size()));
    const std::size_t index = std::min(samples.size() - 1, std::size_t(std::max(1.0, rank)) - 1);
    return samples[index];
}

Spread SpreadOf(const std::vector<double>& samples) {
    Spread s;
    s.count = int(samples.size());
    if (samples.empty())
        return s;
    s.min = *std::min_element(samples.begin(), samples.end());
    s.p50 = Percentile(samples, 50);
    s.p99 = Percentile(samples, 99);
    s.max = *std::max_element(samples.begin(), samples.end());
    return s;
}

QJsonObject ToJson(const Spread& s) {
    return QJsonObject{
        {"min", s.min}, {"p50", s.p50}, {"p99", s.p99}, {"max", s.max}, {"count", s.count}};
}

double ThreadCpuUs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t keyLength = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength &&
            line[keyLength] == ':')
            return std::atol(line.c_str() + keyLength + 1);
    }
    return -1;
}

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the directory being read
}

} // namespace kalvor::bench
