// Splitting delimited text into a list of strings, and the small case-insensitive string
// list that holds the results (the link keeps its profile names in such lists).
// A TStringList is not thread-safe; SysExtractStrings is safe as long as its list is not
// shared. Nothing here throws towards the caller except a list's own allocation.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace deruz::systools {

// A set of 8-bit character codes. A wide character above 255 is never a member.
using TSysCharSet = std::bitset<256>;

// The set of the given characters (those above 255 are left out).
TSysCharSet SysCharSet(std::wstring_view AChars);

// True when c is a member of Set.
bool InCharSet(const TSysCharSet& ASet, wchar_t AC);

// An ordered list of wide strings whose lookups ignore case.
class TStringList {
  public:
    // Appends S; returns its index.
    int Add(const std::wstring& AS);
    int Count() const { return static_cast<int>(FItems.size()); }
    // Index must lie in 0..Count()-1.
    const std::wstring& operator[](int AIndex) const {
        return FItems[static_cast<std::size_t>(AIndex)];
    }
    void Clear();

    // The index of the first item equal to S ignoring case, or -1.
    int IndexOf(std::wstring_view AS) const;

    // Batch changes: OnChange fires once when the outermost EndUpdate closes a batch that
    // changed the list, instead of once per change.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Called after each change made outside a batch, and once at the end of a batch.
    std::function<void()> OnChange;

  private:
    void Changed();

    std::vector<std::wstring> FItems;
    int FUpdateCount = 0;
    bool FChangedInUpdate = false;
};

// True when a and b are equal ignoring case (ASCII, Latin-1, Latin Extended-A, basic Greek
// and Cyrillic letters; the same answer on every platform, whatever the C locale).
bool SameTextIgnoreCase(std::wstring_view AA, std::wstring_view AB);

// Splits Content into items and appends them to Strings; returns the number of items.
// An item ends at a character of Separators, at a line break or at the end of the text;
// characters of WhiteSpace (and line breaks) before an item are skipped, and every item is
// trimmed of characters up to blank and taken out of double quotes. Empty items are kept.
// Unless IgnoreQuotes is set, separators inside '...' or "..." do not split.
// Gives 0 and changes nothing when Content is null or empty, or Strings is null.
std::int32_t SysExtractStrings(const TSysCharSet& ASeparators, const TSysCharSet& AWhiteSpace,
                               const wchar_t* AContent, TStringList* AStrings, bool AIgnoreQuotes);

}  // namespace deruz::systools
