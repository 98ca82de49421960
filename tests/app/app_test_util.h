#pragma once
// Shared by the main-window tests: event-loop waits, the desktop's answers (message boxes, file
// dialogs, links), a pseudo-terminal device and the test program's entry point.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUrl>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/application.h"
#include "app/desktop.h"

class QFileDialog;

namespace qorvel::test {

inline bool WaitUntil(const std::function<bool()>& Done, int LimitMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > LimitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Runs a handler the way the event loop does, so an error reaches the application's error box.
inline void RunAsEvent(QObject* Context, const std::function<void()>& Handler) {
    bool ran = false;
    QMetaObject::invokeMethod(
        Context,
        [&] {
            ran = true;
            Handler();
        },
        Qt::QueuedConnection);
    WaitUntil([&] { return ran; });
    QCoreApplication::processEvents();
}

struct Box {
    TMessageKind Kind;
    QString Caption;
    QString Text;
};

// Stands in for the desktop for as long as it lives: records the message boxes (running OnBox
// while a box would be open), answers file dialogs from Answers (Cancel once they run out) and
// records the links opened.
class DesktopCapture {
public:
    DesktopCapture() {
        FPrev = SetDesktopHooks({
            .MessageBox =
                [this](TMessageKind Kind, const QString& Caption, const QString& Text) {
                    Boxes.push_back({Kind, Caption, Text});
                    if (OnBox) OnBox(Boxes.back());
                },
            .FileDialog = [this](QFileDialog* Dialog) -> std::optional<QString> {
                Dialogs.push_back(Dialog);
                std::optional<QString> answer;
                if (!Answers.empty()) {
                    answer.swap(Answers.front());
                    Answers.pop_front();
                }
                return answer;
            },
            .OpenUrl =
                [this](const QUrl& Url) {
                    Opened.push_back(Url);
                    return OpenResult;
                },
        });
    }
    ~DesktopCapture() { SetDesktopHooks(std::move(FPrev)); }
    std::vector<Box> Boxes;
    std::function<void(const Box&)> OnBox;
    std::deque<std::optional<QString>> Answers;
    std::vector<QFileDialog*> Dialogs;
    std::vector<QUrl> Opened;
    bool OpenResult = true; // false: as on a desktop without a browser

private:
    TDesktopHooks FPrev;
};

// A fresh folder that is the current folder for as long as this lives.
class CurrentFolder {
public:
    CurrentFolder() : FOld(QDir::currentPath()) { QDir::setCurrent(FDir.path()); }
    ~CurrentFolder() { QDir::setCurrent(FOld); }
    QString Path() const { return FDir.path(); }
    QString FilePath(const QString& Name) const { return FDir.filePath(Name); }

private:
    QTemporaryDir FDir;
    QString FOld;
};

// The device: the test holds the master side of a pseudo-terminal; the terminal opens the slave by
// its name and this process keeps no handle on it, so closing the master unplugs the device.
class Pty {
public:
    Pty() {
        int slave = -1;
        char name[256];
        if (::openpty(&FMaster, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        FName = name;
        ::close(slave);
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { Close(); }
    const std::string& Name() const { return FName; }
    void Close() {
        if (FMaster >= 0) ::close(FMaster);
        FMaster = -1;
    }
    void Write(std::string_view Bytes) {
        while (!Bytes.empty()) {
            ssize_t n = ::write(FMaster, Bytes.data(), Bytes.size());
            if (n > 0)
                Bytes.remove_prefix(static_cast<std::size_t>(n));
            else // the line is full until the terminal reads: let it
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    // Everything the terminal has written so far.
    const std::string& Received() {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(FMaster, buf, sizeof buf)) > 0)
            FReceived.append(buf, static_cast<std::size_t>(n));
        return FReceived;
    }

private:
    int FMaster = -1;
    std::string FName;
    std::string FReceived;
};

} // namespace qorvel::test

// Headless also when the test list is read at build time, outside ctest's environment.
#define QORVEL_APP_TEST_MAIN()                                                                               \
    int main(int argc, char** argv) {                                                                        \
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");          \
        qorvel::TApplication app(argc, argv);                                                                \
        ::testing::InitGoogleTest(&argc, argv);                                                              \
        return RUN_ALL_TESTS();                                                                              \
    }
