// kalvor-display-sim as a program: started as a child process, fed over loopback, ended by its
// count or by a signal.

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 3000;

const QByteArray kTestFrame = QByteArray::fromHex("02303054455354"
                                                  "0d031a");

// Starts the tool and reads its listening line.
bool Start(QProcess& process, const QStringList& args, QString& listening) {
    process.start(QStringLiteral(KALVOR_DISPLAY_SIM), args);
    if (!process.waitForStarted(kWaitMs))
        return false;
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(kWaitMs))
            return false;
    }
    listening = QString::fromUtf8(process.readLine()).trimmed();
    return true;
}

QStringList RemainingLines(QProcess& process) {
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TstDisplaySimExe : public QObject {
    Q_OBJECT
private slots:
    void udpFrameAndCount();
    void signalEndsCleanly();
    void ptyLastReplyIsDelivered();
    void tcpLastReplyIsSent();
    void badArguments_data();
    void badArguments();
    void portInUse();
};

void TstDisplaySimExe::udpFrameAndCount() {
    QProcess process;
    QString listening;
    QVERIFY(Start(process, {"--udp", "0", "--count", "1"}, listening));
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral(R"(^listening udp=127\.0\.0\.1:(\d+)$)"))
            .match(listening);
    QVERIFY2(m.hasMatch(), qPrintable(listening));
    const quint16 port = quint16(m.captured(1).toUInt());
    QVERIFY(port != 0);

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    QCOMPARE(client.writeDatagram(kTestFrame, QHostAddress::LocalHost, port), kTestFrame.size());
    QVERIFY(client.waitForReadyRead(kWaitMs));
    const QNetworkDatagram reply = client.receiveDatagram();
    QCOMPARE(reply.data(), QByteArray(1, '\x06'));
    QCOMPARE(reply.senderPort(), int(port));

    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(RemainingLines(process),
             (QStringList{R"(frame link=udp addr=48 attr=0 xor=1A valid=yes reply=ack text="TEST")",
                          "summary frames=1 valid=1 replied=1"}));
    QCOMPARE(process.readAllStandardError(), QByteArray());
}

void TstDisplaySimExe::signalEndsCleanly() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    QProcess process;
    QString listening;
    QVERIFY(Start(process, {"--tcp", "0", "--link", link, "--json"}, listening));
    const QJsonObject first = QJsonDocument::fromJson(listening.toUtf8()).object();
    QCOMPARE(first.value("event").toString(), QStringLiteral("listening"));
    QCOMPARE(first.value("link").toString(), link);
    const QString pty = first.value("pty").toString();
    QVERIFY2(pty.startsWith(QLatin1String("/dev/pts/")), qPrintable(listening));
    QCOMPARE(QFileInfo(link).symLinkTarget(), pty);
    const QString tcp = first.value("tcp").toString();
    QVERIFY2(tcp.startsWith(QLatin1String("127.0.0.1:")), qPrintable(listening));

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(tcp.section(u':', 1).toUInt()));
    QVERIFY(client.waitForConnected(kWaitMs));
    client.write(kTestFrame);
    QVERIFY(client.waitForReadyRead(kWaitMs));
    QCOMPARE(client.readAll(), QByteArray(1, '\x06'));
    QVERIFY(process.waitForReadyRead(kWaitMs)); // the frame line

    process.terminate(); // SIGTERM
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList lines = RemainingLines(process);
    QCOMPARE(lines.size(), 2);
    const QJsonObject frame = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(frame.value("link").toString(), QStringLiteral("tcp"));
    QCOMPARE(frame.value("text").toString(), QStringLiteral("TEST"));
    QCOMPARE(lines[1], QStringLiteral(R"({"event":"summary","frames":1,"valid":1,"replied":1})"));
    QVERIFY(!QFileInfo(link).isSymLink()); // the link goes with the pty
}

void TstDisplaySimExe::ptyLastReplyIsDelivered() {
    // The count is reached with the ACK still in the pty: the tool waits until it is read
    // instead of throwing it away with the pty.
    QProcess process;
    QString listening;
    QVERIFY(Start(process, {"--pty", "--count", "1"}, listening));
    const QString pty = listening.section(QStringLiteral("pty="), 1);
    const int fd = ::open(QFile::encodeName(pty).constData(), O_RDWR | O_NOCTTY);
    QVERIFY2(fd >= 0, qPrintable(listening));
    QCOMPARE(::write(fd, kTestFrame.constData(), std::size_t(kTestFrame.size())),
             ssize_t(kTestFrame.size()));
    QByteArray out;
    while (!out.contains("summary") && process.waitForReadyRead(kWaitMs))
        out += process.readAllStandardOutput();
    QVERIFY2(out.endsWith("summary frames=1 valid=1 replied=1\n"), out.constData());
    QCOMPARE(process.state(), QProcess::Running);
    char reply = 0;
    QCOMPARE(::read(fd, &reply, 1), ssize_t(1));
    QCOMPARE(reply, '\x06');
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitCode(), 0);
    ::close(fd);
}

void TstDisplaySimExe::tcpLastReplyIsSent() {
    // The tool quits at once after the last reply: the ACK must be on its way by then.
    QProcess process;
    QString listening;
    QVERIFY(Start(process, {"--tcp", "0", "--count", "1"}, listening));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(listening.section(u':', -1).toUInt()));
    QVERIFY(client.waitForConnected(kWaitMs));
    client.write(kTestFrame);
    QVERIFY(client.waitForBytesWritten(kWaitMs));
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitCode(), 0);
    if (client.bytesAvailable() == 0)
        QVERIFY(client.waitForReadyRead(kWaitMs));
    QCOMPARE(client.readAll(), QByteArray(1, '\x06'));
}

void TstDisplaySimExe::badArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing to listen on") << QStringList{};
    QTest::newRow("bad port") << QStringList{"--udp", "http"};
    QTest::newRow("bad reply") << QStringList{"--tcp", "0", "--reply", "maybe"};
}

void TstDisplaySimExe::badArguments() {
    QFETCH(QStringList, args);
    QProcess process;
    process.start(QStringLiteral(KALVOR_DISPLAY_SIM), args);
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().startsWith("kalvor-display-sim: "));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void TstDisplaySimExe::portInUse() {
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::LocalHost, 0));
    QProcess process;
    process.start(QStringLiteral(KALVOR_DISPLAY_SIM),
                  {"--udp", QString::number(holder.localPort())});
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().startsWith("kalvor-display-sim: cannot listen on udp"));
}

QTEST_GUILESS_MAIN(TstDisplaySimExe)
#include "tst_displaysim_exe.moc"
