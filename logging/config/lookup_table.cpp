// TSiLookupTable: storage and the conversion rules of the typed getters.
#include "logging/config/lookup_table.h"

#include <array>
#include <optional>

#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// A non-empty run of the digits 0 to 9 that fits a signed 32-bit integer.
std::optional<std::int32_t> ParseDigits(std::string_view AText) {
    if (AText.empty()) {
        return std::nullopt;
    }
    std::int64_t LValue = 0;
    for (const char LChar : AText) {
        if (LChar < '0' || LChar > '9') {
            return std::nullopt;
        }
        LValue = LValue * 10 + (LChar - '0');
        if (LValue > INT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(LValue);
}

template <class E, std::size_t N>
std::optional<E> ParseName(std::string_view AText, const std::array<std::string_view, N>& ANames) {
    const std::string LLower = SiLowerCase(AText);
    for (std::size_t LI = 0; LI < N; ++LI) {
        if (LLower == ANames[LI]) {
            return static_cast<E>(LI);
        }
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 6> kLevelNames = {"debug",   "verbose", "message",
                                                         "warning", "error",   "fatal"};
constexpr std::array<std::string_view, 5> kRotateNames = {"none", "hourly", "daily", "weekly",
                                                          "monthly"};

inline int HexValue(char AChar) {
    return AChar <= '9' ? AChar - '0' : AChar - 'A' + 10;
}

}  // namespace

void TSiLookupTable::Put(std::string_view AKey, std::string_view AValue) {
    FItems.Put(AKey, std::string(AValue));
}

void TSiLookupTable::Add(std::string_view AKey, std::string_view AValue) {
    FItems.Add(AKey, std::string(AValue));
}

std::string TSiLookupTable::GetStringValue(std::string_view AKey,
                                           std::string_view ADefaultValue) const {
    const std::string* LValue = FItems.Find(AKey);
    return LValue ? *LValue : std::string(ADefaultValue);
}

std::optional<std::string_view> TSiLookupTable::TrimmedValue(std::string_view AKey) const {
    const std::string* LStored = FItems.Find(AKey);
    if (LStored == nullptr || LStored->empty()) {
        return std::nullopt;
    }
    return SiTrim(*LStored);
}

bool TSiLookupTable::GetBooleanValue(std::string_view AKey, bool ADefaultValue) const {
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return ADefaultValue;
    }
    const std::string LLower = SiLowerCase(*LTrimmed);
    return LLower == "true" || LLower == "1" || LLower == "yes";
}

std::int32_t TSiLookupTable::GetIntegerValue(std::string_view AKey,
                                             std::int32_t ADefaultValue) const {
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return ADefaultValue;
    }
    return ParseDigits(*LTrimmed).value_or(ADefaultValue);
}

TSiLevel TSiLookupTable::GetLevelValue(std::string_view AKey, TSiLevel ADefaultValue) const {
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return ADefaultValue;
    }
    return ParseName<TSiLevel>(*LTrimmed, kLevelNames).value_or(ADefaultValue);
}

TSiFileRotate TSiLookupTable::GetRotateValue(std::string_view AKey,
                                             TSiFileRotate ADefaultValue) const {
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return ADefaultValue;
    }
    return ParseName<TSiFileRotate>(*LTrimmed, kRotateNames).value_or(ADefaultValue);
}

std::int64_t TSiLookupTable::GetSizeValue(std::string_view AKey, std::int64_t ADefaultValue) const {
    // Unsigned arithmetic: a huge default wraps instead of overflowing.
    const auto LDefault =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(ADefaultValue) * 1024u);
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return LDefault;
    }
    std::string_view LNumber = *LTrimmed;
    std::int64_t LFactor = 1024;
    if (LNumber.size() > 1) {
        const std::string LSuffix = SiLowerCase(LNumber.substr(LNumber.size() - 2));
        std::int64_t LSuffixFactor = 0;
        if (LSuffix == "kb") {
            LSuffixFactor = 1024;
        } else if (LSuffix == "mb") {
            LSuffixFactor = 1024 * 1024;
        } else if (LSuffix == "gb") {
            LSuffixFactor = 1024 * 1024 * 1024;
        }
        if (LSuffixFactor != 0) {
            LFactor = LSuffixFactor;
            LNumber = SiTrim(LNumber.substr(0, LNumber.size() - 2));
        }
    }
    const std::optional<std::int32_t> LValue = ParseDigits(LNumber);
    return LValue ? *LValue * LFactor : LDefault;
}

std::uint32_t TSiLookupTable::GetTimespanValue(std::string_view AKey,
                                               std::int64_t ADefaultValue) const {
    const auto LDefault =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(ADefaultValue) * 1000u);
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return LDefault;
    }
    std::string_view LNumber = *LTrimmed;
    std::uint64_t LFactor = 1000;
    if (!LNumber.empty()) {
        std::uint64_t LSuffixFactor = 0;
        switch (LNumber.back()) {
            case 's':
            case 'S':
                LSuffixFactor = 1000;
                break;
            case 'm':
            case 'M':
                LSuffixFactor = 60000;
                break;
            case 'h':
            case 'H':
                LSuffixFactor = 3600000;
                break;
            case 'd':
            case 'D':
                LSuffixFactor = 86400000;
                break;
            default:
                break;
        }
        if (LSuffixFactor != 0) {
            LFactor = LSuffixFactor;
            LNumber = SiTrim(LNumber.substr(0, LNumber.size() - 1));
        }
    }
    const std::optional<std::int32_t> LValue = ParseDigits(LNumber);
    return LValue ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(*LValue) * LFactor)
                  : LDefault;
}

TSiColor TSiLookupTable::GetColorValue(std::string_view AKey, TSiColor ADefaultValue) const {
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return ADefaultValue;
    }
    const std::string_view LText = *LTrimmed;
    std::string_view LRest;
    if (LText.substr(0, 2) == "0x" || LText.substr(0, 2) == "&H") {
        LRest = LText.substr(2);
    } else if (LText.substr(0, 1) == "$") {
        LRest = LText.substr(1);
    } else {
        return ADefaultValue;
    }
    std::string LHex = SiUpperCase(LRest);
    if (LHex.size() % 2 != 0) {
        LHex.push_back('0');
    }
    for (const char LChar : LHex) {
        if (!((LChar >= '0' && LChar <= '9') || (LChar >= 'A' && LChar <= 'F'))) {
            return ADefaultValue;
        }
    }
    // Three bytes are R, G, B; four are A, R, G, B with the alpha byte ignored.
    const std::size_t LBytes = LHex.size() / 2;
    if (LBytes != 3 && LBytes != 4) {
        return ADefaultValue;
    }
    const std::size_t LFirst = (LBytes - 3) * 2;
    const auto LByte = [&](std::size_t AIndex) {
        return HexValue(LHex[LFirst + AIndex * 2]) * 16 + HexValue(LHex[LFirst + AIndex * 2 + 1]);
    };
    return static_cast<TSiColor>(LByte(2) * 65536 + LByte(1) * 256 + LByte(0));
}

std::vector<std::uint8_t> TSiLookupTable::GetBytesValue(
    std::string_view AKey, std::size_t ASize,
    const std::vector<std::uint8_t>& ADefaultValue) const {
    const std::optional<std::string_view> LTrimmed = TrimmedValue(AKey);
    if (!LTrimmed) {
        return ADefaultValue;
    }
    const std::string_view LText = *LTrimmed;
    if (LText.empty()) {
        return ADefaultValue;
    }
    std::vector<std::uint8_t> LResult(LText.begin(), LText.end());
    LResult.resize(ASize, 0);
    return LResult;
}

}  // namespace deruz::logging
