#include "transfer/zmodem.h"

namespace qorvel::transfer {

std::unique_ptr<TTransfer> MakeZmodemSender(THost&, TMillis) {
    return nullptr;
}
std::unique_ptr<TTransfer> MakeZmodemReceiver(THost&, TMillis) {
    return nullptr;
}

} // namespace qorvel::transfer
