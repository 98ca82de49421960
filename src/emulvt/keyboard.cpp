#include "emulvt/keyboard.h"

namespace qorvel {

bool KeyCaptureArmed = false;

namespace {

using enum TShiftStateMember;

constexpr TShiftState kCaptureChord{ssAlt, ssCtrl};

// The accented vowel for Key, or Key itself when it is no vowel.
char Accent(char Key, std::string_view Accented) {
    const std::size_t i = AccentVowels.rfind(Key);
    return i == std::string_view::npos ? Key : Accented[i];
}

} // namespace

bool ProcessFKeys(TKeyboardHost& Host, std::uint8_t ScanCode, TShiftState Shift, bool Ext) {
    const TFKeyEntry* e = FindFKey(SelectFKeyTable(Host.FKeysValue()), ScanCode, Shift, Ext);
    if (!e) return false;
    Host.DoKeyBuffer(e->Value.Chars, e->Value.Length);
    return true;
}

char TKeyTranslator::LetterKey(char Key, TShiftState Shift, bool ShiftLock) {
    if (Shift.Contains(ssCtrl))
        Key = static_cast<char>(Key & 0x1F);
    else if (!ShiftLock && !Shift.Contains(ssShift))
        Key = static_cast<char>(Key | 0x20);
    // A pending dead key is used up by the next letter, whether it takes an accent or not.
    if (FCircumflexPending) {
        Key = Accent(Key, CircumflexVowels);
        FCircumflexPending = false;
    }
    if (FDiaeresisPending) {
        Key = Accent(Key, DiaeresisVowels);
        FDiaeresisPending = false;
    }
    return Key;
}

bool TKeyTranslator::KeyDownMessage(const TKeyMessage& Msg, TKeyboardHost& Host) {
    if (Msg.IsSystemKey()) return false;

    int VirtKey = Msg.VirtKey;
    char Key = static_cast<char>(Msg.VirtKey & 0xFF);
    TShiftState Shift;
    if (Msg.ShiftDown) Shift.Include(ssShift);
    if (Msg.CtrlDown) Shift.Include(ssCtrl);
    if (Msg.AltDown) Shift.Include(ssAlt);
    bool ShiftLock = Msg.CapsLock;
    std::uint8_t ScanCode = Msg.ScanCode;
    bool Ext = Msg.Ext;

    if (Host.KeyDown(VirtKey, Shift, ShiftLock, ScanCode, Ext) && VirtKey == 0) return true;

    // From here on the code carried by the message counts, not what the key-down handler made of it.
    const int vk = Msg.VirtKey;
    if (vk != kVkShift && vk != kVkControl && vk != kVkMenu) {
        if (ScanCode == kScanKeypadStar && Shift == kCaptureChord && !Ext) {
            KeyCaptureArmed = true;
            return true;
        }
        if (KeyCaptureArmed) {
            KeyCaptureArmed = false;
            const int fkeys = Host.FKeysValue();
            const TFKeyEntry* e = FindFKey(SelectFKeyTable(fkeys), ScanCode, Shift, Ext);
            Host.ShowKeyCapture(KeyCaptureLine(ScanCode, Shift, Ext, e), KeyCaptureCaption(fkeys));
            return true;
        }
        if (ProcessFKeys(Host, ScanCode, Shift, Ext)) return true;
    }

    bool Handled = false;
    if (vk == kVkBack || vk == kVkTab || vk == kVkReturn || vk == kVkEscape) {
        Handled = true;
    } else if (vk >= kVkPrior && vk <= kVkDown) {
        // Keypad keys with Num Lock off share the grey keys' scan codes but lack the extended flag.
        return ProcessFKeys(Host, ScanCode, Shift, true);
    } else if (vk >= kVkA && vk <= kVkZ) {
        Key = LetterKey(Key, Shift, ShiftLock);
        Handled = true;
    } else if (vk == kVkDeadAccent) {
        if (Shift.Contains(ssAlt)) return false;
        Key = 0;
        Handled = true;
        if (Shift.Contains(ssShift))
            FDiaeresisPending = true;
        else
            FCircumflexPending = true;
    }

    if (Handled && Key != 0) Host.KeyPress(Key);
    return Handled;
}

} // namespace qorvel
