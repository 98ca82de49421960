#pragma once
// XMODEM (checksum, CRC, 1K) and YMODEM, both sides.
#include "transfer/transfer.h"

namespace qorvel::transfer {

// The waits of the stop-and-wait protocols; the defaults are those of the classic documents.
struct TXymodemTimes {
    TMillis StartTimeout = 60000; // a receiver's wait for the first block, a sender's for 'C'/NAK
    TMillis Poke = 3000;          // a receiver repeats its 'C' or NAK this often until blocks come
    TMillis Answer = 10000;       // a sender's wait for ACK/NAK; a receiver's for the next block
    TMillis InBlock = 1000;       // silence inside a block that makes it a bad one
    TMillis Purge = 500;          // silence awaited after a bad block before the NAK
};

std::unique_ptr<TTransfer> MakeXymodemSender(TProtocol Protocol, THost& Host, TMillis Now,
                                             const TXymodemTimes& Times = {});
std::unique_ptr<TTransfer> MakeXymodemReceiver(TProtocol Protocol, THost& Host, TMillis Now,
                                               const TXymodemTimes& Times = {});

// The fields of a YMODEM block 0: "name NUL size [mtime(octal) [mode(octal)]]". Numbers that are
// not plain digits or do not fit are left out rather than guessed; the name is the bytes as sent.
TFileInfo ParseYmodemHeader(std::string_view Block);

} // namespace qorvel::transfer
