// The controls Qt lacks: the IP address control and the up-down control with its buddy edit.
#include "IpAddressCtrl.h"
#include "SpinButtonCtrl.h"

#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

using namespace kalvor;

class TstFormControls : public QObject {
    Q_OBJECT
private slots:
    void ipSetAddress_data();
    void ipSetAddress();
    void ipBlankFieldReadsZero();
    void ipTyping_data();
    void ipTyping();
    void ipAddressProperty();
    void spinSteps_data();
    void spinSteps();
    void spinArrowKeysInBuddy();
    void spinStartsFromBuddyText();
    void spinValueProperty();
};

void TstFormControls::ipSetAddress_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("address");
    QTest::newRow("default") << "192.168.1.5" << true << "192.168.1.5";
    QTest::newRow("zeros") << "0.0.0.0" << true << "0.0.0.0";
    QTest::newRow("top") << "255.255.255.255" << true << "255.255.255.255";
    QTest::newRow("leading zeros") << "010.001.000.7" << true << "10.1.0.7";
    QTest::newRow("field above 255") << "1.2.3.256" << false << "127.0.0.1";
    QTest::newRow("three fields") << "1.2.3" << false << "127.0.0.1";
    QTest::newRow("five fields") << "1.2.3.4.5" << false << "127.0.0.1";
    QTest::newRow("empty field") << "1..3.4" << false << "127.0.0.1";
    QTest::newRow("negative") << "1.-2.3.4" << false << "127.0.0.1";
    QTest::newRow("letters") << "a.b.c.d" << false << "127.0.0.1";
    QTest::newRow("four digits") << "1.2.3.0004" << false << "127.0.0.1";
}

void TstFormControls::ipSetAddress() {
    QFETCH(QString, input);
    QFETCH(bool, accepted);
    QFETCH(QString, address);
    CIpAddressCtrl ip;
    QVERIFY(ip.setAddress(QStringLiteral("127.0.0.1")));
    QCOMPARE(ip.setAddress(input), accepted);
    QCOMPARE(ip.address(), address);
    QCOMPARE(QString::fromStdString(IpAddressText(ip)), address);
}

void TstFormControls::ipBlankFieldReadsZero() {
    CIpAddressCtrl ip;
    QCOMPARE(ip.address(), QStringLiteral("0.0.0.0"));
    ip.setAddress(QStringLiteral("10.20.30.40"));
    ip.fieldEdit(2)->clear();
    QCOMPARE(ip.address(), QStringLiteral("10.20.0.40"));
    QCOMPARE(IpAddressText(ip), std::string("10.20.0.40"));
}

void TstFormControls::ipTyping_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("address");
    QTest::newRow("dots move on") << "192.168.1.5"
                                  << "192.168.1.5";
    QTest::newRow("third digit moves on") << "10020003040"
                                          << "100.200.30.40";
    QTest::newRow("above 255 is 255") << "300.1.1.1"
                                      << "255.1.1.1";
    QTest::newRow("letters refused") << "1x.2.3.4"
                                     << "1.2.3.4";
    QTest::newRow("fourth field keeps three digits") << "1.2.3.1234"
                                                     << "1.2.3.123";
}

void TstFormControls::ipTyping() {
    QFETCH(QString, keys);
    QFETCH(QString, address);
    CIpAddressCtrl ip;
    ip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ip));
    ip.fieldEdit(0)->setFocus();
    for (QChar ch : keys) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &ip;
        QTest::keyClicks(target, QString(ch));
    }
    QCOMPARE(ip.address(), address);
}

void TstFormControls::ipAddressProperty() {
    CIpAddressCtrl ip;
    QSignalSpy changed(&ip, &CIpAddressCtrl::addressChanged);
    QVERIFY(ip.setProperty("address", QStringLiteral("1.2.3.4")));
    QCOMPARE(ip.property("address").toString(), QStringLiteral("1.2.3.4"));
    QCOMPARE(changed.size(), 1);
}

void TstFormControls::spinSteps_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("expected");
    QTest::newRow("up one") << 48 << 1 << 49;
    QTest::newRow("down at the bottom stays") << 48 << -1 << 48;
    QTest::newRow("up at the top stays") << 127 << 1 << 127;
    QTest::newRow("no wrap past the top") << 120 << 20 << 127;
    QTest::newRow("no wrap past the bottom") << 50 << -20 << 48;
    QTest::newRow("down from the top") << 127 << -1 << 126;
}

void TstFormControls::spinSteps() {
    QFETCH(int, start);
    QFETCH(int, steps);
    QFETCH(int, expected);
    QLineEdit buddy;
    CSpinButtonCtrl spin;
    spin.SetRange(48, 127);
    spin.SetBuddy(&buddy);
    spin.setValue(start);
    QToolButton* button = steps > 0 ? spin.UpButton() : spin.DownButton();
    for (int i = 0; i < std::abs(steps); ++i)
        button->click();
    QCOMPARE(spin.value(), expected);
    QCOMPARE(buddy.text(), QString::number(expected));
}

void TstFormControls::spinArrowKeysInBuddy() {
    QLineEdit buddy;
    buddy.setReadOnly(true);
    CSpinButtonCtrl spin;
    spin.SetRange(48, 127);
    spin.SetBuddy(&buddy);
    spin.setValue(48);
    QTest::keyClick(&buddy, Qt::Key_Up);
    QTest::keyClick(&buddy, Qt::Key_Up);
    QCOMPARE(buddy.text(), QStringLiteral("50"));
    QTest::keyClick(&buddy, Qt::Key_Down);
    QCOMPARE(buddy.text(), QStringLiteral("49"));
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(&buddy, Qt::Key_Down);
    QCOMPARE(buddy.text(), QStringLiteral("48"));
    // The read-only buddy takes no typing.
    QTest::keyClicks(&buddy, QStringLiteral("9"));
    QCOMPARE(buddy.text(), QStringLiteral("48"));
}

void TstFormControls::spinStartsFromBuddyText() {
    QLineEdit buddy;
    CSpinButtonCtrl spin;
    spin.SetRange(48, 127);
    spin.SetBuddy(&buddy);
    spin.setValue(60);
    buddy.setText(QStringLiteral("100")); // written by the program, e.g. the data exchange
    spin.UpButton()->click();
    QCOMPARE(buddy.text(), QStringLiteral("101"));
    buddy.setText(QStringLiteral("500")); // out of range: taken as the top
    spin.UpButton()->click();
    QCOMPARE(buddy.text(), QStringLiteral("127"));
}

void TstFormControls::spinValueProperty() {
    QLineEdit buddy;
    CSpinButtonCtrl spin;
    spin.SetRange(48, 127);
    spin.SetBuddy(&buddy);
    QSignalSpy changed(&spin, &CSpinButtonCtrl::valueChanged);
    QVERIFY(spin.setProperty("value", 77));
    QCOMPARE(spin.property("value").toInt(), 77);
    QCOMPARE(buddy.text(), QStringLiteral("77"));
    QVERIFY(spin.setProperty("value", 1000));
    QCOMPARE(spin.property("value").toInt(), 127);
    QCOMPARE(changed.size(), 2);
}

QTEST_MAIN(TstFormControls)
#include "tst_formcontrols.moc"
