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

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

}  // namespace

std::optional<TCall> ParseCall(const std::wstring& line) {
    std::size_t i = 0;
    while (i < line.size() && std::iswspace(static_cast<wint_t>(line[i]))) ++i;
    if (i == line.size() || line[i] == L'#') return std::nullopt;
    std::size_t end = i;
    while (end < line.size() && !std::iswspace(static_cast<wint_t>(line[end]))) ++end;
    TCall call;
    for (std::size_t k = i; k < end; ++k) {
        call.Verb += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(line[k])));
    }
    const TVerb* verb = nullptr;
    for (const auto& v : kVerbs) {
        if (call.Verb == v.Name) verb = &v;
    }
    if (verb == nullptr) throw std::invalid_argument("unknown call: " + Narrow(call.Verb));

    i = end;
    if (call.Verb == L"command") {
        // The command text is the rest of the line after one separating blank, verbatim.
        if (i < line.size()) ++i;
        call.Args.push_back(line.substr(std::min(i, line.size())));
        return call;
    }
    while (true) {
        while (i < line.size() && std::iswspace(static_cast<wint_t>(line[i]))) ++i;
        if (i == line.size()) break;
        std::wstring arg;
        if (line[i] == L'"') {
            ++i;
            while (i < line.size()) {
                if (line[i] == L'"') {
                    if (i + 1 < line.size() && line[i + 1] == L'"') {
                        arg += L'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                arg += line[i++];
            }
        } else {
            while (i < line.size() && !std::iswspace(static_cast<wint_t>(line[i])))
                arg += line[i++];
        }
        call.Args.push_back(arg);
    }
    if (call.Args.size() < verb->MinArgs || call.Args.size() > verb->MaxArgs) {
        throw std::invalid_argument("wrong number of arguments for " + Narrow(call.Verb));
    }
    return call;
}

std::string Escape(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

}  // namespace deruz::ondahost
