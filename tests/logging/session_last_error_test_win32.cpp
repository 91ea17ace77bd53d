// LogLastError reads GetLastError on Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/base/strings.h"

namespace deruz::logging {
namespace {

TEST(SessionLastError, ReadsGetLastError) {
    TSiLogger LLogger;
    std::vector<std::string> LTitles;
    LLogger.SetOnLogEntry(
        [&](TSiLogger&, TSiLogEntry& AEntry) { LTitles.push_back(AEntry.Title); });
    LLogger.SetEnabled(true);
    TSiSession* LSession = LLogger.AddSession("S");
    SetLastError(ERROR_ACCESS_DENIED);
    LSession->LogLastError("Open");
    SetLastError(ERROR_SUCCESS);
    LSession->LogLastError("Ignored", true);
    EXPECT_EQ(LTitles, (std::vector<std::string>{"Open: " + SiSystemErrorText(ERROR_ACCESS_DENIED) +
                                                 " (Error Code: 5, $00000005)"}));
}

}  // namespace
}  // namespace deruz::logging
