// The cursor stack.
#include "systools/cursor.h"

#include <mutex>

namespace deruz::systools {

namespace {

std::mutex& CrListLock() {
    static std::mutex* const lock = new std::mutex;
    return *lock;
}

// Created on first use and never destroyed, so a pop during process shutdown (the link
// closes from its unload step) never meets a destroyed list.
TCursorStack& CrList() {
    static TCursorStack* const list = new TCursorStack(PlatformCursorAccess());
    return *list;
}

}  // namespace

void TCursorStack::Push(TCursor Cr) {
    try {
        FList.push_back(FAccess->GetCursor());
    } catch (...) {
        return;  // without a saved entry, showing Cr would leave it up for good
    }
    FAccess->SetCursor(Cr);
}

void TCursorStack::Pop() {
    if (FList.empty()) return;
    const TCursor previous = FList.back();
    FList.pop_back();
    FAccess->SetCursor(previous);
}

void PushCursor(TCursor Cr) {
    try {
        std::lock_guard<std::mutex> guard(CrListLock());
        CrList().Push(Cr);
    } catch (...) {
        // Showing the wait cursor is cosmetic: a failure here must not stop the caller.
    }
}

void PopCursor() {
    try {
        std::lock_guard<std::mutex> guard(CrListLock());
        CrList().Pop();
    } catch (...) {
        // As in PushCursor.
    }
}

void PushWaitCursor() {
    PushCursor(crHourGlass);
}

ICursorAccess& SetCursorAccess(ICursorAccess& Access) {
    std::lock_guard<std::mutex> guard(CrListLock());
    ICursorAccess& previous = CrList().Access();
    CrList().SetAccess(Access);
    return previous;
}

}  // namespace deruz::systools
