#pragma once
// Key data of a Qt key event in the form the key-down steps read: virtual-key code, PC set-1
// scan code and extended flag, plus modifiers and Caps Lock.
#include "emulvt/keyboard.h"

#include <QKeyEvent>
#include <cstdint>

namespace qorvel {

struct TKeyData {
    int VirtKey = kVkUnknown;
    std::uint8_t ScanCode = 0;
    bool Ext = false;
    friend bool operator==(const TKeyData&, const TKeyData&) = default;
};

// NativeKeycode is an X keycode (evdev code + 8) as reported on X11 and Wayland, 0 when unknown;
// when present it decides the scan code, which then follows the physical key.
TKeyData KeyDataFromQt(int QtKey, Qt::KeyboardModifiers Modifiers, quint32 NativeKeycode = 0);

// Set-1 scan code and extended flag of an evdev key code; scan code 0 when it has none.
TKeyData ScanCodeFromEvdev(unsigned EvdevCode);

// Caps Lock as seen by the event: the native lock bit where the platform reports xkb modifiers,
// otherwise read from the case of a letter's text, falling back to the last state seen.
bool CapsLockFromEvent(const QKeyEvent& Event);

TKeyMessage KeyMessageFromEvent(const QKeyEvent& Event);

// The character path: the bytes an unhandled key event types (its text in Latin-1), empty for
// system keys (Alt without Ctrl) and for characters outside Latin-1.
std::string KeyTextBytes(const QKeyEvent& Event);

} // namespace qorvel
