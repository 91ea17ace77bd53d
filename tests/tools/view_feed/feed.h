// The feeder of silog view's tests and benchmark: logs through the logging library's own
// sessions to the connections given (a pipe, a TCP viewer, a file), either a fixed script that
// covers every kind of packet and every viewer, or as many plain messages as fast as it can.
//
// Thread safety: one feed at a time per process (the script's worker threads are its own).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace deruz::silog::feed {

struct TFeedOptions {
    std::string Connections;
    bool Script = false;
    // Count mode: Threads threads each log Count / Threads messages "message %d".
    std::uint64_t Count = 0;
    unsigned Threads = 1;
    // Count mode: entries per second in total (spread over the threads); 0: as fast as it can.
    double Rate = 0;
    // Sends this one control command (a TSiControlCommandType name, e.g. "ClearLog") instead.
    std::string Control;
    std::string AppName = "view-feed";
};

// Runs the feed and returns the summary of what was sent as a JSON object: the packets by
// kind and by their type, independent of anything the receiver numbers. Errors of the
// connections or protocols go to AErr; AFailed tells whether there were any.
std::string RunFeed(const TFeedOptions& AOptions, std::ostream& AErr, bool& AFailed);

// The titles of the script's hostile entries, for the tests that look for them.
inline constexpr const char* kHostileImage = "<img src=x onerror=window.__pwned=1>";
inline constexpr const char* kHostileScript = "</script><script>window.__pwned=1</script>";
// "invoice" with a right-to-left override, so that "exe.pdf" reads backwards.
inline constexpr const char* kHostileBidi =
    "invoice\xE2\x80\xAE"
    "fdp.exe\xE2\x80\xAC done";
// The 1 MB title starts with this and is padded with "x".
inline constexpr const char* kHugeTitleStart = "huge title ";
inline constexpr std::size_t kHugeTitleSize = 1 << 20;

}  // namespace deruz::silog::feed
