#pragma once
// The client side of a Telnet session with the COM-PORT-OPTION of RFC 2217: option negotiation,
// the line settings pushed to the server and the values it answers, its line and modem
// notifications as comm events, purge and break. No I/O: server bytes go in through Receive,
// everything to send is appended to the wire buffer given at construction.
#include "platform/commapi.h"
#include "platform/telnet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qorvel::platform::telnet {

// COM-PORT-OPTION subcommands as the client sends them; the server answers with 100 added.
inline constexpr std::uint8_t kCpSignature = 0;
inline constexpr std::uint8_t kCpSetBaudRate = 1;
inline constexpr std::uint8_t kCpSetDataSize = 2;
inline constexpr std::uint8_t kCpSetParity = 3;
inline constexpr std::uint8_t kCpSetStopSize = 4;
inline constexpr std::uint8_t kCpSetControl = 5;
inline constexpr std::uint8_t kCpNotifyLineState = 6;
inline constexpr std::uint8_t kCpNotifyModemState = 7;
inline constexpr std::uint8_t kCpFlowControlSuspend = 8;
inline constexpr std::uint8_t kCpFlowControlResume = 9;
inline constexpr std::uint8_t kCpSetLineStateMask = 10;
inline constexpr std::uint8_t kCpSetModemStateMask = 11;
inline constexpr std::uint8_t kCpPurgeData = 12;
inline constexpr std::uint8_t kCpServerOffset = 100;

// SET-CONTROL values.
inline constexpr std::uint8_t kCtlOutFlowNone = 1; // outbound, or both directions
inline constexpr std::uint8_t kCtlOutFlowXonXoff = 2;
inline constexpr std::uint8_t kCtlOutFlowHardware = 3;
inline constexpr std::uint8_t kCtlBreakOn = 5;
inline constexpr std::uint8_t kCtlBreakOff = 6;
inline constexpr std::uint8_t kCtlDtrOn = 8;
inline constexpr std::uint8_t kCtlDtrOff = 9;
inline constexpr std::uint8_t kCtlRtsOn = 11;
inline constexpr std::uint8_t kCtlRtsOff = 12;
inline constexpr std::uint8_t kCtlInFlowNone = 14;
inline constexpr std::uint8_t kCtlInFlowXonXoff = 15;
inline constexpr std::uint8_t kCtlInFlowHardware = 16;
inline constexpr std::uint8_t kCtlOutFlowDcd = 17;
inline constexpr std::uint8_t kCtlInFlowDtr = 18;
inline constexpr std::uint8_t kCtlOutFlowDsr = 19;

// Baud rate answers above this are taken for no answer: no serial line runs faster.
inline constexpr std::uint32_t kMaxAnsweredBaud = 20'000'000;

// NOTIFY-LINESTATE bits.
inline constexpr std::uint8_t kLineBreak = 16;
inline constexpr std::uint8_t kLineFraming = 8;
inline constexpr std::uint8_t kLineParity = 4;
inline constexpr std::uint8_t kLineOverrun = 2;

// PURGE-DATA values.
inline constexpr std::uint8_t kPurgeReceive = 1;  // the server's data from the device, to us
inline constexpr std::uint8_t kPurgeTransmit = 2; // the server's data from us, to the device

// NOTIFY-MODEMSTATE bits.
inline constexpr std::uint8_t kModemCd = 128;
inline constexpr std::uint8_t kModemRi = 64;
inline constexpr std::uint8_t kModemDsr = 32;
inline constexpr std::uint8_t kModemCts = 16;
inline constexpr std::uint8_t kModemDeltaCd = 8;
inline constexpr std::uint8_t kModemRiTrailingEdge = 4;
inline constexpr std::uint8_t kModemDeltaDsr = 2;
inline constexpr std::uint8_t kModemDeltaCts = 1;

class TComPortClient final : private TParser::THandler {
public:
    explicit TComPortClient(std::vector<std::uint8_t>& wire) : FWire(wire) {}

    // Asks for BINARY both ways and offers COM-PORT-OPTION.
    void Start();
    // Every option asked for in Start has been answered, one way or the other.
    bool Negotiated() const;
    // The server agreed to COM-PORT-OPTION, so line settings go to it.
    bool ComPort() const;

    // The next piece of the server's stream; data bytes are appended to `data`.
    void Receive(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data);
    // Takes the piece only up to its first data byte and returns how many bytes it took: for a
    // reader whose data queue is full. `data` is not changed; purge marks refer to its end.
    std::size_t ReceiveControl(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data);

    // Bytes the answers to the server's requests (negotiations, signature requests) may add to the
    // wire from now on; a request whose answer does not fit is dropped as if it never came, so a
    // server that asks without reading cannot make us queue without bound. Unlimited until set.
    void SetAnswerRoom(std::size_t bytes) { FAnswerRoom = bytes; }
    // A request was dropped for want of room since the last call.
    bool TakeAnswersDropped();
    // Data bytes to the server, escaped.
    void Send(const std::uint8_t* bytes, std::size_t size);

    // Pushes speed, format, flow control and the DTR/RTS lines of `dcb` (needs ComPort()).
    void PushSettings(const DCB& dcb);
    // Answers to the last PushSettings that have not arrived yet. The server owes one for each
    // line setting; lines set through SET-CONTROL are not waited for, as a server without modem
    // lines may leave them unanswered.
    bool AwaitingAnswers() const { return FAwaiting != 0; }
    // Overwrites in `dcb` every setting the server has reported.
    void ApplyAnswers(DCB& dcb) const;

    // Asks the server to drop its buffered data; it answers once it has.
    void Purge(bool receive, bool transmit);
    bool AwaitingPurge() const { return FPurgesOwed > 0; }
    // Where in `data` of the last Receive the server confirmed purging the data for us: the
    // bytes before that point were sent before the purge and go as well.
    std::optional<std::size_t> TakeReceivePurgeMark();
    void SetBreak(bool on);
    // SET-CONTROL for one output line; the server's answer is not waited for (see AwaitingAnswers).
    void SetDtr(bool on);
    void SetRts(bool on);
    // The outputs as we last set them (through PushSettings or the setters); on until then, as
    // the line is at open.
    bool Dtr() const { return FOutDtr; }
    bool Rts() const { return FOutRts; }
    // Asks the server to notify every modem-line change (SET-MODEMSTATE-MASK 255); servers send
    // the present state with their answer or at their next change.
    void AskModemState();
    bool AwaitingModemState() const { return FModemAsked && !FModemKnown; }
    // The last NOTIFY-MODEMSTATE, its four line bits; nothing before the first.
    std::optional<std::uint8_t> ModemState() const;

    // Comm events (EV_*) and line errors (CE_*) from notifications since the last call.
    std::uint32_t TakeEvents();
    std::uint32_t TakeErrors();
    // The server asked us to hold our data (FLOWCONTROL-SUSPEND) and has not resumed yet.
    bool Suspended() const { return FSuspended; }

private:
    // RFC 1143 option states, for one side of one option. We never ask to disable.
    enum class TQ : std::uint8_t { No, Yes, WantYes };

    void OnNegotiation(std::uint8_t verb, std::uint8_t option) override;
    void OnSubnegotiation(std::span<const std::uint8_t> body) override;
    void OnComPort(std::uint8_t command, std::span<const std::uint8_t> value);
    void OnModemState(std::uint8_t state);
    void SendComPort(std::uint8_t command, std::span<const std::uint8_t> value);
    void SendControl(std::uint8_t value) { SendComPort(kCpSetControl, {&value, 1}); }
    bool TakeAnswerRoom(std::size_t size);
    void UpdateBinary();

    enum : std::uint8_t { // bits of FAwaiting
        kAwaitBaud = 1,
        kAwaitDataSize = 2,
        kAwaitParity = 4,
        kAwaitStopSize = 8,
        kAwaitFlow = 16,
    };

    std::vector<std::uint8_t>& FWire;
    std::vector<std::uint8_t>* FData = nullptr; // the data vector during Receive
    std::size_t FAnswerRoom = SIZE_MAX;
    bool FAnswersDropped = false;
    TParser FParser;
    std::array<TQ, 256> FUs{};  // options on our side
    std::array<TQ, 256> FHim{}; // options on the server's side
    std::uint8_t FAwaiting = 0;
    unsigned FPurgesOwed = 0;
    std::optional<std::size_t> FPurgeMark;
    bool FSuspended = false;
    std::uint32_t FEvents = 0;
    std::uint32_t FErrors = 0;
    bool FModemKnown = false;
    bool FModemAsked = false;
    std::uint8_t FModem = 0;
    bool FOutDtr = true;
    bool FOutRts = true;

    // What the server reported; 0 where it has not.
    std::uint32_t FBaud = 0;
    std::uint8_t FDataSize = 0;
    std::uint8_t FParity = 0;
    std::uint8_t FStopSize = 0;
    std::uint8_t FOutFlow = 0;
    std::uint8_t FInFlow = 0;
    std::uint8_t FDtr = 0;
    std::uint8_t FRts = 0;
};

} // namespace qorvel::platform::telnet
