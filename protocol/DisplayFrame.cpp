#include "DisplayFrame.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kalvor {

std::string EscapeMessageText(std::string_view message) {
    std::string body;
    body.reserve(message.size() * 2);
    for (const char ch : message) {
        auto c = static_cast<Byte>(ch);
        // The three passes of the original escaping, folded into one walk: a 0x80 becomes '$'
        // and a typed '|' becomes ETB before the high bytes are split, so the '|' that 0xFC
        // turns into stays a '|'.
        if (c == 0x80) {
            body.push_back('$');
        } else if (c == '|') {
            body.push_back(static_cast<char>(ETB));
        } else if (c > 0x80) {
            body.push_back(static_cast<char>(SO));
            body.push_back(static_cast<char>(c - 0x80));
        } else {
            body.push_back(static_cast<char>(c));
        }
    }
    return body;
}

std::optional<std::size_t> FindFirstEtx(const Byte* data, std::size_t size) {
    const Byte* end = data + size;
    const Byte* it = std::find(data, end, ETX);
    if (it == end)
        return std::nullopt;
    return static_cast<std::size_t>(it - data);
}

std::optional<Byte> ComputeXor(const Byte* data, std::size_t size) {
    Byte x = 0;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= data[i];
        if (data[i] == ETX)
            return x;
    }
    return std::nullopt;
}

namespace {

void AppendChecksum(DisplayFrame& frame) {
    // Both builders end the frame with an ETX before this, so the checksum always exists.
    frame.push_back(ComputeXor(frame).value_or(0));
}

} // namespace

DisplayFrame BuildDisplayFrame(int address, Byte attribute, std::string_view message) {
    const std::string body = EscapeMessageText(message);
    DisplayFrame frame;
    frame.reserve(body.size() + 6);
    frame.push_back(STX);
    frame.push_back(static_cast<Byte>(address & 0xFF));
    frame.push_back(attribute);
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(CR);
    frame.push_back(ETX);
    AppendChecksum(frame);
    return frame;
}

DisplayFrame BuildXorTestFrame(int address, int step) {
    DisplayFrame frame{STX, static_cast<Byte>(address & 0xFF), '0', 'X', 'O', 'R', CR};
    if (step == 2 || step == 3) {
        frame.push_back('2');
        frame.push_back(step == 3 ? '1' : '0');
    } else {
        frame.push_back(static_cast<Byte>(step));
    }
    frame.push_back(CR);
    frame.push_back(ETX);
    AppendChecksum(frame);
    return frame;
}

DisplayFrame WireBytes(const DisplayFrame& frame, bool withChecksum) {
    const auto etx = FindFirstEtx(frame);
    if (!etx)
        return {};
    DisplayFrame wire(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(*etx + 1));
    if (withChecksum)
        wire.push_back(*etx + 1 < frame.size() ? frame[*etx + 1] : Byte{0});
    return wire;
}

std::string RenderFrameText(const DisplayFrame& frame) {
    static constexpr std::array<std::pair<Byte, std::string_view>, 6> kTags{{
        {ETX, "<ETX>"},
        {STX, "<STX>"},
        {CR, "<CR>"},
        {SO, "<SO>"},
        {ETB, "<ETB>"},
        {0x00, "<NUL>"},
    }};
    // The byte after the first ETX is the checksum: its tag goes right after that ETX and the
    // frame's last byte gives way to it. For a built frame the two are the same byte, so the
    // checksum shows only as its tag, whatever its value.
    const auto etx = FindFirstEtx(frame);
    std::size_t tagAt = frame.size() + 1; // past the end: no tag
    std::size_t count = frame.size();
    char tag[8] = {};
    if (etx && *etx + 1 < frame.size()) {
        tagAt = *etx + 1;
        count = frame.size() - 1;
        std::snprintf(tag, sizeof tag, "[x%02X]", static_cast<unsigned>(frame[tagAt]));
    }
    std::string text;
    text.reserve(frame.size() * 3 + 8);
    for (std::size_t i = 0; i <= count; ++i) {
        if (i == tagAt)
            text += tag;
        if (i == count)
            break;
        const auto found = std::find_if(kTags.begin(), kTags.end(),
                                        [b = frame[i]](const auto& t) { return t.first == b; });
        if (found != kTags.end())
            text += found->second;
        else
            text.push_back(static_cast<char>(frame[i]));
    }
    return text;
}

} // namespace kalvor
