// Fuzz harness of ZMODEM. The input is used three times:
// - as what a sender says, fed to our receiver in input-chosen pieces with time passing: files are
//   written only between their begin and end, never more data than came in, the answers stay within
//   a few headers per byte in or time-out, and a transfer that ended stays ended;
// - as what a receiver says, fed to our sender of three files: it must end or keep to its room;
// - as received bytes for the start recogniser, whole and split at an input-chosen place: the same
//   start at the same place as a plain search finds.
// abort() on a violation, so the fuzzer (or the corpus replay under ctest) reports the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transfer/zmodem.h"

namespace {

using namespace qorvel::transfer;

void Check(bool Ok, const char* What) {
    if (Ok) return;
    std::fprintf(stderr, "zmodem_fuzz: %s\n", What);
    std::abort();
}

struct TFuzzHost final : THost {
    bool Open = false;
    std::uint64_t Written = 0;
    std::string Files[3] = {"", std::string(100, 'a'), std::string(5000, '\x18')};

    std::size_t SendCount() const override { return 3; }
    TFileInfo SendInfo(std::size_t Index) const override { return {"f", Files[Index].size(), 0, 0600}; }
    std::ptrdiff_t ReadFile(std::size_t Index, std::uint64_t Offset, char* Buffer, std::size_t Count,
                            std::string&) override {
        Check(Index < 3, "read of a file not offered");
        const std::string& file = Files[Index];
        return static_cast<std::ptrdiff_t>(
            file.copy(Buffer, Count, std::min<std::uint64_t>(Offset, file.size())));
    }
    bool BeginFile(const TFileInfo& Info, std::uint64_t& ResumeFrom, std::string& Error) override {
        Check(!Open, "a file begun inside another");
        Open = Info.Name.size() % 3 != 0; // refuse some, resume some
        ResumeFrom = Info.Name.size() % 2;
        Error = "refused";
        return Open;
    }
    bool WriteFile(std::string_view Data, std::string&) override {
        Check(Open, "data written outside a file");
        Written += Data.size();
        return true;
    }
    void EndFile(bool) override { Open = false; }
};

void Run(TTransfer& Side, std::string_view Input, std::size_t Piece, std::size_t& OutBytes) {
    TMillis now = 0;
    bool ended = false;
    std::string out;
    for (std::size_t at = 0; at < Input.size(); at += Piece, now += 1500) {
        Side.Receive(Input.substr(at, Piece), now);
        Side.Tick(now);
        out.clear();
        Side.Output(out, Piece * 8, now);
        Check(out.size() <= Piece * 8, "output beyond its room");
        OutBytes += out.size();
        if (ended) Check(Side.State() != TState::Running, "an ended transfer runs again");
        ended = Side.State() != TState::Running;
    }
}

std::size_t PlainSearch(std::string_view Bytes, TZmodemDetector::TStart& Start) {
    const std::size_t a = Bytes.find("**\x18"
                                     "B00"),
                      b = Bytes.find("**\x18"
                                     "B01");
    const std::size_t first = std::min(a, b);
    Start = first == std::string_view::npos ? TZmodemDetector::TStart::None
            : first == a                    ? TZmodemDetector::TStart::DeviceSends
                                            : TZmodemDetector::TStart::DeviceReceives;
    return first == std::string_view::npos ? 0 : first + 6;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size < 1) return 0;
    const std::size_t piece = 1 + Data[0] % 97;
    const std::string_view input(reinterpret_cast<const char*>(Data) + 1, Size - 1);

    TFuzzHost host;
    std::size_t answers = 0;
    auto receiver = MakeZmodemReceiver(host, 0);
    Run(*receiver, input, piece, answers);
    Check(host.Written <= input.size(), "more data written than came in");
    Check(answers <= 64 * (input.size() + input.size() / piece + 2) + 256, "answers out of proportion");

    std::size_t sent = 0;
    auto sender = MakeZmodemSender(host, 0);
    Run(*sender, input, piece, sent);

    TZmodemDetector detector;
    TZmodemDetector::TStart expected;
    const std::size_t expectedEnd = PlainSearch(input, expected);
    const std::size_t split = std::min<std::size_t>(input.size(), Data[0]);
    std::size_t end = 0;
    TZmodemDetector::TStart found = detector.Scan(input.substr(0, split), end);
    if (found == TZmodemDetector::TStart::None) {
        found = detector.Scan(input.substr(split), end);
        end += split;
    }
    Check(found == expected, "start recogniser disagrees with a plain search");
    Check(found == TZmodemDetector::TStart::None || end == expectedEnd, "start found at the wrong place");
    return 0;
}
