#include "tools/silog/view/view_store.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "logging/base/strings.h"
#include "tools/silog/packet_printer.h"
#include "tools/silog/view/view_json.h"

namespace deruz::silog::view {

using namespace deruz::logging;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Rows scanned per hold of the rows lock while a filter's list is brought up to date.
constexpr std::uint64_t kScanSlice = 32768;
// Regular expressions see at most this much of a title: the library's regex engine recurses
// per character and would overflow the stack on a title of a megabyte.
constexpr std::size_t kRegexInput = 4096;
constexpr std::size_t kArenaBlock = 1 << 20;

// Ms since the Unix epoch of a TDateTime read as UTC.
double UnixMsOf(TDateTime AValue) {
    return (AValue - 25569.0) * 86400000.0;
}

// The colour of an entry as "#rrggbb", or empty for the default and for unresolved system
// colours.
std::string ColorText(std::int32_t AColor) {
    const auto value = static_cast<std::uint32_t>(AColor);
    if ((value & 0xFF000000u) != 0) return {};
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                  (value >> 16) & 0xFF);
    return text;
}

// Case folding for searches: ASCII letters and the common letters of Latin-1, Latin
// Extended-A, Greek and Cyrillic map to their lower case.
char32_t Fold(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x17F) return (c % 2 == 0 && c != 0x130 && c != 0x138) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3A9) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

std::string FoldText(std::string_view AText) {
    std::string out;
    out.reserve(AText.size());
    std::size_t i = 0;
    while (i < AText.size()) {
        const auto b = static_cast<unsigned char>(AText[i]);
        if (b < 0x80) {
            out += static_cast<char>((b >= 'A' && b <= 'Z') ? b + 32 : b);
            ++i;
            continue;
        }
        SiAppendUtf8(out, Fold(SiDecodeUtf8(AText, i)));
    }
    return out;
}

std::vector<std::string> SplitList(std::string_view ARaw) {
    std::vector<std::string> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = ARaw.find(',', start);
        const std::string_view part = ARaw.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        values.push_back(PercentDecode(part));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

bool ParseNumbers(std::string_view ARaw, std::vector<std::uint32_t>& AOut) {
    for (const std::string& part : SplitList(ARaw)) {
        const auto value = LeadingNumber(part, true);
        if (!value || *value < 0 || *value > 4294967295.0 || *value != std::floor(*value)) {
            return false;
        }
        AOut.push_back(static_cast<std::uint32_t>(*value));
    }
    return true;
}

std::optional<TSiLogEntryType> EntryTypeNamed(std::string_view AName) {
    for (int i = ltSeparator; i <= ltDatabaseStructure; ++i) {
        const auto type = static_cast<TSiLogEntryType>(i);
        if (SiLogEntryTypeString(type) == AName) return type;
    }
    return std::nullopt;
}

// A piece of text that every match of the ECMAScript pattern APattern contains, as long as
// can be found cheaply; empty when there is none (an alternative at the top level, or no
// literal characters outside groups, classes and optional parts). Titles without it need not
// be given to the regex engine, which is slow.
std::string RequiredLiteral(std::string_view APattern) {
    std::string best, run;
    const auto endRun = [&] {
        if (run.size() > best.size()) best = run;
        run.clear();
    };
    int depth = 0;
    for (std::size_t i = 0; i < APattern.size(); ++i) {
        const char c = APattern[i];
        // The quantifier after the atom at i: "?", "*" and "{" may drop it, "+" keeps it once.
        const auto quantified = [&](std::size_t AAfter) -> char {
            return AAfter < APattern.size() &&
                           std::string_view("?*+{").find(APattern[AAfter]) != std::string_view::npos
                       ? APattern[AAfter]
                       : '\0';
        };
        if (c == '\\' && depth > 0) {
            ++i;  // an escaped character inside a group
            continue;
        }
        if (c == '|' && depth == 0) return {};
        if (c == '(') {
            ++depth;
            endRun();
            continue;
        }
        if (c == ')') {
            --depth;
            endRun();
            continue;
        }
        if (c == '[') {  // a class: skipped whole
            endRun();
            std::size_t j = i + 1;
            if (j < APattern.size() && APattern[j] == '^') ++j;
            if (j < APattern.size() && APattern[j] == ']') ++j;
            while (j < APattern.size() && APattern[j] != ']') j += APattern[j] == '\\' ? 2 : 1;
            i = j;
            continue;
        }
        if (depth > 0) continue;
        if (c == '{') {  // a counted quantifier: its digits are no text
            endRun();
            while (i + 1 < APattern.size() && APattern[i] != '}') ++i;
            continue;
        }
        char literal = '\0';
        std::size_t next = i + 1;
        if (c == '\\' && i + 1 < APattern.size()) {
            const char e = APattern[i + 1];
            next = i + 2;
            if (std::string_view(".\\/^$|?*+()[]{}-").find(e) != std::string_view::npos) {
                literal = e;
            } else if (e == 'x') {
                next += 2;  // \xHH
            } else if (e == 'u') {
                if (next < APattern.size() && APattern[next] == '{') {
                    while (next < APattern.size() && APattern[next] != '}') ++next;
                    ++next;
                } else {
                    next += 4;  // \uHHHH
                }
            } else if (e == 'c') {
                next += 1;  // \cX
            } else if (e >= '0' && e <= '9') {
                while (next < APattern.size() && APattern[next] >= '0' && APattern[next] <= '9') {
                    ++next;  // a back reference
                }
            }
            next = std::min(next, APattern.size());
        } else if (std::string_view(".^$?*+{}").find(c) == std::string_view::npos) {
            literal = c;
        }
        const char q = quantified(next);
        if (literal == '\0' || static_cast<unsigned char>(literal) >= 0x80 || q == '?' ||
            q == '*' || q == '{') {
            endRun();
        } else {
            run += literal;
            if (q == '+') endRun();
        }
        i = next - 1;
    }
    endRun();
    return best;
}

// Finds the text of a search in titles: a substring (case-insensitive unless asked) or a
// regular expression.
class TTextMatcher {
  public:
    explicit TTextMatcher(const TViewFilter& AFilter) {
        if (AFilter.Query.empty()) return;
        FActive = true;
        if (AFilter.Regex) {
            auto flags = std::regex::ECMAScript;
            if (!AFilter.CaseSensitive) flags |= std::regex::icase;
            FRegex.emplace(AFilter.Query, flags);
            FCaseSensitive = AFilter.CaseSensitive;
            FNeedle = FCaseSensitive ? RequiredLiteral(AFilter.Query)
                                     : SiLowerCase(RequiredLiteral(AFilter.Query));
            return;
        }
        FCaseSensitive = AFilter.CaseSensitive;
        if (FCaseSensitive) {
            FNeedle = AFilter.Query;
            return;
        }
        FNeedle = FoldText(AFilter.Query);
        FAscii = std::all_of(FNeedle.begin(), FNeedle.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }

    bool Active() const { return FActive; }

    bool Match(std::string_view ATitle) const {
        if (FRegex) {
            const std::string_view part = ATitle.substr(0, kRegexInput);
            if (!FNeedle.empty() && !(FCaseSensitive ? part.find(FNeedle) != std::string_view::npos
                                                     : AsciiFind(part))) {
                return false;
            }
            return std::regex_search(part.begin(), part.end(), *FRegex);
        }
        if (FCaseSensitive) return ATitle.find(FNeedle) != std::string_view::npos;
        if (FAscii) return AsciiFind(ATitle);
        return FoldText(ATitle).find(FNeedle) != std::string::npos;
    }

  private:
    // The needle is folded ASCII; bytes of the title outside ASCII can never match it.
    bool AsciiFind(std::string_view ATitle) const {
        const std::size_t m = FNeedle.size();
        if (ATitle.size() < m) return false;
        const auto* h = reinterpret_cast<const unsigned char*>(ATitle.data());
        const auto* n = reinterpret_cast<const unsigned char*>(FNeedle.data());
        const unsigned char first = n[0];
        const std::size_t last = ATitle.size() - m;
        for (std::size_t i = 0; i <= last; ++i) {
            unsigned char c = h[i];
            if (c >= 'A' && c <= 'Z') c += 32;
            if (c != first) continue;
            std::size_t k = 1;
            for (; k < m; ++k) {
                unsigned char d = h[i + k];
                if (d >= 'A' && d <= 'Z') d += 32;
                if (d != n[k]) break;
            }
            if (k == m) return true;
        }
        return false;
    }

    bool FActive = false;
    bool FCaseSensitive = false;
    bool FAscii = true;
    std::string FNeedle;
    std::optional<std::regex> FRegex;
};

bool Contains(const std::vector<std::uint32_t>& AValues, std::uint32_t AValue) {
    return std::find(AValues.begin(), AValues.end(), AValue) != AValues.end();
}

}  // namespace

TViewSeverity SeverityOf(TSiLogEntryType AType) noexcept {
    switch (AType) {
        case ltDebug:
        case ltVerbose:
            return svDebug;
        case ltWarning:
            return svWarning;
        case ltError:
        case ltInternalError:
        case ltAssert:
            return svError;
        case ltFatal:
            return svFatal;
        case ltEnterMethod:
        case ltLeaveMethod:
        case ltResetCallstack:
        case ltSeparator:
            return svFlow;
        default:
            return svInfo;
    }
}

double TLocalTimeConverter::ToUnixMs(TDateTime ALocal) {
    if (!SiIsCalendarDate(ALocal)) return kNaN;
    // The offset of local time from UTC is the same for a whole local hour (zones whose offset
    // changes at a quarter hour change it on the hour as well).
    const auto hour = static_cast<std::int64_t>(std::floor(ALocal * 24.0));
    auto it = FOffsets.find(hour);
    if (it == FOffsets.end()) {
        if (FOffsets.size() > 100000) FOffsets.clear();
        const TSiDateTimeParts p = SiDecodeDateTime(static_cast<double>(hour) / 24.0 + 1e-9);
        std::tm tm{};
        tm.tm_year = p.Year - 1900;
        tm.tm_mon = p.Month - 1;
        tm.tm_mday = p.Day;
        tm.tm_hour = p.Hour;
        tm.tm_isdst = -1;
        const std::time_t utc = std::mktime(&tm);
        const double localMs = UnixMsOf(static_cast<double>(hour) / 24.0);
        // A time mktime cannot represent keeps an offset of 0.
        const double offset =
            utc == static_cast<std::time_t>(-1) ? 0.0 : localMs - static_cast<double>(utc) * 1000.0;
        it = FOffsets.emplace(hour, std::round(offset / 1000.0) * 1000.0).first;
    }
    return std::round(UnixMsOf(ALocal) - it->second);
}

// --- Filters ------------------------------------------------------------------------------------

bool TViewFilter::All() const {
    return Types == 0 && Sessions.empty() && Apps.empty() && Hosts.empty() && Sources.empty() &&
           ProcessIds.empty() && ThreadIds.empty() && Query.empty() && !From && !To && Entries &&
           Controls;
}

std::string TViewFilter::Key() const {
    std::string key = std::to_string(Types);
    const auto texts = [&](std::vector<std::string> AValues) {
        std::sort(AValues.begin(), AValues.end());
        key += '\x1f';
        for (const auto& v : AValues) {
            key += v;
            key += '\x1e';
        }
    };
    const auto numbers = [&](std::vector<std::uint32_t> AValues) {
        std::sort(AValues.begin(), AValues.end());
        key += '\x1f';
        for (const auto v : AValues) key += std::to_string(v) + ",";
    };
    texts(Sessions);
    texts(Apps);
    texts(Hosts);
    numbers(Sources);
    numbers(ProcessIds);
    numbers(ThreadIds);
    key += '\x1f';
    key += Regex ? 'r' : 's';
    key += CaseSensitive ? 'c' : 'i';
    key += Query;
    key += '\x1f';
    if (From) key += std::to_string(*From);
    key += '\x1f';
    if (To) key += std::to_string(*To);
    key += '\x1f';
    key += Entries ? 'e' : '-';
    key += Controls ? 'c' : '-';
    return key;
}

std::optional<TViewFilter> ParseFilter(const TQueryParams& AParams, std::string& AError) {
    TViewFilter filter;
    bool kindsGiven = false;
    for (const auto& [name, raw] : AParams) {
        if (name == "types") {
            if (raw.empty()) continue;
            for (const std::string& typeName : SplitList(raw)) {
                const auto type = EntryTypeNamed(typeName);
                if (!type) {
                    AError = "unknown entry type '" + typeName + "'";
                    return std::nullopt;
                }
                filter.Types |= 1u << *type;
            }
        } else if (name == "session" || name == "app" || name == "host") {
            if (raw.empty()) continue;
            auto& target = name == "session" ? filter.Sessions
                           : name == "app"   ? filter.Apps
                                             : filter.Hosts;
            for (auto& value : SplitList(raw)) target.push_back(std::move(value));
        } else if (name == "source" || name == "pid" || name == "tid") {
            if (raw.empty()) continue;
            auto& target = name == "source" ? filter.Sources
                           : name == "pid"  ? filter.ProcessIds
                                            : filter.ThreadIds;
            if (!ParseNumbers(raw, target)) {
                AError = name + " takes a comma list of numbers";
                return std::nullopt;
            }
        } else if (name == "q") {
            filter.Query = PercentDecode(raw);
        } else if (name == "re" || name == "case") {
            const std::string value = PercentDecode(raw);
            if (value != "0" && value != "1" && !value.empty()) {
                AError = name + " takes 0 or 1";
                return std::nullopt;
            }
            (name == "re" ? filter.Regex : filter.CaseSensitive) = value == "1";
        } else if (name == "from" || name == "to") {
            const std::string value = PercentDecode(raw);
            if (value.empty()) continue;
            const auto number = LeadingNumber(value, true);
            if (!number) {
                AError = name + " takes a time in milliseconds";
                return std::nullopt;
            }
            (name == "from" ? filter.From : filter.To) = *number;
        } else if (name == "kinds") {
            kindsGiven = true;
            filter.Entries = filter.Controls = false;
            for (const std::string& kind : SplitList(raw)) {
                if (kind == "entry") {
                    filter.Entries = true;
                } else if (kind == "control") {
                    filter.Controls = true;
                } else {
                    AError = "unknown kind '" + kind + "'";
                    return std::nullopt;
                }
            }
        }
    }
    if (kindsGiven && !filter.Entries && !filter.Controls) {
        AError = "kinds takes entry, control or both";
        return std::nullopt;
    }
    if (filter.Regex && !filter.Query.empty()) {
        if (filter.Query.size() > 1000) {
            AError = "bad regular expression: longer than 1000 characters";
            return std::nullopt;
        }
        try {
            TTextMatcher check(filter);
        } catch (const std::regex_error& e) {
            AError = std::string("bad regular expression: ") + e.what();
            return std::nullopt;
        }
    }
    return filter;
}

// --- Interned names -----------------------------------------------------------------------------

// Names kept once, with the count of rows that refer to each. Id 0 is the empty name and is
// never freed; other ids are reused once their last row has gone.
struct TViewStore::TIntern {
    struct TItem {
        std::string Text;
        std::uint64_t Refs = 0;
    };
    std::deque<TItem> Items;  // stable addresses: the map's keys point into them
    std::unordered_map<std::string_view, std::uint32_t> Ids;
    std::vector<std::uint32_t> Free;
    std::uint32_t Last = 0;  // the id looked up last, tried first by Acquire

    TIntern() { Items.emplace_back(); }

    std::uint32_t Acquire(std::string_view AText) {
        if (AText.empty()) {
            ++Items[0].Refs;
            return 0;
        }
        if (Last != 0 && Items[Last].Refs > 0 && Items[Last].Text == AText) {
            ++Items[Last].Refs;
            return Last;
        }
        const auto it = Ids.find(AText);
        std::uint32_t id;
        if (it != Ids.end()) {
            id = it->second;
        } else {
            if (!Free.empty()) {
                id = Free.back();
                Free.pop_back();
            } else {
                id = static_cast<std::uint32_t>(Items.size());
                Items.emplace_back();
            }
            Items[id].Text.assign(AText);
            Ids.emplace(std::string_view(Items[id].Text), id);
        }
        ++Items[id].Refs;
        Last = id;
        return id;
    }

    void Release(std::uint32_t AId) {
        TItem& item = Items[AId];
        if (--item.Refs == 0 && AId != 0) {
            Ids.erase(std::string_view(item.Text));
            std::string().swap(item.Text);
            Free.push_back(AId);
        }
    }

    std::optional<std::uint32_t> Find(std::string_view AText) const {
        if (AText.empty()) return 0;
        const auto it = Ids.find(AText);
        if (it == Ids.end()) return std::nullopt;
        return it->second;
    }
};

// Titles and data of the rows, in blocks that are freed once their last row was dropped.
struct TViewStore::TArena {
    struct TBlock {
        std::unique_ptr<char[]> Data;
        std::size_t Size = 0;
        std::size_t Used = 0;
        std::uint64_t LastSeq = 0;
    };
    std::deque<TBlock> Blocks;

    const char* Put(std::string_view A, std::string_view B, std::uint64_t ASeq) {
        const std::size_t need = A.size() + B.size();
        if (Blocks.empty() || Blocks.back().Size - Blocks.back().Used < need) {
            TBlock block;
            block.Size = std::max(kArenaBlock, need);
            block.Data = std::make_unique_for_overwrite<char[]>(block.Size);
            Blocks.push_back(std::move(block));
        }
        TBlock& block = Blocks.back();
        char* target = block.Data.get() + block.Used;
        if (!A.empty()) std::memcpy(target, A.data(), A.size());
        if (!B.empty()) std::memcpy(target + A.size(), B.data(), B.size());
        block.Used += need;
        block.LastSeq = ASeq;
        return target;
    }

    // Frees the blocks that hold only rows before AFirstKept.
    void Release(std::uint64_t AFirstKept) {
        while (!Blocks.empty() && Blocks.front().LastSeq < AFirstKept) {
            if (Blocks.size() == 1) {
                Blocks.front().Used = 0;  // kept for the next rows
                if (Blocks.front().Size > kArenaBlock) Blocks.clear();
                break;
            }
            Blocks.pop_front();
        }
    }
};

// The seqs that pass one filter, among the rows scanned so far.
struct TViewStore::TMatchList {
    explicit TMatchList(TViewFilter AFilter) : Filter(std::move(AFilter)), Matcher(Filter) {}
    std::mutex Lock;
    TViewFilter Filter;
    std::string Key;
    TTextMatcher Matcher;
    std::vector<std::uint64_t> Seqs;
    std::size_t Start = 0;        // Seqs before it were dropped
    std::uint64_t ScannedTo = 1;  // the next seq to look at
};

// --- Watches --------------------------------------------------------------------------------

struct TViewStore::TWatches {
    struct THistory {
        double T;
        std::string Value;
    };
    struct TWatch {
        std::string Name;
        TSiWatchType Type = wtString;
        std::string Value;
        TDateTime Timestamp = 0;
        double T = kNaN;
        std::deque<THistory> History;
        std::uint64_t Next = 0;  // number of the next update; History ends just before it
    };
    std::map<std::string, TWatch, std::less<>> ByName;
    // Every update kept in some history, oldest first: its watch and number. Entries whose
    // update has already left its history (by the per-watch limit) are skipped.
    std::deque<std::pair<TWatch*, std::uint64_t>> Order;
    std::size_t HistoryTotal = 0;
    std::uint64_t Version = 0;
    std::uint64_t Ignored = 0;

    void Clear() {
        ByName.clear();
        Order.clear();
        HistoryTotal = 0;
        ++Version;
    }

    void Update(const TSiWatch& AWatch, double AT) {
        auto it = ByName.find(AWatch.Name);
        if (it == ByName.end()) {
            if (ByName.size() >= kWatchNames) {
                ++Ignored;
                return;
            }
            it = ByName.emplace(AWatch.Name, TWatch{}).first;
            it->second.Name = AWatch.Name;
        }
        TWatch& w = it->second;
        w.Type = AWatch.WatchType;
        w.Value.assign(AWatch.Value, 0, std::min(AWatch.Value.size(), kWatchValueBytes));
        w.Timestamp = AWatch.Timestamp;
        w.T = AT;
        bool cut = false;
        w.History.push_back(
            {AT, std::string(TitleExcerpt(AWatch.Value, kWatchHistoryValueBytes, cut))});
        if (cut) w.History.back().Value += "\xE2\x80\xA6";
        Order.emplace_back(&w, w.Next++);
        ++HistoryTotal;
        if (w.History.size() > kWatchHistory) {
            w.History.pop_front();
            --HistoryTotal;
        }
        while (HistoryTotal > kWatchHistoryTotal && !Order.empty()) {
            const auto [watch, number] = Order.front();
            Order.pop_front();
            if (number + watch->History.size() >= watch->Next) {  // still in its history
                watch->History.pop_front();
                --HistoryTotal;
            }
        }
        // Entries of updates that left their history by the per-watch limit pile up in Order;
        // they are swept out once they outnumber the live ones.
        if (Order.size() > 2 * kWatchHistoryTotal) {
            std::deque<std::pair<TWatch*, std::uint64_t>> live;
            for (const auto& e : Order) {
                if (e.second + e.first->History.size() >= e.first->Next) live.push_back(e);
            }
            Order.swap(live);
        }
        ++Version;
    }
};

namespace {

void AppendTime(std::string& AOut, const char* AName, double AValue) {
    AOut += AName;
    AppendJsonNumber(AOut, AValue);
}

}  // namespace

// --- Process flow ---------------------------------------------------------------------------

struct TViewStore::TFlow {
    struct TScope {
        std::string Title;
        double Enter = kNaN;
        double Leave = kNaN;
        bool Open = true;
        std::deque<std::unique_ptr<TScope>> Children;
        std::size_t ClosedChildren = 0;
    };
    struct TThread {
        std::string Title;
        double Enter = kNaN;
        double Leave = kNaN;
        bool Open = true;
        std::deque<std::unique_ptr<TScope>> Scopes;
        std::size_t ClosedScopes = 0;
        std::vector<TScope*> Stack;  // the open scopes, outermost first
        std::size_t Overflow = 0;    // enters beyond the depth limit not yet left
    };
    struct TProcess {
        std::string Title;
        double Enter = kNaN;
        double Leave = kNaN;
        bool Open = true;
        std::map<std::uint32_t, TThread> Threads;
        std::deque<std::uint32_t> ClosedThreads;
    };
    struct THost {
        std::map<std::uint32_t, TProcess> Processes;
        std::deque<std::uint32_t> ClosedProcesses;
    };
    std::map<std::string, THost> Hosts;
    std::uint64_t Version = 0;

    static constexpr std::size_t kHosts = 1000;
    static constexpr std::size_t kProcesses = 10000;
    static constexpr std::size_t kThreads = 10000;

    void Clear() {
        Hosts.clear();
        ++Version;
    }

    TProcess* Process(const std::string& AHost, std::uint32_t APid) {
        auto host = Hosts.find(AHost);
        if (host == Hosts.end()) {
            if (Hosts.size() >= kHosts) return nullptr;
            host = Hosts.emplace(AHost, THost{}).first;
        }
        auto& processes = host->second.Processes;
        auto it = processes.find(APid);
        if (it == processes.end()) {
            if (processes.size() >= kProcesses) return nullptr;
            it = processes.emplace(APid, TProcess{}).first;
        }
        return &it->second;
    }

    TThread* Thread(TProcess& AProcess, std::uint32_t ATid) {
        auto it = AProcess.Threads.find(ATid);
        if (it == AProcess.Threads.end()) {
            if (AProcess.Threads.size() >= kThreads) return nullptr;
            it = AProcess.Threads.emplace(ATid, TThread{}).first;
        }
        return &it->second;
    }

    // Closes the last scope of AList (one that has just been left) and forgets the oldest
    // closed ones beyond the limit; only the last scope of a list can be open.
    static void Trim(std::deque<std::unique_ptr<TScope>>& AList, std::size_t& AClosed) {
        ++AClosed;
        while (AClosed > kClosedScopes && !AList.empty() && !AList.front()->Open) {
            AList.pop_front();
            --AClosed;
        }
    }

    // Scopes are written recursively; their depth is bounded by kScopeDepth.
    static void WriteScopes(std::string& AOut, const std::deque<std::unique_ptr<TScope>>& scopes) {
        AOut += '[';
        bool first = true;
        for (const auto& scope : scopes) {
            if (!first) AOut += ',';
            first = false;
            bool cut = false;
            AOut += "{\"title\":";
            std::string title(TitleExcerpt(scope->Title, TViewStore::kTitleExcerpt, cut));
            if (cut) title += "\xE2\x80\xA6";
            AppendJsonString(AOut, title);
            AppendTime(AOut, ",\"enter\":", scope->Enter);
            AppendTime(AOut, ",\"leave\":", scope->Leave);
            AOut += scope->Open ? ",\"open\":true,\"scopes\":" : ",\"open\":false,\"scopes\":";
            WriteScopes(AOut, scope->Children);
            AOut += '}';
        }
        AOut += ']';
    }

    void Add(const TSiProcessFlow& AFlow, double AT) {
        TProcess* process = Process(AFlow.HostName, AFlow.ProcessId);
        if (process == nullptr) return;
        switch (AFlow.ProcessFlowType) {
            case pfEnterProcess:
                process->Title = AFlow.Title;
                process->Enter = AT;
                process->Leave = kNaN;
                process->Open = true;
                break;
            case pfLeaveProcess: {
                process->Leave = AT;
                if (process->Open) {
                    process->Open = false;
                    auto& host = Hosts[AFlow.HostName];
                    host.ClosedProcesses.push_back(AFlow.ProcessId);
                    while (host.ClosedProcesses.size() > kClosedProcesses) {
                        const std::uint32_t pid = host.ClosedProcesses.front();
                        host.ClosedProcesses.pop_front();
                        const auto it = host.Processes.find(pid);
                        if (it != host.Processes.end() && !it->second.Open) {
                            host.Processes.erase(it);
                        }
                    }
                }
                break;
            }
            case pfEnterThread:
            case pfLeaveThread: {
                TThread* thread = Thread(*process, AFlow.ThreadId);
                if (thread == nullptr) break;
                if (AFlow.ProcessFlowType == pfEnterThread) {
                    thread->Title = AFlow.Title;
                    thread->Enter = AT;
                    thread->Leave = kNaN;
                    thread->Open = true;
                } else {
                    thread->Leave = AT;
                    if (thread->Open) {
                        thread->Open = false;
                        process->ClosedThreads.push_back(AFlow.ThreadId);
                        while (process->ClosedThreads.size() > kClosedThreads) {
                            const std::uint32_t tid = process->ClosedThreads.front();
                            process->ClosedThreads.pop_front();
                            const auto it = process->Threads.find(tid);
                            if (it != process->Threads.end() && !it->second.Open) {
                                process->Threads.erase(it);
                            }
                        }
                    }
                }
                break;
            }
            case pfEnterMethod: {
                TThread* thread = Thread(*process, AFlow.ThreadId);
                if (thread == nullptr) break;
                if (thread->Stack.size() >= kScopeDepth) {
                    ++thread->Overflow;
                    break;
                }
                auto scope = std::make_unique<TScope>();
                scope->Title = AFlow.Title;
                scope->Enter = AT;
                TScope* raw = scope.get();
                (thread->Stack.empty() ? thread->Scopes : thread->Stack.back()->Children)
                    .push_back(std::move(scope));
                thread->Stack.push_back(raw);
                break;
            }
            case pfLeaveMethod: {
                TThread* thread = Thread(*process, AFlow.ThreadId);
                if (thread == nullptr) break;
                if (thread->Overflow > 0) {
                    --thread->Overflow;
                    break;
                }
                if (thread->Stack.empty()) break;  // a leave without its enter
                TScope* scope = thread->Stack.back();
                thread->Stack.pop_back();
                scope->Leave = AT;
                scope->Open = false;
                if (thread->Stack.empty()) {
                    Trim(thread->Scopes, thread->ClosedScopes);
                } else {
                    TScope* parent = thread->Stack.back();
                    Trim(parent->Children, parent->ClosedChildren);
                }
                break;
            }
        }
        ++Version;
    }
};

// --- The store ------------------------------------------------------------------------------

TViewStore::TViewStore(TViewStoreOptions AOptions)
    : FOptions(AOptions),
      FArena(std::make_unique<TArena>()),
      FWatches(std::make_unique<TWatches>()),
      FFlow(std::make_unique<TFlow>()) {
    if (FOptions.Keep == 0) FOptions.Keep = 1;
    for (auto& intern : FInterns) intern = std::make_unique<TIntern>();
}

TViewStore::~TViewStore() = default;

std::uint32_t TViewStore::AddSource(const std::string& AKind, const std::string& AName,
                                    const std::string& AState) {
    std::lock_guard guard(FSourceLock);
    TViewSource source;
    source.Id = FNextSource++;
    source.Kind = AKind;
    source.Name = AName;
    source.State = AState;
    FSources.push_back(std::move(source));
    // Closed sources beyond the limit are forgotten, oldest first; their rows keep their id.
    std::size_t closed = 0;
    for (const auto& s : FSources) closed += (s.State == "closed" || s.State == "done") ? 1 : 0;
    for (auto it = FSources.begin(); closed > kClosedSources && it != FSources.end();) {
        if (it->State == "closed" || it->State == "done") {
            it = FSources.erase(it);
            --closed;
        } else {
            ++it;
        }
    }
    FChanges.fetch_add(1);
    return FSources.back().Id;
}

void TViewStore::SetSourceState(std::uint32_t AId, const std::string& AState,
                                const std::string& AError) {
    std::lock_guard guard(FSourceLock);
    for (auto& s : FSources) {
        if (s.Id == AId) {
            s.State = AState;
            s.Error = AError;
        }
    }
    FChanges.fetch_add(1);
}

void TViewStore::SetSourceBanner(std::uint32_t AId, const std::string& ABanner) {
    std::lock_guard guard(FSourceLock);
    for (auto& s : FSources) {
        if (s.Id == AId) s.Banner = ABanner;
    }
    FChanges.fetch_add(1);
}

const TViewRow& TViewStore::RowAt(std::uint64_t ASeq) const {
    return FRing[(FHead + (ASeq - FFirst)) % FRing.size()];
}

void TViewStore::DropFront(bool ACleared) {
    const TViewRow& row = FRing[FHead];
    FBytes -= row.TitleLength + row.DataLength;
    if (row.Control) {
        --FControlCount;
    } else {
        --FTypeCounts[row.Type];
        FInterns[0]->Release(row.Session);
        FInterns[1]->Release(row.App);
        FInterns[2]->Release(row.Host);
        if (--FProcessCounts[row.ProcessId] == 0) FProcessCounts.erase(row.ProcessId);
        if (--FThreadCounts[row.ThreadId] == 0) FThreadCounts.erase(row.ThreadId);
    }
    if (--FSourceCounts[row.Source] == 0) FSourceCounts.erase(row.Source);
    FHead = (FHead + 1) % FRing.size();
    ++FFirst;
    if (ACleared) {
        ++FClearedRows;
    } else {
        ++FDropped;
    }
}

void TViewStore::AppendRow(TViewRow ARow, std::string_view ATitle, std::string_view AData) {
    const std::uint64_t bytes = ATitle.size() + AData.size();
    std::uint64_t kept = FNext - FFirst;
    bool dropped = false;
    while (kept > 0 && (kept >= FOptions.Keep || FBytes + bytes > FOptions.KeepBytes)) {
        DropFront(false);
        --kept;
        dropped = true;
    }
    if (dropped) FArena->Release(FFirst);
    if (kept == FRing.size()) {
        // Grow the ring (up to Keep rows), laying the rows out from index 0.
        const std::size_t size = static_cast<std::size_t>(
            std::min<std::uint64_t>(FOptions.Keep, std::max<std::size_t>(1024, FRing.size() * 2)));
        std::vector<TViewRow> ring(size);
        for (std::uint64_t i = 0; i < kept; ++i) ring[i] = FRing[(FHead + i) % FRing.size()];
        FRing.swap(ring);
        FHead = 0;
    }
    ARow.TitleLength = static_cast<std::uint32_t>(ATitle.size());
    ARow.DataLength = static_cast<std::uint32_t>(AData.size());
    ARow.Text = bytes > 0 ? FArena->Put(ATitle, AData, FNext) : nullptr;
    FBytes += bytes;
    if (ARow.Control) {
        ++FControlCount;
    } else {
        ++FTypeCounts[ARow.Type];
        ++FProcessCounts[ARow.ProcessId];
        ++FThreadCounts[ARow.ThreadId];
    }
    ++FSourceCounts[ARow.Source];
    FRing[(FHead + kept) % FRing.size()] = ARow;
    ++FNext;
}

void TViewStore::AddEntry(std::uint32_t ASource, const TSiLogEntry& AEntry) {
    TViewRow row;
    row.Timestamp = AEntry.Timestamp;
    row.T = FTime.ToUnixMs(AEntry.Timestamp);
    row.ProcessId = AEntry.ProcessId;
    row.ThreadId = AEntry.ThreadId;
    row.Color = AEntry.Color;
    row.Source = ASource;
    row.Type = static_cast<std::uint8_t>(AEntry.LogEntryType);
    row.Viewer = static_cast<std::uint8_t>(AEntry.ViewerId);
    row.Severity = SeverityOf(AEntry.LogEntryType);
    const TSiMemoryStream* data = AEntry.GetData();
    std::string_view bytes;
    if (data != nullptr) {
        const auto span = data->Bytes();
        bytes = std::string_view(reinterpret_cast<const char*>(span.data()), span.size());
    }
    // Lengths are kept in 32 bits; the binary format itself carries no more.
    const std::string_view title =
        std::string_view(AEntry.Title).substr(0, std::numeric_limits<std::uint32_t>::max());
    bytes = bytes.substr(0, std::numeric_limits<std::uint32_t>::max());
    FSourceTime[ASource] = {row.Timestamp, row.T};
    std::unique_lock guard(FRowsLock);
    row.Session = FInterns[0]->Acquire(AEntry.SessionName);
    row.App = FInterns[1]->Acquire(AEntry.AppName);
    row.Host = FInterns[2]->Acquire(AEntry.HostName);
    AppendRow(row, title, bytes);
}

void TViewStore::AddControl(std::uint32_t ASource, const TSiControlCommand& ACommand) {
    TViewRow row;
    row.Control = 1;
    row.Type = static_cast<std::uint8_t>(ACommand.ControlCommandType);
    row.Severity = svInfo;
    row.Source = ASource;
    row.Color = static_cast<std::int32_t>(clWindow);
    // A command carries no time; it takes that of its source's packet before it.
    const auto time = FSourceTime.find(ASource);
    row.Timestamp = time != FSourceTime.end() ? time->second.first : kNaN;
    row.T = time != FSourceTime.end() ? time->second.second : kNaN;
    std::string_view bytes;
    if (const TSiMemoryStream* data = ACommand.GetData()) {
        const auto span = data->Bytes();
        bytes = std::string_view(reinterpret_cast<const char*>(span.data()), span.size());
    }
    const auto type = ACommand.ControlCommandType;
    if (type == ccClearWatches || type == ccClearAll) {
        std::unique_lock guard(FWatchLock);
        FWatches->Clear();
    }
    if (type == ccClearProcessFlow || type == ccClearAll) {
        std::unique_lock guard(FFlowLock);
        FFlow->Clear();
    }
    std::unique_lock guard(FRowsLock);
    if (type == ccClearLog || type == ccClearAll) {
        while (FNext > FFirst) DropFront(true);
        FArena->Release(FFirst);
        FCleared = FNext - 1;
    }
    AppendRow(row, {}, bytes.substr(0, std::numeric_limits<std::uint32_t>::max()));
}

void TViewStore::Add(std::uint32_t ASource, TSiPacket& APacket) {
    FReceived.fetch_add(1, std::memory_order_relaxed);
    switch (APacket.GetPacketType()) {
        case ptLogEntry:
            AddEntry(ASource, static_cast<const TSiLogEntry&>(APacket));
            break;
        case ptControlCommand:
            AddControl(ASource, static_cast<const TSiControlCommand&>(APacket));
            break;
        case ptWatch: {
            const auto& watch = static_cast<const TSiWatch&>(APacket);
            const double t = FTime.ToUnixMs(watch.Timestamp);
            std::unique_lock guard(FWatchLock);
            FWatches->Update(watch, t);
            break;
        }
        case ptProcessFlow: {
            const auto& flow = static_cast<const TSiProcessFlow&>(APacket);
            const double t = FTime.ToUnixMs(flow.Timestamp);
            FSourceTime[ASource] = {flow.Timestamp, t};
            std::unique_lock guard(FFlowLock);
            FFlow->Add(flow, t);
            break;
        }
        case ptLogHeader: {
            const auto& header = static_cast<const TSiLogHeader&>(APacket);
            std::lock_guard guard(FSourceLock);
            for (auto& s : FSources) {
                if (s.Id == ASource) {
                    s.AppName = header.AppName;
                    s.HostName = header.HostName;
                }
            }
            break;
        }
    }
    {
        std::lock_guard guard(FSourceLock);
        // The newest sources are at the end, and packets mostly come from them.
        for (auto it = FSources.rbegin(); it != FSources.rend(); ++it) {
            if (it->Id == ASource) {
                ++it->Packets;
                break;
            }
        }
    }
    FChanges.fetch_add(1, std::memory_order_relaxed);
}

// --- Reading --------------------------------------------------------------------------------

TViewState TViewStore::State() const {
    TViewState state;
    {
        std::shared_lock guard(FRowsLock);
        state.Kept = FNext - FFirst;
        state.First = state.Kept > 0 ? FFirst : 0;
        state.Last = state.Kept > 0 ? FNext - 1 : 0;
        state.Dropped = FDropped;
        state.Cleared = FCleared;
        state.KeptBytes = FBytes;
    }
    state.Keep = FOptions.Keep;
    state.Received = FReceived.load();
    {
        std::lock_guard guard(FSourceLock);
        state.Sources = FSources;
    }
    {
        std::shared_lock guard(FWatchLock);
        state.WatchVersion = FWatches->Version;
    }
    {
        std::shared_lock guard(FFlowLock);
        state.FlowVersion = FFlow->Version;
    }
    return state;
}

std::uint64_t TViewStore::WaitForChange(std::uint64_t ASeen, std::uint32_t AMilliseconds) const {
    std::unique_lock guard(FChangeLock);
    FChangeSignal.wait_for(guard, std::chrono::milliseconds(AMilliseconds),
                           [&] { return FChanges.load() != ASeen; });
    return FChanges.load();
}

void TViewStore::Notify() const {
    { std::lock_guard guard(FChangeLock); }
    FChangeSignal.notify_all();
}

std::string_view TViewStore::InternedText(int AField, std::uint32_t AId) const {
    return FInterns[AField]->Items[AId].Text;
}

void TViewStore::WriteRowJson(std::string& AOut, std::uint64_t ASeq, const TViewRow& ARow,
                              bool AFull) const {
    AOut += "{\"seq\":";
    AOut += std::to_string(ASeq);
    AOut += ARow.Control ? ",\"kind\":\"control\",\"t\":" : ",\"kind\":\"entry\",\"t\":";
    AppendJsonNumber(AOut, ARow.T);
    AOut += ",\"timestamp\":";
    AppendJsonString(AOut, TimestampText(ARow.Timestamp));
    if (AFull) {
        AOut += ",\"timestampRaw\":";
        AppendJsonNumber(AOut, ARow.Timestamp);
    }
    if (ARow.Control) {
        AOut += ",\"logEntryType\":null,\"sev\":";
    } else {
        AOut += ",\"logEntryType\":\"";
        AOut += SiLogEntryTypeString(static_cast<TSiLogEntryType>(ARow.Type));
        AOut += "\",\"sev\":";
    }
    AOut += static_cast<char>('0' + ARow.Severity);
    if (ARow.Control) {
        AOut += ",\"viewerId\":null,\"title\":";
    } else {
        AOut += ",\"viewerId\":\"";
        AOut += SiViewerIdString(static_cast<TSiViewerId>(ARow.Viewer));
        AOut += "\",\"title\":";
    }
    bool cut = false;
    const std::string_view title =
        AFull ? ARow.Title() : TitleExcerpt(ARow.Title(), kTitleExcerpt, cut);
    if (cut) {
        std::string excerpt(title);
        excerpt += "\xE2\x80\xA6";
        AppendJsonString(AOut, excerpt);
    } else {
        AppendJsonString(AOut, title);
    }
    AOut += ",\"titleLength\":";
    AOut += std::to_string(ARow.TitleLength);
    AOut += ",\"sessionName\":";
    AppendJsonString(AOut, InternedText(0, ARow.Session));
    AOut += ",\"appName\":";
    AppendJsonString(AOut, InternedText(1, ARow.App));
    AOut += ",\"hostName\":";
    AppendJsonString(AOut, InternedText(2, ARow.Host));
    AOut += ",\"processId\":";
    AOut += std::to_string(ARow.ProcessId);
    AOut += ",\"threadId\":";
    AOut += std::to_string(ARow.ThreadId);
    AOut += ",\"color\":";
    const std::string color = ColorText(ARow.Color);
    if (color.empty()) {
        AOut += "null";
    } else {
        AOut += '"';
        AOut += color;
        AOut += '"';
    }
    AOut += ",\"dataSize\":";
    AOut += std::to_string(ARow.DataLength);
    AOut += ",\"source\":";
    AOut += std::to_string(ARow.Source);
    if (ARow.Control) {
        AOut += ",\"controlCommandType\":\"";
        AOut += SiControlCommandTypeString(static_cast<TSiControlCommandType>(ARow.Type));
        AOut += '"';
    }
    if (AFull) {
        AOut += ",\"data\":\"";
        AppendBase64(AOut, ARow.Data());
        AOut += '"';
    }
    AOut += '}';
}

std::shared_ptr<TViewStore::TMatchList> TViewStore::MatchList(const TViewFilter& AFilter) {
    const std::string key = AFilter.Key();
    std::lock_guard guard(FFilterLock);
    for (auto it = FFilters.begin(); it != FFilters.end(); ++it) {
        if ((*it)->Key == key) {
            auto list = *it;
            FFilters.erase(it);
            FFilters.push_front(list);
            return list;
        }
    }
    auto list = std::make_shared<TMatchList>(AFilter);
    list->Key = key;
    FFilters.push_front(list);
    if (FFilters.size() > kCachedFilters) FFilters.pop_back();
    return list;
}

void TViewStore::Scan(TMatchList& AList, std::uint64_t ACount) const {
    const TViewFilter& f = AList.Filter;
    const std::uint64_t from = std::max(AList.ScannedTo, FFirst);
    const std::uint64_t to = std::min(FNext, from + std::min(ACount, FNext - from));
    // Names are looked up for each scan: the ids of names whose rows have all gone may be given
    // to other names meanwhile (only while no scan holds the rows lock).
    const auto resolve = [&](int AField, const std::vector<std::string>& ANames) {
        std::vector<std::uint32_t> ids;
        for (const auto& name : ANames) {
            if (const auto id = FInterns[AField]->Find(name)) ids.push_back(*id);
        }
        return ids;
    };
    const auto sessions = resolve(0, f.Sessions);
    const auto apps = resolve(1, f.Apps);
    const auto hosts = resolve(2, f.Hosts);
    for (std::uint64_t seq = from; seq < to; ++seq) {
        const TViewRow& row = RowAt(seq);
        if (row.Control ? !f.Controls : !f.Entries) continue;
        if (!f.Sources.empty() && !Contains(f.Sources, row.Source)) continue;
        if (f.From && !(row.T >= *f.From)) continue;
        if (f.To && !(row.T <= *f.To)) continue;
        if (!row.Control) {
            if (f.Types != 0 && (f.Types & (1u << row.Type)) == 0) continue;
            if (!f.Sessions.empty() && !Contains(sessions, row.Session)) continue;
            if (!f.Apps.empty() && !Contains(apps, row.App)) continue;
            if (!f.Hosts.empty() && !Contains(hosts, row.Host)) continue;
            if (!f.ProcessIds.empty() && !Contains(f.ProcessIds, row.ProcessId)) continue;
            if (!f.ThreadIds.empty() && !Contains(f.ThreadIds, row.ThreadId)) continue;
            if (AList.Matcher.Active() && !AList.Matcher.Match(row.Title())) continue;
        }
        AList.Seqs.push_back(seq);
    }
    AList.ScannedTo = to;
}

void TViewStore::Extend(TMatchList& AList) {
    for (;;) {
        std::shared_lock guard(FRowsLock);
        Scan(AList, kScanSlice);
        if (AList.ScannedTo >= FNext) break;
    }
}

void TViewStore::Trim(TMatchList& AList) const {
    auto& seqs = AList.Seqs;
    const auto first = std::lower_bound(seqs.begin() + static_cast<std::ptrdiff_t>(AList.Start),
                                        seqs.end(), FFirst);
    AList.Start = static_cast<std::size_t>(first - seqs.begin());
    if (AList.Start > 4096 && AList.Start > seqs.size() / 2) {
        seqs.erase(seqs.begin(), seqs.begin() + static_cast<std::ptrdiff_t>(AList.Start));
        AList.Start = 0;
    }
}

TViewStore::TRowsResult TViewStore::Rows(const TViewFilter& AFilter,
                                         std::optional<std::uint64_t> ASeq, std::int64_t AOffset,
                                         std::uint64_t ALimit) {
    TRowsResult result;
    // The start among Total matches: AOffset after the first, or after the first match at or
    // after ASeq.
    const auto start = [&](std::uint64_t ABase) {
        const auto offset = static_cast<std::int64_t>(ABase) + AOffset;
        return offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
    };
    const auto write = [&](std::uint64_t ASeq) {
        if (!result.RowsJson.empty()) result.RowsJson += ',';
        WriteRowJson(result.RowsJson, ASeq, RowAt(ASeq), false);
    };
    if (AFilter.All()) {
        std::shared_lock guard(FRowsLock);
        result.Total = FNext - FFirst;
        result.Last = FNext - 1;
        const std::uint64_t base =
            !ASeq ? 0 : std::min(result.Total, *ASeq > FFirst ? *ASeq - FFirst : 0);
        result.Offset = start(base);
        for (std::uint64_t i = result.Offset; i < result.Total && i < result.Offset + ALimit; ++i) {
            write(FFirst + i);
        }
        return result;
    }
    const auto list = MatchList(AFilter);
    std::lock_guard listGuard(list->Lock);
    Extend(*list);
    std::shared_lock guard(FRowsLock);
    Scan(*list, FNext);  // what came after the last slice
    Trim(*list);
    const auto& seqs = list->Seqs;
    const auto begin = seqs.begin() + static_cast<std::ptrdiff_t>(list->Start);
    result.Total = static_cast<std::uint64_t>(seqs.end() - begin);
    result.Last = FNext - 1;
    const std::uint64_t base =
        !ASeq ? 0 : static_cast<std::uint64_t>(std::lower_bound(begin, seqs.end(), *ASeq) - begin);
    result.Offset = start(base);
    for (std::uint64_t i = result.Offset; i < result.Total && i < result.Offset + ALimit; ++i) {
        write(seqs[list->Start + i]);
    }
    return result;
}

std::optional<std::string> TViewStore::EntryJson(std::uint64_t ASeq) const {
    std::shared_lock guard(FRowsLock);
    if (ASeq < FFirst || ASeq >= FNext) return std::nullopt;
    std::string out;
    WriteRowJson(out, ASeq, RowAt(ASeq), true);
    return out;
}

std::string TViewStore::FacetsJson(std::size_t AMaxValues) const {
    std::shared_lock guard(FRowsLock);
    std::string out = "{\"logEntryType\":{";
    bool first = true;
    for (int i = 0; i < 32; ++i) {
        if (FTypeCounts[i] == 0) continue;
        if (!first) out += ',';
        first = false;
        out += '"';
        out += SiLogEntryTypeString(static_cast<TSiLogEntryType>(i));
        out += "\":";
        out += std::to_string(FTypeCounts[i]);
    }
    out += '}';
    const auto top = [&](std::vector<std::pair<std::uint64_t, std::string>> AItems) {
        const std::size_t n = std::min(AMaxValues, AItems.size());
        std::partial_sort(AItems.begin(), AItems.begin() + static_cast<std::ptrdiff_t>(n),
                          AItems.end(), [](const auto& a, const auto& b) {
                              return a.first != b.first ? a.first > b.first : a.second < b.second;
                          });
        AItems.resize(n);
        std::string text = "{";
        for (std::size_t i = 0; i < AItems.size(); ++i) {
            if (i > 0) text += ',';
            AppendJsonString(text, AItems[i].second);
            text += ':';
            text += std::to_string(AItems[i].first);
        }
        return text + "}";
    };
    static const char* const kNames[] = {"sessionName", "appName", "hostName"};
    for (int field = 0; field < 3; ++field) {
        std::vector<std::pair<std::uint64_t, std::string>> items;
        for (const auto& item : FInterns[field]->Items) {
            if (item.Refs > 0) items.emplace_back(item.Refs, item.Text);
        }
        out += ",\"";
        out += kNames[field];
        out += "\":" + top(std::move(items));
    }
    const auto numbers = [&](const std::unordered_map<std::uint32_t, std::uint64_t>& ACounts) {
        std::vector<std::pair<std::uint64_t, std::string>> items;
        items.reserve(ACounts.size());
        for (const auto& [value, count] : ACounts) items.emplace_back(count, std::to_string(value));
        return top(std::move(items));
    };
    out += ",\"processId\":" + numbers(FProcessCounts);
    out += ",\"threadId\":" + numbers(FThreadCounts);
    out += ",\"source\":" + numbers(FSourceCounts);
    out += ",\"control\":" + std::to_string(FControlCount);
    out += '}';
    return out;
}

std::string TViewStore::HistogramJson(const TViewFilter& AFilter, std::uint32_t ABuckets) {
    ABuckets = std::max<std::uint32_t>(ABuckets, 1);
    std::vector<std::uint64_t> seqs;
    std::shared_ptr<TMatchList> list;
    std::unique_lock<std::mutex> listGuard;
    if (!AFilter.All()) {
        list = MatchList(AFilter);
        listGuard = std::unique_lock(list->Lock);
        Extend(*list);
    }
    std::shared_lock guard(FRowsLock);
    const auto each = [&](auto AVisit) {
        if (list) {
            Scan(*list, FNext);
            Trim(*list);
            for (std::size_t i = list->Start; i < list->Seqs.size(); ++i) {
                AVisit(RowAt(list->Seqs[i]));
            }
        } else {
            for (std::uint64_t seq = FFirst; seq < FNext; ++seq) AVisit(RowAt(seq));
        }
    };
    double from = std::numeric_limits<double>::infinity();
    double to = -from;
    each([&](const TViewRow& row) {
        if (std::isnan(row.T)) return;
        from = std::min(from, row.T);
        to = std::max(to, row.T);
    });
    if (AFilter.From) from = *AFilter.From;
    if (AFilter.To) to = *AFilter.To;
    std::vector<std::array<std::uint64_t, 6>> counts(ABuckets);
    double bucket = 0;
    if (from <= to && std::isfinite(from) && std::isfinite(to)) {
        bucket = std::max((to - from) / ABuckets, 1.0);
        each([&](const TViewRow& row) {
            if (!(row.T >= from && row.T <= to)) return;
            auto index = static_cast<std::size_t>((row.T - from) / bucket);
            if (index >= ABuckets) index = ABuckets - 1;
            ++counts[index][row.Severity < 6 ? row.Severity : 1];
        });
    } else {
        from = to = 0;
    }
    std::string out = "{\"from\":";
    AppendJsonNumber(out, from);
    out += ",\"to\":";
    AppendJsonNumber(out, to);
    out += ",\"bucket\":";
    AppendJsonNumber(out, bucket);
    out += ",\"counts\":[";
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (i > 0) out += ',';
        out += '[';
        for (int s = 0; s < 6; ++s) {
            if (s > 0) out += ',';
            out += std::to_string(counts[i][s]);
        }
        out += ']';
    }
    out += "]}";
    return out;
}

void TViewStore::WriteExportLine(std::string& AOut, std::uint64_t ASeq, const TViewRow& ARow,
                                 bool AJsonLines) const {
    if (AJsonLines) {
        // The schema, and the text, of `silog dump --format json`.
        std::string hex;
        AppendHex(hex, ARow.Data());
        if (ARow.Control) {
            AOut += "{\"packet\":\"ControlCommand\",\"controlCommandType\":";
            AOut += JsonString(
                SiControlCommandTypeString(static_cast<TSiControlCommandType>(ARow.Type)));
            AOut += ",\"data\":" + JsonString(hex) + "}\n";
            return;
        }
        char raw[64];
        std::snprintf(raw, sizeof raw, "%.17g", ARow.Timestamp);
        const std::string iso = IsoTimestamp(ARow.Timestamp);
        AOut += "{\"packet\":\"LogEntry\",\"logEntryType\":";
        AOut += JsonString(SiLogEntryTypeString(static_cast<TSiLogEntryType>(ARow.Type)));
        AOut +=
            ",\"viewerId\":" + JsonString(SiViewerIdString(static_cast<TSiViewerId>(ARow.Viewer)));
        AOut += ",\"appName\":" + JsonString(InternedText(1, ARow.App));
        AOut += ",\"sessionName\":" + JsonString(InternedText(0, ARow.Session));
        AOut += ",\"title\":" + JsonString(ARow.Title());
        AOut += ",\"hostName\":" + JsonString(InternedText(2, ARow.Host));
        AOut += ",\"processId\":" + std::to_string(ARow.ProcessId);
        AOut += ",\"threadId\":" + std::to_string(ARow.ThreadId);
        AOut += ",\"timestamp\":" + (iso.empty() ? std::string("null") : "\"" + iso + "\"");
        AOut += ",\"timestampRaw\":";
        AOut += std::isfinite(ARow.Timestamp) ? raw : "null";
        AOut += ",\"color\":" + std::to_string(static_cast<std::uint32_t>(ARow.Color));
        AOut += ",\"data\":" + JsonString(hex) + "}\n";
        return;
    }
    const auto cell = [&](std::string_view AText) {
        // Cells hold valid UTF-8 only, as the JSON does.
        std::string valid;
        std::size_t i = 0;
        while (i < AText.size()) {
            const std::size_t start = i;
            const char32_t c = SiDecodeUtf8(AText, i);
            if (c == 0xFFFD && !(i - start == 3 && AText.substr(start, 3) == "\xEF\xBF\xBD")) {
                valid += "\xEF\xBF\xBD";
            } else {
                valid.append(AText.substr(start, i - start));
            }
        }
        AppendCsvCell(AOut, valid);
    };
    AOut += std::to_string(ASeq);
    AOut += ',';
    cell(TimestampText(ARow.Timestamp));
    AOut += ',';
    cell(ARow.Control ? SiControlCommandTypeString(static_cast<TSiControlCommandType>(ARow.Type))
                      : SiLogEntryTypeString(static_cast<TSiLogEntryType>(ARow.Type)));
    AOut += ',';
    cell(ARow.Title());
    AOut += ',';
    cell(InternedText(0, ARow.Session));
    AOut += ',';
    cell(InternedText(1, ARow.App));
    AOut += ',';
    cell(InternedText(2, ARow.Host));
    AOut += ',';
    AOut += ARow.Control ? "" : std::to_string(ARow.ProcessId);
    AOut += ',';
    AOut += ARow.Control ? "" : std::to_string(ARow.ThreadId);
    AOut += ',';
    if (!ARow.Control) cell(SiViewerIdString(static_cast<TSiViewerId>(ARow.Viewer)));
    AOut += ',';
    AOut += std::to_string(ARow.DataLength);
    AOut += "\r\n";
}

void TViewStore::Export(const TViewFilter& AFilter, bool AJsonLines,
                        const std::function<bool(std::string_view)>& AWrite) {
    if (!AJsonLines) {
        if (!AWrite("seq,timestamp,logEntryType,title,sessionName,appName,hostName,processId,"
                    "threadId,viewerId,dataSize\r\n")) {
            return;
        }
    }
    // The seqs to write, taken at the start; rows dropped meanwhile are left out.
    std::vector<std::uint64_t> seqs;
    std::uint64_t from = 0, to = 0;
    if (AFilter.All()) {
        std::shared_lock guard(FRowsLock);
        from = FFirst;
        to = FNext;
    } else {
        const auto list = MatchList(AFilter);
        std::lock_guard listGuard(list->Lock);
        Extend(*list);
        std::shared_lock guard(FRowsLock);
        Scan(*list, FNext);
        Trim(*list);
        seqs.assign(list->Seqs.begin() + static_cast<std::ptrdiff_t>(list->Start),
                    list->Seqs.end());
    }
    const std::size_t count = AFilter.All() ? static_cast<std::size_t>(to - from) : seqs.size();
    constexpr std::size_t kPiece = 2000;
    std::string text;
    for (std::size_t i = 0; i < count; i += kPiece) {
        text.clear();
        {
            std::shared_lock guard(FRowsLock);
            for (std::size_t k = i; k < count && k < i + kPiece; ++k) {
                const std::uint64_t seq = AFilter.All() ? from + k : seqs[k];
                if (seq < FFirst || seq >= FNext) continue;
                WriteExportLine(text, seq, RowAt(seq), AJsonLines);
            }
        }
        if (!text.empty() && !AWrite(text)) return;
    }
}

std::string TViewStore::WatchesJson() const {
    std::shared_lock guard(FWatchLock);
    std::string out = "{\"version\":" + std::to_string(FWatches->Version) + ",\"watches\":[";
    bool first = true;
    for (const auto& [name, w] : FWatches->ByName) {
        if (!first) out += ',';
        first = false;
        out += "{\"name\":";
        AppendJsonString(out, name);
        out += ",\"value\":";
        AppendJsonString(out, w.Value);
        out += ",\"watchType\":\"";
        out += SiWatchTypeString(w.Type);
        out += "\",\"t\":";
        AppendJsonNumber(out, w.T);
        out += ",\"timestamp\":";
        AppendJsonString(out, TimestampText(w.Timestamp));
        out += ",\"count\":" + std::to_string(w.History.size());
        const auto number = LeadingNumber(w.Value);
        const bool numeric = (w.Type == wtInteger || w.Type == wtFloat) && number.has_value();
        out += numeric ? ",\"numeric\":true,\"number\":" : ",\"numeric\":false,\"number\":";
        AppendJsonNumber(out, numeric ? *number : kNaN);
        out += '}';
    }
    out += "],\"ignored\":" + std::to_string(FWatches->Ignored) + "}";
    return out;
}

std::optional<std::string> TViewStore::WatchJson(const std::string& AName,
                                                 std::size_t ALimit) const {
    std::shared_lock guard(FWatchLock);
    const auto it = FWatches->ByName.find(AName);
    if (it == FWatches->ByName.end()) return std::nullopt;
    const auto& w = it->second;
    std::string out = "{\"name\":";
    AppendJsonString(out, w.Name);
    out += ",\"watchType\":\"";
    out += SiWatchTypeString(w.Type);
    out += "\",\"history\":[";
    const std::size_t skip = w.History.size() > ALimit ? w.History.size() - ALimit : 0;
    for (std::size_t i = skip; i < w.History.size(); ++i) {
        if (i > skip) out += ',';
        out += "{\"t\":";
        AppendJsonNumber(out, w.History[i].T);
        out += ",\"value\":";
        AppendJsonString(out, w.History[i].Value);
        out += ",\"number\":";
        const auto number = LeadingNumber(w.History[i].Value);
        AppendJsonNumber(out, number ? *number : kNaN);
        out += '}';
    }
    out += "]}";
    return out;
}

std::string TViewStore::FlowJson() const {
    std::shared_lock guard(FFlowLock);
    std::string out = "{\"version\":" + std::to_string(FFlow->Version) + ",\"hosts\":[";
    bool firstHost = true;
    for (const auto& [hostName, host] : FFlow->Hosts) {
        if (!firstHost) out += ',';
        firstHost = false;
        out += "{\"hostName\":";
        AppendJsonString(out, hostName);
        out += ",\"processes\":[";
        bool firstProcess = true;
        for (const auto& [pid, process] : host.Processes) {
            if (!firstProcess) out += ',';
            firstProcess = false;
            out += "{\"processId\":" + std::to_string(pid) + ",\"title\":";
            AppendJsonString(out, process.Title);
            out += process.Open ? ",\"open\":true" : ",\"open\":false";
            AppendTime(out, ",\"enter\":", process.Enter);
            AppendTime(out, ",\"leave\":", process.Leave);
            out += ",\"threads\":[";
            bool firstThread = true;
            for (const auto& [tid, thread] : process.Threads) {
                if (!firstThread) out += ',';
                firstThread = false;
                out += "{\"threadId\":" + std::to_string(tid) + ",\"title\":";
                AppendJsonString(out, thread.Title);
                out += thread.Open ? ",\"open\":true" : ",\"open\":false";
                AppendTime(out, ",\"enter\":", thread.Enter);
                AppendTime(out, ",\"leave\":", thread.Leave);
                out += ",\"scopes\":";
                TFlow::WriteScopes(out, thread.Scopes);
                out += '}';
            }
            out += "]}";
        }
        out += "]}";
    }
    out += "]}";
    return out;
}

}  // namespace deruz::silog::view
