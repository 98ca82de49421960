#pragma once
// XMODEM (checksum, CRC, 1K) and YMODEM, both sides.
#include "transfer/transfer.h"

namespace qorvel::transfer {

std::unique_ptr<TTransfer> MakeXymodemSender(TProtocol Protocol, THost& Host, TMillis Now);
std::unique_ptr<TTransfer> MakeXymodemReceiver(TProtocol Protocol, THost& Host, TMillis Now);

} // namespace qorvel::transfer
