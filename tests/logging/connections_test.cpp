// Connection strings: variables, the connections and options parsers with their exact errors,
// and the builder.
#include "logging/config/connections.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logging/base/errors.h"

namespace deruz::logging {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The entries reported before the parse ended, and the error message if it failed.
struct ParseResult {
    Entries Items;
    std::string Error;
};

ParseResult ParseConnections(std::string_view AText) {
    ParseResult LResult;
    try {
        TSiConnectionsParser::Parse(AText,
                                    [&](const std::string& AProtocol, const std::string& AOptions) {
                                        LResult.Items.emplace_back(AProtocol, AOptions);
                                    });
    } catch (const ESiError& LAError) {
        LResult.Error = LAError.what();
    }
    return LResult;
}

ParseResult ParseOptions(std::string_view AProtocol, std::string_view AText) {
    ParseResult LResult;
    try {
        TSiOptionsParser::Parse(
            AProtocol, AText,
            [&](const std::string& AName, const std::string& AKey, const std::string& AValue) {
                EXPECT_EQ(AName, AProtocol);  // the protocol name is passed on unchanged
                LResult.Items.emplace_back(AKey, AValue);
            });
    } catch (const ESiError& LAError) {
        LResult.Error = LAError.what();
    }
    return LResult;
}

TEST(SiConnectionsParserTest, EntriesAndErrors) {
    struct Case {
        const char* Text;
        Entries Items;
        const char* Error;
    };
    const Case LCases[] = {
        {"", {}, ""},
        {" \t ", {}, ""},
        {"pipe()", {{"pipe", ""}}, ""},
        {" pipe(), tcp() ", {{"pipe", ""}, {"tcp", ""}}, ""},
        {"pipe() file()", {{"pipe", ""}, {"file", ""}}, ""},
        {"pipe(),,file()", {{"pipe", ""}, {",file", ""}}, ""},
        {"pipe(),", {{"pipe", ""}}, ""},
        // Blanks before the comma that ends an entry, as after it.
        {"file(a=1) , pipe()", {{"file", "a=1"}, {"pipe", ""}}, ""},
        {"file()\t\r\n,\tpipe() ,", {{"file", ""}, {"pipe", ""}}, ""},
        {"pipe() ,,file()", {{"pipe", ""}, {",file", ""}}, ""},
        {"PIPE(Level=Error)", {{"pipe", "Level=Error"}}, ""},
        {"pipe( reconnect=true, reconnect.interval=1s )",
         {{"pipe", "reconnect=true, reconnect.interval=1s"}},
         ""},
        {"file(filename=\"c:\\logs\\a,b).sil\", append=true)",
         {{"file", "filename=\"c:\\logs\\a,b).sil\", append=true"}},
         ""},
        {"file(a=\"\"x\"\")", {{"file", "a=\"\"x\"\""}}, ""},
        {"pipe", {}, "Missing \"(\" at position 5"},
        {"pipe(", {}, "Missing \")\" at position 6"},
        {"  pipe(a=1  ", {}, "Missing \")\" at position 9"},
        {"pipe(), tcp", {{"pipe", ""}}, "Missing \"(\" at position 12"},
        {"pipe()x", {{"pipe", ""}}, "Missing \"(\" at position 8"},
        // Positions count UTF-16 code units: the e-acute is one, though two bytes.
        {"pipe(a=\xC3\xA9)x", {{"pipe", "a=\xC3\xA9"}}, "Missing \"(\" at position 11"},
        {"Pipe(a=\"x)", {}, "Quoted values not closed at protocol \"pipe\""},
        {"pipe(a=\"\"\")", {}, "Quoted values not closed at protocol \"pipe\""},
    };
    for (const Case& LCase : LCases) {
        const ParseResult LResult = ParseConnections(LCase.Text);
        EXPECT_EQ(LResult.Items, LCase.Items) << LCase.Text;
        EXPECT_EQ(LResult.Error, LCase.Error) << LCase.Text;
    }
}

TEST(SiConnectionsParserTest, ParseConnectionsCollectsEntries) {
    const std::vector<TSiConnectionEntry> LEntries =
        SiParseConnections("pipe(reconnect=true), TCP(host=localhost)");
    ASSERT_EQ(LEntries.size(), 2u);
    EXPECT_EQ(LEntries[1].Protocol, "tcp");
    EXPECT_EQ(LEntries[1].Options, "host=localhost");
    EXPECT_THROW(SiParseConnections("pipe"), ESiError);
}

TEST(SiOptionsParserTest, OptionsAndErrors) {
    struct Case {
        const char* Text;
        Entries Items;
        const char* Error;
    };
    const Case LCases[] = {
        {"", {}, ""},
        {"reconnect=true, reconnect.interval=1s",
         {{"reconnect", "true"}, {"reconnect.interval", "1s"}},
         ""},
        {"Level=Error", {{"level", "Error"}}, ""},
        {" A = 1 , B = two words ", {{"a", "1"}, {"b", "two words"}}, ""},
        {"filename=\"c:\\logs\\a,b).sil\"", {{"filename", "c:\\logs\\a,b).sil"}}, ""},
        {"a=\"\"x\"\"", {{"a", "\"x\""}}, ""},
        {"a=\"\"", {{"a", "\""}}, ""},
        {"a=\"it\"\"s\"", {{"a", "it\"s"}}, ""},
        {"a=\" padded \"", {{"a", "padded"}}, ""},
        {"a=x\"y,z\"w", {{"a", "xy,zw"}}, ""},
        {"a=1,", {{"a", "1"}}, ""},
        {"a=1,,b=2", {{"a", "1"}, {",b", "2"}}, ""},
        {"=5", {{"", "5"}}, ""},
        {"a=", {{"a", ""}}, ""},
        {"a==b", {{"a", "=b"}}, ""},
        {"reconnect", {}, "Missing \"=\" at \"pipe\" protocol"},
        {"a=1, b", {{"a", "1"}}, "Missing \"=\" at \"pipe\" protocol"},
        {"a=1,,", {{"a", "1"}}, "Missing \"=\" at \"pipe\" protocol"},
        {"a=\"x", {}, "Quoted value not closed at protocol \"pipe\""},
        {"a=\"x\"\"", {}, "Quoted value not closed at protocol \"pipe\""},
    };
    for (const Case& LCase : LCases) {
        const ParseResult LResult = ParseOptions("PiPe", LCase.Text);
        EXPECT_EQ(LResult.Items, LCase.Items) << LCase.Text;
        EXPECT_EQ(LResult.Error, LCase.Error) << LCase.Text;
    }
}

TEST(SiProtocolVariablesTest, ExpandReplacesReferences) {
    TSiProtocolVariables LVariables;
    EXPECT_EQ(LVariables.Expand("file(filename=$dir$\\a.sil)"), "file(filename=$dir$\\a.sil)");
    LVariables.Put("dir", "c:\\logs");
    EXPECT_EQ(LVariables.Expand("file(filename=$dir$\\a.sil)"), "file(filename=c:\\logs\\a.sil)");
    EXPECT_EQ(LVariables.Expand("$undefined$ $dir$$dir$"),
              "$undefined$ c:\\logs"
              "c:\\logs");
    // The reference must be spelled as the name was first stored.
    EXPECT_EQ(LVariables.Expand("$DIR$"), "$DIR$");
    LVariables.Put("DIR", "d:\\");
    EXPECT_EQ(LVariables.Expand("$dir$"), "d:\\");
    // Inserted text is not scanned again.
    LVariables.Put("dir", "$dir$");
    EXPECT_EQ(LVariables.Expand("$dir$"), "$dir$");
}

TEST(SiProtocolVariablesTest, VariablesExpandInTableOrder) {
    // "a" lies in an earlier bucket than "b", so a is expanded first: a reference to b that a's
    // value brings in is expanded too, but not the other way round.
    TSiProtocolVariables LForward;
    LForward.Put("b", "x");
    LForward.Put("a", "$b$");
    EXPECT_EQ(LForward.Expand("$a$"), "x");
    TSiProtocolVariables LBackward;
    LBackward.Put("a", "x");
    LBackward.Put("b", "$a$");
    EXPECT_EQ(LBackward.Expand("$b$"), "$a$");
}

TEST(SiProtocolVariablesTest, AddPutGetRemove) {
    TSiProtocolVariables LVariables;
    LVariables.Add("Name", "1");
    LVariables.Add("name", "2");
    EXPECT_EQ(LVariables.Get("NAME"), "1");
    LVariables.Put("name", "3");
    EXPECT_EQ(LVariables.Get("name"), "3");
    EXPECT_EQ(LVariables.Get("missing"), "");
    EXPECT_EQ(LVariables.Count(), 1u);
    EXPECT_TRUE(LVariables.Contains("nAmE"));
    LVariables.Remove("NAME");
    EXPECT_FALSE(LVariables.Contains("name"));
    LVariables.Put("x", "1");
    LVariables.Clear();
    EXPECT_EQ(LVariables.Count(), 0u);
}

TEST(SiProtocolVariablesTest, ChangesFromOtherThreadsNeverTearAnExpansion) {
    TSiProtocolVariables LVariables;
    LVariables.Put("v", "0");
    std::thread LWriter([&] {
        for (int LI = 0; LI < 2000; ++LI) {
            LVariables.Put("v", LI % 2 ? "long-value" : "0");
            LVariables.Put("k" + std::to_string(LI % 50), "x");
            LVariables.Remove("k" + std::to_string((LI + 25) % 50));
        }
    });
    for (int LI = 0; LI < 2000; ++LI) {
        const std::string LText = LVariables.Expand("[$v$]");
        ASSERT_TRUE(LText == "[0]" || LText == "[long-value]") << LText;
    }
    LWriter.join();
}

TEST(SiConnectionsBuilderTest, WritesQuotedOptions) {
    TSiConnectionsBuilder LBuilder;
    LBuilder.BeginProtocol("file");
    LBuilder.AddOption("filename", "say \"hi\".sil");
    LBuilder.AddOption("append", true);
    LBuilder.AddOption("maxparts", 5);
    LBuilder.AddOption("maxsize", std::int64_t{8589934592});
    LBuilder.AddOption("level", lvWarning);
    LBuilder.AddOption("rotate", frDaily);
    LBuilder.EndProtocol();
    LBuilder.BeginProtocol("mem");
    LBuilder.EndProtocol();
    LBuilder.BeginProtocol("pipe");
    LBuilder.AddOption("backlog.flushon", lvControl);
    LBuilder.AddOption("reconnect", false);
    LBuilder.AddOption("caption", std::string("main"));
    LBuilder.EndProtocol();
    EXPECT_EQ(LBuilder.Connections(),
              "file(filename=\"say \"\"hi\"\".sil\", append=\"true\", maxparts=\"5\", "
              "maxsize=\"8589934592\", level=\"warning\", rotate=\"daily\"), mem(), "
              "pipe(backlog.flushon=\"unknown\", reconnect=\"false\", caption=\"main\")");
    LBuilder.Clear();
    EXPECT_EQ(LBuilder.Connections(), "");
    LBuilder.BeginProtocol("tcp");
    LBuilder.AddOption("a", "1");
    LBuilder.AddOption("empty", "");
    LBuilder.AddOption("quote", "\"");
    LBuilder.EndProtocol();
    EXPECT_EQ(LBuilder.Connections(), "tcp(a=\"1\", empty=, quote=\"\")");
}

TEST(SiConnectionsBuilderTest, ParsersReadBuiltValuesBack) {
    // Every value reads back unchanged, also an empty one and one of nothing but double quotes,
    // whose enclosing quotes the parser would take for an escaped quote (a="" reads as one
    // double quote, as the options table above shows).
    const std::vector<std::string> LValues = {
        "",       "\"",    "\"\"",  "\"\"\"",    "plain",
        "a,b",    "x)y(z", "\"a",   "a\"",       "\"quoted\"",
        "a\"\"b", "k=v",   "$var$", "c:\\dir\\", "\xC3\xA9\xF0\x9F\x98\x80"};
    TSiConnectionsBuilder LBuilder;
    for (std::size_t LI = 0; LI < LValues.size(); ++LI) {
        LBuilder.BeginProtocol("p" + std::to_string(LI));
        LBuilder.AddOption("value", LValues[LI]);
        LBuilder.AddOption("next", "end");
        LBuilder.EndProtocol();
    }
    const ParseResult LEntries = ParseConnections(LBuilder.Connections());
    ASSERT_EQ(LEntries.Error, "");
    ASSERT_EQ(LEntries.Items.size(), LValues.size());
    for (std::size_t LI = 0; LI < LValues.size(); ++LI) {
        EXPECT_EQ(LEntries.Items[LI].first, "p" + std::to_string(LI));
        const ParseResult LOptions =
            ParseOptions(LEntries.Items[LI].first, LEntries.Items[LI].second);
        EXPECT_EQ(LOptions.Error, "");
        EXPECT_EQ(LOptions.Items, (Entries{{"value", LValues[LI]}, {"next", "end"}}))
            << LValues[LI];
    }
}

TEST(SiConnectionsParserTest, ArbitraryTextEitherParsesOrRaisesAKnownError) {
    // Random strings over the characters that matter to the grammar: every outcome is a list
    // of entries or one of the five syntax errors, never another exception.
    const std::string LAlphabet = "ab (),=\"\" \t$\xC3\xA9";
    std::mt19937 LRandom(12345);
    const auto LKnown = [](const std::string& AError) {
        return AError.empty() || AError.rfind("Missing \"(\" at position ", 0) == 0 ||
               AError.rfind("Missing \")\" at position ", 0) == 0 ||
               AError.rfind("Missing \"=\" at \"", 0) == 0 ||
               AError.rfind("Quoted value not closed at protocol \"", 0) == 0 ||
               AError.rfind("Quoted values not closed at protocol \"", 0) == 0;
    };
    for (int LRound = 0; LRound < 3000; ++LRound) {
        std::string LText;
        const std::size_t LLength = LRandom() % 24;
        for (std::size_t LI = 0; LI < LLength; ++LI) {
            LText.push_back(LAlphabet[LRandom() % LAlphabet.size()]);
        }
        const ParseResult LResult = ParseConnections(LText);
        ASSERT_TRUE(LKnown(LResult.Error)) << LText << " -> " << LResult.Error;
        for (const auto& [LName, LOptions] : LResult.Items) {
            ASSERT_TRUE(LKnown(ParseOptions(LName, LOptions).Error)) << LText;
        }
    }
}

}  // namespace
}  // namespace deruz::logging
