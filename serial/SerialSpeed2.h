// SPDX-License-Identifier: MIT
// Speeds outside the classic Bxxx table. The kernel's termios2 interface needs
// <asm/termbits.h>, whose struct termios clashes with glibc's, so it stays behind this header
// with plain types only.
#pragma once

#include <cstdint>

namespace serial {

// Sets both directions to `speed` bits per second (BOTHER), leaving every other flag alone.
// False when the ioctl fails or the speed does not fit the kernel's field.
bool setCustomSpeed(int fd, int64_t speed);

// The output speed as the driver holds it, in bits per second, whatever way it was set.
bool readSpeed(int fd, int64_t &speed);

} // namespace serial
