#include "SocketChannel.h"

#include "SocketErrors.h"
#include "WaitLoop.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <array>
#include <functional>

namespace kalvor {

class CBlockingSocket::Private {
public:
    Private() {
        m_budget.setSingleShot(false);
        m_budget.setTimerType(Qt::PreciseTimer);
    }
    ~Private() { DropSocket(); }

    // Takes a fresh socket and listens to everything a wait may be waiting for.
    void Attach(std::unique_ptr<QAbstractSocket> socket);
    // Closes the socket at once (its descriptor goes back to the system now) and forgets it.
    void DropSocket();

    // One wait of a call. ready() is checked first: a call that need not wait never waits and
    // is never ended by the budget. False when the budget (or, with no budget running, the
    // safety limit) ended the wait.
    bool Wait(const std::function<bool()>& ready);

    int Fail(int code) {
        SetLastSocketError(code);
        return 0;
    }
    // Fails with the number of what the socket last reported.
    int FailFromSocket(int fallback);

    QTimer m_budget;
    quintptr m_nTimerId = 0;
    CWaitLoop m_wait;
    bool m_closed = false;

    // What the socket announced since it was made (or since the flag was last taken).
    bool m_readyRead = false;
    bool m_failed = false;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
    QString m_errorText;
    qint64 m_written = 0;

    // Declared last: it goes first, before the wait its signals would wake.
    std::unique_ptr<QAbstractSocket> m_socket;
};

void CBlockingSocket::Private::Attach(std::unique_ptr<QAbstractSocket> socket) {
    DropSocket();
    m_socket = std::move(socket);
    m_readyRead = false;
    m_failed = false;
    m_error = QAbstractSocket::UnknownSocketError;
    m_errorText.clear();
    m_written = 0;
    QAbstractSocket* s = m_socket.get();
    if (!s)
        return;
    const auto wake = [this] {
        m_wait.Wake();
    };
    QObject::connect(s, &QAbstractSocket::connected, s, wake);
    QObject::connect(s, &QAbstractSocket::disconnected, s, wake);
    QObject::connect(s, &QAbstractSocket::stateChanged, s, wake);
    QObject::connect(s, &QIODevice::bytesWritten, s, [this](qint64 bytes) {
        m_written += bytes;
        m_wait.Wake();
    });
    QObject::connect(s, &QIODevice::readyRead, s, [this] {
        m_readyRead = true;
        m_wait.Wake();
    });
    QObject::connect(s, &QAbstractSocket::errorOccurred, s,
                     [this, s](QAbstractSocket::SocketError error) {
                         m_failed = true;
                         m_error = error;
                         m_errorText = s->errorString();
                         m_wait.Wake();
                     });
}

void CBlockingSocket::Private::DropSocket() {
    if (!m_socket)
        return;
    m_socket->disconnect(); // no more wake-ups from it
    m_socket->abort();      // closes the descriptor now
    if (m_wait.IsRunning()) {
        // Closed from a handler that ran inside one of our own waits: that wait ends as
        // failed, and the object goes once the loop that runs it has returned.
        m_wait.Cancel();
        m_socket.release()->deleteLater();
    } else {
        m_socket.reset();
    }
}

bool CBlockingSocket::Private::Wait(const std::function<bool()>& ready) {
    const QDeadlineTimer deadline = m_budget.isActive()
                                        ? QDeadlineTimer(QDeadlineTimer::Forever)
                                        : QDeadlineTimer(kUnbudgetedWaitLimit, Qt::PreciseTimer);
    return m_wait.Run(ready, deadline);
}

int CBlockingSocket::Private::FailFromSocket(int fallback) {
    if (m_failed)
        return Fail(SocketErrorCodeFor(m_error, m_errorText));
    if (m_socket && m_socket->error() != QAbstractSocket::UnknownSocketError)
        return Fail(SocketErrorCodeFor(m_socket->error(), m_socket->errorString()));
    return Fail(fallback);
}

CBlockingSocket::CBlockingSocket(QObject* parent) : QObject(parent), d(new Private) {
    // Each expiry of the budget ends the wait in progress. When no wait of ours runs, the
    // expiry is delivered by whatever loop runs next: the next wait of ours if it comes first
    // (and has to wait), otherwise the thread's own loop, where it does nothing.
    connect(&d->m_budget, &QTimer::timeout, this, [p = d.get()] {
        if (p->m_wait.IsRunning())
            p->m_wait.Cancel();
    });
}

CBlockingSocket::~CBlockingSocket() {
    // Without CloseLink everything still goes: the budget stops, the socket is closed.
    d->m_budget.stop();
    d->DropSocket();
}

int CBlockingSocket::ConnectWithTimeout(const std::string& address, long long port, int ms) {
    d->m_closed = false;
    d->Attach(MakeSocket());
    StartTimeout(ms);

    // Only dotted quads are taken: a host name would need a lookup that can outlast the
    // budget and freeze the window, and the IP address control never gives one.
    const auto ip = ParseDottedQuad(address);
    if (!ip)
        return d->Fail(kSockErrInvalidAddress);
    // 0.0.0.0 (a blank IP control) would quietly reach this machine, and a port cut to
    // 16 bits would reach some other service: neither is a target.
    if (*ip == 0 || port < 1 || port > 65535)
        return d->Fail(kSockErrAddressNotAvailable);
    if (!d->m_socket)
        return d->Fail(kSockErrNoBuffers);

    d->m_socket->connectToHost(QHostAddress(*ip), static_cast<quint16>(port));
    // A datagram socket is connected at once; a stream socket may have to wait.
    const bool ended = d->Wait([p = d.get()] {
        if (!p->m_socket)
            return true;
        const auto state = p->m_socket->state();
        return state == QAbstractSocket::ConnectedState ||
               state == QAbstractSocket::UnconnectedState;
    });
    if (!ended) {
        if (d->m_socket)
            d->m_socket->abort();
        return d->Fail(kSockErrInterrupted);
    }
    if (d->m_socket && d->m_socket->state() == QAbstractSocket::ConnectedState)
        return 1;
    return d->FailFromSocket(kSockErrNetworkDown);
}

int CBlockingSocket::SendFrame(const DisplayFrame& frame, bool withChecksum) {
    if (!FindFirstEtx(frame.data(), std::min(frame.size(), kEtxSearchBytes)))
        return -1;
    const DisplayFrame wire = WireBytes(frame, withChecksum);
    const auto size = static_cast<qint64>(wire.size());

    QAbstractSocket* s = d->m_socket.get();
    if (!s || s->state() != QAbstractSocket::ConnectedState)
        return d->Fail(kSockErrNotConnected);

    d->m_failed = false;
    d->m_written = 0;
    const qint64 taken = s->write(reinterpret_cast<const char*>(wire.data()), size);
    if (IsDatagram()) {
        // One datagram, handed to the system at once or not at all.
        if (taken == size)
            return 1;
        return d->FailFromSocket(kSockErrNoBuffers);
    }
    if (taken != size)
        return d->FailFromSocket(kSockErrNotConnected);
    s->flush(); // hands over what the system takes at once
    const bool ended = d->Wait([p = d.get(), size] {
        return !p->m_socket || p->m_written >= size || p->m_failed ||
               p->m_socket->state() != QAbstractSocket::ConnectedState;
    });
    if (d->m_written >= size)
        return 1;
    if (!ended) {
        // The rest of the frame must not trickle out later: the link is dropped.
        if (d->m_socket)
            d->m_socket->abort();
        return d->Fail(kSockErrInterrupted);
    }
    return d->FailFromSocket(kSockErrNotConnected);
}

int CBlockingSocket::WaitAck() {
    if (!d->m_socket)
        return d->Fail(kSockErrNotConnected);

    if (IsDatagram()) {
        // Waits for the socket's word that a datagram (or an error such as "port
        // unreachable") is there; the datagram itself is read once, into one byte more than an
        // answer may hold. QUdpSocket::hasPendingDatagrams() is never asked: after a refused
        // read it crashes on Qt 6.4.
        const bool ended = d->Wait([p = d.get()] {
            return !p->m_socket || p->m_readyRead || p->m_failed ||
                   p->m_socket->state() != QAbstractSocket::ConnectedState;
        });
        if (!ended)
            return d->Fail(kSockErrInterrupted);
        auto* udp = static_cast<QUdpSocket*>(d->m_socket.get());
        if (!udp)
            return d->Fail(kSockErrNotConnected);
        if (!d->m_readyRead)
            return d->FailFromSocket(kSockErrNotConnected);
        d->m_readyRead = false;
        std::array<char, kAckReceiveBytes + 1> buffer{};
        const qint64 got = udp->readDatagram(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0)
            return d->Fail(SocketErrorCodeFor(udp->error(), udp->errorString()));
        if (got > kAckReceiveBytes)
            return d->Fail(kSockErrMessageTooLong);
        return got >= 1 && static_cast<Byte>(buffer[0]) == ACK ? 1 : 0;
    }

    const bool ended = d->Wait([p = d.get()] {
        return !p->m_socket || p->m_socket->bytesAvailable() > 0 ||
               p->m_socket->state() != QAbstractSocket::ConnectedState;
    });
    QAbstractSocket* s = d->m_socket.get();
    if (s && s->bytesAvailable() > 0) {
        std::array<char, kAckReceiveBytes> buffer{};
        const qint64 got = s->read(buffer.data(), static_cast<qint64>(buffer.size()));
        return got >= 1 && static_cast<Byte>(buffer[0]) == ACK ? 1 : 0;
    }
    if (!ended)
        return d->Fail(kSockErrInterrupted);
    // The sign closed or reset the connection without a word.
    return d->FailFromSocket(kSockErrConnectionReset);
}

int CBlockingSocket::CloseLink() {
    if (d->m_closed)
        return 0;
    d->m_closed = true;
    StopTimeout();
    d->DropSocket();
    return 0;
}

quintptr CBlockingSocket::StartTimeout(int ms) {
    d->m_budget.start(std::max(std::chrono::milliseconds(ms), kMinimumBudgetPeriod));
    const int id = d->m_budget.timerId();
    d->m_nTimerId = id > 0 ? static_cast<quintptr>(id) : 0;
    return d->m_nTimerId;
}

int CBlockingSocket::StopTimeout() {
    const bool wasRunning = d->m_budget.isActive();
    d->m_budget.stop();
    return wasRunning ? 1 : 0;
}

std::string CBlockingSocket::SocketErrorText() {
    return "ERR #" + std::to_string(LastSocketError());
}

CTcpSocket::CTcpSocket(QObject* parent) : CBlockingSocket(parent) {}

std::unique_ptr<QAbstractSocket> CTcpSocket::MakeSocket() {
    return std::make_unique<QTcpSocket>();
}

CUdpSocket::CUdpSocket(QObject* parent) : CBlockingSocket(parent) {}

std::unique_ptr<QAbstractSocket> CUdpSocket::MakeSocket() {
    return std::make_unique<QUdpSocket>();
}

} // namespace kalvor
