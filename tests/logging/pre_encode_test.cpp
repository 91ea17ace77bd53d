// Log entries encoded before the core lock: a protocol that writes the binary format must write
// exactly the bytes that compiling the entry under the lock gives, whichever path the entry took
// (encoded beforehand, or stamped and compiled under the lock because the application name had
// changed, the thread had no copy of it, a filter may change the entry, or the entry is too
// large or carries data), and a reused entry must never carry the bytes of an earlier one.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/config/configuration.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/format/binary_formatter.h"
#include "logging/protocols/protocol.h"

namespace deruz::logging {
namespace {

// What the probe saw of one log entry.
struct TProbeRecord {
    bool Encoded = false;
    // The bytes its binary formatter wrote for the entry.
    std::vector<std::uint8_t> Written;
    // The bytes compiled from the entry's fields, ignoring any encoded bytes.
    std::vector<std::uint8_t> Compiled;
};

std::mutex GProbeLock;
std::vector<TProbeRecord> GProbe;

// A synchronous protocol that formats every log entry with the binary formatter, as the file
// protocol does, and records both byte forms of it.
class TBinaryProbeProtocol final : public TSiProtocol {
  public:
    std::string GetName() const override { return "binprobe"; }
    bool WritesBinary() const noexcept override { return true; }

  protected:
    void InternalConnect() override {}
    void InternalDisconnect() override {}
    void InternalWritePacket(TSiPacket& APacket) override {
        if (APacket.GetPacketType() != ptLogEntry) return;
        auto& LEntry = static_cast<TSiLogEntry&>(APacket);
        TProbeRecord LRecord;
        TSiMemoryStream LOut;
        FFormatter.Format(LEntry, LOut);
        const auto LWritten = LOut.Bytes();
        LRecord.Written.assign(LWritten.begin(), LWritten.end());
        const auto LEncoded = LEntry.Encoded();
        LRecord.Encoded = !LEncoded.empty();
        LEntry.SetEncoded({});
        LRecord.Compiled = SiFormatBinary(LEntry);
        LEntry.SetEncoded(LEncoded);
        std::lock_guard LGuard(GProbeLock);
        GProbe.push_back(std::move(LRecord));
    }

  private:
    TSiBinaryFormatter FFormatter;
};

bool Contains(const std::vector<std::uint8_t>& ABytes, std::string_view AText) {
    return std::search(ABytes.begin(), ABytes.end(), AText.begin(), AText.end()) != ABytes.end();
}

class PreEncode : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TSiProtocolFactory::RegisterProtocol("binprobe",
                                             [] { return SiMakeProtocol<TBinaryProbeProtocol>(); });
    }
    PreEncode() {
        std::lock_guard LGuard(GProbeLock);
        GProbe.clear();
    }
    std::vector<TProbeRecord> Probe() {
        std::lock_guard LGuard(GProbeLock);
        return GProbe;
    }
};

// One entry per step, through one session (whose spare entry is reused from the second entry
// on): whether it may be encoded beforehand, and what its bytes must hold.
TEST_F(PreEncode, EveryPathWritesTheBytesOfTheCompiledEntry) {
    TSiLogger LLogger("first app");
    LLogger.SetConnections("binprobe()");
    LLogger.SetEnabled(true);
    TSiSession* LSession = LLogger.AddSession("Main");
    const std::string LLong(600, 'x');
    struct TStep {
        const char* What;
        bool Encoded;
        std::string Expected;
    };
    const std::vector<TStep> LSteps = {
        {"first entry: this thread has no copy of the name yet", false, "first app"},
        {"second entry", true, "first app"},
        {"after SetAppName: the copy is stale", false, "second app"},
        {"the copy renewed", true, "second app"},
        {"a title beyond the room for encoding", false, LLong},
        {"an entry with data", false, "some data"},
        {"a filter set: it may change the entry", false, "changed by the filter"},
        {"filter removed", true, "second app"},
        {"after ApplyConfiguration's appname", false, "third app"},
        {"a reused entry again", true, "third app"},
    };
    for (const TStep& LStep : LSteps) {
        const std::string_view LWhat = LStep.What;
        if (LWhat.starts_with("after SetAppName")) LLogger.SetAppName("second app");
        if (LWhat.starts_with("a filter set")) {
            LLogger.SetOnFilter([](TSiLogger&, TSiPacket& APacket, bool&) {
                static_cast<TSiLogEntry&>(APacket).Title = "changed by the filter";
            });
        }
        if (LWhat.starts_with("filter removed")) LLogger.SetOnFilter(nullptr);
        if (LWhat.starts_with("after ApplyConfiguration")) {
            TSiConfiguration LConfig;
            LConfig.LoadFromText("appname = third app\n");
            LLogger.ApplyConfiguration(LConfig);
            LLogger.SetConnections("binprobe()");
        }
        if (LWhat.starts_with("a title beyond")) {
            LSession->LogMessage(LLong);
        } else if (LWhat.starts_with("an entry with data")) {
            LSession->LogText(LWhat, "some data");
        } else {
            LSession->LogMessage(LWhat);
        }
    }
    const std::vector<TProbeRecord> LSeen = Probe();
    ASSERT_EQ(LSeen.size(), LSteps.size());
    for (std::size_t LIndex = 0; LIndex < LSteps.size(); ++LIndex) {
        SCOPED_TRACE(LSteps[LIndex].What);
        EXPECT_EQ(LSeen[LIndex].Encoded, LSteps[LIndex].Encoded);
        EXPECT_EQ(LSeen[LIndex].Written, LSeen[LIndex].Compiled);
        EXPECT_TRUE(Contains(LSeen[LIndex].Written, LSteps[LIndex].Expected));
        EXPECT_TRUE(Contains(LSeen[LIndex].Written, LLogger.HostName()));
    }
}

// A core with an asynchronous protocol never encodes beforehand: its worker reads the entry
// after the core has let go of it.
TEST_F(PreEncode, NotWithAnAsynchronousProtocol) {
    TSiLogger LLogger("app");
    LLogger.SetConnections("binprobe(), mem(async.enabled=true)");
    LLogger.SetEnabled(true);
    TSiSession* LSession = LLogger.AddSession("Main");
    for (int LIndex = 0; LIndex < 3; ++LIndex) LSession->LogMessage("entry");
    LLogger.SetEnabled(false);
    const std::vector<TProbeRecord> LSeen = Probe();
    ASSERT_EQ(LSeen.size(), 3u);
    for (const TProbeRecord& LRecord : LSeen) {
        EXPECT_FALSE(LRecord.Encoded);
        EXPECT_EQ(LRecord.Written, LRecord.Compiled);
    }
}

}  // namespace
}  // namespace deruz::logging
