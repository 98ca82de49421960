#pragma once
// The windows of a file transfer: the dialog that asks for the protocol and the files or the folder,
// and the progress window that shows a running transfer and cancels it.
#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

#include "transfer/transfer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace qorvel {

// Runs a modal dialog or question box of the transfer through the hook when one is set (tests
// answer there), otherwise with exec(). Returns the dialog's result.
int ExecTransferDialog(QDialog* Dialog);
std::function<int(QDialog*)> SetTransferDialogHook(std::function<int(QDialog*)> Hook);
// Centred over its owner window and kept on the owner's screen.
void CentreOverOwner(QDialog* Dialog);
// A Yes/No question over Parent; No is the default answer.
bool AskTransferQuestion(QWidget* Parent, const QString& Text, bool YesDefault = false);

// "Send File..." and "Receive File...": the protocol, then the files to send (one for XMODEM), the
// folder to save into (YMODEM, ZMODEM: the sender names the files) or the file to save as (XMODEM).
class TTransferDialog : public QDialog {
    Q_OBJECT
public:
    TTransferDialog(bool Sending, transfer::TProtocol Protocol, QWidget* Parent);
    transfer::TProtocol Protocol() const;
    void SetProtocol(transfer::TProtocol Protocol);
    QStringList Files() const;
    void SetFiles(const QStringList& Files);
    // The folder (batch protocols) or file name (XMODEM) to receive into.
    QString Target() const;
    void SetTarget(const QString& Target);
    // For a transfer the device began: the question on top, and the protocol fixed.
    void SetQuestion(const QString& Text);

    QComboBox* ProtocolBox;
    QListWidget* FileList = nullptr; // sending
    QLineEdit* TargetEdit = nullptr; // receiving
    QLabel* TargetLabel = nullptr;
    QLabel* Question;
    QLabel* Note;
    QPushButton* OkButton;

private:
    void Browse();
    void Check();
    bool FSending;
};

// Non-modal over the main window while a transfer runs; it stays open with the result afterwards.
class TTransferWindow : public QDialog {
    Q_OBJECT
public:
    TTransferWindow(const QString& Title, QWidget* Parent);
    // Total is the size of all files when known (sending); ElapsedMs since the start.
    void ShowProgress(const transfer::TProgress& Progress, std::optional<std::uint64_t> Total,
                      std::int64_t ElapsedMs);
    void ShowCancelling();
    // The transfer has ended: the text says how, the Cancel button becomes Close.
    void ShowResult(const QString& Text, bool Ok);
    bool Finished() const { return FFinished; }

    QLabel* FileLabel;
    QLabel* BytesLabel;
    QProgressBar* Bar;
    QLabel* RateLabel;
    QLabel* TimeLabel;
    QLabel* ErrorsLabel;
    QLabel* ResultLabel;
    QPushButton* CancelButton;

signals:
    void CancelRequested();

protected:
    void closeEvent(QCloseEvent* Event) override;
    void reject() override;

private:
    bool FFinished = false;
};

// "340 B", "12.5 KiB", "3.2 MiB".
QString TransferBytes(std::uint64_t Bytes);

} // namespace qorvel
