// Connection strings: the connections parser, the options parser over each entry, and the
// expansion of protocol variables. The parsers may reject a text (ESiError) but nothing else
// may go wrong. Property: options whose keys are plain names, written back by the connections
// builder, parse to the same keys and values.
#include "logging/config/connections.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "logging/base/errors.h"

using namespace deruz::logging;

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

TOptions ParseOptions(const std::string& AProtocol, const std::string& AText) {
    TOptions LResult;
    TSiOptionsParser::Parse(
        AProtocol, AText,
        [&LResult](const std::string&, const std::string& AKey, const std::string& AValue) {
            LResult.emplace_back(AKey, AValue);
        });
    return LResult;
}

bool IsPlainName(const std::string& AText) {
    if (AText.empty()) return false;
    for (const char C : AText) {
        const bool LOk = (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '.' || C == '_';
        if (!LOk) return false;
    }
    return true;
}

void CheckRebuild(const std::string& AProtocol, const TOptions& AOptions) {
    if (!IsPlainName(AProtocol)) return;
    TOptions LPlain;
    for (const auto& LOption : AOptions) {
        if (IsPlainName(LOption.first)) LPlain.push_back(LOption);
    }
    TSiConnectionsBuilder LBuilder;
    LBuilder.BeginProtocol(AProtocol);
    for (const auto& [LKey, LValue] : LPlain) LBuilder.AddOption(LKey, LValue);
    LBuilder.EndProtocol();
    const std::string& LText = LBuilder.Connections();
    std::vector<TSiConnectionEntry> LEntries;
    try {
        LEntries = SiParseConnections(LText);
    } catch (const ESiError& AError) {
        deruz::fuzz::Fail("built connections do not parse", LText + "\n" + AError.what());
    }
    if (LEntries.size() != 1 || LEntries[0].Protocol != AProtocol) {
        deruz::fuzz::Fail("built connections read back as other entries", LText);
    }
    TOptions LBack;
    try {
        LBack = ParseOptions(AProtocol, LEntries[0].Options);
    } catch (const ESiError& AError) {
        deruz::fuzz::Fail("built options do not parse", LText + "\n" + AError.what());
    }
    if (LBack != LPlain) {
        deruz::fuzz::Fail("built options read back differently", LText);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string_view LText = deruz::fuzz::TextOf(AData, ASize);
    try {
        for (const TSiConnectionEntry& LEntry : SiParseConnections(LText)) {
            try {
                CheckRebuild(LEntry.Protocol, ParseOptions(LEntry.Protocol, LEntry.Options));
            } catch (const ESiError&) {
            }
        }
    } catch (const ESiError&) {
    }

    // Variables whose values name other variables, and one whose value is its own name.
    TSiProtocolVariables LVariables;
    LVariables.Add("appname", "app");
    LVariables.Add("dir", "$appname$/logs");
    LVariables.Add("self", "$self$");
    LVariables.Add("", "empty");
    (void)LVariables.Expand(LText);
    return 0;
}
