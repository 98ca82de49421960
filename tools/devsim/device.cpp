#include "device.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace qorvel::devsim {

namespace {

constexpr char kCtrlC = 0x03;
constexpr char kCtrlR = 0x12;
constexpr char kCtrlY = 0x19;
constexpr char kCtrlZ = 0x1A;
constexpr char kBackspace = 0x08;
constexpr char kDelete = 0x7F;

constexpr std::string_view kVersion = "QLX7400 virtual device, firmware 2.4.1 (qorvel-devsim 1.3)";
constexpr std::string_view kFloodPattern = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr const char* kColourNames[] = {"black", "red",     "green", "yellow",
                                        "blue",  "magenta", "cyan",  "white"};

// Rows of the full-screen display; the event log scrolls inside its own region.
constexpr int kTopTaskRow = 6;
constexpr int kTopTasks = 8;
constexpr int kTopLogFirst = 16;
constexpr int kTopLogLast = 24;
constexpr int kTopFooterRow = 25;

std::string Csi(std::string_view body) {
    return "\x1b[" + std::string(body);
}
std::string Goto(int row, int column) {
    return Csi(std::to_string(row) + ";" + std::to_string(column) + "H");
}
// Box characters of code page 437, the terminal's own character set, so a terminal that shows
// received bytes as they come draws them as lines.
namespace box {
constexpr char kHorizontal = '\xC4';
constexpr char kVertical[] = "\xB3";
constexpr char kTopLeft = '\xDA', kTopTee = '\xC2', kTopRight = '\xBF';
constexpr char kLeftTee = '\xC3', kCross = '\xC5', kRightTee = '\xB4';
constexpr char kBottomLeft = '\xC0', kBottomTee = '\xC1', kBottomRight = '\xD9';
} // namespace box

std::string Padded(std::string_view text, std::size_t width) {
    std::string result(text.substr(0, width));
    result.resize(width, ' ');
    return result;
}

std::string Format(const char* format, auto... values) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

} // namespace

TDevice::TDevice(TDeviceOptions options)
    : FOptions(std::move(options)), FEol(FOptions.CrLf ? "\r\n" : "\n") {}

void TDevice::Connected(TClock::time_point now) {
    Disconnected();
    FMode = TMode::Banner;
    FDeadline = now + kBannerDelay;
}

void TDevice::Disconnected() {
    FMode = TMode::Idle;
    FDeadline.reset();
    FOut.clear();
    FOutStart = 0;
    FLine.clear();
    FQueuedInput.clear();
    FLastWasCr = false;
    FFloodLeft = 0;
    FSlowPieces.clear();
}

void TDevice::Consume(std::size_t count) {
    FOutStart += std::min(count, FOut.size() - FOutStart);
    if (FOutStart == FOut.size()) {
        FOut.clear();
        FOutStart = 0;
    } else if (FOutStart > kOutputWatermark && FOutStart > FOut.size() / 2) {
        FOut.erase(0, FOutStart);
        FOutStart = 0;
    }
}

void TDevice::Write(std::string_view text) {
    FOut.append(text);
}

void TDevice::Line(std::string_view text) {
    FOut.append(text);
    FOut.append(FEol);
}

void TDevice::Prompt() {
    Write(FOptions.Prompt);
}

void TDevice::Receive(std::string_view bytes, TClock::time_point now) {
    FNow = now;
    for (char ch : bytes) {
        if (FMode == TMode::Idle) {
            HandleByte(ch, now);
        } else if (FMode != TMode::Banner && (ch == kCtrlC || ch == kCtrlY || ch == kCtrlZ)) {
            Interrupt(ch);
        } else {
            FQueuedInput.push_back(ch);
        }
    }
}

void TDevice::HandleByte(char ch, TClock::time_point now) {
    const bool afterCr = FLastWasCr;
    FLastWasCr = ch == '\r';
    switch (ch) {
    case '\n':
        if (afterCr) return; // CR LF ends one line, not two
        [[fallthrough]];
    case '\r': {
        Line();
        std::string line;
        line.swap(FLine);
        Execute(line, now);
        return;
    }
    case kCtrlC:
    case kCtrlY:
    case kCtrlZ: Interrupt(ch); return;
    case kCtrlR:
        Write("^R");
        Line();
        Prompt();
        Write(FLine);
        return;
    case kBackspace:
    case kDelete:
        if (!FLine.empty()) {
            FLine.pop_back();
            Write("\b \b");
        }
        return;
    default:
        if (static_cast<unsigned char>(ch) < 0x20) return; // other control characters mean nothing here
        if (FLine.size() >= kMaxLineLength) return;
        FLine.push_back(ch);
        Write(std::string_view(&ch, 1));
    }
}

void TDevice::Interrupt(char ch) {
    switch (FMode) {
    case TMode::Top: StopTop(); break;
    case TMode::Flood:
        FFloodLeft = 0;
        if (!FFloodEndsLine) Line();
        break;
    case TMode::Slow: Line(); break;
    default: break;
    }
    FMode = TMode::Idle;
    FDeadline.reset();
    FSlowPieces.clear();
    FQueuedInput.clear(); // an interrupt discards type-ahead, as on a real console
    FLine.clear();
    Write(ch == kCtrlC ? "^C" : ch == kCtrlY ? "^Y" : "^Z");
    Line();
    if (ch == kCtrlY) Line("Break");
    Prompt();
}

void TDevice::Finish() {
    FMode = TMode::Idle;
    FDeadline.reset();
    std::string queued;
    queued.swap(FQueuedInput);
    Receive(queued, FNow);
}

void TDevice::Execute(const std::string& line, TClock::time_point now) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) {
        Prompt();
        return;
    }
    const auto end = line.find(' ', first);
    const std::string command =
        line.substr(first, end == std::string::npos ? std::string::npos : end - first);
    std::string argument;
    if (end != std::string::npos) {
        const auto start = line.find_first_not_of(' ', end);
        if (start != std::string::npos) argument = line.substr(start);
    }

    if (command == "help")
        Help();
    else if (command == "ver")
        Line(kVersion);
    else if (command == "colors")
        Colors();
    else if (command == "box")
        Box();
    else if (command == "clear")
        Write(Csi("H") + Csi("2J"));
    else if (command == "top")
        return StartTop(now);
    else if (command == "flood")
        return StartFlood(argument);
    else if (command == "slow")
        return StartSlow(now);
    else
        Line("ERROR: unknown command '" + command + "' (type help)");
    Prompt();
}

void TDevice::Banner() {
    Line();
    Line(Csi("1;36m") + "Qorvel QLX7400" + Csi("0m") + " virtual device");
    Line(Csi("33m") + "firmware 2.4.1" + Csi("0m") + ", " + Csi("32m") + "self test passed" + Csi("0m"));
    Line("Type help for a list of commands.");
    Line();
    Prompt();
}

void TDevice::Help() {
    Line("Commands:");
    Line("  help      this list");
    Line("  ver       firmware version");
    Line("  colors    the 16 colours, foreground and background");
    Line("  box       a table drawn with box characters (code page 437)");
    Line("  top       full-screen status display (Ctrl-C ends it)");
    Line("  flood N   N bytes of log text as fast as the line takes");
    Line("  slow      the prompt arrives in several pieces");
    Line("  clear     clear the screen");
    Line("Keys: Ctrl-C cancel, Ctrl-Y break, Ctrl-Z end input, Ctrl-R reprint line, Backspace erase");
}

void TDevice::Colors() {
    Line("Foreground (SGR 30-37, bright with SGR 1):");
    for (const char* intensity : {"0", "0;1"}) {
        for (int colour = 0; colour < 8; ++colour)
            Write(Csi(std::string(intensity) + ";3" + std::to_string(colour) + "m") +
                  Padded(kColourNames[colour], 9));
        Line(Csi("0m"));
    }
    Line("Background (SGR 40-47, bright with SGR 5):");
    for (const char* intensity : {"0", "0;5"}) {
        for (int colour = 0; colour < 8; ++colour) {
            // Dark text on the light backgrounds (green, yellow, cyan, white), light text elsewhere.
            const char* text = (colour == 2 || colour == 3 || colour >= 6) ? "30" : "37";
            Write(Csi(std::string(intensity) + ";4" + std::to_string(colour) + ";" + text + "m") + " " +
                  Padded(kColourNames[colour], 8));
        }
        Line(Csi("0m"));
    }
}

void TDevice::Box() {
    const std::string bar14(14, box::kHorizontal);
    const std::string bar10(10, box::kHorizontal);
    const auto rule = [&](char left, char tee, char right) { Line(left + bar14 + tee + bar10 + right); };
    const auto row = [&](std::string_view port, std::string_view state) {
        Line(std::string(box::kVertical) + " " + Padded(port, 13) + box::kVertical + " " + Padded(state, 9) +
             box::kVertical);
    };
    rule(box::kTopLeft, box::kTopTee, box::kTopRight);
    row("Port", "State");
    rule(box::kLeftTee, box::kCross, box::kRightTee);
    row("uart0", "online");
    row("uart1", "offline");
    row("can0", "online");
    rule(box::kBottomLeft, box::kBottomTee, box::kBottomRight);
}

void TDevice::StartTop(TClock::time_point now) {
    FMode = TMode::Top;
    FTopTicks = 0;
    DrawTop(true);
    FDeadline = now + kTopPeriod;
}

void TDevice::DrawTop(bool full) {
    static constexpr const char* kTasks[kTopTasks] = {"init",   "uartd", "canbus", "logger",
                                                      "sensor", "motor", "netd",   "idle"};
    std::string screen;
    if (full) {
        screen += Csi("0m") + Csi("?25l") + Csi("H") + Csi("2J");
        screen += Goto(kTopTaskRow - 1, 1) + Csi("7m") +
                  Padded("  PID  TASK        STATE     CPU%   MEM KB   RUNTIME", 80) + Csi("0m");
        screen +=
            Goto(kTopLogFirst - 1, 1) + Csi("1;34m") + "-- event log " + std::string(67, '-') + Csi("0m");
        screen += Goto(kTopFooterRow, 1) + Csi("7m") + Padded(" Ctrl-C quits", 80) + Csi("0m");
        screen += Csi(std::to_string(kTopLogFirst) + ";" + std::to_string(kTopLogLast) + "r");
    }
    const std::uint64_t t = FTopTicks++;
    screen +=
        Goto(1, 1) + Csi("1;37;44m") +
        Padded(Format(" QLX7400 top   uptime %02llu:%02llu:%02llu", static_cast<unsigned long long>(t / 3600),
                      static_cast<unsigned long long>(t / 60 % 60), static_cast<unsigned long long>(t % 60)),
               80) +
        Csi("0m");
    screen += Goto(2, 1) +
              Format("Load: %llu.%02llu   Tasks: %d", static_cast<unsigned long long>(t % 3),
                     static_cast<unsigned long long>(t * 37 % 100), kTopTasks) +
              Csi("K");
    screen += Goto(3, 1) + Format("Memory: %llu KB used of 65536 KB", 20000 + t * 131 % 9000ULL) + Csi("K");
    for (int task = 0; task < kTopTasks; ++task) {
        const unsigned long long cpu = (t * 37 + task * 53) % 100;
        const char* colour = cpu > 80 ? "31" : cpu > 50 ? "33" : "32";
        screen += Goto(kTopTaskRow + task, 1) +
                  Format("%5d  %-10s  %-8s  ", 100 + task, kTasks[task], cpu > 10 ? "running" : "sleep") +
                  Csi(std::string(colour) + "m") + Format("%4llu", cpu) + Csi("0m") +
                  Format("   %6llu   %llu s", 512 + (t * 7 + task * 97) % 4096ULL, t * (task + 1)) + Csi("K");
    }
    // A new event enters at the bottom of the log region, which scrolls up by one line.
    screen += Goto(kTopLogLast, 1) + FEol +
              Format("[%06llu] %s: heartbeat %llu", static_cast<unsigned long long>(t), kTasks[t % kTopTasks],
                     static_cast<unsigned long long>(t));
    Write(screen);
}

void TDevice::StopTop() {
    Write(Csi("r") + Csi("0m") + Csi("?25h") + Csi("H") + Csi("2J"));
}

void TDevice::StartFlood(std::string_view argument) {
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), count);
    if (argument.empty() || error != std::errc() || end != argument.data() + argument.size()) {
        Line("ERROR: flood needs a byte count, for example: flood 100000");
        Prompt();
        return;
    }
    FMode = TMode::Flood;
    FFloodLeft = count;
    FFloodLine = 0;
    FFloodEndsLine = true;
    PumpFlood();
}

void TDevice::PumpFlood() {
    // Each line is kFloodLineLength bytes with its number and a pattern shifted per line, so a
    // reader can tell a lost or doubled byte; the last line is cut at the requested count.
    while (FFloodLeft > 0 && Pending().size() < kOutputWatermark) {
        std::string line = Format("flood %010llu ", static_cast<unsigned long long>(FFloodLine));
        const std::size_t body = kFloodLineLength - line.size() - FEol.size();
        for (std::size_t i = 0; i < body; ++i)
            line.push_back(kFloodPattern[(FFloodLine + i) % kFloodPattern.size()]);
        line += FEol;
        ++FFloodLine;
        if (line.size() > FFloodLeft) line.resize(static_cast<std::size_t>(FFloodLeft));
        FFloodLeft -= line.size();
        FFloodEndsLine = line.back() == '\n';
        Write(line);
    }
}

void TDevice::StartSlow(TClock::time_point now) {
    Line("Thinking slowly...");
    const std::string& prompt = FOptions.Prompt;
    const std::size_t pieces = std::min<std::size_t>(3, prompt.size());
    FSlowPieces.clear();
    for (std::size_t i = 0, at = 0; i < pieces; ++i) {
        const std::size_t length = (prompt.size() - at) / (pieces - i);
        FSlowPieces.push_back(prompt.substr(at, length));
        at += length;
    }
    FSlowNext = 0;
    FMode = TMode::Slow;
    FDeadline = now + kSlowStep;
    if (FSlowPieces.empty()) Finish();
}

void TDevice::Tick(TClock::time_point now) {
    FNow = now;
    switch (FMode) {
    case TMode::Idle: return;
    case TMode::Banner:
        if (now < *FDeadline) return;
        Banner();
        Finish();
        return;
    case TMode::Top:
        if (now < *FDeadline) return;
        DrawTop(false);
        *FDeadline += kTopPeriod;
        if (*FDeadline < now) FDeadline = now + kTopPeriod;
        return;
    case TMode::Slow:
        if (now < *FDeadline) return;
        Write(FSlowPieces[FSlowNext++]);
        *FDeadline = now + kSlowStep;
        if (FSlowNext == FSlowPieces.size()) {
            FSlowPieces.clear();
            Finish();
        }
        return;
    case TMode::Flood:
        PumpFlood();
        if (FFloodLeft == 0) {
            if (!FFloodEndsLine) Line();
            Prompt();
            Finish();
        }
        return;
    }
}

std::optional<TClock::time_point> TDevice::NextDeadline() const {
    if (FMode == TMode::Flood) {
        // More text can be made as soon as the writer has drained below the watermark.
        if (Pending().size() < kOutputWatermark) return TClock::time_point{};
        return std::nullopt;
    }
    return FDeadline;
}

} // namespace qorvel::devsim
