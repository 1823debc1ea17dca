#include "chanparam/RecordPages.h"

#include <sys/mman.h>
#include <unistd.h>

namespace qz {

namespace {

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t RoundUpToPages(std::size_t size) {
    const std::size_t page = PageSize();
    return (size + page - 1) / page * page;
}

#if defined(CHANPARAM_GUARD_PAGES)
// Checking builds: mmap'ed memory is invisible to AddressSanitizer, so the record is pushed
// against the end of its pages and followed by an inaccessible page; any access past the
// record's end faults at once instead of silently touching the rest of the page.
constexpr std::size_t kRecordAlign = 8;

std::size_t RecordOffset(std::size_t size) {
    const std::size_t rounded = (size + kRecordAlign - 1) / kRecordAlign * kRecordAlign;
    return RoundUpToPages(size) - rounded;
}

void* AllocMapped(std::size_t size) {
    const std::size_t data = RoundUpToPages(size);
    void* base = mmap(nullptr, data + PageSize(), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    if (mprotect(static_cast<char*>(base) + data, PageSize(), PROT_NONE) != 0) {
        munmap(base, data + PageSize());
        return nullptr;
    }
    return static_cast<char*>(base) + RecordOffset(size);
}

void FreeMapped(void* record, std::size_t size) {
    char* base = static_cast<char*>(record) - RecordOffset(size);
    munmap(base, RoundUpToPages(size) + PageSize());
}
#else
void* AllocMapped(std::size_t size) {
    void* base = mmap(nullptr, RoundUpToPages(size), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}

void FreeMapped(void* record, std::size_t size) {
    munmap(record, RoundUpToPages(size));
}
#endif

} // namespace

void* AllocRecordPages(std::size_t size) {
    if (size == 0) return nullptr;
    return AllocMapped(size);
}

void FreeRecordPages(void* record, std::size_t size) {
    if (record == nullptr || size == 0) return;
    FreeMapped(record, size);
}

} // namespace qz
