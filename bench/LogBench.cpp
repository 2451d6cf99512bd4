// The activity log: cost per entry as the log grows, for the window's log and for the naive
// design that rewrites the whole pane at every entry, both on the operator window offscreen.
// Every entry goes through the same time stamp and data exchange as CKalvorDlg::AppendLogLine,
// and events (layout, painting) are processed every kEventsEvery entries for both designs.
#include "LogBench.h"

#include "ActivityLog.h"
#include "BenchUtil.h"
#include "KalvorDlg.h"
#include "TextCodec.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QScrollBar>

#include <array>
#include <string>

namespace kalvor::bench {

namespace {

constexpr long kWindow = 1'000;    // cost per entry: mean over the last kWindow entries
constexpr long kEventsEvery = 100; // entries between two rounds of event processing
constexpr long kProgressEvery = 100'000;
constexpr std::array<long, 3> kSizes = {1'000, 100'000, 1'000'000};

const std::string kEntryText = "Loop : frame to send <STX>0ATEST<CR><ETX>[x5A]";

// Rewrites the whole pane with its text and the new entry, then scrolls to the end; the data
// exchange follows as after every entry.
void NaiveAppend(CKalvorDlg& dlg, const std::string& text) {
    QPlainTextEdit* pane = dlg.Log();
    QString all = pane->toPlainText();
    all += QString::fromStdU16String(Cp1252ToUtf16(LogTimeStamp() + " - " + text));
    all += QLatin1Char('\n');
    pane->setPlainText(all);
    QScrollBar* bar = pane->verticalScrollBar();
    bar->setValue(bar->maximum());
    dlg.UpdateData(true);
    dlg.UpdateData(false);
}

} // namespace

QJsonObject RunLog(bool naive, const LogLimits& limits) {
    if (qEnvironmentVariableIsEmpty("KALVOR_COM1"))
        qputenv("KALVOR_COM1", "/nonexistent/kalvor-bench-com1"); // no serial port needed
    CKalvorDlg dlg;
    dlg.show();
    QCoreApplication::processEvents();
    Progress("log, %s design: up to %ld entries", naive ? "naive" : "our", limits.entries);

    QJsonArray sizes;
    QJsonArray memory;
    double worstEntryMs = 0;
    double batchMs = 0;
    double lastWindowUs = 0;
    double lastWindowCpuUs = 0;
    long reached = 0;
    const char* stoppedBy = "entries";
    const Clock::time_point start = Clock::now();
    Clock::time_point windowStart = start;
    double cpuWindowStart = ThreadCpuUs();
    for (long i = 1; i <= limits.entries; ++i) {
        const Clock::time_point before = Clock::now();
        if (naive)
            NaiveAppend(dlg, kEntryText);
        else
            dlg.AppendLogLine(kEntryText);
        const Clock::time_point after = Clock::now();
        worstEntryMs = std::max(worstEntryMs, Ms(after - before));
        batchMs += Ms(after - before);
        bool tooSlow = false;
        if (i % kEventsEvery == 0) {
            // One slow entry on a busy machine does not end the run; a slow batch does.
            tooSlow = batchMs / double(kEventsEvery) > limits.entryLimitMs;
            batchMs = 0;
            QCoreApplication::processEvents();
        }
        reached = i;
        if (i % kWindow == 0) {
            const Clock::time_point now = Clock::now();
            lastWindowUs = std::chrono::duration<double, std::micro>(now - windowStart).count() /
                           double(kWindow);
            windowStart = now;
            const double cpuNow = ThreadCpuUs();
            lastWindowCpuUs = (cpuNow - cpuWindowStart) / double(kWindow);
            cpuWindowStart = cpuNow;
            for (const long size : kSizes)
                if (i == size)
                    sizes.append(QJsonObject{{"entries", double(size)},
                                             {"us", lastWindowUs},
                                             {"cpu_us", lastWindowCpuUs}});
        }
        if (i % kProgressEvery == 0) {
            memory.append(
                QJsonObject{{"entries", double(i)}, {"rss_kib", double(StatusKiB("VmRSS"))}});
            Progress("  %ld entries, %.1f us per entry (CPU %.1f us), VmRSS %ld KiB", i,
                     lastWindowUs, lastWindowCpuUs, StatusKiB("VmRSS"));
        }
        if (tooSlow) {
            stoppedBy = "entry cost";
            break;
        }
        if (Seconds(after - start) > limits.totalLimitS) {
            stoppedBy = "total time";
            break;
        }
    }
    QCoreApplication::processEvents();
    const double totalS = Seconds(Clock::now() - start);
    QScrollBar* bar = dlg.Log()->verticalScrollBar();
    if (naive)
        Progress("  stopped by %s at %ld entries, last 1000: %.1f us per entry", stoppedBy, reached,
                 lastWindowUs);
    return QJsonObject{{"design", naive ? "naive" : "ours"},
                       {"reached", double(reached)},
                       {"stopped_by", stoppedBy},
                       {"total_s", totalS},
                       {"last_window_us", lastWindowUs},
                       {"last_window_cpu_us", lastWindowCpuUs},
                       {"worst_entry_ms", worstEntryMs},
                       {"sizes", sizes},
                       {"memory", memory},
                       {"kept", double(naive ? 0 : dlg.Log()->EntryCount())},
                       {"bound", double(dlg.Log()->EntryBound())},
                       {"scrolled_to_end", bar->value() == bar->maximum()},
                       {"rss_kib", double(StatusKiB("VmRSS"))},
                       {"peak_kib", double(StatusKiB("VmHWM"))}};
}

} // namespace kalvor::bench
