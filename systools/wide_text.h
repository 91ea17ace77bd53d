// Conversions between the link's wide text and UTF-8 (the log's text). wchar_t is UTF-16
// on Windows and UTF-32 elsewhere; both are handled. Invalid sequences become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace deruz::systools {

std::string Utf8FromWide(std::wstring_view AText);
std::wstring WideFromUtf8(std::string_view AText);
// Lower case of the whole text (as the system lowers file names).
std::wstring LowerCase(std::wstring_view AText);

}  // namespace deruz::systools
