// Small writers for the JSON, CSV and text that `silog view` sends to its page. Everything
// written here comes from log packets, which other programs wrote: text is escaped so that it
// can only ever be read as a string, and bytes that are not UTF-8 are replaced, never passed on.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logging/base/datetime.h"

namespace deruz::silog::view {

// Appends AText as a JSON string literal: quotes, backslashes and control characters escaped,
// "<", ">", "&" and the line and paragraph separators written as \u escapes (so that no JSON
// text of ours looks like markup or breaks a script's line), invalid UTF-8 replaced by U+FFFD.
void AppendJsonString(std::string& AOut, std::string_view AText);
// Appends a finite number in its shortest exact form, or null.
void AppendJsonNumber(std::string& AOut, double AValue);

// The start of AText that has at most AChars characters, plus "…" when text was cut off. Cuts
// only between characters.
std::string_view TitleExcerpt(std::string_view AText, std::size_t AChars, bool& ACut);

// Standard base64 with padding.
void AppendBase64(std::string& AOut, std::string_view ABytes);
// Lower-case hexadecimal.
void AppendHex(std::string& AOut, std::string_view ABytes);

// One CSV cell (RFC 4180): quoted when it holds a comma, quote, CR or LF, quotes doubled; a
// cell that starts with "=", "+", "-" or "@" gets a "'" in front, so that a spreadsheet does
// not take log text for a formula.
void AppendCsvCell(std::string& AOut, std::string_view AText);

// A packet's local timestamp as "yyyy-mm-dd hh:nn:ss.zzz", or "" outside the calendar.
std::string TimestampText(logging::TDateTime AValue);

// The number a watch value or a query parameter starts with: an optional sign, digits and one
// decimal separator ("." or ","), an optional exponent; nothing when it does not start with
// one or when AWhole asks for all of the text and more follows.
std::optional<double> LeadingNumber(std::string_view AText, bool AWhole = false);

// Decodes "%XX" escapes and, with APlusIsSpace (a query), "+" as a space; a "%" not followed
// by two hex digits stays as it is.
std::string PercentDecode(std::string_view AText, bool APlusIsSpace = true);

}  // namespace deruz::silog::view
