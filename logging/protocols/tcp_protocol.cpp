// The "tcp" protocol: banner exchange, log header, and a window of packets that the viewer
// acknowledges one by one.
#include "logging/protocols/tcp_protocol.h"

#include <algorithm>
#include <chrono>

#include "logging/config/connections.h"
#include "logging/protocols/pipe_protocol.h"

namespace deruz::logging {

namespace {

// The bytes of one acknowledgement.
constexpr std::size_t kAcknowledgementSize = 2;

TSiDeadline DeadlineAfter(std::int32_t AMilliseconds) {
    return AMilliseconds > 0
               ? std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds)
               : TSiDeadline::max();
}

}  // namespace

TSiTcpProtocol::TSiTcpProtocol() {
    LoadOptions();
}

void TSiTcpProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("host", FHost);
    ABuilder.AddOption("port", FPort);
    ABuilder.AddOption("timeout", FTimeout);
    ABuilder.AddOption("window", FWindow);
}

void TSiTcpProtocol::LoadOptions() {
    TSiProtocol::LoadOptions();
    FHost = GetStringOption("host", "127.0.0.1");
    // The port keeps its low 16 bits, so 70000 means 4464.
    FPort = static_cast<std::uint16_t>(GetIntegerOption("port", 4228));
    FTimeout = GetIntegerOption("timeout", TSiTcpClient::kDefaultTimeout);
    FWindow = std::clamp(GetIntegerOption("window", kDefaultWindow), 1, kMaxWindow);
    InitializeTcpClient();
}

bool TSiTcpProtocol::IsValidOption(const std::string& AKey) const {
    return AKey == "host" || AKey == "port" || AKey == "timeout" || AKey == "window" ||
           TSiProtocol::IsValidOption(AKey);
}

void TSiTcpProtocol::InitializeTcpClient() {
    FTcpClient = std::make_unique<TSiTcpClient>(FHost, FPort);
}

void TSiTcpProtocol::InternalConnect() {
    // The timeout bounds the connect and the viewer's banner line together: otherwise a viewer
    // that sends its banner a byte at a time would hold the logging thread as long as it likes.
    const TSiDeadline LDeadline = DeadlineAfter(FTimeout);
    FUnacknowledged.clear();
    FHalfAcknowledged = false;
    FTcpClient->Connect(FTimeout);
    FTcpClient->SetTimeout(FTimeout);
    FStream = std::make_unique<TSiTcpClientStream>(*FTcpClient);
    FStream->ReadLn(LDeadline);
    FStream->WriteLn(std::string(SiClientBanner));
    FBuffer = std::make_unique<TSiBufferedStream>(*FStream, kSiViewerBufferSize);
    InternalWriteLogHeader();
    // Connected means that the viewer has taken the log header, whatever the window.
    AwaitAcknowledgements(0, TSiDeadline::max());
}

void TSiTcpProtocol::InternalDisconnect() {
    FTcpClient->Disconnect();
    // What a failed send left in the buffer is dropped: the send's own error is the one that
    // counts.
    if (FBuffer) {
        FBuffer->Discard();
    }
    FBuffer.reset();
    FStream.reset();
}

void TSiTcpProtocol::InternalWritePacket(TSiPacket& APacket) {
    const bool LLogHeader = APacket.GetPacketType() == ptLogHeader;
    // Counted as sent before its first byte leaves, so that a send that fails part of the way
    // leaves it unacknowledged too. Only a backlog can send it again, so only then is it kept:
    // holding it otherwise would only stop its session from reusing it.
    FUnacknowledged.push_back(TSiSentPacket{
        BacklogEnabled() && !LLogHeader ? TSiPacketPtr::Share(&APacket) : nullptr, LLogHeader});
    FFormatter.Format(APacket, *FBuffer);
    FBuffer->Flush();
    if (FUnacknowledged.size() >= static_cast<std::size_t>(FWindow)) {
        // With window=1 this waits for the packet's own acknowledgement, one round trip a
        // packet; with a larger window for the oldest ones, usually long arrived.
        AwaitAcknowledgements(static_cast<std::size_t>(FWindow) - 1, TSiDeadline::max());
    }
}

void TSiTcpProtocol::InternalAwaitDelivery() {
    if (!FUnacknowledged.empty()) {
        AwaitAcknowledgements(0, DeadlineAfter(FTimeout));
    }
}

void TSiTcpProtocol::InternalTakeUnacknowledged(std::vector<TSiPacketPtr>& APackets) {
    for (TSiSentPacket& LSent : FUnacknowledged) {
        if (!LSent.LogHeader) {
            APackets.push_back(std::move(LSent.Kept));
        }
    }
    FUnacknowledged.clear();
    FHalfAcknowledged = false;
}

void TSiTcpProtocol::AwaitAcknowledgements(std::size_t AMostLeft, TSiDeadline ADeadline) {
    std::uint8_t LBytes[kAcknowledgementSize * kMaxWindow];
    while (FUnacknowledged.size() > AMostLeft) {
        // Never more than the acknowledgements still owed: bytes beyond them are no answer to
        // anything sent.
        const std::size_t LOwed =
            kAcknowledgementSize * FUnacknowledged.size() - (FHalfAcknowledged ? 1 : 0);
        const std::size_t LReceived =
            FTcpClient->ReceiveSome(LBytes, std::min(LOwed, sizeof LBytes), ADeadline);
        if (LReceived == 0) {
            throw ESiError("Socket connection has been unexpectedly closed");
        }
        const std::size_t LTotal = LReceived + (FHalfAcknowledged ? 1 : 0);
        FUnacknowledged.erase(
            FUnacknowledged.begin(),
            FUnacknowledged.begin() + static_cast<std::ptrdiff_t>(LTotal / kAcknowledgementSize));
        FHalfAcknowledged = LTotal % kAcknowledgementSize != 0;
    }
}

}  // namespace deruz::logging
