// silog view: the JSON and CSV encoding of hostile text, the HTTP request parser, the store
// (ring and drop counting, filters and paging, control commands, bounded watches and flow),
// the endpoints through a real socket (bad requests and the token included), and the
// feeder's script end to end over TCP and from a file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <regex>
#include <sstream>
#include <thread>

#include "logging/packets/packet.h"
#include "logging/protocols/tcp_client.h"
#include "tests/logging/temp_dir.h"
#include "tests/tools/silog_run.h"
#include "tests/tools/view_feed/feed.h"
#include "tools/silog/view/http_server.h"
#include "tools/silog/view/view_app.h"
#include "tools/silog/view/view_json.h"
#include "tools/silog/view/view_static.h"
#include "tools/silog/view/view_store.h"

namespace deruz::silog::view {
namespace {

using namespace deruz::logging;

std::string Json(std::string_view AText) {
    std::string LOut;
    AppendJsonString(LOut, AText);
    return LOut;
}

TEST(ViewJson, HostileTextStaysAString) {
    const struct {
        std::string In, Out;
    } LCases[] = {
        {"plain", "\"plain\""},
        {"<img src=x onerror=alert(1)>", "\"\\u003cimg src=x onerror=alert(1)\\u003e\""},
        {"</script><script>x</script>",
         "\"\\u003c/script\\u003e\\u003cscript\\u003ex\\u003c/script\\u003e\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\n\r\t\x01\x1f\x7f", "\"\\n\\r\\t\\u0001\\u001f\x7f\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\xff\xfe ok \xc3", "\"\\ufffd\\ufffd ok \\ufffd\""},
        {"\xef\xbf\xbd real replacement", "\"\xef\xbf\xbd real replacement\""},
        {"line\xe2\x80\xa8sep", "\"line\\u2028sep\""},
        {"bidi \xe2\x80\xae rtl", "\"bidi \xe2\x80\xae rtl\""},
        {"\xed\xa0\x80 surrogate", "\"\\ufffd\\ufffd\\ufffd surrogate\""},
        {"a & b", "\"a \\u0026 b\""},
    };
    for (const auto& LC : LCases) EXPECT_EQ(Json(LC.In), LC.Out) << LC.In;

    bool LCut = false;
    const std::string LUmlauts(3000, 'x');
    EXPECT_EQ(TitleExcerpt(LUmlauts, 1000, LCut).size(), 1000u);
    EXPECT_TRUE(LCut);
    std::string LWide;
    for (int LI = 0; LI < 1200; ++LI) LWide += "\xc3\xa4";  // ä
    EXPECT_EQ(TitleExcerpt(LWide, 1000, LCut).size(), 2000u);
    EXPECT_TRUE(LCut);
    EXPECT_EQ(TitleExcerpt("short", 1000, LCut), "short");
    EXPECT_FALSE(LCut);
}

TEST(ViewJson, CsvBase64PercentAndNumbers) {
    const struct {
        std::string In, Out;
    } LCsv[] = {
        {"plain", "plain"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "'+1"},
        {"-cmd", "'-cmd"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"", ""},
    };
    for (const auto& LC : LCsv) {
        std::string LOut;
        AppendCsvCell(LOut, LC.In);
        EXPECT_EQ(LOut, LC.Out) << LC.In;
    }
    const struct {
        std::string In, Out;
    } LBase64[] = {{"", ""},
                   {"f", "Zg=="},
                   {"fo", "Zm8="},
                   {"foo", "Zm9v"},
                   {std::string("\xff\xfe\x00", 3), "//4A"}};
    for (const auto& LC : LBase64) {
        std::string LOut;
        AppendBase64(LOut, LC.In);
        EXPECT_EQ(LOut, LC.Out);
    }
    EXPECT_EQ(PercentDecode("a%2Cb+c%zz%4"), "a,b c%zz%4");
    EXPECT_EQ(PercentDecode("a+b", false), "a+b");
    EXPECT_EQ(LeadingNumber("36,5 C"), 36.5);
    EXPECT_EQ(LeadingNumber("5 ($00000005)"), 5.0);
    EXPECT_EQ(LeadingNumber("-1e3"), -1000.0);
    EXPECT_FALSE(LeadingNumber("True"));
    EXPECT_FALSE(LeadingNumber("12x", true));
    EXPECT_EQ(TimestampText(46367.5), "2026-12-11 12:00:00.000");
    EXPECT_EQ(TimestampText(std::nan("")), "");
}

TEST(ViewHttp, ParsesRequestHeadsAndRejectsMalformedOnes) {
    THttpRequest LRequest;
    std::string LError;
    ASSERT_TRUE(ParseRequestHead(
        "GET /static/a%20b+c.js?q=x%2Cy&types=Message,Error&flag HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "X-Thing:   spaced  \r\n\r\n",
        LRequest, LError))
        << LError;
    EXPECT_EQ(LRequest.Method, "GET");
    EXPECT_EQ(LRequest.Path, "/static/a b+c.js");
    ASSERT_EQ(LRequest.Query.size(), 3u);
    EXPECT_EQ(LRequest.Query[0].second, "x%2Cy");  // values stay encoded
    EXPECT_EQ(LRequest.Param("q"), "x,y");
    EXPECT_EQ(LRequest.Param("flag"), "");
    EXPECT_EQ(LRequest.Header("x-thing"), "spaced");

    const struct {
        std::string Head, Error;
    } LBad[] = {
        {"GET /\r\n\r\n", "malformed request line"},
        {"GET / HTTP/1.1 extra\r\n\r\n", "malformed request line"},
        {"GET / HTTP/2.0\r\n\r\n", "unsupported HTTP version"},
        {"GET http://x/ HTTP/1.1\r\n\r\n", "malformed request target"},
        {"G(T / HTTP/1.1\r\n\r\n", "malformed method"},
        {"GET /%00 HTTP/1.1\r\n\r\n", "malformed request target"},
        {"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", "malformed header line"},
        {"GET / HTTP/1.1\r\n folded: x\r\n\r\n", "malformed header line"},
    };
    for (const auto& LC : LBad) {
        THttpRequest LR;
        std::string LE;
        EXPECT_FALSE(ParseRequestHead(LC.Head, LR, LE)) << LC.Head;
        EXPECT_EQ(LE, LC.Error) << LC.Head;
    }
}

// --- The store ------------------------------------------------------------------------------

TSiRef<TSiLogEntry> Entry(std::string ATitle, TSiLogEntryType AType = ltMessage,
                          std::string ASession = "Main", std::uint32_t AThread = 1,
                          double ATime = 46367.5) {
    auto LE = SiMakeRef<TSiLogEntry>(AType, viTitle);
    LE->Title = std::move(ATitle);
    LE->SessionName = std::move(ASession);
    LE->AppName = "app.exe";
    LE->HostName = "PC1";
    LE->ProcessId = 100;
    LE->ThreadId = AThread;
    LE->Timestamp = ATime;
    return LE;
}

TSiRef<TSiControlCommand> Command(TSiControlCommandType AType) {
    return SiMakeRef<TSiControlCommand>(AType);
}

TQueryParams Params(std::initializer_list<std::pair<std::string, std::string>> AList) {
    return TQueryParams(AList);
}

std::string PercentEncoded(std::string_view AText) {
    std::string LOut;
    for (const char LC : AText) {
        char LEscape[4];
        std::snprintf(LEscape, sizeof LEscape, "%%%02X", static_cast<unsigned char>(LC));
        LOut += LEscape;
    }
    return LOut;
}

TViewFilter Filter(const TQueryParams& AParams) {
    std::string LError;
    const auto LFilter = ParseFilter(AParams, LError);
    EXPECT_TRUE(LFilter) << LError;
    return LFilter.value_or(TViewFilter{});
}

// The seqs of a page of rows, read from its JSON.
std::vector<std::uint64_t> Seqs(const std::string& ARowsJson) {
    std::vector<std::uint64_t> LSeqs;
    for (std::size_t LAt = ARowsJson.find("{\"seq\":"); LAt != std::string::npos;
         LAt = ARowsJson.find("{\"seq\":", LAt + 1)) {
        LSeqs.push_back(std::stoull(ARowsJson.substr(LAt + 7)));
    }
    return LSeqs;
}

std::vector<std::uint64_t> Range(std::uint64_t AFrom, std::uint64_t ATo) {
    std::vector<std::uint64_t> LV;
    for (auto LS = AFrom; LS <= ATo; ++LS) LV.push_back(LS);
    return LV;
}

TEST(ViewStore, RingDropsTheOldestAndCountsThem) {
    TViewStore LStore({5, 1 << 20});
    const auto LSource = LStore.AddSource("tcp", "t", "connected");
    for (int LI = 1; LI <= 8; ++LI) {
        LStore.Add(LSource,
                   *Entry("m" + std::to_string(LI), ltMessage, LI <= 3 ? "Early" : "Late"));
    }
    TViewState LState = LStore.State();
    EXPECT_EQ(LState.First, 4u);
    EXPECT_EQ(LState.Last, 8u);
    EXPECT_EQ(LState.Kept, 5u);
    EXPECT_EQ(LState.Dropped, 3u);
    EXPECT_EQ(LState.Received, 8u);
    EXPECT_EQ(Seqs(LStore.Rows(TViewFilter{}, std::nullopt, 0, 100).RowsJson), Range(4, 8));
    EXPECT_FALSE(LStore.EntryJson(3));
    ASSERT_TRUE(LStore.EntryJson(4));
    EXPECT_NE(LStore.EntryJson(4)->find("\"title\":\"m4\""), std::string::npos);
    // The dropped rows no longer count in the facets, and their name is free again.
    const std::string LFacets = LStore.FacetsJson();
    EXPECT_EQ(LFacets.find("Early"), std::string::npos) << LFacets;
    EXPECT_NE(LFacets.find("\"Late\":5"), std::string::npos) << LFacets;
    EXPECT_NE(LFacets.find("\"Message\":5"), std::string::npos) << LFacets;

    // The byte budget drops as well: three 400-byte titles in 1000 bytes keep two.
    TViewStore LSmall({100, 1000});
    const auto LS2 = LSmall.AddSource("tcp", "t", "connected");
    for (int LI = 0; LI < 3; ++LI) LSmall.Add(LS2, *Entry(std::string(400, 'a' + LI)));
    LState = LSmall.State();
    EXPECT_EQ(LState.Kept, 2u);
    EXPECT_EQ(LState.Dropped, 1u);
    EXPECT_EQ(LState.KeptBytes, 800u);
}

TEST(ViewStore, FiltersAndPaging) {
    TViewStore LStore;
    const auto LA = LStore.AddSource("tcp", "a", "connected");
    const auto LB = LStore.AddSource("tcp", "b", "connected");
    // seq: 1 Message Main t1 "Alpha start", 2 Warning Main t2 "beta ÄRGER", 3 Error Other t1
    // "gamma, alpha", 4 ClearAutoViews (at the time of 3), 5 Debug Other t2 "Übel" (source b,
    // 14.4 minutes after 3), 6 Message Main t1 "x=1, y=2" hours later.
    LStore.Add(LA, *Entry("Alpha start", ltMessage, "Main", 1, 46367.50));
    LStore.Add(LA, *Entry("beta \xc3\x84RGER", ltWarning, "Main", 2, 46367.51));
    LStore.Add(LA, *Entry("gamma, alpha", ltError, "Other, Inc", 1, 46367.52));
    LStore.Add(LA, *Command(ccClearAutoViews));
    LStore.Add(LB, *Entry("\xc3\x9c"
                          "bel",
                          ltDebug, "Other, Inc", 2, 46367.53));
    LStore.Add(LA, *Entry("x=1, y=2", ltMessage, "Main", 1, 46368.0));
    const double LT3 =
        std::stod(LStore.EntryJson(3)->substr(LStore.EntryJson(3)->find("\"t\":") + 4));
    const struct {
        TQueryParams Params;
        std::vector<std::uint64_t> Seqs;
    } LCases[] = {
        {{}, {1, 2, 3, 4, 5, 6}},
        {Params({{"types", "Message"}}), {1, 4, 6}},
        {Params({{"types", "Warning,Error"}}), {2, 3, 4}},
        {Params({{"session", "Other%2C Inc"}}), {3, 4, 5}},
        {Params({{"session", "Main,Other%2C+Inc"}, {"types", "Debug"}}), {4, 5}},
        {Params({{"tid", "2"}}), {2, 4, 5}},
        {Params({{"pid", "100,7"}, {"tid", "1"}}), {1, 3, 4, 6}},
        {Params({{"source", "2"}}), {5}},
        {Params({{"kinds", "entry"}}), {1, 2, 3, 5, 6}},
        {Params({{"kinds", "control"}}), {4}},
        {Params({{"q", "ALPHA"}}), {1, 3, 4}},
        {Params({{"q", "ALPHA"}, {"case", "1"}}), {4}},
        {Params({{"q", "\xc3\xa4rger"}}), {2, 4}},  // ä finds Ä
        {Params({{"q",
                  "\xc3\xbc"
                  "BEL"}}),
         {4, 5}},  // ü finds Ü
        {Params({{"q", "^(alpha|gamma)"}, {"re", "1"}}), {1, 3, 4}},
        {Params({{"q", "[0-9]$"}, {"re", "1"}}), {4, 6}},
        {Params({{"host", "PC1"}, {"app", "app.exe"}}), {1, 2, 3, 4, 5, 6}},
        {Params({{"host", "nowhere"}}), {4}},
        {Params({{"from", std::to_string(LT3)}}), {3, 4, 5, 6}},
        {Params({{"from", std::to_string(LT3)}, {"to", std::to_string(LT3 + 1728000)}}), {3, 4, 5}},
        {Params({{"to", std::to_string(LT3 - 1)}}), {1, 2}},
        {Params({{"from", std::to_string(LT3)}, {"kinds", "entry"}}), {3, 5, 6}},
    };
    for (const auto& LC : LCases) {
        const auto LRows = LStore.Rows(Filter(LC.Params), std::nullopt, 0, 100);
        EXPECT_EQ(Seqs(LRows.RowsJson), LC.Seqs) << TViewFilter(Filter(LC.Params)).Key();
        EXPECT_EQ(LRows.Total, LC.Seqs.size());
    }

    const struct {
        TQueryParams Params;
        std::string Error;
    } LBad[] = {
        {Params({{"types", "Message,Nonsense"}}), "unknown entry type 'Nonsense'"},
        {Params({{"pid", "12,x"}}), "pid takes a comma list of numbers"},
        {Params({{"tid", "-1"}}), "tid takes a comma list of numbers"},
        {Params({{"kinds", "rows"}}), "unknown kind 'rows'"},
        {Params({{"from", "yesterday"}}), "from takes a time in milliseconds"},
        {Params({{"re", "2"}}), "re takes 0 or 1"},
        {Params({{"q", "(unclosed"}, {"re", "1"}}), "bad regular expression: "},
        {Params({{"q", std::string(1001, 'a')}, {"re", "1"}}), "bad regular expression: "},
    };
    for (const auto& LC : LBad) {
        std::string LError;
        EXPECT_FALSE(ParseFilter(LC.Params, LError));
        EXPECT_EQ(LError.substr(0, LC.Error.size()), LC.Error);
    }

    // Paging through one filter, from an offset and from a seq (also moved back).
    const TViewFilter LEntries = Filter(Params({{"kinds", "entry"}}));
    auto LPage = LStore.Rows(LEntries, std::nullopt, 2, 2);
    EXPECT_EQ(Seqs(LPage.RowsJson), (std::vector<std::uint64_t>{3, 5}));
    LPage = LStore.Rows(LEntries, 4, 0, 2);
    EXPECT_EQ(LPage.Offset, 3u);
    EXPECT_EQ(Seqs(LPage.RowsJson), (std::vector<std::uint64_t>{5, 6}));
    LPage = LStore.Rows(LEntries, 5, -2, 2);
    EXPECT_EQ(LPage.Offset, 1u);
    EXPECT_EQ(Seqs(LPage.RowsJson), (std::vector<std::uint64_t>{2, 3}));
    LPage = LStore.Rows(TViewFilter{}, 3, 0, 2);
    EXPECT_EQ(LPage.Offset, 2u);
    EXPECT_EQ(Seqs(LPage.RowsJson), (std::vector<std::uint64_t>{3, 4}));
    EXPECT_EQ(LStore.Rows(LEntries, std::nullopt, 10, 2).RowsJson, "");
}

TEST(ViewStore, RegularExpressionsFindWhatTheEngineFinds) {
    // Titles that the engine is asked about only when they hold a literal that every match
    // must contain: the shortcut may never lose a match.
    const std::vector<std::string> LTitles = {
        "abb",  "ab2",       "color",       "colour",  "xz",          "yz",   "AbC-42",
        "a.b",  "aXb",       "tab\there",   "(paren)", "back\\slash", "A{2}", "price $5",
        "end.", "timeout 3", "ERROR: disk", "error x", "\\x41B",      "aab",  "",
    };
    const std::vector<std::string> LPatterns = {
        "ab{2}",    "ab{1,2}c*", "colou?r",      "(x|y)z",      "x|yz",        "abc",
        "[0-9]+",   "a\\.b",     "a.b",          "\\x41b",      "\\(paren\\)", "back\\\\slash",
        "A\\{2\\}", "\\$5",      "end\\.$",      "error.*disk", "(?:err)or x", "a+b",
        "^a*b",     "\\d\\d",    "t[aeiou]b\\t", "(a)\\1b",     "zz*",         "",
    };
    TViewStore LStore;
    const auto LSource = LStore.AddSource("tcp", "t", "connected");
    for (const auto& LTitle : LTitles) LStore.Add(LSource, *Entry(LTitle));
    for (const bool LCaseSensitive : {false, true}) {
        for (const auto& LPattern : LPatterns) {
            auto LFlags = std::regex::ECMAScript;
            if (!LCaseSensitive) LFlags |= std::regex::icase;
            const std::regex LEngine(LPattern, LFlags);
            std::vector<std::uint64_t> LExpected;
            for (std::size_t LI = 0; LI < LTitles.size(); ++LI) {
                if (std::regex_search(LTitles[LI], LEngine)) LExpected.push_back(LI + 1);
            }
            const TViewFilter LFilter = Filter(Params({{"q", PercentEncoded(LPattern)},
                                                       {"re", "1"},
                                                       {"case", LCaseSensitive ? "1" : "0"}}));
            EXPECT_EQ(Seqs(LStore.Rows(LFilter, std::nullopt, 0, 100).RowsJson), LExpected)
                << LPattern << (LCaseSensitive ? " (case)" : "");
        }
    }
}

TEST(ViewStore, CachedMatchListsFollowNewAndDroppedRows) {
    TViewStore LStore({10, 1 << 20});
    const auto LSource = LStore.AddSource("tcp", "t", "connected");
    const TViewFilter LOdd = Filter(Params({{"q", "odd"}}));
    for (int LI = 1; LI <= 6; ++LI) LStore.Add(LSource, *Entry(LI % 2 ? "odd" : "even"));
    EXPECT_EQ(Seqs(LStore.Rows(LOdd, std::nullopt, 0, 100).RowsJson),
              (std::vector<std::uint64_t>{1, 3, 5}));
    // Rows that arrive later are added to the list, rows dropped are left out of it.
    for (int LI = 7; LI <= 14; ++LI) LStore.Add(LSource, *Entry(LI % 2 ? "odd" : "even"));
    const auto LRows = LStore.Rows(LOdd, std::nullopt, 0, 100);
    EXPECT_EQ(Seqs(LRows.RowsJson), (std::vector<std::uint64_t>{5, 7, 9, 11, 13}));
    EXPECT_EQ(LRows.Total, 5u);
    EXPECT_EQ(LRows.Last, 14u);
    // A filter on a session whose rows all went is empty even when its name is taken again.
    TViewStore LNames({2, 1 << 20});
    const auto LS = LNames.AddSource("tcp", "t", "connected");
    LNames.Add(LS, *Entry("a", ltMessage, "Gone"));
    const TViewFilter LGone = Filter(Params({{"session", "Gone"}}));
    EXPECT_EQ(LNames.Rows(LGone, std::nullopt, 0, 10).Total, 1u);
    LNames.Add(LS, *Entry("b", ltMessage, "Other"));
    LNames.Add(LS, *Entry("c", ltMessage, "Other"));
    EXPECT_EQ(LNames.Rows(LGone, std::nullopt, 0, 10).Total, 0u);
    LNames.Add(LS, *Entry("d", ltMessage, "Gone"));
    EXPECT_EQ(Seqs(LNames.Rows(LGone, std::nullopt, 0, 10).RowsJson),
              (std::vector<std::uint64_t>{4}));
}

TEST(ViewStore, ControlCommandsClearAsAViewerDoes) {
    TViewStore LStore;
    const auto LSource = LStore.AddSource("pipe", "p", "connected");
    auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
    LWatch->Name = "w";
    LWatch->Value = "1";
    LWatch->Timestamp = 46367.5;
    auto LFlow = SiMakeRef<TSiProcessFlow>(pfEnterMethod);
    LFlow->Title = "M";
    LFlow->HostName = "PC1";
    LFlow->Timestamp = 46367.5;
    const auto LFill = [&] {
        LStore.Add(LSource, *Entry("e"));
        LStore.Add(LSource, *LWatch);
        LStore.Add(LSource, *LFlow);
    };
    struct TCase {
        TSiControlCommandType Command;
        bool Log, Watches, Flow;
    };
    const TCase LCases[] = {
        {ccClearLog, true, false, false},         {ccClearWatches, false, true, false},
        {ccClearProcessFlow, false, false, true}, {ccClearAutoViews, false, false, false},
        {ccClearAll, true, true, true},
    };
    for (const auto& LC : LCases) {
        LFill();
        const TViewState LBefore = LStore.State();
        LStore.Add(LSource, *Command(LC.Command));
        const TViewState LAfter = LStore.State();
        const std::string LName(SiControlCommandTypeString(LC.Command));
        // The command is kept as a row in every case.
        ASSERT_EQ(LAfter.Last, LBefore.Last + 1) << LName;
        EXPECT_NE(LStore.EntryJson(LAfter.Last)->find("\"controlCommandType\":\"" + LName + "\""),
                  std::string::npos);
        EXPECT_EQ(LAfter.First == LAfter.Last, LC.Log) << LName;
        EXPECT_EQ(LAfter.Cleared, LC.Log ? LBefore.Last : LBefore.Cleared) << LName;
        EXPECT_EQ(LAfter.Dropped, 0u) << LName;
        EXPECT_EQ(LStore.WatchesJson().find("\"name\":\"w\"") == std::string::npos, LC.Watches)
            << LName;
        EXPECT_EQ(LStore.FlowJson().find("\"title\":\"M\"") == std::string::npos, LC.Flow) << LName;
    }
}

TEST(ViewStore, WatchHistoryAndFlowAreBounded) {
    TViewStore LStore;
    const auto LSource = LStore.AddSource("pipe", "p", "connected");
    for (std::size_t LI = 1; LI <= TViewStore::kWatchHistory + 5; ++LI) {
        auto LW = SiMakeRef<TSiWatch>(wtInteger);
        LW->Name = "n";
        LW->Value = std::to_string(LI);
        LW->Timestamp = 46367.5;
        LStore.Add(LSource, *LW);
    }
    const std::string LWatches = LStore.WatchesJson();
    EXPECT_NE(LWatches.find("\"count\":10000,\"numeric\":true,\"number\":10005"), std::string::npos)
        << LWatches.substr(0, 300);
    const auto LHistory = LStore.WatchJson("n", 2);
    ASSERT_TRUE(LHistory);
    EXPECT_NE(LHistory->find("\"value\":\"10004\""), std::string::npos);
    EXPECT_EQ(LHistory->find("\"value\":\"10003\""), std::string::npos);
    EXPECT_NE(LStore.WatchJson("n", 10000)->find("\"value\":\"6\""), std::string::npos);
    EXPECT_EQ(LStore.WatchJson("n", 10000)->find("\"value\":\"5\""), std::string::npos);
    EXPECT_FALSE(LStore.WatchJson("missing", 10));

    const auto LFlow = [&](TSiProcessFlowType AType, const std::string& ATitle) {
        auto LF = SiMakeRef<TSiProcessFlow>(AType);
        LF->Title = ATitle;
        LF->HostName = "PC1";
        LF->ProcessId = 1;
        LF->ThreadId = 2;
        LF->Timestamp = 46367.5;
        LStore.Add(LSource, *LF);
    };
    for (std::size_t LI = 0; LI < TViewStore::kClosedScopes + 10; ++LI) {
        LFlow(pfEnterMethod, "call " + std::to_string(LI));
        LFlow(pfLeaveMethod, "call " + std::to_string(LI));
    }
    LFlow(pfEnterMethod, "outer");
    LFlow(pfEnterMethod, "inner");
    LFlow(pfLeaveMethod, "inner");
    LFlow(pfLeaveMethod, "unmatched leave of outer");
    LFlow(pfLeaveMethod, "a leave without enter");  // changes nothing
    LFlow(pfEnterMethod, "open");
    const std::string LTree = LStore.FlowJson();
    EXPECT_EQ(LTree.find("\"title\":\"call 10\""), std::string::npos);  // 11 forgotten in all
    EXPECT_NE(LTree.find("\"title\":\"call 11\""), std::string::npos);
    EXPECT_NE(LTree.find("\"title\":\"outer\",\"enter\":"), std::string::npos);
    EXPECT_NE(LTree.find("\"title\":\"open\",\"enter\":"), std::string::npos);
    EXPECT_NE(LTree.find("\"leave\":null,\"open\":true,\"scopes\":[]}]"), std::string::npos);
    EXPECT_NE(LTree.find("\"threadId\":2,\"title\":\"\",\"open\":true,\"enter\":null"),
              std::string::npos)
        << LTree.substr(0, 300);
}

// --- Through a real socket ----------------------------------------------------------------------

struct TResponse {
    int Status = 0;
    std::string Head;
    std::string Body;
};

// Sends ARequest as it is and reads one response (up to its Content-Length, or to the end).
TResponse Exchange(TSiTcpClient& AClient, const std::string& ARequest) {
    AClient.Send(ARequest.data(), ARequest.size());
    TResponse LR;
    std::optional<std::size_t> LLength;
    for (;;) {
        const std::string LLine = AClient.ReceiveLn();
        if (LLine.empty()) break;
        LR.Head += LLine + "\n";
        if (LR.Status == 0 && LLine.size() > 12) LR.Status = std::stoi(LLine.substr(9, 3));
        if (LLine.rfind("Content-Length: ", 0) == 0) LLength = std::stoull(LLine.substr(16));
    }
    const bool LHead = ARequest.rfind("HEAD ", 0) == 0;
    if (LLength && !LHead && LR.Status != 304) {
        LR.Body.resize(*LLength);
        LR.Body.resize(AClient.Receive(LR.Body.data(), *LLength));
    } else if (!LLength && !LHead) {
        char LBuffer[65536];
        for (std::size_t LN; (LN = AClient.Receive(LBuffer, sizeof LBuffer)) > 0;) {
            LR.Body.append(LBuffer, LN);
            if (LN < sizeof LBuffer) break;
        }
    }
    return LR;
}

TResponse Get(std::uint16_t APort, const std::string& ATarget, const std::string& AHeaders = {}) {
    TSiTcpClient LClient("127.0.0.1", APort);
    LClient.Connect(5000);
    const std::string LHost =
        AHeaders.find("Host:") == std::string::npos ? "Host: 127.0.0.1\r\n" : "";
    return Exchange(LClient, "GET " + ATarget + " HTTP/1.1\r\n" + LHost + AHeaders +
                                 "Connection: close\r\n\r\n");
}

class ViewServer : public ::testing::Test {
  protected:
    void Start(TViewOptions AOptions = {}) {
        AOptions.Tcp = true;
        AOptions.TcpPort = 0;
        AOptions.HttpPort = 0;
        FApp = std::make_unique<TViewApp>(std::move(AOptions), FErr);
        FApp->Start();
        FPort = FApp->HttpPort();
    }
    // Waits until the store has received ACount packets.
    void WaitForPackets(std::uint64_t ACount) {
        for (int LI = 0; LI < 500 && FApp->Store().State().Received < ACount; ++LI) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_GE(FApp->Store().State().Received, ACount);
    }
    void TearDown() override {
        if (FApp) FApp->Stop();
    }
    std::ostringstream FErr;
    std::unique_ptr<TViewApp> FApp;
    std::uint16_t FPort = 0;
};

TEST_F(ViewServer, EndpointsAnswerAndBadRequestsAreRefused) {
    Start();
    const auto LSource = FApp->Store().AddSource("tcp", "t", "connected");
    FApp->Store().Add(LSource, *Entry("first <b>"));
    FApp->Store().Add(LSource, *Entry("second", ltWarning));
    struct TCase {
        std::string Target;
        int Status;
        std::string Contains;
    };
    const TCase LCases[] = {
        {"/api/state", 200, "\"last\":2,\"kept\":2,"},
        {"/api/rows?limit=1&offset=1", 200,
         "{\"total\":2,\"offset\":1,\"last\":2,\"rows\":[{\"seq\":2,"},
        {"/api/rows?types=Warning", 200, "\"total\":1,"},
        {"/api/rows?q=%3Cb%3E", 200, "\"title\":\"first \\u003cb\\u003e\""},
        {"/api/entry?seq=1", 200, "\"data\":\"\""},
        {"/api/facets", 200, "\"logEntryType\":{\"Message\":1,\"Warning\":1}"},
        {"/api/histogram?buckets=3", 200, "\"counts\":[[0,1,1,0,0,0],[0,0,0,0,0,0],[0,0,0,0,0,0]]"},
        {"/api/watches", 200, "\"watches\":[]"},
        {"/api/flow", 200, "\"hosts\":[]"},
        {"/api/export?format=csv", 200, "1,2026-12-11 12:00:00.000,Message,first <b>,Main,"},
        {"/api/rows?limit=1001", 400, "{\"error\":\"limit takes a whole number from 0 to 1000\"}"},
        {"/api/rows?offset=x", 400, "offset takes"},
        {"/api/rows?offset=-1", 400, "offset takes"},
        {"/api/rows?q=(&re=1", 400, "{\"error\":\"bad regular expression: "},
        {"/api/rows?types=Bogus", 400, "unknown entry type 'Bogus'"},
        {"/api/histogram?buckets=401", 400, "buckets"},
        {"/api/export?format=xml", 400, "format takes jsonl or csv"},
        {"/api/entry", 400, "seq is missing"},
        {"/api/entry?seq=99", 404, "entry not kept"},
        {"/api/watch?name=none", 404, "no such watch"},
        {"/api/nothing", 404, "no such path"},
        {"/static/../API.md", 404, "no such file"},
    };
    for (const auto& LC : LCases) {
        const TResponse LR = Get(FPort, LC.Target);
        EXPECT_EQ(LR.Status, LC.Status) << LC.Target << "\n" << LR.Body;
        EXPECT_NE(LR.Body.find(LC.Contains), std::string::npos) << LC.Target << "\n" << LR.Body;
        // Every response carries the policy.
        EXPECT_NE(LR.Head.find("Content-Security-Policy: default-src 'none'; script-src 'self';"),
                  std::string::npos)
            << LC.Target;
        EXPECT_NE(LR.Head.find("X-Content-Type-Options: nosniff"), std::string::npos);
    }

    // Keep-alive, HEAD, pipelined requests on one connection.
    TSiTcpClient LClient("127.0.0.1", FPort);
    LClient.Connect(5000);
    TResponse LR = Exchange(LClient, "GET /api/state HTTP/1.1\r\nHost: localhost:1\r\n\r\n");
    EXPECT_EQ(LR.Status, 200);
    LR = Exchange(LClient, "HEAD /api/rows HTTP/1.1\r\n\r\nGET /api/entry?seq=2 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(LR.Status, 200);
    EXPECT_EQ(LR.Body, "");
    LR = Exchange(LClient, "");
    EXPECT_NE(LR.Body.find("\"title\":\"second\""), std::string::npos) << LR.Body;
    LClient.Disconnect();

    const struct {
        std::string Request;
        int Status;
    } LRaw[] = {
        {"POST /api/state HTTP/1.1\r\nContent-Length: 2\r\n\r\nab", 405},
        {"GET / HTTP/1.1\r\nX-Big: " + std::string(17000, 'a') + "\r\n\r\n", 413},
        {"GET /api/state HTTP/1.1\r\nHost: evil.example:4229\r\n\r\n", 403},
        {"BROKEN\r\n\r\n", 400},
    };
    for (const auto& LC : LRaw) {
        TSiTcpClient LBad("127.0.0.1", FPort);
        LBad.Connect(5000);
        EXPECT_EQ(Exchange(LBad, LC.Request).Status, LC.Status) << LC.Request.substr(0, 40);
    }
}

TEST_F(ViewServer, TokenIsNeededForThePageAndTheApi) {
    TViewOptions LOptions;
    LOptions.Token = "s3cret-token";
    Start(LOptions);
    const struct {
        std::string Target, Headers;
        int Status;
    } LCases[] = {
        {"/api/state", "", 401},
        {"/api/state?token=wrong", "", 401},
        {"/api/state?token=s3cret-tokenX", "", 401},
        {"/api/state?token=s3cret-token", "", 200},
        {"/api/rows", "Authorization: Bearer s3cret-token\r\n", 200},
        {"/api/rows", "Authorization: Bearer wrong\r\n", 401},
        {"/", "", 401},
        {"/api/events", "", 401},
        // With a token any Host is fine: the token is what is checked.
        {"/api/state?token=s3cret-token", "Host: viewer.example\r\n", 200},
    };
    for (const auto& LC : LCases) {
        EXPECT_EQ(Get(FPort, LC.Target, LC.Headers).Status, LC.Status)
            << LC.Target << " " << LC.Headers;
    }
    // The page's files carry no log data and are served without the token.
    for (const auto& LFile : StaticFiles()) {
        const TResponse LR = Get(FPort, "/static/" + std::string(LFile.Path));
        EXPECT_EQ(LR.Status, 200) << LFile.Path;
        EXPECT_EQ(LR.Body.size(), LFile.Body.size());
        EXPECT_NE(LR.Head.find("Content-Type: " + std::string(LFile.ContentType)),
                  std::string::npos);
        EXPECT_NE(LR.Head.find("Cache-Control: no-cache"), std::string::npos);
    }
}

TEST_F(ViewServer, EventStreamsSendStateAndAreBounded) {
    Start();
    TSiTcpClient LFirst("127.0.0.1", FPort);
    LFirst.Connect(5000);
    const std::string LRequest = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    LFirst.Send(LRequest.data(), LRequest.size());
    while (!LFirst.ReceiveLn().empty()) {
    }
    EXPECT_EQ(LFirst.ReceiveLn(), "event: state");
    EXPECT_EQ(LFirst.ReceiveLn().rfind("data: {\"instance\":", 0), 0u);
    // A change is sent as a new event.
    const auto LSource = FApp->Store().AddSource("tcp", "t", "connected");
    FApp->Store().Add(LSource, *Entry("x"));
    FApp->Store().Notify();
    EXPECT_EQ(LFirst.ReceiveLn(), "");
    EXPECT_EQ(LFirst.ReceiveLn(), "event: state");
    EXPECT_NE(LFirst.ReceiveLn().find("\"last\":1,"), std::string::npos);

    std::vector<std::unique_ptr<TSiTcpClient>> LMore;
    for (int LI = 0; LI < 15; ++LI) {
        LMore.push_back(std::make_unique<TSiTcpClient>("127.0.0.1", FPort));
        LMore.back()->Connect(5000);
        LMore.back()->Send(LRequest.data(), LRequest.size());
        EXPECT_EQ(LMore.back()->ReceiveLn(), "HTTP/1.1 200 OK");
    }
    EXPECT_EQ(Get(FPort, "/api/events").Status, 503);
}

// --- End to end
// -----------------------------------------------------------------------------------

std::string Field(const std::string& AJson, const std::string& AName) {
    const std::size_t LAt = AJson.find("\"" + AName + "\":");
    if (LAt == std::string::npos) return {};
    const std::size_t LStart = LAt + AName.size() + 3;
    return AJson.substr(LStart, AJson.find_first_of(",}", LStart) - LStart);
}

TEST_F(ViewServer, TheFeedersScriptOverTcpShowsInRowsAndEntries) {
    Start();
    feed::TFeedOptions LOptions;
    LOptions.Connections = "tcp(port=" + std::to_string(FApp->TcpPort()) + ")";
    LOptions.Script = true;
    bool LFailed = false;
    std::ostringstream LErr;
    const std::string LSummary = feed::RunFeed(LOptions, LErr, LFailed);
    ASSERT_FALSE(LFailed) << LErr.str();
    // Every packet of the script, and the log header, arrived.
    const auto LCount = [&](const std::string& AKind) {
        return std::stoull(Field(LSummary, AKind));
    };
    const std::uint64_t LSent =
        LCount("LogEntry") + LCount("Watch") + LCount("ProcessFlow") + LCount("ControlCommand");
    WaitForPackets(LSent + 1);

    const TResponse LRows = Get(FPort, "/api/rows?limit=1000");
    EXPECT_EQ(Field(LRows.Body, "total"), Field(LSummary, "rowsAfterLastClear"));
    // The first row left is the ClearAll, and the state says up to where it cleared.
    EXPECT_NE(LRows.Body.find("\"controlCommandType\":\"ClearAll\""), std::string::npos);
    const TResponse LState = Get(FPort, "/api/state");
    EXPECT_EQ(std::stoull(Field(LState.Body, "cleared")) + 1,
              std::stoull(Field(LState.Body, "first")));
    EXPECT_NE(LState.Body.find("\"appName\":\"view-feed\""), std::string::npos);

    // Hostile titles come back as JSON strings, whole.
    const TResponse LImage = Get(FPort, "/api/rows?q=onerror&session=Hostile&kinds=entry");
    EXPECT_EQ(Field(LImage.Body, "total"), "1");
    EXPECT_NE(LImage.Body.find(Json(feed::kHostileImage)), std::string::npos);
    const TResponse LHuge = Get(FPort, "/api/rows?q=huge+title&kinds=entry");
    EXPECT_EQ(Field(LHuge.Body, "titleLength"), std::to_string(feed::kHugeTitleSize));
    EXPECT_NE(LHuge.Body.find(std::string(980, 'x') + "\xE2\x80\xA6\""), std::string::npos);
    const TResponse LHugeEntry = Get(FPort, "/api/entry?seq=" + Field(LHuge.Body, "seq"));
    EXPECT_NE(LHugeEntry.Body.find(std::string(feed::kHugeTitleSize - 11, 'x') + "\""),
              std::string::npos);

    // The bytes of a binary entry, in base64, and the images with their viewers.
    const TResponse LBinary = Get(FPort, "/api/rows?types=Binary&kinds=entry");
    const TResponse LBytes = Get(FPort, "/api/entry?seq=" + Field(LBinary.Body, "seq"));
    EXPECT_NE(LBytes.Body.find("\"data\":\"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIj"),
              std::string::npos);
    EXPECT_EQ(Field(LBytes.Body, "dataSize"), "256");
    const TResponse LJpeg = Get(FPort, "/api/rows?types=Graphic&q=JPEG&kinds=entry");
    EXPECT_NE(LJpeg.Body.find("\"viewerId\":\"Jpeg\""), std::string::npos);
    EXPECT_NE(Get(FPort, "/api/entry?seq=" + Field(LJpeg.Body, "seq")).Body.find("\"data\":\"/9j/"),
              std::string::npos);
    EXPECT_NE(Get(FPort, "/api/rows?session=Images&q=bitmap").Body.find("\"color\":\"#fff0c0\""),
              std::string::npos);

    // Every entry type and viewer of the script is there (the clears came first).
    const TResponse LFacets = Get(FPort, "/api/facets");
    for (const char* LType :
         {"Separator",        "EnterMethod", "LeaveMethod",   "ResetCallstack",  "Message",
          "Warning",          "Error",       "InternalError", "Comment",         "VariableValue",
          "Checkpoint",       "Debug",       "Verbose",       "Fatal",           "Conditional",
          "Assert",           "Text",        "Binary",        "Graphic",         "Source",
          "Object",           "WebContent",  "System",        "MemoryStatistic", "DatabaseResult",
          "DatabaseStructure"}) {
        EXPECT_NE(LFacets.Body.find(std::string("\"") + LType + "\":"), std::string::npos) << LType;
    }

    // Watches with their history, and the flow with the scope left open.
    const TResponse LWatches = Get(FPort, "/api/watches");
    EXPECT_NE(
        LWatches.Body.find("\"name\":\"counter\",\"value\":\"100\",\"watchType\":\"Integer\""),
        std::string::npos)
        << LWatches.Body;
    EXPECT_EQ(LWatches.Body.find("before.clear"), std::string::npos);
    EXPECT_NE(Get(FPort, "/api/watch?name=temperature").Body.find("\"number\":37.5}]"),
              std::string::npos);
    const TResponse LFlow = Get(FPort, "/api/flow");
    EXPECT_NE(LFlow.Body.find("{\"title\":\"Main.Idle\",\"enter\":"), std::string::npos);
    EXPECT_NE(LFlow.Body.find("\"leave\":null,\"open\":true,\"scopes\":[]}"), std::string::npos);
    EXPECT_NE(LFlow.Body.find("\"title\":\"Worker\",\"open\":false"), std::string::npos);
    EXPECT_EQ(LFlow.Body.find("Before.Clear"), std::string::npos);
}

// With a printer (silog view --print) every packet a client sends is also printed as silog
// listen prints it, besides being kept.
TEST_F(ViewServer, PrintsWhatClientsSendWhenAsked) {
    std::ostringstream LPrinted;
    TPacketPrinter LPrinter(LPrinted, TOutputFormat::Text, "%title%");
    TViewOptions LOptions;
    LOptions.Printer = &LPrinter;
    Start(LOptions);
    feed::TFeedOptions LFeedOptions;
    LFeedOptions.Connections = "tcp(port=" + std::to_string(FApp->TcpPort()) + ")";
    LFeedOptions.Count = 3;
    bool LFailed = false;
    std::ostringstream LErr;
    feed::RunFeed(LFeedOptions, LErr, LFailed);
    ASSERT_FALSE(LFailed) << LErr.str();
    WaitForPackets(4);  // the log header and the three messages
    const std::string LText = LPrinted.str();
    EXPECT_EQ(LText.substr(0, 7), "header ") << LText;
    for (const char* LTitle : {"\nmessage 0\n", "\nmessage 1\n", "\nmessage 2\n"}) {
        EXPECT_NE(LText.find(LTitle), std::string::npos) << LText;
    }
    EXPECT_EQ(Field(Get(FPort, "/api/state").Body, "kept"), "3");
}

TEST_F(ViewServer, AFileReadsInAndExportsAsDumpPrintsIt) {
    deruz::logging::testing::TTempDir LDir;
    const std::string LPath = (LDir.Path() / "script.sil").string();
    feed::TFeedOptions LFeedOptions;
    LFeedOptions.Connections = "file(filename=\"" + LPath + "\")";
    LFeedOptions.Script = true;
    bool LFailed = false;
    std::ostringstream LErr;
    const std::string LSummary = feed::RunFeed(LFeedOptions, LErr, LFailed);
    ASSERT_FALSE(LFailed) << LErr.str();

    TViewOptions LOptions;
    LOptions.Files = {LPath, (LDir.Path() / "missing.sil").string()};
    Start(LOptions);
    for (int LI = 0; LI < 500 && !FApp->FilesRead(); ++LI) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(FApp->FilesRead());
    const TResponse LState = Get(FPort, "/api/state");
    EXPECT_NE(LState.Body.find("\"kind\":\"file\",\"name\":" + Json(LPath)), std::string::npos);
    EXPECT_NE(LState.Body.find("\"state\":\"done\""), std::string::npos);
    EXPECT_NE(LState.Body.find("\"state\":\"error\""), std::string::npos) << LState.Body;

    // The export of what is kept is dump's JSON of the same packets.
    const TResponse LExported = Get(FPort, "/api/export?format=jsonl");
    EXPECT_NE(LExported.Head.find("Content-Disposition: attachment"), std::string::npos);
    const auto LDump = testing::Silog({"dump", "--format", "json", LPath});
    std::vector<std::string> LExpected;
    std::istringstream LLines(LDump.Out);
    for (std::string LLine; std::getline(LLines, LLine);) {
        if (LLine.find("\"packet\":\"LogEntry\"") != std::string::npos ||
            LLine.find("\"packet\":\"ControlCommand\"") != std::string::npos) {
            LExpected.push_back(LLine);
        }
    }
    const std::size_t LKept = std::stoull(Field(LSummary, "rowsAfterLastClear"));
    ASSERT_GE(LExpected.size(), LKept);
    LExpected.erase(LExpected.begin(), LExpected.end() - static_cast<std::ptrdiff_t>(LKept));
    std::vector<std::string> LActual;
    std::istringstream LGot(LExported.Body);
    for (std::string LLine; std::getline(LGot, LLine);) LActual.push_back(LLine);
    EXPECT_EQ(LActual, LExpected);
}

TEST_F(ViewServer, FollowsAFileAsItGrows) {
    deruz::logging::testing::TTempDir LDir;
    const std::string LPath = (LDir.Path() / "growing.sil").string();
    const auto LFeed = [&](std::uint64_t ACount) {
        feed::TFeedOptions LOptions;
        LOptions.Connections = "file(filename=\"" + LPath + "\", append=true)";
        LOptions.Count = ACount;
        bool LFailed = false;
        std::ostringstream LErr;
        feed::RunFeed(LOptions, LErr, LFailed);
        ASSERT_FALSE(LFailed) << LErr.str();
    };
    LFeed(10);
    TViewOptions LOptions;
    LOptions.Files = {LPath};
    LOptions.Follow = true;
    Start(LOptions);
    for (int LI = 0; LI < 500 && !FApp->FilesRead(); ++LI) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(FApp->Store().State().Kept, 10u);
    EXPECT_NE(Get(FPort, "/api/state").Body.find("\"state\":\"following\""), std::string::npos);
    LFeed(5);
    for (int LI = 0; LI < 500 && FApp->Store().State().Kept < 15; ++LI) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(FApp->Store().State().Kept, 15u);
    EXPECT_NE(Get(FPort, "/api/rows?offset=14").Body.find("\"title\":\"message 4\""),
              std::string::npos);
}

TEST_F(ViewServer, ReadersWhileRowsArriveAndDrop) {
    TViewOptions LOptions;
    LOptions.Keep = 1000;
    Start(LOptions);
    // Under Wine a TCP round trip takes milliseconds: the count is kept small.
    constexpr std::uint64_t LKCount = 5000;
    std::atomic<bool> LDone{false};
    std::thread LWriter([&] {
        feed::TFeedOptions LFeedOptions;
        LFeedOptions.Connections = "tcp(port=" + std::to_string(FApp->TcpPort()) + ")";
        LFeedOptions.Count = LKCount;
        bool LFailed = false;
        std::ostringstream LErr;
        feed::RunFeed(LFeedOptions, LErr, LFailed);
        EXPECT_FALSE(LFailed) << LErr.str();
    });
    // Readers page through a cached filter, facets, histogram and export meanwhile.
    std::vector<std::thread> LReaders;
    for (int LR = 0; LR < 2; ++LR) {
        LReaders.emplace_back([&, LR] {
            while (!LDone.load()) {
                const std::string LTarget =
                    LR == 0 ? "/api/rows?q=99&offset=5&limit=50" : "/api/histogram?q=7";
                EXPECT_EQ(Get(FPort, LTarget).Status, 200);
                EXPECT_EQ(Get(FPort, LR == 0 ? "/api/facets" : "/api/export?q=99").Status, 200);
            }
        });
    }
    LWriter.join();
    WaitForPackets(LKCount + 1);
    LDone = true;
    for (auto& LReader : LReaders) LReader.join();

    const TViewState LState = FApp->Store().State();
    EXPECT_EQ(LState.Kept, 1000u);
    EXPECT_EQ(LState.Dropped, LKCount - 1000);
    EXPECT_EQ(LState.First, LKCount - 999);
    // The list that was kept up to date while rows came and went holds what a scan of the
    // rows kept finds now.
    std::uint64_t LExpected = 0;
    for (std::uint64_t LI = LKCount - 1000; LI < LKCount; ++LI) {
        LExpected += std::to_string(LI).find("99") != std::string::npos;
    }
    const TResponse LRows = Get(FPort, "/api/rows?q=99&limit=1000");
    EXPECT_EQ(Field(LRows.Body, "total"), std::to_string(LExpected));
    EXPECT_EQ(Seqs(Get(FPort, "/api/rows?limit=3&offset=997").Body),
              (std::vector<std::uint64_t>{LKCount - 2, LKCount - 1, LKCount}));
    EXPECT_NE(Get(FPort, "/api/entry?seq=" + std::to_string(LKCount))
                  .Body.find("\"title\":\"message " + std::to_string(LKCount - 1) + "\""),
              std::string::npos);
}

}  // namespace
}  // namespace deruz::silog::view
