#include "platform/SerialSpeed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace qz {
namespace {

bool Get(int fd, termios2& t) {
    int rc;
    do {
        rc = ioctl(fd, TCGETS2, &t);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

} // namespace

bool SetLineSpeedInBits(int fd, uint32_t baud) {
    if (fd < 0 || baud == 0) return false;
    termios2 t{};
    if (!Get(fd, t)) return false;
    t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    int rc;
    do {
        rc = ioctl(fd, TCSETS2, &t);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return false;
    const uint32_t actual = LineSpeedInBits(fd);
    const uint64_t diff = actual > baud ? actual - baud : baud - actual;
    return diff * 50 <= baud;
}

uint32_t LineSpeedInBits(int fd) {
    termios2 t{};
    if (fd < 0 || !Get(fd, t)) return 0;
    return t.c_ospeed;
}

} // namespace qz
