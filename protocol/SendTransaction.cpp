#include "SendTransaction.h"

#include "DisplayFrame.h"
#include "PortCom.h"
#include "SocketChannel.h"
#include "TextCodec.h"

#include <cstdio>
#include <memory>

namespace kalvor {

namespace {

std::string Format(const char* format, int value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string ComText(const char* format, const IOperatorForm& form) {
    return Format(format, form.ComPortIndex() + 1);
}

void SendOverSerial(IOperatorForm& form, const DisplayFrame& frame) {
    CPortCom& port = form.PortCom();
    if (!port.IsOpen())
        form.OpenPortFromForm();
    if (!port.IsOpen()) {
        form.AppendErrorLine(ComText("COM#%d Port Error", form));
        form.MessageBox("COM Port ERROR");
        return;
    }
    port.WriteFrame(frame, form.IsChecked(ctl::UseXor));
    if (!form.IsChecked(ctl::WaitAck))
        return;
    if (port.WaitAck()) {
        form.AppendLogLine(ComText("COM#%d : ACK", form));
        form.SetAckIcon(IconAckOk);
    } else {
        form.SetAckIcon(IconAckFailed);
        form.AppendLogLine(ComText("COM#%d : ! No ACK received", form));
        form.MessageBox("No ACK Received !");
    }
}

const char* LinkName(int linkMode) {
    return linkMode == kLinkUdp ? "UDP" : "TCP";
}

void SendOverSocket(IOperatorForm& form, const DisplayFrame& frame, int mode) {
    const std::unique_ptr<CBlockingSocket> link = MakeSocketChannel(mode);
    const std::string kind = LinkName(mode);

    const int port = AtoI(form.TargetPortText());
    form.AppendLogLine(VersLine(mode, form.IpAddressText(), port));

    if (!link->ConnectWithTimeout(form.IpAddressText(), port)) {
        const std::string error = CBlockingSocket::SocketErrorText();
        link->CloseLink();
        form.AppendErrorLine("Cannot get a socket to target. Check network configuration. " +
                             error);
        form.SetAckIcon(IconAckFailed);
        form.MessageBox("IP ERROR\r\nCheck network configuration.");
        return;
    }
    if (link->SendFrame(frame, form.IsChecked(ctl::UseXor)) == 0) {
        form.AppendErrorLine("Error during write of " + kind + " socket. " +
                             CBlockingSocket::SocketErrorText());
        form.SetAckIcon(IconAckFailed);
        form.MessageBox("Error during write " + kind + " socket");
        link->CloseLink();
        return;
    }
    if (!form.IsChecked(ctl::WaitAck)) {
        link->CloseLink();
        return;
    }
    if (link->WaitAck()) {
        form.AppendLogLine("Socket : ACK");
        form.SetAckIcon(IconAckOk);
    } else {
        form.AppendErrorLine("Socket : No ACK received");
        form.SetAckIcon(IconAckFailed);
        form.MessageBox("No ACK Received !");
    }
    link->CloseLink();
}

} // namespace

std::unique_ptr<CBlockingSocket> MakeSocketChannel(int linkMode) {
    if (linkMode == kLinkUdp)
        return std::make_unique<CUdpSocket>();
    return std::make_unique<CTcpSocket>();
}

std::string VersLine(int linkMode, const std::string& address, int port) {
    return std::string(LinkName(linkMode)) + " vers " + address + ":" + std::to_string(port);
}

DisplayFrame BuildFormFrame(const IOperatorForm& form) {
    const std::string attribute = form.AttributeChar();
    return BuildDisplayFrame(form.AddressValue(), attribute.empty() ? Byte{0} : Byte(attribute[0]),
                             form.MessageText());
}

void OnSendButton(IOperatorForm& form) {
    form.UpdateData(true);
    const DisplayFrame frame = BuildFormFrame(form);
    form.AppendLogLine("Prepare frame to send : " + RenderFrameText(frame));

    const int mode = form.LinkMode();
    if (mode == kLinkSerial)
        SendOverSerial(form, frame);
    else
        SendOverSocket(form, frame, mode);

    form.UpdateData(false);
}

} // namespace kalvor
