#pragma once
// Enumerations, sets and display tables of the serial port component.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <type_traits>

namespace qorvel {

// A set over a small enumeration: member n is bit n of the mask.
template <typename E, typename Bits> class TSet {
    static_assert(std::is_enum_v<E>);

public:
    using MaskType = Bits;

    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members) {
        for (E m : members)
            FMask |= Bit(m);
    }
    static constexpr TSet FromMask(Bits mask) {
        TSet s;
        s.FMask = mask;
        return s;
    }

    constexpr Bits Mask() const { return FMask; }
    constexpr bool Empty() const { return FMask == 0; }
    constexpr bool Contains(E m) const { return (FMask & Bit(m)) != 0; }
    constexpr TSet& Include(E m) {
        FMask |= Bit(m);
        return *this;
    }
    constexpr TSet& Exclude(E m) {
        FMask &= static_cast<Bits>(~Bit(m));
        return *this;
    }

    friend constexpr TSet operator+(TSet a, TSet b) { return FromMask(static_cast<Bits>(a.FMask | b.FMask)); }
    friend constexpr TSet operator*(TSet a, TSet b) { return FromMask(static_cast<Bits>(a.FMask & b.FMask)); }
    friend constexpr TSet operator-(TSet a, TSet b) {
        return FromMask(static_cast<Bits>(a.FMask & ~b.FMask));
    }
    friend constexpr bool operator==(TSet a, TSet b) = default;

private:
    static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
    Bits FMask = 0;
};

// Bit n of TDeviceEvents is the system event flag at the same position (EV_RXCHAR = bit 0 ...).
enum class TDeviceEvent : std::uint32_t {
    deChar,
    deFlag,
    deOutEmpty,
    deCTS,
    deDSR,
    deRLSD,
    deBreak,
    deError,
    deRing,
    dePrintError,
    deIn80Full,
    deProv1,
    deProv2
};
using TDeviceEvents = TSet<TDeviceEvent, std::uint16_t>;

enum class TBaudRate : std::uint32_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brCustom
};

enum class TFlowControl : std::uint32_t { fcNone, fcRtsCts, fcDtrDsr, fcSoftware, fcCustom };

enum class TRTSSetting : std::uint32_t { fsCTSOut, fsRTSEnabled, fsRTSHandshake };
using TRTSSettings = TSet<TRTSSetting, std::uint8_t>;

enum class TDTRSetting : std::uint32_t { fsDSROut, fsDTREnabled, fsDTRHandshake };
using TDTRSettings = TSet<TDTRSetting, std::uint8_t>;

enum class TXOnXOffSetting : std::uint32_t { fsInX, fsOutX };
using TXOnXOffSettings = TSet<TXOnXOffSetting, std::uint8_t>;

// Number of data bits = ordinal + 4.
enum class TDataBits : std::uint32_t { db4, db5, db6, db7, db8 };
// Ordinals equal the system's stop-bit and parity codes.
enum class TStopBits : std::uint32_t { sb1, sb1p5, sb2 };
enum class TParity : std::uint32_t { paNone, paOdd, paEven, paMark, paSpace };

enum class TCommOption : std::uint32_t {
    coAbortOnError,
    coDiscardNull,
    coDSRSensitivity,
    coErrorChar,
    coParityCheck,
    coTXContinueOnXOff,
    coLeaveDTROpen
};
using TCommOptions = TSet<TCommOption, std::uint8_t>;

// Indexed by TBaudRate; brCustom has no entry.
inline constexpr std::array<std::uint32_t, 15> BaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

// Display names for user interfaces; the driver itself never reads them.
inline constexpr std::array<std::string_view, 5> FlowControlNames = {"None", "CTS/RTS", "DTR/DSR", "XOn/XOff",
                                                                     "Custom"};
inline constexpr std::array<std::string_view, 5> ParityNames = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<std::string_view, 3> StopBitsNames = {"1", "1.5", "2"};
inline constexpr std::array<std::string_view, 8> ModemResponses = {
    "OK", "CONNECT", "RING", "NO CARRIER", "ERROR", "NO DIALTONE", "BUSY", "NO ANSWER"};

} // namespace qorvel
