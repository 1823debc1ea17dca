// Bounded copies of the caller's texts into the fixed text fields of the records. The
// caller's pointer is only trusted up to the field's limit: nothing past it is ever read.
#pragma once

#include <cstddef>

namespace qz {

// Length of `text` counting at most `limit` bytes; `limit` when no zero comes before.
std::size_t BoundedLength(const char* text, std::size_t limit);

// How many of the first `length` bytes of `text` to keep so that a UTF-8 sequence cut off
// at `length` is dropped whole rather than left half.
std::size_t Utf8CompleteLength(const char* text, std::size_t length);

// Fills `field` (`fieldSize` bytes) with `text` cut to fieldSize - 1 bytes at a UTF-8
// boundary and zeros after it. A null `text` leaves the field empty. Returns the bytes kept.
std::size_t CopyTextField(char* field, std::size_t fieldSize, const char* text);

} // namespace qz
