// What the tool exposes to the network and to a misbehaving sign: it listens on no port, a
// UDP exchange takes its answer from the sign's address alone, and a sign that floods the line
// cannot make the tool's memory grow.
#include "DisplaySim.h"
#include "FakeForm.h"
#include "PortCom.h"
#include "ProcNet.h"
#include "PtyPair.h"
#include "SendTransaction.h"
#include "TestRun.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

using namespace kalvor;

namespace {

constexpr qint64 kStepBoundMs = 2500;
constexpr qint64 kFloodBytes = 8 * 1024 * 1024;
// Growth of the resident memory allowed while a sign floods (the code and the tables touched
// for the first time included).
constexpr qint64 kFloodGrowthKb = 4 * 1024;
constexpr qint64 kFloodChunk = 64 * 1024;

QString Describe(const QList<OwnSocket>& sockets) {
    QStringList out;
    for (const OwnSocket& s : sockets)
        out << QStringLiteral("%1 %2 -> %3 state %4")
                   .arg(s.protocol, s.local, s.remote)
                   .arg(s.state);
    return out.join(QStringLiteral("; "));
}

// Writes kFloodBytes of 0x55 to a TCP peer as fast as it takes them, keeping at most two
// chunks in its own buffer, once the first frame (up to its ETX) has arrived.
class CTcpFlooder : public QObject {
public:
    CTcpFlooder() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = m_server.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                if (!m_flooding && s->readAll().contains(char(ETX))) {
                    m_flooding = true;
                    Pump(s);
                }
            });
            connect(s, &QTcpSocket::bytesWritten, this, [this, s] { Pump(s); });
        });
    }
    quint16 Port() const { return m_server.serverPort(); }
    qint64 Written() const { return m_written; }

private:
    void Pump(QTcpSocket* s) {
        const QByteArray chunk(int(kFloodChunk), char(0x55));
        while (m_flooding && m_written < kFloodBytes &&
               s->state() == QAbstractSocket::ConnectedState &&
               s->bytesToWrite() < 2 * kFloodChunk) {
            s->write(chunk);
            m_written += kFloodChunk;
        }
    }
    QTcpServer m_server;
    bool m_flooding = false;
    qint64 m_written = 0;
};

} // namespace

class TstExposure : public QObject {
    Q_OBJECT
private slots:
    void listensOnNoPort();
    void udpTakesAnswersFromTheSignOnly();
    void tcpFloodIsBounded();
    void ptyFloodIsBounded();
};

void TstExposure::listensOnNoPort() {
    // The sign runs in a child process: its listening sockets are not ours.
    QProcess sign;
    sign.start(QStringLiteral(KALVOR_DISPLAY_SIM),
               {"--udp", "0", "--tcp", "0", "--delay-ms", "300"});
    QVERIFY(sign.waitForStarted(3000));
    QVERIFY(sign.waitForReadyRead(3000));
    const QString listening = QString::fromUtf8(sign.readLine()).trimmed();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("udp=127.0.0.1:(\\d+) tcp=127.0.0.1:(\\d+)"))
            .match(listening);
    QVERIFY2(m.hasMatch(), qPrintable(listening));
    QVERIFY(OwnInetSockets().isEmpty());

    for (const int mode : {kLinkUdp, kLinkTcp}) {
        const QString port = m.captured(mode == kLinkUdp ? 1 : 2);
        FakeForm form;
        form.linkMode = mode;
        form.targetPort = port.toStdString();
        form.delay = "3600000";

        // Looked at while the exchange waits for the sign's (delayed) answer, and afterwards.
        QList<OwnSocket> during;
        QTimer probe;
        probe.setSingleShot(true);
        connect(&probe, &QTimer::timeout, this, [&] { during = OwnInetSockets(); });
        probe.start(150);
        OnSendButton(form);
        QCOMPARE(form.Only("log:").last(), QStringLiteral("Socket : ACK"));
        QVERIFY2(during.size() == 1, qPrintable(Describe(during)));
        QCOMPARE(during.first().remotePort, port.toUShort()); // the check sees our socket
        QVERIFY2(!during.first().Listens(), qPrintable(Describe(during)));
        QVERIFY2(OwnInetSockets().isEmpty(), qPrintable(Describe(OwnInetSockets())));

        CTestRun run(form);
        probe.start(150);
        run.ToggleTestRun();
        run.ToggleTestRun();
        QCOMPARE(run.Counters().Good, 1);
        QVERIFY2(during.size() == 1 && !during.first().Listens(), qPrintable(Describe(during)));
        QVERIFY2(OwnInetSockets().isEmpty(), qPrintable(Describe(OwnInetSockets())));
    }
    sign.terminate();
    QVERIFY(sign.waitForFinished(3000));
}

void TstExposure::udpTakesAnswersFromTheSignOnly() {
    kalvor::sim::SimOptions silent;
    silent.reply = kalvor::sim::Reply::None;
    kalvor::sim::CDisplaySim sign(silent);
    QVERIFY(sign.ListenUdp(0));

    // Strangers answer ACK to the tool's socket while the sign keeps quiet: one on another
    // loopback address, one on the sign's address but another port.
    QUdpSocket otherAddress;
    const bool haveOtherAddress = otherAddress.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
    QUdpSocket otherPort;
    QVERIFY(otherPort.bind(QHostAddress::LocalHost, 0));
    int spoofed = 0;
    quint16 toolPort = 0;
    connect(&sign, &kalvor::sim::CDisplaySim::frameReceived, this, [&] {
        for (const OwnSocket& s : OwnInetSockets())
            if (s.protocol == QLatin1String("udp") && s.remotePort == sign.UdpPort())
                toolPort = s.localPort;
        const QByteArray ack(1, char(ACK));
        if (haveOtherAddress)
            spoofed += otherAddress.writeDatagram(ack, QHostAddress::LocalHost, toolPort) == 1;
        spoofed += otherPort.writeDatagram(ack, QHostAddress::LocalHost, toolPort) == 1;
    });

    FakeForm form;
    form.linkMode = kLinkUdp;
    form.targetPort = std::to_string(sign.UdpPort());
    OnSendButton(form);
    QVERIFY(toolPort != 0);
    QCOMPARE(spoofed, haveOtherAddress ? 2 : 1);
    QCOMPARE(form.Only("err:"), QStringList{"Socket : No ACK received"});
    QCOMPARE(form.icon, IconAckFailed);
    if (!haveOtherAddress)
        QWARN("127.0.0.2 cannot be bound here: only the other-port stranger was tried");
}

void TstExposure::tcpFloodIsBounded() {
    CTcpFlooder flooder;
    QVERIFY(flooder.Port() != 0);
    FakeForm form;
    form.linkMode = kLinkTcp;
    form.targetPort = std::to_string(flooder.Port());
    OnSendButton(form); // warm-up: every code path touched once
    QTest::qWait(100);
    CTcpFlooder second;
    form.targetPort = std::to_string(second.Port());
    form.events.clear();

    const qint64 before = StatusKb("VmRSS:");
    const bool peak = ResetPeakRss();
    QElapsedTimer clock;
    clock.start();
    OnSendButton(form);
    const qint64 took = clock.elapsed();
    QTest::qWait(200); // the flooder goes on writing until it notices the closed link
    const qint64 after = StatusKb("VmRSS:");
    const qint64 peakKb = StatusKb("VmHWM:");

    QVERIFY(second.Written() > 0);
    QVERIFY(took < kStepBoundMs);
    QCOMPARE(form.Only("err:"), QStringList{"Socket : No ACK received"});
    qInfo("tcp flood: %lld kB resident, %lld kB peak", after - before, peakKb - before);
    QVERIFY2(after - before < kFloodGrowthKb, qPrintable(QString::number(after - before)));
    if (peak)
        QVERIFY2(peakKb - before < kFloodGrowthKb, qPrintable(QString::number(peakKb - before)));
}

void TstExposure::ptyFloodIsBounded() {
    CPtyPair line;
    QVERIFY(line.Create());
    qputenv("KALVOR_COM4", line.SlavePath().toLocal8Bit());
    FakeForm form;
    form.serial.portIndex = 3;
    form.checks[ctl::UseParity] = false;

    // The far side writes 0x55 as fast as the line takes it, up to kFloodBytes.
    qint64 written = 0;
    QSocketNotifier pump(line.Master(), QSocketNotifier::Write);
    const QByteArray chunk(4096, char(0x55));
    connect(&pump, &QSocketNotifier::activated, this, [&] {
        if (written >= kFloodBytes) {
            pump.setEnabled(false);
            return;
        }
        const ssize_t n = ::write(line.Master(), chunk.constData(), size_t(chunk.size()));
        if (n > 0)
            written += n;
    });
    QVERIFY(form.OpenPortFromForm());
    QTest::qWait(100);

    const qint64 before = StatusKb("VmRSS:");
    const bool peak = ResetPeakRss();
    QElapsedTimer clock;
    clock.start();
    OnSendButton(form);
    const qint64 took = clock.elapsed();
    // The port stays open between sends while the far side goes on.
    QTest::qWait(1500);
    OnSendButton(form);
    const qint64 after = StatusKb("VmRSS:");
    const qint64 peakKb = StatusKb("VmHWM:");

    qInfo("pty flood: %lld kB resident, %lld kB peak, %lld bytes written", after - before,
          peakKb - before, written);
    QVERIFY(took < kStepBoundMs);
    QCOMPARE(form.Only("log:").filter("No ACK").size(), 2);
    QVERIFY(form.port.IsOpen());
    QVERIFY2(
        after - before < kFloodGrowthKb,
        qPrintable(
            QStringLiteral("%1 kB, the far side wrote %2 bytes").arg(after - before).arg(written)));
    if (peak)
        QVERIFY2(peakKb - before < kFloodGrowthKb, qPrintable(QString::number(peakKb - before)));

    // Once the flood stops, everything it left is read in order and the port still hears the
    // sign's next answer: a full buffer does not leave it deaf.
    pump.setEnabled(false);
    qint64 drained = 0;
    quint8 b = 0;
    while (drained <= written && form.port.ReadByte(b) && b == 0x55)
        ++drained;
    QVERIFY2(drained > kSerialReceiveBufferBytes, qPrintable(QString::number(drained)));
    QVERIFY(line.Write(QByteArray(1, char(ACK))));
    QCOMPARE(form.port.WaitAck(), 1);
    form.port.Close();
    qunsetenv("KALVOR_COM4");
}

QTEST_GUILESS_MAIN(TstExposure)
#include "tst_exposure.moc"
