#pragma once
// ZMODEM, both sides, and the recogniser of a transfer the device starts.
#include "transfer/transfer.h"

namespace qorvel::transfer {

std::unique_ptr<TTransfer> MakeZmodemSender(THost& Host, TMillis Now);
std::unique_ptr<TTransfer> MakeZmodemReceiver(THost& Host, TMillis Now);

} // namespace qorvel::transfer
