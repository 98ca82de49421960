#include "app/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <variant>

#include "app/application.h"

namespace qorvel {

namespace {

const QString kVersionKey = QStringLiteral("Version");
const QString kHistoryKey = QStringLiteral("History/Ports");
const char* const kSettingsGroups[] = {"Port", "Terminal", "Logging", "View", "Transfer"};

// One stored setting: its key, the member it fills, and for a text the values it may take (none:
// any text, "+": any text but an empty one).
struct TField {
    const char* Key;
    std::variant<QString TSettingsValues::*, bool TSettingsValues::*, int TSettingsValues::*> Member;
    QStringList Allowed = {};
    int Min = 0, Max = 0;
};

const QStringList kAnyButEmpty{QStringLiteral("+")};

const TField kFields[] = {
    {"Port/Name", &TSettingsValues::Com, kAnyButEmpty},
    {"Port/Baudrate", &TSettingsValues::Baudrate, kAnyButEmpty}, // checked as a number below
    {"Port/Bits", &TSettingsValues::Bits, {"5", "6", "7", "8"}},
    {"Port/Parity", &TSettingsValues::Parity, {"None", "Odd", "Even"}},
    {"Port/StopBits", &TSettingsValues::StopBits, {"1", "2"}},
    {"Port/FlowControl",
     &TSettingsValues::FlowControl,
     {"None", "Software (Xon/Xoff)", "Hardware (Rts/Cts)"}},
    {"Port/Reconnect", &TSettingsValues::Reconnect},
    {"Terminal/ConfirmConnections", &TSettingsValues::ConfirmConnections},
    {"Terminal/ScrollBackRows", &TSettingsValues::ScrollBackRows, {}, 1000, 16000},
    {"Terminal/UTF8", &TSettingsValues::Utf8},
    {"Terminal/ZmodemAutoStart", &TSettingsValues::ZmodemAutoStart},
    {"Logging/EveryConnection", &TSettingsValues::LogEveryConnection},
    {"Logging/Folder", &TSettingsValues::LogFolder},
    {"Logging/NameTemplate", &TSettingsValues::LogNameTemplate},
    {"Logging/TimeStamps", &TSettingsValues::LogTimeStamps},
    {"Logging/Append", &TSettingsValues::LogAppend},
    {"View/FollowCursor", &TSettingsValues::FollowCursor},
    {"View/ScrollBack", &TSettingsValues::ScrollBack},
    {"View/TextSize", &TSettingsValues::TextSize, {"5 x 12", "7 x 14", "8 x 16", "10 x 20"}},
    {"View/KeysToDevice", &TSettingsValues::KeysToDevice},
    {"View/HexDump", &TSettingsValues::HexDump},
    {"Transfer/Protocol",
     &TSettingsValues::TransferProtocol,
     {"XMODEM (checksum)", "XMODEM-CRC", "XMODEM-1K", "YMODEM", "ZMODEM"}},
};

// The path as the operator knows it: the home folder as "~".
QString Shown(const QString& Path) {
    const QString home = QDir::homePath();
    if (Path.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + Path.mid(home.size());
    return Path;
}

[[noreturn]] void Ignored(const QString& Path, const QString& Reason) {
    throw ETextError(QStringLiteral("Settings file %1 ignored: %2").arg(Shown(Path), Reason));
}

// Why the file at Path cannot be used, or nothing. A missing file is no problem.
QString Problem(const QString& Path, const QSettings& Settings) {
    const QFileInfo info(Path);
    if (!info.exists()) return {};
    if (info.isDir()) return QStringLiteral("it is a folder, not a file");
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("cannot read it (%1)").arg(file.errorString());
    // The INI reader takes a NUL byte for the end of the text; a file with one is no settings file.
    if (Settings.status() == QSettings::FormatError || file.read(1 << 20).contains('\0'))
        return QStringLiteral("it is not an INI file");
    if (Settings.status() == QSettings::AccessError) return QStringLiteral("cannot read it");
    if (!Settings.contains(kVersionKey)) return {};
    bool ok = false;
    const int version = Settings.value(kVersionKey).toString().toInt(&ok);
    if (!ok || version < 1) return QStringLiteral("Version is not a version number");
    if (version > TSettingsStore::kVersion)
        return QStringLiteral("it was written by a newer version of the program (Version=%1)").arg(version);
    return {};
}

QString BadValue(const char* Key, const QString& Text, const QString& Expected) {
    return QStringLiteral("%1 is \"%2\", not %3").arg(QString::fromLatin1(Key), Text, Expected);
}

// Reads one field into Values; the reason when its value cannot be taken.
QString ReadField(const QSettings& Settings, const TField& Field, TSettingsValues& Values) {
    const QString key = QString::fromLatin1(Field.Key);
    if (!Settings.contains(key)) return {};
    const QString text = Settings.value(key).toString();
    if (auto* flag = std::get_if<bool TSettingsValues::*>(&Field.Member)) {
        if (text != QStringLiteral("true") && text != QStringLiteral("false"))
            return BadValue(Field.Key, text, QStringLiteral("true or false"));
        Values.*(*flag) = text == QStringLiteral("true");
    } else if (auto* whole = std::get_if<int TSettingsValues::*>(&Field.Member)) {
        bool ok = false;
        const int number = text.toInt(&ok);
        if (!ok || number < Field.Min || number > Field.Max)
            return BadValue(Field.Key, text, QStringLiteral("%1 to %2").arg(Field.Min).arg(Field.Max));
        Values.*(*whole) = number;
    } else {
        const auto member = std::get<QString TSettingsValues::*>(Field.Member);
        if (Field.Allowed == kAnyButEmpty && text.trimmed().isEmpty())
            return QStringLiteral("%1 is empty").arg(key);
        if (!Field.Allowed.isEmpty() && Field.Allowed != kAnyButEmpty && !Field.Allowed.contains(text))
            return BadValue(Field.Key, text,
                            QStringLiteral("one of ") + Field.Allowed.join(QStringLiteral(", ")));
        Values.*member = text;
    }
    return {};
}

// Why the file cannot be used, reading its settings into Values as far as they go.
QString ReadAll(const QString& Path, const QSettings& Settings, TSettingsValues& Values) {
    if (QString problem = Problem(Path, Settings); !problem.isEmpty()) return problem;
    for (const TField& field : kFields)
        if (QString problem = ReadField(Settings, field, Values); !problem.isEmpty()) return problem;
    bool ok = false;
    if (Values.Baudrate.toInt(&ok) <= 0 || !ok)
        return BadValue("Port/Baudrate", Values.Baudrate, QStringLiteral("a rate"));
    return {};
}

bool Usable(const QString& Path) {
    const QSettings settings(Path, QSettings::IniFormat);
    TSettingsValues scratch;
    return ReadAll(Path, settings, scratch).isEmpty();
}

// Makes the folder and checks that Path can be written, for a reason the operator can act on.
void CheckWritable(const QString& Path) {
    const QString folder = QFileInfo(Path).absolutePath();
    if (!QDir().mkpath(folder))
        throw ETextError(QStringLiteral("Cannot make the folder %1.").arg(Shown(folder)));
    QFile file(Path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        throw ETextError(QStringLiteral("Cannot write %1: %2.").arg(Shown(Path), file.errorString()));
}

void Finish(QSettings& Settings, const QString& Path) {
    Settings.sync();
    if (Settings.status() != QSettings::NoError)
        throw ETextError(QStringLiteral("Cannot write %1.").arg(Shown(Path)));
}

} // namespace

QString TSettingsStore::Folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/qorvel");
}

QString TSettingsStore::DefaultsPath() {
    return Folder() + QStringLiteral("/qorvel-terminal.conf");
}

QString TSettingsStore::SessionsFolder() {
    return Folder() + QStringLiteral("/sessions");
}

QString TSettingsStore::SessionPath(const QString& Name) {
    return SessionsFolder() + QLatin1Char('/') + Name + QStringLiteral(".conf");
}

QString TSettingsStore::SessionNameProblem(const QString& Name) {
    if (Name.trimmed().isEmpty()) return QStringLiteral("A session needs a name.");
    if (Name.contains(QLatin1Char('/')))
        return QStringLiteral("A session name cannot contain \"/\": \"%1\".").arg(Name);
    if (Name.startsWith(QLatin1Char('.')))
        return QStringLiteral("A session name cannot start with \".\": \"%1\".").arg(Name);
    return {};
}

QStringList TSettingsStore::Sessions() {
    QStringList names;
    const QFileInfoList files =
        QDir(SessionsFolder()).entryInfoList({QStringLiteral("*.conf")}, QDir::Files, QDir::Name);
    for (const QFileInfo& file : files)
        names << file.completeBaseName();
    return names;
}

bool TSettingsStore::Load(const QString& Path, TSettingsValues& Values) {
    const QSettings settings(Path, QSettings::IniFormat);
    TSettingsValues read = Values;
    if (const QString problem = ReadAll(Path, settings, read); !problem.isEmpty()) Ignored(Path, problem);
    if (!HasSettings(Path)) return false;
    Values = read;
    return true;
}

bool TSettingsStore::HasSettings(const QString& Path) {
    const QSettings settings(Path, QSettings::IniFormat);
    if (!Problem(Path, settings).isEmpty()) return false;
    const QStringList groups = settings.childGroups();
    for (const char* group : kSettingsGroups)
        if (groups.contains(QString::fromLatin1(group))) return true;
    return false;
}

void TSettingsStore::Save(const QString& Path, const TSettingsValues& Values) {
    // A file that was ignored is replaced, at the operator's word; its history goes with it.
    const QStringList history = History(Path);
    // The INI writer leaves a file it could not read untouched, so it goes first.
    if (QFileInfo::exists(Path) && !Usable(Path)) {
        QFile old(Path);
        if (!old.remove())
            throw ETextError(QStringLiteral("Cannot replace %1: %2.").arg(Shown(Path), old.errorString()));
    }
    CheckWritable(Path);
    QSettings settings(Path, QSettings::IniFormat);
    settings.setValue(kVersionKey, kVersion);
    for (const TField& field : kFields) {
        const QString key = QString::fromLatin1(field.Key);
        std::visit([&](auto member) { settings.setValue(key, Values.*member); }, field.Member);
    }
    if (!history.isEmpty()) settings.setValue(kHistoryKey, history);
    Finish(settings, Path);
}

void TSettingsStore::Forget(const QString& Path) {
    if (!QFileInfo::exists(Path)) return;
    const QStringList history = History(Path);
    if (history.isEmpty()) {
        QFile file(Path);
        if (!file.remove())
            throw ETextError(QStringLiteral("Cannot remove %1: %2.").arg(Shown(Path), file.errorString()));
        return;
    }
    CheckWritable(Path);
    QSettings settings(Path, QSettings::IniFormat);
    for (const char* group : kSettingsGroups)
        settings.remove(QString::fromLatin1(group));
    Finish(settings, Path);
}

QStringList TSettingsStore::History(const QString& Path) {
    if (!Usable(Path)) return {};
    const QSettings settings(Path, QSettings::IniFormat);
    QStringList ports = settings.value(kHistoryKey).toStringList();
    ports.removeAll(QString());
    ports.removeDuplicates();
    return ports.mid(0, kHistoryLimit);
}

QStringList TSettingsStore::AddToHistory(const QString& Path, const QString& Port) {
    // A file that was ignored at start-up stays as the operator left it.
    if (!Usable(Path)) return {};
    QStringList ports = History(Path);
    ports.removeAll(Port);
    ports.prepend(Port);
    ports = ports.mid(0, kHistoryLimit);
    CheckWritable(Path);
    QSettings settings(Path, QSettings::IniFormat);
    settings.setValue(kVersionKey, kVersion);
    settings.setValue(kHistoryKey, ports);
    Finish(settings, Path);
    return ports;
}

} // namespace qorvel
