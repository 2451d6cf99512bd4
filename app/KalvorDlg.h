#pragma once

#include "OperatorForm.h"
#include "PortCom.h"
#include "SerialSettings.h"
#include "TestRun.h"

#include <QDialog>
#include <QIcon>
#include <QString>

#include <map>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kalvor {

class CActivityLog;
class CIpAddressCtrl;
class CSpinButtonCtrl;

// Limits of the bound values.
inline constexpr int kAddressMin = 48;
inline constexpr int kAddressMax = 127;

// System command that opens the About box; the low four bits are ignored.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// System commands understood besides it.
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_RESTORE = 0xF120;

// The operator window: the form of the frame to send, the link settings, the buttons, the
// acknowledgement picture, the counters and the activity log.
class CKalvorDlg : public QDialog, public IOperatorForm {
    Q_OBJECT
public:
    explicit CKalvorDlg(QWidget* parent = nullptr);
    ~CKalvorDlg() override;

    // Data exchange of the address value (edit 1000, 48 to 127) and the message text (edit 1003,
    // at most 120 characters). Saving validates: the first failing check shows its message,
    // puts the focus back on its field and makes the exchange return false; the value of that
    // field is then left as it was. Loading writes a value only into an edit that does not
    // already show it, so the caret and the selection of a field being typed stay put.
    void DoDataExchange(bool bSaveAndValidate);

    // IOperatorForm
    bool UpdateData(bool bSaveAndValidate) override;
    int AddressValue() const override { return m_nAddress; }
    std::string MessageText() const override;
    std::string AttributeChar() const override { return m_strAttribute; }
    int LinkMode() const override { return m_nLinkMode; }
    bool IsChecked(int controlId) const override;
    int ComPortIndex() const override;
    std::string TargetPortText() const override;
    std::string IpAddressText() const override;
    std::string DelayText() const override;
    CPortCom& PortCom() override { return m_PortCom; }
    int OpenPortFromForm() override;
    void SetAckIcon(AckIcon icon) override;
    void ShowTransferCounters(const TransferCounters& counters) override;
    void SetRunLayout(bool running) override;
    void AppendLogLine(const std::string& text) override;
    void AppendErrorLine(const std::string& text) override;
    void MessageBox(const std::string& text, BoxIcon icon = BoxIcon::Exclamation) override;

    // Handlers.
    void OnSysCommand(unsigned nID, long lParam = 0);
    QIcon OnQueryDragIcon() const { return m_hIcon; }
    void OnSendButton();
    void ToggleTestRun();
    void OnAttributeChange();
    void OnModeChange();
    void OnSerialSettingChange();
    // Quit: validates, and ends the window only when the form is valid.
    void OnOK();

    // The serial settings the controls show now.
    SerialSettings CurrentSerialSettings() const;
    // The message text as the operator typed it.
    QString MessageValue() const { return m_strMessage; }
    CTestRun& TestRun() { return m_testRun; }
    CActivityLog* Log() const { return m_log; }
    QWidget* Control(int id) const;

protected:
    bool OnInitDialog();
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    void UpdateComPortToolTip();
    void FailValidation(QLineEdit* field, const QString& message, BoxIcon icon);

    std::map<int, QWidget*> m_controls;

    // Bound controls.
    QCheckBox* m_useXor = nullptr;            // 1032
    QCheckBox* m_useParity = nullptr;         // 1033
    QCheckBox* m_xorTest = nullptr;           // 1026
    QLabel* m_sendLabel = nullptr;            // 1010
    QLabel* m_ackLabel = nullptr;             // 1011
    QLabel* m_modeLabel = nullptr;            // 1024
    QLabel* m_speedLabel = nullptr;           // 1020
    QLabel* m_comPortLabel = nullptr;         // 1017
    QLabel* m_ipAddressLabel = nullptr;       // 1022
    CIpAddressCtrl* m_ipAddress = nullptr;    // 1021
    QComboBox* m_mode = nullptr;              // 1023
    QLineEdit* m_delay = nullptr;             // 1016
    QLabel* m_sendCountLabel = nullptr;       // 1012
    QLabel* m_sendCount = nullptr;            // 1015
    QLabel* m_goodCount = nullptr;            // 1018
    QLabel* m_badCount = nullptr;             // 1019
    QLabel* m_goodCountLabel = nullptr;       // 1013
    QLabel* m_badCountLabel = nullptr;        // 1014
    QPushButton* m_startStop = nullptr;       // 5
    QComboBox* m_speed = nullptr;             // 1009
    QCheckBox* m_waitAck = nullptr;           // 1008
    QLabel* m_ackPicture = nullptr;           // 1006
    QComboBox* m_attribute = nullptr;         // 1004
    QPushButton* m_quit = nullptr;            // 1
    QPushButton* m_send = nullptr;            // 4
    CSpinButtonCtrl* m_addressSpin = nullptr; // 1001
    QComboBox* m_comPort = nullptr;           // 1005

    // Bound values and the form's own state.
    int m_nAddress = 0;
    QString m_strMessage;
    QIcon m_hIcon;
    int m_nLinkMode = 0;
    std::string m_strAttribute = "0";

    CActivityLog* m_log = nullptr;       // 1034
    QLineEdit* m_targetPort = nullptr;   // 1025
    QLabel* m_targetPortLabel = nullptr; // 1027
    QLineEdit* m_addressEdit = nullptr;  // 1000
    QLineEdit* m_messageEdit = nullptr;  // 1003

    bool m_bInValidationBox = false;
    bool m_bValidationFailed = false;

    CPortCom m_PortCom;
    CTestRun m_testRun;
};

} // namespace kalvor
