// ZMODEM receiver: answers the sender's offers, writes each file in order, and asks again (ZRPOS)
// from the last good byte after anything bad.
#include <algorithm>
#include <charconv>
#include <utility>

#include "transfer/zmodem.h"
#include "transfer/zmodem_frames.h"
#include "transfer/zmodem_side.h"

namespace qorvel::transfer {
namespace {

using namespace zmodem;

constexpr TMillis kTimeout = 10000;
constexpr TMillis kEofGrace = 2000; // a ZEOF past our offset: our ZRPOS may have been lost
constexpr TMillis kOoWait = 1000;   // the sender's "OO" after our ZFIN
constexpr std::uint32_t kMaxTries = 10;

class TZmodemReceiver final : public TZmodemSide {
public:
    TZmodemReceiver(THost& Host, TMillis Now) : FHost(Host) {
        SendZrinit();
        FDeadline = Now + kTimeout;
    }

    void Receive(std::string_view Bytes, TMillis Now) override {
        std::size_t i = 0;
        while (i < Bytes.size() && FPhase != TPhase::Ended) {
            if (FPhase == TPhase::Finishing) {
                i += FReader.SkipHeaderEnd(Bytes.substr(i));
                if (i == Bytes.size()) break;
                while (i < Bytes.size() && FOCount < 2 && Bytes[i] == 'O') {
                    ++i;
                    ++FOCount;
                }
                if (i < Bytes.size() || FOCount == 2) End(TState::Done, {});
                break;
            }
            TReader::TEvent event;
            i += FReader.Feed(Bytes.substr(i), event);
            Handle(event, Now);
        }
        KeepTrailing(Bytes.substr(std::min(i, Bytes.size())));
    }

    void Output(std::string& Out, std::size_t Room, TMillis Now) override {
        const std::size_t count = std::min(Room, FOut.size() - FOutPos);
        if (count == 0) return;
        Out.append(FOut, FOutPos, count);
        FOutPos += count;
        if (FOutPos == FOut.size()) {
            FOut.clear();
            FOutPos = 0;
        }
        // Waiting starts when our answer has left.
        if (FPhase == TPhase::Finishing)
            FDeadline = Now + kOoWait;
        else if (FPhase != TPhase::Ended)
            FDeadline = Now + kTimeout;
    }

    void Tick(TMillis Now) override {
        if (Now < FDeadline || FPhase == TPhase::Ended) return;
        FDeadline = Now + kTimeout;
        switch (FPhase) {
        case TPhase::Waiting:
            if (!CountTry("timeout")) return;
            SendZrinit();
            break;
        case TPhase::Receiving: AskAgain("timeout"); break;
        case TPhase::Finishing: End(TState::Done, {}); break;
        case TPhase::Ended: break;
        }
    }

private:
    enum class TPhase { Waiting, Receiving, Finishing, Ended };

    void Queue(std::uint8_t Type, std::uint32_t Position = 0) {
        AppendHexHeader(FOut, MakeHeader(Type, Position));
    }
    void SendZrinit() { AppendHexHeader(FOut, MakeFlagsHeader(ZRINIT, CANFDX | CANOVIO | CANFC32)); }

    // Counts a failed try; false (and the transfer ended) after too many without progress.
    bool CountTry(const std::string& Why) {
        ++FProgress.Errors;
        FProgress.LastError = Why;
        if (++FTries < kMaxTries) return true;
        if (FPhase == TPhase::Receiving)
            End(TState::Failed, "No good data at offset " + std::to_string(FOffset) + " after " +
                                    std::to_string(kMaxTries) + " tries (last: " + Why + ")");
        else
            End(TState::Failed, "No answer from the sender after " + std::to_string(kMaxTries) +
                                    " tries (last: " + Why + ")");
        return false;
    }

    void AskAgain(const std::string& Why) {
        if (!CountTry(Why)) return;
        ++FProgress.Retries;
        FReader.Hunt();
        Queue(ZRPOS, static_cast<std::uint32_t>(FOffset));
    }

    bool Ended() const override { return FPhase == TPhase::Ended; }

    void End(TState State, std::string Error) override {
        if (FPhase == TPhase::Receiving) FHost.EndFile(false);
        if (State == TState::Failed) FOut += kAbort; // the sender stops too, not streaming into a shell
        FPhase = TPhase::Ended;
        FFinal = State;
        FError = std::move(Error);
    }

    void Handle(TReader::TEvent Event, TMillis Now) {
        switch (Event) {
        case TReader::TEvent::None: break;
        case TReader::TEvent::Cancel:
            FOut.resize(FOutPos);
            End(TState::Cancelled, "Cancelled by the device");
            break;
        case TReader::TEvent::BadHeader:
            if (FPhase == TPhase::Receiving)
                AskAgain(FReader.Why());
            else if (CountTry(FReader.Why()))
                SendZrinit();
            break;
        case TReader::TEvent::BadData:
            if (FDataFor == ZDATA) {
                AskAgain(FReader.Why() + (" at offset " + std::to_string(FOffset)));
            } else if (CountTry(FReader.Why())) {
                Queue(ZNAK);
            }
            break;
        case TReader::TEvent::Header: HandleHeader(FReader.Header(), Now); break;
        case TReader::TEvent::Data: HandleData(FReader.Data(), FReader.End(), Now); break;
        }
    }

    void HandleHeader(const THeader& Header, TMillis Now) {
        switch (Header.Type) {
        case ZRQINIT: // the sender (re)starts: tell it what we can
            if (FPhase == TPhase::Waiting) SendZrinit();
            break;
        case ZSINIT: // the sender's escaping wishes and attention string
        case ZFILE:  // a file offer; its name and sizes follow as data
            FDataFor = Header.Type;
            FReader.ExpectData(Header.Crc32);
            break;
        case ZDATA: { // data from a position
            if (FPhase != TPhase::Receiving) break;
            const auto delta =
                static_cast<std::int32_t>(Header.Position() - static_cast<std::uint32_t>(FOffset));
            if (delta > 0) {
                AskAgain("data at offset " + std::to_string(FOffset + static_cast<std::uint32_t>(delta)) +
                         ", expected " + std::to_string(FOffset));
                break;
            }
            // Data we already hold is read and dropped, which saves a round trip.
            FSkip = static_cast<std::uint64_t>(-static_cast<std::int64_t>(delta));
            FDataFor = ZDATA;
            FReader.ExpectData(Header.Crc32);
            break;
        }
        case ZEOF: // the end of the file, at the sender's length
            if (FPhase == TPhase::Waiting) {
                SendZrinit(); // our answer to it was lost
            } else if (FPhase == TPhase::Receiving) {
                if (Header.Position() == static_cast<std::uint32_t>(FOffset)) {
                    FHost.EndFile(true);
                    FPhase = TPhase::Waiting;
                    ++FProgress.FileIndex;
                    FTries = 0;
                    SendZrinit();
                } else {
                    FDeadline = std::min(FDeadline, Now + kEofGrace);
                }
            }
            break;
        case ZFIN: // the sender is done
            if (FPhase == TPhase::Receiving) FHost.EndFile(false);
            FPhase = TPhase::Finishing;
            Queue(ZFIN);
            FDeadline = Now + kOoWait;
            break;
        case ZABORT:
        case ZCAN: End(TState::Cancelled, "Cancelled by the device"); break;
        default: break; // commands and the rest are not ours to run
        }
    }

    void HandleData(std::string_view Data, char End, TMillis Now) {
        switch (FDataFor) {
        case ZSINIT: Queue(ZACK, 1); break;
        case ZFILE: Offer(Data); break;
        case ZDATA: {
            const auto skip = static_cast<std::size_t>(std::min<std::uint64_t>(FSkip, Data.size()));
            FSkip -= skip;
            Data.remove_prefix(skip);
            if (!Data.empty()) {
                std::string error;
                if (!FHost.WriteFile(Data, error)) {
                    this->End(TState::Failed, "Cannot write " + FProgress.FileName + ": " + error);
                    return;
                }
                FOffset += Data.size();
                FProgress.FileDone = FOffset;
                FProgress.TotalDone += Data.size();
                FTries = 0;
            }
            FDeadline = Now + kTimeout;
            if (End == ZCRCW || End == ZCRCQ) Queue(ZACK, static_cast<std::uint32_t>(FOffset));
            break;
        }
        default: break;
        }
    }

    void Offer(std::string_view Data) {
        TFileInfo info = ParseFileInfo(Data);
        std::optional<std::uint64_t> filesLeft = ParseFilesLeft(Data);
        if (FPhase == TPhase::Receiving) {
            // The sender did not hear our ZRPOS and offers the same file again.
            if (info.Name == FProgress.FileName) {
                Queue(ZRPOS, static_cast<std::uint32_t>(FOffset));
                return;
            }
            FHost.EndFile(false);
            FPhase = TPhase::Waiting;
        }
        FTries = 0;
        FProgress.FileName = info.Name;
        FProgress.FileSize = info.Size;
        FProgress.FileDone = 0;
        if (filesLeft && *filesLeft > 0 && *filesLeft < (1u << 20))
            FProgress.FileCount = FProgress.FileIndex + static_cast<std::size_t>(*filesLeft);
        std::uint64_t resume = 0;
        std::string error;
        if (!FHost.BeginFile(info, resume, error)) {
            ++FProgress.Errors;
            FProgress.LastError = info.Name + " skipped: " + error;
            ++FProgress.FileIndex;
            Queue(ZSKIP);
            return;
        }
        if (info.Size) resume = std::min(resume, *info.Size);
        FOffset = resume;
        FSkip = 0;
        FProgress.FileDone = FOffset;
        FPhase = TPhase::Receiving;
        Queue(ZRPOS, static_cast<std::uint32_t>(FOffset));
    }

    THost& FHost;
    TPhase FPhase = TPhase::Waiting;
    std::uint8_t FDataFor = 0;
    std::uint64_t FOffset = 0;
    std::uint64_t FSkip = 0;
    std::uint32_t FTries = 0;
    int FOCount = 0;
};

} // namespace

std::unique_ptr<TTransfer> MakeZmodemReceiver(THost& Host, TMillis Now) {
    return std::make_unique<TZmodemReceiver>(Host, Now);
}

} // namespace qorvel::transfer
