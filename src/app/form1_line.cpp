// The Line menu (Break, DTR, RTS and their pulses), the line indicators and the byte counters in
// the status bar.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <array>
#include <cstdio>

#include "app/application.h"
#include "app/form1.h"
#include "serial/xcomm.h"

namespace qorvel {

namespace {

constexpr int kBreakMs = 250;
constexpr int kPulseMs = 100;
constexpr int kCounterRefreshMs = 100; // the counters change at most ten times a second
constexpr std::array<const char*, 6> kLampNames = {"DTR", "RTS", "CTS", "DSR", "DCD", "RI"};

// "340 B", "1.2 kB", "1.2 MB", "3.4 GB".
std::string ByteCount(std::uint64_t Bytes) {
    if (Bytes < 1000) return std::to_string(Bytes) + " B";
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
    double value = double(Bytes) / 1000;
    int unit = 0;
    while (value >= 999.95 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

} // namespace

void TForm1::CreateLineMenu() {
    Line1 = new QMenu(QStringLiteral("&Line"), this);
    Line1->setObjectName(QStringLiteral("Line1"));
    menuBar()->insertMenu(Help1->menuAction(), Line1);
    SendBreak1 = Line1->addAction(QStringLiteral("Send Break"));
    SendBreak1->setObjectName(QStringLiteral("SendBreak1"));
    SendBreak1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    Line1->addSeparator();
    DTR1 = Line1->addAction(QStringLiteral("DTR"));
    DTR1->setObjectName(QStringLiteral("DTR1"));
    RTS1 = Line1->addAction(QStringLiteral("RTS"));
    RTS1->setObjectName(QStringLiteral("RTS1"));
    for (QAction* line : {DTR1, RTS1})
        line->setCheckable(true);
    PulseDTR1 = Line1->addAction(QStringLiteral("Pulse DTR"));
    PulseDTR1->setObjectName(QStringLiteral("PulseDTR1"));
    PulseRTS1 = Line1->addAction(QStringLiteral("Pulse RTS"));
    PulseRTS1->setObjectName(QStringLiteral("PulseRTS1"));

    ResetCounters1 = View1->addAction(QStringLiteral("Reset Counters"));
    ResetCounters1->setObjectName(QStringLiteral("ResetCounters1"));

    connect(SendBreak1, &QAction::triggered, this, Guarded([this] { SendBreak1Click(); }));
    connect(DTR1, &QAction::triggered, this, Guarded([this](bool On) { SetOutputLine(true, On); }));
    connect(RTS1, &QAction::triggered, this, Guarded([this](bool On) { SetOutputLine(false, On); }));
    connect(PulseDTR1, &QAction::triggered, this, Guarded([this] { PulseLine(true); }));
    connect(PulseRTS1, &QAction::triggered, this, Guarded([this] { PulseLine(false); }));
    connect(ResetCounters1, &QAction::triggered, this, Guarded([this] {
                COM->ResetCounters();
                ShowCounters();
            }));
    SetLineControls(false);
}

void TForm1::CreateLineIndicators() {
    FCounters = new QLabel(StatusBar1);
    FCounters->setObjectName(QStringLiteral("Counters"));
    FCounters->setAccessibleName(QStringLiteral("Bytes received and sent"));
    StatusBar1->addPermanentWidget(FCounters);
    for (std::size_t i = 0; i < kLampNames.size(); ++i) {
        auto* lamp = new QLabel(QString::fromLatin1(kLampNames[i]), StatusBar1);
        lamp->setObjectName(QStringLiteral("Lamp") + QString::fromLatin1(kLampNames[i]));
        lamp->setAccessibleName(lamp->text());
        lamp->setAlignment(Qt::AlignCenter);
        lamp->setContentsMargins(2, 0, 2, 0);
        StatusBar1->addPermanentWidget(lamp);
        FLineLamps[i] = lamp;
    }
    FCounterTimer = new QTimer(this);
    FCounterTimer->setInterval(kCounterRefreshMs);
    connect(FCounterTimer, &QTimer::timeout, this, [this] { ShowCounters(); });
}

void TForm1::SetLineControls(bool Connected) {
    for (QAction* item : {SendBreak1, DTR1, RTS1, PulseDTR1, PulseRTS1})
        item->setEnabled(Connected);
    if (Connected) {
        FLineFailureShown = false;
        FBreakOn = false;
        // The driver owns RTS while it does the hardware flow control.
        const bool rtsFree = COM->FlowControl() != TFlowControl::fcRtsCts;
        RTS1->setEnabled(rtsFree);
        PulseRTS1->setEnabled(rtsFree);
        FCounterTimer->start();
    } else if (FCounterTimer) {
        FCounterTimer->stop();
    }
    for (QLabel* lamp : FLineLamps)
        lamp->setVisible(Connected);
    FCounters->setVisible(Connected);
    if (Connected) {
        ShowLines();
        ShowCounters();
    }
}

void TForm1::ShowLines() {
    if (!COM->Opened()) return;
    const std::optional<TModemLines> lines = COM->ModemLines();
    const bool states[] = {lines && lines->DTR, lines && lines->RTS, lines && lines->CTS,
                           lines && lines->DSR, lines && lines->DCD, lines && lines->RI};
    for (std::size_t i = 0; i < FLineLamps.size(); ++i) {
        QLabel* lamp = FLineLamps[i];
        const QString description = !lines      ? QStringLiteral("unknown")
                                    : states[i] ? QStringLiteral("on")
                                                : QStringLiteral("off");
        if (lamp->accessibleDescription() == description) continue;
        lamp->setAccessibleDescription(description);
        lamp->setEnabled(lines.has_value());
        lamp->setStyleSheet(states[i] ? QStringLiteral("background: #1a8f2e; color: white;") : QString());
    }
    if (!lines) return;
    const QSignalBlocker dtr(DTR1);
    const QSignalBlocker rts(RTS1);
    DTR1->setChecked(lines->DTR);
    RTS1->setChecked(lines->RTS);
}

void TForm1::ShowCounters() {
    const QString text = QString::fromStdString("RX " + ByteCount(COM->BytesReceived()) + "  TX " +
                                                ByteCount(COM->BytesSent()));
    if (FCounters->text() != text) FCounters->setText(text);
}

bool TForm1::LineDone(bool Ok, const char* What) {
    if (Ok) return true;
    ShowLines(); // the menu goes back to what the line really is
    // Once per connection: a port without modem lines refuses every one of these alike.
    if (FLineFailureShown) return false;
    FLineFailureShown = true;
    ShowException(std::string(What) + ": " + COM->LineControlError());
    return false;
}

void TForm1::SendBreak1Click() {
    if (FBreakOn || !LineDone(COM->SetBreak(true), "Send Break")) return;
    FBreakOn = true;
    // The line is released from the event loop: the window goes on meanwhile.
    QTimer::singleShot(kBreakMs, this, Guarded([this] {
                           FBreakOn = false;
                           if (COM->Opened()) LineDone(COM->SetBreak(false), "Send Break");
                       }));
}

void TForm1::SetOutputLine(bool Dtr, bool On) {
    const bool ok = Dtr ? COM->SetDTR(On) : COM->SetRTS(On);
    if (LineDone(ok, Dtr ? "DTR" : "RTS")) ShowLines();
}

void TForm1::PulseLine(bool Dtr) {
    const std::optional<TModemLines> lines = COM->ModemLines();
    const bool was = lines ? (Dtr ? lines->DTR : lines->RTS) : false;
    const char* what = Dtr ? "Pulse DTR" : "Pulse RTS";
    if (!LineDone(Dtr ? COM->SetDTR(!was) : COM->SetRTS(!was), what)) return;
    ShowLines();
    QTimer::singleShot(kPulseMs, this, Guarded([this, Dtr, was, what] {
                           if (!COM->Opened()) return;
                           if (LineDone(Dtr ? COM->SetDTR(was) : COM->SetRTS(was), what)) ShowLines();
                       }));
}

} // namespace qorvel
