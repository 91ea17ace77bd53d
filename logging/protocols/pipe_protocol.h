// The "pipe" protocol: sends the binary packets to a log viewer on the same machine through
// the pipe the viewer serves (a named pipe on Windows, a Unix-domain socket elsewhere; see
// pipe_transport.h). This is the protocol the link library logs through.
//
// On each connection the viewer first sends one banner line; the protocol reads it byte by
// byte up to its LF, answers with SiClientBanner and LF, sends the log header, and then only
// writes: every packet is flushed to the pipe before WritePacket returns. Reads and writes
// block without a time limit.
//
// Errors (as ESiProtocolError through the framework): the system's text for an unopenable pipe,
// "Pipe connection has been unexpectedly closed" when the viewer closes during its banner line,
// "Stream write error" when a write fails.
//
// Thread safety and ownership: as every TSiProtocol (protocol.h); the protocol owns its
// formatter, pipe handle, stream and buffer.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "logging/base/stream.h"
#include "logging/format/binary_formatter.h"
#include "logging/io/buffered_stream.h"
#include "logging/protocols/protocol.h"
#include "logging/system/pipe_transport.h"

namespace deruz::logging {

// The line a client sends the viewer after the viewer's banner (followed by one LF), on pipes
// and TCP alike.
inline constexpr std::string_view SiClientBanner = "SiLog Library v3.3.2.49";

// Capacity of the write buffer of the viewer protocols.
inline constexpr std::size_t kSiViewerBufferSize = 8192;

// A stream that reads and writes an open pipe handle; it does not own the handle.
class TSiPipeStream final : public TSiStream, public TSiGatherStream {
  public:
    explicit TSiPipeStream(TSiPipeHandle& AHandle) : FHandle(AHandle) {}
    std::size_t Read(void* ABuffer, std::size_t ACount) override {
        return FHandle.Read(ABuffer, ACount);
    }
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        return FHandle.Write(ABuffer, ACount);
    }
    std::size_t WritePair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                          std::size_t ASecondCount) override {
        return FHandle.WritePair(AFirst, AFirstCount, ASecond, ASecondCount);
    }

  private:
    TSiPipeHandle& FHandle;
};

class TSiPipeProtocol final : public TSiProtocol {
  public:
    TSiPipeProtocol();

    std::string GetName() const override { return "pipe"; }
    bool WritesBinary() const noexcept override { return true; }

    // The banner exchange on a new connection: reads and discards the viewer's line up to and
    // including its LF (raising ESiError "Pipe connection has been unexpectedly closed" when a
    // read returns no byte), then writes SiClientBanner and LF unbuffered. The result of that
    // write is not examined: a pipe that fails here fails on the next write.
    static void DoHandShake(TSiStream& AStream);

  protected:
    void BuildOptions(TSiConnectionsBuilder& ABuilder) override;
    void LoadOptions() override;
    bool IsValidOption(const std::string& AKey) const override;
    void InternalConnect() override;
    // As InternalConnect, but false instead of an error when the pipe cannot be opened.
    bool InternalReconnect() override;
    void InternalDisconnect() override;
    void InternalWritePacket(TSiPacket& APacket) override;

  private:
    // Opens the pipe AName; on failure AError holds the system's error code.
    bool CreateHandle(const std::string& AName, std::uint32_t& AError);
    // The steps after the pipe is open: handshake, buffer, log header.
    void Establish();

    TSiBinaryFormatter FFormatter;
    TSiPipeHandle FHandle;
    std::unique_ptr<TSiPipeStream> FStream;
    std::unique_ptr<TSiBufferedStream> FBuffer;
    std::string FPipeName = "silog";
};

}  // namespace deruz::logging
