#pragma once

#include <cstdint>
#include <string>

// What the send transaction and the test runs need of the operator window. The window
// implements it with its controls; tests implement it with a plain fake.
// Texts are Windows-1252 byte strings, as the sign and the log speak them.
namespace kalvor {

class CPortCom;

// Control ids of the operator window, as its layout table names them.
namespace ctl {
inline constexpr int Quit = 1;
inline constexpr int Send = 4;
inline constexpr int StartStop = 5;
inline constexpr int Address = 1000;
inline constexpr int AddressSpin = 1001;
inline constexpr int Message = 1003;
inline constexpr int Attribute = 1004;
inline constexpr int ComPort = 1005;
inline constexpr int AckPicture = 1006;
inline constexpr int WaitAck = 1008;
inline constexpr int Speed = 1009;
inline constexpr int SendLabel = 1010;
inline constexpr int AckLabel = 1011;
inline constexpr int SendCountLabel = 1012;
inline constexpr int GoodCountLabel = 1013;
inline constexpr int BadCountLabel = 1014;
inline constexpr int SendCount = 1015;
inline constexpr int Delay = 1016;
inline constexpr int ComPortLabel = 1017;
inline constexpr int GoodCount = 1018;
inline constexpr int BadCount = 1019;
inline constexpr int SpeedLabel = 1020;
inline constexpr int IpAddress = 1021;
inline constexpr int IpAddressLabel = 1022;
inline constexpr int Mode = 1023;
inline constexpr int ModeLabel = 1024;
inline constexpr int TargetPort = 1025;
inline constexpr int XorTest = 1026;
inline constexpr int TargetPortLabel = 1027;
inline constexpr int AboutVersion = 1028;
inline constexpr int UseXor = 1032;
inline constexpr int UseParity = 1033;
inline constexpr int Log = 1034;
} // namespace ctl

// Link modes: the Mode list's index. Anything but SERIAL and UDP is taken as TCP.
inline constexpr int kLinkSerial = 0;
inline constexpr int kLinkUdp = 1;
inline constexpr int kLinkTcp = 2;

// Icon resource numbers of the Acknowledge picture.
enum class AckIcon : int { Idle = 136, Failed = 137, Ok = 138 };
inline constexpr AckIcon IconAckIdle = AckIcon::Idle;
inline constexpr AckIcon IconAckFailed = AckIcon::Failed;
inline constexpr AckIcon IconAckOk = AckIcon::Ok;

enum class BoxIcon { None, Exclamation };

struct TransferCounters {
    std::int32_t Send = 0;
    std::int32_t Good = 0;
    std::int32_t Bad = 0;
};

class IOperatorForm {
public:
    virtual ~IOperatorForm() = default;

    // Data exchange: true reads and validates the bound values from their edits, false writes
    // them back. Returns false when a check failed (its message has been shown).
    virtual bool UpdateData(bool bSaveAndValidate) = 0;
    virtual int AddressValue() const = 0;
    virtual std::string MessageText() const = 0; // Windows-1252 bytes
    virtual std::string AttributeChar() const = 0;
    virtual int LinkMode() const = 0;

    // Read from the controls at the moment of use.
    virtual bool IsChecked(int controlId) const = 0;
    virtual int ComPortIndex() const = 0;
    virtual std::string TargetPortText() const = 0;
    virtual std::string IpAddressText() const = 0;
    virtual std::string DelayText() const = 0;

    // The serial link the window owns, opened with the form's settings.
    virtual CPortCom& PortCom() = 0;
    virtual int OpenPortFromForm() = 0;

    virtual void SetAckIcon(AckIcon icon) = 0;
    virtual void ShowTransferCounters(const TransferCounters& counters) = 0;
    virtual void SetRunLayout(bool running) = 0;

    virtual void AppendLogLine(const std::string& text) = 0;
    virtual void AppendErrorLine(const std::string& text) = 0;
    // Modal box with an OK button, captioned with the application's name.
    virtual void MessageBox(const std::string& text, BoxIcon icon = BoxIcon::Exclamation) = 0;
};

} // namespace kalvor
