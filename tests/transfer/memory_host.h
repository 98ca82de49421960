#pragma once
// The file host of the engines' scripted tests: offers Files from memory and keeps what it is given.
#include <algorithm>
#include <string>
#include <vector>

#include "transfer/transfer.h"

namespace qorvel::test {

struct TMemoryHost : transfer::THost {
    std::vector<std::string> Files; // offered as f.bin, f1.bin, ...
    std::string Received, Log;      // the bytes written; "B<name>" per file begun, "E1"/"E0" per end
    std::uint64_t Resume = 0;
    bool Refuse = false;

    std::size_t SendCount() const override { return Files.size(); }
    transfer::TFileInfo SendInfo(std::size_t I) const override {
        return {I ? "f" + std::to_string(I) + ".bin" : "f.bin", Files[I].size(), 0, 0644};
    }
    std::ptrdiff_t ReadFile(std::size_t I, std::uint64_t Offset, char* Buffer, std::size_t Count,
                            std::string&) override {
        return static_cast<std::ptrdiff_t>(
            Files[I].copy(Buffer, Count, std::min<std::uint64_t>(Offset, Files[I].size())));
    }
    bool BeginFile(const transfer::TFileInfo& Info, std::uint64_t& ResumeFrom, std::string& Error) override {
        Log += "B" + Info.Name;
        ResumeFrom = Resume;
        Error = "refused";
        return !Refuse;
    }
    bool WriteFile(std::string_view Data, std::string&) override { return Received.append(Data), true; }
    void EndFile(bool Whole) override { Log += Whole ? "E1" : "E0"; }
};

} // namespace qorvel::test
