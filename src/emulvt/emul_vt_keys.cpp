#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>

#include "emulvt/emul_vt.h"
#include "emulvt/keyboard_qt.h"

namespace qorvel {

// --- keyboard --------------------------------------------------------------------------------

void TCustomEmulVT::InstallAppMessageHook(bool Install) {
    if (Install == FAppHookInstalled || !qApp) return;
    // Qt asks the filter installed last first and passes what it leaves on to the earlier ones,
    // which chains the previous hook for every key the view does not handle.
    if (Install)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
    FAppHookInstalled = Install;
}

bool TCustomEmulVT::eventFilter(QObject* Watched, QEvent* Event) {
    bool Handled = false;
    AppMessageHandler(Watched, Event, Handled);
    return Handled || QWidget::eventFilter(Watched, Event);
}

void TCustomEmulVT::AppMessageHandler(QObject* Receiver, QEvent* Msg, bool& Handled) {
    if (Receiver != this) return;
    if (Msg->type() != QEvent::ShortcutOverride && Msg->type() != QEvent::KeyPress) return;
    auto* key = static_cast<QKeyEvent*>(Msg);
    if (IsCopyChord(*key)) {
        // With text selected, Ctrl+Shift+C copies it instead of going to the device.
        FKeyDownVerdict.reset();
        Handled = true;
        if (Msg->type() == QEvent::ShortcutOverride)
            key->accept();
        else
            CopySelection();
        return;
    }
    if (Msg->type() == QEvent::KeyPress && TakeKeyDownVerdict(*key, Handled)) return;
    FKeyDownVerdict.reset();
    Handled = FKeyTranslator.KeyDownMessage(KeyMessageFromEvent(*key), *this);
    if (Msg->type() == QEvent::ShortcutOverride) {
        FKeyDownVerdict = TKeyDownVerdict{key->key(), key->modifiers(), key->timestamp(), Handled};
        // Accepting the check keeps shortcuts away from a handled key; an unhandled one may still
        // trigger a shortcut, and then no key press follows.
        if (Handled) key->accept();
    }
}

bool TCustomEmulVT::TakeKeyDownVerdict(const QKeyEvent& Event, bool& Handled) {
    if (!FKeyDownVerdict || FKeyDownVerdict->Key != Event.key() ||
        FKeyDownVerdict->Modifiers != Event.modifiers() || FKeyDownVerdict->Timestamp != Event.timestamp())
        return false;
    Handled = FKeyDownVerdict->Handled;
    FKeyDownVerdict.reset();
    return true;
}

void TCustomEmulVT::keyPressEvent(QKeyEvent* Event) {
    // The hook may be gone by now (a capture message box took the focus): a key it already
    // handled must not type its text as well.
    bool handled = false;
    if (TakeKeyDownVerdict(*Event, handled) && handled) return;
    const std::string bytes = KeyTextBytes(*Event);
    if (bytes.empty()) {
        QWidget::keyPressEvent(Event);
        return;
    }
    for (char c : bytes) {
        char Key = c;
        KeyPress(Key);
    }
}

void TCustomEmulVT::KeyPress(char& Key) {
    if (!FScreen->FTranslateInput) Key = char(FScreen->FOutputTable[uint8_t(Key)]);
    if (OnKeyPress) OnKeyPress(this, Key);
    if (FLocalEcho) {
        WriteChar(uint8_t(Key));
        if (!FAutoRepaint) UpdateScreen();
    }
}

void TCustomEmulVT::DoKeyBuffer(const char* Buffer, std::int32_t Len) {
    if (OnKeyBuffer) {
        OnKeyBuffer(this, Buffer, Len);
        return;
    }
    for (std::int32_t i = 0; i < Len; ++i) {
        char Key = Buffer[i];
        KeyPress(Key);
    }
}

const TFKeyEntry* TCustomEmulVT::FindFKey(std::uint8_t ScanCode, TShiftState Shift, bool Ext) const {
    return qorvel::FindFKey(SelectFKeyTable(FFKeys), ScanCode, Shift, Ext);
}

bool TCustomEmulVT::ProcessFKeys(std::uint8_t ScanCode, TShiftState Shift, bool Ext) {
    return qorvel::ProcessFKeys(*this, ScanCode, Shift, Ext);
}

bool TCustomEmulVT::KeyDown(int& VirtKey, TShiftState& Shift, bool& ShiftLock, std::uint8_t& ScanCode,
                            bool& Ext) {
    if (!OnKeyDown) return false;
    char scan = char(ScanCode);
    OnKeyDown(this, VirtKey, Shift, ShiftLock, scan, Ext);
    ScanCode = uint8_t(scan);
    return true;
}

void TCustomEmulVT::ShowKeyCapture(const std::string& Line, const std::string& Caption) {
    const QString line = QString::fromLatin1(Line.data(), qsizetype(Line.size()));
    QGuiApplication::clipboard()->setText(line);
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(Caption.data(), qsizetype(Caption.size())), line,
                    QMessageBox::Ok, this);
    box.exec();
}

} // namespace qorvel
