// Connection strings: variable expansion, the two parsers and the builder.
#include "logging/config/connections.h"

#include "logging/base/enums.h"
#include "logging/base/errors.h"
#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// "Position" in messages counts UTF-16 code units from 1, as the string's users see it.
std::string Position(std::string_view AText, std::size_t AIndex) {
    return std::to_string(SiUtf16Length(AText.substr(0, AIndex)) + 1);
}

}  // namespace

void TSiProtocolVariables::Add(std::string_view AName, std::string_view AValue) {
    const std::lock_guard LLock(FLock);
    FItems.Add(AName, std::string(AValue));
}

void TSiProtocolVariables::Put(std::string_view AName, std::string_view AValue) {
    const std::lock_guard LLock(FLock);
    FItems.Put(AName, std::string(AValue));
}

std::string TSiProtocolVariables::Get(std::string_view AName) const {
    const std::lock_guard LLock(FLock);
    return FItems.Get(AName);
}

void TSiProtocolVariables::Remove(std::string_view AName) {
    const std::lock_guard LLock(FLock);
    FItems.Remove(AName);
}

bool TSiProtocolVariables::Contains(std::string_view AName) const {
    const std::lock_guard LLock(FLock);
    return FItems.Contains(AName);
}

void TSiProtocolVariables::Clear() {
    const std::lock_guard LLock(FLock);
    FItems.Clear();
}

std::size_t TSiProtocolVariables::Count() const {
    const std::lock_guard LLock(FLock);
    return FItems.Count();
}

std::string TSiProtocolVariables::Expand(std::string_view AConnections) const {
    const std::lock_guard LLock(FLock);
    std::string LResult(AConnections);
    FItems.ForEach([&LResult](const std::string& AName, const std::string& AValue) {
        LResult = SiStringReplace(LResult, "$" + AName + "$", AValue);
    });
    return LResult;
}

void TSiConnectionsParser::Parse(std::string_view AConnections,
                                 const TSiConnectionsParserEvent& ACallback) {
    const std::string_view LText = SiTrim(AConnections);
    const std::size_t LLength = LText.size();
    std::size_t LI = 0;
    while (LI < LLength) {
        const std::size_t LNameStart = LI;
        while (LI < LLength && LText[LI] != '(') {
            ++LI;
        }
        if (LI >= LLength) {
            throw ESiError("Missing \"(\" at position " + Position(LText, LI));
        }
        const std::string LName = SiLowerCase(SiTrim(LText.substr(LNameStart, LI - LNameStart)));
        ++LI;

        // The options text keeps its quotes: the options parser interprets them.
        std::string LOptions;
        bool LQuoted = false;
        while (LI < LLength) {
            const char LChar = LText[LI];
            if (LChar == '"') {
                if (LI + 1 < LLength && LText[LI + 1] == '"') {
                    LOptions.append("\"\"");
                    LI += 2;
                    continue;
                }
                LQuoted = !LQuoted;
            } else if (LChar == ')' && !LQuoted) {
                break;
            }
            LOptions.push_back(LChar);
            ++LI;
        }
        if (LQuoted) {
            throw ESiError("Quoted values not closed at protocol \"" + LName + "\"");
        }
        if (LI >= LLength) {
            throw ESiError("Missing \")\" at position " + Position(LText, LI));
        }
        ++LI;
        // One comma may end the entry, with blanks before it as after it ("a() , b()"); without
        // a comma the blanks stay and are trimmed from the next name.
        std::size_t LComma = LI;
        while (LComma < LLength && static_cast<unsigned char>(LText[LComma]) <= 32) {
            ++LComma;
        }
        if (LComma < LLength && LText[LComma] == ',') {
            LI = LComma + 1;
        }
        ACallback(LName, std::string(SiTrim(LOptions)));
    }
}

void TSiOptionsParser::Parse(std::string_view AProtocol, std::string_view AOptions,
                             const TSiOptionsParserEvent& ACallback) {
    const std::string_view LText = SiTrim(AOptions);
    const std::size_t LLength = LText.size();
    const std::string LProtocol(AProtocol);
    std::size_t LI = 0;
    while (LI < LLength) {
        const std::size_t LKeyStart = LI;
        while (LI < LLength && LText[LI] != '=') {
            ++LI;
        }
        if (LI >= LLength) {
            throw ESiError("Missing \"=\" at \"" + SiLowerCase(AProtocol) + "\" protocol");
        }
        const std::string LKey = SiLowerCase(SiTrim(LText.substr(LKeyStart, LI - LKeyStart)));
        ++LI;

        std::string LValue;
        bool LQuoted = false;
        while (LI < LLength) {
            const char LChar = LText[LI];
            if (LChar == '"') {
                if (LI + 1 < LLength && LText[LI + 1] == '"') {
                    LValue.push_back('"');
                    LI += 2;
                } else {
                    LQuoted = !LQuoted;
                    ++LI;
                }
                continue;
            }
            if (LChar == ',' && !LQuoted) {
                break;
            }
            LValue.push_back(LChar);
            ++LI;
        }
        if (LQuoted) {
            throw ESiError("Quoted value not closed at protocol \"" + SiLowerCase(AProtocol) +
                           "\"");
        }
        ++LI;
        ACallback(LProtocol, LKey, std::string(SiTrim(LValue)));
    }
}

std::vector<TSiConnectionEntry> SiParseConnections(std::string_view AConnections) {
    std::vector<TSiConnectionEntry> LEntries;
    TSiConnectionsParser::Parse(
        AConnections, [&LEntries](const std::string& AProtocol, const std::string& AOptions) {
            LEntries.push_back({AProtocol, AOptions});
        });
    return LEntries;
}

void TSiConnectionsBuilder::BeginProtocol(std::string_view AProtocol) {
    if (!FBuilder.Empty()) {
        FBuilder.Append(", ");
    }
    FBuilder.Append(AProtocol).Append('(');
    FHasOptions = false;
}

void TSiConnectionsBuilder::AddOption(std::string_view AKey, std::string_view AValue) {
    if (FHasOptions) {
        FBuilder.Append(", ");
    }
    FBuilder.Append(AKey).Append('=');
    // The options parser reads two double quotes as one wherever they stand, so the quotes
    // around a value of nothing but double quotes (or of nothing) would merge with them: such a
    // value is written bare, each double quote doubled, which reads back as it was.
    const bool LQuoted = AValue.find_first_not_of('"') != std::string_view::npos;
    if (LQuoted) {
        FBuilder.Append('"');
    }
    for (const char LChar : AValue) {
        if (LChar == '"') {
            FBuilder.Append('"');
        }
        FBuilder.Append(LChar);
    }
    if (LQuoted) {
        FBuilder.Append('"');
    }
    FHasOptions = true;
}

void TSiConnectionsBuilder::AddOption(std::string_view AKey, bool AValue) {
    AddOption(AKey, std::string_view(AValue ? "true" : "false"));
}

void TSiConnectionsBuilder::AddOption(std::string_view AKey, TSiLevel AValue) {
    AddOption(AKey, std::string_view(SiLowerCase(SiLevelString(AValue))));
}

void TSiConnectionsBuilder::AddOption(std::string_view AKey, TSiFileRotate AValue) {
    AddOption(AKey, std::string_view(SiLowerCase(SiFileRotateString(AValue))));
}

void TSiConnectionsBuilder::EndProtocol() {
    FBuilder.Append(')');
}

void TSiConnectionsBuilder::Clear() {
    FBuilder.Clear();
    FHasOptions = false;
}

}  // namespace deruz::logging
