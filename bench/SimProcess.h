#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The display simulator (kalvor-display-sim) in a child process: the sign's work runs on its
// own process, as a real sign's does. It listens on UDP and TCP loopback and on a fresh
// pseudo-terminal; its frame lines go to a file, so our thread never reads them.
namespace kalvor::bench {

class CSimProcess {
public:
    CSimProcess() = default;
    ~CSimProcess();
    CSimProcess(const CSimProcess&) = delete;
    CSimProcess& operator=(const CSimProcess&) = delete;

    // Starts the simulator with these extra options ("--reply none", ...). False, with the
    // reason in Error(), when it did not announce its ports within a few seconds.
    bool Start(const QStringList& extraOptions = {});
    void Stop();

    quint16 UdpPort() const { return m_udpPort; }
    quint16 TcpPort() const { return m_tcpPort; }
    QString PtyPath() const { return m_ptyPath; }
    QString Error() const { return m_error; }
    // "summary frames=N valid=V replied=R", read after Stop().
    QString Summary() const { return m_summary; }

    // Path of the simulator: $KALVOR_BENCH_SIM, or the one built with the benchmarks.
    static QString Program();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_udpPort = 0;
    quint16 m_tcpPort = 0;
    QString m_ptyPath;
    QString m_error;
    QString m_summary;
};

} // namespace kalvor::bench
