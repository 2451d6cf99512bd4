#include "TestRun.h"

#include "DisplayFrame.h"
#include "PortCom.h"
#include "SendTransaction.h"
#include "SocketChannel.h"
#include "TextCodec.h"
#include "WaitLoop.h"

#include <algorithm>
#include <cstdio>

namespace kalvor {

namespace {

// The run timer's period: the Delay read as a signed number, then taken as an unsigned period
// the way the platform timer does: below 10 ms it runs at 10 ms, above 0x7FFFFFFF ms (any
// negative value among them) at 0x7FFFFFFF ms.
constexpr std::chrono::milliseconds kMinRunPeriod{10};
constexpr std::chrono::milliseconds kMaxRunPeriod{0x7FFFFFFF};

std::chrono::milliseconds RunPeriod(int delay) {
    const auto period = std::chrono::milliseconds(static_cast<std::uint32_t>(delay));
    return std::clamp(period, kMinRunPeriod, kMaxRunPeriod);
}

std::string Hex2(Byte b) {
    char text[4];
    std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(b));
    return text;
}

} // namespace

CTestRun::CTestRun(IOperatorForm& form, QObject* parent) : QObject(parent), m_form(form) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { RunTestStep(m_nTimerId); });
}

void CTestRun::ToggleTestRun() {
    if (!m_bRunning) {
        m_form.SetRunLayout(true);
        const int delay = AtoI(m_form.DelayText());
        m_xorTestStep = 0;
        m_xorFailList.clear();
        m_timer.start(RunPeriod(delay));
        m_nTimerId = m_timer.isActive() ? kRunTimerId : 0;
        m_bRunning = true;
        m_counters = {};
        m_form.ShowTransferCounters(m_counters);
        m_form.AppendLogLine(
            std::string(m_form.IsChecked(ctl::XorTest) ? "Start XOR test" : "Start loop test") +
            " - Delay " + std::to_string(delay) + " ms");
        RunTestStep(kRunTimerId);
        return;
    }

    EndRun();
    if (!m_form.IsChecked(ctl::XorTest))
        return;
    if (m_counters.Bad == 0) {
        m_form.AppendLogLine("XOR partial test succesfull");
        m_form.MessageBox("XOR partial test succesfull");
    } else {
        m_form.AppendErrorLine("XOR partial test fail : " + m_xorFailList);
        m_form.MessageBox("XOR partial test fail : \r\n" + m_xorFailList);
    }
}

void CTestRun::RunTestStep(unsigned timerId) {
    if (timerId != kRunTimerId || !m_bRunning)
        return;
    // A tick that falls due while a step (or any other blocking wait) is in progress is lost:
    // steps never overlap and never pile up.
    if (m_bInStep || CWaitLoop::Depth() > 0)
        return;
    m_bInStep = true;
    const bool xorStep = m_form.IsChecked(ctl::XorTest);
    if (xorStep && m_xorTestStep >= kXorTestFrames) {
        FinishXorTest();
        m_bInStep = false;
        return;
    }

    m_form.UpdateData(true);
    DisplayFrame frame;
    if (xorStep) {
        frame = BuildXorTestFrame(m_form.AddressValue(), m_xorTestStep);
        ++m_xorTestStep;
    } else {
        frame = BuildFormFrame(m_form);
    }
    m_form.UpdateData(false);
    m_form.AppendLogLine((xorStep ? "XOR Test : frame to send " : "Loop : frame to send ") +
                         RenderFrameText(frame));

    if (m_form.LinkMode() == kLinkSerial)
        DeliverOverSerial(frame);
    else
        DeliverOverSocket(frame);
    m_form.ShowTransferCounters(m_counters);
    m_bInStep = false;
}

void CTestRun::DeliverOverSerial(const DisplayFrame& frame) {
    CPortCom& port = m_form.PortCom();
    if (!port.IsOpen())
        m_form.OpenPortFromForm();
    if (!port.IsOpen()) {
        CountLinkFailure();
        return;
    }
    char head[64];
    std::snprintf(head, sizeof head, "Send frame on COM#%d : ", m_form.ComPortIndex() + 1);
    std::string line = head;
    port.WriteFrame(frame, m_form.IsChecked(ctl::UseXor));
    ++m_counters.Send;
    if (m_form.IsChecked(ctl::WaitAck)) {
        if (CountAnswer(port.WaitAck())) {
            line += "ACK";
        } else {
            line += "No ACK !";
            NoteXorFailure(frame);
        }
    }
    m_form.AppendLogLine(line);
}

void CTestRun::DeliverOverSocket(const DisplayFrame& frame) {
    const int mode = m_form.LinkMode();
    const std::unique_ptr<CBlockingSocket> link = MakeSocketChannel(mode);
    const int port = AtoI(m_form.TargetPortText());
    m_form.AppendLogLine(VersLine(mode, m_form.IpAddressText(), port));
    if (!link->ConnectWithTimeout(m_form.IpAddressText(), port)) {
        CountLinkFailure();
        link->CloseLink();
        return;
    }
    link->SendFrame(frame, m_form.IsChecked(ctl::UseXor));
    ++m_counters.Send;
    if (m_form.IsChecked(ctl::WaitAck)) {
        if (CountAnswer(link->WaitAck())) {
            m_form.AppendLogLine("Socket : ACK");
        } else {
            m_form.AppendErrorLine("Socket : no ACK received");
            NoteXorFailure(frame);
        }
    }
    link->CloseLink();
}

void CTestRun::CountLinkFailure() {
    ++m_counters.Send;
    ++m_counters.Bad;
}

bool CTestRun::CountAnswer(bool acknowledged) {
    m_form.SetAckIcon(acknowledged ? IconAckOk : IconAckFailed);
    ++(acknowledged ? m_counters.Good : m_counters.Bad);
    return acknowledged;
}

void CTestRun::NoteXorFailure(const DisplayFrame& frame) {
    if (m_form.IsChecked(ctl::XorTest) && !frame.empty())
        m_xorFailList += Hex2(frame.back()) + "\r\n";
}

void CTestRun::EndRun() {
    m_form.SetRunLayout(false);
    m_timer.stop();
    m_bRunning = false;
}

void CTestRun::FinishXorTest() {
    EndRun();
    if (m_counters.Bad == 0) {
        m_form.AppendLogLine("XOR test succesfull");
        m_form.MessageBox("XOR test succesfull");
    } else {
        m_form.AppendLogLine("XOR test fail : " + m_xorFailList);
        m_form.MessageBox("XOR test fail : \r\n" + m_xorFailList);
    }
}

} // namespace kalvor
