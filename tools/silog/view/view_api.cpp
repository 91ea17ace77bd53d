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
    const auto text = ARequest.Param(AName);
    if (!text || text->empty()) return ADefault;
    const auto value = LeadingNumber(*text, true);
    if (!value || *value < 0 || *value != static_cast<double>(static_cast<std::uint64_t>(*value)) ||
        *value > static_cast<double>(AMax)) {
        throw TBadParameter{std::string(AName) + " takes a whole number from 0 to " +
                            std::to_string(AMax)};
    }
    return static_cast<std::uint64_t>(*value);
}

bool SameToken(std::string_view A, std::string_view B) {
    // Compared in time that does not depend on where they differ.
    if (A.size() != B.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < A.size(); ++i) {
        diff |= static_cast<unsigned char>(A[i] ^ B[i]);
    }
    return diff == 0;
}

std::string ETagOf(std::string_view ABody) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : ABody) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return text;
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
    unsigned char bytes[16];
    logging::SiRandomBytes(bytes, sizeof bytes);
    std::string token;
    AppendHex(token, std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
    return token;
}

bool TViewApi::Authorized(const THttpRequest& ARequest) const {
    if (FOptions.Token.empty()) return true;
    if (const auto token = ARequest.Param("token"); token && SameToken(*token, FOptions.Token)) {
        return true;
    }
    if (const auto header = ARequest.Header("authorization")) {
        constexpr std::string_view kBearer = "Bearer ";
        if (header->size() > kBearer.size() && header->compare(0, kBearer.size(), kBearer) == 0 &&
            SameToken(std::string_view(*header).substr(kBearer.size()), FOptions.Token)) {
            return true;
        }
    }
    return false;
}

bool TViewApi::HostAllowed(const THttpRequest& ARequest) const {
    if (!FOptions.Token.empty()) return true;
    const auto host = ARequest.Header("host");
    if (!host) return true;  // not a browser
    std::string_view name = *host;
    if (!name.empty() && name[0] == '[') {
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos) return false;
        name = name.substr(0, close + 1);
    } else if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos) {
        name = name.substr(0, colon);
    }
    return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

std::string TViewApi::StateJson() const {
    const TViewState state = FStore.State();
    std::string out = "{\"instance\":";
    AppendJsonString(out, FOptions.Instance);
    out += ",\"version\":";
    AppendJsonString(out, FOptions.Version);
    out += ",\"first\":" + std::to_string(state.First);
    out += ",\"last\":" + std::to_string(state.Last);
    out += ",\"kept\":" + std::to_string(state.Kept);
    out += ",\"keep\":" + std::to_string(state.Keep);
    out += ",\"dropped\":" + std::to_string(state.Dropped);
    out += ",\"received\":" + std::to_string(state.Received);
    out += ",\"cleared\":" + std::to_string(state.Cleared);
    out += ",\"keptBytes\":" + std::to_string(state.KeptBytes);
    out += ",\"sources\":[";
    for (std::size_t i = 0; i < state.Sources.size(); ++i) {
        const TViewSource& s = state.Sources[i];
        if (i > 0) out += ',';
        out += "{\"id\":" + std::to_string(s.Id) + ",\"kind\":";
        AppendJsonString(out, s.Kind);
        out += ",\"name\":";
        AppendJsonString(out, s.Name);
        out += ",\"banner\":";
        AppendJsonString(out, s.Banner);
        out += ",\"appName\":";
        AppendJsonString(out, s.AppName);
        out += ",\"hostName\":";
        AppendJsonString(out, s.HostName);
        out += ",\"state\":";
        AppendJsonString(out, s.State);
        out += ",\"error\":";
        AppendJsonString(out, s.Error);
        out += ",\"packets\":" + std::to_string(s.Packets) + "}";
    }
    out += "],\"watches\":" + std::to_string(state.WatchVersion);
    out += ",\"flow\":" + std::to_string(state.FlowVersion) + "}";
    return out;
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
    } release{FStreams};
    using TClock = std::chrono::steady_clock;
    AExchange.BeginStream(200, "text/event-stream; charset=utf-8",
                          std::string(kNoStore) + "X-Accel-Buffering: no\r\n");
    std::uint64_t seen = FStore.ChangeCount();
    const auto send = [&] {
        return AExchange.Write("event: state\ndata: " + StateJson() + "\n\n");
    };
    if (!send()) return;
    auto lastSend = TClock::now();
    auto lastWrite = lastSend;
    const auto interval = std::chrono::milliseconds(FOptions.EventInterval);
    const auto keepAlive = std::chrono::milliseconds(FOptions.KeepAliveInterval);
    while (!AExchange.Stopping()) {
        const std::uint64_t count = FStore.WaitForChange(seen, 500);
        const auto now = TClock::now();
        if (count != seen) {
            if (now - lastSend < interval) {
                // Changes within the interval go out together at its end.
                std::this_thread::sleep_for(interval - (now - lastSend));
                continue;
            }
            seen = count;
            if (!send()) return;
            lastSend = lastWrite = TClock::now();
        } else if (now - lastWrite >= keepAlive) {
            if (!AExchange.Write(": keep-alive\n\n")) return;
            lastWrite = now;
        }
    }
}

void TViewApi::StaticFile(const THttpRequest& ARequest, THttpExchange& AExchange,
                          std::string_view AName) {
    for (const TStaticFile& file : StaticFiles()) {
        if (file.Path != AName || file.Path.empty()) continue;
        const std::string etag = ETagOf(file.Body);
        const std::string headers = "Cache-Control: no-cache\r\nETag: " + etag + "\r\n";
        if (ARequest.Header("if-none-match") == etag) {
            AExchange.Send(304, file.ContentType, {}, headers);
            return;
        }
        AExchange.Send(200, file.ContentType, file.Body, headers);
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
    const std::string& path = ARequest.Path;
    if (path.rfind("/static/", 0) == 0) {
        StaticFile(ARequest, AExchange, std::string_view(path).substr(8));
        return;
    }
    if (!Authorized(ARequest)) {
        THttpServer::SendError(AExchange, 401,
                               "a token is needed: open the URL that silog view printed");
        return;
    }
    if (path == "/" || path == "/index.html") {
        StaticFile(ARequest, AExchange, "index.html");
        return;
    }
    std::string error;
    try {
        if (path == "/api/state") {
            AExchange.Send(200, kJson, StateJson(), kNoStore);
        } else if (path == "/api/events") {
            Events(AExchange);
        } else if (path == "/api/rows") {
            const auto filter = ParseFilter(ARequest.Query, error);
            if (!filter) throw TBadParameter{error};
            const std::uint64_t limit = Number(ARequest, "limit", 100, 1000);
            std::optional<std::uint64_t> seq;
            if (ARequest.Param("seq")) seq = Number(ARequest, "seq", 0, UINT64_MAX / 2);
            // With seq, offset moves from that row and may be negative.
            std::int64_t offset = 0;
            if (const auto text = ARequest.Param("offset"); text && !text->empty()) {
                const auto value = LeadingNumber(*text, true);
                if (!value || *value != static_cast<double>(static_cast<std::int64_t>(*value)) ||
                    (*value < 0 && !seq) || std::abs(*value) > 1e15) {
                    throw TBadParameter{"offset takes a whole number (negative only with seq)"};
                }
                offset = static_cast<std::int64_t>(*value);
            }
            const auto rows = FStore.Rows(*filter, seq, offset, limit);
            std::string body = "{\"total\":" + std::to_string(rows.Total) +
                               ",\"offset\":" + std::to_string(rows.Offset) +
                               ",\"last\":" + std::to_string(rows.Last) + ",\"rows\":[";
            body += rows.RowsJson;
            body += "]}";
            AExchange.Send(200, kJson, body, kNoStore);
        } else if (path == "/api/entry") {
            if (!ARequest.Param("seq")) throw TBadParameter{"seq is missing"};
            const auto entry = FStore.EntryJson(Number(ARequest, "seq", 0, UINT64_MAX / 2));
            if (!entry) {
                THttpServer::SendError(AExchange, 404, "entry not kept");
            } else {
                AExchange.Send(200, kJson, *entry, kNoStore);
            }
        } else if (path == "/api/facets") {
            AExchange.Send(200, kJson, FStore.FacetsJson(), kNoStore);
        } else if (path == "/api/histogram") {
            const auto filter = ParseFilter(ARequest.Query, error);
            if (!filter) throw TBadParameter{error};
            const auto buckets = Number(ARequest, "buckets", 120, 400);
            if (buckets == 0) throw TBadParameter{"buckets takes a whole number from 1 to 400"};
            AExchange.Send(200, kJson,
                           FStore.HistogramJson(*filter, static_cast<std::uint32_t>(buckets)),
                           kNoStore);
        } else if (path == "/api/watches") {
            AExchange.Send(200, kJson, FStore.WatchesJson(), kNoStore);
        } else if (path == "/api/watch") {
            const auto name = ARequest.Param("name");
            if (!name) throw TBadParameter{"name is missing"};
            const auto limit = Number(ARequest, "limit", 2000, TViewStore::kWatchHistory);
            const auto watch = FStore.WatchJson(*name, static_cast<std::size_t>(limit));
            if (!watch) {
                THttpServer::SendError(AExchange, 404, "no such watch");
            } else {
                AExchange.Send(200, kJson, *watch, kNoStore);
            }
        } else if (path == "/api/flow") {
            AExchange.Send(200, kJson, FStore.FlowJson(), kNoStore);
        } else if (path == "/api/export") {
            const auto filter = ParseFilter(ARequest.Query, error);
            if (!filter) throw TBadParameter{error};
            const std::string format = ARequest.Param("format").value_or("jsonl");
            if (format != "jsonl" && format != "csv") {
                throw TBadParameter{"format takes jsonl or csv"};
            }
            const bool jsonl = format == "jsonl";
            AExchange.BeginStream(
                200, jsonl ? "application/x-ndjson; charset=utf-8" : "text/csv; charset=utf-8",
                std::string(kNoStore) + "Content-Disposition: attachment; filename=\"silog-view." +
                    format + "\"\r\n");
            if (!ARequest.Head) {
                FStore.Export(*filter, jsonl,
                              [&](std::string_view AText) { return AExchange.Write(AText); });
            }
        } else {
            THttpServer::SendError(AExchange, 404, "no such path");
        }
    } catch (const TBadParameter& bad) {
        THttpServer::SendError(AExchange, 400, bad.Text);
    }
}

}  // namespace deruz::silog::view
