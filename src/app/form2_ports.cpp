// The settings dialog's part in the machine's ports: the ports offered in the "COM:" box, and the
// "Reconnect automatically" choice.
#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>

#include "app/form2.h"
#include "app/port_list.h"

namespace qorvel {

namespace {

// "COM1" to "COM12" come first and keep their places; the ports follow a separator.
constexpr int kFixedComItems = 12;
constexpr int kPortPathRole = Qt::UserRole;

} // namespace

void TForm2::CreateReconnectBox() {
    CheckBox1 = new QCheckBox(QStringLiteral("Reconnect automatically"), TabSheet1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(56, 243, 190, 17);
    CheckBox1->setChecked(false);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TForm2::ComboBox1Picked);
}

bool TForm2::ReconnectAutomatically() const {
    return CheckBox1->isChecked();
}

void TForm2::AttachPorts(TPortList* Ports) {
    FPorts = Ports;
    connect(Ports, &TPortList::Changed, this, &TForm2::ShowPorts);
    ShowPorts();
}

void TForm2::ShowPorts() {
    // The box's text is the setting: a port coming or going must not change it.
    const QString text = ComboBox1->currentText();
    {
        const QSignalBlocker blocker(ComboBox1);
        while (ComboBox1->count() > kFixedComItems)
            ComboBox1->removeItem(ComboBox1->count() - 1);
        if (!FPorts->Ports().empty()) ComboBox1->insertSeparator(kFixedComItems);
        for (const platform::TPortInfo& port : FPorts->Ports())
            ComboBox1->addItem(QString::fromUtf8(port.Description), QString::fromLatin1(port.Path));
    }
    ComboBox1->setEditText(text);
}

void TForm2::ComboBox1Picked(int Index) {
    // A port's item shows its description; the box gets the path to open.
    const QVariant path = ComboBox1->itemData(Index, kPortPathRole);
    if (path.isValid()) ComboBox1->setEditText(path.toString());
}

} // namespace qorvel
