// Fuzz harness of the XMODEM/YMODEM engines. The first byte picks the protocol and the side; the
// rest is a run of pieces, each a header byte (its low 7 bits the piece's length, its top bit: the
// next byte moves the clock on by that many 100 ms steps) and the bytes the peer sends. Checked:
// a file is written only between BeginFile and EndFile and never beyond its declared size; a
// sender never reports more acknowledged than the file holds; an ended transfer stays ended, with
// words for why when it did not succeed; a running one always asks for a tick in the future.
// abort() on a violation, so the fuzzer (or the corpus replay under ctest) reports the input.
#include "transfer/xymodem.h"

#include <cstdio>
#include <cstdlib>

namespace {

using namespace qorvel::transfer;

void Check(bool Ok, const char* What) {
    if (Ok) return;
    std::fprintf(stderr, "xymodem_fuzz: %s\n", What);
    std::abort();
}

struct TCheckingHost : THost {
    bool Open = false;
    std::optional<std::uint64_t> Declared;
    std::uint64_t Written = 0;
    std::string Send = std::string(3000, 'x');

    std::size_t SendCount() const override { return 1; }
    TFileInfo SendInfo(std::size_t) const override { return {"file.bin", Send.size(), 0, 0644}; }
    std::ptrdiff_t ReadFile(std::size_t, std::uint64_t Offset, char* Buffer, std::size_t Count,
                            std::string&) override {
        Check(Offset <= Send.size(), "read past the end");
        const std::string part = Send.substr(Offset, Count);
        std::copy(part.begin(), part.end(), Buffer);
        return static_cast<std::ptrdiff_t>(part.size());
    }
    bool BeginFile(const TFileInfo& Info, std::uint64_t&, std::string& Error) override {
        Check(!Open, "a file begun while another is open");
        Check(Info.Name.size() <= 1024, "a name longer than a block");
        Check(!Info.Mode || *Info.Mode <= 07777, "mode bits beyond the permissions");
        // The host refuses some names, as a real one would.
        if (Info.Name.find('/') != std::string::npos) {
            Error = "refused";
            return false;
        }
        Open = true;
        Declared = Info.Size;
        Written = 0;
        return true;
    }
    bool WriteFile(std::string_view Data, std::string&) override {
        Check(Open, "written while no file is open");
        Check(!Data.empty(), "an empty write");
        Written += Data.size();
        Check(!Declared || Written <= *Declared, "more written than declared");
        return true;
    }
    void EndFile(bool) override {
        Check(Open, "ended while no file is open");
        Open = false;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0) return 0;
    const TProtocol protocols[] = {TProtocol::Xmodem, TProtocol::XmodemCrc, TProtocol::Xmodem1K,
                                   TProtocol::Ymodem};
    const TProtocol protocol = protocols[Data[0] & 3];
    const bool sender = Data[0] & 4;
    TCheckingHost host;
    TMillis now = 1000;
    auto transfer =
        sender ? MakeXymodemSender(protocol, host, now) : MakeXymodemReceiver(protocol, host, now);
    TState last = TState::Running;
    for (std::size_t pos = 1; pos < Size;) {
        const std::uint8_t header = Data[pos++];
        if ((header & 0x80) && pos < Size) now += 100 * TMillis(Data[pos++]);
        const std::size_t n = std::min<std::size_t>(header & 0x7F, Size - pos);
        transfer->Receive(std::string_view(reinterpret_cast<const char*>(Data + pos), n), now);
        pos += n;
        if (now >= transfer->Deadline()) transfer->Tick(now);
        std::string out;
        transfer->Output(out, 4096, now);
        const TState state = transfer->State();
        Check(last == TState::Running || state == last, "an ended transfer changed its state");
        Check((state == TState::Failed || state == TState::Cancelled) == !transfer->Error().empty(),
              "an error without a failure or a failure without words");
        Check(state != TState::Running || transfer->Deadline() > now, "a running transfer wants no tick");
        Check(!sender || transfer->Progress().TotalDone <= host.Send.size(), "more acknowledged than sent");
        last = state;
    }
    return 0;
}
