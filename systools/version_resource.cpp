// The version resource tree walk. A resource is a tree of blocks, each aligned to 4 bytes
// from the start of the resource:
//   wide form:  wLength, wValueLength, wType (0 binary, 1 text), key in UTF-16 + NUL
//   older form: wLength, wValueLength, key in 8-bit characters + NUL
// then padding, the value, padding and the child blocks up to wLength. The root is
// "VS_VERSION_INFO" with a 52-byte fixed part; its children "StringFileInfo" hold string
// tables keyed by language and code page, whose children are the key=value strings.
#include "systools/version_resource.h"

#include <algorithm>

namespace deruz::systools {

namespace {

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;

wchar_t AsciiLower(wchar_t AC) {
    return (AC >= L'A' && AC <= L'Z') ? static_cast<wchar_t>(AC + (L'a' - L'A')) : AC;
}

bool SameKey(std::wstring_view AA, std::wstring_view AB) {
    return AA.size() == AB.size() &&
           std::equal(AA.begin(), AA.end(), AB.begin(),
                      [](wchar_t AX, wchar_t AY) { return AsciiLower(AX) == AsciiLower(AY); });
}

bool IsHexDigit(wchar_t AC) {
    return (AC >= L'0' && AC <= L'9') || (AC >= L'a' && AC <= L'f') || (AC >= L'A' && AC <= L'F');
}

std::size_t Align4(std::size_t AOffset) {
    return (AOffset + 3) & ~static_cast<std::size_t>(3);
}

// One block as found in the buffer; its value and children lie before End.
struct TBlock {
    std::size_t End = 0;
    std::wstring Key;
    std::uint16_t ValueLength = 0;  // as declared
    bool TextValue = false;         // value length counts characters, not bytes
    std::size_t ValueStart = 0;
    std::size_t ValueSize = 0;  // bytes, cut at the block's end
    std::size_t ChildrenStart = 0;
};

// Reads blocks of one form out of the buffer, never past a given limit.
class TBlockReader {
  public:
    TBlockReader(std::span<const std::uint8_t> AData, bool AWide) : FData(AData), FWide(AWide) {}

    std::uint16_t Word(std::size_t AOffset) const {
        return static_cast<std::uint16_t>(FData[AOffset] | (FData[AOffset + 1] << 8));
    }

    std::uint32_t DWord(std::size_t AOffset) const {
        return static_cast<std::uint32_t>(Word(AOffset)) |
               (static_cast<std::uint32_t>(Word(AOffset + 2)) << 16);
    }

    // Reads the block at start, which must end at or before limit.
    bool ReadBlock(std::size_t AStart, std::size_t ALimit, TBlock& ABlock) const {
        const std::size_t LHeader = FWide ? 6 : 4;
        if (AStart + LHeader > ALimit) return false;
        const std::size_t LLength = Word(AStart);
        if (LLength < LHeader || AStart + LLength > ALimit) return false;
        ABlock.End = AStart + LLength;
        ABlock.ValueLength = Word(AStart + 2);
        ABlock.TextValue = FWide && Word(AStart + 4) == 1;

        std::size_t LPos = AStart + LHeader;
        if (!ReadText(LPos, ABlock.End, ABlock.Key, &LPos)) return false;

        // A value may be declared longer than its block (some resource compilers count a
        // text value in bytes, not characters): it is cut at the block's end.
        ABlock.ValueStart = std::min(Align4(LPos), ABlock.End);
        const std::size_t LDeclared = ABlock.TextValue ? ABlock.ValueLength * std::size_t{2}
                                                       : std::size_t{ABlock.ValueLength};
        ABlock.ValueSize = std::min(LDeclared, ABlock.End - ABlock.ValueStart);
        ABlock.ChildrenStart = std::min(Align4(ABlock.ValueStart + ABlock.ValueSize), ABlock.End);
        return true;
    }

    // Calls visit(child) for each child of parent in order; visit returns false to stop the
    // walk. Gives false when a child is malformed.
    template <typename Visit>
    bool ForEachChild(const TBlock& AParent, Visit AVisit) const {
        std::size_t LPos = AParent.ChildrenStart;
        for (;;) {
            LPos = Align4(LPos);
            if (LPos >= AParent.End) return true;
            TBlock LChild;
            if (!ReadBlock(LPos, AParent.End, LChild)) return false;
            if (!AVisit(LChild)) return true;
            LPos = LChild.End;
        }
    }

    // The value of a string block: its declared characters, cut at the first NUL.
    std::wstring TextValue(const TBlock& ABlock) const {
        std::wstring LText;
        ReadText(ABlock.ValueStart, ABlock.ValueStart + ABlock.ValueSize, LText, nullptr);
        return LText;
    }

  private:
    // Reads characters of this form from pos up to a NUL or limit. With next given, a NUL
    // is required and next receives the offset after it; without, the text may simply end.
    bool ReadText(std::size_t APos, std::size_t ALimit, std::wstring& AText,
                  std::size_t* ANext) const {
        const std::size_t LUnit = FWide ? 2 : 1;
        AText.clear();
        while (APos + LUnit <= ALimit) {
            // 8-bit characters are taken as code points 0..255: keys are ASCII, and version
            // texts are digits, dots and blanks.
            const wchar_t LC =
                FWide ? static_cast<wchar_t>(Word(APos)) : static_cast<wchar_t>(FData[APos]);
            APos += LUnit;
            if (LC == 0) {
                if (ANext != nullptr) *ANext = APos;
                return true;
            }
            AText.push_back(LC);
        }
        return ANext == nullptr;
    }

    std::span<const std::uint8_t> FData;
    bool FWide;
};

// Deletes every "0x", then every character that is not a hexadecimal digit.
std::wstring CleanTableKey(const std::wstring& AKey) {
    std::wstring LWithoutPrefixes;
    for (std::size_t LI = 0; LI < AKey.size(); ++LI) {
        if (AKey[LI] == L'0' && LI + 1 < AKey.size() && AKey[LI + 1] == L'x') {
            ++LI;
            continue;
        }
        LWithoutPrefixes.push_back(AKey[LI]);
    }
    std::wstring LCleaned;
    std::copy_if(LWithoutPrefixes.begin(), LWithoutPrefixes.end(), std::back_inserter(LCleaned),
                 IsHexDigit);
    return LCleaned;
}

std::uint16_t HexWord(std::wstring_view ADigits) {
    std::uint16_t LValue = 0;
    for (wchar_t LC : ADigits) {
        const int LDigit = (LC <= L'9') ? LC - L'0' : AsciiLower(LC) - L'a' + 10;
        LValue = static_cast<std::uint16_t>(LValue * 16 + LDigit);
    }
    return LValue;
}

bool ReadStringFileInfo(const TBlockReader& AReader, const TBlock& AInfo,
                        std::vector<TVersionStringTable>& ATables) {
    bool LValid = true;
    const bool LWalked = AReader.ForEachChild(AInfo, [&](const TBlock& ATableBlock) {
        const std::wstring LKey = CleanTableKey(ATableBlock.Key);
        if (LKey.size() != 8 || ATableBlock.ValueLength != 0) {
            LValid = false;
            return false;
        }
        TVersionStringTable LTable;
        LTable.LanguageId = HexWord(std::wstring_view(LKey).substr(0, 4));
        LTable.CodePage = HexWord(std::wstring_view(LKey).substr(4, 4));
        const bool LStringsWalked = AReader.ForEachChild(ATableBlock, [&](const TBlock& AString) {
            LTable.Strings.emplace_back(AString.Key, AReader.TextValue(AString));
            return true;
        });
        if (!LStringsWalked) {
            LValid = false;
            return false;
        }
        ATables.push_back(std::move(LTable));
        return true;
    });
    return LWalked && LValid;
}

}  // namespace

bool TFileVersionInfoReader::Read(std::span<const std::uint8_t> AData) {
    FTables.clear();
    try {
        // The third word is wType (0 or 1) in the wide form, and the first two key
        // characters ("VS") in the older form.
        if (AData.size() < 6) return false;
        const std::uint16_t LThird = static_cast<std::uint16_t>(AData[4] | (AData[5] << 8));
        const TBlockReader LReader(AData, LThird == 0 || LThird == 1);

        TBlock LRoot;
        if (!LReader.ReadBlock(0, AData.size(), LRoot)) return false;
        if (!SameKey(LRoot.Key, L"VS_VERSION_INFO")) return false;
        if (LRoot.ValueLength != kFixedInfoSize || LRoot.ValueSize != kFixedInfoSize ||
            LReader.DWord(LRoot.ValueStart) != kFixedInfoSignature) {
            return false;
        }

        std::vector<TVersionStringTable> LTables;
        bool LValid = true;
        const bool LWalked = LReader.ForEachChild(LRoot, [&](const TBlock& AChild) {
            if (SameKey(AChild.Key, L"StringFileInfo")) {
                LValid = ReadStringFileInfo(LReader, AChild, LTables);
                return LValid;
            }
            // The language list of "VarFileInfo" is not needed; any other block ends the
            // walk, keeping what was read so far.
            return SameKey(AChild.Key, L"VarFileInfo");
        });
        if (!LWalked || !LValid) return false;
        FTables = std::move(LTables);
        return true;
    } catch (...) {
        FTables.clear();
        return false;
    }
}

std::wstring TFileVersionInfoReader::FirstTableValue(std::wstring_view AKey) const {
    if (FTables.empty()) return {};
    for (const auto& [key, value] : FTables.front().Strings) {
        if (SameKey(key, AKey)) return value;
    }
    return {};
}

std::wstring FileVersionFromResource(std::span<const std::uint8_t> AData) {
    try {
        TFileVersionInfoReader LReader;
        if (!LReader.Read(AData)) return {};
        std::wstring LVersion;
        for (wchar_t LC : LReader.FirstTableValue(L"FileVersion")) {
            if (LC == L' ') continue;
            LVersion.push_back(LC == L',' ? L'.' : LC);
        }
        return LVersion;
    } catch (...) {
        return {};
    }
}

}  // namespace deruz::systools
