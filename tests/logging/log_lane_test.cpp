// The asynchronous path's worker and its per-thread queues, on a lane of their own: entries
// queued while the worker sleeps wake it (a lost wake-up leaves them queued for good), and a
// thread gives its queue back when it ends, also after its lane is gone. The ThreadSanitizer
// step runs this suite.
#include "logging/core/log_lane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/packets/packet.h"

namespace deruz::logging {
namespace {

using namespace std::chrono_literals;

// Long enough to tell "never" from "late" on a loaded machine.
constexpr auto kPatience = 20s;

class LogLane : public ::testing::Test {
  protected:
    static void Deliver(void* AContext, TSiLogEntry& AEntry) noexcept {
        auto* LSelf = static_cast<LogLane*>(AContext);
        {
            std::lock_guard LGuard(LSelf->FSeenLock);
            LSelf->FSeen.push_back(AEntry.Title);
        }
        LSelf->FSeenChanged.notify_all();
    }
    bool Push(TSiLogLane& ALane, std::string_view AText) {
        TSiLaneEntry LEntry;
        LEntry.Text = AText;
        return ALane.Push(*FSession, LEntry);
    }
    // Waits until ACount entries have been delivered.
    bool AwaitSeen(std::size_t ACount) {
        std::unique_lock LGuard(FSeenLock);
        return FSeenChanged.wait_for(LGuard, kPatience, [&] { return FSeen.size() >= ACount; });
    }
    std::size_t QueuesAfterFlush(TSiLogLane& ALane) {
        std::lock_guard LCore(FCoreLock);
        ALane.Flush();
        return ALane.QueueCount();
    }

    TSiLogger FLogger{"lane"};
    TSiSession* FSession = FLogger.AddSession("Lane");
    std::recursive_mutex FCoreLock;
    std::mutex FSeenLock;
    std::condition_variable FSeenChanged;
    std::vector<std::string> FSeen;
};

// Rounds of two threads queuing at once: in the even rounds after the worker has gone to
// sleep, in the odd ones about when it goes (after 100 ms without entries), where a wake-up
// that falls between its last look at the queues and its sleep would be lost.
TEST_F(LogLane, EntriesQueuedWhileTheWorkerSleepsWakeIt) {
    TSiLogLane LLane(&LogLane::Deliver, this, FCoreLock);
    {
        std::lock_guard LCore(FCoreLock);
        LLane.Open(64 * 1024);
    }
    std::size_t LExpected = 0;
    for (int LRound = 0; LRound < 30; ++LRound) {
        SCOPED_TRACE(LRound);
        if (LRound % 2 == 0) {
            const auto LDeadline = std::chrono::steady_clock::now() + kPatience;
            while (!LLane.IsWorkerAsleep() && std::chrono::steady_clock::now() < LDeadline) {
                std::this_thread::sleep_for(1ms);
            }
            ASSERT_TRUE(LLane.IsWorkerAsleep()) << "the idle worker never went to sleep";
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(94 + LRound % 12));
        }
        std::atomic<int> LReady{0};
        std::vector<std::thread> LWriters;
        for (int LWriter = 0; LWriter < 2; ++LWriter) {
            LWriters.emplace_back([&, LWriter] {
                ++LReady;
                while (LReady.load() < 2) std::this_thread::yield();
                EXPECT_TRUE(Push(LLane, std::to_string(LRound) + "/" + std::to_string(LWriter)));
            });
        }
        for (std::thread& LWriter : LWriters) LWriter.join();
        LExpected += 2;
        ASSERT_TRUE(AwaitSeen(LExpected)) << "entries queued but never delivered";
    }
}

// Many short threads each queue one entry and end: once delivered, every queue is let go. A
// thread that lives keeps its queue, and a thread that outlives its lane still ends cleanly.
TEST_F(LogLane, EndedThreadsGiveTheirQueuesBack) {
    TSiLogLane LLane(&LogLane::Deliver, this, FCoreLock);
    {
        std::lock_guard LCore(FCoreLock);
        LLane.Open(4096);
    }
    constexpr int LKThreads = 300;
    for (int LThread = 0; LThread < LKThreads; ++LThread) {
        std::thread([&] { EXPECT_TRUE(Push(LLane, "short")); }).join();
    }
    ASSERT_TRUE(AwaitSeen(LKThreads));
    EXPECT_EQ(QueuesAfterFlush(LLane), 0u);

    // A thread that lives on: it queues into LLane, then into a lane that goes away before
    // the thread ends.
    std::mutex LLock;
    std::condition_variable LChanged;
    int LStep = 0;
    const auto LAwaitStep = [&](int AStep) {
        std::unique_lock LGuard(LLock);
        LChanged.wait(LGuard, [&] { return LStep >= AStep; });
    };
    const auto LSetStep = [&](int AStep) {
        {
            std::lock_guard LGuard(LLock);
            LStep = AStep;
        }
        LChanged.notify_all();
    };
    auto LShortLived = std::make_unique<TSiLogLane>(&LogLane::Deliver, this, FCoreLock);
    {
        std::lock_guard LCore(FCoreLock);
        LShortLived->Open(4096);
    }
    std::thread LLiving([&] {
        EXPECT_TRUE(Push(LLane, "living"));
        EXPECT_TRUE(Push(*LShortLived, "outlived"));
        LSetStep(1);
        LAwaitStep(2);
    });
    LAwaitStep(1);
    ASSERT_TRUE(AwaitSeen(LKThreads + 1));
    EXPECT_EQ(QueuesAfterFlush(LLane), 1u);
    LShortLived.reset();  // delivers what the thread queued there
    LSetStep(2);
    LLiving.join();
    EXPECT_EQ(QueuesAfterFlush(LLane), 0u);
    EXPECT_TRUE(AwaitSeen(LKThreads + 2));
}

}  // namespace
}  // namespace deruz::logging
