// Bad input outside the window: target ports and IP addresses that cannot be a target, texts
// that must reach the sign unchanged, and COM ports that cannot be opened.
#include "DisplaySim.h"
#include "FakeForm.h"
#include "PortCom.h"
#include "PtyPair.h"
#include "SendTransaction.h"
#include "TestRun.h"
#include "TextCodec.h"

#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace kalvor;
using kalvor::sim::CDisplaySim;

namespace {

constexpr const char* kHelperSwitch = "--send-on-com";

const QString kPrepare = QStringLiteral("log:Prepare frame to send : <STX>00TEST<CR><ETX>[x1A]");

// 120 characters that all escape (0x81 to 0xFF), without 0x83: it escapes to SO ETX, which
// ends the frame early by the format's own rule, so it cannot come back.
std::string AllEscaping() {
    std::string all;
    for (int c = 0x81; c <= 0xFF; ++c)
        if (c != 0x83)
            all.push_back(char(c));
    return all.substr(0, 60) + all.substr(all.size() - 60);
}

// Run as another user by comPermissionDenied: one Send on COM<n> (KALVOR_COM<n> set by the
// caller), the form's visible events and the port's reason printed one per line.
int SendOnComHelper(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    FakeForm form;
    form.serial.portIndex = std::atoi(argv[2]) - 1;
    OnSendButton(form);
    for (const QString& e : form.Visible())
        std::printf("%s\n", qPrintable(e));
    std::printf("reason:%s\n", qPrintable(form.port.LastOpenError()));
    return 0;
}

} // namespace

class TstBadInput : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void targetRefused_data();
    void targetRefused();
    void textComesBackUnchanged_data();
    void textComesBackUnchanged();
    void comPortNotSerial_data();
    void comPortNotSerial();
    void comPortHeldByAnotherProgram();
    void comPortPermissionDenied();

private:
    QTemporaryDir m_dir;
};

void TstBadInput::initTestCase() {
    QVERIFY(m_dir.isValid());
}

void TstBadInput::targetRefused_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("portText"); // "sign": the sign's own port
    QTest::addColumn<int>("versPort");     // -2: the sign's own port
    for (const int mode : {kLinkUdp, kLinkTcp}) {
        const char* name = mode == kLinkUdp ? "udp" : "tcp";
        QTest::addRow("%s empty", name) << mode << "127.0.0.1"
                                        << "" << 0;
        QTest::addRow("%s letters", name) << mode << "127.0.0.1"
                                          << "abc" << 0;
        QTest::addRow("%s zero", name) << mode << "127.0.0.1"
                                       << "0" << 0;
        QTest::addRow("%s 65536", name) << mode << "127.0.0.1"
                                        << "65536" << 65536;
        QTest::addRow("%s -1", name) << mode << "127.0.0.1"
                                     << "-1" << -1;
        QTest::addRow("%s blank IP", name) << mode << "0.0.0.0"
                                           << "sign" << -2;
    }
}

void TstBadInput::targetRefused() {
    QFETCH(int, mode);
    QFETCH(QString, ip);
    QFETCH(QString, portText);
    QFETCH(int, versPort);

    // The sign listens on its own port and, when it can have it, on 65535 too: the port that
    // "-1" would become if it were cut to 16 bits (and "65536" becomes 0).
    CDisplaySim sign;
    QVERIFY(mode == kLinkUdp ? sign.ListenUdp(0, QHostAddress::Any)
                             : sign.ListenTcp(0, QHostAddress::Any));
    const quint16 signPort = mode == kLinkUdp ? sign.UdpPort() : sign.TcpPort();
    CDisplaySim wrapped;
    if (portText == QLatin1String("-1"))
        mode == kLinkUdp ? wrapped.ListenUdp(65535) : wrapped.ListenTcp(65535);

    FakeForm form;
    form.linkMode = mode;
    form.ip = ip.toStdString();
    form.targetPort =
        portText == QLatin1String("sign") ? std::to_string(signPort) : portText.toStdString();
    const int port = versPort == -2 ? signPort : versPort;
    const QString vers =
        QStringLiteral("%1 vers %2:%3").arg(mode == kLinkUdp ? "UDP" : "TCP", ip).arg(port);
    OnSendButton(form);
    QCOMPARE(form.Visible(),
             (QStringList{kPrepare, "log:" + vers,
                          "err:Cannot get a socket to target. Check network configuration. "
                          "ERR #10049",
                          "icon:137", "box:IP ERROR\r\nCheck network configuration."}));

    // A test step: counted as sent and failed, only the vers line after the frame line.
    form.events.clear();
    form.delay = "3600000";
    CTestRun run(form);
    run.ToggleTestRun();
    run.ToggleTestRun();
    QCOMPARE(run.Counters().Send, 1);
    QCOMPARE(run.Counters().Bad, 1);
    QCOMPARE(form.Only("log:").mid(2), QStringList{vers});
    QVERIFY(form.Only("err:").isEmpty());

    QTest::qWait(50);
    QCOMPARE(sign.Frames(), 0);
    QCOMPARE(wrapped.Frames(), 0);
}

void TstBadInput::textComesBackUnchanged_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("message");
    const QByteArray escaping = QByteArray::fromStdString(AllEscaping());
    const QByteArray controls("|a\x01|b\x07\t\x0b\x0c\r\x1b\x1f\x7f||");
    for (const int mode : {kLinkSerial, kLinkUdp, kLinkTcp}) {
        const char* name = mode == kLinkSerial ? "pty" : mode == kLinkUdp ? "udp" : "tcp";
        QTest::addRow("%s 120 escaping", name) << mode << escaping;
        QTest::addRow("%s bars and controls", name) << mode << controls;
    }
}

void TstBadInput::textComesBackUnchanged() {
    QFETCH(int, mode);
    QFETCH(QByteArray, message);
    QCOMPARE(message.size() <= kMessageMaxChars, true);

    CDisplaySim sign;
    const QString link = m_dir.filePath("com5");
    QVERIFY(mode == kLinkSerial ? sign.OpenPty(link)
            : mode == kLinkUdp  ? sign.ListenUdp(0)
                                : sign.ListenTcp(0));
    qputenv("KALVOR_COM5", link.toLocal8Bit());
    FakeForm form;
    form.linkMode = mode;
    form.serial.portIndex = 4;
    form.targetPort = std::to_string(mode == kLinkUdp ? sign.UdpPort() : sign.TcpPort());
    form.message = message.toStdString();
    OnSendButton(form);
    QCOMPARE(form.icon, IconAckOk);
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    const auto record = sign.Records().first();
    QVERIFY(record.valid);
    QCOMPARE(record.text, QString::fromStdU16String(Cp1252ToUtf16(form.message)));
    form.port.Close();
    qunsetenv("KALVOR_COM5");
}

void TstBadInput::comPortNotSerial_data() {
    QTest::addColumn<QString>("device"); // "" leaves KALVOR_COM<n> unset
    QTest::addColumn<int>("com");
    QTest::newRow("regular file") << "file" << 6;
    QTest::newRow("directory") << "dir" << 6;
    QTest::newRow("character device, not a line") << "/dev/null" << 6;
    QTest::newRow("COM21, beyond the list") << "" << 21;
}

void TstBadInput::comPortNotSerial() {
    QFETCH(QString, device);
    QFETCH(int, com);
    QString path = device;
    if (device == QLatin1String("file")) {
        path = m_dir.filePath("plain-file");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (device == QLatin1String("dir")) {
        path = m_dir.path();
    }
    const QByteArray var = "KALVOR_COM" + QByteArray::number(com);
    if (!path.isEmpty())
        qputenv(var.constData(), path.toLocal8Bit());
    FakeForm form;
    form.serial.portIndex = com - 1;
    OnSendButton(form);
    QCOMPARE(form.Visible(),
             (QStringList{kPrepare, QStringLiteral("err:COM#%1 Port Error").arg(com),
                          "box:COM Port ERROR"}));
    QVERIFY(!form.port.IsOpen());
    QVERIFY(!form.port.LastOpenError().isEmpty());
    qunsetenv(var.constData());
}

void TstBadInput::comPortHeldByAnotherProgram() {
    CPtyPair line;
    QVERIFY(line.Create());
    // Another program opens the device and locks it, as serial programs do.
    QProcess holder;
    holder.start(QStringLiteral("flock"),
                 {"--exclusive", "--nonblock", line.SlavePath(), "-c", "echo held; exec cat"});
    if (!holder.waitForStarted(3000))
        QSKIP("flock(1) is not available");
    QVERIFY(holder.waitForReadyRead(3000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

    qputenv("KALVOR_COM7", line.SlavePath().toLocal8Bit());
    FakeForm form;
    form.serial.portIndex = 6;
    form.checks[ctl::WaitAck] = false;
    OnSendButton(form);
    QCOMPARE(form.Visible(), (QStringList{kPrepare, "err:COM#7 Port Error", "box:COM Port ERROR"}));
    QVERIFY2(form.port.LastOpenError().contains("busy"), qPrintable(form.port.LastOpenError()));

    // Once the other program lets go, the next Send opens the port.
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(3000));
    form.events.clear();
    OnSendButton(form);
    QCOMPARE(form.Visible(), QStringList{kPrepare});
    QVERIFY(form.port.IsOpen());
    QCOMPARE(line.ReadUntilQuiet(100).toHex(' '), QByteArray("02 30 30 54 45 53 54 0d 03 1a"));
    form.port.Close();
    qunsetenv("KALVOR_COM7");
}

void TstBadInput::comPortPermissionDenied() {
    CPtyPair line;
    QVERIFY(line.Create());
    QVERIFY(::chmod(QFile::encodeName(line.SlavePath()).constData(), 0) == 0);
    qputenv("KALVOR_COM8", line.SlavePath().toLocal8Bit());
    QStringList seen;
    if (::geteuid() != 0) {
        FakeForm form;
        form.serial.portIndex = 7;
        OnSendButton(form);
        seen = form.Visible();
        seen << "reason:" + form.port.LastOpenError();
    } else {
        // Root opens anything: the Send runs in a child process as the user nobody.
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("running as root without setpriv: cannot try a user without permission");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral("setpriv"),
                    {"--reuid=65534", "--regid=65534", "--clear-groups",
                     QCoreApplication::applicationFilePath(), kHelperSwitch, "8"});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
        if (child.exitCode() != 0 || out.isEmpty())
            QSKIP(qPrintable("the user nobody cannot run this test here: " +
                             QString::fromLocal8Bit(child.readAllStandardError()).left(200)));
        seen = out.split(u'\n', Qt::SkipEmptyParts);
    }
    QCOMPARE(seen.mid(0, 3), (QStringList{kPrepare, "err:COM#8 Port Error", "box:COM Port ERROR"}));
    QVERIFY2(seen.size() == 4 && seen[3].contains("Permission denied"), qPrintable(seen.join('|')));
    qunsetenv("KALVOR_COM8");
}

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], kHelperSwitch) == 0)
        return SendOnComHelper(argc, argv);
    QCoreApplication app(argc, argv);
    TstBadInput test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_badinput.moc"
