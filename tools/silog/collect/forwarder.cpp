// One destination of silog collect: encoding, the sender thread, the queue; see forwarder.h.
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

namespace deruz::silog::collect {

namespace {

using namespace deruz::logging;
using TClock = std::chrono::steady_clock;

// How long the sent messages are kept for a resend after a lost connection.
constexpr auto kReplayWindow = std::chrono::seconds(1);
// How often the sender looks at the receiver's side and at memory while idle or down.
constexpr auto kIdleWait = std::chrono::milliseconds(100);
// How long the sender lets messages gather after it was woken.
constexpr auto kGatherWait = std::chrono::milliseconds(1);

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
    if (LKind != "syslog" && LKind != "json") {
        throw ESiError("unknown destination \"" + LKind + "\" (syslog or json)");
    }
    LSettings.Format = LKind == "json" ? TMessageFormat::Json : TMessageFormat::Syslog;
    static const std::set<std::string> LSyslogKeys = {
        "host", "port", "transport", "facility", "maxlength", "ca",       "servername",
        "cert", "key",  "queue",     "retry",    "timeout",   "hostname", "appname"};
    static const std::set<std::string> LJsonKeys = {"host", "port", "queue", "retry", "timeout"};
    const auto& LKeys = LSettings.Format == TMessageFormat::Json ? LJsonKeys : LSyslogKeys;
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
    LLink.Transport = LSettings.Format == TMessageFormat::Json
                          ? "tcp"
                          : SiLowerCase(LOptions.GetStringValue("transport", "tcp"));
    if (LLink.Transport != "tcp" && LLink.Transport != "udp" && LLink.Transport != "tls") {
        throw ESiError("unknown transport \"" + LLink.Transport + "\" (tcp, udp or tls)");
    }
    const std::int32_t LDefaultPort = LSettings.Format == TMessageFormat::Json ? 5170
                                      : LLink.Transport == "tls"               ? 6514
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
    return LSettings;
}

TForwarder::TForwarder(TDestinationSettings ASettings, const std::filesystem::path& AQueueFolder)
    : FSettings(std::move(ASettings)),
      FLink(MakeForwardLink(FSettings.Link)),
      FDisk(AQueueFolder, FSettings.QueueBytes) {
    FDiskRecords.store(FDisk.Records());
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
    if (FThread.joinable()) FThread.join();
    std::lock_guard LGuard(FLock);
    std::lock_guard LDisk(FDiskLock);
    try {
        SpillLocked();
    } catch (const std::exception& LError) {
        NoteError(LError.what());
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
    if (FLink->Datagrams()) {
        SiFormatSyslog(APacket, LSettings, LMessage);
        return LMessage;
    }
    // Octet counting: the length, a blank, the message.
    SiFormatSyslog(APacket, LSettings, LMessage);
    return std::to_string(LMessage.size()) + ' ' + LMessage;
}

void TForwarder::Push(TSiPacket& APacket, const TPacketSource& ASource) {
    const std::string LRecord = Encode(APacket, ASource);
    std::lock_guard LGuard(FLock);
    FPending.Add(LRecord);
    if (FPending.Bytes.size() >= kMemoryBytes) {
        // The sender is behind (a slow or absent destination): the rest waits on disk, after
        // everything already there, so that memory stays bounded and order is kept.
        std::lock_guard LDisk(FDiskLock);
        try {
            SpillLocked();
        } catch (const std::exception& LError) {
            NoteError(LError.what());
            FPending.Clear();
        }
    }
    if (FSenderWaiting) FWake.notify_one();
}

void TForwarder::SpillLocked() {
    if (FPending.Empty()) return;
    FDisk.Append(FPending);
    FDiskRecords.store(FDisk.Records());
    FPending.Clear();
}

std::uint64_t TForwarder::Queued() {
    std::lock_guard LGuard(FLock);
    std::lock_guard LDisk(FDiskLock);
    return FPending.Records + FDisk.Records();
}

std::uint64_t TForwarder::Dropped() {
    std::lock_guard LDisk(FDiskLock);
    return FDisk.Dropped();
}

std::string TForwarder::Describe() {
    std::uint64_t LQueued = 0;
    std::uint64_t LBytes = 0;
    std::uint64_t LDropped = 0;
    {
        std::lock_guard LGuard(FLock);
        std::lock_guard LDisk(FDiskLock);
        LQueued = FPending.Records + FDisk.Records();
        LBytes = FPending.Bytes.size() + FDisk.Bytes();
        LDropped = FDisk.Dropped();
    }
    std::string LLine =
        FSettings.Text + (FUp.load() ? " up" : " down") + " out=" + std::to_string(FSent.load()) +
        " queued=" + std::to_string(LQueued) + " (" + std::to_string(LBytes) +
        " bytes) dropped=" + std::to_string(LDropped) + " resent=" + std::to_string(FResent.load());
    std::lock_guard LErrorGuard(FErrorLock);
    if (!FLastError.empty() && !FUp.load()) {
        LLine += " error=\"" + FLastError + "\"";
    }
    return LLine;
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
        return true;
    } catch (const std::exception& LError) {
        FLink->Close();
        FNextAttempt = LNow + std::chrono::milliseconds(FSettings.RetryInterval);
        FUp.store(false);
        NoteError(LError.what());
        return false;
    }
}

void TForwarder::NoteError(const std::string& AError) {
    std::lock_guard LErrorGuard(FErrorLock);
    FLastError = AError;
}

void TForwarder::ConnectionLost(const std::string& AError) {
    FLink->Close();
    FConnected = false;
    FUp.store(false);
    NoteError(AError);
    // What went out lately may not have been read: it goes back in front of the queue.
    // (Only what went out within the window: after a quiet spell the receiver has read it all.)
    TRecordBatch LBack;
    const auto LNow = TClock::now();
    for (auto& LEntry : FReplay) {
        if (LNow - LEntry.first <= kReplayWindow) LBack.Append(LEntry.second);
    }
    FReplay.clear();
    FReplayBytes = 0;
    if (!LBack.Empty()) {
        std::lock_guard LDisk(FDiskLock);
        FDisk.Prepend(LBack);
        FDiskRecords.store(FDisk.Records());
        FResent += LBack.Records;
        FSent -= std::min<std::uint64_t>(FSent.load(), LBack.Records);
    }
}

void TForwarder::RememberSent(TRecordBatch ABatch) {
    if (FLink->Datagrams()) return;
    const auto LNow = TClock::now();
    FReplayBytes += ABatch.Bytes.size();
    FReplay.emplace_back(LNow, std::move(ABatch));
    while (!FReplay.empty() &&
           (FReplayBytes > kReplayBytes || LNow - FReplay.front().first > kReplayWindow)) {
        FReplayBytes -= FReplay.front().second.Bytes.size();
        FReplay.pop_front();
    }
}

bool TForwarder::SendBatch(const TRecordBatch& ABatch, std::string& AError) {
    try {
        if (FLink->Datagrams()) {
            ForEachRecord(ABatch.Bytes, [&](std::string_view ARecord) { FLink->Send(ARecord); });
        } else {
            std::string LWire;
            LWire.reserve(ABatch.Bytes.size());
            ForEachRecord(ABatch.Bytes, [&](std::string_view ARecord) { LWire += ARecord; });
            FLink->Send(LWire);
        }
        return true;
    } catch (const std::exception& LError) {
        AError = LError.what();
        return false;
    }
}

void TForwarder::Run() noexcept {
    for (;;) {
        try {
            bool LWoken = false;
            {
                std::unique_lock LGuard(FLock);
                if (FStopping) break;
                if (FPending.Empty() && FDiskRecords.load() == 0) {
                    FSenderWaiting = true;
                    LWoken = FWake.wait_for(LGuard, kIdleWait) == std::cv_status::no_timeout;
                    FSenderWaiting = false;
                    if (FStopping) break;
                }
            }
            // Woken by the first message after a pause: let the next ones of the burst join
            // it, so that a steady stream is sent in batches rather than a send per message.
            if (LWoken && FConnected) std::this_thread::sleep_for(kGatherWait);
            if (!EnsureConnected()) {
                // Down: what waits in memory goes to disk, where it survives a restart.
                std::unique_lock LGuard(FLock);
                {
                    std::lock_guard LDisk(FDiskLock);
                    SpillLocked();
                }
                FWake.wait_for(LGuard, kIdleWait);
                continue;
            }
            // The oldest first: the disk queue, and memory only when the disk queue is empty.
            TRecordBatch LBatch;
            bool LFromDisk = false;
            {
                std::lock_guard LGuard(FLock);
                std::lock_guard LDisk(FDiskLock);
                if (FDisk.Empty()) {
                    std::swap(LBatch, FPending);
                } else {
                    LFromDisk = true;
                }
            }
            if (LFromDisk) {
                std::lock_guard LDisk(FDiskLock);
                LBatch = FDisk.Peek(kBatchBytes);
            }
            if (LBatch.Empty()) continue;
            std::string LError;
            if (SendBatch(LBatch, LError)) {
                if (LFromDisk) {
                    std::lock_guard LDisk(FDiskLock);
                    FDisk.Consume(LBatch);
                    FDiskRecords.store(FDisk.Records());
                }
                FSent += LBatch.Records;
                RememberSent(std::move(LBatch));
            } else {
                if (!LFromDisk) {
                    // Not sent: back in front of the queue, ahead of anything spilled since.
                    std::lock_guard LDisk(FDiskLock);
                    FDisk.Prepend(LBatch);
                    FDiskRecords.store(FDisk.Records());
                }
                // Then what was sent lately, in front of that.
                ConnectionLost(LError);
            }
        } catch (const std::exception& LError) {
            NoteError(LError.what());
            std::this_thread::sleep_for(kIdleWait);
        }
    }
    FLink->Close();
    FConnected = false;
    FUp.store(false);
}

}  // namespace deruz::silog::collect
