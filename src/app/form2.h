#pragma once
// The serial settings dialog: six editable boxes whose texts the main window reads at every
// Connect. Closing the dialog applies nothing; only Save as Default stores the settings for the next run.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "app/settings_store.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace qorvel {

class TPortList;

// The six box texts as byte strings (Latin-1), ready for the serial component.
struct TSerialTexts {
    std::string Com;
    std::string Baudrate;
    std::string Bits;
    std::string Parity;
    std::string StopBits;
    std::string FlowControl;
};

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // Current texts of the boxes, whether or not the dialog is showing.
    QString ComText() const;
    QString BaudrateText() const;
    QString BitsText() const;
    QString ParityText() const;
    QString StopBitsText() const;
    QString FlowControlText() const;
    TSerialTexts Texts() const;

    // Lets a launcher point the program at a device before the start-up connect.
    void SetComText(const QString& text);

    // The "COM:" box offers the machine's ports after its fixed items, following the list's changes;
    // picking one puts its stable path in the box (form2_ports.cpp).
    void AttachPorts(TPortList* Ports);
    // "Reconnect automatically" (off by default).
    bool ReconnectAutomatically() const;
    // The "Terminal" page: the "Connected to" box (on by default), and how many rows the terminal
    // keeps above its screen while View > Scroll-back is on.
    bool ConfirmConnections() const;
    int ScrollBackRows() const;
    // "Character set": received text is UTF-8 rather than code page 437 (the default).
    bool Utf8() const;
    // "Start ZMODEM transfers the device begins" (on by default): the window then asks the operator.
    bool ZmodemAutoStart() const;
    static constexpr int kMinScrollBackRows = 1000;
    // The terminal holds 16,383 rows in all, the 25 on screen among them.
    static constexpr int kMaxScrollBackRows = 16000;
    static constexpr int kDefaultScrollBackRows = 10000;
    // The "Logging" page (form2_logging.cpp): a session log file for every connection (off by
    // default), its folder and name template, time stamps (off) and appending (on).
    bool LogEveryConnection() const;
    QString LogFolder() const;
    QString LogNameTemplate() const;
    bool LogTimeStamps() const;
    bool LogAppend() const;
    static QString DefaultLogFolder();
    static constexpr char kDefaultLogName[] = "%p-%Y%m%d-%H%M%S.log";

    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QComboBox* ComboBox1; // COM
    QComboBox* ComboBox2; // Baudrate
    QComboBox* ComboBox6; // Bits
    QComboBox* ComboBox3; // Parity
    QComboBox* ComboBox4; // Stop Bits
    QComboBox* ComboBox5; // Flow Control
    QPushButton* Button1; // Load Defaults
    QPushButton* Button2; // OK
    QPushButton* Button3; // Cancel
    QCheckBox* CheckBox1; // Reconnect automatically
    QWidget* TabSheet2;   // Terminal
    QCheckBox* CheckBox2; // Confirm connections with a message box
    QLabel* Label7;
    QSpinBox* SpinEdit1; // Scroll-back rows
    QLabel* Label10;
    QComboBox* ComboBox7; // Character set
    QCheckBox* CheckBox6; // Start ZMODEM transfers the device begins
    QWidget* TabSheet3;   // Logging
    QCheckBox* CheckBox3; // Log every connection to a file
    QLabel* Label8;
    QLineEdit* Edit1; // Folder
    QLabel* Label9;
    QLineEdit* Edit2;     // Name template
    QCheckBox* CheckBox4; // Time stamp each line
    QCheckBox* CheckBox5; // Append to an existing file

    // ---- Saved defaults and the port history (form2_settings.cpp)
    QPushButton* Button4; // Save as Default
    QPushButton* Button5; // Forget Defaults
    // What the dialog shows; the View members are left as Values has them.
    void GetValues(TSettingsValues& Values) const;
    void SetValues(const TSettingsValues& Values);
    // The default settings file from now on, and what it held at start-up (Load Defaults and Cancel
    // go back to that instead of the design values). Without a call no file is read or written.
    void UseSettingsFile(const QString& Path, const std::optional<TSettingsValues>& SavedDefault);
    const QString& SettingsFile() const { return FSettingsFile; }
    bool HasSavedDefault() const { return FSavedDefault.has_value(); }
    // Fills in the main window's View choices for Save as Default.
    std::function<void(TSettingsValues&)> OnViewChoices;
    // A Connect succeeded: the port goes first in the history of the "COM:" box.
    void PortConnected(const QString& Port);
    const QStringList& PortHistory() const { return FHistory; }
    // Save as Default and Forget Defaults without the question (Button4Click, Button5Click).
    void SaveDefault();
    void ForgetDefault();

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();

signals:
    // OK or the close box: what the dialog shows is the operator's choice (Cancel's defaults are not).
    void SettingsKept();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Grows the reference layout with the font (font_scale.h); nothing moves at the reference font.
    void ScaleLayout();
    void CreateReconnectBox();
    void CreateTerminalPage(); // form2_options.cpp
    void LoadTerminalDefaults();
    void CreateLoggingPage(); // form2_logging.cpp
    void LoadLoggingDefaults();
    void ShowPorts();
    void ComboBox1Picked(int Index);

    TPortList* FPorts = nullptr;
    void CreateDefaultButtons();
    QString FSettingsFile;
    std::optional<TSettingsValues> FSavedDefault;
    QStringList FHistory;
};

} // namespace qorvel
