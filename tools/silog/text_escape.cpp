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
    for (int LShift = 12; LShift >= 0; LShift -= 4) AOut += kHex[(ACode >> LShift) & 15];
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
    std::size_t LI = 0;
    while (LI < AText.size()) {
        const std::size_t LStart = LI;
        const char32_t LC = logging::SiDecodeUtf8(AText, LI);
        if (LC == 0xFFFD && AText.substr(LStart, LI - LStart) != "\xEF\xBF\xBD") {
            for (std::size_t LK = LStart; LK < LI; ++LK) {
                AppendByte(AOut, static_cast<std::uint8_t>(AText[LK]));
            }
        } else if (AKeepLines && (LC == U'\n' || LC == U'\t')) {
            AOut += static_cast<char>(LC);
        } else if (AKeepLines && LC == U'\r' && LI < AText.size() && AText[LI] == '\n') {
            // the LF that follows ends the line
        } else if (LC == U'\n') {
            AOut += "\\n";
        } else if (LC == U'\r') {
            AOut += "\\r";
        } else if (LC == U'\t') {
            AOut += "\\t";
        } else if (LC < 0x20 || LC == 0x7F) {
            AppendByte(AOut, static_cast<std::uint8_t>(LC));
        } else if ((LC >= 0x80 && LC <= 0x9F) || IsReordering(LC)) {
            AppendCode(AOut, LC);
        } else {
            AOut.append(AText.substr(LStart, LI - LStart));
        }
    }
}

}  // namespace

std::string EscapeText(std::string_view AText) {
    std::string LOut;
    LOut.reserve(AText.size());
    Escape(AText, false, LOut);
    return LOut;
}

std::string TStreamEscaper::Feed(std::string_view APiece) {
    FPending.append(APiece);
    // Hold back a sequence cut off at the end, and a CR whose LF may come with the next piece.
    std::size_t LKeep = 0;
    const std::size_t LN = FPending.size();
    for (std::size_t LBack = 1; LBack <= 3 && LBack <= LN; ++LBack) {
        const auto LByte = static_cast<std::uint8_t>(FPending[LN - LBack]);
        if ((LByte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        if (SequenceLength(LByte) > LBack) LKeep = LBack;
        break;
    }
    if (LKeep == 0 && LN > 0 && FPending.back() == '\r') LKeep = 1;
    std::string LOut;
    Escape(std::string_view(FPending).substr(0, LN - LKeep), true, LOut);
    FPending.erase(0, LN - LKeep);
    return LOut;
}

std::string TStreamEscaper::Finish() {
    std::string LOut;
    Escape(FPending, true, LOut);
    FPending.clear();
    return LOut;
}

}  // namespace deruz::silog
