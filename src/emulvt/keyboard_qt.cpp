#include "emulvt/keyboard_qt.h"

#include <QGuiApplication>
#include <QString>
#include <algorithm>
#include <array>

namespace qorvel {

namespace {

struct TQtKeyRow {
    int QtKey;
    TKeyData Data;
};

// Keys reported without the keypad modifier, with the codes of a US layout.
constexpr TQtKeyRow kMainKeys[] = {
    {Qt::Key_Escape, {kVkEscape, 0x01, false}},
    {Qt::Key_Tab, {kVkTab, 0x0F, false}},
    {Qt::Key_Backtab, {kVkTab, 0x0F, false}}, // Qt's name for Shift+Tab
    {Qt::Key_Backspace, {kVkBack, 0x0E, false}},
    {Qt::Key_Return, {kVkReturn, 0x1C, false}},
    {Qt::Key_Enter, {kVkReturn, 0x1C, true}},
    {Qt::Key_Space, {32, 0x39, false}},
    {Qt::Key_Insert, {45, 0x52, true}},
    {Qt::Key_Delete, {46, 0x53, true}},
    {Qt::Key_Pause, {19, 0x45, false}},
    {Qt::Key_Print, {44, 0x37, true}},
    {Qt::Key_Clear, {kVkClear, 0x4C, false}},
    {Qt::Key_PageUp, {33, 0x49, true}},
    {Qt::Key_PageDown, {34, 0x51, true}},
    {Qt::Key_End, {35, 0x4F, true}},
    {Qt::Key_Home, {36, 0x47, true}},
    {Qt::Key_Left, {37, 0x4B, true}},
    {Qt::Key_Up, {38, 0x48, true}},
    {Qt::Key_Right, {39, 0x4D, true}},
    {Qt::Key_Down, {40, 0x50, true}},
    {Qt::Key_Shift, {kVkShift, 0x2A, false}},
    {Qt::Key_Control, {kVkControl, 0x1D, false}},
    {Qt::Key_Alt, {kVkMenu, 0x38, false}},
    {Qt::Key_AltGr, {kVkMenu, 0x38, true}},
    {Qt::Key_Meta, {91, 0x5B, true}},
    {Qt::Key_Super_L, {91, 0x5B, true}},
    {Qt::Key_Super_R, {92, 0x5C, true}},
    {Qt::Key_Menu, {93, 0x5D, true}},
    {Qt::Key_CapsLock, {20, 0x3A, false}},
    {Qt::Key_NumLock, {144, 0x45, true}},
    {Qt::Key_ScrollLock, {145, 0x46, false}},
    {Qt::Key_F1, {112, 0x3B, false}},
    {Qt::Key_F2, {113, 0x3C, false}},
    {Qt::Key_F3, {114, 0x3D, false}},
    {Qt::Key_F4, {115, 0x3E, false}},
    {Qt::Key_F5, {116, 0x3F, false}},
    {Qt::Key_F6, {117, 0x40, false}},
    {Qt::Key_F7, {118, 0x41, false}},
    {Qt::Key_F8, {119, 0x42, false}},
    {Qt::Key_F9, {120, 0x43, false}},
    {Qt::Key_F10, {121, 0x44, false}},
    {Qt::Key_F11, {122, 0x57, false}},
    {Qt::Key_F12, {123, 0x58, false}},
    {Qt::Key_Minus, {0xBD, 0x0C, false}},
    {Qt::Key_Underscore, {0xBD, 0x0C, false}},
    {Qt::Key_Equal, {0xBB, 0x0D, false}},
    {Qt::Key_Plus, {0xBB, 0x0D, false}},
    {Qt::Key_BracketLeft, {0xDB, 0x1A, false}},
    {Qt::Key_BraceLeft, {0xDB, 0x1A, false}},
    // 221 is the circumflex key; the US right bracket would otherwise turn into a dead key.
    {Qt::Key_BracketRight, {kVkUnknown, 0x1B, false}},
    {Qt::Key_BraceRight, {kVkUnknown, 0x1B, false}},
    {Qt::Key_Backslash, {0xDC, 0x2B, false}},
    {Qt::Key_Bar, {0xDC, 0x2B, false}},
    {Qt::Key_Semicolon, {0xBA, 0x27, false}},
    {Qt::Key_Colon, {0xBA, 0x27, false}},
    {Qt::Key_Apostrophe, {0xDE, 0x28, false}},
    {Qt::Key_QuoteDbl, {0xDE, 0x28, false}},
    {Qt::Key_QuoteLeft, {0xC0, 0x29, false}},
    {Qt::Key_AsciiTilde, {0xC0, 0x29, false}},
    {Qt::Key_Comma, {0xBC, 0x33, false}},
    {Qt::Key_Less, {0xBC, 0x33, false}},
    {Qt::Key_Period, {0xBE, 0x34, false}},
    {Qt::Key_Greater, {0xBE, 0x34, false}},
    {Qt::Key_Slash, {0xBF, 0x35, false}},
    {Qt::Key_Question, {0xBF, 0x35, false}},
    {Qt::Key_Exclam, {'1', 0x02, false}},
    {Qt::Key_At, {'2', 0x03, false}},
    {Qt::Key_NumberSign, {'3', 0x04, false}},
    {Qt::Key_Dollar, {'4', 0x05, false}},
    {Qt::Key_Percent, {'5', 0x06, false}},
    {Qt::Key_AsciiCircum, {'6', 0x07, false}},
    {Qt::Key_Ampersand, {'7', 0x08, false}},
    {Qt::Key_Asterisk, {'8', 0x09, false}},
    {Qt::Key_ParenLeft, {'9', 0x0A, false}},
    {Qt::Key_ParenRight, {'0', 0x0B, false}},
    // X11 reports Ctrl+Alt+keypad star, the capture chord, as this key.
    {Qt::Key_ClearGrab, {0x6A, kScanKeypadStar, false}},
    {Qt::Key_Dead_Circumflex, {kVkDeadAccent, 0x1A, false}},
    {Qt::Key_Dead_Diaeresis, {kVkDeadAccent, 0x1A, false}},
};

// Keys reported with the keypad modifier: Num Lock on gives digits, off gives navigation keys,
// both on the same scan codes and never extended (except Enter and slash).
constexpr TQtKeyRow kKeypadKeys[] = {
    {Qt::Key_7, {103, 0x47, false}},          {Qt::Key_8, {104, 0x48, false}},
    {Qt::Key_9, {105, 0x49, false}},          {Qt::Key_4, {100, 0x4B, false}},
    {Qt::Key_5, {101, 0x4C, false}},          {Qt::Key_6, {102, 0x4D, false}},
    {Qt::Key_1, {97, 0x4F, false}},           {Qt::Key_2, {98, 0x50, false}},
    {Qt::Key_3, {99, 0x51, false}},           {Qt::Key_0, {96, 0x52, false}},
    {Qt::Key_Period, {0x6E, 0x53, false}},    {Qt::Key_Comma, {0x6E, 0x53, false}},
    {Qt::Key_Home, {36, 0x47, false}},        {Qt::Key_Up, {38, 0x48, false}},
    {Qt::Key_PageUp, {33, 0x49, false}},      {Qt::Key_Left, {37, 0x4B, false}},
    {Qt::Key_Clear, {kVkClear, 0x4C, false}}, {Qt::Key_Right, {39, 0x4D, false}},
    {Qt::Key_End, {35, 0x4F, false}},         {Qt::Key_Down, {40, 0x50, false}},
    {Qt::Key_PageDown, {34, 0x51, false}},    {Qt::Key_Insert, {45, 0x52, false}},
    {Qt::Key_Delete, {46, 0x53, false}},      {Qt::Key_Asterisk, {0x6A, kScanKeypadStar, false}},
    {Qt::Key_Minus, {0x6D, 0x4A, false}},     {Qt::Key_Plus, {0x6B, 0x4E, false}},
    {Qt::Key_Slash, {0x6F, 0x35, true}},      {Qt::Key_Enter, {kVkReturn, 0x1C, true}},
    {Qt::Key_NumLock, {144, 0x45, true}},
};

// Scan codes of the letters A to Z at their US positions.
constexpr std::array<std::uint8_t, 26> kLetterScan = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                                      0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                                      0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

constexpr unsigned kXkbKeycodeOffset = 8; // X keycode = evdev code + 8
constexpr unsigned kEvdevKeyRightOfP = 26;
constexpr quint32 kXkbLockMask = 0x02;

const TKeyData* FindRow(const TQtKeyRow* begin, const TQtKeyRow* end, int QtKey) {
    const TQtKeyRow* row = std::find_if(begin, end, [QtKey](const TQtKeyRow& r) { return r.QtKey == QtKey; });
    return row == end ? nullptr : &row->Data;
}

TKeyData FromQtKey(int QtKey, Qt::KeyboardModifiers Modifiers) {
    if (Modifiers & Qt::KeypadModifier)
        if (const TKeyData* d = FindRow(std::begin(kKeypadKeys), std::end(kKeypadKeys), QtKey)) return *d;
    if (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z)
        return {kVkA + (QtKey - Qt::Key_A), kLetterScan[static_cast<std::size_t>(QtKey - Qt::Key_A)], false};
    if (QtKey >= Qt::Key_1 && QtKey <= Qt::Key_9)
        return {'1' + (QtKey - Qt::Key_1), static_cast<std::uint8_t>(0x02 + (QtKey - Qt::Key_1)), false};
    if (QtKey == Qt::Key_0) return {'0', 0x0B, false};
    if (const TKeyData* d = FindRow(std::begin(kMainKeys), std::end(kMainKeys), QtKey)) return *d;
    return {};
}

bool IsAccentKey(int QtKey) {
    return QtKey == Qt::Key_Dead_Circumflex || QtKey == Qt::Key_Dead_Diaeresis ||
           QtKey == Qt::Key_AsciiCircum || QtKey == Qt::Key_diaeresis;
}

// X11 and Wayland report X keycodes and xkb modifier masks; other platforms (offscreen) do not.
bool NativeIsXkb() {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"));
}

bool gCapsLockSeen = false;

} // namespace

TKeyData ScanCodeFromEvdev(unsigned EvdevCode) {
    // Below 84 the evdev codes are the set-1 scan codes themselves.
    if (EvdevCode >= 1 && EvdevCode <= 83)
        return {kVkUnknown, static_cast<std::uint8_t>(EvdevCode), EvdevCode == 69}; // Num Lock is extended
    switch (EvdevCode) {
    case 86: return {kVkUnknown, 0x56, false};  // key left of Z on 102-key keyboards
    case 87: return {kVkUnknown, 0x57, false};  // F11
    case 88: return {kVkUnknown, 0x58, false};  // F12
    case 96: return {kVkUnknown, 0x1C, true};   // keypad Enter
    case 97: return {kVkUnknown, 0x1D, true};   // right Ctrl
    case 98: return {kVkUnknown, 0x35, true};   // keypad slash
    case 99: return {kVkUnknown, 0x37, true};   // Print Screen
    case 100: return {kVkUnknown, 0x38, true};  // right Alt
    case 102: return {kVkUnknown, 0x47, true};  // Home
    case 103: return {kVkUnknown, 0x48, true};  // Up
    case 104: return {kVkUnknown, 0x49, true};  // Page Up
    case 105: return {kVkUnknown, 0x4B, true};  // Left
    case 106: return {kVkUnknown, 0x4D, true};  // Right
    case 107: return {kVkUnknown, 0x4F, true};  // End
    case 108: return {kVkUnknown, 0x50, true};  // Down
    case 109: return {kVkUnknown, 0x51, true};  // Page Down
    case 110: return {kVkUnknown, 0x52, true};  // Insert
    case 111: return {kVkUnknown, 0x53, true};  // Delete
    case 117: return {kVkUnknown, 0x59, false}; // keypad equals
    case 119: return {kVkUnknown, 0x45, false}; // Pause
    case 125: return {kVkUnknown, 0x5B, true};  // left logo key
    case 126: return {kVkUnknown, 0x5C, true};  // right logo key
    case 127: return {kVkUnknown, 0x5D, true};  // menu key
    default: break;
    }
    if (EvdevCode >= 183 && EvdevCode <= 193) // F13 to F23
        return {kVkUnknown, static_cast<std::uint8_t>(0x64 + (EvdevCode - 183)), false};
    if (EvdevCode == 194) // F24
        return {kVkUnknown, 0x76, false};
    return {kVkUnknown, 0, false};
}

TKeyData KeyDataFromQt(int QtKey, Qt::KeyboardModifiers Modifiers, quint32 NativeKeycode) {
    TKeyData d = FromQtKey(QtKey, Modifiers);
    if (NativeKeycode <= kXkbKeycodeOffset) return d;
    const unsigned evdev = NativeKeycode - kXkbKeycodeOffset;
    const TKeyData native = ScanCodeFromEvdev(evdev);
    if (native.ScanCode != 0) {
        d.ScanCode = native.ScanCode;
        d.Ext = native.Ext;
    }
    // Layouts without dead keys still carry circumflex and diaeresis on this key.
    if (evdev == kEvdevKeyRightOfP && IsAccentKey(QtKey)) d.VirtKey = kVkDeadAccent;
    return d;
}

bool CapsLockFromEvent(const QKeyEvent& Event) {
    if (NativeIsXkb() && Event.nativeScanCode() != 0) {
        gCapsLockSeen = (Event.nativeModifiers() & kXkbLockMask) != 0;
        return gCapsLockSeen;
    }
    const int key = Event.key();
    const QString text = Event.text();
    if (key >= Qt::Key_A && key <= Qt::Key_Z && text.size() == 1 && text[0].isLetter()) {
        // Shift inverts Caps Lock for letters, so the case of the text tells the lock state.
        const bool shift = Event.modifiers() & Qt::ShiftModifier;
        gCapsLockSeen = text[0].isUpper() != shift;
    } else if (key == Qt::Key_CapsLock && Event.type() == QEvent::KeyPress) {
        gCapsLockSeen = !gCapsLockSeen;
    }
    return gCapsLockSeen;
}

TKeyMessage KeyMessageFromEvent(const QKeyEvent& Event) {
    const quint32 native = NativeIsXkb() ? Event.nativeScanCode() : 0;
    const TKeyData d = KeyDataFromQt(Event.key(), Event.modifiers(), native);
    TKeyMessage m;
    m.VirtKey = d.VirtKey;
    m.ScanCode = d.ScanCode;
    m.Ext = d.Ext;
    m.ShiftDown = Event.modifiers() & Qt::ShiftModifier;
    m.CtrlDown = Event.modifiers() & Qt::ControlModifier;
    m.AltDown = Event.modifiers() & Qt::AltModifier;
    m.CapsLock = CapsLockFromEvent(Event);
    return m;
}

std::string KeyTextBytes(const QKeyEvent& Event) {
    const bool alt = Event.modifiers() & Qt::AltModifier;
    const bool ctrl = Event.modifiers() & Qt::ControlModifier;
    // Alt alone makes a system key, and Delete types no character on a terminal keyboard.
    if ((alt && !ctrl) || Event.key() == Qt::Key_Delete) return {};
    std::string bytes;
    for (QChar c : Event.text())
        if (c.unicode() <= 0xFF) bytes += static_cast<char>(c.unicode());
    return bytes;
}

} // namespace qorvel
