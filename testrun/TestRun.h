#pragma once

#include "DisplayFrame.h"
#include "OperatorForm.h"

#include <QObject>
#include <QTimer>

#include <string>

// Test runs: the loop test resends the form's frame at the chosen delay; the XOR test sends the
// 128 frames whose checksums cover 0x00 to 0x7F and names those the sign refused.
namespace kalvor {

class CTestRun : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned kRunTimerId = 1;
    static constexpr int kXorTestFrames = 128;

    explicit CTestRun(IOperatorForm& form, QObject* parent = nullptr);

    // The Start / Stop button.
    void ToggleTestRun();
    // One step of the active run, for a timer event with the given identifier.
    void RunTestStep(unsigned timerId);
    bool IsRunning() const { return m_bRunning; }

    const TransferCounters& Counters() const { return m_counters; }
    int XorTestStep() const { return m_xorTestStep; }
    const std::string& XorFailList() const { return m_xorFailList; }
    int TimerPeriodMs() const { return m_timer.interval(); }

private:
    void FinishXorTest();
    // Back to the idle layout with the run timer stopped: shared by Stop and the XOR test's end.
    void EndRun();
    void DeliverOverSerial(const DisplayFrame& frame);
    void DeliverOverSocket(const DisplayFrame& frame);
    // A link that could not be opened or connected: the frame counts as sent and failed.
    void CountLinkFailure();
    // Shows and counts the sign's answer to a frame that went out; returns it.
    bool CountAnswer(bool acknowledged);
    // With "XOR TEST" checked, a frame that got no answer adds its checksum to the fail list.
    void NoteXorFailure(const DisplayFrame& frame);

    IOperatorForm& m_form;
    QTimer m_timer;
    bool m_bRunning = false;
    bool m_bInStep = false;
    unsigned m_nTimerId = 0;
    int m_xorTestStep = 0;
    std::string m_xorFailList;
    TransferCounters m_counters;
};

} // namespace kalvor
