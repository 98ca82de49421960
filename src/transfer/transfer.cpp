#include "transfer/transfer.h"

#include "transfer/xymodem.h"
#include "transfer/zmodem.h"

namespace qorvel::transfer {

std::string_view ProtocolName(TProtocol Protocol) {
    switch (Protocol) {
    case TProtocol::Xmodem: return "XMODEM (checksum)";
    case TProtocol::XmodemCrc: return "XMODEM-CRC";
    case TProtocol::Xmodem1K: return "XMODEM-1K";
    case TProtocol::Ymodem: return "YMODEM";
    case TProtocol::Zmodem: return "ZMODEM";
    }
    return "?";
}

bool IsBatch(TProtocol Protocol) {
    return Protocol == TProtocol::Ymodem || Protocol == TProtocol::Zmodem;
}

std::unique_ptr<TTransfer> MakeSender(TProtocol Protocol, THost& Host, TMillis Now) {
    if (Protocol == TProtocol::Zmodem) return MakeZmodemSender(Host, Now);
    return MakeXymodemSender(Protocol, Host, Now);
}

std::unique_ptr<TTransfer> MakeReceiver(TProtocol Protocol, THost& Host, TMillis Now) {
    if (Protocol == TProtocol::Zmodem) return MakeZmodemReceiver(Host, Now);
    return MakeXymodemReceiver(Protocol, Host, Now);
}

} // namespace qorvel::transfer
