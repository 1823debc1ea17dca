// Line speeds that have no termios constant (14400, 56000, 128000, 256000, 100 bit/s and any
// other positive value a stored connection may hold) are set through the kernel's termios2
// interface with a speed in bit/s.
//
// Kept apart from SerialDevice.cpp: the kernel's termios2 declarations and the C library's
// <termios.h> cannot share one translation unit.
#pragma once

#include <cstdint>

namespace qz {

// Sets input and output speed of the tty `fd` to `baud` bit/s, leaving every other setting as
// it is. False when the driver refuses the speed, or when the speed it reports back is more
// than 2 % off `baud` (a UART whose clock cannot come near it: no byte would be read right).
bool SetLineSpeedInBits(int fd, uint32_t baud);

// The output speed the driver reports, in bit/s (0 when it cannot be read).
uint32_t LineSpeedInBits(int fd);

} // namespace qz
