// TSiStringList: an ordered, growable list of UTF-8 strings with line-based text conversion and
// loading of text files in UTF-8, UTF-16 (either byte order) or the system's 8-bit code page.
//
// Not synchronised: one thread at a time. The list owns its strings.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace deruz::logging {

class TSiStringList {
  public:
    std::size_t Count() const noexcept { return FItems.size(); }
    void Add(std::string AValue) { FItems.push_back(std::move(AValue)); }
    void Clear() noexcept { FItems.clear(); }

    // Get, Put and Delete raise ESiError "Index out of bounds" for an index outside 0..Count-1.
    const std::string& Get(std::size_t AIndex) const;
    void Put(std::size_t AIndex, std::string AValue);
    void Delete(std::size_t AIndex);
    // Index of the first item equal to AValue (exact, case-sensitive), -1 if none.
    std::ptrdiff_t IndexOf(std::string_view AValue) const noexcept;
    // Sorts by ordinal comparison of UTF-16 code units.
    void Sort();

    // The items joined, each followed by CR LF.
    std::string Text() const;
    // Replaces the items by the lines of AText, split at CR LF, LF or CR. A final line without
    // terminator is kept; a final line break adds no empty item; an empty text gives no items.
    void SetText(std::string_view AText);

    // Replaces the items by the lines of a file, opened with reading and writing shared so that
    // a file being written by another process can be read. Raises ESiError when the file cannot
    // be opened or read; the items are then unchanged.
    void LoadFromFile(const std::string& AFileName);
    // Replaces the items by the lines of the remaining bytes of AStream.
    void LoadFromStream(std::istream& AStream);
    // Replaces the items by the lines of ABytes, detecting the encoding: EF BB BF is UTF-8; with
    // more than 2 bytes, FF FE is UTF-16 little-endian and FE FF UTF-16 big-endian (markers
    // skipped); anything else is text in the system's 8-bit code page.
    void LoadFromBytes(std::string_view ABytes);

    const std::vector<std::string>& Items() const noexcept { return FItems; }

  private:
    std::vector<std::string> FItems;
};

}  // namespace deruz::logging
