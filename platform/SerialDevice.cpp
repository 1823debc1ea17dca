#include "platform/SerialDevice.h"

#include "platform/SerialSpeed.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qz {

TTermiosSerialDevice::~TTermiosSerialDevice() {
    Close();
}

int TTermiosSerialDevice::Open(const std::string& path) {
    Close();
    if (path.empty()) return ENOENT;
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    if (!isatty(fd)) {
        close(fd);
        return ENOTTY;
    }
    // Another program that holds the port with an advisory lock or in exclusive mode makes
    // this open fail as "in use" rather than silently sharing the line.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        close(fd);
        return e == EWOULDBLOCK ? EBUSY : e;
    }
    // Exclusive mode: further opens by others fail with EBUSY while we hold the port. Not
    // every device supports it; that is no reason to refuse the port.
    ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return 0;
}

void TTermiosSerialDevice::Close() {
    if (fd_ < 0) return;
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
}

unsigned TTermiosSerialDevice::SpeedConstant(uint32_t baud) {
    switch (baud) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 500000:
        return B500000;
    case 576000:
        return B576000;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 1152000:
        return B1152000;
    case 1500000:
        return B1500000;
    case 2000000:
        return B2000000;
    default:
        return 0;
    }
}

bool TTermiosSerialDevice::Configure(uint32_t baud, bool linesOn) {
    if (fd_ < 0 || baud == 0) return false;
    // A speed without a termios constant is set in bit/s once the rest of the line is set.
    const speed_t speed = SpeedConstant(baud);
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    // VMIN 1: a non-blocking read with nothing to read fails with EAGAIN. With VMIN 0 it would
    // return 0, which a transfer cannot tell from the end of the line.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (speed != 0 && (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0)) return false;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
    if (speed == 0 && !SetLineSpeedInBits(fd_, baud)) return false;
    SetDTR(linesOn);
    SetRTS(linesOn);
    return true;
}

void TTermiosSerialDevice::SetLine(int bit, bool on) {
    if (fd_ < 0) return;
    // Fails with ENOTTY / EINVAL on a pseudo-terminal: there are no lines to set.
    ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void TTermiosSerialDevice::SetDTR(bool on) {
    SetLine(TIOCM_DTR, on);
}
void TTermiosSerialDevice::SetRTS(bool on) {
    SetLine(TIOCM_RTS, on);
}

TModemLines TTermiosSerialDevice::GetModemLines() {
    TModemLines l;
    int bits = 0;
    if (fd_ < 0 || ioctl(fd_, TIOCMGET, &bits) != 0) return l;
    l.CTS = bits & TIOCM_CTS;
    l.DSR = bits & TIOCM_DSR;
    l.DCD = bits & TIOCM_CAR;
    return l;
}

void TTermiosSerialDevice::Purge(bool rx, bool tx) {
    if (fd_ < 0 || (!rx && !tx)) return;
    tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH);
}

void TTermiosSerialDevice::Drain() {
    if (fd_ < 0) return;
    while (tcdrain(fd_) != 0 && errno == EINTR) {
    }
}

} // namespace qz
