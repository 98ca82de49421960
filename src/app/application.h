#pragma once
// The application object: its title, the default handling of errors that escape a handler, and the
// message boxes of the main window.
#include <QApplication>
#include <QString>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "app/desktop.h"

class QWidget;

namespace qorvel {

inline constexpr std::string_view kApplicationTitle = "Qorvel Terminal V 1.3";

// The application title: the program's name and the caption of its message boxes.
QString ApplicationTitle();

// Byte strings cross into Qt as Latin-1 so every byte value survives the round trip.
QString FromBytes(std::string_view Bytes);
std::string ToBytes(const QString& Text);

// The error box's text: a full stop is appended when the last byte sorts after '.'.
std::string ErrorBoxText(std::string_view Message);

// A text that is not a number where one is needed.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An error whose message is text for the operator rather than bytes, so it may name any character.
class ETextError : public std::runtime_error {
public:
    explicit ETextError(const QString& Text) : std::runtime_error(Text.toStdString()), FText(Text) {}
    const QString& Text() const noexcept { return FText; }

private:
    QString FText;
};

// The bytes of text the operator typed, one per character; raises ETextError naming the first
// character that has no byte (is outside Latin-1).
std::string ToBytesExact(const QString& Text);

// The bytes a hex line stands for: pairs of hex digits, optionally "0x"-prefixed, separated or not by
// blanks and commas ("01 03 0A", "0x01,0x03", "0103"). Raises ETextError naming the position (from 1)
// and the character of the first thing that is not such a pair.
std::string HexToBytes(const QString& Text);

// A signed 32-bit decimal number, with optional leading blanks and sign; anything else raises
// EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view Text);

// A modal box with the application title as caption and one OK button; returns when closed.
void ShowMessageBox(TMessageKind Kind, std::string_view Text, QWidget* Parent = nullptr);
void ShowMessageBox(TMessageKind Kind, const QString& Text, QWidget* Parent = nullptr);

// The application's default error handling: the error box for a message that ended a handler.
// A message that says nothing shows as "Unknown error.", never as an empty box.
void ShowException(std::string_view Message);
// The error box for the exception being handled; call it inside a catch block.
void ShowCurrentException();

// Runs a handler of a window and shows the error box for whatever it raises, so no exception
// unwinds through the toolkit's frames that called it (buttons, menus, timers).
template <typename Handler> auto Guarded(Handler Run) {
    return [Run = std::move(Run)]<typename... Args>(
        Args && ... Arguments) requires std::invocable<const Handler&, Args...> {
        try {
            Run(std::forward<Args>(Arguments)...);
        } catch (...) {
            ShowCurrentException();
        }
    };
}

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // Every event, timer tick and queued call is dispatched through here, so an exception that
    // ends a handler is caught once, shown in the error box, and the event loop goes on.
    bool notify(QObject* Receiver, QEvent* Event) override;

private:
    // Set while a request to run the main-thread queue is in the event loop, so a burst of queued
    // calls costs one posted event.
    std::atomic<bool> FWakePending{false};
};

} // namespace qorvel
