#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The sign's frame: STX, address, attribute, escaped text, CR, ETX, XOR checksum.
// Frames are byte strings with an explicit length: any byte value, NUL included, may occur.
namespace kalvor {

using Byte = std::uint8_t;
using DisplayFrame = std::vector<Byte>;

inline constexpr Byte STX = 0x02;
inline constexpr Byte ETX = 0x03;
inline constexpr Byte ACK = 0x06;
inline constexpr Byte CR = 0x0D;
inline constexpr Byte SO = 0x0E;
inline constexpr Byte NAK = 0x15;
inline constexpr Byte ETB = 0x17;

inline constexpr int kMessageMaxChars = 120;
inline constexpr std::size_t kMaxFrameBytes = 6 + 2 * kMessageMaxChars; // 246

// Escapes the message bytes for the frame body: 0x80 -> '$', '|' -> ETB,
// 0x81..0xFF -> SO followed by the byte without its high bit.
std::string EscapeMessageText(std::string_view message);

// XOR of every byte from the start up to and including the first ETX.
// Without an ETX there is no checksum: std::nullopt.
std::optional<Byte> ComputeXor(const Byte* data, std::size_t size);
inline std::optional<Byte> ComputeXor(const DisplayFrame& frame) {
    return ComputeXor(frame.data(), frame.size());
}

// Frame from the form's address value (low eight bits), attribute byte and message bytes.
DisplayFrame BuildDisplayFrame(int address, Byte attribute, std::string_view message);

// Fixed frame of the XOR test for one step (0..127); steps 2 and 3 travel as "20" and "21".
DisplayFrame BuildXorTestFrame(int address, int step);

// Offset of the first ETX, if any.
std::optional<std::size_t> FindFirstEtx(const Byte* data, std::size_t size);
inline std::optional<std::size_t> FindFirstEtx(const DisplayFrame& frame) {
    return FindFirstEtx(frame.data(), frame.size());
}

// The bytes that go on the line: up to and including the first ETX, then the byte that
// follows it when withChecksum is set (0x00 when the ETX ends the frame).
// Empty when the frame holds no ETX.
DisplayFrame WireBytes(const DisplayFrame& frame, bool withChecksum);

// Readable form of a frame for the activity log: control bytes as <STX>, <ETX>, <CR>,
// <SO>, <ETB>, <NUL>, and the byte after the first ETX as its checksum tag [xHH].
std::string RenderFrameText(const DisplayFrame& frame);

} // namespace kalvor
