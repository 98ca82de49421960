// The settings dialog's "Logging" page: a session log file for every connection, where it goes,
// how it is named, time stamps and what happens to an existing file.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include "app/form2.h"

namespace qorvel {

namespace {

QCheckBox* MakeCheckBox(QWidget* Page, const char* Name, const char* Caption, int Top) {
    auto* box = new QCheckBox(QString::fromLatin1(Caption), Page);
    box->setObjectName(QString::fromLatin1(Name));
    box->setGeometry(8, Top, 240, 17);
    return box;
}

QLineEdit* MakeEdit(QWidget* Page, QLabel* Label, const char* Name, int Top) {
    auto* edit = new QLineEdit(Page);
    edit->setObjectName(QString::fromLatin1(Name));
    edit->setGeometry(8, Top, 233, edit->sizeHint().height());
    Label->setBuddy(edit);
    edit->setAccessibleName(Label->text());
    return edit;
}

QLabel* MakeCaption(QWidget* Page, const char* Name, const char* Caption, int Top) {
    auto* label = new QLabel(QString::fromLatin1(Caption), Page);
    label->setObjectName(QString::fromLatin1(Name));
    label->move(8, Top);
    label->adjustSize();
    return label;
}

} // namespace

QString TForm2::DefaultLogFolder() {
    return QDir::home().filePath(QStringLiteral("qorvel-logs"));
}

void TForm2::CreateLoggingPage() {
    TabSheet3 = new QWidget();
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    const int index = PageControl1->addTab(TabSheet3, QStringLiteral("Logging"));
    TabSheet3->setAccessibleName(PageControl1->tabText(index));

    CheckBox3 = MakeCheckBox(TabSheet3, "CheckBox3", "Log every connection to a file", 16);
    Label8 = MakeCaption(TabSheet3, "Label8", "Folder:", 44);
    Edit1 = MakeEdit(TabSheet3, Label8, "Edit1", 60);
    Label9 = MakeCaption(TabSheet3, "Label9", "Name template:", 92);
    Edit2 = MakeEdit(TabSheet3, Label9, "Edit2", 108);
    Edit2->setToolTip(QStringLiteral("%p port, %Y %m %d %H %M %S connect time"));
    CheckBox4 = MakeCheckBox(TabSheet3, "CheckBox4", "Time stamp each line", 144);
    CheckBox5 = MakeCheckBox(TabSheet3, "CheckBox5", "Append to an existing file", 168);
    LoadLoggingDefaults();
}

void TForm2::LoadLoggingDefaults() {
    CheckBox3->setChecked(false);
    Edit1->setText(DefaultLogFolder());
    Edit2->setText(QString::fromLatin1(kDefaultLogName));
    CheckBox4->setChecked(false);
    CheckBox5->setChecked(true);
}

bool TForm2::LogEveryConnection() const {
    return CheckBox3->isChecked();
}

QString TForm2::LogFolder() const {
    const QString folder = Edit1->text().trimmed();
    if (folder.isEmpty()) return DefaultLogFolder();
    // "~" is the home folder, as in a shell.
    if (folder == QStringLiteral("~") || folder.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + folder.mid(1);
    return folder;
}

QString TForm2::LogNameTemplate() const {
    const QString name = Edit2->text().trimmed();
    return name.isEmpty() ? QString::fromLatin1(kDefaultLogName) : name;
}

bool TForm2::LogTimeStamps() const {
    return CheckBox4->isChecked();
}

bool TForm2::LogAppend() const {
    return CheckBox5->isChecked();
}

} // namespace qorvel
