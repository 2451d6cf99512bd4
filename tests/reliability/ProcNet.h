#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QSet>
#include <QString>

#include <unistd.h>

// The sockets this process holds, read from /proc: their inodes from /proc/self/fd, their
// addresses and states from /proc/self/net/{tcp,tcp6,udp,udp6}. Also the resident memory.
struct OwnSocket {
    QString protocol; // "tcp", "tcp6", "udp", "udp6"
    QString local;    // hex "0100007F:1F90" as the kernel prints it
    QString remote;
    int state = 0; // 0x0A: TCP listening; 0x07: UDP not connected; 0x01: established
    quint16 localPort = 0;
    quint16 remotePort = 0;

    bool Listens() const {
        if (protocol.startsWith(QLatin1String("tcp")))
            return state == 0x0A;
        return remotePort == 0; // a UDP socket that takes datagrams from anyone
    }
};

inline QSet<QByteArray> OwnSocketInodes() {
    QSet<QByteArray> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[256];
        const QByteArray path = QFile::encodeName(fds.filePath(name));
        const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const QByteArray link(target, int(n));
        if (link.startsWith("socket:[") && link.endsWith(']'))
            inodes.insert(link.mid(8, link.size() - 9));
    }
    return inodes;
}

inline QList<OwnSocket> OwnInetSockets() {
    const QSet<QByteArray> inodes = OwnSocketInodes();
    QList<OwnSocket> sockets;
    for (const char* protocol : {"tcp", "tcp6", "udp", "udp6"}) {
        QFile table(QStringLiteral("/proc/self/net/%1").arg(QLatin1String(protocol)));
        if (!table.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = table.readAll().split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> f = lines[i].simplified().split(' ');
            if (f.size() < 10 || !inodes.contains(f[9]))
                continue;
            OwnSocket s;
            s.protocol = QLatin1String(protocol);
            s.local = QString::fromLatin1(f[1]);
            s.remote = QString::fromLatin1(f[2]);
            s.state = f[3].toInt(nullptr, 16);
            s.localPort = quint16(f[1].mid(f[1].lastIndexOf(':') + 1).toUInt(nullptr, 16));
            s.remotePort = quint16(f[2].mid(f[2].lastIndexOf(':') + 1).toUInt(nullptr, 16));
            sockets.append(s);
        }
    }
    return sockets;
}

// VmRSS or VmHWM of this process in kB (-1 when unreadable).
inline qint64 StatusKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Sets the peak (VmHWM) back to the current resident size; false where the kernel does not
// allow it.
inline bool ResetPeakRss() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}
