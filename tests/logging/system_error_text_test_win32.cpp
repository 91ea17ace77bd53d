// Error texts where Windows (or Wine, which lacks the texts of several socket errors) has none
// for a code: the number stands in for the text, so that a message never ends in nothing.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <string>

#include "logging/base/strings.h"
#include "logging/system/socket.h"

namespace deruz::logging {
namespace {

// Whether the system itself has a text for ACode.
bool SystemHasText(DWORD ACode) {
    wchar_t LBuffer[512];
    return FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                          ACode, 0, LBuffer, 512, nullptr) > 0;
}

TEST(SiSystemErrorTextTest, CodesWithoutATextGiveTheirNumber) {
    // The customer bit: codes that applications define, which the system never describes.
    constexpr DWORD LApplicationCode = 0x2000ABCD;
    ASSERT_FALSE(SystemHasText(LApplicationCode));
    EXPECT_EQ(SiSystemErrorText(LApplicationCode), "System error 536914893");

    for (const int LCode : {WSAETIMEDOUT, WSAECONNREFUSED, WSAECONNRESET, WSAEWOULDBLOCK}) {
        SCOPED_TRACE(LCode);
        const std::string LText = SiSocketErrorText(LCode);
        if (SystemHasText(static_cast<DWORD>(LCode))) {
            EXPECT_NE(LText.rfind("System error ", 0), 0u) << LText;
        } else {
            EXPECT_EQ(LText, "System error " + std::to_string(LCode));
        }
    }
    // A code the system does describe keeps the system's text.
    ASSERT_TRUE(SystemHasText(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(SiSystemErrorText(ERROR_FILE_NOT_FOUND).rfind("System error ", 0), 0u);
}

}  // namespace
}  // namespace deruz::logging
