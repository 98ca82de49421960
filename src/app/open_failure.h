#pragma once
// Why a port did not open, in words an operator can act on: the second line of the open error.
#include <string>
#include <vector>

namespace qorvel {

// The reason for the system's error number `Error` from opening the port named `DeviceName` (as
// typed: "COM1", "ttyUSB0", a path or a network address).
std::string OpenFailureReason(int Error, const std::string& DeviceName);

// The programs that hold the device file open, as "name (pid N)", from /proc; only processes this
// user may look into are seen.
std::vector<std::string> PortHolders(const std::string& DevicePath);

} // namespace qorvel
