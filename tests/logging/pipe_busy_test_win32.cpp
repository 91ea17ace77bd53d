// A viewer pipe whose instances are all taken by other clients: opening it waits for the viewer
// to make a free instance instead of failing at once, and gives up with ERROR_PIPE_BUSY after
// its bound.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "logging/base/strings.h"
#include "logging/base/unique_handle_win32.h"
#include "logging/system/pipe_transport.h"

namespace deruz::logging {
namespace {

TSiUniqueHFile NewInstance(const std::u16string& APath) {
    return TSiUniqueHFile(CreateNamedPipeW(reinterpret_cast<const wchar_t*>(APath.c_str()),
                                           PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                           PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
}

TEST(PipeBusyTest, OpenWaitsForAFreeInstance) {
    const std::string LName = "deruz-busy-" + std::to_string(GetCurrentProcessId());
    const std::u16string LPath = SiUtf8ToUtf16(SiPipeSocketPath(LName));
    const TSiUniqueHFile LFirst = NewInstance(LPath);
    ASSERT_TRUE(LFirst);
    TSiPipeHandle LTaker;
    ASSERT_EQ(LTaker.Open(LName), 0u);  // the only instance is now busy

    // The viewer makes its next instance a little later.
    TSiUniqueHFile LSecond;
    std::thread LViewer([&] {
        Sleep(200);
        LSecond = NewInstance(LPath);
    });
    TSiPipeHandle LWaiter;
    EXPECT_EQ(LWaiter.Open(LName), 0u);
    LViewer.join();
    ASSERT_TRUE(LSecond);
    EXPECT_TRUE(LWaiter.IsOpen());

    // No further instance: the wait ends, with the system's reason.
    TSiPipeHandle LLate;
    EXPECT_EQ(LLate.Open(LName), static_cast<std::uint32_t>(ERROR_PIPE_BUSY));
    EXPECT_FALSE(LLate.IsOpen());
}

}  // namespace
}  // namespace deruz::logging
