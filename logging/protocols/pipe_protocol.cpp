// The "pipe" protocol: banner exchange, log header and one flush per packet.
#include "logging/protocols/pipe_protocol.h"

#include <cstdint>

#include "logging/base/strings.h"
#include "logging/config/connections.h"

namespace deruz::logging {

namespace {

// Why the pipe AName could not be opened.
std::string OpenErrorText(const std::string& AName, std::uint32_t AError) {
    if (AError == kSiPipeServerNotTrusted) {
        return "The pipe \"" + AName +
               "\" is not served by a process of this user; nothing is sent to it";
    }
    return SiSystemErrorText(AError);
}

}  // namespace

TSiPipeProtocol::TSiPipeProtocol() {
    LoadOptions();
}

void TSiPipeProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("pipename", FPipeName);
}

void TSiPipeProtocol::LoadOptions() {
    TSiProtocol::LoadOptions();
    FPipeName = GetStringOption("pipename", "silog");
}

bool TSiPipeProtocol::IsValidOption(const std::string& AKey) const {
    return AKey == "pipename" || TSiProtocol::IsValidOption(AKey);
}

bool TSiPipeProtocol::CreateHandle(const std::string& AName, std::uint32_t& AError) {
    AError = FHandle.Open(AName);
    return FHandle.IsOpen();
}

void TSiPipeProtocol::DoHandShake(TSiStream& AStream) {
    std::uint8_t LByte = 0;
    do {
        if (AStream.Read(&LByte, 1) != 1) {
            throw ESiError("Pipe connection has been unexpectedly closed");
        }
    } while (LByte != '\n');
    std::string LLine(SiClientBanner);
    LLine += '\n';
    AStream.Write(LLine.data(), LLine.size());
}

void TSiPipeProtocol::Establish() {
    FStream = std::make_unique<TSiPipeStream>(FHandle);
    DoHandShake(*FStream);
    FBuffer = std::make_unique<TSiBufferedStream>(*FStream, kSiViewerBufferSize);
    InternalWriteLogHeader();
}

void TSiPipeProtocol::InternalConnect() {
    std::uint32_t LError = 0;
    if (!CreateHandle(FPipeName, LError)) {
        throw ESiError(OpenErrorText(FPipeName, LError));
    }
    Establish();
}

bool TSiPipeProtocol::InternalReconnect() {
    std::uint32_t LError = 0;
    if (!CreateHandle(FPipeName, LError)) {
        return false;
    }
    Establish();
    return true;
}

void TSiPipeProtocol::InternalDisconnect() {
    // The handle is closed on every way out, also when the last bytes cannot be written.
    struct TCloser {
        TSiPipeProtocol& FOwner;
        ~TCloser() {
            if (FOwner.FBuffer) {
                FOwner.FBuffer->Discard();
            }
            FOwner.FBuffer.reset();
            FOwner.FStream.reset();
            FOwner.FHandle.Close();
        }
    } LCloser{*this};
    if (FBuffer) {
        FBuffer->Flush();
    }
}

void TSiPipeProtocol::InternalWritePacket(TSiPacket& APacket) {
    FFormatter.Format(APacket, *FBuffer);
    FBuffer->Flush();
}

}  // namespace deruz::logging
