// The network links against real peers on loopback: a UDP or TCP sign that answers as told,
// a port where nothing listens, and a listener whose accept queue is full (our SYN goes
// unanswered). The peers run in this thread: the channel's waits run nested event loops that
// service them.
#include "SocketChannel.h"
#include "SocketErrors.h"
#include "WaitLoop.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

using namespace kalvor;

Q_DECLARE_METATYPE(kalvor::DisplayFrame)

namespace {

enum class Link { Udp, Tcp };
// How the peer answers each frame.
enum class Answer { Bytes, Silent, Close };

constexpr const char* kLoopback = "127.0.0.1";

DisplayFrame Hex(const char* text) {
    const QByteArray raw = QByteArray::fromHex(text);
    return DisplayFrame(raw.begin(), raw.end());
}

QByteArray Raw(const DisplayFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::unique_ptr<CBlockingSocket> MakeLink(Link link) {
    if (link == Link::Udp)
        return std::make_unique<CUdpSocket>();
    return std::make_unique<CTcpSocket>();
}

// A sign on loopback, over UDP or TCP: records what it receives and answers each frame with
// the bytes it is given, or stays silent, or (TCP) closes the connection.
class Peer : public QObject {
public:
    Peer(Link link, Answer answer, QByteArray reply = {}) : m_answer(answer), m_reply(reply) {
        if (link == Link::Udp) {
            m_udp = std::make_unique<QUdpSocket>();
            QVERIFY(m_udp->bind(QHostAddress::LocalHost, 0));
            connect(m_udp.get(), &QUdpSocket::readyRead, this, &Peer::TakeDatagrams);
        } else {
            m_server = std::make_unique<QTcpServer>();
            QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
            connect(m_server.get(), &QTcpServer::newConnection, this, &Peer::TakeConnections);
        }
    }

    quint16 Port() const { return m_udp ? m_udp->localPort() : m_server->serverPort(); }
    // UDP: one entry per datagram. TCP: one entry per connection, its bytes so far.
    QList<QByteArray> Received() const { return m_received; }
    int Connections() const { return m_connections; }

private:
    void TakeDatagrams() {
        while (m_udp->hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_udp->receiveDatagram();
            m_received << datagram.data();
            if (m_answer == Answer::Bytes)
                m_udp->writeDatagram(m_reply, datagram.senderAddress(), datagram.senderPort());
        }
    }

    void TakeConnections() {
        while (QTcpSocket* c = m_server->nextPendingConnection()) {
            const auto index = m_received.size();
            m_received << QByteArray();
            ++m_connections;
            connect(c, &QTcpSocket::disconnected, c, [c] {
                c->close();
                c->deleteLater();
            });
            connect(c, &QTcpSocket::readyRead, c, [this, c, index] {
                const bool first = m_received[index].isEmpty();
                m_received[index] += c->readAll();
                if (!first)
                    return;
                if (m_answer == Answer::Bytes)
                    c->write(m_reply);
                else if (m_answer == Answer::Close)
                    c->disconnectFromHost();
            });
        }
    }

    Answer m_answer;
    QByteArray m_reply;
    std::unique_ptr<QUdpSocket> m_udp;
    std::unique_ptr<QTcpServer> m_server;
    QList<QByteArray> m_received;
    int m_connections = 0;
};

// A TCP listener on loopback that never accepts, its one-place accept queue already taken:
// the kernel drops every further SYN, so a connect to it gets no answer at all.
class FullListener {
public:
    FullListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(m_fd, 0) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        for (int i = 0; i < 2; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (c < 0)
                return;
            m_fillers.push_back(c);
            [[maybe_unused]] const int r =
                ::connect(c, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        }
    }
    ~FullListener() {
        for (int c : m_fillers)
            ::close(c);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    quint16 Port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    std::vector<int> m_fillers;
};

// A loopback port where nothing listens, over either protocol.
quint16 ClosedPort() {
    QUdpSocket udp;
    if (!udp.bind(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = udp.localPort();
    // Keep it only if TCP is free there too.
    QTcpServer tcp;
    if (!tcp.listen(QHostAddress::LocalHost, port))
        return 0;
    return port;
}

const DisplayFrame kDefaultsFrame = Hex("02303054455354 0D031A");

} // namespace

class TstSocketChannel : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void silenceEndsWithTheBudget_data();
    void silenceEndsWithTheBudget();
    void tcpRefused();
    void udpToClosedPort();
    void tcpConnectWithoutAnswer();
    void oneBudgetForTheWholeExchange();
    void expiryWhileNoWaitRuns_data();
    void expiryWhileNoWaitRuns();
    void wireBytes_data();
    void wireBytes();
    void noEtxSendsNothing_data();
    void noEtxSendsNothing();
    void unusableTargets_data();
    void unusableTargets();
    void windowStaysAliveDuringWait();
    void destroyedWithoutCloseLink_data();
    void destroyedWithoutCloseLink();
    void closeLinkOnce();
    void thousandExchangesKeepDescriptors();
};

void TstSocketChannel::answers_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("error"); // last error after a 0, when it is known

    for (const Link link : {Link::Udp, Link::Tcp}) {
        const char* l = link == Link::Udp ? "udp" : "tcp";
        QTest::addRow("%s ACK", l) << link << Answer::Bytes << QByteArray("\x06") << 1 << 0;
        QTest::addRow("%s NAK", l) << link << Answer::Bytes << QByteArray("\x15") << 0 << 0;
        QTest::addRow("%s 10 bytes from ACK", l) << link << Answer::Bytes
                                                 << QByteArray("\x06"
                                                               "123456789")
                                                 << 1 << 0;
        QTest::addRow("%s ACK not first", l)
            << link << Answer::Bytes << QByteArray("\x15\x06") << 0 << 0;
    }
    // A datagram longer than the answer buffer is no answer, whatever its first byte.
    QTest::addRow("udp 11 bytes from ACK") << Link::Udp << Answer::Bytes
                                           << QByteArray("\x06"
                                                         "1234567890")
                                           << 0 << 10040;
    QTest::addRow("udp empty datagram") << Link::Udp << Answer::Bytes << QByteArray() << 0 << 0;
    // TCP gives whatever has arrived, up to 10 bytes: the first byte decides.
    QTest::addRow("tcp 11 bytes from ACK") << Link::Tcp << Answer::Bytes
                                           << QByteArray("\x06"
                                                         "1234567890")
                                           << 1 << 0;
    QTest::addRow("tcp closed without answer")
        << Link::Tcp << Answer::Close << QByteArray() << 0 << 10054;
}

void TstSocketChannel::answers() {
    QFETCH(Link, link);
    QFETCH(Answer, answer);
    QFETCH(QByteArray, reply);
    QFETCH(int, expected);
    QFETCH(int, error);

    Peer peer(link, answer, reply);
    auto channel = MakeLink(link);
    SetLastSocketError(0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(channel->ConnectWithTimeout(kLoopback, peer.Port()) != 0);
    QCOMPARE(channel->SendFrame(kDefaultsFrame, true), 1);
    QCOMPARE(channel->WaitAck(), expected);
    QCOMPARE(channel->CloseLink(), 0);
    // Every case here gets its answer (or the close) long before the budget.
    QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
    if (expected == 0 && error != 0)
        QCOMPARE(CBlockingSocket::SocketErrorText(), "ERR #" + std::to_string(error));
    QTRY_COMPARE(peer.Received().size(), 1);
    QTRY_COMPARE(peer.Received().first(), Raw(kDefaultsFrame));
}

void TstSocketChannel::silenceEndsWithTheBudget_data() {
    QTest::addColumn<Link>("link");
    QTest::newRow("udp") << Link::Udp;
    QTest::newRow("tcp") << Link::Tcp;
}

void TstSocketChannel::silenceEndsWithTheBudget() {
    QFETCH(Link, link);
    Peer peer(link, Answer::Silent);
    auto channel = MakeLink(link);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(channel->ConnectWithTimeout(kLoopback, peer.Port()) != 0);
    QCOMPARE(channel->SendFrame(kDefaultsFrame, true), 1);
    QCOMPARE(channel->WaitAck(), 0);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10004"));
    channel->CloseLink();
    QVERIFY2(elapsed >= 800 && elapsed <= 2000, qPrintable(QString::number(elapsed)));
}

void TstSocketChannel::tcpRefused() {
    const quint16 port = ClosedPort();
    QVERIFY(port != 0);
    CTcpSocket channel;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(channel.ConnectWithTimeout(kLoopback, port), 0);
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10061"));
    QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
    channel.CloseLink();
}

void TstSocketChannel::udpToClosedPort() {
    const quint16 port = ClosedPort();
    QVERIFY(port != 0);
    CUdpSocket channel;
    QElapsedTimer clock;
    clock.start();
    // The datagram socket connects without a word to the other side; the machine's "port
    // unreachable" comes back as a refused receive.
    QVERIFY(channel.ConnectWithTimeout(kLoopback, port) != 0);
    QCOMPARE(channel.SendFrame(kDefaultsFrame, true), 1);
    QCOMPARE(channel.WaitAck(), 0);
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10061"));
    QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
    channel.CloseLink();
}

void TstSocketChannel::tcpConnectWithoutAnswer() {
    FullListener listener;
    QVERIFY(listener.Port() != 0);
    QTest::qWait(50); // the first filler takes the queue's one place
    CTcpSocket channel;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(channel.ConnectWithTimeout(kLoopback, listener.Port()), 0);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10004"));
    QVERIFY2(elapsed >= 800 && elapsed <= 2000, qPrintable(QString::number(elapsed)));
    // Nothing may go out on a link that never came up.
    QCOMPARE(channel.SendFrame(kDefaultsFrame, true), 0);
    channel.CloseLink();
}

// The connect, the send and the answer share one budget: time spent before the answer is
// taken from the answer's wait.
void TstSocketChannel::oneBudgetForTheWholeExchange() {
    Peer peer(Link::Udp, Answer::Silent);
    CUdpSocket channel;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(channel.ConnectWithTimeout(kLoopback, peer.Port()) != 0);
    QCOMPARE(channel.SendFrame(kDefaultsFrame, true), 1);
    PauseKeepingPainted(std::chrono::milliseconds(600));
    QElapsedTimer answerClock;
    answerClock.start();
    QCOMPARE(channel.WaitAck(), 0);
    const qint64 answerWait = answerClock.elapsed();
    const qint64 total = clock.elapsed();
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10004"));
    channel.CloseLink();
    QVERIFY2(total >= 800 && total <= 2000, qPrintable(QString::number(total)));
    QVERIFY2(answerWait < 700, qPrintable(QString::number(answerWait)));
}

// An expiry that falls while no wait runs ends the next wait that starts before the thread's
// loop runs again; if the thread's loop runs first, the expiry is spent there. A call that
// need not wait is never ended.
void TstSocketChannel::expiryWhileNoWaitRuns_data() {
    QTest::addColumn<bool>("answerReady");
    QTest::addColumn<bool>("loopRunsFirst");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("endsAtOnce");
    QTest::newRow("answer already there") << true << false << 1 << true;
    QTest::newRow("waits: ended by the overdue expiry") << false << false << 0 << true;
    QTest::newRow("loop spent the expiry: next period") << false << true << 0 << false;
}

void TstSocketChannel::expiryWhileNoWaitRuns() {
    QFETCH(bool, answerReady);
    QFETCH(bool, loopRunsFirst);
    QFETCH(int, expected);
    QFETCH(bool, endsAtOnce);

    constexpr int kPeriod = 300;
    Peer peer(Link::Tcp, answerReady ? Answer::Bytes : Answer::Silent, QByteArray("\x06"));
    CTcpSocket channel;
    QVERIFY(channel.ConnectWithTimeout(kLoopback, peer.Port(), kPeriod) != 0);
    QCOMPARE(channel.SendFrame(kDefaultsFrame, true), 1);
    if (answerReady) // let the peer answer and the answer come in, well before the expiry
        QTRY_VERIFY_WITH_TIMEOUT(peer.Received().value(0).size() == 10, 200);
    QTest::qWait(30);
    QThread::msleep(kPeriod + 50); // the thread is busy when the budget falls due
    if (loopRunsFirst)
        QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(channel.WaitAck(), expected);
    const qint64 elapsed = clock.elapsed();
    channel.CloseLink();
    if (expected == 0)
        QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10004"));
    if (endsAtOnce)
        QVERIFY2(elapsed < 150, qPrintable(QString::number(elapsed)));
    else
        QVERIFY2(elapsed >= 100 && elapsed < 2000, qPrintable(QString::number(elapsed)));
}

void TstSocketChannel::wireBytes_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<DisplayFrame>("frame");
    QTest::addColumn<bool>("withChecksum");
    QTest::addColumn<QByteArray>("expected");

    // 0x83 in the text escapes to SO ETX: the inner ETX ends what is sent.
    const DisplayFrame inner = BuildDisplayFrame(48, '0', "A\x83Z");
    DisplayFrame etxLast = Hex("0230300D03");
    DisplayFrame etxAt255(255, 'x');
    etxAt255.push_back(ETX);
    etxAt255.push_back(0x55);
    for (const Link link : {Link::Udp, Link::Tcp}) {
        const char* l = link == Link::Udp ? "udp" : "tcp";
        QTest::addRow("%s defaults with checksum", l)
            << link << kDefaultsFrame << true << QByteArray::fromHex("02303054455354 0D031A");
        QTest::addRow("%s defaults without checksum", l)
            << link << kDefaultsFrame << false << QByteArray::fromHex("02303054455354 0D03");
        QTest::addRow("%s inner ETX with checksum", l)
            << link << inner << true << QByteArray::fromHex("02303041 0E03 5A");
        QTest::addRow("%s inner ETX without checksum", l)
            << link << inner << false << QByteArray::fromHex("02303041 0E03");
        QTest::addRow("%s ETX last, checksum byte 00", l)
            << link << etxLast << true << QByteArray::fromHex("0230300D03 00");
        QTest::addRow("%s ETX at offset 255", l)
            << link << etxAt255 << true << QByteArray(255, 'x') + QByteArray("\x03\x55");
    }
}

void TstSocketChannel::wireBytes() {
    QFETCH(Link, link);
    QFETCH(DisplayFrame, frame);
    QFETCH(bool, withChecksum);
    QFETCH(QByteArray, expected);

    Peer peer(link, Answer::Bytes, QByteArray("\x06"));
    auto channel = MakeLink(link);
    QVERIFY(channel->ConnectWithTimeout(kLoopback, peer.Port()) != 0);
    QCOMPARE(channel->SendFrame(frame, withChecksum), 1);
    QCOMPARE(channel->WaitAck(), 1);
    channel->CloseLink();
    // UDP: exactly one datagram holding these bytes; TCP: these bytes on the stream.
    QTRY_COMPARE(peer.Received().size(), 1);
    QTRY_COMPARE(peer.Received().first(), expected);
}

void TstSocketChannel::noEtxSendsNothing_data() {
    QTest::addColumn<DisplayFrame>("frame");
    QTest::newRow("empty") << DisplayFrame();
    QTest::newRow("no ETX at all") << Hex("0230305445535454");
    DisplayFrame late(256, 'x'); // ETX at offset 256, past the searched bytes
    late.push_back(ETX);
    late.push_back(0x11);
    QTest::newRow("ETX at offset 256") << late;
}

void TstSocketChannel::noEtxSendsNothing() {
    QFETCH(DisplayFrame, frame);
    for (const Link link : {Link::Udp, Link::Tcp}) {
        Peer peer(link, Answer::Silent);
        auto channel = MakeLink(link);
        QVERIFY(channel->ConnectWithTimeout(kLoopback, peer.Port()) != 0);
        QCOMPARE(channel->SendFrame(frame, true), -1);
        QCOMPARE(channel->SendFrame(frame, false), -1);
        channel->CloseLink();
        QTest::qWait(50);
        const QList<QByteArray> received = peer.Received();
        QVERIFY(received.isEmpty() || (link == Link::Tcp && received == QList{QByteArray()}));
    }
}

void TstSocketChannel::unusableTargets_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<long long>("port"); // as the form's atoi value arrives
    QTest::addColumn<int>("error");

    QTest::newRow("port 0 (letters)") << kLoopback << 0LL << 10049;
    QTest::newRow("port -1") << kLoopback << -1LL << 10049;
    QTest::newRow("port -65535") << kLoopback << -65535LL << 10049;
    QTest::newRow("port 65536") << kLoopback << 65536LL << 10049;
    QTest::newRow("port 70000") << kLoopback << 70000LL << 10049;
    QTest::newRow("blank IP control") << "0.0.0.0" << -2LL << 10049;
    QTest::newRow("empty text") << "" << -2LL << 10022;
    QTest::newRow("three fields") << "127.0.1" << -2LL << 10022;
    QTest::newRow("field over 255") << "127.0.0.256" << -2LL << 10022;
    QTest::newRow("trailing blank") << "127.0.0.1 " << -2LL << 10022;
    QTest::newRow("five fields") << "127.0.0.1.1" << -2LL << 10022;
    QTest::newRow("host name") << "localhost" << -2LL << 10022;
}

void TstSocketChannel::unusableTargets() {
    QFETCH(QString, address);
    QFETCH(long long, port);
    QFETCH(int, error);

    for (const Link link : {Link::Udp, Link::Tcp}) {
        Peer peer(link, Answer::Bytes, QByteArray("\x06"));
        // -2 stands for "the peer's own port": only the address is wrong.
        const long long target = port == -2 ? peer.Port() : port;
        auto channel = MakeLink(link);
        SetLastSocketError(0);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(channel->ConnectWithTimeout(address.toStdString(), target), 0);
        QCOMPARE(CBlockingSocket::SocketErrorText(), "ERR #" + std::to_string(error));
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(channel->SendFrame(kDefaultsFrame, true), 0);
        channel->CloseLink();
        QTest::qWait(30);
        QVERIFY(peer.Received().isEmpty());
        QCOMPARE(peer.Connections(), 0);
    }
}

// While a call waits, timers keep running (the window keeps painting) and every handler
// sees CWaitLoop::Depth() above zero, which is how the test run lets its tick go. A short
// budget keeps this quick: a connect that gets no answer, then an answer that never comes.
void TstSocketChannel::windowStaysAliveDuringWait() {
    constexpr int kBudget = 300;
    FullListener listener;
    QVERIFY(listener.Port() != 0);
    Peer silent(Link::Udp, Answer::Silent);
    QTest::qWait(50);
    int ticks = 0;
    int ticksOutsideAWait = 0;
    QTimer painter;
    painter.setTimerType(Qt::PreciseTimer);
    connect(&painter, &QTimer::timeout, this, [&] {
        ++ticks;
        if (CWaitLoop::Depth() <= 0)
            ++ticksOutsideAWait;
    });
    QCOMPARE(CWaitLoop::Depth(), 0);

    painter.start(20);
    CTcpSocket tcp;
    QCOMPARE(tcp.ConnectWithTimeout(kLoopback, listener.Port(), kBudget), 0);
    painter.stop();
    tcp.CloseLink();
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10004"));
    QVERIFY2(ticks >= 8, qPrintable(QString::number(ticks)));
    QCOMPARE(ticksOutsideAWait, 0);

    ticks = 0;
    CUdpSocket udp;
    QVERIFY(udp.ConnectWithTimeout(kLoopback, silent.Port(), kBudget) != 0);
    QCOMPARE(udp.SendFrame(kDefaultsFrame, true), 1);
    painter.start(20);
    QCOMPARE(udp.WaitAck(), 0);
    painter.stop();
    udp.CloseLink();
    QVERIFY2(ticks >= 8, qPrintable(QString::number(ticks)));
    QCOMPARE(ticksOutsideAWait, 0);
    QCOMPARE(CWaitLoop::Depth(), 0);
}

void TstSocketChannel::destroyedWithoutCloseLink_data() {
    QTest::addColumn<Link>("link");
    QTest::newRow("udp") << Link::Udp;
    QTest::newRow("tcp") << Link::Tcp;
}

void TstSocketChannel::destroyedWithoutCloseLink() {
    QFETCH(Link, link);
    Peer peer(link, Answer::Bytes, QByteArray("\x06"));
    {
        auto warmUp = MakeLink(link);
        QVERIFY(warmUp->ConnectWithTimeout(kLoopback, peer.Port()) != 0);
        warmUp->CloseLink();
    }
    QTest::qWait(50);
    const int before = OpenDescriptors();
    {
        auto channel = MakeLink(link);
        QVERIFY(channel->ConnectWithTimeout(kLoopback, peer.Port()) != 0);
        QCOMPARE(channel->SendFrame(kDefaultsFrame, true), 1);
        QCOMPARE(channel->WaitAck(), 1);
        QVERIFY(OpenDescriptors() > before || link == Link::Tcp);
    }
    QTRY_COMPARE(OpenDescriptors(), before);
}

void TstSocketChannel::closeLinkOnce() {
    Peer peer(Link::Udp, Answer::Silent);
    CUdpSocket channel;
    QVERIFY(channel.ConnectWithTimeout(kLoopback, peer.Port()) != 0);
    QCOMPARE(channel.CloseLink(), 0);
    QCOMPARE(channel.CloseLink(), 0);
    QCOMPARE(channel.StopTimeout(), 0); // the budget went with the first CloseLink
    // A closed link neither sends nor waits.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(channel.SendFrame(kDefaultsFrame, true), 0);
    QCOMPARE(channel.WaitAck(), 0);
    QCOMPARE(CBlockingSocket::SocketErrorText(), std::string("ERR #10057"));
    QVERIFY(clock.elapsed() < 200);
    QTest::qWait(30);
    QVERIFY(peer.Received().isEmpty());
}

void TstSocketChannel::thousandExchangesKeepDescriptors() {
    Peer udpPeer(Link::Udp, Answer::Bytes, QByteArray("\x06"));
    Peer tcpPeer(Link::Tcp, Answer::Bytes, QByteArray("\x06"));
    const auto exchange = [](Link link, quint16 port) {
        auto channel = MakeLink(link);
        int acked = 0;
        if (channel->ConnectWithTimeout(kLoopback, port) != 0 &&
            channel->SendFrame(kDefaultsFrame, true) == 1)
            acked = channel->WaitAck();
        channel->CloseLink();
        return acked;
    };
    QCOMPARE(exchange(Link::Udp, udpPeer.Port()), 1);
    QCOMPARE(exchange(Link::Tcp, tcpPeer.Port()), 1);
    QTest::qWait(50);
    const int before = OpenDescriptors();

    QElapsedTimer clock;
    clock.start();
    int acked = 0;
    constexpr int kExchanges = 1000;
    for (int i = 0; i < kExchanges && clock.elapsed() < 60000; ++i) {
        acked += exchange(i % 2 ? Link::Tcp : Link::Udp, i % 2 ? tcpPeer.Port() : udpPeer.Port());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QCOMPARE(acked, kExchanges);
    QTRY_COMPARE(OpenDescriptors(), before);
}

QTEST_GUILESS_MAIN(TstSocketChannel)
#include "tst_socketchannel.moc"
