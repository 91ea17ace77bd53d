// TCollectStore: silog collect's store. Every client's packets go into binary log files written
// by the logging library's own file protocol (so silog dump and silog view read them), one set
// per host and application:
//
//   <folder>/<host>/<application>-yyyy-mm-dd-hh-nn-ss.sil
//
// Host and application names are reduced to letters, digits, ".", "-" and "_" (others become
// "_", a leading "." too), so no name can reach outside the folder. A file is replaced by a new
// one when it would pass MaxBytes, and at each Rotate boundary (UTC); of each set the newest
// MaxParts files are kept (0: all), and files not written for KeepDays days are deleted by
// Sweep (0: kept) — the newest file of a set never, since it may still be open.
//
// Sync makes every file written since the last Sync reach the storage device (silog collect
// acknowledges packets only once they are there). A failure to store or to sync is counted,
// kept with its path and the system's reason, and told through the report callback once, then
// again only when it changes; a file that failed is opened again for the next packet, so the
// store works again once there is room.
//
// Thread safety: Write and Sync may be called from any thread (one file per set, written under
// the file protocol's own lock); Sweep and Close by the owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/packets/packet.h"
#include "logging/protocols/protocol.h"
#include "tools/silog/collect/forwarder.h"

namespace deruz::silog::collect {

struct TStoreSettings {
    std::filesystem::path Folder;
    std::uint64_t MaxBytes = 64u << 20;
    std::int32_t MaxParts = 0;
    // "none", "hourly", "daily", "weekly" or "monthly".
    std::string Rotate = "daily";
    std::uint32_t KeepDays = 30;
};

// A host or application name as a file name (see above).
std::string StoreName(const std::string& AName);

// One set of files: the file protocol that writes them, and their names, for error texts.
struct TStoreSet {
    logging::TSiProtocolPtr Protocol;
    std::string Files;
};

class TCollectStore {
  public:
    // Says a line about the store (its errors), from any thread.
    using TReport = std::function<void(const std::string&)>;

    explicit TCollectStore(TStoreSettings ASettings, TReport AReport = {});
    ~TCollectStore();

    // A source's set, opened on first use; it lives until Close.
    TStoreSet& SetFor(const TPacketSource& ASource);
    // Writes a packet into a set's file; false when that failed (counted, see above).
    bool Write(TStoreSet& ASet, logging::TSiPacket& APacket);
    // Makes every set's file reach the storage device; false when one failed.
    bool Sync();
    // Counts and reports a failure to open a source's set.
    void NoteSetError(const TPacketSource& ASource, const std::string& AError);
    // Deletes the files older than KeepDays; returns how many.
    std::uint64_t Sweep();
    // Closes every file.
    void Close();

    std::uint64_t Stored() const noexcept { return FStored.load(); }
    std::uint64_t Errors() const noexcept { return FErrors.load(); }
    std::size_t Sets();
    std::string LastError();

  private:
    void NoteError(const std::string& AError);

    TStoreSettings FSettings;
    TReport FReport;
    std::mutex FLock;
    // By "<host>/<application>"; a map keeps every set where it is while others are added.
    std::map<std::string, TStoreSet> FSets;
    TErrorNote FError;
    // FError.Active(), readable without FLock: a write that succeeds looks at it only.
    std::atomic<bool> FFailing{false};
    std::atomic<std::uint64_t> FStored{0};
    std::atomic<std::uint64_t> FErrors{0};
};

}  // namespace deruz::silog::collect
