#include "app/log_files.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <ctime>

#include "app/application.h"
#include "app/desktop.h"
#include "app/form2.h"
#include "app/text_file.h"

namespace qorvel {

namespace {

std::string Now() {
    return TSessionLog::TimeText(TSessionLog::TClock::now());
}

std::string FileBytes(const QString& Name) {
    return QFile::encodeName(Name).toStdString();
}

} // namespace

TLogFiles::TLogFiles(QWidget* Window, QMenu* Menu, QAction* Before) : QObject(Window), FWindow(Window) {
    setObjectName(QStringLiteral("LogFiles"));
    LogToFile1 = new QAction(QStringLiteral("Log to File..."), Menu);
    LogToFile1->setObjectName(QStringLiteral("LogToFile1"));
    LogToFile1->setCheckable(true);
    Menu->insertAction(Before, LogToFile1);
    // triggered, not toggled: only the operator's choice opens the dialog or ends the file.
    connect(LogToFile1, &QAction::triggered, this,
            Guarded([this](bool Checked) { LogToFile1Click(Checked); }));
}

TLogFiles::~TLogFiles() {
    if (FLog.IsOpen() && FConnected) FLog.Marker("disconnected " + Now());
    // The log's destructor waits for the last write and fdatasync.
}

void TLogFiles::AttachSettings(TForm2* Settings) {
    FSettings = Settings;
    connect(Settings, &TForm2::SettingsKept, this,
            [this] { FLog.SetTimeStamps(FSettings->LogTimeStamps()); });
}

std::string TLogFiles::Port() const {
    if (FConnected || !FSettings) return FPort;
    return ToBytes(FSettings->ComText());
}

std::string TLogFiles::Folder() const {
    const QString folder = FSettings ? FSettings->LogFolder() : TForm2::DefaultLogFolder();
    QDir().mkpath(folder);
    return FileBytes(folder);
}

QString TLogFiles::NameTemplate() const {
    return FSettings ? FSettings->LogNameTemplate() : QString::fromLatin1(TForm2::kDefaultLogName);
}

void TLogFiles::StartFile(const QString& Path, const std::string& Port) {
    FPort = Port;
    try {
        Start(LogFileName(FileBytes(Path), Port, std::time(nullptr)), "log started " + Now());
    } catch (const std::exception& e) {
        ShowException(e.what());
    }
}

void TLogFiles::LogToFile1Click(bool Checked) {
    if (!Checked) {
        Stop("log stopped " + Now());
        return;
    }
    LogToFile1->setChecked(false);
    const std::string folder = Folder();
    const std::string name = LogFileName(ToBytes(NameTemplate()), Port(), std::time(nullptr));
    if (!LogDialog1) {
        LogDialog1 = new QFileDialog(FWindow, {}, QFile::decodeName(QByteArray::fromStdString(folder)));
        LogDialog1->setObjectName(QStringLiteral("LogDialog1"));
        LogDialog1->setWindowTitle(QStringLiteral("Log to File"));
        LogDialog1->setAcceptMode(QFileDialog::AcceptSave);
        LogDialog1->setDefaultSuffix(QStringLiteral("log"));
        // An existing file is appended to or kept under a numbered name, never replaced: no question.
        LogDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
        LogDialog1->setNameFilters({QStringLiteral("Log File (*.log)"), QStringLiteral("*.* (*)")});
    }
    LogDialog1->setDirectory(QFile::decodeName(QByteArray::fromStdString(folder)));
    LogDialog1->selectFile(QFile::decodeName(QByteArray::fromStdString(folder + "/" + name)));
    QString chosen;
    if (DesktopHooks().FileDialog) {
        chosen = DesktopHooks().FileDialog(LogDialog1).value_or(QString());
    } else if (LogDialog1->exec() == QDialog::Accepted && !LogDialog1->selectedFiles().isEmpty()) {
        chosen = LogDialog1->selectedFiles().front();
    }
    if (chosen.isEmpty()) return;
    FPerConnection = false;
    Start(FileBytes(chosen), FConnected ? "log started, connected to " + FPort + ", " + FFormat + ", " + Now()
                                        : "log started " + Now());
}

void TLogFiles::Start(const std::string& Name, const std::string& FirstMarker) {
    Stop("log stopped " + Now());
    const std::uint64_t generation = ++FGeneration;
    try {
        FLog.Open(Name, !FSettings || FSettings->LogAppend(), [this, generation](const std::string& Message) {
            // From a thread of the file's own: the window hears of it in its event loop.
            QMetaObject::invokeMethod(
                this, [this, generation, Message] { WriteFailed(generation, Message); },
                Qt::QueuedConnection);
        });
    } catch (...) {
        LogToFile1->setChecked(false);
        throw;
    }
    FLog.SetTimeStamps(FSettings && FSettings->LogTimeStamps());
    FLog.Marker(FirstMarker);
    LogToFile1->setChecked(true);
}

void TLogFiles::Stop(const std::string& LastMarker) {
    if (FLog.IsOpen() && !LastMarker.empty()) FLog.Marker(LastMarker);
    FLog.Close();
    FPerConnection = false;
    LogToFile1->setChecked(false);
}

void TLogFiles::Connected(const std::string& Port, const std::string& Format) {
    FPort = Port;
    FFormat = Format;
    FConnected = true;
    const std::string marker = "connected to " + Port + ", " + Format + ", " + Now();
    if (FSettings && FSettings->LogEveryConnection()) {
        try {
            Start(Folder() + "/" + LogFileName(ToBytes(NameTemplate()), Port, std::time(nullptr)), marker);
            FPerConnection = true;
        } catch (const std::exception& e) {
            // The connection stands; only its file is missing.
            QMetaObject::invokeMethod(
                this, [Message = std::string(e.what())] { ShowException(Message); }, Qt::QueuedConnection);
        }
        return;
    }
    FLog.Marker(marker);
}

void TLogFiles::Disconnected() {
    FConnected = false;
    if (!FLog.IsOpen()) return;
    FLog.Marker("disconnected " + Now());
    FLog.Sync();
    if (FPerConnection) Stop({});
}

void TLogFiles::Lost(const std::string& Reason) {
    FConnected = false;
    if (!FLog.IsOpen()) return;
    FLog.Marker("connection lost" + (Reason.empty() ? std::string() : ": " + Reason) + ", " + Now());
    FLog.Sync();
    if (FPerConnection) Stop({});
}

void TLogFiles::WriteFailed(std::uint64_t Generation, const std::string& Message) {
    // Logging ends before the box shows, so the batches arriving while it is open add no second one.
    if (Generation == FGeneration && FLog.IsOpen()) {
        FLog.Close();
        FPerConnection = false;
        LogToFile1->setChecked(false);
    }
    ShowException(Message);
}

} // namespace qorvel
