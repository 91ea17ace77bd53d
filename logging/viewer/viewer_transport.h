// The log viewer's end of the viewer pipe and of TCP, as the system provides them: a listener
// that hands out one client connection after another, and the connection itself. The portable
// viewer logic (TSiViewerServer) sits on top.
//
// Pipes are named pipes on Windows and Unix-domain sockets at SiPipeSocketPath elsewhere
// (pipe_transport.h); TCP is IPv4.
//
// Thread safety: Stop may be called from any thread at any time and wakes an Accept, Read or
// Write that waits on this listener or on any of its connections. The listener is used by one
// thread; each connection by one thread, which may differ from the listener's and from the
// other connections'. Ownership: a connection refers to its listener, which must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "logging/base/errors.h"
#include "logging/system/clock.h"

namespace deruz::logging {

// How many clients may wait to be accepted (connected, not yet taken by the viewer). Clients
// arrive in bursts when many applications start together; the system lowers it to its limit.
inline constexpr int kSiViewerBacklog = 512;

// A wait of a connection passed the deadline set with SetDeadline.
class ESiViewerTimeout : public ESiError {
  public:
    ESiViewerTimeout() : ESiError("The viewer's deadline passed") {}
};

// One accepted client, as the viewer sees it. Closed on destruction.
class TSiViewerChannel {
  public:
    TSiViewerChannel() = default;
    TSiViewerChannel(const TSiViewerChannel&) = delete;
    TSiViewerChannel& operator=(const TSiViewerChannel&) = delete;
    virtual ~TSiViewerChannel() = default;

    // Waits for data and reads up to ACount bytes; 0 when the client closed the connection or
    // the listener was stopped. Raises ESiError with the system's text when reading fails, and
    // ESiViewerTimeout when the deadline passes before any byte came.
    virtual std::size_t Read(void* ABuffer, std::size_t ACount) = 0;
    // Writes all ACount bytes; raises ESiError when that fails or the listener was stopped, and
    // ESiViewerTimeout when the deadline passes before all of them were taken.
    virtual void Write(const void* ABuffer, std::size_t ACount) = 0;

    // The moment, on the system's tick count (SiSystemTickCount), after which Read and Write
    // stop waiting; none (the default) waits as long as it takes.
    void SetDeadline(std::optional<std::uint32_t> ATick) noexcept { FDeadline = ATick; }

  protected:
    // Milliseconds left before the deadline: nothing when there is none, 0 once it passed.
    std::optional<std::uint32_t> Remaining() const noexcept {
        if (!FDeadline) {
            return std::nullopt;
        }
        // The tick count wraps; deadlines are far less than half its range away.
        const auto LLeft = static_cast<std::int32_t>(*FDeadline - SiSystemTickCount());
        return LLeft > 0 ? static_cast<std::uint32_t>(LLeft) : 0u;
    }

  private:
    std::optional<std::uint32_t> FDeadline;
};

class TSiViewerListener {
  public:
    TSiViewerListener() = default;
    TSiViewerListener(const TSiViewerListener&) = delete;
    TSiViewerListener& operator=(const TSiViewerListener&) = delete;
    virtual ~TSiViewerListener() = default;

    // Waits for the next client; null once the listener was stopped. Raises ESiError when
    // accepting fails.
    virtual std::unique_ptr<TSiViewerChannel> Accept() = 0;
    // Wakes every wait on this listener and its connections, now and later. Idempotent.
    virtual void Stop() noexcept = 0;
    // The TCP port listened on (the one the system chose when 0 was asked for); 0 for pipes.
    virtual std::uint16_t Port() const noexcept { return 0; }
};

// Serves the pipe called AName. Raises ESiError "Cannot listen on pipe "<name>": <system text>"
// when the pipe cannot be served (for example because another viewer serves it).
std::unique_ptr<TSiViewerListener> SiListenPipe(const std::string& AName);

// Listens on the IPv4 address AAddress (dotted) and APort (0: a free port). Raises ESiError
// "Cannot listen on <address>:<port>: <system text>".
std::unique_ptr<TSiViewerListener> SiListenTcp(const std::string& AAddress, std::uint16_t APort);

}  // namespace deruz::logging
