// The settings dialog's "Terminal" page: choices about the window rather than the line.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>

#include "app/form2.h"

namespace qorvel {

void TForm2::CreateTerminalPage() {
    TabSheet2 = new QWidget();
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Terminal"));
    TabSheet2->setAccessibleName(PageControl1->tabText(1));

    CheckBox2 = new QCheckBox(QStringLiteral("Confirm connections with a message box"), TabSheet2);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setGeometry(8, 16, 240, 17);
    Label7 = new QLabel(QStringLiteral("Scroll-back rows:"), TabSheet2);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->move(8, 50);
    Label7->adjustSize();
    SpinEdit1 = new QSpinBox(TabSheet2);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(kMinScrollBackRows, kMaxScrollBackRows);
    SpinEdit1->setSingleStep(1000);
    SpinEdit1->setGeometry(120, 46, 90, SpinEdit1->sizeHint().height());
    Label7->setBuddy(SpinEdit1);
    SpinEdit1->setAccessibleName(Label7->text());
    Label10 = new QLabel(QStringLiteral("Character set:"), TabSheet2);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->move(8, 84);
    Label10->adjustSize();
    ComboBox7 = new QComboBox(TabSheet2);
    ComboBox7->setObjectName(QStringLiteral("ComboBox7"));
    ComboBox7->addItems({QStringLiteral("Code page 437 (8-bit)"), QStringLiteral("UTF-8")});
    ComboBox7->setGeometry(120, 80, 160, ComboBox7->sizeHint().height());
    Label10->setBuddy(ComboBox7);
    ComboBox7->setAccessibleName(Label10->text());
    CheckBox6 = new QCheckBox(QStringLiteral("Start ZMODEM transfers the device begins"), TabSheet2);
    CheckBox6->setObjectName(QStringLiteral("CheckBox6"));
    CheckBox6->setGeometry(8, 114, 280, 17);
    LoadTerminalDefaults();
}

void TForm2::LoadTerminalDefaults() {
    CheckBox2->setChecked(true);
    SpinEdit1->setValue(kDefaultScrollBackRows);
    ComboBox7->setCurrentIndex(0);
    CheckBox6->setChecked(true);
}

bool TForm2::ConfirmConnections() const {
    return CheckBox2->isChecked();
}

int TForm2::ScrollBackRows() const {
    return SpinEdit1->value();
}

bool TForm2::Utf8() const {
    return ComboBox7->currentIndex() == 1;
}

bool TForm2::ZmodemAutoStart() const {
    return CheckBox6->isChecked();
}

} // namespace qorvel
