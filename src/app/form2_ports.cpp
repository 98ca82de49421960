// The settings dialog's part in the machine's ports: the ports offered in the "COM:" box (the fixed
// names, the machine's ports, then the ports connected to lately), and "Reconnect automatically".
#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <utility>

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
        const std::vector<platform::TPortInfo> none;
        const std::vector<platform::TPortInfo>& ports = FPorts ? FPorts->Ports() : none;
        if (!ports.empty()) ComboBox1->insertSeparator(kFixedComItems);
        QStringList listed;
        for (int i = 0; i < kFixedComItems; ++i)
            listed << ComboBox1->itemText(i);
        for (const platform::TPortInfo& port : ports) {
            ComboBox1->addItem(QString::fromUtf8(port.Description), QString::fromLatin1(port.Path));
            listed << QString::fromLatin1(port.Path);
        }
        // Then the ports connected to lately that the box does not offer already.
        bool first = true;
        for (const QString& recent : FHistory) {
            if (listed.contains(recent)) continue;
            if (std::exchange(first, false)) ComboBox1->insertSeparator(ComboBox1->count());
            ComboBox1->addItem(recent, recent);
        }
    }
    ComboBox1->setEditText(text);
}

void TForm2::ComboBox1Picked(int Index) {
    // A port's item shows its description; the box gets the path to open.
    const QVariant path = ComboBox1->itemData(Index, kPortPathRole);
    if (path.isValid()) ComboBox1->setEditText(path.toString());
}

} // namespace qorvel
