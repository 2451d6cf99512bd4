// The Send button through the real window, with the display simulator as the sign over a
// pseudo-terminal, UDP and TCP on loopback.
#include "BoxCatcher.h"
#include "DisplaySim.h"
#include "SignHelpers.h"
#include "WindowDriver.h"

using namespace kalvor;
using kalvor::sim::CDisplaySim;
using kalvor::sim::Reply;
using kalvor::sim::SimOptions;

namespace {

const QString kPrepare = QStringLiteral("Prepare frame to send : <STX>00TEST<CR><ETX>[x1A]");

} // namespace

class TstWindowSend : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void serial_data();
    void serial();
    void serialPortMissing();
    void socket_data();
    void socket();
    void socketConnectionFails_data();
    void socketConnectionFails();
    void useXorOffStillLogsChecksum();
    void targetPortDigitsThenLetters();
    void serialAckThenSocketNoAck();
    void formWrittenBackAndAttributeUsed();

private:
    QTemporaryDir m_dir;
    QString m_com1;
};

void TstWindowSend::init() {
    m_com1 = m_dir.filePath(QStringLiteral("com1-%1").arg(QTest::currentTestFunction()));
    qputenv("KALVOR_COM1", m_com1.toLocal8Bit());
}

void TstWindowSend::cleanup() {
    qunsetenv("KALVOR_COM1");
}

void TstWindowSend::serial_data() {
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("waitAck");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("ACK") << int(Reply::Ack) << true << QStringList{"COM#1 : ACK"} << 138
                         << QStringList{};
    QTest::newRow("no ACK") << int(Reply::None) << true << QStringList{"COM#1 : ! No ACK received"}
                            << 137 << QStringList{"No ACK Received !"};
    QTest::newRow("Wait an ACK off")
        << int(Reply::Ack) << false << QStringList{} << 136 << QStringList{};
}

void TstWindowSend::serial() {
    QFETCH(int, reply);
    QFETCH(bool, waitAck);
    QFETCH(QStringList, after);
    QFETCH(int, icon);
    QFETCH(QStringList, boxes);

    CDisplaySim sign(WithReply(Reply(reply)));
    QVERIFY(sign.OpenPty(m_com1));
    CKalvorDlg dlg; // opens COM1 while it starts
    WindowDriver ui(dlg);
    QVERIFY(dlg.PortCom().IsOpen());
    ui.SetChecked(ctl::WaitAck, waitAck);
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());

    ui.Click(ctl::Send);

    QCOMPARE(ui.EntriesAfter(logged), QStringList{kPrepare} + after);
    QCOMPARE(ui.IconId(), icon);
    QCOMPARE(catcher.Texts(), boxes);
    QVERIFY(dlg.PortCom().IsOpen());
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    QCOMPARE(sign.Records().first().raw.toHex(' '), QByteArray("02 30 30 54 45 53 54 0d 03 1a"));
    for (const int id : {ctl::SendCount, ctl::GoodCount, ctl::BadCount})
        QCOMPARE(ui.Label(id), QStringLiteral("0"));
}

void TstWindowSend::serialPortMissing() {
    CKalvorDlg dlg; // nothing at KALVOR_COM1: starts without a word
    WindowDriver ui(dlg);
    BoxCatcher catcher;
    QCOMPARE(catcher.Count(), 0);
    const int logged = int(ui.Entries().size());
    ui.Click(ctl::Send);
    ui.Click(ctl::Send);
    QCOMPARE(ui.EntriesAfter(logged), (QStringList{kPrepare, "!Error : COM#1 Port Error", kPrepare,
                                                   "!Error : COM#1 Port Error"}));
    QCOMPARE(catcher.Texts(), (QStringList{"COM Port ERROR", "COM Port ERROR"}));
    QCOMPARE(catcher.Last().title, QStringLiteral("Kalvor"));
    QCOMPARE(ui.IconId(), 136);
    QVERIFY(!dlg.PortCom().IsOpen());
}

void TstWindowSend::socket_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("waitAck");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("boxes");
    for (const int mode : {kLinkUdp, kLinkTcp}) {
        const QByteArray name = mode == kLinkUdp ? "UDP" : "TCP";
        QTest::newRow(name + " ACK") << mode << int(Reply::Ack) << true
                                     << QStringList{"Socket : ACK"} << 138 << QStringList{};
        QTest::newRow(name + " no ACK")
            << mode << int(Reply::None) << true << QStringList{"!Error : Socket : No ACK received"}
            << 137 << QStringList{"No ACK Received !"};
        QTest::newRow(name + " Wait an ACK off")
            << mode << int(Reply::Ack) << false << QStringList{} << 136 << QStringList{};
    }
}

void TstWindowSend::socket() {
    QFETCH(int, mode);
    QFETCH(int, reply);
    QFETCH(bool, waitAck);
    QFETCH(QStringList, after);
    QFETCH(int, icon);
    QFETCH(QStringList, boxes);

    CDisplaySim sign(WithReply(Reply(reply)));
    QVERIFY(mode == kLinkUdp ? sign.ListenUdp(0) : sign.ListenTcp(0));
    const quint16 port = mode == kLinkUdp ? sign.UdpPort() : sign.TcpPort();
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.AimAt(mode, port);
    ui.SetChecked(ctl::WaitAck, waitAck);
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());
    const int descriptors = WindowDriver::OpenDescriptors();

    ui.Click(ctl::Send);

    const QString vers =
        QStringLiteral("%1 vers 127.0.0.1:%2").arg(mode == kLinkUdp ? "UDP" : "TCP").arg(port);
    QCOMPARE(ui.EntriesAfter(logged), (QStringList{kPrepare, vers} + after));
    QCOMPARE(ui.IconId(), icon);
    QCOMPARE(catcher.Texts(), boxes);
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    // The socket is gone (the in-process sign lets go of its side of a TCP link once it sees
    // the close).
    QTRY_COMPARE_WITH_TIMEOUT(WindowDriver::OpenDescriptors(), descriptors, 2000);
}

void TstWindowSend::socketConnectionFails_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("error");
    QTest::newRow("TCP nothing listening") << kLinkTcp << "127.0.0.1"
                                           << "ERR #10061";
    QTest::newRow("UDP blank address") << kLinkUdp << ""
                                       << "ERR #10049";
}

void TstWindowSend::socketConnectionFails() {
    QFETCH(int, mode);
    QFETCH(QString, ip);
    QFETCH(QString, error);
    const quint16 port = ClosedTcpPort();
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.ChooseMode(mode);
    ui.SetIp(ip);
    ui.SetText(ctl::TargetPort, QString::number(port));
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());
    const int descriptors = WindowDriver::OpenDescriptors();
    ui.Click(ctl::Send);

    const QString shown = ip.isEmpty() ? QStringLiteral("0.0.0.0") : ip;
    QCOMPARE(
        ui.EntriesAfter(logged),
        (QStringList{
            kPrepare,
            QStringLiteral("%1 vers %2:%3").arg(mode == kLinkUdp ? "UDP" : "TCP", shown).arg(port),
            "!Error : Cannot get a socket to target. Check network configuration. " + error}));
    QCOMPARE(ui.IconId(), 137);
    QCOMPARE(catcher.Texts(),
             QStringList{WindowDriver::Shown("IP ERROR\r\nCheck network configuration.")});
    QCOMPARE(WindowDriver::OpenDescriptors(), descriptors);
}

void TstWindowSend::useXorOffStillLogsChecksum() {
    SimOptions options;
    options.checksum = kalvor::sim::ChecksumMode::Off;
    CDisplaySim sign(options);
    QVERIFY(sign.ListenTcp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.AimAt(kLinkTcp, sign.TcpPort());
    ui.SetChecked(ctl::UseXor, false);
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());
    ui.Click(ctl::Send);
    QCOMPARE(ui.EntriesAfter(logged).first(), kPrepare);
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    QCOMPARE(sign.Records().first().raw.toHex(' '), QByteArray("02 30 30 54 45 53 54 0d 03"));
    QCOMPARE(ui.IconId(), 138);
}

void TstWindowSend::targetPortDigitsThenLetters() {
    CDisplaySim sign;
    QVERIFY(sign.ListenTcp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.ChooseMode(kLinkTcp);
    BoxCatcher catcher;

    ui.SetText(ctl::TargetPort, QString::number(sign.TcpPort()) + QStringLiteral("ab"));
    int logged = int(ui.Entries().size());
    ui.Click(ctl::Send);
    QCOMPARE(
        ui.EntriesAfter(logged).mid(1),
        (QStringList{QStringLiteral("TCP vers 127.0.0.1:%1").arg(sign.TcpPort()), "Socket : ACK"}));

    ui.SetText(ctl::TargetPort, QStringLiteral("abc"));
    logged = int(ui.Entries().size());
    ui.Click(ctl::Send);
    QCOMPARE(ui.EntriesAfter(logged).at(1), QStringLiteral("TCP vers 127.0.0.1:0"));
    QCOMPARE(ui.IconId(), 137);
    QCOMPARE(catcher.Texts(),
             QStringList{WindowDriver::Shown("IP ERROR\r\nCheck network configuration.")});
    QCOMPARE(sign.Frames(), 1);
}

void TstWindowSend::serialAckThenSocketNoAck() {
    CDisplaySim sign;
    QVERIFY(sign.OpenPty(m_com1));
    CDisplaySim silent(WithReply(Reply::None));
    QVERIFY(silent.ListenUdp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    BoxCatcher catcher;
    ui.Click(ctl::Send);
    QCOMPARE(ui.IconId(), 138);
    ui.AimAt(kLinkUdp, silent.UdpPort());
    ui.Click(ctl::Send);
    QCOMPARE(ui.IconId(), 137);
    for (const int id : {ctl::SendCount, ctl::GoodCount, ctl::BadCount})
        QCOMPARE(ui.Label(id), QStringLiteral("0"));
}

void TstWindowSend::formWrittenBackAndAttributeUsed() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.AimAt(kLinkUdp, sign.UdpPort());
    ui.Choose(ctl::Attribute, 24); // the second "N"
    ui.SetText(ctl::Message, QStringLiteral("\u00E9t\u00E9|\u20AC"));
    BoxCatcher catcher;
    ui.Click(ctl::Send);
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    const auto record = sign.Records().first();
    QCOMPARE(record.attribute, int('N'));
    QCOMPARE(record.text, QStringLiteral("\u00E9t\u00E9|$")); // the sign shows the euro as '$'
    QVERIFY(record.valid);
    QCOMPARE(ui.Ctl<QLineEdit>(ctl::Message)->text(), QStringLiteral("\u00E9t\u00E9|\u20AC"));
    QCOMPARE(ui.Ctl<QLineEdit>(ctl::Address)->text(), QStringLiteral("48"));
}

QTEST_MAIN(TstWindowSend)
#include "tst_window_send.moc"
