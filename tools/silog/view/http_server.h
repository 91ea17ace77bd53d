// A small HTTP/1.1 server for `silog view`: GET and HEAD, keep-alive, nothing else. It runs on
// the logging library's viewer transport (SiListenTcp and TSiViewerChannel), whose deadlines
// bound every wait, so it needs no platform code of its own.
//
// Bounds, so that no client can hold the server: a request head of at most HeadLimit bytes
// (413 beyond), complete within HeadTimeout of its first byte; an idle keep-alive connection
// is closed after IdleTimeout; each write must be taken within WriteTimeout; at most
// MaxConnections connections are served at once (more wait to be accepted). A request that
// carries a body, or a method other than GET and HEAD (405), is answered and its connection
// closed, so a body is never read.
//
// Thread safety: Start and Stop are called by the owner. The handler runs on the connection
// threads, several at once. Ownership: the server owns its listener and threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "logging/viewer/viewer_transport.h"

namespace deruz::silog::view {

struct THttpRequest {
    std::string Method;
    std::string Version;  // "HTTP/1.1" or "HTTP/1.0"
    std::string Target;   // as sent: path and query
    std::string Path;     // percent-decoded, without the query
    // Query parameters: names decoded, values as sent (see PercentDecode).
    std::vector<std::pair<std::string, std::string>> Query;
    // Header names in lower case, values trimmed.
    std::vector<std::pair<std::string, std::string>> Headers;
    bool Head = false;  // a HEAD request: the response goes without its body

    std::optional<std::string> Header(std::string_view AName) const;
    // The decoded value of the first query parameter AName.
    std::optional<std::string> Param(std::string_view AName) const;
};

// Parses a request head (through the empty line). Returns false with AError for a malformed
// one.
bool ParseRequestHead(std::string_view AHead, THttpRequest& ARequest, std::string& AError);

// One request and the means to answer it. The handler answers once: Send with a whole body,
// or BeginStream and then Write pieces (the connection is closed at the end of the stream).
class THttpExchange {
  public:
    THttpExchange(logging::TSiViewerChannel& AChannel, const THttpRequest& ARequest,
                  const std::string& ACommonHeaders, std::uint32_t AWriteTimeout,
                  const std::atomic<bool>& AStopping);

    // AHeaders: further header lines, each ending in CR LF.
    void Send(int AStatus, std::string_view AContentType, std::string_view ABody,
              std::string_view AHeaders = {});
    void BeginStream(int AStatus, std::string_view AContentType, std::string_view AHeaders = {});
    // False once the client is gone or the server stops.
    bool Write(std::string_view AData);

    bool Answered() const noexcept { return FAnswered; }
    bool Streamed() const noexcept { return FStreamed; }
    bool Stopping() const noexcept { return FStopping.load(); }
    // Set by the server: the connection is closed after this response.
    bool Close = false;

  private:
    void WriteAll(std::string_view AData);

    logging::TSiViewerChannel& FChannel;
    const THttpRequest& FRequest;
    const std::string& FCommonHeaders;
    std::uint32_t FWriteTimeout;
    const std::atomic<bool>& FStopping;
    bool FAnswered = false;
    bool FStreamed = false;
    bool FBroken = false;
};

struct THttpServerOptions {
    std::string Address = "127.0.0.1";
    std::uint16_t Port = 4229;
    std::size_t HeadLimit = 16384;
    std::uint32_t HeadTimeout = 10000;
    std::uint32_t IdleTimeout = 60000;
    std::uint32_t WriteTimeout = 30000;
    std::size_t MaxConnections = 64;
    // Header lines sent with every response (each ending in CR LF).
    std::string CommonHeaders;
};

class THttpServer {
  public:
    using THandler = std::function<void(const THttpRequest&, THttpExchange&)>;

    THttpServer(THttpServerOptions AOptions, THandler AHandler);
    ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // Listens; raises ESiError when the address cannot be served.
    void Start();
    void Stop();
    std::uint16_t Port() const noexcept { return FPort; }

    // The status line's text of a status code.
    static std::string_view Reason(int AStatus);
    // A JSON error body {"error":"..."} with its status.
    static void SendError(THttpExchange& AExchange, int AStatus, std::string_view AText,
                          std::string_view AHeaders = {});

  private:
    void Run();
    void Serve(logging::TSiViewerChannel& AChannel);

    THttpServerOptions FOptions;
    THandler FHandler;
    std::unique_ptr<logging::TSiViewerListener> FListener;
    std::thread FAcceptThread;
    std::mutex FLock;
    std::condition_variable FEnded;
    std::list<std::thread> FThreads;
    std::vector<std::list<std::thread>::iterator> FFinished;
    std::size_t FActive = 0;
    std::atomic<bool> FStopping{false};
    std::uint16_t FPort = 0;
};

}  // namespace deruz::silog::view
