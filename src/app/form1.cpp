#include "app/form1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "app/accessible_names.h"
#include "app/application.h"
#include "app/desktop.h"
#include "app/font_scale.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/log_files.h"
#include "app/open_failure.h"
#include "app/string_grid.h"
#include "app/text_file.h"
#include "emulvt/emul_vt.h"
#include "serial/xcomm.h"

namespace qorvel {

namespace {

constexpr char kPromptFile[] = "prompt.txt";
constexpr char kConnectCaption[] = "Connect";
constexpr char kDisconnectCaption[] = "Disconnect";

enum class TAnchor { Left, Right, Stretch };

// A panel whose children keep their distances to the edges named by their anchors, measured against
// the panel's width in the reference layout.
class TAnchorPanel : public QFrame {
public:
    TAnchorPanel(int DesignWidth, QWidget* parent) : QFrame(parent), FDesignWidth(DesignWidth) {}

    template <typename W> W* Place(W* Widget, int Left, int Top, int Width, int Height, TAnchor Anchor) {
        Widget->setGeometry(FScale(QRect(Left, Top, Width, Height)));
        FAnchored.push_back({Widget, QRect(Left, Top, Width, Height), Anchor});
        return Widget;
    }

    // The design is kept at the reference font; the children are placed at Scale of it.
    void SetScale(const TLayoutScale& Scale) {
        FScale = Scale;
        Arrange(FScale(FDesignWidth));
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QFrame::resizeEvent(event);
        Arrange(width());
    }

private:
    void Arrange(int Width) {
        const int grow = Width - FScale(FDesignWidth);
        for (const Anchored& a : FAnchored) {
            QRect r = FScale(a.Design);
            if (a.Anchor == TAnchor::Right)
                r.translate(grow, 0);
            else if (a.Anchor == TAnchor::Stretch)
                r.setWidth(std::max(r.width() + grow, 0));
            // A label is as large as its text.
            if (auto* label = qobject_cast<QLabel*>(a.Widget)) r.setSize(label->sizeHint());
            a.Widget->setGeometry(r);
        }
    }

    struct Anchored {
        QWidget* Widget;
        QRect Design;
        TAnchor Anchor;
    };
    int FDesignWidth;
    TLayoutScale FScale;
    std::vector<Anchored> FAnchored;
};

// The central widget hands its resizes to the form, which lays out the four bands.
class TBands : public QWidget {
public:
    TBands(std::function<void()> OnResize, QWidget* parent)
        : QWidget(parent), FOnResize(std::move(OnResize)) {}

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        FOnResize();
    }

private:
    std::function<void()> FOnResize;
};

TAnchorPanel* NewPanel(QWidget* parent, int DesignWidth) {
    auto* panel = new TAnchorPanel(DesignWidth, parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QFrame* NewBevel(QWidget* parent) {
    auto* bevel = new QFrame(parent);
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel->setLineWidth(1);
    return bevel;
}

// A handler of the window as a slot that shows the error box for whatever the handler raises, so
// no exception unwinds through the toolkit's button, menu and timer code that called it.
template <typename... Args> auto Slot(TForm1* Form, void (TForm1::*Handler)(Args...)) {
    return Guarded([Form, Handler](Args... Arguments) { (Form->*Handler)(Arguments...); });
}

template <typename W> W* Named(W* Widget, const char* Name) {
    Widget->setObjectName(QString::fromLatin1(Name));
    return Widget;
}

// Line feeds become CR LF; every other byte goes as it is.
void AppendExpanded(std::string& To, std::string_view Text) {
    while (!Text.empty()) {
        const void* lf = std::memchr(Text.data(), '\n', Text.size());
        const std::size_t run = lf ? std::size_t(static_cast<const char*>(lf) - Text.data()) : Text.size();
        To.append(Text.data(), run);
        if (!lf) break;
        To.append("\r\n", 2);
        Text.remove_prefix(run + 1);
    }
}

} // namespace

TForm1::TForm1(platform::TCommApi& Api, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Qorvel Terminal"));
    // System menu and minimise only: no maximise button, but the frame stays resizable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(WindowFont(QApplication::font(), kFontPixels));

    setCentralWidget(new TBands([this] { LayoutBands(); }, this));
    CreatePanel1();
    CreateFileGroup();
    CreateTerminalGroup();
    CreatePanel2();
    CreateMenu();
    LogFiles = new TLogFiles(this, File1, N1);
    CreateSessionMenu();
    CreateViewMenu();
    CreateComponents(Api);
    CreateLineIndicators();
    CreateLineMenu();
    CreateTransferMenu();
    ShowState();
    ScaleLayout();

    const int menuHeight = menuBar()->sizeHint().height();
    const QSize client = FScale(QSize(kClientWidth, kClientHeight));
    setMinimumSize(client.width(), client.height() + menuHeight);
    resize(client.width(), client.height() + menuHeight);
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() -
             QPoint(client.width() / 2, (client.height() + menuHeight) / 2));
    LayoutBands();
    NameControlsForAccessibility(this);
}

void TForm1::AttachDialogs(TForm2* Settings, TForm3* About) {
    FForm2 = Settings;
    FForm3 = About;
    // Owned by the main window, a dialog stays over it and has no task-bar entry of its own.
    for (QDialog* dialog : std::initializer_list<QDialog*>{Settings, About})
        if (dialog) dialog->setParent(this, dialog->windowFlags());
    if (!Settings) return;
    LogFiles->AttachSettings(Settings);
    Settings->OnViewChoices = [this](TSettingsValues& Values) { GetViewChoices(Values); };
    SetScrollBackRows(Settings->ScrollBackRows());
    ReadCharacterSet(true);
    connect(Settings, &TForm2::SettingsKept, this, [this] {
        SetScrollBackRows(FForm2->ScrollBackRows());
        ReadCharacterSet(false);
    });
}

TForm1::~TForm1() {
    // Closing the port first: its event thread may still deliver a batch to ComData while it ends.
    COM.reset();
    // The dialogs belong to the program, which destroys them itself.
    for (QDialog* dialog : std::initializer_list<QDialog*>{FForm2, FForm3})
        if (dialog && dialog->parent() == this) dialog->setParent(nullptr, dialog->windowFlags());
}

void TForm1::CreatePanel1() {
    QWidget* client = centralWidget();
    auto* panel = NewPanel(client, kClientWidth);
    Panel1 = Named(panel, "Panel1");
    Label3 = Named(panel->Place(new QLabel(QStringLiteral("File:"), panel), 8, 13, 24, 13, TAnchor::Left),
                   "Label3");
    Edit2 = Named(panel->Place(new QLineEdit(panel), 40, 9, 132, 24, TAnchor::Stretch), "Edit2");
    Button7 =
        Named(panel->Place(new QPushButton(QStringLiteral("..."), panel), 175, 9, 33, 25, TAnchor::Right),
              "Button7");
    Button8 = Named(
        panel->Place(new QPushButton(QStringLiteral("Send ALL"), panel), 213, 9, 81, 25, TAnchor::Right),
        "Button8");
    // The frame goes first so that the button and the spin box placed over it stay on top.
    Panel3 = Named(panel->Place(new QFrame(panel), 297, 6, 170, 32, TAnchor::Right), "Panel3");
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Label5 = Named(new QLabel(QStringLiteral("Lines"), Panel3), "Label5");
    Label5->move(85, 8);
    Label5->adjustSize();
    Button6 = Named(
        panel->Place(new QPushButton(QStringLiteral("Send Next"), panel), 300, 9, 78, 25, TAnchor::Right),
        "Button6");
    // 4 pixels right of the design's 415 so that the "Lines" label ends 3 pixels before the box.
    SpinEdit1 = Named(panel->Place(new QSpinBox(panel), 419, 9, 46, 26, TAnchor::Right), "SpinEdit1");
    SpinEdit1->setRange(INT_MIN, INT_MAX);
    SpinEdit1->setValue(0);
    Bevel1 = Named(panel->Place(NewBevel(panel), 470, 8, 248, 29, TAnchor::Right), "Bevel1");
    Gauge = Named(panel->Place(new QProgressBar(panel), 474, 11, 146, 23, TAnchor::Right), "Gauge");
    Gauge->setRange(0, 100);
    Gauge->setValue(0);
    Gauge->setTextVisible(true);
    Gauge->setAlignment(Qt::AlignCenter);
    Gauge->setStyleSheet(QStringLiteral("QProgressBar { border: none; background: white; color: black; }"
                                        "QProgressBar::chunk { background: navy; }"));
    TimerButton =
        Named(panel->Place(new QPushButton(QStringLiteral("Break"), panel), 626, 11, 82, 25, TAnchor::Right),
              "TimerButton");

    for (QWidget* w :
         {static_cast<QWidget*>(Button7), static_cast<QWidget*>(Button8), static_cast<QWidget*>(Button6),
          static_cast<QWidget*>(Label5), static_cast<QWidget*>(SpinEdit1)})
        w->setEnabled(false);
    Gauge->hide();
    TimerButton->hide();

    connect(Button7, &QPushButton::clicked, this, Slot(this, &TForm1::Button7Click));
    connect(Button8, &QPushButton::clicked, this, Slot(this, &TForm1::Button8Click));
    connect(Button6, &QPushButton::clicked, this, Slot(this, &TForm1::Button6Click));
    connect(TimerButton, &QPushButton::clicked, this, Slot(this, &TForm1::TimerButtonClick));
    connect(SpinEdit1, &QSpinBox::valueChanged, this, Slot(this, &TForm1::SpinEdit1Change));
}

void TForm1::CreateFileGroup() {
    GroupBox2 = Named(new QGroupBox(QStringLiteral("File"), centralWidget()), "GroupBox2");
    Grid = Named(new TStringGrid(GroupBox2), "Grid");
    Grid->SetRowCount(7);
    Grid->SetColWidth(0, 38);
    Grid->SetColWidth(1, 980);
    Grid->setEnabled(false);
    connect(Grid, &QTableWidget::cellClicked, this, Slot(this, &TForm1::GridClick));
    connect(Grid, &QTableWidget::cellDoubleClicked, this, Slot(this, &TForm1::GridClick));
    connect(Grid, &TStringGrid::MouseDown, this, Slot(this, &TForm1::GridMouseDown));
    connect(Grid, &QTableWidget::currentCellChanged, this, Slot(this, &TForm1::GridSelectCell));
    connect(Grid, &TStringGrid::KeyPress, this, Slot(this, &TForm1::GridKeyPress));
}

void TForm1::CreateTerminalGroup() {
    GroupBox1 = Named(new QGroupBox(QStringLiteral("Terminal"), centralWidget()), "GroupBox1");
    Terminal2 = Named(new TEmulVT(GroupBox1), "Terminal2");
    Terminal2->SetBorderStyle(TBorderStyle::bsSingle);
    Terminal2->SetAutoRepaint(true);
    QFont terminalFont(QStringLiteral("Terminal"));
    terminalFont.setStyleHint(QFont::TypeWriter);
    terminalFont.setPixelSize(16);
    Terminal2->SetFont(terminalFont);
    Terminal2->SetLocalEcho(false);
    Terminal2->SetAutoLF(false);
    Terminal2->SetAutoCR(false);
    Terminal2->SetXlat(true);
    Terminal2->SetMonoChrome(false);
    Terminal2->SetLog(false);
    Terminal2->SetRows(25);
    Terminal2->SetCols(132);
    Terminal2->SetBackRows(0);
    Terminal2->SetBackColor(TBackColors::vtsWhite);
    Terminal2->SetOptions(TScreenOptions{vtoBackColor});
    Terminal2->SetLineHeight(12);
    Terminal2->SetCharWidth(5);
    Terminal2->SetFKeys(1);
    Terminal2->SetTopMargin(4);
    Terminal2->SetLeftMargin(6);
    Terminal2->SetRightMargin(6);
    Terminal2->SetBottomMargin(4);
    Terminal2->SetMarginColor(0);
}

void TForm1::CreatePanel2() {
    auto* panel = NewPanel(centralWidget(), kClientWidth);
    Panel2 = Named(panel, "Panel2");
    Edit1 = Named(panel->Place(new QComboBox(panel), 7, 6, 540, 24, TAnchor::Stretch), "Edit1");
    Edit1->setEditable(true);
    KeepTypedText(Edit1);
    // The history is kept by Send alone; the combo box must not add typed lines by itself.
    Edit1->setInsertPolicy(QComboBox::NoInsert);
    Edit1->setDuplicatesEnabled(true);
    // Every script row passes through the command line, and lines have no length limit.
    Edit1->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    CheckBox2 =
        Named(panel->Place(new QCheckBox(QStringLiteral("LF"), panel), 602, 9, 41, 17, TAnchor::Right),
              "CheckBox2");
    CheckBox2->setChecked(true);
    // Off at start: the command line is text. On, it takes hex bytes and sends exactly those.
    CheckBox3 =
        Named(panel->Place(new QCheckBox(QStringLiteral("Hex"), panel), 553, 9, 47, 17, TAnchor::Right),
              "CheckBox3");
    Button5 =
        Named(panel->Place(new QPushButton(QStringLiteral("Send"), panel), 642, 5, 73, 25, TAnchor::Right),
              "Button5");
    Button5->setDefault(true);
    Button5->setEnabled(false);

    Panel4 = Named(panel->Place(new QFrame(panel), 7, 36, 272, 31, TAnchor::Left), "Panel4");
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Label6 = Named(new QLabel(QStringLiteral("Prompt:"), Panel4), "Label6");
    Label6->move(5, 8);
    Label6->adjustSize();
    Label6->setEnabled(false);
    ComboBox4 = Named(new QComboBox(Panel4), "ComboBox4");
    // 5 pixels right of the design's 54 so that the "Prompt:" label ends 3 pixels before the box.
    ComboBox4->setGeometry(59, 4, 171, 24);
    ComboBox4->setEditable(true);
    KeepTypedText(ComboBox4);
    ComboBox4->setInsertPolicy(QComboBox::NoInsert);
    ComboBox4->setDuplicatesEnabled(true);
    ComboBox4->addItems({QString(), QStringLiteral("QLX7400>")});
    ComboBox4->setCurrentIndex(-1);
    ComboBox4->setEditText(QString());
    ComboBox4->setEnabled(false);
    Button4 = Named(new QPushButton(QStringLiteral("..."), Panel4), "Button4");
    Button4->setGeometry(233, 5, 34, 22);

    Button1 = Named(panel->Place(new QPushButton(QString::fromLatin1(kConnectCaption), panel), 283, 39, 82,
                                 25, TAnchor::Left),
                    "Button1");
    Button3 = Named(panel->Place(new QPushButton(QStringLiteral("Clear Terminal"), panel), 370, 39, 97, 25,
                                 TAnchor::Left),
                    "Button3");
    Button9 = Named(
        panel->Place(new QPushButton(QStringLiteral("Save Log"), panel), 472, 39, 81, 25, TAnchor::Left),
        "Button9");
    Bevel2 = Named(panel->Place(NewBevel(panel), 560, 33, 156, 35, TAnchor::Right), "Bevel2");
    // 6 pixels wider than the design's 58 (3 on either side) so that "Ctrl-C" is not clipped.
    ComboBox3 = Named(panel->Place(new QComboBox(panel), 564, 38, 64, 24, TAnchor::Right), "ComboBox3");
    ComboBox3->setEditable(true);
    KeepTypedText(ComboBox3);
    ComboBox3->setInsertPolicy(QComboBox::NoInsert);
    ComboBox3->addItems({QStringLiteral("Ctrl-Y"), QStringLiteral("Ctrl-Z"), QStringLiteral("Ctrl-C"),
                         QStringLiteral("Ctrl-R")});
    ComboBox3->setCurrentIndex(0);
    Button10 = Named(
        panel->Place(new QPushButton(QStringLiteral("Send Code"), panel), 631, 38, 79, 25, TAnchor::Right),
        "Button10");
    Button10->setEnabled(false);
    StatusBar1 = Named(panel->Place(new QStatusBar(panel), 1, 69, 719, 19, TAnchor::Stretch), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    FStateText = Named(new QLabel(StatusBar1), "StateText");
    StatusBar1->addWidget(FStateText, 1);

    connect(Button5, &QPushButton::clicked, this, Slot(this, &TForm1::Button5Click));
    connect(Button10, &QPushButton::clicked, this, Slot(this, &TForm1::Button10Click));
    connect(Button1, &QPushButton::clicked, this, Slot(this, &TForm1::Button1Click));
    connect(Button3, &QPushButton::clicked, this, Slot(this, &TForm1::Button3Click));
    connect(Button9, &QPushButton::clicked, this, Slot(this, &TForm1::Button9Click));
    connect(Button4, &QPushButton::clicked, this, Slot(this, &TForm1::Button4Click));
    // Only the operator's edits and picks count as a change of the prompt, not the program's.
    connect(ComboBox4, &QComboBox::textActivated, this, Slot(this, &TForm1::ComboBox4Change));
    connect(ComboBox4->lineEdit(), &QLineEdit::textEdited, this, Slot(this, &TForm1::ComboBox4Change));
}

void TForm1::CreateMenu() {
    File1 = Named(menuBar()->addMenu(QStringLiteral("&File")), "File1");
    OpenFile1 = Named(File1->addAction(QStringLiteral("Open File")), "OpenFile1");
    OpenFile1->setEnabled(false);
    SaveLog1 = Named(File1->addAction(QStringLiteral("Save Log")), "SaveLog1");
    N1 = Named(File1->addSeparator(), "N1");
    Exit1 = Named(File1->addAction(QStringLiteral("Exit")), "Exit1");
    Settings1 = Named(menuBar()->addMenu(QStringLiteral("&Settings")), "Settings1");
    Serial1 = Named(Settings1->addAction(QStringLiteral("Serial")), "Serial1");
    Help1 = Named(menuBar()->addMenu(QStringLiteral("&Help")), "Help1");
    Help2 = Named(Help1->addAction(QStringLiteral("Help")), "Help2");
    HelpInBrowser1 = Named(Help1->addAction(QStringLiteral("Help in Browser")), "HelpInBrowser1");
    About1 = Named(Help1->addAction(QStringLiteral("About")), "About1");

    connect(OpenFile1, &QAction::triggered, this, Slot(this, &TForm1::Button7Click));
    connect(SaveLog1, &QAction::triggered, this, Slot(this, &TForm1::Button9Click));
    connect(Exit1, &QAction::triggered, this, Slot(this, &TForm1::Exit1Click));
    connect(Serial1, &QAction::triggered, this, Slot(this, &TForm1::Serial1Click));
    connect(Help2, &QAction::triggered, this, Slot(this, &TForm1::Help2Click));
    connect(HelpInBrowser1, &QAction::triggered, this, Slot(this, &TForm1::HelpInBrowser1Click));
    connect(About1, &QAction::triggered, this, Slot(this, &TForm1::About1Click));
}

void TForm1::CreateComponents(platform::TCommApi& Api) {
    COM = std::make_unique<TXComm>(Api);
    COM->SetDeviceName("COM2");
    COM->SetBaudRate(TBaudRate::br9600);
    COM->DataControl().SetDataBits(TDataBits::db8);
    COM->DataControl().SetParity(TParity::paNone);
    COM->DataControl().SetStopBits(TStopBits::sb1);
    COM->SetFlowControl(TFlowControl::fcNone);
    COM->Buffers().SetInputSize(2048);
    COM->Buffers().SetOutputSize(2048);
    COM->Buffers().SetInputTimeout(500);
    COM->Buffers().SetOutputTimeout(200);
    COM->EventChars().SetXonChar(0x11);
    COM->EventChars().SetXoffChar(0x13);
    COM->EventChars().SetEofChar(0);
    COM->EventChars().SetErrorChar(0);
    COM->EventChars().SetEventChar(0x0A);
    COM->SetMonitorEvents(TDeviceEvents{TDeviceEvent::deChar, TDeviceEvent::deFlag, TDeviceEvent::deOutEmpty,
                                        TDeviceEvent::deCTS, TDeviceEvent::deDSR, TDeviceEvent::deRLSD,
                                        TDeviceEvent::deRing});
    // Only the modem lines' changes are of interest here: data batches and sends also come through,
    // and must not cost a modem-status query each.
    COM->SetOnCommEvent([this](TCustomComm*, TDeviceEvents Events) {
        const TDeviceEvents lines{TDeviceEvent::deCTS, TDeviceEvent::deDSR, TDeviceEvent::deRLSD,
                                  TDeviceEvent::deRing};
        if (!(Events * lines).Empty()) ShowLines();
    });
    COM->SetSynchronize(true);
    COM->Timeouts().SetReadInterval(1);
    COM->Timeouts().SetReadMultiplier(0);
    COM->Timeouts().SetReadConstant(1);
    COM->Timeouts().SetWriteMultiplier(0);
    COM->Timeouts().SetWriteConstant(1);
    COM->SetOnData([this](TCustomComm* Sender, std::uint32_t Received) { ComData(Sender, Received); });
    COM->SetOnEventLoopFailed([this](TCustomComm*, const std::string& Reason) {
        // Raised on the event thread, which CloseDevice waits for: the main thread takes it from here.
        QMetaObject::invokeMethod(this, Guarded([this, Reason] { CommLoopFailed(Reason); }),
                                  Qt::QueuedConnection);
    });

    Timer = Named(new QTimer(this), "Timer");
    Timer->setInterval(kTimerInterval);
    connect(Timer, &QTimer::timeout, this, Slot(this, &TForm1::TimerTimer));
    Timer->start();
}

// Both start in the folder the program was started in.
QFileDialog* TForm1::OpenDialog() {
    if (!OpenDialog1) {
        OpenDialog1 = Named(new QFileDialog(this, {}, QDir::currentPath()), "OpenDialog1");
        OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    }
    return OpenDialog1;
}

QFileDialog* TForm1::SaveDialog() {
    if (!SaveDialog1) {
        SaveDialog1 = Named(new QFileDialog(this, {}, QDir::currentPath()), "SaveDialog1");
        SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog1->setDefaultSuffix(QStringLiteral("log"));
        SaveDialog1->setNameFilters(
            {QStringLiteral("Log File (*.log)"), QStringLiteral("Text File (*.txt)"), QStringLiteral("*.* (*)")});
    }
    return SaveDialog1;
}

void TForm1::ScaleLayout() {
    FScale = TLayoutScale::Of(this, kFontPixels);
    for (QFrame* panel : {Panel1, Panel2})
        static_cast<TAnchorPanel*>(panel)->SetScale(FScale);
    for (QFrame* panel : {Panel3, Panel4})
        FScale.ScaleChildren(panel);
}

void TForm1::LayoutBands() {
    QWidget* client = centralWidget();
    if (!client || !Panel2) return;
    const int w = client->width();
    const int h = client->height();
    const int panel1Height = FScale(kPanel1Height);
    const int panel2Height = FScale(kPanel2Height);
    const int bottom = h - panel2Height;
    Panel1->setGeometry(0, 0, w, panel1Height);
    Panel2->setGeometry(0, bottom, w, panel2Height);
    LayoutMiddle(panel1Height, bottom);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    LayoutBands();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FShown) return;
    FShown = true;
    // Queued so the window is on the screen when a box of the start-up shows over it; the queued call
    // still runs before any input of the operator.
    QMetaObject::invokeMethod(this, Slot(this, &TForm1::FormShow), Qt::QueuedConnection);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    // Enter that no control took for itself goes to the default button, which acts only when enabled.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        QWidget* focus = QApplication::focusWidget();
        if (focus && (focus == Grid || Grid->isAncestorOf(focus))) {
            event->ignore();
            return;
        }
        if (auto* button = qobject_cast<QPushButton*>(focus); button && button->isEnabled())
            button->click();
        else if (Button5->isEnabled() && Button5->isVisible())
            Button5->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

// ---- Start-up and Exit

void TForm1::FormShow() {
    FocusCommandLine();
    Terminal2->ClearScreen();
    Terminal2->SetMonoChrome(false);
    ShowSettingsNotices();
    if (QFileInfo::exists(QString::fromLatin1(kPromptFile))) LoadPromptList(kPromptFile);
    Button1Click();
}

void TForm1::LoadPromptList(const std::string& FileName) {
    ComboBox4->clear();
    ComboBox4->setEditText(QString());
    ForEachTextLine(FileName, [this](std::string_view Line) { ComboBox4->addItem(FromBytes(Line)); });
    // Adding to an empty list makes its first item current; the prompt in force stays empty.
    ComboBox4->setCurrentIndex(-1);
    ComboBox4->setEditText(QString());
}

void TForm1::Exit1Click() {
    QApplication::quit();
}

void TForm1::Serial1Click() {
    FForm2->exec();
}

// ---- Connect / Disconnect

void TForm1::SetConnectedControls(bool Enabled) {
    OpenFile1->setEnabled(Enabled);
    for (QWidget* w : std::initializer_list<QWidget*>{Button5, Button7, Button8, Button6, Button10, Label5,
                                                      Label6, SpinEdit1, ComboBox3, ComboBox4, Grid})
        w->setEnabled(Enabled);
    SetLineControls(Enabled);
    SetTransferControls(Enabled);
}

void TForm1::Button1Click() {
    // The operator's own Connect or Disconnect ends any wait for a lost port.
    StopReconnect();
    if (Button1->text() == QString::fromLatin1(kConnectCaption)) {
        const TSerialTexts texts = FForm2->Texts();
        ReadCharacterSet(true);
        COM->SetDeviceName(texts.Com);
        COM->SetBaudRate(TBaudRate::brCustom);
        COM->SetBaudValue(static_cast<std::uint32_t>(StrToInt(texts.Baudrate)));
        if (texts.Bits == "8")
            COM->DataControl().SetDataBits(TDataBits::db8);
        else if (texts.Bits == "7")
            COM->DataControl().SetDataBits(TDataBits::db7);
        else if (texts.Bits == "6")
            COM->DataControl().SetDataBits(TDataBits::db6);
        else if (texts.Bits == "5")
            COM->DataControl().SetDataBits(TDataBits::db5);
        if (texts.Parity == "None")
            COM->DataControl().SetParity(TParity::paNone);
        else if (texts.Parity == "Even")
            COM->DataControl().SetParity(TParity::paEven);
        else if (texts.Parity == "Odd")
            COM->DataControl().SetParity(TParity::paOdd);
        if (texts.StopBits == "1")
            COM->DataControl().SetStopBits(TStopBits::sb1);
        else if (texts.StopBits == "2")
            COM->DataControl().SetStopBits(TStopBits::sb2);
        if (texts.FlowControl == "None")
            COM->SetFlowControl(TFlowControl::fcNone);
        else if (texts.FlowControl == "Software (Xon/Xoff)")
            COM->SetFlowControl(TFlowControl::fcSoftware);
        else if (texts.FlowControl == "Hardware (Rts/Cts)")
            COM->SetFlowControl(TFlowControl::fcRtsCts);
        if (OpenPort()) {
            ClearHexDump();
            RememberPort();
            FForm2->PortConnected(FromBytes(texts.Com));
            LogFiles->Connected(COM->DeviceName(), LineSettings());
            Button1->setText(QString::fromLatin1(kDisconnectCaption));
            ShowState();
            // Without the box, the status bar alone says so.
            if (FForm2->ConfirmConnections())
                ShowMessageBox(TMessageKind::Plain, "Connected to " + texts.Com, this);
            // The device may have been lost while the box was open; the controls follow the port.
            SetConnectedControls(COM->Opened());
            ShowState();
            FocusCommandLine();
        }
    } else {
        Button1->setText(QString::fromLatin1(kConnectCaption));
        COM->CloseDevice();
        LogFiles->Disconnected();
        Disconnect();
        Terminal.Clear();
        FocusCommandLine();
    }
}

bool TForm1::OpenPort() {
    try {
        return COM->OpenDevice();
    } catch (const EDeviceError& e) {
        if (e.ErrorCode() != kErrCannotOpen) throw;
        const int error = platform::GetLastError();
        throw EDeviceError(std::string(e.what()) + ".\n" + OpenFailureReason(error, COM->DeviceName()),
                           e.ErrorCode());
    }
}

void TForm1::FocusCommandLine() {
    Edit1->setFocus(Qt::OtherFocusReason);
    // After a box closes, a desktop without a window manager leaves no window active, and shortcuts
    // (Alt+F ...) then go nowhere while typed text still arrives.
    if (isVisible() && !isActiveWindow()) activateWindow();
}

void TForm1::ShowState() {
    if (!FStateText || !COM) return;
    QString text;
    if (!COM->Opened()) {
        text = FReconnectPath.empty() ? QStringLiteral("Disconnected")
                                      : QStringLiteral("%1  Reconnecting (attempt %2)")
                                            .arg(FromBytes(FReconnectPath))
                                            .arg(FReconnectAttempt + 1);
    } else {
        text = FromBytes(COM->DeviceName() + "  " + LineSettings() + "  ");
        const QString prompt = ComboBox4->currentText();
        text += Button5->isEnabled() || prompt.isEmpty()
                    ? QStringLiteral("Connected")
                    : QStringLiteral("Waiting for prompt \"%1\"").arg(prompt);
    }
    if (FStateText->text() != text) FStateText->setText(text);
}

std::string TForm1::LineSettings() const {
    static constexpr char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
    platform::DCB dcb{};
    COM->Handle()->GetCommState(dcb);
    return std::to_string(dcb.BaudRate) + " " + std::to_string(dcb.ByteSize) +
           kParity[std::min<int>(dcb.Parity, 4)] + kStopBits[std::min<int>(dcb.StopBits, 2)];
}

void TForm1::Disconnect() {
    TransferPortClosed();
    SetConnectedControls(false);
    Gauge->hide();
    TimerButton->hide();
    ShowState();
}

void TForm1::CommLoopFailed(const std::string& Message) {
    // The news may be stale: the operator disconnected, or connected anew, before it got here.
    if (!COM->Opened() || !COM->EventLoopFailed()) return;
    LogFiles->Lost(Message);
    if (WaitForPort(Message)) return;
    const std::string port = COM->DeviceName();
    Button1->setText(QString::fromLatin1(kConnectCaption));
    COM->CloseDevice();
    // Unlike the operator's Disconnect, the log stays: what came before the loss can still be saved.
    Disconnect();
    ShowException("Connection to " + port + " lost" + (Message.empty() ? "" : ": " + Message));
}

// ---- Command line and control codes

void TForm1::Button5Click() {
    // A character without a byte value, or a hex line that is not hex, refuses the whole line
    // before anything goes out.
    const QString line = Edit1->currentText();
    const bool hex = CheckBox3->isChecked();
    const std::string command = hex ? HexToBytes(line) : TypedBytes(line);
    COM->SendString(command);
    if (CheckBox2->isChecked() && !hex) COM->SendString("\n");
    if (!ComboBox4->currentText().isEmpty()) {
        Button5->setEnabled(false);
        ShowState();
    }
    if (!command.empty()) {
        Edit1->addItem(hex ? line : TypedText(command));
        if (Edit1->count() > kHistoryLimit) Edit1->removeItem(0);
        Edit1->setCurrentIndex(-1);
        Edit1->clearEditText();
    }
}

void TForm1::Button10Click() {
    static constexpr struct {
        const char* Name;
        std::uint8_t Code;
    } kCodes[] = {{"Ctrl-Y", 0x19}, {"Ctrl-Z", 0x1A}, {"Ctrl-C", 0x03}, {"Ctrl-R", 0x12}};
    const std::string name = ToBytes(ComboBox3->currentText());
    for (const auto& code : kCodes) {
        if (name == code.Name) {
            COM->SendByte(code.Code);
            return;
        }
    }
}

// ---- Received data

void TForm1::ComData(TCustomComm* /*Sender*/, std::uint32_t Received) {
    // Grows only: resize would clear the new part, which the read overwrites anyway.
    if (FReceived.size() < Received) FReceived.resize(Received);
    const std::uint32_t n = COM->ReadData(FReceived.data(), Received);
    std::string_view block(FReceived.data(), std::min<std::size_t>(n, Received));
    HexDumpReceived(block);
    if (TransferTakes(block)) return;
    ShowReceived(block);
}

void TForm1::ShowReceived(std::string_view block) {
    std::string& expanded = FExpanded;
    expanded.clear();
    expanded.reserve(block.size() * 2);
    // Zero bytes are dropped one by one: a batch can hold a megabyte, and devices pad with NULs
    // after a reset, so cutting the batch at the first one would lose what follows it.
    while (!block.empty()) {
        const void* nul = std::memchr(block.data(), '\0', block.size());
        const std::size_t length =
            nul ? std::size_t(static_cast<const char*>(nul) - block.data()) : block.size();
        AppendExpanded(expanded, block.substr(0, length));
        block.remove_prefix(nul ? length + 1 : length);
    }
    Terminal.Append(expanded);
    LogFiles->Received(expanded);
    if (const int error = Terminal.TakeSpillError()) {
        // Shown from the event loop, not in the middle of handing over received data.
        const std::string message = "Cannot write the log's temporary file: " + InOutErrorText(error) +
                                    ". The log is kept in memory and Save Log still writes all of it";
        QMetaObject::invokeMethod(
            this, [message] { ShowException(message); }, Qt::QueuedConnection);
    }
    if (FUtf8) {
        FDecoded.clear();
        FUtf8Decoder.Decode(expanded, FDecoded);
        Terminal2->WriteText(FDecoded);
    } else {
        Terminal2->WriteText(expanded);
    }
    PromptGate();
}

void TForm1::PromptGate() {
    const std::string prompt = ToBytes(ComboBox4->currentText());
    if (!Button5->isEnabled() && (prompt.empty() || Terminal.EndsWith(prompt))) {
        Button5->setEnabled(true);
        ShowState();
    }
}

} // namespace qorvel
