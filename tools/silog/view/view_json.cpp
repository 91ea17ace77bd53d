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
    std::size_t i = 0;
    const std::size_t n = AText.size();
    while (i < n) {
        // Runs of plain ASCII are copied in one piece: titles are mostly that.
        std::size_t run = i;
        while (run < n) {
            const auto c = static_cast<unsigned char>(AText[run]);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\' || c == '<' || c == '>' ||
                c == '&') {
                break;
            }
            ++run;
        }
        if (run > i) {
            AOut.append(AText.data() + i, run - i);
            i = run;
            if (i == n) break;
        }
        const auto c = static_cast<unsigned char>(AText[i]);
        if (c < 0x80) {
            switch (c) {
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
                    AppendUnicodeEscape(AOut, c);
                    break;
            }
            ++i;
            continue;
        }
        const std::size_t start = i;
        const char32_t code = SiDecodeUtf8(AText, i);
        if (code == 0xFFFD && !(i - start == 3 && AText.substr(start, 3) == "\xEF\xBF\xBD")) {
            AOut += "\\ufffd";
        } else if (code == 0x2028 || code == 0x2029) {
            AppendUnicodeEscape(AOut, static_cast<unsigned>(code));
        } else {
            AOut.append(AText.data() + start, i - start);
        }
    }
    AOut += '"';
}

void AppendJsonNumber(std::string& AOut, double AValue) {
    if (!std::isfinite(AValue)) {
        AOut += "null";
        return;
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, AValue);
    AOut.append(text, result.ptr);
}

std::string_view TitleExcerpt(std::string_view AText, std::size_t AChars, bool& ACut) {
    ACut = false;
    if (AText.size() <= AChars) return AText;  // no more bytes than characters allowed
    std::size_t i = 0;
    std::size_t chars = 0;
    while (i < AText.size() && chars < AChars) {
        SiDecodeUtf8(AText, i);
        ++chars;
    }
    if (i >= AText.size()) return AText;
    ACut = true;
    return AText.substr(0, i);
}

void AppendBase64(std::string& AOut, std::string_view ABytes) {
    static const char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* p = reinterpret_cast<const unsigned char*>(ABytes.data());
    const std::size_t n = ABytes.size();
    AOut.reserve(AOut.size() + (n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        AOut += kTable[v >> 18];
        AOut += kTable[(v >> 12) & 63];
        AOut += kTable[(v >> 6) & 63];
        AOut += kTable[v & 63];
    }
    if (n - i == 1) {
        const unsigned v = p[i] << 16;
        AOut += kTable[v >> 18];
        AOut += kTable[(v >> 12) & 63];
        AOut += "==";
    } else if (n - i == 2) {
        const unsigned v = (p[i] << 16) | (p[i + 1] << 8);
        AOut += kTable[v >> 18];
        AOut += kTable[(v >> 12) & 63];
        AOut += kTable[(v >> 6) & 63];
        AOut += '=';
    }
}

void AppendHex(std::string& AOut, std::string_view ABytes) {
    AOut.reserve(AOut.size() + ABytes.size() * 2);
    for (const char c : ABytes) {
        const auto b = static_cast<unsigned char>(c);
        AOut += kHex[b >> 4];
        AOut += kHex[b & 15];
    }
}

void AppendCsvCell(std::string& AOut, std::string_view AText) {
    const bool formula = !AText.empty() &&
                         (AText[0] == '=' || AText[0] == '+' || AText[0] == '-' || AText[0] == '@');
    const bool quote = AText.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quote) AOut += '"';
    if (formula) AOut += '\'';
    for (const char c : AText) {
        if (c == '"') AOut += '"';
        AOut += c;
    }
    if (quote) AOut += '"';
}

std::string TimestampText(TDateTime AValue) {
    if (!SiIsCalendarDate(AValue)) return {};
    const TSiDateTimeParts p = SiDecodeDateTime(AValue);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second, p.Millisecond);
    return text;
}

std::optional<double> LeadingNumber(std::string_view AText, bool AWhole) {
    std::size_t i = 0;
    while (i < AText.size() && AText[i] == ' ') ++i;
    std::string number;
    if (i < AText.size() && (AText[i] == '-' || AText[i] == '+')) number += AText[i++];
    bool digits = false;
    bool separator = false;
    while (i < AText.size()) {
        const char c = AText[i];
        if (c >= '0' && c <= '9') {
            number += c;
            digits = true;
        } else if ((c == '.' || c == ',') && !separator) {
            number += '.';
            separator = true;
        } else {
            break;
        }
        ++i;
    }
    if (!digits) return std::nullopt;
    if (i < AText.size() && (AText[i] == 'e' || AText[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < AText.size() && (AText[j] == '-' || AText[j] == '+')) exponent += AText[j++];
        const std::size_t first = j;
        while (j < AText.size() && AText[j] >= '0' && AText[j] <= '9') exponent += AText[j++];
        if (j > first) {
            number += exponent;
            i = j;
        }
    }
    if (AWhole && i != AText.size()) return std::nullopt;
    if (number[0] == '+') number.erase(0, 1);  // from_chars takes no plus sign
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string PercentDecode(std::string_view AText, bool APlusIsSpace) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(AText.size());
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '+' && APlusIsSpace) {
            out += ' ';
        } else if (c == '%' && i + 2 < AText.size() && digit(AText[i + 1]) >= 0 &&
                   digit(AText[i + 2]) >= 0) {
            out += static_cast<char>(digit(AText[i + 1]) * 16 + digit(AText[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace deruz::silog::view
