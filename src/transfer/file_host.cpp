#include "transfer/file_host.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorvel::transfer {
namespace {

constexpr int kMaxNumbered = 9999; // "name (9999).ext" and no further: something is wrong by then

std::string BaseName(const std::string& Path) {
    const std::size_t slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string OsError(const std::string& What) {
    return What + ": " + std::strerror(errno);
}

} // namespace

TFileHost::~TFileHost() {
    for (const TSendFile& file : FSend)
        ::close(file.Fd);
    if (FOutFd >= 0) EndFile(false);
}

bool TFileHost::AddSendFile(const std::string& Path, std::string& Error) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Error = OsError("Cannot open " + Path);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Error = S_ISREG(st.st_mode) ? OsError("Cannot read " + Path) : Path + " is not a regular file";
        ::close(fd);
        return false;
    }
    TFileInfo info;
    info.Name = BaseName(Path);
    info.Size = static_cast<std::uint64_t>(st.st_size);
    info.ModTime = st.st_mtime;
    info.Mode = st.st_mode & 0777;
    FSend.push_back({fd, Path, std::move(info)});
    return true;
}

TFileInfo TFileHost::SendInfo(std::size_t Index) const {
    return Index < FSend.size() ? FSend[Index].Info : TFileInfo{};
}

std::ptrdiff_t TFileHost::ReadFile(std::size_t Index, std::uint64_t Offset, char* Buffer, std::size_t Count,
                                   std::string& Error) {
    if (Index >= FSend.size()) {
        Error = "no such file";
        return -1;
    }
    for (;;) {
        const ssize_t n = ::pread(FSend[Index].Fd, Buffer, Count, static_cast<off_t>(Offset));
        if (n >= 0) return n;
        if (errno != EINTR) {
            Error = OsError("Cannot read " + FSend[Index].Path);
            return -1;
        }
    }
}

std::string TFileHost::SafeName(std::string_view Raw, std::string& Why) {
    // Both separators go: a sender on another system may send "dir\name" as well as "dir/name".
    const std::size_t cut = Raw.find_last_of("/\\");
    std::string name(cut == std::string_view::npos ? Raw : Raw.substr(cut + 1));
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            Why = "the name holds control characters";
            return {};
        }
    if (name.empty() || name == "." || name == "..") {
        Why = "the name \"" + std::string(Raw) + "\" is no file name";
        return {};
    }
    if (name.size() > NAME_MAX) {
        Why = "the name is longer than " + std::to_string(NAME_MAX) + " bytes";
        return {};
    }
    if (name[0] == '.') name[0] = '_';
    return name;
}

std::string TFileHost::Numbered(const std::string& Name, int Attempt) {
    if (Attempt <= 1) return Name;
    const std::size_t dot = Name.find_last_of('.');
    const std::size_t split = dot == std::string::npos || dot == 0 ? Name.size() : dot;
    return Name.substr(0, split) + " (" + std::to_string(Attempt) + ")" + Name.substr(split);
}

bool TFileHost::BeginFile(const TFileInfo& Info, std::uint64_t& ResumeFrom, std::string& Error) {
    ResumeFrom = 0;
    if (FOutFd >= 0) EndFile(false);
    std::string name;
    if (Info.Name.empty()) {
        name = FXmodemName;
        if (name.empty()) {
            Error = "no file name was given for the received file";
            return false;
        }
    }
    std::string why;
    name = SafeName(name.empty() ? Info.Name : name, why);
    if (name.empty()) {
        Error = why;
        return false;
    }
    const int dir = ::open(FFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        Error = OsError("Cannot open the folder " + FFolder);
        return false;
    }
    // O_EXCL and O_NOFOLLOW: an existing file or a planted link is never written through.
    for (int attempt = 1; attempt <= kMaxNumbered; ++attempt) {
        const std::string candidate = Numbered(name, attempt);
        const int fd =
            ::openat(dir, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(dir);
            FOutFd = fd;
            FOutPath = FFolder + "/" + candidate;
            FOutInfo = Info;
            FWritten = 0;
            return true;
        }
        if (errno != EEXIST) {
            Error = OsError("Cannot create " + FFolder + "/" + candidate);
            ::close(dir);
            return false;
        }
    }
    ::close(dir);
    Error = "Cannot create " + name + ": too many files of that name in " + FFolder;
    return false;
}

bool TFileHost::WriteFile(std::string_view Data, std::string& Error) {
    if (FOutFd < 0) {
        Error = "no file is open";
        return false;
    }
    while (!Data.empty()) {
        const ssize_t n = ::write(FOutFd, Data.data(), Data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            Error = OsError("Cannot write " + FOutPath);
            return false;
        }
        Data.remove_prefix(static_cast<std::size_t>(n));
        FWritten += static_cast<std::uint64_t>(n);
    }
    return true;
}

void TFileHost::EndFile(bool Complete) {
    if (FOutFd < 0) return;
    // Only ever shortened: a declared size larger than what came must not grow the file with zeros.
    if (FOutInfo.Size && FWritten > *FOutInfo.Size) ::ftruncate(FOutFd, static_cast<off_t>(*FOutInfo.Size));
    if (FOutInfo.ModTime && Complete) {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*FOutInfo.ModTime), 0}};
        ::futimens(FOutFd, times);
    }
    ::close(FOutFd);
    FOutFd = -1;
    (Complete ? FReceived : FPartial).push_back(FOutPath);
}

void TFileHost::RemovePartial() {
    for (const std::string& path : FPartial)
        ::unlink(path.c_str());
    FPartial.clear();
}

} // namespace qorvel::transfer
