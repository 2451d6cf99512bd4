// What an operator can type or paste into the window, and what reaches the sign.
#include "BoxCatcher.h"
#include "DisplaySim.h"
#include "WindowDriver.h"

#include <QClipboard>
#include <QGuiApplication>

using namespace kalvor;
using kalvor::sim::CDisplaySim;

class TstWindowBadInput : public QObject {
    Q_OBJECT
private slots:
    void messageReachesTheSign_data();
    void messageReachesTheSign();
    void pastedTextIsCutAt120();
    void delayOutOfRangeStillRuns();
};

void TstWindowBadInput::messageReachesTheSign_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown"); // what the sign decodes
    QTest::newRow("emoji and CJK become '?'")
        << QString::fromUtf8("a\xF0\x9F\x98\x80\xE4\xB8\xAD b") << QStringLiteral("a?? b");
    QTest::newRow("'|' and control characters")
        << QStringLiteral("x|y\tz\u0001") << QStringLiteral("x|y\tz\u0001");
    QTest::newRow("Windows-1252 letters")
        << QStringLiteral("\u00E9\u00FC\u0153\u2122") << QStringLiteral("\u00E9\u00FC\u0153\u2122");
}

void TstWindowBadInput::messageReachesTheSign() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    CDisplaySim sign;
    QVERIFY(sign.ListenTcp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.AimAt(kLinkTcp, sign.TcpPort());
    ui.SetText(ctl::Message, typed);
    BoxCatcher catcher;
    ui.Click(ctl::Send);
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    const auto record = sign.Records().first();
    QVERIFY(record.valid);
    QCOMPARE(record.text, shown);
    QCOMPARE(ui.IconId(), 138);
    QCOMPARE(catcher.Count(), 0);
}

void TstWindowBadInput::pastedTextIsCutAt120() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    WindowDriver ui(dlg);
    ui.AimAt(kLinkUdp, sign.UdpPort());
    auto* message = ui.Ctl<QLineEdit>(ctl::Message);
    message->clear();
    // 150 characters that all escape to two bytes each.
    QGuiApplication::clipboard()->setText(QString(150, QChar(0x00E9)));
    message->setFocus();
    message->paste();
    QCOMPARE(message->text().size(), 120);
    BoxCatcher catcher;
    ui.Click(ctl::Send);
    QTRY_COMPARE_WITH_TIMEOUT(sign.Frames(), 1, 2000);
    const auto record = sign.Records().first();
    QCOMPARE(record.raw.size(), qsizetype(246)); // the longest frame there is
    QVERIFY(record.valid);
    QCOMPARE(record.text, QString(120, QChar(0x00E9)));
    QCOMPARE(catcher.Count(), 0);
}

void TstWindowBadInput::delayOutOfRangeStillRuns() {
    CDisplaySim sign;
    QVERIFY(sign.ListenUdp(0));
    CKalvorDlg dlg;
    WindowDriver ui(dlg);
    ui.AimAt(kLinkUdp, sign.UdpPort());
    ui.SetText(ctl::Delay, QStringLiteral("99999999999"));
    BoxCatcher catcher;
    const int logged = int(ui.Entries().size());
    ui.Click(ctl::StartStop);
    QCOMPARE(dlg.TestRun().TimerPeriodMs(), 0x7FFFFFFF);
    ui.Click(ctl::StartStop);
    const QStringList entries = ui.EntriesAfter(logged);
    QCOMPARE(entries.first(), QStringLiteral("Start loop test - Delay 2147483647 ms"));
    QCOMPARE(entries.last(), QStringLiteral("Socket : ACK"));
    QCOMPARE(sign.Frames(), 1);
}

QTEST_MAIN(TstWindowBadInput)
#include "tst_window_badinput.moc"
