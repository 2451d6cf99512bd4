// The serial channel over pseudo-terminals: what goes on the line, the answer and its
// time-out, exclusive use of the device, line settings, reopening, a device that goes away,
// and the event loop that keeps running during the waits.

#include "DisplayFrame.h"
#include "PortCom.h"
#include "PtyPair.h"
#include "SerialSettings.h"
#include "WaitLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace kalvor;

namespace {

const QByteArray kDefaultsFrame = QByteArray::fromHex("02303054455354"
                                                      "0d031a");

QByteArray Bytes(const DisplayFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

DisplayFrame Frame(const QByteArray& bytes) {
    return DisplayFrame(bytes.begin(), bytes.end());
}

QByteArray EnvName(int comNumber) {
    return "KALVOR_COM" + QByteArray::number(comNumber);
}

void PointCom(int comNumber, const QString& path) {
    qputenv(EnvName(comNumber).constData(), QFile::encodeName(path));
}

// Counts the expiries of the pauses (single-shot QTimers of at most 100 ms) of the wait loops.
class CPauseCounter : public QObject {
public:
    CPauseCounter() { QCoreApplication::instance()->installEventFilter(this); }
    ~CPauseCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
    int Count() const { return m_count; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            auto* timer = qobject_cast<QTimer*>(watched);
            if (timer && timer->isSingleShot() && timer->interval() >= 50 &&
                timer->interval() <= 100)
                ++m_count;
        }
        return false;
    }

private:
    int m_count = 0;
};

// The child process of the tests of exclusive use.
//   --child qserialport <path>: opens the path with a plain QSerialPort; exit 0 when it opened.
//   --child portcom <n>: opens COM<n> with CPortCom; exit 0 when it opened.
//   --child hold <n>: opens COM<n>, prints "open" or "fail", keeps it until stdin closes.
int ChildMain(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::alarm(20); // never outlives a stuck test
    const QByteArray mode = argv[2];
    if (mode == "qserialport") {
        QSerialPort port(QString::fromLocal8Bit(argv[3]));
        return port.open(QIODevice::ReadWrite) ? 0 : 1;
    }
    const int index = std::atoi(argv[3]) - 1;
    CPortCom port;
    const int opened = port.Open(index, 9600, 8, 0);
    if (mode == "portcom")
        return opened ? 0 : 1;
    std::printf("%s\n", opened ? "open" : "fail");
    std::fflush(stdout);
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    return opened ? 0 : 1;
}

int RunChild(const QStringList& args) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), QStringList{"--child"} + args);
    if (!child.waitForFinished(10000)) {
        child.kill();
        child.waitForFinished(1000);
        return -1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

} // namespace

class TestPortCom : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString LinkPath(int comNumber) const {
        return m_dir.filePath(QStringLiteral("com%1").arg(comNumber));
    }
    // COM<n> names the pty through a symbolic link, as an operator's KALVOR_COM<n> would.
    bool Link(int comNumber, const CPtyPair& pty) const {
        const QString link = LinkPath(comNumber);
        QFile::remove(link);
        if (!QFile::link(pty.SlavePath(), link))
            return false;
        PointCom(comNumber, link);
        return true;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        for (int n = 1; n <= kComPortCount; ++n)
            qunsetenv(EnvName(n).constData());
    }

    void comDevicePath_data() {
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("expected");
        QTest::newRow("COM1") << 0 << QString() << "/dev/ttyS0";
        QTest::newRow("COM20") << 19 << QString() << "/dev/ttyS19";
        QTest::newRow("COM20 pointed elsewhere") << 19 << "/dev/ttyUSB0"
                                                 << "/dev/ttyUSB0";
        QTest::newRow("COM3 pointed elsewhere") << 2 << "/tmp/sign"
                                                << "/tmp/sign";
    }
    void comDevicePath() {
        QFETCH(int, portIndex);
        QFETCH(QString, override);
        QFETCH(QString, expected);
        if (!override.isEmpty())
            PointCom(portIndex + 1, override);
        QCOMPARE(ComDevicePath(portIndex), expected);
    }

    void writeFrame_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("withChecksum");
        QTest::addColumn<QByteArray>("line");
        const QByteArray defaults = Bytes(BuildDisplayFrame(48, '0', "TEST"));
        QTest::newRow("defaults without checksum") << defaults << false
                                                   << QByteArray::fromHex("02303054455354"
                                                                          "0d03");
        QTest::newRow("defaults with checksum") << defaults << true << kDefaultsFrame;
        // 0x83 escapes to SO ETX: the inner ETX ends what goes out.
        const QByteArray inner = Bytes(BuildDisplayFrame(48, '0', "A\x83Z"));
        QTest::newRow("inner ETX without checksum")
            << inner << false << QByteArray::fromHex("023030410e03");
        QTest::newRow("inner ETX with checksum")
            << inner << true << QByteArray::fromHex("023030410e035a");
        QTest::newRow("ETX last, with checksum")
            << QByteArray::fromHex("0230300d03") << true << QByteArray::fromHex("0230300d0300");
        QTest::newRow("ETX last, without checksum")
            << QByteArray::fromHex("0230300d03") << false << QByteArray::fromHex("0230300d03");
        QTest::newRow("no ETX") << QByteArray::fromHex("0230305445") << true << QByteArray();
        QTest::newRow("empty") << QByteArray() << true << QByteArray();
    }
    void writeFrame() {
        QFETCH(QByteArray, frame);
        QFETCH(bool, withChecksum);
        QFETCH(QByteArray, line);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(1, pty));
        CPortCom port;
        QCOMPARE(port.Open(0, 9600, 8, 0), 1);
        QCOMPARE(port.WriteFrame(Frame(frame), withChecksum), 1);
        // Drained: everything is on the line when WriteFrame returns.
        pollfd p{pty.Master(), POLLIN, 0};
        if (!line.isEmpty())
            QCOMPARE(::poll(&p, 1, 0), 1);
        QCOMPARE(pty.ReadUntilQuiet(100), line);
        QCOMPARE(port.IsOpen(), 1);
    }

    void waitAck_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::addColumn<QByteArray>("left");
        QTest::newRow("ACK") << QByteArray("\x06") << 1 << 0 << 500 << QByteArray();
        QTest::newRow("NAK takes one byte only")
            << QByteArray("\x15\x06") << 0 << 0 << 500 << QByteArray("\x06");
        QTest::newRow("silence") << QByteArray() << 0 << 900 << 2500 << QByteArray();
    }
    void waitAck() {
        QFETCH(QByteArray, answer);
        QFETCH(int, expected);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QFETCH(QByteArray, left);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(2, pty));
        CPortCom port;
        QCOMPARE(port.Open(1, 1200, 8, 0), 1);
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QCOMPARE(pty.ReadUntilQuiet(50), kDefaultsFrame);
        QVERIFY(pty.Write(answer));
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.WaitAck(), expected);
        QVERIFY2(t.elapsed() >= minMs && t.elapsed() <= maxMs,
                 qPrintable(QString::number(t.elapsed())));
        for (const char c : left) {
            quint8 b = 0;
            QCOMPARE(port.ReadByte(b), 1);
            QCOMPARE(int(b), int(quint8(c)));
        }
    }

    // A late answer that came before the next frame is what the next WaitAck reads.
    void staleByteSurvivesWriteFrame() {
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(3, pty));
        CPortCom port;
        QCOMPARE(port.Open(2, 9600, 8, 0), 1);
        QVERIFY(pty.Write("\x06"));
        QTest::qWait(50);
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), false), 1);
        QCOMPARE(pty.ReadUntilQuiet(50), kDefaultsFrame.left(9));
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.WaitAck(), 1);
        QVERIFY(t.elapsed() < 500);
    }

    // Close and Open throw away what was received before: the next answer is a fresh one.
    void closeAndOpenDiscardInput_data() {
        QTest::addColumn<bool>("arrivesWhileClosed");
        QTest::newRow("received while open") << false;
        QTest::newRow("received while closed") << true;
    }
    void closeAndOpenDiscardInput() {
        QFETCH(bool, arrivesWhileClosed);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(4, pty));
        CPortCom port;
        QCOMPARE(port.Open(3, 9600, 8, 0), 1);
        if (!arrivesWhileClosed) {
            QVERIFY(pty.Write("\x06"));
            QTest::qWait(50);
        }
        QCOMPARE(port.Close(), 1);
        QCOMPARE(port.IsOpen(), 0);
        if (arrivesWhileClosed) {
            QVERIFY(pty.Write("\x06\n"));
            QTest::qWait(50);
        }
        QCOMPARE(port.Open(3, 9600, 8, 0), 1);
        QVERIFY(pty.Write("\x15"));
        QCOMPARE(port.WaitAck(), 0);
        quint8 b = 0;
        QVERIFY(pty.Write("\x06"));
        QCOMPARE(port.ReadByte(b), 1);
        QCOMPARE(int(b), 0x06);
    }

    void secondOpenInProcessFails_data() {
        QTest::addColumn<bool>("otherName");
        QTest::newRow("same COM number") << false;
        QTest::newRow("same device under another name") << true;
    }
    void secondOpenInProcessFails() {
        QFETCH(bool, otherName);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(5, pty));
        PointCom(6, pty.SlavePath());
        CPortCom first;
        CPortCom second;
        QCOMPARE(first.Open(4, 9600, 8, 0), 1);
        const int index = otherName ? 5 : 4;
        QCOMPARE(second.Open(index, 9600, 8, 0), 0);
        QCOMPARE(second.IsOpen(), 0);
        QVERIFY2(second.LastOpenError().contains("another program holds it"),
                 qPrintable(second.LastOpenError()));
        // The first keeps working.
        QCOMPARE(first.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QCOMPARE(pty.ReadUntilQuiet(50), kDefaultsFrame);
        first.Close();
        QCOMPARE(second.Open(index, 9600, 8, 0), 1);
        QVERIFY(second.LastOpenError().isEmpty());
    }

    // Another process cannot take a device this one holds, and the other way round.
    void secondOpenByOtherProcessFails_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("QSerialPort on the device") << "qserialport";
        QTest::newRow("CPortCom through KALVOR_COM7") << "portcom";
    }
    void secondOpenByOtherProcessFails() {
        QFETCH(QString, mode);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(7, pty));
        const QString target = mode == "portcom" ? QStringLiteral("7") : pty.SlavePath();
        CPortCom port;
        QCOMPARE(port.Open(6, 9600, 8, 0), 1);
        QCOMPARE(RunChild({mode, target}), 1);
        port.Close();
        QCOMPARE(RunChild({mode, target}), 0);
    }

    void openFailsWhileOtherProcessHolds() {
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(8, pty));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--child", "hold", "8"});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("open"));
        CPortCom port;
        QCOMPARE(port.Open(7, 9600, 8, 0), 0);
        QVERIFY2(port.LastOpenError().contains("another program holds it"),
                 qPrintable(port.LastOpenError()));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(port.Open(7, 9600, 8, 0), 1);
    }

    void openFailsWithPlainWords_data() {
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<QString>("target"); // what KALVOR_COM<n> names; "" for no override
        QTest::addColumn<QString>("words");
        QTest::newRow("missing device") << 8 << "/nonexistent/ttyUSB9"
                                        << "does not exist";
        QTest::newRow("dangling link") << 8 << "dangling"
                                       << "does not exist";
        QTest::newRow("not a device") << 8 << "regular"
                                      << "is not a serial device";
        QTest::newRow("COM21") << 20 << QString() << "COM1 to COM20";
        QTest::newRow("COM0") << -1 << QString() << "COM1 to COM20";
    }
    void openFailsWithPlainWords() {
        QFETCH(int, portIndex);
        QFETCH(QString, target);
        QFETCH(QString, words);
        if (target == "dangling") {
            target = m_dir.filePath("dangling");
            QFile::remove(target);
            QVERIFY(QFile::link(m_dir.filePath("gone"), target));
        } else if (target == "regular") {
            target = m_dir.filePath("regular");
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (!target.isEmpty())
            PointCom(portIndex + 1, target);
        CPortCom port;
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.Open(portIndex, 1200, 7, 2), 0);
        QVERIFY(t.elapsed() < 500);
        QCOMPARE(port.IsOpen(), 0);
        QVERIFY2(port.LastOpenError().contains(words), qPrintable(port.LastOpenError()));
        if (words == "does not exist")
            QVERIFY2(port.LastOpenError().contains("KALVOR_COM9"),
                     qPrintable(port.LastOpenError()));
        // The closed port does nothing, and says so without waiting.
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QCOMPARE(port.WaitAck(), 0);
        QVERIFY(t.elapsed() < 500);
    }

    void permissionDeniedNamesTheGroup() {
        if (::geteuid() == 0)
            QSKIP("root opens any device");
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(10, pty));
        QCOMPARE(::chmod(QFile::encodeName(pty.SlavePath()).constData(), 0), 0);
        CPortCom port;
        QCOMPARE(port.Open(9, 9600, 8, 0), 0);
        QVERIFY2(port.LastOpenError().contains("dialout"), qPrintable(port.LastOpenError()));
    }

    void lineSettingsFromTheForm_data() {
        QTest::addColumn<int>("speedIndex");
        QTest::addColumn<bool>("useParity");
        QTest::addColumn<int>("speedFlag");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::newRow("COM3 4800 8N1") << 3 << false << int(B4800) << 8 << 0;
        QTest::newRow("COM3 1200 7E1") << 1 << true << int(B1200) << 7 << 2;
        QTest::newRow("COM3 19200 8N1") << 5 << false << int(B19200) << 8 << 0;
        QTest::newRow("COM3 no speed selected") << -1 << false << int(B9600) << 8 << 0;
    }
    void lineSettingsFromTheForm() {
        QFETCH(int, speedIndex);
        QFETCH(bool, useParity);
        QFETCH(int, speedFlag);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(3, pty));
        CPortCom port;
        SerialSettings settings;
        settings.portIndex = 2;
        settings.speedIndex = speedIndex;
        settings.useParity = useParity;
        QCOMPARE(OpenPortWithSettings(port, settings), 1);
        QCOMPARE(port.DevicePath(), LinkPath(3));
        QCOMPARE(int(port.DataBits()), dataBits);
        QCOMPARE(int(port.Parity()), parity);
        termios tio{};
        QCOMPARE(::tcgetattr(pty.Slave(), &tio), 0);
        QCOMPARE(int(::cfgetospeed(&tio)), speedFlag);
        QVERIFY((tio.c_cflag & CSTOPB) == 0);
        // A pseudo-terminal keeps eight data bits without parity whatever it is asked; the
        // 8N1 rows show that the line really is 8N1.
        if (!useParity) {
            QCOMPARE(int(tio.c_cflag & CSIZE), int(CS8));
            QVERIFY((tio.c_cflag & PARENB) == 0);
        }
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QCOMPARE(pty.ReadUntilQuiet(50), kDefaultsFrame);
    }

    // A change of settings closes, pauses 100 ms once, and opens with the new settings.
    void settingChangeReopensWithOnePause_data() {
        QTest::addColumn<bool>("openBefore");
        QTest::newRow("port open") << true;
        QTest::newRow("port closed") << false;
    }
    void settingChangeReopensWithOnePause() {
        QFETCH(bool, openBefore);
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(11, pty));
        CPortCom port;
        SerialSettings settings;
        settings.portIndex = 10;
        if (openBefore)
            QCOMPARE(OpenPortWithSettings(port, settings), 1);
        settings.speedIndex = 3;
        settings.useParity = false;
        CPauseCounter pauses;
        QElapsedTimer t;
        t.start();
        ReopenPortWithSettings(port, settings);
        QVERIFY2(t.elapsed() >= 95, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(pauses.Count(), 1);
        QCOMPARE(port.IsOpen(), 1);
        termios tio{};
        QCOMPARE(::tcgetattr(pty.Slave(), &tio), 0);
        QCOMPARE(int(::cfgetospeed(&tio)), int(B4800));
        QCOMPARE(int(port.DataBits()), 8);
    }

    // A device that goes away closes the port; it opens again once the device is back.
    void deviceGoneClosesThePort_data() {
        QTest::addColumn<bool>("duringWait");
        QTest::newRow("while idle") << false;
        QTest::newRow("during WaitAck") << true;
    }
    void deviceGoneClosesThePort() {
        QFETCH(bool, duringWait);
        auto pty = std::make_unique<CPtyPair>();
        QVERIFY(pty->Create());
        QVERIFY(Link(12, *pty));
        CPortCom port;
        SerialSettings settings;
        settings.portIndex = 11;
        QCOMPARE(OpenPortWithSettings(port, settings), 1);
        if (duringWait) {
            QTimer::singleShot(150, [&pty] { pty->Close(); });
            QElapsedTimer t;
            t.start();
            QCOMPARE(port.WaitAck(), 0);
            QVERIFY2(t.elapsed() < 900, qPrintable(QString::number(t.elapsed())));
            QCOMPARE(port.IsOpen(), 0);
        } else {
            pty->Close();
            QTRY_COMPARE_WITH_TIMEOUT(port.IsOpen(), 0, 3000);
        }
        QVERIFY2(port.LastOpenError().contains("went away"), qPrintable(port.LastOpenError()));
        // While the device is missing, opening fails.
        QCOMPARE(OpenPortWithSettings(port, settings), 0);

        // The adapter is back: same KALVOR_COM12 link, new device behind it.
        auto back = std::make_unique<CPtyPair>();
        QVERIFY(back->Create());
        QVERIFY(Link(12, *back));
        QCOMPARE(OpenPortWithSettings(port, settings), 1);
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QCOMPARE(back->ReadUntilQuiet(50), kDefaultsFrame);
        QVERIFY(back->Write("\x06"));
        QCOMPARE(port.WaitAck(), 1);
    }

    // A byte the driver does not take within the write time-out is dropped with the rest of
    // its frame; nothing of it goes out later, and the next frame goes out whole.
    void stuckWriteIsBounded() {
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(13, pty));
        CPortCom port;
        QCOMPARE(port.Open(12, 9600, 8, 0), 1);
        QCOMPARE(::tcflow(pty.Slave(), TCOOFF), 0);
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QVERIFY2(t.elapsed() >= 95 && t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(::tcflow(pty.Slave(), TCOON), 0);
        QTest::qWait(100); // the event loop would send what was left queued
        QCOMPARE(pty.ReadUntilQuiet(100), QByteArray());
        QCOMPARE(port.IsOpen(), 1);
        QCOMPARE(port.WriteFrame(Frame(kDefaultsFrame), true), 1);
        QCOMPARE(pty.ReadUntilQuiet(50), kDefaultsFrame);
    }

    // The wait for the answer runs the event loop: timers fire inside it, at depth > 0.
    void eventLoopRunsDuringWaitAck() {
        CPtyPair pty;
        QVERIFY(pty.Create());
        QVERIFY(Link(14, pty));
        CPortCom port;
        QCOMPARE(port.Open(13, 9600, 8, 0), 1);
        bool fired = false;
        int depth = 0;
        QTimer::singleShot(100, [&] {
            fired = true;
            depth = CWaitLoop::Depth();
        });
        QTimer::singleShot(250, [&pty] { pty.Write("\x06"); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.WaitAck(), 1);
        QVERIFY(t.elapsed() >= 200);
        QVERIFY(t.elapsed() < 900);
        QVERIFY(fired);
        QVERIFY(depth > 0);
        QCOMPARE(CWaitLoop::Depth(), 0);
    }
};

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0)
        return ChildMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestPortCom test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_portcom.moc"
