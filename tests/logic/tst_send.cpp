// The Send transaction against a headless form, with the display simulator as the sign over a
// pseudo-terminal, UDP and TCP on loopback.
#include "DisplaySim.h"
#include "FakeForm.h"
#include "SendTransaction.h"
#include "SignHelpers.h"

#include <QtTest>

using namespace kalvor;
using kalvor::sim::CDisplaySim;
using kalvor::sim::Reply;
using kalvor::sim::SimOptions;

namespace {

const QString kPrepare = QStringLiteral("log:Prepare frame to send : <STX>00TEST<CR><ETX>[x1A]");

} // namespace

class TstSend : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void serial_data();
    void serial();
    void serialPortMissing();
    void socket_data();
    void socket();
    void socketConnectionRefused();
    void useXorOffSendsWithoutChecksumButLogsIt();
    void targetPortText_data();
    void targetPortText();
    void iconTurnsFromOkToFailedAcrossLinks();

private:
    QTemporaryDir m_dir;
};

void TstSend::initTestCase() {
    QVERIFY(m_dir.isValid());
}

void TstSend::serial_data() {
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("waitAck");
    QTest::addColumn<QStringList>("visible");
    QTest::newRow("ACK") << int(Reply::Ack) << true
                         << QStringList{kPrepare, "log:COM#1 : ACK", "icon:138"};
    QTest::newRow("no ACK: icon before the line, then the box")
        << int(Reply::None) << true
        << QStringList{kPrepare, "icon:137", "log:COM#1 : ! No ACK received",
                       "box:No ACK Received !"};
    QTest::newRow("NAK counts as no ACK")
        << int(Reply::Nak) << true
        << QStringList{kPrepare, "icon:137", "log:COM#1 : ! No ACK received",
                       "box:No ACK Received !"};
    QTest::newRow("Wait an ACK off") << int(Reply::Ack) << false << QStringList{kPrepare};
}

void TstSend::serial() {
    QFETCH(int, reply);
    QFETCH(bool, waitAck);
    QFETCH(QStringList, visible);

    CDisplaySim sign(WithReply(Reply(reply)));
    const QString link = m_dir.filePath("com1");
    QVERIFY(sign.OpenPty(link));
    qputenv("KALVOR_COM1", link.toLocal8Bit());

    FakeForm form;
    form.checks[ctl::WaitAck] = waitAck;
    OnSendButton(form);

    QCOMPARE(form.Visible(), visible);
    QCOMPARE(form.events.first(), QStringLiteral("update:1"));
    QCOMPARE(form.events.last(), QStringLiteral("update:0"));
    QVERIFY(form.port.IsOpen()); // the port stays open
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    QCOMPARE(sign.Records().first().raw.toHex(' '), QByteArray("02 30 30 54 45 53 54 0d 03 1a"));
    QCOMPARE(form.shown.Send + form.shown.Good + form.shown.Bad, 0); // counters untouched
    qunsetenv("KALVOR_COM1");
}

void TstSend::serialPortMissing() {
    qputenv("KALVOR_COM20", m_dir.filePath("no-such-device").toLocal8Bit());
    FakeForm form;
    form.serial.portIndex = 19;
    for (int click = 0; click < 2; ++click) {
        form.events.clear();
        OnSendButton(form);
        QCOMPARE(form.Visible(),
                 (QStringList{kPrepare, "err:COM#20 Port Error", "box:COM Port ERROR"}));
        QCOMPARE(form.icon, IconAckIdle);
        QVERIFY(!form.port.IsOpen());
    }
    QCOMPARE(form.openCalls, 2); // every Send tries the port again
    qunsetenv("KALVOR_COM20");
}

void TstSend::socket_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("waitAck");
    QTest::addColumn<QStringList>("after"); // what follows the vers line

    for (const int mode : {kLinkUdp, kLinkTcp}) {
        const QByteArray name = mode == kLinkUdp ? "UDP" : "TCP";
        QTest::newRow(name + " ACK")
            << mode << int(Reply::Ack) << true << QStringList{"log:Socket : ACK", "icon:138"};
        QTest::newRow(name + " NAK")
            << mode << int(Reply::Nak) << true
            << QStringList{"err:Socket : No ACK received", "icon:137", "box:No ACK Received !"};
        QTest::newRow(name + " Wait an ACK off")
            << mode << int(Reply::Ack) << false << QStringList{};
    }
}

void TstSend::socket() {
    QFETCH(int, mode);
    QFETCH(int, reply);
    QFETCH(bool, waitAck);
    QFETCH(QStringList, after);

    CDisplaySim sign(WithReply(Reply(reply)));
    QVERIFY(mode == kLinkUdp ? sign.ListenUdp(0) : sign.ListenTcp(0));
    const quint16 port = mode == kLinkUdp ? sign.UdpPort() : sign.TcpPort();

    FakeForm form;
    form.linkMode = mode;
    form.targetPort = std::to_string(port);
    form.checks[ctl::WaitAck] = waitAck;
    OnSendButton(form);

    const QString vers =
        QStringLiteral("log:%1 vers 127.0.0.1:%2").arg(mode == kLinkUdp ? "UDP" : "TCP").arg(port);
    QCOMPARE(form.Visible(), (QStringList{kPrepare, vers} + after));
    QCOMPARE(form.events.last(), QStringLiteral("update:0"));
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    QVERIFY(!form.port.IsOpen()); // a socket send never touches the serial port
}

void TstSend::socketConnectionRefused() {
    FakeForm form;
    form.linkMode = kLinkTcp;
    const quint16 port = ClosedTcpPort();
    form.targetPort = std::to_string(port);
    OnSendButton(form);
    QCOMPARE(form.Visible(),
             (QStringList{kPrepare, QStringLiteral("log:TCP vers 127.0.0.1:%1").arg(port),
                          "err:Cannot get a socket to target. Check network configuration. "
                          "ERR #10061",
                          "icon:137", "box:IP ERROR\r\nCheck network configuration."}));
}

void TstSend::useXorOffSendsWithoutChecksumButLogsIt() {
    SimOptions options;
    options.checksum = kalvor::sim::ChecksumMode::Off;
    CDisplaySim sign(options);
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    form.linkMode = kLinkUdp;
    form.targetPort = std::to_string(sign.UdpPort());
    form.checks[ctl::UseXor] = false;
    OnSendButton(form);
    QCOMPARE(form.Only("log:").first(), kPrepare.mid(4));
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    QCOMPARE(sign.Records().first().raw.toHex(' '), QByteArray("02 30 30 54 45 53 54 0d 03"));
}

void TstSend::targetPortText_data() {
    QTest::addColumn<QString>("suffix"); // appended to the sign's port number
    QTest::addColumn<bool>("reaches");
    QTest::newRow("digits then letters") << "ab" << true;
    QTest::newRow("letters only") << "" << false;
}

void TstSend::targetPortText() {
    QFETCH(QString, suffix);
    QFETCH(bool, reaches);
    CDisplaySim sign;
    QVERIFY(sign.ListenTcp(0));
    FakeForm form;
    form.linkMode = kLinkTcp;
    form.targetPort = reaches ? std::to_string(sign.TcpPort()) + suffix.toStdString() : "abc";
    OnSendButton(form);
    const QStringList logs = form.Only("log:");
    if (reaches) {
        QCOMPARE(logs.at(1), QStringLiteral("TCP vers 127.0.0.1:%1").arg(sign.TcpPort()));
        QCOMPARE(logs.at(2), QStringLiteral("Socket : ACK"));
    } else {
        QCOMPARE(logs.at(1), QStringLiteral("TCP vers 127.0.0.1:0"));
        QCOMPARE(form.Only("err:").first(),
                 QStringLiteral("Cannot get a socket to target. Check network configuration. "
                                "ERR #10049"));
        QCOMPARE(form.icon, IconAckFailed);
    }
}

void TstSend::iconTurnsFromOkToFailedAcrossLinks() {
    CDisplaySim sign;
    const QString link = m_dir.filePath("com1-icon");
    QVERIFY(sign.OpenPty(link));
    qputenv("KALVOR_COM1", link.toLocal8Bit());
    CDisplaySim silent(WithReply(Reply::None));
    QVERIFY(silent.ListenUdp(0));

    FakeForm form;
    OnSendButton(form);
    QCOMPARE(form.icon, IconAckOk);
    form.linkMode = kLinkUdp;
    form.targetPort = std::to_string(silent.UdpPort());
    form.events.clear();
    OnSendButton(form);
    QCOMPARE(form.Only("icon:"), QStringList{"137"});
    QCOMPARE(form.Only("err:"), QStringList{"Socket : No ACK received"});
    QCOMPARE(form.shown.Send + form.shown.Good + form.shown.Bad, 0);
    qunsetenv("KALVOR_COM1");
}

QTEST_GUILESS_MAIN(TstSend)
#include "tst_send.moc"
