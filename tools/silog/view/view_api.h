// The HTTP interface of `silog view` (tools/silog/view/API.md): the page's files and the
// /api/... endpoints over the store, with the security rules that every response keeps.
//
// Security: log content is hostile, the browser is a target. Every response carries a strict
// Content-Security-Policy and the other headers of API.md. With a token in force, "/" and
// every /api/... request must carry it (query "token" or "Authorization: Bearer"), else 401;
// the page's own files under /static/ carry no log data and are served without it, since a
// module's imports cannot carry a query. Without a token the server listens on the loopback
// address only, and a request whose Host header names another host is refused (403), so that
// a web site that points its own name at 127.0.0.1 cannot read the log through the browser.
//
// Thread safety: Handle runs on several HTTP threads at once; the API keeps no state of its
// own besides the count of event streams.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tools/silog/view/http_server.h"
#include "tools/silog/view/view_store.h"

namespace deruz::silog::view {

struct TViewApiOptions {
    // Empty: no token.
    std::string Token;
    // A random id of this server run, for the page to see a restart.
    std::string Instance;
    std::string Version;
    // The port the HTTP server listens on, for the Host check.
    std::uint16_t Port = 0;
    std::size_t MaxStreams = 16;
    // Milliseconds between state events at most, and between keep-alive comments.
    std::uint32_t EventInterval = 200;
    std::uint32_t KeepAliveInterval = 15000;
};

class TViewApi {
  public:
    TViewApi(TViewStore& AStore, TViewApiOptions AOptions);

    void Handle(const THttpRequest& ARequest, THttpExchange& AExchange);

    void SetPort(std::uint16_t APort) { FOptions.Port = APort; }

    // The headers every response carries (CSP and the others).
    static std::string CommonHeaders();
    // A random token (32 hexadecimal digits from the system's random source).
    static std::string NewToken();

  private:
    bool Authorized(const THttpRequest& ARequest) const;
    bool HostAllowed(const THttpRequest& ARequest) const;
    std::string StateJson() const;
    void Events(THttpExchange& AExchange);
    void StaticFile(const THttpRequest& ARequest, THttpExchange& AExchange, std::string_view AName);

    TViewStore& FStore;
    TViewApiOptions FOptions;
    std::atomic<std::size_t> FStreams{0};
};

}  // namespace deruz::silog::view
