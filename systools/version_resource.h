// Reading the string tables of a version resource (the VS_VERSIONINFO block that
// GetFileVersionInfoW returns) from a byte buffer. Portable, so the tree walk is tested
// with hand-built blocks on every platform; only fetching the bytes is Windows code.
// Not thread-safe per reader object; no function here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace deruz::systools {

// One string table of a version resource: its language id, code page and key=value pairs
// in resource order.
struct TVersionStringTable {
    std::uint16_t LanguageId = 0;
    std::uint16_t CodePage = 0;
    std::vector<std::pair<std::wstring, std::wstring>> Strings;
};

// Walks a whole version resource, in its wide form or its older form with 8-bit keys.
// Every read is bounds-checked against the buffer, so malformed input only makes Read fail.
class TFileVersionInfoReader {
  public:
    // Reads the resource; false (and no tables kept) when it is malformed: wrong root key,
    // bad fixed part, a block that does not fit its parent, or a string table whose key is
    // not a language and code page.
    bool Read(std::span<const std::uint8_t> AData);

    // The string tables of every "StringFileInfo" block, in resource order.
    const std::vector<TVersionStringTable>& StringTables() const { return FTables; }

    // The value of Key (compared ignoring case) in the first string table; empty when
    // there is no table or no such key.
    std::wstring FirstTableValue(std::wstring_view AKey) const;

  private:
    std::vector<TVersionStringTable> FTables;
};

// The "FileVersion" text of a version resource with every "," turned into "." and every
// space removed; empty when the resource is malformed or has no such value.
std::wstring FileVersionFromResource(std::span<const std::uint8_t> AData);

}  // namespace deruz::systools
