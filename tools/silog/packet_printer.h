// Prints decoded packets one line each, as `silog listen` and `silog dump` show them: log
// entries through a text pattern, the other kinds in a short readable form, or every packet
// as one JSON object per line with all of its fields.
#pragma once

#include <iosfwd>
#include <string>

#include "logging/packets/packet.h"
#include "logging/format/text_formatter.h"

namespace deruz::silog {

enum class TOutputFormat { Text, Json };

class TPacketPrinter {
public:
    TPacketPrinter(std::ostream& AOut, TOutputFormat AFormat, const std::string& APattern);
    // Prints one packet and flushes, so a reader sees each line as it arrives.
    void Print(logging::TSiPacket& APacket);

private:
    void PrintText(logging::TSiPacket& APacket);
    void PrintJson(logging::TSiPacket& APacket);

    std::ostream& FOut;
    TOutputFormat FFormat;
    logging::TSiTextFormatter FFormatter;
};

// A JSON string literal of UTF-8 text (control characters escaped; invalid bytes become
// U+FFFD).
std::string JsonString(std::string_view AText);

}  // namespace deruz::silog
