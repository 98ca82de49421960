#include "app/desktop.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace qorvel {

namespace {

TDesktopHooks& Hooks() {
    static TDesktopHooks hooks;
    return hooks;
}

} // namespace

TDesktopHooks SetDesktopHooks(TDesktopHooks Hooks_) {
    return std::exchange(Hooks(), std::move(Hooks_));
}

const TDesktopHooks& DesktopHooks() {
    return Hooks();
}

bool OpenUrl(const QUrl& Url) {
    if (Hooks().OpenUrl) return Hooks().OpenUrl(Url);
    return QDesktopServices::openUrl(Url);
}

QPoint DialogPlace(const QRect& Dialog, const QRect& Owner, const QRect& OwnerScreen) {
    if (OwnerScreen.isEmpty() || OwnerScreen.contains(Dialog)) return Dialog.topLeft();
    QRect placed = Dialog;
    placed.moveCenter(Owner.center());
    // A dialog larger than the screen shows its top-left part, where its caption is.
    placed.moveLeft(
        std::max(std::min(placed.left(), OwnerScreen.right() + 1 - placed.width()), OwnerScreen.left()));
    placed.moveTop(
        std::max(std::min(placed.top(), OwnerScreen.bottom() + 1 - placed.height()), OwnerScreen.top()));
    return placed.topLeft();
}

void PlaceOverOwner(QDialog* Dialog) {
    const QWidget* owner = Dialog->parentWidget() ? Dialog->parentWidget()->window() : nullptr;
    if (!owner) return;
    const QScreen* screen = owner->screen();
    if (!screen) return;
    const QRect frame(Dialog->pos(), Dialog->frameGeometry().size());
    Dialog->move(DialogPlace(frame, owner->frameGeometry(), screen->availableGeometry()));
}

void KeepTypedText(QComboBox* Box) {
    // The default completer matches without case; without it the box only ever looks for an item
    // that equals the text exactly, which leaves the text as it is.
    Box->setCompleter(nullptr);
}

} // namespace qorvel
