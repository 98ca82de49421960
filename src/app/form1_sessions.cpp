// Settings that stay, the main window's part: File > Save Session As... and Open Session..., the
// View choices and the last transfer protocol as part of the saved settings, the session's name in the title,
// and the notice of a settings file that was ignored at start.
#include <QAction>
#include <QActionGroup>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <cstdio>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "emulvt/emul_vt.h"
#include "serial/xcomm.h"
#include "transfer/transfer.h"

namespace qorvel {

namespace {

// The View items saved with the settings, by the names of their menu items.
struct TViewChoice {
    const char* Action;
    bool TSettingsValues::*Member;
};
constexpr TViewChoice kViewChoices[] = {
    {"FollowCursor1", &TSettingsValues::FollowCursor},
    {"ScrollBack1", &TSettingsValues::ScrollBack},
    {"KeysToDevice1", &TSettingsValues::KeysToDevice},
    {"HexDump1", &TSettingsValues::HexDump},
};

} // namespace

void TForm1::CreateSessionMenu() {
    FBaseTitle = windowTitle();
    File1->insertSeparator(N1);
    OpenSession1 = new QAction(QStringLiteral("Open Session..."), this);
    OpenSession1->setObjectName(QStringLiteral("OpenSession1"));
    SaveSessionAs1 = new QAction(QStringLiteral("Save Session As..."), this);
    SaveSessionAs1->setObjectName(QStringLiteral("SaveSessionAs1"));
    File1->insertAction(N1, OpenSession1);
    File1->insertAction(N1, SaveSessionAs1);
    connect(OpenSession1, &QAction::triggered, this, Guarded([this] { OpenSession1Click(); }));
    connect(SaveSessionAs1, &QAction::triggered, this, Guarded([this] { SaveSessionAs1Click(); }));
}

void TForm1::GetViewChoices(TSettingsValues& Values) const {
    for (const TViewChoice& choice : kViewChoices)
        if (auto* action = findChild<QAction*>(QString::fromLatin1(choice.Action)))
            Values.*choice.Member = action->isChecked();
    for (QAction* size : TextSize1->actions())
        if (size->isChecked()) Values.TextSize = size->text();
    Values.TransferProtocol = FromBytes(transfer::ProtocolName(TransferProtocol()));
}

void TForm1::SetViewChoices(const TSettingsValues& Values) {
    // Triggered rather than set, so each item's own handler runs as for a click.
    for (const TViewChoice& choice : kViewChoices)
        if (auto* action = findChild<QAction*>(QString::fromLatin1(choice.Action)))
            if (action->isChecked() != Values.*choice.Member) action->trigger();
    for (QAction* size : TextSize1->actions())
        if (size->text() == Values.TextSize && !size->isChecked()) size->trigger();
    for (const transfer::TProtocol protocol : transfer::kProtocols)
        if (FromBytes(transfer::ProtocolName(protocol)) == Values.TransferProtocol)
            SetTransferProtocol(protocol);
}

void TForm1::ApplySettings(const TSettingsValues& Values) {
    FForm2->SetValues(Values);
    SetViewChoices(Values);
    SetScrollBackRows(FForm2->ScrollBackRows());
    ReadCharacterSet(false);
}

void TForm1::SetSessionName(const QString& Name) {
    FSessionName = Name;
    setWindowTitle(Name.isEmpty() ? FBaseTitle : FBaseTitle + QStringLiteral(" \u2014 ") + Name);
}

void TForm1::SaveSession(const QString& Name) {
    if (const QString problem = TSettingsStore::SessionNameProblem(Name); !problem.isEmpty())
        throw ETextError(problem);
    TSettingsValues values;
    FForm2->GetValues(values);
    GetViewChoices(values);
    TSettingsStore::Save(TSettingsStore::SessionPath(Name), values);
    SetSessionName(Name);
}

void TForm1::OpenSession(const QString& Name) {
    if (const QString problem = TSettingsStore::SessionNameProblem(Name); !problem.isEmpty())
        throw ETextError(problem);
    const QString path = TSettingsStore::SessionPath(Name);
    if (!QFileInfo::exists(path))
        throw ETextError(QStringLiteral("There is no session \"%1\" (no file %2).").arg(Name, path));
    // Keys the file lacks keep what the windows hold now.
    TSettingsValues values;
    FForm2->GetValues(values);
    GetViewChoices(values);
    TSettingsStore::Load(path, values);
    ApplySettings(values);
    SetSessionName(Name);
}

void TForm1::SaveSessionAs1Click() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, ApplicationTitle(), QStringLiteral("Save the session as:"),
                              QLineEdit::Normal, FSessionName, &ok)
            .trimmed();
    if (!ok) return;
    if (const QString problem = TSettingsStore::SessionNameProblem(name); !problem.isEmpty()) {
        ShowMessageBox(TMessageKind::Error, problem, this);
        return;
    }
    if (QFileInfo::exists(TSettingsStore::SessionPath(name)) &&
        QMessageBox::question(this, ApplicationTitle(),
                              QStringLiteral("A session \"%1\" exists already. Replace it?").arg(name)) !=
            QMessageBox::Yes)
        return;
    try {
        SaveSession(name);
    } catch (const ETextError& error) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("Session not saved. ") + error.Text(), this);
    }
}

void TForm1::OpenSession1Click() {
    const QStringList names = TSettingsStore::Sessions();
    if (names.isEmpty()) {
        ShowMessageBox(TMessageKind::Plain,
                       QStringLiteral("No session is saved yet: File > Save Session As... keeps one in %1.")
                           .arg(TSettingsStore::SessionsFolder()),
                       this);
        return;
    }
    bool ok = false;
    const QString name =
        QInputDialog::getItem(this, ApplicationTitle(), QStringLiteral("Open the session:"), names,
                              std::max<qsizetype>(names.indexOf(FSessionName), 0), false, &ok);
    if (!ok) return;
    try {
        OpenSession(name);
    } catch (const ETextError& error) {
        ShowMessageBox(TMessageKind::Error, error.Text(), this);
        return;
    }
    // An open connection keeps its line settings until the operator says otherwise.
    if (COM->Opened() &&
        QMessageBox::question(this, ApplicationTitle(),
                              QStringLiteral("Reconnect now with the session's settings? Otherwise they "
                                             "apply at the next Connect.")) == QMessageBox::Yes) {
        Button1Click();
        Button1Click();
    }
}

void TForm1::NoteIgnoredSettings(const QString& Text) {
    FSettingsNotices << Text;
    std::fprintf(stderr, "qorvel-terminal: %s\n", qPrintable(Text));
}

void TForm1::ShowSettingsNotices() {
    for (const QString& notice : FSettingsNotices)
        WriteNotice(ToBytes(notice));
}

} // namespace qorvel
