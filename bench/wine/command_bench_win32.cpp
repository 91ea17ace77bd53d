// One ONDA_COMMAND round trip against the same two server calls (Version, then
// AdminCommand) made by a plain COM client, measured side by side in one run under Wine.
//
//   command_bench [ROUNDS] [CALLS]   (defaults 7 rounds of 200 calls each)
//
// The link is configured from a temporary folder to start imaging-sim (beside this program)
// and connect to it; the plain client then takes the running server from the running-object
// table. Rounds alternate between the two so that drift of the machine hits both alike; the
// medians of the rounds and their ratio are printed.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "server/ox3server.h"

namespace {

using Microsoft::WRL::ComPtr;
using TInitI = std::int32_t(WINAPI*)(const char*, void*, HWND);
using TCommand = std::int32_t(WINAPI*)(const char*);
using TNoArgs = std::int32_t(WINAPI*)();

std::wstring Beside(const std::wstring& name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c);
    return s;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? _wtoi(argv[1]) : 7;
    const int calls = argc > 2 ? _wtoi(argv[2]) : 200;

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"deruz-command-bench\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    {
        std::ofstream ini((folder + L"deruz64.ini").c_str(), std::ios::binary | std::ios::trunc);
        ini << "[OndarixDDE]\r\noxprogram=" << Narrow(Beside(L"imaging-sim.exe"))
            << "\r\noxworkingdir=" << Narrow(folder) << "\r\n";
    }

    const HMODULE dll = LoadLibraryW(Beside(L"DeRuz64.dll").c_str());
    if (dll == nullptr) {
        std::fprintf(stderr, "command_bench: DeRuz64.dll did not load\n");
        return 1;
    }
    auto initI = reinterpret_cast<TInitI>(GetProcAddress(dll, "ONDA_INITI"));
    auto command = reinterpret_cast<TCommand>(GetProcAddress(dll, "ONDA_COMMAND"));
    auto exitLink = reinterpret_cast<TNoArgs>(GetProcAddress(dll, "ONDA_EXIT"));
    const std::string dir = Narrow(folder);
    if (initI(dir.c_str(), nullptr, nullptr) != 0) {
        std::fprintf(stderr, "command_bench: the link did not connect to imaging-sim\n");
        return 1;
    }

    // The plain client on the same thread (COM was initialised there by the link's load).
    ComPtr<IUnknown> unknown;
    ComPtr<Iox3server> server;
    if (FAILED(GetActiveObject(CLSID_ox3server, nullptr, &unknown)) ||
        FAILED(unknown.As(&server))) {
        std::fprintf(stderr, "command_bench: imaging-sim is not in the running-object table\n");
        return 1;
    }
    const BSTR cmd = SysAllocString(L"result|0|bench");

    using TClock = std::chrono::steady_clock;
    std::vector<double> linkTimes;
    std::vector<double> plainTimes;
    for (int r = 0; r < rounds; ++r) {
        auto start = TClock::now();
        for (int i = 0; i < calls; ++i) command("result|0|bench");
        linkTimes.push_back(std::chrono::duration<double, std::micro>(TClock::now() - start).count() /
                            calls);
        start = TClock::now();
        for (int i = 0; i < calls; ++i) {
            long version = 0;
            server->get_Version(&version);
            BSTR text = nullptr;
            long result = 0;
            server->AdminCommand(cmd, &text, &result);
            SysFreeString(text);
        }
        plainTimes.push_back(std::chrono::duration<double, std::micro>(TClock::now() - start).count() /
                             calls);
    }
    SysFreeString(cmd);
    server.Reset();
    unknown.Reset();
    exitLink();
    FreeLibrary(dll);
    DeleteFileW((folder + L"deruz64.ini").c_str());
    RemoveDirectoryW(folder.c_str());

    const double link = Median(linkTimes);
    const double plain = Median(plainTimes);
    std::printf("%-44s %10s\n", "round trip (median of rounds)", "us/call");
    std::printf("%-44s %10.1f\n", "ONDA_COMMAND (probe + AdminCommand)", link);
    std::printf("%-44s %10.1f\n", "plain COM client: Version + AdminCommand", plain);
    std::printf("%-44s %10.3f   (goal <= 1.05)\n", "ratio", link / plain);
    return 0;
}
