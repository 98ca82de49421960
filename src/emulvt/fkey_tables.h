#pragma once
// Modifier set of key events, the three built-in function-key tables and the texts of the
// key-capture line. Plain C++: shared by the view and by anything that describes keys.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qorvel {

enum class TShiftStateMember : std::uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };

// One byte, bit 0 = ssShift; stored as is in the function-key tables.
class TShiftState {
public:
    constexpr TShiftState() = default;
    constexpr TShiftState(std::initializer_list<TShiftStateMember> members) {
        for (TShiftStateMember m : members)
            FBits |= Bit(m);
    }
    static constexpr TShiftState FromBits(std::uint8_t bits) {
        TShiftState s;
        s.FBits = bits;
        return s;
    }
    constexpr std::uint8_t Bits() const { return FBits; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool Contains(TShiftStateMember m) const { return (FBits & Bit(m)) != 0; }
    constexpr void Include(TShiftStateMember m) { FBits |= Bit(m); }
    constexpr void Exclude(TShiftStateMember m) { FBits &= static_cast<std::uint8_t>(~Bit(m)); }
    friend constexpr bool operator==(TShiftState a, TShiftState b) = default;

private:
    static constexpr std::uint8_t Bit(TShiftStateMember m) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(m));
    }
    std::uint8_t FBits = 0;
};

inline constexpr std::size_t kFKeyValueMax = 50;
inline constexpr std::size_t kFKeyTableSize = 64;

// A short string: length byte, then kFKeyValueMax bytes, those past the length zero.
struct TFKeyValue {
    std::uint8_t Length;
    char Chars[kFKeyValueMax];
    constexpr std::string_view View() const { return {Chars, Length}; }
};

#pragma pack(push, 1)
struct TFKeyEntry {
    std::uint8_t ScanCode; // 0 marks an empty entry
    TShiftState Shift;
    bool Ext;
    TFKeyValue Value;
};
#pragma pack(pop)
static_assert(sizeof(TFKeyEntry) == 54, "function-key entries keep their 54-byte layout");

using TFKeyTable = std::array<TFKeyEntry, kFKeyTableSize>;

extern const TFKeyTable FKeyTable0;
extern const TFKeyTable FKeyTable1;
extern const TFKeyTable FKeyTable2;

// 0 -> FKeyTable0, 2 -> FKeyTable2, anything else -> FKeyTable1.
const TFKeyTable& SelectFKeyTable(int FKeys);

// First non-empty entry whose scan code, whole shift set and extended flag all match; nullptr if none.
const TFKeyEntry* FindFKey(const TFKeyTable& Table, std::uint8_t ScanCode, TShiftState Shift, bool Ext);

// "ssShift ssCtrl " style list of the members present, or "ssNormal" for the empty set.
std::string ShiftStateText(TShiftState Shift);

// Printable bytes except ' and \ as themselves, every other byte as \xHH (upper case).
std::string EscapedKeyText(std::string_view Value);

// "3B, ssNormal, FALSE, '\x1BOP'": the key-definition line of the capture mode.
std::string KeyCaptureLine(std::uint8_t ScanCode, TShiftState Shift, bool Ext, const TFKeyEntry* Entry);

// "Key definition from vkmapr1.cfg" for FKeys 1.
std::string KeyCaptureCaption(int FKeys);

} // namespace qorvel
