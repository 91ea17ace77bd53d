// The log viewer's end of the viewer pipe and of TCP, as the system provides them: a listener
// that hands out one client connection after another, and the connection itself. The portable
// viewer logic (TSiViewerServer) sits on top.
//
// Pipes are named pipes on Windows and Unix-domain sockets at SiPipeSocketPath elsewhere
// (pipe_transport.h); TCP is IPv4.
//
// Thread safety: Stop may be called from any thread at any time and wakes an Accept, Read or
// Write that waits on this listener or on any of its connections; everything else is used by
// one thread. Ownership: a connection refers to its listener, which must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace deruz::logging {

// One accepted client, as the viewer sees it. Closed on destruction.
class TSiViewerChannel {
  public:
    TSiViewerChannel() = default;
    TSiViewerChannel(const TSiViewerChannel&) = delete;
    TSiViewerChannel& operator=(const TSiViewerChannel&) = delete;
    virtual ~TSiViewerChannel() = default;

    // Waits for data and reads up to ACount bytes; 0 when the client closed the connection or
    // the listener was stopped. Raises ESiError with the system's text when reading fails.
    virtual std::size_t Read(void* ABuffer, std::size_t ACount) = 0;
    // Writes all ACount bytes; raises ESiError when that fails or the listener was stopped.
    virtual void Write(const void* ABuffer, std::size_t ACount) = 0;
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
