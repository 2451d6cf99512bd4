#include "SimFrame.h"

#include "DisplayFrame.h"
#include "TextCodec.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kalvor::sim {

namespace {

Byte At(const QByteArray& bytes, qsizetype i) {
    return static_cast<Byte>(bytes.at(i));
}

} // namespace

QString DecodeBodyText(const QByteArray& body, bool xorTestFrame) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(body.size()));
    if (xorTestFrame) {
        bytes.assign(body.constData(), static_cast<std::size_t>(body.size()));
    } else {
        for (qsizetype i = 0; i < body.size(); ++i) {
            const Byte b = At(body, i);
            if (b == SO && i + 1 < body.size() && At(body, i + 1) < 0x80) {
                bytes.push_back(static_cast<char>(At(body, i + 1) + 0x80));
                ++i;
            } else if (b == ETB) {
                bytes.push_back('|');
            } else {
                // An SO at the end of the body (a frame cut at an inner ETX) stays an SO.
                bytes.push_back(static_cast<char>(b));
            }
        }
    }
    return QString::fromStdU16String(Cp1252ToUtf16(bytes));
}

QString JsonString(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"') {
            out += QStringLiteral("\\\"");
        } else if (u == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0)) {
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    out += u'"';
    return out;
}

FrameRecord AnalyseFrame(const QByteArray& received, ChecksumMode mode, bool datagram) {
    FrameRecord record;
    const bool truncated = received.size() > kFrameBufferLimit;
    const QByteArray bytes = truncated ? received.left(kFrameBufferLimit) : received;
    record.raw = bytes;

    const qsizetype etx = bytes.indexOf(char(ETX));
    const bool startsWithStx = !bytes.isEmpty() && At(bytes, 0) == STX;
    const qsizetype end = etx >= 0 ? etx : bytes.size(); // end of the checksummed part

    bool stray = truncated; // bytes that belong to no frame
    if (etx >= 0 && etx + 1 < bytes.size()) {
        if (datagram && mode == ChecksumMode::Off) {
            stray = true;
        } else {
            record.xorByte = At(bytes, etx + 1);
            stray = stray || etx + 2 < bytes.size();
        }
    }
    if (etx >= 0) {
        const auto x = ComputeXor(reinterpret_cast<const Byte*>(bytes.constData()),
                                  static_cast<std::size_t>(bytes.size()));
        if (x)
            record.expectedXor = *x;
    }

    if (startsWithStx && end > 1)
        record.address = At(bytes, 1);
    if (startsWithStx && end > 2)
        record.attribute = At(bytes, 2);

    // The body runs from after the attribute to the CR that closes it (or to where the frame
    // stops when it is malformed). Bytes that do not start with STX are shown whole.
    qsizetype bodyStart = 0;
    qsizetype bodyEnd = end;
    if (startsWithStx) {
        bodyStart = std::min<qsizetype>(3, end);
        if (etx >= 0 && etx - 1 >= bodyStart && At(bytes, etx - 1) == CR)
            bodyEnd = etx - 1;
    }
    const QByteArray body = bytes.mid(bodyStart, bodyEnd - bodyStart);
    const bool xorTest = record.attribute == '0' && body.startsWith("XOR\r");
    record.text = DecodeBodyText(body, xorTest);

    bool checksumOk = false;
    if (record.xorByte)
        checksumOk = record.expectedXor && *record.xorByte == *record.expectedXor;
    else
        checksumOk = mode != ChecksumMode::On;
    record.valid = startsWithStx && etx >= 4 && At(bytes, etx - 1) == CR && !stray && checksumOk;
    return record;
}

CStreamFramer::Result CStreamFramer::Feed(char byte, ChecksumMode mode) {
    Result result;
    const auto b = static_cast<Byte>(byte);
    switch (m_state) {
    case State::Idle:
        if (b == STX) {
            m_buffer = QByteArray(1, byte);
            m_escapeNext = false;
            m_state = State::InFrame;
        }
        return result;
    case State::InFrame:
        if (b == STX && !m_escapeNext) {
            result.outcome = Outcome::Discarded;
            result.discarded = int(m_buffer.size());
            result.reason = QStringLiteral("restart");
            m_buffer = QByteArray(1, byte);
            return result;
        }
        m_buffer.append(byte);
        m_escapeNext = b == SO && !m_escapeNext;
        if (b == ETX) {
            if (mode == ChecksumMode::Off) {
                result.outcome = Outcome::FrameDone;
                result.bytes = std::exchange(m_buffer, {});
                m_state = State::Idle;
            } else {
                result.outcome = Outcome::AwaitingChecksum;
                m_state = State::AwaitChecksum;
            }
        } else if (m_buffer.size() >= kFrameBufferLimit) {
            result.outcome = Outcome::Discarded;
            result.discarded = int(m_buffer.size());
            result.reason = QStringLiteral("overflow");
            Reset();
        }
        return result;
    case State::AwaitChecksum:
        m_buffer.append(byte);
        result.outcome = Outcome::FrameDone;
        result.bytes = std::exchange(m_buffer, {});
        m_state = State::Idle;
        return result;
    }
    return result;
}

QByteArray CStreamFramer::TakeWithoutChecksum() {
    if (m_state != State::AwaitChecksum)
        return {};
    m_state = State::Idle;
    return std::exchange(m_buffer, {});
}

void CStreamFramer::Reset() {
    m_state = State::Idle;
    m_buffer.clear();
    m_escapeNext = false;
}

} // namespace kalvor::sim
