// libFuzzer target for the simulator's frame decoder: the stream framer (TCP, pty) and the
// frame analysis (datagrams and framed stream bytes), with their bounds and the text they
// decode checked, not only the absence of crashes.
//
// Input: the first byte chooses how the bytes are read (bits 0-1: checksum mode Auto, On,
// Off; bit 2: the checksum wait of Auto expires right after every ETX); the rest is what
// arrives on the line.
#include "DisplayFrame.h"
#include "SimFrame.h"
#include "TextCodec.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kalvor;
using namespace kalvor::sim;

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort();
}

ChecksumMode ModeOf(std::uint8_t control) {
    switch (control & 0x03) {
    case 1:
        return ChecksumMode::On;
    case 2:
        return ChecksumMode::Off;
    default:
        return ChecksumMode::Auto;
    }
}

Byte At(const QByteArray& bytes, qsizetype i) {
    return static_cast<Byte>(bytes.at(i));
}

// What a record may claim about the bytes it came from.
void CheckRecord(const FrameRecord& record, const QByteArray& bytes, ChecksumMode mode) {
    Require(record.raw.size() <= kFrameBufferLimit);
    Require(bytes.startsWith(record.raw));
    const QString json = JsonString(record.text);
    Require(json.size() >= 2 && json.front() == u'"' && json.back() == u'"');
    for (const QChar c : json)
        Require(c.unicode() >= 0x20);
    if (!record.valid)
        return;
    const QByteArray& raw = record.raw;
    const qsizetype etx = raw.indexOf(char(ETX));
    Require(!raw.isEmpty() && At(raw, 0) == STX);
    Require(etx >= 4 && At(raw, etx - 1) == CR);
    Require(record.address == At(raw, 1) && record.attribute == At(raw, 2));
    if (record.xorByte) {
        Require(etx + 2 == raw.size());
        Require(record.expectedXor && *record.xorByte == *record.expectedXor);
    } else {
        Require(mode != ChecksumMode::On && etx + 1 == raw.size());
    }
}

// Feeds a stream and checks every frame it gives: it starts with STX, ends at its first ETX
// (or one byte later, the checksum), and no buffer outgrows the limit.
int FeedStream(const QByteArray& line, ChecksumMode mode, bool expireAtEtx,
               QList<QByteArray>* frames) {
    CStreamFramer framer;
    int count = 0;
    const auto done = [&](const QByteArray& bytes, bool withChecksum) {
        Require(!bytes.isEmpty() && At(bytes, 0) == STX);
        Require(bytes.size() <= kFrameBufferLimit + 1);
        Require(bytes.indexOf(char(ETX)) == bytes.size() - (withChecksum ? 2 : 1));
        CheckRecord(AnalyseFrame(bytes, mode, false), bytes, mode);
        if (frames)
            frames->append(bytes);
        ++count;
    };
    for (const char c : line) {
        const CStreamFramer::Result r = framer.Feed(c, mode);
        switch (r.outcome) {
        case CStreamFramer::Outcome::FrameDone:
            done(r.bytes, mode != ChecksumMode::Off);
            break;
        case CStreamFramer::Outcome::AwaitingChecksum:
            Require(mode != ChecksumMode::Off);
            Require(framer.CurrentState() == CStreamFramer::State::AwaitChecksum);
            if (mode == ChecksumMode::Auto && expireAtEtx)
                done(framer.TakeWithoutChecksum(), false);
            break;
        case CStreamFramer::Outcome::Discarded:
            Require(r.discarded >= 1 && r.discarded <= kFrameBufferLimit);
            Require(r.reason == QLatin1String("restart") || r.reason == QLatin1String("overflow"));
            break;
        case CStreamFramer::Outcome::Nothing:
            Require(r.bytes.isEmpty());
            break;
        }
    }
    const QByteArray rest = framer.TakeWithoutChecksum();
    if (!rest.isEmpty())
        done(rest, false);
    return count;
}

// A message the sign must read back as typed: the bytes the frame format cannot carry
// unchanged (STX, ETX, SO, ETB typed raw, 0x80 which travels as '$', 0x83 which escapes to
// an inner ETX) are replaced first.
std::string CarriableMessage(const QByteArray& bytes) {
    std::string message;
    for (qsizetype i = 0; i < bytes.size() && i < kMessageMaxChars; ++i) {
        const Byte b = At(bytes, i);
        const bool carriable =
            b != STX && b != ETX && b != SO && b != ETB && b != 0x80 && b != 0x83;
        message.push_back(carriable ? char(b) : 'x');
    }
    return message;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const ChecksumMode mode = ModeOf(data[0]);
    const bool expireAtEtx = (data[0] & 0x04) != 0;
    const QByteArray line(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // As a datagram, and as a stream.
    CheckRecord(AnalyseFrame(line, mode, true), line, mode);
    FeedStream(line, mode, expireAtEtx, nullptr);

    // The frame Kalvor builds from these bytes as a message comes back with the same text,
    // in one datagram and on a stream.
    const std::string message = CarriableMessage(line);
    const DisplayFrame frame = BuildDisplayFrame(0x30, 'A', message);
    const QByteArray wire(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
    const QString typed = QString::fromStdU16String(Cp1252ToUtf16(message));

    const FrameRecord datagram = AnalyseFrame(wire, mode, true);
    if (mode != ChecksumMode::Off) {
        Require(datagram.valid && datagram.text == typed);
        Require(datagram.xorByte == std::optional<int>(frame.back()));
    }
    QList<QByteArray> frames;
    Require(FeedStream(wire, ChecksumMode::On, false, &frames) == 1);
    const FrameRecord streamed = AnalyseFrame(frames.first(), ChecksumMode::On, false);
    Require(streamed.valid && streamed.text == typed && streamed.raw == wire);
    return 0;
}
