// The library as its callers see it: loaded with dlopen from the built file and reached
// through the addresses of its exported names only.
#pragma once

#include "chanparam/chanparam.h"

#include <gtest/gtest.h>

#include <vector>

#define CHANPARAM_EXPORTS(X)                                                                       \
    X(CreateParamArray)                                                                            \
    X(CreateDeviceParamArray)                                                                      \
    X(AddParam)                                                                                    \
    X(FindParam)                                                                                   \
    X(SetParamComment)                                                                             \
    X(SetParamValue)                                                                               \
    X(GetParamValue)                                                                               \
    X(AddChanel)                                                                                   \
    X(FindChanel)                                                                                  \
    X(DeleteChanelArray)                                                                           \
    X(DeleteParamArray)

namespace qz::test {

struct ChanParamApi {
#define CHANPARAM_API_MEMBER(name) decltype(&::name) name = nullptr;
    CHANPARAM_EXPORTS(CHANPARAM_API_MEMBER)
#undef CHANPARAM_API_MEMBER
};

// Handle of the loaded library (loaded once, kept for the whole run) or nullptr.
void* ChanParamHandle();

// The exported functions; a failed load leaves them null and the fixture reports it.
const ChanParamApi& ChanParam();

// Whether the page holding `address` is still mapped: records go back to the system with
// munmap, so a freed record's page is gone.
bool IsMapped(const void* address);

// Loads the library for every test and frees the lists a test created.
class ChanParamTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A list freed when the test ends.
    TParamRecord* NewList() { return Kept(cp.CreateParamArray()); }
    TParamRecord* NewDeviceList() { return Kept(cp.CreateDeviceParamArray()); }
    uint8_t CountOf(TParamRecord* head);

    const ChanParamApi& cp = ChanParam();

private:
    TParamRecord* Kept(TParamRecord* head);
    std::vector<TParamRecord*> lists_;
};

} // namespace qz::test
