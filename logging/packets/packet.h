// Log packets: the five kinds of record that the logging library sends to log viewers, files
// and memory. A session fills a packet, the logger core completes it and hands it to every
// protocol, and a formatter turns it into bytes.
//
// Ownership: packets are reference counted (TSiRefCounted) and live on the heap only (their
// destructors are private): create them with SiMakeRef or new. The creator holds the first
// reference; any protocol or queue that keeps a packet beyond a call holds its own, normally
// through TSiPacketPtr. A packet owns its data stream.
//
// Thread safety: reference counting is atomic. The fields are plain data: they are written
// by one thread before the packet is dispatched and only read afterwards. Reading a packet's
// data stream moves its position, so protocols on different threads bracket formatting with
// Lock/Unlock, which take a re-entrant lock once SetThreadSafe(true) has been called (the
// logger core does so, before dispatch, whenever a protocol runs on a worker thread).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/base/intrusive_ptr.h"
#include "logging/base/stream.h"

namespace deruz::logging {

class TSiLogEntry;
class TSiControlCommand;
class TSiWatch;
class TSiProcessFlow;
class TSiLogHeader;

// The abstract base of the packet kinds. The kind is told by GetPacketType, and only the five
// kinds below derive from it, so code that dispatches on the kind may downcast safely.
class TSiPacket : public TSiRefCounted {
  public:
    TSiLevel Level = lvMessage;

    // Nominal size in bytes, used by the packet queues for their byte budgets: the fixed
    // body header of the binary format plus text lengths in UTF-16 code units plus data.
    virtual std::int64_t GetSize() const = 0;
    virtual TSiPacketType GetPacketType() const = 0;

    bool GetThreadSafe() const noexcept { return FThreadSafe; }

    // Switches the packet's lock on or off. The lock is part of the packet, so switching
    // allocates nothing (every packet of a core with an asynchronous protocol is switched on).
    // Must not be called while the packet is shared between threads or while it is locked.
    void SetThreadSafe(bool AValue);

    // Enter and leave the packet's lock when it is thread-safe; otherwise do nothing.
    // TryLock returns false only when another thread holds the lock.
    void Lock();
    void Unlock();
    bool TryLock();

  protected:
    ~TSiPacket() override = default;

  private:
    friend class TSiLogEntry;
    friend class TSiControlCommand;
    friend class TSiWatch;
    friend class TSiProcessFlow;
    friend class TSiLogHeader;
    TSiPacket() = default;

    bool FThreadSafe = false;
    std::recursive_mutex FCriticalSection;
};

using TSiPacketPtr = TSiRef<TSiPacket>;

// Holds a packet's lock for the lifetime of the guard.
class TSiPacketLock {
  public:
    explicit TSiPacketLock(TSiPacket& APacket) : FPacket(APacket) { FPacket.Lock(); }
    ~TSiPacketLock() { FPacket.Unlock(); }
    TSiPacketLock(const TSiPacketLock&) = delete;
    TSiPacketLock& operator=(const TSiPacketLock&) = delete;

  private:
    TSiPacket& FPacket;
};

// A log message with optional data for one of the viewers.
class TSiLogEntry final : public TSiPacket {
  public:
    // Leaves every field zero (viNone, ltSeparator, colour 0, ids 0).
    TSiLogEntry() = default;

    // Stores the kinds, sets the default colour clWindow and the calling thread and process.
    TSiLogEntry(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId);

    std::int64_t GetSize() const override;
    TSiPacketType GetPacketType() const override { return ptLogEntry; }

    // Makes a sent entry that nobody else holds as the constructor makes a new one, keeping
    // the memory of its texts, so that a session can send it again. Its data must be unset.
    // SessionName and SessionNameTag are kept: the session stamps its name again only when the
    // tag shows that it has been renamed since.
    void Renew(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId);

    // Replaces the data with a copy of the whole of AStream, read from its first byte (AStream
    // is left at its end); with no stream, empties existing data and keeps the stream.
    void SetData(TSiStream* AStream);
    // The data stream, or null before any data was set. The packet keeps ownership.
    TSiMemoryStream* GetData() const noexcept { return FData.get(); }
    bool HasData() const;

    TDateTime Timestamp = 0;
    TSiViewerId ViewerId = viNone;
    TSiLogEntryType LogEntryType = ltSeparator;
    std::string AppName;
    std::string HostName;
    std::string SessionName;
    std::string Title;
    TSiColor Color = 0;
    std::uint32_t ThreadId = 0;
    std::uint32_t ProcessId = 0;
    // Which name of the sending session SessionName holds (0: none): the session's count of
    // names at the time it stamped it. Not part of the packet's bytes.
    std::uint32_t SessionNameTag = 0;

    // The entry's whole binary packet (header and body), encoded by the logger core before it
    // takes its lock, so that the binary formatter only copies it out; empty otherwise. The
    // core sets it, under its lock, only while it writes the entry to its protocols and clears
    // it before it lets go of that lock: the bytes live in the core's caller, and an entry kept
    // (a backlog) or reused (a session's spare) never carries them.
    std::span<const std::uint8_t> Encoded() const noexcept { return FEncoded; }
    void SetEncoded(std::span<const std::uint8_t> ABytes) noexcept { FEncoded = ABytes; }

  private:
    ~TSiLogEntry() override = default;

    std::unique_ptr<TSiMemoryStream> FData;
    std::span<const std::uint8_t> FEncoded;
};

// An instruction to the log viewer, such as clearing its log.
class TSiControlCommand final : public TSiPacket {
  public:
    TSiControlCommand() = default;

    // Stores the type and sets the level to lvControl.
    explicit TSiControlCommand(TSiControlCommandType AControlCommandType);

    std::int64_t GetSize() const override;
    TSiPacketType GetPacketType() const override { return ptControlCommand; }

    // As for log entries.
    void SetData(TSiStream* AStream);
    TSiMemoryStream* GetData() const noexcept { return FData.get(); }
    bool HasData() const;

    TSiControlCommandType ControlCommandType = ccClearLog;

  private:
    ~TSiControlCommand() override = default;

    std::unique_ptr<TSiMemoryStream> FData;
};

// The current value of a named variable.
class TSiWatch final : public TSiPacket {
  public:
    TSiWatch() = default;
    explicit TSiWatch(TSiWatchType AWatchType) : WatchType(AWatchType) {}

    std::int64_t GetSize() const override;
    TSiPacketType GetPacketType() const override { return ptWatch; }

    TSiWatchType WatchType = wtChar;
    std::string Value;
    std::string Name;
    TDateTime Timestamp = 0;

  private:
    ~TSiWatch() override = default;
};

// The entering or leaving of a method, thread or process.
class TSiProcessFlow final : public TSiPacket {
  public:
    TSiProcessFlow() = default;

    // Stores the type and the calling thread and process.
    explicit TSiProcessFlow(TSiProcessFlowType AProcessFlowType);

    std::int64_t GetSize() const override;
    TSiPacketType GetPacketType() const override { return ptProcessFlow; }

    std::string HostName;
    TSiProcessFlowType ProcessFlowType = pfEnterMethod;
    std::string Title;
    TDateTime Timestamp = 0;
    std::uint32_t ThreadId = 0;
    std::uint32_t ProcessId = 0;

  private:
    ~TSiProcessFlow() override = default;
};

// The first packet on every viewer connection: who is logging.
class TSiLogHeader final : public TSiPacket {
  public:
    TSiLogHeader() = default;

    std::int64_t GetSize() const override;
    TSiPacketType GetPacketType() const override { return ptLogHeader; }

    // "hostname=" HostName CR LF "appname=" AppName CR LF.
    std::string GetContent() const;

    std::string HostName;
    std::string AppName;

  private:
    ~TSiLogHeader() override = default;
};

// Fixed sizes of the packet bodies in the binary format, which GetSize also counts.
inline constexpr std::int64_t kSiLogEntryHeaderSize = 48;
inline constexpr std::int64_t kSiControlCommandHeaderSize = 8;
inline constexpr std::int64_t kSiWatchHeaderSize = 20;
inline constexpr std::int64_t kSiProcessFlowHeaderSize = 28;
inline constexpr std::int64_t kSiLogHeaderHeaderSize = 4;

}  // namespace deruz::logging
