// Loop tests and XOR tests through the real window, with the display simulator as the sign.
#include "BoxCatcher.h"
#include "DisplaySim.h"
#include "WindowDriver.h"

using namespace kalvor;
using kalvor::sim::CDisplaySim;
using kalvor::sim::Reply;
using kalvor::sim::SimOptions;

namespace {

// A window aimed at a simulator on UDP loopback, with the given Delay.
void AimAtUdp(WindowDriver& ui, const CDisplaySim& sign, const QString& delay) {
    ui.AimAt(kLinkUdp, sign.UdpPort());
    ui.SetText(ctl::Delay, delay);
}

bool Visible(const WindowDriver& ui, int id) {
    return ui.Ctl(id)->isVisible();
}

} // namespace

class TstWindowRun : public QObject {
    Q_OBJECT
private slots:
    void loopTestShowsCountersAndRestoresLayout();
    void enterDoesNotSendDuringRun();
    void xorTestFailsOnRefusedChecksums();
    void stopWithXorTestReportsPartialFailure();
    void serialDeviceMissingCountsEveryStep();
};

void TstWindowRun::loopTestShowsCountersAndRestoresLayout() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    dlg.show();
    WindowDriver ui(dlg);
    AimAtUdp(ui, sign, QStringLiteral("10"));
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());

    ui.Click(ctl::StartStop);
    QVERIFY(dlg.TestRun().IsRunning());
    for (const int id : {ctl::Send, ctl::AckPicture, ctl::SendLabel, ctl::AckLabel})
        QVERIFY(!Visible(ui, id));
    for (const int id : {ctl::SendCountLabel, ctl::GoodCountLabel, ctl::BadCountLabel,
                         ctl::SendCount, ctl::GoodCount, ctl::BadCount})
        QVERIFY(Visible(ui, id));
    QCOMPARE(ui.Label(ctl::SendCount), QStringLiteral("1")); // first step inside the click
    QTRY_VERIFY_WITH_TIMEOUT(ui.Label(ctl::SendCount).toInt() >= 5, 5000);

    ui.Click(ctl::StartStop);
    QVERIFY(!dlg.TestRun().IsRunning());
    QVERIFY(Visible(ui, ctl::Send) && Visible(ui, ctl::AckPicture));
    QVERIFY(!Visible(ui, ctl::SendCount));
    QCOMPARE(ui.Label(ctl::GoodCount), ui.Label(ctl::SendCount));
    QCOMPARE(ui.Label(ctl::BadCount), QStringLiteral("0"));
    QCOMPARE(ui.IconId(), 138);
    QCOMPARE(catcher.Count(), 0);
    const QStringList entries = ui.EntriesAfter(logged);
    QCOMPARE(entries.at(0), QStringLiteral("Start loop test - Delay 10 ms"));
    QCOMPARE(entries.at(1), QStringLiteral("Loop : frame to send <STX>00TEST<CR><ETX>[x1A]"));
    QCOMPARE(entries.at(2), QStringLiteral("UDP vers 127.0.0.1:%1").arg(sign.UdpPort()));
    QCOMPARE(entries.at(3), QStringLiteral("Socket : ACK"));
}

void TstWindowRun::enterDoesNotSendDuringRun() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    WindowDriver ui(dlg);
    AimAtUdp(ui, sign, QStringLiteral("3600000"));
    BoxCatcher catcher;
    ui.Click(ctl::StartStop);
    const int frames = sign.Frames();
    const int logged = int(ui.Entries().size());
    ui.Ctl(ctl::Delay)->setFocus();
    QTest::keyClick(ui.Ctl(ctl::Delay), Qt::Key_Return);
    dlg.OnSendButton(); // even a direct call is refused while a run is active
    QCOMPARE(int(ui.Entries().size()), logged);
    QCOMPARE(sign.Frames(), frames);
    QVERIFY(dlg.isVisible());
    ui.Click(ctl::StartStop);
}

void TstWindowRun::xorTestFailsOnRefusedChecksums() {
    SimOptions refusing;
    refusing.failXor = {0x10, 0x44, 0x7F};
    CDisplaySim sign(refusing);
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    AimAtUdp(ui, sign, QStringLiteral("10"));
    ui.SetChecked(ctl::XorTest, true);
    BoxCatcher catcher;
    ui.Click(ctl::StartStop);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.TestRun().IsRunning(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.Count(), 1, 2000);

    QCOMPARE(catcher.Texts(),
             QStringList{WindowDriver::Shown("XOR test fail : \r\n44\r\n7f\r\n10\r\n")});
    QCOMPARE(ui.Entries().last(), QStringLiteral("XOR test fail : 44\r\n7f\r\n10\r\n"));
    QCOMPARE(ui.Label(ctl::SendCount), QStringLiteral("128"));
    QCOMPARE(ui.Label(ctl::BadCount), QStringLiteral("3"));
    QVERIFY(Visible(ui, ctl::Send) || !dlg.isVisible());
    QVERIFY(!ui.Ctl(ctl::SendCount)->isVisibleTo(&dlg));
}

void TstWindowRun::stopWithXorTestReportsPartialFailure() {
    SimOptions refusing;
    refusing.failXor = {0x44};
    CDisplaySim sign(refusing);
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    AimAtUdp(ui, sign, QStringLiteral("3600000"));
    ui.SetChecked(ctl::XorTest, true);
    BoxCatcher catcher;
    ui.Click(ctl::StartStop); // frame 0 (checksum 0x44) goes unanswered
    ui.Click(ctl::StartStop);
    QCOMPARE(ui.Entries().last(), QStringLiteral("!Error : XOR partial test fail : 44\r\n"));
    QCOMPARE(catcher.Texts(),
             QStringList{WindowDriver::Shown("XOR partial test fail : \r\n44\r\n")});
    QCOMPARE(ui.IconId(), 137);
}

void TstWindowRun::serialDeviceMissingCountsEveryStep() {
    QTemporaryDir dir;
    qputenv("KALVOR_COM1", dir.filePath("unplugged").toLocal8Bit());
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.SetText(ctl::Delay, QStringLiteral("10"));
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());
    ui.Click(ctl::StartStop);
    QTRY_VERIFY_WITH_TIMEOUT(ui.Label(ctl::SendCount).toInt() >= 3, 5000);
    ui.Click(ctl::StartStop);
    QCOMPARE(ui.Label(ctl::BadCount), ui.Label(ctl::SendCount));
    const QStringList entries = ui.EntriesAfter(logged);
    QCOMPARE(entries.first(), QStringLiteral("Start loop test - Delay 10 ms"));
    for (const QString& entry : entries.mid(1))
        QCOMPARE(entry, QStringLiteral("Loop : frame to send <STX>00TEST<CR><ETX>[x1A]"));
    QCOMPARE(catcher.Count(), 0);
    qunsetenv("KALVOR_COM1");
}

QTEST_MAIN(TstWindowRun)
#include "tst_window_run.moc"
