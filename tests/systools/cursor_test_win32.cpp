// The cursor stack over the real application-wide cursor.
#include <gtest/gtest.h>
#include <windows.h>

#include "systools/cursor.h"

namespace deruz::systools {
namespace {

HCURSOR SystemCursor(LPCWSTR AName) {
    return LoadCursorW(nullptr, AName);
}

TEST(PlatformCursor, WaitCursorShowsAndTheHostCursorComesBack) {
    // The host's own cursor before the link changes anything.
    const HCURSOR LHost = SystemCursor(IDC_CROSS);
    ASSERT_NE(LHost, nullptr);
    SetCursor(LHost);
    ASSERT_EQ(GetCursor(), LHost);

    PushWaitCursor();
    EXPECT_EQ(GetCursor(), SystemCursor(IDC_WAIT));
    PushCursor(crHandPoint);
    EXPECT_EQ(GetCursor(), SystemCursor(IDC_HAND));
    PopCursor();
    EXPECT_EQ(GetCursor(), SystemCursor(IDC_WAIT));
    PopCursor();
    EXPECT_EQ(GetCursor(), LHost);

    PushCursor(crNone);
    EXPECT_EQ(GetCursor(), nullptr);
    PopCursor();
    EXPECT_EQ(GetCursor(), LHost);
}

}  // namespace
}  // namespace deruz::systools
