// Frame code: building a frame (escaping and checksum included) and rendering it for the log.
#include "BenchUtil.h"
#include "DisplayFrame.h"
#include "RunBench.h"

#include <QJsonArray>

#include <string>

namespace kalvor::bench {

namespace {

constexpr std::chrono::milliseconds kMeasureFor{400};
constexpr int kChunk = 10'000;

// Keeps the optimiser from dropping the work measured.
volatile std::size_t g_sink = 0;

// Runs the work in chunks until kMeasureFor has passed; ns of the thread's CPU time per call
// (the clock would also count the time other processes took the CPU away).
template <typename Work> double NsPerCall(Work work) {
    long calls = 0;
    const Clock::time_point start = Clock::now();
    const double cpuStart = ThreadCpuUs();
    do {
        for (int i = 0; i < kChunk; ++i)
            g_sink = g_sink + work();
        calls += kChunk;
    } while (Clock::now() - start < kMeasureFor);
    return (ThreadCpuUs() - cpuStart) * 1000.0 / double(calls);
}

QJsonObject FrameFigures(const char* name, const std::string& message) {
    const DisplayFrame sample = BuildDisplayFrame(48, Byte('0'), message);
    Progress("frames: %s (%zu bytes)", name, sample.size());
    const double build =
        NsPerCall([&message] { return BuildDisplayFrame(48, Byte('0'), message).size(); });
    const double render = NsPerCall([&sample] { return RenderFrameText(sample).size(); });
    const double both = NsPerCall(
        [&message] { return RenderFrameText(BuildDisplayFrame(48, Byte('0'), message)).size(); });
    return QJsonObject{{"frame", name},
                       {"bytes", int(sample.size())},
                       {"build_ns", build},
                       {"render_ns", render},
                       {"build_and_render_ns", both}};
}

} // namespace

QJsonObject RunFrames() {
    // 120 characters that each escape to two bytes (SO and the byte without its high bit).
    const std::string longMessage(kMessageMaxChars, '\xE9');
    return QJsonObject{{"frames", QJsonArray{FrameFigures("defaults", "TEST"),
                                             FrameFigures("120 characters", longMessage)}}};
}

} // namespace kalvor::bench
