// A protocol for the framework's tests: it records every operation the framework asks of it, in
// order, behaves like a connection-oriented protocol (a log header right after connecting), can
// be told to fail each operation, and can hold the calling thread in a write or reconnect until
// the test lets it go.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logging/base/errors.h"
#include "logging/packets/packet.h"
#include "logging/protocols/protocol.h"

namespace deruz::logging::testing {

// Waits (polling) until APredicate holds; false after a generous deadline, which only a broken
// implementation ever reaches.
template <class F>
bool WaitUntil(F APredicate) {
    const auto LDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() > LDeadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Holds threads that pass it while closed.
class TGate {
  public:
    void Close() {
        std::lock_guard LGuard(FLock);
        FOpen = false;
    }
    void Open() {
        std::lock_guard LGuard(FLock);
        FOpen = true;
        FChanged.notify_all();
    }
    void Pass() {
        std::unique_lock LGuard(FLock);
        ++FWaiting;
        FChanged.wait(LGuard, [this] { return FOpen; });
        --FWaiting;
    }
    bool HasWaiter() {
        std::lock_guard LGuard(FLock);
        return FWaiting > 0;
    }

  private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = true;
    int FWaiting = 0;
};

// What the protocol did and how it is to behave; shared with the test, so that it can be read
// after the protocol is gone.
struct TRecorder {
    std::atomic<bool> FailConnect{false};
    std::atomic<bool> FailWrite{false};
    std::atomic<bool> FailDisconnect{false};
    std::atomic<bool> FailDispatch{false};
    // InternalReconnect reports "nobody there" (false) instead of connecting.
    std::atomic<bool> PeerAbsent{false};
    TGate WriteGate;
    TGate ReconnectGate;

    void Add(std::string ACall) {
        std::lock_guard LGuard(FLock);
        FCalls.push_back(std::move(ACall));
        FThreads.insert(std::this_thread::get_id());
    }
    std::vector<std::string> Calls() {
        std::lock_guard LGuard(FLock);
        return FCalls;
    }
    std::size_t Count() {
        std::lock_guard LGuard(FLock);
        return FCalls.size();
    }
    void ClearCalls() {
        std::lock_guard LGuard(FLock);
        FCalls.clear();
    }
    // The threads that ran the protocol's operations.
    std::set<std::thread::id> Threads() {
        std::lock_guard LGuard(FLock);
        return FThreads;
    }

  private:
    std::mutex FLock;
    std::vector<std::string> FCalls;
    std::set<std::thread::id> FThreads;
};

// Records "connect", "reconnect", "header:<app>@<host>", "write:<title>", "control",
// "disconnect" and "dispatch:<action>".
class TRecordingProtocol final : public TSiProtocol {
  public:
    explicit TRecordingProtocol(std::shared_ptr<TRecorder> ARecorder = nullptr)
        : FRecorder(ARecorder ? std::move(ARecorder) : std::make_shared<TRecorder>()) {}

    std::string GetName() const override { return "rec"; }
    TRecorder& Recorder() { return *FRecorder; }
    std::shared_ptr<TRecorder> SharedRecorder() { return FRecorder; }

  protected:
    void InternalConnect() override {
        FRecorder->Add("connect");
        Open();
    }
    bool InternalReconnect() override {
        FRecorder->ReconnectGate.Pass();
        FRecorder->Add("reconnect");
        if (FRecorder->PeerAbsent) {
            return false;
        }
        Open();
        return true;
    }
    void InternalDisconnect() override {
        FRecorder->Add("disconnect");
        if (FRecorder->FailDisconnect) {
            throw ESiError("disconnect failed");
        }
    }
    void InternalWritePacket(TSiPacket& APacket) override {
        switch (APacket.GetPacketType()) {
            case ptLogHeader: {
                const auto& LHeader = static_cast<TSiLogHeader&>(APacket);
                FRecorder->Add("header:" + LHeader.AppName + "@" + LHeader.HostName);
                return;
            }
            case ptLogEntry:
                FRecorder->WriteGate.Pass();
                FRecorder->Add("write:" + static_cast<TSiLogEntry&>(APacket).Title);
                break;
            default:
                FRecorder->Add("control");
                break;
        }
        if (FRecorder->FailWrite) {
            throw ESiError("write failed");
        }
    }
    void InternalDispatch(TSiProtocolCommand& ACommand) override {
        FRecorder->Add("dispatch:" + std::to_string(ACommand.Action()));
        if (FRecorder->FailDispatch) {
            throw ESiError("dispatch failed");
        }
    }

  private:
    void Open() {
        if (FRecorder->FailConnect) {
            throw ESiError("connect failed");
        }
        InternalWriteLogHeader();
    }

    std::shared_ptr<TRecorder> FRecorder;
};

// A protocol created and initialised as the factory does it.
inline TSiProtocolOf<TRecordingProtocol> MakeRecording(const std::string& AOptions) {
    auto LProtocol = SiMakeProtocol<TRecordingProtocol>();
    LProtocol->Initialize(AOptions);
    return LProtocol;
}

// A log entry with a title and a level.
inline TSiPacketPtr Entry(const std::string& ATitle, TSiLevel ALevel = lvMessage) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title = ATitle;
    LEntry->Level = ALevel;
    return LEntry;
}

}  // namespace deruz::logging::testing
