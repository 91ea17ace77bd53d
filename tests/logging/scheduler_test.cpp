// The asynchronous mode: the command queue and its trimming, the worker thread, throttling and
// dropping, draining and clearing on disconnect, and errors reported on the worker.
#include "logging/protocols/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/logging/recording_protocol.h"

namespace deruz::logging {
namespace {

using testing::Entry;
using testing::MakeRecording;
using testing::WaitUntil;

using Calls = std::vector<std::string>;

// The numbers of the packets "w<n>" written, in order.
std::vector<int> WrittenNumbers(const Calls& ACalls) {
    std::vector<int> LResult;
    for (const std::string& LCall : ACalls) {
        if (LCall.rfind("write:w", 0) == 0) {
            LResult.push_back(std::stoi(LCall.substr(7)));
        }
    }
    return LResult;
}

// Whether the work behind AFuture ended within a (generous) deadline.
template <class F>
bool EndsInTime(std::future<F>& AFuture) {
    return AFuture.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}

void WriteRange(TSiProtocol& AProtocol, int AFirst, int ALast) {
    for (int LIndex = AFirst; LIndex <= ALast; ++LIndex) {
        AProtocol.WritePacket(*Entry("w" + std::to_string(LIndex)));
    }
}

// --- Writing on the caller's thread ----------------------------------------------------------

// RunOrSchedule writes on the calling thread only while the worker has nothing queued and runs
// nothing; otherwise the write queues behind what came first, so the order holds either way.
TEST(SchedulerRunOrScheduleTest, WritesHereOnlyWhileTheWorkerIsIdle) {
    struct TTarget final : TSiSchedulerTarget {
        std::mutex Lock;
        std::vector<std::string> Runs;
        std::thread::id Caller = std::this_thread::get_id();
        testing::TGate Gate;
        void RunSchedulerCommand(TSiSchedulerCommand& ACommand) noexcept override {
            if (ACommand.Action() != saWritePacket) return;
            const std::string LTitle = static_cast<TSiLogEntry*>(ACommand.Packet())->Title;
            if (LTitle == "hold") Gate.Pass();
            std::lock_guard LGuard(Lock);
            Runs.push_back(LTitle + (std::this_thread::get_id() == Caller ? "@caller" : "@worker"));
        }
        bool SchedulerTargetFailed() const noexcept override { return false; }
        void SchedulerDroppedWrites(std::uint64_t) noexcept override {}
        std::size_t Count() {
            std::lock_guard LGuard(Lock);
            return Runs.size();
        }
    } LTarget;
    TSiScheduler LScheduler(LTarget);
    LScheduler.Start();
    EXPECT_TRUE(LScheduler.RunOrSchedule(*Entry("a")));
    LTarget.Gate.Close();
    EXPECT_TRUE(LScheduler.Schedule(TSiSchedulerCommand(*Entry("hold"))));
    ASSERT_TRUE(WaitUntil([&] { return LTarget.Gate.HasWaiter(); }));
    EXPECT_TRUE(LScheduler.RunOrSchedule(*Entry("b")));  // the worker runs "hold": queued
    LTarget.Gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return LTarget.Count() == 3; }));
    EXPECT_TRUE(LScheduler.RunOrSchedule(*Entry("c")));
    LScheduler.Stop();
    EXPECT_EQ(LTarget.Runs,
              (std::vector<std::string>{"a@caller", "hold@worker", "b@worker", "c@caller"}));
}

// --- Queue ------------------------------------------------------------------------------------

TEST(SchedulerQueueTest, TrimDropsOnlyWritesFromTheOldest) {
    const TSiPacketPtr LPackets[] = {Entry("w1"), Entry("w2"), Entry("w3")};
    const std::int64_t LCost = LPackets[0]->GetSize() + 24;
    const auto LCommand = SiMakeRef<TSiProtocolCommand>(1, nullptr);
    TSiSchedulerQueue LQueue;
    LQueue.Push(TSiSchedulerCommand(saConnect));
    LQueue.Push(TSiSchedulerCommand(*LPackets[0]));
    LQueue.Push(TSiSchedulerCommand(*LCommand));
    LQueue.Push(TSiSchedulerCommand(*LPackets[1]));
    LQueue.Push(TSiSchedulerCommand(*LPackets[2]));
    LQueue.Push(TSiSchedulerCommand(saDisconnect));
    EXPECT_EQ(LQueue.Size(), 3 * LCost + 3 * 24);
    EXPECT_EQ(LCommand->RefCount(), 2);

    // One byte more than one write: the walk passes the dispatch and takes the next write too.
    EXPECT_EQ(LQueue.Trim(LCost + 1), 2);  // two writes dropped
    EXPECT_EQ(LPackets[0]->RefCount(), 1);
    EXPECT_EQ(LPackets[1]->RefCount(), 1);
    EXPECT_EQ(LQueue.Size(), LCost + 3 * 24);

    // However much is asked for, only writes go.
    EXPECT_EQ(LQueue.Trim(1 << 20), 1);
    std::vector<TSiSchedulerAction> LRest;
    while (const std::optional<TSiSchedulerCommand> LQueued = LQueue.Pop()) {
        LRest.push_back(LQueued->Action());
    }
    EXPECT_EQ(LRest, (std::vector<TSiSchedulerAction>{saConnect, saDispatch, saDisconnect}));
    EXPECT_EQ(LQueue.Size(), 0);
    EXPECT_EQ(LCommand->RefCount(), 1);
}

// Records the actions that the worker runs on it.
class TActionRecorder final : public TSiSchedulerTarget {
  public:
    void RunSchedulerCommand(TSiSchedulerCommand& ACommand) noexcept override {
        std::lock_guard LGuard(FLock);
        FActions.push_back(ACommand.Action());
    }
    bool SchedulerTargetFailed() const noexcept override { return false; }
    void SchedulerDroppedWrites(std::uint64_t ACount) noexcept override { Dropped += ACount; }
    std::atomic<std::uint64_t> Dropped{0};
    std::vector<TSiSchedulerAction> Actions() {
        std::lock_guard LGuard(FLock);
        return FActions;
    }

  private:
    std::mutex FLock;
    std::vector<TSiSchedulerAction> FActions;
};

TEST(SchedulerTest, RefusesWhenNotRunningOrTooLarge) {
    TActionRecorder LTarget;
    TSiScheduler LScheduler(LTarget);
    EXPECT_FALSE(LScheduler.Schedule(TSiSchedulerCommand(saConnect)));  // not started

    LScheduler.SetThreshold(100);
    LScheduler.Start();
    const TSiPacketPtr LBig = Entry(std::string(100, 'b'));
    EXPECT_FALSE(LScheduler.Schedule(TSiSchedulerCommand(*LBig)));
    EXPECT_EQ(LBig->RefCount(), 1);  // the refused command let go of its packet
    EXPECT_EQ(LTarget.Dropped, 1u);
    EXPECT_TRUE(LScheduler.Schedule(TSiSchedulerCommand(saConnect)));

    LScheduler.Stop();
    const TSiPacketPtr LSmall = Entry("s");
    EXPECT_FALSE(LScheduler.Schedule(TSiSchedulerCommand(*LSmall)));
    EXPECT_EQ(LSmall->RefCount(), 1);
    EXPECT_EQ(LTarget.Actions(), (std::vector<TSiSchedulerAction>{saConnect}));  // drained
}

// --- Asynchronous protocols -------------------------------------------------------------------

TEST(SchedulerTest, WorkerRunsEverythingInOrderAndDrainsOnDisconnect) {
    const auto LProtocol = MakeRecording("async.enabled=true");
    LProtocol->SetAppName("app");
    LProtocol->Connect();
    LProtocol->Connect();  // already running: nothing
    WriteRange(*LProtocol, 0, 999);
    LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(3, nullptr));
    LProtocol->Disconnect();

    Calls LExpected = {"connect", "header:app@"};
    for (int LIndex = 0; LIndex < 1000; ++LIndex) {
        LExpected.push_back("write:w" + std::to_string(LIndex));
    }
    LExpected.insert(LExpected.end(), {"dispatch:3", "disconnect"});
    EXPECT_EQ(LProtocol->Recorder().Calls(), LExpected);
    const auto LThreads = LProtocol->Recorder().Threads();
    EXPECT_EQ(LThreads.size(), 1u);
    EXPECT_EQ(LThreads.count(std::this_thread::get_id()), 0u);

    // Without a worker, writes go nowhere.
    WriteRange(*LProtocol, 0, 0);
    EXPECT_EQ(LProtocol->Recorder().Count(), LExpected.size());
}

// The worker naps when a run of writes leaves the queue empty: writes queued during the nap,
// and a writer that fills a small queue meanwhile, still reach the target, in order, without
// any other event (no disconnect) to wake the worker.
TEST(SchedulerTest, WritesDuringTheWorkersNapArriveWithoutAnotherWakeUp) {
    const auto LProtocol = MakeRecording("async.enabled=true, async.queue=1");
    LProtocol->Connect();
    std::vector<int> LExpected;
    const auto LArrived = [&] {
        return WaitUntil([&] {
            return WrittenNumbers(LProtocol->Recorder().Calls()).size() == LExpected.size();
        });
    };
    for (int LRun = 0; LRun < 3; ++LRun) {
        WriteRange(*LProtocol, LRun * 100, LRun * 100 + 99);  // fills the 1 KB queue often
        for (int LIndex = LRun * 100; LIndex < LRun * 100 + 100; ++LIndex) {
            LExpected.push_back(LIndex);
        }
        ASSERT_TRUE(LArrived());
        std::this_thread::sleep_for(TSiScheduler::kNap / 2);  // a write in the middle of a nap
        WriteRange(*LProtocol, 1000 + LRun, 1000 + LRun);
        LExpected.push_back(1000 + LRun);
        ASSERT_TRUE(LArrived());
    }
    EXPECT_EQ(WrittenNumbers(LProtocol->Recorder().Calls()), LExpected);
    LProtocol->Disconnect();
}

TEST(SchedulerTest, CommandsLargerThanTheQueueAreDropped) {
    const auto LProtocol = MakeRecording("async.enabled=true, async.queue=0");
    const TSiPacketPtr LPacket = Entry("w0");
    LProtocol->Connect();
    LProtocol->WritePacket(*LPacket);
    EXPECT_EQ(LPacket->RefCount(), 1);
    LProtocol->Disconnect();
    EXPECT_EQ(LProtocol->Recorder().Calls(), (Calls{"connect", "header:@", "disconnect"}));
    EXPECT_EQ(LProtocol->DroppedPackets(), 1u);
}

TEST(SchedulerTest, ErrorsReachOnErrorOnTheWorker) {
    const auto LProtocol = MakeRecording("async.enabled=true");
    std::mutex LLock;
    std::vector<std::string> LErrors;
    std::thread::id LThread;
    LProtocol->SetOnError([&](TSiProtocol& ASender, const ESiProtocolError& AError) {
        std::lock_guard LGuard(LLock);
        LErrors.push_back(std::string(AError.what()) + "|" + AError.ProtocolName() + "|" +
                          (&ASender == LProtocol.get() ? "sender" : "other"));
        LThread = std::this_thread::get_id();
    });
    LProtocol->Recorder().FailConnect = true;
    EXPECT_NO_THROW(LProtocol->Connect());
    EXPECT_NO_THROW(LProtocol->Disconnect());
    std::lock_guard LGuard(LLock);
    EXPECT_EQ(LErrors, (std::vector<std::string>{"connect failed|rec|sender"}));
    EXPECT_NE(LThread, std::this_thread::get_id());
    EXPECT_TRUE(LProtocol->Failed());
}

TEST(SchedulerTest, ThrottledWriterNeverWaitsOnceFailedAndOldestWritesMakeRoom) {
    const auto LProtocol = MakeRecording("async.enabled=true, async.queue=1, reconnect=true");
    auto& LRecorder = LProtocol->Recorder();
    LRecorder.FailConnect = true;
    LProtocol->Connect();
    ASSERT_TRUE(WaitUntil([&] { return LProtocol->Failed(); }));
    LRecorder.FailConnect = false;

    // The worker hangs in a reconnect attempt while the protocol counts as failed.
    LRecorder.ReconnectGate.Close();
    WriteRange(*LProtocol, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return LRecorder.ReconnectGate.HasWaiter(); }));
    auto LWriter = std::async(std::launch::async, [&] { WriteRange(*LProtocol, 1, 200); });
    const bool LEnded = EndsInTime(LWriter);
    LRecorder.ReconnectGate.Open();
    ASSERT_TRUE(LEnded) << "the writer waited for a failed protocol";
    LProtocol->Disconnect();

    // What stayed queued is the newest writes, in order.
    const std::vector<int> LWritten = WrittenNumbers(LRecorder.Calls());
    ASSERT_GE(LWritten.size(), 2u);
    EXPECT_EQ(LWritten.front(), 0);
    EXPECT_EQ(LWritten.back(), 200);
    EXPECT_GT(LWritten[1], 1);  // the oldest were dropped
    for (std::size_t LIndex = 2; LIndex < LWritten.size(); ++LIndex) {
        EXPECT_EQ(LWritten[LIndex], LWritten[LIndex - 1] + 1);
    }
}

TEST(SchedulerTest, WithoutThrottleOnlyTheOldestWritesAreDropped) {
    const auto LProtocol = MakeRecording("async.enabled=true, async.queue=1, async.throttle=false");
    auto& LRecorder = LProtocol->Recorder();
    LProtocol->Connect();
    LRecorder.WriteGate.Close();
    WriteRange(*LProtocol, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return LRecorder.WriteGate.HasWaiter(); }));

    LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(1, nullptr));
    WriteRange(*LProtocol, 1, 50);
    LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(2, nullptr));
    WriteRange(*LProtocol, 51, 100);
    LRecorder.WriteGate.Open();
    LProtocol->Disconnect();

    const Calls LCalls = LRecorder.Calls();
    const auto LFirst = std::find(LCalls.begin(), LCalls.end(), "dispatch:1");
    const auto LSecond = std::find(LCalls.begin(), LCalls.end(), "dispatch:2");
    EXPECT_LT(LFirst, LSecond);
    ASSERT_NE(LSecond, LCalls.end());
    EXPECT_EQ(LCalls.back(), "disconnect");
    const std::vector<int> LWritten = WrittenNumbers(LCalls);
    EXPECT_LT(LWritten.size(), 101u);
    EXPECT_EQ(LProtocol->DroppedPackets(), 101u - LWritten.size());  // every one counted
    EXPECT_EQ(LWritten.back(), 100);
    EXPECT_TRUE(std::is_sorted(LWritten.begin(), LWritten.end()));
}

TEST(SchedulerTest, ClearOnDisconnectDropsQueuedWritesButStillDisconnects) {
    const auto LProtocol = MakeRecording("async.enabled=true, async.clearondisconnect=true");
    auto& LRecorder = LProtocol->Recorder();
    LProtocol->Connect();
    LRecorder.WriteGate.Close();
    WriteRange(*LProtocol, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return LRecorder.WriteGate.HasWaiter(); }));
    const TSiPacketPtr LQueued = Entry("w1");
    LProtocol->WritePacket(*LQueued);

    std::thread LDisconnect([&] { LProtocol->Disconnect(); });
    // The queue lets go of the packet once Disconnect has cleared it.
    const bool LCleared = WaitUntil([&] { return LQueued->RefCount() == 1; });
    LRecorder.WriteGate.Open();
    LDisconnect.join();
    EXPECT_TRUE(LCleared);
    EXPECT_EQ(LRecorder.Calls(), (Calls{"connect", "header:@", "write:w0", "disconnect"}));
}

TEST(SchedulerTest, ErrorHandlerMayNeedTheLockOfAWaitingWriter) {
    // The logger core holds its lock while it writes, and its error handler takes that lock.
    // The handler gives up after a deadline, so that a deadlock shows as a failure.
    const auto LProtocol = MakeRecording("async.enabled=true, async.queue=1");
    auto& LRecorder = LProtocol->Recorder();
    std::mutex LCoreLock;
    std::atomic<int> LErrors{0};
    std::atomic<bool> LDeadlocked{false};
    LProtocol->SetOnError([&](TSiProtocol&, const ESiProtocolError&) {
        std::unique_lock LGuard(LCoreLock, std::defer_lock);
        if (WaitUntil([&] { return LGuard.try_lock(); })) {
            ++LErrors;
        } else {
            LDeadlocked = true;
        }
    });
    LProtocol->Connect();
    LRecorder.WriteGate.Close();
    WriteRange(*LProtocol, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return LRecorder.WriteGate.HasWaiter(); }));
    LRecorder.FailWrite = true;

    std::atomic<bool> LLocked{false};
    std::thread LWriter([&] {
        std::lock_guard LGuard(LCoreLock);
        LLocked = true;
        WriteRange(*LProtocol, 1, 100);  // fills the queue and waits for room
    });
    const bool LStarted = WaitUntil([&] { return LLocked.load(); });
    LRecorder.WriteGate.Open();  // the blocked write fails now
    LWriter.join();
    ASSERT_TRUE(LStarted);
    LProtocol->Disconnect();
    EXPECT_FALSE(LDeadlocked) << "the writer kept waiting while the error handler needed its lock";
    EXPECT_EQ(LErrors, 1);
}

TEST(SchedulerTest, ErrorHandlerMayUseItsProtocolWhileAnotherThreadDisconnects) {
    // The disconnecting thread holds the protocol's lock while it waits for the worker, and the
    // worker's error handler writes to the protocol and disconnects it.
    auto LProtocol = MakeRecording("async.enabled=true, async.clearondisconnect=true");
    auto& LRecorder = LProtocol->Recorder();
    std::atomic<int> LErrors{0};
    LProtocol->SetOnError([&](TSiProtocol& ASender, const ESiProtocolError&) {
        ASender.WritePacket(*Entry("from handler"));
        ASender.Disconnect();
        ++LErrors;
    });
    LProtocol->Connect();
    LRecorder.WriteGate.Close();
    WriteRange(*LProtocol, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return LRecorder.WriteGate.HasWaiter(); }));
    LRecorder.FailWrite = true;
    const TSiPacketPtr LQueued = Entry("w1");
    LProtocol->WritePacket(*LQueued);

    std::atomic<bool> LDone{false};
    std::thread LDisconnect([&] {
        LProtocol->Disconnect();
        LDone = true;
    });
    // Once the queue has let go of the packet, the thread is inside Disconnect, holding the lock.
    ASSERT_TRUE(WaitUntil([&] { return LQueued->RefCount() == 1; }));
    LRecorder.WriteGate.Open();
    if (!WaitUntil([&] { return LDone.load(); })) {
        // Leave the deadlocked objects behind rather than hang the whole run.
        LDisconnect.detach();
        static_cast<void>(LProtocol.release());
        FAIL() << "deadlock between Disconnect and the error handler";
    }
    LDisconnect.join();
    EXPECT_EQ(LErrors, 1);
    EXPECT_EQ(LRecorder.Calls(), (Calls{"connect", "header:@", "write:w0", "disconnect"}));
}

TEST(SchedulerTest, ErrorHandlerMayDisconnectItsProtocol) {
    const auto LProtocol = MakeRecording("async.enabled=true");
    auto& LRecorder = LProtocol->Recorder();
    std::atomic<bool> LHandled{false};
    LProtocol->SetOnError([&](TSiProtocol& ASender, const ESiProtocolError&) {
        ASender.Disconnect();  // on the worker, which cannot wait for itself
        LHandled = true;
    });
    LRecorder.FailConnect = true;
    LProtocol->Connect();
    ASSERT_TRUE(WaitUntil([&] { return LHandled.load(); }));

    LRecorder.FailConnect = false;
    LProtocol->Connect();  // a new worker, after the old one has ended
    WriteRange(*LProtocol, 0, 0);
    LProtocol->Disconnect();
    EXPECT_EQ(LRecorder.Calls(),
              (Calls{"connect", "disconnect", "connect", "header:@", "write:w0", "disconnect"}));
}

}  // namespace
}  // namespace deruz::logging
