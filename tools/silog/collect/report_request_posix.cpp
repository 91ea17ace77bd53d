#include <atomic>
#include <csignal>

#include "tools/silog/collect/report_request.h"

namespace deruz::silog::collect {

namespace {

std::atomic<bool> gRequested{false};

extern "C" void OnReportRequest(int) {
    gRequested.store(true);
}

}  // namespace

void InstallReportRequest() {
    std::signal(SIGUSR1, OnReportRequest);
    std::signal(SIGPIPE, SIG_IGN);
}

bool TakeReportRequest() {
    return gRequested.exchange(false);
}

const char* ReportRequestHint() {
    return "kill -USR1 <pid>";
}

}  // namespace deruz::silog::collect
