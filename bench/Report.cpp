#include "Report.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSysInfo>
#include <QTextStream>
#include <QtGlobal>

#include <thread>
#include <unistd.h>
#include <vector>

namespace kalvor::bench {

namespace {

// What the figures must show.
constexpr double kMinPaceAt10Ms = 99.0;  // steps per second over UDP and TCP
constexpr double kMaxUdpStepP50Ms = 0.3; // step cost, sign answering at once
constexpr double kMaxTcpStepP50Ms = 0.5;
constexpr double kMaxXorWallS = 1.35;    // full XOR test at Delay 10 ms (floor 1.28 s)
constexpr double kMaxLogCostRatio = 1.5; // cost per entry at 10^6 against 10^3
constexpr double kMaxMemoryMiB = 200.0;
// Flat: after the log has reached its bound, or the run has warmed up, RSS grows by less than
// this much to the end.
constexpr double kFlatMarginMiB = 4.0;
// A silent sign: the step ends at its budget (1000 ms on sockets, the 1001 ms serial read
// time-out on the pty), not above it by more than this.
constexpr double kSilentOverBudgetMs = 15.0;

QString Fixed(double v, int decimals) {
    return QString::number(v, 'f', decimals);
}
double MiB(double kib) {
    return kib / 1024.0;
}

QString FirstLineWith(const QString& path, const QString& key) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // Files under /proc report no size: read them line by line until nothing comes.
    for (QByteArray bytes = f.readLine(); !bytes.isEmpty(); bytes = f.readLine()) {
        const QString line = QString::fromUtf8(bytes);
        if (line.startsWith(key))
            return line.section(u':', 1).trimmed();
    }
    return {};
}

QJsonObject FindRow(const QJsonArray& rows, const QString& link, int delay = -1) {
    for (const auto& v : rows) {
        const QJsonObject row = v.toObject();
        if (row.value("link").toString() == link &&
            (delay < 0 || row.value("delay_ms").toInt() == delay))
            return row;
    }
    return {};
}

// Cost per entry at a size: "us" on the clock, "cpu_us" in CPU time of the thread.
double LogCostAt(const QJsonObject& log, double entries, const char* key = "us") {
    for (const auto& v : log.value("sizes").toArray())
        if (v.toObject().value("entries").toDouble() == entries)
            return v.toObject().value(key).toDouble(-1);
    return -1;
}

// RSS at the first memory checkpoint at or past the given number of entries.
double LogRssAt(const QJsonObject& log, double entries) {
    for (const auto& v : log.value("memory").toArray())
        if (v.toObject().value("entries").toDouble() >= entries)
            return v.toObject().value("rss_kib").toDouble();
    return -1;
}

QJsonObject Checkpoint(const QJsonObject& longRun, const QString& when) {
    QJsonObject found;
    for (const auto& v : longRun.value("checkpoints").toArray())
        if (v.toObject().value("when").toString() == when)
            found = v.toObject(); // the last one of that name
    return found;
}

struct Goal {
    QString what;
    QString measured;
    bool met = false;
};

std::vector<Goal> Goals(const QJsonObject& r) {
    std::vector<Goal> goals;
    const QJsonObject link = r.value("link").toObject();
    const QJsonArray pace = link.value("pace").toArray();
    for (const QString& name : {QStringLiteral("udp"), QStringLiteral("tcp")}) {
        const double sps = FindRow(pace, name, 10).value("steps_per_second").toDouble();
        goals.push_back({QStringLiteral("Pace at Delay 10 ms over %1 >= %2 steps/s")
                             .arg(name.toUpper())
                             .arg(kMinPaceAt10Ms),
                         Fixed(sps, 2), sps >= kMinPaceAt10Ms});
    }
    for (const auto& [name, limit] : {std::pair{QStringLiteral("udp"), kMaxUdpStepP50Ms},
                                      std::pair{QStringLiteral("tcp"), kMaxTcpStepP50Ms}}) {
        const double p50 =
            FindRow(pace, name, 10).value("step_cost_ms").toObject().value("p50").toDouble(-1);
        goals.push_back(
            {QStringLiteral("Step cost p50 over %1 < %2 ms").arg(name.toUpper()).arg(limit),
             Fixed(p50, 3) + " ms", p50 >= 0 && p50 < limit});
    }
    for (const QString& name :
         {QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("pty")}) {
        const QJsonObject row = FindRow(link.value("silent").toArray(), name);
        const QJsonObject cost = row.value("step_cost_ms").toObject();
        const double budget = name == QLatin1String("pty") ? 1001.0 : 1000.0;
        const double p50 = cost.value("p50").toDouble(-1);
        const double max = cost.value("max").toDouble(-1);
        goals.push_back({QStringLiteral("Silent sign over %1: step ends at the %2 ms budget")
                             .arg(name.toUpper())
                             .arg(budget),
                         QStringLiteral("p50 %1 ms, max %2 ms").arg(Fixed(p50, 1), Fixed(max, 1)),
                         p50 >= budget - 1 && max <= budget + kSilentOverBudgetMs});
    }
    for (const QString& name :
         {QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("pty")}) {
        const QJsonObject row = FindRow(link.value("xor").toArray(), name);
        const double wall = row.value("wall_s").toDouble(-1);
        goals.push_back(
            {QStringLiteral("XOR test over %1 within %2 s").arg(name.toUpper()).arg(kMaxXorWallS),
             Fixed(wall, 3) + " s",
             row.value("finished").toBool() && wall > 0 && wall <= kMaxXorWallS &&
                 row.value("acknowledged").toInt() == 128});
    }
    const QJsonObject ours = r.value("log-ours").toObject();
    const double first = LogCostAt(ours, 1e3, "cpu_us");
    const double last = LogCostAt(ours, 1e6, "cpu_us");
    const double firstWall = LogCostAt(ours, 1e3);
    const double lastWall = LogCostAt(ours, 1e6);
    goals.push_back(
        {QStringLiteral("Log cost per entry at 10^6 <= %1 x at 10^3 (CPU time)")
             .arg(kMaxLogCostRatio),
         QStringLiteral("CPU %1 us / %2 us = %3 (clock %4 us / %5 us = %6)")
             .arg(Fixed(last, 1), Fixed(first, 1), Fixed(first > 0 ? last / first : 0, 2),
                  Fixed(lastWall, 1), Fixed(firstWall, 1),
                  Fixed(firstWall > 0 ? lastWall / firstWall : 0, 2)),
         first > 0 && last > 0 && last <= kMaxLogCostRatio * first});
    const double logPeak = MiB(ours.value("peak_kib").toDouble());
    const double logAt2 = MiB(LogRssAt(ours, 2e5));
    const double logEnd = MiB(ours.value("rss_kib").toDouble());
    goals.push_back(
        {QStringLiteral("Memory after 10^6 log entries < %1 MiB and flat").arg(kMaxMemoryMiB),
         QStringLiteral("peak %1 MiB; RSS %2 MiB at 2x10^5, %3 MiB at 10^6")
             .arg(Fixed(logPeak, 1), Fixed(logAt2, 1), Fixed(logEnd, 1)),
         logPeak > 0 && logPeak < kMaxMemoryMiB && logAt2 > 0 && logEnd - logAt2 < kFlatMarginMiB});
    const QJsonObject longRun = r.value("longrun").toObject();
    const QJsonObject warm = Checkpoint(longRun, "warm");
    const QJsonObject end = Checkpoint(longRun, "end");
    const QJsonObject before = Checkpoint(longRun, "before Start");
    const QJsonObject after = Checkpoint(longRun, "after Stop");
    const double runPeak = MiB(longRun.value("peak_kib").toDouble());
    const double warmRss = MiB(warm.value("rss_kib").toDouble());
    const double endRss = MiB(end.value("rss_kib").toDouble());
    goals.push_back({QStringLiteral("Memory after %1 steps < %2 MiB and flat")
                         .arg(longRun.value("steps").toInt())
                         .arg(kMaxMemoryMiB),
                     QStringLiteral("peak %1 MiB; RSS %2 MiB warm, %3 MiB at the end")
                         .arg(Fixed(runPeak, 1), Fixed(warmRss, 1), Fixed(endRss, 1)),
                     runPeak > 0 && runPeak < kMaxMemoryMiB && warmRss > 0 &&
                         endRss - warmRss < kFlatMarginMiB});
    const int fdsBefore = before.value("fds").toInt(-1);
    const int fdsEnd = end.value("fds").toInt(-2);
    const int fdsAfter = after.value("fds").toInt(-3);
    goals.push_back({QStringLiteral("Descriptors unchanged over the long run"),
                     QStringLiteral("%1 before Start, %2 at the end, %3 after Stop")
                         .arg(fdsBefore)
                         .arg(fdsEnd)
                         .arg(fdsAfter),
                     fdsBefore >= 0 && fdsBefore == fdsEnd && fdsEnd == fdsAfter});
    return goals;
}

} // namespace

QJsonObject MachineInfo() {
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    const QString memTotal =
        FirstLineWith(QStringLiteral("/proc/meminfo"), QStringLiteral("MemTotal"));
    const double memGiB = memTotal.section(u' ', 0, 0).toDouble() / 1024.0 / 1024.0;
    return QJsonObject{
        {"nproc", double(cpus)},
        {"cpu", FirstLineWith(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"))},
        {"memory", QStringLiteral("%1 GiB").arg(Fixed(memGiB, 1))},
        {"kernel", QSysInfo::kernelVersion()},
        {"os", QSysInfo::prettyProductName()},
        {"qt", QString::fromLatin1(qVersion())},
        {"compiler", QStringLiteral("g++ " __VERSION__)},
#ifdef NDEBUG
        {"build", "Release"},
#else
        {"build", "not optimised (debug)"},
#endif
        {"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
    };
}

QJsonArray GoalsJson(const QJsonObject& results) {
    QJsonArray out;
    for (const Goal& g : Goals(results))
        out.append(QJsonObject{{"goal", g.what}, {"measured", g.measured}, {"met", g.met}});
    return out;
}

QString RenderTable(const QJsonObject& r) {
    QString text;
    QTextStream s(&text);
    const QJsonObject m = r.value("machine").toObject();
    s << "## Benchmark results\n\n";
    s << "Machine: " << m.value("nproc").toInt() << " CPUs (" << m.value("cpu").toString() << "), "
      << m.value("memory").toString() << " RAM, " << m.value("os").toString() << ", Linux "
      << m.value("kernel").toString() << "; Qt " << m.value("qt").toString() << ", "
      << m.value("compiler").toString() << ", " << m.value("build").toString() << " build; "
      << m.value("date").toString() << ".\n\n";

    const QJsonObject link = r.value("link").toObject();
    if (link.contains("error"))
        s << "**Link benchmarks failed: " << link.value("error").toString() << "**\n\n";
    s << "### Pace of the loop test ("
      << r.value("settings").toObject().value("pace_seconds").toInt() << " s per row)\n\n";
    s << "| Link | Delay | Steps/s | 1000 / Delay | Interval min | p50 | p99 | max | Steps | ACKs "
         "|\n";
    s << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const auto& v : link.value("pace").toArray()) {
        const QJsonObject row = v.toObject();
        const QJsonObject iv = row.value("interval_ms").toObject();
        s << "| " << row.value("link").toString().toUpper() << " | "
          << row.value("delay_ms").toInt() << " ms | "
          << Fixed(row.value("steps_per_second").toDouble(), 2) << " | "
          << Fixed(row.value("target_per_second").toDouble(), 0) << " | "
          << Fixed(iv.value("min").toDouble(), 3) << " ms | "
          << Fixed(iv.value("p50").toDouble(), 3) << " ms | "
          << Fixed(iv.value("p99").toDouble(), 3) << " ms | "
          << Fixed(iv.value("max").toDouble(), 3) << " ms | " << row.value("steps").toInt() << " | "
          << row.value("acknowledged").toInt() << " |\n";
    }

    s << "\n### Step cost: start of a step to its last log entry\n\n";
    s << "| Link | Sign answers: p50 | p99 | max | samples | Sign silent: p50 | p99 | max | "
         "samples |\n";
    s << "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const QString& name :
         {QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("pty")}) {
        const QJsonObject a =
            FindRow(link.value("pace").toArray(), name, 10).value("step_cost_ms").toObject();
        const QJsonObject q =
            FindRow(link.value("silent").toArray(), name).value("step_cost_ms").toObject();
        s << "| " << name.toUpper() << " | " << Fixed(a.value("p50").toDouble(), 3) << " ms | "
          << Fixed(a.value("p99").toDouble(), 3) << " ms | " << Fixed(a.value("max").toDouble(), 3)
          << " ms | " << a.value("count").toInt() << " | " << Fixed(q.value("p50").toDouble(), 1)
          << " ms | " << Fixed(q.value("p99").toDouble(), 1) << " ms | "
          << Fixed(q.value("max").toDouble(), 1) << " ms | " << q.value("count").toInt() << " |\n";
    }

    s << "\n### XOR test at Delay 10 ms (128 frames and the closing step; floor 1.28 s)\n\n";
    s << "| Link | Wall time | Frames | ACKs | Result |\n|---|---:|---:|---:|---|\n";
    for (const auto& v : link.value("xor").toArray()) {
        const QJsonObject row = v.toObject();
        s << "| " << row.value("link").toString().toUpper() << " | "
          << Fixed(row.value("wall_s").toDouble(), 3) << " s | " << row.value("frames").toInt()
          << " | " << row.value("acknowledged").toInt() << " | "
          << (row.value("finished").toBool() ? row.value("result").toString()
                                             : QStringLiteral("did not finish"))
          << " |\n";
    }

    const QJsonObject ours = r.value("log-ours").toObject();
    const QJsonObject naive = r.value("log-naive").toObject();
    s << "\n### Activity log: cost per entry (mean of the 1,000 entries up to the size)\n\n";
    s << "| Entries | Ours | Ours, CPU time | Naive (whole pane rewritten) | Naive, CPU time |\n"
         "|---:|---:|---:|---:|---:|\n";
    const auto cell = [](double us, const QString& otherwise) {
        return us >= 0 ? Fixed(us, 1) + " us" : otherwise;
    };
    for (const double size : {1e3, 1e5, 1e6}) {
        s << "| " << QString::number(size, 'f', 0) << " | "
          << cell(LogCostAt(ours, size), QStringLiteral("-")) << " | "
          << cell(LogCostAt(ours, size, "cpu_us"), QStringLiteral("-")) << " | "
          << cell(LogCostAt(naive, size), QStringLiteral("not reached")) << " | "
          << cell(LogCostAt(naive, size, "cpu_us"), QStringLiteral("not reached")) << " |\n";
    }
    s << "\nOurs: " << Fixed(ours.value("total_s").toDouble(), 1) << " s for "
      << QString::number(ours.value("reached").toDouble(), 'f', 0) << " entries, "
      << QString::number(ours.value("kept").toDouble(), 'f', 0) << " kept in the pane (bound "
      << QString::number(ours.value("bound").toDouble(), 'f', 0) << "), worst single entry "
      << Fixed(ours.value("worst_entry_ms").toDouble(), 1)
      << " ms, scrolled to the end: " << (ours.value("scrolled_to_end").toBool() ? "yes" : "no")
      << "; peak memory (VmHWM) " << Fixed(MiB(ours.value("peak_kib").toDouble()), 1)
      << " MiB, VmRSS at the end " << Fixed(MiB(ours.value("rss_kib").toDouble()), 1) << " MiB.\n";
    s << "Naive: stopped by " << naive.value("stopped_by").toString() << " at "
      << QString::number(naive.value("reached").toDouble(), 'f', 0) << " entries after "
      << Fixed(naive.value("total_s").toDouble(), 1) << " s; last 1,000 entries "
      << Fixed(naive.value("last_window_us").toDouble() / 1000.0, 2) << " ms per entry (CPU "
      << Fixed(naive.value("last_window_cpu_us").toDouble() / 1000.0, 2)
      << " ms), worst single entry " << Fixed(naive.value("worst_entry_ms").toDouble(), 1)
      << " ms; peak memory " << Fixed(MiB(naive.value("peak_kib").toDouble()), 1) << " MiB.\n";
    s << "\nVmRSS of ours every 100,000 entries (MiB):";
    for (const auto& v : ours.value("memory").toArray())
        s << " " << Fixed(MiB(v.toObject().value("rss_kib").toDouble()), 1);
    s << "\n";

    const QJsonObject longRun = r.value("longrun").toObject();
    s << "\n### Long run: " << longRun.value("steps").toInt()
      << " loop steps over UDP, back to back\n\n";
    s << "| Point | Steps | VmRSS | Open descriptors |\n|---|---:|---:|---:|\n";
    for (const auto& v : longRun.value("checkpoints").toArray()) {
        const QJsonObject c = v.toObject();
        s << "| " << c.value("when").toString() << " | " << c.value("steps").toInt() << " | "
          << Fixed(MiB(c.value("rss_kib").toDouble()), 1) << " MiB | " << c.value("fds").toInt()
          << " |\n";
    }
    const QJsonObject cost = longRun.value("step_cost_ms").toObject();
    s << "\n"
      << longRun.value("acknowledged").toInt() << " ACKs; "
      << Fixed(longRun.value("seconds").toDouble(), 1) << " s; step cost p50 "
      << Fixed(cost.value("p50").toDouble(), 3) << " ms, p99 "
      << Fixed(cost.value("p99").toDouble(), 3) << " ms; peak memory (VmHWM) "
      << Fixed(MiB(longRun.value("peak_kib").toDouble()), 1) << " MiB.\n";

    s << "\n### Frames: build (escape and checksum included) and render, CPU time per frame\n\n";
    s << "| Frame | Bytes | Build | Render | Build + render |\n|---|---:|---:|---:|---:|\n";
    for (const auto& v : r.value("frames").toObject().value("frames").toArray()) {
        const QJsonObject f = v.toObject();
        s << "| " << f.value("frame").toString() << " | " << f.value("bytes").toInt() << " | "
          << Fixed(f.value("build_ns").toDouble(), 0) << " ns | "
          << Fixed(f.value("render_ns").toDouble(), 0) << " ns | "
          << Fixed(f.value("build_and_render_ns").toDouble(), 0) << " ns |\n";
    }

    s << "\n### Goals\n\n| Goal | Measured | Met |\n|---|---|---|\n";
    for (const Goal& g : Goals(r))
        s << "| " << g.what << " | " << g.measured << " | " << (g.met ? "yes" : "**no**") << " |\n";

    const QJsonObject seconds = r.value("seconds").toObject();
    s << "\n### Notes\n\n";
    s << "- Runs are the real test-run code (`CTestRun`, its precise run timer, the real socket "
         "and serial channels) driven through a headless form that stamps each step with a "
         "steady clock; the sign is `kalvor-display-sim` in a child process (UDP and TCP on "
         "127.0.0.1, a pseudo-terminal for the serial link, which has no line time).\n";
    s << "- A step starts when it takes the form's values and ends with its last log entry. "
         "The answering-sign figures come from the Delay 10 ms pace run; the silent sign is a "
         "second simulator started with `--reply none`.\n";
    s << "- The long run drives its steps back to back through `RunTestStep(1)` after "
         "`ToggleTestRun` (the code path of a timer tick) instead of waiting "
         "for the 10 ms timer, which would take over 16 minutes; the thread's event loop gets "
         "control every 1,000 steps.\n";
    s << "- The log runs on the operator window offscreen (QT_QPA_PLATFORM=offscreen), every "
         "entry through the time stamp and the data exchange of `AppendLogLine`; events are "
         "processed every 100 entries for both designs. The naive design is "
         "`setPlainText(whole text + entry)` then a scroll to the end, on the same pane, stopped "
         "when its entries cost over 50 ms each (mean of a batch of 100) or the run passes its "
         "time limit. Each log design, "
         "the long run and the link runs run in processes of their own.\n";
    s << "- Log cost per entry is the mean over the 1,000 entries up to the size (events "
         "included), on the clock and in CPU time of the thread; the goal is judged on CPU "
         "time, which leaves out the time other processes of a busy machine took.\n";
    s << "- The run timer keeps a fixed schedule: a tick that comes late (a busy machine) is "
         "followed by a shorter interval, so the pace holds at 1000 / Delay while single "
         "intervals spread (the minimum column).\n";
    s << "- Flat: RSS grows by less than " << kFlatMarginMiB
      << " MiB from 200,000 log entries (the pane reaches its bound at 100,000) or from the "
         "warm point of the long run (after 1,000 steps) to the end.\n";
    s << "- Bench time: " << Fixed(seconds.value("total").toDouble(), 0) << " s (frames "
      << Fixed(seconds.value("frames").toDouble(), 0) << " s, links "
      << Fixed(seconds.value("link").toDouble(), 0) << " s, long run "
      << Fixed(seconds.value("longrun").toDouble(), 0) << " s, log "
      << Fixed(seconds.value("log-ours").toDouble(), 0) << " s + naive "
      << Fixed(seconds.value("log-naive").toDouble(), 0) << " s), build not included.\n";
    return text;
}

bool WriteResults(const QDir& dir, const QString& table, const QJsonObject& results) {
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        return false;
    QFile md(dir.filePath(QStringLiteral("results.md")));
    QFile json(dir.filePath(QStringLiteral("results.json")));
    if (!md.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !json.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray mdBytes = table.toUtf8();
    const QByteArray jsonBytes = QJsonDocument(results).toJson(QJsonDocument::Indented);
    return md.write(mdBytes) == mdBytes.size() && json.write(jsonBytes) == jsonBytes.size();
}

} // namespace kalvor::bench
