#include "emulvt/emul_vt.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace qorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct KeyStroke {
    Qt::Key QtKey;
    Qt::KeyboardModifiers Modifiers = Qt::NoModifier;
    QString Text = {};
};

// A shown, focused view whose events are recorded.
class KeysViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeyCaptureArmed = false;
        View = std::make_unique<TEmulVT>();
        View->OnKeyBuffer = [this](TCustomEmulVT* Sender, const char* Buffer, int Len) {
            EXPECT_EQ(Sender, View.get());
            Buffers.emplace_back(Buffer, std::size_t(Len));
        };
        View->OnKeyPress = [this](TCustomEmulVT*, char& Key) { Typed += Key; };
        View->show();
        Focus();
    }
    void TearDown() override {
        View.reset();
        KeyCaptureArmed = false;
    }

    void Focus() {
        View->activateWindow();
        View->setFocus();
        for (int i = 0; i < 200 && !View->hasFocus(); ++i)
            QTest::qWait(5);
        ASSERT_TRUE(View->hasFocus());
    }
    void Press(const KeyStroke& k) {
        QTest::sendKeyEvent(QTest::Press, View.get(), k.QtKey, k.Text, k.Modifiers);
        QTest::sendKeyEvent(QTest::Release, View.get(), k.QtKey, k.Text, k.Modifiers);
    }
    void Press(std::initializer_list<KeyStroke> keys) {
        for (const KeyStroke& k : keys)
            Press(k);
    }

    std::unique_ptr<TEmulVT> View;
    std::vector<std::string> Buffers;
    std::string Typed;
};

const KeyStroke kUp{Qt::Key_Up};
const KeyStroke kPageUp{Qt::Key_PageUp};
const KeyStroke kKeypadHome{Qt::Key_Home, Qt::KeypadModifier};
const KeyStroke kF1{Qt::Key_F1};
const KeyStroke kShiftF1{Qt::Key_F1, Qt::ShiftModifier};
const KeyStroke kF10{Qt::Key_F10};
const KeyStroke kTab{Qt::Key_Tab, Qt::NoModifier, "\t"};
const KeyStroke kChord{Qt::Key_Asterisk, Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier, "*"};
const KeyStroke kDeadCircumflex{Qt::Key_Dead_Circumflex};
KeyStroke Letter(char c, Qt::KeyboardModifiers m = Qt::NoModifier) {
    const char upper = char(c & ~0x20);
    return {Qt::Key(Qt::Key_A + (upper - 'A')), m, QString(QChar(c))};
}

TEST_F(KeysViewTest, FunctionKeysPerTable) {
    struct {
        int FKeys;
        std::vector<KeyStroke> Keys;
        std::vector<std::string> Buffers;
        std::string Typed;
    } cases[] = {
        {0,
         {kUp, kPageUp, kKeypadHome, kF1, kShiftF1, kTab},
         {"\033[A", "\033[I", "\033[H", "\033[M", "\033[V", "\033[Z"},
         ""},
        {1, {kUp, kPageUp, kKeypadHome, kF1, kShiftF1, kTab}, {"\033[A", "\033[5~", "\033OP"}, "\t"},
        {5, {kUp, kPageUp, kF1}, {"\033[A", "\033[5~", "\033OP"}, ""},
        {2,
         {kUp, kPageUp, kKeypadHome, kF1, kF10, kTab},
         {"\033[A", "\033-", "\033H", "\033OP", "", "\033Z"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.FKeys);
        Buffers.clear();
        Typed.clear();
        View->SetFKeys(c.FKeys);
        for (const KeyStroke& k : c.Keys)
            Press(k);
        EXPECT_EQ(Buffers, c.Buffers);
        EXPECT_EQ(Typed, c.Typed);
    }
}

TEST_F(KeysViewTest, WithoutBufferHandlerSequencesAreTyped) {
    View->OnKeyBuffer = nullptr;
    View->SetFKeys(2);
    Press({kF10, kUp, kF1});
    EXPECT_EQ(Typed, "\033[A\033OP"); // the empty F10 value types nothing
}

TEST_F(KeysViewTest, LettersAndControlCharacters) {
    Press({Letter('a'), Letter('A', Qt::ShiftModifier), Letter('c', Qt::ControlModifier)});
    // Caps Lock on: the letter's text comes in upper case without Shift, lower case with it.
    Press({Letter('B'), Letter('b', Qt::ShiftModifier)});
    Press({{Qt::Key_Return, Qt::NoModifier, "\r"}, {Qt::Key_Backspace, Qt::NoModifier, "\b"}});
    Press({{Qt::Key_1, Qt::NoModifier, "1"}, {Qt::Key_Exclam, Qt::ShiftModifier, "!"}});
    Press(Letter('q', Qt::AltModifier)); // a system key: nothing
    EXPECT_EQ(Typed, "aA\x03"
                     "BB\r\b1!");
    EXPECT_TRUE(Buffers.empty());
}

TEST_F(KeysViewTest, CtrlShiftCCopiesASelectionAndOtherwiseKeepsItsMeaning) {
    const KeyStroke ctrlC = Letter('c', Qt::ControlModifier);
    const KeyStroke ctrlShiftC = Letter('C', Qt::ControlModifier | Qt::ShiftModifier);
    Press(ctrlShiftC); // nothing selected: what the key always did
    const std::string unselected = Typed;
    Typed.clear();
    QGuiApplication::clipboard()->clear();
    View->Select({0, 0}, {0, 5}); // the banner
    Press({ctrlC, ctrlShiftC});
    EXPECT_EQ(Typed, "\x03"); // Ctrl+C still goes to the device
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("EmulVT"));
    View->ClearSelection();
    Typed.clear();
    Press(ctrlShiftC);
    EXPECT_EQ(Typed, unselected);
}

TEST_F(KeysViewTest, DeadKeysAndTranslation) {
    View->SetXlat(false); // keys go out as typed
    Press({kDeadCircumflex, Letter('e'), kDeadCircumflex, Letter('x'), Letter('e')});
    Press({{Qt::Key_Dead_Diaeresis, Qt::ShiftModifier},
           Letter('u'),
           kDeadCircumflex,
           Letter('E', Qt::ShiftModifier)});
    EXPECT_EQ(Typed, "\xEA"
                     "xe\xFC"
                     "E");
    Typed.clear();
    View->SetXlat(true); // through the output table: code page 437
    Press({{Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9))}, kDeadCircumflex, Letter('e')});
    EXPECT_EQ(Typed, "\x82\x88");
}

TEST_F(KeysViewTest, KeyDownHandlerSeesAndCancelsEverything) {
    std::vector<int> seen;
    View->OnKeyDown = [&](TCustomEmulVT*, int& VirtKey, TShiftState&, bool&, char& ScanCode, bool& Ext) {
        seen.push_back(VirtKey);
        EXPECT_EQ(VirtKey == 38, ScanCode == 0x48 && Ext);
        VirtKey = 0;
    };
    Press({kChord, kF1, kUp, Letter('a'), {Qt::Key_1, Qt::NoModifier, "1"}});
    // The modifiers of the chord arrive as keys of their own first.
    EXPECT_EQ(seen, (std::vector<int>{17, 18, 0x6A, 112, 38, 'A', '1'}));
    EXPECT_FALSE(KeyCaptureArmed);
    EXPECT_TRUE(Buffers.empty());
    EXPECT_EQ(Typed, "");
}

TEST_F(KeysViewTest, CaptureModeDescribesTheNextKey) {
    QString title, text;
    int buttons = 0;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            buttons = int(box->buttons().size());
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            box->accept();
        }
    });
    closer.start();
    Press({kChord, kF1});
    EXPECT_EQ(title, "Key definition from vkmapr1.cfg");
    EXPECT_EQ(text, "3B, ssNormal, FALSE, '\\x1BOP'");
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "3B, ssNormal, FALSE, '\\x1BOP'");
    EXPECT_TRUE(Buffers.empty());
    EXPECT_FALSE(KeyCaptureArmed);

    Focus();
    View->SetFKeys(0);
    Press({kChord, kShiftF1});
    EXPECT_EQ(title, "Key definition from vkmapr0.cfg");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "3B, ssShift , FALSE, '\\x1B[V'");
    Focus();
    Press(kF1); // capture is one-shot
    EXPECT_EQ(Buffers, std::vector<std::string>{"\033[M"});

    // A described letter types nothing, though the message box took the focus meanwhile.
    Focus();
    Press({kChord, Letter('a')});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "1E, ssNormal, FALSE");
    EXPECT_EQ(Typed, "");
}

TEST_F(KeysViewTest, HandledKeysComeBeforeShortcuts) {
    int ctrlC = 0, ctrl1 = 0;
    QShortcut copy(QKeySequence(Qt::CTRL | Qt::Key_C), View.get());
    QObject::connect(&copy, &QShortcut::activated, [&] { ++ctrlC; });
    QShortcut one(QKeySequence(Qt::CTRL | Qt::Key_1), View.get());
    QObject::connect(&one, &QShortcut::activated, [&] { ++ctrl1; });
    Press({Letter('c', Qt::ControlModifier), {Qt::Key_1, Qt::ControlModifier, "1"}});
    EXPECT_EQ(ctrlC, 0);
    EXPECT_EQ(ctrl1, 1); // a key the view leaves still reaches the application's shortcuts
    EXPECT_EQ(Typed, "\x03");
}

TEST_F(KeysViewTest, HookOnlyWhileFocusedAndChainsUnhandledKeys) {
    // A filter installed before the view took the focus sees only the keys the view leaves.
    struct Recorder : QObject {
        std::vector<int> Keys;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) Keys.push_back(static_cast<QKeyEvent*>(e)->key());
            return false;
        }
    } previous;
    View->clearFocus();
    qApp->installEventFilter(&previous);
    Focus();
    Press({kUp, {Qt::Key_1, Qt::NoModifier, "1"}});
    EXPECT_EQ(previous.Keys, std::vector<int>{Qt::Key_1});
    EXPECT_EQ(Buffers, std::vector<std::string>{"\033[A"});

    View->clearFocus();
    ASSERT_FALSE(View->hasFocus());
    Buffers.clear();
    Press(kUp); // no hook: the key passes by the function-key tables
    EXPECT_TRUE(Buffers.empty());
    qApp->removeEventFilter(&previous);
}

TEST_F(KeysViewTest, LocalEchoWritesTypedKeys) {
    View->SetLocalEcho(true);
    View->SetAutoRepaint(false);
    TScreen* s = View->Screen();
    const int row = s->FRow, col = s->FCol;
    Press({Letter('h'), Letter('i')});
    EXPECT_EQ(s->GetLine(row)->Txt[col], 'h');
    EXPECT_EQ(s->GetLine(row)->Txt[col + 1], 'i');
    EXPECT_EQ(s->FCol, col + 2);
}

// Runs each test in an empty folder, where the view creates its log.
class KeysLogTest : public KeysViewTest {
protected:
    void SetUp() override {
        FOld = fs::current_path();
        FDir = fs::temp_directory_path() / ("qorvel_keyslog_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FDir);
        fs::create_directories(FDir);
        fs::current_path(FDir);
        KeysViewTest::SetUp();
    }
    void TearDown() override {
        KeysViewTest::TearDown();
        fs::current_path(FOld);
        fs::remove_all(FDir);
    }
    std::string LogContent() const {
        std::ifstream in(FDir / "EMULVT.LOG", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path FOld, FDir;
};

TEST_F(KeysLogTest, MarkersRawBytesAndAppend) {
    View->SetLog(false); // off when off: no file at all
    EXPECT_FALSE(fs::exists(FDir / "EMULVT.LOG"));
    View->SetLog(true);
    View->SetLog(true);
    View->WriteText(std::string_view("ab\033[2J\x00\xFF\n", 9));
    View->WriteChar('z');
    View->SetLocalEcho(true);
    Press(Letter('e'));
    View->SetLog(false);
    View->SetLog(true);
    View->WriteText(std::string_view("x"));
    View.reset(); // destruction closes the log
    auto other = std::make_unique<TEmulVT>();
    other->SetLog(true);
    other.reset();
    EXPECT_EQ(LogContent(), "<Open>ab\033[2J\x00\xFF\nze<Close><Open>x<Close><Open><Close>"s);
}

TEST_F(KeysLogTest, UnwritableLogRaisesAndTheByteIsNotInterpreted) {
    fs::create_directory(FDir / "EMULVT.LOG");
    View->SetLog(true); // the failure shows at the first logged byte
    TScreen* s = View->Screen();
    const int row = s->FRow, col = s->FCol;
    EXPECT_THROW(View->WriteChar('q'), ERawLogError);
    EXPECT_THROW(View->WriteText(std::string_view("rs")), ERawLogError);
    EXPECT_EQ(s->FCol, col);
    EXPECT_NE(s->GetLine(row)->Txt[col], 'q');
    EXPECT_NE(s->GetLine(row)->Txt[col], 'r');
    EXPECT_THROW(View->SetLog(false), ERawLogError);
    EXPECT_FALSE(View->Log());
    View->WriteChar('t'); // logging off: written as usual
    EXPECT_EQ(s->GetLine(row)->Txt[col], 't');
}

} // namespace
} // namespace qorvel
