#pragma once
// The main window: script-file bar, script grid, terminal view, command line and buttons; the
// serial component COM, the 800 ms timer and the file dialogs.
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/font_scale.h"
#include "app/hex_dump.h"
#include "app/log_text.h"
#include "emulvt/utf8_decoder.h"
#include "platform/commapi.h"
#include "platform/ports.h"
#include "transfer/transfer.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTimer;

namespace qorvel {

class TCustomComm;
class TEmulVT;
class TForm2;
class TForm3;
class THexDumpView;
class TLogFiles;
class TPortList;
class TStringGrid;
class TTransferWindow;
namespace transfer {
class TFileHost;
}
struct TSettingsValues;
class TXComm;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Size of the client area below the menu bar: the 729 x 479 window of the reference layout less
    // its 4-pixel frame, 19-pixel caption and 19-pixel menu bar.
    static constexpr int kClientWidth = 721;
    static constexpr int kClientHeight = 433;
    static constexpr int kPanel1Height = 38;
    static constexpr int kGroupBox1Height = 132;
    static constexpr int kPanel2Height = 89;
    // Height of the controls' font at the reference desktop font.
    static constexpr int kFontPixels = 13;
    static constexpr int kHistoryLimit = 10;
    static constexpr int kTimerInterval = 800;

    // Devices are opened through Api (the system's serial ports unless a test passes another).
    explicit TForm1(platform::TCommApi& Api = platform::PosixCommApi(), QWidget* parent = nullptr);
    // The dialogs are created after the main window; it reads Form2 at Connect and shows both from
    // the menu. The program owns them; they stay over the main window as its dialogs.
    void AttachDialogs(TForm2* Settings, TForm3* About);
    ~TForm1() override;

    // Band and control layout for a client area of the given size (the window's central widget).
    void LayoutBands();

    // ---- Panel1: the script-file bar
    QFrame* Panel1;
    QLabel* Label3;
    QLineEdit* Edit2;
    QPushButton* Button7;
    QPushButton* Button8;
    QFrame* Panel3;
    QPushButton* Button6;
    QLabel* Label5;
    QSpinBox* SpinEdit1;
    QFrame* Bevel1;
    QProgressBar* Gauge;
    QPushButton* TimerButton;
    // ---- GroupBox2 "File"
    QGroupBox* GroupBox2;
    TStringGrid* Grid;
    // ---- GroupBox1 "Terminal"
    QGroupBox* GroupBox1;
    TEmulVT* Terminal2;
    // ---- Panel2: command line and buttons
    QFrame* Panel2;
    QComboBox* Edit1;
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3; // Hex
    QPushButton* Button5;
    QFrame* Panel4;
    QLabel* Label6;
    QComboBox* ComboBox4;
    QPushButton* Button4;
    QPushButton* Button1;
    QPushButton* Button3;
    QPushButton* Button9;
    QFrame* Bevel2;
    QComboBox* ComboBox3;
    QPushButton* Button10;
    QStatusBar* StatusBar1;
    // ---- MainMenu1
    QMenu* File1;
    QAction* OpenFile1;
    QAction* SaveLog1;
    QAction* N1;
    QAction* Exit1;
    QMenu* Settings1;
    QAction* Serial1;
    QMenu* Help1;
    QAction* Help2;
    QAction* About1;
    QAction* HelpInBrowser1; // the same page in the desktop's browser
    // ---- View menu (form1_view.cpp)
    QMenu* View1 = nullptr;
    QAction* FollowCursor1 = nullptr;
    QAction* ShowAllRows1 = nullptr;
    QMenu* TextSize1 = nullptr;
    // The grip on the border between the "File" and "Terminal" groups.
    QWidget* SplitHandle = nullptr;
    // Both off at start: no back rows, and keys typed in the terminal view go nowhere.
    QAction* ScrollBack1 = nullptr;
    QAction* KeysToDevice1 = nullptr;
    // The back rows kept while Scroll-back is on, held in the settings dialog's range.
    int ScrollBackRows() const { return FScrollBackRows; }
    void SetScrollBackRows(int Rows);

private:
    int FScrollBackRows = 10000;

public:
    // ---- Non-visual components
    std::unique_ptr<TXComm> COM;
    QTimer* Timer;
    // Made on first use: a file dialog starts reading its folder as soon as it exists, which in a
    // large start-up folder costs memory and processor time for a dialog that may never open.
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    QFileDialog* OpenDialog();
    QFileDialog* SaveDialog();
    // The log of received text (the hidden "Terminal" memo of the reference form).
    TLogText Terminal;
    // File > Log to File... and the session log files (log_files.cpp).
    TLogFiles* LogFiles = nullptr;

    TForm2* Form2() const { return FForm2; }
    TForm3* Form3() const { return FForm3; }
    std::int32_t LinesLeft() const { return FLinesLeft; }

    // Selects the script row and scrolls it to the top when it is out of view.
    void SelectGridRow(int Row);
    // The serial component's event loop ended on a failure: the device is lost. The window goes
    // to Disconnected and tells the operator; the log of what was received is kept for Save Log.
    void CommLoopFailed(const std::string& Message);

    // Height of the "Terminal" group that shows all rows of the view.
    int TerminalFullHeight() const;
    // Moves the border between the groups to client y (as a drag of the grip does).
    void DragSplit(int Y);
    void ShowAllRows();
    void SetTextSize(int CharWidth, int LineHeight);

    // ---- Saved defaults and sessions (form1_sessions.cpp)
    QAction* OpenSession1 = nullptr;
    QAction* SaveSessionAs1 = nullptr;
    // The View choices into Values, and back from them as the menu's items do.
    void GetViewChoices(TSettingsValues& Values) const;
    void SetViewChoices(const TSettingsValues& Values);
    // Puts Values in the settings dialog and the View menu and takes them as the dialog's OK does.
    void ApplySettings(const TSettingsValues& Values);
    // The session file ~/.config/qorvel/sessions/NAME.conf; ETextError says why not.
    void SaveSession(const QString& Name);
    void OpenSession(const QString& Name);
    // The title shows the session's name; an empty name leaves the program's own title.
    void SetSessionName(const QString& Name);
    const QString& SessionName() const { return FSessionName; }
    // A settings file ignored at start: said on stderr now and in the terminal when the window shows.
    void NoteIgnoredSettings(const QString& Text);
    const QStringList& SettingsNotices() const { return FSettingsNotices; }

private:
    void CreateSessionMenu();
    void SaveSessionAs1Click();
    void OpenSession1Click();
    void ShowSettingsNotices();
    QString FBaseTitle;
    QString FSessionName;
    QStringList FSettingsNotices;

public slots:
    void FormShow();
    void Exit1Click();
    void Button1Click();
    void Button5Click();
    void Button10Click();
    void ComData(TCustomComm* Sender, std::uint32_t Received);
    void Serial1Click();
    // Script sender (form1_script.cpp)
    void Button7Click();
    void Button8Click();
    void Button6Click();
    void TimerTimer();
    void TimerButtonClick();
    void SpinEdit1Change();
    void GridClick();
    void GridMouseDown();
    void GridSelectCell();
    void GridKeyPress(char& Key);
    // Prompt list, log, help and About (form1_tools.cpp)
    void Button4Click();
    void ComboBox4Change();
    void Button9Click();
    void Button3Click();
    void Help2Click();
    void HelpInBrowser1Click();
    void About1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreatePanel1();
    void CreateFileGroup();
    void CreateTerminalGroup();
    void CreatePanel2();
    void CreateMenu();
    void CreateComponents(platform::TCommApi& Api);
    // Grows the reference layout with the font (font_scale.h); nothing moves at the reference font.
    void ScaleLayout();
    void SetConnectedControls(bool Enabled);
    // The controls of the Disconnected state; whether the log goes too is the caller's choice.
    void Disconnect();
    void LoadPromptList(const std::string& FileName);
    // Opens the prompt gate when the prompt box is empty or the log text ends with its text.
    void PromptGate();
    // OpenDevice, with the reason in words an operator can act on below "Cannot open device".
    bool OpenPort();
    // Where typed text is meant to go: after start-up, Connect, Disconnect and the connect box.
    void FocusCommandLine();
    // The status bar's left part: port, line settings and what the window is doing.
    void ShowState();
    // The line's settings as the device holds them: "115200 8N1".
    std::string LineSettings() const;
    QLabel* FStateText = nullptr;
    int FReconnectAttempt = 0; // opens tried since the port was lost

public:
    // The Line menu, the line indicators and the byte counters (form1_line.cpp)
    QMenu* Line1 = nullptr;
    QAction* SendBreak1 = nullptr; // a 250 ms break, then the line is released
    QAction* DTR1 = nullptr;       // checkable: the output's present state
    QAction* RTS1 = nullptr;
    QAction* PulseDTR1 = nullptr; // the line changes for 100 ms and comes back
    QAction* PulseRTS1 = nullptr;
    QAction* ResetCounters1 = nullptr; // in the View menu

private:
    void CreateLineMenu();
    void CreateLineIndicators();
    void SetLineControls(bool Connected);
    // Lamps and the DTR/RTS items from the lines' present state.
    void ShowLines();
    void ShowCounters();
    void SendBreak1Click();
    void SetOutputLine(bool Dtr, bool On);
    void PulseLine(bool Dtr);
    // False for a refused line operation, told to the operator once per connection.
    bool LineDone(bool Ok, const char* What);
    std::array<QLabel*, 6> FLineLamps{};
    QLabel* FCounters = nullptr;
    QTimer* FCounterTimer = nullptr;
    bool FLineFailureShown = false;
    bool FBreakOn = false;
    // The help page in a window of the program's own, made at its first showing.
    QWidget* FHelpWindow = nullptr;
    QString HelpPage() const;

    TForm2* FForm2 = nullptr;
    TForm3* FForm3 = nullptr;
    std::int32_t FLinesLeft = 0;
    bool FShown = false;
    TLayoutScale FScale;
    // Reused by ComData for every batch, so a flood does not allocate and clear per batch.
    std::string FReceived;
    std::string FExpanded;
    // "Character set" (form1_charset.cpp): in UTF-8 mode received text is decoded for the view
    // (the log keeps the bytes) and typed text goes out as UTF-8. Connecting starts a new decode.
    void ReadCharacterSet(bool Connecting);
    std::string TypedBytes(const QString& Line) const;
    QString TypedText(const std::string& Bytes) const;
    bool FUtf8 = false;
    TUtf8Decoder FUtf8Decoder;
    std::string FDecoded;

    void CreateViewMenu();
    // Lays out the two groups between client y Top and Bottom: the terminal keeps its height
    // until the border is moved, after that the grid keeps its height.
    void LayoutMiddle(int Top, int Bottom);
    bool FSplitMoved = false;
    int FGridHeight = 0;

    // The dialog's chosen file name, with its default suffix added to a name without one.
    std::optional<QString> ExecFileDialog(QFileDialog* Dialog);
    // Ends a running batch: nothing more is sent and the progress bar and "Break" are hidden.
    void EndBatch();
    // The machine's ports and reconnecting (form1_reconnect.cpp)
public:
    // Follows ports coming and going, to reconnect when a lost port's device comes back.
    void AttachPorts(TPortList* Ports);
    // The port waited for after a loss, empty while not waiting.
    const std::string& ReconnectPath() const { return FReconnectPath; }
    // The first pause before trying a lost port again; it doubles up to kMaxRetryDelay.
    void SetFirstRetryDelay(std::chrono::milliseconds Delay) { FFirstRetryDelay = Delay; }
    static constexpr std::chrono::milliseconds kFirstRetryDelay{1000};
    static constexpr std::chrono::milliseconds kMaxRetryDelay{30000};

private:
    // Notes the connected port: its name and the device's identity, by which it is known again.
    void RememberPort();
    // With "Reconnect automatically" on: go to Disconnected keeping the log, say so in the terminal
    // and wait for the port. False when reconnecting is off.
    bool WaitForPort(const std::string& Reason);
    void PortAdded(const platform::TPortInfo& Port);
    void RetryPort();
    // Opens Name with the connection's settings; on success the wait is over.
    bool Reopen(const std::string& Name, const std::string& Shown, std::string& Failure);
    void RetryLater();
    void StopReconnect();
    void SettingsKept();
    // One line in the terminal, in a colour of its own; not part of the log text.
    void WriteNotice(const std::string& Text);

    TPortList* FPorts = nullptr;
    // The connected port as the list showed it; without an identity only its name is known.
    platform::TPortInfo FPort;
    std::string FReconnectPath;
    QTimer* FRetryTimer = nullptr;
    std::chrono::milliseconds FFirstRetryDelay = kFirstRetryDelay;
    std::chrono::milliseconds FRetryDelay{};

    // View > Hex Dump (form1_hexdump.cpp): the received bytes as a hex dump in place of Terminal2.
public:
    QAction* HexDump1 = nullptr;
    THexDumpView* HexDumpView = nullptr;
    // Every byte since Connect or Clear Terminal, up to ScrollBackRows() rows.
    THexDump HexDump;

private:
    void CreateHexDump();
    void ShowHexDump(bool On);
    void HexDumpReceived(std::string_view Block);
    void ClearHexDump();
    bool FHexDumpStampsWired = false;

    // The Transfer menu, dropped files and ZMODEM started by the device (form1_transfer.cpp)
public:
    QMenu* Transfer1 = nullptr;
    QAction* SendFile1 = nullptr;
    QAction* ReceiveFile1 = nullptr;
    // The progress window of the running or the last transfer.
    TTransferWindow* TransferWindow = nullptr;
    // The protocol preselected in the dialogs and used for dropped files: the last one used.
    transfer::TProtocol TransferProtocol() const;
    void SetTransferProtocol(transfer::TProtocol Protocol);
    bool TransferRunning() const;
    // What Send File... and Receive File... do after their dialog: Target is the folder (YMODEM,
    // ZMODEM) or the file (XMODEM). False, told in a box, when the transfer cannot start.
    bool StartSend(transfer::TProtocol Protocol, const QStringList& Files);
    bool StartReceive(transfer::TProtocol Protocol, const QString& Target);
    // Files dropped on the terminal view: confirmed, then sent with the last protocol.
    void SendDropped(const QStringList& Files);
    void CancelTransfer();

private:
    struct TTransferState;
    void CreateTransferMenu();
    void SendFile1Click();
    void ReceiveFile1Click();
    // Enables the menu for a connected port and not during a transfer.
    void SetTransferControls(bool Connected);
    void HoldSenders(bool Hold);
    // Called by ComData with each raw batch: true when a transfer (or a question about one) took it.
    bool TransferTakes(std::string_view Block);
    // The normal path of received bytes: log, terminal view, prompt gate.
    void ShowReceived(std::string_view Block);
    bool BeginTransfer(transfer::TProtocol Protocol, bool Sending, std::unique_ptr<transfer::TFileHost> Host,
                       std::unique_ptr<transfer::TTransfer> Engine, std::optional<std::uint64_t> Total);
    void PumpTransfer();
    void EndTransfer(const QString& Failure, bool EngineEnded);
    void AskZmodemReceive();
    void OfferZmodemSend();
    void TransferPortClosed();
    // Shared so the header needs no complete type; owned by the window alone.
    std::shared_ptr<TTransferState> FTransferState;
};

} // namespace qorvel
