#pragma once
// The key-down steps of the terminal view without the widget: from the key data of one key-down
// (virtual-key code, scan code, extended flag, modifiers, Caps Lock) to function-key sequences,
// characters, dead keys and the key-capture line, delivered through a host (the view, or a test).
#include "emulvt/fkey_tables.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qorvel {

// Virtual-key codes the key-down steps read.
inline constexpr int kVkBack = 8;
inline constexpr int kVkTab = 9;
inline constexpr int kVkClear = 12;
inline constexpr int kVkReturn = 13;
inline constexpr int kVkShift = 16;
inline constexpr int kVkControl = 17;
inline constexpr int kVkMenu = 18; // Alt
inline constexpr int kVkEscape = 27;
inline constexpr int kVkPrior = 33; // Page Up, first of the navigation keys
inline constexpr int kVkDown = 40;  // last of the navigation keys
inline constexpr int kVkA = 65;
inline constexpr int kVkZ = 90;
// The key right of P on a French keyboard: circumflex, with Shift diaeresis (both dead keys).
inline constexpr int kVkDeadAccent = 221;
// Keys the view has no code for; non-zero so that a key-down handler does not read it as "cancel".
inline constexpr int kVkUnknown = 0xFF;

inline constexpr std::uint8_t kScanKeypadStar = 0x37; // with Ctrl+Alt: the capture chord

// Position-matched: AccentVowels[i] with circumflex is CircumflexVowels[i], with diaeresis
// DiaeresisVowels[i].
inline constexpr std::string_view AccentVowels = "aeiou";
inline constexpr std::string_view CircumflexVowels = "\xE2\xEA\xEE\xF4\xFB";
inline constexpr std::string_view DiaeresisVowels = "\xE4\xEB\xEF\xF6\xFC";

// Set by the capture chord, cleared by the next key; one flag for all views, main thread only.
extern bool KeyCaptureArmed;

// One key-down as the platform layer reports it.
struct TKeyMessage {
    int VirtKey = 0;
    std::uint8_t ScanCode = 0;
    bool Ext = false;
    bool ShiftDown = false;
    bool CtrlDown = false;
    bool AltDown = false;
    bool CapsLock = false;
    // Alt without Ctrl makes a system key, which the view never handles.
    bool IsSystemKey() const { return AltDown && !CtrlDown; }
};

class TKeyboardHost {
public:
    virtual ~TKeyboardHost() = default;
    virtual int FKeysValue() const = 0;
    // The key-down event; returns false when no handler is assigned. VirtKey 0 afterwards cancels the key.
    virtual bool KeyDown(int& VirtKey, TShiftState& Shift, bool& ShiftLock, std::uint8_t& ScanCode,
                         bool& Ext) = 0;
    virtual void DoKeyBuffer(const char* Buffer, std::int32_t Len) = 0;
    virtual void KeyPress(char& Key) = 0;
    // Clipboard and message box of the capture mode.
    virtual void ShowKeyCapture(const std::string& Line, const std::string& Caption) = 0;
};

// Looks the key up in the host's table and delivers the sequence; true on a hit (even an empty value).
bool ProcessFKeys(TKeyboardHost& Host, std::uint8_t ScanCode, TShiftState Shift, bool Ext);

// Dead-key state of one view and the key-down steps that use it.
class TKeyTranslator {
public:
    // Returns Handled; an unhandled key is left to the previous hook and the character path.
    bool KeyDownMessage(const TKeyMessage& Msg, TKeyboardHost& Host);

    bool CircumflexPending() const { return FCircumflexPending; }
    bool DiaeresisPending() const { return FDiaeresisPending; }

private:
    char LetterKey(char Key, TShiftState Shift, bool ShiftLock);

    bool FCircumflexPending = false;
    bool FDiaeresisPending = false;
};

} // namespace qorvel
