#include "platform/termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace qorvel::platform {

bool SetLineSpeed(int fd, std::uint32_t baud) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ospeed = baud;
    t.c_ispeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool GetLineSpeed(int fd, std::uint32_t& baud) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    baud = t.c_ospeed;
    return true;
}

} // namespace qorvel::platform
