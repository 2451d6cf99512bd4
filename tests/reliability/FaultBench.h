#pragma once

#include "DisplaySim.h"
#include "WatchedForm.h"

#include <QObject>
#include <QTimer>

#include <memory>

// The sign side of the reliability tests: one simulator on UDP and TCP loopback, another on a
// pseudo-terminal reached as COM1 (KALVOR_COM1 points at its link), and the faults that can be
// done to them while Kalvor talks to them. Every fault is undone by Heal().
namespace reliability {

enum class Link { Udp, Tcp, Pty };
enum class Fault {
    Silent,   // no answer
    Nak,      // NAK instead of ACK
    Garbage,  // a burst of bytes without ACK
    Oversize, // an 11-byte datagram beginning with ACK (UDP)
    TcpClose, // the connection is closed instead of answered (TCP)
    Restart,  // the sign dies while answering and comes back on the same port (UDP, TCP)
    Unplug,   // the pty's far side closes; it comes back under the same link (pty)
};

inline const char* LinkName(Link link) {
    switch (link) {
    case Link::Udp:
        return "udp";
    case Link::Tcp:
        return "tcp";
    case Link::Pty:
        return "pty";
    }
    return "?";
}

inline const char* FaultName(Fault fault) {
    switch (fault) {
    case Fault::Silent:
        return "silent";
    case Fault::Nak:
        return "nak";
    case Fault::Garbage:
        return "garbage";
    case Fault::Oversize:
        return "oversize";
    case Fault::TcpClose:
        return "tcp-close";
    case Fault::Restart:
        return "restart";
    case Fault::Unplug:
        return "unplug";
    }
    return "?";
}

// Whether a fault applies to a link.
inline bool FaultFits(Fault fault, Link link) {
    switch (fault) {
    case Fault::Oversize:
        return link == Link::Udp;
    case Fault::TcpClose:
        return link == Link::Tcp;
    case Fault::Restart:
        return link != Link::Pty;
    case Fault::Unplug:
        return link == Link::Pty;
    default:
        return true;
    }
}

class CFaultBench : public QObject {
public:
    // How long a dying sign waits before its answer, so that it dies first.
    static constexpr int kDyingReplyDelayMs = 300;

    explicit CFaultBench(const QString& ptyLink) : m_ptyLink(ptyLink) {
        qputenv("KALVOR_COM1", ptyLink.toLocal8Bit());
    }
    ~CFaultBench() override { qunsetenv("KALVOR_COM1"); }

    // Both signs up, answering ACK. The network ports stay the same for the bench's life.
    bool Up() {
        if (!m_net && !StartNet())
            return false;
        if (!m_pty) {
            m_pty = std::make_unique<kalvor::sim::CDisplaySim>();
            if (!m_pty->OpenPty(m_ptyLink)) {
                m_error = m_pty->LastError();
                return false;
            }
        }
        return true;
    }

    void Aim(FakeForm& form, Link link) const {
        form.linkMode = link == Link::Udp   ? kalvor::kLinkUdp
                        : link == Link::Tcp ? kalvor::kLinkTcp
                                            : kalvor::kLinkSerial;
        form.serial.portIndex = 0;
        form.targetPort = std::to_string(link == Link::Udp ? m_udpPort : m_tcpPort);
        form.ip = "127.0.0.1";
    }

    // Starts the fault. Restart only arms the sign's death on its next frame: it dies while
    // the frame waits for its answer, and stays down until Heal().
    void Inject(Fault fault) {
        kalvor::sim::SimOptions options;
        switch (fault) {
        case Fault::Silent:
            options.reply = kalvor::sim::Reply::None;
            break;
        case Fault::Nak:
            options.reply = kalvor::sim::Reply::Nak;
            break;
        case Fault::Garbage:
            options.reply = kalvor::sim::Reply::Garbage;
            break;
        case Fault::Oversize:
            options.udpOversize = true;
            break;
        case Fault::TcpClose:
            options.tcpClose = true;
            break;
        case Fault::Restart:
            options.delayMs = kDyingReplyDelayMs;
            if (m_net) {
                connect(
                    m_net.get(), &kalvor::sim::CDisplaySim::frameReceived, this,
                    [this] { QTimer::singleShot(0, this, [this] { m_net.reset(); }); },
                    Qt::SingleShotConnection);
            }
            break;
        case Fault::Unplug:
            if (m_pty)
                m_pty->ClosePty();
            return;
        }
        SetOptions(options);
    }

    // Undoes every fault: default answers, the network sign listening again on its ports, the
    // pty plugged in again under its link.
    bool Heal() {
        if (m_net)
            m_net->disconnect(this);
        SetOptions({});
        if (!m_net && !StartNet())
            return false;
        if (m_pty && m_pty->PtyPath().isEmpty() && !m_pty->OpenPty(m_ptyLink)) {
            m_error = m_pty->LastError();
            return false;
        }
        return true;
    }

    // Everything the signs keep about past frames goes (long runs).
    void ClearRecords() {
        if (m_net)
            m_net->ClearRecords();
        if (m_pty)
            m_pty->ClearRecords();
    }

    bool NetUp() const { return m_net != nullptr; }
    bool PtyPlugged() const { return m_pty && !m_pty->PtyPath().isEmpty(); }
    kalvor::sim::CDisplaySim* Net() const { return m_net.get(); }
    kalvor::sim::CDisplaySim* Pty() const { return m_pty.get(); }
    quint16 UdpPort() const { return m_udpPort; }
    quint16 TcpPort() const { return m_tcpPort; }
    QString Error() const { return m_error; }
    int Restarts() const { return m_restarts; }

private:
    bool StartNet() {
        auto sign = std::make_unique<kalvor::sim::CDisplaySim>();
        if (!sign->ListenUdp(m_udpPort) || !sign->ListenTcp(m_tcpPort)) {
            m_error = sign->LastError();
            return false;
        }
        if (m_udpPort != 0)
            ++m_restarts;
        m_udpPort = sign->UdpPort();
        m_tcpPort = sign->TcpPort();
        m_net = std::move(sign);
        return true;
    }
    void SetOptions(const kalvor::sim::SimOptions& options) {
        if (m_net)
            m_net->SetOptions(options);
        if (m_pty)
            m_pty->SetOptions(options);
    }

    QString m_ptyLink;
    QString m_error;
    std::unique_ptr<kalvor::sim::CDisplaySim> m_net;
    std::unique_ptr<kalvor::sim::CDisplaySim> m_pty;
    quint16 m_udpPort = 0;
    quint16 m_tcpPort = 0;
    int m_restarts = 0;
};

} // namespace reliability
