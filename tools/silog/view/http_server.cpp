#include "tools/silog/view/http_server.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/system/clock.h"
#include "tools/silog/view/view_json.h"

namespace deruz::silog::view {

using namespace deruz::logging;

namespace {

constexpr std::size_t kMaxHeaders = 100;

std::optional<std::uint32_t> In(std::uint32_t AMilliseconds) {
    return SiSystemTickCount() + AMilliseconds;
}

bool IsTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string Lower(std::string_view AText) {
    std::string out(AText);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Where the head that starts AText ends (after its empty line), or npos.
std::size_t HeadEnd(std::string_view AText) {
    for (std::size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] != '\n') continue;
        if (i + 1 < AText.size() && AText[i + 1] == '\n') return i + 2;
        if (i + 2 < AText.size() && AText[i + 1] == '\r' && AText[i + 2] == '\n') return i + 3;
    }
    return std::string_view::npos;
}

// Reads and drops what the client still sends (for a while and up to a limit) before a
// connection that was refused is closed: closing with unread bytes would reset it, and the
// client could lose the response that explains the refusal.
void Drain(TSiViewerChannel& AChannel) {
    char buffer[8192];
    std::size_t total = 0;
    AChannel.SetDeadline(In(500));
    try {
        while (total < (1u << 20)) {
            const std::size_t count = AChannel.Read(buffer, sizeof buffer);
            if (count == 0) break;
            total += count;
        }
    } catch (const std::exception&) {
    }
}

}  // namespace

std::optional<std::string> THttpRequest::Header(std::string_view AName) const {
    for (const auto& [name, value] : Headers) {
        if (name == AName) return value;
    }
    return std::nullopt;
}

std::optional<std::string> THttpRequest::Param(std::string_view AName) const {
    for (const auto& [name, value] : Query) {
        if (name == AName) return PercentDecode(value);
    }
    return std::nullopt;
}

bool ParseRequestHead(std::string_view AHead, THttpRequest& ARequest, std::string& AError) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < AHead.size()) {
        std::size_t end = AHead.find('\n', start);
        if (end == std::string_view::npos) end = AHead.size();
        std::string_view line = AHead.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) {
        AError = "empty request";
        return false;
    }
    const std::string_view requestLine = lines[0];
    const std::size_t space1 = requestLine.find(' ');
    const std::size_t space2 =
        space1 == std::string_view::npos ? space1 : requestLine.find(' ', space1 + 1);
    if (space2 == std::string_view::npos ||
        requestLine.find(' ', space2 + 1) != std::string_view::npos) {
        AError = "malformed request line";
        return false;
    }
    const std::string_view method = requestLine.substr(0, space1);
    const std::string_view target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    const std::string_view version = requestLine.substr(space2 + 1);
    if (method.empty() || !std::all_of(method.begin(), method.end(), IsTokenChar)) {
        AError = "malformed method";
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        AError = "unsupported HTTP version";
        return false;
    }
    if (target.empty() || target[0] != '/' || std::any_of(target.begin(), target.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
        })) {
        AError = "malformed request target";
        return false;
    }
    ARequest.Method = std::string(method);
    ARequest.Version = std::string(version);
    ARequest.Target = std::string(target);
    ARequest.Head = method == "HEAD";
    const std::size_t question = target.find('?');
    // "+" is a space only in the query; in the path it stays.
    ARequest.Path = PercentDecode(target.substr(0, question), false);
    if (ARequest.Path.find('\0') != std::string::npos) {
        AError = "malformed request target";
        return false;
    }
    if (question != std::string_view::npos) {
        std::string_view query = target.substr(question + 1);
        while (!query.empty()) {
            const std::size_t amp = query.find('&');
            const std::string_view part = query.substr(0, amp);
            if (!part.empty()) {
                const std::size_t eq = part.find('=');
                ARequest.Query.emplace_back(PercentDecode(part.substr(0, eq)),
                                            eq == std::string_view::npos
                                                ? std::string()
                                                : std::string(part.substr(eq + 1)));
            }
            if (amp == std::string_view::npos) break;
            query.remove_prefix(amp + 1);
        }
    }
    if (lines.size() - 1 > kMaxHeaders) {
        AError = "too many header lines";
        return false;
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 ||
            !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                         IsTokenChar)) {
            AError = "malformed header line";
            return false;
        }
        ARequest.Headers.emplace_back(Lower(line.substr(0, colon)),
                                      std::string(SiTrim(line.substr(colon + 1))));
    }
    return true;
}

// --- Exchange ---------------------------------------------------------------------------------

THttpExchange::THttpExchange(TSiViewerChannel& AChannel, const THttpRequest& ARequest,
                             const std::string& ACommonHeaders, std::uint32_t AWriteTimeout,
                             const std::atomic<bool>& AStopping)
    : FChannel(AChannel),
      FRequest(ARequest),
      FCommonHeaders(ACommonHeaders),
      FWriteTimeout(AWriteTimeout),
      FStopping(AStopping) {}

void THttpExchange::WriteAll(std::string_view AData) {
    FChannel.SetDeadline(In(FWriteTimeout));
    FChannel.Write(AData.data(), AData.size());
}

void THttpExchange::Send(int AStatus, std::string_view AContentType, std::string_view ABody,
                         std::string_view AHeaders) {
    FAnswered = true;
    std::string head = "HTTP/1.1 " + std::to_string(AStatus) + " " +
                       std::string(THttpServer::Reason(AStatus)) + "\r\n";
    head += "Content-Type: ";
    head += AContentType;
    head += "\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n";
    head += FCommonHeaders;
    head += AHeaders;
    head += Close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    try {
        if (!FRequest.Head && ABody.size() <= 65536) {
            head += ABody;
            WriteAll(head);
        } else {
            WriteAll(head);
            if (!FRequest.Head) WriteAll(ABody);
        }
    } catch (const std::exception&) {
        FBroken = true;
        Close = true;
    }
}

void THttpExchange::BeginStream(int AStatus, std::string_view AContentType,
                                std::string_view AHeaders) {
    FAnswered = true;
    FStreamed = true;
    Close = true;
    std::string head = "HTTP/1.1 " + std::to_string(AStatus) + " " +
                       std::string(THttpServer::Reason(AStatus)) + "\r\n";
    head += "Content-Type: ";
    head += AContentType;
    head += "\r\n";
    head += FCommonHeaders;
    head += AHeaders;
    head += "Connection: close\r\n\r\n";
    try {
        WriteAll(head);
    } catch (const std::exception&) {
        FBroken = true;
    }
    if (FRequest.Head) FBroken = true;  // a HEAD request gets the head only
}

bool THttpExchange::Write(std::string_view AData) {
    if (FBroken || FStopping.load()) return false;
    try {
        WriteAll(AData);
        return true;
    } catch (const std::exception&) {
        FBroken = true;
        return false;
    }
}

// --- Server -----------------------------------------------------------------------------------

THttpServer::THttpServer(THttpServerOptions AOptions, THandler AHandler)
    : FOptions(std::move(AOptions)), FHandler(std::move(AHandler)) {}

THttpServer::~THttpServer() {
    Stop();
}

std::string_view THttpServer::Reason(int AStatus) {
    switch (AStatus) {
        case 200:
            return "OK";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Unknown";
    }
}

void THttpServer::SendError(THttpExchange& AExchange, int AStatus, std::string_view AText,
                            std::string_view AHeaders) {
    std::string body = "{\"error\":";
    AppendJsonString(body, AText);
    body += "}";
    AExchange.Send(AStatus, "application/json; charset=utf-8", body, AHeaders);
}

void THttpServer::Start() {
    Stop();
    FStopping = false;
    FListener = SiListenTcp(FOptions.Address, FOptions.Port);
    FPort = FListener->Port();
    FAcceptThread = std::thread([this] { Run(); });
}

void THttpServer::Stop() {
    FStopping = true;
    {
        std::lock_guard guard(FLock);
        if (FListener) FListener->Stop();
        FEnded.notify_all();
    }
    if (FAcceptThread.joinable()) FAcceptThread.join();
    std::list<std::thread> threads;
    {
        std::unique_lock guard(FLock);
        FEnded.wait(guard, [&] { return FActive == 0; });
        threads.swap(FThreads);
        FFinished.clear();
    }
    for (auto& thread : threads) {
        if (thread.joinable()) thread.join();
    }
    FListener.reset();
}

void THttpServer::Run() {
    for (;;) {
        {
            std::unique_lock guard(FLock);
            FEnded.wait(guard, [&] {
                return FStopping.load() ||
                       FActive < std::max<std::size_t>(FOptions.MaxConnections, 1);
            });
            for (const auto it : FFinished) {
                it->join();
                FThreads.erase(it);
            }
            FFinished.clear();
            if (FStopping) return;
        }
        std::unique_ptr<TSiViewerChannel> channel;
        try {
            channel = FListener->Accept();
        } catch (const std::exception&) {
            if (FStopping) return;
            // A failed accept (a client that went away at once, no descriptors left) is
            // tried again after a pause rather than ending the server.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (!channel) return;
        std::lock_guard guard(FLock);
        ++FActive;
        const auto it = FThreads.emplace(FThreads.end());
        *it = std::thread([this, it, channel = std::move(channel)]() mutable {
            try {
                Serve(*channel);
            } catch (...) {
            }
            channel.reset();
            std::lock_guard end(FLock);
            FFinished.push_back(it);
            --FActive;
            FEnded.notify_all();
        });
    }
}

void THttpServer::Serve(TSiViewerChannel& AChannel) {
    std::string pending;
    char buffer[8192];
    while (!FStopping) {
        // Wait for a request: idle time first, then the head has HeadTimeout from its start.
        AChannel.SetDeadline(In(pending.empty() ? FOptions.IdleTimeout : FOptions.HeadTimeout));
        bool started = !pending.empty();
        std::size_t end;
        bool tooLarge = false;
        for (;;) {
            // Empty lines before a request line are skipped.
            while (!pending.empty() && (pending[0] == '\r' || pending[0] == '\n')) {
                pending.erase(0, 1);
            }
            end = HeadEnd(pending);
            if (end != std::string::npos) {
                tooLarge = end > FOptions.HeadLimit;
                break;
            }
            if (pending.size() >= FOptions.HeadLimit) {
                tooLarge = true;
                break;
            }
            std::size_t count = 0;
            try {
                count = AChannel.Read(
                    buffer, std::min(sizeof buffer, FOptions.HeadLimit + 3 - pending.size()));
            } catch (const ESiViewerTimeout&) {
                return;  // idle, or a head that took too long
            }
            if (count == 0) return;
            if (!started) {
                started = true;
                AChannel.SetDeadline(In(FOptions.HeadTimeout));
            }
            pending.append(buffer, count);
        }
        THttpRequest request;
        THttpExchange exchange(AChannel, request, FOptions.CommonHeaders, FOptions.WriteTimeout,
                               FStopping);
        if (tooLarge) {
            exchange.Close = true;
            SendError(exchange, 413,
                      "request head larger than " + std::to_string(FOptions.HeadLimit) + " bytes");
            return;
        }
        std::string error;
        const bool parsed =
            ParseRequestHead(std::string_view(pending).substr(0, end), request, error);
        pending.erase(0, end);
        if (!parsed) {
            exchange.Close = true;
            SendError(exchange, 400, error);
            Drain(AChannel);
            return;
        }
        const std::string connection = Lower(request.Header("connection").value_or(""));
        if (connection.find("close") != std::string::npos ||
            (request.Version == "HTTP/1.0" && connection.find("keep-alive") == std::string::npos)) {
            exchange.Close = true;
        }
        // A body is never read: the connection ends after the response instead.
        const auto length = request.Header("content-length");
        if ((length && *length != "0") || request.Header("transfer-encoding")) {
            exchange.Close = true;
        }
        if (request.Method != "GET" && request.Method != "HEAD") {
            exchange.Close = true;
            SendError(exchange, 405, "method not allowed", "Allow: GET, HEAD\r\n");
            Drain(AChannel);
            return;
        }
        try {
            FHandler(request, exchange);
        } catch (const std::exception& e) {
            if (!exchange.Answered()) SendError(exchange, 500, e.what());
        }
        if (!exchange.Answered()) SendError(exchange, 500, "no response");
        if (exchange.Close || exchange.Streamed()) {
            if (!exchange.Streamed()) Drain(AChannel);
            return;
        }
    }
}

}  // namespace deruz::silog::view
