// The handle owner: every handle it takes over is closed exactly once, whichever way it leaves
// (destruction, Reset, move assignment), and never when it was handed over with Release. A
// double close is silent with real descriptors (or closes one that another thread opened
// meanwhile), so the traits here record every close instead.
#include "logging/base/unique_handle.h"

#include <gtest/gtest.h>

#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

namespace deruz::logging {
namespace {

std::vector<int> GClosed;

struct TRecordingTraits {
    using TValue = int;
    static constexpr TValue Invalid() noexcept { return -1; }
    static void Close(TValue AValue) noexcept { GClosed.push_back(AValue); }
};
using TOwner = TSiUniqueAny<TRecordingTraits>;

static_assert(!std::is_copy_constructible_v<TOwner> && !std::is_copy_assignable_v<TOwner>);
static_assert(std::is_nothrow_move_constructible_v<TOwner> &&
              std::is_nothrow_move_assignable_v<TOwner>);

TEST(SiUniqueAnyTest, ClosesEachHandleExactlyOnce) {
    struct TCase {
        const char* Name;
        std::function<void()> Run;  // the owners it makes end with it
        std::vector<int> Closed;    // in this order, after the owners have ended
    };
    const TCase LCases[] = {
        {"the destructor closes; empty owners close nothing",
         [] {
             const TOwner LHeld(3);
             const TOwner LEmpty;
             const TOwner LInvalid(-1);
             EXPECT_TRUE(LHeld);
             EXPECT_FALSE(LEmpty);
             EXPECT_FALSE(LInvalid);
         },
         {3}},
        {"move construction leaves the source empty",
         [] {
             TOwner LSource(3);
             const TOwner LTarget(std::move(LSource));
             // The moved-from state is the subject here.
             // NOLINTNEXTLINE(bugprone-use-after-move)
             EXPECT_FALSE(LSource);
             EXPECT_EQ(LTarget.Get(), 3);
         },
         {3}},
        {"move assignment closes the target's handle at once and takes the source's",
         [] {
             TOwner LSource(3);
             TOwner LTarget(4);
             LTarget = std::move(LSource);
             EXPECT_EQ(GClosed, std::vector<int>{4});
             // The moved-from state is the subject here.
             // NOLINTNEXTLINE(bugprone-use-after-move)
             EXPECT_FALSE(LSource);
             EXPECT_EQ(LTarget.Get(), 3);
         },
         {4, 3}},
        {"moving onto itself keeps the handle",
         [] {
             TOwner LOwner(3);
             TOwner& LSame = LOwner;
             LOwner = std::move(LSame);
             EXPECT_TRUE(GClosed.empty());
             EXPECT_EQ(LOwner.Get(), 3);
         },
         {3}},
        {"reset closes the old handle at once and takes the new one",
         [] {
             TOwner LOwner(3);
             LOwner.Reset(5);
             EXPECT_EQ(GClosed, std::vector<int>{3});
             EXPECT_EQ(LOwner.Get(), 5);
         },
         {3, 5}},
        {"reset without a value empties the owner, a second time closes nothing",
         [] {
             TOwner LOwner(3);
             LOwner.Reset();
             EXPECT_FALSE(LOwner);
             LOwner.Reset();
         },
         {3}},
        {"release hands the handle over unclosed",
         [] {
             TOwner LOwner(3);
             EXPECT_EQ(LOwner.Release(), 3);
             EXPECT_FALSE(LOwner);
             EXPECT_EQ(LOwner.Get(), -1);
         },
         {}},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        GClosed.clear();
        LCase.Run();
        EXPECT_EQ(GClosed, LCase.Closed);
    }
}

}  // namespace
}  // namespace deruz::logging
