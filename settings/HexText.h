// Binary values stored as text: each byte as two upper-case hexadecimal digits, high nibble
// first, no separators. The settings file keeps the connection list this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qz {

std::string BytesToHex(const uint8_t* data, size_t size);
std::string BytesToHex(const std::vector<uint8_t>& bytes);

// Converts the digits back into bytes. Digits of either case are accepted; an odd trailing
// digit is ignored. A character that is not a hexadecimal digit makes the whole text invalid:
// the result is false and `out` is left empty, so a damaged value never yields a half stream;
// `badPos` (when given) then receives the position of the first such character.
bool HexToBytes(const std::string& text, std::vector<uint8_t>& out, size_t* badPos = nullptr);

} // namespace qz
