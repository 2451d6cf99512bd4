#include "WaitLoop.h"

#include <QTimer>

#include <algorithm>

namespace kalvor {

namespace {
int g_depth = 0;
}

int CWaitLoop::Depth() {
    return g_depth;
}

bool CWaitLoop::Run(const std::function<bool()>& ready, QDeadlineTimer deadline) {
    m_cancelled = false;
    m_satisfied = ready();
    if (m_satisfied)
        return true;
    if (deadline.hasExpired())
        return false;

    QEventLoop loop;
    QTimer expiry;
    expiry.setSingleShot(true);
    expiry.setTimerType(Qt::PreciseTimer);
    QObject::connect(&expiry, &QTimer::timeout, &loop, [&loop] { loop.quit(); });
    if (!deadline.isForever())
        expiry.start(std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));

    m_loop = &loop;
    m_ready = &ready;
    ++g_depth;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    --g_depth;
    m_loop = nullptr;
    m_ready = nullptr;
    // A condition that came true just as the deadline fell still counts.
    if (!m_satisfied && !m_cancelled)
        m_satisfied = ready();
    return m_satisfied;
}

void CWaitLoop::Wake() {
    if (m_loop && m_ready && (*m_ready)()) {
        m_satisfied = true;
        m_loop->quit();
    }
}

void CWaitLoop::Cancel() {
    if (m_loop) {
        m_cancelled = true;
        m_loop->quit();
    }
}

void PauseKeepingPainted(std::chrono::milliseconds duration) {
    CWaitLoop wait;
    wait.Run([] { return false; }, QDeadlineTimer(duration, Qt::PreciseTimer));
}

} // namespace kalvor
