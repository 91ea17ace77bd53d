// The lane: per-thread queues of log entries as their fields and arguments, and the worker
// that makes packets of them.
#include "logging/core/log_lane.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "logging/base/intrusive_ptr.h"
#include "logging/core/session.h"
#include "logging/packets/packet.h"
#include "logging/system/system_ids.h"
#include "logging/system/thread_exit.h"

namespace deruz::logging {

namespace {

std::atomic<std::uint64_t> GNextLaneId{1};

// Set on a lane's worker and on a thread while it drains a lane: such a thread never queues
// (it would wait for itself when its queue is full) and never drains again from inside a
// delivery.
thread_local bool GInLaneDelivery = false;

constexpr std::size_t kFirstSegment = 64 * 1024;
constexpr std::size_t kSmallestBudget = 4 * 1024;
// A record size that marks the rest of a segment as unused: the next record starts over at
// the segment's beginning.
constexpr std::uint32_t kWrapMark = 0xFFFFFFFFu;
constexpr std::uint32_t kNoName = 0xFFFFFFFFu;
// The worker takes at most this many entries per hold of the core lock, so that a thread that
// takes the ordinary path waits for at most one batch.
constexpr std::size_t kBatch = 256;
constexpr std::size_t kPoolSize = 4096;
constexpr std::chrono::microseconds kFirstNap{50};
constexpr std::chrono::microseconds kLongestNap{2000};
// After this long without entries the worker stops napping and sleeps until a writer wakes it.
constexpr std::chrono::milliseconds kIdleBeforeSleep{100};

constexpr std::size_t Align8(std::size_t AValue) {
    return (AValue + 7) & ~static_cast<std::size_t>(7);
}

// The largest segment of a queue with a budget of ABudget bytes: the largest power of two
// within it.
std::size_t LargestSegment(std::size_t ABudget) {
    std::size_t LResult = kSmallestBudget;
    while (LResult * 2 <= ABudget) LResult *= 2;
    return LResult;
}

// The fixed part of a queued entry; its texts and arguments follow, each 8-aligned.
struct TRecord {
    std::uint32_t Size;        // the whole record, a multiple of 8
    std::uint32_t NameLength;  // bytes of a new session name that follow, or kNoName
    TDateTime Timestamp;
    const char* Method;
    std::uint32_t MethodLength;
    std::uint32_t TextLength;
    std::int32_t Color;
    std::uint16_t ArgCount;
    std::uint8_t Level;
    std::uint8_t Type;
    std::uint8_t ViewerId;
    std::uint8_t Formatted;  // 1: Text is a format, 2: a format whose failure is reported
};
static_assert(sizeof(TRecord) % 8 == 0);

// One queued argument: the kind and, for a text, its length; the value or the text follows.
struct TArgHead {
    std::uint32_t Kind;
    std::uint32_t Length;
};

}  // namespace

// --- The queue of one thread ------------------------------------------------------------------

// A ring of bytes, written by one thread and read by one at a time. Positions count bytes from
// the start and only grow; the index into the ring is the position modulo the capacity.
struct TSegment {
    explicit TSegment(std::size_t ACapacity)
        : Capacity(ACapacity), Data(new std::byte[ACapacity]) {}
    const std::size_t Capacity;
    std::unique_ptr<std::byte[]> Data;
    alignas(64) std::atomic<std::uint64_t> Head{0};
    alignas(64) std::atomic<std::uint64_t> Tail{0};
    std::atomic<TSegment*> Next{nullptr};
};

// A thread's queue: a chain of segments, each twice the size of the one before up to the
// budget. The writer moves to a new segment when the current one is full and may grow; the
// reader frees a segment once it has read it empty and a next one exists.
class TSiLogLane::TRing {
  public:
    TRing(std::uint32_t AThreadId, std::size_t ABudget)
        : ThreadId(AThreadId),
          Settings(&SiThreadFormatSettings()),
          FWrite(new TSegment(std::min(kFirstSegment, LargestSegment(ABudget)))),
          FRead(FWrite) {}
    ~TRing() {
        for (TSegment* LSegment = FRead; LSegment != nullptr;) {
            TSegment* LNext = LSegment->Next.load(std::memory_order_acquire);
            delete LSegment;
            LSegment = LNext;
        }
    }
    TRing(const TRing&) = delete;
    TRing& operator=(const TRing&) = delete;

    // Room for ASize bytes (8-aligned), growing up to ABudget, waiting for the reader when
    // full at that size. Null when the record can never fit.
    std::byte* Reserve(std::size_t ASize, std::size_t ABudget, TSiLogLane& ALane) {
        const std::size_t LLargest = LargestSegment(ABudget);
        if (ASize > LLargest) return nullptr;
        int LWaits = 0;
        for (;;) {
            TSegment* LSegment = FWrite;
            const std::uint64_t LHead = LSegment->Head.load(std::memory_order_relaxed);
            const std::size_t LIndex = LHead & (LSegment->Capacity - 1);
            const std::size_t LPad =
                LIndex + ASize > LSegment->Capacity ? LSegment->Capacity - LIndex : 0;
            if (LHead + LPad + ASize - FCachedTail > LSegment->Capacity) {
                FCachedTail = LSegment->Tail.load(std::memory_order_acquire);
            }
            if (LHead + LPad + ASize - FCachedTail <= LSegment->Capacity) {
                if (LPad > 0) {
                    const std::uint32_t LMark = kWrapMark;
                    std::memcpy(LSegment->Data.get() + LIndex, &LMark, sizeof LMark);
                    FPendingHead = LHead + LPad;
                } else {
                    FPendingHead = LHead;
                }
                return LSegment->Data.get() + (FPendingHead & (LSegment->Capacity - 1));
            }
            if (LSegment->Capacity < LLargest) {
                std::size_t LNewSize = LSegment->Capacity * 2;
                while (LNewSize < ASize) LNewSize *= 2;
                TSegment* LNew = nullptr;
                try {
                    LNew = new TSegment(std::min(LNewSize, LLargest));
                } catch (...) {
                    // No memory to grow: wait for room as at the budget.
                }
                if (LNew != nullptr) {
                    // Everything written to the old segment is published before the link
                    // (sequentially consistent, as the head: see TSiLogLane::Run).
                    LSegment->Next.store(LNew, std::memory_order_seq_cst);
                    FWrite = LNew;
                    FCachedTail = 0;
                    continue;
                }
                delete LNew;
            }
            // Full at the budget: wait for the reader, without losing the entry.
            ALane.WakeWorker();
            if (++LWaits < 64) {
                std::this_thread::yield();
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        }
    }
    // Sequentially consistent, as the worker's look before it sleeps (see TSiLogLane::Run).
    void Publish(std::size_t ASize) {
        FWrite->Head.store(FPendingHead + ASize, std::memory_order_seq_cst);
    }

    // The reader's side: the oldest record, or null when none is queued.
    const TRecord* Front() {
        for (;;) {
            TSegment* LSegment = FRead;
            const std::uint64_t LTail = LSegment->Tail.load(std::memory_order_relaxed);
            // Sequentially consistent (a plain load on x86): the worker's look before it
            // sleeps must see what a writer published before it read the worker's flag.
            std::uint64_t LHead = LSegment->Head.load(std::memory_order_seq_cst);
            if (LTail == LHead) {
                TSegment* LNext = LSegment->Next.load(std::memory_order_seq_cst);
                if (LNext == nullptr) return nullptr;
                LHead = LSegment->Head.load(std::memory_order_seq_cst);
                if (LTail != LHead) continue;
                FRead = LNext;
                delete LSegment;
                continue;
            }
            const std::size_t LIndex = LTail & (LSegment->Capacity - 1);
            const std::byte* LAt = LSegment->Data.get() + LIndex;
            std::uint32_t LSize = 0;
            std::memcpy(&LSize, LAt, sizeof LSize);
            if (LSize == kWrapMark) {
                LSegment->Tail.store(LTail + (LSegment->Capacity - LIndex),
                                     std::memory_order_release);
                continue;
            }
            return reinterpret_cast<const TRecord*>(LAt);
        }
    }
    void PopFront(std::uint32_t ASize) {
        FRead->Tail.store(FRead->Tail.load(std::memory_order_relaxed) + ASize,
                          std::memory_order_release);
    }

    // Fixed at the start.
    const std::uint32_t ThreadId;
    const TSiFormatSettings* const Settings;
    // The writer's state, on cache lines of its own.
    alignas(64) const TSiSession* LastSession = nullptr;
    std::uint32_t LastNameTag = 0;
    // Set when the owning thread has ended (or let the queue go): emptied, it is removed.
    std::atomic<bool> Abandoned{false};
    // The reader's state: the session name of the entries read last.
    alignas(64) std::string ReaderName;
    // The reader's look at the front, kept between entries of one drain.
    const TRecord* Peeked = nullptr;

  private:
    alignas(64) TSegment* FWrite;
    std::uint64_t FCachedTail = 0;
    std::uint64_t FPendingHead = 0;
    alignas(64) TSegment* FRead;
};

namespace {

// The queues of the calling thread, one a lane, in a few slots: a thread rarely logs to more
// than one core. A queue pushed out of its slot, or left by an ending thread, is marked
// abandoned; its lane delivers what it holds and then lets it go. The list is made at the
// thread's first queued entry and kept in the thread's state slot (system/thread_exit.h),
// which hands it back as the thread ends: no thread_local object with a destructor, so a
// thread that outlives a DLL holding this library runs none of the DLL's code as it ends.
struct TThreadRings {
    struct TSlot {
        std::uint64_t LaneId = 0;
        std::shared_ptr<TSiLogLane::TRing> Ring;
    };
    std::array<TSlot, 4> Slots;
    std::size_t Next = 0;

    TThreadRings() = default;
    TThreadRings(const TThreadRings&) = delete;
    TThreadRings& operator=(const TThreadRings&) = delete;
    ~TThreadRings() {
        for (TSlot& LSlot : Slots) {
            if (LSlot.Ring) LSlot.Ring->Abandoned.store(true, std::memory_order_release);
        }
    }
};

void ReleaseThreadRings(void* ARings) noexcept {
    delete static_cast<TThreadRings*>(ARings);
}

// The calling thread's list, made at its first use; null when the system gives no slot.
TThreadRings* CurrentThreadRings() {
    if (void* LState = SiThreadState()) return static_cast<TThreadRings*>(LState);
    auto LRings = std::make_unique<TThreadRings>();
    if (!SiSetThreadState(LRings.get(), &ReleaseThreadRings)) return nullptr;
    return LRings.release();
}

}  // namespace

// --- The lane ---------------------------------------------------------------------------------

TSiLogLane::TSiLogLane(TSiLaneDeliver ADeliver, void* AContext, std::recursive_mutex& ACoreLock)
    : FDeliver(ADeliver),
      FContext(AContext),
      FCoreLock(ACoreLock),
      FId(GNextLaneId.fetch_add(1, std::memory_order_relaxed)) {}

TSiLogLane::~TSiLogLane() {
    {
        std::lock_guard LGuard(FRingsLock);
        FStopping = true;
    }
    FWake.notify_all();
    if (FWorker.joinable()) FWorker.join();
    try {
        std::lock_guard LCore(FCoreLock);
        Close();
    } catch (...) {
    }
}

void TSiLogLane::Open(std::int64_t AQueueBytes) {
    FBudget.store(std::max<std::int64_t>(AQueueBytes, kSmallestBudget), std::memory_order_relaxed);
    if (!FWorker.joinable()) FWorker = std::thread([this] { Run(); });
    FOpen.store(true, std::memory_order_seq_cst);
}

void TSiLogLane::Close() {
    FOpen.store(false, std::memory_order_relaxed);
    Flush();
}

void TSiLogLane::Flush() {
    if (GInLaneDelivery) return;
    std::lock_guard LDrain(FDrainLock);
    Drain(0);
}

TSiLogLane::TRing* TSiLogLane::ThreadRing() {
    TThreadRings* LRings = CurrentThreadRings();
    if (LRings == nullptr) return nullptr;
    for (TThreadRings::TSlot& LSlot : LRings->Slots) {
        if (LSlot.LaneId == FId) return LSlot.Ring.get();
    }
    auto LRing = std::make_shared<TRing>(
        SiCurrentThreadId(), static_cast<std::size_t>(FBudget.load(std::memory_order_relaxed)));
    {
        std::lock_guard LGuard(FRingsLock);
        FRings.push_back(LRing);
    }
    TThreadRings::TSlot& LSlot = LRings->Slots[LRings->Next++ % LRings->Slots.size()];
    if (LSlot.Ring) LSlot.Ring->Abandoned.store(true, std::memory_order_release);
    LSlot.LaneId = FId;
    LSlot.Ring = std::move(LRing);
    return LSlot.Ring.get();
}

std::size_t TSiLogLane::QueueCount() const {
    std::lock_guard LGuard(FRingsLock);
    return FRings.size();
}

bool TSiLogLane::Push(TSiSession& ASession, const TSiLaneEntry& AEntry) noexcept {
    if (!FOpen.load(std::memory_order_relaxed) || GInLaneDelivery) return false;
    try {
        TRing* LRing = ThreadRing();
        if (LRing == nullptr) return false;
        // The session's name goes with the first entry of this thread after a rename or a
        // change of session; the reader keeps it for the entries that follow.
        std::string LName;
        bool LNewName = false;
        const std::uint32_t LTag = ASession.FNameCount.load(std::memory_order_acquire);
        if (LRing->LastSession != &ASession || LRing->LastNameTag != LTag) {
            LName = ASession.Name();
            LNewName = true;
        }
        std::size_t LSize = sizeof(TRecord) + Align8(AEntry.Text.size());
        if (LNewName) LSize += Align8(LName.size());
        for (std::size_t LIndex = 0; LIndex < AEntry.ArgCount; ++LIndex) {
            const TSiFormatArg& LArg = AEntry.Args[LIndex];
            LSize += sizeof(TArgHead) + (LArg.Kind() == TSiFormatArg::akString
                                             ? Align8(LArg.AsString().size())
                                             : sizeof(std::uint64_t));
        }
        std::byte* LAt =
            LSize <= std::numeric_limits<std::uint32_t>::max() / 2 &&
                    AEntry.ArgCount <= std::numeric_limits<std::uint16_t>::max()
                ? LRing->Reserve(LSize,
                                 static_cast<std::size_t>(FBudget.load(std::memory_order_relaxed)),
                                 *this)
                : nullptr;
        if (LAt == nullptr) return false;
        // Written in place: the queue's memory is the record.
        TRecord& LRecord = *new (LAt) TRecord;
        LRecord.Size = static_cast<std::uint32_t>(LSize);
        LRecord.NameLength = LNewName ? static_cast<std::uint32_t>(LName.size()) : kNoName;
        LRecord.Timestamp = AEntry.Timestamp;
        LRecord.Method = AEntry.Method.data();
        LRecord.MethodLength = static_cast<std::uint32_t>(AEntry.Method.size());
        LRecord.TextLength = static_cast<std::uint32_t>(AEntry.Text.size());
        LRecord.Color = AEntry.Color;
        LRecord.ArgCount = static_cast<std::uint16_t>(AEntry.ArgCount);
        LRecord.Level = AEntry.Level;
        LRecord.Type = AEntry.Type;
        LRecord.ViewerId = AEntry.ViewerId;
        LRecord.Formatted = AEntry.Formatted ? (AEntry.ReportFailure ? 2 : 1) : 0;
        std::byte* LOut = LAt + sizeof LRecord;
        if (LNewName) {
            std::memcpy(LOut, LName.data(), LName.size());
            LOut += Align8(LName.size());
        }
        std::memcpy(LOut, AEntry.Text.data(), AEntry.Text.size());
        LOut += Align8(AEntry.Text.size());
        for (std::size_t LIndex = 0; LIndex < AEntry.ArgCount; ++LIndex) {
            const TSiFormatArg& LArg = AEntry.Args[LIndex];
            TArgHead LHead{LArg.Kind(), 0};
            if (LArg.Kind() == TSiFormatArg::akString) {
                const std::string_view LText = LArg.AsString();
                LHead.Length = static_cast<std::uint32_t>(LText.size());
                std::memcpy(LOut, &LHead, sizeof LHead);
                std::memcpy(LOut + sizeof LHead, LText.data(), LText.size());
                LOut += sizeof LHead + Align8(LText.size());
                continue;
            }
            std::uint64_t LValue = 0;
            switch (LArg.Kind()) {
                case TSiFormatArg::akInt32:
                case TSiFormatArg::akInt64:
                    LValue = static_cast<std::uint64_t>(LArg.AsInt64());
                    break;
                case TSiFormatArg::akDouble: {
                    const double LDouble = LArg.AsDouble();
                    std::memcpy(&LValue, &LDouble, sizeof LValue);
                    break;
                }
                case TSiFormatArg::akPointer:
                    LValue = reinterpret_cast<std::uintptr_t>(LArg.AsPointer());
                    break;
                default:
                    LValue = LArg.AsUInt64();
                    break;
            }
            std::memcpy(LOut, &LHead, sizeof LHead);
            std::memcpy(LOut + sizeof LHead, &LValue, sizeof LValue);
            LOut += sizeof LHead + sizeof LValue;
        }
        LRing->Publish(LSize);
        // In sequential consistency after the publication (see Run): the worker, if it sleeps,
        // either finds this entry or is woken here.
        if (FSleeping.load(std::memory_order_seq_cst)) WakeWorker();
        if (LNewName) {
            LRing->LastSession = &ASession;
            LRing->LastNameTag = LTag;
        }
        return true;
    } catch (...) {
        // Only making the thread's queue can fail, before anything is queued.
        return false;
    }
}

namespace {

// An argument read back from a queued record.
TSiFormatArg ReadArg(const std::byte*& AAt) {
    TArgHead LHead{};
    std::memcpy(&LHead, AAt, sizeof LHead);
    AAt += sizeof LHead;
    if (LHead.Kind == TSiFormatArg::akString) {
        const std::string_view LText(reinterpret_cast<const char*>(AAt), LHead.Length);
        AAt += Align8(LHead.Length);
        return TSiFormatArg(LText);
    }
    std::uint64_t LValue = 0;
    std::memcpy(&LValue, AAt, sizeof LValue);
    AAt += sizeof LValue;
    switch (LHead.Kind) {
        case TSiFormatArg::akInt32:
            return TSiFormatArg(static_cast<std::int32_t>(LValue));
        case TSiFormatArg::akInt64:
            return TSiFormatArg(static_cast<std::int64_t>(LValue));
        case TSiFormatArg::akUInt32:
            return TSiFormatArg(static_cast<std::uint32_t>(LValue));
        case TSiFormatArg::akDouble: {
            double LDouble = 0;
            std::memcpy(&LDouble, &LValue, sizeof LDouble);
            return TSiFormatArg(LDouble);
        }
        case TSiFormatArg::akChar:
            return TSiFormatArg(static_cast<char>(LValue));
        case TSiFormatArg::akBool:
            return TSiFormatArg(LValue != 0);
        case TSiFormatArg::akPointer:
            return TSiFormatArg(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(LValue)));
        default:
            return TSiFormatArg(LValue);
    }
}

}  // namespace

// The entries the worker hands on are kept in a ring of their own: once the protocols'
// workers have written one and let it go, it serves again, so that steady logging allocates
// no packets (and no packet is freed on another core than the one that made it).
TSiLogEntry* TSiLogLane::NewEntry(TSiLogEntryType AType, TSiViewerId AViewerId) {
    if (FPool.size() < kPoolSize) {
        FPool.push_back(SiMakeRef<TSiLogEntry>(AType, AViewerId));
        return FPool.back().Get();
    }
    TSiRef<TSiLogEntry>& LSlot = FPool[FPoolNext];
    FPoolNext = (FPoolNext + 1) % kPoolSize;
    if (LSlot->RefCount() == 1) {
        LSlot->Renew(AType, AViewerId);
        LSlot->SessionName.clear();
    } else {
        LSlot = SiMakeRef<TSiLogEntry>(AType, AViewerId);
    }
    return LSlot.Get();
}

std::size_t TSiLogLane::Drain(std::size_t AMost) {
    std::vector<TRing*> LRings;
    {
        std::lock_guard LGuard(FRingsLock);
        LRings.reserve(FRings.size());
        for (const auto& LRing : FRings) LRings.push_back(LRing.get());
    }
    const bool LWasDelivering = GInLaneDelivery;
    GInLaneDelivery = true;
    std::size_t LCount = 0;
    std::vector<TSiFormatArg> LArgs;
    for (TRing* LRing : LRings) LRing->Peeked = LRing->Front();
    while (AMost == 0 || LCount < AMost) {
        // The oldest entry at the front of any queue.
        TRing* LNext = nullptr;
        for (TRing* LRing : LRings) {
            if (LRing->Peeked != nullptr &&
                (LNext == nullptr || LRing->Peeked->Timestamp < LNext->Peeked->Timestamp)) {
                LNext = LRing;
            }
        }
        if (LNext == nullptr) break;
        const TRecord& LRecord = *LNext->Peeked;
        try {
            const auto* LAt = reinterpret_cast<const std::byte*>(&LRecord) + sizeof(TRecord);
            if (LRecord.NameLength != kNoName) {
                LNext->ReaderName.assign(reinterpret_cast<const char*>(LAt), LRecord.NameLength);
                LAt += Align8(LRecord.NameLength);
            }
            const std::string_view LText(reinterpret_cast<const char*>(LAt), LRecord.TextLength);
            LAt += Align8(LRecord.TextLength);
            TSiLogEntry* LEntry = NewEntry(static_cast<TSiLogEntryType>(LRecord.Type),
                                           static_cast<TSiViewerId>(LRecord.ViewerId));
            LEntry->Timestamp = LRecord.Timestamp;
            LEntry->Level = static_cast<TSiLevel>(LRecord.Level);
            LEntry->Color = LRecord.Color;
            LEntry->ThreadId = LNext->ThreadId;
            LEntry->SessionName = LNext->ReaderName;
            if (LRecord.Formatted != 0) {
                LArgs.clear();
                for (std::uint16_t LIndex = 0; LIndex < LRecord.ArgCount; ++LIndex) {
                    LArgs.push_back(ReadArg(LAt));
                }
                bool LDeliver = true;
                try {
                    SiFormatTo(LEntry->Title, *LNext->Settings, LText, LArgs);
                } catch (...) {
                    LDeliver = LRecord.Formatted == 2;
                    // As on the caller's thread: the entry becomes the internal error
                    // "<Method>: <message>".
                    std::string LMessage = "unknown error";
                    try {
                        throw;
                    } catch (const std::exception& LError) {
                        LMessage = LError.what();
                    } catch (...) {
                    }
                    LEntry->LogEntryType = ltInternalError;
                    LEntry->ViewerId = viTitle;
                    LEntry->Level = lvError;
                    LEntry->Title.assign(LRecord.Method, LRecord.MethodLength)
                        .append(": ")
                        .append(LMessage);
                }
                if (LDeliver) FDeliver(FContext, *LEntry);
            } else {
                LEntry->Title.assign(LText);
                FDeliver(FContext, *LEntry);
            }
        } catch (...) {
            // Out of memory for the packet: the entry is lost, the queue goes on.
        }
        LNext->PopFront(LRecord.Size);
        LNext->Peeked = LNext->Front();
        ++LCount;
    }
    GInLaneDelivery = LWasDelivering;
    // Queues of ended threads, once empty, are let go.
    {
        std::lock_guard LGuard(FRingsLock);
        std::erase_if(FRings, [](const std::shared_ptr<TRing>& ARing) {
            return ARing->Abandoned.load(std::memory_order_acquire) && ARing->Front() == nullptr;
        });
    }
    return LCount;
}

std::size_t TSiLogLane::DrainBatch() noexcept {
    try {
        // The core lock first, then the drain lock: the order a closing thread takes.
        std::lock_guard LCore(FCoreLock);
        std::lock_guard LDrain(FDrainLock);
        return Drain(kBatch);
    } catch (...) {
        return 0;
    }
}

void TSiLogLane::WakeWorker() noexcept {
    try {
        // Cleared under the lock that the worker tests it under before it waits, so the
        // notification cannot fall between its test and its wait.
        std::lock_guard LGuard(FRingsLock);
        FSleeping.store(false, std::memory_order_relaxed);
    } catch (...) {
    }
    FWake.notify_one();
}

void TSiLogLane::Run() noexcept {
    GInLaneDelivery = true;
    auto LNap = kFirstNap;
    auto LIdleSince = std::chrono::steady_clock::now();
    std::unique_lock LGuard(FRingsLock);
    while (!FStopping) {
        LGuard.unlock();
        std::size_t LCount = DrainBatch();
        if (LCount == 0 && std::chrono::steady_clock::now() - LIdleSince >= kIdleBeforeSleep) {
            // Idle for a while: sleep until a writer wakes the worker. The flag is set before
            // the queues are looked at once more, and a writer reads it after publishing its
            // entry, both in sequential consistency (the queue's head too): either the writer
            // sees the flag and wakes the worker, or the look here finds its entry.
            FSleeping.store(true, std::memory_order_seq_cst);
            LCount = DrainBatch();
            LGuard.lock();
            if (LCount == 0) {
                FWake.wait(LGuard, [this] {
                    return FStopping || !FSleeping.load(std::memory_order_relaxed);
                });
            }
            FSleeping.store(false, std::memory_order_relaxed);
            LNap = kFirstNap;
            LIdleSince = std::chrono::steady_clock::now();
            continue;
        }
        LGuard.lock();
        if (LCount > 0) {
            LNap = kFirstNap;
            LIdleSince = std::chrono::steady_clock::now();
            continue;
        }
        // Nothing queued: nap, longer each time, rather than be woken by every writer.
        FWake.wait_for(LGuard, LNap);
        LNap = std::min<std::chrono::microseconds>(LNap * 2, kLongestNap);
    }
}

}  // namespace deruz::logging
