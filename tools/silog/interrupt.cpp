#include "tools/silog/interrupt.h"

#include <atomic>
#include <csignal>

namespace deruz::silog {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

}  // namespace

void InstallInterruptHandler() {
    gInterrupted.store(false);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool Interrupted() {
    return gInterrupted.load();
}

}  // namespace deruz::silog
