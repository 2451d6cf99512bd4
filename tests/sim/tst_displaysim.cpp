// The simulator in-process, driven over real UDP and TCP loopback sockets and a real
// pseudo-terminal, with the frames Kalvor sends.

#include "DisplayFrame.h"
#include "DisplaySim.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace kalvor;
using namespace kalvor::sim;

Q_DECLARE_METATYPE(kalvor::sim::SimOptions)

namespace {

constexpr int kWaitMs = 2000;
// How long silence is given to prove that no reply is on its way (the simulator answers at
// once on loopback; a checksum wait is 20 ms).
constexpr int kSilenceMs = 60;

QByteArray Q(const DisplayFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

QByteArray Wire(const DisplayFrame& frame, bool withChecksum = true) {
    return Q(WireBytes(frame, withChecksum));
}

const QByteArray kAck(1, char(ACK));
const QByteArray kNak(1, char(NAK));

// The far side of one link, as Kalvor would hold it.
class Client {
public:
    virtual ~Client() = default;
    virtual bool Send(const QByteArray& bytes) = 0;
    // Everything received so far (UDP: the datagrams one after the other).
    QByteArray Received() {
        Poll();
        return m_received;
    }
    virtual bool Closed() { return false; }

protected:
    virtual void Poll() = 0;
    QByteArray m_received;
};

class UdpClient : public Client {
public:
    explicit UdpClient(quint16 port) : m_port(port) { m_socket.bind(QHostAddress::LocalHost, 0); }
    bool Send(const QByteArray& bytes) override {
        return m_socket.writeDatagram(bytes, QHostAddress::LocalHost, m_port) == bytes.size();
    }
    QList<int> sizes;

protected:
    void Poll() override {
        while (m_socket.hasPendingDatagrams()) {
            const QByteArray d = m_socket.receiveDatagram().data();
            sizes << int(d.size());
            m_received += d;
        }
    }

private:
    QUdpSocket m_socket;
    quint16 m_port;
};

class TcpClient : public Client {
public:
    explicit TcpClient(quint16 port) {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_connected = QTest::qWaitFor(
            [this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kWaitMs);
    }
    bool Send(const QByteArray& bytes) override {
        const bool ok = m_connected && m_socket.write(bytes) == bytes.size();
        m_socket.flush();
        return ok;
    }
    bool Closed() override {
        Poll();
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    QTcpSocket& Socket() { return m_socket; }

protected:
    void Poll() override { m_received += m_socket.readAll(); }

private:
    QTcpSocket m_socket;
    bool m_connected = false;
};

class PtyClient : public Client {
public:
    explicit PtyClient(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~PtyClient() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    bool Send(const QByteArray& bytes) override {
        // The pty holds a few KiB: write what fits and let the simulator read the rest.
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (m_fd >= 0 && done < bytes.size() && timer.elapsed() < kWaitMs) {
            const ssize_t n =
                ::write(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else
                QTest::qWait(1);
        }
        return done == bytes.size();
    }
    // What a read of the line gives now: 1 bytes came, 0 nothing yet, -1 hang-up or error.
    int ReadState() {
        char buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_received.append(buffer, n);
            return 1;
        }
        return n < 0 && errno == EAGAIN ? 0 : -1;
    }

protected:
    void Poll() override {
        while (ReadState() > 0) {
        }
    }

private:
    int m_fd;
};

// A simulator listening on every link, and a client on the link a test row names.
struct Bench {
    explicit Bench(const SimOptions& options = {}) : sim(options) {
        QObject::connect(&sim, &CDisplaySim::lineReady, &sim,
                         [this](const QString& line) { lines << line; });
    }
    bool Listen(const QString& link) {
        if (link == QLatin1String("udp") && sim.ListenUdp(0)) {
            client = std::make_unique<UdpClient>(sim.UdpPort());
            return true;
        }
        if (link == QLatin1String("tcp") && sim.ListenTcp(0)) {
            client = std::make_unique<TcpClient>(sim.TcpPort());
            return client->Send({});
        }
        if (link == QLatin1String("pty") && sim.OpenPty()) {
            auto pty = std::make_unique<PtyClient>(sim.PtyPath());
            const bool open = pty->IsOpen();
            client = std::move(pty);
            return open;
        }
        return false;
    }
    // Sends the bytes and waits until the simulator has reported the frames up to n.
    bool SendFrame(const QByteArray& bytes, int n) {
        return client->Send(bytes) && QTest::qWaitFor([&] { return sim.Frames() >= n; }, kWaitMs);
    }

    CDisplaySim sim;
    std::unique_ptr<Client> client;
    QStringList lines;
};

void AddLinkRows(const char* name, const std::function<void(QTestData&)>& fill,
                 QStringList links = {"udp", "tcp", "pty"}) {
    for (const QString& link : links) {
        QTestData& row = QTest::addRow("%s/%s", qPrintable(link), name) << link;
        fill(row);
    }
}

} // namespace

class TstDisplaySim : public QObject {
    Q_OBJECT
private slots:
    void framesOverEveryLink_data();
    void framesOverEveryLink();
    void replies_data();
    void replies();
    void delayedReply_data();
    void delayedReply();
    void checksumModes_data();
    void checksumModes();
    void streamResync_data();
    void streamResync();
    void noise_data();
    void noise();
    void udpDatagramsAreFrames();
    void tcpConnections();
    void tcpPeerLeaves();
    void ptyReopenAndUnplug();
    void ptyLinkNeverReplacesAFile();
    void countAndSummary();
};

void TstDisplaySim::framesOverEveryLink_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line"); // after "frame link=<link> "
    QTest::addColumn<QByteArray>("reply");

    const auto rows = [](const char* name, const QByteArray& bytes, const char* line,
                         const QByteArray& reply) {
        AddLinkRows(name,
                    [&](QTestData& row) { row << bytes << QString::fromUtf8(line) << reply; });
    };
    const DisplayFrame test = BuildDisplayFrame(48, '0', "TEST");
    rows("default frame", Wire(test), R"(addr=48 attr=0 xor=1A valid=yes reply=ack text="TEST")",
         kAck);
    rows("without checksum byte", Wire(test, false),
         R"(addr=48 attr=0 xor=none valid=yes reply=ack text="TEST")", kAck);
    rows("wrong checksum", Wire(test, false) + '\x1b',
         R"(addr=48 attr=0 xor=1B valid=no reply=none text="TEST")", {});
    rows("empty message", Wire(BuildDisplayFrame(127, 'z', "")),
         R"(addr=127 attr=z xor=09 valid=yes reply=ack text="")", kAck);
    rows("escaped text", Wire(BuildDisplayFrame(48, 'A', "\xE9|\x80\x82")),
         "addr=48 attr=A xor=25 valid=yes reply=ack text=\"\xC3\xA9|$\xE2\x80\x9A\"", kAck);
    rows("longest frame", Wire(BuildDisplayFrame(48, '0', std::string(120, '\xFF'))),
         qPrintable(QStringLiteral("addr=48 attr=0 xor=0C valid=yes reply=ack text=\"%1\"")
                        .arg(QString(120, QChar(0xFF)))
                        .toUtf8()),
         kAck);
    rows("inner ETX", Wire(BuildDisplayFrame(48, '0', "A\x83Z")),
         R"(addr=48 attr=0 xor=5A valid=no reply=none text="A\u000e")", {});
    rows("inner ETX without checksum", Wire(BuildDisplayFrame(48, '0', "A\x83Z"), false),
         R"(addr=48 attr=0 xor=none valid=no reply=none text="A\u000e")", {});
    rows("XOR step 0", Wire(BuildXorTestFrame(48, 0)),
         R"(addr=48 attr=0 xor=44 valid=yes reply=ack text="XOR\u000d\u0000")", kAck);
    rows("XOR step 0 without checksum", Wire(BuildXorTestFrame(48, 0), false),
         R"(addr=48 attr=0 xor=none valid=yes reply=ack text="XOR\u000d\u0000")", kAck);
    rows("XOR step 2", Wire(BuildXorTestFrame(48, 2)),
         R"(addr=48 attr=0 xor=46 valid=yes reply=ack text="XOR\u000d20")", kAck);
    rows("XOR step 3", Wire(BuildXorTestFrame(48, 3)),
         R"(addr=48 attr=0 xor=47 valid=yes reply=ack text="XOR\u000d21")", kAck);
    rows("XOR step 13", Wire(BuildXorTestFrame(48, 13)),
         R"(addr=48 attr=0 xor=49 valid=yes reply=ack text="XOR\u000d\u000d")", kAck);
    rows("XOR step 14", Wire(BuildXorTestFrame(48, 14)),
         R"(addr=48 attr=0 xor=4A valid=yes reply=ack text="XOR\u000d\u000e")", kAck);
    rows("XOR step 23", Wire(BuildXorTestFrame(48, 23)),
         R"(addr=48 attr=0 xor=53 valid=yes reply=ack text="XOR\u000d\u0017")", kAck);
    // Checksums that are STX and ETX themselves.
    rows("XOR step 70", Wire(BuildXorTestFrame(48, 70)),
         R"(addr=48 attr=0 xor=02 valid=yes reply=ack text="XOR\u000dF")", kAck);
    rows("XOR step 71", Wire(BuildXorTestFrame(48, 71)),
         R"(addr=48 attr=0 xor=03 valid=yes reply=ack text="XOR\u000dG")", kAck);
    rows("XOR step 127", Wire(BuildXorTestFrame(48, 127)),
         R"(addr=48 attr=0 xor=3B valid=yes reply=ack text="XOR\u000d\u007f")", kAck);
}

void TstDisplaySim::framesOverEveryLink() {
    QFETCH(QString, link);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QFETCH(QByteArray, reply);

    Bench bench;
    QVERIFY(bench.Listen(link));
    QVERIFY(bench.SendFrame(bytes, 1));
    QCOMPARE(bench.lines, QStringList{QStringLiteral("frame link=%1 ").arg(link) + line});
    QCOMPARE(bench.sim.Records().size(), 1);
    QCOMPARE(bench.sim.Records()[0].raw, bytes);

    // A second frame proves the silence or the single reply of the first: the replies seen
    // then are the first frame's followed by one ACK.
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(49, '1', "NEXT")), 2));
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), reply + kAck, kWaitMs);
    QCOMPARE(bench.sim.Replied(), reply.isEmpty() ? 1 : 2);
    QCOMPARE(bench.sim.Valid(), bench.sim.Records()[0].valid ? 2 : 1);
}

void TstDisplaySim::replies_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<SimOptions>("options");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QStringList>("names");

    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"));
    const QByteArray bad = Wire(BuildDisplayFrame(48, '0', "TEST"), false) + 'x';
    const auto rows = [](const char* name, SimOptions options, const QList<QByteArray>& frames,
                         const QList<QByteArray>& replies, const QStringList& names,
                         QStringList links = {"udp", "tcp", "pty"}) {
        AddLinkRows(
            name, [&](QTestData& row) { row << options << frames << replies << names; }, links);
    };
    SimOptions o;
    o.reply = Reply::Nak;
    rows("nak", o, {test}, {kNak}, {"nak"});
    o = {};
    o.reply = Reply::None;
    rows("none", o, {test, bad}, {{}, {}}, {"none", "none"});
    o = {};
    o.ackInvalid = true;
    rows("ack-invalid", o, {bad, test}, {kAck, kAck}, {"ack", "ack"});
    rows("invalid", {}, {bad, test}, {{}, kAck}, {"none", "ack"});
    o = {};
    o.failXor = {0x44, 0x47};
    rows("fail-xor", o,
         {Wire(BuildXorTestFrame(48, 0)), Wire(BuildXorTestFrame(48, 1)),
          Wire(BuildXorTestFrame(48, 3))},
         {{}, kAck, {}}, {"none", "ack", "none"});
    rows("fail-xor without checksum byte", o,
         {Wire(BuildXorTestFrame(48, 0), false), Wire(BuildXorTestFrame(48, 1), false)}, {{}, kAck},
         {"none", "ack"});
    o = {};
    o.onlyAddress = 49;
    rows("only-address", o,
         {test, Wire(BuildDisplayFrame(49, '0', "TEST")), Wire(BuildDisplayFrame(50, '0', "X"))},
         {{}, kAck, {}}, {"none", "ack", "none"});
    o = {};
    o.dropEvery = 2;
    rows("drop-every", o, {test, test, test, test, test}, {kAck, {}, kAck, {}, kAck},
         {"ack", "none", "ack", "none", "ack"});
    o = {};
    o.tcpClose = true;
    rows("tcp-close", o, {test}, {{}}, {"close"}, {"tcp"});
    rows("tcp-close elsewhere", o, {test}, {kAck}, {"ack"}, {"udp", "pty"});
    o = {};
    o.udpOversize = true;
    QByteArray oversize(11, '\0');
    oversize[0] = char(ACK);
    rows("udp-oversize", o, {test}, {oversize}, {"oversize"}, {"udp"});
    rows("udp-oversize elsewhere", o, {test}, {kAck}, {"ack"}, {"tcp", "pty"});
}

void TstDisplaySim::replies() {
    QFETCH(QString, link);
    QFETCH(SimOptions, options);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QStringList, names);

    Bench bench(options);
    QVERIFY(bench.Listen(link));
    QByteArray expected;
    for (int i = 0; i < frames.size(); ++i) {
        QVERIFY(bench.SendFrame(frames[i], i + 1));
        QCOMPARE(bench.sim.Records().last().reply, names[i]);
        expected += replies[i];
        QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), expected, kWaitMs);
    }
    qsizetype sent = 0;
    for (const QByteArray& r : replies)
        sent += r.isEmpty() ? 0 : 1;
    QCOMPARE(bench.sim.Replied(), sent);
    if (options.tcpClose && link == QLatin1String("tcp")) {
        QTRY_VERIFY_WITH_TIMEOUT(bench.client->Closed(), kWaitMs);
        QCOMPARE(bench.client->Received(), expected);
        return;
    }
    // A last frame answered with the default ACK: when its ACK is in, nothing else came.
    bench.sim.SetOptions({});
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(48, '0', "LAST")), int(frames.size()) + 1));
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), expected + kAck, kWaitMs);
    QVERIFY(!bench.client->Closed());
    if (options.udpOversize && link == QLatin1String("udp"))
        QCOMPARE(static_cast<UdpClient*>(bench.client.get())->sizes, (QList<int>{11, 1}));
}

void TstDisplaySim::delayedReply_data() {
    QTest::addColumn<QString>("link");
    AddLinkRows("100 ms", [](QTestData&) {});
}

void TstDisplaySim::delayedReply() {
    QFETCH(QString, link);
    SimOptions options;
    options.delayMs = 100;
    options.count = 1;
    Bench bench(options);
    QSignalSpy reached(&bench.sim, &CDisplaySim::countReached);
    QVERIFY(bench.Listen(link));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(48, '0', "TEST")), 1));
    // The count is reached only once the reply is out.
    QCOMPARE(reached.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), kAck, kWaitMs);
    QVERIFY2(timer.elapsed() >= 95, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(reached.count(), 1);
    QCOMPARE(bench.sim.SummaryLine(), QStringLiteral("summary frames=1 valid=1 replied=1"));
}

void TstDisplaySim::checksumModes_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("withChecksum");
    QTest::addColumn<QString>("line"); // after "frame link=<link> "
    QTest::addColumn<QByteArray>("reply");

    const auto rows = [](const char* name, ChecksumMode mode, bool withChecksum, const char* line,
                         const QByteArray& reply, QStringList links) {
        AddLinkRows(
            name,
            [&](QTestData& row) {
                row << int(mode) << withChecksum << QString::fromLatin1(line) << reply;
            },
            links);
    };
    const QStringList all{"udp", "tcp", "pty"};
    rows("on with checksum", ChecksumMode::On, true,
         R"(addr=48 attr=0 xor=1A valid=yes reply=ack text="TEST")", kAck, all);
    rows("on without checksum", ChecksumMode::On, false,
         R"(addr=48 attr=0 xor=none valid=no reply=none text="TEST")", {}, {"udp"});
    rows("off without checksum", ChecksumMode::Off, false,
         R"(addr=48 attr=0 xor=none valid=yes reply=ack text="TEST")", kAck, all);
    // On a stream the frame ends at its ETX and the byte after it is noise; a datagram that
    // carries a byte after its ETX is not the frame expected.
    rows("off with checksum", ChecksumMode::Off, true,
         R"(addr=48 attr=0 xor=none valid=yes reply=ack text="TEST")", kAck, {"tcp", "pty"});
    rows("off with checksum", ChecksumMode::Off, true,
         R"(addr=48 attr=0 xor=none valid=no reply=none text="TEST")", {}, {"udp"});
}

void TstDisplaySim::checksumModes() {
    QFETCH(QString, link);
    QFETCH(int, mode);
    QFETCH(bool, withChecksum);
    QFETCH(QString, line);
    QFETCH(QByteArray, reply);
    SimOptions options;
    options.checksum = ChecksumMode(mode);
    Bench bench(options);
    QVERIFY(bench.Listen(link));
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(48, '0', "TEST"), withChecksum), 1));
    QCOMPARE(bench.lines, QStringList{QStringLiteral("frame link=%1 ").arg(link) + line});
    bench.sim.SetOptions({});
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(48, '0', "LAST")), 2));
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), reply + kAck, kWaitMs);
}

void TstDisplaySim::streamResync_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("pauses"); // ms after each chunk
    QTest::addColumn<QStringList>("lines"); // %1 is the link
    QTest::addColumn<QByteArray>("replies");

    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"));
    const QString ok =
        QStringLiteral(R"(frame link=%1 addr=48 attr=0 xor=1A valid=yes reply=ack text="TEST")");
    const auto rows = [](const char* name, const QList<QByteArray>& chunks,
                         const QList<int>& pauses, const QStringList& lines,
                         const QByteArray& replies) {
        AddLinkRows(name, [&](QTestData& row) { row << chunks << pauses << lines << replies; },
                    {"tcp", "pty"});
    };
    // Byte by byte up to the CR; the ETX and its checksum together, so that only the next row
    // depends on the checksum wait.
    QList<QByteArray> bytes;
    QList<int> pauses;
    for (const char c : test.chopped(2)) {
        bytes << QByteArray(1, c);
        pauses << 2;
    }
    bytes << test.right(2);
    pauses << 0;
    rows("byte by byte", bytes, pauses, {ok}, kAck);
    rows("checksum byte 5 ms after the ETX", {test.chopped(1), test.right(1)}, {5, 0}, {ok}, kAck);
    rows("garbage first", {QByteArray("\x03\x0d\xff\x06junk\x03", 9) + test}, {0}, {ok}, kAck);
    rows("half frame, then a frame", {QByteArray("\x02\x30\x30TE"), test}, {5, 0},
         {QStringLiteral("discard link=%1 bytes=5 reason=restart"), ok}, kAck);
    rows("two frames at once", {test + test}, {0}, {ok, ok}, kAck + kAck);
    rows(
        "late checksum byte is noise", {test.chopped(1), test.right(1) + test}, {80, 0},
        {QStringLiteral(R"(frame link=%1 addr=48 attr=0 xor=none valid=yes reply=ack text="TEST")"),
         ok},
        kAck + kAck);
    const QByteArray soStx = Wire(BuildDisplayFrame(48, '0', "a\x82"));
    rows("SO and STX in two segments", {soStx.left(4), soStx.mid(4)}, {5, 0},
         {QString::fromUtf8(
             "frame link=%1 addr=48 attr=0 xor=61 valid=yes reply=ack text=\"a\xE2\x80\x9A\"")},
         kAck);
    rows("endless frame", {QByteArray(1, STX) + QByteArray(400, 'A'), test}, {5, 0},
         {QStringLiteral("discard link=%1 bytes=300 reason=overflow"), ok}, kAck);
}

void TstDisplaySim::streamResync() {
    QFETCH(QString, link);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, pauses);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, replies);
    Bench bench;
    QVERIFY(bench.Listen(link));
    for (int i = 0; i < chunks.size(); ++i) {
        QVERIFY(bench.client->Send(chunks[i]));
        if (pauses[i] > 0)
            QTest::qWait(pauses[i]);
    }
    for (QString& line : lines)
        line = line.arg(link);
    QTRY_COMPARE_WITH_TIMEOUT(bench.lines, lines, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), replies, kWaitMs);
}

void TstDisplaySim::noise_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("random");
    AddLinkRows("64 KiB without STX", [](QTestData& row) { row << false; });
    AddLinkRows("64 KiB random", [](QTestData& row) { row << true; });
}

void TstDisplaySim::noise() {
    QFETCH(QString, link);
    QFETCH(bool, random);
    Bench bench;
    QVERIFY(bench.Listen(link));
    QByteArray noise(link == QLatin1String("udp") ? 65000 : 64 * 1024, 'A');
    if (random) {
        QRandomGenerator generator(4242);
        for (char& c : noise)
            c = char(generator.bounded(256));
    }
    QVERIFY(bench.client->Send(noise));
    QTest::qWait(kSilenceMs); // the noise may end in an ETX: let its checksum wait pass
    const int before = bench.sim.Frames();
    if (link == QLatin1String("udp"))
        QCOMPARE(before, 1); // one datagram, one (invalid) frame
    else if (!random)
        QCOMPARE(before, 0);
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(48, '0', "TEST")), before + 1));
    QCOMPARE(bench.sim.Records().last().valid, true);
    QCOMPARE(bench.sim.Records().last().reply, QStringLiteral("ack"));
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), kAck, kWaitMs);
    QCOMPARE(bench.sim.Valid(), 1);
    for (const FrameRecord& record : bench.sim.Records())
        QVERIFY(record.raw.size() <= 300);
}

void TstDisplaySim::udpDatagramsAreFrames() {
    Bench bench;
    QVERIFY(bench.Listen(QStringLiteral("udp")));
    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"));
    // A frame split over two datagrams is two broken frames: datagrams are never joined.
    QVERIFY(bench.SendFrame(test.left(4), 1));
    QVERIFY(bench.SendFrame(test.mid(4), 2));
    QVERIFY(bench.SendFrame(QByteArray(), 3));
    QVERIFY(bench.SendFrame(test, 4));
    QCOMPARE(
        bench.lines,
        (QStringList{
            R"(frame link=udp addr=48 attr=0 xor=none valid=no reply=none text="T")",
            R"(frame link=udp addr=none attr=none xor=1A valid=no reply=none text="EST\u000d")",
            R"(frame link=udp addr=none attr=none xor=none valid=no reply=none text="")",
            R"(frame link=udp addr=48 attr=0 xor=1A valid=yes reply=ack text="TEST")"}));
    QTRY_COMPARE_WITH_TIMEOUT(bench.client->Received(), kAck, kWaitMs);

    // The reply goes to each datagram's own sender.
    UdpClient other(bench.sim.UdpPort());
    QVERIFY(other.Send(test));
    QTRY_COMPARE_WITH_TIMEOUT(other.Received(), kAck, kWaitMs);
    QCOMPARE(bench.client->Received(), kAck);
}

void TstDisplaySim::tcpConnections() {
    Bench bench;
    QVERIFY(bench.sim.ListenTcp(0));
    TcpClient a(bench.sim.TcpPort());
    TcpClient b(bench.sim.TcpPort());
    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"));
    const QByteArray other = Wire(BuildDisplayFrame(49, '0', "B"));
    // A half frame on one connection does not disturb the other.
    QVERIFY(a.Send(test.left(5)));
    QTest::qWait(10);
    QVERIFY(b.Send(other));
    QTRY_COMPARE_WITH_TIMEOUT(b.Received(), kAck, kWaitMs);
    QCOMPARE(a.Received(), QByteArray());
    QVERIFY(a.Send(test.mid(5)));
    QTRY_COMPARE_WITH_TIMEOUT(a.Received(), kAck, kWaitMs);
    QCOMPARE(bench.sim.Records()[0].address, 49);
    QCOMPARE(bench.sim.Records()[1].raw, test);

    // A connection that vanishes mid-frame is dropped quietly; the others go on.
    {
        TcpClient gone(bench.sim.TcpPort());
        QVERIFY(gone.Send(test.left(6)));
        QTest::qWait(10);
        gone.Socket().abort();
    }
    QTest::qWait(kSilenceMs);
    QCOMPARE(bench.sim.Frames(), 2);
    QVERIFY(b.Send(other + other));
    QTRY_COMPARE_WITH_TIMEOUT(b.Received(), kAck + kAck + kAck, kWaitMs);
    QCOMPARE(bench.sim.Frames(), 4);
    QCOMPARE(bench.lines.size(), 4);
}

void TstDisplaySim::tcpPeerLeaves() {
    SimOptions options;
    options.delayMs = 100;
    options.count = 2;
    Bench bench(options);
    QSignalSpy reached(&bench.sim, &CDisplaySim::countReached);
    QVERIFY(bench.sim.ListenTcp(0));
    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"));

    // A frame without checksum byte whose sender closes at once is complete at the close;
    // there is no one left to answer.
    {
        TcpClient client(bench.sim.TcpPort());
        QVERIFY(client.Send(test.chopped(1)));
        client.Socket().disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(bench.sim.Frames(), 1, kWaitMs);
    }
    QCOMPARE(bench.lines.last(),
             QStringLiteral(
                 R"(frame link=tcp addr=48 attr=0 xor=none valid=yes reply=none text="TEST")"));

    // A peer that leaves while its reply is delayed: the reply is dropped, the count still
    // completes.
    {
        TcpClient client(bench.sim.TcpPort());
        QVERIFY(client.Send(test));
        QTRY_COMPARE_WITH_TIMEOUT(bench.sim.Frames(), 2, kWaitMs);
        QCOMPARE(bench.sim.Records().last().reply, QStringLiteral("ack"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(reached.count(), 1, kWaitMs);
    QCOMPARE(bench.sim.SummaryLine(), QStringLiteral("summary frames=2 valid=2 replied=0"));
}

void TstDisplaySim::ptyReopenAndUnplug() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    Bench bench;
    QVERIFY2(bench.sim.OpenPty(link), qPrintable(bench.sim.LastError()));
    const QString first = bench.sim.PtyPath();
    QCOMPARE(QFileInfo(link).symLinkTarget(), first);
    QCOMPARE(bench.sim.ListeningLine(),
             QStringLiteral("listening pty=%1 link=%2").arg(first, link));
    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"));

    // Kalvor opens the port through the link, closes it and opens it again.
    for (int round = 0; round < 2; ++round) {
        PtyClient client(link);
        QVERIFY(client.IsOpen());
        QVERIFY(client.Send(test));
        QTRY_COMPARE_WITH_TIMEOUT(client.Received(), kAck, kWaitMs);
    }
    QTest::qWait(kSilenceMs);
    QCOMPARE(bench.sim.Frames(), 2);

    // Unplugged: the open port hangs up and the link goes away.
    PtyClient client(link);
    QVERIFY(client.IsOpen());
    bench.sim.ClosePty();
    QCOMPARE(client.ReadState(), -1);
    QVERIFY(!QFileInfo::exists(link));
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(bench.sim.PtyPath(), QString());
    QCOMPARE(bench.sim.ListeningLine(), QStringLiteral("listening"));

    // Plugged in again: the same link names the new pty.
    QVERIFY2(bench.sim.OpenPty(link), qPrintable(bench.sim.LastError()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), bench.sim.PtyPath());
    PtyClient again(link);
    QVERIFY(again.IsOpen());
    QVERIFY(again.Send(test));
    QTRY_COMPARE_WITH_TIMEOUT(again.Received(), kAck, kWaitMs);
    QCOMPARE(bench.sim.Frames(), 3);
}

void TstDisplaySim::ptyLinkNeverReplacesAFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("precious"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    CDisplaySim sim;
    QVERIFY(!sim.OpenPty(path));
    QVERIFY(sim.LastError().contains(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
    QCOMPARE(sim.PtyPath(), QString());
}

void TstDisplaySim::countAndSummary() {
    SimOptions options;
    options.count = 2;
    options.json = true;
    Bench bench(options);
    QSignalSpy reached(&bench.sim, &CDisplaySim::countReached);
    QSignalSpy frames(&bench.sim, &CDisplaySim::frameReceived);
    QVERIFY(bench.Listen(QStringLiteral("udp")));
    QVERIFY(bench.SendFrame(Wire(BuildDisplayFrame(48, '0', "TEST"), false) + '\x00', 1));
    QCOMPARE(reached.count(), 0);
    QVERIFY(bench.SendFrame(Wire(BuildXorTestFrame(48, 0)), 2));
    QCOMPARE(reached.count(), 1);
    QCOMPARE(frames.count(), 2);
    QCOMPARE(frames[1][0].value<FrameRecord>().xorByte, std::optional<int>(0x44));
    QCOMPARE(bench.lines[1],
             QStringLiteral(R"({"event":"frame","link":"udp","addr":48,"attr":"0","xor":"44",)"
                            R"("valid":true,"reply":"ack","text":"XOR\u000d\u0000",)"
                            R"("raw":"02 30 30 58 4f 52 0d 00 0d 03 44"})"));
    QCOMPARE(bench.sim.SummaryLine(), QStringLiteral("summary frames=2 valid=1 replied=1"));
    QCOMPARE(
        bench.sim.ListeningLine(true),
        QStringLiteral(R"({"event":"listening","udp":"127.0.0.1:%1"})").arg(bench.sim.UdpPort()));
    bench.sim.ClearRecords();
    QVERIFY(bench.sim.Records().isEmpty());
    QCOMPARE(bench.sim.Frames(), 2);
}

QTEST_GUILESS_MAIN(TstDisplaySim)
#include "tst_displaysim.moc"
