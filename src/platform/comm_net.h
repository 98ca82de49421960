#pragma once
// Serial ports on the network: "rfc2217://HOST:PORT" speaks Telnet with the COM-PORT-OPTION of
// RFC 2217 (line settings, modem lines and line errors travel with the data), "tcp://HOST:PORT"
// carries raw bytes (settings are kept locally). A non-blocking socket served with poll(), with
// the same waiting rules as the termios implementation. A remote port may be shared: nothing is
// locked.
#include "platform/commapi.h"

#include <optional>
#include <string>

namespace qorvel::platform {

// Resolving, connecting and (for rfc2217://) the option negotiation of one open, together. The
// answers the server owes until then (settings and purge at open) must come within it too: a
// settings push fails, and a purge left unanswered makes the connection count as lost.
inline constexpr std::uint32_t kNetConnectLimitMs = 5000;
// The server's answers to pushed line settings and purges; also how long a server may go on
// asking for answers it leaves unread before the connection counts as lost.
inline constexpr std::uint32_t kNetAnswerLimitMs = 3000;

struct TNetPortName {
    bool Rfc2217 = false;
    std::string Host; // without the brackets of an IPv6 literal
    std::string Port;
};

// True for names that start with "rfc2217://" or "tcp://" (any case).
bool IsNetworkPortName(std::string_view name);
// Splits a network port name; empty when it is malformed (no host, no port, port out of range).
std::optional<TNetPortName> ParseNetPortName(std::string_view name);

// Connects to a network port; null on failure with the last error set (ETIMEDOUT when the server
// took longer than kNetConnectLimitMs; EHOSTUNREACH, with the text "Unknown host NAME" for
// SystemErrorText, for a name that was not found).
std::unique_ptr<TCommDevice> OpenNetworkPort(std::string_view name);

} // namespace qorvel::platform
