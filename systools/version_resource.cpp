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

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

bool SameKey(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return AsciiLower(x) == AsciiLower(y); });
}

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

std::size_t Align4(std::size_t offset) {
    return (offset + 3) & ~static_cast<std::size_t>(3);
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
    TBlockReader(std::span<const std::uint8_t> data, bool wide) : data_(data), wide_(wide) {}

    std::uint16_t Word(std::size_t offset) const {
        return static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    }

    std::uint32_t DWord(std::size_t offset) const {
        return static_cast<std::uint32_t>(Word(offset)) |
               (static_cast<std::uint32_t>(Word(offset + 2)) << 16);
    }

    // Reads the block at start, which must end at or before limit.
    bool ReadBlock(std::size_t start, std::size_t limit, TBlock& block) const {
        const std::size_t header = wide_ ? 6 : 4;
        if (start + header > limit) return false;
        const std::size_t length = Word(start);
        if (length < header || start + length > limit) return false;
        block.End = start + length;
        block.ValueLength = Word(start + 2);
        block.TextValue = wide_ && Word(start + 4) == 1;

        std::size_t pos = start + header;
        if (!ReadText(pos, block.End, block.Key, &pos)) return false;

        // A value may be declared longer than its block (some resource compilers count a
        // text value in bytes, not characters): it is cut at the block's end.
        block.ValueStart = std::min(Align4(pos), block.End);
        const std::size_t declared =
            block.TextValue ? block.ValueLength * std::size_t{2} : std::size_t{block.ValueLength};
        block.ValueSize = std::min(declared, block.End - block.ValueStart);
        block.ChildrenStart = std::min(Align4(block.ValueStart + block.ValueSize), block.End);
        return true;
    }

    // Calls visit(child) for each child of parent in order; visit returns false to stop the
    // walk. Gives false when a child is malformed.
    template <typename Visit>
    bool ForEachChild(const TBlock& parent, Visit visit) const {
        std::size_t pos = parent.ChildrenStart;
        for (;;) {
            pos = Align4(pos);
            if (pos >= parent.End) return true;
            TBlock child;
            if (!ReadBlock(pos, parent.End, child)) return false;
            if (!visit(child)) return true;
            pos = child.End;
        }
    }

    // The value of a string block: its declared characters, cut at the first NUL.
    std::wstring TextValue(const TBlock& block) const {
        std::wstring text;
        ReadText(block.ValueStart, block.ValueStart + block.ValueSize, text, nullptr);
        return text;
    }

  private:
    // Reads characters of this form from pos up to a NUL or limit. With next given, a NUL
    // is required and next receives the offset after it; without, the text may simply end.
    bool ReadText(std::size_t pos, std::size_t limit, std::wstring& text, std::size_t* next) const {
        const std::size_t unit = wide_ ? 2 : 1;
        text.clear();
        while (pos + unit <= limit) {
            // 8-bit characters are taken as code points 0..255: keys are ASCII, and version
            // texts are digits, dots and blanks.
            const wchar_t c =
                wide_ ? static_cast<wchar_t>(Word(pos)) : static_cast<wchar_t>(data_[pos]);
            pos += unit;
            if (c == 0) {
                if (next != nullptr) *next = pos;
                return true;
            }
            text.push_back(c);
        }
        return next == nullptr;
    }

    std::span<const std::uint8_t> data_;
    bool wide_;
};

// Deletes every "0x", then every character that is not a hexadecimal digit.
std::wstring CleanTableKey(const std::wstring& key) {
    std::wstring without_prefixes;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == L'0' && i + 1 < key.size() && key[i + 1] == L'x') {
            ++i;
            continue;
        }
        without_prefixes.push_back(key[i]);
    }
    std::wstring cleaned;
    std::copy_if(without_prefixes.begin(), without_prefixes.end(), std::back_inserter(cleaned),
                 IsHexDigit);
    return cleaned;
}

std::uint16_t HexWord(std::wstring_view digits) {
    std::uint16_t value = 0;
    for (wchar_t c : digits) {
        const int digit = (c <= L'9') ? c - L'0' : AsciiLower(c) - L'a' + 10;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

bool ReadStringFileInfo(const TBlockReader& reader, const TBlock& info,
                        std::vector<TVersionStringTable>& tables) {
    bool valid = true;
    const bool walked = reader.ForEachChild(info, [&](const TBlock& table_block) {
        const std::wstring key = CleanTableKey(table_block.Key);
        if (key.size() != 8 || table_block.ValueLength != 0) {
            valid = false;
            return false;
        }
        TVersionStringTable table;
        table.LanguageId = HexWord(std::wstring_view(key).substr(0, 4));
        table.CodePage = HexWord(std::wstring_view(key).substr(4, 4));
        const bool strings_walked = reader.ForEachChild(table_block, [&](const TBlock& string) {
            table.Strings.emplace_back(string.Key, reader.TextValue(string));
            return true;
        });
        if (!strings_walked) {
            valid = false;
            return false;
        }
        tables.push_back(std::move(table));
        return true;
    });
    return walked && valid;
}

}  // namespace

bool TFileVersionInfoReader::Read(std::span<const std::uint8_t> Data) {
    FTables.clear();
    try {
        // The third word is wType (0 or 1) in the wide form, and the first two key
        // characters ("VS") in the older form.
        if (Data.size() < 6) return false;
        const std::uint16_t third = static_cast<std::uint16_t>(Data[4] | (Data[5] << 8));
        const TBlockReader reader(Data, third == 0 || third == 1);

        TBlock root;
        if (!reader.ReadBlock(0, Data.size(), root)) return false;
        if (!SameKey(root.Key, L"VS_VERSION_INFO")) return false;
        if (root.ValueLength != kFixedInfoSize || root.ValueSize != kFixedInfoSize ||
            reader.DWord(root.ValueStart) != kFixedInfoSignature) {
            return false;
        }

        std::vector<TVersionStringTable> tables;
        bool valid = true;
        const bool walked = reader.ForEachChild(root, [&](const TBlock& child) {
            if (SameKey(child.Key, L"StringFileInfo")) {
                valid = ReadStringFileInfo(reader, child, tables);
                return valid;
            }
            // The language list of "VarFileInfo" is not needed; any other block ends the
            // walk, keeping what was read so far.
            return SameKey(child.Key, L"VarFileInfo");
        });
        if (!walked || !valid) return false;
        FTables = std::move(tables);
        return true;
    } catch (...) {
        FTables.clear();
        return false;
    }
}

std::wstring TFileVersionInfoReader::FirstTableValue(std::wstring_view Key) const {
    if (FTables.empty()) return {};
    for (const auto& [key, value] : FTables.front().Strings) {
        if (SameKey(key, Key)) return value;
    }
    return {};
}

std::wstring FileVersionFromResource(std::span<const std::uint8_t> Data) {
    try {
        TFileVersionInfoReader reader;
        if (!reader.Read(Data)) return {};
        std::wstring version;
        for (wchar_t c : reader.FirstTableValue(L"FileVersion")) {
            if (c == L' ') continue;
            version.push_back(c == L',' ? L'.' : c);
        }
        return version;
    } catch (...) {
        return {};
    }
}

}  // namespace deruz::systools
