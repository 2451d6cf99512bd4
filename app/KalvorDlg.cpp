#include "KalvorDlg.h"

#include "AboutDlg.h"
#include "ActivityLog.h"
#include "DialogBuilder.h"
#include "DialogTemplate.h"
#include "IpAddressCtrl.h"
#include "Resources.h"
#include "SendTransaction.h"
#include "SpinButtonCtrl.h"
#include "TextCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>

#include <climits>
#include <cstdio>

namespace kalvor {

namespace {

QString FromCp1252(const std::string& bytes) {
    return QString::fromStdU16String(Cp1252ToUtf16(bytes));
}

std::string ToCp1252(const QString& text) {
    return Utf16ToCp1252(text.toStdU16String());
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Reads a decimal integer as the data exchange takes it: blanks around it, an optional sign,
// at least one digit, nothing else, and within the range of int.
bool ParseInt(const QString& text, int& value) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    qsizetype i = 0;
    if (trimmed.at(0) == QLatin1Char('+') || trimmed.at(0) == QLatin1Char('-'))
        ++i;
    if (i == trimmed.size())
        return false;
    for (qsizetype k = i; k < trimmed.size(); ++k)
        if (trimmed.at(k) < QLatin1Char('0') || trimmed.at(k) > QLatin1Char('9'))
            return false;
    bool ok = false;
    const long long parsed = trimmed.toLongLong(&ok);
    if (!ok || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = int(parsed);
    return true;
}

template <typename T> T* Find(const std::map<int, QWidget*>& controls, int id) {
    const auto it = controls.find(id);
    return it == controls.end() ? nullptr : qobject_cast<T*>(it->second);
}

} // namespace

CKalvorDlg::CKalvorDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_hIcon(LoadIcon(128)), m_testRun(*this) {
    BuildControls();
    OnInitDialog();
}

CKalvorDlg::~CKalvorDlg() = default;

void CKalvorDlg::BuildControls() {
    m_controls = BuildDialog(this, res::kOperatorDialog);
    for (const res::ComboItems& list : res::kOperatorComboItems)
        if (auto* combo = Find<QComboBox>(m_controls, list.id))
            for (std::string_view item : list.items)
                combo->addItem(FromUtf8(item));

    const auto& c = m_controls;
    m_useXor = Find<QCheckBox>(c, ctl::UseXor);
    m_useParity = Find<QCheckBox>(c, ctl::UseParity);
    m_xorTest = Find<QCheckBox>(c, ctl::XorTest);
    m_sendLabel = Find<QLabel>(c, ctl::SendLabel);
    m_ackLabel = Find<QLabel>(c, ctl::AckLabel);
    m_modeLabel = Find<QLabel>(c, ctl::ModeLabel);
    m_speedLabel = Find<QLabel>(c, ctl::SpeedLabel);
    m_comPortLabel = Find<QLabel>(c, ctl::ComPortLabel);
    m_ipAddressLabel = Find<QLabel>(c, ctl::IpAddressLabel);
    m_ipAddress = Find<CIpAddressCtrl>(c, ctl::IpAddress);
    m_mode = Find<QComboBox>(c, ctl::Mode);
    m_delay = Find<QLineEdit>(c, ctl::Delay);
    m_sendCountLabel = Find<QLabel>(c, ctl::SendCountLabel);
    m_sendCount = Find<QLabel>(c, ctl::SendCount);
    m_goodCount = Find<QLabel>(c, ctl::GoodCount);
    m_badCount = Find<QLabel>(c, ctl::BadCount);
    m_goodCountLabel = Find<QLabel>(c, ctl::GoodCountLabel);
    m_badCountLabel = Find<QLabel>(c, ctl::BadCountLabel);
    m_startStop = Find<QPushButton>(c, ctl::StartStop);
    m_speed = Find<QComboBox>(c, ctl::Speed);
    m_waitAck = Find<QCheckBox>(c, ctl::WaitAck);
    m_ackPicture = Find<QLabel>(c, ctl::AckPicture);
    m_attribute = Find<QComboBox>(c, ctl::Attribute);
    m_quit = Find<QPushButton>(c, ctl::Quit);
    m_send = Find<QPushButton>(c, ctl::Send);
    m_addressSpin = Find<CSpinButtonCtrl>(c, ctl::AddressSpin);
    m_comPort = Find<QComboBox>(c, ctl::ComPort);
    m_log = Find<CActivityLog>(c, ctl::Log);
    m_targetPort = Find<QLineEdit>(c, ctl::TargetPort);
    m_targetPortLabel = Find<QLabel>(c, ctl::TargetPortLabel);
    m_addressEdit = Find<QLineEdit>(c, ctl::Address);
    m_messageEdit = Find<QLineEdit>(c, ctl::Message);
    Q_ASSERT(m_useXor && m_useParity && m_xorTest && m_sendLabel && m_ackLabel && m_modeLabel &&
             m_speedLabel && m_comPortLabel && m_ipAddressLabel && m_ipAddress && m_mode &&
             m_delay && m_sendCountLabel && m_sendCount && m_goodCount && m_badCount &&
             m_goodCountLabel && m_badCountLabel && m_startStop && m_speed && m_waitAck &&
             m_ackPicture && m_attribute && m_quit && m_send && m_addressSpin && m_comPort &&
             m_log && m_targetPort && m_targetPortLabel && m_addressEdit && m_messageEdit);

    // Routing: only what the operator does raises these; values set by the program do not.
    connect(m_send, &QPushButton::clicked, this, &CKalvorDlg::OnSendButton);
    connect(m_attribute, &QComboBox::activated, this, &CKalvorDlg::OnAttributeChange);
    connect(m_startStop, &QPushButton::clicked, this, &CKalvorDlg::ToggleTestRun);
    connect(m_comPort, &QComboBox::activated, this, &CKalvorDlg::OnSerialSettingChange);
    connect(m_speed, &QComboBox::activated, this, &CKalvorDlg::OnSerialSettingChange);
    connect(m_mode, &QComboBox::activated, this, &CKalvorDlg::OnModeChange);
    connect(m_useParity, &QCheckBox::clicked, this, &CKalvorDlg::OnSerialSettingChange);
    connect(m_quit, &QPushButton::clicked, this, &CKalvorDlg::OnOK);

    // The About box, where a Linux user looks for it: the Help key and the window's menu.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

bool CKalvorDlg::OnInitDialog() {
    // 1. Sockets need no start-up on this platform: the network layer is ready whenever a
    //    socket is made, so there is no failure to report here.

    // 2. Defaults of the bound values.
    m_nAddress = kAddressMin;
    m_strMessage = QStringLiteral("TEST");

    // 3. The lists were filled when the controls were made; bound values into their edits.
    UpdateData(false);

    // 4. The About entry lives in the window's context menu and on the Help key (see
    //    contextMenuEvent), since there is no system menu to extend.

    // 5. Window icon.
    setWindowIcon(m_hIcon);

    // 6. Button images and the idle acknowledgement picture.
    const auto putIcon = [](QPushButton* button, int iconId) {
        button->setIcon(LoadIcon(iconId));
        const int size = std::min({kIconSize, button->width() - 6, button->height() - 6});
        button->setIconSize(QSize(size, size));
        button->setProperty("iconId", iconId);
    };
    putIcon(m_send, 135);
    putIcon(m_startStop, 140);
    putIcon(m_quit, 130);
    m_send->setToolTip(QStringLiteral("Send"));
    m_startStop->setToolTip(QStringLiteral("Start / Stop"));
    m_quit->setToolTip(QStringLiteral("Quit"));
    SetAckIcon(IconAckIdle);

    // 7. Default selections (no notification: only user actions are connected).
    m_comPort->setCurrentIndex(0);
    m_attribute->setCurrentIndex(0);
    m_speed->setCurrentIndex(1);
    m_mode->setCurrentIndex(0);

    // 8. Serial group shown, IP group hidden.
    OnModeChange();

    // 9. IP address of the display.
    m_ipAddress->setAddress(QStringLiteral("192.168.1.5"));

    // 10. Options.
    m_waitAck->setChecked(true);
    m_useParity->setChecked(true);
    m_useXor->setChecked(true);

    // 11. Serial port with the form's settings; a port that cannot be opened says nothing here.
    OpenPortFromForm();

    // 12. Address spin.
    m_addressSpin->SetRange(kAddressMin, kAddressMax);
    m_addressSpin->SetBuddy(m_addressEdit);

    // 13. No test run (the run object starts idle).

    // 14. Counter group hidden.
    for (QWidget* w :
         {static_cast<QWidget*>(m_sendCountLabel), static_cast<QWidget*>(m_goodCountLabel),
          static_cast<QWidget*>(m_badCountLabel), static_cast<QWidget*>(m_sendCount),
          static_cast<QWidget*>(m_goodCount), static_cast<QWidget*>(m_badCount)})
        w->setVisible(false);

    // 15. Delay and Target Port.
    m_delay->setText(QStringLiteral("500"));
    m_targetPort->setText(QStringLiteral("13"));

    // 16. Version line.
    AppendLogLine("Kalvor - Version " + ToCp1252(res::String(res::IDS_VERSION)));

    // 17. Focus on the first tab stop.
    m_addressEdit->setFocus(Qt::OtherFocusReason);
    return true;
}

QWidget* CKalvorDlg::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

// ---- Data exchange ----

bool CKalvorDlg::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate && m_bInValidationBox)
        return false; // a check's message is up; its field is being corrected
    m_bValidationFailed = false;
    DoDataExchange(bSaveAndValidate);
    return !m_bValidationFailed;
}

void CKalvorDlg::FailValidation(QLineEdit* field, const QString& message, BoxIcon icon) {
    m_bInValidationBox = true;
    MessageBox(ToCp1252(message), icon);
    m_bInValidationBox = false;
    // Set after the box: an exchange run by a handler while the box was up (a test step's log
    // entry) must not hide this failure from the caller.
    m_bValidationFailed = true;
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void CKalvorDlg::DoDataExchange(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        int address = 0;
        if (!ParseInt(m_addressEdit->text(), address)) {
            FailValidation(m_addressEdit, FromUtf8(res::kParseIntMessage), BoxIcon::None);
            return;
        }
        if (address < kAddressMin || address > kAddressMax) {
            FailValidation(m_addressEdit,
                           FromUtf8(res::kParseIntRangeMessage)
                               .arg(QString::number(kAddressMin), QString::number(kAddressMax)),
                           BoxIcon::Exclamation);
            return;
        }
        m_nAddress = address;

        const QString message = m_messageEdit->text();
        if (ToCp1252(message).size() > std::size_t(kMessageMaxChars)) {
            FailValidation(m_messageEdit,
                           FromUtf8(res::kParseStringSizeMessage).arg(kMessageMaxChars),
                           BoxIcon::Exclamation);
            return;
        }
        m_strMessage = message;
        return;
    }

    const QString address = QString::number(m_nAddress);
    if (m_addressEdit->text() != address)
        m_addressEdit->setText(address);
    if (m_messageEdit->maxLength() != kMessageMaxChars)
        m_messageEdit->setMaxLength(kMessageMaxChars);
    if (m_messageEdit->text() != m_strMessage)
        m_messageEdit->setText(m_strMessage);
}

std::string CKalvorDlg::MessageText() const {
    return ToCp1252(m_strMessage);
}

// ---- Controls read at the moment of use ----

bool CKalvorDlg::IsChecked(int controlId) const {
    switch (controlId) {
    case ctl::WaitAck:
        return m_waitAck->isChecked();
    case ctl::XorTest:
        return m_xorTest->isChecked();
    case ctl::UseXor:
        return m_useXor->isChecked();
    case ctl::UseParity:
        return m_useParity->isChecked();
    default:
        return false;
    }
}

int CKalvorDlg::ComPortIndex() const {
    return m_comPort->currentIndex();
}
std::string CKalvorDlg::TargetPortText() const {
    return ToCp1252(m_targetPort->text());
}
std::string CKalvorDlg::IpAddressText() const {
    return kalvor::IpAddressText(*m_ipAddress);
}
std::string CKalvorDlg::DelayText() const {
    return ToCp1252(m_delay->text());
}

SerialSettings CKalvorDlg::CurrentSerialSettings() const {
    SerialSettings settings;
    settings.portIndex = m_comPort->currentIndex();
    settings.speedIndex = m_speed->currentIndex();
    settings.useParity = m_useParity->isChecked();
    return settings;
}

// ---- Serial settings ----

int CKalvorDlg::OpenPortFromForm() {
    const int result = OpenPortWithSettings(m_PortCom, CurrentSerialSettings());
    UpdateComPortToolTip();
    return result;
}

void CKalvorDlg::OnSerialSettingChange() {
    ReopenPortWithSettings(m_PortCom, CurrentSerialSettings());
    UpdateComPortToolTip();
}

void CKalvorDlg::UpdateComPortToolTip() {
    const int index = m_comPort->currentIndex();
    if (index < 0) {
        m_comPort->setToolTip(QString());
        return;
    }
    QString tip = QStringLiteral("%1 is %2").arg(m_comPort->itemText(index), ComDevicePath(index));
    if (m_PortCom.IsOpen()) {
        tip += QStringLiteral("\nOpen.");
    } else {
        const QString why = m_PortCom.LastOpenError();
        tip += why.isEmpty() ? QStringLiteral("\nNot open.")
                             : QStringLiteral("\nCould not be opened: %1").arg(why);
    }
    m_comPort->setToolTip(tip);
}

// ---- Form handlers ----

void CKalvorDlg::OnAttributeChange() {
    const int index = m_attribute->currentIndex();
    if (index < 0)
        return;
    m_strAttribute = ToCp1252(m_attribute->itemText(index));
}

void CKalvorDlg::OnModeChange() {
    m_nLinkMode = m_mode->currentIndex();
    const bool serial = m_nLinkMode == kLinkSerial;
    m_comPortLabel->setVisible(serial);
    m_speedLabel->setVisible(serial);
    m_speed->setVisible(serial);
    m_comPort->setVisible(serial);
    m_ipAddressLabel->setVisible(!serial);
    m_ipAddress->setVisible(!serial);
    m_targetPort->setVisible(!serial);
    m_targetPortLabel->setVisible(!serial);
}

void CKalvorDlg::SetAckIcon(AckIcon icon) {
    ShowIcon(m_ackPicture, int(icon));
}

void CKalvorDlg::ShowTransferCounters(const TransferCounters& counters) {
    m_sendCount->setText(QString::number(counters.Send));
    m_goodCount->setText(QString::number(counters.Good));
    m_badCount->setText(QString::number(counters.Bad));
}

void CKalvorDlg::SetRunLayout(bool running) {
    m_send->setVisible(!running);
    m_ackPicture->setVisible(!running);
    m_sendLabel->setVisible(!running);
    m_ackLabel->setVisible(!running);
    m_sendCountLabel->setVisible(running);
    m_goodCountLabel->setVisible(running);
    m_badCountLabel->setVisible(running);
    m_sendCount->setVisible(running);
    m_goodCount->setVisible(running);
    m_badCount->setVisible(running);
}

void CKalvorDlg::OnSendButton() {
    // No single send while a test run is active: the button is hidden then, and Enter or a
    // click queued before the run started must not slip one in between the run's steps.
    if (m_testRun.IsRunning())
        return;
    kalvor::OnSendButton(*this);
}

void CKalvorDlg::ToggleTestRun() {
    m_testRun.ToggleTestRun();
}

void CKalvorDlg::OnOK() {
    if (!UpdateData(true))
        return;
    accept();
}

// ---- Activity log ----

void CKalvorDlg::AppendLogLine(const std::string& text) {
    m_log->AppendEntry(FromCp1252(LogTimeStamp() + " - " + text));
    UpdateData(true);
    UpdateData(false);
}

void CKalvorDlg::AppendErrorLine(const std::string& text) {
    AppendLogLine("!Error : " + text);
}

// ---- Boxes ----

void CKalvorDlg::MessageBox(const std::string& text, BoxIcon icon) {
    QString shown = FromCp1252(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(icon == BoxIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QStringLiteral("Kalvor"), shown, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

// ---- About ----

void CKalvorDlg::OnSysCommand(unsigned nID, long) {
    const unsigned command = nID & 0xFFFFu;
    if ((command & 0xFFF0u) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
        return;
    }
    switch (command & 0xFFF0u) {
    case SC_CLOSE:
        reject();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_RESTORE:
        showNormal();
        break;
    default:
        break;
    }
}

void CKalvorDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(res::String(res::IDS_ABOUTBOX));
    about->setShortcut(QKeySequence::HelpContents);
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    menu.exec(event->globalPos());
}

} // namespace kalvor
