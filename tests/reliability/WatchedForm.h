#pragma once

#include "FakeForm.h"

#include <QElapsedTimer>

#include <algorithm>
#include <string>

// A headless form that watches every test step: how long it took (from the step's reading of
// the form to its showing of the counters), the longest pause between two step ends, and
// whether Send = Good + Bad held each time the counters were shown. For long runs it can stop
// recording events, so that the form itself does not grow.
class WatchedForm : public FakeForm {
public:
    bool keepEvents = true;

    int steps = 0;          // steps that showed their counters
    qint64 maxStepMs = 0;   // longest step
    qint64 maxGapMs = 0;    // longest time between two step ends
    int imbalances = 0;     // steps after which Send != Good + Bad
    QString firstImbalance; // the counters of the first such step

    WatchedForm() { m_clock.start(); }

    // Forgets the pause before the next step (a test that paused the run on purpose).
    void ResetGap() { m_lastEndMs = -1; }

    bool UpdateData(bool save) override {
        if (save && m_stepStartMs < 0)
            m_stepStartMs = m_clock.elapsed();
        if (keepEvents)
            return FakeForm::UpdateData(save);
        return !(save && validationFails);
    }
    void ShowTransferCounters(const kalvor::TransferCounters& c) override {
        if (keepEvents)
            FakeForm::ShowTransferCounters(c);
        else
            shown = c;
        if (m_stepStartMs < 0)
            return; // Start's zeroing, not a step
        const qint64 now = m_clock.elapsed();
        maxStepMs = std::max(maxStepMs, now - m_stepStartMs);
        if (m_lastEndMs >= 0)
            maxGapMs = std::max(maxGapMs, now - m_lastEndMs);
        m_lastEndMs = now;
        m_stepStartMs = -1;
        ++steps;
        if (IsChecked(kalvor::ctl::WaitAck) && c.Send != c.Good + c.Bad) {
            if (imbalances++ == 0)
                firstImbalance = QStringLiteral("step %1: Send %2 Good %3 Bad %4")
                                     .arg(steps)
                                     .arg(c.Send)
                                     .arg(c.Good)
                                     .arg(c.Bad);
        }
    }
    void SetAckIcon(kalvor::AckIcon i) override {
        if (keepEvents)
            FakeForm::SetAckIcon(i);
        else
            icon = i;
    }
    void SetRunLayout(bool running) override {
        if (keepEvents)
            FakeForm::SetRunLayout(running);
        else
            runLayout = running;
    }
    void AppendLogLine(const std::string& text) override {
        ++logLines;
        if (keepEvents)
            FakeForm::AppendLogLine(text);
    }
    void AppendErrorLine(const std::string& text) override {
        ++errorLines;
        if (keepEvents)
            FakeForm::AppendErrorLine(text);
    }
    void MessageBox(const std::string& text, kalvor::BoxIcon icon) override {
        ++boxes;
        if (keepEvents)
            FakeForm::MessageBox(text, icon);
    }

    int logLines = 0;
    int errorLines = 0;
    int boxes = 0;

private:
    QElapsedTimer m_clock;
    qint64 m_stepStartMs = -1;
    qint64 m_lastEndMs = -1;
};
