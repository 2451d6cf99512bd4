// The operator window: its defaults as it opens, its layout and lists, the data exchange with
// its checks, the control groups, the About box and the ways it ends.
#include "AboutDlg.h"
#include "ActivityLog.h"
#include "BoxCatcher.h"
#include "DialogBuilder.h"
#include "DialogTemplate.h"
#include "IpAddressCtrl.h"
#include "KalvorDlg.h"
#include "Resources.h"
#include "SpinButtonCtrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QToolButton>
#include <QtTest>

#include <set>

using namespace kalvor;

namespace {

template <typename T = QWidget> T* Ctl(const QWidget& dlg, int id) {
    T* widget = dlg.findChild<T*>(QStringLiteral("ctl%1").arg(id));
    if (!widget)
        qFatal("no control ctl%d", id);
    return widget;
}

bool Shown(const QWidget& dlg, int id) {
    return !Ctl(dlg, id)->isHidden();
}

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QStringList LogLines(const CKalvorDlg& dlg) {
    QStringList lines;
    for (QTextBlock b = dlg.Log()->document()->firstBlock(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

const int kSerialGroup[] = {1005, 1017, 1009, 1020};
const int kIpGroup[] = {1021, 1022, 1025, 1027};
const int kSingleSendGroup[] = {4, 1010, 1006, 1011};
const int kCounterGroup[] = {1012, 1013, 1014, 1015, 1018, 1019};

} // namespace

class TstKalvorDlg : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void windowIdentity();
    void everyControlHasItsName();
    void layoutFollowsTheTable();
    void tabOrderIsTemplateOrder();
    void comboLists();
    void defaultsAfterStartUp();
    void firstLogLineIsTheVersion();
    void noBoxAtStartUp();
    void buttonImagesAndAckIcon();
    void ackIconStates_data();
    void ackIconStates();
    void modeSwitchesGroups_data();
    void modeSwitchesGroups();
    void runLayoutSwitchesGroups();
    void transferCounters();
    void attributeFromSelection_data();
    void attributeFromSelection();
    void attributeNotReadAgainByCode();
    void addressOnlyThroughTheSpin();
    void messageRefusesCharacter121();
    void validationMessages_data();
    void validationMessages();
    void validationStopsAtFirstFailure();
    void entryWhileACheckMessageIsUp();
    void loadDoesNotDisturbTyping();
    void formReadings();
    void comPortToolTip();
    void enterSendsUnlessRunLayout();
    void quitValidatesEscapeEndsAtOnce_data();
    void quitValidatesEscapeEndsAtOnce();
    void aboutThroughSysCommand_data();
    void aboutThroughSysCommand();
    void aboutOnTheHelpKey();
    void aboutOnTheContextMenu();
    void aboutBoxContents();
    void iconsDrawAtAnySize();
    void messageBoxGoesThroughTheWindow();
};

void TstKalvorDlg::initTestCase() {
    // COM1 points at nothing, so start-up and sends meet a port that cannot be opened.
    qputenv("KALVOR_COM1", "/nonexistent/kalvor-test-com1");
}

void TstKalvorDlg::windowIdentity() {
    CKalvorDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Kalvor - Version 6"));
    QVERIFY(!dlg.windowIcon().isNull());
    QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize()); // fixed size
    QVERIFY(!dlg.OnQueryDragIcon().isNull());
}

void TstKalvorDlg::everyControlHasItsName() {
    CKalvorDlg dlg;
    std::set<int> ids;
    for (const res::ControlTemplate& c : res::kOperatorControls)
        if (c.id != res::kNoId) {
            QVERIFY2(ids.insert(c.id).second, "ids are unique");
            QVERIFY2(dlg.findChild<QWidget*>(QStringLiteral("ctl%1").arg(c.id)),
                     qPrintable(QString::number(c.id)));
        }
    QCOMPARE(ids.size(), std::size_t(32)); // 1, 4, 5 and the 29 ids from 1000 to 1034
    QVERIFY(qobject_cast<QPushButton*>(Ctl(dlg, 1)));
    QVERIFY(qobject_cast<QPushButton*>(Ctl(dlg, 4)));
    QVERIFY(qobject_cast<QPushButton*>(Ctl(dlg, 5)));
    QVERIFY(qobject_cast<CIpAddressCtrl*>(Ctl(dlg, 1021)));
    QVERIFY(qobject_cast<CSpinButtonCtrl*>(Ctl(dlg, 1001)));
    QVERIFY(qobject_cast<CActivityLog*>(Ctl(dlg, 1034)));
    QVERIFY(Ctl<QPushButton>(dlg, 4)->isDefault());
}

void TstKalvorDlg::layoutFollowsTheTable() {
    CKalvorDlg dlg;
    // Proportions: positions and sizes scale by one factor per axis.
    const double sx = dlg.width() / 519.0;
    const double sy = dlg.height() / 250.0;
    QVERIFY(sx > 1.0 && sy > 1.0);
    for (const res::ControlTemplate& c : res::kOperatorControls) {
        if (c.id == res::kNoId)
            continue;
        const QRect g = Ctl(dlg, c.id)->geometry();
        QVERIFY2(std::abs(g.x() - c.x * sx) <= 1.0 && std::abs(g.y() - c.y * sy) <= 1.0,
                 qPrintable(QString::number(c.id)));
        QVERIFY2(std::abs(g.width() - c.cx * sx) <= 2.0, qPrintable(QString::number(c.id)));
        if (c.kind != res::Kind::DropList) // a closed list keeps its own height
            QVERIFY2(std::abs(g.height() - c.cy * sy) <= 2.0, qPrintable(QString::number(c.id)));
        QVERIFY2(dlg.rect().contains(g), qPrintable(QString::number(c.id)));
    }
    // Texts of the labels, exactly.
    QCOMPARE(Ctl<QLabel>(dlg, 1017)->text(), QStringLiteral("COM Port :"));
    QCOMPARE(Ctl<QLabel>(dlg, 1020)->text(), QStringLiteral("Speed (Bds) :"));
    QCOMPARE(Ctl<QLabel>(dlg, 1022)->text(), QStringLiteral("IP address :"));
    QCOMPARE(Ctl<QLabel>(dlg, 1027)->text(), QStringLiteral("Target Port :"));
    QCOMPARE(Ctl<QLabel>(dlg, 1011)->text(), QStringLiteral("Acknowledge"));
    QCOMPARE(Ctl<QCheckBox>(dlg, 1008)->text(), QStringLiteral("Wait an ACK"));
    QCOMPARE(Ctl<QCheckBox>(dlg, 1026)->text(), QStringLiteral("XOR TEST"));
    QStringList labels;
    for (QLabel* label : dlg.findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        labels << label->text();
    for (const char* text : {"Address (Decimal)", "Attribute (ASCII)",
                             "Message or parameter frame (ASCII - 120 char max)", "Quit",
                             "Start / Stop", "Delay (ms) :", "Send :", "Good :", "Bad :"})
        QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
}

void TstKalvorDlg::tabOrderIsTemplateOrder() {
    CKalvorDlg dlg;
    QList<QWidget*> expected;
    for (const res::ControlTemplate& c : res::kOperatorControls) {
        using res::Kind;
        if (c.kind == Kind::Label || c.kind == Kind::GroupBox || c.kind == Kind::Picture ||
            c.kind == Kind::Spin)
            continue;
        QWidget* w = Ctl(dlg, c.id);
        expected << (w->focusProxy() ? w->focusProxy() : w);
    }
    QList<QWidget*> chain;
    QWidget* w = expected.first();
    for (int i = 0; i < 200 && chain.size() < expected.size(); ++i, w = w->nextInFocusChain())
        if (expected.contains(w) && !chain.contains(w))
            chain << w;
    QCOMPARE(chain, expected);
}

void TstKalvorDlg::comboLists() {
    CKalvorDlg dlg;
    QStringList attribute;
    for (char ch = '0'; ch <= '9'; ++ch)
        attribute << QString(QLatin1Char(ch));
    for (char ch = 'A'; ch <= 'Z'; ++ch) {
        attribute << QString(QLatin1Char(ch));
        if (ch == 'N')
            attribute << QStringLiteral("N");
    }
    for (char ch = 'a'; ch <= 'z'; ++ch)
        attribute << QString(QLatin1Char(ch));
    QCOMPARE(attribute.size(), 63);
    QCOMPARE(Items(Ctl<QComboBox>(dlg, 1004)), attribute);
    QStringList com;
    for (int i = 1; i <= 20; ++i)
        com << QStringLiteral("COM%1").arg(i);
    QCOMPARE(Items(Ctl<QComboBox>(dlg, 1005)), com);
    QCOMPARE(Items(Ctl<QComboBox>(dlg, 1009)),
             (QStringList{"   300", " 1200", " 2400", " 4800", " 9600", "19200"}));
    QCOMPARE(Items(Ctl<QComboBox>(dlg, 1023)), (QStringList{"SERIAL", "UDP", "TCP"}));
    for (int id : {1004, 1005, 1009, 1023})
        QVERIFY(!Ctl<QComboBox>(dlg, id)->isEditable());
}

void TstKalvorDlg::defaultsAfterStartUp() {
    CKalvorDlg dlg;
    // 2, 3: bound values in their edits; the message edit takes 120 characters.
    QCOMPARE(dlg.AddressValue(), 48);
    QCOMPARE(Ctl<QLineEdit>(dlg, 1000)->text(), QStringLiteral("48"));
    QVERIFY(Ctl<QLineEdit>(dlg, 1000)->isReadOnly());
    QCOMPARE(dlg.MessageText(), std::string("TEST"));
    QCOMPARE(Ctl<QLineEdit>(dlg, 1003)->text(), QStringLiteral("TEST"));
    QCOMPARE(Ctl<QLineEdit>(dlg, 1003)->maxLength(), 120);
    // 7: selections; the attribute character matches the selection.
    QCOMPARE(Ctl<QComboBox>(dlg, 1005)->currentIndex(), 0);
    QCOMPARE(Ctl<QComboBox>(dlg, 1004)->currentIndex(), 0);
    QCOMPARE(Ctl<QComboBox>(dlg, 1009)->currentIndex(), 1);
    QCOMPARE(Ctl<QComboBox>(dlg, 1009)->currentText(), QStringLiteral(" 1200"));
    QCOMPARE(Ctl<QComboBox>(dlg, 1023)->currentIndex(), 0);
    QCOMPARE(dlg.AttributeChar(), std::string("0"));
    // 8: SERIAL: serial group shown, IP group hidden.
    QCOMPARE(dlg.LinkMode(), kLinkSerial);
    for (int id : kSerialGroup)
        QVERIFY2(Shown(dlg, id), qPrintable(QString::number(id)));
    for (int id : kIpGroup)
        QVERIFY2(!Shown(dlg, id), qPrintable(QString::number(id)));
    // 9: IP address.
    QCOMPARE(Ctl(dlg, 1021)->property("address").toString(), QStringLiteral("192.168.1.5"));
    QCOMPARE(dlg.IpAddressText(), std::string("192.168.1.5"));
    // 10: options.
    QVERIFY(Ctl<QCheckBox>(dlg, 1008)->isChecked());
    QVERIFY(Ctl<QCheckBox>(dlg, 1033)->isChecked());
    QVERIFY(Ctl<QCheckBox>(dlg, 1032)->isChecked());
    QVERIFY(!Ctl<QCheckBox>(dlg, 1026)->isChecked());
    // 11: the port was tried with these settings: COM1, 1200 Bd, parity.
    const SerialSettings settings = dlg.CurrentSerialSettings();
    QCOMPARE(settings.portIndex, 0);
    QCOMPARE(settings.speedIndex, 1);
    QVERIFY(settings.useParity);
    QVERIFY(!dlg.PortCom().IsOpen()); // COM1 points at nothing here
    // 12: spin range and buddy.
    auto* spin = Ctl<CSpinButtonCtrl>(dlg, 1001);
    QCOMPARE(spin->Lower(), 48);
    QCOMPARE(spin->Upper(), 127);
    QCOMPARE(spin->Buddy(), Ctl<QLineEdit>(dlg, 1000));
    QCOMPARE(spin->property("value").toInt(), 48);
    // 13, 14: idle: single-send group shown, counter group hidden.
    QVERIFY(!dlg.TestRun().IsRunning());
    for (int id : kSingleSendGroup)
        QVERIFY2(Shown(dlg, id), qPrintable(QString::number(id)));
    for (int id : kCounterGroup)
        QVERIFY2(!Shown(dlg, id), qPrintable(QString::number(id)));
    for (int id : {1015, 1018, 1019})
        QCOMPARE(Ctl<QLabel>(dlg, id)->text(), QStringLiteral("0"));
    // 15: Delay and Target Port.
    QCOMPARE(Ctl<QLineEdit>(dlg, 1016)->text(), QStringLiteral("500"));
    QCOMPARE(Ctl<QLineEdit>(dlg, 1025)->text(), QStringLiteral("13"));
    // 17: focus on the Address edit.
    QCOMPARE(dlg.focusWidget(), Ctl(dlg, 1000));
}

void TstKalvorDlg::firstLogLineIsTheVersion() {
    CKalvorDlg dlg;
    const QStringList lines = LogLines(dlg);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(
        QRegularExpression(
            QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} - Kalvor - Version 6\\.4$"))
            .match(lines.first())
            .hasMatch(),
        qPrintable(lines.first()));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Kalvor - Version 6"));
}

void TstKalvorDlg::noBoxAtStartUp() {
    BoxCatcher boxes;
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::qWait(30);
    QCOMPARE(boxes.Count(), 0);
}

void TstKalvorDlg::buttonImagesAndAckIcon() {
    CKalvorDlg dlg;
    QCOMPARE(Ctl(dlg, 4)->property("iconId").toInt(), 135);
    QCOMPARE(Ctl(dlg, 5)->property("iconId").toInt(), 140);
    QCOMPARE(Ctl(dlg, 1)->property("iconId").toInt(), 130);
    for (int id : {1, 4, 5})
        QVERIFY(!Ctl<QPushButton>(dlg, id)->icon().isNull());
    QCOMPARE(Ctl(dlg, 1006)->property("iconId").toInt(), 136);
    QVERIFY(!Ctl<QLabel>(dlg, 1006)->pixmap().isNull());
}

void TstKalvorDlg::ackIconStates_data() {
    QTest::addColumn<int>("state");
    QTest::newRow("ok") << int(AckIcon::Ok);
    QTest::newRow("failed") << int(AckIcon::Failed);
    QTest::newRow("idle") << int(AckIcon::Idle);
}

void TstKalvorDlg::ackIconStates() {
    QFETCH(int, state);
    CKalvorDlg dlg;
    auto* picture = Ctl<QLabel>(dlg, 1006);
    const QImage idle = picture->pixmap().toImage();
    dlg.SetAckIcon(AckIcon(state));
    QCOMPARE(picture->property("iconId").toInt(), state);
    QVERIFY(!picture->pixmap().isNull());
    QCOMPARE(picture->pixmap().toImage() == idle, state == int(AckIcon::Idle));
    dlg.AppendLogLine("x"); // nothing resets it
    QCOMPARE(picture->property("iconId").toInt(), state);
}

void TstKalvorDlg::modeSwitchesGroups_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("serial");
    QTest::newRow("UDP") << 1 << false;
    QTest::newRow("TCP") << 2 << false;
    QTest::newRow("SERIAL") << 0 << true;
    QTest::newRow("no selection") << -1 << false;
}

void TstKalvorDlg::modeSwitchesGroups() {
    QFETCH(int, mode);
    QFETCH(bool, serial);
    CKalvorDlg dlg;
    auto* combo = Ctl<QComboBox>(dlg, 1023);
    if (mode != 0) {
        combo->setCurrentIndex(mode);
        dlg.OnModeChange();
        QCOMPARE(dlg.LinkMode(), mode);
    } else { // TCP first, then back to SERIAL by the keyboard, as an operator does
        combo->setCurrentIndex(2);
        dlg.OnModeChange();
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        QCOMPARE(combo->currentIndex(), 0);
    }
    QCOMPARE(dlg.LinkMode(), mode);
    for (int id : kSerialGroup)
        QCOMPARE(Shown(dlg, id), serial);
    for (int id : kIpGroup)
        QCOMPARE(Shown(dlg, id), !serial);
    // The options stay whatever the mode.
    for (int id : {1008, 1032, 1033})
        QVERIFY(Shown(dlg, id));
}

void TstKalvorDlg::runLayoutSwitchesGroups() {
    CKalvorDlg dlg;
    for (bool running : {true, false, true}) {
        dlg.SetRunLayout(running);
        for (int id : kSingleSendGroup)
            QCOMPARE(Shown(dlg, id), !running);
        for (int id : kCounterGroup)
            QCOMPARE(Shown(dlg, id), running);
    }
}

void TstKalvorDlg::transferCounters() {
    CKalvorDlg dlg;
    dlg.ShowTransferCounters(TransferCounters{12, 10, 2});
    QCOMPARE(Ctl<QLabel>(dlg, 1015)->text(), QStringLiteral("12"));
    QCOMPARE(Ctl<QLabel>(dlg, 1018)->text(), QStringLiteral("10"));
    QCOMPARE(Ctl<QLabel>(dlg, 1019)->text(), QStringLiteral("2"));
    dlg.ShowTransferCounters(TransferCounters{INT32_MAX, 0, INT32_MIN});
    QCOMPARE(Ctl<QLabel>(dlg, 1015)->text(), QStringLiteral("2147483647"));
    QCOMPARE(Ctl<QLabel>(dlg, 1019)->text(), QStringLiteral("-2147483648"));
}

void TstKalvorDlg::attributeFromSelection_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("attribute");
    QTest::newRow("first") << 0 << QByteArray("0");
    QTest::newRow("24th item") << 23 << QByteArray("N");
    QTest::newRow("25th item") << 24 << QByteArray("N");
    QTest::newRow("after the pair") << 25 << QByteArray("O");
    QTest::newRow("last") << 62 << QByteArray("z");
}

void TstKalvorDlg::attributeFromSelection() {
    QFETCH(int, index);
    QFETCH(QByteArray, attribute);
    CKalvorDlg dlg;
    auto* combo = Ctl<QComboBox>(dlg, 1004);
    combo->setCurrentIndex(index);
    dlg.OnAttributeChange();
    QCOMPARE(QByteArray::fromStdString(dlg.AttributeChar()), attribute);
}

void TstKalvorDlg::attributeNotReadAgainByCode() {
    CKalvorDlg dlg;
    auto* combo = Ctl<QComboBox>(dlg, 1004);
    // The operator picks one with the keyboard: the handler runs.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_End);
    QCOMPARE(dlg.AttributeChar(), std::string("z"));
    // A selection set by the program raises no notification; the character stays.
    combo->setCurrentIndex(10);
    QCOMPARE(dlg.AttributeChar(), std::string("z"));
    // No selection: nothing copied.
    combo->setCurrentIndex(-1);
    dlg.OnAttributeChange();
    QCOMPARE(dlg.AttributeChar(), std::string("z"));
}

void TstKalvorDlg::addressOnlyThroughTheSpin() {
    CKalvorDlg dlg;
    auto* edit = Ctl<QLineEdit>(dlg, 1000);
    auto* spin = Ctl<CSpinButtonCtrl>(dlg, 1001);
    QTest::keyClicks(edit, QStringLiteral("9"));
    QCOMPARE(edit->text(), QStringLiteral("48"));
    QTest::keyClick(edit, Qt::Key_Down); // stops at 48
    QCOMPARE(edit->text(), QStringLiteral("48"));
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("49"));
    for (int i = 0; i < 100; ++i)
        spin->UpButton()->click();
    QCOMPARE(edit->text(), QStringLiteral("127"));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.AddressValue(), 127);
}

void TstKalvorDlg::messageRefusesCharacter121() {
    CKalvorDlg dlg;
    auto* edit = Ctl<QLineEdit>(dlg, 1003);
    edit->clear();
    QTest::keyClicks(edit, QString(125, QLatin1Char('x')));
    QCOMPARE(edit->text().size(), 120);
    BoxCatcher boxes;
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.MessageText(), std::string(120, 'x'));
    QCOMPARE(boxes.Count(), 0);
}

void TstKalvorDlg::validationMessages_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("icon");
    const QString notInt = QStringLiteral("Tapez un nombre entier.");
    const QString range = QStringLiteral("Tapez un nombre entier compris entre 48 et 127.");
    const int none = int(QMessageBox::NoIcon);
    const int warn = int(QMessageBox::Warning);
    QTest::newRow("letters") << 1000 << "abc" << notInt << none;
    QTest::newRow("empty") << 1000 << "" << notInt << none;
    QTest::newRow("digits then letters") << 1000 << "50x" << notInt << none;
    QTest::newRow("beyond int") << 1000 << "99999999999" << notInt << none;
    QTest::newRow("below") << 1000 << "47" << range << warn;
    QTest::newRow("above") << 1000 << "128" << range << warn;
    QTest::newRow("negative") << 1000 << "-60" << range << warn;
    QTest::newRow("121 characters")
        << 1003 << QString(121, QLatin1Char('m'))
        << QStringLiteral("Tapez 120 caract\u00E8res au maximum.") << warn;
}

void TstKalvorDlg::validationMessages() {
    QFETCH(int, field);
    QFETCH(QString, value);
    QFETCH(QString, message);
    QFETCH(int, icon);
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* edit = Ctl<QLineEdit>(dlg, field);
    edit->setMaxLength(32767); // a program writing past the edit's own limit
    edit->setText(value);
    Ctl(dlg, 1016)->setFocus();

    BoxCatcher boxes;
    QVERIFY(!dlg.UpdateData(true));
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Last().text, message);
    QCOMPARE(boxes.Last().title, QStringLiteral("Kalvor"));
    QCOMPARE(int(boxes.Last().icon), icon);
    QCOMPARE(dlg.focusWidget(), edit);
    // The held values stay as they were.
    QCOMPARE(dlg.AddressValue(), 48);
    QCOMPARE(dlg.MessageText(), std::string("TEST"));
    // Only the checks in the save direction fail; loading puts the held values back.
    QVERIFY(dlg.UpdateData(false));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(boxes.Count(), 1);
}

void TstKalvorDlg::validationStopsAtFirstFailure() {
    CKalvorDlg dlg;
    Ctl<QLineEdit>(dlg, 1000)->setText(QStringLiteral("200"));
    Ctl<QLineEdit>(dlg, 1003)->setMaxLength(500);
    Ctl<QLineEdit>(dlg, 1003)->setText(QString(200, QLatin1Char('m')));
    BoxCatcher boxes;
    QVERIFY(!dlg.UpdateData(true));
    QCOMPARE(boxes.Texts(),
             QStringList{QStringLiteral("Tapez un nombre entier compris entre 48 et 127.")});
    // The load direction puts the edit's limit back.
    dlg.UpdateData(false);
    QCOMPARE(Ctl<QLineEdit>(dlg, 1003)->maxLength(), 120);
}

void TstKalvorDlg::entryWhileACheckMessageIsUp() {
    // A timer's log entry (a test step) that comes while a check's message waits for OK shows
    // no second message and does not turn the failed exchange into a success.
    CKalvorDlg dlg;
    Ctl<QLineEdit>(dlg, 1000)->setText(QStringLiteral("xyz"));
    QTimer::singleShot(0, &dlg, [&dlg] { dlg.AppendLogLine("step while the box is up"); });
    BoxCatcher boxes(std::chrono::milliseconds(40));
    QVERIFY(!dlg.UpdateData(true));
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Tapez un nombre entier.")});
    QVERIFY(LogLines(dlg).last().endsWith(QStringLiteral(" - step while the box is up")));
}

void TstKalvorDlg::loadDoesNotDisturbTyping() {
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* edit = Ctl<QLineEdit>(dlg, 1003);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("HELLO WORLD"));
    edit->setCursorPosition(5);
    dlg.AppendLogLine("step"); // the exchange runs after every entry
    QCOMPARE(edit->cursorPosition(), 5);
    QVERIFY(edit->isUndoAvailable());
    QTest::keyClicks(edit, QStringLiteral(","));
    dlg.AppendLogLine("step");
    QTest::keyClicks(edit, QStringLiteral(" DEAR"));
    QCOMPARE(edit->text(), QStringLiteral("HELLO, DEAR WORLD"));
    QCOMPARE(edit->cursorPosition(), 11);
    // A selection survives too.
    edit->setSelection(0, 5);
    dlg.AppendLogLine("step");
    QCOMPARE(edit->selectedText(), QStringLiteral("HELLO"));
    QCOMPARE(dlg.MessageText(), std::string("HELLO, DEAR WORLD"));
}

void TstKalvorDlg::formReadings() {
    CKalvorDlg dlg;
    for (int id : {1008, 1026, 1032, 1033}) {
        auto* box = Ctl<QCheckBox>(dlg, id);
        const bool before = dlg.IsChecked(id);
        QCOMPARE(before, box->isChecked());
        box->setChecked(!before);
        QCOMPARE(dlg.IsChecked(id), !before);
    }
    QVERIFY(!dlg.IsChecked(1000));
    Ctl<QComboBox>(dlg, 1005)->setCurrentIndex(2);
    QCOMPARE(dlg.ComPortIndex(), 2);
    Ctl<QLineEdit>(dlg, 1025)->setText(QStringLiteral(" 4001x"));
    QCOMPARE(dlg.TargetPortText(), std::string(" 4001x"));
    Ctl<QLineEdit>(dlg, 1016)->setText(QStringLiteral("25"));
    QCOMPARE(dlg.DelayText(), std::string("25"));
    Ctl(dlg, 1021)->setProperty("address", QStringLiteral("127.0.0.1"));
    QCOMPARE(dlg.IpAddressText(), std::string("127.0.0.1"));
    // The message as Windows-1252 bytes; a character without a byte becomes '?'.
    Ctl<QLineEdit>(dlg, 1003)->setText(QStringLiteral("caf\u00E9 \u20AC \u4E2D"));
    QVERIFY(dlg.UpdateData(true));
    QCOMPARE(dlg.MessageText(), std::string("caf\xE9 \x80 ?"));
    QCOMPARE(dlg.MessageValue(), QStringLiteral("caf\u00E9 \u20AC \u4E2D"));
    // Serial settings as the controls show them.
    Ctl<QComboBox>(dlg, 1009)->setCurrentIndex(3);
    Ctl<QCheckBox>(dlg, 1033)->setChecked(false);
    const SerialSettings s = dlg.CurrentSerialSettings();
    QCOMPARE(s.portIndex, 2);
    QCOMPARE(s.speedIndex, 3);
    QVERIFY(!s.useParity);
}

void TstKalvorDlg::comPortToolTip() {
    qputenv("KALVOR_COM3", "/nonexistent/kalvor-test-com3");
    CKalvorDlg dlg;
    auto* combo = Ctl<QComboBox>(dlg, 1005);
    QVERIFY2(combo->toolTip().contains(QStringLiteral("/nonexistent/kalvor-test-com1")),
             qPrintable(combo->toolTip()));
    QVERIFY(!dlg.PortCom().IsOpen());
    combo->setCurrentIndex(2);
    dlg.OnSerialSettingChange();
    QVERIFY2(combo->toolTip().contains(QStringLiteral("/nonexistent/kalvor-test-com3")),
             qPrintable(combo->toolTip()));
    QVERIFY(!combo->toolTip().contains(QStringLiteral("Open.")));
    qunsetenv("KALVOR_COM3");
}

void TstKalvorDlg::enterSendsUnlessRunLayout() {
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* message = Ctl<QLineEdit>(dlg, 1003);
    message->setFocus();
    BoxCatcher boxes;
    const int before = int(dlg.Log()->EntryCount());
    QTest::keyClick(message, Qt::Key_Return);
    // One single send over the serial link, whose port cannot be opened.
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("COM Port ERROR")});
    QVERIFY(LogLines(dlg).at(before).contains(QStringLiteral(" - Prepare frame to send : ")));

    // With the Send button hidden, Enter sends nothing.
    dlg.SetRunLayout(true);
    const std::size_t entries = dlg.Log()->EntryCount();
    QTest::keyClick(message, Qt::Key_Return);
    QTest::qWait(30);
    QCOMPARE(dlg.Log()->EntryCount(), entries);
    QCOMPARE(boxes.Count(), 1);
    QVERIFY(dlg.isVisible());
}

void TstKalvorDlg::quitValidatesEscapeEndsAtOnce_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("badValue");
    QTest::addColumn<bool>("staysOpen");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("boxes");
    QTest::newRow("quit") << "quit" << false << false << int(QDialog::Accepted) << 0;
    QTest::newRow("quit with a bad address") << "quit" << true << true << -1 << 1;
    QTest::newRow("escape") << "escape" << false << false << int(QDialog::Rejected) << 0;
    QTest::newRow("escape with a bad address")
        << "escape" << true << false << int(QDialog::Rejected) << 0;
    QTest::newRow("close box with a bad address")
        << "close" << true << false << int(QDialog::Rejected) << 0;
    QTest::newRow("system close") << "sysclose" << true << false << int(QDialog::Rejected) << 0;
}

void TstKalvorDlg::quitValidatesEscapeEndsAtOnce() {
    QFETCH(QString, how);
    QFETCH(bool, badValue);
    QFETCH(bool, staysOpen);
    QFETCH(int, result);
    QFETCH(int, boxes);
    CKalvorDlg dlg;
    if (badValue)
        Ctl<QLineEdit>(dlg, 1000)->setText(QStringLiteral("300"));
    BoxCatcher catcher;
    int ended = -1;
    connect(&dlg, &QDialog::finished, this, [&ended](int r) { ended = r; });
    QTimer::singleShot(0, &dlg, [&] {
        if (how == QLatin1String("quit"))
            Ctl<QPushButton>(dlg, 1)->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else if (how == QLatin1String("close"))
            dlg.close();
        else
            dlg.OnSysCommand(SC_CLOSE);
        if (dlg.isVisible())
            QTimer::singleShot(50, &dlg, &QDialog::reject); // end the test's modal loop
    });
    const int code = dlg.exec();
    QCOMPARE(catcher.Count(), boxes);
    if (staysOpen) {
        QCOMPARE(ended, int(QDialog::Rejected)); // only the test's own reject ended it
        QCOMPARE(catcher.Last().text,
                 QStringLiteral("Tapez un nombre entier compris entre 48 et 127."));
    } else {
        QCOMPARE(code, result);
    }
}

void TstKalvorDlg::aboutThroughSysCommand_data() {
    QTest::addColumn<uint>("command");
    QTest::addColumn<bool>("opens");
    QTest::newRow("16") << 16u << true;
    QTest::newRow("17") << 17u << true;
    QTest::newRow("31") << 31u << true;
    QTest::newRow("32") << 32u << false;
    QTest::newRow("15") << 15u << false;
    QTest::newRow("high word ignored") << 0x10010u << true;
    QTest::newRow("minimise") << uint(SC_MINIMIZE) << false;
}

void TstKalvorDlg::aboutThroughSysCommand() {
    QFETCH(uint, command);
    QFETCH(bool, opens);
    CKalvorDlg dlg;
    BoxCatcher boxes;
    dlg.OnSysCommand(command);
    if (opens) {
        QCOMPARE(boxes.Count(), 1);
        QCOMPARE(boxes.Last().title, QStringLiteral("A propos de Kalvor"));
        QCOMPARE(boxes.Last().className, QStringLiteral("kalvor::CAboutDlg"));
    } else {
        QTest::qWait(30);
        QCOMPARE(boxes.Count(), 0);
    }
}

void TstKalvorDlg::aboutOnTheHelpKey() {
    CKalvorDlg dlg;
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    BoxCatcher boxes;
    QTest::keyClick(Ctl(dlg, 1003), Qt::Key_F1);
    QTRY_COMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Last().title, QStringLiteral("A propos de Kalvor"));
}

void TstKalvorDlg::aboutOnTheContextMenu() {
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    BoxCatcher boxes;
    QStringList entries;
    QTimer::singleShot(0, &dlg, [&entries] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            entries << action->text();
        if (!menu->actions().isEmpty())
            menu->actions().first()->trigger();
        menu->close();
    });
    // A right click on the window's background, next to the Mode label.
    const QPoint at = Ctl(dlg, 1024)->geometry().topLeft() + QPoint(-4, -4);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, dlg.mapToGlobal(at));
    QApplication::sendEvent(&dlg, &event);
    QCOMPARE(entries, QStringList{QStringLiteral("&A propos de Kalvor...")});
    QTRY_COMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Last().title, QStringLiteral("A propos de Kalvor"));
}

void TstKalvorDlg::iconsDrawAtAnySize() {
    for (int id : res::kIconIds) {
        QSvgRenderer svg(res::IconPath(id));
        QVERIFY2(svg.isValid(), qPrintable(QString::number(id)));
        for (int size : {16, 32, 96}) {
            const QImage image = LoadIcon(id).pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            // Something is drawn, and not only in one corner.
            int opaque = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 128;
            QVERIFY2(opaque > size * size / 10, qPrintable(QString::number(id)));
        }
    }
    QVERIFY(LoadIcon(999).isNull());
}

void TstKalvorDlg::aboutBoxContents() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("A propos de Kalvor"));
    QCOMPARE(Ctl<QLabel>(about, 1028)->text(), QStringLiteral("6.4"));
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("Kalvor")));
    QVERIFY(texts.contains(QStringLiteral("Version : ")));
    bool hasIcon = false;
    for (QLabel* label : about.findChildren<QLabel*>())
        hasIcon = hasIcon || label->property("iconId").toInt() == 128;
    QVERIFY(hasIcon);
    auto* ok = Ctl<QPushButton>(about, 1);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    QTimer::singleShot(0, ok, &QPushButton::click);
    QCOMPARE(about.exec(), int(QDialog::Accepted));
}

void TstKalvorDlg::messageBoxGoesThroughTheWindow() {
    CKalvorDlg dlg;
    BoxCatcher boxes;
    dlg.MessageBox("IP ERROR\r\nCheck network configuration.");
    dlg.MessageBox("Tapez 120 caract\xE8res au maximum.", BoxIcon::None);
    QCOMPARE(boxes.Count(), 2);
    QCOMPARE(boxes.Boxes().at(0).text, QStringLiteral("IP ERROR\nCheck network configuration."));
    QCOMPARE(boxes.Boxes().at(0).icon, QMessageBox::Warning);
    QCOMPARE(boxes.Boxes().at(0).title, QStringLiteral("Kalvor"));
    QCOMPARE(boxes.Boxes().at(1).text, QStringLiteral("Tapez 120 caract\u00E8res au maximum."));
    QCOMPARE(boxes.Boxes().at(1).icon, QMessageBox::NoIcon);
}

QTEST_MAIN(TstKalvorDlg)
#include "tst_kalvordlg.moc"
