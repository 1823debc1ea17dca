#include "platform/Sleep.h"

#include <cerrno>
#include <ctime>

namespace qz {

void RealSleep(uint32_t ms) {
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace qz
