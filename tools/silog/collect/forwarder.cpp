// One destination of silog collect: encoding, the queue, the sender thread; see forwarder.h.
#include "tools/silog/collect/forwarder.h"

#include <algorithm>
#include <ostream>
#include <set>
#include <stdexcept>

#include "logging/base/errors.h"
#include "logging/config/connections.h"
#include "logging/config/lookup_table.h"
#include "logging/protocols/syslog_protocol.h"
#include "tools/silog/packet_printer.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog::collect {

namespace {

using namespace deruz::logging;
using TClock = std::chrono::steady_clock;

// How often the sender looks at the receiver's side and at memory while idle or down.
constexpr auto kIdleWait = std::chrono::milliseconds(100);
// How long the sender lets messages gather after it was woken.
constexpr auto kGatherWait = std::chrono::milliseconds(1);
// How often the sender saves the queue's head while it confirms messages.
constexpr auto kHeadSaveInterval = std::chrono::milliseconds(200);
// How long a RELP connection may stay idle with messages not yet confirmed before it is
// closed in order, which confirms them.
constexpr auto kSettleAfter = std::chrono::seconds(1);

// The collector's offset from UTC, read again every minute (daylight saving time changes it).
// The workstations' timestamps are their local time and carry no zone: the collector takes
// them to be in its own.
int UtcOffsetMinutes() noexcept {
    static std::atomic<int> LOffset{0};
    static std::atomic<std::int64_t> LNext{0};
    const std::int64_t LNow = TClock::now().time_since_epoch() / std::chrono::seconds(1);
    if (LNow >= LNext.load(std::memory_order_relaxed)) {
        LOffset.store(SiLocalUtcOffsetMinutes(), std::memory_order_relaxed);
        LNext.store(LNow + 60, std::memory_order_relaxed);
    }
    return LOffset.load(std::memory_order_relaxed);
}

}  // namespace

TDestinationSettings ParseDestination(const std::string& AText) {
    const std::vector<TSiConnectionEntry> LEntries = SiParseConnections(AText);
    if (LEntries.size() != 1) {
        throw ESiError("a destination is one entry such as syslog(host=...) or json(host=...)");
    }
    TDestinationSettings LSettings;
    LSettings.Text = AText;
    const std::string& LKind = LEntries[0].Protocol;
    if (LKind != "syslog" && LKind != "json" && LKind != "relp") {
        throw ESiError("unknown destination \"" + LKind + "\" (syslog, relp or json)");
    }
    LSettings.Format = LKind == "json" ? TMessageFormat::Json : TMessageFormat::Syslog;
    static const std::set<std::string> LSyslogKeys = {
        "host", "port", "transport", "facility", "maxlength", "ca",       "servername",
        "cert", "key",  "queue",     "retry",    "timeout",   "hostname", "appname"};
    static const std::set<std::string> LRelpKeys = {
        "host", "port", "tls",   "facility", "maxlength", "ca",       "servername",
        "cert", "key",  "queue", "retry",    "timeout",   "hostname", "appname"};
    static const std::set<std::string> LJsonKeys = {"host", "port", "queue", "retry", "timeout"};
    const auto& LKeys = LKind == "json" ? LJsonKeys : LKind == "relp" ? LRelpKeys : LSyslogKeys;
    TSiLookupTable LOptions;
    TSiOptionsParser::Parse(
        LKind, LEntries[0].Options,
        [&](const std::string&, const std::string& AKey, const std::string& AValue) {
            if (LKeys.count(AKey) == 0) {
                throw ESiError("Option \"" + AKey + "\" not available for destination \"" + LKind +
                               "\"");
            }
            LOptions.Put(AKey, AValue);
        });
    TLinkSettings& LLink = LSettings.Link;
    LLink.Host = LOptions.GetStringValue("host", "127.0.0.1");
    LLink.Transport = LKind == "json"   ? "tcp"
                      : LKind == "relp" ? "relp"
                                        : SiLowerCase(LOptions.GetStringValue("transport", "tcp"));
    if (LLink.Transport != "tcp" && LLink.Transport != "udp" && LLink.Transport != "tls" &&
        LLink.Transport != "relp") {
        throw ESiError("unknown transport \"" + LLink.Transport + "\" (tcp, udp or tls)");
    }
    LLink.OctetCounting = LKind == "syslog";
    LLink.RelpTls = LKind == "relp" && LOptions.GetBooleanValue("tls", false);
    const std::int32_t LDefaultPort = LKind == "json"            ? 5170
                                      : LKind == "relp"          ? 2514
                                      : LLink.Transport == "tls" ? 6514
                                                                 : 514;
    const std::int32_t LPort = LOptions.GetIntegerValue("port", LDefaultPort);
    if (LPort <= 0 || LPort > 65535) throw ESiError("port out of range: " + std::to_string(LPort));
    LLink.Port = static_cast<std::uint16_t>(LPort);
    LLink.Timeout = LOptions.GetIntegerValue("timeout", 10000);
    LLink.CaFile = LOptions.GetStringValue("ca", "");
    LLink.ServerName = LOptions.GetStringValue("servername", "");
    LLink.CertFile = LOptions.GetStringValue("cert", "");
    LLink.KeyFile = LOptions.GetStringValue("key", "");
    const std::string LFacility = LOptions.GetStringValue("facility", "user");
    const std::optional<int> LCode = SiSyslogFacility(LFacility);
    if (!LCode) throw ESiError("unknown syslog facility \"" + LFacility + "\"");
    LSettings.Syslog.Facility = *LCode;
    const std::int32_t LMax = LOptions.GetIntegerValue("maxlength", 8192);
    LSettings.Syslog.MaxLength = LMax > 0 ? static_cast<std::size_t>(LMax) : 8192;
    // Sizes in kilobytes unless a unit says otherwise ("64mb").
    LSettings.QueueBytes = static_cast<std::uint64_t>(
        std::max<std::int64_t>(64 * 1024, LOptions.GetSizeValue("queue", 256 * 1024)));
    LSettings.RetryInterval = std::max<std::uint32_t>(100, LOptions.GetTimespanValue("retry", 1));
    if (LLink.Transport == "tls" && !TlsAvailable()) {
        throw ESiError("TLS is not available in this build of silog");
    }
    if (LLink.Transport == "relp" && !RelpAvailable()) {
        // The text of the build without librelp.
        MakeRelpLink(LLink);
    }
    return LSettings;
}

bool TErrorNote::Note(const std::string& AText) {
    ++FCount;
    const bool LNew = !FActive || AText != FLast;
    FLast = AText;
    FActive = true;
    return LNew;
}

void TErrorNote::Clear() {
    FActive = false;
}

TForwarder::TForwarder(TDestinationSettings ASettings, const std::filesystem::path& AQueueFolder,
                       TReport AReport)
    : FSettings(std::move(ASettings)),
      FReport(std::move(AReport)),
      FLink(MakeForwardLink(FSettings.Link)),
      FQueue(AQueueFolder, FSettings.QueueBytes,
             [LStream = FSettings.Format == TMessageFormat::Syslog &&
                        FSettings.Link.Transport != "udp"](std::string_view ARecord) {
                 // The earlier queue held syslog messages framed for a stream: the length and
                 // a blank go.
                 if (LStream) {
                     const std::size_t LBlank = ARecord.find(' ');
                     if (LBlank != std::string_view::npos && LBlank > 0 &&
                         ARecord.substr(0, LBlank).find_first_not_of("0123456789") ==
                             std::string_view::npos) {
                         ARecord.remove_prefix(LBlank + 1);
                     }
                 }
                 return std::string(ARecord);
             }) {
    std::lock_guard LGuard(FLock);
    ReportQueueStateLocked();
}

TForwarder::~TForwarder() {
    Stop();
}

void TForwarder::Start() {
    FThread = std::thread([this] { Run(); });
}

void TForwarder::Stop() {
    {
        std::lock_guard LGuard(FLock);
        FStopping = true;
    }
    FWake.notify_all();
    if (!FThread.joinable()) return;
    FThread.join();
    std::lock_guard LGuard(FLock);
    FQueue.Sync();
    ReportQueueStateLocked();
}

void TForwarder::ReportQueueStateLocked() {
    if (FReport) {
        for (const std::string& LFinding : FQueue.TakeFindings()) {
            FReport(FSettings.Text + ": " + LFinding);
        }
    }
    const std::string& LError = FQueue.LastError();
    if (LError.empty()) {
        if (FQueueError.Active() && FReport) {
            FReport(FSettings.Text + ": the queue is written again");
        }
        FQueueError.Clear();
    } else if (FQueueError.Note(LError) && FReport) {
        FReport(FSettings.Text + ": " + LError);
    }
}

std::string TForwarder::Encode(TSiPacket& APacket, const TPacketSource& ASource) const {
    if (FSettings.Format == TMessageFormat::Json) {
        std::string LLine = TPacketPrinter::JsonLine(APacket);
        // The client the packet came from: silog dump's object plus one key.
        LLine.pop_back();
        LLine += ",\"source\":{\"hostName\":" + JsonString(ASource.HostName) +
                 ",\"appName\":" + JsonString(ASource.AppName) + "}}\n";
        return LLine;
    }
    TSiSyslogSettings LSettings = FSettings.Syslog;
    LSettings.UtcOffsetMinutes = UtcOffsetMinutes();
    LSettings.HostName = ASource.HostName;
    LSettings.AppName = ASource.AppName;
    std::string LMessage;
    SiFormatSyslog(APacket, LSettings, LMessage);
    return LMessage;
}

void TForwarder::Push(TSiPacket& APacket, const TPacketSource& ASource) {
    const std::string LRecord = Encode(APacket, ASource);
    std::lock_guard LGuard(FLock);
    FQueue.Append(LRecord);
    if (FSenderWaiting) FWake.notify_one();
}

std::uint64_t TForwarder::Sync() {
    TDiskQueue::TSyncTicket LTicket;
    std::uint64_t LAppended = 0;
    {
        std::lock_guard LGuard(FLock);
        LAppended = FQueue.Appended();
        LTicket = FQueue.PrepareSync();
    }
    // The disk's part without the lock: clients go on pushing meanwhile.
    TDiskQueue::SyncFiles(LTicket);
    std::lock_guard LGuard(FLock);
    FQueue.CompleteSync(LTicket);
    ReportQueueStateLocked();
    return LAppended;
}

bool TForwarder::DurableAt(std::uint64_t AMessages) {
    std::lock_guard LGuard(FLock);
    return FQueue.DurableThrough() >= AMessages;
}

std::uint64_t TForwarder::Queued() {
    std::lock_guard LGuard(FLock);
    return FQueue.Records();
}

std::uint64_t TForwarder::Dropped() {
    std::lock_guard LGuard(FLock);
    return FQueue.Dropped();
}

std::string TForwarder::Describe() {
    std::uint64_t LQueued = 0;
    std::uint64_t LBytes = 0;
    std::uint64_t LDropped = 0;
    std::uint64_t LDamaged = 0;
    std::uint64_t LErrors = 0;
    std::string LQueueError;
    {
        std::lock_guard LGuard(FLock);
        LQueued = FQueue.Records();
        LBytes = FQueue.Bytes();
        LDropped = FQueue.Dropped();
        LDamaged = FQueue.Damaged();
        LErrors = FQueueError.Count();
        LQueueError = FQueue.LastError();
    }
    std::string LLinkError;
    {
        std::lock_guard LErrorGuard(FErrorLock);
        LErrors += FLinkError.Count();
        if (FLinkError.Active()) LLinkError = FLinkError.Last();
    }
    std::string LLine =
        FSettings.Text + (FUp.load() ? " up" : " down") + " out=" + std::to_string(FSent.load()) +
        " confirmed=" + std::to_string(FConfirmed.load()) + " queued=" + std::to_string(LQueued) +
        " (" + std::to_string(LBytes) + " bytes) dropped=" + std::to_string(LDropped) +
        " resent=" + std::to_string(FResent.load()) + " damaged=" + std::to_string(LDamaged) +
        " errors=" + std::to_string(LErrors);
    if (!LLinkError.empty()) {
        LLine += " error=\"" + EscapeText(LLinkError) + "\"";
    }
    if (!LQueueError.empty()) {
        LLine += " queue-error=\"" + EscapeText(LQueueError) + "\"";
    }
    return LLine;
}

void TForwarder::NoteLinkError(const std::string& AError) {
    bool LNew = false;
    {
        std::lock_guard LErrorGuard(FErrorLock);
        LNew = FLinkError.Note(AError);
    }
    if (LNew && FReport) FReport(FSettings.Text + ": " + EscapeText(AError));
}

bool TForwarder::EnsureConnected() {
    if (FConnected && FLink->PeerGone()) {
        ConnectionLost("the receiver closed the connection");
    }
    if (FConnected) return true;
    const auto LNow = TClock::now();
    if (LNow < FNextAttempt) return false;
    try {
        FLink->Connect();
        FConnected = true;
        FUp.store(true);
        bool LWasDown = false;
        {
            std::lock_guard LErrorGuard(FErrorLock);
            LWasDown = FLinkError.Active();
            FLinkError.Clear();
        }
        if (LWasDown && FReport) FReport(FSettings.Text + ": connected again");
        return true;
    } catch (const std::exception& LError) {
        FLink->Close();
        FNextAttempt = LNow + std::chrono::milliseconds(FSettings.RetryInterval);
        FUp.store(false);
        NoteLinkError(LError.what());
        return false;
    }
}

void TForwarder::ConnectionLost(const std::string& AError) {
    FLink->Close();
    FConnected = false;
    FUp.store(false);
    NoteLinkError(AError);
    // What went out and is not confirmed may not have arrived: it is sent again, in order,
    // before anything newer.
    FInFlight.clear();
    FLinkCount = 0;
    std::lock_guard LGuard(FLock);
    FResent += FQueue.Rewind();
}

void TForwarder::ConfirmDelivered(bool AAll) {
    if (FInFlight.empty()) return;
    const auto LNow = TClock::now();
    const bool LAcknowledged = FLink->Acknowledges();
    const std::uint64_t LLinkConfirmed = LAcknowledged ? FLink->Confirmed() : 0;
    std::vector<TQueueMark> LMarks;
    std::uint64_t LCount = 0;
    while (!FInFlight.empty()) {
        const TInFlight& LFront = FInFlight.front();
        const bool LDone = AAll || (LAcknowledged ? LFront.LinkCount <= LLinkConfirmed
                                                  : LNow - LFront.At >= kReplayWindow);
        if (!LDone) break;
        LMarks.insert(LMarks.end(), LFront.Marks.begin(), LFront.Marks.end());
        for (const TQueueMark& LMark : LFront.Marks) LCount += LMark.Records;
        FInFlight.pop_front();
    }
    if (LMarks.empty()) return;
    FConfirmed += LCount;
    std::lock_guard LGuard(FLock);
    FQueue.Confirm(LMarks);
    // The head on disk follows a few times a second (syncs save it too): after a crash, what
    // was confirmed before that is not sent again.
    if (LNow - FHeadSaved >= kHeadSaveInterval) {
        FQueue.SaveHeadIfMoved();
        FHeadSaved = LNow;
    }
}

void TForwarder::Run() noexcept {
    for (;;) {
        try {
            bool LWoken = false;
            {
                std::unique_lock LGuard(FLock);
                if (FStopping) break;
                if (FQueue.Empty()) {
                    FSenderWaiting = true;
                    LWoken = FWake.wait_for(LGuard, kIdleWait) == std::cv_status::no_timeout;
                    FSenderWaiting = false;
                    if (FStopping) break;
                }
                ReportQueueStateLocked();
            }
            if (FConnected) ConfirmDelivered(false);
            bool LEmpty = false;
            {
                std::lock_guard LGuard(FLock);
                LEmpty = FQueue.Empty();
            }
            if (LEmpty) {
                // Idle: a RELP session with messages still open is closed in order, which
                // confirms them (the next message opens a new one).
                if (FConnected && FLink->Acknowledges() && !FInFlight.empty() &&
                    TClock::now() - FLastSend >= kSettleAfter) {
                    if (FLink->Settle()) {
                        ConfirmDelivered(true);
                        FConnected = false;
                        FLinkCount = 0;
                    }
                }
                continue;
            }
            if (!EnsureConnected()) {
                std::unique_lock LGuard(FLock);
                FWake.wait_for(LGuard, kIdleWait, [this] { return FStopping; });
                continue;
            }
            // Woken by the first message after a pause: let the next ones of the burst join
            // it, so that a steady stream is sent in batches rather than a send per message.
            if (LWoken) std::this_thread::sleep_for(kGatherWait);
            TTakenBatch LBatch;
            {
                std::lock_guard LGuard(FLock);
                LBatch = FQueue.Take(kBatchBytes);
            }
            if (LBatch.Empty()) continue;
            try {
                FLink->SendMessages(LBatch.Records);
            } catch (const std::exception& LError) {
                ConnectionLost(LError.what());
                continue;
            }
            const std::uint64_t LCount = LBatch.Records.size();
            FSent += LCount;
            FLinkCount += LCount;
            FLastSend = TClock::now();
            FInFlight.push_back({FLastSend, FLinkCount, std::move(LBatch.Marks)});
            // A datagram is as delivered as it will ever be.
            if (FSettings.Link.Transport == "udp") ConfirmDelivered(true);
        } catch (const std::exception& LError) {
            // The queue could not be read: said once, tried again after a pause.
            {
                std::lock_guard LGuard(FLock);
                ReportQueueStateLocked();
            }
            NoteLinkError(LError.what());
            std::unique_lock LGuard(FLock);
            FWake.wait_for(LGuard, kIdleWait, [this] { return FStopping; });
        }
    }
    // Stopping: a connection closed in order has delivered what went out on it.
    if (FConnected) {
        if (FLink->Acknowledges()) {
            if (FLink->Settle()) ConfirmDelivered(true);
        } else if (FSettings.Link.Transport != "udp") {
            FLink->Close();
            ConfirmDelivered(true);
        }
    }
    FLink->Close();
    FConnected = false;
    FUp.store(false);
}

}  // namespace deruz::silog::collect
