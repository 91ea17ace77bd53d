// LogLastError reads the calling thread's last system error (errno, GetLastError).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/base/strings.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/packets/packet.h"
#include "tests/logging/system_codes.h"

namespace deruz::logging {
namespace {

TEST(SessionLastError, ReadsTheSystemsLastError) {
    TSiLogger LLogger;
    std::vector<std::string> LTitles;
    LLogger.SetOnLogEntry(
        [&](TSiLogger&, TSiLogEntry& AEntry) { LTitles.push_back(AEntry.Title); });
    LLogger.SetEnabled(true);
    TSiSession* LSession = LLogger.AddSession("S");
    const int LCode = testing::TestFileNotFoundCode();
    testing::TestSetLastError(LCode);
    LSession->LogLastError("Open");
    testing::TestSetLastError(0);
    LSession->LogLastError("Ignored", true);
    // The code is 2 on both systems.
    EXPECT_EQ(LTitles, (std::vector<std::string>{"Open: " + SiSystemErrorText(LCode) +
                                                 " (Error Code: 2, $00000002)"}));
}

}  // namespace
}  // namespace deruz::logging
