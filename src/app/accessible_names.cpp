#include "app/accessible_names.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace qorvel {

namespace {

struct TControlName {
    const char* Control;
    const char* Name;
};

// The boxes take the caption of their label, the command line and the unlabelled boxes what an
// operator calls them, the "..." buttons what they do.
constexpr TControlName kMainWindowNames[] = {
    {"Edit2", "File:"},
    {"Button7", "Open File"},
    {"SpinEdit1", "Lines"},
    {"Gauge", "Progress"},
    {"Grid", "Script"},
    {"Terminal2", "Terminal"},
    {"Edit1", "Command"},
    {"ComboBox4", "Prompt:"},
    {"Button4", "Load Prompt List"},
    {"ComboBox3", "Control Code"},
    {"StatusBar1", "Status"},
};

struct TBuddy {
    const char* Label;
    const char* Box;
};

constexpr TBuddy kMainWindowBuddies[] = {
    {"Label3", "Edit2"},
    {"Label5", "SpinEdit1"},
    {"Label6", "ComboBox4"},
};

QWidget* FindControl(QWidget* Window, const char* Name) {
    return Window->findChild<QWidget*>(QString::fromLatin1(Name));
}

} // namespace

void SetAccessibleName(QWidget* Control, const QString& Name) {
    Control->setAccessibleName(Name);
    if (auto* box = qobject_cast<QComboBox*>(Control); box && box->lineEdit())
        box->lineEdit()->setAccessibleName(Name);
}

void NameControlsForAccessibility(QWidget* Window) {
    for (const TControlName& c : kMainWindowNames)
        if (QWidget* control = FindControl(Window, c.Control))
            SetAccessibleName(control, QString::fromLatin1(c.Name));
    for (const TBuddy& b : kMainWindowBuddies) {
        auto* label = qobject_cast<QLabel*>(FindControl(Window, b.Label));
        QWidget* box = FindControl(Window, b.Box);
        if (label && box) label->setBuddy(box);
    }
}

} // namespace qorvel
