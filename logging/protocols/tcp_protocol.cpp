// The "tcp" protocol: banner exchange, log header, and an acknowledgement after every packet.
#include "logging/protocols/tcp_protocol.h"

#include <chrono>

#include "logging/config/connections.h"
#include "logging/protocols/pipe_protocol.h"

namespace deruz::logging {

TSiTcpProtocol::TSiTcpProtocol() {
    LoadOptions();
}

void TSiTcpProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("host", FHost);
    ABuilder.AddOption("port", FPort);
    ABuilder.AddOption("timeout", FTimeout);
}

void TSiTcpProtocol::LoadOptions() {
    TSiProtocol::LoadOptions();
    FHost = GetStringOption("host", "127.0.0.1");
    // The port keeps its low 16 bits, so 70000 means 4464.
    FPort = static_cast<std::uint16_t>(GetIntegerOption("port", 4228));
    FTimeout = GetIntegerOption("timeout", TSiTcpClient::kDefaultTimeout);
    InitializeTcpClient();
}

bool TSiTcpProtocol::IsValidOption(const std::string& AKey) const {
    return AKey == "host" || AKey == "port" || AKey == "timeout" ||
           TSiProtocol::IsValidOption(AKey);
}

void TSiTcpProtocol::InitializeTcpClient() {
    FTcpClient = std::make_unique<TSiTcpClient>(FHost, FPort);
}

void TSiTcpProtocol::InternalConnect() {
    // The timeout bounds the connect and the viewer's banner line together: otherwise a viewer
    // that sends its banner a byte at a time would hold the logging thread as long as it likes.
    const TSiDeadline LDeadline =
        FTimeout > 0 ? std::chrono::steady_clock::now() + std::chrono::milliseconds(FTimeout)
                     : TSiDeadline::max();
    FTcpClient->Connect(FTimeout);
    FTcpClient->SetTimeout(FTimeout);
    FStream = std::make_unique<TSiTcpClientStream>(*FTcpClient);
    FStream->ReadLn(LDeadline);
    FStream->WriteLn(std::string(SiClientBanner));
    FBuffer = std::make_unique<TSiBufferedStream>(*FStream, kSiViewerBufferSize);
    InternalWriteLogHeader();
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
    FFormatter.Format(APacket, *FBuffer);
    FBuffer->Flush();
    std::uint8_t LAcknowledgement[2];
    if (FTcpClient->Receive(LAcknowledgement, sizeof LAcknowledgement) != sizeof LAcknowledgement) {
        throw ESiError("Socket connection has been unexpectedly closed");
    }
}

}  // namespace deruz::logging
