#include "debugout.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace qorvel::platform {
namespace {
std::mutex SinkLock;
DebugSink CurrentDebugSink;
BeepSink CurrentBeepSink;
} // namespace

DebugSink SetDebugSink(DebugSink sink) {
    std::lock_guard guard(SinkLock);
    return std::exchange(CurrentDebugSink, std::move(sink));
}

void OutputDebugString(std::string_view line) {
    std::lock_guard guard(SinkLock);
    if (CurrentDebugSink)
        CurrentDebugSink(line);
    else
        std::fwrite(line.data(), 1, line.size(), stderr);
}

BeepSink SetBeepSink(BeepSink sink) {
    std::lock_guard guard(SinkLock);
    return std::exchange(CurrentBeepSink, std::move(sink));
}

void MessageBeep(unsigned type) {
    std::lock_guard guard(SinkLock);
    if (CurrentBeepSink)
        CurrentBeepSink(type);
}

} // namespace qorvel::platform
