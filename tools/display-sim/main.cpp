// kalvor-display-sim: plays the message display so Kalvor can be tried without a sign.

#include "DisplaySim.h"
#include "SimCommandLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace kalvor::sim;

namespace {

constexpr std::chrono::milliseconds kDrainPoll{10};
constexpr std::chrono::milliseconds kDrainLimit{1000};
// A byte written to the pty takes a moment to show in the far side's count: an empty count
// is trusted only after this.
constexpr std::chrono::milliseconds kDrainSettle{30};

void PrintLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char* argv[]) {
    // SIGINT and SIGTERM are taken from a signalfd on the event loop, so the summary is printed
    // and everything is closed in order. They are blocked before Qt can start any thread.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    const int signalFd = signalfd(-1, &blocked, SFD_NONBLOCK | SFD_CLOEXEC);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvor-display-sim"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    QString error;
    const auto commandLine = ParseSimCommandLine(QCoreApplication::arguments(), error);
    if (!commandLine) {
        PrintLine(stderr, QStringLiteral("kalvor-display-sim: %1").arg(error));
        PrintLine(stderr, QStringLiteral("Try 'kalvor-display-sim --help'."));
        return 2;
    }
    if (commandLine->help) {
        std::fputs(SimUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (signalFd < 0) {
        PrintLine(stderr, QStringLiteral("kalvor-display-sim: cannot watch for signals"));
        return 1;
    }

    const SimOptions& options = commandLine->options;
    CDisplaySim sim(options);
    const auto failed = [&sim] {
        PrintLine(stderr, QStringLiteral("kalvor-display-sim: %1").arg(sim.LastError()));
        return 1;
    };
    if (commandLine->udpPort && !sim.ListenUdp(*commandLine->udpPort, commandLine->bind))
        return failed();
    if (commandLine->tcpPort && !sim.ListenTcp(*commandLine->tcpPort, commandLine->bind))
        return failed();
    if (commandLine->pty && !sim.OpenPty(commandLine->link))
        return failed();

    PrintLine(stdout, sim.ListeningLine(options.json));
    QObject::connect(&sim, &CDisplaySim::lineReady, &app,
                     [](const QString& line) { PrintLine(stdout, line); });

    // The last reply on the pty is lost if the pty closes before the far side has read it: the
    // tool waits for that, a bounded time (nobody reads when Kalvor does not wait for an ACK).
    QTimer drain;
    drain.setInterval(kDrainPoll);
    QElapsedTimer draining;
    const auto quitWhenDrained = [&] {
        if (sim.PtyPath().isEmpty() ||
            (sim.PtyUnreadBytes() == 0 && draining.hasExpired(kDrainSettle.count())) ||
            draining.hasExpired(kDrainLimit.count()))
            QCoreApplication::quit();
    };
    QObject::connect(&drain, &QTimer::timeout, &app, quitWhenDrained);
    bool ending = false;
    const auto end = [&] {
        if (ending)
            return;
        ending = true;
        PrintLine(stdout, sim.SummaryLine(options.json));
        draining.start();
        drain.start();
    };
    QObject::connect(&sim, &CDisplaySim::countReached, &app, end);

    QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info{};
        while (::read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        }
        end();
    });

    const int status = QCoreApplication::exec();
    ::close(signalFd);
    return status;
}
