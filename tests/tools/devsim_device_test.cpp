#include <gtest/gtest.h>

#include <string>

#include "device.h"

namespace {

using qorvel::devsim::TClock;
using qorvel::devsim::TDevice;
using qorvel::devsim::TDeviceOptions;
using namespace std::chrono_literals;

const TClock::time_point kStart{};

std::string Drain(TDevice& device) {
    std::string out(device.Pending());
    device.Consume(out.size());
    return out;
}

std::string Feed(TDevice& device, std::string_view input, TClock::time_point now = kStart) {
    device.Receive(input, now);
    device.Tick(now);
    return Drain(device);
}

struct TLineCase {
    const char* Name;
    std::string Input;
    std::string Expected;
};

TEST(DevsimDevice, AnswersLines) {
    const TLineCase cases[] = {
        {"empty line gives a prompt", "\n", "\nQLX7400>"},
        {"CR LF ends one line", "\r\n", "\nQLX7400>"},
        {"lone CR ends a line", "\r\r", "\nQLX7400>\nQLX7400>"},
        {"ver", "ver\n", "ver\nQLX7400 virtual device, firmware 2.4.1 (qorvel-devsim 1.3)\nQLX7400>"},
        {"unknown command", "reboot now\n",
         "reboot now\nERROR: unknown command 'reboot' (type help)\nQLX7400>"},
        {"backspace and delete erase", "vexx\x08\x7fr\n",
         "vexx\b \b\b \br\nQLX7400 virtual device, firmware 2.4.1 (qorvel-devsim 1.3)\nQLX7400>"},
        {"backspace on empty line is silent", "\x08\n", "\nQLX7400>"},
        {"Ctrl-C drops the line", "ab\x03", "ab^C\nQLX7400>"},
        {"Ctrl-Y breaks", "ab\x19", "ab^Y\nBreak\nQLX7400>"},
        {"Ctrl-Z drops the line", "ab\x1a", "ab^Z\nQLX7400>"},
        {"Ctrl-R reprints the line", "ab\x12", "ab^R\nQLX7400>ab"},
        {"other controls ignored", "\x01\x1b\x07\n", "\nQLX7400>"},
        {"leading blanks", "  ver\n",
         "  ver\nQLX7400 virtual device, firmware 2.4.1 (qorvel-devsim 1.3)\nQLX7400>"},
    };
    for (const TLineCase& c : cases) {
        TDevice device({});
        EXPECT_EQ(Feed(device, c.Input), c.Expected) << c.Name;
    }
}

TEST(DevsimDevice, OptionsChangePromptAndLineEnd) {
    TDevice device({"dev# ", true});
    EXPECT_EQ(Feed(device, "nope\r\n"), "nope\r\nERROR: unknown command 'nope' (type help)\r\ndev# ");
}

TEST(DevsimDevice, HelpListsEveryCommand) {
    TDevice device({});
    const std::string out = Feed(device, "help\n");
    for (const char* command : {"help", "ver", "colors", "box", "top", "flood N", "slow", "clear"})
        EXPECT_NE(out.find(std::string("\n  ") + command), std::string::npos) << command;
    EXPECT_TRUE(out.ends_with("\nQLX7400>"));
}

TEST(DevsimDevice, ColoursAndLineDrawing) {
    TDevice device({});
    const std::string colours = Feed(device, "colors\n");
    for (int colour = 0; colour < 8; ++colour) {
        const std::string n = std::to_string(colour);
        EXPECT_NE(colours.find("\x1b[0;3" + n + "m"), std::string::npos) << colour;
        EXPECT_NE(colours.find("\x1b[0;1;3" + n + "m"), std::string::npos) << colour;
        EXPECT_NE(colours.find("\x1b[0;4" + n + ";"), std::string::npos) << colour;
        EXPECT_NE(colours.find("\x1b[0;5;4" + n + ";"), std::string::npos) << colour;
    }
    // The table is drawn in code page 437 box characters, with no character-set switching.
    const std::string box = Feed(device, "box\n");
    const std::string rows[] = {
        "\xDA" + std::string(14, '\xC4') + "\xC2" + std::string(10, '\xC4') + "\xBF",
        "\xB3 Port" + std::string(9, ' ') + "\xB3 State    \xB3",
        "\xC3" + std::string(14, '\xC4') + "\xC5" + std::string(10, '\xC4') + "\xB4",
        "\xB3 uart0" + std::string(8, ' ') + "\xB3 online   \xB3",
        "\xC0" + std::string(14, '\xC4') + "\xC1" + std::string(10, '\xC4') + "\xD9",
    };
    for (const std::string& row : rows)
        EXPECT_NE(box.find(row + "\n"), std::string::npos) << row;
    EXPECT_EQ(box.find("\x1b("), std::string::npos);
    EXPECT_TRUE(box.ends_with("\xD9\nQLX7400>"));
}

// Checks flood text: numbered 64-byte lines with a shifted pattern, cut at the requested count.
void ExpectFloodText(const std::string& text, std::size_t count) {
    ASSERT_EQ(text.size(), count);
    const std::string pattern = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (std::size_t line = 0; line * 64 < count; ++line) {
        char expected[65];
        std::snprintf(expected, sizeof expected, "flood %010zu ", line);
        std::string full = expected;
        while (full.size() < 63)
            full.push_back(pattern[(line + full.size() - 17) % pattern.size()]);
        full.push_back('\n');
        const std::string got = text.substr(line * 64, 64);
        ASSERT_EQ(got, full.substr(0, got.size())) << "line " << line;
    }
}

TEST(DevsimDevice, FloodSendsExactlyTheCount) {
    const std::size_t counts[] = {0, 1, 63, 64, 65, 1000, 3 * TDevice::kOutputWatermark + 17};
    for (std::size_t count : counts) {
        TDevice device({});
        std::string out = Feed(device, "flood " + std::to_string(count) + "\n");
        // The writer drains in small pieces, as a slow line would.
        for (int guard = 0; device.Busy() && guard < 100000; ++guard) {
            std::string piece(device.Pending().substr(0, 1000));
            device.Consume(piece.size());
            out += piece;
            device.Tick(kStart);
        }
        out += Drain(device);
        ASSERT_FALSE(device.Busy()) << count;
        const std::string head = "flood " + std::to_string(count) + "\n";
        const std::string tail = (count % 64 == 0 ? "" : "\n") + std::string("QLX7400>");
        ASSERT_TRUE(out.starts_with(head)) << count;
        ASSERT_TRUE(out.ends_with(tail)) << count;
        ExpectFloodText(out.substr(head.size(), out.size() - head.size() - tail.size()), count);
        EXPECT_LE(device.Pending().size(), TDevice::kOutputWatermark + 64);
    }
}

TEST(DevsimDevice, FloodRejectsBadCounts) {
    for (const char* line : {"flood\n", "flood x\n", "flood 12k\n", "flood -5\n"}) {
        TDevice device({});
        const std::string out = Feed(device, line);
        EXPECT_NE(out.find("ERROR: flood needs a byte count"), std::string::npos) << line;
        EXPECT_FALSE(device.Busy()) << line;
    }
}

TEST(DevsimDevice, CtrlCStopsFloodAndDiscardsTypeAhead) {
    TDevice device({});
    Feed(device, "flood 100000000\n");
    ASSERT_TRUE(device.Busy());
    const std::string out = Feed(device, "ver\n\x03");
    EXPECT_FALSE(device.Busy());
    EXPECT_TRUE(out.ends_with("^C\nQLX7400>"));
    EXPECT_EQ(out.find("firmware"), std::string::npos);
}

TEST(DevsimDevice, SlowSplitsThePromptOverTicks) {
    TDevice device({});
    EXPECT_EQ(Feed(device, "slow\n"), "slow\nThinking slowly...\n");
    std::string pieces;
    int writes = 0;
    TClock::time_point now = kStart;
    while (device.Busy() && writes < 10) {
        ASSERT_TRUE(device.NextDeadline());
        now = *device.NextDeadline();
        device.Tick(now);
        const std::string piece = Drain(device);
        if (!piece.empty()) ++writes;
        pieces += piece;
    }
    EXPECT_EQ(pieces, "QLX7400>");
    EXPECT_EQ(writes, 3);
}

TEST(DevsimDevice, InputDuringACommandWaitsForIt) {
    TDevice device({});
    Feed(device, "slow\n");
    device.Receive("ver\n", kStart);
    for (int i = 0; i < 3; ++i)
        device.Tick(*device.NextDeadline());
    const std::string out = Drain(device);
    EXPECT_TRUE(out.starts_with("QLX7400>ver\nQLX7400 virtual device")) << out;
    EXPECT_TRUE(out.ends_with("QLX7400>"));
}

TEST(DevsimDevice, TopRefreshesUntilCtrlC) {
    TDevice device({});
    const std::string first = Feed(device, "top\n");
    EXPECT_NE(first.find("\x1b[2J"), std::string::npos);
    EXPECT_NE(first.find("\x1b[16;24r"), std::string::npos);
    EXPECT_NE(first.find("\x1b[1;1H"), std::string::npos);
    ASSERT_TRUE(device.NextDeadline());
    device.Tick(*device.NextDeadline());
    const std::string refresh = Drain(device);
    EXPECT_NE(refresh.find("\x1b[K"), std::string::npos);
    EXPECT_NE(refresh.find("\x1b[24;1H\n[000001]"), std::string::npos);
    EXPECT_EQ(refresh.find("\x1b[2J"), std::string::npos);
    const std::string stop = Feed(device, "\x03");
    EXPECT_EQ(stop, "\x1b[r\x1b[0m\x1b[?25h\x1b[H\x1b[2J^C\nQLX7400>");
    EXPECT_FALSE(device.NextDeadline());
}

TEST(DevsimDevice, GreetsAConnectionAndForgetsADisconnection) {
    TDevice device({});
    device.Connected(kStart);
    device.Receive("ver\n", kStart);
    device.Tick(kStart + 10ms);
    EXPECT_EQ(Drain(device), "");
    device.Tick(kStart + TDevice::kBannerDelay);
    const std::string out = Drain(device);
    EXPECT_NE(out.find("Qorvel QLX7400"), std::string::npos);
    EXPECT_NE(out.find("\nQLX7400>ver\nQLX7400 virtual device"), std::string::npos);
    Feed(device, "top\n");
    device.Receive("x", kStart);
    device.Disconnected();
    EXPECT_FALSE(device.Busy());
    EXPECT_TRUE(device.Pending().empty());
    EXPECT_EQ(Feed(device, "\n"), "\nQLX7400>");
}

} // namespace
