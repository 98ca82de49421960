#pragma once
// Where the windows meet the desktop: message boxes, file dialogs, opening links, where a dialog
// goes over its owner, and editable boxes that keep what the operator typed. Tests install their
// own answers here, so nothing modal blocks them.
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>

class QComboBox;
class QDialog;
class QFileDialog;
class QUrl;

namespace qorvel {

enum class TMessageKind { Plain, Error };

// Answers given in place of the desktop; an empty member leaves that part to the real desktop.
struct TDesktopHooks {
    // Instead of a modal message box with one OK button.
    std::function<void(TMessageKind Kind, const QString& Caption, const QString& Text)> MessageBox;
    // Instead of a modal file dialog: the chosen name, or nothing for Cancel.
    std::function<std::optional<QString>(QFileDialog* Dialog)> FileDialog;
    // Instead of the desktop's handler for a page, a mail address or a file.
    std::function<bool(const QUrl& Url)> OpenUrl;
};

// Installs the hooks and returns the previous ones.
TDesktopHooks SetDesktopHooks(TDesktopHooks Hooks);
const TDesktopHooks& DesktopHooks();

// Opens a link through the hook, or the desktop's handler without one.
bool OpenUrl(const QUrl& Url);

// The top-left corner for a dialog frame: where it is when that lies wholly on the owner's
// screen, otherwise centred on the owner and kept on that screen.
QPoint DialogPlace(const QRect& Dialog, const QRect& Owner, const QRect& OwnerScreen);
// Moves a dialog that has an owner window by DialogPlace, before it is shown.
void PlaceOverOwner(QDialog* Dialog);

// An editable box that keeps the operator's text byte for byte: no completion, and neither Enter
// nor leaving the box swaps the text for a list item that differs in case. Picking an item from
// the list still puts that item's text in.
void KeepTypedText(QComboBox* Box);

} // namespace qorvel
