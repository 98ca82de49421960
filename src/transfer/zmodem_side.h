#pragma once
// What the two ZMODEM sides share: the bytes waiting to go out, how a side ends, and the device's
// bytes after a clean end.
#include <string>
#include <string_view>
#include <utility>

#include "transfer/transfer.h"
#include "transfer/zmodem_frames.h"

namespace qorvel::transfer::zmodem {

class TZmodemSide : public TTransfer {
public:
    TMillis Deadline() const override { return Ended() ? kNoDeadline : FDeadline; }

    void Cancel(TMillis) override {
        if (Ended()) return;
        FOut.resize(FOutPos);
        FOut += kAbort;
        End(TState::Cancelled, "Cancelled by the operator");
    }

    TState State() const override { return Ended() && FOutPos == FOut.size() ? FFinal : TState::Running; }
    const TProgress& Progress() const override { return FProgress; }
    const std::string& Error() const override { return FError; }
    std::string TakeTrailing() override { return std::exchange(FTrailing, {}); }

protected:
    virtual bool Ended() const = 0;
    virtual void End(TState State, std::string Error) = 0;

    // After a clean end the rest is the device's again; after an abort it is protocol debris.
    void KeepTrailing(std::string_view Rest) {
        if (!Ended() || FFinal != TState::Done) return;
        Rest.remove_prefix(FReader.SkipHeaderEnd(Rest));
        FTrailing.append(Rest);
    }

    TReader FReader;
    TState FFinal = TState::Running;
    std::string FOut;
    std::size_t FOutPos = 0;
    TMillis FDeadline = kNoDeadline;
    TProgress FProgress;
    std::string FError;
    std::string FTrailing;
};

} // namespace qorvel::transfer::zmodem
