#include "app/startup.h"

#include <QAction>
#include <QFileInfo>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/settings_store.h"

namespace qorvel {

std::optional<TStartOptions> ParseStartOptions(const QStringList& Arguments) {
    TStartOptions options;
    for (qsizetype i = 1; i < Arguments.size(); ++i) {
        if (Arguments[i] == QStringLiteral("--hex-dump")) {
            options.HexDump = true;
            continue;
        }
        QString* value = Arguments[i] == QStringLiteral("--port")      ? &options.Port
                         : Arguments[i] == QStringLiteral("--log")     ? &options.Log
                         : Arguments[i] == QStringLiteral("--session") ? &options.Session
                                                                       : nullptr;
        if (!value || i + 1 >= Arguments.size()) return std::nullopt;
        *value = Arguments[++i];
    }
    return options;
}

void StartUp(TForm1& Main, TForm2& Settings, const TStartOptions& Options) {
    if (!Options.Session.isEmpty()) {
        if (const QString problem = TSettingsStore::SessionNameProblem(Options.Session); !problem.isEmpty())
            throw ETextError(problem);
        if (!QFileInfo::exists(TSettingsStore::SessionPath(Options.Session)))
            throw ETextError(QStringLiteral("There is no session \"%1\" (no file %2).")
                                 .arg(Options.Session, TSettingsStore::SessionPath(Options.Session)));
    }
    const QString path = TSettingsStore::DefaultsPath();
    TSettingsValues values;
    Settings.GetValues(values);
    Main.GetViewChoices(values);
    std::optional<TSettingsValues> saved;
    try {
        if (TSettingsStore::Load(path, values)) saved = values;
    } catch (const ETextError& error) {
        Main.NoteIgnoredSettings(error.Text());
    }
    Settings.UseSettingsFile(path, saved);
    if (saved) Main.ApplySettings(*saved);
    if (!Options.Session.isEmpty()) {
        try {
            Main.OpenSession(Options.Session);
        } catch (const ETextError& error) {
            Main.NoteIgnoredSettings(error.Text());
        }
    }
    if (!Options.Port.isEmpty()) Settings.SetComText(Options.Port);
    // Given, it turns the dump on; not given, the saved choice stands.
    if (Options.HexDump && !Main.HexDump1->isChecked()) Main.HexDump1->trigger();
}

} // namespace qorvel
