#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <functional>

// Blocking waits that keep the window painted. A wait runs a nested event loop that handles
// painting, timers and socket or serial notifications but holds back every user input event
// (clicks and keys are delivered once the wait is over). While any wait is running,
// CWaitLoop::Depth() is above zero: handlers that must not start inside another one (the test
// run's timer step) check it and let their event go.
namespace kalvor {

class CWaitLoop {
public:
    CWaitLoop() = default;
    CWaitLoop(const CWaitLoop&) = delete;
    CWaitLoop& operator=(const CWaitLoop&) = delete;

    // Waits until ready() is true or the deadline passes. ready() is checked first, then
    // again each time Wake() is called (connect the awaited signals to it).
    // Returns true when ready() was satisfied, false on the deadline or on Cancel().
    bool Run(const std::function<bool()>& ready, QDeadlineTimer deadline);

    // Re-checks the condition of the running wait; harmless when none runs.
    void Wake();
    // Ends the running wait as failed.
    void Cancel();
    bool IsRunning() const { return m_loop != nullptr; }
    bool WasCancelled() const { return m_cancelled; }

    static int Depth();

private:
    QEventLoop* m_loop = nullptr;
    const std::function<bool()>* m_ready = nullptr;
    bool m_cancelled = false;
    bool m_satisfied = false;
};

// Pauses the calling handler for the given time, keeping the window painted and holding
// back user input.
void PauseKeepingPainted(std::chrono::milliseconds duration);

} // namespace kalvor
