// LogLastError reads errno on POSIX systems.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/base/strings.h"

namespace deruz::logging {
namespace {

TEST(SessionLastError, ReadsErrno) {
    TSiLogger LLogger;
    std::vector<std::string> LTitles;
    LLogger.SetOnLogEntry(
        [&](TSiLogger&, TSiLogEntry& AEntry) { LTitles.push_back(AEntry.Title); });
    LLogger.SetEnabled(true);
    TSiSession* LSession = LLogger.AddSession("S");
    errno = ENOENT;
    LSession->LogLastError("Open");
    errno = 0;
    LSession->LogLastError("Ignored", true);
    EXPECT_EQ(LTitles, (std::vector<std::string>{"Open: " + SiSystemErrorText(ENOENT) +
                                                 " (Error Code: 2, $00000002)"}));
}

}  // namespace
}  // namespace deruz::logging
