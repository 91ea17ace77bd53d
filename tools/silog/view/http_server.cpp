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

bool IsTokenChar(char AC) {
    return std::isalnum(static_cast<unsigned char>(AC)) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(AC) != std::string_view::npos;
}

std::string Lower(std::string_view AText) {
    std::string LOut(AText);
    for (char& LC : LOut) LC = static_cast<char>(std::tolower(static_cast<unsigned char>(LC)));
    return LOut;
}

// Where the head that starts AText ends (after its empty line), or npos.
std::size_t HeadEnd(std::string_view AText) {
    for (std::size_t LI = 0; LI < AText.size(); ++LI) {
        if (AText[LI] != '\n') continue;
        if (LI + 1 < AText.size() && AText[LI + 1] == '\n') return LI + 2;
        if (LI + 2 < AText.size() && AText[LI + 1] == '\r' && AText[LI + 2] == '\n') return LI + 3;
    }
    return std::string_view::npos;
}

// Reads and drops what the client still sends (for a while and up to a limit) before a
// connection that was refused is closed: closing with unread bytes would reset it, and the
// client could lose the response that explains the refusal.
void Drain(TSiViewerChannel& AChannel) {
    char LBuffer[8192];
    std::size_t LTotal = 0;
    AChannel.SetDeadline(In(500));
    try {
        while (LTotal < (1u << 20)) {
            const std::size_t LCount = AChannel.Read(LBuffer, sizeof LBuffer);
            if (LCount == 0) break;
            LTotal += LCount;
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
    std::vector<std::string_view> LLines;
    std::size_t LStart = 0;
    while (LStart < AHead.size()) {
        std::size_t LEnd = AHead.find('\n', LStart);
        if (LEnd == std::string_view::npos) LEnd = AHead.size();
        std::string_view LLine = AHead.substr(LStart, LEnd - LStart);
        if (!LLine.empty() && LLine.back() == '\r') LLine.remove_suffix(1);
        LLines.push_back(LLine);
        LStart = LEnd + 1;
    }
    while (!LLines.empty() && LLines.back().empty()) LLines.pop_back();
    if (LLines.empty()) {
        AError = "empty request";
        return false;
    }
    const std::string_view LRequestLine = LLines[0];
    const std::size_t LSpace1 = LRequestLine.find(' ');
    const std::size_t LSpace2 =
        LSpace1 == std::string_view::npos ? LSpace1 : LRequestLine.find(' ', LSpace1 + 1);
    if (LSpace2 == std::string_view::npos ||
        LRequestLine.find(' ', LSpace2 + 1) != std::string_view::npos) {
        AError = "malformed request line";
        return false;
    }
    const std::string_view LMethod = LRequestLine.substr(0, LSpace1);
    const std::string_view LTarget = LRequestLine.substr(LSpace1 + 1, LSpace2 - LSpace1 - 1);
    const std::string_view LVersion = LRequestLine.substr(LSpace2 + 1);
    if (LMethod.empty() || !std::all_of(LMethod.begin(), LMethod.end(), IsTokenChar)) {
        AError = "malformed method";
        return false;
    }
    if (LVersion != "HTTP/1.1" && LVersion != "HTTP/1.0") {
        AError = "unsupported HTTP version";
        return false;
    }
    if (LTarget.empty() || LTarget[0] != '/' ||
        std::any_of(LTarget.begin(), LTarget.end(),
                    [](char AC) { return static_cast<unsigned char>(AC) <= 0x20 || AC == 0x7F; })) {
        AError = "malformed request target";
        return false;
    }
    ARequest.Method = std::string(LMethod);
    ARequest.Version = std::string(LVersion);
    ARequest.Target = std::string(LTarget);
    ARequest.Head = LMethod == "HEAD";
    const std::size_t LQuestion = LTarget.find('?');
    // "+" is a space only in the query; in the path it stays.
    ARequest.Path = PercentDecode(LTarget.substr(0, LQuestion), false);
    if (ARequest.Path.find('\0') != std::string::npos) {
        AError = "malformed request target";
        return false;
    }
    if (LQuestion != std::string_view::npos) {
        std::string_view LQuery = LTarget.substr(LQuestion + 1);
        while (!LQuery.empty()) {
            const std::size_t LAmp = LQuery.find('&');
            const std::string_view LPart = LQuery.substr(0, LAmp);
            if (!LPart.empty()) {
                const std::size_t LEq = LPart.find('=');
                ARequest.Query.emplace_back(PercentDecode(LPart.substr(0, LEq)),
                                            LEq == std::string_view::npos
                                                ? std::string()
                                                : std::string(LPart.substr(LEq + 1)));
            }
            if (LAmp == std::string_view::npos) break;
            LQuery.remove_prefix(LAmp + 1);
        }
    }
    if (LLines.size() - 1 > kMaxHeaders) {
        AError = "too many header lines";
        return false;
    }
    for (std::size_t LI = 1; LI < LLines.size(); ++LI) {
        const std::string_view LLine = LLines[LI];
        const std::size_t LColon = LLine.find(':');
        if (LColon == std::string_view::npos || LColon == 0 ||
            !std::all_of(LLine.begin(), LLine.begin() + static_cast<std::ptrdiff_t>(LColon),
                         IsTokenChar)) {
            AError = "malformed header line";
            return false;
        }
        ARequest.Headers.emplace_back(Lower(LLine.substr(0, LColon)),
                                      std::string(SiTrim(LLine.substr(LColon + 1))));
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
    std::string LHead = "HTTP/1.1 " + std::to_string(AStatus) + " " +
                        std::string(THttpServer::Reason(AStatus)) + "\r\n";
    LHead += "Content-Type: ";
    LHead += AContentType;
    LHead += "\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n";
    LHead += FCommonHeaders;
    LHead += AHeaders;
    LHead += Close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    try {
        if (!FRequest.Head && ABody.size() <= 65536) {
            LHead += ABody;
            WriteAll(LHead);
        } else {
            WriteAll(LHead);
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
    std::string LHead = "HTTP/1.1 " + std::to_string(AStatus) + " " +
                        std::string(THttpServer::Reason(AStatus)) + "\r\n";
    LHead += "Content-Type: ";
    LHead += AContentType;
    LHead += "\r\n";
    LHead += FCommonHeaders;
    LHead += AHeaders;
    LHead += "Connection: close\r\n\r\n";
    try {
        WriteAll(LHead);
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
    std::string LBody = "{\"error\":";
    AppendJsonString(LBody, AText);
    LBody += "}";
    AExchange.Send(AStatus, "application/json; charset=utf-8", LBody, AHeaders);
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
        std::lock_guard LGuard(FLock);
        if (FListener) FListener->Stop();
        FEnded.notify_all();
    }
    if (FAcceptThread.joinable()) FAcceptThread.join();
    std::list<std::thread> LThreads;
    {
        std::unique_lock LGuard(FLock);
        FEnded.wait(LGuard, [&] { return FActive == 0; });
        LThreads.swap(FThreads);
        FFinished.clear();
    }
    for (auto& LThread : LThreads) {
        if (LThread.joinable()) LThread.join();
    }
    FListener.reset();
}

void THttpServer::Run() {
    for (;;) {
        {
            std::unique_lock LGuard(FLock);
            FEnded.wait(LGuard, [&] {
                return FStopping.load() ||
                       FActive < std::max<std::size_t>(FOptions.MaxConnections, 1);
            });
            for (const auto LIt : FFinished) {
                LIt->join();
                FThreads.erase(LIt);
            }
            FFinished.clear();
            if (FStopping) return;
        }
        std::unique_ptr<TSiViewerChannel> LChannel;
        try {
            LChannel = FListener->Accept();
        } catch (const std::exception&) {
            if (FStopping) return;
            // A failed accept (a client that went away at once, no descriptors left) is
            // tried again after a pause rather than ending the server.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (!LChannel) return;
        std::lock_guard LGuard(FLock);
        ++FActive;
        const auto LIt = FThreads.emplace(FThreads.end());
        *LIt = std::thread([this, LIt, LChannel = std::move(LChannel)]() mutable {
            try {
                Serve(*LChannel);
            } catch (...) {
            }
            LChannel.reset();
            std::lock_guard LEnd(FLock);
            FFinished.push_back(LIt);
            --FActive;
            FEnded.notify_all();
        });
    }
}

void THttpServer::Serve(TSiViewerChannel& AChannel) {
    std::string LPending;
    char LBuffer[8192];
    while (!FStopping) {
        // Wait for a request: idle time first, then the head has HeadTimeout from its start.
        AChannel.SetDeadline(In(LPending.empty() ? FOptions.IdleTimeout : FOptions.HeadTimeout));
        bool LStarted = !LPending.empty();
        std::size_t LEnd;
        bool LTooLarge = false;
        for (;;) {
            // Empty lines before a request line are skipped.
            while (!LPending.empty() && (LPending[0] == '\r' || LPending[0] == '\n')) {
                LPending.erase(0, 1);
            }
            LEnd = HeadEnd(LPending);
            if (LEnd != std::string::npos) {
                LTooLarge = LEnd > FOptions.HeadLimit;
                break;
            }
            if (LPending.size() >= FOptions.HeadLimit) {
                LTooLarge = true;
                break;
            }
            std::size_t LCount = 0;
            try {
                LCount = AChannel.Read(
                    LBuffer, std::min(sizeof LBuffer, FOptions.HeadLimit + 3 - LPending.size()));
            } catch (const ESiViewerTimeout&) {
                return;  // idle, or a head that took too long
            }
            if (LCount == 0) return;
            if (!LStarted) {
                LStarted = true;
                AChannel.SetDeadline(In(FOptions.HeadTimeout));
            }
            LPending.append(LBuffer, LCount);
        }
        THttpRequest LRequest;
        THttpExchange LExchange(AChannel, LRequest, FOptions.CommonHeaders, FOptions.WriteTimeout,
                                FStopping);
        if (LTooLarge) {
            LExchange.Close = true;
            SendError(LExchange, 413,
                      "request head larger than " + std::to_string(FOptions.HeadLimit) + " bytes");
            return;
        }
        std::string LError;
        const bool LParsed =
            ParseRequestHead(std::string_view(LPending).substr(0, LEnd), LRequest, LError);
        LPending.erase(0, LEnd);
        if (!LParsed) {
            LExchange.Close = true;
            SendError(LExchange, 400, LError);
            Drain(AChannel);
            return;
        }
        const std::string LConnection = Lower(LRequest.Header("connection").value_or(""));
        if (LConnection.find("close") != std::string::npos ||
            (LRequest.Version == "HTTP/1.0" &&
             LConnection.find("keep-alive") == std::string::npos)) {
            LExchange.Close = true;
        }
        // A body is never read: the connection ends after the response instead.
        const auto LLength = LRequest.Header("content-length");
        if ((LLength && *LLength != "0") || LRequest.Header("transfer-encoding")) {
            LExchange.Close = true;
        }
        if (LRequest.Method != "GET" && LRequest.Method != "HEAD") {
            LExchange.Close = true;
            SendError(LExchange, 405, "method not allowed", "Allow: GET, HEAD\r\n");
            Drain(AChannel);
            return;
        }
        try {
            FHandler(LRequest, LExchange);
        } catch (const std::exception& LE) {
            if (!LExchange.Answered()) SendError(LExchange, 500, LE.what());
        }
        if (!LExchange.Answered()) SendError(LExchange, 500, "no response");
        if (LExchange.Close || LExchange.Streamed()) {
            if (!LExchange.Streamed()) Drain(AChannel);
            return;
        }
    }
}

}  // namespace deruz::silog::view
