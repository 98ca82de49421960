#pragma once
// The application object: its title, the default handling of errors that escape a handler, and the
// message boxes of the main window.
#include <QApplication>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

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

// A signed 32-bit decimal number, with optional leading blanks and sign; anything else raises
// EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view Text);

enum class TMessageKind { Plain, Error };

// Replaces how message boxes are shown (tests record them instead of blocking); returns the
// previous hook. An empty hook shows a real modal box.
using TMessageBoxHook = std::function<void(TMessageKind Kind, const QString& Caption, const QString& Text)>;
TMessageBoxHook SetMessageBoxHook(TMessageBoxHook Hook);

// A modal box with the application title as caption and one OK button; returns when closed.
void ShowMessageBox(TMessageKind Kind, std::string_view Text, QWidget* Parent = nullptr);

// The application's default error handling: the error box for a message that ended a handler.
void ShowException(std::string_view Message);

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
