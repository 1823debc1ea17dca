#include "protocol/Command.h"

#include "common/Assert.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace qz {

namespace {
void* DefaultAlloc(size_t size) {
    return std::calloc(size, 1);
}
std::atomic<TBufferAllocFn> gAlloc{&DefaultAlloc};
} // namespace

void TBufferDeleter::operator()(uint8_t* p) const noexcept {
    std::free(p);
}

std::string AllocFailureText(size_t size) {
    return "Не удалось выделить память!!!\r Выделяется " + std::to_string(size) + " байт";
}

void SetBufferAllocator(TBufferAllocFn fn) {
    gAlloc.store(fn ? fn : &DefaultAlloc);
}

TBufferPtr AllocBuffer(size_t size) {
    QZ_ASSERT(size <= kMaxFrameSize, "Размер буфера больше 65535 байт");
    if (size == 0) return nullptr;
    void* p = gAlloc.load()(size);
    if (!p) throw EOutOfMemory(AllocFailureText(size));
    return TBufferPtr(static_cast<uint8_t*>(p));
}

bool TCommand::CheckAnswer() const {
    if (!CheckAnswerSize) return true;
    return static_cast<int64_t>(FAnswerSize) == ExpectedAnswerSize;
}

void TCommand::SetAnswer(const uint8_t* frame, size_t size) {
    TBufferPtr copy = AllocBuffer(size);
    if (size) std::memcpy(copy.get(), frame, size);
    FAnswer = std::move(copy);
    FAnswerSize = size;
}

} // namespace qz
