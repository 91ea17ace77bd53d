// The cursor stack over the real application-wide cursor.
#include <gtest/gtest.h>
#include <windows.h>

#include "systools/cursor.h"

namespace deruz::systools {
namespace {

HCURSOR SystemCursor(LPCWSTR name) {
    return LoadCursorW(nullptr, name);
}

TEST(PlatformCursor, WaitCursorShowsAndTheHostCursorComesBack) {
    // The host's own cursor before the link changes anything.
    const HCURSOR host = SystemCursor(IDC_CROSS);
    ASSERT_NE(host, nullptr);
    SetCursor(host);
    ASSERT_EQ(GetCursor(), host);

    PushWaitCursor();
    EXPECT_EQ(GetCursor(), SystemCursor(IDC_WAIT));
    PushCursor(crHandPoint);
    EXPECT_EQ(GetCursor(), SystemCursor(IDC_HAND));
    PopCursor();
    EXPECT_EQ(GetCursor(), SystemCursor(IDC_WAIT));
    PopCursor();
    EXPECT_EQ(GetCursor(), host);

    PushCursor(crNone);
    EXPECT_EQ(GetCursor(), nullptr);
    PopCursor();
    EXPECT_EQ(GetCursor(), host);
}

}  // namespace
}  // namespace deruz::systools
