#include "tests/chanparam/ChanParamLibrary.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace qz::test {

void* ChanParamHandle() {
    static void* handle = dlopen(CHANPARAM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

const ChanParamApi& ChanParam() {
    static const ChanParamApi api = [] {
        ChanParamApi loaded;
        if (void* handle = ChanParamHandle()) {
#define CHANPARAM_API_LOAD(name)                                                                   \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));
            CHANPARAM_EXPORTS(CHANPARAM_API_LOAD)
#undef CHANPARAM_API_LOAD
        }
        return loaded;
    }();
    return api;
}

bool IsMapped(const void* address) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    auto* base = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(page - 1));
    return msync(base, page, MS_ASYNC) == 0;
}

void ChanParamTest::SetUp() {
    ASSERT_NE(ChanParamHandle(), nullptr) << "cannot load " << CHANPARAM_LIBRARY_PATH;
#define CHANPARAM_API_CHECK(name) ASSERT_NE(cp.name, nullptr) << #name " is not exported";
    CHANPARAM_EXPORTS(CHANPARAM_API_CHECK)
#undef CHANPARAM_API_CHECK
}

void ChanParamTest::TearDown() {
    for (TParamRecord* head : lists_) {
        EXPECT_EQ(cp.DeleteParamArray(head), 0);
    }
}

TParamRecord* ChanParamTest::Kept(TParamRecord* head) {
    if (head != nullptr) lists_.push_back(head);
    return head;
}

uint8_t ChanParamTest::CountOf(TParamRecord* head) {
    unsigned char buffer[2] = {0xEE, 0xEE};
    EXPECT_EQ(cp.GetParamValue(head, buffer), 0);
    EXPECT_EQ(buffer[1], 0xEE) << "the count is a single byte";
    return buffer[0];
}

} // namespace qz::test
