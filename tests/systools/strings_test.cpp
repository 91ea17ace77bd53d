// Splitting delimited text, and the case-insensitive string list.
#include "systools/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace deruz::systools {
namespace {

std::vector<std::wstring> Items(const TStringList& list) {
    std::vector<std::wstring> items;
    for (int i = 0; i < list.Count(); ++i) items.push_back(list[i]);
    return items;
}

struct TSplitCase {
    const wchar_t* Content;
    std::vector<std::wstring> Expected;
};

void ExpectSplits(const TSysCharSet& separators, const TSysCharSet& white_space, bool ignore_quotes,
                  const std::vector<TSplitCase>& cases) {
    for (const TSplitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "content: \"" << c.Content << "\"");
        TStringList list;
        EXPECT_EQ(SysExtractStrings(separators, white_space, c.Content, &list, ignore_quotes),
                  static_cast<std::int32_t>(c.Expected.size()));
        EXPECT_EQ(Items(list), c.Expected);
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
    TSysCharSet white_space = SysCharSet(L" ");
    white_space.set(0);
    ExpectSplits(SysCharSet(L","), white_space, true, {{L"a, ", {L"a", L""}}});
}

TEST(SysExtractStrings, NothingToSplitLeavesTheListAlone) {
    const TSysCharSet separators = SysCharSet(L",");
    const TSysCharSet white_space = SysCharSet(L" ");
    TStringList list;
    list.Add(L"kept");
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    EXPECT_EQ(SysExtractStrings(separators, white_space, nullptr, &list, true), 0);
    EXPECT_EQ(SysExtractStrings(separators, white_space, L"", &list, true), 0);
    EXPECT_EQ(SysExtractStrings(separators, white_space, L"a,b", nullptr, true), 0);
    EXPECT_EQ(Items(list), std::vector<std::wstring>{L"kept"});
    EXPECT_EQ(changes, 0);
}

TEST(SysExtractStrings, AppendsToTheListInOneBatch) {
    TStringList list;
    list.Add(L"first");
    int changes = 0;
    int count_seen = 0;
    list.OnChange = [&] {
        ++changes;
        count_seen = list.Count();
    };
    EXPECT_EQ(SysExtractStrings(SysCharSet(L","), SysCharSet(L" "), L"a,b,c", &list, true), 3);
    EXPECT_EQ(Items(list), (std::vector<std::wstring>{L"first", L"a", L"b", L"c"}));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(count_seen, 4);
}

TEST(TStringList, IndexOfIgnoresCase) {
    TStringList list;
    list.Add(L"PC-01");
    list.Add(L"M\u00FCller");                     // Müller
    list.Add(L"\u0141ukasz");                     // Łukasz
    list.Add(L"\u0410\u043B\u0435\u043A\u0441");  // Алекс
    list.Add(L"\u0178ves");                       // Ÿves
    struct TCase {
        const wchar_t* Name;
        int Index;
    };
    const TCase cases[] = {
        {L"pc-01", 0},       {L"M\u00DCLLER", 1},
        {L"\u0142UKASZ", 2}, {L"\u0430\u041B\u0415\u041A\u0421", 3},
        {L"\u00FFVES", 4},   {L"Muller", -1},
        {L"PC-0", -1},       {L"", -1},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(list.IndexOf(c.Name), c.Index) << "name: \"" << c.Name << "\"";
    }
}

TEST(TStringList, NestedBatchesReportOnceAndOnlyWhenChanged) {
    TStringList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    list.Add(L"a");
    EXPECT_EQ(changes, 1);
    list.BeginUpdate();
    list.BeginUpdate();
    list.Add(L"b");
    list.EndUpdate();
    EXPECT_EQ(changes, 1);
    list.EndUpdate();
    EXPECT_EQ(changes, 2);
    list.BeginUpdate();
    list.EndUpdate();
    EXPECT_EQ(changes, 2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes, 3);
}

}  // namespace
}  // namespace deruz::systools
