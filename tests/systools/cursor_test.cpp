// The cursor stack, over a fake application-wide cursor.
#include "systools/cursor.h"

#include <gtest/gtest.h>

#include <vector>

namespace deruz::systools {
namespace {

class TFakeCursor : public ICursorAccess {
  public:
    explicit TFakeCursor(TCursor AInitial) : Current(AInitial) {}
    TCursor GetCursor() override { return Current; }
    void SetCursor(TCursor ACr) override {
        Current = ACr;
        Sets.push_back(ACr);
    }

    TCursor Current;
    std::vector<TCursor> Sets;
};

TEST(TCursorStack, PopWithNothingSavedLeavesTheCursorAlone) {
    TFakeCursor LCursor(crIBeam);
    TCursorStack LStack(LCursor);
    LStack.Pop();
    EXPECT_EQ(LCursor.Current, crIBeam);
    EXPECT_TRUE(LCursor.Sets.empty());
}

TEST(TCursorStack, PopsRestoreInReverseOrder) {
    TFakeCursor LCursor(crIBeam);
    TCursorStack LStack(LCursor);
    LStack.Push(crHourGlass);
    LStack.Push(crHandPoint);
    EXPECT_EQ(LCursor.Current, crHandPoint);
    EXPECT_EQ(LStack.Count(), 2u);
    LStack.Pop();
    EXPECT_EQ(LCursor.Current, crHourGlass);
    LStack.Pop();
    EXPECT_EQ(LCursor.Current, crIBeam);
    LStack.Pop();
    EXPECT_EQ(LCursor.Sets, (std::vector<TCursor>{crHourGlass, crHandPoint, crHourGlass, crIBeam}));
}

TEST(PushWaitCursor, ShowsTheHourGlassUntilPopped) {
    TFakeCursor LCursor(crDefault);
    ICursorAccess& LPrevious = SetCursorAccess(LCursor);
    PushWaitCursor();
    EXPECT_EQ(LCursor.Current, crHourGlass);
    PushCursor(crCross);
    EXPECT_EQ(LCursor.Current, crCross);
    PopCursor();
    PopCursor();
    EXPECT_EQ(LCursor.Current, crDefault);
    PopCursor();
    EXPECT_EQ(LCursor.Sets.size(), 4u);
    SetCursorAccess(LPrevious);
}

}  // namespace
}  // namespace deruz::systools
