// Splitting delimited text, and the case-insensitive string list.
#include "systools/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace deruz::systools {
namespace {

std::vector<std::wstring> Items(const TStringList& AList) {
    std::vector<std::wstring> LItems;
    for (int LI = 0; LI < AList.Count(); ++LI) LItems.push_back(AList[LI]);
    return LItems;
}

struct TSplitCase {
    const wchar_t* Content;
    std::vector<std::wstring> Expected;
};

void ExpectSplits(const TSysCharSet& ASeparators, const TSysCharSet& AWhiteSpace,
                  bool AIgnoreQuotes, const std::vector<TSplitCase>& ACases) {
    for (const TSplitCase& LC : ACases) {
        SCOPED_TRACE(testing::Message() << "content: \"" << LC.Content << "\"");
        TStringList LList;
        EXPECT_EQ(SysExtractStrings(ASeparators, AWhiteSpace, LC.Content, &LList, AIgnoreQuotes),
                  static_cast<std::int32_t>(LC.Expected.size()));
        EXPECT_EQ(Items(LList), LC.Expected);
    }
}

// The way the link reads its profile name lists.
TEST(SysExtractStrings, SplitsAtSeparatorsAndLineBreaksKeepingEmptyItems) {
    ExpectSplits(SysCharSet(L",;"), SysCharSet(L" "), true,
                 {
                     {L"a,b;c", {L"a", L"b", L"c"}},
                     {L"a,,b", {L"a", L"", L"b"}},
                     {L"a,", {L"a", L""}},
                     {L",a", {L"", L"a"}},
                     {L"  a , b", {L"a", L"b"}},
                     {L"a\r\nb", {L"a", L"b"}},
                     {L"a\tb ,c", {L"a\tb", L"c"}},
                     {L"   ", {L""}},
                     {L"\"x y\" , z", {L"x y", L"z"}},  // items are still taken out of quotes
                     {L"\"a,b\",c", {L"\"a", L"b\"", L"c"}},
                 });
}

TEST(SysExtractStrings, QuotesGroupSeparatorsUnlessIgnored) {
    ExpectSplits(SysCharSet(L","), SysCharSet(L" "), false,
                 {
                     {L"\"a,b\",c", {L"a,b", L"c"}},
                     {L"'a,b',c", {L"'a,b'", L"c"}},
                     {L"\"a,b", {L"\"a,b"}},  // an open quote runs to the end of the text
                     {L"\"a\"\"b\",c", {L"a\"b", L"c"}},
                     {L"\"a\"x,c", {L"a", L"c"}},
                     {L"\"\"x,c", {L"\"\"x", L"c"}},
                     {L"\"\",c", {L"", L"c"}},
                     {L"'a\"b',c", {L"'a\"b'", L"c"}},
                     {L"\"a'b\",c", {L"a'b", L"c"}},
                     {L"\" a \" ,c", {L"a", L"c"}},
                 });
}

// A wide character is never a member of a set, even when its low byte is a separator.
TEST(SysExtractStrings, CharactersAbove255NeverSplit) {
    ExpectSplits(SysCharSet(L",\u012C"), SysCharSet(L" \u0120"), true,
                 {
                     {L"a\u012Cb,c", {L"a\u012Cb", L"c"}},
                     {L"\u0120a", {L"\u0120a"}},
                 });
}

// A zero in the caller's white space must not let the scan run past the end of the text.
TEST(SysExtractStrings, StopsAtTheEndEvenWhenZeroIsWhiteSpace) {
    TSysCharSet LWhiteSpace = SysCharSet(L" ");
    LWhiteSpace.set(0);
    ExpectSplits(SysCharSet(L","), LWhiteSpace, true, {{L"a, ", {L"a", L""}}});
}

TEST(SysExtractStrings, NothingToSplitLeavesTheListAlone) {
    const TSysCharSet LSeparators = SysCharSet(L",");
    const TSysCharSet LWhiteSpace = SysCharSet(L" ");
    TStringList LList;
    LList.Add(L"kept");
    int LChanges = 0;
    LList.OnChange = [&] { ++LChanges; };
    EXPECT_EQ(SysExtractStrings(LSeparators, LWhiteSpace, nullptr, &LList, true), 0);
    EXPECT_EQ(SysExtractStrings(LSeparators, LWhiteSpace, L"", &LList, true), 0);
    EXPECT_EQ(SysExtractStrings(LSeparators, LWhiteSpace, L"a,b", nullptr, true), 0);
    EXPECT_EQ(Items(LList), std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(LChanges, 0);
}

TEST(SysExtractStrings, AppendsToTheListInOneBatch) {
    TStringList LList;
    LList.Add(L"first");
    int LChanges = 0;
    int LCountSeen = 0;
    LList.OnChange = [&] {
        ++LChanges;
        LCountSeen = LList.Count();
    };
    EXPECT_EQ(SysExtractStrings(SysCharSet(L","), SysCharSet(L" "), L"a,b,c", &LList, true), 3);
    EXPECT_EQ(Items(LList), (std::vector<std::wstring>{L"first", L"a", L"b", L"c"}));
    EXPECT_EQ(LChanges, 1);
    EXPECT_EQ(LCountSeen, 4);
}

TEST(TStringList, IndexOfIgnoresCase) {
    TStringList LList;
    LList.Add(L"PC-01");
    LList.Add(L"M\u00FCller");                     // Müller
    LList.Add(L"\u0141ukasz");                     // Łukasz
    LList.Add(L"\u0410\u043B\u0435\u043A\u0441");  // Алекс
    LList.Add(L"\u0178ves");                       // Ÿves
    struct TCase {
        const wchar_t* Name;
        int Index;
    };
    const TCase LCases[] = {
        {L"pc-01", 0},       {L"M\u00DCLLER", 1},
        {L"\u0142UKASZ", 2}, {L"\u0430\u041B\u0415\u041A\u0421", 3},
        {L"\u00FFVES", 4},   {L"Muller", -1},
        {L"PC-0", -1},       {L"", -1},
    };
    for (const TCase& LC : LCases) {
        EXPECT_EQ(LList.IndexOf(LC.Name), LC.Index) << "name: \"" << LC.Name << "\"";
    }
}

TEST(TStringList, NestedBatchesReportOnceAndOnlyWhenChanged) {
    TStringList LList;
    int LChanges = 0;
    LList.OnChange = [&] { ++LChanges; };
    LList.Add(L"a");
    EXPECT_EQ(LChanges, 1);
    LList.BeginUpdate();
    LList.BeginUpdate();
    LList.Add(L"b");
    LList.EndUpdate();
    EXPECT_EQ(LChanges, 1);
    LList.EndUpdate();
    EXPECT_EQ(LChanges, 2);
    LList.BeginUpdate();
    LList.EndUpdate();
    EXPECT_EQ(LChanges, 2);
    LList.Clear();
    EXPECT_EQ(LList.Count(), 0);
    EXPECT_EQ(LChanges, 3);
}

}  // namespace
}  // namespace deruz::systools
