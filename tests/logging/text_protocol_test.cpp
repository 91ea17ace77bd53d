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

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TSiRef<TSiLogEntry> Entry(const std::string& title, TSiLevel level = lvMessage) {
    auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    entry->Title = title;
    entry->Level = level;
    entry->AppName = "app";
    return entry;
}

TEST(TextProtocol, NewFileHasTheMarkAppendedFileDoesNot) {
    const std::string path = ::testing::TempDir() + "text_protocol_test.txt";
    std::remove(path.c_str());
    const std::string options =
        "filename=\"" + path + "\", append=true, pattern=\"%level%|%appname%|%title%\"";
    for (int round = 0; round < 2; ++round) {
        auto protocol = TSiProtocolFactory::GetProtocol("text", options);
        protocol->Connect();
        protocol->WritePacket(*Entry("line " + std::to_string(round)));
        auto watch = SiMakeRef<TSiWatch>(wtInteger);
        protocol->WritePacket(*watch);  // adds nothing
        protocol->Disconnect();
    }
    EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBFMessage|app|line 0\r\nMessage|app|line 1\r\n");
    std::remove(path.c_str());
}

TEST(TextProtocol, OptionsAndTheirDefaults) {
    auto protocol = TSiProtocolFactory::GetProtocol("text", "");
    EXPECT_EQ(protocol->GetName(), "text");
    const std::string options = protocol->GetOptions();
    EXPECT_NE(options.find("filename=\"log.txt\""), std::string::npos) << options;
    EXPECT_NE(options.find("indent=\"false\", pattern=\"[%timestamp%] %level%: %title%\""),
              std::string::npos)
        << options;
    for (const char* key : {"encrypt", "key"}) {
        try {
            TSiProtocolFactory::GetProtocol("text", std::string(key) + "=x");
            FAIL() << key;
        } catch (const ESiError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("Option \"") + key + "\" not available for protocol \"text\"");
        }
    }
}

}  // namespace
}  // namespace deruz::logging
