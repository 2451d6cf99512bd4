#pragma once

#include <string>
#include <string_view>

// Conversions between the operator's Unicode text and the sign's Windows-1252 bytes, and the
// C runtime's decimal reading of typed numbers.
namespace kalvor {

// Windows-1252 bytes for a UTF-16 text. A character that has no Windows-1252 byte (an emoji,
// a CJK character) becomes one '?'.
std::string Utf16ToCp1252(std::u16string_view text);

// The Unicode text of Windows-1252 bytes. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value.
std::u16string Cp1252ToUtf16(std::string_view bytes);
std::string Cp1252ToUtf8(std::string_view bytes);

// Reads a decimal number as atoi does: leading blanks, an optional sign, then digits up to the
// first other character; 0 when there are none. Values past the range of int saturate at
// INT_MAX or INT_MIN, as the Windows C runtime does.
int AtoI(std::string_view text);

} // namespace kalvor
