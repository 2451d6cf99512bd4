#pragma once

#include "DisplayFrame.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <string>

class QAbstractSocket;

// One exchange with a networked sign: connect, send one frame, read one answer, close.
// Every wait of an exchange is bounded by one time-out budget armed just before the connect.
//
// The budget is a periodic timer. Each expiry ends the socket wait in progress, or, when none
// is in progress, the next wait that starts before the thread's event loop has run again; the
// call whose wait is ended fails with 10004. A call that does not have to wait (the answer is
// already there, the bytes fit at once) is never ended by it. While a call waits, the window
// keeps painting and timers keep running, but user input is held back until the call returns
// (see CWaitLoop); CWaitLoop::Depth() is above zero for the whole wait.
//
// An object serves one exchange on the thread that made it. It may be destroyed without
// CloseLink (nothing is left behind), but not from a handler that runs inside one of its own
// waits.
namespace kalvor {

inline constexpr int kSocketTimeoutMs = 1000;
inline constexpr std::chrono::milliseconds kSocketTimeout{kSocketTimeoutMs};
// A wait that finds no budget running (StopTimeout called, or no connect made) still ends
// after this long, and fails as if the budget had ended it.
inline constexpr std::chrono::milliseconds kUnbudgetedWaitLimit{kSocketTimeoutMs};
// Shortest period the budget timer takes; shorter or negative requests are raised to it.
inline constexpr std::chrono::milliseconds kMinimumBudgetPeriod{10};
// Largest datagram taken as an answer: one byte more means "too long for the buffer".
inline constexpr int kAckReceiveBytes = 10;
// Only the first 256 bytes of a frame are searched for its ETX.
inline constexpr std::size_t kEtxSearchBytes = 256;

class CBlockingSocket : public QObject {
    Q_OBJECT
public:
    ~CBlockingSocket() override;
    CBlockingSocket(const CBlockingSocket&) = delete;
    CBlockingSocket& operator=(const CBlockingSocket&) = delete;

    // Nonzero when connected, 0 when not (the reason is in SocketErrorText()).
    // address: a dotted quad ("192.168.1.5"); port: 1 to 65535. The port is taken wide on
    // purpose: the form's atoi value arrives unchanged, so 0, -5 or 70000 are refused (10049)
    // instead of being cut to some other 16-bit port.
    int ConnectWithTimeout(const std::string& address, long long port, int ms = kSocketTimeoutMs);
    // 1 when sent, 0 when the send failed or was cancelled, -1 when no ETX stands in the
    // frame's first 256 bytes (nothing sent).
    int SendFrame(const DisplayFrame& frame, bool withChecksum);
    // 1 when the answer's first byte is ACK.
    int WaitAck();
    // Ends the budget and the socket. Returns 0. Only the first call does anything.
    int CloseLink();
    // Arms the budget (periodic); returns its identifier (nonzero).
    quintptr StartTimeout(int ms);
    // Nonzero when a running budget was stopped.
    int StopTimeout();
    // "ERR #%d" with the last socket error of this thread, numbered as operators know it
    // (see SocketErrors.h).
    static std::string SocketErrorText();

protected:
    explicit CBlockingSocket(QObject* parent = nullptr);
    virtual std::unique_ptr<QAbstractSocket> MakeSocket() = 0;
    virtual bool IsDatagram() const = 0;

private:
    class Private;
    std::unique_ptr<Private> d;
};

class CTcpSocket : public CBlockingSocket {
    Q_OBJECT
public:
    explicit CTcpSocket(QObject* parent = nullptr);

protected:
    std::unique_ptr<QAbstractSocket> MakeSocket() override;
    bool IsDatagram() const override { return false; }
};

class CUdpSocket : public CBlockingSocket {
    Q_OBJECT
public:
    explicit CUdpSocket(QObject* parent = nullptr);

protected:
    std::unique_ptr<QAbstractSocket> MakeSocket() override;
    bool IsDatagram() const override { return true; }
};

} // namespace kalvor
