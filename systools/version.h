// Four-part version numbers: parsing, comparing, and reading a file's version text.
// All functions are stateless and safe to call from any thread; none of them throws.
#pragma once

#include <cstdint>
#include <string>

namespace deruz::systools {

// A file version "Major.Minor.Release.Build".
struct TFileVersionRec {
    std::uint32_t MajorVersion = 0;
    std::uint32_t MinorVersion = 0;
    std::uint32_t ReleaseNumber = 0;
    std::uint32_t BuildNumber = 0;
};

// Parses a text of exactly four numbers separated by "," or "." (decimal, or hexadecimal
// after "$", "x" or "0x"; each within 0..2147483647). Returns false when the text is not
// such a version; the record may then be partly written.
bool ParseVersionStr(const std::wstring& AVersionStr, TFileVersionRec& AFileVersionRec);

// -1 when VersionA is lower, 0 when equal, +1 when higher (field by field, as numbers).
int CompareFileVersions(const TFileVersionRec& AVersionA, const TFileVersionRec& AVersionB);

// Compares two version texts. An invalid text ranks above every valid one, so a file whose
// version cannot be read passes a "not lower than" test; two invalid texts are equal.
int CompareFileVersionStrs(const std::wstring& AVersionAStr, const std::wstring& AVersionBStr);

// The "FileVersion" text of the file's version resource with "," turned into "." and spaces
// removed, e.g. "3, 0, 1, 582" gives "3.0.1.582". Empty when the file is missing, is a
// folder, or has no readable version resource. Windows only: other platforms have no
// version resources, and a silent empty answer there would rank as "newest" in comparisons.
std::wstring GetFileVersionFromFile(const std::wstring& AFn);

}  // namespace deruz::systools
