#pragma once
// Settings that stay between runs: the saved default and named sessions, one INI file each under
// ~/.config/qorvel/ (XDG_CONFIG_HOME), and the ports connected to lately.
#include <QDir>
#include <QString>
#include <QStringList>

namespace qorvel {

// Everything the settings dialog and the View menu hold; the members start at the design values.
struct TSettingsValues {
    QString Com = QStringLiteral("COM1");
    QString Baudrate = QStringLiteral("9600");
    QString Bits = QStringLiteral("8");
    QString Parity = QStringLiteral("None");
    QString StopBits = QStringLiteral("1");
    QString FlowControl = QStringLiteral("None");
    bool Reconnect = false;
    bool ConfirmConnections = true;
    int ScrollBackRows = 10000;
    bool Utf8 = false;
    bool ZmodemAutoStart = true;
    bool LogEveryConnection = false;
    QString LogFolder = QDir::home().filePath(QStringLiteral("qorvel-logs"));
    QString LogNameTemplate = QStringLiteral("%p-%Y%m%d-%H%M%S.log");
    bool LogTimeStamps = false;
    bool LogAppend = true;
    bool FollowCursor = false;
    bool ScrollBack = false;
    QString TextSize = QStringLiteral("5 x 12");
    bool KeysToDevice = false;
    bool HexDump = false;
    QString TransferProtocol = QStringLiteral("YMODEM"); // the last one chosen in the Transfer menu
    bool operator==(const TSettingsValues&) const = default;
};

class TSettingsStore {
public:
    static constexpr int kVersion = 1;
    static constexpr int kHistoryLimit = 10;

    // ~/.config/qorvel, or $XDG_CONFIG_HOME/qorvel.
    static QString Folder();
    static QString DefaultsPath();
    static QString SessionsFolder();
    static QString SessionPath(const QString& Name);
    // Empty for a usable session name, otherwise why it is refused.
    static QString SessionNameProblem(const QString& Name);
    // Saved sessions by name, sorted.
    static QStringList Sessions();

    // Reads the settings in Path over Values. False when the file holds no settings (missing, or
    // only the port history). A file that cannot be used changes nothing and raises ETextError
    // "Settings file PATH ignored: REASON"; one bad value makes the whole file ignored, since a
    // half-applied file would connect with settings nobody chose.
    static bool Load(const QString& Path, TSettingsValues& Values);
    // Writes the settings to Path, keeping the file's port history; raises ETextError with the reason.
    static void Save(const QString& Path, const TSettingsValues& Values);
    // Removes the settings from Path, and the file itself when no port history is left in it.
    static void Forget(const QString& Path);
    // True when Path holds settings to start with.
    static bool HasSettings(const QString& Path);

    // The ports connected to, most recent first; empty for a file that cannot be used.
    static QStringList History(const QString& Path);
    // Puts Port first in the history, at most kHistoryLimit kept; a file that cannot be used is left
    // as it is. Raises ETextError when the file cannot be written.
    static QStringList AddToHistory(const QString& Path, const QString& Port);
};

} // namespace qorvel
