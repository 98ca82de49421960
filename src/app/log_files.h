#pragma once
// The main window's session log files: File > "Log to File...", `--log PATH`, and a file of its
// own for every connection when the settings ask for it. The window calls the hooks below at its
// events; the bytes go to a TSessionLog, which writes them off the main thread.
#include <QObject>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/session_log.h"

class QAction;
class QFileDialog;
class QMenu;
class QWidget;

namespace qorvel {

class TForm2;

class TLogFiles : public QObject {
    Q_OBJECT
public:
    // Puts "Log to File..." into Menu before Before.
    TLogFiles(QWidget* Window, QMenu* Menu, QAction* Before);
    // At exit: a connection still open is marked as ended, and the file is written and synced.
    ~TLogFiles() override;
    void AttachSettings(TForm2* Settings);

    QAction* LogToFile1;
    QFileDialog* LogDialog1 = nullptr; // made on first use, like the window's file dialogs

    // `--log PATH`, before the start-up connect: PATH's fields are filled with Port and the time.
    // A file that cannot be created shows the error box and the program goes on without one.
    void StartFile(const QString& Path, const std::string& Port);

    // The window's hooks. Format is the line's settings as "115200 8N1".
    void Received(std::string_view Bytes) {
        if (FLog.IsOpen()) FLog.Add(Bytes, TSessionLog::TClock::now());
    }
    void Connected(const std::string& Port, const std::string& Format);
    void Disconnected();
    void Lost(const std::string& Reason);

    bool Logging() const noexcept { return FLog.IsOpen(); }
    const std::string& FileName() const noexcept { return FLog.FileName(); }
    TSessionLog& Log() noexcept { return FLog; }

private:
    void LogToFile1Click(bool Checked);
    // Opens Name and marks the start; raises EInOutError. The item shows whether a file is open.
    void Start(const std::string& Name, const std::string& FirstMarker);
    void Stop(const std::string& LastMarker);
    void WriteFailed(std::uint64_t Generation, const std::string& Message);
    std::string Port() const;
    std::string Folder() const;
    QString NameTemplate() const;

    QWidget* FWindow;
    TForm2* FSettings = nullptr;
    TSessionLog FLog;
    std::string FPort;
    std::string FFormat;
    bool FConnected = false;
    // The file was opened for the present connection and ends with it.
    bool FPerConnection = false;
    // Tells a late failure report of a closed file from one of the file open now.
    std::uint64_t FGeneration = 0;
};

} // namespace qorvel
