#include "emulvt/fkey_tables.h"

#include <gtest/gtest.h>

namespace qorvel {
namespace {

using enum TShiftStateMember;

struct LookupCase {
    const char* Name;
    int FKeys;
    std::uint8_t ScanCode;
    TShiftState Shift;
    bool Ext;
    const char* Expected; // nullptr: no entry
};

// The per-table keys a view sends are checked through the view; these are the lookup rules.
const LookupCase kLookupCases[] = {
    {"FKeys -1 is table 1", -1, 0x3B, {}, false, "\x1BOP"},
    {"extended flag must match", 1, 0x49, {}, false, nullptr},
    {"the whole shift set must match", 0, 0x3B, {ssShift, ssCtrl}, false, nullptr},
    {"ctrl F10 0", 0, 0x44, {ssCtrl}, false, "\x1B[t"},
    {"F11 0 is listed as 0x85", 0, 0x85, {}, false, "\x1B[W"},
    {"F11 0 real code", 0, 0x57, {}, false, nullptr},
    {"F12 1", 1, 0x58, {}, false, "\x1B[29~"},
    {"ctrl delete 2", 2, 0x53, {ssCtrl}, true, "\033D"},
    {"F10 2 is empty", 2, 0x44, {}, false, ""},
    {"scan code 0 never matches", 2, 0x00, {}, false, nullptr},
};

TEST(FKeyTables, Lookup) {
    for (const LookupCase& c : kLookupCases) {
        SCOPED_TRACE(c.Name);
        const TFKeyEntry* e = FindFKey(SelectFKeyTable(c.FKeys), c.ScanCode, c.Shift, c.Ext);
        if (!c.Expected) {
            EXPECT_EQ(e, nullptr);
            continue;
        }
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->Value.View(), std::string_view(c.Expected));
    }
}

TEST(FKeyTables, LayoutUsedEntriesAndZeroPadding) {
    struct {
        const TFKeyTable* Table;
        std::size_t Used;
    } tables[] = {{&FKeyTable0, 47}, {&FKeyTable1, 14}, {&FKeyTable2, 23}};
    for (const auto& t : tables) {
        for (std::size_t i = 0; i < kFKeyTableSize; ++i) {
            SCOPED_TRACE(i);
            const TFKeyEntry& e = (*t.Table)[i];
            EXPECT_EQ(e.ScanCode != 0, i < t.Used);
            EXPECT_EQ(e.Shift.Bits() & ~0x07, 0);
            for (std::size_t k = e.Value.Length; k < kFKeyValueMax; ++k)
                EXPECT_EQ(e.Value.Chars[k], 0);
            if (i >= t.Used) {
                EXPECT_TRUE(e.Shift.Empty() && !e.Ext && e.Value.Length == 0);
            }
        }
    }
}

TEST(FKeyTables, ShiftStateText) {
    EXPECT_EQ(ShiftStateText({}), "ssNormal");
    EXPECT_EQ(ShiftStateText({ssShift}), "ssShift ");
    EXPECT_EQ(ShiftStateText({ssCtrl, ssShift, ssAlt}), "ssShift ssAlt ssCtrl ");
    EXPECT_EQ(ShiftStateText(TShiftState::FromBits(0x7F)),
              "ssShift ssAlt ssCtrl ssLeft ssRight ssMiddle ssDouble ");
}

TEST(FKeyTables, EscapedKeyText) {
    EXPECT_EQ(EscapedKeyText("\x1BOP"), "\\x1BOP");
    EXPECT_EQ(EscapedKeyText(" ~az"), " ~az");
    EXPECT_EQ(EscapedKeyText("'\\"), "\\x27\\x5C");
    EXPECT_EQ(EscapedKeyText(std::string_view("\x00\x7F\xFF\x1F", 4)), "\\x00\\x7F\\xFF\\x1F");
    EXPECT_EQ(EscapedKeyText(""), "");
}

TEST(FKeyTables, CaptureLineAndCaption) {
    EXPECT_EQ(KeyCaptureLine(0x3B, {}, false, FindFKey(FKeyTable1, 0x3B, {}, false)),
              "3B, ssNormal, FALSE, '\\x1BOP'");
    EXPECT_EQ(KeyCaptureLine(0x3B, {ssShift}, false, nullptr), "3B, ssShift , FALSE");
    EXPECT_EQ(KeyCaptureLine(0x44, {}, false, FindFKey(FKeyTable2, 0x44, {}, false)),
              "44, ssNormal, FALSE, ''");
    EXPECT_EQ(KeyCaptureLine(0x0A, {ssCtrl}, true, nullptr), "0A, ssCtrl , TRUE");
    EXPECT_EQ(KeyCaptureCaption(1), "Key definition from vkmapr1.cfg");
    EXPECT_EQ(KeyCaptureCaption(-3), "Key definition from vkmapr-3.cfg");
}

} // namespace
} // namespace qorvel
