// The three windows as assistive technology sees them: every control is found in the accessible
// tree under a name a person would say.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "app/accessible_names.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "emulvt/emul_vt.h"
#include "platform/comm_fake.h"

#include "app_test_util.h"

namespace qorvel {
namespace {

void Collect(QAccessibleInterface* Iface, std::vector<QAccessibleInterface*>& Out) {
    Out.push_back(Iface);
    // A table's cells are named by their contents, not by the window.
    if (Iface->role() == QAccessible::Table) return;
    for (int i = 0; i < Iface->childCount(); ++i)
        if (QAccessibleInterface* child = Iface->child(i)) Collect(child, Out);
}

std::vector<QAccessibleInterface*> AccessibleTree(QWidget* Window) {
    std::vector<QAccessibleInterface*> all;
    Collect(QAccessible::queryAccessibleInterface(Window), all);
    return all;
}

// The widget itself, or the text field of an editable combo box, which Linux names in its place.
bool Names(const QAccessibleInterface* Iface, const QWidget* Control) {
    if (Iface->object() == Control) return true;
    const auto* box = qobject_cast<const QComboBox*>(Control);
    return box && box->lineEdit() && Iface->object() == box->lineEdit();
}

struct TExpectedName {
    const char* Control;
    const char* Name;
};

void ExpectFoundByName(QWidget* Window, const std::vector<TExpectedName>& Expected) {
    const std::vector<QAccessibleInterface*> tree = AccessibleTree(Window);
    for (const TExpectedName& e : Expected) {
        SCOPED_TRACE(e.Control);
        auto* control = Window->findChild<QWidget*>(QString::fromLatin1(e.Control));
        ASSERT_NE(control, nullptr);
        bool found = false;
        for (QAccessibleInterface* iface : tree)
            found = found ||
                    (iface->text(QAccessible::Name) == QString::fromLatin1(e.Name) && Names(iface, control));
        EXPECT_TRUE(found) << "no accessible \"" << e.Name << "\"";
    }
}

// Every control an operator can reach or read carries some name.
void ExpectNoUnnamedControls(QWidget* Window) {
    static const QAccessible::Role kControls[] = {
        QAccessible::PushButton, QAccessible::CheckBox,    QAccessible::ComboBox, QAccessible::EditableText,
        QAccessible::SpinBox,    QAccessible::ProgressBar, QAccessible::Table,    QAccessible::Terminal,
        QAccessible::StaticText, QAccessible::Graphic,
    };
    for (QAccessibleInterface* iface : AccessibleTree(Window)) {
        if (std::find(std::begin(kControls), std::end(kControls), iface->role()) == std::end(kControls))
            continue;
        bool named = !iface->text(QAccessible::Name).isEmpty();
        // An empty combo box is named through its text field.
        for (int i = 0; !named && iface->role() == QAccessible::ComboBox && i < iface->childCount(); ++i)
            named = iface->child(i)->role() == QAccessible::EditableText &&
                    !iface->child(i)->text(QAccessible::Name).isEmpty();
        EXPECT_TRUE(named) << "unnamed " << qPrintable(iface->object()->objectName()) << " role "
                           << int(iface->role());
    }
}

TEST(WindowNames, SettingsDialog) {
    TForm2 form;
    ExpectFoundByName(&form, {
                                 {"Label1", "COM:"},
                                 {"ComboBox1", "COM:"},
                                 {"ComboBox2", "Baudrate:"},
                                 {"ComboBox6", "Bits:"},
                                 {"ComboBox3", "Parity:"},
                                 {"ComboBox4", "Stop Bits:"},
                                 {"ComboBox5", "Flow Control:"},
                                 {"TabSheet1", "Port Settings"},
                                 {"Button1", "Load Defaults"},
                                 {"Button2", "OK"},
                                 {"Button3", "Cancel"},
                             });
    ExpectNoUnnamedControls(&form);
}

TEST(WindowNames, AboutDialog) {
    TForm3 form;
    ExpectFoundByName(&form, {
                                 {"Image2", "Qorvel Terminal V 1.3"},
                                 {"Label1", "Author:"},
                                 {"Label2", "License:"},
                                 {"Memo1", "License:"},
                                 {"Button1", "Close"},
                             });
    ExpectNoUnnamedControls(&form);
}

class MainWindowNames : public ::testing::Test {
protected:
    void SetUp() override { NameControlsForAccessibility(&Form); }
    platform::TFakeCommApi Api;
    TForm1 Form{Api};
};

TEST_F(MainWindowNames, ControlsAreFoundByTheirNames) {
    ExpectFoundByName(&Form, {
                                 {"Label3", "File:"},
                                 {"Edit2", "File:"},
                                 {"Button7", "Open File"},
                                 {"Button8", "Send ALL"},
                                 {"Button6", "Send Next"},
                                 {"Label5", "Lines"},
                                 {"SpinEdit1", "Lines"},
                                 {"Gauge", "Progress"},
                                 {"TimerButton", "Break"},
                                 {"GroupBox2", "File"},
                                 {"Grid", "Script"},
                                 {"GroupBox1", "Terminal"},
                                 {"Terminal2", "Terminal"},
                                 {"Edit1", "Command"},
                                 {"CheckBox2", "LF"},
                                 {"Button5", "Send"},
                                 {"Label6", "Prompt:"},
                                 {"ComboBox4", "Prompt:"},
                                 {"Button4", "Load Prompt List"},
                                 {"Button1", "Connect"},
                                 {"Button3", "Clear Terminal"},
                                 {"Button9", "Save Log"},
                                 {"ComboBox3", "Control Code"},
                                 {"Button10", "Send Code"},
                                 {"StatusBar1", "Status"},
                             });
    ExpectNoUnnamedControls(&Form);
}

TEST_F(MainWindowNames, CommandLineKeepsItsNameWhileHoldingText) {
    Form.Edit1->setEditText(QStringLiteral("show version"));
    ExpectFoundByName(&Form, {{"Edit1", "Command"}, {"ComboBox3", "Control Code"}});
}

TEST_F(MainWindowNames, TerminalReadsTheReceivedRows) {
    Form.Terminal2->WriteText("\x1b[2J\x1b[HQLX7400> ");
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(Form.Terminal2);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->textInterface(), nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Terminal);
    const QString firstRow = iface->textInterface()->text(0, 132);
    EXPECT_EQ(firstRow.trimmed(), QStringLiteral("QLX7400>"));
    EXPECT_EQ(iface->textInterface()->cursorPosition(), 9);
}

} // namespace
} // namespace qorvel

QORVEL_APP_TEST_MAIN()
