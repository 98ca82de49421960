#include "emulvt/keyboard.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace qorvel {
namespace {

using enum TShiftStateMember;

// Records what the key-down steps deliver; typed text collects KeyPress characters.
class TFakeHost : public TKeyboardHost {
public:
    int FKeys = 1;
    std::function<void(int&, TShiftState&, bool&, std::uint8_t&, bool&)> OnKeyDown;
    std::vector<std::string> Buffers;
    std::string Typed;
    std::vector<std::string> Captures;
    int KeyDownCalls = 0;

    int FKeysValue() const override { return FKeys; }
    bool KeyDown(int& VirtKey, TShiftState& Shift, bool& ShiftLock, std::uint8_t& ScanCode,
                 bool& Ext) override {
        ++KeyDownCalls;
        if (!OnKeyDown) return false;
        OnKeyDown(VirtKey, Shift, ShiftLock, ScanCode, Ext);
        return true;
    }
    void DoKeyBuffer(const char* Buffer, std::int32_t Len) override {
        Buffers.emplace_back(Buffer, static_cast<std::size_t>(Len));
    }
    void KeyPress(char& Key) override { Typed += Key; }
    void ShowKeyCapture(const std::string& Line, const std::string& Caption) override {
        Captures.push_back(Caption + "|" + Line);
    }
};

// Key data of a few physical keys, as the platform layer derives them.
TKeyMessage Key(int VirtKey, std::uint8_t ScanCode, bool Ext = false) {
    return {VirtKey, ScanCode, Ext};
}
const TKeyMessage kKeypadStar = Key(0x6A, 0x37);
const TKeyMessage kF1 = Key(112, 0x3B);
const TKeyMessage kF10 = Key(121, 0x44);
const TKeyMessage kA = Key('A', 0x1E);
const TKeyMessage kE = Key('E', 0x12);
const TKeyMessage kU = Key('U', 0x16);
const TKeyMessage kAccent = Key(kVkDeadAccent, 0x1A);
const TKeyMessage kShiftKey = Key(kVkShift, 0x2A);

TKeyMessage With(TKeyMessage m, bool Shift, bool Ctrl = false, bool Alt = false, bool Caps = false) {
    m.ShiftDown = Shift;
    m.CtrlDown = Ctrl;
    m.AltDown = Alt;
    m.CapsLock = Caps;
    return m;
}
TKeyMessage Shifted(TKeyMessage m) {
    return With(m, true);
}
TKeyMessage Ctrl(TKeyMessage m) {
    return With(m, false, true);
}
TKeyMessage CtrlAlt(TKeyMessage m) {
    return With(m, false, true, true);
}

class KeyTranslatorTest : public ::testing::Test {
protected:
    void SetUp() override { KeyCaptureArmed = false; }
    void TearDown() override { KeyCaptureArmed = false; }
    std::vector<bool> Press(std::initializer_list<TKeyMessage> keys) {
        std::vector<bool> handled;
        for (const TKeyMessage& k : keys)
            handled.push_back(Translator.KeyDownMessage(k, Host));
        return handled;
    }
    TFakeHost Host;
    TKeyTranslator Translator;
};

TEST_F(KeyTranslatorTest, DeadKeys) {
    struct {
        const char* Name;
        std::vector<TKeyMessage> Keys;
        std::string Typed;
    } cases[] = {
        {"circumflex u", {kAccent, kU}, "\xFB"},
        {"circumflex survives non-letters", {kAccent, kF10, kShiftKey, kE}, "\xEA"},
        {"both pending, circumflex first", {kAccent, Shifted(kAccent), kE}, "\xEA"},
        {"ctrl letter uses it up",
         {kAccent, Ctrl(kE), kE},
         "\x05"
         "e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeHost host;
        TKeyTranslator translator;
        for (const TKeyMessage& k : c.Keys)
            translator.KeyDownMessage(k, host);
        EXPECT_EQ(host.Typed, c.Typed);
        EXPECT_FALSE(translator.CircumflexPending());
        EXPECT_FALSE(translator.DiaeresisPending());
    }
}

TEST_F(KeyTranslatorTest, DeadKeyWithAltIsUnhandled) {
    EXPECT_EQ(Press({CtrlAlt(kAccent)}), std::vector<bool>{false});
    EXPECT_FALSE(Translator.CircumflexPending());
    EXPECT_EQ(Press({kAccent}), std::vector<bool>{true});
    EXPECT_TRUE(Translator.CircumflexPending());
    EXPECT_EQ(Host.Typed, "");
}

TEST_F(KeyTranslatorTest, CaptureDescribesTheNextKeyInstead) {
    EXPECT_EQ(Press({CtrlAlt(kKeypadStar), kShiftKey, kF1}), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(Press({CtrlAlt(kKeypadStar), Shifted(kF1)}), (std::vector<bool>{true, true}));
    EXPECT_EQ(Press({CtrlAlt(kKeypadStar), kA}), (std::vector<bool>{true, true}));
    EXPECT_EQ(Host.Captures,
              (std::vector<std::string>{"Key definition from vkmapr1.cfg|3B, ssNormal, FALSE, '\\x1BOP'",
                                        "Key definition from vkmapr1.cfg|3B, ssShift , FALSE",
                                        "Key definition from vkmapr1.cfg|1E, ssNormal, FALSE"}));
    EXPECT_TRUE(Host.Buffers.empty());
    EXPECT_EQ(Host.Typed, "");
    EXPECT_FALSE(KeyCaptureArmed);
}

TEST_F(KeyTranslatorTest, CaptureFlagIsSharedByAllViews) {
    TKeyTranslator other;
    Host.FKeys = 2;
    EXPECT_TRUE(Translator.KeyDownMessage(CtrlAlt(kKeypadStar), Host));
    EXPECT_TRUE(other.KeyDownMessage(kF10, Host));
    EXPECT_EQ(Host.Captures,
              std::vector<std::string>{"Key definition from vkmapr2.cfg|44, ssNormal, FALSE, ''"});
}

TEST_F(KeyTranslatorTest, ChordNeedsExactlyCtrlAltAndNoExtendedFlag) {
    TKeyMessage extended = CtrlAlt(kKeypadStar);
    extended.Ext = true;
    Press({With(kKeypadStar, true, true, true), extended, Ctrl(kKeypadStar)});
    EXPECT_FALSE(KeyCaptureArmed);
    EXPECT_TRUE(Host.Captures.empty());
}

TEST_F(KeyTranslatorTest, KeyDownHandlerCancelsEverything) {
    Host.OnKeyDown = [](int& VirtKey, TShiftState&, bool&, std::uint8_t&, bool&) { VirtKey = 0; };
    EXPECT_EQ(Press({CtrlAlt(kKeypadStar), kF1, kA, kAccent, kE, Key(0x41, 0)}),
              (std::vector<bool>{true, true, true, true, true, true}));
    EXPECT_FALSE(KeyCaptureArmed);
    EXPECT_FALSE(Translator.CircumflexPending());
    EXPECT_TRUE(Host.Buffers.empty());
    EXPECT_EQ(Host.Typed, "");
    EXPECT_TRUE(Host.Captures.empty());
}

TEST_F(KeyTranslatorTest, KeyDownHandlerChangesTheRestButNotTheKeyClass) {
    // Scan code and shift feed the table lookup; the message's own code still picks the branch.
    Host.OnKeyDown = [](int& VirtKey, TShiftState& Shift, bool& ShiftLock, std::uint8_t& ScanCode,
                        bool& Ext) {
        if (VirtKey == 112) {
            ScanCode = 0x48;
            Ext = true;
        }
        if (VirtKey == 'A') {
            VirtKey = 'Z';
            Shift.Include(ssShift);
        }
        if (VirtKey == 'B') ShiftLock = true;
    };
    EXPECT_EQ(Press({kF1, kA, Key('B', 0x30)}), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(Host.Buffers, std::vector<std::string>{"\x1B[A"});
    EXPECT_EQ(Host.Typed, "AB");
    EXPECT_EQ(Host.KeyDownCalls, 3);
}

TEST_F(KeyTranslatorTest, SystemKeysNeverReachTheKeyDownHandler) {
    Host.OnKeyDown = [](int& VirtKey, TShiftState&, bool&, std::uint8_t&, bool&) { VirtKey = 0; };
    EXPECT_EQ(Press({With(kF1, false, false, true)}), std::vector<bool>{false});
    EXPECT_EQ(Host.KeyDownCalls, 0);
}

} // namespace
} // namespace qorvel
