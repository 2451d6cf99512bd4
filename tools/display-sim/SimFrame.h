#pragma once

#include "DisplaySim.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

// How the simulator cuts frames out of what arrives and what it makes of them.
//
// A frame starts at STX and ends at the FIRST ETX after it, exactly as Kalvor's senders cut
// the line there. An escaped 0x83 in the text (SO ETX) therefore ends the frame early, and the
// byte Kalvor sends after that inner ETX is taken for the checksum: such a frame is reported
// as received, and it is not valid (the byte before its ETX is not CR).
//
// On a stream (TCP, pty) a byte that follows the ETX is the checksum byte, whatever its value
// (the XOR test gives every checksum from 0x00 to 0x7F, STX and ETX included):
// - checksum On: that byte is always awaited;
// - checksum Off: the frame ends at the ETX, a following byte is noise before the next STX;
// - checksum Auto: a byte that arrives within kChecksumWait of the ETX is the checksum,
//   otherwise the frame has none.
//
// Resynchronisation on a stream: bytes outside a frame are skipped until an STX. Inside a
// frame an STX restarts the frame unless it is the byte escaped by an SO (an escaped 0x82,
// SO STX, is part of the text); the bytes before the restart are discarded. A frame that
// reaches kFrameBufferLimit without an ETX is discarded and the framer waits for the next STX,
// so a flood without STX or ETX never grows a buffer. Frames built by Kalvor have at most 245
// bytes up to their ETX.
//
// A datagram is one frame: its first byte must be STX, and a byte after the first ETX is the
// checksum byte (with checksum Off it is a stray byte, and the datagram is not a valid frame).
// Anything after the checksum byte makes the datagram invalid too. A datagram longer than
// kFrameBufferLimit is analysed on its first kFrameBufferLimit bytes only and is invalid.
namespace kalvor::sim {

inline constexpr int kFrameBufferLimit = 300;
inline constexpr std::chrono::milliseconds kChecksumWait{20};
// Records kept for Records(); the oldest go first.
inline constexpr int kMaxRecords = 4096;

// Analyses bytes that begin where the frame begins (STX, when well formed) and run to the
// first ETX and, when one was received, the checksum byte after it (a datagram: all its bytes).
// Fills every field of the record but link and reply.
FrameRecord AnalyseFrame(const QByteArray& bytes, ChecksumMode mode, bool datagram);

// The text of a frame body for display: SO c gives c + 0x80 and ETB gives '|', then the bytes
// are read as Windows-1252. The body of an XOR test frame ("XOR", CR, the step) is shown as it
// is, control bytes included.
QString DecodeBodyText(const QByteArray& body, bool xorTestFrame);

// A JSON string literal (quotes included): control characters as \u escapes, the rest UTF-8.
QString JsonString(const QString& text);

// Cuts frames out of a byte stream, one byte at a time. The owner runs the checksum timer.
class CStreamFramer {
public:
    enum class State { Idle, InFrame, AwaitChecksum };
    enum class Outcome {
        Nothing,          // byte skipped or stored
        FrameDone,        // a frame is complete: in bytes
        AwaitingChecksum, // ETX stored; the checksum byte may follow
        Discarded,        // a started frame was dropped: its byte count and reason
    };
    struct Result {
        Outcome outcome = Outcome::Nothing;
        QByteArray bytes;
        int discarded = 0;
        QString reason; // "restart" or "overflow"
    };

    Result Feed(char byte, ChecksumMode mode);
    // Ends the wait for a checksum byte: the frame up to its ETX (empty when not waiting).
    QByteArray TakeWithoutChecksum();
    State CurrentState() const { return m_state; }
    void Reset();

private:
    State m_state = State::Idle;
    QByteArray m_buffer;
    bool m_escapeNext = false; // the previous byte was an SO that escapes this one
};

} // namespace kalvor::sim
