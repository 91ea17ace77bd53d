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
    const auto LValue = static_cast<std::uint32_t>(AColor);
    if ((LValue & 0xFF000000u) != 0) return {};
    char LText[8];
    std::snprintf(LText, sizeof LText, "#%02x%02x%02x", LValue & 0xFF, (LValue >> 8) & 0xFF,
                  (LValue >> 16) & 0xFF);
    return LText;
}

// Case folding for searches: ASCII letters and the common letters of Latin-1, Latin
// Extended-A, Greek and Cyrillic map to their lower case.
char32_t Fold(char32_t AC) {
    if (AC < 0x80) return (AC >= 'A' && AC <= 'Z') ? AC + 32 : AC;
    if (AC >= 0xC0 && AC <= 0xDE && AC != 0xD7) return AC + 32;
    if (AC >= 0x100 && AC <= 0x17F)
        return (AC % 2 == 0 && AC != 0x130 && AC != 0x138) ? AC + 1 : AC;
    if (AC >= 0x391 && AC <= 0x3A9) return AC + 32;
    if (AC >= 0x410 && AC <= 0x42F) return AC + 32;
    if (AC >= 0x400 && AC <= 0x40F) return AC + 80;
    return AC;
}

std::string FoldText(std::string_view AText) {
    std::string LOut;
    LOut.reserve(AText.size());
    std::size_t LI = 0;
    while (LI < AText.size()) {
        const auto LB = static_cast<unsigned char>(AText[LI]);
        if (LB < 0x80) {
            LOut += static_cast<char>((LB >= 'A' && LB <= 'Z') ? LB + 32 : LB);
            ++LI;
            continue;
        }
        SiAppendUtf8(LOut, Fold(SiDecodeUtf8(AText, LI)));
    }
    return LOut;
}

std::vector<std::string> SplitList(std::string_view ARaw) {
    std::vector<std::string> LValues;
    std::size_t LStart = 0;
    for (;;) {
        const std::size_t LComma = ARaw.find(',', LStart);
        const std::string_view LPart = ARaw.substr(
            LStart, LComma == std::string_view::npos ? std::string_view::npos : LComma - LStart);
        LValues.push_back(PercentDecode(LPart));
        if (LComma == std::string_view::npos) break;
        LStart = LComma + 1;
    }
    return LValues;
}

bool ParseNumbers(std::string_view ARaw, std::vector<std::uint32_t>& AOut) {
    for (const std::string& LPart : SplitList(ARaw)) {
        const auto LValue = LeadingNumber(LPart, true);
        if (!LValue || *LValue < 0 || *LValue > 4294967295.0 || *LValue != std::floor(*LValue)) {
            return false;
        }
        AOut.push_back(static_cast<std::uint32_t>(*LValue));
    }
    return true;
}

std::optional<TSiLogEntryType> EntryTypeNamed(std::string_view AName) {
    for (int LI = ltSeparator; LI <= ltDatabaseStructure; ++LI) {
        const auto LType = static_cast<TSiLogEntryType>(LI);
        if (SiLogEntryTypeString(LType) == AName) return LType;
    }
    return std::nullopt;
}

// A piece of text that every match of the ECMAScript pattern APattern contains, as long as
// can be found cheaply; empty when there is none (an alternative at the top level, or no
// literal characters outside groups, classes and optional parts). Titles without it need not
// be given to the regex engine, which is slow.
std::string RequiredLiteral(std::string_view APattern) {
    std::string LBest, LRun;
    const auto LEndRun = [&] {
        if (LRun.size() > LBest.size()) LBest = LRun;
        LRun.clear();
    };
    int LDepth = 0;
    for (std::size_t LI = 0; LI < APattern.size(); ++LI) {
        const char LC = APattern[LI];
        // The quantifier after the atom at i: "?", "*" and "{" may drop it, "+" keeps it once.
        const auto LQuantified = [&](std::size_t AAfter) -> char {
            return AAfter < APattern.size() &&
                           std::string_view("?*+{").find(APattern[AAfter]) != std::string_view::npos
                       ? APattern[AAfter]
                       : '\0';
        };
        if (LC == '\\' && LDepth > 0) {
            ++LI;  // an escaped character inside a group
            continue;
        }
        if (LC == '|' && LDepth == 0) return {};
        if (LC == '(') {
            ++LDepth;
            LEndRun();
            continue;
        }
        if (LC == ')') {
            --LDepth;
            LEndRun();
            continue;
        }
        if (LC == '[') {  // a class: skipped whole
            LEndRun();
            std::size_t LJ = LI + 1;
            if (LJ < APattern.size() && APattern[LJ] == '^') ++LJ;
            if (LJ < APattern.size() && APattern[LJ] == ']') ++LJ;
            while (LJ < APattern.size() && APattern[LJ] != ']') LJ += APattern[LJ] == '\\' ? 2 : 1;
            LI = LJ;
            continue;
        }
        if (LDepth > 0) continue;
        if (LC == '{') {  // a counted quantifier: its digits are no text
            LEndRun();
            while (LI + 1 < APattern.size() && APattern[LI] != '}') ++LI;
            continue;
        }
        char LLiteral = '\0';
        std::size_t LNext = LI + 1;
        if (LC == '\\' && LI + 1 < APattern.size()) {
            const char LE = APattern[LI + 1];
            LNext = LI + 2;
            if (std::string_view(".\\/^$|?*+()[]{}-").find(LE) != std::string_view::npos) {
                LLiteral = LE;
            } else if (LE == 'x') {
                LNext += 2;  // \xHH
            } else if (LE == 'u') {
                if (LNext < APattern.size() && APattern[LNext] == '{') {
                    while (LNext < APattern.size() && APattern[LNext] != '}') ++LNext;
                    ++LNext;
                } else {
                    LNext += 4;  // \uHHHH
                }
            } else if (LE == 'c') {
                LNext += 1;  // \cX
            } else if (LE >= '0' && LE <= '9') {
                while (LNext < APattern.size() && APattern[LNext] >= '0' &&
                       APattern[LNext] <= '9') {
                    ++LNext;  // a back reference
                }
            }
            LNext = std::min(LNext, APattern.size());
        } else if (std::string_view(".^$?*+{}").find(LC) == std::string_view::npos) {
            LLiteral = LC;
        }
        const char LQ = LQuantified(LNext);
        if (LLiteral == '\0' || static_cast<unsigned char>(LLiteral) >= 0x80 || LQ == '?' ||
            LQ == '*' || LQ == '{') {
            LEndRun();
        } else {
            LRun += LLiteral;
            if (LQ == '+') LEndRun();
        }
        LI = LNext - 1;
    }
    LEndRun();
    return LBest;
}

// Finds the text of a search in titles: a substring (case-insensitive unless asked) or a
// regular expression.
class TTextMatcher {
  public:
    explicit TTextMatcher(const TViewFilter& AFilter) {
        if (AFilter.Query.empty()) return;
        FActive = true;
        if (AFilter.Regex) {
            auto LFlags = std::regex::ECMAScript;
            if (!AFilter.CaseSensitive) LFlags |= std::regex::icase;
            FRegex.emplace(AFilter.Query, LFlags);
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
                             [](char AC) { return static_cast<unsigned char>(AC) < 0x80; });
    }

    bool Active() const { return FActive; }

    bool Match(std::string_view ATitle) const {
        if (FRegex) {
            const std::string_view LPart = ATitle.substr(0, kRegexInput);
            if (!FNeedle.empty() && !(FCaseSensitive ? LPart.find(FNeedle) != std::string_view::npos
                                                     : AsciiFind(LPart))) {
                return false;
            }
            return std::regex_search(LPart.begin(), LPart.end(), *FRegex);
        }
        if (FCaseSensitive) return ATitle.find(FNeedle) != std::string_view::npos;
        if (FAscii) return AsciiFind(ATitle);
        return FoldText(ATitle).find(FNeedle) != std::string::npos;
    }

  private:
    // The needle is folded ASCII; bytes of the title outside ASCII can never match it.
    bool AsciiFind(std::string_view ATitle) const {
        const std::size_t LM = FNeedle.size();
        if (ATitle.size() < LM) return false;
        const auto* LH = reinterpret_cast<const unsigned char*>(ATitle.data());
        const auto* LN = reinterpret_cast<const unsigned char*>(FNeedle.data());
        const unsigned char LFirst = LN[0];
        const std::size_t LLast = ATitle.size() - LM;
        for (std::size_t LI = 0; LI <= LLast; ++LI) {
            unsigned char LC = LH[LI];
            if (LC >= 'A' && LC <= 'Z') LC += 32;
            if (LC != LFirst) continue;
            std::size_t LK = 1;
            for (; LK < LM; ++LK) {
                unsigned char LD = LH[LI + LK];
                if (LD >= 'A' && LD <= 'Z') LD += 32;
                if (LD != LN[LK]) break;
            }
            if (LK == LM) return true;
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
    const auto LHour = static_cast<std::int64_t>(std::floor(ALocal * 24.0));
    auto LIt = FOffsets.find(LHour);
    if (LIt == FOffsets.end()) {
        if (FOffsets.size() > 100000) FOffsets.clear();
        const TSiDateTimeParts LP = SiDecodeDateTime(static_cast<double>(LHour) / 24.0 + 1e-9);
        std::tm LTm{};
        LTm.tm_year = LP.Year - 1900;
        LTm.tm_mon = LP.Month - 1;
        LTm.tm_mday = LP.Day;
        LTm.tm_hour = LP.Hour;
        LTm.tm_isdst = -1;
        const std::time_t LUtc = std::mktime(&LTm);
        const double LLocalMs = UnixMsOf(static_cast<double>(LHour) / 24.0);
        // A time mktime cannot represent keeps an offset of 0.
        const double LOffset = LUtc == static_cast<std::time_t>(-1)
                                   ? 0.0
                                   : LLocalMs - static_cast<double>(LUtc) * 1000.0;
        LIt = FOffsets.emplace(LHour, std::round(LOffset / 1000.0) * 1000.0).first;
    }
    return std::round(UnixMsOf(ALocal) - LIt->second);
}

// --- Filters ------------------------------------------------------------------------------------

bool TViewFilter::All() const {
    return Types == 0 && Sessions.empty() && Apps.empty() && Hosts.empty() && Sources.empty() &&
           ProcessIds.empty() && ThreadIds.empty() && Query.empty() && !From && !To && Entries &&
           Controls;
}

std::string TViewFilter::Key() const {
    std::string LKey = std::to_string(Types);
    const auto LTexts = [&](std::vector<std::string> AValues) {
        std::sort(AValues.begin(), AValues.end());
        LKey += '\x1f';
        for (const auto& LV : AValues) {
            LKey += LV;
            LKey += '\x1e';
        }
    };
    const auto LNumbers = [&](std::vector<std::uint32_t> AValues) {
        std::sort(AValues.begin(), AValues.end());
        LKey += '\x1f';
        for (const auto LV : AValues) LKey += std::to_string(LV) + ",";
    };
    LTexts(Sessions);
    LTexts(Apps);
    LTexts(Hosts);
    LNumbers(Sources);
    LNumbers(ProcessIds);
    LNumbers(ThreadIds);
    LKey += '\x1f';
    LKey += Regex ? 'r' : 's';
    LKey += CaseSensitive ? 'c' : 'i';
    LKey += Query;
    LKey += '\x1f';
    if (From) LKey += std::to_string(*From);
    LKey += '\x1f';
    if (To) LKey += std::to_string(*To);
    LKey += '\x1f';
    LKey += Entries ? 'e' : '-';
    LKey += Controls ? 'c' : '-';
    return LKey;
}

std::optional<TViewFilter> ParseFilter(const TQueryParams& AParams, std::string& AError) {
    TViewFilter LFilter;
    bool LKindsGiven = false;
    for (const auto& [name, raw] : AParams) {
        if (name == "types") {
            if (raw.empty()) continue;
            for (const std::string& LTypeName : SplitList(raw)) {
                const auto LType = EntryTypeNamed(LTypeName);
                if (!LType) {
                    AError = "unknown entry type '" + LTypeName + "'";
                    return std::nullopt;
                }
                LFilter.Types |= 1u << *LType;
            }
        } else if (name == "session" || name == "app" || name == "host") {
            if (raw.empty()) continue;
            auto& LTarget = name == "session" ? LFilter.Sessions
                            : name == "app"   ? LFilter.Apps
                                              : LFilter.Hosts;
            for (auto& LValue : SplitList(raw)) LTarget.push_back(std::move(LValue));
        } else if (name == "source" || name == "pid" || name == "tid") {
            if (raw.empty()) continue;
            auto& LTarget = name == "source" ? LFilter.Sources
                            : name == "pid"  ? LFilter.ProcessIds
                                             : LFilter.ThreadIds;
            if (!ParseNumbers(raw, LTarget)) {
                AError = name + " takes a comma list of numbers";
                return std::nullopt;
            }
        } else if (name == "q") {
            LFilter.Query = PercentDecode(raw);
        } else if (name == "re" || name == "case") {
            const std::string LValue = PercentDecode(raw);
            if (LValue != "0" && LValue != "1" && !LValue.empty()) {
                AError = name + " takes 0 or 1";
                return std::nullopt;
            }
            (name == "re" ? LFilter.Regex : LFilter.CaseSensitive) = LValue == "1";
        } else if (name == "from" || name == "to") {
            const std::string LValue = PercentDecode(raw);
            if (LValue.empty()) continue;
            const auto LNumber = LeadingNumber(LValue, true);
            if (!LNumber) {
                AError = name + " takes a time in milliseconds";
                return std::nullopt;
            }
            (name == "from" ? LFilter.From : LFilter.To) = *LNumber;
        } else if (name == "kinds") {
            LKindsGiven = true;
            LFilter.Entries = LFilter.Controls = false;
            for (const std::string& LKind : SplitList(raw)) {
                if (LKind == "entry") {
                    LFilter.Entries = true;
                } else if (LKind == "control") {
                    LFilter.Controls = true;
                } else {
                    AError = "unknown kind '" + LKind + "'";
                    return std::nullopt;
                }
            }
        }
    }
    if (LKindsGiven && !LFilter.Entries && !LFilter.Controls) {
        AError = "kinds takes entry, control or both";
        return std::nullopt;
    }
    if (LFilter.Regex && !LFilter.Query.empty()) {
        if (LFilter.Query.size() > 1000) {
            AError = "bad regular expression: longer than 1000 characters";
            return std::nullopt;
        }
        try {
            TTextMatcher LCheck(LFilter);
        } catch (const std::regex_error& LE) {
            AError = std::string("bad regular expression: ") + LE.what();
            return std::nullopt;
        }
    }
    return LFilter;
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
        const auto LIt = Ids.find(AText);
        std::uint32_t LId;
        if (LIt != Ids.end()) {
            LId = LIt->second;
        } else {
            if (!Free.empty()) {
                LId = Free.back();
                Free.pop_back();
            } else {
                LId = static_cast<std::uint32_t>(Items.size());
                Items.emplace_back();
            }
            Items[LId].Text.assign(AText);
            Ids.emplace(std::string_view(Items[LId].Text), LId);
        }
        ++Items[LId].Refs;
        Last = LId;
        return LId;
    }

    void Release(std::uint32_t AId) {
        TItem& LItem = Items[AId];
        if (--LItem.Refs == 0 && AId != 0) {
            Ids.erase(std::string_view(LItem.Text));
            std::string().swap(LItem.Text);
            Free.push_back(AId);
        }
    }

    std::optional<std::uint32_t> Find(std::string_view AText) const {
        if (AText.empty()) return 0;
        const auto LIt = Ids.find(AText);
        if (LIt == Ids.end()) return std::nullopt;
        return LIt->second;
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

    const char* Put(std::string_view A_, std::string_view AB, std::uint64_t ASeq) {
        const std::size_t LNeed = A_.size() + AB.size();
        if (Blocks.empty() || Blocks.back().Size - Blocks.back().Used < LNeed) {
            TBlock LBlock;
            LBlock.Size = std::max(kArenaBlock, LNeed);
            LBlock.Data = std::make_unique_for_overwrite<char[]>(LBlock.Size);
            Blocks.push_back(std::move(LBlock));
        }
        TBlock& LBlock = Blocks.back();
        char* LTarget = LBlock.Data.get() + LBlock.Used;
        if (!A_.empty()) std::memcpy(LTarget, A_.data(), A_.size());
        if (!AB.empty()) std::memcpy(LTarget + A_.size(), AB.data(), AB.size());
        LBlock.Used += LNeed;
        LBlock.LastSeq = ASeq;
        return LTarget;
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
        auto LIt = ByName.find(AWatch.Name);
        if (LIt == ByName.end()) {
            if (ByName.size() >= kWatchNames) {
                ++Ignored;
                return;
            }
            LIt = ByName.emplace(AWatch.Name, TWatch{}).first;
            LIt->second.Name = AWatch.Name;
        }
        TWatch& LW = LIt->second;
        LW.Type = AWatch.WatchType;
        LW.Value.assign(AWatch.Value, 0, std::min(AWatch.Value.size(), kWatchValueBytes));
        LW.Timestamp = AWatch.Timestamp;
        LW.T = AT;
        bool LCut = false;
        LW.History.push_back(
            {AT, std::string(TitleExcerpt(AWatch.Value, kWatchHistoryValueBytes, LCut))});
        if (LCut) LW.History.back().Value += "\xE2\x80\xA6";
        Order.emplace_back(&LW, LW.Next++);
        ++HistoryTotal;
        if (LW.History.size() > kWatchHistory) {
            LW.History.pop_front();
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
            std::deque<std::pair<TWatch*, std::uint64_t>> LLive;
            for (const auto& LE : Order) {
                if (LE.second + LE.first->History.size() >= LE.first->Next) LLive.push_back(LE);
            }
            Order.swap(LLive);
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
        auto LHost = Hosts.find(AHost);
        if (LHost == Hosts.end()) {
            if (Hosts.size() >= kHosts) return nullptr;
            LHost = Hosts.emplace(AHost, THost{}).first;
        }
        auto& LProcesses = LHost->second.Processes;
        auto LIt = LProcesses.find(APid);
        if (LIt == LProcesses.end()) {
            if (LProcesses.size() >= kProcesses) return nullptr;
            LIt = LProcesses.emplace(APid, TProcess{}).first;
        }
        return &LIt->second;
    }

    TThread* Thread(TProcess& AProcess, std::uint32_t ATid) {
        auto LIt = AProcess.Threads.find(ATid);
        if (LIt == AProcess.Threads.end()) {
            if (AProcess.Threads.size() >= kThreads) return nullptr;
            LIt = AProcess.Threads.emplace(ATid, TThread{}).first;
        }
        return &LIt->second;
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
    static void WriteScopes(std::string& AOut, const std::deque<std::unique_ptr<TScope>>& AScopes) {
        AOut += '[';
        bool LFirst = true;
        for (const auto& LScope : AScopes) {
            if (!LFirst) AOut += ',';
            LFirst = false;
            bool LCut = false;
            AOut += "{\"title\":";
            std::string LTitle(TitleExcerpt(LScope->Title, TViewStore::kTitleExcerpt, LCut));
            if (LCut) LTitle += "\xE2\x80\xA6";
            AppendJsonString(AOut, LTitle);
            AppendTime(AOut, ",\"enter\":", LScope->Enter);
            AppendTime(AOut, ",\"leave\":", LScope->Leave);
            AOut += LScope->Open ? ",\"open\":true,\"scopes\":" : ",\"open\":false,\"scopes\":";
            WriteScopes(AOut, LScope->Children);
            AOut += '}';
        }
        AOut += ']';
    }

    void Add(const TSiProcessFlow& AFlow, double AT) {
        TProcess* LProcess = Process(AFlow.HostName, AFlow.ProcessId);
        if (LProcess == nullptr) return;
        switch (AFlow.ProcessFlowType) {
            case pfEnterProcess:
                LProcess->Title = AFlow.Title;
                LProcess->Enter = AT;
                LProcess->Leave = kNaN;
                LProcess->Open = true;
                break;
            case pfLeaveProcess: {
                LProcess->Leave = AT;
                if (LProcess->Open) {
                    LProcess->Open = false;
                    auto& LHost = Hosts[AFlow.HostName];
                    LHost.ClosedProcesses.push_back(AFlow.ProcessId);
                    while (LHost.ClosedProcesses.size() > kClosedProcesses) {
                        const std::uint32_t LPid = LHost.ClosedProcesses.front();
                        LHost.ClosedProcesses.pop_front();
                        const auto LIt = LHost.Processes.find(LPid);
                        if (LIt != LHost.Processes.end() && !LIt->second.Open) {
                            LHost.Processes.erase(LIt);
                        }
                    }
                }
                break;
            }
            case pfEnterThread:
            case pfLeaveThread: {
                TThread* LThread = Thread(*LProcess, AFlow.ThreadId);
                if (LThread == nullptr) break;
                if (AFlow.ProcessFlowType == pfEnterThread) {
                    LThread->Title = AFlow.Title;
                    LThread->Enter = AT;
                    LThread->Leave = kNaN;
                    LThread->Open = true;
                } else {
                    LThread->Leave = AT;
                    if (LThread->Open) {
                        LThread->Open = false;
                        LProcess->ClosedThreads.push_back(AFlow.ThreadId);
                        while (LProcess->ClosedThreads.size() > kClosedThreads) {
                            const std::uint32_t LTid = LProcess->ClosedThreads.front();
                            LProcess->ClosedThreads.pop_front();
                            const auto LIt = LProcess->Threads.find(LTid);
                            if (LIt != LProcess->Threads.end() && !LIt->second.Open) {
                                LProcess->Threads.erase(LIt);
                            }
                        }
                    }
                }
                break;
            }
            case pfEnterMethod: {
                TThread* LThread = Thread(*LProcess, AFlow.ThreadId);
                if (LThread == nullptr) break;
                if (LThread->Stack.size() >= kScopeDepth) {
                    ++LThread->Overflow;
                    break;
                }
                auto LScope = std::make_unique<TScope>();
                LScope->Title = AFlow.Title;
                LScope->Enter = AT;
                TScope* LRaw = LScope.get();
                (LThread->Stack.empty() ? LThread->Scopes : LThread->Stack.back()->Children)
                    .push_back(std::move(LScope));
                LThread->Stack.push_back(LRaw);
                break;
            }
            case pfLeaveMethod: {
                TThread* LThread = Thread(*LProcess, AFlow.ThreadId);
                if (LThread == nullptr) break;
                if (LThread->Overflow > 0) {
                    --LThread->Overflow;
                    break;
                }
                if (LThread->Stack.empty()) break;  // a leave without its enter
                TScope* LScope = LThread->Stack.back();
                LThread->Stack.pop_back();
                LScope->Leave = AT;
                LScope->Open = false;
                if (LThread->Stack.empty()) {
                    Trim(LThread->Scopes, LThread->ClosedScopes);
                } else {
                    TScope* LParent = LThread->Stack.back();
                    Trim(LParent->Children, LParent->ClosedChildren);
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
    for (auto& LIntern : FInterns) LIntern = std::make_unique<TIntern>();
}

TViewStore::~TViewStore() = default;

std::uint32_t TViewStore::AddSource(const std::string& AKind, const std::string& AName,
                                    const std::string& AState) {
    std::lock_guard LGuard(FSourceLock);
    TViewSource LSource;
    LSource.Id = FNextSource++;
    LSource.Kind = AKind;
    LSource.Name = AName;
    LSource.State = AState;
    FSources.push_back(std::move(LSource));
    // Closed sources beyond the limit are forgotten, oldest first; their rows keep their id.
    std::size_t LClosed = 0;
    for (const auto& LS : FSources) LClosed += (LS.State == "closed" || LS.State == "done") ? 1 : 0;
    for (auto LIt = FSources.begin(); LClosed > kClosedSources && LIt != FSources.end();) {
        if (LIt->State == "closed" || LIt->State == "done") {
            LIt = FSources.erase(LIt);
            --LClosed;
        } else {
            ++LIt;
        }
    }
    FChanges.fetch_add(1);
    return FSources.back().Id;
}

void TViewStore::SetSourceState(std::uint32_t AId, const std::string& AState,
                                const std::string& AError) {
    std::lock_guard LGuard(FSourceLock);
    for (auto& LS : FSources) {
        if (LS.Id == AId) {
            LS.State = AState;
            LS.Error = AError;
        }
    }
    FChanges.fetch_add(1);
}

void TViewStore::SetSourceBanner(std::uint32_t AId, const std::string& ABanner) {
    std::lock_guard LGuard(FSourceLock);
    for (auto& LS : FSources) {
        if (LS.Id == AId) LS.Banner = ABanner;
    }
    FChanges.fetch_add(1);
}

const TViewRow& TViewStore::RowAt(std::uint64_t ASeq) const {
    return FRing[(FHead + (ASeq - FFirst)) % FRing.size()];
}

void TViewStore::DropFront(bool ACleared) {
    const TViewRow& LRow = FRing[FHead];
    FBytes -= LRow.TitleLength + LRow.DataLength;
    if (LRow.Control) {
        --FControlCount;
    } else {
        --FTypeCounts[LRow.Type];
        FInterns[0]->Release(LRow.Session);
        FInterns[1]->Release(LRow.App);
        FInterns[2]->Release(LRow.Host);
        if (--FProcessCounts[LRow.ProcessId] == 0) FProcessCounts.erase(LRow.ProcessId);
        if (--FThreadCounts[LRow.ThreadId] == 0) FThreadCounts.erase(LRow.ThreadId);
    }
    if (--FSourceCounts[LRow.Source] == 0) FSourceCounts.erase(LRow.Source);
    FHead = (FHead + 1) % FRing.size();
    ++FFirst;
    if (ACleared) {
        ++FClearedRows;
    } else {
        ++FDropped;
    }
}

void TViewStore::AppendRow(TViewRow ARow, std::string_view ATitle, std::string_view AData) {
    const std::uint64_t LBytes = ATitle.size() + AData.size();
    std::uint64_t LKept = FNext - FFirst;
    bool LDropped = false;
    while (LKept > 0 && (LKept >= FOptions.Keep || FBytes + LBytes > FOptions.KeepBytes)) {
        DropFront(false);
        --LKept;
        LDropped = true;
    }
    if (LDropped) FArena->Release(FFirst);
    if (LKept == FRing.size()) {
        // Grow the ring (up to Keep rows), laying the rows out from index 0.
        const std::size_t LSize = static_cast<std::size_t>(
            std::min<std::uint64_t>(FOptions.Keep, std::max<std::size_t>(1024, FRing.size() * 2)));
        std::vector<TViewRow> LRing(LSize);
        for (std::uint64_t LI = 0; LI < LKept; ++LI) LRing[LI] = FRing[(FHead + LI) % FRing.size()];
        FRing.swap(LRing);
        FHead = 0;
    }
    ARow.TitleLength = static_cast<std::uint32_t>(ATitle.size());
    ARow.DataLength = static_cast<std::uint32_t>(AData.size());
    ARow.Text = LBytes > 0 ? FArena->Put(ATitle, AData, FNext) : nullptr;
    FBytes += LBytes;
    if (ARow.Control) {
        ++FControlCount;
    } else {
        ++FTypeCounts[ARow.Type];
        ++FProcessCounts[ARow.ProcessId];
        ++FThreadCounts[ARow.ThreadId];
    }
    ++FSourceCounts[ARow.Source];
    FRing[(FHead + LKept) % FRing.size()] = ARow;
    ++FNext;
}

void TViewStore::AddEntry(std::uint32_t ASource, const TSiLogEntry& AEntry) {
    TViewRow LRow;
    LRow.Timestamp = AEntry.Timestamp;
    LRow.T = FTime.ToUnixMs(AEntry.Timestamp);
    LRow.ProcessId = AEntry.ProcessId;
    LRow.ThreadId = AEntry.ThreadId;
    LRow.Color = AEntry.Color;
    LRow.Source = ASource;
    LRow.Type = static_cast<std::uint8_t>(AEntry.LogEntryType);
    LRow.Viewer = static_cast<std::uint8_t>(AEntry.ViewerId);
    LRow.Severity = SeverityOf(AEntry.LogEntryType);
    const TSiMemoryStream* LData = AEntry.GetData();
    std::string_view LBytes;
    if (LData != nullptr) {
        const auto LSpan = LData->Bytes();
        LBytes = std::string_view(reinterpret_cast<const char*>(LSpan.data()), LSpan.size());
    }
    // Lengths are kept in 32 bits; the binary format itself carries no more.
    const std::string_view LTitle =
        std::string_view(AEntry.Title).substr(0, std::numeric_limits<std::uint32_t>::max());
    LBytes = LBytes.substr(0, std::numeric_limits<std::uint32_t>::max());
    FSourceTime[ASource] = {LRow.Timestamp, LRow.T};
    std::unique_lock LGuard(FRowsLock);
    LRow.Session = FInterns[0]->Acquire(AEntry.SessionName);
    LRow.App = FInterns[1]->Acquire(AEntry.AppName);
    LRow.Host = FInterns[2]->Acquire(AEntry.HostName);
    AppendRow(LRow, LTitle, LBytes);
}

void TViewStore::AddControl(std::uint32_t ASource, const TSiControlCommand& ACommand) {
    TViewRow LRow;
    LRow.Control = 1;
    LRow.Type = static_cast<std::uint8_t>(ACommand.ControlCommandType);
    LRow.Severity = svInfo;
    LRow.Source = ASource;
    LRow.Color = static_cast<std::int32_t>(clWindow);
    // A command carries no time; it takes that of its source's packet before it.
    const auto LTime = FSourceTime.find(ASource);
    LRow.Timestamp = LTime != FSourceTime.end() ? LTime->second.first : kNaN;
    LRow.T = LTime != FSourceTime.end() ? LTime->second.second : kNaN;
    std::string_view LBytes;
    if (const TSiMemoryStream* LData = ACommand.GetData()) {
        const auto LSpan = LData->Bytes();
        LBytes = std::string_view(reinterpret_cast<const char*>(LSpan.data()), LSpan.size());
    }
    const auto LType = ACommand.ControlCommandType;
    if (LType == ccClearWatches || LType == ccClearAll) {
        std::unique_lock LGuard(FWatchLock);
        FWatches->Clear();
    }
    if (LType == ccClearProcessFlow || LType == ccClearAll) {
        std::unique_lock LGuard(FFlowLock);
        FFlow->Clear();
    }
    std::unique_lock LGuard(FRowsLock);
    if (LType == ccClearLog || LType == ccClearAll) {
        while (FNext > FFirst) DropFront(true);
        FArena->Release(FFirst);
        FCleared = FNext - 1;
    }
    AppendRow(LRow, {}, LBytes.substr(0, std::numeric_limits<std::uint32_t>::max()));
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
            const auto& LWatch = static_cast<const TSiWatch&>(APacket);
            const double LT = FTime.ToUnixMs(LWatch.Timestamp);
            std::unique_lock LGuard(FWatchLock);
            FWatches->Update(LWatch, LT);
            break;
        }
        case ptProcessFlow: {
            const auto& LFlow = static_cast<const TSiProcessFlow&>(APacket);
            const double LT = FTime.ToUnixMs(LFlow.Timestamp);
            FSourceTime[ASource] = {LFlow.Timestamp, LT};
            std::unique_lock LGuard(FFlowLock);
            FFlow->Add(LFlow, LT);
            break;
        }
        case ptLogHeader: {
            const auto& LHeader = static_cast<const TSiLogHeader&>(APacket);
            std::lock_guard LGuard(FSourceLock);
            for (auto& LS : FSources) {
                if (LS.Id == ASource) {
                    LS.AppName = LHeader.AppName;
                    LS.HostName = LHeader.HostName;
                }
            }
            break;
        }
    }
    {
        std::lock_guard LGuard(FSourceLock);
        // The newest sources are at the end, and packets mostly come from them.
        for (auto LIt = FSources.rbegin(); LIt != FSources.rend(); ++LIt) {
            if (LIt->Id == ASource) {
                ++LIt->Packets;
                break;
            }
        }
    }
    FChanges.fetch_add(1, std::memory_order_relaxed);
}

// --- Reading --------------------------------------------------------------------------------

TViewState TViewStore::State() const {
    TViewState LState;
    {
        std::shared_lock LGuard(FRowsLock);
        LState.Kept = FNext - FFirst;
        LState.First = LState.Kept > 0 ? FFirst : 0;
        LState.Last = LState.Kept > 0 ? FNext - 1 : 0;
        LState.Dropped = FDropped;
        LState.Cleared = FCleared;
        LState.KeptBytes = FBytes;
    }
    LState.Keep = FOptions.Keep;
    LState.Received = FReceived.load();
    {
        std::lock_guard LGuard(FSourceLock);
        LState.Sources = FSources;
    }
    {
        std::shared_lock LGuard(FWatchLock);
        LState.WatchVersion = FWatches->Version;
    }
    {
        std::shared_lock LGuard(FFlowLock);
        LState.FlowVersion = FFlow->Version;
    }
    return LState;
}

std::uint64_t TViewStore::WaitForChange(std::uint64_t ASeen, std::uint32_t AMilliseconds) const {
    std::unique_lock LGuard(FChangeLock);
    FChangeSignal.wait_for(LGuard, std::chrono::milliseconds(AMilliseconds),
                           [&] { return FChanges.load() != ASeen; });
    return FChanges.load();
}

void TViewStore::Notify() const {
    { std::lock_guard LGuard(FChangeLock); }
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
    bool LCut = false;
    const std::string_view LTitle =
        AFull ? ARow.Title() : TitleExcerpt(ARow.Title(), kTitleExcerpt, LCut);
    if (LCut) {
        std::string LExcerpt(LTitle);
        LExcerpt += "\xE2\x80\xA6";
        AppendJsonString(AOut, LExcerpt);
    } else {
        AppendJsonString(AOut, LTitle);
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
    const std::string LColor = ColorText(ARow.Color);
    if (LColor.empty()) {
        AOut += "null";
    } else {
        AOut += '"';
        AOut += LColor;
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
    const std::string LKey = AFilter.Key();
    std::lock_guard LGuard(FFilterLock);
    for (auto LIt = FFilters.begin(); LIt != FFilters.end(); ++LIt) {
        if ((*LIt)->Key == LKey) {
            auto LList = *LIt;
            FFilters.erase(LIt);
            FFilters.push_front(LList);
            return LList;
        }
    }
    auto LList = std::make_shared<TMatchList>(AFilter);
    LList->Key = LKey;
    FFilters.push_front(LList);
    if (FFilters.size() > kCachedFilters) FFilters.pop_back();
    return LList;
}

void TViewStore::Scan(TMatchList& AList, std::uint64_t ACount) const {
    const TViewFilter& LF = AList.Filter;
    const std::uint64_t LFrom = std::max(AList.ScannedTo, FFirst);
    const std::uint64_t LTo = std::min(FNext, LFrom + std::min(ACount, FNext - LFrom));
    // Names are looked up for each scan: the ids of names whose rows have all gone may be given
    // to other names meanwhile (only while no scan holds the rows lock).
    const auto LResolve = [&](int AField, const std::vector<std::string>& ANames) {
        std::vector<std::uint32_t> LIds;
        for (const auto& LName : ANames) {
            if (const auto LId = FInterns[AField]->Find(LName)) LIds.push_back(*LId);
        }
        return LIds;
    };
    const auto LSessions = LResolve(0, LF.Sessions);
    const auto LApps = LResolve(1, LF.Apps);
    const auto LHosts = LResolve(2, LF.Hosts);
    for (std::uint64_t LSeq = LFrom; LSeq < LTo; ++LSeq) {
        const TViewRow& LRow = RowAt(LSeq);
        if (LRow.Control ? !LF.Controls : !LF.Entries) continue;
        if (!LF.Sources.empty() && !Contains(LF.Sources, LRow.Source)) continue;
        if (LF.From && !(LRow.T >= *LF.From)) continue;
        if (LF.To && !(LRow.T <= *LF.To)) continue;
        if (!LRow.Control) {
            if (LF.Types != 0 && (LF.Types & (1u << LRow.Type)) == 0) continue;
            if (!LF.Sessions.empty() && !Contains(LSessions, LRow.Session)) continue;
            if (!LF.Apps.empty() && !Contains(LApps, LRow.App)) continue;
            if (!LF.Hosts.empty() && !Contains(LHosts, LRow.Host)) continue;
            if (!LF.ProcessIds.empty() && !Contains(LF.ProcessIds, LRow.ProcessId)) continue;
            if (!LF.ThreadIds.empty() && !Contains(LF.ThreadIds, LRow.ThreadId)) continue;
            if (AList.Matcher.Active() && !AList.Matcher.Match(LRow.Title())) continue;
        }
        AList.Seqs.push_back(LSeq);
    }
    AList.ScannedTo = LTo;
}

void TViewStore::Extend(TMatchList& AList) {
    for (;;) {
        std::shared_lock LGuard(FRowsLock);
        Scan(AList, kScanSlice);
        if (AList.ScannedTo >= FNext) break;
    }
}

void TViewStore::Trim(TMatchList& AList) const {
    auto& LSeqs = AList.Seqs;
    const auto LFirst = std::lower_bound(LSeqs.begin() + static_cast<std::ptrdiff_t>(AList.Start),
                                         LSeqs.end(), FFirst);
    AList.Start = static_cast<std::size_t>(LFirst - LSeqs.begin());
    if (AList.Start > 4096 && AList.Start > LSeqs.size() / 2) {
        LSeqs.erase(LSeqs.begin(), LSeqs.begin() + static_cast<std::ptrdiff_t>(AList.Start));
        AList.Start = 0;
    }
}

TViewStore::TRowsResult TViewStore::Rows(const TViewFilter& AFilter,
                                         std::optional<std::uint64_t> ASeq, std::int64_t AOffset,
                                         std::uint64_t ALimit) {
    TRowsResult LResult;
    // The start among Total matches: AOffset after the first, or after the first match at or
    // after ASeq.
    const auto LStart = [&](std::uint64_t ABase) {
        const auto LOffset = static_cast<std::int64_t>(ABase) + AOffset;
        return LOffset < 0 ? 0 : static_cast<std::uint64_t>(LOffset);
    };
    const auto LWrite = [&](std::uint64_t ASeq) {
        if (!LResult.RowsJson.empty()) LResult.RowsJson += ',';
        WriteRowJson(LResult.RowsJson, ASeq, RowAt(ASeq), false);
    };
    if (AFilter.All()) {
        std::shared_lock LGuard(FRowsLock);
        LResult.Total = FNext - FFirst;
        LResult.Last = FNext - 1;
        const std::uint64_t LBase =
            !ASeq ? 0 : std::min(LResult.Total, *ASeq > FFirst ? *ASeq - FFirst : 0);
        LResult.Offset = LStart(LBase);
        for (std::uint64_t LI = LResult.Offset; LI < LResult.Total && LI < LResult.Offset + ALimit;
             ++LI) {
            LWrite(FFirst + LI);
        }
        return LResult;
    }
    const auto LList = MatchList(AFilter);
    std::lock_guard LListGuard(LList->Lock);
    Extend(*LList);
    std::shared_lock LGuard(FRowsLock);
    Scan(*LList, FNext);  // what came after the last slice
    Trim(*LList);
    const auto& LSeqs = LList->Seqs;
    const auto LBegin = LSeqs.begin() + static_cast<std::ptrdiff_t>(LList->Start);
    LResult.Total = static_cast<std::uint64_t>(LSeqs.end() - LBegin);
    LResult.Last = FNext - 1;
    const std::uint64_t LBase =
        !ASeq ? 0
              : static_cast<std::uint64_t>(std::lower_bound(LBegin, LSeqs.end(), *ASeq) - LBegin);
    LResult.Offset = LStart(LBase);
    for (std::uint64_t LI = LResult.Offset; LI < LResult.Total && LI < LResult.Offset + ALimit;
         ++LI) {
        LWrite(LSeqs[LList->Start + LI]);
    }
    return LResult;
}

std::optional<std::string> TViewStore::EntryJson(std::uint64_t ASeq) const {
    std::shared_lock LGuard(FRowsLock);
    if (ASeq < FFirst || ASeq >= FNext) return std::nullopt;
    std::string LOut;
    WriteRowJson(LOut, ASeq, RowAt(ASeq), true);
    return LOut;
}

std::string TViewStore::FacetsJson(std::size_t AMaxValues) const {
    std::shared_lock LGuard(FRowsLock);
    std::string LOut = "{\"logEntryType\":{";
    bool LFirst = true;
    for (int LI = 0; LI < 32; ++LI) {
        if (FTypeCounts[LI] == 0) continue;
        if (!LFirst) LOut += ',';
        LFirst = false;
        LOut += '"';
        LOut += SiLogEntryTypeString(static_cast<TSiLogEntryType>(LI));
        LOut += "\":";
        LOut += std::to_string(FTypeCounts[LI]);
    }
    LOut += '}';
    const auto LTop = [&](std::vector<std::pair<std::uint64_t, std::string>> AItems) {
        const std::size_t LN = std::min(AMaxValues, AItems.size());
        std::partial_sort(AItems.begin(), AItems.begin() + static_cast<std::ptrdiff_t>(LN),
                          AItems.end(), [](const auto& AA, const auto& AB) {
                              return AA.first != AB.first ? AA.first > AB.first
                                                          : AA.second < AB.second;
                          });
        AItems.resize(LN);
        std::string LText = "{";
        for (std::size_t LI = 0; LI < AItems.size(); ++LI) {
            if (LI > 0) LText += ',';
            AppendJsonString(LText, AItems[LI].second);
            LText += ':';
            LText += std::to_string(AItems[LI].first);
        }
        return LText + "}";
    };
    static const char* const LNames[] = {"sessionName", "appName", "hostName"};
    for (int LField = 0; LField < 3; ++LField) {
        std::vector<std::pair<std::uint64_t, std::string>> LItems;
        for (const auto& LItem : FInterns[LField]->Items) {
            if (LItem.Refs > 0) LItems.emplace_back(LItem.Refs, LItem.Text);
        }
        LOut += ",\"";
        LOut += LNames[LField];
        LOut += "\":" + LTop(std::move(LItems));
    }
    const auto LNumbers = [&](const std::unordered_map<std::uint32_t, std::uint64_t>& ACounts) {
        std::vector<std::pair<std::uint64_t, std::string>> LItems;
        LItems.reserve(ACounts.size());
        for (const auto& [value, count] : ACounts)
            LItems.emplace_back(count, std::to_string(value));
        return LTop(std::move(LItems));
    };
    LOut += ",\"processId\":" + LNumbers(FProcessCounts);
    LOut += ",\"threadId\":" + LNumbers(FThreadCounts);
    LOut += ",\"source\":" + LNumbers(FSourceCounts);
    LOut += ",\"control\":" + std::to_string(FControlCount);
    LOut += '}';
    return LOut;
}

std::string TViewStore::HistogramJson(const TViewFilter& AFilter, std::uint32_t ABuckets) {
    ABuckets = std::max<std::uint32_t>(ABuckets, 1);
    std::vector<std::uint64_t> LSeqs;
    std::shared_ptr<TMatchList> LList;
    std::unique_lock<std::mutex> LListGuard;
    if (!AFilter.All()) {
        LList = MatchList(AFilter);
        LListGuard = std::unique_lock(LList->Lock);
        Extend(*LList);
    }
    std::shared_lock LGuard(FRowsLock);
    const auto LEach = [&](auto AVisit) {
        if (LList) {
            Scan(*LList, FNext);
            Trim(*LList);
            for (std::size_t LI = LList->Start; LI < LList->Seqs.size(); ++LI) {
                AVisit(RowAt(LList->Seqs[LI]));
            }
        } else {
            for (std::uint64_t LSeq = FFirst; LSeq < FNext; ++LSeq) AVisit(RowAt(LSeq));
        }
    };
    double LFrom = std::numeric_limits<double>::infinity();
    double LTo = -LFrom;
    LEach([&](const TViewRow& ARow) {
        if (std::isnan(ARow.T)) return;
        LFrom = std::min(LFrom, ARow.T);
        LTo = std::max(LTo, ARow.T);
    });
    if (AFilter.From) LFrom = *AFilter.From;
    if (AFilter.To) LTo = *AFilter.To;
    std::vector<std::array<std::uint64_t, 6>> LCounts(ABuckets);
    double LBucket = 0;
    if (LFrom <= LTo && std::isfinite(LFrom) && std::isfinite(LTo)) {
        LBucket = std::max((LTo - LFrom) / ABuckets, 1.0);
        LEach([&](const TViewRow& ARow) {
            if (!(ARow.T >= LFrom && ARow.T <= LTo)) return;
            auto LIndex = static_cast<std::size_t>((ARow.T - LFrom) / LBucket);
            if (LIndex >= ABuckets) LIndex = ABuckets - 1;
            ++LCounts[LIndex][ARow.Severity < 6 ? ARow.Severity : 1];
        });
    } else {
        LFrom = LTo = 0;
    }
    std::string LOut = "{\"from\":";
    AppendJsonNumber(LOut, LFrom);
    LOut += ",\"to\":";
    AppendJsonNumber(LOut, LTo);
    LOut += ",\"bucket\":";
    AppendJsonNumber(LOut, LBucket);
    LOut += ",\"counts\":[";
    for (std::size_t LI = 0; LI < LCounts.size(); ++LI) {
        if (LI > 0) LOut += ',';
        LOut += '[';
        for (int LS = 0; LS < 6; ++LS) {
            if (LS > 0) LOut += ',';
            LOut += std::to_string(LCounts[LI][LS]);
        }
        LOut += ']';
    }
    LOut += "]}";
    return LOut;
}

void TViewStore::WriteExportLine(std::string& AOut, std::uint64_t ASeq, const TViewRow& ARow,
                                 bool AJsonLines) const {
    if (AJsonLines) {
        // The schema, and the text, of `silog dump --format json`.
        std::string LHex;
        AppendHex(LHex, ARow.Data());
        if (ARow.Control) {
            AOut += "{\"packet\":\"ControlCommand\",\"controlCommandType\":";
            AOut += JsonString(
                SiControlCommandTypeString(static_cast<TSiControlCommandType>(ARow.Type)));
            AOut += ",\"data\":" + JsonString(LHex) + "}\n";
            return;
        }
        char LRaw[64];
        std::snprintf(LRaw, sizeof LRaw, "%.17g", ARow.Timestamp);
        const std::string LIso = IsoTimestamp(ARow.Timestamp);
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
        AOut += ",\"timestamp\":" + (LIso.empty() ? std::string("null") : "\"" + LIso + "\"");
        AOut += ",\"timestampRaw\":";
        AOut += std::isfinite(ARow.Timestamp) ? LRaw : "null";
        AOut += ",\"color\":" + std::to_string(static_cast<std::uint32_t>(ARow.Color));
        AOut += ",\"data\":" + JsonString(LHex) + "}\n";
        return;
    }
    const auto LCell = [&](std::string_view AText) {
        // Cells hold valid UTF-8 only, as the JSON does.
        std::string LValid;
        std::size_t LI = 0;
        while (LI < AText.size()) {
            const std::size_t LStart = LI;
            const char32_t LC = SiDecodeUtf8(AText, LI);
            if (LC == 0xFFFD && !(LI - LStart == 3 && AText.substr(LStart, 3) == "\xEF\xBF\xBD")) {
                LValid += "\xEF\xBF\xBD";
            } else {
                LValid.append(AText.substr(LStart, LI - LStart));
            }
        }
        AppendCsvCell(AOut, LValid);
    };
    AOut += std::to_string(ASeq);
    AOut += ',';
    LCell(TimestampText(ARow.Timestamp));
    AOut += ',';
    LCell(ARow.Control ? SiControlCommandTypeString(static_cast<TSiControlCommandType>(ARow.Type))
                       : SiLogEntryTypeString(static_cast<TSiLogEntryType>(ARow.Type)));
    AOut += ',';
    LCell(ARow.Title());
    AOut += ',';
    LCell(InternedText(0, ARow.Session));
    AOut += ',';
    LCell(InternedText(1, ARow.App));
    AOut += ',';
    LCell(InternedText(2, ARow.Host));
    AOut += ',';
    AOut += ARow.Control ? "" : std::to_string(ARow.ProcessId);
    AOut += ',';
    AOut += ARow.Control ? "" : std::to_string(ARow.ThreadId);
    AOut += ',';
    if (!ARow.Control) LCell(SiViewerIdString(static_cast<TSiViewerId>(ARow.Viewer)));
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
    std::vector<std::uint64_t> LSeqs;
    std::uint64_t LFrom = 0, LTo = 0;
    if (AFilter.All()) {
        std::shared_lock LGuard(FRowsLock);
        LFrom = FFirst;
        LTo = FNext;
    } else {
        const auto LList = MatchList(AFilter);
        std::lock_guard LListGuard(LList->Lock);
        Extend(*LList);
        std::shared_lock LGuard(FRowsLock);
        Scan(*LList, FNext);
        Trim(*LList);
        LSeqs.assign(LList->Seqs.begin() + static_cast<std::ptrdiff_t>(LList->Start),
                     LList->Seqs.end());
    }
    const std::size_t LCount = AFilter.All() ? static_cast<std::size_t>(LTo - LFrom) : LSeqs.size();
    constexpr std::size_t LPiece = 2000;
    std::string LText;
    for (std::size_t LI = 0; LI < LCount; LI += LPiece) {
        LText.clear();
        {
            std::shared_lock LGuard(FRowsLock);
            for (std::size_t LK = LI; LK < LCount && LK < LI + LPiece; ++LK) {
                const std::uint64_t LSeq = AFilter.All() ? LFrom + LK : LSeqs[LK];
                if (LSeq < FFirst || LSeq >= FNext) continue;
                WriteExportLine(LText, LSeq, RowAt(LSeq), AJsonLines);
            }
        }
        if (!LText.empty() && !AWrite(LText)) return;
    }
}

std::string TViewStore::WatchesJson() const {
    std::shared_lock LGuard(FWatchLock);
    std::string LOut = "{\"version\":" + std::to_string(FWatches->Version) + ",\"watches\":[";
    bool LFirst = true;
    for (const auto& [name, w] : FWatches->ByName) {
        if (!LFirst) LOut += ',';
        LFirst = false;
        LOut += "{\"name\":";
        AppendJsonString(LOut, name);
        LOut += ",\"value\":";
        AppendJsonString(LOut, w.Value);
        LOut += ",\"watchType\":\"";
        LOut += SiWatchTypeString(w.Type);
        LOut += "\",\"t\":";
        AppendJsonNumber(LOut, w.T);
        LOut += ",\"timestamp\":";
        AppendJsonString(LOut, TimestampText(w.Timestamp));
        LOut += ",\"count\":" + std::to_string(w.History.size());
        const auto LNumber = LeadingNumber(w.Value);
        const bool LNumeric = (w.Type == wtInteger || w.Type == wtFloat) && LNumber.has_value();
        LOut += LNumeric ? ",\"numeric\":true,\"number\":" : ",\"numeric\":false,\"number\":";
        AppendJsonNumber(LOut, LNumeric ? *LNumber : kNaN);
        LOut += '}';
    }
    LOut += "],\"ignored\":" + std::to_string(FWatches->Ignored) + "}";
    return LOut;
}

std::optional<std::string> TViewStore::WatchJson(const std::string& AName,
                                                 std::size_t ALimit) const {
    std::shared_lock LGuard(FWatchLock);
    const auto LIt = FWatches->ByName.find(AName);
    if (LIt == FWatches->ByName.end()) return std::nullopt;
    const auto& LW = LIt->second;
    std::string LOut = "{\"name\":";
    AppendJsonString(LOut, LW.Name);
    LOut += ",\"watchType\":\"";
    LOut += SiWatchTypeString(LW.Type);
    LOut += "\",\"history\":[";
    const std::size_t LSkip = LW.History.size() > ALimit ? LW.History.size() - ALimit : 0;
    for (std::size_t LI = LSkip; LI < LW.History.size(); ++LI) {
        if (LI > LSkip) LOut += ',';
        LOut += "{\"t\":";
        AppendJsonNumber(LOut, LW.History[LI].T);
        LOut += ",\"value\":";
        AppendJsonString(LOut, LW.History[LI].Value);
        LOut += ",\"number\":";
        const auto LNumber = LeadingNumber(LW.History[LI].Value);
        AppendJsonNumber(LOut, LNumber ? *LNumber : kNaN);
        LOut += '}';
    }
    LOut += "]}";
    return LOut;
}

std::string TViewStore::FlowJson() const {
    std::shared_lock LGuard(FFlowLock);
    std::string LOut = "{\"version\":" + std::to_string(FFlow->Version) + ",\"hosts\":[";
    bool LFirstHost = true;
    for (const auto& [hostName, host] : FFlow->Hosts) {
        if (!LFirstHost) LOut += ',';
        LFirstHost = false;
        LOut += "{\"hostName\":";
        AppendJsonString(LOut, hostName);
        LOut += ",\"processes\":[";
        bool LFirstProcess = true;
        for (const auto& [pid, process] : host.Processes) {
            if (!LFirstProcess) LOut += ',';
            LFirstProcess = false;
            LOut += "{\"processId\":" + std::to_string(pid) + ",\"title\":";
            AppendJsonString(LOut, process.Title);
            LOut += process.Open ? ",\"open\":true" : ",\"open\":false";
            AppendTime(LOut, ",\"enter\":", process.Enter);
            AppendTime(LOut, ",\"leave\":", process.Leave);
            LOut += ",\"threads\":[";
            bool LFirstThread = true;
            for (const auto& [tid, thread] : process.Threads) {
                if (!LFirstThread) LOut += ',';
                LFirstThread = false;
                LOut += "{\"threadId\":" + std::to_string(tid) + ",\"title\":";
                AppendJsonString(LOut, thread.Title);
                LOut += thread.Open ? ",\"open\":true" : ",\"open\":false";
                AppendTime(LOut, ",\"enter\":", thread.Enter);
                AppendTime(LOut, ",\"leave\":", thread.Leave);
                LOut += ",\"scopes\":";
                TFlow::WriteScopes(LOut, thread.Scopes);
                LOut += '}';
            }
            LOut += "]}";
        }
        LOut += "]}";
    }
    LOut += "]}";
    return LOut;
}

}  // namespace deruz::silog::view
