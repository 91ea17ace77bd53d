// The store of `silog view`: everything the viewer has received, kept so that the page can ask
// for any window of it, filtered, at a million entries.
//
// Rows. Every log entry and control command that arrives becomes a row with a sequence number
// (seq), counting up from 1 in arrival order. Rows live in a ring of at most Keep rows (and
// KeepBytes bytes of titles and data); the oldest are dropped first and counted. A row is 64
// bytes plus its title and data, which sit in an arena of large blocks that are freed as the
// rows in them are dropped (rows always leave in seq order, so a block goes once its last row
// has gone). Session, application and host names are interned: a row holds their ids, and the
// count of rows that refer to a name is at the same time its facet count.
//
// Filters. A filter's matching seqs are kept in a list in a small cache of recent filters; a
// request scans only the rows that arrived since the last one (in slices, so that ingest is
// never held up for long) and forgets the seqs that were dropped meanwhile, so that paging
// through a filter is an index into that list.
//
// Watches keep their latest value and a bounded history; the process flow is a tree of hosts,
// processes, threads and scopes with bounded closed parts; control commands clear them as a
// log viewer does (see Add).
//
// Thread safety: one thread adds (Add, AddSource, SetSource...; the ingest thread of
// TViewIngest); any number of threads read at the same time (the HTTP threads). Rows, watches,
// flow and sources each have their own lock, so reading one never waits for writing another.
// Every public member may be called from any thread; the adding members must be called by one
// thread at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/packets/packet.h"

namespace deruz::silog::view {

struct TViewStoreOptions {
    // Rows kept at most, and bytes of titles and data kept at most.
    std::uint64_t Keep = 1000000;
    std::uint64_t KeepBytes = std::uint64_t{1} << 30;
};

// One pipe or TCP client or one file.
struct TViewSource {
    std::uint32_t Id = 0;
    std::string Kind;  // "pipe", "tcp", "file"
    std::string Name;
    std::string Banner;
    std::string AppName;
    std::string HostName;
    std::string State;  // "connected", "closed", "reading", "following", "done", "error"
    std::string Error;
    std::uint64_t Packets = 0;
};

// The severity class of an entry type, by which the page colours rows and the histogram counts.
enum TViewSeverity : std::uint8_t {
    svDebug = 0,
    svInfo = 1,
    svWarning = 2,
    svError = 3,
    svFatal = 4,
    svFlow = 5,
};
TViewSeverity SeverityOf(logging::TSiLogEntryType AType) noexcept;

// A packet's local time as milliseconds since the Unix epoch (UTC), through the system's time
// zone rules for that date; NaN outside the calendar. Not thread-safe (it caches one offset per
// local hour); the store's adding thread owns one.
class TLocalTimeConverter {
  public:
    double ToUnixMs(logging::TDateTime ALocal);

  private:
    std::unordered_map<std::int64_t, double> FOffsets;
};

// A row as kept.
struct TViewRow {
    logging::TDateTime Timestamp = 0;  // the packet's own local time
    double T = 0;                      // Unix ms, NaN when none
    const char* Text = nullptr;        // title, then data
    std::uint32_t TitleLength = 0;
    std::uint32_t DataLength = 0;
    std::uint32_t Session = 0;  // interned ids; 0 is ""
    std::uint32_t App = 0;
    std::uint32_t Host = 0;
    std::uint32_t ProcessId = 0;
    std::uint32_t ThreadId = 0;
    std::int32_t Color = 0;
    std::uint32_t Source = 0;
    std::uint8_t Control = 0;  // 1 for a control command
    std::uint8_t Type = 0;     // TSiLogEntryType, or TSiControlCommandType for a control row
    std::uint8_t Viewer = 0;   // TSiViewerId
    std::uint8_t Severity = 0;

    std::string_view Title() const noexcept { return {Text, TitleLength}; }
    std::string_view Data() const noexcept { return {Text + TitleLength, DataLength}; }
};

// What a filter asks for; parsed from the query parameters of /api/rows, /api/histogram and
// /api/export. A control row passes every condition except kinds, source and the time range.
struct TViewFilter {
    // Entry types (bits of TSiLogEntryType ordinals); 0: all.
    std::uint32_t Types = 0;
    std::vector<std::string> Sessions, Apps, Hosts;
    std::vector<std::uint32_t> Sources, ProcessIds, ThreadIds;
    std::string Query;
    bool Regex = false;
    bool CaseSensitive = false;
    std::optional<double> From, To;
    bool Entries = true;
    bool Controls = true;

    // Whether every row passes.
    bool All() const;
    // The filter as text, equal for equal filters: the key of the match-list cache.
    std::string Key() const;
};

// Query parameters as name (decoded) and value as it came (percent-encoded), so that a list
// splits at its literal commas and a value may still hold an encoded one ("%2C").
using TQueryParams = std::vector<std::pair<std::string, std::string>>;
// Reads the filter parameters; on a bad value returns nothing with AError set (for a bad
// regular expression "bad regular expression: ...").
std::optional<TViewFilter> ParseFilter(const TQueryParams& AParams, std::string& AError);

struct TViewState {
    std::uint64_t First = 0, Last = 0, Kept = 0, Keep = 0, Dropped = 0, Received = 0, Cleared = 0,
                  KeptBytes = 0;
    std::vector<TViewSource> Sources;
    std::uint64_t WatchVersion = 0, FlowVersion = 0;
};

class TViewStore {
  public:
    explicit TViewStore(TViewStoreOptions AOptions = {});
    ~TViewStore();
    TViewStore(const TViewStore&) = delete;
    TViewStore& operator=(const TViewStore&) = delete;

    // --- Adding (one thread) -----------------------------------------------------------------

    // A new source; returns its id (from 1).
    std::uint32_t AddSource(const std::string& AKind, const std::string& AName,
                            const std::string& AState);
    void SetSourceState(std::uint32_t AId, const std::string& AState,
                        const std::string& AError = {});
    void SetSourceBanner(std::uint32_t AId, const std::string& ABanner);

    // Takes in one packet of the source AId. Log entries and control commands become rows;
    // watches update their watch; process flows the flow tree; a log header names the source's
    // application and host. ClearLog and ClearAll drop every row before the command (counted as
    // cleared), ClearWatches and ClearAll empty the watches, ClearProcessFlow and ClearAll the
    // flow; each control command is kept as a row.
    void Add(std::uint32_t ASource, logging::TSiPacket& APacket);

    // --- Reading (any thread) ----------------------------------------------------------------

    TViewState State() const;
    // Counts up on every change of rows, watches, flow or sources.
    std::uint64_t ChangeCount() const noexcept { return FChanges.load(); }
    // Waits until ChangeCount differs from ASeen or AMilliseconds passed; returns the count.
    std::uint64_t WaitForChange(std::uint64_t ASeen, std::uint32_t AMilliseconds) const;
    // Wakes every WaitForChange: the adding thread calls it after a batch of Add calls.
    void Notify() const;

    // A page of the rows that pass AFilter: Total of them in all, at most ALimit of them each
    // written as a JSON object, starting AOffset rows after the first (with ASeq: after the
    // first match whose seq is at least ASeq; AOffset may then be negative). Offset: where
    // the page starts among the matches; Last: the newest seq considered.
    struct TRowsResult {
        std::uint64_t Total = 0;
        std::uint64_t Offset = 0;
        std::uint64_t Last = 0;
        std::string RowsJson;  // the objects, comma-separated
    };
    TRowsResult Rows(const TViewFilter& AFilter, std::optional<std::uint64_t> ASeq,
                     std::int64_t AOffset, std::uint64_t ALimit);

    // Every field of the row ASeq as a JSON object, with its data in base64; nothing when the
    // row is not kept.
    std::optional<std::string> EntryJson(std::uint64_t ASeq) const;

    // The facets as the /api/facets object.
    std::string FacetsJson(std::size_t AMaxValues = 200) const;

    // The histogram of the rows that pass AFilter, as the /api/histogram object.
    std::string HistogramJson(const TViewFilter& AFilter, std::uint32_t ABuckets);

    // Writes the rows that pass AFilter in pieces to AWrite, as JSON lines in the schema of
    // `silog dump --format json` (AJsonLines) or as CSV with a header line. Stops when AWrite
    // returns false.
    void Export(const TViewFilter& AFilter, bool AJsonLines,
                const std::function<bool(std::string_view)>& AWrite);

    std::string WatchesJson() const;
    // Nothing when there is no such watch.
    std::optional<std::string> WatchJson(const std::string& AName, std::size_t ALimit) const;
    std::string FlowJson() const;

    // Limits of the bounded views.
    static constexpr std::size_t kTitleExcerpt = 1000;
    static constexpr std::size_t kWatchHistory = 10000;
    static constexpr std::size_t kWatchNames = 10000;
    static constexpr std::size_t kWatchHistoryTotal = 2000000;
    static constexpr std::size_t kWatchValueBytes = 65536;
    static constexpr std::size_t kWatchHistoryValueBytes = 1024;
    static constexpr std::size_t kClosedScopes = 500;
    static constexpr std::size_t kScopeDepth = 1000;
    static constexpr std::size_t kClosedThreads = 1000;
    static constexpr std::size_t kClosedProcesses = 1000;
    static constexpr std::size_t kClosedSources = 1000;
    static constexpr std::size_t kCachedFilters = 8;

  private:
    struct TIntern;
    struct TArena;
    struct TMatchList;
    struct TWatches;
    struct TFlow;

    // Rows (under FRowsLock).
    const TViewRow& RowAt(std::uint64_t ASeq) const;
    void AppendRow(TViewRow ARow, std::string_view ATitle, std::string_view AData);
    void DropFront(bool ACleared);
    void AddEntry(std::uint32_t ASource, const logging::TSiLogEntry& AEntry);
    void AddControl(std::uint32_t ASource, const logging::TSiControlCommand& ACommand);
    void WriteRowJson(std::string& AOut, std::uint64_t ASeq, const TViewRow& ARow,
                      bool AFull) const;
    void WriteExportLine(std::string& AOut, std::uint64_t ASeq, const TViewRow& ARow,
                         bool AJsonLines) const;
    std::string_view InternedText(int AField, std::uint32_t AId) const;

    // Filters: the cached match list of AFilter, brought up to date (under its own lock, which
    // the caller holds through AGuard).
    std::shared_ptr<TMatchList> MatchList(const TViewFilter& AFilter);
    // Scans up to ACount rows that AList has not seen (rows lock held).
    void Scan(TMatchList& AList, std::uint64_t ACount) const;
    // Scans all rows AList has not seen, in slices (rows lock not held).
    void Extend(TMatchList& AList);
    void Trim(TMatchList& AList) const;

    TViewStoreOptions FOptions;
    TLocalTimeConverter FTime;

    mutable std::shared_mutex FRowsLock;
    std::vector<TViewRow> FRing;
    std::size_t FHead = 0;       // ring index of the row FFirst
    std::uint64_t FFirst = 1;    // seq of the oldest kept row
    std::uint64_t FNext = 1;     // seq the next row gets
    std::uint64_t FDropped = 0;  // by Keep or KeepBytes
    std::uint64_t FCleared = 0;  // seq up to which a clear emptied the log
    std::uint64_t FClearedRows = 0;
    std::uint64_t FBytes = 0;
    std::unique_ptr<TArena> FArena;
    std::unique_ptr<TIntern> FInterns[3];  // session, application, host
    std::uint64_t FTypeCounts[32] = {};
    std::uint64_t FControlCount = 0;
    std::unordered_map<std::uint32_t, std::uint64_t> FProcessCounts, FThreadCounts, FSourceCounts;
    // The time of each source's last timestamped packet, which its control rows take.
    std::unordered_map<std::uint32_t, std::pair<logging::TDateTime, double>> FSourceTime;

    std::mutex FFilterLock;
    std::list<std::shared_ptr<TMatchList>> FFilters;  // most recently used first

    mutable std::shared_mutex FWatchLock;
    std::unique_ptr<TWatches> FWatches;

    mutable std::shared_mutex FFlowLock;
    std::unique_ptr<TFlow> FFlow;

    mutable std::mutex FSourceLock;
    std::vector<TViewSource> FSources;
    std::uint32_t FNextSource = 1;

    std::atomic<std::uint64_t> FReceived{0};
    std::atomic<std::uint64_t> FChanges{0};
    mutable std::mutex FChangeLock;
    mutable std::condition_variable FChangeSignal;
};

}  // namespace deruz::silog::view
