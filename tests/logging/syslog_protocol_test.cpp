// The "syslog" protocol against a receiver on loopback: octet-counted framing over TCP, and a
// receiver that closed the connection between two packets (it restarted) gets the second one
// on a new connection instead of losing it. (Against a real rsyslog: tests/collect.)
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "logging/packets/packet.h"
#include "logging/protocols/protocol.h"
#include "logging/viewer/viewer_transport.h"

namespace deruz::logging {
namespace {

TSiRef<TSiLogEntry> Entry(const std::string& ATitle) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title = ATitle;
    LEntry->AppName = "Praxis";
    LEntry->HostName = "ws-01";
    return LEntry;
}

// Reads one octet-counted message: the length, a blank, that many bytes.
std::string ReadFrame(TSiViewerChannel& AChannel) {
    std::string LLength;
    char LChar = 0;
    while (AChannel.Read(&LChar, 1) == 1 && LChar != ' ') LLength += LChar;
    std::string LMessage(std::stoul(LLength), '\0');
    std::size_t LDone = 0;
    while (LDone < LMessage.size()) {
        const std::size_t LRead = AChannel.Read(LMessage.data() + LDone, LMessage.size() - LDone);
        if (LRead == 0) break;
        LDone += LRead;
    }
    return LMessage;
}

TEST(SyslogProtocol, OctetCountedAndReconnectsAfterTheReceiverClosed) {
    auto LListener = SiListenTcp("127.0.0.1", 0);
    TSiProtocolPtr LProtocol = TSiProtocolFactory::GetProtocol(
        "syslog", "port=" + std::to_string(LListener->Port()) + ", facility=local1");
    LProtocol->Connect();
    auto LFirst = LListener->Accept();
    LProtocol->WritePacket(*Entry("one\ntwo"));
    const std::string LMessage = ReadFrame(*LFirst);
    EXPECT_EQ(LMessage.rfind("<142>1 ", 0), 0u) << LMessage;
    EXPECT_EQ(LMessage.substr(LMessage.size() - 10), "] one\\ntwo") << LMessage;

    // The receiver goes away; the next packet finds that out before it is written.
    LFirst.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    LProtocol->WritePacket(*Entry("after restart"));
    auto LSecond = LListener->Accept();
    const std::string LAfter = ReadFrame(*LSecond);
    EXPECT_EQ(LAfter.substr(LAfter.size() - 15), "] after restart") << LAfter;
    EXPECT_FALSE(LProtocol->Failed());
}

TEST(SyslogProtocol, RefusesUnknownTransportAndFacility) {
    EXPECT_THROW(TSiProtocolFactory::GetProtocol("syslog", "transport=tls"), ESiError);
    EXPECT_THROW(TSiProtocolFactory::GetProtocol("syslog", "facility=local9"), ESiError);
    EXPECT_NO_THROW(TSiProtocolFactory::GetProtocol("syslog", "transport=UDP, facility=23"));
}

}  // namespace
}  // namespace deruz::logging
