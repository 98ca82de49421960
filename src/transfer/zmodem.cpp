#include "transfer/zmodem.h"

#include <algorithm>
#include <cstring>

namespace qorvel::transfer {
namespace {

// "**" ZDLE "B0" then '0' (ZRQINIT) or '1' (ZRINIT): the start of the first hex header.
constexpr std::size_t kStartLength = 6;
constexpr char kZdle = 0x18;

TZmodemDetector::TStart Match(const char* At) {
    if (At[0] != '*' || At[1] != '*' || At[2] != kZdle || At[3] != 'B' || At[4] != '0')
        return TZmodemDetector::TStart::None;
    if (At[5] == '0') return TZmodemDetector::TStart::DeviceSends;
    if (At[5] == '1') return TZmodemDetector::TStart::DeviceReceives;
    return TZmodemDetector::TStart::None;
}

} // namespace

TZmodemDetector::TStart TZmodemDetector::Scan(std::string_view Bytes, std::size_t& End) {
    const std::size_t keep = kStartLength - 1;
    if (!FTail.empty()) {
        // A start that began in the last batch: look at its tail joined to our first bytes.
        char joined[2 * kStartLength];
        const std::size_t tail = FTail.size();
        const std::size_t head = std::min(Bytes.size(), keep);
        std::memcpy(joined, FTail.data(), tail);
        std::memcpy(joined + tail, Bytes.data(), head);
        for (std::size_t start = 0; start < tail && start + kStartLength <= tail + head; ++start)
            if (const TStart found = Match(joined + start); found != TStart::None) {
                End = start + kStartLength - tail;
                FTail.clear();
                return found;
            }
    }
    // ZDLE is rarer than '*' in text and in data, so it is what memchr looks for.
    const char* data = Bytes.data();
    const std::size_t size = Bytes.size();
    for (std::size_t from = 2; from + 3 < size;) {
        const auto* hit = static_cast<const char*>(std::memchr(data + from, kZdle, size - 3 - from));
        if (!hit) break;
        const auto at = static_cast<std::size_t>(hit - data);
        if (const TStart found = Match(hit - 2); found != TStart::None) {
            End = at + 4;
            FTail.clear();
            return found;
        }
        from = at + 1;
    }
    if (size >= keep) {
        FTail.assign(data + size - keep, keep);
    } else {
        FTail.append(data, size);
        if (FTail.size() > keep) FTail.erase(0, FTail.size() - keep);
    }
    return TStart::None;
}

void TZmodemDetector::Reset() {
    FTail.clear();
}

} // namespace qorvel::transfer
