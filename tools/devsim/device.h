#pragma once
// The behaviour of the simulated device, free of any I/O: bytes in, bytes out, timers driven by
// the caller. The pseudo-terminal plumbing lives in main.cpp.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel::devsim {

using TClock = std::chrono::steady_clock;

struct TDeviceOptions {
    std::string Prompt = "QLX7400>";
    // The terminal expands LF to CR LF itself, so a plain LF is the device's natural line end.
    bool CrLf = false;
};

class TDevice {
public:
    // Flood text is produced in steps so a huge count never sits in memory at once.
    static constexpr std::size_t kOutputWatermark = 64 * 1024;
    static constexpr std::size_t kFloodLineLength = 64;
    static constexpr std::size_t kMaxLineLength = 1024;
    static constexpr auto kBannerDelay = std::chrono::milliseconds(300);
    static constexpr auto kTopPeriod = std::chrono::milliseconds(1000);
    static constexpr auto kSlowStep = std::chrono::milliseconds(250);

    explicit TDevice(TDeviceOptions options);

    // A terminal opened the line: greet it shortly (after it has set up and purged the port).
    void Connected(TClock::time_point now);
    // The terminal closed the line: whatever runs is cancelled and unsent output dropped.
    void Disconnected();

    void Receive(std::string_view bytes, TClock::time_point now);
    // Runs due timers and refills flood output below the watermark.
    void Tick(TClock::time_point now);
    std::optional<TClock::time_point> NextDeadline() const;

    // Output not yet written to the line; Consume drops what the caller managed to write.
    std::string_view Pending() const { return std::string_view(FOut).substr(FOutStart); }
    void Consume(std::size_t count);

    bool Busy() const { return FMode != TMode::Idle; }

private:
    enum class TMode { Idle, Banner, Top, Flood, Slow };

    void HandleByte(char ch, TClock::time_point now);
    void Execute(const std::string& line, TClock::time_point now);
    void Interrupt(char ch);
    void Finish();
    void Write(std::string_view text);
    void Line(std::string_view text = {});
    void Prompt();
    void Banner();
    void Help();
    void Colors();
    void Box();
    void StartTop(TClock::time_point now);
    void DrawTop(bool full);
    void StopTop();
    void StartFlood(std::string_view argument);
    void PumpFlood();
    void StartSlow(TClock::time_point now);

    TDeviceOptions FOptions;
    std::string FEol;
    std::string FOut;
    std::size_t FOutStart = 0;
    std::string FLine;
    std::string FQueuedInput; // typed while a command runs; handled when it ends
    bool FLastWasCr = false;
    TMode FMode = TMode::Idle;
    std::optional<TClock::time_point> FDeadline;
    TClock::time_point FNow{};
    std::uint64_t FTopTicks = 0;
    std::uint64_t FFloodLeft = 0;
    std::uint64_t FFloodLine = 0;
    bool FFloodEndsLine = true;
    std::vector<std::string> FSlowPieces;
    std::size_t FSlowNext = 0;
};

} // namespace qorvel::devsim
