// Faults of the sign during a loop test, over UDP, TCP and the serial port (a pty): after each
// one the run goes on, every step ends within its time-out, Send = Good + Bad after every
// step, and the run gets its ACKs again once the sign is well.
#include "FaultBench.h"
#include "PortCom.h"
#include "TestRun.h"

#include <QtTest>

using namespace kalvor;
using namespace reliability;

namespace {

// A step waits at most about one second (the answer's time-out); the bound only catches hangs.
constexpr qint64 kStepBoundMs = 2500;
constexpr int kDelayMs = 10;
constexpr int kHealthySteps = 2;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(5);
    return done();
}

} // namespace

Q_DECLARE_METATYPE(reliability::Link)
Q_DECLARE_METATYPE(reliability::Fault)

class TstFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void faultDuringLoopTest_data();
    void faultDuringLoopTest();

private:
    QTemporaryDir m_dir;
};

void TstFaults::initTestCase() {
    QVERIFY(m_dir.isValid());
}

void TstFaults::faultDuringLoopTest_data() {
    QTest::addColumn<Link>("link");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("faultySteps"); // steps run while the fault lasts
    for (const Link link : {Link::Udp, Link::Tcp, Link::Pty}) {
        for (const Fault fault : {Fault::Silent, Fault::Nak, Fault::Garbage, Fault::Oversize,
                                  Fault::TcpClose, Fault::Restart, Fault::Unplug}) {
            if (!FaultFits(fault, link))
                continue;
            const int steps = fault == Fault::Silent ? 1 : 3;
            QTest::addRow("%s %s", LinkName(link), FaultName(fault)) << link << fault << steps;
        }
    }
}

void TstFaults::faultDuringLoopTest() {
    QFETCH(Link, link);
    QFETCH(Fault, fault);
    QFETCH(int, faultySteps);

    CFaultBench bench(
        m_dir.filePath(QStringLiteral("com1-%1").arg(QTest::currentDataTag()).replace(u' ', u'-')));
    QVERIFY2(bench.Up(), qPrintable(bench.Error()));
    WatchedForm form;
    bench.Aim(form, link);
    form.delay = std::to_string(kDelayMs);
    CTestRun run(form);

    run.ToggleTestRun();
    QVERIFY(WaitUntil([&] { return run.Counters().Good >= kHealthySteps; }, 5000));

    // The fault, during some steps.
    const TransferCounters before = run.Counters();
    const int openCallsBefore = form.openCalls;
    bench.Inject(fault);
    if (fault == Fault::Unplug) {
        // The port notices that its device went away and closes itself.
        QVERIFY(WaitUntil([&] { return !form.port.IsOpen(); }, 3000));
    }
    QVERIFY(WaitUntil([&] { return run.Counters().Send >= before.Send + faultySteps; },
                      faultySteps * 3000));
    const TransferCounters during = run.Counters();
    QVERIFY(run.IsRunning());
    if (fault == Fault::Restart)
        QVERIFY(!bench.NetUp()); // it died while answering
    if (fault == Fault::Unplug) {
        QVERIFY(form.openCalls > openCallsBefore); // each step tried the port again
        QVERIFY(!form.port.IsOpen());
    }
    // None of the faulty steps was taken for acknowledged.
    QCOMPARE(during.Good, before.Good);
    QCOMPARE(during.Bad, before.Bad + (during.Send - before.Send));

    // The sign is well again: the ACKs come back.
    QVERIFY2(bench.Heal(), qPrintable(bench.Error()));
    if (fault == Fault::Restart) {
        QCOMPARE(bench.UdpPort(),
                 quint16(form.linkMode == kLinkUdp ? std::stoi(form.targetPort) : bench.UdpPort()));
        QCOMPARE(bench.Restarts(), 1);
    }
    QVERIFY2(WaitUntil([&] { return run.Counters().Good >= during.Good + kHealthySteps; }, 15000),
             qPrintable(QStringLiteral("counters %1/%2/%3")
                            .arg(run.Counters().Send)
                            .arg(run.Counters().Good)
                            .arg(run.Counters().Bad)));
    if (link == Link::Pty)
        QVERIFY(form.port.IsOpen());
    run.ToggleTestRun();
    QVERIFY(!run.IsRunning());

    const TransferCounters end = run.Counters();
    QVERIFY2(form.imbalances == 0, qPrintable(form.firstImbalance));
    QCOMPARE(end.Send, end.Good + end.Bad);
    QCOMPARE(form.steps, end.Send);
    QVERIFY2(form.maxStepMs < kStepBoundMs, qPrintable(QString::number(form.maxStepMs)));
    QVERIFY2(form.maxGapMs < kStepBoundMs + kDelayMs, qPrintable(QString::number(form.maxGapMs)));
    QVERIFY(form.Only("box:").isEmpty()); // a loop test shows no box
}

QTEST_GUILESS_MAIN(TstFaults)
#include "tst_faults.moc"
