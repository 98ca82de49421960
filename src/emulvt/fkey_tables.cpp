#include "emulvt/fkey_tables.h"

#include <initializer_list>

namespace qorvel {

namespace {

using enum TShiftStateMember;

constexpr TFKeyEntry Entry(std::uint8_t ScanCode, TShiftState Shift, bool Ext, std::string_view Sequence) {
    TFKeyEntry e{ScanCode, Shift, Ext, {static_cast<std::uint8_t>(Sequence.size()), {}}};
    for (std::size_t i = 0; i < Sequence.size() && i < kFKeyValueMax; ++i)
        e.Value.Chars[i] = Sequence[i];
    return e;
}

// Entries past the listed ones stay empty (all zero).
constexpr TFKeyTable Table(std::initializer_list<TFKeyEntry> entries) {
    TFKeyTable t{};
    std::size_t i = 0;
    for (const TFKeyEntry& e : entries)
        t[i++] = e;
    return t;
}

constexpr TShiftState kNone{};
constexpr TShiftState kShift{ssShift};
constexpr TShiftState kCtrl{ssCtrl};

// ESC is written \033: a hex escape would swallow a following C or D.
// Scan codes 0x85 and 0x86 never arrive from the keyboard (F11/F12 report 0x57/0x58); kept as built.
constexpr TFKeyTable kTable0 = Table({
    Entry(0x48, kNone, true, "\033[A"),   Entry(0x50, kNone, true, "\033[B"),
    Entry(0x4D, kNone, true, "\033[C"),   Entry(0x4B, kNone, true, "\033[D"),
    Entry(0x49, kNone, true, "\033[I"),   Entry(0x51, kNone, true, "\033[G"),
    Entry(0x47, kNone, true, "\033[H"),   Entry(0x4F, kNone, true, "\033[F"),
    Entry(0x52, kNone, true, "\033[L"),   Entry(0x0F, kNone, false, "\033[Z"),
    Entry(0x53, kNone, true, "\x7F"),     Entry(0x3B, kNone, false, "\033[M"),
    Entry(0x3C, kNone, false, "\033[N"),  Entry(0x3D, kNone, false, "\033[O"),
    Entry(0x3E, kNone, false, "\033[P"),  Entry(0x3F, kNone, false, "\033[Q"),
    Entry(0x40, kNone, false, "\033[R"),  Entry(0x41, kNone, false, "\033[S"),
    Entry(0x42, kNone, false, "\033[T"),  Entry(0x43, kNone, false, "\033[U"),
    Entry(0x44, kNone, false, "\033[V"),  Entry(0x85, kNone, false, "\033[W"),
    Entry(0x86, kNone, false, "\033[X"),  Entry(0x3B, kShift, false, "\033[V"),
    Entry(0x3C, kShift, false, "\033[Z"), Entry(0x3D, kShift, false, "\033[a"),
    Entry(0x3E, kShift, false, "\033[b"), Entry(0x3F, kShift, false, "\033[c"),
    Entry(0x40, kShift, false, "\033[d"), Entry(0x41, kShift, false, "\033[e"),
    Entry(0x42, kShift, false, "\033[f"), Entry(0x43, kShift, false, "\033[g"),
    Entry(0x44, kShift, false, "\033[h"), Entry(0x85, kShift, false, "\033[i"),
    Entry(0x86, kShift, false, "\033[j"), Entry(0x3B, kCtrl, false, "\033[k"),
    Entry(0x3C, kCtrl, false, "\033[l"),  Entry(0x3D, kCtrl, false, "\033[m"),
    Entry(0x3E, kCtrl, false, "\033[n"),  Entry(0x3F, kCtrl, false, "\033[o"),
    Entry(0x40, kCtrl, false, "\033[p"),  Entry(0x41, kCtrl, false, "\033[q"),
    Entry(0x42, kCtrl, false, "\033[r"),  Entry(0x43, kCtrl, false, "\033[s"),
    Entry(0x44, kCtrl, false, "\033[t"),  Entry(0x85, kCtrl, false, "\033[u"),
    Entry(0x86, kCtrl, false, "\033[v"),
});

constexpr TFKeyTable kTable1 = Table({
    Entry(0x48, kNone, true, "\033[A"),
    Entry(0x50, kNone, true, "\033[B"),
    Entry(0x4D, kNone, true, "\033[C"),
    Entry(0x4B, kNone, true, "\033[D"),
    Entry(0x49, kNone, true, "\033[5~"),
    Entry(0x51, kNone, true, "\033[6~"),
    Entry(0x52, kNone, true, "\033[2~"),
    Entry(0x53, kNone, true, "\x7F"),
    Entry(0x3B, kNone, false, "\033OP"),
    Entry(0x3C, kNone, false, "\033OQ"),
    Entry(0x3D, kNone, false, "\033OR"),
    Entry(0x3E, kNone, false, "\033OS"),
    Entry(0x57, kNone, false, "\033[28~"),
    Entry(0x58, kNone, false, "\033[29~"),
});

// F10 (entry 16) has an empty value: it matches and delivers zero bytes.
constexpr TFKeyTable kTable2 = Table({
    Entry(0x48, kNone, true, "\033[A"),  Entry(0x50, kNone, true, "\033[B"),
    Entry(0x4D, kNone, true, "\033[C"),  Entry(0x4B, kNone, true, "\033[D"),
    Entry(0x49, kNone, true, "\033-"),   Entry(0x51, kNone, true, "\033+"),
    Entry(0x47, kNone, true, "\033H"),   Entry(0x47, kCtrl, true, "\033C"),
    Entry(0x4F, kNone, true, "\033R"),   Entry(0x52, kNone, true, "\033I"),
    Entry(0x53, kNone, true, "\x7F"),    Entry(0x3B, kNone, false, "\033OP"),
    Entry(0x3C, kNone, false, "\033OQ"), Entry(0x3D, kNone, false, "\033OR"),
    Entry(0x3E, kNone, false, "\033OS"), Entry(0x43, kNone, false, "\033OP"),
    Entry(0x44, kNone, false, ""),       Entry(0x57, kNone, false, "\033OQ"),
    Entry(0x58, kNone, false, "\033OS"), Entry(0x0F, kNone, false, "\033Z"),
    Entry(0x40, kNone, false, "\033K"),  Entry(0x53, kCtrl, true, "\033D"),
    Entry(0x52, kCtrl, true, "\033L"),
});

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& s, std::uint8_t b) {
    s += kHexDigits[b >> 4];
    s += kHexDigits[b & 0x0F];
}

} // namespace

constinit const TFKeyTable FKeyTable0 = kTable0;
constinit const TFKeyTable FKeyTable1 = kTable1;
constinit const TFKeyTable FKeyTable2 = kTable2;

const TFKeyTable& SelectFKeyTable(int FKeys) {
    switch (FKeys) {
    case 0: return FKeyTable0;
    case 2: return FKeyTable2;
    default: return FKeyTable1;
    }
}

const TFKeyEntry* FindFKey(const TFKeyTable& Table, std::uint8_t ScanCode, TShiftState Shift, bool Ext) {
    for (const TFKeyEntry& e : Table) {
        if (e.ScanCode == 0) continue;
        if (e.ScanCode == ScanCode && e.Shift == Shift && e.Ext == Ext) return &e;
    }
    return nullptr;
}

std::string ShiftStateText(TShiftState Shift) {
    static constexpr std::string_view kNames[] = {"ssShift ", "ssAlt ",    "ssCtrl ",  "ssLeft ",
                                                  "ssRight ", "ssMiddle ", "ssDouble "};
    if (Shift.Empty()) return "ssNormal";
    std::string s;
    for (unsigned i = 0; i < std::size(kNames); ++i)
        if (Shift.Contains(static_cast<TShiftStateMember>(i))) s += kNames[i];
    return s;
}

std::string EscapedKeyText(std::string_view Value) {
    std::string s;
    for (char c : Value) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x20 && b <= 0x7E && c != '\'' && c != '\\') {
            s += c;
        } else {
            s += "\\x";
            AppendHexByte(s, b);
        }
    }
    return s;
}

std::string KeyCaptureLine(std::uint8_t ScanCode, TShiftState Shift, bool Ext, const TFKeyEntry* Entry) {
    std::string s;
    AppendHexByte(s, ScanCode);
    s += ", ";
    s += ShiftStateText(Shift);
    s += ", ";
    s += Ext ? "TRUE" : "FALSE";
    if (Entry) {
        s += ", '";
        s += EscapedKeyText(Entry->Value.View());
        s += "'";
    }
    return s;
}

std::string KeyCaptureCaption(int FKeys) {
    return "Key definition from vkmapr" + std::to_string(FKeys) + ".cfg";
}

} // namespace qorvel
