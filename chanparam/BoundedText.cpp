#include "chanparam/BoundedText.h"

#include <cstring>

namespace qz {

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Bytes of the sequence a lead byte opens; 0 for a byte that opens none.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC0 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    return 0;
}

} // namespace

std::size_t BoundedLength(const char* text, std::size_t limit) {
    if (text == nullptr) return 0;
    const void* zero = std::memchr(text, 0, limit);
    return zero == nullptr ? limit
                           : static_cast<std::size_t>(static_cast<const char*>(zero) - text);
}

std::size_t Utf8CompleteLength(const char* text, std::size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    // Find the byte that opens the last sequence: at most three continuation bytes back.
    std::size_t start = length;
    for (std::size_t back = 0; back < 4 && start > 0; ++back) {
        --start;
        if (!IsContinuation(bytes[start])) break;
    }
    if (start == length || IsContinuation(bytes[start])) return length; // not UTF-8: keep
    const std::size_t need = SequenceLength(bytes[start]);
    if (need == 0) return length; // not UTF-8: keep the bytes as they are
    return start + need > length ? start : length;
}

std::size_t CopyTextField(char* field, std::size_t fieldSize, const char* text) {
    if (fieldSize == 0) return 0;
    std::memset(field, 0, fieldSize);
    const std::size_t limit = fieldSize - 1;
    std::size_t length = BoundedLength(text, limit);
    if (length == limit) length = Utf8CompleteLength(text, length);
    if (length > 0) std::memcpy(field, text, length);
    return length;
}

} // namespace qz
