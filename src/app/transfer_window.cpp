// The transfer's dialog and progress window.
#include "app/transfer_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/desktop.h"

namespace qorvel {

using transfer::TProtocol;

namespace {

std::function<int(QDialog*)>& DialogHook() {
    static std::function<int(QDialog*)> hook;
    return hook;
}

QString Duration(std::int64_t Seconds) {
    if (Seconds < 60) return QStringLiteral("%1 s").arg(Seconds);
    if (Seconds < 3600) return QStringLiteral("%1 min %2 s").arg(Seconds / 60).arg(Seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(Seconds / 3600).arg(Seconds / 60 % 60);
}

} // namespace

QString TransferBytes(std::uint64_t Bytes) {
    if (Bytes < 1024) return QStringLiteral("%1 B").arg(Bytes);
    if (Bytes < 1024 * 1024) return QStringLiteral("%1 KiB").arg(double(Bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(Bytes) / (1024 * 1024), 0, 'f', 1);
}

void CentreOverOwner(QDialog* Dialog) {
    Dialog->adjustSize();
    if (const QWidget* owner = Dialog->parentWidget() ? Dialog->parentWidget()->window() : nullptr)
        Dialog->move(owner->frameGeometry().center() - QPoint(Dialog->width() / 2, Dialog->height() / 2));
    PlaceOverOwner(Dialog);
}

int ExecTransferDialog(QDialog* Dialog) {
    if (DialogHook()) return DialogHook()(Dialog);
    CentreOverOwner(Dialog);
    return Dialog->exec();
}

std::function<int(QDialog*)> SetTransferDialogHook(std::function<int(QDialog*)> Hook) {
    std::swap(DialogHook(), Hook);
    return Hook;
}

bool AskTransferQuestion(QWidget* Parent, const QString& Text, bool YesDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Qorvel Terminal"), Text,
                    QMessageBox::Yes | QMessageBox::No, Parent);
    box.setDefaultButton(YesDefault ? QMessageBox::Yes : QMessageBox::No);
    return ExecTransferDialog(&box) == QMessageBox::Yes;
}

// ---- The dialog

TTransferDialog::TTransferDialog(bool Sending, TProtocol Protocol, QWidget* Parent)
    : QDialog(Parent), FSending(Sending) {
    setObjectName(Sending ? QStringLiteral("SendFileDialog") : QStringLiteral("ReceiveFileDialog"));
    setWindowTitle(Sending ? QStringLiteral("Send File") : QStringLiteral("Receive File"));
    Question = new QLabel(this);
    Question->setObjectName(QStringLiteral("Question"));
    Question->hide();
    auto* form = new QFormLayout;
    ProtocolBox = new QComboBox(this);
    ProtocolBox->setObjectName(QStringLiteral("ProtocolBox"));
    for (TProtocol p : transfer::kProtocols)
        ProtocolBox->addItem(
            QString::fromLatin1(transfer::ProtocolName(p).data(), int(transfer::ProtocolName(p).size())),
            int(p));
    form->addRow(QStringLiteral("&Protocol:"), ProtocolBox);
    auto* browse = new QPushButton(Sending ? QStringLiteral("&Add...") : QStringLiteral("&Browse..."), this);
    browse->setObjectName(QStringLiteral("BrowseButton"));
    browse->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    if (Sending) {
        FileList = new QListWidget(this);
        FileList->setObjectName(QStringLiteral("FileList"));
        FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
        FileList->setAccessibleName(QStringLiteral("Files to send"));
        auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
        remove->setAutoDefault(false);
        connect(remove, &QPushButton::clicked, this, [this] {
            qDeleteAll(FileList->selectedItems());
            Check();
        });
        auto* buttons = new QVBoxLayout;
        buttons->addWidget(browse);
        buttons->addWidget(remove);
        buttons->addStretch();
        row->addWidget(FileList);
        row->addLayout(buttons);
        form->addRow(QStringLiteral("Files:"), row);
    } else {
        TargetEdit = new QLineEdit(this);
        TargetEdit->setObjectName(QStringLiteral("TargetEdit"));
        TargetEdit->setMinimumWidth(300);
        row->addWidget(TargetEdit);
        row->addWidget(browse);
        form->addRow(QStringLiteral("Save in:"), row);
        TargetLabel = qobject_cast<QLabel*>(form->labelForField(row));
        if (TargetLabel) TargetLabel->setBuddy(TargetEdit);
        connect(TargetEdit, &QLineEdit::textChanged, this, [this] { Check(); });
    }
    Note = new QLabel(this);
    Note->setWordWrap(true);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    OkButton = box->button(QDialogButtonBox::Ok);
    OkButton->setText(Sending ? QStringLiteral("Send") : QStringLiteral("Receive"));
    OkButton->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Question);
    layout->addLayout(form);
    layout->addWidget(Note);
    layout->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    connect(ProtocolBox, &QComboBox::currentIndexChanged, this, [this] { Check(); });
    SetProtocol(Protocol);
    Check();
}

TProtocol TTransferDialog::Protocol() const {
    return TProtocol(ProtocolBox->currentData().toInt());
}

void TTransferDialog::SetProtocol(TProtocol Protocol) {
    ProtocolBox->setCurrentIndex(ProtocolBox->findData(int(Protocol)));
}

QStringList TTransferDialog::Files() const {
    QStringList files;
    if (FileList)
        for (int i = 0; i < FileList->count(); ++i)
            files << FileList->item(i)->text();
    return files;
}

void TTransferDialog::SetFiles(const QStringList& Files) {
    if (!FileList) return;
    FileList->clear();
    FileList->addItems(Files);
    Check();
}

QString TTransferDialog::Target() const {
    return TargetEdit ? TargetEdit->text().trimmed() : QString();
}

void TTransferDialog::SetTarget(const QString& Target) {
    if (TargetEdit) TargetEdit->setText(Target);
}

void TTransferDialog::SetQuestion(const QString& Text) {
    Question->setText(Text);
    Question->show();
    ProtocolBox->setEnabled(false);
}

void TTransferDialog::Browse() {
    const bool batch = transfer::IsBatch(Protocol());
    if (FSending) {
        const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Files to send"));
        for (const QString& file : files)
            if (FileList->findItems(file, Qt::MatchExactly).isEmpty()) FileList->addItem(file);
    } else if (batch) {
        const QString dir =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Save received files in"), Target());
        if (!dir.isEmpty()) SetTarget(dir);
    } else {
        const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Save the file as"), Target());
        if (!file.isEmpty()) SetTarget(file);
    }
    Check();
}

void TTransferDialog::Check() {
    const bool batch = transfer::IsBatch(Protocol());
    QString note;
    bool ok = true;
    if (FSending) {
        const int count = FileList->count();
        ok = count > 0;
        if (!batch && count > 1) {
            ok = false;
            note = QStringLiteral("XMODEM sends one file at a time; YMODEM and ZMODEM send several.");
        } else if (!batch) {
            note = QStringLiteral("XMODEM sends no name or size: the receiver pads the last block.");
        }
    } else {
        if (TargetLabel)
            TargetLabel->setText(batch ? QStringLiteral("Save in &folder:")
                                       : QStringLiteral("Save as &file:"));
        note = batch ? QStringLiteral("The sender names the files; an existing file is kept and the new one "
                                      "gets a \" (2)\" suffix.")
                     : QStringLiteral("XMODEM carries no file name: the file is saved under this name.");
        ok = !Target().isEmpty();
    }
    Note->setText(note);
    OkButton->setEnabled(ok);
}

// ---- The progress window

TTransferWindow::TTransferWindow(const QString& Title, QWidget* Parent) : QDialog(Parent) {
    setObjectName(QStringLiteral("TransferWindow"));
    setWindowTitle(Title);
    setModal(false);
    auto* form = new QFormLayout;
    FileLabel = new QLabel(this);
    BytesLabel = new QLabel(this);
    Bar = new QProgressBar(this);
    Bar->setRange(0, 1000);
    Bar->setValue(0);
    RateLabel = new QLabel(this);
    TimeLabel = new QLabel(this);
    ErrorsLabel = new QLabel(QStringLiteral("none"), this);
    ErrorsLabel->setWordWrap(true);
    form->addRow(QStringLiteral("File:"), FileLabel);
    form->addRow(QStringLiteral("Bytes:"), BytesLabel);
    form->addRow(QString(), Bar);
    form->addRow(QStringLiteral("Rate:"), RateLabel);
    form->addRow(QStringLiteral("Time left:"), TimeLabel);
    form->addRow(QStringLiteral("Errors:"), ErrorsLabel);
    ResultLabel = new QLabel(this);
    ResultLabel->setObjectName(QStringLiteral("ResultLabel"));
    ResultLabel->setWordWrap(true);
    ResultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ResultLabel->hide();
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    // Enter typed for the terminal must not stop a transfer.
    CancelButton->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(ResultLabel);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        if (FFinished)
            hide();
        else
            emit CancelRequested();
    });
}

void TTransferWindow::ShowProgress(const transfer::TProgress& Progress, std::optional<std::uint64_t> Total,
                                   std::int64_t ElapsedMs) {
    QString file = QString::fromUtf8(Progress.FileName.data(), int(Progress.FileName.size()));
    if (file.isEmpty()) file = QStringLiteral("(waiting)");
    if (Progress.FileCount > 1 || (Progress.FileCount == 0 && Progress.FileIndex > 0))
        file += Progress.FileCount
                    ? QStringLiteral("  (%1 of %2)").arg(Progress.FileIndex + 1).arg(Progress.FileCount)
                    : QStringLiteral("  (file %1)").arg(Progress.FileIndex + 1);
    FileLabel->setText(file);
    QString bytes = TransferBytes(Progress.FileDone);
    if (Progress.FileSize) bytes += QStringLiteral(" of ") + TransferBytes(*Progress.FileSize);
    if (Total && Progress.FileCount > 1)
        bytes += QStringLiteral("  (all files: %1 of %2)")
                     .arg(TransferBytes(Progress.TotalDone), TransferBytes(*Total));
    BytesLabel->setText(bytes);
    const std::uint64_t size = Progress.FileSize.value_or(0);
    Bar->setRange(0, size ? 1000 : 0); // busy indicator while the size is unknown
    if (size) Bar->setValue(int(std::min<std::uint64_t>(1000, Progress.FileDone * 1000 / size)));
    const double seconds = double(std::max<std::int64_t>(ElapsedMs, 1)) / 1000;
    const double rate = double(Progress.TotalDone) / seconds;
    RateLabel->setText(ElapsedMs < 500 ? QString()
                                       : TransferBytes(std::uint64_t(rate)) + QStringLiteral("/s"));
    // Over the whole batch when its size is known, else over this file.
    std::optional<std::uint64_t> left;
    if (Total && *Total >= Progress.TotalDone)
        left = *Total - Progress.TotalDone;
    else if (Progress.FileSize && *Progress.FileSize >= Progress.FileDone)
        left = *Progress.FileSize - Progress.FileDone;
    TimeLabel->setText(left && rate >= 1 && ElapsedMs >= 500
                           ? Duration(std::int64_t(double(*left) / rate + 0.5))
                           : QStringLiteral("-"));
    QString errors = Progress.Errors || Progress.Retries
                         ? QStringLiteral("%1 errors, %2 retries").arg(Progress.Errors).arg(Progress.Retries)
                         : QStringLiteral("none");
    if (!Progress.LastError.empty())
        errors += QStringLiteral(" (last: %1)").arg(QString::fromUtf8(Progress.LastError.c_str()));
    ErrorsLabel->setText(errors);
}

void TTransferWindow::ShowCancelling() {
    CancelButton->setEnabled(false);
    ResultLabel->setText(QStringLiteral("Cancelling: telling the other side to stop..."));
    ResultLabel->show();
}

void TTransferWindow::ShowResult(const QString& Text, bool Ok) {
    FFinished = true;
    if (Ok) {
        Bar->setRange(0, 1000);
        Bar->setValue(1000);
    } else if (Bar->maximum() == 0) {
        Bar->setRange(0, 1000);
    }
    TimeLabel->setText(QStringLiteral("-"));
    ResultLabel->setText(Text);
    ResultLabel->show();
    CancelButton->setText(QStringLiteral("Close"));
    CancelButton->setEnabled(true);
}

void TTransferWindow::closeEvent(QCloseEvent* Event) {
    // Closing the frame of a running transfer is the operator asking to stop it.
    if (!FFinished) {
        Event->ignore();
        emit CancelRequested();
        return;
    }
    QDialog::closeEvent(Event);
}

void TTransferWindow::reject() {
    if (!FFinished)
        emit CancelRequested();
    else
        QDialog::reject();
}

} // namespace qorvel
