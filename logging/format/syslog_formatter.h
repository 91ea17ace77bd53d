// The syslog form of a packet: one RFC 5424 message, as the "syslog" protocol sends it and as
// silog collect forwards what workstations log.
//
//   <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID [silog@32473 ...] MSG
//
// - PRI is facility * 8 + severity; the severity follows the entry type (SiSyslogSeverity).
// - MSGID names the packet's kind ("LogEntry", "Watch", "ProcessFlow", "ControlCommand",
//   "LogHeader"), so every kind is recognisable; the structured data "silog@32473" carries its
//   type, the session, application, host, process and thread ids and, for watches, the name and
//   watch type. 32473 is the private enterprise number set aside for examples and
//   documentation (RFC 5612); the SD-ID stays the same for every message so that receivers can
//   match on it.
// - MSG is the title (log entries, process flows), "name = value" (watches), the command name
//   (control commands) or "hostname=... appname=..." (log headers).
//
// Log text is hostile: it cannot end the record, start a new one or change a field. Header
// fields keep only printable ASCII without blanks (others become "_"); every control character
// of MSG and of the parameter values (and U+0085, U+2028, U+2029, which some readers treat as
// line breaks) is written as a backslash escape ("\n", "\r", "\t", "\xHH", "\u2028"); in
// parameter values '"', '\' and ']' are escaped as RFC 5424 asks; bytes that are not UTF-8
// become U+FFFD. The message is cut (at a character boundary) to MaxLength bytes.
//
// Thread safety: the functions keep no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logging/packets/packet.h"

namespace deruz::logging {

struct TSiSyslogSettings {
    // 0 (kern) to 23 (local7); 1 is "user".
    int Facility = 1;
    // The longest message written, in bytes, without framing; at least 480 is honoured.
    std::size_t MaxLength = 8192;
    // Minutes east of UTC of the packets' local timestamps.
    int UtcOffsetMinutes = 0;
    // HOSTNAME and APP-NAME for packets that carry none (watches, control commands, and
    // process flows for the application).
    std::string HostName;
    std::string AppName;
};

// The RFC 5424 severity of a packet: fatal 2 (critical), error, internal error and assert 3,
// warning 4, control commands 5 (notice), messages and data entries 6 (informational), debug,
// verbose, method and separator entries, watches and process flows 7 (debug).
int SiSyslogSeverity(const TSiPacket& APacket) noexcept;

// A facility given by name ("user", "local0", ...) or number (0 to 23).
std::optional<int> SiSyslogFacility(std::string_view AText);

// The name of a facility code ("user" for 1); "user" for a code out of range.
std::string_view SiSyslogFacilityName(int AFacility) noexcept;

// Appends the message for APacket to AOut.
void SiFormatSyslog(const TSiPacket& APacket, const TSiSyslogSettings& ASettings,
                    std::string& AOut);

// Appends AText with the escapes described above: as a message (AParamValue false) or as a
// structured-data parameter value (AParamValue true), with at most AMaxBytes bytes written; a
// character or escape that would not fit is left out with everything after it.
void SiSyslogEscape(std::string_view AText, bool AParamValue, std::size_t AMaxBytes,
                    std::string& AOut);

}  // namespace deruz::logging
