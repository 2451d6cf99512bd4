// Loop tests and XOR tests against a headless form, with the display simulator as the sign.
#include "DisplaySim.h"
#include "FakeForm.h"
#include "TestRun.h"

#include <QtTest>

using namespace kalvor;
using kalvor::sim::CDisplaySim;
using kalvor::sim::Reply;
using kalvor::sim::SimOptions;

namespace {

constexpr int kLongDelay = 3600 * 1000; // only the first step runs on its own

// A form aimed at a simulator on UDP loopback.
void AimAt(FakeForm& form, const CDisplaySim& sign, int delayMs) {
    form.linkMode = kLinkUdp;
    form.targetPort = std::to_string(sign.UdpPort());
    form.delay = std::to_string(delayMs);
}

bool WaitStopped(const CTestRun& run, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (run.IsRunning() && !deadline.hasExpired())
        QTest::qWait(5);
    return !run.IsRunning();
}

} // namespace

class TstTestRun : public QObject {
    Q_OBJECT
private slots:
    void loopCountsAcknowledgedFrames();
    void loopCountsSilenceAsBad();
    void stepsNeverOverlap();
    void xorTestNamesRefusedChecksumsInOrder();
    void xorTestClean();
    void stopReportsPartialXorResult_data();
    void stopReportsPartialXorResult();
    void uncheckingXorTestSwitchesToLoopAndBack();
    void missingSerialDeviceCountsEveryStep();
    void delayTextGivesPeriod_data();
    void delayTextGivesPeriod();
    void foreignOrLateTimerEventsChangeNothing();
};

void TstTestRun::loopCountsAcknowledgedFrames() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, 10);
    CTestRun run(form);
    run.ToggleTestRun();
    QVERIFY(run.IsRunning());
    QCOMPARE(form.events.mid(0, 2), (QStringList{"layout:1", "counters:0/0/0"}));
    QCOMPARE(form.Only("log:").first(), QStringLiteral("Start loop test - Delay 10 ms"));
    QCOMPARE(run.Counters().Send, 1); // the first step runs inside the Start click
    QTRY_VERIFY_WITH_TIMEOUT(run.Counters().Send >= 10, 5000);
    run.ToggleTestRun();
    QVERIFY(!run.IsRunning());
    QCOMPARE(form.events.last(), QStringLiteral("layout:0")); // loop test: nothing reported
    QCOMPARE(run.Counters().Good, run.Counters().Send);
    QCOMPARE(run.Counters().Bad, 0);
    QCOMPARE(form.shown.Send, run.Counters().Send);
    QCOMPARE(form.icon, IconAckOk);
    QCOMPARE(sign.Frames(), run.Counters().Send);
    const QStringList logs = form.Only("log:");
    QCOMPARE(logs.at(1), QStringLiteral("Loop : frame to send <STX>00TEST<CR><ETX>[x1A]"));
    QCOMPARE(logs.at(2), QStringLiteral("UDP vers 127.0.0.1:%1").arg(sign.UdpPort()));
    QCOMPARE(logs.at(3), QStringLiteral("Socket : ACK"));
}

void TstTestRun::loopCountsSilenceAsBad() {
    SimOptions silent;
    silent.reply = Reply::None;
    CDisplaySim sign(silent);
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, 10);
    CTestRun run(form);
    run.ToggleTestRun();
    QTRY_VERIFY_WITH_TIMEOUT(run.Counters().Send >= 2, 5000);
    run.ToggleTestRun();
    QCOMPARE(run.Counters().Bad, run.Counters().Send);
    QCOMPARE(run.Counters().Good, 0);
    QCOMPARE(form.Only("err:").first(), QStringLiteral("Socket : no ACK received"));
    QCOMPARE(form.icon, IconAckFailed);
    QVERIFY(form.Only("box:").isEmpty());
}

void TstTestRun::stepsNeverOverlap() {
    SimOptions slow;
    slow.delayMs = 40; // each step waits longer than the period
    CDisplaySim sign(slow);
    QVERIFY(sign.ListenTcp(0));
    FakeForm form;
    form.linkMode = kLinkTcp;
    form.targetPort = std::to_string(sign.TcpPort());
    form.delay = "10";
    CTestRun run(form);
    QElapsedTimer clock;
    clock.start();
    run.ToggleTestRun();
    QTRY_VERIFY_WITH_TIMEOUT(run.Counters().Send >= 8, 5000);
    run.ToggleTestRun();
    const qint64 elapsed = clock.elapsed();
    // Every frame line is followed by its own answer before the next frame line.
    QString expect = "Loop";
    for (const QString& line : form.Only("log:").mid(1)) {
        if (line.startsWith("Loop")) {
            QCOMPARE(expect, QStringLiteral("Loop"));
            expect = "TCP";
        } else if (line.startsWith("TCP")) {
            QCOMPARE(expect, QStringLiteral("TCP"));
            expect = "Socket";
        } else {
            QCOMPARE(line, QStringLiteral("Socket : ACK"));
            expect = "Loop";
        }
    }
    QCOMPARE(run.Counters().Good, run.Counters().Send);
    // The pace follows the step, not the period: no burst of piled-up ticks.
    QVERIFY(elapsed >= qint64(run.Counters().Send - 1) * slow.delayMs);
}

void TstTestRun::xorTestNamesRefusedChecksumsInOrder() {
    SimOptions refusing;
    refusing.failXor = {0x10, 0x44, 0x7F};
    CDisplaySim sign(refusing);
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, 10);
    form.checks[ctl::XorTest] = true;
    CTestRun run(form);
    run.ToggleTestRun();
    QCOMPARE(form.Only("log:").first(), QStringLiteral("Start XOR test - Delay 10 ms"));
    QVERIFY(WaitStopped(run, 20000));

    // Address 48: the checksum is 0x44 ^ step, so 0x44 goes first (step 0), then 0x7F, 0x10.
    const std::string list = "44\r\n7f\r\n10\r\n";
    QCOMPARE(run.XorFailList(), list);
    QCOMPARE(run.XorTestStep(), 128);
    QCOMPARE(run.Counters().Send, 128);
    QCOMPARE(run.Counters().Bad, 3);
    QCOMPARE(run.Counters().Good, 125);
    QCOMPARE(form.Only("log:").last(), QStringLiteral("XOR test fail : 44\r\n7f\r\n10\r\n"));
    QCOMPARE(form.Only("box:"), QStringList{"XOR test fail : \r\n44\r\n7f\r\n10\r\n"});
    QCOMPARE(form.Only("log:").at(1),
             QStringLiteral("XOR Test : frame to send <STX>00XOR<CR><NUL><CR><ETX>[x44]"));
    QCOMPARE(form.events.mid(form.events.size() - 3, 1), QStringList{"layout:0"});
    QCOMPARE(sign.Frames(), 128);
}

void TstTestRun::xorTestClean() {
    CDisplaySim sign;
    QVERIFY(sign.ListenTcp(0));
    FakeForm form;
    form.linkMode = kLinkTcp;
    form.targetPort = std::to_string(sign.TcpPort());
    form.delay = "10";
    form.checks[ctl::XorTest] = true;
    CTestRun run(form);
    run.ToggleTestRun();
    QVERIFY(WaitStopped(run, 20000));
    QCOMPARE(form.Only("log:").last(), QStringLiteral("XOR test succesfull"));
    QCOMPARE(form.Only("box:"), QStringList{"XOR test succesfull"});
    QCOMPARE(run.Counters().Good, 128);
    // Every checksum value arrived once.
    std::set<int> seen;
    for (const auto& r : sign.Records())
        seen.insert(r.xorByte.value_or(-1));
    QCOMPARE(seen.size(), std::size_t(128));
}

void TstTestRun::stopReportsPartialXorResult_data() {
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QStringList>("report");
    QTest::newRow("all acknowledged")
        << false
        << QStringList{"log:XOR partial test succesfull", "box:XOR partial test succesfull"};
    QTest::newRow("refused: error line") << true
                                         << QStringList{"err:XOR partial test fail : 44\r\n",
                                                        "box:XOR partial test fail : \r\n44\r\n"};
}

void TstTestRun::stopReportsPartialXorResult() {
    QFETCH(bool, refuse);
    QFETCH(QStringList, report);
    SimOptions options;
    if (refuse)
        options.failXor = {0x44};
    CDisplaySim sign(options);
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, kLongDelay);
    form.checks[ctl::XorTest] = true;
    CTestRun run(form);
    run.ToggleTestRun(); // one step: frame 0, checksum 0x44
    form.events.clear();
    run.ToggleTestRun();
    QCOMPARE(form.Visible(), QStringList{"layout:0"} + report);
}

void TstTestRun::uncheckingXorTestSwitchesToLoopAndBack() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, kLongDelay);
    form.checks[ctl::XorTest] = true;
    CTestRun run(form);
    run.ToggleTestRun();
    run.RunTestStep(CTestRun::kRunTimerId);
    QCOMPARE(run.XorTestStep(), 2);
    form.checks[ctl::XorTest] = false;
    run.RunTestStep(CTestRun::kRunTimerId);
    QCOMPARE(run.XorTestStep(), 2);
    form.checks[ctl::XorTest] = true;
    run.RunTestStep(CTestRun::kRunTimerId);
    QCOMPARE(run.XorTestStep(), 3);
    run.ToggleTestRun();

    QStringList frames;
    for (const QString& line : form.Only("log:"))
        if (line.contains("frame to send"))
            frames << line;
    QCOMPARE(frames, (QStringList{"XOR Test : frame to send <STX>00XOR<CR><NUL><CR><ETX>[x44]",
                                  "XOR Test : frame to send <STX>00XOR<CR>\x01<CR><ETX>[x45]",
                                  "Loop : frame to send <STX>00TEST<CR><ETX>[x1A]",
                                  "XOR Test : frame to send <STX>00XOR<CR>20<CR><ETX>[x46]"}));
}

void TstTestRun::missingSerialDeviceCountsEveryStep() {
    QTemporaryDir dir;
    qputenv("KALVOR_COM1", dir.filePath("unplugged").toLocal8Bit());
    FakeForm form;
    form.delay = std::to_string(kLongDelay);
    CTestRun run(form);
    run.ToggleTestRun();
    run.RunTestStep(CTestRun::kRunTimerId);
    run.RunTestStep(CTestRun::kRunTimerId);
    run.ToggleTestRun();
    QCOMPARE(run.Counters().Send, 3);
    QCOMPARE(run.Counters().Bad, 3);
    QCOMPARE(form.Only("log:").size(), 1 + 3); // the start line and the frame lines only
    QVERIFY(form.Only("err:").isEmpty());
    QVERIFY(form.Only("box:").isEmpty());
    QCOMPARE(form.icon, IconAckIdle);
    qunsetenv("KALVOR_COM1");
}

void TstTestRun::delayTextGivesPeriod_data() {
    QTest::addColumn<QString>("delay");
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("startLine");
    QTest::newRow("empty") << "" << 10 << "Start loop test - Delay 0 ms";
    QTest::newRow("letters") << "abc" << 10 << "Start loop test - Delay 0 ms";
    QTest::newRow("digits then letters") << "12abc" << 12 << "Start loop test - Delay 12 ms";
    QTest::newRow("negative") << "-5" << 0x7FFFFFFF << "Start loop test - Delay -5 ms";
    QTest::newRow("overflow") << "99999999999" << 0x7FFFFFFF
                              << "Start loop test - Delay 2147483647 ms";
}

void TstTestRun::delayTextGivesPeriod() {
    QFETCH(QString, delay);
    QFETCH(int, period);
    QFETCH(QString, startLine);
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, 0);
    form.delay = delay.toStdString();
    CTestRun run(form);
    run.ToggleTestRun();
    QCOMPARE(run.TimerPeriodMs(), period);
    QCOMPARE(form.Only("log:").first(), startLine);
    run.ToggleTestRun();
}

void TstTestRun::foreignOrLateTimerEventsChangeNothing() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    FakeForm form;
    AimAt(form, sign, kLongDelay);
    CTestRun run(form);
    run.ToggleTestRun();
    run.RunTestStep(2);
    QCOMPARE(run.Counters().Send, 1);
    run.ToggleTestRun();
    const QStringList before = form.events;
    run.RunTestStep(CTestRun::kRunTimerId);
    QCOMPARE(form.events, before);
    // A second Start zeroes everything again.
    form.checks[ctl::XorTest] = true;
    run.ToggleTestRun();
    QCOMPARE(run.XorTestStep(), 1);
    QCOMPARE(run.Counters().Send, 1);
    run.ToggleTestRun();
}

QTEST_GUILESS_MAIN(TstTestRun)
#include "tst_testrun.moc"
