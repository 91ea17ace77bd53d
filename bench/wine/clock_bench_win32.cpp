// The cost of a log entry's timestamp on Windows: SiLocalNow (what every entry reads) against
// the reading it replaced, GetLocalTime encoded with SiEncodeDateTime, and the system calls
// beneath both, in alternating rounds.
//
//   clock_bench [ROUNDS] [CALLS]   (defaults 7 rounds of 1,000,000 readings each)
//
// Prints the median nanoseconds per reading of each.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "logging/system/clock.h"

namespace {

using namespace deruz::logging;

volatile double GSinkDouble = 0;
volatile unsigned long long GSinkTicks = 0;

double BeforeReading() {
    SYSTEMTIME LNow;
    GetLocalTime(&LNow);
    return SiEncodeDateTime({LNow.wYear, LNow.wMonth, LNow.wDay, LNow.wHour, LNow.wMinute,
                             LNow.wSecond, LNow.wMilliseconds});
}

template <class F>
double NsPerCall(long ACalls, F AReading) {
    const auto LStart = std::chrono::steady_clock::now();
    for (long LIndex = 0; LIndex < ACalls; ++LIndex) AReading();
    const std::chrono::duration<double, std::nano> LTook =
        std::chrono::steady_clock::now() - LStart;
    return LTook.count() / static_cast<double>(ACalls);
}

double Median(std::vector<double> AValues) {
    std::sort(AValues.begin(), AValues.end());
    return AValues[AValues.size() / 2];
}

}  // namespace

int main(int AArgc, char** AArgv) {
    const int LRounds = AArgc > 1 ? std::atoi(AArgv[1]) : 7;
    const long LCalls = AArgc > 2 ? std::atol(AArgv[2]) : 1'000'000;
    using TPrecise = void(WINAPI*)(LPFILETIME);
    const auto LPrecise = reinterpret_cast<TPrecise>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    std::vector<double> LNew, LOld, LCoarse, LFine, LCounter;
    for (int LRound = 0; LRound < LRounds; ++LRound) {
        LNew.push_back(NsPerCall(LCalls, [] { GSinkDouble = SiLocalNow(); }));
        LOld.push_back(NsPerCall(LCalls, [] { GSinkDouble = BeforeReading(); }));
        LCoarse.push_back(NsPerCall(LCalls, [] {
            FILETIME LTime;
            GetSystemTimeAsFileTime(&LTime);
            GSinkTicks = LTime.dwLowDateTime;
        }));
        if (LPrecise != nullptr) {
            LFine.push_back(NsPerCall(LCalls, [&] {
                FILETIME LTime;
                LPrecise(&LTime);
                GSinkTicks = LTime.dwLowDateTime;
            }));
        }
        LCounter.push_back(NsPerCall(LCalls, [] {
            LARGE_INTEGER LValue;
            QueryPerformanceCounter(&LValue);
            GSinkTicks = static_cast<unsigned long long>(LValue.QuadPart);
        }));
    }
    std::printf("ns per reading, median of %d rounds of %ld\n", LRounds, LCalls);
    std::printf("  SiLocalNow (cached second)          %8.1f\n", Median(LNew));
    std::printf("  GetLocalTime + SiEncodeDateTime     %8.1f\n", Median(LOld));
    std::printf("  GetSystemTimeAsFileTime             %8.1f\n", Median(LCoarse));
    if (!LFine.empty()) std::printf("  GetSystemTimePreciseAsFileTime      %8.1f\n", Median(LFine));
    std::printf("  QueryPerformanceCounter             %8.1f\n", Median(LCounter));
    std::printf("  ratio SiLocalNow / before           %8.2f\n", Median(LNew) / Median(LOld));
    return 0;
}
