// Prints decoded packets one line each, as `silog listen` and `silog dump` show them.
//
// Text: log entries through a pattern of the text protocol's language, in which %level% shows
// the entry type (the binary format carries no level, so the type is the only severity a
// reader knows); watches, process flows, control commands and log headers in a fixed readable
// form. Every text that came with a packet is escaped (text_escape.h). With colour on, a log
// entry's line is coloured by its entry type.
//
// JSON: one object per packet, one key per field, always the same keys in the same order for
// a kind, "packet" naming the kind; timestamps as ISO 8601 local time with milliseconds plus
// the raw value under "timestampRaw".
//
// Thread safety: one thread at a time (listen prints under its output lock). The printer keeps
// the method nesting depth of every thread from packet to packet.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "logging/format/text_formatter.h"
#include "logging/packets/packet.h"

namespace deruz::silog {

enum class TOutputFormat { Text, Json };

class TPacketPrinter {
  public:
    TPacketPrinter(std::ostream& AOut, TOutputFormat AFormat, const std::string& APattern,
                   bool AColour = false);
    // Prints one packet and flushes, so a reader sees each line as it arrives.
    void Print(logging::TSiPacket& APacket);
    // The line for one packet without its line break and colour, or nothing for a log entry
    // when the pattern is empty. Moves the nesting depths as Print does.
    std::optional<std::string> Line(logging::TSiPacket& APacket);
    // The JSON object for one packet, without its line break; it keeps no state.
    static std::string JsonLine(logging::TSiPacket& APacket);

  private:
    std::optional<std::string> TextLine(logging::TSiPacket& APacket);
    std::string FlowLine(const logging::TSiProcessFlow& AFlow);

    std::ostream& FOut;
    TOutputFormat FFormat;
    bool FColour;
    logging::TSiTextFormatter FFormatter;
    // Process-flow nesting depth per thread (host, process, thread).
    std::map<std::tuple<std::string, std::uint32_t, std::uint32_t>, int> FDepth;
};

// The pattern with every %level% variable (any letter case, with its width and options)
// turned into %logentrytype%.
std::string EntryTypeForLevel(std::string_view APattern);

// A JSON string literal of UTF-8 text (control characters escaped; invalid bytes become
// U+FFFD).
std::string JsonString(std::string_view AText);

// A timestamp as "yyyy-mm-ddThh:nn:ss.zzz" (ASeparator between date and time), or nothing for
// a value outside the calendar (see SiIsCalendarDate).
std::string IsoTimestamp(logging::TDateTime AValue, char ASeparator = 'T');

}  // namespace deruz::silog
