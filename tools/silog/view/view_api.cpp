#include "tools/silog/view/view_api.h"

#include <chrono>
#include <thread>

#include "logging/system/random.h"
#include "tools/silog/view/view_json.h"
#include "tools/silog/view/view_static.h"

namespace deruz::silog::view {

namespace {

constexpr std::string_view kJson = "application/json; charset=utf-8";
constexpr std::string_view kNoStore = "Cache-Control: no-store\r\n";

// A bad parameter, answered with 400.
struct TBadParameter {
    std::string Text;
};

std::uint64_t Number(const THttpRequest& ARequest, std::string_view AName, std::uint64_t ADefault,
                     std::uint64_t AMax) {
    const auto LText = ARequest.Param(AName);
    if (!LText || LText->empty()) return ADefault;
    const auto LValue = LeadingNumber(*LText, true);
    if (!LValue || *LValue < 0 ||
        *LValue != static_cast<double>(static_cast<std::uint64_t>(*LValue)) ||
        *LValue > static_cast<double>(AMax)) {
        throw TBadParameter{std::string(AName) + " takes a whole number from 0 to " +
                            std::to_string(AMax)};
    }
    return static_cast<std::uint64_t>(*LValue);
}

bool SameToken(std::string_view A_, std::string_view AB) {
    // Compared in time that does not depend on where they differ.
    if (A_.size() != AB.size()) return false;
    unsigned char LDiff = 0;
    for (std::size_t LI = 0; LI < A_.size(); ++LI) {
        LDiff |= static_cast<unsigned char>(A_[LI] ^ AB[LI]);
    }
    return LDiff == 0;
}

std::string ETagOf(std::string_view ABody) {
    std::uint64_t LHash = 1469598103934665603ull;
    for (const char LC : ABody) {
        LHash ^= static_cast<unsigned char>(LC);
        LHash *= 1099511628211ull;
    }
    char LText[24];
    std::snprintf(LText, sizeof LText, "\"%016llx\"", static_cast<unsigned long long>(LHash));
    return LText;
}

}  // namespace

TViewApi::TViewApi(TViewStore& AStore, TViewApiOptions AOptions)
    : FStore(AStore), FOptions(std::move(AOptions)) {}

std::string TViewApi::CommonHeaders() {
    return "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
           "img-src 'self' data: blob:; connect-src 'self'; frame-src blob:; base-uri 'none'; "
           "form-action 'none'; frame-ancestors 'none'\r\n"
           "X-Content-Type-Options: nosniff\r\n"
           "Referrer-Policy: no-referrer\r\n"
           "Cross-Origin-Resource-Policy: same-origin\r\n"
           "Cross-Origin-Opener-Policy: same-origin\r\n";
}

std::string TViewApi::NewToken() {
    unsigned char LBytes[16];
    logging::SiRandomBytes(LBytes, sizeof LBytes);
    std::string LToken;
    AppendHex(LToken, std::string_view(reinterpret_cast<const char*>(LBytes), sizeof LBytes));
    return LToken;
}

bool TViewApi::Authorized(const THttpRequest& ARequest) const {
    if (FOptions.Token.empty()) return true;
    if (const auto LToken = ARequest.Param("token"); LToken && SameToken(*LToken, FOptions.Token)) {
        return true;
    }
    if (const auto LHeader = ARequest.Header("authorization")) {
        constexpr std::string_view LBearer = "Bearer ";
        if (LHeader->size() > LBearer.size() && LHeader->compare(0, LBearer.size(), LBearer) == 0 &&
            SameToken(std::string_view(*LHeader).substr(LBearer.size()), FOptions.Token)) {
            return true;
        }
    }
    return false;
}

bool TViewApi::HostAllowed(const THttpRequest& ARequest) const {
    if (!FOptions.Token.empty()) return true;
    const auto LHost = ARequest.Header("host");
    if (!LHost) return true;  // not a browser
    std::string_view LName = *LHost;
    if (!LName.empty() && LName[0] == '[') {
        const std::size_t LClose = LName.find(']');
        if (LClose == std::string_view::npos) return false;
        LName = LName.substr(0, LClose + 1);
    } else if (const std::size_t LColon = LName.rfind(':'); LColon != std::string_view::npos) {
        LName = LName.substr(0, LColon);
    }
    return LName == "127.0.0.1" || LName == "localhost" || LName == "[::1]";
}

std::string TViewApi::StateJson() const {
    const TViewState LState = FStore.State();
    std::string LOut = "{\"instance\":";
    AppendJsonString(LOut, FOptions.Instance);
    LOut += ",\"version\":";
    AppendJsonString(LOut, FOptions.Version);
    LOut += ",\"first\":" + std::to_string(LState.First);
    LOut += ",\"last\":" + std::to_string(LState.Last);
    LOut += ",\"kept\":" + std::to_string(LState.Kept);
    LOut += ",\"keep\":" + std::to_string(LState.Keep);
    LOut += ",\"dropped\":" + std::to_string(LState.Dropped);
    LOut += ",\"received\":" + std::to_string(LState.Received);
    LOut += ",\"cleared\":" + std::to_string(LState.Cleared);
    LOut += ",\"keptBytes\":" + std::to_string(LState.KeptBytes);
    LOut += ",\"sources\":[";
    for (std::size_t LI = 0; LI < LState.Sources.size(); ++LI) {
        const TViewSource& LS = LState.Sources[LI];
        if (LI > 0) LOut += ',';
        LOut += "{\"id\":" + std::to_string(LS.Id) + ",\"kind\":";
        AppendJsonString(LOut, LS.Kind);
        LOut += ",\"name\":";
        AppendJsonString(LOut, LS.Name);
        LOut += ",\"banner\":";
        AppendJsonString(LOut, LS.Banner);
        LOut += ",\"appName\":";
        AppendJsonString(LOut, LS.AppName);
        LOut += ",\"hostName\":";
        AppendJsonString(LOut, LS.HostName);
        LOut += ",\"state\":";
        AppendJsonString(LOut, LS.State);
        LOut += ",\"error\":";
        AppendJsonString(LOut, LS.Error);
        LOut += ",\"packets\":" + std::to_string(LS.Packets) + "}";
    }
    LOut += "],\"watches\":" + std::to_string(LState.WatchVersion);
    LOut += ",\"flow\":" + std::to_string(LState.FlowVersion) + "}";
    return LOut;
}

void TViewApi::Events(THttpExchange& AExchange) {
    if (FStreams.fetch_add(1) >= FOptions.MaxStreams) {
        FStreams.fetch_sub(1);
        AExchange.Close = true;
        THttpServer::SendError(AExchange, 503, "too many event streams");
        return;
    }
    struct TRelease {
        std::atomic<std::size_t>& Count;
        ~TRelease() { Count.fetch_sub(1); }
    } LRelease{FStreams};
    using TClock = std::chrono::steady_clock;
    AExchange.BeginStream(200, "text/event-stream; charset=utf-8",
                          std::string(kNoStore) + "X-Accel-Buffering: no\r\n");
    std::uint64_t LSeen = FStore.ChangeCount();
    const auto LSend = [&] {
        return AExchange.Write("event: state\ndata: " + StateJson() + "\n\n");
    };
    if (!LSend()) return;
    auto LLastSend = TClock::now();
    auto LLastWrite = LLastSend;
    const auto LInterval = std::chrono::milliseconds(FOptions.EventInterval);
    const auto LKeepAlive = std::chrono::milliseconds(FOptions.KeepAliveInterval);
    while (!AExchange.Stopping()) {
        const std::uint64_t LCount = FStore.WaitForChange(LSeen, 500);
        const auto LNow = TClock::now();
        if (LCount != LSeen) {
            if (LNow - LLastSend < LInterval) {
                // Changes within the interval go out together at its end.
                std::this_thread::sleep_for(LInterval - (LNow - LLastSend));
                continue;
            }
            LSeen = LCount;
            if (!LSend()) return;
            LLastSend = LLastWrite = TClock::now();
        } else if (LNow - LLastWrite >= LKeepAlive) {
            if (!AExchange.Write(": keep-alive\n\n")) return;
            LLastWrite = LNow;
        }
    }
}

void TViewApi::StaticFile(const THttpRequest& ARequest, THttpExchange& AExchange,
                          std::string_view AName) {
    for (const TStaticFile& LFile : StaticFiles()) {
        if (LFile.Path != AName || LFile.Path.empty()) continue;
        const std::string LEtag = ETagOf(LFile.Body);
        const std::string LHeaders = "Cache-Control: no-cache\r\nETag: " + LEtag + "\r\n";
        if (ARequest.Header("if-none-match") == LEtag) {
            AExchange.Send(304, LFile.ContentType, {}, LHeaders);
            return;
        }
        AExchange.Send(200, LFile.ContentType, LFile.Body, LHeaders);
        return;
    }
    THttpServer::SendError(AExchange, 404, "no such file");
}

void TViewApi::Handle(const THttpRequest& ARequest, THttpExchange& AExchange) {
    if (!HostAllowed(ARequest)) {
        THttpServer::SendError(AExchange, 403,
                               "this server answers to 127.0.0.1 and localhost only");
        return;
    }
    const std::string& LPath = ARequest.Path;
    if (LPath.rfind("/static/", 0) == 0) {
        StaticFile(ARequest, AExchange, std::string_view(LPath).substr(8));
        return;
    }
    if (!Authorized(ARequest)) {
        THttpServer::SendError(AExchange, 401,
                               "a token is needed: open the URL that silog view printed");
        return;
    }
    if (LPath == "/" || LPath == "/index.html") {
        StaticFile(ARequest, AExchange, "index.html");
        return;
    }
    std::string LError;
    try {
        if (LPath == "/api/state") {
            AExchange.Send(200, kJson, StateJson(), kNoStore);
        } else if (LPath == "/api/events") {
            Events(AExchange);
        } else if (LPath == "/api/rows") {
            const auto LFilter = ParseFilter(ARequest.Query, LError);
            if (!LFilter) throw TBadParameter{LError};
            const std::uint64_t LLimit = Number(ARequest, "limit", 100, 1000);
            std::optional<std::uint64_t> LSeq;
            if (ARequest.Param("seq")) LSeq = Number(ARequest, "seq", 0, UINT64_MAX / 2);
            // With seq, offset moves from that row and may be negative.
            std::int64_t LOffset = 0;
            if (const auto LText = ARequest.Param("offset"); LText && !LText->empty()) {
                const auto LValue = LeadingNumber(*LText, true);
                if (!LValue || *LValue != static_cast<double>(static_cast<std::int64_t>(*LValue)) ||
                    (*LValue < 0 && !LSeq) || std::abs(*LValue) > 1e15) {
                    throw TBadParameter{"offset takes a whole number (negative only with seq)"};
                }
                LOffset = static_cast<std::int64_t>(*LValue);
            }
            const auto LRows = FStore.Rows(*LFilter, LSeq, LOffset, LLimit);
            std::string LBody = "{\"total\":" + std::to_string(LRows.Total) +
                                ",\"offset\":" + std::to_string(LRows.Offset) +
                                ",\"last\":" + std::to_string(LRows.Last) + ",\"rows\":[";
            LBody += LRows.RowsJson;
            LBody += "]}";
            AExchange.Send(200, kJson, LBody, kNoStore);
        } else if (LPath == "/api/entry") {
            if (!ARequest.Param("seq")) throw TBadParameter{"seq is missing"};
            const auto LEntry = FStore.EntryJson(Number(ARequest, "seq", 0, UINT64_MAX / 2));
            if (!LEntry) {
                THttpServer::SendError(AExchange, 404, "entry not kept");
            } else {
                AExchange.Send(200, kJson, *LEntry, kNoStore);
            }
        } else if (LPath == "/api/facets") {
            AExchange.Send(200, kJson, FStore.FacetsJson(), kNoStore);
        } else if (LPath == "/api/histogram") {
            const auto LFilter = ParseFilter(ARequest.Query, LError);
            if (!LFilter) throw TBadParameter{LError};
            const auto LBuckets = Number(ARequest, "buckets", 120, 400);
            if (LBuckets == 0) throw TBadParameter{"buckets takes a whole number from 1 to 400"};
            AExchange.Send(200, kJson,
                           FStore.HistogramJson(*LFilter, static_cast<std::uint32_t>(LBuckets)),
                           kNoStore);
        } else if (LPath == "/api/watches") {
            AExchange.Send(200, kJson, FStore.WatchesJson(), kNoStore);
        } else if (LPath == "/api/watch") {
            const auto LName = ARequest.Param("name");
            if (!LName) throw TBadParameter{"name is missing"};
            const auto LLimit = Number(ARequest, "limit", 2000, TViewStore::kWatchHistory);
            const auto LWatch = FStore.WatchJson(*LName, static_cast<std::size_t>(LLimit));
            if (!LWatch) {
                THttpServer::SendError(AExchange, 404, "no such watch");
            } else {
                AExchange.Send(200, kJson, *LWatch, kNoStore);
            }
        } else if (LPath == "/api/flow") {
            AExchange.Send(200, kJson, FStore.FlowJson(), kNoStore);
        } else if (LPath == "/api/export") {
            const auto LFilter = ParseFilter(ARequest.Query, LError);
            if (!LFilter) throw TBadParameter{LError};
            const std::string LFormat = ARequest.Param("format").value_or("jsonl");
            if (LFormat != "jsonl" && LFormat != "csv") {
                throw TBadParameter{"format takes jsonl or csv"};
            }
            const bool LJsonl = LFormat == "jsonl";
            AExchange.BeginStream(
                200, LJsonl ? "application/x-ndjson; charset=utf-8" : "text/csv; charset=utf-8",
                std::string(kNoStore) + "Content-Disposition: attachment; filename=\"silog-view." +
                    LFormat + "\"\r\n");
            if (!ARequest.Head) {
                FStore.Export(*LFilter, LJsonl,
                              [&](std::string_view AText) { return AExchange.Write(AText); });
            }
        } else {
            THttpServer::SendError(AExchange, 404, "no such path");
        }
    } catch (const TBadParameter& LBad) {
        THttpServer::SendError(AExchange, 400, LBad.Text);
    }
}

}  // namespace deruz::silog::view
