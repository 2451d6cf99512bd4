// kalvor_soak: a loop test that runs for a bounded time over UDP, TCP and the serial port (a
// pty) while the sign misbehaves at random: silent, NAK, garbage, oversize datagrams, TCP
// connections closed without an answer, restarts on the same port, the pty unplugged and
// plugged in again. At the end: no crash, the counters consistent after every step, every
// step within its time-out, the open descriptors back to their count after the warm-up and
// the resident memory flat.
//
//   kalvor_soak [--seconds N] [--seed S]     (or SOAK_SECONDS, SOAK_SEED; default 60 s)
//
// Exit status 0 when every check holds, 1 otherwise, 2 for a wrong command line.
#include "FaultBench.h"
#include "PortCom.h"
#include "TestRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace kalvor;
using namespace reliability;

namespace {

constexpr qint64 kStepBoundMs = 2500; // about one second plus the Delay; catches hangs
constexpr int kDelayMs = 10;
constexpr int kRecoveryTimeoutMs = 15000;
constexpr qint64 kRssToleranceKb = 4096;
constexpr int kDefaultSeconds = 60;
// AddressSanitizer keeps freed memory in quarantine: resident memory says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryJudged = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryJudged = false;
#else
constexpr bool kMemoryJudged = true;
#endif
#else
constexpr bool kMemoryJudged = true;
#endif

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        Spin(5);
    return done();
}

int OpenDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

qint64 ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

struct Options {
    int seconds = kDefaultSeconds;
    std::uint64_t seed = 0;
    bool seedGiven = false;
};

bool ParseNumber(const QString& text, std::uint64_t& value) {
    bool ok = false;
    value = text.toULongLong(&ok);
    return ok;
}

bool ParseOptions(const QStringList& args, Options& o) {
    std::uint64_t v = 0;
    if (qEnvironmentVariableIsSet("SOAK_SECONDS")) {
        if (!ParseNumber(qEnvironmentVariable("SOAK_SECONDS"), v) || v == 0)
            return false;
        o.seconds = int(std::min<std::uint64_t>(v, 24 * 3600));
    }
    if (qEnvironmentVariableIsSet("SOAK_SEED") && !qEnvironmentVariable("SOAK_SEED").isEmpty()) {
        if (!ParseNumber(qEnvironmentVariable("SOAK_SEED"), o.seed))
            return false;
        o.seedGiven = true;
    }
    for (int i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return false;
        if (args[i] == QLatin1String("--seconds")) {
            if (!ParseNumber(args[++i], v) || v == 0)
                return false;
            o.seconds = int(std::min<std::uint64_t>(v, 24 * 3600));
        } else if (args[i] == QLatin1String("--seed")) {
            if (!ParseNumber(args[++i], o.seed))
                return false;
            o.seedGiven = true;
        } else {
            return false;
        }
    }
    return true;
}

class CSoak {
public:
    CSoak(const Options& options, const QString& ptyLink)
        : m_options(options), m_bench(ptyLink), m_rng(options.seed), m_run(m_form) {
        m_form.keepEvents = false;
        m_form.delay = std::to_string(kDelayMs);
    }

    int Run() {
        if (!m_bench.Up()) {
            std::printf("soak: the simulator could not start: %s\n", qPrintable(m_bench.Error()));
            return 1;
        }
        const qint64 totalMs = qint64(m_options.seconds) * 1000;
        const qint64 warmUpMs = std::clamp<qint64>(totalMs / 6, 2000, 15000);
        std::printf("soak: seed %llu, %d s (warm-up %lld s), loop test with Delay %d ms\n",
                    static_cast<unsigned long long>(m_options.seed), m_options.seconds,
                    warmUpMs / 1000, kDelayMs);
        std::fflush(stdout);

        QElapsedTimer clock;
        clock.start();
        m_run.ToggleTestRun();
        while (clock.elapsed() < warmUpMs && m_failures.empty())
            Phase();
        Settle();
        const int fdStart = OpenDescriptors();
        const qint64 rssStart = ResidentKb();
        m_counting = true;
        m_faults.clear();
        m_linkSteps.clear();
        m_form.steps = 0;
        m_form.maxStepMs = 0;
        m_form.maxGapMs = 0;
        m_form.ResetGap();
        const int restartsBefore = m_bench.Restarts();
        m_replugs = 0;

        m_run.ToggleTestRun(); // a new run: its counters start at 0
        while (clock.elapsed() < totalMs && m_failures.empty())
            Phase();
        const TransferCounters counters = m_run.Counters();
        const bool stillRunning = m_run.IsRunning();
        Settle();
        const int fdEnd = OpenDescriptors();
        const qint64 rssEnd = ResidentKb();

        if (!stillRunning)
            m_failures.push_back("the run stopped by itself");
        if (m_form.imbalances > 0)
            m_failures.push_back("Send != Good + Bad after " + std::to_string(m_form.imbalances) +
                                 " steps, first " + m_form.firstImbalance.toStdString());
        if (counters.Send != counters.Good + counters.Bad)
            m_failures.push_back("final counters do not add up");
        if (m_form.steps != counters.Send)
            m_failures.push_back("steps seen " + std::to_string(m_form.steps) + " but Send " +
                                 std::to_string(counters.Send));
        if (m_form.maxStepMs >= kStepBoundMs)
            m_failures.push_back("a step took " + std::to_string(m_form.maxStepMs) + " ms");
        if (fdEnd != fdStart)
            m_failures.push_back("open descriptors " + std::to_string(fdStart) + " -> " +
                                 std::to_string(fdEnd));
        if (kMemoryJudged && (rssStart < 0 || rssEnd - rssStart > kRssToleranceKb))
            m_failures.push_back("resident memory grew by " + std::to_string(rssEnd - rssStart) +
                                 " kB");

        std::printf("soak: steps %d (udp %d, tcp %d, pty %d) in %lld s\n", m_form.steps,
                    m_linkSteps[Link::Udp], m_linkSteps[Link::Tcp], m_linkSteps[Link::Pty],
                    (clock.elapsed() - warmUpMs) / 1000);
        std::string faults;
        int faultCount = 0;
        for (const auto& [name, n] : m_faults) {
            faults += (faults.empty() ? "" : ", ") + name + " " + std::to_string(n);
            faultCount += n;
        }
        std::printf("soak: faults %d: %s\n", faultCount, faults.c_str());
        std::printf("soak: sign restarts %d, pty replugs %d\n", m_bench.Restarts() - restartsBefore,
                    m_replugs);
        std::printf("soak: counters Send %d Good %d Bad %d; Send = Good + Bad after every step: "
                    "%s\n",
                    counters.Send, counters.Good, counters.Bad,
                    m_form.imbalances == 0 ? "yes" : "NO");
        std::printf("soak: longest step %lld ms, longest pause between step ends %lld ms\n",
                    m_form.maxStepMs, m_form.maxGapMs);
        std::printf("soak: descriptors start %d end %d\n", fdStart, fdEnd);
        std::printf("soak: VmRSS start %lld kB end %lld kB (%+lld kB, tolerance %lld kB%s)\n",
                    rssStart, rssEnd, rssEnd - rssStart, kRssToleranceKb,
                    kMemoryJudged ? "" : ", not judged under AddressSanitizer");
        for (const std::string& f : m_failures)
            std::printf("soak: FAIL: %s\n", f.c_str());
        std::printf("soak: %s\n", m_failures.empty() ? "PASS" : "FAIL");
        std::fflush(stdout);
        return m_failures.empty() ? 0 : 1;
    }

private:
    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

    // One phase: a link, maybe a fault for a few steps, then the sign well again until ACKs
    // come back.
    void Phase() {
        static constexpr Link kLinks[] = {Link::Udp, Link::Tcp, Link::Pty};
        static constexpr Fault kFaults[] = {Fault::Silent,   Fault::Nak,      Fault::Garbage,
                                            Fault::Oversize, Fault::TcpClose, Fault::Restart,
                                            Fault::Unplug};
        const Link link = kLinks[Uniform(0, 2)];
        m_bench.Aim(m_form, link);
        std::vector<Fault> fitting;
        for (const Fault f : kFaults)
            if (FaultFits(f, link))
                fitting.push_back(f);
        const bool faulty = Uniform(0, 2) != 0;
        const Fault fault = fitting[std::size_t(Uniform(0, int(fitting.size()) - 1))];

        const int stepsBefore = m_form.steps;
        if (faulty) {
            const int send = m_run.Counters().Send;
            const int steps = fault == Fault::Silent ? Uniform(1, 2) : Uniform(1, 4);
            m_bench.Inject(fault);
            if (m_counting)
                ++m_faults[std::string(LinkName(link)) + " " + FaultName(fault)];
            WaitUntil([&] { return m_run.Counters().Send >= send + steps; }, steps * 3000);
            if (!m_bench.Heal()) {
                m_failures.push_back("the sign could not come back: " +
                                     m_bench.Error().toStdString());
                return;
            }
            if (fault == Fault::Unplug)
                ++m_replugs;
        } else {
            const int send = m_run.Counters().Send;
            WaitUntil([&] { return m_run.Counters().Send >= send + Uniform(1, 20); }, 3000);
        }
        const int good = m_run.Counters().Good;
        if (!WaitUntil([&] { return m_run.Counters().Good > good; }, kRecoveryTimeoutMs)) {
            m_failures.push_back(std::string("no ACK came back over ") + LinkName(link) +
                                 (faulty ? std::string(" after ") + FaultName(fault) : ""));
        }
        m_linkSteps[link] += m_form.steps - stepsBefore;
        if (++m_phases % 50 == 0)
            m_bench.ClearRecords();
    }

    // Between measurements: the run stopped, the serial port closed, the signs well, and
    // whatever was put off (sockets to delete) done.
    void Settle() {
        if (m_run.IsRunning())
            m_run.ToggleTestRun();
        m_form.port.Close();
        m_bench.Heal();
        m_bench.ClearRecords();
        Spin(300);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Spin(50);
    }

    Options m_options;
    CFaultBench m_bench;
    WatchedForm m_form;
    std::mt19937_64 m_rng;
    CTestRun m_run;
    bool m_counting = false;
    int m_phases = 0;
    int m_replugs = 0;
    std::map<std::string, int> m_faults;
    std::map<Link, int> m_linkSteps;
    std::vector<std::string> m_failures;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    if (!ParseOptions(app.arguments(), options)) {
        std::fprintf(stderr, "usage: kalvor_soak [--seconds N] [--seed S] "
                             "(or SOAK_SECONDS, SOAK_SEED)\n");
        return 2;
    }
    if (!options.seedGiven)
        options.seed = std::random_device{}();
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "soak: no temporary directory\n");
        return 1;
    }
    CSoak soak(options, dir.filePath(QStringLiteral("com1")));
    return soak.Run();
}
