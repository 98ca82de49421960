// ZMODEM sender: offers each file, streams it from the offset the receiver asks for, and starts
// again from wherever the receiver asks (ZRPOS) while streaming.
#include <algorithm>
#include <utility>
#include <vector>

#include "transfer/zmodem.h"
#include "transfer/zmodem_frames.h"
#include "transfer/zmodem_side.h"

namespace qorvel::transfer {
namespace {

using namespace zmodem;

constexpr TMillis kTimeout = 10000;
constexpr std::uint32_t kMaxTries = 10;
constexpr std::uint32_t kFinTries = 3; // every file was acknowledged; ZFIN's answer is a courtesy
constexpr std::size_t kFirstBlock = 1024;
// A ZACK is asked for every kAckEvery bytes and no more than a window goes unacknowledged, so after
// a ZRPOS the receiver wades through little stale data: lrzsz's rz asks again (and gives up after a
// few) when more than about 40 KB of it come before our restart. The window doubles with each ZACK
// up to kMaxWindow, for speed on a clean line, and is small again after each ZRPOS.
constexpr std::uint64_t kAckEvery = 8192;
constexpr std::uint64_t kMinWindow = 32768;
constexpr std::uint64_t kMaxWindow = 1 << 20;
constexpr std::size_t kCleanBlocksToGrow = 32; // a clean stretch of this many subpackets doubles them

class TZmodemSender final : public TZmodemSide {
public:
    TZmodemSender(THost& Host, TMillis Now) : FHost(Host), FCount(Host.SendCount()), FBuffer(kMaxSubpacket) {
        FProgress.FileCount = FCount;
        FOut = "rz\r"; // starts rz on a device whose shell reads this line
        AppendHexHeader(FOut, MakeHeader(ZRQINIT));
        FDeadline = Now + kTimeout;
    }

    void Receive(std::string_view Bytes, TMillis Now) override {
        std::size_t i = 0;
        while (i < Bytes.size() && FPhase != TPhase::Ended) {
            TReader::TEvent event;
            i += FReader.Feed(Bytes.substr(i), event);
            Handle(event, Now);
        }
        KeepTrailing(Bytes.substr(std::min(i, Bytes.size())));
    }

    void Output(std::string& Out, std::size_t Room, TMillis Now) override {
        bool took = false;
        while (Room > 0) {
            if (FOutPos < FOut.size()) {
                const std::size_t count = std::min(Room, FOut.size() - FOutPos);
                Out.append(FOut, FOutPos, count);
                FOutPos += count;
                Room -= count;
                took = true;
                continue;
            }
            FOut.clear();
            FOutPos = 0;
            if (FPhase != TPhase::Streaming || FPos - FAcked >= FStreamWindow || !NextSubpacket()) break;
        }
        // Waiting for an answer starts when the question has left; a stream waits for the line.
        if (took && FPhase != TPhase::Ended) {
            FDeadline = Now + kTimeout;
            FStalls = 0;
        }
    }

    void Tick(TMillis Now) override {
        if (Now < FDeadline || FPhase == TPhase::Ended) return;
        FDeadline = Now + kTimeout;
        ++FProgress.Errors;
        if (FPhase == TPhase::Streaming && FPos - FAcked >= FStreamWindow) {
            // The acknowledgement was lost: start again from what the receiver confirmed.
            FProgress.LastError = "no acknowledgement at offset " + std::to_string(FPos);
            if (++FTries >= kMaxTries) return Fail(FProgress.LastError);
            ++FProgress.Retries;
            return StartData(FAcked);
        }
        if (FPhase == TPhase::Streaming) {
            // Nothing taken for a while: the line is held (flow control) or gone; do not wait forever.
            FProgress.LastError = "the line took no data for " + std::to_string(kTimeout / 1000) + " s";
            if (++FStalls >= kMaxTries) Fail(FProgress.LastError);
            return;
        }
        FProgress.LastError = "timeout";
        ++FTries;
        if (FPhase == TPhase::FinWait) {
            if (FTries >= kFinTries) return End(TState::Done, {});
            return AppendHexHeader(FOut, MakeHeader(ZFIN));
        }
        if (FTries >= kMaxTries) return Fail("timeout");
        ++FProgress.Retries;
        switch (FPhase) {
        case TPhase::Init: AppendHexHeader(FOut, MakeHeader(ZRQINIT)); break;
        case TPhase::FileOffer: QueueOffer(); break;
        case TPhase::AckWait: StartData(FAcked); break;
        case TPhase::EofWait: QueueEof(); break;
        default: break;
        }
    }

private:
    enum class TPhase { Init, FileOffer, Streaming, AckWait, EofWait, FinWait, Ended };

    bool Ended() const override { return FPhase == TPhase::Ended; }

    void End(TState State, std::string Error) override {
        FPhase = TPhase::Ended;
        FFinal = State;
        FError = std::move(Error);
    }

    void Fail(const std::string& Why) {
        std::string what;
        switch (FPhase) {
        case TPhase::Init: what = "No answer from the receiver"; break;
        case TPhase::FileOffer: what = FName + ": no answer to the offer"; break;
        default: what = FName + ": no progress at offset " + std::to_string(FPos); break;
        }
        FOut.resize(FOutPos);
        FOut += kAbort;
        End(TState::Failed, what + " after " + std::to_string(kMaxTries) + " tries (last: " + Why + ")");
    }

    void Handle(TReader::TEvent Event, TMillis Now) {
        switch (Event) {
        case TReader::TEvent::None:
        case TReader::TEvent::Data: break;
        case TReader::TEvent::Cancel:
            FOut.resize(FOutPos);
            End(TState::Cancelled, "Cancelled by the device");
            break;
        case TReader::TEvent::BadHeader:
        case TReader::TEvent::BadData:
            ++FProgress.Errors;
            FProgress.LastError = FReader.Why();
            break;
        case TReader::TEvent::Header: HandleHeader(FReader.Header(), Now); break;
        }
    }

    void HandleHeader(const THeader& Header, TMillis Now) {
        switch (Header.Type) {
        case ZRINIT: // the receiver is ready for a file
            if (FPhase == TPhase::Init) {
                FCrc32 = (Header.Flags0() & CANFC32) != 0;
                FEscaper = TEscaper((Header.Flags0() & ESCCTL) != 0);
                FWindow = Header.Bytes[0] | Header.Bytes[1] << 8;
                StartFile(Now);
            } else if (FPhase == TPhase::EofWait) {
                FProgress.TotalDone = FTotalBefore + FPos;
                FTotalBefore = FProgress.TotalDone;
                ++FIndex;
                StartFile(Now);
            }
            break;
        case ZRPOS: { // send from this offset
            if (FPhase == TPhase::Init || FPhase == TPhase::FinWait) break;
            const std::uint64_t position = Widen(Header.Position());
            if (FPhase != TPhase::FileOffer) {
                ++FProgress.Errors;
                ++FProgress.Retries;
                FProgress.LastError = "resend from offset " + std::to_string(position);
                FBlock = kFirstBlock;
                FStreamWindow = kMinWindow;
                if (position <= FLastAsked && ++FTries >= kMaxTries) return Fail(FProgress.LastError);
                if (position > FLastAsked) FTries = 0;
            } else {
                FTries = 0;
            }
            FLastAsked = position;
            FDeadline = Now + kTimeout;
            StartData(position);
            break;
        }
        case ZACK: // the receiver took a window's worth
            if (FPhase == TPhase::Streaming) {
                const std::uint64_t position = Widen(Header.Position());
                if (position > FAcked && position <= FPos) {
                    FAcked = position;
                    FStreamWindow = std::min(FStreamWindow * 2, kMaxWindow);
                    if (position > FLastAsked) FTries = 0;
                    FDeadline = Now + kTimeout;
                }
            } else if (FPhase == TPhase::AckWait && Widen(Header.Position()) == FPos) {
                FTries = 0;
                FDeadline = Now + kTimeout;
                StartData(FPos);
            }
            break;
        case ZSKIP: // the receiver does not want this file
            if (FPhase == TPhase::FileOffer || FPhase == TPhase::Streaming || FPhase == TPhase::AckWait ||
                FPhase == TPhase::EofWait) {
                ++FProgress.Errors;
                FProgress.LastError = FName + " skipped by the receiver";
                FOut.resize(FOutPos);
                ++FIndex;
                StartFile(Now);
            }
            break;
        case ZNAK: // our offer arrived damaged
            if (FPhase == TPhase::FileOffer) QueueOffer();
            break;
        case ZFIN: // the receiver's goodbye
            if (FPhase == TPhase::FinWait) {
                FOut += "OO";
                End(TState::Done, {});
            }
            break;
        case ZFERR: Abort(FName + ": the receiver cannot write the file"); break;
        case ZABORT:
        case ZCAN: End(TState::Cancelled, "Cancelled by the device"); break;
        default: break;
        }
    }

    void Abort(std::string Why) {
        FOut.resize(FOutPos);
        FOut += kAbort;
        End(TState::Failed, std::move(Why));
    }

    // A 32-bit position from the receiver, near the current one of a file that may pass 4 GiB.
    std::uint64_t Widen(std::uint32_t Position) const {
        const auto delta = static_cast<std::int32_t>(Position - static_cast<std::uint32_t>(FPos));
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(FPos) + delta);
    }

    void StartFile(TMillis Now) {
        FTries = 0;
        FDeadline = Now + kTimeout;
        if (FIndex >= FCount) {
            FPhase = TPhase::FinWait;
            AppendHexHeader(FOut, MakeHeader(ZFIN));
            return;
        }
        FInfo = FHost.SendInfo(FIndex);
        FName = FInfo.Name;
        FPos = 0;
        FAcked = 0;
        FLastAsked = 0;
        FBlock = kFirstBlock;
        FProgress.FileIndex = FIndex;
        FProgress.FileName = FName;
        FProgress.FileSize = FInfo.Size;
        FProgress.FileDone = 0;
        FPhase = TPhase::FileOffer;
        QueueOffer();
    }

    void QueueOffer() {
        std::uint64_t bytesLeft = 0;
        for (std::size_t i = FIndex; i < FCount; ++i)
            bytesLeft += FHost.SendInfo(i).Size.value_or(0);
        AppendBinaryHeader(FOut, MakeFlagsHeader(ZFILE, ZCBIN), FCrc32, FEscaper);
        AppendSubpacket(FOut, FormatFileInfo(FInfo, FCount - FIndex, bytesLeft), ZCRCW, FCrc32, FEscaper);
    }

    void QueueEof() {
        AppendBinaryHeader(FOut, MakeHeader(ZEOF, static_cast<std::uint32_t>(FPos)), FCrc32, FEscaper);
    }

    // (Re)starts the data frame at Position; a frame cut short ends with an empty ZCRCE.
    void StartData(std::uint64_t Position) {
        FOut.resize(FOutPos);
        if (FPhase == TPhase::Streaming) AppendSubpacket(FOut, {}, ZCRCE, FCrc32, FEscaper);
        FPos = Position;
        FAcked = Position;
        FLastQuery = Position;
        FClean = 0;
        FProgress.FileDone = FPos;
        FProgress.TotalDone = FTotalBefore + FPos;
        FPhase = TPhase::Streaming;
        AppendBinaryHeader(FOut, MakeHeader(ZDATA, static_cast<std::uint32_t>(FPos)), FCrc32, FEscaper);
    }

    // Reads and queues the next subpacket; false when there is nothing more to stream now.
    bool NextSubpacket() {
        std::string error;
        const std::ptrdiff_t count = FHost.ReadFile(FIndex, FPos, FBuffer.data(), FBlock, error);
        if (count < 0) {
            Abort("Cannot read " + FName + ": " + error);
            return true;
        }
        const auto size = static_cast<std::size_t>(count);
        const bool last = size < FBlock || (FInfo.Size && FPos + size >= *FInfo.Size);
        const bool window = FWindow != 0 && FPos + size - FAcked >= FWindow;
        const bool query = FPos + size - FLastQuery >= kAckEvery;
        const char end = last ? ZCRCE : window ? ZCRCW : query ? ZCRCQ : ZCRCG;
        if (query) FLastQuery = FPos + size;
        AppendSubpacket(FOut, {FBuffer.data(), size}, end, FCrc32, FEscaper);
        FPos += size;
        FProgress.FileDone = FPos;
        FProgress.TotalDone = FTotalBefore + FPos;
        if (last) {
            FPhase = TPhase::EofWait;
            QueueEof();
        } else if (window) {
            FPhase = TPhase::AckWait;
        } else if (++FClean >= kCleanBlocksToGrow && FBlock < kMaxSubpacket) {
            FBlock *= 2;
            FClean = 0;
        }
        return true;
    }

    THost& FHost;
    const std::size_t FCount;
    std::vector<char> FBuffer;
    TEscaper FEscaper;
    TPhase FPhase = TPhase::Init;
    bool FCrc32 = false;
    std::size_t FWindow = 0; // the receiver's buffer; 0 = it takes a full stream
    std::size_t FIndex = 0;
    TFileInfo FInfo;
    std::string FName;
    std::uint64_t FPos = 0; // the next byte to send
    std::uint64_t FStreamWindow = kMinWindow;
    std::uint64_t FLastQuery = 0; // where the last ZACK was asked for
    std::uint64_t FAcked = 0;     // where the current window began
    std::uint64_t FLastAsked = 0; // the last ZRPOS, to tell a repeat from progress
    std::uint64_t FTotalBefore = 0;
    std::size_t FBlock = kFirstBlock;
    std::size_t FClean = 0;
    std::uint32_t FTries = 0;
    std::uint32_t FStalls = 0;
};

} // namespace

std::unique_ptr<TTransfer> MakeZmodemSender(THost& Host, TMillis Now) {
    return std::make_unique<TZmodemSender>(Host, Now);
}

} // namespace qorvel::transfer
