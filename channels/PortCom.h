#pragma once

#include "DisplayFrame.h"

#include <QString>

#include <chrono>
#include <memory>

class QSerialPort;

// The serial link to the sign: one COM port, opened by number with the chosen line settings,
// frames written byte by byte up to their first ETX, the sign's one-byte answer read with a
// time-out of about one second.
//
// Every wait (answer, byte write, drain) runs through CWaitLoop, so the window keeps painting
// while user input is held back. A device that reports that it is gone (an unplugged USB
// adapter, a pseudo-terminal whose far side closed) closes the port: IsOpen() then answers 0
// and the next send opens it again.
namespace kalvor {

inline constexpr std::chrono::milliseconds kSerialReadTimeout{1001};     // 1 ms per byte + 1000
inline constexpr std::chrono::milliseconds kSerialByteWriteTimeout{101}; // 1 ms per byte + 100
// Added to the time the frame takes on the line at the chosen speed when waiting for the
// transmitter to empty.
inline constexpr std::chrono::milliseconds kSerialDrainMargin{100};
// How often the transmit queue is looked at while draining.
inline constexpr std::chrono::milliseconds kSerialDrainPoll{2};
// Received bytes the port keeps until they are read, like a serial driver's receive buffer.
// Beyond it the port stops reading from the device, which then holds back or drops what
// comes: a sign that floods the line cannot make the tool's memory grow.
inline constexpr qint64 kSerialReceiveBufferBytes = 4096;

class CPortCom {
public:
    CPortCom();
    virtual ~CPortCom();
    CPortCom(const CPortCom&) = delete;
    CPortCom& operator=(const CPortCom&) = delete;

    // portIndex 0 is COM1. parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. One stop bit.
    // The device is taken for this process alone. Returns 1 when the port is open and
    // configured, 0 otherwise (LastOpenError() then says why).
    int Open(int portIndex, quint32 speed, quint8 dataBits, quint8 parity);
    // Discards pending output, then pending input, and releases the device.
    // 1 when an open device was closed, 0 when there was none.
    int Close();
    int IsOpen() const { return m_bOpen; }
    // 1 and the byte when one arrived within the read time-out, 0 otherwise.
    int ReadByte(quint8& b);
    // 1 when the byte read is ACK. Takes exactly one byte from the line, whatever it is.
    int WaitAck();
    // Discards the output not yet sent. The receive side is left alone.
    int PurgeTx();
    // Writes up to and including the first ETX, then the following byte when withChecksum
    // (0x00 when the ETX ends the frame), then waits until everything has left the line.
    // A frame without ETX puts nothing on the line. Always 1.
    int WriteFrame(const DisplayFrame& frame, bool withChecksum);

    // Device path of the last Open and, after a failure, why it failed in plain words (also
    // why the port closed itself when its device went away). Empty after a successful Open.
    QString DevicePath() const { return m_devicePath; }
    QString LastOpenError() const { return m_lastError; }

    // Line settings asked for by the last Open. A pseudo-terminal takes the speed but neither
    // parity nor data bits; a real UART gets them all, or Open fails.
    quint32 Speed() const { return m_speed; }
    quint8 DataBits() const { return m_dataBits; }
    quint8 Parity() const { return m_parity; }

protected:
    int m_bOpen = 0;

private:
    void OnPortError(int error);
    bool DeviceHungUp() const;
    void CloseGoneDevice();
    bool Usable() const;
    bool WriteOneByte(Byte b);
    void Drain(std::size_t byteCount);
    bool TransmitterEmpty() const;
    QString ComName() const;

    std::unique_ptr<QSerialPort> m_port;
    QString m_devicePath; // as named: KALVOR_COM<n> or /dev/ttyS<n-1>
    QString m_device;     // the device itself, symbolic links resolved
    QString m_lastError;
    int m_portIndex = 0;
    quint32 m_speed = 0;
    quint8 m_dataBits = 8;
    quint8 m_parity = 0;
    bool m_deviceGone = false;
    quint64 m_session = 0; // counts Opens, so a late notice of a gone device skips a new session
};

} // namespace kalvor
