// The text protocol: lines through the pattern into a UTF-8 file with a byte-order mark on
// new files only; no encryption.
#include "logging/protocols/text_protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "logging/protocols/protocol.h"

namespace deruz::logging {
namespace {

std::string ReadAll(const std::string& APath) {
    std::ifstream LIn(APath, std::ios::binary);
    std::ostringstream LText;
    LText << LIn.rdbuf();
    return LText.str();
}

TSiRef<TSiLogEntry> Entry(const std::string& ATitle, TSiLevel ALevel = lvMessage) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title = ATitle;
    LEntry->Level = ALevel;
    LEntry->AppName = "app";
    return LEntry;
}

TEST(TextProtocol, NewFileHasTheMarkAppendedFileDoesNot) {
    const std::string LPath = ::testing::TempDir() + "text_protocol_test.txt";
    std::remove(LPath.c_str());
    const std::string LOptions =
        "filename=\"" + LPath + "\", append=true, pattern=\"%level%|%appname%|%title%\"";
    for (int LRound = 0; LRound < 2; ++LRound) {
        auto LProtocol = TSiProtocolFactory::GetProtocol("text", LOptions);
        LProtocol->Connect();
        LProtocol->WritePacket(*Entry("line " + std::to_string(LRound)));
        auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
        LProtocol->WritePacket(*LWatch);  // adds nothing
        LProtocol->Disconnect();
    }
    EXPECT_EQ(ReadAll(LPath), "\xEF\xBB\xBFMessage|app|line 0\r\nMessage|app|line 1\r\n");
    std::remove(LPath.c_str());
}

TEST(TextProtocol, OptionsAndTheirDefaults) {
    auto LProtocol = TSiProtocolFactory::GetProtocol("text", "");
    EXPECT_EQ(LProtocol->GetName(), "text");
    const std::string LOptions = LProtocol->GetOptions();
    EXPECT_NE(LOptions.find("filename=\"log.txt\""), std::string::npos) << LOptions;
    EXPECT_NE(LOptions.find("indent=\"false\", pattern=\"[%timestamp%] %level%: %title%\""),
              std::string::npos)
        << LOptions;
    for (const char* LKey : {"encrypt", "key"}) {
        try {
            TSiProtocolFactory::GetProtocol("text", std::string(LKey) + "=x");
            FAIL() << LKey;
        } catch (const ESiError& LE) {
            EXPECT_EQ(std::string(LE.what()),
                      std::string("Option \"") + LKey + "\" not available for protocol \"text\"");
        }
    }
}

}  // namespace
}  // namespace deruz::logging
