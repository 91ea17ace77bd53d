// The cursor stack, over a fake application-wide cursor.
#include "systools/cursor.h"

#include <gtest/gtest.h>

#include <vector>

namespace deruz::systools {
namespace {

class TFakeCursor : public ICursorAccess {
  public:
    explicit TFakeCursor(TCursor initial) : Current(initial) {}
    TCursor GetCursor() override { return Current; }
    void SetCursor(TCursor Cr) override {
        Current = Cr;
        Sets.push_back(Cr);
    }

    TCursor Current;
    std::vector<TCursor> Sets;
};

TEST(TCursorStack, PopWithNothingSavedLeavesTheCursorAlone) {
    TFakeCursor cursor(crIBeam);
    TCursorStack stack(cursor);
    stack.Pop();
    EXPECT_EQ(cursor.Current, crIBeam);
    EXPECT_TRUE(cursor.Sets.empty());
}

TEST(TCursorStack, PopsRestoreInReverseOrder) {
    TFakeCursor cursor(crIBeam);
    TCursorStack stack(cursor);
    stack.Push(crHourGlass);
    stack.Push(crHandPoint);
    EXPECT_EQ(cursor.Current, crHandPoint);
    EXPECT_EQ(stack.Count(), 2u);
    stack.Pop();
    EXPECT_EQ(cursor.Current, crHourGlass);
    stack.Pop();
    EXPECT_EQ(cursor.Current, crIBeam);
    stack.Pop();
    EXPECT_EQ(cursor.Sets, (std::vector<TCursor>{crHourGlass, crHandPoint, crHourGlass, crIBeam}));
}

TEST(PushWaitCursor, ShowsTheHourGlassUntilPopped) {
    TFakeCursor cursor(crDefault);
    ICursorAccess& previous = SetCursorAccess(cursor);
    PushWaitCursor();
    EXPECT_EQ(cursor.Current, crHourGlass);
    PushCursor(crCross);
    EXPECT_EQ(cursor.Current, crCross);
    PopCursor();
    PopCursor();
    EXPECT_EQ(cursor.Current, crDefault);
    PopCursor();
    EXPECT_EQ(cursor.Sets.size(), 4u);
    SetCursorAccess(previous);
}

}  // namespace
}  // namespace deruz::systools
