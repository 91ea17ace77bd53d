#include <atomic>
#include <csignal>

#include "tools/silog/collect/report_request.h"

namespace deruz::silog::collect {

namespace {

std::atomic<bool> gRequested{false};

extern "C" void OnReportRequest(int) {
    gRequested.store(true);
    // The C runtime resets the handler before it calls it.
    std::signal(SIGBREAK, OnReportRequest);
}

}  // namespace

void InstallReportRequest() {
    std::signal(SIGBREAK, OnReportRequest);
}

bool TakeReportRequest() {
    return gRequested.exchange(false);
}

const char* ReportRequestHint() {
    return "Ctrl+Break";
}

}  // namespace deruz::silog::collect
