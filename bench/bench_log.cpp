// Appends 1,000,000 entries to the operator window's activity log (offscreen) and prints the
// cost per entry over the first and the last 1,000 entries, and the process's peak memory.
// Each entry goes through CKalvorDlg::AppendLogLine, so it includes the time stamp and the data
// exchange that follows every entry; events are processed every 1,000 entries so that the pane
// is laid out and painted as in a run.
#include "ActivityLog.h"
#include "KalvorDlg.h"

#include <QApplication>
#include <QScrollBar>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string PeakMemory() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return line.substr(6);
    return " unknown";
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("KALVOR_COM1"))
        qputenv("KALVOR_COM1", "/nonexistent/kalvor-bench-com1");
    QApplication app(argc, argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    constexpr long kWindow = 1000;

    kalvor::CKalvorDlg dlg;
    if (argc > 2) // bench_log <entries> <drop chunk>: try another chunk size
        dlg.Log()->SetEntryBound(kalvor::CActivityLog::kDefaultEntryBound,
                                 std::size_t(std::atol(argv[2])));
    dlg.show();
    QCoreApplication::processEvents();

    using Clock = std::chrono::steady_clock;
    const std::string text = "Loop : frame to send <STX>0ATEST<CR><ETX>[x5A]";
    double firstNs = 0, lastNs = 0, worstNs = 0;
    long worstAt = 0;
    const auto start = Clock::now();
    auto windowStart = start;
    for (long i = 1; i <= total; ++i) {
        dlg.AppendLogLine(text);
        if (i % kWindow == 0) {
            QCoreApplication::processEvents();
            const auto now = Clock::now();
            const double ns = std::chrono::duration<double, std::nano>(now - windowStart).count();
            if (i == kWindow)
                firstNs = ns / kWindow;
            if (i == total)
                lastNs = ns / kWindow;
            if (ns / kWindow > worstNs && i > kWindow) {
                worstNs = ns / kWindow;
                worstAt = i;
            }
            windowStart = now;
        }
        if (i % 100'000 == 0)
            std::fprintf(stderr, "  %ld entries, kept %zu, peak memory%s\n", i,
                         dlg.Log()->EntryCount(), PeakMemory().c_str());
    }
    const double totalS = std::chrono::duration<double>(Clock::now() - start).count();
    QScrollBar* bar = dlg.Log()->verticalScrollBar();

    std::printf("entries appended      : %ld\n", total);
    std::printf("entries kept          : %zu (bound %zu, dropped in chunks of %zu)\n",
                dlg.Log()->EntryCount(), dlg.Log()->EntryBound(), dlg.Log()->DropChunk());
    std::printf("cost, first %ld       : %.1f us per entry\n", kWindow, firstNs / 1000.0);
    std::printf("cost, last %ld        : %.1f us per entry\n", kWindow, lastNs / 1000.0);
    std::printf("worst 1000 after them : %.1f us per entry (entries %ld to %ld)\n",
                worstNs / 1000.0, worstAt - kWindow + 1, worstAt);
    std::printf("total                 : %.1f s (%.1f us per entry)\n", totalS,
                totalS * 1e6 / double(total));
    std::printf("scrolled to the end   : %s\n", bar->value() == bar->maximum() ? "yes" : "no");
    std::printf("peak memory (VmHWM)   :%s\n", PeakMemory().c_str());
    return 0;
}
