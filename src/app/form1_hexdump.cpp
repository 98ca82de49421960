// View > Hex Dump: every received byte as a hex dump in place of the terminal view. The dump takes
// each batch whether it is shown or not, so switching it on mid-stream shows what came before; the
// terminal keeps interpreting underneath, so switching back finds it as if the dump was never shown.
#include <QAction>
#include <QGroupBox>
#include <QMenu>

#include "app/form1.h"
#include "app/form2.h"
#include "app/hex_dump_view.h"
#include "emulvt/emul_vt.h"

namespace qorvel {

void TForm1::CreateHexDump() {
    HexDump1 = View1->addAction(QStringLiteral("Hex Dump"));
    HexDump1->setObjectName(QStringLiteral("HexDump1"));
    HexDump1->setCheckable(true);
    HexDump1->setShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_H));
    HexDumpView = new THexDumpView(HexDump, GroupBox1);
    HexDumpView->setObjectName(QStringLiteral("HexDumpView"));
    HexDumpView->setAccessibleName(QStringLiteral("Hex dump of received bytes"));
    HexDumpView->hide();
    connect(HexDump1, &QAction::toggled, this, [this](bool On) { ShowHexDump(On); });
}

void TForm1::ShowHexDump(bool On) {
    if (FForm2 && !FHexDumpStampsWired) {
        // The time stamp column follows "Time stamp each line" of the log settings.
        connect(FForm2, &TForm2::SettingsKept, this,
                [this] { HexDumpView->SetStamped(FForm2->LogTimeStamps()); });
        FHexDumpStampsWired = true;
    }
    if (FForm2) HexDumpView->SetStamped(FForm2->LogTimeStamps());
    const bool focused = (On ? static_cast<QWidget*>(Terminal2) : HexDumpView)->hasFocus();
    HexDumpView->setGeometry(Terminal2->geometry());
    HexDumpView->setVisible(On);
    Terminal2->setVisible(!On);
    if (focused) (On ? static_cast<QWidget*>(HexDumpView) : Terminal2)->setFocus(Qt::OtherFocusReason);
}

void TForm1::HexDumpReceived(std::string_view Block) {
    // The dump keeps as many rows as the scroll-back does.
    if (HexDump.MaxRows() != ScrollBackRows()) HexDump.SetMaxRows(ScrollBackRows());
    HexDump.Append(Block, THexDump::TClock::now());
    HexDumpView->DataChanged();
}

void TForm1::ClearHexDump() {
    HexDump.Clear();
    HexDumpView->DataChanged();
}

} // namespace qorvel
