#include "app/open_failure.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

#include "platform/comm_net.h"
#include "platform/commapi.h"

namespace qorvel {

namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& Items) {
    std::string text;
    for (const std::string& item : Items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

} // namespace

std::vector<std::string> PortHolders(const std::string& DevicePath) {
    std::vector<std::string> holders;
    std::error_code error;
    const fs::path device = fs::canonical(DevicePath, error);
    if (error) return holders;
    const std::string self = std::to_string(::getpid());
    for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        std::error_code fdError;
        for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd.path(), linkError) != device || linkError) continue;
            std::string name;
            std::getline(std::ifstream(process.path() / "comm"), name);
            holders.push_back((name.empty() ? std::string("a program") : name) + " (pid " + pid + ")");
            break;
        }
    }
    return holders;
}

std::string OpenFailureReason(int Error, const std::string& DeviceName) {
    switch (Error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return "There is no such device: check the name, and that the adapter is plugged in";
    case EACCES:
    case EPERM:
        return "Permission denied: add your user to the dialout group (sudo usermod -aG dialout $USER), "
               "then log out and in again";
    case EBUSY: {
        const std::vector<std::string> holders = platform::IsNetworkPortName(DeviceName)
                                                     ? std::vector<std::string>{}
                                                     : PortHolders(platform::DevicePath(DeviceName));
        if (holders.empty()) return "The port is busy: another program has it open";
        return "The port is busy: " + Joined(holders) + " has it open";
    }
    case ENOTTY: return "This is not a serial port";
    default: return platform::SystemErrorText(Error);
    }
}

} // namespace qorvel
