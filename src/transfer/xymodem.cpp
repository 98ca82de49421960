#include "transfer/xymodem.h"

#include "transfer/crc.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace qorvel::transfer {
namespace {

constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char BS = 0x08;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char SUB = 0x1A; // CP/M end-of-file, the padding of a short last block
constexpr char POKE_CRC = 'C';

constexpr int kMaxTries = 10;          // per block, as the documents say
constexpr int kCrcPokesBeforeSum = 3;  // XMODEM-CRC receivers fall back to the checksum after these
constexpr std::size_t kShortFit = 896; // 7 short blocks cost less than one 1K block up to here

std::string CancelBytes() {
    return std::string(8, CAN) + std::string(8, BS);
}

std::uint8_t Sum8(std::string_view Data) {
    std::uint8_t sum = 0;
    for (const char c : Data)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    return sum;
}

std::string Block(std::uint8_t Number, std::string_view Data, bool Crc) {
    std::string out;
    out.reserve(Data.size() + 5);
    out += Data.size() == 1024 ? STX : SOH;
    out += static_cast<char>(Number);
    out += static_cast<char>(~Number);
    out += Data;
    if (Crc) {
        const std::uint16_t crc = Crc16(Data);
        out += static_cast<char>(crc >> 8);
        out += static_cast<char>(crc & 0xFF);
    } else {
        out += static_cast<char>(Sum8(Data));
    }
    return out;
}

template <typename T> std::optional<T> ParseNumber(std::string_view Text, int Base) {
    if (Text.empty()) return std::nullopt;
    for (const char c : Text)
        if (c < '0' || c >= '0' + Base) return std::nullopt; // no sign, no blanks, no hex
    T value{};
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value, Base);
    if (ec != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

// Shared by both sides: the queue of bytes to write, the end state, progress and the words.
class TXyBase : public TTransfer {
public:
    TXyBase(TProtocol Protocol, THost& Host, const TXymodemTimes& Times)
        : FProtocol(Protocol), FHost(Host), FTimes(Times) {}

    void Output(std::string& Out, std::size_t Room, TMillis Now) override {
        const std::size_t n = std::min(Room, FOut.size());
        Out.append(FOut, 0, n);
        FOut.erase(0, n);
        // A wait for the peer's answer starts when the last byte is handed over, not when queued.
        if (FOut.empty() && FArmOnDrain) {
            FArmOnDrain = false;
            FDeadline = Now + FArmWait;
        }
    }
    TMillis Deadline() const override { return FEnd == TState::Running ? FDeadline : kNoDeadline; }
    TState State() const override { return FOut.empty() ? FEnd : TState::Running; }
    const TProgress& Progress() const override { return FProgress; }
    const std::string& Error() const override { return FError; }
    std::string TakeTrailing() override { return std::exchange(FTrailing, {}); }
    void Cancel(TMillis) override {
        if (FEnd != TState::Running) return;
        // What is queued is at most one block; it goes out whole so the peer reads the CANs as such.
        FOut += CancelBytes();
        Finish(TState::Cancelled, "Cancelled by the operator");
    }

protected:
    void Send(std::string_view Bytes, TMillis Wait) {
        FOut += Bytes;
        FArmOnDrain = true;
        FArmWait = Wait;
        FDeadline = kNoDeadline;
    }
    void Wait(TMillis Until) {
        FArmOnDrain = false;
        FDeadline = Until;
    }
    void Finish(TState State, std::string Error) {
        if (FEnd != TState::Running) return;
        FEnd = State;
        FError = std::move(Error);
        FDeadline = kNoDeadline;
        OnFinish();
    }
    void Fail(std::string Error) {
        FOut += CancelBytes();
        Finish(TState::Failed, std::move(Error));
    }
    void NoteError(std::string Cause) {
        ++FProgress.Errors;
        FProgress.LastError = std::move(Cause);
    }
    // Two CANs in a row where a protocol byte is due: the peer gave up.
    bool SeenCancel(char C) {
        FCans = C == CAN ? FCans + 1 : 0;
        if (FCans < 2) return false;
        Finish(TState::Cancelled, "Cancelled by the device");
        return true;
    }
    virtual void OnFinish() {}

    TProtocol FProtocol;
    THost& FHost;
    TXymodemTimes FTimes;
    std::string FOut;
    std::string FTrailing;
    TState FEnd = TState::Running;
    std::string FError;
    TProgress FProgress;
    TMillis FDeadline = kNoDeadline;
    bool FArmOnDrain = false;
    TMillis FArmWait = 0;
    int FCans = 0;
};

// ---------------------------------------------------------------------------------------------
class TXyReceiver final : public TXyBase {
public:
    TXyReceiver(TProtocol Protocol, THost& Host, TMillis Now, const TXymodemTimes& Times)
        : TXyBase(Protocol, Host, Times), FCrc(Protocol != TProtocol::Xmodem),
          FBatch(Protocol == TProtocol::Ymodem), FExpect(FBatch ? 0 : 1), FStartBy(Now + Times.StartTimeout) {
        if (!FBatch) FProgress.FileCount = 1;
        Poke(Now);
    }

    void Receive(std::string_view Bytes, TMillis Now) override {
        if (FEnd != TState::Running) {
            FTrailing += Bytes;
            return;
        }
        if (FPurging) {
            Wait(Now + FTimes.Purge); // the line is not quiet yet
            return;
        }
        FIn += Bytes;
        Process(Now);
    }

    void Tick(TMillis Now) override {
        if (FEnd != TState::Running || Now < FDeadline) return;
        if (FPurging) {
            FPurging = false;
            Nak(Now);
        } else if (!FIn.empty()) {
            FIn.clear();
            BadBlock("timeout inside block " + std::to_string(FBlockNo), Now, false);
        } else if (FWaitingStart) {
            if (Now >= FStartBy) {
                const std::string seconds = std::to_string(FTimes.StartTimeout / 1000);
                Fail(FSeenBlock ? FileLabel() + "the sender sent nothing more for " + seconds + " s"
                                : "The sender did not start (no block in " + seconds + " s)");
                return;
            }
            Poke(Now);
        } else {
            BadBlock("timeout", Now, false);
        }
    }

private:
    void Poke(TMillis) {
        FWaitingStart = true;
        // The documents' fallback: a sender that ignores 'C' may only know the checksum.
        if (FCrc && !FBatch && FProtocol != TProtocol::Xmodem && !FSenderAlive &&
            FPokes >= kCrcPokesBeforeSum)
            FCrc = false;
        ++FPokes;
        Send(std::string(1, FCrc ? POKE_CRC : NAK), FTimes.Poke);
    }

    std::string FileLabel() const {
        return FProgress.FileName.empty() ? std::string() : FProgress.FileName + ": ";
    }

    void Process(TMillis Now) {
        while (FEnd == TState::Running && !FPurging && !FIn.empty()) {
            const char lead = FIn[0];
            if (lead == SOH || lead == STX) {
                FCans = 0;
                const std::size_t data = lead == STX ? 1024 : 128;
                const std::size_t need = 3 + data + (FCrc ? 2 : 1);
                FSenderAlive = true; // from now on a poke is no reason to drop the CRC
                if (FIn.size() < need) {
                    FBlockNo = FExpect;
                    Wait(Now + FTimes.InBlock);
                    return;
                }
                const std::string block = FIn.substr(0, need);
                FIn.erase(0, need);
                OnBlock(block, data, Now);
            } else if (lead == EOT) {
                FCans = 0;
                FIn.erase(0, 1);
                OnEot(Now);
            } else {
                FIn.erase(0, 1);
                if (SeenCancel(lead)) return;
                // Anything else between blocks is line noise or the sender's chatter: skipped.
            }
        }
    }

    void OnBlock(const std::string& Raw, std::size_t Size, TMillis Now) {
        const auto number = static_cast<std::uint8_t>(Raw[1]);
        const auto complement = static_cast<std::uint8_t>(Raw[2]);
        const std::string_view data(Raw.data() + 3, Size);
        FBlockNo = FExpect;
        if (static_cast<std::uint8_t>(number + complement) != 0xFF) {
            BadBlock("bad block number in block " + std::to_string(FExpect), Now, true);
            return;
        }
        bool good;
        if (FCrc) {
            const std::uint16_t crc = static_cast<std::uint16_t>(
                (static_cast<std::uint8_t>(Raw[3 + Size]) << 8) | static_cast<std::uint8_t>(Raw[4 + Size]));
            good = Crc16(data) == crc;
        } else {
            good = Sum8(data) == static_cast<std::uint8_t>(Raw[3 + Size]);
        }
        if (!good) {
            BadBlock(std::string(FCrc ? "CRC" : "checksum") + " error in block " + std::to_string(FExpect),
                     Now, true);
            return;
        }
        FSeenBlock = true;
        const auto expected = static_cast<std::uint8_t>(FExpect);
        if (number == static_cast<std::uint8_t>(expected - 1) && !(FWaitingHeader() && FExpect == 0)) {
            // Our ACK was lost and the sender repeats: acknowledge again, write nothing.
            ++FProgress.Retries;
            Ack(Now, FBatch && number == 0);
            return;
        }
        if (number != expected) {
            BadBlock("block " + std::to_string(number) + " instead of " + std::to_string(expected & 0xFF),
                     Now, true);
            return;
        }
        FTries = 0;
        if (FBatch && FExpect == 0) {
            OnHeader(data, Now);
            return;
        }
        if (!FBatch && FFilesBegun == 0 && !BeginXmodemFile()) return;
        std::string_view keep = data;
        if (FDeclared)
            keep = keep.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(
                                      keep.size(), *FDeclared - std::min(*FDeclared, FProgress.FileDone))));
        if (!keep.empty()) {
            std::string error;
            if (!FHost.WriteFile(keep, error)) {
                FHost.EndFile(false);
                FFileOpen = false;
                Fail(FileLabel() + error);
                return;
            }
            FProgress.FileDone += keep.size();
            FProgress.TotalDone += keep.size();
        }
        ++FExpect;
        Ack(Now, false);
    }

    bool FWaitingHeader() const { return FBatch && FExpect == 0; }

    void OnHeader(std::string_view Data, TMillis Now) {
        const TFileInfo info = ParseYmodemHeader(Data);
        if (info.Name.empty()) { // the empty header ends the batch; so does one of only padding
            FOut += ACK;
            Finish(TState::Done, {});
            return;
        }
        std::uint64_t resume = 0;
        std::string error;
        if (!FHost.BeginFile(info, resume, error)) {
            // YMODEM has no way to skip one file, so the batch ends here.
            Fail("File " + info.Name + ": " + error);
            return;
        }
        if (FFilesBegun > 0) ++FProgress.FileIndex;
        ++FFilesBegun;
        FFileOpen = true;
        FProgress.FileName = info.Name;
        FProgress.FileSize = info.Size;
        FProgress.FileDone = 0;
        FDeclared = info.Size;
        FExpect = 1;
        FEots = 0;
        // ACK the header, then 'C' asks for the data.
        Ack(Now, true);
    }

    void OnEot(TMillis Now) {
        // XMODEM's file is created with its first block, so a sender that never starts leaves
        // nothing behind; an EOT first is a file of no bytes.
        if (!FBatch && FFilesBegun == 0 && !BeginXmodemFile()) return;
        if (FWaitingHeader() || !FFileOpen) {
            // Before any file: a stray EOT, or the sender repeating one whose ACK was lost.
            if (FSeenBlock || FFilesBegun > 0) Ack(Now, FBatch);
            return;
        }
        // YMODEM: the first EOT is answered with NAK, so a noise byte cannot end a file.
        if (FBatch && FEots++ == 0) {
            Send(std::string(1, NAK), FTimes.Answer);
            FWaitingStart = false;
            return;
        }
        const bool complete = !FDeclared || FProgress.FileDone == *FDeclared;
        FHost.EndFile(complete);
        FFileOpen = false;
        if (!complete) NoteError(FileLabel() + "ended before its declared size");
        if (!FBatch) {
            FOut += ACK;
            FTrailing += std::exchange(FIn, {});
            Finish(TState::Done, {});
            return;
        }
        FExpect = 0;
        FOut += ACK;
        FPokes = 0;
        FStartBy = Now + FTimes.StartTimeout;
        Poke(Now);
    }

    // With ThenPoke the 'C' that asks for what follows a header goes too, and is repeated until it comes.
    void Ack(TMillis Now, bool ThenPoke) {
        FWaitingStart = ThenPoke;
        if (ThenPoke) FStartBy = Now + FTimes.StartTimeout;
        Send(ThenPoke ? std::string{ACK, POKE_CRC} : std::string(1, ACK),
             ThenPoke ? FTimes.Poke : FTimes.Answer);
    }

    void Nak(TMillis Now) {
        if (FWaitingStart) {
            Poke(Now);
            return;
        }
        ++FProgress.Retries;
        Send(std::string(1, NAK), FTimes.Answer);
    }

    // Counts an error against the block due; a corrupt block first waits for the line to go quiet.
    void BadBlock(std::string Cause, TMillis Now, bool Purge) {
        NoteError(Cause);
        if (++FTries >= kMaxTries) {
            if (FFileOpen) FHost.EndFile(false);
            FFileOpen = false;
            Fail("Block " + std::to_string(FBlockNo) + ": no good block after " + std::to_string(kMaxTries) +
                 " tries (last: " + Cause + ")");
            return;
        }
        if (Purge) {
            FIn.clear();
            FPurging = true;
            Wait(Now + FTimes.Purge);
            return;
        }
        Nak(Now);
    }

    bool BeginXmodemFile() {
        std::uint64_t resume = 0;
        std::string error;
        if (!FHost.BeginFile(TFileInfo{}, resume, error)) {
            Fail(error);
            return false;
        }
        FFilesBegun = 1;
        FFileOpen = true;
        return true;
    }

    void OnFinish() override {
        if (FEnd != TState::Done && FFileOpen) FHost.EndFile(false);
        FFileOpen = false;
        if (FEnd != TState::Running) FTrailing += std::exchange(FIn, {});
    }

    bool FCrc;
    bool FBatch;
    std::uint64_t FExpect; // block number due, counting on past 255
    TMillis FStartBy;
    std::string FIn;
    bool FWaitingStart = false;
    bool FSeenBlock = false;
    bool FSenderAlive = false;
    bool FPurging = false;
    bool FFileOpen = false;
    int FPokes = 0;
    int FTries = 0;
    int FEots = 0;
    std::size_t FFilesBegun = 0;
    std::uint64_t FBlockNo = 0;
    std::optional<std::uint64_t> FDeclared;
};

// ---------------------------------------------------------------------------------------------
class TXySender final : public TXyBase {
public:
    TXySender(TProtocol Protocol, THost& Host, TMillis Now, const TXymodemTimes& Times)
        : TXyBase(Protocol, Host, Times), FBatch(Protocol == TProtocol::Ymodem),
          FLong(Protocol == TProtocol::Xmodem1K || Protocol == TProtocol::Ymodem) {
        FProgress.FileCount = Host.SendCount();
        if (!FBatch && FProgress.FileCount != 1) {
            Finish(TState::Failed,
                   FProgress.FileCount == 0 ? "No file to send" : "XMODEM sends one file at a time");
            return;
        }
        Wait(Now + Times.StartTimeout);
    }

    void Receive(std::string_view Bytes, TMillis Now) override {
        for (std::size_t i = 0; i < Bytes.size(); ++i) {
            if (FEnd != TState::Running) {
                FTrailing.append(Bytes.substr(i));
                return;
            }
            OnByte(Bytes[i], Now);
        }
    }

    void Tick(TMillis Now) override {
        if (FEnd != TState::Running || Now < FDeadline) return;
        const std::string seconds = std::to_string(FTimes.StartTimeout / 1000);
        switch (FStep) {
        case TStep::Start:
            if (FNext > 0)
                Fail("The receiver did not ask for the next file's header");
            else if (FBatch)
                Fail("The receiver did not start (no 'C' in " + seconds + " s)");
            else
                Fail("The receiver did not start (no 'C' or NAK in " + seconds + " s)");
            return;
        case TStep::HeaderPoke:
            Fail(Label() + "the receiver did not ask for the data after the header");
            return;
        case TStep::Final:
            // Every file was acknowledged; some receivers end after the empty header and their exit
            // flushes the line, losing its ACK. Waiting out the tries would fail a finished batch.
            Finish(TState::Done, {});
            return;
        default: Resend("timeout");
        }
    }

private:
    enum class TStep {
        Start,      // waiting for 'C' (or NAK) before the first block or the next header
        Header,     // block 0 out, waiting for its ACK
        HeaderPoke, // header taken, waiting for the 'C' that asks for the data
        Data,       // a data block out, waiting for its ACK
        Eot,        // EOT out, waiting for its ACK
        Final       // the empty header out, waiting for its ACK
    };

    std::string Label() const {
        return FProgress.FileName.empty() ? std::string() : FProgress.FileName + ": ";
    }

    void OnByte(char C, TMillis Now) {
        if (SeenCancel(C)) return;
        switch (FStep) {
        case TStep::Start:
            if (C == POKE_CRC || (C == NAK && !FBatch && FNext == 0)) {
                if (FNext == 0) {
                    FCrc = C == POKE_CRC;
                    FLongOk = FLong && FCrc; // 1K blocks only under a CRC: a sum is too weak for them
                }
                if (FBatch)
                    SendHeader(FNext);
                else
                    BeginData(Now);
            }
            return;
        case TStep::HeaderPoke:
            if (C == POKE_CRC) BeginData(Now);
            return;
        default:
            if (!FOut.empty() || FArmOnDrain) return; // an answer before our block is out is stale
            if (C == ACK) {
                Acked(Now);
            } else if (C == NAK) {
                Resend("NAK");
            } else if (FStep == TStep::Final && C != POKE_CRC && C != CAN) {
                // The device's own output after the batch (its prompt): the receiver has ended.
                Finish(TState::Done, {});
                FTrailing += C;
            }
            // 'C' and anything else while an answer is due: a poke sent before our block arrived.
        }
    }

    void SendHeader(std::size_t Index) {
        FIndex = Index;
        if (Index >= FProgress.FileCount) {
            FStep = TStep::Final;
            SendBlock(0, std::string(128, '\0'));
            return;
        }
        const TFileInfo info = FHost.SendInfo(Index);
        FProgress.FileIndex = Index;
        FProgress.FileName = info.Name;
        FProgress.FileSize = info.Size;
        FProgress.FileDone = 0;
        std::string header = info.Name;
        header += '\0';
        if (info.Size) {
            header += std::to_string(*info.Size);
            if (info.ModTime && *info.ModTime >= 0) {
                char buffer[32];
                auto end = std::to_chars(buffer, buffer + sizeof buffer, *info.ModTime, 8).ptr;
                header += ' ';
                header.append(buffer, end);
                if (info.Mode) {
                    end = std::to_chars(buffer, buffer + sizeof buffer, *info.Mode, 8).ptr;
                    header += ' ';
                    header.append(buffer, end);
                }
            }
        }
        if (header.size() > 1024) {
            Fail("File " + info.Name + ": the name is too long for a YMODEM header");
            return;
        }
        header.resize(header.size() <= 128 ? 128 : 1024, '\0');
        FStep = TStep::Header;
        SendBlock(0, header);
    }

    void BeginData(TMillis Now) {
        FOffset = 0;
        FNumber = 1;
        if (!FBatch) {
            const TFileInfo info = FHost.SendInfo(0);
            FProgress.FileName = info.Name;
            FProgress.FileSize = info.Size;
        }
        NextBlock(Now);
    }

    // Reads the next block of the file; at its end sends EOT.
    void NextBlock(TMillis) {
        std::string data(FLongOk ? 1024 : 128, '\0');
        std::size_t got = 0;
        while (got < data.size()) {
            std::string error;
            const std::ptrdiff_t n =
                FHost.ReadFile(FIndex, FOffset + got, data.data() + got, data.size() - got, error);
            if (n < 0) {
                Fail(Label() + error);
                return;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        FTries = 0;
        FEotNaks = 0;
        if (got == 0) {
            FStep = TStep::Eot;
            FPayload = 0;
            FBlock.assign(1, EOT);
            Send(FBlock, FTimes.Answer);
            return;
        }
        // A short end goes in 128-byte blocks where they cost less than a padded 1K block.
        const std::size_t size = got > kShortFit ? 1024 : 128;
        FPayload = std::min(got, size);
        data.resize(FPayload);
        data.resize(size, SUB);
        FStep = TStep::Data;
        SendBlock(static_cast<std::uint8_t>(FNumber), data);
    }

    void SendBlock(std::uint8_t Number, const std::string& Data) {
        FBlock = Block(Number, Data, FCrc);
        FTries = 0;
        Send(FBlock, FTimes.Answer);
    }

    void Resend(const std::string& Cause) {
        // YMODEM receivers NAK the first EOT on purpose: that one is no error.
        if (!(FStep == TStep::Eot && Cause == "NAK" && FEotNaks++ == 0)) {
            NoteError(Cause);
            if (++FTries >= kMaxTries) {
                const std::string what = FStep == TStep::Eot    ? std::string("End of file")
                                         : FStep == TStep::Data ? "Block " + std::to_string(FNumber)
                                                                : std::string("Header");
                Fail(Label() + what + ": no answer after " + std::to_string(kMaxTries) +
                     " tries (last: " + Cause + ")");
                return;
            }
            ++FProgress.Retries;
        }
        Send(FBlock, FTimes.Answer);
    }

    void Acked(TMillis Now) {
        FTries = 0;
        switch (FStep) {
        case TStep::Header:
            FStep = TStep::HeaderPoke;
            Wait(Now + FTimes.Answer);
            return;
        case TStep::Data:
            FOffset += FPayload;
            FProgress.FileDone += FPayload;
            FProgress.TotalDone += FPayload;
            ++FNumber;
            NextBlock(Now);
            return;
        case TStep::Eot:
            if (!FBatch) {
                Finish(TState::Done, {});
                return;
            }
            FNext = FIndex + 1;
            FStep = TStep::Start;
            Wait(Now + FTimes.StartTimeout);
            return;
        case TStep::Final: Finish(TState::Done, {}); return;
        default: return;
        }
    }

    bool FBatch;
    bool FLong;
    bool FLongOk = false;
    bool FCrc = true;
    TStep FStep = TStep::Start;
    std::size_t FIndex = 0;
    std::size_t FNext = 0; // the file whose header the next 'C' asks for
    std::uint64_t FOffset = 0;
    std::uint64_t FNumber = 1;
    std::size_t FPayload = 0;
    std::string FBlock;
    int FTries = 0;
    int FEotNaks = 0;
};

} // namespace

TFileInfo ParseYmodemHeader(std::string_view Block) {
    TFileInfo info;
    const std::size_t nul = Block.find('\0');
    if (nul == std::string_view::npos) {
        // No terminator: the whole block is taken as the name and the host judges it.
        std::size_t end = Block.size();
        while (end > 0 && Block[end - 1] == SUB)
            --end;
        info.Name.assign(Block.substr(0, end));
        return info;
    }
    info.Name.assign(Block.substr(0, nul));
    std::string_view rest = Block.substr(nul + 1);
    rest = rest.substr(0, std::min(rest.find('\0'), rest.size()));
    std::string_view fields[3];
    for (auto& field : fields) {
        while (!rest.empty() && rest[0] == ' ')
            rest.remove_prefix(1);
        const std::size_t blank = std::min(rest.find(' '), rest.size());
        field = rest.substr(0, blank);
        rest.remove_prefix(blank);
    }
    info.Size = ParseNumber<std::uint64_t>(fields[0], 10);
    if (info.Size) {
        info.ModTime = ParseNumber<std::int64_t>(fields[1], 8);
        if (const auto mode = ParseNumber<std::uint32_t>(fields[2], 8)) info.Mode = *mode & 07777;
    }
    return info;
}

std::unique_ptr<TTransfer> MakeXymodemSender(TProtocol Protocol, THost& Host, TMillis Now,
                                             const TXymodemTimes& Times) {
    if (Protocol == TProtocol::Zmodem) return nullptr;
    return std::make_unique<TXySender>(Protocol, Host, Now, Times);
}

std::unique_ptr<TTransfer> MakeXymodemReceiver(TProtocol Protocol, THost& Host, TMillis Now,
                                               const TXymodemTimes& Times) {
    if (Protocol == TProtocol::Zmodem) return nullptr;
    return std::make_unique<TXyReceiver>(Protocol, Host, Now, Times);
}

} // namespace qorvel::transfer
