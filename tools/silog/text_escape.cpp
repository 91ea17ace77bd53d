#include "tools/silog/text_escape.h"

#include <cstdint>

#include "logging/base/strings.h"

namespace deruz::silog {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendByte(std::string& AOut, std::uint8_t AByte) {
    AOut += "\\x";
    AOut += kHex[AByte >> 4];
    AOut += kHex[AByte & 15];
}

void AppendCode(std::string& AOut, char32_t ACode) {
    AOut += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) AOut += kHex[(ACode >> shift) & 15];
}

bool IsReordering(char32_t ACode) {
    return (ACode >= 0x202A && ACode <= 0x202E) || (ACode >= 0x2066 && ACode <= 0x2069) ||
           ACode == 0x2028 || ACode == 0x2029;
}

// The length of the UTF-8 sequence that the lead byte ALead announces; 1 for a byte that
// cannot start one.
std::size_t SequenceLength(std::uint8_t ALead) {
    if (ALead >= 0xF0 && ALead <= 0xF4) return 4;
    if (ALead >= 0xE0 && ALead <= 0xEF) return 3;
    if (ALead >= 0xC2 && ALead <= 0xDF) return 2;
    return 1;
}

// Escapes AText into AOut. With AKeepLines, LF and tab are copied and CR LF becomes LF.
void Escape(std::string_view AText, bool AKeepLines, std::string& AOut) {
    std::size_t i = 0;
    while (i < AText.size()) {
        const std::size_t start = i;
        const char32_t c = logging::SiDecodeUtf8(AText, i);
        if (c == 0xFFFD && AText.substr(start, i - start) != "\xEF\xBF\xBD") {
            for (std::size_t k = start; k < i; ++k) {
                AppendByte(AOut, static_cast<std::uint8_t>(AText[k]));
            }
        } else if (AKeepLines && (c == U'\n' || c == U'\t')) {
            AOut += static_cast<char>(c);
        } else if (AKeepLines && c == U'\r' && i < AText.size() && AText[i] == '\n') {
            // the LF that follows ends the line
        } else if (c == U'\n') {
            AOut += "\\n";
        } else if (c == U'\r') {
            AOut += "\\r";
        } else if (c == U'\t') {
            AOut += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            AppendByte(AOut, static_cast<std::uint8_t>(c));
        } else if ((c >= 0x80 && c <= 0x9F) || IsReordering(c)) {
            AppendCode(AOut, c);
        } else {
            AOut.append(AText.substr(start, i - start));
        }
    }
}

}  // namespace

std::string EscapeText(std::string_view AText) {
    std::string out;
    out.reserve(AText.size());
    Escape(AText, false, out);
    return out;
}

std::string TStreamEscaper::Feed(std::string_view APiece) {
    FPending.append(APiece);
    // Hold back a sequence cut off at the end, and a CR whose LF may come with the next piece.
    std::size_t keep = 0;
    const std::size_t n = FPending.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto byte = static_cast<std::uint8_t>(FPending[n - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        if (SequenceLength(byte) > back) keep = back;
        break;
    }
    if (keep == 0 && n > 0 && FPending.back() == '\r') keep = 1;
    std::string out;
    Escape(std::string_view(FPending).substr(0, n - keep), true, out);
    FPending.erase(0, n - keep);
    return out;
}

std::string TStreamEscaper::Finish() {
    std::string out;
    Escape(FPending, true, out);
    FPending.clear();
    return out;
}

}  // namespace deruz::silog
