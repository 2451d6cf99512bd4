#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

// A pseudo-terminal owned by a test: the slave stands for the serial device, the master is the
// far end of the line (the sign). The slave stays open on the test's side too, so that the
// test can look at its line settings and stop its output.
class CPtyPair {
public:
    CPtyPair() = default;
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;
    ~CPtyPair() { Close(); }

    bool Create() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        const char* name = ::ptsname(m_master);
        if (!name)
            return false;
        m_slavePath = QString::fromLocal8Bit(name);
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        return m_slave >= 0;
    }

    // The far side goes away, as an unplugged adapter does.
    void Close() {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
    }

    int Master() const { return m_master; }
    int Slave() const { return m_slave; }
    QString SlavePath() const { return m_slavePath; }

    bool Write(const QByteArray& bytes) const {
        return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Everything the line carries until it has been quiet for quietMs (at most 3 s in all).
    QByteArray ReadUntilQuiet(int quietMs) const {
        QByteArray got;
        QElapsedTimer total;
        total.start();
        while (total.elapsed() < 3000) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0 || (p.revents & POLLIN) == 0)
                break;
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, qsizetype(n));
        }
        return got;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
