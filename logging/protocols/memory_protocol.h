// The "mem" protocol: keeps the most recent packets in memory, within a byte budget, and gives
// them out on request, as a binary log, as text lines, or to another protocol.
//
// Options (besides the common ones of every protocol):
//   maxsize  size     2048 (KB)  budget of the store: each packet costs its size plus 24 bytes;
//                                the oldest packets make room for new ones
//   astext   boolean  false      dump text lines instead of binary packets
//   pattern  string   "[%timestamp%] %level%: %title%"   line pattern of text dumps
//   indent   boolean  false      indent titles in text dumps by the method nesting depth
//
// A dump is requested through the logger core: TSiLogger::Dispatch(caption, action, &target),
// where target is a TSiMemoryDump naming a stream or a protocol (the action is not examined).
// A stream receives "SILF" and then every held packet in the binary format, oldest first (the
// layout of an unencrypted log file), or, with "astext", the UTF-8 byte-order mark and one line
// per held log entry. A protocol receives every held packet through its WritePacket, as if it
// were being logged now. Held packets are given out once: a dump empties the store. Only a
// connected protocol runs dumps; a dump of an unconnected one does nothing.
//
// Errors: a failing stream or target protocol ends the dump; the packets already given out are
// gone, the rest stay held, and the error is reported as every protocol error is (raised as
// ESiProtocolError, or passed to OnError when the protocol is asynchronous).
//
// Thread safety: as for every protocol, all operations run under the protocol's lock, or on its
// worker thread when it is asynchronous. Ownership: the store holds one reference on each held
// packet; a dump hands each one on and releases it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "logging/base/stream.h"
#include "logging/format/formatter.h"
#include "logging/packets/packet_queue.h"
#include "logging/protocols/protocol.h"

namespace deruz::logging {

// Where a dump of a memory protocol goes: the state object to pass with the dispatch command.
// It does not own its stream or protocol. The object, and its stream or protocol, must stay valid
// until the dump has run: a synchronous memory protocol runs it inside Dispatch; an asynchronous
// one runs it later on its worker thread, and WaitFor tells when it has.
class TSiMemoryDump {
  public:
    explicit TSiMemoryDump(TSiStream& AStream) noexcept : FStream(&AStream) {}
    explicit TSiMemoryDump(TSiProtocol& AProtocol) noexcept : FProtocol(&AProtocol) {}
    TSiMemoryDump(const TSiMemoryDump&) = delete;
    TSiMemoryDump& operator=(const TSiMemoryDump&) = delete;

    TSiStream* Stream() const noexcept { return FStream; }
    TSiProtocol* Protocol() const noexcept { return FProtocol; }

    // Waits until a memory protocol has run the dump, successfully or not; false when it has
    // not run within ATimeout (for example because the protocol was not connected).
    bool WaitFor(std::chrono::milliseconds ATimeout);
    // Whether the dump has run, and the error that ended it (empty when it succeeded).
    bool Done();
    std::string Error();

  private:
    friend class TSiMemoryProtocol;
    // Called by the protocol after its last use of the stream or protocol.
    void Finish(std::string AError);

    TSiStream* FStream = nullptr;
    TSiProtocol* FProtocol = nullptr;
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    std::string FError;
};

class TSiMemoryProtocol final : public TSiProtocol {
  public:
    TSiMemoryProtocol();

    std::string GetName() const override { return "mem"; }
    bool WritesLocally() const noexcept override { return true; }

  protected:
    void BuildOptions(TSiConnectionsBuilder& ABuilder) override;
    void LoadOptions() override;
    bool IsValidOption(const std::string& AKey) const override;
    void InternalConnect() override;
    void InternalDisconnect() override;
    void InternalWritePacket(TSiPacket& APacket) override;
    // Runs a dump when the command's state is a TSiMemoryDump; a command without state does
    // nothing.
    void InternalDispatch(TSiProtocolCommand& ACommand) override;

  private:
    // Replaces the formatter by the binary one, or by the text one with the pattern and
    // indentation when "astext" is on.
    void InitializeFormatter();
    void FlushToStream(TSiStream& AStream);
    void FlushToProtocol(TSiProtocol& AProtocol);

    std::unique_ptr<TSiFormatter> FFormatter;
    bool FAsText = false;
    bool FIndent = false;
    std::string FPattern;
    std::int64_t FMaxSize = 2048 * 1024;
    // The store; present only while connected.
    std::unique_ptr<TSiPacketQueue> FQueue;
};

}  // namespace deruz::logging
