#include "logging/core/si_auto.h"

#include <atomic>

#include "logging/system/system_info.h"

namespace deruz::logging {

namespace {

// Plain pointers: they need no construction and are never destroyed, so they can be read
// at any moment of the process's life.
std::atomic<TSiLogger*> gSi{nullptr};
std::atomic<TSiSession*> gSiMain{nullptr};

// What log calls after the teardown reach: a disabled core with one session, created on
// demand and deliberately never freed (the process is ending).
struct TStandIn {
    TSiLogger* Logger = new TSiLogger();
    TSiSession* Session = Logger->AddSession("Main", true);
};

TStandIn& StandIn() {
    static TStandIn* LStandIn = new TStandIn();
    return *LStandIn;
}

// Creates the default instances on first use and tears them down at exit.
class TSiAutoInstances {
  public:
    TSiAutoInstances() {
        auto* LLogger = new TSiLogger(SiGetExecutableName());
        try {
            LLogger->SetConnections("pipe(reconnect=true, reconnect.interval=1s)");
        } catch (...) {
            // Without the pipe protocol the default core simply has no connections.
        }
        gSiMain.store(LLogger->AddSession("Main", true));
        gSi.store(LLogger);
    }
    ~TSiAutoInstances() {
        TSiLogger* LLogger = gSi.exchange(nullptr);
        gSiMain.store(nullptr);
        gTornDown.store(true);
        delete LLogger;
    }
    static inline std::atomic<bool> gTornDown{false};
};

void EnsureCreated() {
    static TSiAutoInstances LInstances;
}

}  // namespace

TSiLogger* TSiAutoLogger::operator->() const {
    if (TSiLogger* LLogger = gSi.load(std::memory_order_acquire)) return LLogger;
    if (!TSiAutoInstances::gTornDown.load()) {
        EnsureCreated();
        if (TSiLogger* LLogger = gSi.load(std::memory_order_acquire)) return LLogger;
    }
    return StandIn().Logger;
}

TSiSession* TSiAutoSession::operator->() const {
    if (TSiSession* LSession = gSiMain.load(std::memory_order_acquire)) return LSession;
    if (!TSiAutoInstances::gTornDown.load()) {
        EnsureCreated();
        if (TSiSession* LSession = gSiMain.load(std::memory_order_acquire)) return LSession;
    }
    return StandIn().Session;
}

}  // namespace deruz::logging
