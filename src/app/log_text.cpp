#include "app/log_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include "app/text_file.h"

namespace qorvel {

namespace {

// Read-back piece for Save Log: large enough that the system calls cost nothing beside the copy.
constexpr std::size_t kReadBack = 1024 * 1024;

ssize_t SystemWrite(int Fd, const iovec* Blocks, int Count, off_t Offset) {
    return ::pwritev(Fd, Blocks, Count, Offset);
}

// An unnamed file in Folder: gone with the last descriptor, even after a crash. Where the file
// system has no unnamed files, a named one is made and unlinked at once.
int OpenUnnamedFile(const std::string& Folder) {
    int fd = ::open(Folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
    std::string name = Folder + "/qorvel-log-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

// Reads exactly Count bytes at Offset; false on failure or a short file.
bool ReadAt(int Fd, char* Buffer, std::size_t Count, std::size_t Offset) {
    while (Count > 0) {
        const ssize_t n = ::pread(Fd, Buffer, Count, static_cast<off_t>(Offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        Buffer += n;
        Offset += static_cast<std::size_t>(n);
        Count -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

TLogText::TLogText(std::size_t MemoryLimit, std::string Folder)
    : FMemoryLimit(std::max(MemoryLimit, kBlockSize)), FFolder(std::move(Folder)), FSpillWrite(SystemWrite) {}

TLogText::~TLogText() {
    if (FFd >= 0) ::close(FFd);
}

void TLogText::Append(std::string_view Bytes) {
    while (!Bytes.empty()) {
        const std::size_t used = InMemory() % kBlockSize;
        if (used == 0 && InMemory() / kBlockSize == FBlocks.size()) {
            if (FSpare.empty()) {
                FBlocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
            } else {
                FBlocks.push_back(std::move(FSpare.back()));
                FSpare.pop_back();
            }
        }
        const std::size_t n = std::min(kBlockSize - used, Bytes.size());
        std::memcpy(FBlocks.back().get() + used, Bytes.data(), n);
        FSize += n;
        Bytes.remove_prefix(n);
    }
    if (InMemory() > std::max(FMemoryLimit, FRetryAt)) Spill();
}

void TLogText::Spill() {
    // Down to a step below the limit, so the file is written in pieces of a megabyte or so, not per
    // append, and one write never holds up the window for long. The block being filled always stays.
    const std::size_t keep = FMemoryLimit - std::min(FMemoryLimit / 4, kSpillStep);
    std::size_t blocks = 0;
    while (blocks + 1 < FBlocks.size() && InMemory() - blocks * kBlockSize > keep)
        ++blocks;
    std::size_t moved = 0;
    int error = 0;
    if (blocks > 0 && !OpenFile()) error = errno;
    while (error == 0 && moved < blocks) {
        iovec parts[64];
        const std::size_t count = std::min<std::size_t>(blocks - moved, std::size(parts));
        for (std::size_t i = 0; i < count; ++i)
            parts[i] = {FBlocks[moved + i].get(), kBlockSize};
        const ssize_t n = FSpillWrite(FFd, parts, static_cast<int>(count),
                                      static_cast<off_t>(FSpilled + moved * kBlockSize));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n == 0 ? ENOSPC : errno;
            break;
        }
        // A block counts as moved only when all of it is in the file; a partly written one is
        // written again from its start next time.
        moved += static_cast<std::size_t>(n) / kBlockSize;
        if (static_cast<std::size_t>(n) % kBlockSize != 0) {
            error = ENOSPC;
            break;
        }
    }
    for (std::size_t i = 0; i < moved; ++i) {
        FSpare.push_back(std::move(FBlocks.front()));
        FBlocks.pop_front();
    }
    FSpilled += moved * kBlockSize;
    // Spares beyond what refills the limit are returned.
    while (FSpare.size() * kBlockSize > FMemoryLimit - keep + kBlockSize)
        FSpare.pop_back();
    if (error == 0) {
        FRetryAt = 0;
        FErrorReported = false;
        return;
    }
    // The bytes stay in memory; another try once a further limit's worth has come in.
    FRetryAt = InMemory() + FMemoryLimit;
    if (!FErrorReported) {
        FSpillError = error;
        FErrorReported = true;
    }
}

bool TLogText::OpenFile() {
    if (FFd >= 0) return true;
    std::vector<std::string> folders;
    if (!FFolder.empty()) {
        folders.push_back(FFolder);
    } else {
        // The temp folder first: the runtime folder is usually a small memory file system.
        const char* tmp = std::getenv("TMPDIR");
        folders.push_back(tmp && *tmp ? tmp : "/tmp");
        if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) folders.push_back(run);
    }
    int error = 0;
    for (const std::string& folder : folders) {
        FFd = OpenUnnamedFile(folder);
        if (FFd >= 0) return true;
        if (error == 0) error = errno;
    }
    errno = error;
    return false;
}

void TLogText::Clear() {
    FBlocks.clear();
    FSpare.clear();
    FSpare.shrink_to_fit();
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FSize = 0;
    FSpilled = 0;
    FRetryAt = 0;
    FErrorReported = false;
}

bool TLogText::EndsWith(std::string_view Suffix) const {
    if (Suffix.size() > FSize) return false;
    std::size_t pos = FSize - Suffix.size();
    if (pos < FSpilled) {
        const std::size_t fromFile = std::min(FSpilled - pos, Suffix.size());
        std::string head(fromFile, '\0');
        if (!ReadAt(FFd, head.data(), fromFile, pos) || Suffix.substr(0, fromFile) != head) return false;
        Suffix.remove_prefix(fromFile);
        pos += fromFile;
    }
    pos -= FSpilled;
    for (char c : Suffix) {
        if (FBlocks[pos / kBlockSize][pos % kBlockSize] != c) return false;
        ++pos;
    }
    return true;
}

void TLogText::ForEachChunk(const std::function<void(std::string_view Chunk)>& OnChunk) const {
    if (FSpilled > 0) {
        std::string buffer(std::min(kReadBack, FSpilled), '\0');
        for (std::size_t at = 0; at < FSpilled;) {
            const std::size_t n = std::min(buffer.size(), FSpilled - at);
            if (!ReadAt(FFd, buffer.data(), n, at)) throw EInOutError(InOutErrorText(errno), errno);
            OnChunk(std::string_view(buffer.data(), n));
            at += n;
        }
    }
    std::size_t left = InMemory();
    for (const auto& block : FBlocks) {
        const std::size_t n = std::min(left, kBlockSize);
        OnChunk(std::string_view(block.get(), n));
        left -= n;
    }
}

void TLogText::SaveToFile(const std::string& FileName) const {
    WriteBinaryFileFrom(FileName, [this](const auto& Sink) { ForEachChunk(Sink); });
}

std::string TLogText::ToString() const {
    std::string text;
    text.reserve(FSize);
    ForEachChunk([&](std::string_view chunk) { text.append(chunk); });
    return text;
}

std::size_t TLogText::AllocatedBytes() const noexcept {
    return (FBlocks.size() + FSpare.size()) * kBlockSize + FSpare.capacity() * sizeof(FSpare[0]);
}

int TLogText::TakeSpillError() noexcept {
    return std::exchange(FSpillError, 0);
}

} // namespace qorvel
