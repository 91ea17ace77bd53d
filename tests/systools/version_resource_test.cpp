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
    explicit TResourceWriter(bool AWide) : FWide(AWide) {}

    std::vector<std::uint8_t> Build(const TNode& ARoot) {
        FOut.clear();
        Write(ARoot);
        return FOut;
    }

  private:
    void PutWord(std::uint16_t AW) {
        FOut.push_back(static_cast<std::uint8_t>(AW & 0xFF));
        FOut.push_back(static_cast<std::uint8_t>(AW >> 8));
    }
    void Pad() {
        while (FOut.size() % 4 != 0) FOut.push_back(0);
    }
    void PutText(const std::wstring& AS) {
        for (wchar_t LC : AS) {
            if (FWide) {
                PutWord(static_cast<std::uint16_t>(LC));
            } else {
                FOut.push_back(static_cast<std::uint8_t>(LC));
            }
        }
        if (FWide) {
            PutWord(0);
        } else {
            FOut.push_back(0);
        }
    }

    void Write(const TNode& AN) {
        Pad();
        const std::size_t LStart = FOut.size();
        PutWord(0);
        std::size_t LValueLength = AN.Bytes.size();
        if (AN.Text) LValueLength = AN.Text->size() + 1;  // characters in either form
        PutWord(AN.ValueLength.value_or(static_cast<std::uint16_t>(LValueLength)));
        if (FWide) PutWord(AN.Text ? 1 : 0);
        PutText(AN.Key);
        Pad();
        if (AN.Text) {
            PutText(*AN.Text);
        } else {
            FOut.insert(FOut.end(), AN.Bytes.begin(), AN.Bytes.end());
        }
        for (const TNode& LChild : AN.Children) Write(LChild);
        const auto LLength = AN.Length.value_or(static_cast<std::uint16_t>(FOut.size() - LStart));
        FOut[LStart] = static_cast<std::uint8_t>(LLength & 0xFF);
        FOut[LStart + 1] = static_cast<std::uint8_t>(LLength >> 8);
    }

    bool FWide;
    std::vector<std::uint8_t> FOut;
};

std::vector<std::uint8_t> FixedInfo(std::uint32_t ASignature = 0xFEEF04BD, std::size_t ASize = 52) {
    std::vector<std::uint8_t> LBytes(ASize, 0);
    for (int LI = 0; LI < 4 && LI < static_cast<int>(ASize); ++LI) {
        LBytes[LI] = static_cast<std::uint8_t>(ASignature >> (8 * LI));
    }
    return LBytes;
}

// A block with a binary value (possibly none) and children.
TNode Block(const std::wstring& AKey, std::vector<TNode> AChildren = {},
            std::vector<std::uint8_t> ABytes = {}) {
    TNode LN;
    LN.Key = AKey;
    LN.Bytes = std::move(ABytes);
    LN.Children = std::move(AChildren);
    return LN;
}

TNode Str(const std::wstring& AKey, const std::wstring& AValue) {
    TNode LN;
    LN.Key = AKey;
    LN.Text = AValue;
    return LN;
}

TNode Table(const std::wstring& AKey, std::vector<TNode> AStrings) {
    return Block(AKey, std::move(AStrings));
}

TNode StringFileInfo(std::vector<TNode> ATables) {
    return Block(L"StringFileInfo", std::move(ATables));
}

TNode VarFileInfo() {
    return Block(L"VarFileInfo", {Block(L"Translation", {}, {0x09, 0x04, 0xB0, 0x04})});
}

TNode Root(std::vector<TNode> AChildren) {
    return Block(L"VS_VERSION_INFO", std::move(AChildren), FixedInfo());
}

// The usual resource: one English/Unicode table with a file version, then the languages.
TNode TypicalRoot(const std::wstring& AFileVersion = L"3, 0, 1, 582") {
    return Root({StringFileInfo({Table(
                     L"040904B0", {Str(L"CompanyName", L"DeRuz"), Str(L"FileVersion", AFileVersion),
                                   Str(L"ProductName", L"Imaging")})}),
                 VarFileInfo()});
}

std::wstring FileVersionOf(const TNode& ARoot, bool AWide = true) {
    return FileVersionFromResource(TResourceWriter(AWide).Build(ARoot));
}

TEST(FileVersionFromResource, ReadsTheFileVersionOfBothForms) {
    EXPECT_EQ(FileVersionOf(TypicalRoot(), true), L"3.0.1.582");
    EXPECT_EQ(FileVersionOf(TypicalRoot(), false), L"3.0.1.582");
    EXPECT_EQ(FileVersionOf(TypicalRoot(L" 2 ,10, 0,  7 "), true), L"2.10.0.7");
}

TEST(FileVersionFromResource, WalksTheTreeAsAVersionResourceDoes) {
    TNode LLowerCaseKeys = Block(
        L"vs_version_info",
        {Block(L"stringfileinfo", {Table(L"040904b0", {Str(L"fileversion", L"1, 2, 3, 4")})})},
        FixedInfo());

    TNode LLanguagesFirst = Root(
        {VarFileInfo(), StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});

    TNode LUnknownBlockFirst = Root(
        {Block(L"Other"), StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});
    TNode LUnknownBlockAfter = Root(
        {StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})}), Block(L"Other")});

    TNode LFirstTableOnly =
        Root({StringFileInfo({Table(L"040704B0", {Str(L"CompanyName", L"DeRuz")}),
                              Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});
    TNode LTablesInTwoBlocks =
        Root({StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})}),
              StringFileInfo({Table(L"040704B0", {Str(L"FileVersion", L"5.6.7.8")})})});

    TNode LNoFileVersion =
        Root({StringFileInfo({Table(L"040904B0", {Str(L"ProductVersion", L"1.2.3.4")})})});

    // A text value ends at its first NUL even when declared longer.
    TNode LNulInside = Root({StringFileInfo(
        {Table(L"040904B0", {Str(L"FileVersion", std::wstring(L"1.2.3.4\0 junk", 13))})})});
    // Some resource compilers declare text values in bytes: the value is cut at its block.
    TNode LDeclaredInBytes =
        Root({StringFileInfo({Table(L"040904B0", {Str(L"FileVersion", L"1.2.3.4")})})});
    LDeclaredInBytes.Children[0].Children[0].Children[0].ValueLength = 16;

    struct TCase {
        const char* Name;
        const TNode& Root;
        const wchar_t* Expected;
    };
    const TCase LCases[] = {
        {"keys ignore case", LLowerCaseKeys, L"1.2.3.4"},
        {"VarFileInfo before StringFileInfo", LLanguagesFirst, L"1.2.3.4"},
        {"unknown block ends the walk", LUnknownBlockFirst, L""},
        {"unknown block after the strings", LUnknownBlockAfter, L"1.2.3.4"},
        {"only the first table counts", LFirstTableOnly, L""},
        {"first table across StringFileInfo blocks", LTablesInTwoBlocks, L"1.2.3.4"},
        {"no FileVersion", LNoFileVersion, L""},
        {"value cut at NUL", LNulInside, L"1.2.3.4"},
        {"value length in bytes", LDeclaredInBytes, L"1.2.3.4"},
    };
    for (const TCase& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        EXPECT_EQ(FileVersionOf(LC.Root, true), LC.Expected);
        EXPECT_EQ(FileVersionOf(LC.Root, false), LC.Expected);
    }
}

TEST(FileVersionInfoReader, TableKeyGivesLanguageAndCodePageAfterCleaning) {
    struct TCase {
        const wchar_t* Key;
        bool Valid;
        std::uint16_t Language, CodePage;
    };
    const TCase LCases[] = {
        {L"040904B0", true, 0x0409, 0x04B0},
        {L"0x04090x04b0", true, 0x0409, 0x04B0},
        {L"0409-04E4", true, 0x0409, 0x04E4},
        {L"0409 04E4 ", true, 0x0409, 0x04E4},
        {L"0409", false, 0, 0},
        {L"040904B0F", false, 0, 0},
        {L"0X0409X04B0", false, 0, 0},  // only "0x" is deleted: nine digits remain
        {L"", false, 0, 0},
    };
    for (const TCase& LC : LCases) {
        SCOPED_TRACE(testing::Message() << "key: \"" << LC.Key << "\"");
        const auto LData = TResourceWriter(true).Build(
            Root({StringFileInfo({Table(LC.Key, {Str(L"FileVersion", L"1.2.3.4")})})}));
        TFileVersionInfoReader LReader;
        ASSERT_EQ(LReader.Read(LData), LC.Valid);
        if (!LC.Valid) {
            EXPECT_TRUE(LReader.StringTables().empty());
            continue;
        }
        ASSERT_EQ(LReader.StringTables().size(), 1u);
        EXPECT_EQ(LReader.StringTables()[0].LanguageId, LC.Language);
        EXPECT_EQ(LReader.StringTables()[0].CodePage, LC.CodePage);
        EXPECT_EQ(LReader.FirstTableValue(L"FILEVERSION"), L"1.2.3.4");
    }
}

TEST(FileVersionFromResource, MalformedResourceGivesEmptyText) {
    TNode LBadSignature = TypicalRoot();
    LBadSignature.Bytes = FixedInfo(0xFEEF04BC);
    TNode LShortFixedPart = TypicalRoot();
    LShortFixedPart.Bytes = FixedInfo(0xFEEF04BD, 48);
    TNode LNoFixedPart = TypicalRoot();
    LNoFixedPart.Bytes.clear();
    TNode LWrongRoot = TypicalRoot();
    LWrongRoot.Key = L"VS_VERSION_INF";
    TNode LKeyWithoutNul = TypicalRoot();
    LKeyWithoutNul.Length = 10;  // header and "VS", no room for the rest of the key
    TNode LTableWithValue = TypicalRoot();
    LTableWithValue.Children[0].Children[0].Bytes = {1, 2, 3, 4};
    TNode LBadSecondTable = TypicalRoot();
    LBadSecondTable.Children[0].Children.push_back(Table(L"0409", {}));
    TNode LZeroLengthChild = TypicalRoot();
    LZeroLengthChild.Children[0].Children[0].Children[0].Length = 0;
    TNode LChildPastParent = TypicalRoot();
    LChildPastParent.Children[0].Children[0].Children[2].Length = 200;
    TNode LRootPastBuffer = TypicalRoot();
    LRootPastBuffer.Length = 2000;

    struct TCase {
        const char* Name;
        const TNode& Root;
    };
    const TCase LCases[] = {
        {"bad signature", LBadSignature},
        {"short fixed part", LShortFixedPart},
        {"no fixed part", LNoFixedPart},
        {"wrong root key", LWrongRoot},
        {"key without NUL", LKeyWithoutNul},
        {"table with a value", LTableWithValue},
        {"malformed key of a later table", LBadSecondTable},
        {"child of length 0", LZeroLengthChild},
        {"child longer than its parent", LChildPastParent},
        {"root longer than the buffer", LRootPastBuffer},
    };
    for (const TCase& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        EXPECT_EQ(FileVersionOf(LC.Root, true), L"");
        EXPECT_EQ(FileVersionOf(LC.Root, false), L"");
    }
    EXPECT_EQ(FileVersionFromResource({}), L"");
}

// Every cut-off copy of a resource, held in a buffer of exactly its size, reads as
// malformed (the root's length lies past the end) without reading beyond the buffer.
TEST(FileVersionFromResource, TruncatedResourceGivesEmptyText) {
    for (bool LWide : {true, false}) {
        const std::vector<std::uint8_t> LWhole = TResourceWriter(LWide).Build(TypicalRoot());
        for (std::size_t LSize = 0; LSize < LWhole.size(); ++LSize) {
            const std::vector<std::uint8_t> LPart(LWhole.begin(), LWhole.begin() + LSize);
            ASSERT_EQ(FileVersionFromResource(LPart), L"") << "size " << LSize;
        }
        EXPECT_EQ(FileVersionFromResource(LWhole), L"3.0.1.582");
    }
}

}  // namespace
}  // namespace deruz::systools
