#pragma once

#include "DisplayFrame.h"

#include <QString>

#include <chrono>
#include <memory>

class QSerialPort;

// The serial link to the sign: one COM port, opened by number with the chosen line settings,
// frames written byte by byte up to their first ETX, the sign's one-byte answer read with a
// time-out of about one second.
namespace kalvor {

inline constexpr std::chrono::milliseconds kSerialReadTimeout{1001}; // 1 ms per byte + 1000
inline constexpr std::chrono::milliseconds kSerialByteWriteTimeout{101}; // 1 ms per byte + 100

class CPortCom {
public:
    CPortCom();
    virtual ~CPortCom();
    CPortCom(const CPortCom&) = delete;
    CPortCom& operator=(const CPortCom&) = delete;

    // portIndex 0 is COM1. parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. One stop bit.
    // Returns 1 when the port is open and configured, 0 otherwise.
    int Open(int portIndex, quint32 speed, quint8 dataBits, quint8 parity);
    int Close();
    int IsOpen() const { return m_bOpen; }
    // 1 and the byte when one arrived within the read time-out, 0 otherwise.
    int ReadByte(quint8& b);
    // 1 when the byte read is ACK.
    int WaitAck();
    int PurgeTx();
    // Writes up to and including the first ETX, then the following byte when withChecksum,
    // then waits until everything has left the line. Always 1.
    int WriteFrame(const DisplayFrame& frame, bool withChecksum);

    // Device path of the last Open and, after a failure, why it failed in plain words.
    QString DevicePath() const { return m_devicePath; }
    QString LastOpenError() const { return m_lastError; }

protected:
    int m_bOpen = 0;

private:
    std::unique_ptr<QSerialPort> m_port;
    QString m_devicePath;
    QString m_lastError;
};

} // namespace kalvor
