// Portable part of the shared text, file-name and time functions.
#include "logging/base/strings.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "logging/base/errors.h"

namespace deruz::logging {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kPathDelimiters = "\\/:";

inline bool IsContinuation(unsigned char AByte) noexcept {
    return (AByte & 0xC0) == 0x80;
}

inline char AsciiLower(char AChar) noexcept {
    return (AChar >= 'A' && AChar <= 'Z') ? static_cast<char>(AChar + ('a' - 'A')) : AChar;
}

inline char AsciiUpper(char AChar) noexcept {
    return (AChar >= 'a' && AChar <= 'z') ? static_cast<char>(AChar - ('a' - 'A')) : AChar;
}

// The first UTF-16 code unit of a code point, for ordinal comparison.
inline std::uint32_t FirstUnit(char32_t ACode) noexcept {
    return ACode >= 0x10000 ? 0xD800 + ((ACode - 0x10000) >> 10) : ACode;
}

std::size_t LastDelimiter(std::string_view ADelimiters, std::string_view AText) noexcept {
    const std::size_t LPos = AText.find_last_of(ADelimiters);
    return LPos == std::string_view::npos ? 0 : LPos + 1;
}

}  // namespace

void SiAppendUtf8(std::string& AOut, char32_t ACode) {
    if (ACode < 0x80) {
        AOut.push_back(static_cast<char>(ACode));
    } else if (ACode < 0x800) {
        AOut.push_back(static_cast<char>(0xC0 | (ACode >> 6)));
        AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
    } else if (ACode < 0x10000) {
        AOut.push_back(static_cast<char>(0xE0 | (ACode >> 12)));
        AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
    } else {
        AOut.push_back(static_cast<char>(0xF0 | (ACode >> 18)));
        AOut.push_back(static_cast<char>(0x80 | ((ACode >> 12) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
    }
}

char32_t SiDecodeUtf8(std::string_view AText, std::size_t& AIndex) noexcept {
    const auto LLead = static_cast<unsigned char>(AText[AIndex]);
    if (LLead < 0x80) {
        ++AIndex;
        return LLead;
    }
    std::size_t LLength;
    char32_t LCode;
    char32_t LMin;
    if (LLead >= 0xC2 && LLead <= 0xDF) {
        LLength = 2;
        LCode = LLead & 0x1F;
        LMin = 0x80;
    } else if (LLead >= 0xE0 && LLead <= 0xEF) {
        LLength = 3;
        LCode = LLead & 0x0F;
        LMin = 0x800;
    } else if (LLead >= 0xF0 && LLead <= 0xF4) {
        LLength = 4;
        LCode = LLead & 0x07;
        LMin = 0x10000;
    } else {
        ++AIndex;
        return kReplacement;
    }
    if (AText.size() - AIndex < LLength) {
        ++AIndex;
        return kReplacement;
    }
    for (std::size_t LI = 1; LI < LLength; ++LI) {
        const auto LByte = static_cast<unsigned char>(AText[AIndex + LI]);
        if (!IsContinuation(LByte)) {
            ++AIndex;
            return kReplacement;
        }
        LCode = (LCode << 6) | (LByte & 0x3F);
    }
    if (LCode < LMin || LCode > 0x10FFFF || (LCode >= 0xD800 && LCode <= 0xDFFF)) {
        ++AIndex;
        return kReplacement;
    }
    AIndex += LLength;
    return LCode;
}

std::u16string SiUtf8ToUtf16(std::string_view AText) {
    std::u16string LResult;
    LResult.reserve(AText.size());
    std::size_t LIndex = 0;
    while (LIndex < AText.size()) {
        const char32_t LCode = SiDecodeUtf8(AText, LIndex);
        if (LCode >= 0x10000) {
            LResult.push_back(static_cast<char16_t>(0xD800 + ((LCode - 0x10000) >> 10)));
            LResult.push_back(static_cast<char16_t>(0xDC00 + ((LCode - 0x10000) & 0x3FF)));
        } else {
            LResult.push_back(static_cast<char16_t>(LCode));
        }
    }
    return LResult;
}

std::string SiUtf16ToUtf8(std::u16string_view AText) {
    std::string LResult;
    LResult.reserve(AText.size());
    for (std::size_t LI = 0; LI < AText.size(); ++LI) {
        const char16_t LUnit = AText[LI];
        if (LUnit >= 0xD800 && LUnit <= 0xDBFF && LI + 1 < AText.size() &&
            AText[LI + 1] >= 0xDC00 && AText[LI + 1] <= 0xDFFF) {
            const char32_t LCode = 0x10000 + ((static_cast<char32_t>(LUnit) - 0xD800) << 10) +
                                   (AText[LI + 1] - 0xDC00);
            SiAppendUtf8(LResult, LCode);
            ++LI;
        } else if (LUnit >= 0xD800 && LUnit <= 0xDFFF) {
            SiAppendUtf8(LResult, kReplacement);
        } else {
            SiAppendUtf8(LResult, LUnit);
        }
    }
    return LResult;
}

std::size_t SiUtf16Length(std::string_view AText) {
    std::size_t LCount = 0;
    std::size_t LIndex = 0;
    while (LIndex < AText.size()) {
        LCount += SiDecodeUtf8(AText, LIndex) >= 0x10000 ? 2 : 1;
    }
    return LCount;
}

std::string_view SiTruncateUtf16(std::string_view AText, std::size_t AUnits) noexcept {
    std::size_t LIndex = 0;
    std::size_t LUnits = 0;
    while (LIndex < AText.size()) {
        std::size_t LNext = LIndex;
        const std::size_t LWidth = SiDecodeUtf8(AText, LNext) >= 0x10000 ? 2 : 1;
        if (LUnits + LWidth > AUnits) {
            break;
        }
        LUnits += LWidth;
        LIndex = LNext;
    }
    return AText.substr(0, LIndex);
}

std::string_view SiTrim(std::string_view AText) noexcept {
    std::size_t LBegin = 0;
    std::size_t LEnd = AText.size();
    while (LBegin < LEnd && static_cast<unsigned char>(AText[LBegin]) <= 32) {
        ++LBegin;
    }
    while (LEnd > LBegin && static_cast<unsigned char>(AText[LEnd - 1]) <= 32) {
        --LEnd;
    }
    return AText.substr(LBegin, LEnd - LBegin);
}

std::string SiLowerCase(std::string_view AText) {
    std::string LResult(AText);
    std::transform(LResult.begin(), LResult.end(), LResult.begin(), AsciiLower);
    return LResult;
}

std::string SiUpperCase(std::string_view AText) {
    std::string LResult(AText);
    std::transform(LResult.begin(), LResult.end(), LResult.begin(), AsciiUpper);
    return LResult;
}

bool SiSameText(std::string_view A_, std::string_view AB) noexcept {
    if (A_.size() != AB.size()) {
        return false;
    }
    for (std::size_t LI = 0; LI < A_.size(); ++LI) {
        if (AsciiLower(A_[LI]) != AsciiLower(AB[LI])) {
            return false;
        }
    }
    return true;
}

int SiCompareOrdinal(std::string_view A_, std::string_view AB) noexcept {
    std::size_t LIndexA = 0;
    std::size_t LIndexB = 0;
    while (LIndexA < A_.size() && LIndexB < AB.size()) {
        const char32_t LCodeA = SiDecodeUtf8(A_, LIndexA);
        const char32_t LCodeB = SiDecodeUtf8(AB, LIndexB);
        if (LCodeA == LCodeB) {
            continue;
        }
        const std::uint32_t LUnitA = FirstUnit(LCodeA);
        const std::uint32_t LUnitB = FirstUnit(LCodeB);
        if (LUnitA != LUnitB) {
            return LUnitA < LUnitB ? -1 : 1;
        }
        // Both outside the basic plane with the same high surrogate: the low surrogates order
        // as the code points do.
        return LCodeA < LCodeB ? -1 : 1;
    }
    if (LIndexA < A_.size()) {
        return 1;
    }
    if (LIndexB < AB.size()) {
        return -1;
    }
    // Equal as UTF-16 (invalid bytes all became U+FFFD): the bytes decide, for a total order.
    const int LBytes = A_.compare(AB);
    return LBytes < 0 ? -1 : (LBytes > 0 ? 1 : 0);
}

std::string SiStringReplace(std::string_view AText, std::string_view ASearch,
                            std::string_view AReplacement) {
    if (ASearch.empty()) {
        return std::string(AText);
    }
    std::string LResult;
    LResult.reserve(AText.size());
    std::size_t LStart = 0;
    for (std::size_t LPos = AText.find(ASearch); LPos != std::string_view::npos;
         LPos = AText.find(ASearch, LStart)) {
        LResult.append(AText.substr(LStart, LPos - LStart));
        LResult.append(AReplacement);
        LStart = LPos + ASearch.size();
    }
    LResult.append(AText.substr(LStart));
    return LResult;
}

std::size_t SiLastPos(char AChar, std::string_view AText) noexcept {
    const std::size_t LPos = AText.rfind(AChar);
    return LPos == std::string_view::npos ? 0 : LPos + 1;
}

void SiSplit(std::string_view AText, std::string_view ADelimiters,
             std::vector<std::string>& AList) {
    if (AText.empty()) {
        return;
    }
    std::size_t LStart = 0;
    for (;;) {
        const std::size_t LPos = AText.find_first_of(ADelimiters, LStart);
        if (LPos == std::string_view::npos) {
            AList.emplace_back(std::string(AText.substr(LStart)));
            return;
        }
        AList.emplace_back(std::string(AText.substr(LStart, LPos - LStart)));
        LStart = LPos + 1;
    }
}

void SiAppendDecimal(std::string& AOut, std::int64_t AValue, int AMinDigits) {
    const std::uint64_t LMagnitude =
        AValue < 0 ? 0 - static_cast<std::uint64_t>(AValue) : static_cast<std::uint64_t>(AValue);
    char LBuffer[24];
    const char* const LEnd = std::to_chars(LBuffer, LBuffer + sizeof LBuffer, LMagnitude).ptr;
    const auto LLength = static_cast<int>(LEnd - LBuffer);
    if (AValue < 0) {
        AOut += '-';
    }
    if (LLength < AMinDigits) {
        AOut.append(static_cast<std::size_t>(AMinDigits - LLength), '0');
    }
    AOut.append(LBuffer, static_cast<std::size_t>(LLength));
}

std::string SiExtractFileExt(std::string_view AFileName) {
    const std::size_t LPos = LastDelimiter(".\\/:", AFileName);
    if (LPos > 0 && AFileName[LPos - 1] == '.') {
        return std::string(AFileName.substr(LPos - 1));
    }
    return std::string();
}

std::string SiChangeFileExt(std::string_view AFileName, std::string_view AExtension) {
    std::size_t LPos = LastDelimiter(".\\/:", AFileName);
    if (LPos == 0 || AFileName[LPos - 1] != '.') {
        LPos = AFileName.size() + 1;
    }
    std::string LResult(AFileName.substr(0, LPos - 1));
    LResult.append(AExtension);
    return LResult;
}

std::string SiExtractFileName(std::string_view AFileName) {
    return std::string(AFileName.substr(LastDelimiter(kPathDelimiters, AFileName)));
}

std::string SiExtractFilePath(std::string_view AFileName) {
    return std::string(AFileName.substr(0, LastDelimiter(kPathDelimiters, AFileName)));
}

bool SiMatchesWildcard(std::string_view APattern, std::string_view AName) {
    // Greedy matching with one backtrack point (the last "*"): linear in practice and never
    // exponential, whatever the pattern.
    std::size_t LP = 0;
    std::size_t LN = 0;
    std::size_t LStar = std::string_view::npos;
    std::size_t LStarName = 0;
    while (LN < AName.size()) {
        if (LP < APattern.size() && (APattern[LP] == '?' || APattern[LP] == AName[LN])) {
            ++LP;
            ++LN;
        } else if (LP < APattern.size() && APattern[LP] == '*') {
            LStar = LP++;
            LStarName = LN;
        } else if (LStar != std::string_view::npos) {
            LP = LStar + 1;
            LN = ++LStarName;
        } else {
            return false;
        }
    }
    while (LP < APattern.size() && APattern[LP] == '*') {
        ++LP;
    }
    return LP == APattern.size();
}

std::string SiSystemErrorText(std::uint32_t AError) {
    std::string LText = SiSystemMessage(AError);
    return LText.empty() ? SiUnknownSystemErrorText(AError) : LText;
}

std::string SiUnknownSystemErrorText(std::uint32_t AError) {
    return "System error " + std::to_string(AError);
}

namespace {

// The rest of AFile; nothing when it holds more than AMaxSize bytes. Raises ESiError when the
// system cannot read it.
std::optional<std::string> ReadToEnd(TSiFileHandle& AFile, std::size_t AMaxSize,
                                     std::size_t AReserve) {
    std::string LBytes;
    LBytes.reserve(std::min(AReserve, AMaxSize));
    char LBuffer[65536];
    for (;;) {
        std::size_t LRead = 0;
        if (!AFile.Read(LBuffer, sizeof LBuffer, LRead)) {
            throw ESiError("Stream read error");
        }
        if (LRead == 0) {
            return LBytes;
        }
        if (LRead > AMaxSize - LBytes.size()) {
            return std::nullopt;
        }
        LBytes.append(LBuffer, LRead);
    }
}

}  // namespace

std::string SiReadRegularFile(const std::string& AFileName, std::size_t AMaxSize) {
    const std::string LPrefix = "Cannot open file \"" + AFileName + "\". ";
    const auto LNotRegular = [&LPrefix] { return ESiError(LPrefix + "Not a regular file"); };
    const auto LTooLarge = [&LPrefix, AMaxSize] {
        return ESiError(LPrefix + "File larger than " + std::to_string(AMaxSize) + " bytes");
    };
    if (SiIsSpecialFile(AFileName)) {
        throw LNotRegular();
    }
    std::uint32_t LError = 0;
    TSiFileHandle LFile = SiCreateFile(AFileName, faRead, fsReadWrite, fcOpenExisting, LError);
    if (!LFile.IsOpen()) {
        throw ESiError(LPrefix + SiSystemErrorText(LError));
    }
    // The name may have been replaced between the look and the open: the handle decides.
    if (!LFile.IsRegular()) {
        throw LNotRegular();
    }
    const std::int64_t LSize = LFile.Size();
    if (LSize > 0 && static_cast<std::uint64_t>(LSize) > AMaxSize) {
        throw LTooLarge();
    }
    // A file that grows while it is read is held to the same limit.
    std::optional<std::string> LBytes =
        ReadToEnd(LFile, AMaxSize, LSize > 0 ? static_cast<std::size_t>(LSize) : 0);
    if (!LBytes) {
        throw LTooLarge();
    }
    return std::move(*LBytes);
}

std::string SiReadFile(const std::string& AFileName) {
    std::uint32_t LError = 0;
    TSiFileHandle LFile = SiCreateFile(AFileName, faRead, fsReadWrite, fcOpenExisting, LError);
    if (!LFile.IsOpen()) {
        throw ESiError("Cannot open file \"" + AFileName + "\". " + SiSystemErrorText(LError));
    }
    return *ReadToEnd(LFile, std::string().max_size(), 0);
}

}  // namespace deruz::logging
