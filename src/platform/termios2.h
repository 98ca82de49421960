#pragma once
// Any line speed through termios2/BOTHER. Kept apart because <asm/termbits.h> clashes with
// <termios.h>. Both return false with errno set on failure.
#include <cstdint>

namespace qorvel::platform {

bool SetLineSpeed(int fd, std::uint32_t baud);
bool GetLineSpeed(int fd, std::uint32_t& baud);

} // namespace qorvel::platform
