#include "DisplaySim.h"

#include "DisplayFrame.h"
#include "SimFrame.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// Everything runs on the thread's event loop: sockets and the pty are read from their
// notifiers, the checksum wait and the reply delay are timers. Nothing blocks and nothing
// sleeps, so the simulator can run in the same thread as code that waits for its answer in a
// nested event loop.
namespace kalvor::sim {

namespace {

// Qt's own buffer of a TCP connection; every readyRead drains it.
constexpr qint64 kTcpReadBuffer = 64 * 1024;
// One read() of the pty, and how many of them one notification may take before the event
// loop gets the thread back.
constexpr std::size_t kPtyChunk = 4096;
constexpr int kPtyReadsPerWakeup = 16;
// A pty master whose slave side is closed reports EIO on every read; the notifier then rests.
constexpr std::chrono::milliseconds kPtyErrorPause{100};
// The oversize answer: ACK followed by ten more bytes, one more than Kalvor reads.
constexpr int kOversizeReplyBytes = 11;
// The garbage answer: no ACK anywhere in it, fewer bytes than a UDP answer may hold.
constexpr char kGarbageReply[] = {'\xFF', '\x00', '\x02', '\x03', '\x15', '\x7F', '\x0D', '\x80'};

enum class ReplyKind { None, Ack, Nak, Close, Oversize, Garbage };

QString ReplyName(ReplyKind kind) {
    switch (kind) {
    case ReplyKind::Ack:
        return QStringLiteral("ack");
    case ReplyKind::Nak:
        return QStringLiteral("nak");
    case ReplyKind::Close:
        return QStringLiteral("close");
    case ReplyKind::Oversize:
        return QStringLiteral("oversize");
    case ReplyKind::Garbage:
        return QStringLiteral("garbage");
    case ReplyKind::None:
        break;
    }
    return QStringLiteral("none");
}

// Where a reply goes. Each function may outlive the link it names: alive() tells.
struct ReplyTarget {
    std::function<bool()> alive;
    std::function<bool(const QByteArray&)> send;
    std::function<void()> close; // empty for links that cannot be closed
};

// A stream link (a TCP connection or the pty) and its framer.
struct StreamLink {
    QString name;
    CStreamFramer framer;
    QTimer* checksumTimer = nullptr;
    ReplyTarget target;
};

QString HostPort(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

class CDisplaySim::Private {
public:
    explicit Private(CDisplaySim* owner, const SimOptions& options)
        : q(owner), m_options(options) {}

    CDisplaySim* q;
    SimOptions m_options;
    QString m_lastError;

    QUdpSocket* m_udp = nullptr;
    QTcpServer* m_tcp = nullptr;
    std::map<QTcpSocket*, std::unique_ptr<StreamLink>> m_tcpLinks;

    int m_ptyMaster = -1;
    int m_ptySlave = -1; // held open by the simulator itself, see OpenPty
    QString m_ptyPath;
    QString m_ptyLink;
    QSocketNotifier* m_ptyNotifier = nullptr;
    quint64 m_ptyGeneration = 0;
    StreamLink m_ptyStream;

    int m_frames = 0;
    int m_valid = 0;
    int m_replied = 0;
    int m_pendingReplies = 0;
    bool m_countSignalled = false;
    QList<FrameRecord> m_records;

    void Feed(StreamLink& link, const char* data, qsizetype size);
    void ChecksumWaitOver(StreamLink& link);
    void Finish(const QByteArray& bytes, const QString& link, const ReplyTarget& target,
                bool datagram);
    ReplyKind Decide(const FrameRecord& record, const QString& link,
                     const ReplyTarget& target) const;
    void Deliver(ReplyKind kind, const ReplyTarget& target);
    void CheckCount();

    void ReadUdp();
    void AcceptTcp();
    void ReadTcp(QTcpSocket* socket);
    void TcpGone(QTcpSocket* socket);
    void ReadPty();
    void RemovePtyLink();
};

void CDisplaySim::Private::Feed(StreamLink& link, const char* data, qsizetype size) {
    // Complete frames are collected first and handled after the walk: handling one emits
    // signals whose receivers may close this very link.
    std::vector<QByteArray> done;
    for (qsizetype i = 0; i < size; ++i) {
        CStreamFramer::Result r = link.framer.Feed(data[i], m_options.checksum);
        switch (r.outcome) {
        case CStreamFramer::Outcome::FrameDone:
            link.checksumTimer->stop();
            done.push_back(std::move(r.bytes));
            break;
        case CStreamFramer::Outcome::AwaitingChecksum:
            if (m_options.checksum == ChecksumMode::Auto)
                link.checksumTimer->start(kChecksumWait);
            break;
        case CStreamFramer::Outcome::Discarded: {
            const QString line =
                m_options.json
                    ? QStringLiteral(R"({"event":"discard","link":%1,"bytes":%2,"reason":%3})")
                          .arg(JsonString(link.name))
                          .arg(r.discarded)
                          .arg(JsonString(r.reason))
                    : QStringLiteral("discard link=%1 bytes=%2 reason=%3")
                          .arg(link.name)
                          .arg(r.discarded)
                          .arg(r.reason);
            emit q->lineReady(line);
            break;
        }
        case CStreamFramer::Outcome::Nothing:
            break;
        }
    }
    const QString name = link.name;
    const ReplyTarget target = link.target;
    for (const QByteArray& frame : done)
        Finish(frame, name, target, false);
}

void CDisplaySim::Private::ChecksumWaitOver(StreamLink& link) {
    const QByteArray frame = link.framer.TakeWithoutChecksum();
    if (frame.isEmpty())
        return;
    const QString name = link.name;
    const ReplyTarget target = link.target;
    Finish(frame, name, target, false);
}

ReplyKind CDisplaySim::Private::Decide(const FrameRecord& record, const QString& link,
                                       const ReplyTarget& target) const {
    if (!record.valid && !m_options.ackInvalid)
        return ReplyKind::None;
    if (m_options.onlyAddress && record.address != *m_options.onlyAddress)
        return ReplyKind::None;
    // The checksum byte received or, when none came, the one the frame would have carried:
    // so a chosen XOR test step fails with and without "Use XOR".
    const std::optional<int> x = record.xorByte ? record.xorByte : record.expectedXor;
    if (x && m_options.failXor.count(*x))
        return ReplyKind::None;
    if (m_options.dropEvery > 0 && m_frames % m_options.dropEvery == 0)
        return ReplyKind::None;
    if (m_options.reply == Reply::None || !target.alive())
        return ReplyKind::None;
    if (link == QLatin1String("tcp") && m_options.tcpClose)
        return ReplyKind::Close;
    if (link == QLatin1String("udp") && m_options.udpOversize)
        return ReplyKind::Oversize;
    if (m_options.reply == Reply::Garbage)
        return ReplyKind::Garbage;
    return m_options.reply == Reply::Nak ? ReplyKind::Nak : ReplyKind::Ack;
}

void CDisplaySim::Private::Finish(const QByteArray& bytes, const QString& link,
                                  const ReplyTarget& target, bool datagram) {
    FrameRecord record = AnalyseFrame(bytes, m_options.checksum, datagram);
    record.link = link;
    ++m_frames;
    if (record.valid)
        ++m_valid;
    const ReplyKind kind = Decide(record, link, target);
    record.reply = ReplyName(kind);

    if (m_records.size() >= kMaxRecords)
        m_records.removeFirst();
    m_records.append(record);

    if (kind != ReplyKind::None)
        ++m_pendingReplies; // before the signals, so a count reached now waits for the reply
    emit q->frameReceived(record);
    emit q->lineReady(FormatLine(record, m_options.json));

    if (kind != ReplyKind::None) {
        if (m_options.delayMs > 0) {
            QTimer::singleShot(std::chrono::milliseconds(m_options.delayMs), q,
                               [this, kind, target] { Deliver(kind, target); });
        } else {
            Deliver(kind, target);
        }
    }
    CheckCount();
}

void CDisplaySim::Private::Deliver(ReplyKind kind, const ReplyTarget& target) {
    --m_pendingReplies;
    if (target.alive()) {
        switch (kind) {
        case ReplyKind::Ack:
            m_replied += target.send(QByteArray(1, char(ACK))) ? 1 : 0;
            break;
        case ReplyKind::Nak:
            m_replied += target.send(QByteArray(1, char(NAK))) ? 1 : 0;
            break;
        case ReplyKind::Oversize: {
            QByteArray reply(kOversizeReplyBytes, '\0');
            reply[0] = char(ACK);
            m_replied += target.send(reply) ? 1 : 0;
            break;
        }
        case ReplyKind::Garbage:
            m_replied +=
                target.send(QByteArray(kGarbageReply, qsizetype(sizeof kGarbageReply))) ? 1 : 0;
            break;
        case ReplyKind::Close:
            if (target.close)
                target.close();
            break;
        case ReplyKind::None:
            break;
        }
    }
    CheckCount();
}

void CDisplaySim::Private::CheckCount() {
    if (m_options.count > 0 && m_frames >= m_options.count && m_pendingReplies == 0 &&
        !m_countSignalled) {
        m_countSignalled = true;
        emit q->countReached();
    }
}

void CDisplaySim::Private::ReadUdp() {
    QPointer<QUdpSocket> socket = m_udp;
    while (socket && socket->hasPendingDatagrams()) {
        // One byte more than a frame may have: a longer datagram is cut there and reported
        // as not valid, so a flood never needs more memory than that.
        const QNetworkDatagram datagram = socket->receiveDatagram(kFrameBufferLimit + 1);
        if (!datagram.isValid())
            break;
        const QHostAddress sender = datagram.senderAddress();
        const quint16 port = quint16(datagram.senderPort());
        ReplyTarget target;
        target.alive = [socket] {
            return !socket.isNull();
        };
        target.send = [socket, sender, port](const QByteArray& reply) {
            return socket && socket->writeDatagram(reply, sender, port) == reply.size();
        };
        Finish(datagram.data(), QStringLiteral("udp"), target, true);
    }
}

void CDisplaySim::Private::AcceptTcp() {
    while (m_tcp && m_tcp->hasPendingConnections()) {
        QTcpSocket* socket = m_tcp->nextPendingConnection();
        if (!socket)
            break;
        socket->setReadBufferSize(kTcpReadBuffer);
        auto link = std::make_unique<StreamLink>();
        link->name = QStringLiteral("tcp");
        link->checksumTimer = new QTimer(socket);
        link->checksumTimer->setSingleShot(true);
        link->checksumTimer->setTimerType(Qt::PreciseTimer);
        QPointer<QTcpSocket> guard = socket;
        link->target.alive = [guard] {
            return guard && guard->state() == QAbstractSocket::ConnectedState;
        };
        link->target.send = [guard](const QByteArray& reply) {
            // Straight to the kernel: the tool may quit right after the last reply.
            const bool ok = guard && guard->write(reply) == reply.size();
            if (ok)
                guard->flush();
            return ok;
        };
        link->target.close = [guard] {
            if (guard)
                guard->disconnectFromHost();
        };
        StreamLink* raw = link.get();
        m_tcpLinks[socket] = std::move(link);
        QObject::connect(raw->checksumTimer, &QTimer::timeout, q,
                         [this, raw] { ChecksumWaitOver(*raw); });
        QObject::connect(socket, &QTcpSocket::readyRead, q, [this, socket] { ReadTcp(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, q, [this, socket] { TcpGone(socket); });
        ReadTcp(socket); // bytes that came with the connection
    }
}

void CDisplaySim::Private::ReadTcp(QTcpSocket* socket) {
    const auto it = m_tcpLinks.find(socket);
    if (it == m_tcpLinks.end())
        return;
    char buffer[4096];
    // The link is looked up again each round: a receiver of the frame signals may end it.
    for (auto link = it; link != m_tcpLinks.end() && socket->bytesAvailable() > 0;
         link = m_tcpLinks.find(socket)) {
        const qint64 n = socket->read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        Feed(*link->second, buffer, n);
    }
}

void CDisplaySim::Private::TcpGone(QTcpSocket* socket) {
    const auto it = m_tcpLinks.find(socket);
    if (it == m_tcpLinks.end())
        return;
    ReadTcp(socket);
    if (m_tcpLinks.count(socket) == 0)
        return;
    StreamLink* link = it->second.get();
    link->checksumTimer->stop();
    // A frame whose ETX came before the peer left is complete (without its checksum); a
    // frame still open is dropped quietly.
    const QByteArray frame = link->framer.TakeWithoutChecksum();
    link->framer.Reset();
    const ReplyTarget target = link->target;
    // The link goes after this event: its timer may be the sender of the current signal.
    QMetaObject::invokeMethod(
        q, [this, socket] { m_tcpLinks.erase(socket); }, Qt::QueuedConnection);
    socket->deleteLater();
    if (!frame.isEmpty())
        Finish(frame, QStringLiteral("tcp"), target, false);
}

void CDisplaySim::Private::ReadPty() {
    const quint64 generation = m_ptyGeneration;
    char buffer[kPtyChunk];
    for (int i = 0; i < kPtyReadsPerWakeup; ++i) {
        if (m_ptyMaster < 0 || generation != m_ptyGeneration)
            return;
        const ssize_t n = ::read(m_ptyMaster, buffer, sizeof buffer);
        if (n > 0) {
            Feed(m_ptyStream, buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO (no slave side open) or end of file: rest instead of spinning on the notifier.
        m_ptyNotifier->setEnabled(false);
        QTimer::singleShot(kPtyErrorPause, q, [this, generation] {
            if (m_ptyNotifier && generation == m_ptyGeneration)
                m_ptyNotifier->setEnabled(true);
        });
        return;
    }
}

void CDisplaySim::Private::RemovePtyLink() {
    if (m_ptyLink.isEmpty())
        return;
    // Only a link that still points at our pty is ours to remove.
    char target[4096];
    const QByteArray path = QFile::encodeName(m_ptyLink);
    const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
    if (n > 0 && QByteArray(target, int(n)) == QFile::encodeName(m_ptyPath))
        ::unlink(path.constData());
    m_ptyLink.clear();
}

CDisplaySim::CDisplaySim(const SimOptions& options, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, options)) {
    d->m_ptyStream.name = QStringLiteral("pty");
    d->m_ptyStream.checksumTimer = new QTimer(this);
    d->m_ptyStream.checksumTimer->setSingleShot(true);
    d->m_ptyStream.checksumTimer->setTimerType(Qt::PreciseTimer);
    connect(d->m_ptyStream.checksumTimer, &QTimer::timeout, this,
            [this] { d->ChecksumWaitOver(d->m_ptyStream); });
}

CDisplaySim::~CDisplaySim() {
    ClosePty();
    // The sockets are children of this object and go with it; their links go first.
    for (auto& [socket, link] : d->m_tcpLinks)
        socket->disconnect(this);
    d->m_tcpLinks.clear();
}

void CDisplaySim::SetOptions(const SimOptions& options) {
    d->m_options = options;
    if (options.count <= 0 || d->m_frames < options.count)
        d->m_countSignalled = false;
}

SimOptions CDisplaySim::Options() const {
    return d->m_options;
}

bool CDisplaySim::ListenUdp(quint16 port, const QHostAddress& bind) {
    delete d->m_udp;
    d->m_udp = new QUdpSocket(this);
    if (!d->m_udp->bind(bind, port)) {
        d->m_lastError = QStringLiteral("cannot listen on udp %1: %2")
                             .arg(HostPort(bind, port), d->m_udp->errorString());
        delete d->m_udp;
        d->m_udp = nullptr;
        return false;
    }
    connect(d->m_udp, &QUdpSocket::readyRead, this, [this] { d->ReadUdp(); });
    return true;
}

bool CDisplaySim::ListenTcp(quint16 port, const QHostAddress& bind) {
    delete d->m_tcp;
    d->m_tcp = new QTcpServer(this);
    if (!d->m_tcp->listen(bind, port)) {
        d->m_lastError = QStringLiteral("cannot listen on tcp %1: %2")
                             .arg(HostPort(bind, port), d->m_tcp->errorString());
        delete d->m_tcp;
        d->m_tcp = nullptr;
        return false;
    }
    connect(d->m_tcp, &QTcpServer::newConnection, this, [this] { d->AcceptTcp(); });
    return true;
}

bool CDisplaySim::OpenPty(const QString& linkPath) {
    ClosePty();
    const auto fail = [this](const QString& what, int master, int slave) {
        d->m_lastError = QStringLiteral("cannot open a pseudo-terminal: %1: %2")
                             .arg(what, QString::fromLocal8Bit(std::strerror(errno)));
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
        return false;
    };
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return fail(QStringLiteral("posix_openpt"), -1, -1);
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return fail(QStringLiteral("grantpt/unlockpt"), master, -1);
    char name[256];
    if (::ptsname_r(master, name, sizeof name) != 0)
        return fail(QStringLiteral("ptsname"), master, -1);
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(QStringLiteral("fcntl"), master, -1);

    // The simulator keeps a slave descriptor of its own for the life of the pty: the line then
    // stays up while Kalvor closes and reopens the port (without it the master reads EIO and
    // the terminal settings would be reset on the last close), and the raw mode set here is
    // what Kalvor finds when it opens the port.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0)
        return fail(QStringLiteral("open %1").arg(QString::fromLocal8Bit(name)), master, -1);
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0)
        return fail(QStringLiteral("tcgetattr"), master, slave);
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail(QStringLiteral("tcsetattr"), master, slave);

    const QString path = QString::fromLocal8Bit(name);
    if (!linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath);
        struct stat st {};
        if (::lstat(link.constData(), &st) == 0) {
            // Replace an old symbolic link (one left by an earlier run), never a file.
            if (!S_ISLNK(st.st_mode)) {
                errno = EEXIST;
                return fail(QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath),
                            master, slave);
            }
            ::unlink(link.constData());
        }
        if (::symlink(name, link.constData()) != 0)
            return fail(QStringLiteral("symlink %1").arg(linkPath), master, slave);
    }

    d->m_ptyMaster = master;
    d->m_ptySlave = slave;
    d->m_ptyPath = path;
    d->m_ptyLink = linkPath;
    ++d->m_ptyGeneration;
    d->m_ptyStream.framer.Reset();
    const quint64 generation = d->m_ptyGeneration;
    Private* p = d.get();
    d->m_ptyStream.target.alive = [p, generation] {
        return p->m_ptyMaster >= 0 && p->m_ptyGeneration == generation;
    };
    d->m_ptyStream.target.send = [p, generation](const QByteArray& reply) {
        if (p->m_ptyMaster < 0 || p->m_ptyGeneration != generation)
            return false;
        return ::write(p->m_ptyMaster, reply.constData(), std::size_t(reply.size())) ==
               reply.size();
    };
    d->m_ptyStream.target.close = nullptr;
    d->m_ptyNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(d->m_ptyNotifier, &QSocketNotifier::activated, this, [this] { d->ReadPty(); });
    return true;
}

void CDisplaySim::ClosePty() {
    if (d->m_ptyMaster < 0)
        return;
    delete d->m_ptyNotifier;
    d->m_ptyNotifier = nullptr;
    d->m_ptyStream.checksumTimer->stop();
    d->m_ptyStream.framer.Reset();
    d->RemovePtyLink();
    ::close(d->m_ptySlave);
    ::close(d->m_ptyMaster);
    d->m_ptySlave = -1;
    d->m_ptyMaster = -1;
    d->m_ptyPath.clear();
    ++d->m_ptyGeneration;
}

quint16 CDisplaySim::UdpPort() const {
    return d->m_udp ? d->m_udp->localPort() : 0;
}

quint16 CDisplaySim::TcpPort() const {
    return d->m_tcp ? d->m_tcp->serverPort() : 0;
}

QString CDisplaySim::PtyPath() const {
    return d->m_ptyPath;
}

QString CDisplaySim::PtyLinkPath() const {
    return d->m_ptyLink;
}

int CDisplaySim::PtyUnreadBytes() const {
    int unread = 0;
    if (d->m_ptySlave < 0 || ::ioctl(d->m_ptySlave, FIONREAD, &unread) != 0)
        return 0;
    return unread;
}

QString CDisplaySim::LastError() const {
    return d->m_lastError;
}

QString CDisplaySim::ListeningLine() const {
    return ListeningLine(false);
}

QString CDisplaySim::ListeningLine(bool json) const {
    QList<QPair<QString, QString>> parts;
    if (d->m_udp)
        parts.append({QStringLiteral("udp"), HostPort(d->m_udp->localAddress(), UdpPort())});
    if (d->m_tcp)
        parts.append({QStringLiteral("tcp"), HostPort(d->m_tcp->serverAddress(), TcpPort())});
    if (d->m_ptyMaster >= 0)
        parts.append({QStringLiteral("pty"), d->m_ptyPath});
    if (d->m_ptyMaster >= 0 && !d->m_ptyLink.isEmpty())
        parts.append({QStringLiteral("link"), d->m_ptyLink});
    QString line = json ? QStringLiteral(R"({"event":"listening")") : QStringLiteral("listening");
    for (const auto& [key, value] : parts) {
        if (json)
            line += QStringLiteral(",%1:%2").arg(JsonString(key), JsonString(value));
        else
            line += QStringLiteral(" %1=%2").arg(key, value);
    }
    if (json)
        line += u'}';
    return line;
}

QString CDisplaySim::SummaryLine() const {
    return SummaryLine(false);
}

QString CDisplaySim::SummaryLine(bool json) const {
    const QString format =
        json ? QStringLiteral(R"({"event":"summary","frames":%1,"valid":%2,"replied":%3})")
             : QStringLiteral("summary frames=%1 valid=%2 replied=%3");
    return format.arg(d->m_frames).arg(d->m_valid).arg(d->m_replied);
}

int CDisplaySim::Frames() const {
    return d->m_frames;
}

int CDisplaySim::Valid() const {
    return d->m_valid;
}

int CDisplaySim::Replied() const {
    return d->m_replied;
}

QList<FrameRecord> CDisplaySim::Records() const {
    return d->m_records;
}

void CDisplaySim::ClearRecords() {
    d->m_records.clear();
}

QString CDisplaySim::FormatLine(const FrameRecord& record, bool json) {
    const auto hex = [](int value) {
        return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
    };
    if (json) {
        const QString addr =
            record.address >= 0 ? QString::number(record.address) : QStringLiteral("null");
        const QString attr = record.attribute >= 0
                                 ? JsonString(QString(QChar(char16_t(record.attribute))))
                                 : QStringLiteral("null");
        const QString x =
            record.xorByte ? JsonString(hex(*record.xorByte)) : QStringLiteral("null");
        return QStringLiteral(R"({"event":"frame","link":%1,"addr":%2,"attr":%3,"xor":%4,)"
                              R"("valid":%5,"reply":%6,"text":%7,"raw":%8})")
            .arg(JsonString(record.link), addr, attr, x,
                 record.valid ? QStringLiteral("true") : QStringLiteral("false"),
                 JsonString(record.reply), JsonString(record.text),
                 JsonString(QString::fromLatin1(record.raw.toHex(' '))));
    }
    QString attr = QStringLiteral("none");
    if (record.attribute > 0x20 && record.attribute < 0x7F)
        attr = QChar(char16_t(record.attribute));
    else if (record.attribute >= 0)
        attr = QStringLiteral("\\x") + hex(record.attribute);
    return QStringLiteral("frame link=%1 addr=%2 attr=%3 xor=%4 valid=%5 reply=%6 text=%7")
        .arg(record.link,
             record.address >= 0 ? QString::number(record.address) : QStringLiteral("none"), attr,
             record.xorByte ? hex(*record.xorByte) : QStringLiteral("none"),
             record.valid ? QStringLiteral("yes") : QStringLiteral("no"), record.reply,
             JsonString(record.text));
}

} // namespace kalvor::sim
