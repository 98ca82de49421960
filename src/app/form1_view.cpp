// The View menu, the splitter between the "File" and "Terminal" groups, and what the menu switches
// in the terminal view: following the cursor, scroll-back and typing to the device.
#include <QActionGroup>
#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>
#include <array>
#include <string_view>

#include "app/form1.h"
#include "app/form2.h"
#include "app/hex_dump_view.h"
#include "app/string_grid.h"
#include "emulvt/emul_vt.h"
#include "serial/xcomm.h"

namespace qorvel {

namespace {

constexpr int kHandleHeight = 6; // the grip straddles the line between the two groups
constexpr int kMinGridHeight = 40;
constexpr int kTerminalInset = 4; // the view's gap to the group box's sides and bottom

struct TTextSize {
    const char* Caption;
    int CharWidth, LineHeight;
};
constexpr std::array<TTextSize, 4> kTextSizes = {{
    {"5 x 12", 5, 12},
    {"7 x 14", 7, 14},
    {"8 x 16", 8, 16},
    {"10 x 20", 10, 20},
}};

// A grip over the border between the groups: dragging it moves the border.
class TSplitHandle : public QWidget {
public:
    TSplitHandle(std::function<void(int Y)> OnDrag, QWidget* Parent)
        : QWidget(Parent), FOnDrag(std::move(OnDrag)) {
        setCursor(Qt::SplitVCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* Event) override {
        if (Event->button() == Qt::LeftButton) FGrab = Event->position().toPoint().y();
    }
    void mouseMoveEvent(QMouseEvent* Event) override {
        if (Event->buttons() & Qt::LeftButton)
            FOnDrag(mapToParent(Event->position().toPoint()).y() - FGrab + kHandleHeight / 2);
    }

private:
    std::function<void(int Y)> FOnDrag;
    int FGrab = kHandleHeight / 2;
};

// Height with whole rows only: the view draws no partial row, and both the end of its scroll range
// and following the cursor count a row that shows more than half as shown.
int WholeRowsHeight(const TEmulVT& View, int Height) {
    const int margins = View.TopMargin() + View.BottomMargin();
    if (View.LineHeight() <= 0 || Height - margins < View.LineHeight()) return Height;
    return margins + std::min((Height - margins) / View.LineHeight(), View.Rows()) * View.LineHeight();
}

// Typed keys go out only while the port is open; in between they are dropped, like the keys of a
// terminal with its cable pulled.
void SendTyped(TXComm& COM, std::string_view Bytes) {
    if (COM.Opened()) COM.SendString(Bytes);
}

} // namespace

void TForm1::CreateViewMenu() {
    View1 = new QMenu(QStringLiteral("&View"), this);
    View1->setObjectName(QStringLiteral("View1"));
    menuBar()->insertMenu(Help1->menuAction(), View1);
    // Alt+Shift with a letter is no key of the terminal view (Alt makes it a system key there) and
    // no editing key of the command line.
    FollowCursor1 = View1->addAction(QStringLiteral("Follow Cursor"));
    FollowCursor1->setObjectName(QStringLiteral("FollowCursor1"));
    FollowCursor1->setCheckable(true);
    FollowCursor1->setShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_F));
    ScrollBack1 = View1->addAction(QStringLiteral("Scroll-back"));
    ScrollBack1->setObjectName(QStringLiteral("ScrollBack1"));
    ScrollBack1->setCheckable(true);
    ScrollBack1->setShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_B));
    ShowAllRows1 = View1->addAction(QStringLiteral("Show All Rows"));
    ShowAllRows1->setObjectName(QStringLiteral("ShowAllRows1"));
    ShowAllRows1->setShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_A));
    TextSize1 = View1->addMenu(QStringLiteral("Text Size"));
    TextSize1->setObjectName(QStringLiteral("TextSize1"));
    auto* sizes = new QActionGroup(this);
    for (const TTextSize& size : kTextSizes) {
        QAction* a = TextSize1->addAction(QString::fromLatin1(size.Caption));
        a->setCheckable(true);
        a->setChecked(size.CharWidth == Terminal2->CharWidth() && size.LineHeight == Terminal2->LineHeight());
        sizes->addAction(a);
        connect(a, &QAction::triggered, this, [this, size] { SetTextSize(size.CharWidth, size.LineHeight); });
    }
    CreateHexDump();
    View1->addSeparator();
    KeysToDevice1 = View1->addAction(QStringLiteral("Keys to Device"));
    KeysToDevice1->setObjectName(QStringLiteral("KeysToDevice1"));
    KeysToDevice1->setCheckable(true);
    KeysToDevice1->setShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_K));
    SplitHandle = new TSplitHandle([this](int Y) { DragSplit(Y); }, centralWidget());
    SplitHandle->setObjectName(QStringLiteral("SplitHandle"));

    connect(FollowCursor1, &QAction::toggled, this, [this](bool On) { Terminal2->SetFollowCursor(On); });
    connect(ShowAllRows1, &QAction::triggered, this, &TForm1::ShowAllRows);
    connect(ScrollBack1, &QAction::toggled, this,
            [this](bool On) { Terminal2->SetBackRows(On ? FScrollBackRows : 0); });
    connect(KeysToDevice1, &QAction::toggled, this, [this](bool On) {
        if (!On) {
            Terminal2->OnKeyPress = nullptr;
            Terminal2->OnKeyBuffer = nullptr;
            Terminal2->OnKeyDown = nullptr;
            return;
        }
        Terminal2->OnKeyPress = [this](TCustomEmulVT*, char& Key) {
            SendTyped(*COM, std::string_view(&Key, 1));
        };
        // A function key's sequence goes out in one write, so the device sees it whole.
        Terminal2->OnKeyBuffer = [this](TCustomEmulVT*, const char* Buffer, int Len) {
            SendTyped(*COM, std::string_view(Buffer, std::size_t(std::max(Len, 0))));
        };
        // Ctrl+Shift+C is Copy: with nothing selected it does nothing rather than send Ctrl+C.
        Terminal2->OnKeyDown = [](TCustomEmulVT*, int& VirtKey, TShiftState& Shift, bool&, char&, bool&) {
            using enum TShiftStateMember;
            if (VirtKey == 'C' && Shift.Contains(ssCtrl) && Shift.Contains(ssShift) && !Shift.Contains(ssAlt))
                VirtKey = 0;
        };
    });
}

void TForm1::SetScrollBackRows(int Rows) {
    FScrollBackRows = std::clamp(Rows, TForm2::kMinScrollBackRows, TForm2::kMaxScrollBackRows);
    if (ScrollBack1 && ScrollBack1->isChecked()) Terminal2->SetBackRows(FScrollBackRows);
}

int TForm1::TerminalFullHeight() const {
    // The group's frame and title above the view, the inset below it, and the view's margins.
    const int frame =
        GroupBox1->contentsRect().top() + (GroupBox1->height() - GroupBox1->contentsRect().bottom() - 1);
    return frame + kTerminalInset + Terminal2->TopMargin() + Terminal2->BottomMargin() +
           Terminal2->Rows() * Terminal2->LineHeight();
}

void TForm1::LayoutMiddle(int Top, int Bottom) {
    const int w = centralWidget()->width();
    const int space = std::max(Bottom - Top, 0);
    int terminal = std::min(FScale(kGroupBox1Height), space);
    if (FSplitMoved) {
        // After a drag the grid keeps its height and the terminal takes what the window gains,
        // up to all of its rows.
        const int full = std::max(TerminalFullHeight(), FScale(kGroupBox1Height));
        const int grid = std::clamp(FGridHeight, std::min(kMinGridHeight, space), space);
        terminal = space - std::max(grid, space - full);
    }
    GroupBox2->setGeometry(0, Top, w, space - terminal);
    GroupBox1->setGeometry(0, Top + space - terminal, w, terminal);
    Grid->setGeometry(
        GroupBox2->contentsRect().adjusted(kTerminalInset, 0, -kTerminalInset, -kTerminalInset));
    QRect view = GroupBox1->contentsRect().adjusted(kTerminalInset, 0, -kTerminalInset, -kTerminalInset);
    view.setHeight(WholeRowsHeight(*Terminal2, view.height()));
    Terminal2->setGeometry(view);
    if (HexDumpView) HexDumpView->setGeometry(view);
    if (SplitHandle) {
        SplitHandle->setGeometry(0, GroupBox1->y() - kHandleHeight / 2, w, kHandleHeight);
        SplitHandle->raise();
    }
}

void TForm1::DragSplit(int Y) {
    const int top = GroupBox2->y();
    const int space = GroupBox1->geometry().bottom() + 1 - top;
    const int full = std::max(TerminalFullHeight(), FScale(kGroupBox1Height));
    // The grid keeps at least a few rows; the terminal grows up to all its rows.
    const int grid = std::clamp(Y - top, std::max(0, std::min(kMinGridHeight, space)), space);
    FSplitMoved = true;
    FGridHeight = std::max(grid, space - full);
    LayoutBands();
}

void TForm1::ShowAllRows() {
    const int full = TerminalFullHeight();
    const int space = GroupBox1->geometry().bottom() + 1 - GroupBox2->y();
    const int missing = full + kMinGridHeight - space;
    if (missing > 0) {
        // Not room enough: the window grows, as far as the screen allows.
        int height = this->height() + missing;
        if (QScreen* screen = this->screen()) height = std::min(height, screen->availableGeometry().height());
        resize(width(), height);
    }
    const int newSpace = GroupBox1->geometry().bottom() + 1 - GroupBox2->y();
    FSplitMoved = true;
    FGridHeight = std::max(newSpace - full, std::min(kMinGridHeight, newSpace));
    LayoutBands();
}

void TForm1::SetTextSize(int CharWidth, int LineHeight) {
    Terminal2->SetTextSize(CharWidth, LineHeight);
    LayoutBands();
}

} // namespace qorvel
