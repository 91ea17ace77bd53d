// TSiStringList: indexing, sorting, line splitting and loading with encoding detection.
#include "logging/base/string_list.h"

#include <algorithm>
#include <iterator>

#include "logging/base/errors.h"
#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

[[noreturn]] void RaiseIndexError() {
    throw ESiError("Index out of bounds");
}

// UTF-16 bytes after the byte-order mark; a trailing odd byte cannot form a code unit and is
// dropped.
std::string DecodeUtf16(std::string_view ABytes, bool ABigEndian) {
    std::u16string LUnits;
    LUnits.reserve(ABytes.size() / 2);
    for (std::size_t LI = 0; LI + 1 < ABytes.size(); LI += 2) {
        const auto LFirst = static_cast<unsigned char>(ABytes[LI]);
        const auto LSecond = static_cast<unsigned char>(ABytes[LI + 1]);
        LUnits.push_back(
            static_cast<char16_t>(ABigEndian ? (LFirst << 8) | LSecond : (LSecond << 8) | LFirst));
    }
    return SiUtf16ToUtf8(LUnits);
}

}  // namespace

const std::string& TSiStringList::Get(std::size_t AIndex) const {
    if (AIndex >= FItems.size()) {
        RaiseIndexError();
    }
    return FItems[AIndex];
}

void TSiStringList::Put(std::size_t AIndex, std::string AValue) {
    if (AIndex >= FItems.size()) {
        RaiseIndexError();
    }
    FItems[AIndex] = std::move(AValue);
}

void TSiStringList::Delete(std::size_t AIndex) {
    if (AIndex >= FItems.size()) {
        RaiseIndexError();
    }
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(AIndex));
}

std::ptrdiff_t TSiStringList::IndexOf(std::string_view AValue) const noexcept {
    const auto LFound = std::find(FItems.begin(), FItems.end(), AValue);
    return LFound == FItems.end() ? -1 : std::distance(FItems.begin(), LFound);
}

void TSiStringList::Sort() {
    std::sort(FItems.begin(), FItems.end(), [](const std::string& A_, const std::string& AB) {
        return SiCompareOrdinal(A_, AB) < 0;
    });
}

std::string TSiStringList::Text() const {
    std::size_t LSize = 0;
    for (const std::string& LItem : FItems) {
        LSize += LItem.size() + 2;
    }
    std::string LText;
    LText.reserve(LSize);
    for (const std::string& LItem : FItems) {
        LText.append(LItem);
        LText.append("\r\n");
    }
    return LText;
}

void TSiStringList::SetText(std::string_view AText) {
    std::vector<std::string> LItems;
    std::size_t LStart = 0;
    while (LStart < AText.size()) {
        const std::size_t LEnd = AText.find_first_of("\r\n", LStart);
        if (LEnd == std::string_view::npos) {
            LItems.emplace_back(AText.substr(LStart));
            break;
        }
        LItems.emplace_back(AText.substr(LStart, LEnd - LStart));
        LStart = LEnd + 1;
        if (AText[LEnd] == '\r' && LStart < AText.size() && AText[LStart] == '\n') {
            ++LStart;
        }
    }
    FItems.swap(LItems);
}

void TSiStringList::LoadFromFile(const std::string& AFileName) {
    LoadFromBytes(SiReadFile(AFileName));
}

void TSiStringList::LoadFromStream(std::istream& AStream) {
    const std::string LBytes{std::istreambuf_iterator<char>(AStream),
                             std::istreambuf_iterator<char>()};
    LoadFromBytes(LBytes);
}

void TSiStringList::LoadFromBytes(std::string_view ABytes) {
    if (ABytes.substr(0, 3) == "\xEF\xBB\xBF") {
        // Invalid sequences become U+FFFD, so that the rest of the library sees valid UTF-8.
        SetText(SiUtf16ToUtf8(SiUtf8ToUtf16(ABytes.substr(3))));
    } else if (ABytes.size() > 2 && ABytes.substr(0, 2) == "\xFF\xFE") {
        SetText(DecodeUtf16(ABytes.substr(2), false));
    } else if (ABytes.size() > 2 && ABytes.substr(0, 2) == "\xFE\xFF") {
        SetText(DecodeUtf16(ABytes.substr(2), true));
    } else {
        SetText(SiAnsiToUtf8(ABytes));
    }
}

}  // namespace deruz::logging
