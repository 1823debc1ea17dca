// Page allocation of the library's records: each record is its own anonymous mapping, so it
// starts zero-filled and goes back to the system with munmap.
#pragma once

#include <cstddef>

namespace qz {

// A zero-filled block of `size` bytes aligned to 8 bytes, or nullptr when the system has
// no memory left.
void* AllocRecordPages(std::size_t size);

// Gives back a block from AllocRecordPages of the same `size`; nullptr is ignored.
void FreeRecordPages(void* record, std::size_t size);

} // namespace qz
