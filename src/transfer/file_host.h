#pragma once
// THost over real files (POSIX, no Qt): the files to send by path, received files into a folder.
#include "transfer/transfer.h"

#include <string>
#include <vector>

namespace qorvel::transfer {

class TFileHost : public THost {
public:
    TFileHost() = default;
    ~TFileHost() override;
    TFileHost(const TFileHost&) = delete;
    TFileHost& operator=(const TFileHost&) = delete;

    // ---- Sending: false with Error set when Path is not a readable regular file.
    bool AddSendFile(const std::string& Path, std::string& Error);
    // ---- Receiving into Folder (which must exist). XMODEM carries no name: XmodemName is used.
    void SetFolder(std::string Folder) { FFolder = std::move(Folder); }
    void SetXmodemName(std::string Name) { FXmodemName = std::move(Name); }
    // Final paths of the files received whole, and of those cut short. Partial files stay on disk
    // until RemovePartial, so the operator can decide what to do with them.
    const std::vector<std::string>& Received() const { return FReceived; }
    const std::vector<std::string>& Partial() const { return FPartial; }
    void RemovePartial();

    // A sender's name made safe as a file name in the folder, or empty with Why set. Path parts
    // ('/' or '\') are dropped; control characters, "", "." and ".." are refused; a leading dot
    // becomes '_' so nothing hidden is created unseen.
    static std::string SafeName(std::string_view Raw, std::string& Why);
    // "name.ext", "name (2).ext", "name (3).ext" ... for Attempt 1, 2, 3 ...
    static std::string Numbered(const std::string& Name, int Attempt);

    std::size_t SendCount() const override { return FSend.size(); }
    TFileInfo SendInfo(std::size_t Index) const override;
    std::ptrdiff_t ReadFile(std::size_t Index, std::uint64_t Offset, char* Buffer, std::size_t Count,
                            std::string& Error) override;
    bool BeginFile(const TFileInfo& Info, std::uint64_t& ResumeFrom, std::string& Error) override;
    bool WriteFile(std::string_view Data, std::string& Error) override;
    void EndFile(bool Complete) override;

private:
    struct TSendFile {
        int Fd;
        std::string Path;
        TFileInfo Info;
    };
    std::vector<TSendFile> FSend;
    std::string FFolder = ".";
    std::string FXmodemName;
    int FOutFd = -1;
    std::string FOutPath;
    TFileInfo FOutInfo;
    std::uint64_t FWritten = 0;
    std::vector<std::string> FReceived;
    std::vector<std::string> FPartial;
};

} // namespace qorvel::transfer
