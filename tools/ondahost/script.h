// The call language of ondahost: one call per line, a verb and its arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace deruz::ondahost {

struct TCall {
    std::wstring Verb;               // lower case
    std::vector<std::wstring> Args;  // "command" keeps the rest of the line as one argument
};

// Parses one line; empty lines and lines starting with '#' give nothing. Arguments are
// separated by blanks; a double-quoted argument may hold blanks ("" inside is a quote).
// Throws std::invalid_argument with a readable message on an unknown verb or wrong arity.
std::optional<TCall> ParseCall(const std::wstring& ALine);

// Text with control characters written as \r, \n, \t or \xNN, for printing results.
std::string Escape(const std::string& ABytes);

}  // namespace deruz::ondahost
