// Interpreter: control characters, escape collection, control sequences, SGR, modes, translation
// tables, raw runs, diagnostics, and the bulk path of WriteStr against WriteChar.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "emulvt/utf8_decoder.h"
#include "engine_test_util.h"

namespace qorvel::test {
namespace {

struct CursorCase {
    const char* Name;
    std::string Input;
    int Row;
    int Col;
};

TEST(InterpreterCursor, MovesAndClamps) {
    const CursorCase cases[] = {
        {"CUP home", "\x1b[5;5H\x1b[H", 0, 0},
        {"CUP empty params home", "\x1b[5;5H\x1b[;H", 0, 0},
        {"CUP row and column", "\x1b[10;20H", 9, 19},
        {"CUP row only", "\x1b[10H", 9, 0},
        {"CUP spaces before separator", "\x1b[3 ;4H", 2, 3},
        {"CUP clamps", "\x1b[99;999H", 24, 79},
        {"CUU stops at row 0", "\x1b[5;1H\x1b[9A", 0, 0},
        {"CUU ignores region", "\x1b[10;20r\x1b[12;1H\x1b[5A", 6, 0},
        {"CUD stops at last row", "\x1b[40B", 24, 0},
        {"CUF stops at last column", "\x1b[100C", 0, 79},
        {"CUF wraps once", "\x1b[?7h\x1b[1;75H\x1b[10C", 1, 4},
        {"CUF wrap may stay beyond", "\x1b[?7h\x1b[1;75H\x1b[90C", 1, 84},
        {"CUF wrap stops at last row", "\x1b[?7h\x1b[25;80H\x1b[2C", 24, 1},
        {"CUB stops at 0", "\x1b[1;5H\x1b[9D", 0, 0},
        {"BS", "ab\b", 0, 1},
        {"HT", "a\t", 0, 8},
        {"HT on a stop moves on", "\x1b[1;9H\t", 0, 16},
        {"LF keeps column", "abc\n", 1, 3},
        {"LF below the region goes to its bottom", "\x1b[2;5r\x1b[9;1H\n", 4, 0},
        {"save and restore",
         "\x1b[3;4H\x1b"
         "7\x1b[H\x1b"
         "8",
         2, 3},
        {"restore once, then home", "\x1b[3;4H\x1b[s\x1b[u\x1b[9;9H\x1b[u", 0, 0},
        {"restore without save homes",
         "\x1b[3;4H\x1b"
         "8",
         0, 0},
        {"huge parameters saturate", "\x1b[99999999999999999999;99999999999999999999H", 24, 79},
        {"huge CUF with wrap", "\x1b[?7h\x1b[99999999999999999999C", 1, 2147483647 - 80},
        {"huge CUU", "\x1b[25;1H\x1b[99999999999999999999A", 0, 0},
        // 2^32 + 5: a reader that wraps instead of saturating lands on row and column 4.
        {"parameters wrapping at 32 bits still saturate", "\x1b[4294967301;4294967301H", 24, 79},
        {"largest parameter exact", "\x1b[2147483647;2147483647H", 24, 79},
    };
    for (const CursorCase& c : cases) {
        TScreen s;
        Prepare(s);
        Feed(s, c.Input);
        EXPECT_EQ(s.FRow, c.Row) << c.Name;
        EXPECT_EQ(s.FCol, c.Col) << c.Name;
        EXPECT_FALSE(s.FInEscape) << c.Name;
    }
}

struct EraseCase {
    const char* Name;
    const char* Input; // after "r0".."r4" on rows 0..4, attribute 0x41
    std::vector<const char*> Rows;
    uint8_t AttributeAfter;
    uint8_t Row4Att;
    int Row;
    int Col;
};

TEST(InterpreterErase, EraseInDisplayAndLine) {
    const EraseCase cases[] = {
        {"ED 0 resets attribute first", "\x1b[3;2H\x1b[J", {"r0", "r1", "r", "", ""}, 7, 7, 2, 1},
        {"ED 1 includes cursor row", "\x1b[3;2H\x1b[1J", {"", "", "", "r3", "r4"}, 0x41, 7, 2, 1},
        {"ED 2 homes and keeps attribute", "\x1b[3;2H\x1b[2J", {"", "", "", "", ""}, 0x41, 0x41, 0, 0},
        {"ED 3 is invalid", "\x1b[3;2H\x1b[3J", {"r0", "r1", "r2", "r3", "r4"}, 0x41, 7, 2, 1},
        {"EL 1 acts like EL 0", "\x1b[2;2H\x1b[1K", {"r0", "r", "r2", "r3", "r4"}, 0x41, 7, 1, 1},
    };
    for (const EraseCase& c : cases) {
        TScreen s;
        Prepare(s, 5, 10);
        Feed(s, "r0\r\nr1\r\nr2\r\nr3\r\nr4\x1b[31;44m");
        Feed(s, c.Input);
        for (int r = 0; r < 5; ++r)
            EXPECT_EQ(RowText(s, r), c.Rows[size_t(r)]) << c.Name << ", row " << r;
        EXPECT_EQ(s.FAttribute, c.AttributeAfter) << c.Name;
        EXPECT_EQ(s.GetLine(4)->Att[5], c.Row4Att) << c.Name;
        EXPECT_EQ(s.FRow, c.Row) << c.Name;
        EXPECT_EQ(s.FCol, c.Col) << c.Name;
    }
}

struct RegionCase {
    const char* Name;
    const char* Input;
    int Top;
    int Bottom;
};

TEST(InterpreterScrollRegion, SetAndReject) {
    const RegionCase cases[] = {
        {"region", "\x1b[5;10r", 4, 9},
        {"no parameter is whole screen", "\x1b[5;10r\x1b[r", 0, 24},
        {"single parameter is whole screen", "\x1b[5;10r\x1b[5r", 0, 24},
        {"one row rejected", "\x1b[5;5r", 0, 24},
        {"past the last row rejected", "\x1b[5;26r", 0, 24},
        {"huge bottom rejected", "\x1b[5;99999999999999999999r", 0, 24},
    };
    for (const RegionCase& c : cases) {
        TScreen s;
        Prepare(s);
        Feed(s, "\x1b[12;7H");
        Feed(s, c.Input);
        EXPECT_EQ(s.FScrollTop, c.Top) << c.Name;
        EXPECT_EQ(s.FScrollBottom, c.Bottom) << c.Name;
        EXPECT_EQ(s.FRow, 11) << c.Name << ": cursor not moved";
    }
}

struct SgrCase {
    const char* Name;
    const char* Input;
    uint8_t Attribute;
    bool Reverse;
    size_t DebugLines;
};

TEST(InterpreterSgr, AttributesAndReverseVideo) {
    const SgrCase cases[] = {
        {"foreground and background", "\x1b[31;44m", 0x41, false, 0},
        {"bold yellow", "\x1b[1;33m", 0x0B, false, 0},
        {"unknown code reported, walk goes on", "\x1b[38;32m", 0x02, false, 1},
        {"only a separator changes nothing", "\x1b[31m\x1b[;m", 0x01, false, 0},
        {"empty resets", "\x1b[31m\x1b[m", 0x07, false, 0},
        {"zero resets", "\x1b[31;1m\x1b[0m", 0x07, false, 0},
        {"blink bit", "\x1b[5m", 0x87, false, 0},
        {"bold off", "\x1b[1;22m", 0x07, false, 0},
        {"hidden", "\x1b[8m", 0x00, false, 0},
        {"background keeps blink", "\x1b[5;42m", 0xA7, false, 0},
        {"reverse swaps colours", "\x1b[7m", 0x70, true, 0},
        {"reverse then bold swaps again", "\x1b[7m\x1b[1m", 0x0F, true, 0},
        {"27 ends reverse", "\x1b[7m\x1b[27m", 0x07, false, 0},
        {"empty SGR ends reverse", "\x1b[7m\x1b[m", 0x07, false, 0},
        {"question mark passed over", "\x1b[?31;?44?m", 0x41, false, 0},
        {"huge code is invalid", "\x1b[99999999999999999999;32m", 0x02, false, 1},
        // 2^32 + 31 and 2^32 + 7 would read as red and reverse if the code wrapped.
        {"code wrapping to a colour is invalid", "\x1b[32m\x1b[4294967327m", 0x02, false, 1},
        {"code wrapping to reverse is invalid", "\x1b[4294967303m", 0x07, false, 1},
        {"leading zeros", "\x1b[0031;00044m", 0x41, false, 0},
        {"spaces between codes", "\x1b[ 31 ; 44 m", 0x41, false, 0},
    };
    for (const SgrCase& c : cases) {
        SinkCapture sinks;
        TScreen s;
        Prepare(s);
        Feed(s, c.Input);
        EXPECT_EQ(s.FAttribute, c.Attribute) << c.Name;
        EXPECT_EQ(s.FReverseVideo, c.Reverse) << c.Name;
        EXPECT_EQ(sinks.Lines.size(), c.DebugLines) << c.Name;
        EXPECT_FALSE(s.FInEscape) << c.Name;
    }
}

TEST(InterpreterSgr, UnderlineHighBitAndReverseText) {
    TScreen s;
    Prepare(s);
    Feed(s, "\x1b[4m\x1b[m");
    EXPECT_TRUE(s.FUnderline) << "empty SGR leaves underline";
    Feed(s, "\x1b[0m\x1b[12mA\x1b[10mB\x1b[32;41m\x1b[7mc\x1b[0md");
    EXPECT_FALSE(s.FUnderline);
    EXPECT_EQ(RowText(s, 0), "\xC1"
                             "Bcd");
    EXPECT_EQ(s.GetLine(0)->Att[2], 0x21) << "green on red drawn as red on green";
    EXPECT_EQ(s.GetLine(0)->Att[3], 0x07);
}

TEST(InterpreterModes, PrivateModesOnly) {
    SinkCapture sinks;
    TScreen s;
    Prepare(s);
    int calls = 0;
    s.FOnCursorVisible = [&](TScreen* sender) {
        EXPECT_EQ(sender, &s);
        ++calls;
    };
    Feed(s, "\x1b[?7h\x1b[?1h");
    EXPECT_TRUE(s.FAutoWrap);
    EXPECT_TRUE(s.FCursorKeyMode);
    Feed(s, "\x1b[?25l");
    EXPECT_TRUE(s.FCursorOff);
    EXPECT_EQ(calls, 1);
    Feed(s, "\x1b[?25h\x1b[?7l\x1b[?1l\x1b[?4h\x1b[?4l");
    EXPECT_FALSE(s.FCursorOff);
    EXPECT_FALSE(s.FAutoWrap);
    EXPECT_FALSE(s.FCursorKeyMode);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(sinks.Lines.empty());

    Feed(s, "\x1b[4h\x1b[?9l\x1b[h");
    EXPECT_EQ(sinks.Messages(), (std::vector<std::string>{"Unimplemented Escape Sequence: [4h\r\n",
                                                          "Unimplemented Escape Sequence: [?9l\r\n",
                                                          "Unimplemented Escape Sequence: [h\r\n"}));
}

TEST(InterpreterTables, DesignatorsFollowTheTranslationDefault) {
    // The view's Xlat false: received bytes are translated.
    TScreen s;
    Prepare(s);
    s.FTranslateInput = s.FTranslateInputDefault = true;
    Feed(s, "\x1b(0lqk\x1b(Blqk");
    EXPECT_EQ(RowText(s, 0), "\xDA\xC4\xBFlqk");
    EXPECT_EQ(s.FOutputTable, NormalCharTable);

    // Xlat true: received bytes are stored unchanged, typed keys go through the graphic table.
    TScreen t;
    Prepare(t);
    Feed(t, "\x1b[I\x1b(0lqk");
    EXPECT_FALSE(t.FTranslateInput) << "ESC ( 0 restores the configured default";
    EXPECT_EQ(RowText(t, 0), "lqk");
    EXPECT_EQ(t.FOutputTable, GraphicCharTable);
    EXPECT_EQ(t.FInputTable, GraphicCharTable);
}

TEST(InterpreterTables, ShiftOutAndInSwitchTablesOnly) {
    SinkCapture sinks;
    TScreen s;
    Prepare(s);
    Feed(s, "\x1b[I\x0ex\x1b[31m");
    EXPECT_EQ(s.GetLine(0)->Txt[0], 0xB3);
    EXPECT_EQ(s.FAttribute, 7) << "final m arrives as a box character";
    EXPECT_EQ(sinks.Messages(), std::vector<std::string>{"Invalid Escape Sequence: [31\xC0\r\n"});
    Feed(s, "\x0fx\x1b[4Ix");
    EXPECT_EQ(RowText(s, 0, 3), "\xB3xx");
    EXPECT_FALSE(s.FTranslateInput);

    TScreen n;
    Prepare(n);
    Feed(n, "\xe9\x85");
    EXPECT_EQ(RowText(n, 0), "\xe9\x85") << "no translation by default";
    Feed(n, "\x1b[I\xe9\x85");
    EXPECT_EQ(RowText(n, 0), "\xe9\x85\x82");
}

TEST(InterpreterRaw, RunShowsEverySecondByteUninterpreted) {
    TScreen s;
    Prepare(s);
    Feed(s, std::string("\x1b[1;4I\x00\x41\x00\x42\x1b[2C!", 15));
    EXPECT_EQ(RowText(s, 0), "AB  !");
    EXPECT_EQ(s.FRawCount, 0);

    TScreen t;
    Prepare(t);
    t.FTranslateInput = true;
    Feed(t, "\x1b[1I\x1b"
            "\x1b[1I\xe9\xe9");
    EXPECT_EQ(RowText(t, 0), "\x1b\xe9\x82") << "raw bytes are neither interpreted nor translated";

    TScreen u;
    Prepare(u);
    Feed(u, "\x1b[1;0Ix\x1b[2;5Iy");
    EXPECT_EQ(RowText(u, 0), "xy");
}

TEST(InterpreterPrivate, SpecialKeyAndUnknownFunctions) {
    SinkCapture sinks;
    TScreen s;
    Prepare(s);
    Feed(s, "\x1b[3;1;2;3;4I\x1b[3;300I\x1b[7I\x1b[0I");
    EXPECT_EQ(sinks.Messages(), (std::vector<std::string>{"Special key 0201 0403", "Special key 0012C 0000",
                                                          "Unimplemented Escape Sequence: [7I\r\n"}));
    EXPECT_TRUE(s.FTranslateInput);
}

struct DiagnosticCase {
    const char* Name;
    std::string Input;
    std::vector<std::string> Messages;
    std::string Row0;
};

TEST(InterpreterDiagnostics, ReportedSequences) {
    const DiagnosticCase cases[] = {
        {"invalid two-byte shows final", "\x1bZ", {"Invalid Escape Sequence: Z\r\n"}, "Z"},
        {"ESC CR shows CR", "\x1b\r", {"Invalid Escape Sequence: \r\r\n"}, "\r"},
        {"ESC ESC", "\x1b\x1b", {"Invalid Escape Sequence: \x1b\r\n"}, "\x1b"},
        {"DSR not answered", "\x1b[6n", {"Unimplemented Escape Sequence: [6n\r\n"}, ""},
        {"index and next line",
         "\x1b"
         "D\x1b"
         "E",
         {"Unimplemented Escape Sequence: D\r\n", "Unimplemented Escape Sequence: E\r\n"},
         ""},
        {"SD", "\x1b[2T", {"Unimplemented Escape Sequence: [2T\r\n"}, ""},
        {"unknown final", "\x1b[5z", {"Invalid Escape Sequence: [5z\r\n"}, ""},
        {"control ends a sequence", "\x1b[12\nx", {"Invalid Escape Sequence: [12\n\r\n"}, "x"},
        {"digit introducer",
         "\x1b"
         "12;3H",
         {"Invalid Escape Sequence: 12;3H\r\n"},
         ""},
        {"space F accepted", "\x1b F\x1b G", {"Invalid Escape Sequence:  G\r\n"}, ""},
        {"G0 unknown set", "\x1b(A", {"Invalid Escape Sequence: (A\r\n"}, ""},
        {"G1 G2 G3 accepted", "\x1b)0\x1b*5\x1b+x", {}, ""},
        {"other controls shown", std::string("\x01\x0b\x0c\x00\x7f", 5), {}, "\x01\x0b\x0c\x7f"},
        {"accepted silently", "\x1b<\x1b=\x1b>\x1bH\x1b[>\x1b[g", {}, ""},
    };
    for (const DiagnosticCase& c : cases) {
        SinkCapture sinks;
        TScreen s;
        Prepare(s);
        Feed(s, c.Input);
        EXPECT_EQ(sinks.Messages(), c.Messages) << c.Name;
        EXPECT_EQ(RowText(s, 0), c.Row0) << c.Name;
        EXPECT_FALSE(s.FInEscape) << c.Name;
    }
}

TEST(InterpreterDiagnostics, LinesAreNumberedAcrossScreensAndBellBeeps) {
    SinkCapture sinks;
    const int32_t before = DebugLineCount;
    TScreen a, b;
    Feed(a, "\x1bZ\a");
    Feed(b, "\x1bZ");
    EXPECT_EQ(sinks.Beeps, std::vector<unsigned>{MB_ICONASTERISK});
    ASSERT_EQ(sinks.Lines.size(), 2u);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04X Invalid Escape Sequence: Z\r\n", unsigned(before + 2));
    EXPECT_EQ(sinks.Lines[1], expected);
    EXPECT_EQ(DebugLineCount, before + 2);
}

TEST(InterpreterEscapeLimit, EightiethCollectedCharacterDropsTheSequence) {
    SinkCapture sinks;
    TScreen s;
    Prepare(s);
    Feed(s, "\x1b[" + std::string(78, '1'));
    EXPECT_TRUE(s.FInEscape);
    EXPECT_TRUE(sinks.Beeps.empty());
    Feed(s, "2");
    EXPECT_FALSE(s.FInEscape);
    EXPECT_EQ(sinks.Beeps.size(), 1u);
    Feed(s, "3H");
    EXPECT_EQ(RowText(s, 0), "3H");
    EXPECT_TRUE(sinks.Lines.empty());

    TScreen t;
    Prepare(t);
    Feed(t, "\x1b[" + std::string(77, '9') + "C");
    EXPECT_FALSE(t.FInEscape);
    EXPECT_EQ(t.FCol, 79);
}

// Full state comparison used to check the bulk path against the byte path.
void ExpectSameState(const TScreen& a, const TScreen& b, const std::string& what) {
    EXPECT_EQ(a.FRow, b.FRow) << what;
    EXPECT_EQ(a.FCol, b.FCol) << what;
    EXPECT_EQ(a.FSavedRow, b.FSavedRow) << what;
    EXPECT_EQ(a.FSavedCol, b.FSavedCol) << what;
    EXPECT_EQ(a.FScrollTop, b.FScrollTop) << what;
    EXPECT_EQ(a.FScrollBottom, b.FScrollBottom) << what;
    EXPECT_EQ(a.FAttribute, b.FAttribute) << what;
    EXPECT_EQ(a.FHighBitChars, b.FHighBitChars) << what;
    EXPECT_EQ(a.FReverseVideo, b.FReverseVideo) << what;
    EXPECT_EQ(a.FFirstBackRow, b.FFirstBackRow) << what;
    EXPECT_EQ(a.EscBuffer(), b.EscBuffer()) << what;
    EXPECT_EQ(a.FInEscape, b.FInEscape) << what;
    EXPECT_EQ(a.FAutoWrap, b.FAutoWrap) << what;
    EXPECT_EQ(a.FTranslateInput, b.FTranslateInput) << what;
    EXPECT_EQ(a.FRawCount, b.FRawCount) << what;
    EXPECT_EQ(a.FInputTable, b.FInputTable) << what;
    EXPECT_EQ(a.FAllInvalid, b.FAllInvalid) << what;
    EXPECT_EQ(a.FInvRect, b.FInvRect) << what;
    for (int r = -a.FBackRowCount; r < a.FRowCount; ++r) {
        ASSERT_EQ(0, memcmp(a.GetLine(r)->Txt, b.GetLine(r)->Txt, kLineCells)) << what << ", row " << r;
        ASSERT_EQ(0, memcmp(a.GetLine(r)->Att, b.GetLine(r)->Att, kLineCells)) << what << ", row " << r;
    }
}

// Random streams biased towards what the engine acts on: text, controls and sequences.
std::string RandomStream(std::mt19937& rng, size_t pieces) {
    static const char* const kPieces[] = {
        "\r\n",     "\n",        "\t",         "\b",          "\x1b[?7h",   "\x1b[?7l", "\x1b[12m",
        "\x1b[10m", "\x1b[1;4I", "\x1b[1I",    "\x1b[I",      "\x1b[4I",    "\x0e",     "\x0f",
        "\x1b(0",   "\x1b(B",    "\x1b[2J",    "\x1b[K",      "\x1b[3;20r", "\x1b[r",   "\x1b[5L",
        "\x1b[2M",  "\x1b[3@",   "\x1b[4P",    "\x1b[31;44m", "\x1b[7m",    "\x1b[0m",  "\x1bM",
        "\x1b[S",   "\x1b[200C", "\x1b[9;70H", "\x1b[25;1H",  "\x1bZ",      "\x1b[",    "\x1b",
        "\a",       "lqkxmj",
    };
    std::string out;
    std::uniform_int_distribution<int> kind(0, 4);
    std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(1, 200);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t i = 0; i < pieces; ++i) {
        switch (kind(rng)) {
        case 0: out += kPieces[piece(rng)]; break;
        case 1: out += std::string(size_t(length(rng)), char('a' + i % 26)); break;
        case 2:
            for (int n = length(rng); n > 0; --n)
                out += char(byte(rng));
            break;
        case 3: out += "\x1b[" + std::string(size_t(length(rng) % 90), char('0' + i % 10)) + "H"; break;
        default:
            for (int n = length(rng) / 4; n > 0; --n)
                out += char(0x20 + byte(rng) % 0x60);
        }
    }
    return out;
}

struct BulkCase {
    int Rows;
    int Cols;
    int BackRows;
    bool Translate;
    bool AutoWrap;
    TScreenOptions Options;
};

TEST(InterpreterWriteStr, EqualsWriteCharByteForByte) {
    const BulkCase cases[] = {
        {25, 80, 0, false, false, {vtoBackColor}},
        {25, 132, 500, false, true, {vtoBackColor}},
        {5, 10, 3, true, true, {vtoCopyBackOnClear}},
        {1, 1, 1, false, true, {}},
        {3, 161, 2, true, false, {vtoBackColor, vtoCopyBackOnClear}},
    };
    std::mt19937 rng(20240611);
    SinkCapture quiet;
    for (const BulkCase& c : cases) {
        for (int round = 0; round < 20; ++round) {
            TScreen bytewise, bulk;
            for (TScreen* s : {&bytewise, &bulk}) {
                Prepare(*s, c.Rows, c.Cols, c.BackRows);
                s->FTranslateInput = s->FTranslateInputDefault = c.Translate;
                s->FAutoWrap = c.AutoWrap;
                s->FOptions = c.Options;
            }
            const std::string stream = RandomStream(rng, 300);
            // Split the bulk feed at random points: state carries across WriteStr calls.
            size_t at = 0;
            while (at < stream.size()) {
                const size_t n = std::min(stream.size() - at, size_t(rng() % 700));
                bulk.WriteStr(std::string_view(stream).substr(at, n));
                at += n;
            }
            Feed(bytewise, stream);
            const std::string what =
                std::to_string(c.Rows) + "x" + std::to_string(c.Cols) + " round " + std::to_string(round);
            ExpectSameState(bytewise, bulk, what);
            EXPECT_TRUE(LinesAreDistinct(bulk)) << what;
            EXPECT_GE(bulk.FRow, 0) << what;
            EXPECT_LT(bulk.FRow, bulk.FRowCount) << what;
            EXPECT_GE(bulk.FCol, 0) << what;
            EXPECT_LE(bulk.FFirstBackRow, 0) << what;
            EXPECT_GE(bulk.FFirstBackRow, std::min(0, 1 - bulk.FBackRowCount)) << what;
            if (HasFatalFailure()) return;
        }
    }
}

// Every short run length from every column near the end of the line: the bulk store must write
// exactly the cells the byte path writes and record the same changed rectangle.
TEST(InterpreterWriteStr, ShortRunsAtEveryColumnNearTheLineEnd) {
    SinkCapture quiet;
    for (int cols : {132, 161}) {
        for (bool wrap : {false, true}) {
            for (int col = 0; col < kLineCells + 2; col += col < 112 ? 16 : 1) {
                for (size_t length = 1; length <= 40; ++length) {
                    std::string run;
                    for (size_t k = 0; k < length; ++k)
                        run += char('A' + (k * 7 + size_t(col)) % 26);
                    TScreen bytewise, bulk;
                    for (TScreen* s : {&bytewise, &bulk}) {
                        Prepare(*s, 3, cols, 2);
                        s->FAutoWrap = wrap;
                        s->FAttribute = 0x5A;
                        s->FRow = 1;
                        s->FCol = col; // may lie past the column count, as after tabs
                    }
                    Feed(bytewise, run);
                    bulk.WriteStr(run);
                    ExpectSameState(bytewise, bulk,
                                    std::to_string(cols) + (wrap ? " wrap" : " no wrap") + " column " +
                                        std::to_string(col) + " length " + std::to_string(length));
                    if (HasFatalFailure()) return;
                }
            }
        }
    }
}

// Hand-made parameter text, as a caller of ProcessEscape may leave it: a byte that is neither a
// digit nor a separator counts as code 0 and the walk goes on after it.
TEST(InterpreterSgr, OtherByteInTheParametersCountsAsCodeZero) {
    SinkCapture quiet;
    TScreen s;
    Prepare(s);
    const std::string text = "[31;1x32";
    std::memcpy(s.FEscBuffer, text.data(), text.size());
    s.FEscLength = int32_t(text.size());
    s.ProcessEscape('m');
    EXPECT_EQ(s.FAttribute, 0x02);
    EXPECT_TRUE(quiet.Lines.empty());
}

TEST(Utf8Decoder, CellsWholeAndSplitAtEveryByte) {
    const std::string s(1, char(TUtf8Decoder::kSubstitute));
    // ASCII, controls and escapes; glyphs 437 has; no usable glyph (a control cell's, euro, C1, wide,
    // emoji); overlong, surrogate, above U+10FFFF; stray bytes and sequences cut short by ASCII, ESC, a lead.
    const std::pair<std::string, std::string> cases[] = {
        {"A\x1b[1mB\r\n\x07\x7f", "A\x1b[1mB\r\n\x07\x7f"},
        {"\xe2\x94\x80\xe2\x96\x91\xc3\xa9\xc2\xb0\xc2\xb2\xc2\xb7\xce\xb1\xe2\x8c\x82\xc2\xa0",
         "\xc4\xb0\x82\xf8\xfd\xfa\xe0\x7f\xff"},
        {"\xe2\x80\xa2\xe2\x82\xac\xc2\x85\xe4\xb8\xad\xf0\x9f\x98\x80", s + s + s + s + s},
        {"\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80", std::string(12, s[0])},
        {"\x80x\xffy\xe2\x94z\xf0\x9f\x98\x1b[m\xc3\xc3\xa9",
         s + "x" + s + "y" + s + "z" + s + "\x1b[m" + s + "\x82"},
    };
    for (const auto& [in, cells] : cases) {
        for (std::size_t cut = 0; cut <= in.size(); ++cut) {
            TUtf8Decoder decoder;
            std::string out;
            decoder.Decode(std::string_view(in).substr(0, cut), out);
            decoder.Decode(std::string_view(in).substr(cut), out);
            EXPECT_EQ(out, cells) << "cut at " << cut;
        }
    }
}

// Real programs' UTF-8 through the decoder and the engine: htop's process tree (recorded at 120
// columns with TERM=vt100), and a boot console and unit status in systemd's format, reconstructed
// with its real glyphs and colours since no boot log exists where the tests were written.
TEST(Utf8Decoder, CapturesDrawTheirLinesAndSubstitutes) {
    const char s = char(TUtf8Decoder::kSubstitute);
    const struct {
        const char* File;
        int Row, Col;
        std::string Cells;
    } cases[] = {
        {"htop-tree-utf8.vt", 7, 2, std::string("PID") + s + "USER"}, // the sort mark, no 437 glyph
        {"htop-tree-utf8.vt", 8, 65, "\xb3"},
        {"htop-tree-utf8.vt", 8, 83, "\xc0\xc4 bash"},
        {"htop-tree-utf8.vt", 11, 86, "\xb3  \xc3\xc4 sleep 9"},
        {"htop-tree-utf8.vt", 12, 86, "\xb3  \xc0\xc4 sleep 9"},
        {"systemd-boot-utf8.vt", 0, 0, "[  OK  ] Created slice system-getty.slice"},
        {"systemd-boot-utf8.vt", 6, 0, "[**    ] A start job"}, // redrawn in place after CR
        {"systemd-boot-utf8.vt", 7, 0, std::string(1, s) + " networking.service"},
        {"systemd-boot-utf8.vt", 17, 13, "\xc0\xc4"},
        {"systemd-boot-utf8.vt", 19, 88, std::string("kept from") + s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.File) + " row " + std::to_string(c.Row));
        std::ifstream in(std::string(QORVEL_TEST_DATA) + "/" + c.File, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty());
        SinkCapture quiet; // systemd's SGR 39 (default colour) is reported as unknown
        TScreen screen;
        Prepare(screen, 25, 132);
        std::string cells;
        TUtf8Decoder().Decode(bytes, cells);
        Feed(screen, cells);
        EXPECT_EQ(RowText(screen, c.Row).substr(c.Col, c.Cells.size()), c.Cells) << RowText(screen, c.Row);
    }
}

} // namespace
} // namespace qorvel::test
