#pragma once
// The POSIX termios implementation of the communications interface, for serial devices and
// pseudo-terminals. Most code reaches it through PosixCommApi().
#include "platform/commapi.h"

namespace qorvel::platform {

class TPosixCommApi final : public TCommApi {
public:
    std::unique_ptr<TCommDevice> CreateFile(std::string_view name) override;
};

// Opens a device by path (no name mapping); null on failure with the last error set.
std::unique_ptr<TCommDevice> OpenPosixDevice(const std::string& path);

} // namespace qorvel::platform
