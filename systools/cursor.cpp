// The cursor stack.
#include "systools/cursor.h"

#include <mutex>

namespace deruz::systools {

namespace {

std::mutex& CrListLock() {
    static std::mutex* const LLock = new std::mutex;
    return *LLock;
}

// Created on first use and never destroyed, so a pop during process shutdown (the link
// closes from its unload step) never meets a destroyed list.
TCursorStack& CrList() {
    static TCursorStack* const LList = new TCursorStack(PlatformCursorAccess());
    return *LList;
}

}  // namespace

void TCursorStack::Push(TCursor ACr) {
    try {
        FList.push_back(FAccess->GetCursor());
    } catch (...) {
        return;  // without a saved entry, showing Cr would leave it up for good
    }
    FAccess->SetCursor(ACr);
}

void TCursorStack::Pop() {
    if (FList.empty()) return;
    const TCursor LPrevious = FList.back();
    FList.pop_back();
    FAccess->SetCursor(LPrevious);
}

void PushCursor(TCursor ACr) {
    try {
        std::lock_guard<std::mutex> LGuard(CrListLock());
        CrList().Push(ACr);
    } catch (...) {
        // Showing the wait cursor is cosmetic: a failure here must not stop the caller.
    }
}

void PopCursor() {
    try {
        std::lock_guard<std::mutex> LGuard(CrListLock());
        CrList().Pop();
    } catch (...) {
        // As in PushCursor.
    }
}

void PushWaitCursor() {
    PushCursor(crHourGlass);
}

ICursorAccess& SetCursorAccess(ICursorAccess& ACcess) {
    std::lock_guard<std::mutex> LGuard(CrListLock());
    ICursorAccess& LPrevious = CrList().Access();
    CrList().SetAccess(ACcess);
    return LPrevious;
}

}  // namespace deruz::systools
