#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <chrono>

namespace kalvor::bench {

namespace {
constexpr std::chrono::milliseconds kStartLimit{5000};
constexpr std::chrono::milliseconds kStopLimit{3000};
constexpr std::chrono::milliseconds kPoll{5};
} // namespace

QString CSimProcess::Program() {
    const QString fromEnvironment = qEnvironmentVariable("KALVOR_BENCH_SIM");
    return fromEnvironment.isEmpty() ? QStringLiteral(KALVOR_BENCH_SIM) : fromEnvironment;
}

CSimProcess::~CSimProcess() {
    Stop();
}

bool CSimProcess::Start(const QStringList& extraOptions) {
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString outPath = m_dir.filePath(QStringLiteral("sim.out"));
    m_process.setStandardOutputFile(outPath);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(Program(), QStringList{QStringLiteral("--udp"), QStringLiteral("0"),
                                           QStringLiteral("--tcp"), QStringLiteral("0"),
                                           QStringLiteral("--pty")} +
                                   extraOptions);
    if (!m_process.waitForStarted(int(kStartLimit.count()))) {
        m_error = QStringLiteral("%1 did not start: %2").arg(Program(), m_process.errorString());
        return false;
    }
    // The first line names the ports: "listening udp=127.0.0.1:P tcp=127.0.0.1:P pty=/dev/pts/N".
    static const QRegularExpression listening(
        QStringLiteral(R"(^listening udp=[^ ]*:(\d+) tcp=[^ ]*:(\d+) pty=(\S+))"));
    QFile out(outPath);
    const QDeadlineTimer deadline(kStartLimit);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (out.isOpen() || out.open(QIODevice::ReadOnly)) {
            out.seek(0);
            const QString first = QString::fromUtf8(out.readLine()).trimmed();
            const auto match = listening.match(first);
            if (match.hasMatch()) {
                m_udpPort = quint16(match.captured(1).toUInt());
                m_tcpPort = quint16(match.captured(2).toUInt());
                m_ptyPath = match.captured(3);
                return true;
            }
        }
        QThread::msleep(static_cast<unsigned long>(
            kPoll.count())); // the benchmark has not started yet: nothing to keep painted
    }
    m_error = QStringLiteral("%1 announced no ports").arg(Program());
    Stop();
    return false;
}

void CSimProcess::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // SIGTERM: it prints its summary and ends
    if (!m_process.waitForFinished(int(kStopLimit.count()))) {
        m_process.kill();
        m_process.waitForFinished(int(kStopLimit.count()));
    }
    QFile out(m_dir.filePath(QStringLiteral("sim.out")));
    if (out.open(QIODevice::ReadOnly)) {
        // The summary is the last line; read only the tail of a file that may be large.
        out.seek(std::max<qint64>(0, out.size() - 4096));
        const QList<QByteArray> lines = out.readAll().split('\n');
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (it->startsWith("summary")) {
                m_summary = QString::fromUtf8(*it);
                break;
            }
        }
    }
}

} // namespace kalvor::bench
