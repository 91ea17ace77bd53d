// TSiTextFormatter: writes log entries as lines of UTF-8 text, each the expansion of a pattern
// (pattern_parser.h) followed by CR LF. Other packet kinds (watches, process flows, control
// commands, log headers) give no output at all. Used by the text protocol for text log files,
// by the memory protocol for text dumps and by tools that print packets.
//
// The pattern is parsed once when it is set; each line is built in a buffer that is reused from
// packet to packet, so formatting a line allocates nothing once the buffer has grown.
//
// Thread safety and ownership as for every TSiFormatter: one thread at a time (the owning
// protocol's lock); the formatter owns its parser and line buffer and keeps no reference to the
// packets it compiles. The method nesting depth used for indentation is state of the formatter:
// it follows the enter-method and leave-method entries that pass through it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logging/format/formatter.h"
#include "logging/format/pattern_parser.h"

namespace deruz::logging {

// The line pattern of text log files and text dumps when none is configured.
inline constexpr std::string_view CSiDefaultPattern = "[%timestamp%] %level%: %title%";

// The UTF-8 byte-order mark that starts a new text log file and a text dump.
inline constexpr std::array<std::uint8_t, 3> CSiBom = {0xEF, 0xBB, 0xBF};

class TSiTextFormatter final : public TSiFormatter {
  public:
    explicit TSiTextFormatter(std::string_view APattern = CSiDefaultPattern);

    const std::string& Pattern() const noexcept { return FParser.Pattern(); }
    // Sets the (trimmed) pattern and resets the nesting depth.
    void SetPattern(std::string_view AValue) { FParser.SetPattern(AValue); }
    bool Indent() const noexcept { return FParser.Indent(); }
    // Whether titles are indented by three spaces per method nesting level.
    void SetIndent(bool AValue) noexcept { FParser.SetIndent(AValue); }
    // Makes timestamps follow ASettings (separators, names) instead of the locale of the thread
    // that set the pattern.
    void SetFormatSettings(const TSiFormatSettings& ASettings) {
        FParser.SetFormatSettings(ASettings);
    }

    // For a log entry: builds its line with CR LF and returns its length in bytes. For any other
    // packet: clears the line and returns 0. Raises ESiFormatError for a line beyond 2 GiB.
    std::int32_t Compile(TSiPacket& APacket) override;
    // Writes the line compiled last, if it is not empty. Raises ESiStreamError when AStream does
    // not take every byte.
    void Write(TSiStream& AStream) override;

    // The bytes compiled last: the line with its CR LF, or empty. Valid until the next call.
    std::string_view Line() const noexcept { return FLine; }

    // For tools that print packets: the line for APacket without CR LF, or nothing for a packet
    // that gives no line. Moves the nesting depth as Compile does; the text is valid until the
    // next call.
    std::optional<std::string_view> FormatLine(TSiPacket& APacket);

    TSiPatternParser& Parser() noexcept { return FParser; }

  private:
    // The last compiled line as UTF-8 bytes, with CR LF.
    std::string FLine;
    TSiPatternParser FParser;
};

// The line (without CR LF) that APattern gives for one packet, or nothing for packets that give
// no line; for one-off use, since every call starts at nesting depth 0.
std::optional<std::string> SiFormatTextLine(TSiPacket& APacket,
                                            std::string_view APattern = CSiDefaultPattern);

}  // namespace deruz::logging
