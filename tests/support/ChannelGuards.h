// The channel module and its process-wide defaults, set for one scope. A test that fails half-way
// (an ASSERT returns early) still stops the worker and puts the defaults back, so the next test
// in the program starts from the system's own state.
#pragma once

#include "channel/LCAObject.h"
#include "channel/PCAComPort.h"
#include "channel/PCAType.h"

#include <utility>

namespace qz::test {

// A fresh channel worker with this log callback for one scope (a worker left running before is
// stopped first, since the module ignores a second initialisation). Destroy it before the
// defaults it was started with: declare the default guards first.
class TLCAModule {
public:
    explicit TLCAModule(TLCALogProc log = nullptr) { Restart(std::move(log)); }
    ~TLCAModule() { LCAFinalize(); }
    TLCAModule(const TLCAModule&) = delete;
    TLCAModule& operator=(const TLCAModule&) = delete;
    // A new worker with another log callback.
    void Restart(TLCALogProc log = nullptr) {
        LCAFinalize();
        LCAInitialize(std::move(log));
    }
};

// Replaces one default for the guard's scope and puts the previous one back after it.
template <class T, T (*Get)(), void (*Set)(T)> class TDefaultGuard {
public:
    explicit TDefaultGuard(T value) : FOld(Get()) { Set(std::move(value)); }
    ~TDefaultGuard() { Set(std::move(FOld)); }
    TDefaultGuard(const TDefaultGuard&) = delete;
    TDefaultGuard& operator=(const TDefaultGuard&) = delete;

private:
    T FOld;
};

namespace detail {
inline void SetTimings(TComPortTimings t) {
    SetDefaultComPortTimings(t);
}
} // namespace detail

using TSleeperGuard = TDefaultGuard<TSleeper, DefaultPCASleeper, SetDefaultPCASleeper>;
using TSerialFactoryGuard =
    TDefaultGuard<TSerialDeviceFactory, DefaultSerialDeviceFactory, SetDefaultSerialDeviceFactory>;
using TComPortTimingsGuard =
    TDefaultGuard<TComPortTimings, DefaultComPortTimings, detail::SetTimings>;

// Channels pause for nothing: the pauses between attempts and after opening a port.
class TNoSleep : public TSleeperGuard {
public:
    TNoSleep() : TSleeperGuard([](uint32_t) {}) {}
};

} // namespace qz::test
