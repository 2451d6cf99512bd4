// Test-run benchmarks: pace of loop tests, cost of a step with a sign that answers and with a
// silent one, the full XOR test, and a long run's memory and descriptors. The runs are the
// real CTestRun with its real timer; the sign is kalvor-display-sim in a child process.
#include "RunBench.h"

#include "BenchForm.h"
#include "BenchUtil.h"
#include "SimProcess.h"
#include "TestRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTimer>

#include <stdexcept>

namespace kalvor::bench {

namespace {

constexpr int kSilentSamples = 5;
constexpr std::chrono::seconds kXorLimit{10};
constexpr int kLongRunCheckpoint = 25'000;
constexpr int kLongRunWarmUp = 1'000;
constexpr int kHousekeepingEvery = 1'000;

const char* LinkName(int link) {
    return link == kLinkSerial ? "pty" : link == kLinkUdp ? "udp" : "tcp";
}

void AimAt(CBenchForm& form, const CSimProcess& sim, int link) {
    form.linkMode = link;
    if (link == kLinkUdp) {
        form.targetPort = std::to_string(sim.UdpPort());
    } else if (link == kLinkTcp) {
        form.targetPort = std::to_string(sim.TcpPort());
    } else {
        qputenv("KALVOR_COM1", sim.PtyPath().toLocal8Bit());
        // Opened before the run, as the window opens it at start-up: no step pays for it.
        if (!form.OpenPortFromForm())
            throw std::runtime_error("cannot open the pseudo-terminal " +
                                     form.PortCom().LastOpenError().toStdString());
    }
}

void Pump(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    end.start(duration);
    loop.exec();
}

QJsonObject Pace(const CSimProcess& sim, int link, int delayMs, std::chrono::seconds length) {
    Progress("pace: %s, Delay %d ms, %lld s", LinkName(link), delayMs,
             static_cast<long long>(length.count()));
    CBenchForm form(std::size_t(length.count() * 1000 / delayMs + 100));
    AimAt(form, sim, link);
    form.delay = std::to_string(delayMs);
    CTestRun run(form);
    run.ToggleTestRun();
    Pump(length);
    run.ToggleTestRun();

    const auto& starts = form.StepStarts();
    std::vector<double> intervals;
    for (std::size_t i = 1; i < starts.size(); ++i)
        intervals.push_back(Ms(starts[i] - starts[i - 1]));
    const double span = starts.size() > 1 ? Seconds(starts.back() - starts.front()) : 0;
    const double perSecond = span > 0 ? double(starts.size() - 1) / span : 0;
    return QJsonObject{{"link", LinkName(link)},
                       {"delay_ms", delayMs},
                       {"seconds", double(length.count())},
                       {"steps", int(starts.size())},
                       {"acknowledged", form.Acknowledged()},
                       {"steps_per_second", perSecond},
                       {"target_per_second", 1000.0 / delayMs},
                       {"interval_ms", ToJson(SpreadOf(intervals))},
                       {"step_cost_ms", ToJson(SpreadOf(form.StepCosts()))}};
}

QJsonObject Silent(const CSimProcess& silentSim, int link) {
    Progress("step cost, silent sign: %s, %d steps", LinkName(link), kSilentSamples);
    CBenchForm form(kSilentSamples);
    AimAt(form, silentSim, link);
    form.delay = "3600000"; // only the step that Start performs at once
    CTestRun run(form);
    for (int i = 0; i < kSilentSamples; ++i) {
        run.ToggleTestRun();
        run.ToggleTestRun();
        QCoreApplication::processEvents();
    }
    return QJsonObject{{"link", LinkName(link)},
                       {"not_acknowledged", form.NotAcknowledged()},
                       {"step_cost_ms", ToJson(SpreadOf(form.StepCosts()))}};
}

QJsonObject XorTest(const CSimProcess& sim, int link) {
    Progress("XOR test: %s, Delay 10 ms", LinkName(link));
    CBenchForm form(CTestRun::kXorTestFrames + 8);
    AimAt(form, sim, link);
    form.delay = "10";
    form.xorTest = true;
    CTestRun run(form);
    QTimer wake; // keeps the loop below turning once the run has ended
    wake.start(std::chrono::milliseconds(50));
    const QDeadlineTimer deadline(kXorLimit);
    const Clock::time_point start = Clock::now();
    run.ToggleTestRun();
    while (run.IsRunning() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const bool finished = !run.IsRunning();
    if (!finished)
        run.ToggleTestRun();
    return QJsonObject{
        {"link", LinkName(link)},
        {"finished", finished},
        {"frames", run.Counters().Send},
        {"acknowledged", run.Counters().Good},
        {"result", QString::fromStdString(form.LastLogLine())},
        {"wall_s", Seconds(form.LastLogTime() - start)},
        {"limit_s", 1.28},
    };
}

} // namespace

QJsonObject RunLinkSuite(std::chrono::seconds paceLength) {
    CSimProcess sim;
    if (!sim.Start())
        throw std::runtime_error(sim.Error().toStdString());
    CSimProcess silent;
    if (!silent.Start({QStringLiteral("--reply"), QStringLiteral("none")}))
        throw std::runtime_error(silent.Error().toStdString());

    QJsonArray pace;
    for (const int link : {kLinkUdp, kLinkTcp, kLinkSerial})
        for (const int delay : {10, 50})
            pace.append(Pace(sim, link, delay, paceLength));
    QJsonArray silentCost;
    for (const int link : {kLinkUdp, kLinkTcp, kLinkSerial})
        silentCost.append(Silent(silent, link));
    QJsonArray xorTest;
    for (const int link : {kLinkUdp, kLinkTcp, kLinkSerial})
        xorTest.append(XorTest(sim, link));
    sim.Stop();
    silent.Stop();
    return QJsonObject{{"pace", pace},
                       {"silent", silentCost},
                       {"xor", xorTest},
                       {"sim", sim.Summary()},
                       {"silent_sim", silent.Summary()}};
}

QJsonObject RunLongRun(int steps) {
    CSimProcess sim;
    if (!sim.Start())
        throw std::runtime_error(sim.Error().toStdString());
    Progress("long run: %d steps over UDP, back to back", steps);

    QJsonArray checkpoints;
    const auto checkpoint = [&checkpoints](const char* when, int done) {
        checkpoints.append(QJsonObject{{"when", when},
                                       {"steps", done},
                                       {"rss_kib", double(StatusKiB("VmRSS"))},
                                       {"fds", OpenDescriptors()}});
    };

    {
        CBenchForm form(std::size_t(steps) + kLongRunWarmUp + 100);
        AimAt(form, sim, kLinkUdp);
        form.delay = "10";
        CTestRun run(form);
        checkpoint("before Start", 0);
        const Clock::time_point start = Clock::now();
        run.ToggleTestRun(); // performs step 1
        const auto done = [&form] {
            return int(form.StepStarts().size());
        };
        int next = kLongRunWarmUp;
        while (done() < steps) {
            run.RunTestStep(CTestRun::kRunTimerId);
            // The thread's own loop gets control now and then, as it does between timer ticks
            // (a tick met there may add a step; every step is counted).
            if (done() % kHousekeepingEvery == 0)
                QCoreApplication::processEvents();
            if (done() >= next) {
                checkpoint(next == kLongRunWarmUp ? "warm" : "running", done());
                next = next == kLongRunWarmUp ? kLongRunCheckpoint : next + kLongRunCheckpoint;
                Progress("  %d steps", done());
            }
        }
        const double seconds = Seconds(Clock::now() - start);
        checkpoint("end", done());
        run.ToggleTestRun();
        QCoreApplication::processEvents();
        checkpoint("after Stop", done());
        const int acknowledged = form.Acknowledged();
        const Spread cost = SpreadOf(form.StepCosts());
        sim.Stop();
        return QJsonObject{{"steps", done()},
                           {"acknowledged", acknowledged},
                           {"seconds", seconds},
                           {"step_cost_ms", ToJson(cost)},
                           {"checkpoints", checkpoints},
                           {"peak_kib", double(StatusKiB("VmHWM"))},
                           {"sim", sim.Summary()}};
    }
}

} // namespace kalvor::bench
