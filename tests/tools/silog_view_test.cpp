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
    std::string out;
    AppendJsonString(out, AText);
    return out;
}

TEST(ViewJson, HostileTextStaysAString) {
    const struct {
        std::string In, Out;
    } cases[] = {
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
    for (const auto& c : cases) EXPECT_EQ(Json(c.In), c.Out) << c.In;

    bool cut = false;
    const std::string umlauts(3000, 'x');
    EXPECT_EQ(TitleExcerpt(umlauts, 1000, cut).size(), 1000u);
    EXPECT_TRUE(cut);
    std::string wide;
    for (int i = 0; i < 1200; ++i) wide += "\xc3\xa4";  // ä
    EXPECT_EQ(TitleExcerpt(wide, 1000, cut).size(), 2000u);
    EXPECT_TRUE(cut);
    EXPECT_EQ(TitleExcerpt("short", 1000, cut), "short");
    EXPECT_FALSE(cut);
}

TEST(ViewJson, CsvBase64PercentAndNumbers) {
    const struct {
        std::string In, Out;
    } csv[] = {
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
    for (const auto& c : csv) {
        std::string out;
        AppendCsvCell(out, c.In);
        EXPECT_EQ(out, c.Out) << c.In;
    }
    const struct {
        std::string In, Out;
    } base64[] = {{"", ""},
                  {"f", "Zg=="},
                  {"fo", "Zm8="},
                  {"foo", "Zm9v"},
                  {std::string("\xff\xfe\x00", 3), "//4A"}};
    for (const auto& c : base64) {
        std::string out;
        AppendBase64(out, c.In);
        EXPECT_EQ(out, c.Out);
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
    THttpRequest request;
    std::string error;
    ASSERT_TRUE(ParseRequestHead(
        "GET /static/a%20b+c.js?q=x%2Cy&types=Message,Error&flag HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "X-Thing:   spaced  \r\n\r\n",
        request, error))
        << error;
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Path, "/static/a b+c.js");
    ASSERT_EQ(request.Query.size(), 3u);
    EXPECT_EQ(request.Query[0].second, "x%2Cy");  // values stay encoded
    EXPECT_EQ(request.Param("q"), "x,y");
    EXPECT_EQ(request.Param("flag"), "");
    EXPECT_EQ(request.Header("x-thing"), "spaced");

    const struct {
        std::string Head, Error;
    } bad[] = {
        {"GET /\r\n\r\n", "malformed request line"},
        {"GET / HTTP/1.1 extra\r\n\r\n", "malformed request line"},
        {"GET / HTTP/2.0\r\n\r\n", "unsupported HTTP version"},
        {"GET http://x/ HTTP/1.1\r\n\r\n", "malformed request target"},
        {"G(T / HTTP/1.1\r\n\r\n", "malformed method"},
        {"GET /%00 HTTP/1.1\r\n\r\n", "malformed request target"},
        {"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", "malformed header line"},
        {"GET / HTTP/1.1\r\n folded: x\r\n\r\n", "malformed header line"},
    };
    for (const auto& c : bad) {
        THttpRequest r;
        std::string e;
        EXPECT_FALSE(ParseRequestHead(c.Head, r, e)) << c.Head;
        EXPECT_EQ(e, c.Error) << c.Head;
    }
}

// --- The store ------------------------------------------------------------------------------

TSiRef<TSiLogEntry> Entry(std::string ATitle, TSiLogEntryType AType = ltMessage,
                          std::string ASession = "Main", std::uint32_t AThread = 1,
                          double ATime = 46367.5) {
    auto e = SiMakeRef<TSiLogEntry>(AType, viTitle);
    e->Title = std::move(ATitle);
    e->SessionName = std::move(ASession);
    e->AppName = "app.exe";
    e->HostName = "PC1";
    e->ProcessId = 100;
    e->ThreadId = AThread;
    e->Timestamp = ATime;
    return e;
}

TSiRef<TSiControlCommand> Command(TSiControlCommandType AType) {
    return SiMakeRef<TSiControlCommand>(AType);
}

TQueryParams Params(std::initializer_list<std::pair<std::string, std::string>> AList) {
    return TQueryParams(AList);
}

std::string PercentEncoded(std::string_view AText) {
    std::string out;
    for (const char c : AText) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
        out += escape;
    }
    return out;
}

TViewFilter Filter(const TQueryParams& AParams) {
    std::string error;
    const auto filter = ParseFilter(AParams, error);
    EXPECT_TRUE(filter) << error;
    return filter.value_or(TViewFilter{});
}

// The seqs of a page of rows, read from its JSON.
std::vector<std::uint64_t> Seqs(const std::string& ARowsJson) {
    std::vector<std::uint64_t> seqs;
    for (std::size_t at = ARowsJson.find("{\"seq\":"); at != std::string::npos;
         at = ARowsJson.find("{\"seq\":", at + 1)) {
        seqs.push_back(std::stoull(ARowsJson.substr(at + 7)));
    }
    return seqs;
}

std::vector<std::uint64_t> Range(std::uint64_t AFrom, std::uint64_t ATo) {
    std::vector<std::uint64_t> v;
    for (auto s = AFrom; s <= ATo; ++s) v.push_back(s);
    return v;
}

TEST(ViewStore, RingDropsTheOldestAndCountsThem) {
    TViewStore store({5, 1 << 20});
    const auto source = store.AddSource("tcp", "t", "connected");
    for (int i = 1; i <= 8; ++i) {
        store.Add(source, *Entry("m" + std::to_string(i), ltMessage, i <= 3 ? "Early" : "Late"));
    }
    TViewState state = store.State();
    EXPECT_EQ(state.First, 4u);
    EXPECT_EQ(state.Last, 8u);
    EXPECT_EQ(state.Kept, 5u);
    EXPECT_EQ(state.Dropped, 3u);
    EXPECT_EQ(state.Received, 8u);
    EXPECT_EQ(Seqs(store.Rows(TViewFilter{}, std::nullopt, 0, 100).RowsJson), Range(4, 8));
    EXPECT_FALSE(store.EntryJson(3));
    ASSERT_TRUE(store.EntryJson(4));
    EXPECT_NE(store.EntryJson(4)->find("\"title\":\"m4\""), std::string::npos);
    // The dropped rows no longer count in the facets, and their name is free again.
    const std::string facets = store.FacetsJson();
    EXPECT_EQ(facets.find("Early"), std::string::npos) << facets;
    EXPECT_NE(facets.find("\"Late\":5"), std::string::npos) << facets;
    EXPECT_NE(facets.find("\"Message\":5"), std::string::npos) << facets;

    // The byte budget drops as well: three 400-byte titles in 1000 bytes keep two.
    TViewStore small({100, 1000});
    const auto s2 = small.AddSource("tcp", "t", "connected");
    for (int i = 0; i < 3; ++i) small.Add(s2, *Entry(std::string(400, 'a' + i)));
    state = small.State();
    EXPECT_EQ(state.Kept, 2u);
    EXPECT_EQ(state.Dropped, 1u);
    EXPECT_EQ(state.KeptBytes, 800u);
}

TEST(ViewStore, FiltersAndPaging) {
    TViewStore store;
    const auto a = store.AddSource("tcp", "a", "connected");
    const auto b = store.AddSource("tcp", "b", "connected");
    // seq: 1 Message Main t1 "Alpha start", 2 Warning Main t2 "beta ÄRGER", 3 Error Other t1
    // "gamma, alpha", 4 ClearAutoViews (at the time of 3), 5 Debug Other t2 "Übel" (source b,
    // 14.4 minutes after 3), 6 Message Main t1 "x=1, y=2" hours later.
    store.Add(a, *Entry("Alpha start", ltMessage, "Main", 1, 46367.50));
    store.Add(a, *Entry("beta \xc3\x84RGER", ltWarning, "Main", 2, 46367.51));
    store.Add(a, *Entry("gamma, alpha", ltError, "Other, Inc", 1, 46367.52));
    store.Add(a, *Command(ccClearAutoViews));
    store.Add(b, *Entry("\xc3\x9c"
                        "bel",
                        ltDebug, "Other, Inc", 2, 46367.53));
    store.Add(a, *Entry("x=1, y=2", ltMessage, "Main", 1, 46368.0));
    const double t3 = std::stod(store.EntryJson(3)->substr(store.EntryJson(3)->find("\"t\":") + 4));
    const struct {
        TQueryParams Params;
        std::vector<std::uint64_t> Seqs;
    } cases[] = {
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
        {Params({{"from", std::to_string(t3)}}), {3, 4, 5, 6}},
        {Params({{"from", std::to_string(t3)}, {"to", std::to_string(t3 + 1728000)}}), {3, 4, 5}},
        {Params({{"to", std::to_string(t3 - 1)}}), {1, 2}},
        {Params({{"from", std::to_string(t3)}, {"kinds", "entry"}}), {3, 5, 6}},
    };
    for (const auto& c : cases) {
        const auto rows = store.Rows(Filter(c.Params), std::nullopt, 0, 100);
        EXPECT_EQ(Seqs(rows.RowsJson), c.Seqs) << TViewFilter(Filter(c.Params)).Key();
        EXPECT_EQ(rows.Total, c.Seqs.size());
    }

    const struct {
        TQueryParams Params;
        std::string Error;
    } bad[] = {
        {Params({{"types", "Message,Nonsense"}}), "unknown entry type 'Nonsense'"},
        {Params({{"pid", "12,x"}}), "pid takes a comma list of numbers"},
        {Params({{"tid", "-1"}}), "tid takes a comma list of numbers"},
        {Params({{"kinds", "rows"}}), "unknown kind 'rows'"},
        {Params({{"from", "yesterday"}}), "from takes a time in milliseconds"},
        {Params({{"re", "2"}}), "re takes 0 or 1"},
        {Params({{"q", "(unclosed"}, {"re", "1"}}), "bad regular expression: "},
        {Params({{"q", std::string(1001, 'a')}, {"re", "1"}}), "bad regular expression: "},
    };
    for (const auto& c : bad) {
        std::string error;
        EXPECT_FALSE(ParseFilter(c.Params, error));
        EXPECT_EQ(error.substr(0, c.Error.size()), c.Error);
    }

    // Paging through one filter, from an offset and from a seq (also moved back).
    const TViewFilter entries = Filter(Params({{"kinds", "entry"}}));
    auto page = store.Rows(entries, std::nullopt, 2, 2);
    EXPECT_EQ(Seqs(page.RowsJson), (std::vector<std::uint64_t>{3, 5}));
    page = store.Rows(entries, 4, 0, 2);
    EXPECT_EQ(page.Offset, 3u);
    EXPECT_EQ(Seqs(page.RowsJson), (std::vector<std::uint64_t>{5, 6}));
    page = store.Rows(entries, 5, -2, 2);
    EXPECT_EQ(page.Offset, 1u);
    EXPECT_EQ(Seqs(page.RowsJson), (std::vector<std::uint64_t>{2, 3}));
    page = store.Rows(TViewFilter{}, 3, 0, 2);
    EXPECT_EQ(page.Offset, 2u);
    EXPECT_EQ(Seqs(page.RowsJson), (std::vector<std::uint64_t>{3, 4}));
    EXPECT_EQ(store.Rows(entries, std::nullopt, 10, 2).RowsJson, "");
}

TEST(ViewStore, RegularExpressionsFindWhatTheEngineFinds) {
    // Titles that the engine is asked about only when they hold a literal that every match
    // must contain: the shortcut may never lose a match.
    const std::vector<std::string> titles = {
        "abb",  "ab2",       "color",       "colour",  "xz",          "yz",   "AbC-42",
        "a.b",  "aXb",       "tab\there",   "(paren)", "back\\slash", "A{2}", "price $5",
        "end.", "timeout 3", "ERROR: disk", "error x", "\\x41B",      "aab",  "",
    };
    const std::vector<std::string> patterns = {
        "ab{2}",    "ab{1,2}c*", "colou?r",      "(x|y)z",      "x|yz",        "abc",
        "[0-9]+",   "a\\.b",     "a.b",          "\\x41b",      "\\(paren\\)", "back\\\\slash",
        "A\\{2\\}", "\\$5",      "end\\.$",      "error.*disk", "(?:err)or x", "a+b",
        "^a*b",     "\\d\\d",    "t[aeiou]b\\t", "(a)\\1b",     "zz*",         "",
    };
    TViewStore store;
    const auto source = store.AddSource("tcp", "t", "connected");
    for (const auto& title : titles) store.Add(source, *Entry(title));
    for (const bool caseSensitive : {false, true}) {
        for (const auto& pattern : patterns) {
            auto flags = std::regex::ECMAScript;
            if (!caseSensitive) flags |= std::regex::icase;
            const std::regex engine(pattern, flags);
            std::vector<std::uint64_t> expected;
            for (std::size_t i = 0; i < titles.size(); ++i) {
                if (std::regex_search(titles[i], engine)) expected.push_back(i + 1);
            }
            const TViewFilter filter = Filter(Params({{"q", PercentEncoded(pattern)},
                                                      {"re", "1"},
                                                      {"case", caseSensitive ? "1" : "0"}}));
            EXPECT_EQ(Seqs(store.Rows(filter, std::nullopt, 0, 100).RowsJson), expected)
                << pattern << (caseSensitive ? " (case)" : "");
        }
    }
}

TEST(ViewStore, CachedMatchListsFollowNewAndDroppedRows) {
    TViewStore store({10, 1 << 20});
    const auto source = store.AddSource("tcp", "t", "connected");
    const TViewFilter odd = Filter(Params({{"q", "odd"}}));
    for (int i = 1; i <= 6; ++i) store.Add(source, *Entry(i % 2 ? "odd" : "even"));
    EXPECT_EQ(Seqs(store.Rows(odd, std::nullopt, 0, 100).RowsJson),
              (std::vector<std::uint64_t>{1, 3, 5}));
    // Rows that arrive later are added to the list, rows dropped are left out of it.
    for (int i = 7; i <= 14; ++i) store.Add(source, *Entry(i % 2 ? "odd" : "even"));
    const auto rows = store.Rows(odd, std::nullopt, 0, 100);
    EXPECT_EQ(Seqs(rows.RowsJson), (std::vector<std::uint64_t>{5, 7, 9, 11, 13}));
    EXPECT_EQ(rows.Total, 5u);
    EXPECT_EQ(rows.Last, 14u);
    // A filter on a session whose rows all went is empty even when its name is taken again.
    TViewStore names({2, 1 << 20});
    const auto s = names.AddSource("tcp", "t", "connected");
    names.Add(s, *Entry("a", ltMessage, "Gone"));
    const TViewFilter gone = Filter(Params({{"session", "Gone"}}));
    EXPECT_EQ(names.Rows(gone, std::nullopt, 0, 10).Total, 1u);
    names.Add(s, *Entry("b", ltMessage, "Other"));
    names.Add(s, *Entry("c", ltMessage, "Other"));
    EXPECT_EQ(names.Rows(gone, std::nullopt, 0, 10).Total, 0u);
    names.Add(s, *Entry("d", ltMessage, "Gone"));
    EXPECT_EQ(Seqs(names.Rows(gone, std::nullopt, 0, 10).RowsJson),
              (std::vector<std::uint64_t>{4}));
}

TEST(ViewStore, ControlCommandsClearAsAViewerDoes) {
    TViewStore store;
    const auto source = store.AddSource("pipe", "p", "connected");
    auto watch = SiMakeRef<TSiWatch>(wtInteger);
    watch->Name = "w";
    watch->Value = "1";
    watch->Timestamp = 46367.5;
    auto flow = SiMakeRef<TSiProcessFlow>(pfEnterMethod);
    flow->Title = "M";
    flow->HostName = "PC1";
    flow->Timestamp = 46367.5;
    const auto fill = [&] {
        store.Add(source, *Entry("e"));
        store.Add(source, *watch);
        store.Add(source, *flow);
    };
    struct TCase {
        TSiControlCommandType Command;
        bool Log, Watches, Flow;
    };
    const TCase cases[] = {
        {ccClearLog, true, false, false},         {ccClearWatches, false, true, false},
        {ccClearProcessFlow, false, false, true}, {ccClearAutoViews, false, false, false},
        {ccClearAll, true, true, true},
    };
    for (const auto& c : cases) {
        fill();
        const TViewState before = store.State();
        store.Add(source, *Command(c.Command));
        const TViewState after = store.State();
        const std::string name(SiControlCommandTypeString(c.Command));
        // The command is kept as a row in every case.
        ASSERT_EQ(after.Last, before.Last + 1) << name;
        EXPECT_NE(store.EntryJson(after.Last)->find("\"controlCommandType\":\"" + name + "\""),
                  std::string::npos);
        EXPECT_EQ(after.First == after.Last, c.Log) << name;
        EXPECT_EQ(after.Cleared, c.Log ? before.Last : before.Cleared) << name;
        EXPECT_EQ(after.Dropped, 0u) << name;
        EXPECT_EQ(store.WatchesJson().find("\"name\":\"w\"") == std::string::npos, c.Watches)
            << name;
        EXPECT_EQ(store.FlowJson().find("\"title\":\"M\"") == std::string::npos, c.Flow) << name;
    }
}

TEST(ViewStore, WatchHistoryAndFlowAreBounded) {
    TViewStore store;
    const auto source = store.AddSource("pipe", "p", "connected");
    for (std::size_t i = 1; i <= TViewStore::kWatchHistory + 5; ++i) {
        auto w = SiMakeRef<TSiWatch>(wtInteger);
        w->Name = "n";
        w->Value = std::to_string(i);
        w->Timestamp = 46367.5;
        store.Add(source, *w);
    }
    const std::string watches = store.WatchesJson();
    EXPECT_NE(watches.find("\"count\":10000,\"numeric\":true,\"number\":10005"), std::string::npos)
        << watches.substr(0, 300);
    const auto history = store.WatchJson("n", 2);
    ASSERT_TRUE(history);
    EXPECT_NE(history->find("\"value\":\"10004\""), std::string::npos);
    EXPECT_EQ(history->find("\"value\":\"10003\""), std::string::npos);
    EXPECT_NE(store.WatchJson("n", 10000)->find("\"value\":\"6\""), std::string::npos);
    EXPECT_EQ(store.WatchJson("n", 10000)->find("\"value\":\"5\""), std::string::npos);
    EXPECT_FALSE(store.WatchJson("missing", 10));

    const auto flow = [&](TSiProcessFlowType AType, const std::string& ATitle) {
        auto f = SiMakeRef<TSiProcessFlow>(AType);
        f->Title = ATitle;
        f->HostName = "PC1";
        f->ProcessId = 1;
        f->ThreadId = 2;
        f->Timestamp = 46367.5;
        store.Add(source, *f);
    };
    for (std::size_t i = 0; i < TViewStore::kClosedScopes + 10; ++i) {
        flow(pfEnterMethod, "call " + std::to_string(i));
        flow(pfLeaveMethod, "call " + std::to_string(i));
    }
    flow(pfEnterMethod, "outer");
    flow(pfEnterMethod, "inner");
    flow(pfLeaveMethod, "inner");
    flow(pfLeaveMethod, "unmatched leave of outer");
    flow(pfLeaveMethod, "a leave without enter");  // changes nothing
    flow(pfEnterMethod, "open");
    const std::string tree = store.FlowJson();
    EXPECT_EQ(tree.find("\"title\":\"call 10\""), std::string::npos);  // 11 forgotten in all
    EXPECT_NE(tree.find("\"title\":\"call 11\""), std::string::npos);
    EXPECT_NE(tree.find("\"title\":\"outer\",\"enter\":"), std::string::npos);
    EXPECT_NE(tree.find("\"title\":\"open\",\"enter\":"), std::string::npos);
    EXPECT_NE(tree.find("\"leave\":null,\"open\":true,\"scopes\":[]}]"), std::string::npos);
    EXPECT_NE(tree.find("\"threadId\":2,\"title\":\"\",\"open\":true,\"enter\":null"),
              std::string::npos)
        << tree.substr(0, 300);
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
    TResponse r;
    std::optional<std::size_t> length;
    for (;;) {
        const std::string line = AClient.ReceiveLn();
        if (line.empty()) break;
        r.Head += line + "\n";
        if (r.Status == 0 && line.size() > 12) r.Status = std::stoi(line.substr(9, 3));
        if (line.rfind("Content-Length: ", 0) == 0) length = std::stoull(line.substr(16));
    }
    const bool head = ARequest.rfind("HEAD ", 0) == 0;
    if (length && !head && r.Status != 304) {
        r.Body.resize(*length);
        r.Body.resize(AClient.Receive(r.Body.data(), *length));
    } else if (!length && !head) {
        char buffer[65536];
        for (std::size_t n; (n = AClient.Receive(buffer, sizeof buffer)) > 0;) {
            r.Body.append(buffer, n);
            if (n < sizeof buffer) break;
        }
    }
    return r;
}

TResponse Get(std::uint16_t APort, const std::string& ATarget, const std::string& AHeaders = {}) {
    TSiTcpClient client("127.0.0.1", APort);
    client.Connect(5000);
    const std::string host =
        AHeaders.find("Host:") == std::string::npos ? "Host: 127.0.0.1\r\n" : "";
    return Exchange(
        client, "GET " + ATarget + " HTTP/1.1\r\n" + host + AHeaders + "Connection: close\r\n\r\n");
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
        for (int i = 0; i < 500 && FApp->Store().State().Received < ACount; ++i) {
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
    const auto source = FApp->Store().AddSource("tcp", "t", "connected");
    FApp->Store().Add(source, *Entry("first <b>"));
    FApp->Store().Add(source, *Entry("second", ltWarning));
    struct TCase {
        std::string Target;
        int Status;
        std::string Contains;
    };
    const TCase cases[] = {
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
    for (const auto& c : cases) {
        const TResponse r = Get(FPort, c.Target);
        EXPECT_EQ(r.Status, c.Status) << c.Target << "\n" << r.Body;
        EXPECT_NE(r.Body.find(c.Contains), std::string::npos) << c.Target << "\n" << r.Body;
        // Every response carries the policy.
        EXPECT_NE(r.Head.find("Content-Security-Policy: default-src 'none'; script-src 'self';"),
                  std::string::npos)
            << c.Target;
        EXPECT_NE(r.Head.find("X-Content-Type-Options: nosniff"), std::string::npos);
    }

    // Keep-alive, HEAD, pipelined requests on one connection.
    TSiTcpClient client("127.0.0.1", FPort);
    client.Connect(5000);
    TResponse r = Exchange(client, "GET /api/state HTTP/1.1\r\nHost: localhost:1\r\n\r\n");
    EXPECT_EQ(r.Status, 200);
    r = Exchange(client, "HEAD /api/rows HTTP/1.1\r\n\r\nGET /api/entry?seq=2 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body, "");
    r = Exchange(client, "");
    EXPECT_NE(r.Body.find("\"title\":\"second\""), std::string::npos) << r.Body;
    client.Disconnect();

    const struct {
        std::string Request;
        int Status;
    } raw[] = {
        {"POST /api/state HTTP/1.1\r\nContent-Length: 2\r\n\r\nab", 405},
        {"GET / HTTP/1.1\r\nX-Big: " + std::string(17000, 'a') + "\r\n\r\n", 413},
        {"GET /api/state HTTP/1.1\r\nHost: evil.example:4229\r\n\r\n", 403},
        {"BROKEN\r\n\r\n", 400},
    };
    for (const auto& c : raw) {
        TSiTcpClient bad("127.0.0.1", FPort);
        bad.Connect(5000);
        EXPECT_EQ(Exchange(bad, c.Request).Status, c.Status) << c.Request.substr(0, 40);
    }
}

TEST_F(ViewServer, TokenIsNeededForThePageAndTheApi) {
    TViewOptions options;
    options.Token = "s3cret-token";
    Start(options);
    const struct {
        std::string Target, Headers;
        int Status;
    } cases[] = {
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
    for (const auto& c : cases) {
        EXPECT_EQ(Get(FPort, c.Target, c.Headers).Status, c.Status) << c.Target << " " << c.Headers;
    }
    // The page's files carry no log data and are served without the token.
    for (const auto& file : StaticFiles()) {
        const TResponse r = Get(FPort, "/static/" + std::string(file.Path));
        EXPECT_EQ(r.Status, 200) << file.Path;
        EXPECT_EQ(r.Body.size(), file.Body.size());
        EXPECT_NE(r.Head.find("Content-Type: " + std::string(file.ContentType)), std::string::npos);
        EXPECT_NE(r.Head.find("Cache-Control: no-cache"), std::string::npos);
    }
}

TEST_F(ViewServer, EventStreamsSendStateAndAreBounded) {
    Start();
    TSiTcpClient first("127.0.0.1", FPort);
    first.Connect(5000);
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    first.Send(request.data(), request.size());
    while (!first.ReceiveLn().empty()) {
    }
    EXPECT_EQ(first.ReceiveLn(), "event: state");
    EXPECT_EQ(first.ReceiveLn().rfind("data: {\"instance\":", 0), 0u);
    // A change is sent as a new event.
    const auto source = FApp->Store().AddSource("tcp", "t", "connected");
    FApp->Store().Add(source, *Entry("x"));
    FApp->Store().Notify();
    EXPECT_EQ(first.ReceiveLn(), "");
    EXPECT_EQ(first.ReceiveLn(), "event: state");
    EXPECT_NE(first.ReceiveLn().find("\"last\":1,"), std::string::npos);

    std::vector<std::unique_ptr<TSiTcpClient>> more;
    for (int i = 0; i < 15; ++i) {
        more.push_back(std::make_unique<TSiTcpClient>("127.0.0.1", FPort));
        more.back()->Connect(5000);
        more.back()->Send(request.data(), request.size());
        EXPECT_EQ(more.back()->ReceiveLn(), "HTTP/1.1 200 OK");
    }
    EXPECT_EQ(Get(FPort, "/api/events").Status, 503);
}

// --- End to end
// -----------------------------------------------------------------------------------

std::string Field(const std::string& AJson, const std::string& AName) {
    const std::size_t at = AJson.find("\"" + AName + "\":");
    if (at == std::string::npos) return {};
    const std::size_t start = at + AName.size() + 3;
    return AJson.substr(start, AJson.find_first_of(",}", start) - start);
}

TEST_F(ViewServer, TheFeedersScriptOverTcpShowsInRowsAndEntries) {
    Start();
    feed::TFeedOptions options;
    options.Connections = "tcp(port=" + std::to_string(FApp->TcpPort()) + ")";
    options.Script = true;
    bool failed = false;
    std::ostringstream err;
    const std::string summary = feed::RunFeed(options, err, failed);
    ASSERT_FALSE(failed) << err.str();
    // Every packet of the script, and the log header, arrived.
    const auto count = [&](const std::string& AKind) { return std::stoull(Field(summary, AKind)); };
    const std::uint64_t sent =
        count("LogEntry") + count("Watch") + count("ProcessFlow") + count("ControlCommand");
    WaitForPackets(sent + 1);

    const TResponse rows = Get(FPort, "/api/rows?limit=1000");
    EXPECT_EQ(Field(rows.Body, "total"), Field(summary, "rowsAfterLastClear"));
    // The first row left is the ClearAll, and the state says up to where it cleared.
    EXPECT_NE(rows.Body.find("\"controlCommandType\":\"ClearAll\""), std::string::npos);
    const TResponse state = Get(FPort, "/api/state");
    EXPECT_EQ(std::stoull(Field(state.Body, "cleared")) + 1,
              std::stoull(Field(state.Body, "first")));
    EXPECT_NE(state.Body.find("\"appName\":\"view-feed\""), std::string::npos);

    // Hostile titles come back as JSON strings, whole.
    const TResponse image = Get(FPort, "/api/rows?q=onerror&session=Hostile&kinds=entry");
    EXPECT_EQ(Field(image.Body, "total"), "1");
    EXPECT_NE(image.Body.find(Json(feed::kHostileImage)), std::string::npos);
    const TResponse huge = Get(FPort, "/api/rows?q=huge+title&kinds=entry");
    EXPECT_EQ(Field(huge.Body, "titleLength"), std::to_string(feed::kHugeTitleSize));
    EXPECT_NE(huge.Body.find(std::string(980, 'x') + "\xE2\x80\xA6\""), std::string::npos);
    const TResponse hugeEntry = Get(FPort, "/api/entry?seq=" + Field(huge.Body, "seq"));
    EXPECT_NE(hugeEntry.Body.find(std::string(feed::kHugeTitleSize - 11, 'x') + "\""),
              std::string::npos);

    // The bytes of a binary entry, in base64, and the images with their viewers.
    const TResponse binary = Get(FPort, "/api/rows?types=Binary&kinds=entry");
    const TResponse bytes = Get(FPort, "/api/entry?seq=" + Field(binary.Body, "seq"));
    EXPECT_NE(bytes.Body.find("\"data\":\"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIj"),
              std::string::npos);
    EXPECT_EQ(Field(bytes.Body, "dataSize"), "256");
    const TResponse jpeg = Get(FPort, "/api/rows?types=Graphic&q=JPEG&kinds=entry");
    EXPECT_NE(jpeg.Body.find("\"viewerId\":\"Jpeg\""), std::string::npos);
    EXPECT_NE(Get(FPort, "/api/entry?seq=" + Field(jpeg.Body, "seq")).Body.find("\"data\":\"/9j/"),
              std::string::npos);
    EXPECT_NE(Get(FPort, "/api/rows?session=Images&q=bitmap").Body.find("\"color\":\"#fff0c0\""),
              std::string::npos);

    // Every entry type and viewer of the script is there (the clears came first).
    const TResponse facets = Get(FPort, "/api/facets");
    for (const char* type :
         {"Separator",        "EnterMethod", "LeaveMethod",   "ResetCallstack",  "Message",
          "Warning",          "Error",       "InternalError", "Comment",         "VariableValue",
          "Checkpoint",       "Debug",       "Verbose",       "Fatal",           "Conditional",
          "Assert",           "Text",        "Binary",        "Graphic",         "Source",
          "Object",           "WebContent",  "System",        "MemoryStatistic", "DatabaseResult",
          "DatabaseStructure"}) {
        EXPECT_NE(facets.Body.find(std::string("\"") + type + "\":"), std::string::npos) << type;
    }

    // Watches with their history, and the flow with the scope left open.
    const TResponse watches = Get(FPort, "/api/watches");
    EXPECT_NE(watches.Body.find("\"name\":\"counter\",\"value\":\"100\",\"watchType\":\"Integer\""),
              std::string::npos)
        << watches.Body;
    EXPECT_EQ(watches.Body.find("before.clear"), std::string::npos);
    EXPECT_NE(Get(FPort, "/api/watch?name=temperature").Body.find("\"number\":37.5}]"),
              std::string::npos);
    const TResponse flow = Get(FPort, "/api/flow");
    EXPECT_NE(flow.Body.find("{\"title\":\"Main.Idle\",\"enter\":"), std::string::npos);
    EXPECT_NE(flow.Body.find("\"leave\":null,\"open\":true,\"scopes\":[]}"), std::string::npos);
    EXPECT_NE(flow.Body.find("\"title\":\"Worker\",\"open\":false"), std::string::npos);
    EXPECT_EQ(flow.Body.find("Before.Clear"), std::string::npos);
}

// With a printer (silog view --print) every packet a client sends is also printed as silog
// listen prints it, besides being kept.
TEST_F(ViewServer, PrintsWhatClientsSendWhenAsked) {
    std::ostringstream printed;
    TPacketPrinter printer(printed, TOutputFormat::Text, "%title%");
    TViewOptions options;
    options.Printer = &printer;
    Start(options);
    feed::TFeedOptions feedOptions;
    feedOptions.Connections = "tcp(port=" + std::to_string(FApp->TcpPort()) + ")";
    feedOptions.Count = 3;
    bool failed = false;
    std::ostringstream err;
    feed::RunFeed(feedOptions, err, failed);
    ASSERT_FALSE(failed) << err.str();
    WaitForPackets(4);  // the log header and the three messages
    const std::string text = printed.str();
    EXPECT_EQ(text.substr(0, 7), "header ") << text;
    for (const char* title : {"\nmessage 0\n", "\nmessage 1\n", "\nmessage 2\n"}) {
        EXPECT_NE(text.find(title), std::string::npos) << text;
    }
    EXPECT_EQ(Field(Get(FPort, "/api/state").Body, "kept"), "3");
}

TEST_F(ViewServer, AFileReadsInAndExportsAsDumpPrintsIt) {
    deruz::logging::testing::TTempDir dir;
    const std::string path = (dir.Path() / "script.sil").string();
    feed::TFeedOptions feedOptions;
    feedOptions.Connections = "file(filename=\"" + path + "\")";
    feedOptions.Script = true;
    bool failed = false;
    std::ostringstream err;
    const std::string summary = feed::RunFeed(feedOptions, err, failed);
    ASSERT_FALSE(failed) << err.str();

    TViewOptions options;
    options.Files = {path, (dir.Path() / "missing.sil").string()};
    Start(options);
    for (int i = 0; i < 500 && !FApp->FilesRead(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(FApp->FilesRead());
    const TResponse state = Get(FPort, "/api/state");
    EXPECT_NE(state.Body.find("\"kind\":\"file\",\"name\":" + Json(path)), std::string::npos);
    EXPECT_NE(state.Body.find("\"state\":\"done\""), std::string::npos);
    EXPECT_NE(state.Body.find("\"state\":\"error\""), std::string::npos) << state.Body;

    // The export of what is kept is dump's JSON of the same packets.
    const TResponse exported = Get(FPort, "/api/export?format=jsonl");
    EXPECT_NE(exported.Head.find("Content-Disposition: attachment"), std::string::npos);
    const auto dump = testing::Silog({"dump", "--format", "json", path});
    std::vector<std::string> expected;
    std::istringstream lines(dump.Out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"packet\":\"LogEntry\"") != std::string::npos ||
            line.find("\"packet\":\"ControlCommand\"") != std::string::npos) {
            expected.push_back(line);
        }
    }
    const std::size_t kept = std::stoull(Field(summary, "rowsAfterLastClear"));
    ASSERT_GE(expected.size(), kept);
    expected.erase(expected.begin(), expected.end() - static_cast<std::ptrdiff_t>(kept));
    std::vector<std::string> actual;
    std::istringstream got(exported.Body);
    for (std::string line; std::getline(got, line);) actual.push_back(line);
    EXPECT_EQ(actual, expected);
}

TEST_F(ViewServer, FollowsAFileAsItGrows) {
    deruz::logging::testing::TTempDir dir;
    const std::string path = (dir.Path() / "growing.sil").string();
    const auto feed = [&](std::uint64_t ACount) {
        feed::TFeedOptions options;
        options.Connections = "file(filename=\"" + path + "\", append=true)";
        options.Count = ACount;
        bool failed = false;
        std::ostringstream err;
        feed::RunFeed(options, err, failed);
        ASSERT_FALSE(failed) << err.str();
    };
    feed(10);
    TViewOptions options;
    options.Files = {path};
    options.Follow = true;
    Start(options);
    for (int i = 0; i < 500 && !FApp->FilesRead(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(FApp->Store().State().Kept, 10u);
    EXPECT_NE(Get(FPort, "/api/state").Body.find("\"state\":\"following\""), std::string::npos);
    feed(5);
    for (int i = 0; i < 500 && FApp->Store().State().Kept < 15; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(FApp->Store().State().Kept, 15u);
    EXPECT_NE(Get(FPort, "/api/rows?offset=14").Body.find("\"title\":\"message 4\""),
              std::string::npos);
}

TEST_F(ViewServer, ReadersWhileRowsArriveAndDrop) {
    TViewOptions options;
    options.Keep = 1000;
    Start(options);
    // Under Wine a TCP round trip takes milliseconds: the count is kept small.
    constexpr std::uint64_t kCount = 5000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        feed::TFeedOptions feedOptions;
        feedOptions.Connections = "tcp(port=" + std::to_string(FApp->TcpPort()) + ")";
        feedOptions.Count = kCount;
        bool failed = false;
        std::ostringstream err;
        feed::RunFeed(feedOptions, err, failed);
        EXPECT_FALSE(failed) << err.str();
    });
    // Readers page through a cached filter, facets, histogram and export meanwhile.
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&, r] {
            while (!done.load()) {
                const std::string target =
                    r == 0 ? "/api/rows?q=99&offset=5&limit=50" : "/api/histogram?q=7";
                EXPECT_EQ(Get(FPort, target).Status, 200);
                EXPECT_EQ(Get(FPort, r == 0 ? "/api/facets" : "/api/export?q=99").Status, 200);
            }
        });
    }
    writer.join();
    WaitForPackets(kCount + 1);
    done = true;
    for (auto& reader : readers) reader.join();

    const TViewState state = FApp->Store().State();
    EXPECT_EQ(state.Kept, 1000u);
    EXPECT_EQ(state.Dropped, kCount - 1000);
    EXPECT_EQ(state.First, kCount - 999);
    // The list that was kept up to date while rows came and went holds what a scan of the
    // rows kept finds now.
    std::uint64_t expected = 0;
    for (std::uint64_t i = kCount - 1000; i < kCount; ++i) {
        expected += std::to_string(i).find("99") != std::string::npos;
    }
    const TResponse rows = Get(FPort, "/api/rows?q=99&limit=1000");
    EXPECT_EQ(Field(rows.Body, "total"), std::to_string(expected));
    EXPECT_EQ(Seqs(Get(FPort, "/api/rows?limit=3&offset=997").Body),
              (std::vector<std::uint64_t>{kCount - 2, kCount - 1, kCount}));
    EXPECT_NE(Get(FPort, "/api/entry?seq=" + std::to_string(kCount))
                  .Body.find("\"title\":\"message " + std::to_string(kCount - 1) + "\""),
              std::string::npos);
}

}  // namespace
}  // namespace deruz::silog::view
