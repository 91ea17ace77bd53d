// Parsing and comparing four-part version numbers.
#include "systools/version.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace deruz::systools {

namespace {

bool IsVersionSeparator(wchar_t AC) {
    return AC == L'.' || AC == L',' || AC == L'\r' || AC == L'\n';
}

// Splits a version text into its pieces. Leading blanks of a piece are skipped, other
// blanks stay; empty pieces are dropped; a quoted stretch ('...' or "...") does not split
// and keeps its quotes.
std::vector<std::wstring> SplitVersionPieces(const std::wstring& AText) {
    std::vector<std::wstring> LPieces;
    const std::size_t LN = AText.size();
    std::size_t LPos = 0;
    while (LPos <= LN) {
        while (LPos < LN && (AText[LPos] == L' ' || AText[LPos] == L'\r' || AText[LPos] == L'\n')) {
            ++LPos;
        }
        const std::size_t LHead = LPos;
        wchar_t LQuote = 0;
        while (LPos < LN) {
            const wchar_t LC = AText[LPos];
            if (LQuote != 0) {
                if (LC == LQuote) LQuote = 0;
            } else if (LC == L'"' || LC == L'\'') {
                LQuote = LC;
            } else if (IsVersionSeparator(LC)) {
                break;
            }
            ++LPos;
        }
        if (LPos > LHead) LPieces.push_back(AText.substr(LHead, LPos - LHead));
        ++LPos;  // over the separator, or past the end
    }
    return LPieces;
}

int HexDigitValue(wchar_t AC) {
    if (AC >= L'0' && AC <= L'9') return AC - L'0';
    if (AC >= L'a' && AC <= L'f') return AC - L'a' + 10;
    if (AC >= L'A' && AC <= L'F') return AC - L'A' + 10;
    return -1;
}

// Converts a whole piece: optional sign, then decimal digits or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Gives nothing when the text does not convert or the value
// lies outside 0..2147483647 ("-0" is zero, so it is accepted).
std::optional<std::uint32_t> PieceToNumber(const std::wstring& APiece) {
    constexpr std::uint64_t LMaxValue = 2147483647;
    std::size_t LPos = 0;
    bool LNegative = false;
    if (LPos < APiece.size() && (APiece[LPos] == L'+' || APiece[LPos] == L'-')) {
        LNegative = APiece[LPos] == L'-';
        ++LPos;
    }
    int LBase = 10;
    if (LPos < APiece.size() &&
        (APiece[LPos] == L'$' || APiece[LPos] == L'x' || APiece[LPos] == L'X')) {
        LBase = 16;
        ++LPos;
    } else if (LPos + 1 < APiece.size() && APiece[LPos] == L'0' &&
               (APiece[LPos + 1] == L'x' || APiece[LPos + 1] == L'X')) {
        LBase = 16;
        LPos += 2;
    }
    if (LPos == APiece.size()) return std::nullopt;
    std::uint64_t LValue = 0;
    for (; LPos < APiece.size(); ++LPos) {
        const int LDigit = HexDigitValue(APiece[LPos]);
        if (LDigit < 0 || LDigit >= LBase) return std::nullopt;
        LValue = LValue * static_cast<std::uint64_t>(LBase) + static_cast<std::uint64_t>(LDigit);
        if (LValue > LMaxValue + 1) return std::nullopt;  // past every signed 32-bit value
    }
    if (LNegative) {
        if (LValue != 0) return std::nullopt;
    } else if (LValue > LMaxValue) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(LValue);
}

int CompareField(std::uint32_t AA, std::uint32_t AB) {
    if (AA < AB) return -1;
    if (AA > AB) return 1;
    return 0;
}

}  // namespace

bool ParseVersionStr(const std::wstring& AVersionStr, TFileVersionRec& AFileVersionRec) {
    try {
        const std::vector<std::wstring> LPieces = SplitVersionPieces(AVersionStr);
        if (LPieces.size() != 4) return false;
        std::uint32_t* const LFields[] = {
            &AFileVersionRec.MajorVersion, &AFileVersionRec.MinorVersion,
            &AFileVersionRec.ReleaseNumber, &AFileVersionRec.BuildNumber};
        for (std::size_t LI = 0; LI < 4; ++LI) {
            const std::optional<std::uint32_t> LValue = PieceToNumber(LPieces[LI]);
            if (!LValue) return false;
            *LFields[LI] = *LValue;
        }
        return true;
    } catch (...) {
        return false;
    }
}

int CompareFileVersions(const TFileVersionRec& AVersionA, const TFileVersionRec& AVersionB) {
    if (int LR = CompareField(AVersionA.MajorVersion, AVersionB.MajorVersion)) return LR;
    if (int LR = CompareField(AVersionA.MinorVersion, AVersionB.MinorVersion)) return LR;
    if (int LR = CompareField(AVersionA.ReleaseNumber, AVersionB.ReleaseNumber)) return LR;
    return CompareField(AVersionA.BuildNumber, AVersionB.BuildNumber);
}

int CompareFileVersionStrs(const std::wstring& AVersionAStr, const std::wstring& AVersionBStr) {
    TFileVersionRec LA;
    TFileVersionRec LB;
    const bool LValidA = ParseVersionStr(AVersionAStr, LA);
    const bool LValidB = ParseVersionStr(AVersionBStr, LB);
    if (LValidA && LValidB) return CompareFileVersions(LA, LB);
    if (LValidA) return -1;
    if (LValidB) return 1;
    return 0;
}

}  // namespace deruz::systools
