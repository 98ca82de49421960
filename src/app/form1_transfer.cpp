// The Transfer menu: sending and receiving files with XMODEM, YMODEM and ZMODEM, the progress window,
// files dropped on the terminal view, and ZMODEM transfers the device starts. While a transfer runs
// it takes every received batch (NULs included) and the terminal shows nothing of the protocol.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <tuple>
#include <vector>

#include "app/application.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/string_grid.h"
#include "app/transfer_window.h"
#include "emulvt/emul_vt.h"
#include "serial/device_error.h"
#include "serial/xcomm.h"
#include "transfer/file_host.h"
#include "transfer/zmodem.h"

namespace qorvel {

using transfer::TMillis;
using transfer::TProtocol;
using transfer::TState;

namespace {

constexpr int kBusyPumpMs = 3;   // while the engine has more to write than the port took
constexpr int kIdlePumpMs = 100; // refreshes the progress window while waiting for the peer
constexpr int kRefreshMs = 100;  // the progress window changes at most ten times a second
// A write is sized to the queue's room, so it seldom waits; a network port writes nothing with no time.
constexpr std::uint32_t kSendLimitMs = 20;
constexpr TMillis kCancelLimit = 5000;          // an abort the port does not take within this is dropped
constexpr TMillis kAutoQuietMs = 3000;          // the device's repeated headers after an answer start nothing
constexpr std::string_view kZdleB = "\x18\x42"; // ZDLE 'B': a hex header
// ZMODEM's abort: eight CANs stop the other side, the backspaces erase them from a shell's line.
constexpr char kZmodemAbort[] = "\x18\x18\x18\x18\x18\x18\x18\x18\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08";

TMillis Now() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString Name(TProtocol Protocol) {
    const std::string_view name = transfer::ProtocolName(Protocol);
    return QString::fromLatin1(name.data(), int(name.size()));
}

QString DefaultFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return folder.isEmpty() ? QDir::homePath() + QStringLiteral("/Downloads") : folder;
}

// Accepts drops of local files on the terminal view and hands them over.
class TDropFilter : public QObject {
public:
    TDropFilter(QObject* Parent, std::function<bool()> CanSend, std::function<void(QStringList)> Dropped)
        : QObject(Parent), FCanSend(std::move(CanSend)), FDropped(std::move(Dropped)) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::DragEnter || Event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(Event);
            if (!LocalFiles(drag->mimeData()).isEmpty() && FCanSend()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (Event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(Event);
            const QStringList files = LocalFiles(drop->mimeData());
            if (!files.isEmpty()) {
                drop->acceptProposedAction();
                // Asked after the drop has ended, so the desktop's drag is not held by the box.
                QMetaObject::invokeMethod(
                    this, [this, files] { FDropped(files); }, Qt::QueuedConnection);
                return true;
            }
        }
        return QObject::eventFilter(Watched, Event);
    }

private:
    static QStringList LocalFiles(const QMimeData* Data) {
        QStringList files;
        if (Data && Data->hasUrls())
            for (const QUrl& url : Data->urls())
                if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << url.toLocalFile();
        return files;
    }
    std::function<bool()> FCanSend;
    std::function<void(QStringList)> FDropped;
};

} // namespace

struct TForm1::TTransferState {
    TProtocol Protocol = TProtocol::Ymodem; // the last used, preselected next time
    QTimer* Timer = nullptr;
    // The running transfer.
    std::unique_ptr<transfer::TFileHost> Host;
    std::unique_ptr<transfer::TTransfer> Engine;
    bool Sending = false;
    std::string Pending; // taken from the engine, not yet taken by the port
    TMillis Started = 0;
    TMillis LastRefresh = 0;
    TMillis CancelledAt = 0;
    std::optional<std::uint64_t> Total;
    // ZMODEM started by the device.
    transfer::TZmodemDetector Detector;
    bool Asking = false;    // a question about the device's transfer is open
    bool HoldBytes = false; // ... and what arrives meanwhile is kept for the receiver
    std::string Held;
    TMillis QuietUntil = 0;
    // What HoldSenders put aside.
    std::vector<std::pair<QWidget*, bool>> Senders;
    std::tuple<decltype(TEmulVT::OnKeyPress), decltype(TEmulVT::OnKeyBuffer), decltype(TEmulVT::OnKeyDown)>
        Keys;
};

void TForm1::CreateTransferMenu() {
    FTransferState = std::make_shared<TTransferState>();
    Transfer1 = new QMenu(QStringLiteral("&Transfer"), this);
    Transfer1->setObjectName(QStringLiteral("Transfer1"));
    menuBar()->insertMenu(Help1->menuAction(), Transfer1);
    SendFile1 = Transfer1->addAction(QStringLiteral("&Send File..."));
    SendFile1->setObjectName(QStringLiteral("SendFile1"));
    ReceiveFile1 = Transfer1->addAction(QStringLiteral("&Receive File..."));
    ReceiveFile1->setObjectName(QStringLiteral("ReceiveFile1"));
    connect(SendFile1, &QAction::triggered, this, Guarded([this] { SendFile1Click(); }));
    connect(ReceiveFile1, &QAction::triggered, this, Guarded([this] { ReceiveFile1Click(); }));

    FTransferState->Timer = new QTimer(this);
    FTransferState->Timer->setSingleShot(true);
    FTransferState->Timer->setObjectName(QStringLiteral("TransferTimer"));
    connect(FTransferState->Timer, &QTimer::timeout, this, Guarded([this] { PumpTransfer(); }));

    Terminal2->setAcceptDrops(true);
    Terminal2->installEventFilter(new TDropFilter(
        this, [this] { return COM->Opened() && !TransferRunning(); },
        [this](const QStringList& Files) { Guarded([this, Files] { SendDropped(Files); })(); }));
    SetTransferControls(false);
}

TProtocol TForm1::TransferProtocol() const {
    return FTransferState->Protocol;
}

void TForm1::SetTransferProtocol(TProtocol Protocol) {
    FTransferState->Protocol = Protocol;
}

bool TForm1::TransferRunning() const {
    return FTransferState && FTransferState->Engine != nullptr;
}

void TForm1::SetTransferControls(bool Connected) {
    const bool free = Connected && !TransferRunning();
    SendFile1->setEnabled(free);
    ReceiveFile1->setEnabled(free);
}

void TForm1::HoldSenders(bool Hold) {
    // Nothing else may write into the protocol's stream while it runs: the command line, the codes,
    // the script and typed keys are put aside and given back as they were.
    TTransferState& x = *FTransferState;
    if (Hold) {
        x.Senders.clear();
        for (QWidget* w : std::initializer_list<QWidget*>{Edit1, Button5, Button10, Button6, Button8, Grid}) {
            x.Senders.emplace_back(w, w->isEnabled());
            w->setEnabled(false);
        }
        x.Keys = {Terminal2->OnKeyPress, Terminal2->OnKeyBuffer, Terminal2->OnKeyDown};
        Terminal2->OnKeyPress = nullptr;
        Terminal2->OnKeyBuffer = nullptr;
        Terminal2->OnKeyDown = nullptr;
        return;
    }
    for (const auto& [w, enabled] : x.Senders)
        w->setEnabled(enabled);
    x.Senders.clear();
    // Unless View > Keys to Device changed meanwhile, which set its own.
    if (KeysToDevice1->isChecked() && !Terminal2->OnKeyPress)
        std::tie(Terminal2->OnKeyPress, Terminal2->OnKeyBuffer, Terminal2->OnKeyDown) = std::move(x.Keys);
    x.Keys = {};
}

// ---- The dialogs

void TForm1::SendFile1Click() {
    TTransferDialog dialog(true, TransferProtocol(), this);
    if (ExecTransferDialog(&dialog) != QDialog::Accepted) return;
    StartSend(dialog.Protocol(), dialog.Files());
}

void TForm1::ReceiveFile1Click() {
    TTransferDialog dialog(false, TransferProtocol(), this);
    dialog.SetTarget(DefaultFolder());
    // The default folder suits the batch protocols; XMODEM needs a file name in it.
    const auto fitTarget = [&dialog] {
        const QString target = dialog.Target();
        const bool batch = transfer::IsBatch(dialog.Protocol());
        const QString file = QStringLiteral("/received.bin");
        if (!batch && (QFileInfo(target).isDir() || target == DefaultFolder()))
            dialog.SetTarget(QDir(target).filePath(file.mid(1)));
        else if (batch && target.endsWith(file))
            dialog.SetTarget(target.chopped(file.size()));
    };
    connect(dialog.ProtocolBox, &QComboBox::currentIndexChanged, &dialog, fitTarget);
    fitTarget();
    if (ExecTransferDialog(&dialog) != QDialog::Accepted) return;
    StartReceive(dialog.Protocol(), dialog.Target());
}

void TForm1::SendDropped(const QStringList& Files) {
    if (!COM->Opened() || TransferRunning() || Files.isEmpty()) return;
    const TProtocol protocol = TransferProtocol();
    QStringList names;
    for (const QString& file : Files)
        names << QFileInfo(file).fileName();
    if (!transfer::IsBatch(protocol) && Files.size() > 1) {
        ShowMessageBox(TMessageKind::Error,
                       QStringLiteral("%1 sends one file at a time, and %2 files were dropped.\nDrop one "
                                      "file, or choose YMODEM or ZMODEM in Transfer > Send File.")
                           .arg(Name(protocol))
                           .arg(Files.size()),
                       this);
        return;
    }
    if (!AskTransferQuestion(
            this, QStringLiteral("Send %1 with %2?").arg(names.join(QStringLiteral(", ")), Name(protocol)),
            true))
        return;
    StartSend(protocol, Files);
}

// ---- Starting, driving and ending a transfer

bool TForm1::StartSend(TProtocol Protocol, const QStringList& Files) {
    if (!COM->Opened() || TransferRunning()) return false;
    if (!transfer::IsBatch(Protocol) && Files.size() != 1) {
        ShowMessageBox(TMessageKind::Error, Name(Protocol) + QStringLiteral(" sends exactly one file."),
                       this);
        return false;
    }
    auto host = std::make_unique<transfer::TFileHost>();
    for (const QString& file : Files) {
        std::string error;
        if (!host->AddSendFile(file.toStdString(), error)) {
            ShowMessageBox(TMessageKind::Error, "Nothing was sent: " + error, this);
            return false;
        }
    }
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < host->SendCount(); ++i)
        total += host->SendInfo(i).Size.value_or(0);
    auto engine = transfer::MakeSender(Protocol, *host, Now());
    return BeginTransfer(Protocol, true, std::move(host), std::move(engine), total);
}

bool TForm1::StartReceive(TProtocol Protocol, const QString& Target) {
    if (!COM->Opened() || TransferRunning()) return false;
    const bool batch = transfer::IsBatch(Protocol);
    const QString folder = batch ? Target : QFileInfo(Target).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        if (!AskTransferQuestion(this, QStringLiteral("The folder %1 does not exist. Create it?").arg(folder),
                                 true))
            return false;
        if (!QDir().mkpath(folder)) {
            ShowMessageBox(TMessageKind::Error, QStringLiteral("Cannot create the folder %1.").arg(folder),
                           this);
            return false;
        }
    }
    auto host = std::make_unique<transfer::TFileHost>();
    host->SetFolder(folder.toStdString());
    if (!batch) host->SetXmodemName(QFileInfo(Target).fileName().toStdString());
    auto engine = transfer::MakeReceiver(Protocol, *host, Now());
    return BeginTransfer(Protocol, false, std::move(host), std::move(engine), std::nullopt);
}

bool TForm1::BeginTransfer(TProtocol Protocol, bool Sending, std::unique_ptr<transfer::TFileHost> Host,
                           std::unique_ptr<transfer::TTransfer> Engine, std::optional<std::uint64_t> Total) {
    if (!Engine) {
        ShowMessageBox(TMessageKind::Error,
                       Name(Protocol) + QStringLiteral(" is not available in this version of the program."),
                       this);
        return false;
    }
    TTransferState& x = *FTransferState;
    x.Protocol = Protocol;
    x.Host = std::move(Host);
    x.Engine = std::move(Engine);
    x.Sending = Sending;
    x.Pending.clear();
    x.Started = x.LastRefresh = Now();
    x.CancelledAt = 0;
    x.Total = Total;
    // A fresh window for each transfer; the last one's result stays until then.
    delete TransferWindow;
    TransferWindow = new TTransferWindow(
        QStringLiteral("%1 %2").arg(
            Sending ? QStringLiteral("Sending with") : QStringLiteral("Receiving with"), Name(Protocol)),
        this);
    connect(TransferWindow, &TTransferWindow::CancelRequested, this, Guarded([this] { CancelTransfer(); }));
    TransferWindow->ShowProgress(x.Engine->Progress(), x.Total, 0);
    CentreOverOwner(TransferWindow);
    TransferWindow->show();
    SetTransferControls(true);
    HoldSenders(true);
    PumpTransfer();
    return true;
}

void TForm1::CancelTransfer() {
    TTransferState& x = *FTransferState;
    if (!x.Engine || x.CancelledAt) return;
    x.CancelledAt = Now();
    x.Engine->Cancel(x.CancelledAt);
    if (TransferWindow) TransferWindow->ShowCancelling();
    PumpTransfer();
}

bool TForm1::TransferTakes(std::string_view Block) {
    if (!FTransferState) return false;
    TTransferState& x = *FTransferState;
    const TMillis now = Now();
    if (x.Engine) {
        x.Engine->Receive(Block, now);
        PumpTransfer();
        return true;
    }
    if (x.Asking) {
        if (!x.HoldBytes) return false;
        x.Held.append(Block);
        return true;
    }
    if (!FForm2 || !FForm2->ZmodemAutoStart() || now < x.QuietUntil) return false;
    std::size_t end = 0;
    const auto start = x.Detector.Scan(Block, end);
    if (start == transfer::TZmodemDetector::TStart::None) return false;
    // Where the header begins in this batch ("**" ZDLE "B"); a header split across batches began in
    // the last one, which the terminal has shown already.
    std::size_t head = std::string_view(Block.data(), end).rfind(kZdleB);
    head = head == std::string_view::npos ? end : head;
    while (head > 0 && Block[head - 1] == '*')
        --head;
    ShowReceived(Block.substr(0, head));
    x.Asking = true;
    x.HoldBytes = start == transfer::TZmodemDetector::TStart::DeviceSends;
    if (x.HoldBytes) {
        // The header on is the receiver's, kept until the operator answers.
        x.Held.assign(Block.substr(head));
        QMetaObject::invokeMethod(this, Guarded([this] { AskZmodemReceive(); }), Qt::QueuedConnection);
    } else {
        // The device's rz: its header is no text, what follows it is.
        ShowReceived(Block.substr(end));
        QMetaObject::invokeMethod(this, Guarded([this] { OfferZmodemSend(); }), Qt::QueuedConnection);
    }
    return true;
}

void TForm1::AskZmodemReceive() {
    TTransferState& x = *FTransferState;
    TTransferDialog dialog(false, TProtocol::Zmodem, this);
    dialog.SetQuestion(QStringLiteral("The device is sending files with ZMODEM. Save them in:"));
    dialog.SetTarget(DefaultFolder());
    const bool accepted = ExecTransferDialog(&dialog) == QDialog::Accepted;
    // Still asking while StartReceive may ask about the folder: what arrives meanwhile is held too.
    const bool started = COM->Opened() && accepted && StartReceive(TProtocol::Zmodem, dialog.Target());
    std::string held;
    held.swap(x.Held);
    x.Asking = x.HoldBytes = false;
    if (!COM->Opened()) return;
    if (started) {
        if (!held.empty()) TransferTakes(held);
        return;
    }
    // Refused: the device's sz is told to stop, and what it sent meanwhile is shown as it came.
    COM->SendData(kZmodemAbort, sizeof kZmodemAbort - 1, 200);
    x.QuietUntil = Now() + kAutoQuietMs;
    x.Detector.Reset();
    ShowReceived(held);
}

void TForm1::OfferZmodemSend() {
    TTransferState& x = *FTransferState;
    TTransferDialog dialog(true, TProtocol::Zmodem, this);
    dialog.SetQuestion(QStringLiteral("The device is waiting for files (ZMODEM). Send:"));
    const bool accepted = ExecTransferDialog(&dialog) == QDialog::Accepted;
    const bool started = COM->Opened() && accepted && StartSend(dialog.Protocol(), dialog.Files());
    x.Asking = false;
    if (!COM->Opened() || started) return;
    COM->SendData(kZmodemAbort, sizeof kZmodemAbort - 1, 200);
    x.QuietUntil = Now() + kAutoQuietMs;
    x.Detector.Reset();
}

void TForm1::PumpTransfer() {
    TTransferState& x = *FTransferState;
    if (!x.Engine) return;
    const TMillis now = Now();
    bool busy = false;
    try {
        if (x.Engine->State() == TState::Running && now >= x.Engine->Deadline()) x.Engine->Tick(now);
        if (!x.Pending.empty()) {
            const std::uint32_t sent =
                COM->SendData(x.Pending.data(), std::uint32_t(x.Pending.size()), kSendLimitMs);
            x.Pending.erase(0, sent);
        }
        if (x.Pending.empty()) {
            // Bounded by the driver's queue, so the window never waits long in SendData.
            const std::int64_t room = std::int64_t(COM->Buffers().OutputSize()) - COM->OutQueueCount();
            if (room > 0) {
                x.Engine->Output(x.Pending, std::size_t(room), now);
                busy = x.Pending.size() >= std::size_t(room);
                if (!x.Pending.empty()) {
                    const std::uint32_t sent =
                        COM->SendData(x.Pending.data(), std::uint32_t(x.Pending.size()), kSendLimitMs);
                    x.Pending.erase(0, sent);
                }
            }
        }
    } catch (const std::exception& e) {
        EndTransfer(QStringLiteral("The port failed: %1").arg(QString::fromLocal8Bit(e.what())), false);
        return;
    }
    busy = busy || !x.Pending.empty();
    if (x.Engine->State() != TState::Running && x.Pending.empty()) {
        EndTransfer(QString(), true);
        return;
    }
    if (x.CancelledAt && now - x.CancelledAt > kCancelLimit) {
        EndTransfer(QStringLiteral("Cancelled; the port did not take the abort"), false);
        return;
    }
    if (TransferWindow && now - x.LastRefresh >= kRefreshMs) {
        x.LastRefresh = now;
        TransferWindow->ShowProgress(x.Engine->Progress(), x.Total, now - x.Started);
    }
    const TMillis untilDeadline = x.Engine->Deadline() - now;
    const int wait = busy ? kBusyPumpMs : int(std::clamp<TMillis>(untilDeadline, 1, kIdlePumpMs));
    x.Timer->start(wait);
}

void TForm1::EndTransfer(const QString& Failure, bool EngineEnded) {
    TTransferState& x = *FTransferState;
    x.Timer->stop();
    const transfer::TProgress progress = x.Engine->Progress();
    const TMillis elapsed = std::max<TMillis>(Now() - x.Started, 1);
    const TState state = EngineEnded ? x.Engine->State() : TState::Failed;
    QString text;
    bool ok = state == TState::Done;
    if (ok) {
        const std::size_t files = x.Sending ? x.Host->SendCount() : x.Host->Received().size();
        text = QStringLiteral("%1 %2, %3 bytes in %4 s, %5 KiB/s")
                   .arg(files)
                   .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                   .arg(progress.TotalDone)
                   .arg(double(elapsed) / 1000, 0, 'f', 1)
                   .arg(double(progress.TotalDone) * 1000 / 1024 / double(elapsed), 0, 'f', 1);
        if (!x.Sending && !x.Host->Received().empty())
            text += QStringLiteral("\nSaved: ") + QString::fromStdString(x.Host->Received().back()) +
                    (x.Host->Received().size() > 1 ? QStringLiteral(" and the others beside it") : QString());
    } else {
        const QString why =
            !Failure.isEmpty() ? Failure
            : x.Engine->Error().empty()
                ? (state == TState::Cancelled ? QStringLiteral("Cancelled") : QStringLiteral("Failed"))
                : QString::fromStdString(x.Engine->Error());
        text = QStringLiteral("%1\n%2 bytes got through.").arg(why).arg(progress.TotalDone);
    }
    // The device's prompt after its sz or rz belongs to the terminal.
    const std::string trailing = EngineEnded ? x.Engine->TakeTrailing() : std::string();
    x.Host->EndFile(false);
    std::string partial;
    for (const std::string& path : x.Host->Partial())
        partial += (partial.empty() ? "" : ", ") + path;
    auto host = std::move(x.Host);
    x.Engine.reset();
    x.Pending.clear();
    x.Detector.Reset();
    // A cancelled or failed transfer may leave the device repeating its start for a while.
    x.QuietUntil = ok ? 0 : Now() + kAutoQuietMs;
    if (TransferWindow) {
        TransferWindow->ShowProgress(progress, x.Total, elapsed);
        TransferWindow->ShowResult(text, ok);
    }
    HoldSenders(false);
    SetTransferControls(COM->Opened());
    if (!trailing.empty()) ShowReceived(trailing);
    if (partial.empty()) return;
    // Asked from the event loop: this may run inside the handing over of received data.
    QMetaObject::invokeMethod(
        this, Guarded([this, partial, host = std::shared_ptr<transfer::TFileHost>(std::move(host))] {
            const QString name = QString::fromStdString(partial);
            if (!AskTransferQuestion(this, QStringLiteral("Keep the partial file %1?").arg(name)))
                host->RemovePartial();
        }),
        Qt::QueuedConnection);
}

void TForm1::TransferPortClosed() {
    if (!FTransferState) return;
    TTransferState& x = *FTransferState;
    x.Held.clear();
    x.Detector.Reset();
    x.QuietUntil = 0;
    if (x.Engine) EndTransfer(QStringLiteral("The port was closed"), false);
}

} // namespace qorvel
