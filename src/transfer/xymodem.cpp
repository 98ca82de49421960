#include "transfer/xymodem.h"

namespace qorvel::transfer {

std::unique_ptr<TTransfer> MakeXymodemSender(TProtocol, THost&, TMillis) {
    return nullptr;
}
std::unique_ptr<TTransfer> MakeXymodemReceiver(TProtocol, THost&, TMillis) {
    return nullptr;
}

} // namespace qorvel::transfer
