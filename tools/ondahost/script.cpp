#include "tools/ondahost/script.h"

#include <cwctype>
#include <stdexcept>

namespace deruz::ondahost {

namespace {

struct TVerb {
    const wchar_t* Name;
    std::size_t MinArgs;
    std::size_t MaxArgs;
};

constexpr TVerb kVerbs[] = {
    {L"getver", 0, 0},  {L"init", 0, 0},        {L"initi", 1, 2},          {L"init2w", 1, 2},
    {L"command", 0, 1}, {L"geterrorstr", 0, 0}, {L"geterrorstrbuf", 1, 1}, {L"exit", 0, 0},
    {L"unload", 0, 0},  {L"box", 2, 2},         {L"window", 0, 0},         {L"pump", 1, 1},
};

std::string Narrow(const std::wstring& AW) {
    std::string LS;
    for (wchar_t LC : AW) LS += LC < 0x80 ? static_cast<char>(LC) : '?';
    return LS;
}

}  // namespace

std::optional<TCall> ParseCall(const std::wstring& ALine) {
    std::size_t LI = 0;
    while (LI < ALine.size() && std::iswspace(static_cast<wint_t>(ALine[LI]))) ++LI;
    if (LI == ALine.size() || ALine[LI] == L'#') return std::nullopt;
    std::size_t LEnd = LI;
    while (LEnd < ALine.size() && !std::iswspace(static_cast<wint_t>(ALine[LEnd]))) ++LEnd;
    TCall LCall;
    for (std::size_t LK = LI; LK < LEnd; ++LK) {
        LCall.Verb += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ALine[LK])));
    }
    const TVerb* LVerb = nullptr;
    for (const auto& LV : kVerbs) {
        if (LCall.Verb == LV.Name) LVerb = &LV;
    }
    if (LVerb == nullptr) throw std::invalid_argument("unknown call: " + Narrow(LCall.Verb));

    LI = LEnd;
    if (LCall.Verb == L"command") {
        // The command text is the rest of the line after one separating blank, verbatim.
        if (LI < ALine.size()) ++LI;
        LCall.Args.push_back(ALine.substr(std::min(LI, ALine.size())));
        return LCall;
    }
    while (true) {
        while (LI < ALine.size() && std::iswspace(static_cast<wint_t>(ALine[LI]))) ++LI;
        if (LI == ALine.size()) break;
        std::wstring LArg;
        if (ALine[LI] == L'"') {
            ++LI;
            while (LI < ALine.size()) {
                if (ALine[LI] == L'"') {
                    if (LI + 1 < ALine.size() && ALine[LI + 1] == L'"') {
                        LArg += L'"';
                        LI += 2;
                        continue;
                    }
                    ++LI;
                    break;
                }
                LArg += ALine[LI++];
            }
        } else {
            while (LI < ALine.size() && !std::iswspace(static_cast<wint_t>(ALine[LI])))
                LArg += ALine[LI++];
        }
        LCall.Args.push_back(LArg);
    }
    if (LCall.Args.size() < LVerb->MinArgs || LCall.Args.size() > LVerb->MaxArgs) {
        throw std::invalid_argument("wrong number of arguments for " + Narrow(LCall.Verb));
    }
    return LCall;
}

std::string Escape(const std::string& ABytes) {
    static const char LHex[] = "0123456789ABCDEF";
    std::string LOut;
    for (unsigned char LC : ABytes) {
        switch (LC) {
            case '\r':
                LOut += "\\r";
                break;
            case '\n':
                LOut += "\\n";
                break;
            case '\t':
                LOut += "\\t";
                break;
            case '\\':
                LOut += "\\\\";
                break;
            case '"':
                LOut += "\\\"";
                break;
            default:
                if (LC < 0x20 || LC == 0x7F) {
                    LOut += "\\x";
                    LOut += LHex[LC >> 4];
                    LOut += LHex[LC & 15];
                } else {
                    LOut += static_cast<char>(LC);
                }
        }
    }
    return LOut;
}

}  // namespace deruz::ondahost
