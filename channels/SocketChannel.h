#pragma once

#include "DisplayFrame.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <string>

class QAbstractSocket;

// One exchange with a networked sign: connect, send one frame, read one answer, close.
// Every wait of an exchange is bounded by one time-out budget armed just before the connect.
namespace kalvor {

inline constexpr int kSocketTimeoutMs = 1000;

class CBlockingSocket : public QObject {
    Q_OBJECT
public:
    ~CBlockingSocket() override;

    // Nonzero when connected, 0 when not (the reason is in SocketErrorText()).
    int ConnectWithTimeout(const std::string& address, unsigned port, int ms = kSocketTimeoutMs);
    // 1 when sent, 0 when the send failed or was cancelled, -1 when no ETX stands in the
    // frame's first 256 bytes (nothing sent).
    int SendFrame(const DisplayFrame& frame, bool withChecksum);
    // 1 when the answer's first byte is ACK.
    int WaitAck();
    // Ends the budget and the socket. Returns 0.
    int CloseLink();
    // Arms the budget; returns its identifier (nonzero).
    quintptr StartTimeout(int ms);
    int StopTimeout();
    // "ERR #%d" with the last socket error of this thread, numbered as operators know it.
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
