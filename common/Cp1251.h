// Code page 1251 <-> UTF-8.
//
// Inside the program every text is UTF-8; files, the wire and stored streams hold code
// page 1251. These two functions are the only place where the two meet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz {

// Decodes code page 1251 bytes to UTF-8. Every byte maps to a character (0x98, which has no
// letter in the code page, maps to U+0098 so that the bytes survive a round trip).
std::string Cp1251ToUtf8(const std::string& cp1251);
std::string Cp1251ToUtf8(const uint8_t* data, size_t size);

// Encodes UTF-8 text to code page 1251. A character that the code page does not hold, and
// every byte of a malformed UTF-8 sequence, becomes '?'.
std::string Utf8ToCp1251(const std::string& utf8);

// The code page 1251 byte of one Unicode code point, or '?' when there is none.
uint8_t UnicodeToCp1251(char32_t cp);
// The Unicode code point of one code page 1251 byte.
char32_t Cp1251ToUnicode(uint8_t b);

// Decodes the code point that starts at s[i] (i < n) and moves i past it. A malformed
// sequence (cut short, overlong, a surrogate, past U+10FFFF, a stray continuation byte)
// gives false and moves i by one byte, so decoding can go on with the next byte.
bool NextUtf8(const uint8_t* s, size_t n, size_t& i, char32_t& cp);

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t cp);

} // namespace qz
