#pragma once
// Stand-ins for the system's debug output and beep. The application routes them to Qt;
// tests install their own sinks to capture what the engine and driver report.
#include <functional>
#include <string_view>

namespace qorvel::platform {

using DebugSink = std::function<void(std::string_view line)>;
using BeepSink = std::function<void(unsigned type)>;

// Replaces the debug sink; returns the previous one. An empty sink writes to stderr.
DebugSink SetDebugSink(DebugSink sink);
void OutputDebugString(std::string_view line);

// Replaces the beep sink; returns the previous one. An empty sink does nothing.
BeepSink SetBeepSink(BeepSink sink);
void MessageBeep(unsigned type);

} // namespace qorvel::platform
