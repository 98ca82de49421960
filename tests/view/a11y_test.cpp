// The terminal view as assistive technology sees it: the accessible text of the shown rows, the
// caret on the model's cursor, and text-changed notifications folded together and rate-limited.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "emulvt/view_accessible.h"
#include "view_test_support.h"

namespace qorvel::test {
namespace {

constexpr int kRows = 3;
constexpr int kCols = 10;

QString Row(const QString& Text) {
    return Text.leftJustified(kCols, QLatin1Char(' '));
}

QString Rows(std::initializer_list<QString> Texts) {
    QStringList rows;
    for (const QString& t : Texts)
        rows << Row(t);
    return rows.join(QLatin1Char('\n'));
}

class ViewA11y : public ::testing::Test {
protected:
    void SetUp() override {
        View.SetRows(kRows);
        View.SetCols(kCols);
        View.SetCharWidth(5);
        View.SetLineHeight(12);
        View.resize(200, 100);
        View.ClearScreen();
        View.WriteText("\x1b[H");
        Iface = QAccessible::queryAccessibleInterface(&View);
        ASSERT_NE(Iface, nullptr);
        Text = Iface->textInterface();
        ASSERT_NE(Text, nullptr);
    }
    QString AllText() const { return Text->text(0, Text->characterCount()); }

    TProbeVT View;
    QAccessibleInterface* Iface = nullptr;
    QAccessibleTextInterface* Text = nullptr;
};

TEST_F(ViewA11y, IsANamedTerminal) {
    EXPECT_EQ(Iface->role(), QAccessible::Terminal);
    EXPECT_EQ(Iface->text(QAccessible::Name), QStringLiteral("Terminal"));
    EXPECT_TRUE(Iface->state().readOnly);
    View.setAccessibleName(QStringLiteral("Device"));
    EXPECT_EQ(Iface->text(QAccessible::Name), QStringLiteral("Device"));
}

struct TTextCase {
    const char* Name;
    std::string Input;
    QString Expected;
    int Caret;
};

TEST_F(ViewA11y, TextIsTheShownRowsAndTheCaretIsTheCursor) {
    const int stride = kCols + 1;
    const TTextCase cases[] = {
        {"rows keep their trailing blanks", "ab\r\ncd", Rows({"ab", "cd", ""}), stride + 2},
        {"prompt with a trailing blank", "QLX7400> ", Rows({"QLX7400> ", "", ""}), 9},
        {"cursor addressing", "\x1b[3;5H", Rows({"", "", ""}), 2 * stride + 4},
        {"bytes show as their glyphs", "\xDA\xC4\xBF \xE9",
         Rows({QStringLiteral("\u250C\u2500\u2510 \u0398"), "", ""}), 5},
        {"cursor past the last column stays on its row", "0123456789", Rows({"0123456789", "", ""}), kCols},
        {"scrolled text", "1\r\n2\r\n3\r\n4", Rows({"2", "3", "4"}), 2 * stride + 1},
        {"erase to end of line", "abcdef\x1b[1;3H\x1b[K", Rows({"ab", "", ""}), 2},
    };
    for (const TTextCase& c : cases) {
        SCOPED_TRACE(c.Name);
        View.ClearScreen();
        View.WriteText("\x1b[H");
        View.WriteText(c.Input);
        EXPECT_EQ(AllText(), c.Expected);
        EXPECT_EQ(Text->characterCount(), kRows * stride - 1);
        EXPECT_EQ(Text->cursorPosition(), c.Caret);
    }
}

TEST_F(ViewA11y, BackRowsAppearWhileScrolledBack) {
    View.SetBackRows(5);
    View.WriteText("1\r\n2\r\n3\r\n4\r\n5");
    EXPECT_EQ(AllText(), Rows({"3", "4", "5"}));
    View.ScrollBarScroll(-2);
    EXPECT_EQ(AllText(), Rows({"1", "2", "3", "4", "5"}));
    EXPECT_EQ(Text->cursorPosition(), 4 * (kCols + 1) + 1);
}

TEST_F(ViewA11y, CharacterRectsAndPointsAgree) {
    View.WriteText("abc\r\nxyz");
    for (int offset : {0, 2, kCols + 1, kCols + 3, 2 * (kCols + 1) + 9}) {
        SCOPED_TRACE(offset);
        const QRect r = Text->characterRect(offset);
        ASSERT_FALSE(r.isEmpty());
        EXPECT_EQ(Text->offsetAtPoint(r.center()), offset);
    }
    EXPECT_EQ(Text->offsetAtPoint(View.mapToGlobal(QPoint(-5, -5))), -1);
}

// Records the text notifications about one object.
class TEventLog {
public:
    explicit TEventLog(QObject* Source) {
        gSource = Source;
        gLog = this;
        FPrevious = SetViewAccessibleSink(&Record);
    }
    ~TEventLog() {
        SetViewAccessibleSink(FPrevious);
        gLog = nullptr;
    }
    struct TUpdate {
        int Position;
        QString Removed, Inserted;
    };
    std::vector<TUpdate> Updates;
    std::vector<int> CaretMoves;

private:
    static void Record(QAccessibleEvent* Event) {
        if (!gLog || Event->object() != gSource) return;
        if (Event->type() == QAccessible::TextUpdated) {
            auto* u = static_cast<QAccessibleTextUpdateEvent*>(Event);
            gLog->Updates.push_back({u->changePosition(), u->textRemoved(), u->textInserted()});
        } else if (Event->type() == QAccessible::TextCaretMoved) {
            gLog->CaretMoves.push_back(static_cast<QAccessibleTextCursorEvent*>(Event)->cursorPosition());
        }
    }
    static inline QObject* gSource = nullptr;
    static inline TEventLog* gLog = nullptr;
    TAccessibleEventSink FPrevious = nullptr;
};

class ViewA11yEvents : public ViewA11y {
protected:
    void SetUp() override {
        ViewA11y::SetUp();
        QAccessible::setActive(true);
        Settle(); // nothing from the set-up is left to announce
    }
    void TearDown() override { QAccessible::setActive(false); }
    // Long enough for any pending announcement to go out.
    static void Settle() { QTest::qWait(3 * kMinAnnounceIntervalMs); }
};

TEST_F(ViewA11yEvents, ManyBytesInOneTurnGiveOneTextUpdate) {
    struct TCase {
        const char* Name;
        std::function<void(TProbeVT&)> Write;
    };
    const TCase cases[] = {
        {"one long WriteText", [](TProbeVT& v) { v.WriteText(std::string(4096, 'x') + "\r\nend"); }},
        {"one WriteChar per byte",
         [](TProbeVT& v) {
             for (char c : std::string("hello world\r\nsecond line"))
                 v.WriteChar(uint8_t(c));
         }},
        {"several WriteText calls", [](TProbeVT& v) {
             for (int i = 0; i < 50; ++i)
                 v.WriteText("line\r\n");
         }}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        View.ClearScreen();
        View.WriteText("\x1b[H");
        Settle();
        const QString before = AllText();
        TEventLog log(&View);
        c.Write(View);
        EXPECT_TRUE(log.Updates.empty()) << "announced before the event loop turned";
        Settle();
        ASSERT_EQ(log.Updates.size(), 1u);
        // The update carries exactly the span that changed.
        QString patched = before;
        const TEventLog::TUpdate& u = log.Updates[0];
        patched.replace(u.Position, u.Removed.size(), u.Inserted);
        EXPECT_EQ(patched, AllText());
        ASSERT_EQ(log.CaretMoves.size(), 1u);
        EXPECT_EQ(log.CaretMoves[0], Text->cursorPosition());
    }
}

TEST_F(ViewA11yEvents, OnlyChangesAreAnnounced) {
    TEventLog log(&View);
    View.WriteText("\x1b[1;33m"); // colours only: text and cursor stay
    Settle();
    EXPECT_TRUE(log.Updates.empty());
    EXPECT_TRUE(log.CaretMoves.empty());

    View.WriteText("\x1b[2;4H"); // the cursor alone moves
    Settle();
    EXPECT_TRUE(log.Updates.empty());
    EXPECT_EQ(log.CaretMoves, std::vector<int>{kCols + 1 + 3});

    View.WriteText("A");
    Settle();
    View.WriteText("B");
    Settle();
    ASSERT_EQ(log.Updates.size(), 2u);
    EXPECT_EQ(log.Updates[1].Position, kCols + 1 + 4);
    EXPECT_EQ(log.Updates[1].Removed, QStringLiteral(" "));
    EXPECT_EQ(log.Updates[1].Inserted, QStringLiteral("B"));
}

// Received data arriving in many small blocks, each in its own event-loop turn.
TEST_F(ViewA11yEvents, AFloodIsAnnouncedAtALimitedRate) {
    const QString before = AllText();
    TEventLog log(&View);
    QElapsedTimer flood;
    flood.start();
    int blocks = 0;
    while (flood.elapsed() < 5 * kMinAnnounceIntervalMs) {
        View.WriteText("data " + std::to_string(blocks++) + "\r\n");
        QTest::qWait(1);
    }
    const qint64 elapsed = flood.elapsed();
    Settle();
    EXPECT_GT(blocks, 20);
    EXPECT_GE(log.Updates.size(), 2u);
    EXPECT_LE(log.Updates.size(), std::size_t(elapsed / kMinAnnounceIntervalMs + 2));
    // Applied in order, the updates bring a listener to the final text.
    QString patched = before;
    for (const TEventLog::TUpdate& u : log.Updates)
        patched.replace(u.Position, u.Removed.size(), u.Inserted);
    EXPECT_EQ(patched, AllText());
}

TEST_F(ViewA11yEvents, NothingIsAnnouncedWhileNobodyListens) {
    QAccessible::setActive(false);
    TEventLog log(&View);
    View.WriteText("quiet\r\n");
    Settle();
    EXPECT_TRUE(log.Updates.empty());
    EXPECT_TRUE(log.CaretMoves.empty());
}

} // namespace
} // namespace qorvel::test
