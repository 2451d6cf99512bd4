#pragma once

#include "BenchUtil.h"
#include "OperatorForm.h"
#include "PortCom.h"
#include "SerialSettings.h"

#include <string>
#include <vector>

// A headless operator form for the run benchmarks. It holds the values the window would show
// and times each test step on a steady clock: a step starts when the step takes the form's
// values (the data exchange in the save direction, the step's first act after its checks), and
// its cost runs to its last log entry. Nothing grows per step: the sample vectors are sized up
// front, so that a long run measures the step code, not this form.
namespace kalvor::bench {

class CBenchForm : public IOperatorForm {
public:
    explicit CBenchForm(std::size_t expectedSteps) {
        // Filled once and emptied: the room is reserved and its pages are already in memory,
        // so taking samples adds nothing to the process's resident size.
        m_stepStarts.resize(expectedSteps + 16);
        m_stepStarts.clear();
        m_stepCosts.resize(expectedSteps + 16);
        m_stepCosts.clear();
    }

    int linkMode = kLinkUdp;
    std::string ip = "127.0.0.1";
    std::string targetPort = "13";
    std::string delay = "10";
    std::string message = "TEST";
    bool xorTest = false;
    SerialSettings serial{0, 5, true}; // COM1, 19200 Bd, "Use Parity" as the window starts

    // Clock readings of every step start, and each step's cost in ms.
    const std::vector<Clock::time_point>& StepStarts() const { return m_stepStarts; }
    const std::vector<double>& StepCosts() const { return m_stepCosts; }
    int Acknowledged() const { return m_acks; }
    int NotAcknowledged() const { return m_noAcks; }
    int Boxes() const { return m_boxes; }
    const std::string& LastLogLine() const { return m_lastLine; }
    Clock::time_point LastLogTime() const { return m_lastLog; }
    void ClearSamples() {
        m_stepStarts.clear();
        m_stepCosts.clear();
        m_acks = m_noAcks = 0;
    }

    bool UpdateData(bool save) override {
        if (save) {
            CloseStep();
            m_stepStarts.push_back(Clock::now());
            m_inStep = true;
        }
        return true;
    }
    int AddressValue() const override { return 48; }
    std::string MessageText() const override { return message; }
    std::string AttributeChar() const override { return "0"; }
    int LinkMode() const override { return linkMode; }
    bool IsChecked(int id) const override {
        return id == ctl::WaitAck || id == ctl::UseXor ||
               (id == ctl::UseParity && serial.useParity) || (id == ctl::XorTest && xorTest);
    }
    int ComPortIndex() const override { return serial.portIndex; }
    std::string TargetPortText() const override { return targetPort; }
    std::string IpAddressText() const override { return ip; }
    std::string DelayText() const override { return delay; }
    CPortCom& PortCom() override { return m_port; }
    int OpenPortFromForm() override { return OpenPortWithSettings(m_port, serial); }
    void SetAckIcon(AckIcon icon) override {
        if (icon == IconAckOk)
            ++m_acks;
        else if (icon == IconAckFailed)
            ++m_noAcks;
    }
    // Called at the end of every step (and once at Start, before the first one).
    void ShowTransferCounters(const TransferCounters&) override { CloseStep(); }
    void SetRunLayout(bool) override {}
    void AppendLogLine(const std::string& text) override {
        m_lastLog = Clock::now();
        m_lastLine.assign(text, 0, std::min<std::size_t>(text.size(), kKeptLineChars));
    }
    void AppendErrorLine(const std::string& text) override { AppendLogLine("!Error : " + text); }
    void MessageBox(const std::string&, BoxIcon) override { ++m_boxes; }

private:
    static constexpr std::size_t kKeptLineChars = 200;

    void CloseStep() {
        if (!m_inStep)
            return;
        m_inStep = false;
        m_stepCosts.push_back(Ms(m_lastLog - m_stepStarts.back()));
    }

    CPortCom m_port;
    std::vector<Clock::time_point> m_stepStarts;
    std::vector<double> m_stepCosts;
    bool m_inStep = false;
    Clock::time_point m_lastLog{};
    std::string m_lastLine;
    int m_acks = 0;
    int m_noAcks = 0;
    int m_boxes = 0;
};

} // namespace kalvor::bench
