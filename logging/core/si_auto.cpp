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
    static TStandIn* standIn = new TStandIn();
    return *standIn;
}

// Creates the default instances on first use and tears them down at exit.
class TSiAutoInstances {
  public:
    TSiAutoInstances() {
        auto* logger = new TSiLogger(SiGetExecutableName());
        try {
            logger->SetConnections("pipe(reconnect=true, reconnect.interval=1s)");
        } catch (...) {
            // Without the pipe protocol the default core simply has no connections.
        }
        gSiMain.store(logger->AddSession("Main", true));
        gSi.store(logger);
    }
    ~TSiAutoInstances() {
        TSiLogger* logger = gSi.exchange(nullptr);
        gSiMain.store(nullptr);
        gTornDown.store(true);
        delete logger;
    }
    static inline std::atomic<bool> gTornDown{false};
};

void EnsureCreated() {
    static TSiAutoInstances instances;
}

}  // namespace

TSiLogger* TSiAutoLogger::operator->() const {
    if (TSiLogger* logger = gSi.load(std::memory_order_acquire)) return logger;
    if (!TSiAutoInstances::gTornDown.load()) {
        EnsureCreated();
        if (TSiLogger* logger = gSi.load(std::memory_order_acquire)) return logger;
    }
    return StandIn().Logger;
}

TSiSession* TSiAutoSession::operator->() const {
    if (TSiSession* session = gSiMain.load(std::memory_order_acquire)) return session;
    if (!TSiAutoInstances::gTornDown.load()) {
        EnsureCreated();
        if (TSiSession* session = gSiMain.load(std::memory_order_acquire)) return session;
    }
    return StandIn().Session;
}

}  // namespace deruz::logging
