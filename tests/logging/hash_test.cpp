// The TSiHash maps: key hash, case-insensitive keys, iteration order and growth, and the value
// rules of the three kinds of maps.
#include "logging/base/hash.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace deruz::logging {
namespace {

std::vector<std::string> Keys(TSiStringHash& AHash) {
    std::vector<std::string> LKeys;
    AHash.Restart();
    while (AHash.Next()) {
        LKeys.push_back(AHash.CurrentKey());
    }
    return LKeys;
}

TEST(SiHashKeyTest, Djb2OverLowerCasedUtf16Units) {
    struct Case {
        const char* Key;
        std::uint32_t Hash;
    };
    const Case LCases[] = {
        {"", 5381u},
        {"a", 177670u},
        {"A", 177670u},  // ASCII letters are lower-cased
        {"abc", 193485963u},
        {"\xC3\xA9", 177806u},           // U+00E9 is one code unit
        {"\xC3\x89", 177774u},           // U+00C9 is not lower-cased
        {"\xF0\x9F\x98\x80", 7743522u},  // U+1F600 hashes as its surrogate pair
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(SiHashKey(LCase.Key), LCase.Hash) << LCase.Key;
    }
}

TEST(SiHashTest, KeysIgnoreAsciiCaseAndKeepFirstSpelling) {
    TSiStringHash LHash;
    LHash.Put("Level", "warning");
    LHash.Put("LEVEL", "debug");
    EXPECT_FALSE(LHash.Add("level", "error"));
    EXPECT_TRUE(LHash.Add("other", "x"));
    EXPECT_EQ(LHash.Count(), 2u);
    EXPECT_EQ(LHash.Get("lEvEl"), "debug");
    EXPECT_EQ(Keys(LHash), (std::vector<std::string>{"other", "Level"}));
    // Non-ASCII letters are not folded: they are different keys.
    LHash.Put("\xC3\xA9", "small");
    LHash.Put("\xC3\x89", "capital");
    EXPECT_EQ(LHash.Get("\xC3\xA9"), "small");
    EXPECT_EQ(LHash.Count(), 4u);
}

TEST(SiHashTest, CollidingKeysShareABucketAndStayApart) {
    // "az" and "c8" have the same djb2 hash.
    ASSERT_EQ(SiHashKey("az"), SiHashKey("c8"));
    TSiStringHash LHash;
    LHash.Put("az", "1");
    LHash.Put("c8", "2");
    EXPECT_EQ(LHash.Get("AZ"), "1");
    EXPECT_EQ(LHash.Get("c8"), "2");
    EXPECT_EQ(Keys(LHash), (std::vector<std::string>{"c8", "az"}));  // newest first
    EXPECT_TRUE(LHash.Remove("az"));
    EXPECT_EQ(LHash.Get("c8"), "2");
    EXPECT_FALSE(LHash.Contains("az"));
}

TEST(SiHashTest, IterationFollowsBucketsAndGrowsAtThreeQuartersLoad) {
    // Expected orders follow from the hashes: bucket index order, newest first in a chain. The
    // map grows from 7 to 17 buckets when the sixth of seven buckets becomes non-empty ("iota").
    struct Step {
        const char* Key;
        std::size_t Buckets;
        std::vector<std::string> Order;
    };
    const Step LSteps[] = {
        {"alpha", 7, {"alpha"}},
        {"beta", 7, {"beta", "alpha"}},
        {"gamma", 7, {"beta", "alpha", "gamma"}},
        {"delta", 7, {"beta", "alpha", "delta", "gamma"}},
        {"epsilon", 7, {"beta", "epsilon", "alpha", "delta", "gamma"}},
        {"zeta", 7, {"beta", "epsilon", "alpha", "delta", "gamma", "zeta"}},
        {"eta", 7, {"beta", "epsilon", "alpha", "eta", "delta", "gamma", "zeta"}},
        {"theta", 7, {"beta", "epsilon", "alpha", "eta", "delta", "gamma", "theta", "zeta"}},
        {"iota",
         17,
         {"epsilon", "zeta", "theta", "alpha", "eta", "beta", "gamma", "iota", "delta"}},
    };
    TSiStringHash LHash;
    for (const Step& LStep : LSteps) {
        LHash.Put(LStep.Key, "v");
        EXPECT_EQ(LHash.BucketCount(), LStep.Buckets) << LStep.Key;
        EXPECT_EQ(Keys(LHash), LStep.Order) << LStep.Key;
    }
}

TEST(SiHashTest, ManyKeysGrowThroughThePrimesAndIterateOnce) {
    TSiIntegerHash LHash;
    constexpr int LCount = 20000;
    for (int LI = 0; LI < LCount; ++LI) {
        LHash.Put("key" + std::to_string(LI), LI);
    }
    EXPECT_EQ(LHash.Count(), static_cast<std::size_t>(LCount));
    EXPECT_NE(
        std::find(SiLookupTablePrimes.begin(), SiLookupTablePrimes.end(), LHash.BucketCount()),
        SiLookupTablePrimes.end());
    EXPECT_GT(LHash.BucketCount(), 17u);
    std::vector<bool> LSeen(LCount, false);
    LHash.Restart();
    while (LHash.Next()) {
        const int LValue = LHash.Current();
        ASSERT_EQ(LHash.CurrentKey(), "key" + std::to_string(LValue));
        ASSERT_FALSE(LSeen[LValue]);
        LSeen[LValue] = true;
    }
    EXPECT_EQ(std::count(LSeen.begin(), LSeen.end(), true), LCount);
    for (int LI = 0; LI < LCount; LI += 2) {
        ASSERT_TRUE(LHash.Remove("KEY" + std::to_string(LI)));
    }
    EXPECT_EQ(LHash.Count(), static_cast<std::size_t>(LCount / 2));
    EXPECT_EQ(LHash.Get("key3"), 3);
    EXPECT_EQ(LHash.Get("key4"), -1);
}

TEST(SiHashTest, InsertingRestartsIteration) {
    TSiStringHash LHash;
    LHash.Put("a", "1");
    LHash.Put("b", "2");
    LHash.Restart();
    ASSERT_TRUE(LHash.Next());
    LHash.Put("c", "3");
    // Iteration starts over from the first bucket after an insertion.
    std::vector<std::string> LKeys;
    while (LHash.Next()) {
        LKeys.push_back(LHash.CurrentKey());
    }
    EXPECT_EQ(LKeys.size(), 3u);
}

TEST(SiHashTest, CopiesKeepTheOrderAndMovesLeaveAUsableEmptyMap) {
    TSiStringHash LHash;
    for (const char* LKey : {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta"}) {
        LHash.Put(LKey, LKey);
    }
    TSiStringHash LCopy(LHash);
    EXPECT_EQ(Keys(LCopy), Keys(LHash));
    LCopy.Put("alpha", "changed");
    EXPECT_EQ(LHash.Get("alpha"), "alpha");

    TSiStringHash LMoved(std::move(LHash));
    EXPECT_EQ(Keys(LMoved), Keys(LCopy));
    EXPECT_EQ(LHash.Count(), 0u);  // NOLINT(bugprone-use-after-move): moved-from stays usable
    EXPECT_FALSE(LHash.Remove("alpha"));
    LHash.Put("again", "1");
    EXPECT_EQ(LHash.Get("AGAIN"), "1");
    LCopy = LHash;
    EXPECT_EQ(Keys(LCopy), std::vector<std::string>{"again"});
}

TEST(SiIntegerHashTest, MissingKeysAndIncDec) {
    TSiIntegerHash LHash;
    EXPECT_EQ(LHash.Get("missing"), -1);
    EXPECT_EQ(LHash.Dec("n"), -1);
    EXPECT_EQ(LHash.Inc("N"), 0);
    EXPECT_EQ(LHash.Inc("m"), 1);
    EXPECT_EQ(LHash.Inc("m"), 2);
    LHash.Put("max", INT32_MAX);
    EXPECT_EQ(LHash.Inc("max"), INT32_MIN);  // wraps instead of overflowing
}

struct TCounted {
    explicit TCounted(int& ALive) : FLive(ALive) { ++FLive; }
    ~TCounted() { --FLive; }
    int& FLive;
};

TEST(SiObjectHashTest, OwnerFreesValuesThatLeaveTheMap) {
    int LLive = 0;
    {
        TSiObjectHash<std::unique_ptr<TCounted>> LHash;
        EXPECT_EQ(LHash.Get("a"), nullptr);
        TCounted* LFirst = LHash.Put("a", std::make_unique<TCounted>(LLive));
        EXPECT_EQ(LLive, 1);
        EXPECT_EQ(LHash.Get("A"), LFirst);
        LHash.Put("A", std::make_unique<TCounted>(LLive));  // replaced: the first one is freed
        EXPECT_EQ(LLive, 1);
        LHash.Put("b", std::make_unique<TCounted>(LLive));
        LHash.Put("c", std::make_unique<TCounted>(LLive));
        EXPECT_EQ(LLive, 3);
        EXPECT_TRUE(LHash.Remove("b"));
        EXPECT_EQ(LLive, 2);
        auto LKept = std::make_unique<TCounted>(LLive);
        EXPECT_FALSE(LHash.Add("c", std::move(LKept)));  // refused: stays the caller's
        EXPECT_NE(LKept, nullptr);
        EXPECT_EQ(LLive, 3);
        EXPECT_TRUE(LHash.Add("d", std::move(LKept)));
        EXPECT_EQ(LLive, 3);
    }
    EXPECT_EQ(LLive, 0);  // destruction freed the rest
}

TEST(SiObjectHashTest, MovingKeepsOwnershipWithTheObjects) {
    int LLive = 0;
    {
        TSiObjectHash<std::unique_ptr<TCounted>> LOwner;
        LOwner.Put("a", std::make_unique<TCounted>(LLive));
        TSiObjectHash<std::unique_ptr<TCounted>> LTarget;
        LTarget.Put("b", std::make_unique<TCounted>(LLive));
        LTarget = std::move(LOwner);  // b goes away with the moved-from map
        EXPECT_NE(LTarget.Get("a"), nullptr);
        EXPECT_EQ(LTarget.Get("b"), nullptr);
        TSiObjectHash<std::unique_ptr<TCounted>> LThird(std::move(LTarget));
        EXPECT_TRUE(LThird.OwnsObjects());
        EXPECT_EQ(LLive, 2);
    }
    EXPECT_EQ(LLive, 0);
}

TEST(SiObjectHashTest, NonOwnerNeverFrees) {
    int LLive = 0;
    TCounted LObject(LLive);
    {
        TSiObjectHash<TCounted> LHash;
        EXPECT_FALSE(LHash.OwnsObjects());
        LHash.Put("a", &LObject);
        LHash.Put("b", &LObject);
        LHash.Remove("a");
        LHash.Clear();
        LHash.Put("c", &LObject);
    }
    EXPECT_EQ(LLive, 1);
}

}  // namespace
}  // namespace deruz::logging
