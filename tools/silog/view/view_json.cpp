#include "tools/silog/view/view_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "logging/base/strings.h"

namespace deruz::silog::view {

using namespace deruz::logging;

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendUnicodeEscape(std::string& AOut, unsigned ACode) {
    AOut += "\\u";
    AOut += kHex[(ACode >> 12) & 15];
    AOut += kHex[(ACode >> 8) & 15];
    AOut += kHex[(ACode >> 4) & 15];
    AOut += kHex[ACode & 15];
}

}  // namespace

void AppendJsonString(std::string& AOut, std::string_view AText) {
    AOut += '"';
    std::size_t LI = 0;
    const std::size_t LN = AText.size();
    while (LI < LN) {
        // Runs of plain ASCII are copied in one piece: titles are mostly that.
        std::size_t LRun = LI;
        while (LRun < LN) {
            const auto LC = static_cast<unsigned char>(AText[LRun]);
            if (LC < 0x20 || LC >= 0x80 || LC == '"' || LC == '\\' || LC == '<' || LC == '>' ||
                LC == '&') {
                break;
            }
            ++LRun;
        }
        if (LRun > LI) {
            AOut.append(AText.data() + LI, LRun - LI);
            LI = LRun;
            if (LI == LN) break;
        }
        const auto LC = static_cast<unsigned char>(AText[LI]);
        if (LC < 0x80) {
            switch (LC) {
                case '"':
                    AOut += "\\\"";
                    break;
                case '\\':
                    AOut += "\\\\";
                    break;
                case '\n':
                    AOut += "\\n";
                    break;
                case '\r':
                    AOut += "\\r";
                    break;
                case '\t':
                    AOut += "\\t";
                    break;
                default:
                    AppendUnicodeEscape(AOut, LC);
                    break;
            }
            ++LI;
            continue;
        }
        const std::size_t LStart = LI;
        const char32_t LCode = SiDecodeUtf8(AText, LI);
        if (LCode == 0xFFFD && !(LI - LStart == 3 && AText.substr(LStart, 3) == "\xEF\xBF\xBD")) {
            AOut += "\\ufffd";
        } else if (LCode == 0x2028 || LCode == 0x2029) {
            AppendUnicodeEscape(AOut, static_cast<unsigned>(LCode));
        } else {
            AOut.append(AText.data() + LStart, LI - LStart);
        }
    }
    AOut += '"';
}

void AppendJsonNumber(std::string& AOut, double AValue) {
    if (!std::isfinite(AValue)) {
        AOut += "null";
        return;
    }
    char LText[64];
    const auto LResult = std::to_chars(LText, LText + sizeof LText, AValue);
    AOut.append(LText, LResult.ptr);
}

std::string_view TitleExcerpt(std::string_view AText, std::size_t AChars, bool& ACut) {
    ACut = false;
    if (AText.size() <= AChars) return AText;  // no more bytes than characters allowed
    std::size_t LI = 0;
    std::size_t LChars = 0;
    while (LI < AText.size() && LChars < AChars) {
        SiDecodeUtf8(AText, LI);
        ++LChars;
    }
    if (LI >= AText.size()) return AText;
    ACut = true;
    return AText.substr(0, LI);
}

void AppendBase64(std::string& AOut, std::string_view ABytes) {
    static const char LTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* LP = reinterpret_cast<const unsigned char*>(ABytes.data());
    const std::size_t LN = ABytes.size();
    AOut.reserve(AOut.size() + (LN + 2) / 3 * 4);
    std::size_t LI = 0;
    for (; LI + 3 <= LN; LI += 3) {
        const unsigned LV = (LP[LI] << 16) | (LP[LI + 1] << 8) | LP[LI + 2];
        AOut += LTable[LV >> 18];
        AOut += LTable[(LV >> 12) & 63];
        AOut += LTable[(LV >> 6) & 63];
        AOut += LTable[LV & 63];
    }
    if (LN - LI == 1) {
        const unsigned LV = LP[LI] << 16;
        AOut += LTable[LV >> 18];
        AOut += LTable[(LV >> 12) & 63];
        AOut += "==";
    } else if (LN - LI == 2) {
        const unsigned LV = (LP[LI] << 16) | (LP[LI + 1] << 8);
        AOut += LTable[LV >> 18];
        AOut += LTable[(LV >> 12) & 63];
        AOut += LTable[(LV >> 6) & 63];
        AOut += '=';
    }
}

void AppendHex(std::string& AOut, std::string_view ABytes) {
    AOut.reserve(AOut.size() + ABytes.size() * 2);
    for (const char LC : ABytes) {
        const auto LB = static_cast<unsigned char>(LC);
        AOut += kHex[LB >> 4];
        AOut += kHex[LB & 15];
    }
}

void AppendCsvCell(std::string& AOut, std::string_view AText) {
    const bool LFormula = !AText.empty() && (AText[0] == '=' || AText[0] == '+' ||
                                             AText[0] == '-' || AText[0] == '@');
    const bool LQuote = AText.find_first_of(",\"\r\n") != std::string_view::npos;
    if (LQuote) AOut += '"';
    if (LFormula) AOut += '\'';
    for (const char LC : AText) {
        if (LC == '"') AOut += '"';
        AOut += LC;
    }
    if (LQuote) AOut += '"';
}

std::string TimestampText(TDateTime AValue) {
    if (!SiIsCalendarDate(AValue)) return {};
    const TSiDateTimeParts LP = SiDecodeDateTime(AValue);
    char LText[40];
    std::snprintf(LText, sizeof LText, "%04d-%02d-%02d %02d:%02d:%02d.%03d", LP.Year, LP.Month,
                  LP.Day, LP.Hour, LP.Minute, LP.Second, LP.Millisecond);
    return LText;
}

std::optional<double> LeadingNumber(std::string_view AText, bool AWhole) {
    std::size_t LI = 0;
    while (LI < AText.size() && AText[LI] == ' ') ++LI;
    std::string LNumber;
    if (LI < AText.size() && (AText[LI] == '-' || AText[LI] == '+')) LNumber += AText[LI++];
    bool LDigits = false;
    bool LSeparator = false;
    while (LI < AText.size()) {
        const char LC = AText[LI];
        if (LC >= '0' && LC <= '9') {
            LNumber += LC;
            LDigits = true;
        } else if ((LC == '.' || LC == ',') && !LSeparator) {
            LNumber += '.';
            LSeparator = true;
        } else {
            break;
        }
        ++LI;
    }
    if (!LDigits) return std::nullopt;
    if (LI < AText.size() && (AText[LI] == 'e' || AText[LI] == 'E')) {
        std::size_t LJ = LI + 1;
        std::string LExponent = "e";
        if (LJ < AText.size() && (AText[LJ] == '-' || AText[LJ] == '+')) LExponent += AText[LJ++];
        const std::size_t LFirst = LJ;
        while (LJ < AText.size() && AText[LJ] >= '0' && AText[LJ] <= '9') LExponent += AText[LJ++];
        if (LJ > LFirst) {
            LNumber += LExponent;
            LI = LJ;
        }
    }
    if (AWhole && LI != AText.size()) return std::nullopt;
    if (LNumber[0] == '+') LNumber.erase(0, 1);  // from_chars takes no plus sign
    double LValue = 0;
    const auto LResult = std::from_chars(LNumber.data(), LNumber.data() + LNumber.size(), LValue);
    if (LResult.ec != std::errc() || !std::isfinite(LValue)) return std::nullopt;
    return LValue;
}

std::string PercentDecode(std::string_view AText, bool APlusIsSpace) {
    const auto LDigit = [](char AC) -> int {
        if (AC >= '0' && AC <= '9') return AC - '0';
        if (AC >= 'a' && AC <= 'f') return AC - 'a' + 10;
        if (AC >= 'A' && AC <= 'F') return AC - 'A' + 10;
        return -1;
    };
    std::string LOut;
    LOut.reserve(AText.size());
    for (std::size_t LI = 0; LI < AText.size(); ++LI) {
        const char LC = AText[LI];
        if (LC == '+' && APlusIsSpace) {
            LOut += ' ';
        } else if (LC == '%' && LI + 2 < AText.size() && LDigit(AText[LI + 1]) >= 0 &&
                   LDigit(AText[LI + 2]) >= 0) {
            LOut += static_cast<char>(LDigit(AText[LI + 1]) * 16 + LDigit(AText[LI + 2]));
            LI += 2;
        } else {
            LOut += LC;
        }
    }
    return LOut;
}

}  // namespace deruz::silog::view
