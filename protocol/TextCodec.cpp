#include "TextCodec.h"

#include <array>
#include <climits>
#include <cstdint>

namespace kalvor {

namespace {

// Unicode of the bytes 0x80..0x9F; the other high bytes are Latin-1.
constexpr std::array<char16_t, 32> kHighRow{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t ByteToUnicode(unsigned char b) {
    if (b >= 0x80 && b < 0xA0)
        return kHighRow[b - 0x80];
    return b;
}

int UnicodeToByte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<int>(c);
    for (std::size_t i = 0; i < kHighRow.size(); ++i) {
        if (kHighRow[i] == c)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::string Utf16ToCp1252(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        // A surrogate pair is one character: it has no byte and becomes a single '?'.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            ++i;
            out.push_back('?');
            continue;
        }
        const int b = UnicodeToByte(c);
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

std::u16string Cp1252ToUtf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (const char ch : bytes)
        out.push_back(ByteToUnicode(static_cast<unsigned char>(ch)));
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes)
        AppendUtf8(out, ByteToUnicode(static_cast<unsigned char>(ch)));
    return out;
}

int AtoI(std::string_view text) {
    std::size_t i = 0;
    auto isBlank = [](char c) {
        return c == ' ' || (c >= '\t' && c <= '\r');
    };
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<std::int64_t>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace kalvor
