// Parsing and comparing four-part version numbers.
#include "systools/version.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace deruz::systools {

namespace {

bool IsVersionSeparator(wchar_t c) {
    return c == L'.' || c == L',' || c == L'\r' || c == L'\n';
}

// Splits a version text into its pieces. Leading blanks of a piece are skipped, other
// blanks stay; empty pieces are dropped; a quoted stretch ('...' or "...") does not split
// and keeps its quotes.
std::vector<std::wstring> SplitVersionPieces(const std::wstring& text) {
    std::vector<std::wstring> pieces;
    const std::size_t n = text.size();
    std::size_t pos = 0;
    while (pos <= n) {
        while (pos < n && (text[pos] == L' ' || text[pos] == L'\r' || text[pos] == L'\n')) {
            ++pos;
        }
        const std::size_t head = pos;
        wchar_t quote = 0;
        while (pos < n) {
            const wchar_t c = text[pos];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == L'"' || c == L'\'') {
                quote = c;
            } else if (IsVersionSeparator(c)) {
                break;
            }
            ++pos;
        }
        if (pos > head) pieces.push_back(text.substr(head, pos - head));
        ++pos;  // over the separator, or past the end
    }
    return pieces;
}

int HexDigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Converts a whole piece: optional sign, then decimal digits or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Gives nothing when the text does not convert or the value
// lies outside 0..2147483647 ("-0" is zero, so it is accepted).
std::optional<std::uint32_t> PieceToNumber(const std::wstring& piece) {
    constexpr std::uint64_t kMaxValue = 2147483647;
    std::size_t pos = 0;
    bool negative = false;
    if (pos < piece.size() && (piece[pos] == L'+' || piece[pos] == L'-')) {
        negative = piece[pos] == L'-';
        ++pos;
    }
    int base = 10;
    if (pos < piece.size() && (piece[pos] == L'$' || piece[pos] == L'x' || piece[pos] == L'X')) {
        base = 16;
        ++pos;
    } else if (pos + 1 < piece.size() && piece[pos] == L'0' &&
               (piece[pos + 1] == L'x' || piece[pos + 1] == L'X')) {
        base = 16;
        pos += 2;
    }
    if (pos == piece.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; pos < piece.size(); ++pos) {
        const int digit = HexDigitValue(piece[pos]);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > kMaxValue + 1) return std::nullopt;  // past every signed 32-bit value
    }
    if (negative) {
        if (value != 0) return std::nullopt;
    } else if (value > kMaxValue) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

int CompareField(std::uint32_t a, std::uint32_t b) {
    if (a < b) return -1;
    if (a > b) return 1;
    return 0;
}

}  // namespace

bool ParseVersionStr(const std::wstring& VersionStr, TFileVersionRec& FileVersionRec) {
    try {
        const std::vector<std::wstring> pieces = SplitVersionPieces(VersionStr);
        if (pieces.size() != 4) return false;
        std::uint32_t* const fields[] = {&FileVersionRec.MajorVersion, &FileVersionRec.MinorVersion,
                                         &FileVersionRec.ReleaseNumber,
                                         &FileVersionRec.BuildNumber};
        for (std::size_t i = 0; i < 4; ++i) {
            const std::optional<std::uint32_t> value = PieceToNumber(pieces[i]);
            if (!value) return false;
            *fields[i] = *value;
        }
        return true;
    } catch (...) {
        return false;
    }
}

int CompareFileVersions(const TFileVersionRec& VersionA, const TFileVersionRec& VersionB) {
    if (int r = CompareField(VersionA.MajorVersion, VersionB.MajorVersion)) return r;
    if (int r = CompareField(VersionA.MinorVersion, VersionB.MinorVersion)) return r;
    if (int r = CompareField(VersionA.ReleaseNumber, VersionB.ReleaseNumber)) return r;
    return CompareField(VersionA.BuildNumber, VersionB.BuildNumber);
}

int CompareFileVersionStrs(const std::wstring& VersionAStr, const std::wstring& VersionBStr) {
    TFileVersionRec a;
    TFileVersionRec b;
    const bool validA = ParseVersionStr(VersionAStr, a);
    const bool validB = ParseVersionStr(VersionBStr, b);
    if (validA && validB) return CompareFileVersions(a, b);
    if (validA) return -1;
    if (validB) return 1;
    return 0;
}

}  // namespace deruz::systools
