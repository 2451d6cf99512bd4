// libFuzzer target for the frame code: escaping, building, checksum, XOR-test frames, the bytes
// put on the line, rendering, and the text conversions. Each property is checked, not only
// the absence of crashes.
#include "DisplayFrame.h"
#include "TextCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace kalvor;

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort();
}

bool HasNoRawControl(const std::string& text) {
    for (const char c : text) {
        const auto b = static_cast<Byte>(c);
        if (b == 0x00 || b == STX || b == ETX || b == CR || b == SO || b == ETB)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int address = data[0];
    const Byte attribute = data[1];
    const std::string_view message(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::string body = EscapeMessageText(message);
    Require(body.size() >= message.size() && body.size() <= 2 * message.size());
    for (const char c : body)
        Require(static_cast<Byte>(c) < 0x80);

    const DisplayFrame frame = BuildDisplayFrame(address, attribute, message);
    Require(frame.size() == body.size() + 6);
    Require(frame.front() == STX && frame[frame.size() - 2] == ETX);
    const auto etx = FindFirstEtx(frame);
    Require(etx.has_value());
    Require(ComputeXor(frame) == std::optional<Byte>(frame.back()));
    if (*etx == frame.size() - 2) {
        Byte x = 0;
        for (const Byte b : frame)
            x ^= b;
        Require(x == 0);
    }

    for (const bool withChecksum : {false, true}) {
        const DisplayFrame wire = WireBytes(frame, withChecksum);
        Require(wire.size() == *etx + 1 + (withChecksum ? 1 : 0));
    }

    // Any bytes at all render without a raw control byte left in the text.
    const DisplayFrame raw(data, data + size);
    Require(HasNoRawControl(RenderFrameText(raw)));
    Require(HasNoRawControl(RenderFrameText(frame)));
    (void)ComputeXor(raw);
    (void)WireBytes(raw, true);

    // The XOR test frame's checksum is 0x74 ^ address ^ step, unless the address byte is
    // itself an ETX (outside the form's 48 to 127): that ETX then ends the checksummed part.
    const DisplayFrame xorFrame = BuildXorTestFrame(address, data[1] & 0x7F);
    Require(ComputeXor(xorFrame) == std::optional<Byte>(xorFrame.back()));
    if (Byte(address) != ETX)
        Require(xorFrame.back() == Byte(0x74 ^ (address & 0xFF) ^ (data[1] & 0x7F)));

    const std::string typed(message);
    const int value = AtoI(typed);
    (void)value;
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < message.size(); i += 2)
        wide.push_back(char16_t(Byte(message[i]) | (Byte(message[i + 1]) << 8)));
    Require(Utf16ToCp1252(wide).size() <= wide.size());
    Require(Utf16ToCp1252(Cp1252ToUtf16(typed)) == typed);
    return 0;
}
