#include "emulvt/keyboard_qt.h"

#include <gtest/gtest.h>

namespace qorvel {
namespace {

constexpr quint32 X(unsigned evdev) {
    return evdev + 8;
} // X keycode of an evdev key

struct MappingCase {
    const char* Name;
    int QtKey;
    Qt::KeyboardModifiers Modifiers;
    quint32 Native;
    TKeyData Expected;
};

const MappingCase kMappingCases[] = {
    {"up", Qt::Key_Up, Qt::NoModifier, 0, {38, 0x48, true}},
    {"F1", Qt::Key_F1, Qt::NoModifier, 0, {112, 0x3B, false}},
    {"F11", Qt::Key_F11, Qt::NoModifier, 0, {122, 0x57, false}},
    {"keypad home, num lock off", Qt::Key_Home, Qt::KeypadModifier, 0, {36, 0x47, false}},
    {"keypad home native", Qt::Key_Home, Qt::KeypadModifier, X(71), {36, 0x47, false}},
    {"grey home native", Qt::Key_Home, Qt::NoModifier, X(102), {36, 0x47, true}},
    {"keypad 7, num lock on", Qt::Key_7, Qt::KeypadModifier, 0, {103, 0x47, false}},
    {"keypad star", Qt::Key_Asterisk, Qt::KeypadModifier, 0, {0x6A, 0x37, false}},
    {"keypad star chord",
     Qt::Key_Asterisk,
     Qt::KeypadModifier | Qt::ControlModifier | Qt::AltModifier,
     0,
     {0x6A, 0x37, false}},
    {"keypad star chord on X11",
     Qt::Key_ClearGrab,
     Qt::ControlModifier | Qt::AltModifier,
     0,
     {0x6A, 0x37, false}},
    {"shifted 8 star", Qt::Key_Asterisk, Qt::ShiftModifier, 0, {'8', 0x09, false}},
    {"keypad enter", Qt::Key_Enter, Qt::KeypadModifier, 0, {13, 0x1C, true}},
    {"return", Qt::Key_Return, Qt::NoModifier, 0, {13, 0x1C, false}},
    {"backtab", Qt::Key_Backtab, Qt::ShiftModifier, 0, {9, 0x0F, false}},
    {"letter A", Qt::Key_A, Qt::NoModifier, 0, {65, 0x1E, false}},
    {"letter Q", Qt::Key_Q, Qt::NoModifier, 0, {81, 0x10, false}},
    {"A on a French layout sits where Q is", Qt::Key_A, Qt::NoModifier, X(16), {65, 0x10, false}},
    {"digit 1", Qt::Key_1, Qt::NoModifier, 0, {'1', 0x02, false}},
    {"dead circumflex", Qt::Key_Dead_Circumflex, Qt::NoModifier, 0, {221, 0x1A, false}},
    {"dead diaeresis", Qt::Key_Dead_Diaeresis, Qt::ShiftModifier, 0, {221, 0x1A, false}},
    {"circumflex without dead keys", Qt::Key_AsciiCircum, Qt::NoModifier, X(26), {221, 0x1A, false}},
    {"diaeresis without dead keys", Qt::Key_diaeresis, Qt::ShiftModifier, X(26), {221, 0x1A, false}},
    {"US circumflex is shifted 6", Qt::Key_AsciiCircum, Qt::ShiftModifier, X(7), {'6', 0x07, false}},
    {"US left bracket", Qt::Key_BracketLeft, Qt::NoModifier, X(26), {0xDB, 0x1A, false}},
    {"US right bracket is no dead key",
     Qt::Key_BracketRight,
     Qt::NoModifier,
     X(27),
     {kVkUnknown, 0x1B, false}},
    {"right ctrl native", Qt::Key_Control, Qt::NoModifier, X(97), {17, 0x1D, true}},
    {"keypad star native", Qt::Key_Asterisk, Qt::KeypadModifier, X(55), {0x6A, 0x37, false}},
    {"print screen shares 0x37 but is extended", Qt::Key_Print, Qt::NoModifier, X(99), {44, 0x37, true}},
    {"unknown", Qt::Key_Eacute, Qt::NoModifier, 0, {kVkUnknown, 0, false}},
    {"unknown native", Qt::Key_Eacute, Qt::NoModifier, X(3), {kVkUnknown, 0x03, false}},
};

TEST(KeyMapping, QtKeysToKeyData) {
    for (const MappingCase& c : kMappingCases) {
        SCOPED_TRACE(c.Name);
        const TKeyData d = KeyDataFromQt(c.QtKey, c.Modifiers, c.Native);
        EXPECT_EQ(d.VirtKey, c.Expected.VirtKey);
        EXPECT_EQ(d.ScanCode, c.Expected.ScanCode);
        EXPECT_EQ(d.Ext, c.Expected.Ext);
    }
}

QKeyEvent Event(int key, Qt::KeyboardModifiers mods, const QString& text) {
    return QKeyEvent(QEvent::KeyPress, key, mods, text);
}

TEST(KeyMapping, MessageFromEventReadsModifiersAndCapsLock) {
    // Without native lock state the case of a letter's text tells Caps Lock; other keys keep it.
    struct {
        const char* Name;
        QKeyEvent Ev;
        bool Shift, Ctrl, Alt, Caps;
    } cases[] = {
        {"lower a", Event(Qt::Key_A, Qt::NoModifier, "a"), false, false, false, false},
        {"F1 keeps off", Event(Qt::Key_F1, Qt::NoModifier, ""), false, false, false, false},
        {"upper A without shift", Event(Qt::Key_A, Qt::NoModifier, "A"), false, false, false, true},
        {"F1 keeps on", Event(Qt::Key_F1, Qt::ControlModifier, ""), false, true, false, true},
        {"shift lower a", Event(Qt::Key_A, Qt::ShiftModifier, "a"), true, false, false, true},
        {"shift upper A", Event(Qt::Key_A, Qt::ShiftModifier, "A"), true, false, false, false},
        {"caps lock key toggles", Event(Qt::Key_CapsLock, Qt::NoModifier, ""), false, false, false, true},
        {"ctrl alt", Event(Qt::Key_Asterisk, Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier, "*"),
         false, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TKeyMessage m = KeyMessageFromEvent(c.Ev);
        EXPECT_EQ(m.ShiftDown, c.Shift);
        EXPECT_EQ(m.CtrlDown, c.Ctrl);
        EXPECT_EQ(m.AltDown, c.Alt);
        EXPECT_EQ(m.CapsLock, c.Caps);
    }
}

TEST(KeyMapping, CharacterPathBytes) {
    EXPECT_EQ(KeyTextBytes(Event(Qt::Key_Eacute, Qt::NoModifier, QString::fromUtf8("\xC3\xA9"))), "\xE9");
    EXPECT_EQ(KeyTextBytes(Event(Qt::Key_1, Qt::NoModifier, "1")), "1");
    EXPECT_EQ(KeyTextBytes(Event(Qt::Key_A, Qt::AltModifier, "a")), "");
    EXPECT_EQ(KeyTextBytes(Event(Qt::Key_At, Qt::ControlModifier | Qt::AltModifier, "@")), "@");
    EXPECT_EQ(KeyTextBytes(Event(Qt::Key_Delete, Qt::KeypadModifier, "\x7F")), "");
    EXPECT_EQ(KeyTextBytes(Event(Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("\xE2\x82\xAC"))), "");
}

} // namespace
} // namespace qorvel
