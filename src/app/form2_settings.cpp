// The settings dialog's part in settings that stay: "Save as Default" and "Forget Defaults" on the
// Terminal page, the dialog's values as one record, and the history of ports connected to.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <cstdio>

#include "app/application.h"
#include "app/form2.h"

namespace qorvel {

namespace {

QPushButton* MakePageButton(QWidget* Page, const char* Name, const char* Caption, int Left) {
    auto* button = new QPushButton(QString::fromLatin1(Caption), Page);
    button->setObjectName(QString::fromLatin1(Name));
    button->setAutoDefault(false);
    // At the page's foot, clear of the choices above.
    button->setGeometry(Left, 226, 115, 25);
    return button;
}

} // namespace

void TForm2::CreateDefaultButtons() {
    Button4 = MakePageButton(TabSheet2, "Button4", "Save as Default", 8);
    Button5 = MakePageButton(TabSheet2, "Button5", "Forget Defaults", 128);
    Button4->setToolTip(QStringLiteral("Start with these settings and the View choices from now on"));
    Button5->setToolTip(QStringLiteral("Start with the program's own settings again"));
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm2::Button5Click);
}

void TForm2::GetValues(TSettingsValues& Values) const {
    Values.Com = ComText();
    Values.Baudrate = BaudrateText();
    Values.Bits = BitsText();
    Values.Parity = ParityText();
    Values.StopBits = StopBitsText();
    Values.FlowControl = FlowControlText();
    Values.Reconnect = ReconnectAutomatically();
    Values.ConfirmConnections = ConfirmConnections();
    Values.ScrollBackRows = ScrollBackRows();
    Values.Utf8 = Utf8();
    Values.ZmodemAutoStart = ZmodemAutoStart();
    Values.LogEveryConnection = LogEveryConnection();
    Values.LogFolder = Edit1->text();
    Values.LogNameTemplate = Edit2->text();
    Values.LogTimeStamps = LogTimeStamps();
    Values.LogAppend = LogAppend();
}

void TForm2::SetValues(const TSettingsValues& Values) {
    ComboBox1->setCurrentText(Values.Com);
    ComboBox2->setCurrentText(Values.Baudrate);
    ComboBox6->setCurrentText(Values.Bits);
    ComboBox3->setCurrentText(Values.Parity);
    ComboBox4->setCurrentText(Values.StopBits);
    ComboBox5->setCurrentText(Values.FlowControl);
    CheckBox1->setChecked(Values.Reconnect);
    CheckBox2->setChecked(Values.ConfirmConnections);
    SpinEdit1->setValue(Values.ScrollBackRows);
    ComboBox7->setCurrentIndex(Values.Utf8 ? 1 : 0);
    CheckBox6->setChecked(Values.ZmodemAutoStart);
    CheckBox3->setChecked(Values.LogEveryConnection);
    Edit1->setText(Values.LogFolder);
    Edit2->setText(Values.LogNameTemplate);
    CheckBox4->setChecked(Values.LogTimeStamps);
    CheckBox5->setChecked(Values.LogAppend);
}

void TForm2::UseSettingsFile(const QString& Path, const std::optional<TSettingsValues>& SavedDefault) {
    FSettingsFile = Path;
    FSavedDefault = SavedDefault;
    FHistory = TSettingsStore::History(Path);
    if (FPorts || !FHistory.isEmpty()) ShowPorts();
}

void TForm2::SaveDefault() {
    const QString path = FSettingsFile.isEmpty() ? TSettingsStore::DefaultsPath() : FSettingsFile;
    TSettingsValues values;
    GetValues(values);
    if (OnViewChoices) OnViewChoices(values);
    TSettingsStore::Save(path, values);
    FSettingsFile = path;
    FSavedDefault = values;
}

void TForm2::ForgetDefault() {
    TSettingsStore::Forget(FSettingsFile.isEmpty() ? TSettingsStore::DefaultsPath() : FSettingsFile);
    FSavedDefault.reset();
}

void TForm2::Button4Click() {
    try {
        SaveDefault();
        ShowMessageBox(TMessageKind::Plain,
                       QStringLiteral("The next start uses these settings (%1).").arg(FSettingsFile), this);
    } catch (const ETextError& error) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("Default not saved. ") + error.Text(), this);
    }
}

void TForm2::Button5Click() {
    const auto answer = QMessageBox::question(
        this, ApplicationTitle(),
        QStringLiteral("Forget the saved default? The next start uses the program's own settings."));
    if (answer != QMessageBox::Yes) return;
    try {
        ForgetDefault();
    } catch (const ETextError& error) {
        ShowMessageBox(TMessageKind::Error, error.Text(), this);
    }
}

void TForm2::PortConnected(const QString& Port) {
    FHistory.removeAll(Port);
    FHistory.prepend(Port);
    FHistory = FHistory.mid(0, TSettingsStore::kHistoryLimit);
    if (!FSettingsFile.isEmpty()) {
        try {
            TSettingsStore::AddToHistory(FSettingsFile, Port);
        } catch (const ETextError& error) {
            // The connection matters more than its note: the history stays in memory for this run.
            static bool told = false;
            if (!told) std::fprintf(stderr, "qorvel-terminal: %s\n", qPrintable(error.Text()));
            told = true;
        }
    }
    ShowPorts();
}

} // namespace qorvel
