// The version resource tree walk, over resources built here byte by byte.
#include "systools/version_resource.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace deruz::systools {
namespace {

// One block of a version resource to be written. A text value is written in the form's
// characters with a terminating NUL; the declared lengths can be overridden to build
// malformed blocks.
struct TNode {
    std::wstring Key;
    std::optional<std::wstring> Text;
    std::vector<std::uint8_t> Bytes;
    std::vector<TNode> Children;
    std::optional<std::uint16_t> Length;
    std::optional<std::uint16_t> ValueLength;
};

class TResourceWriter {
  public:
    explicit TResourceWriter(bool wide) : wide_(wide) {}

    std::vector<std::uint8_t> Build(const TNode& root) {
        out_.clear();
        Write(root);
        return out_;
    }

  private:
    void PutWord(std::uint16_t w) {
        out_.push_back(static_cast<std::uint8_t>(w & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    void Pad() {
        while (out_.size() % 4 != 0) out_.push_back(0);
    }
    void PutText(const std::wstring& s) {
        for (wchar_t c : s) {
            if (wide_) {
                PutWord(static_cast<std::uint16_t>(c));
            } else {
                out_.push_back(static_cast<std::uint8_t>(c));
            }
        }
        if (wide_) {
            PutWord(0);
        } else {
            out_.push_back(0);
        }
    }

    void Write(const TNode& n) {
        Pad();
        const std::size_t start = out_.size();
        PutWord(0);
        std::size_t value_length = n.Bytes.size();
        if (n.Text) value_length = n.Text->size() + 1;  // characters in either form
        PutWord(n.ValueLength.value_or(static_cast<std::uint16_t>(value_length)));
        if (wide_) PutWord(n.Text ? 1 : 0);
        PutText(n.Key);
        Pad();
        if (n.Text) {
            PutText(*n.Text);
        } else {
            out_.insert(out_.end(), n.Bytes.begin(), n.Bytes.end());
        }
        for (const TNode& child : n.Children) Write(child);
        const auto length = n.Length.value_or(static_cast<std::uint16_t>(out_.size() - start));
        out_[start] = static_cast<std::uint8_t>(length & 0xFF);
        out_[start + 1] = static_cast<std::uint8_t>(length >> 8);
    }

    bool wide_;
    std::vector<std::uint8_t> out_;
};

std::vector<std::uint8_t> FixedInfo(std::uint32_t signature = 0xFEEF04BD, std::size_t size = 52) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (int i = 0; i < 4 && i < static_cast<int>(size); ++i) {
        bytes[i] = static_cast<std::uint8_t>(signature >> (8 * i));
    }
    return bytes;
}

// A block with a binary value (possibly none) and children.
TNode Block(const std::wstring& key, std::vector<TNode> children = {},
            std::vector<std::uint8_t> bytes = {}) {
    TNode n;
    n.Key = key;
    n.Bytes = std::move(bytes);
    n.Children = std::move(children);
    return n;
}

TNode Str(const std::wstring& key, const std::wstring& value) {
    TNode n;
    n.Key = key;
    n.Text = value;
    return n;
}

TNode Table(const std::wstring& key, std::vector<TNode> strings) {
    return Block(key, std::move(strings));
}

TNode StringFileInfo(std::vector<TNode> tables) {
    return Block(L"StringFileInfo", std::move(tables));
}

TNode VarFileInfo() {
    return Block(L"VarFileInfo", {Block(L"Translation", {}, {0x09, 0x04, 0xB0, 0x04})});
}

TNode Root(std::vector<TNode> children) {
    return Block(L"VS_VERSION_INFO", std::move(children), FixedInfo());
}

// The usual resource: one English/Unicode table with a file version, then the languages.
TNode TypicalRoot(const std::wstring& file_version = L"3, 0, 1, 582") {
    return Root({StringFileInfo({Table(
                     L"040904B0", {Str(L"CompanyName", L"DeRuz"), Str(L"FileVersion", file_version),
                                   Str(L"ProductName", L"Imaging")})}),
                 VarFileInfo()});
}

std::wstring FileVersionOf(const TNode& root, bool wide = true) {
    return FileVersionFromResource(TResourceWriter(wide).Build(root));
}

TEST(FileVersionFromResource, ReadsTheFileVersionOfBothForms) {
    EXPECT_EQ(FileVersionOf(TypicalRoot(), true), L"3.0.1.582");
    EXPECT_EQ(FileVersionOf(TypicalRoot(), false), L"3.0.1.582");
    EXPECT_EQ(FileVersionOf(TypicalRoot(L" 2 ,10, 0,  7 "), true), L"2.10.0.7");
}

TEST(FileVersionFromResource, WalksTheTreeAsAVersionResourceDoes) {
    TNode lower_case_keys = Block(
        L"vs_version_info",
        {Block(L"stringfileinfo", {Table(L"040904b0", {Str(L"fileversion", L"1, 2, 3, 4")})})},
        FixedInfo());

    TNode languages_first = Root(
        {VarFileInfo(), StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});

    TNode unknown_block_first = Root(
        {Block(L"Other"), StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});
    TNode unknown_block_after = Root(
        {StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})}), Block(L"Other")});

    TNode first_table_only =
        Root({StringFileInfo({Table(L"040704B0", {Str(L"CompanyName", L"DeRuz")}),
                              Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});
    TNode tables_in_two_blocks =
        Root({StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})}),
              StringFileInfo({Table(L"040704B0", {Str(L"FileVersion", L"5.6.7.8")})})});

    TNode no_file_version =
        Root({StringFileInfo({Table(L"040904B0", {Str(L"ProductVersion", L"1.2.3.4")})})});

    // A text value ends at its first NUL even when declared longer.
    TNode nul_inside = Root({StringFileInfo(
        {Table(L"040904B0", {Str(L"FileVersion", std::wstring(L"1.2.3.4\0 junk", 13))})})});
    // Some resource compilers declare text values in bytes: the value is cut at its block.
    TNode declared_in_bytes =
        Root({StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});
    declared_in_bytes.Children[0].Children[0].Children[0].ValueLength = 16;

    struct TCase {
        const char* Name;
        const TNode& Root;
        const wchar_t* Expected;
    };
    const TCase cases[] = {
        {"keys ignore case", lower_case_keys, L"1.2.3.4"},
        {"VarFileInfo before StringFileInfo", languages_first, L"1.2.3.4"},
        {"unknown block ends the walk", unknown_block_first, L""},
        {"unknown block after the strings", unknown_block_after, L"1.2.3.4"},
        {"only the first table counts", first_table_only, L""},
        {"first table across StringFileInfo blocks", tables_in_two_blocks, L"1.2.3.4"},
        {"no FileVersion", no_file_version, L""},
        {"value cut at NUL", nul_inside, L"1.2.3.4"},
        {"value length in bytes", declared_in_bytes, L"1.2.3.4"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(FileVersionOf(c.Root, true), c.Expected);
        EXPECT_EQ(FileVersionOf(c.Root, false), c.Expected);
    }
}

TEST(FileVersionInfoReader, TableKeyGivesLanguageAndCodePageAfterCleaning) {
    struct TCase {
        const wchar_t* Key;
        bool Valid;
        std::uint16_t Language, CodePage;
    };
    const TCase cases[] = {
        {L"040904B0", true, 0x0409, 0x04B0},
        {L"0x04090x04b0", true, 0x0409, 0x04B0},
        {L"0409-04E4", true, 0x0409, 0x04E4},
        {L"0409 04E4 ", true, 0x0409, 0x04E4},
        {L"0409", false, 0, 0},
        {L"040904B0F", false, 0, 0},
        {L"0X0409X04B0", false, 0, 0},  // only "0x" is deleted: nine digits remain
        {L"", false, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "key: \"" << c.Key << "\"");
        const auto data = TResourceWriter(true).Build(
            Root({StringFileInfo({Table(c.Key, {Str(L"FileVersion", L"1.2.3.4")})})}));
        TFileVersionInfoReader reader;
        ASSERT_EQ(reader.Read(data), c.Valid);
        if (!c.Valid) {
            EXPECT_TRUE(reader.StringTables().empty());
            continue;
        }
        ASSERT_EQ(reader.StringTables().size(), 1u);
        EXPECT_EQ(reader.StringTables()[0].LanguageId, c.Language);
        EXPECT_EQ(reader.StringTables()[0].CodePage, c.CodePage);
        EXPECT_EQ(reader.FirstTableValue(L"FILEVERSION"), L"1.2.3.4");
    }
}

TEST(FileVersionFromResource, MalformedResourceGivesEmptyText) {
    TNode bad_signature = TypicalRoot();
    bad_signature.Bytes = FixedInfo(0xFEEF04BC);
    TNode short_fixed_part = TypicalRoot();
    short_fixed_part.Bytes = FixedInfo(0xFEEF04BD, 48);
    TNode no_fixed_part = TypicalRoot();
    no_fixed_part.Bytes.clear();
    TNode wrong_root = TypicalRoot();
    wrong_root.Key = L"VS_VERSION_INF";
    TNode key_without_nul = TypicalRoot();
    key_without_nul.Length = 10;  // header and "VS", no room for the rest of the key
    TNode table_with_value = TypicalRoot();
    table_with_value.Children[0].Children[0].Bytes = {1, 2, 3, 4};
    TNode bad_second_table = TypicalRoot();
    bad_second_table.Children[0].Children.push_back(Table(L"0409", {}));
    TNode zero_length_child = TypicalRoot();
    zero_length_child.Children[0].Children[0].Children[0].Length = 0;
    TNode child_past_parent = TypicalRoot();
    child_past_parent.Children[0].Children[0].Children[2].Length = 200;
    TNode root_past_buffer = TypicalRoot();
    root_past_buffer.Length = 2000;

    struct TCase {
        const char* Name;
        const TNode& Root;
    };
    const TCase cases[] = {
        {"bad signature", bad_signature},
        {"short fixed part", short_fixed_part},
        {"no fixed part", no_fixed_part},
        {"wrong root key", wrong_root},
        {"key without NUL", key_without_nul},
        {"table with a value", table_with_value},
        {"malformed key of a later table", bad_second_table},
        {"child of length 0", zero_length_child},
        {"child longer than its parent", child_past_parent},
        {"root longer than the buffer", root_past_buffer},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(FileVersionOf(c.Root, true), L"");
        EXPECT_EQ(FileVersionOf(c.Root, false), L"");
    }
    EXPECT_EQ(FileVersionFromResource({}), L"");
}

// Every cut-off copy of a resource, held in a buffer of exactly its size, reads as
// malformed (the root's length lies past the end) without reading beyond the buffer.
TEST(FileVersionFromResource, TruncatedResourceGivesEmptyText) {
    for (bool wide : {true, false}) {
        const std::vector<std::uint8_t> whole = TResourceWriter(wide).Build(TypicalRoot());
        for (std::size_t size = 0; size < whole.size(); ++size) {
            const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + size);
            ASSERT_EQ(FileVersionFromResource(part), L"") << "size " << size;
        }
        EXPECT_EQ(FileVersionFromResource(whole), L"3.0.1.582");
    }
}

}  // namespace
}  // namespace deruz::systools
