#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <set>

// A sign's side of the link: takes frames over UDP, TCP or a pseudo-terminal, checks them,
// prints one line per frame and answers with ACK (or as told), so Kalvor can be tried and
// tested without a sign.
namespace kalvor::sim {

// Garbage: a burst of bytes that holds no ACK (kGarbageReply), as a sign with a broken line
// driver would send.
enum class Reply { Ack, Nak, None, Garbage };
enum class ChecksumMode { Auto, On, Off };

struct SimOptions {
    Reply reply = Reply::Ack;
    ChecksumMode checksum = ChecksumMode::Auto;
    bool ackInvalid = false;
    int delayMs = 0;
    std::set<int> failXor;          // no reply to frames with these checksum values
    int dropEvery = 0;              // no reply to every Nth frame (0: never)
    std::optional<int> onlyAddress; // other addresses stay silent
    bool tcpClose = false;          // close TCP connections instead of replying
    bool udpOversize = false;       // reply with an 11-byte datagram beginning with ACK
    bool json = false;              // JSON lines instead of key=value lines
    int count = 0;                  // stop after this many frames (0: never)
};

// One decoded frame, as printed.
struct FrameRecord {
    QString link; // "udp", "tcp" or "pty"
    int address = -1;
    int attribute = -1;
    std::optional<int> xorByte; // the checksum byte received, if any
    bool valid = false;
    QString reply;                  // "ack", "nak", "none", "close", "oversize"
    QString text;                   // decoded Windows-1252 text
    QByteArray raw;                 // bytes of the frame as received
    std::optional<int> expectedXor; // the checksum of the bytes received up to the first ETX
};

class CDisplaySim : public QObject {
    Q_OBJECT
public:
    explicit CDisplaySim(const SimOptions& options = {}, QObject* parent = nullptr);
    ~CDisplaySim() override;

    void SetOptions(const SimOptions& options); // takes effect from the next frame
    SimOptions Options() const;

    bool ListenUdp(quint16 port, const QHostAddress& bind = QHostAddress::LocalHost);
    bool ListenTcp(quint16 port, const QHostAddress& bind = QHostAddress::LocalHost);
    // Creates a pseudo-terminal pair; linkPath, when given, becomes a symbolic link to it.
    bool OpenPty(const QString& linkPath = {});
    void ClosePty(); // the far side goes away, as an unplugged adapter does

    quint16 UdpPort() const;
    quint16 TcpPort() const;
    QString PtyPath() const;
    QString ListeningLine() const; // "listening udp=127.0.0.1:40123 tcp=... pty=..."
    QString SummaryLine() const;   // "summary frames=N valid=V replied=R"
    // The same lines as JSON objects when json is set.
    QString ListeningLine(bool json) const;
    QString SummaryLine(bool json) const;
    QString PtyLinkPath() const; // the symbolic link made by OpenPty, if any
    QString LastError() const;   // why the last Listen or OpenPty failed
    // Bytes written to the pty that its far side has not read yet (0 without a pty). Closing
    // the pty throws them away, so the tool waits for them before it quits.
    int PtyUnreadBytes() const;

    int Frames() const;
    int Valid() const;
    int Replied() const;
    QList<FrameRecord> Records() const;
    void ClearRecords();

    // The line printed for a frame, in the chosen format.
    static QString FormatLine(const FrameRecord& record, bool json);

signals:
    void frameReceived(const kalvor::sim::FrameRecord& record);
    void lineReady(const QString& line);
    void countReached();

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace kalvor::sim

Q_DECLARE_METATYPE(kalvor::sim::FrameRecord)
