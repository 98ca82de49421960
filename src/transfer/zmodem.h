#pragma once
// ZMODEM, both sides, and the recogniser of a transfer the device starts.
#include "transfer/transfer.h"

namespace qorvel::transfer {

std::unique_ptr<TTransfer> MakeZmodemSender(THost& Host, TMillis Now);
std::unique_ptr<TTransfer> MakeZmodemReceiver(THost& Host, TMillis Now);

} // namespace qorvel::transfer

namespace qorvel::transfer {

// Watches received bytes for a ZMODEM transfer the device starts: "**" ZDLE "B00" (ZRQINIT: the
// device runs sz and sends) or "**" ZDLE "B01" (ZRINIT: the device runs rz and waits for files). It
// only looks: every byte still goes where the caller sends it. A header split across batches is
// found in the batch that completes it.
class TZmodemDetector {
public:
    enum class TStart { None, DeviceSends, DeviceReceives };
    // The first start completed within Bytes; End is the index in Bytes just after its header.
    TStart Scan(std::string_view Bytes, std::size_t& End);
    void Reset();

private:
    std::string FTail; // the end of the last batch, when it may begin a header
};

} // namespace qorvel::transfer
