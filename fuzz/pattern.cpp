// The pattern language of the text formatter: a pattern from the input, expanded over log
// entries of every kind of content, with and without indentation. Parsing and expanding may
// not fail at all.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz/fuzz_util.h"
#include "logging/format/pattern_parser.h"
#include "logging/packets/packet.h"

using namespace deruz::logging;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0) return 0;
    const std::uint8_t LFlags = AData[0];
    TSiPatternParser LParser;
    LParser.SetIndent((LFlags & 1) != 0);
    if ((LFlags & 2) != 0) {
        // Settings with separators and names of other lengths than the defaults.
        TSiFormatSettings LSettings;
        LSettings.DecimalSeparator = ",";
        LSettings.TimeAMString = "vorm.";
        LSettings.TimePMString = "";
        LSettings.ShortMonthNames[0] = "J\xC3\xA4n";
        LParser.SetFormatSettings(LSettings);
    }
    LParser.SetPattern(deruz::fuzz::TextOf(AData + 1, ASize - 1));

    const auto LPtr = SiMakeRef<TSiLogEntry>(ltEnterMethod, viTitle);
    TSiLogEntry& LEntry = *LPtr;
    LEntry.AppName = "app.exe";
    LEntry.SessionName = "Main";
    LEntry.HostName = "PC1";
    LEntry.Title =
        "Gr\xC3\xBC\xC3\x9F"
        "e";
    LEntry.Color = 0x00336699;
    LEntry.ProcessId = 4711;
    LEntry.ThreadId = 0xFFFFFFFFu;
    // Enter, then leave, so the indentation goes up and down; then odd timestamps.
    const double LTimestamps[] = {
        45123.75, 0.0, -693594.5, 2958465.999999, std::numeric_limits<double>::quiet_NaN(), 1e300};
    std::string LOut;
    for (const double LTimestamp : LTimestamps) {
        LEntry.Timestamp = LTimestamp;
        LParser.ExpandTo(LEntry, LOut);
        LEntry.LogEntryType = LEntry.LogEntryType == ltEnterMethod ? ltLeaveMethod : ltEnterMethod;
        LEntry.Level = static_cast<TSiLevel>((static_cast<int>(LEntry.Level) + 1) % 7);
        LOut.clear();
    }
    return 0;
}
