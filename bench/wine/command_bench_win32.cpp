// Two figures of the link under Wine:
// 1. ONDA_INITI against an imaging-sim that is already running, with the time of its parts
//    (finding the window, the shared-memory hand-over, advising and the two property calls)
//    measured by doing the same work directly.
// 2. One ONDA_COMMAND round trip against the same two server calls (Version, then
//    AdminCommand) made by a plain COM client, side by side in one run.
//
//   command_bench [ROUNDS] [CALLS]   (defaults 7 rounds of 200 calls each)
//
// The link is configured from a temporary folder to start imaging-sim (beside this program)
// and connect to it; the plain client then takes the running server from the running-object
// table. Rounds alternate between the two so that drift of the machine hits both alike; the
// medians of the rounds and their ratio are printed.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "server/ox3server.h"
#include "systools/lookup.h"

namespace {

using Microsoft::WRL::ComPtr;
using TInitI = std::int32_t(WINAPI*)(const char*, void*, HWND);
using TCommand = std::int32_t(WINAPI*)(const char*);
using TNoArgs = std::int32_t(WINAPI*)();

std::wstring Beside(const std::wstring& AName) {
    wchar_t LPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, LPath, MAX_PATH);
    std::wstring LDir(LPath);
    return LDir.substr(0, LDir.find_last_of(L"\\/") + 1) + AName;
}

std::string Narrow(const std::wstring& AW) {
    std::string LS;
    for (wchar_t LC : AW) LS += static_cast<char>(LC);
    return LS;
}

double Median(std::vector<double> AV) {
    std::sort(AV.begin(), AV.end());
    return AV[AV.size() / 2];
}

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point AStart) {
    return std::chrono::duration<double, std::milli>(TClock::now() - AStart).count();
}

// Starts imaging-sim as the practice would have it running, and waits until it is ready.
HANDLE StartSim(const std::wstring& AFolder) {
    std::wstring LCmd = Beside(L"imaging-sim.exe") + L" -dde";
    STARTUPINFOW LSi{};
    LSi.cb = sizeof LSi;
    PROCESS_INFORMATION LPi{};
    if (!CreateProcessW(nullptr, LCmd.data(), nullptr, nullptr, FALSE, 0, nullptr, AFolder.c_str(),
                        &LSi, &LPi)) {
        return nullptr;
    }
    WaitForInputIdle(LPi.hProcess, 10000);
    for (int LI = 0; LI < 200 && GlobalFindAtomW(L"OXReadyForLink") == 0; ++LI) Sleep(25);
    CloseHandle(LPi.hThread);
    return LPi.hProcess;
}

void StopSim(HANDLE AProcess) {
    if (AProcess == nullptr) return;
    if (WaitForSingleObject(AProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(AProcess, 1);
    CloseHandle(AProcess);
}

// An event sink that accepts everything, for the direct advise.
class TNullSink final : public IDispatch {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID ARiid, void** APpv) override {
        if (ARiid == IID_IUnknown || ARiid == IID_IDispatch || ARiid == DIID_Iox3serverEvents) {
            *APpv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *APpv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* AN) override {
        *AN = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return S_OK;
    }
};

struct TConnectParts {
    double FindWindow = 0;
    double HandOver = 0;
    double AdviseAndProperties = 0;
};

// The work ONDA_INITI does against a running instance, done directly and timed per part.
TConnectParts TimeConnectParts(const std::wstring& AApp, const std::wstring& ADllPath) {
    TConnectParts LParts;
    auto LStart = TClock::now();
    std::uint32_t LPid = 0;
    const HWND LWnd = reinterpret_cast<HWND>(
        deruz::systools::GetWindowByClassNameAndPath(L"TOxWindow", AApp, LPid));
    LParts.FindWindow = MsSince(LStart);

    LStart = TClock::now();
    ComPtr<Iox3server> LServer;
    const std::wstring LName = L"Ox3Server" + std::to_wstring(GetCurrentProcessId());
    const HANDLE LBlock =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 5000, LName.c_str());
    SendMessageW(LWnd, 0x8007, GetCurrentProcessId(), 0);
    const auto* LView = static_cast<const BYTE*>(MapViewOfFile(LBlock, FILE_MAP_READ, 0, 0, 0));
    const std::size_t LSize = LView[0] | (LView[1] << 8);
    const HGLOBAL LMemory = GlobalAlloc(GMEM_MOVEABLE, LSize);
    std::copy(LView + 2, LView + 2 + LSize, static_cast<BYTE*>(GlobalLock(LMemory)));
    GlobalUnlock(LMemory);
    ComPtr<IStream> LStream;
    CreateStreamOnHGlobal(LMemory, FALSE, &LStream);
    CoUnmarshalInterface(LStream.Get(), IID_Iox3server,
                         reinterpret_cast<void**>(LServer.GetAddressOf()));
    LStream.Reset();
    GlobalFree(LMemory);
    UnmapViewOfFile(LView);
    CloseHandle(LBlock);
    LParts.HandOver = MsSince(LStart);

    LStart = TClock::now();
    TNullSink LSink;
    ComPtr<IConnectionPointContainer> LContainer;
    ComPtr<IConnectionPoint> LPoint;
    DWORD LCookie = 0;
    if (LServer && SUCCEEDED(LServer.As(&LContainer)) &&
        SUCCEEDED(LContainer->FindConnectionPoint(DIID_Iox3serverEvents, &LPoint))) {
        LPoint->Advise(&LSink, &LCookie);
    }
    if (LServer) {
        LServer->put_AppReturnWnd(0);
        const BSTR LPath = SysAllocString(ADllPath.c_str());
        LServer->put_LastAdminLinkDLLPath(LPath);
        SysFreeString(LPath);
    }
    LParts.AdviseAndProperties = MsSince(LStart);
    if (LPoint) LPoint->Unadvise(LCookie);
    if (LServer) LServer->Terminate();
    return LParts;
}

}  // namespace

int wmain(int AArgc, wchar_t** AArgv) {
    const int LRounds = AArgc > 1 ? _wtoi(AArgv[1]) : 7;
    const int LCalls = AArgc > 2 ? _wtoi(AArgv[2]) : 200;

    wchar_t LTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, LTemp);
    const std::wstring LFolder = std::wstring(LTemp) + L"deruz-command-bench\\";
    CreateDirectoryW(LFolder.c_str(), nullptr);
    {
        std::ofstream LIni((LFolder + L"deruz64.ini").c_str(), std::ios::binary | std::ios::trunc);
        LIni << "[OndarixDDE]\r\noxprogram=" << Narrow(Beside(L"imaging-sim.exe"))
             << "\r\noxworkingdir=" << Narrow(LFolder) << "\r\n";
    }

    // 1. ONDA_INITI against a running imaging-sim: the whole call, and its parts done directly.
    std::vector<double> LInitTimes;
    std::vector<TConnectParts> LPartTimes;
    const std::string LDirName = Narrow(LFolder);
    for (int LR = 0; LR < LRounds; ++LR) {
        HANDLE LSim = StartSim(LFolder);
        const HMODULE LLink = LoadLibraryW(Beside(L"DeRuz64.dll").c_str());
        auto LInit =
            reinterpret_cast<TInitI>(reinterpret_cast<void*>(GetProcAddress(LLink, "ONDA_INITI")));
        auto LGetver = reinterpret_cast<TNoArgs>(
            reinterpret_cast<void*>(GetProcAddress(LLink, "ONDA_GETVER")));
        LGetver();  // the library's load steps (logging, COM) are not part of the figure
        const auto LStart = TClock::now();
        const std::int32_t LResult = LInit(LDirName.c_str(), nullptr, nullptr);
        LInitTimes.push_back(MsSince(LStart));
        FreeLibrary(LLink);  // ends the link: the application terminates
        StopSim(LSim);
        if (LResult != 0) {
            std::fprintf(stderr, "command_bench: ONDA_INITI gave %d\n", LResult);
            return 1;
        }
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        LSim = StartSim(LFolder);
        LPartTimes.push_back(TimeConnectParts(Beside(L"imaging-sim.exe"), Beside(L"DeRuz64.dll")));
        StopSim(LSim);
        CoUninitialize();
    }
    auto LMedianOf = [&](double TConnectParts::*AField) {
        std::vector<double> LV;
        for (const auto& LP : LPartTimes) LV.push_back(LP.*AField);
        return Median(LV);
    };
    std::printf("%-44s %10s\n", "ONDA_INITI, imaging-sim already running", "ms");
    std::printf("%-44s %10.2f\n", "whole call (median of rounds)", Median(LInitTimes));
    std::printf("%-44s %10.2f\n", "  find the window (class prefix, exe path)",
                LMedianOf(&TConnectParts::FindWindow));
    std::printf("%-44s %10.2f\n", "  hand-over: message, block, unmarshal",
                LMedianOf(&TConnectParts::HandOver));
    std::printf("%-44s %10.2f\n", "  advise, AppReturnWnd, LastAdminLinkDLLPath",
                LMedianOf(&TConnectParts::AdviseAndProperties));
    std::printf("\n");

    // 2. ONDA_COMMAND against the plain client.
    const HMODULE LDll = LoadLibraryW(Beside(L"DeRuz64.dll").c_str());
    if (LDll == nullptr) {
        std::fprintf(stderr, "command_bench: DeRuz64.dll did not load\n");
        return 1;
    }
    auto LInitI =
        reinterpret_cast<TInitI>(reinterpret_cast<void*>(GetProcAddress(LDll, "ONDA_INITI")));
    auto LCommand =
        reinterpret_cast<TCommand>(reinterpret_cast<void*>(GetProcAddress(LDll, "ONDA_COMMAND")));
    auto LExitLink =
        reinterpret_cast<TNoArgs>(reinterpret_cast<void*>(GetProcAddress(LDll, "ONDA_EXIT")));
    const std::string LDir = Narrow(LFolder);
    if (LInitI(LDir.c_str(), nullptr, nullptr) != 0) {
        std::fprintf(stderr, "command_bench: the link did not connect to imaging-sim\n");
        return 1;
    }

    // The plain client on the same thread (COM was initialised there by the link's load).
    ComPtr<IUnknown> LUnknown;
    ComPtr<Iox3server> LServer;
    if (FAILED(GetActiveObject(CLSID_ox3server, nullptr, &LUnknown)) ||
        FAILED(LUnknown.As(&LServer))) {
        std::fprintf(stderr, "command_bench: imaging-sim is not in the running-object table\n");
        return 1;
    }
    const BSTR LCmd = SysAllocString(L"result|0|bench");

    std::vector<double> LLinkTimes;
    std::vector<double> LPlainTimes;
    for (int LR = 0; LR < LRounds; ++LR) {
        auto LStart = TClock::now();
        for (int LI = 0; LI < LCalls; ++LI) LCommand("result|0|bench");
        LLinkTimes.push_back(
            std::chrono::duration<double, std::micro>(TClock::now() - LStart).count() / LCalls);
        LStart = TClock::now();
        for (int LI = 0; LI < LCalls; ++LI) {
            long LVersion = 0;
            LServer->get_Version(&LVersion);
            BSTR LText = nullptr;
            long LResult = 0;
            LServer->AdminCommand(LCmd, &LText, &LResult);
            SysFreeString(LText);
        }
        LPlainTimes.push_back(
            std::chrono::duration<double, std::micro>(TClock::now() - LStart).count() / LCalls);
    }
    SysFreeString(LCmd);
    LServer.Reset();
    LUnknown.Reset();
    LExitLink();
    FreeLibrary(LDll);
    DeleteFileW((LFolder + L"deruz64.ini").c_str());
    RemoveDirectoryW(LFolder.c_str());

    const double LLink = Median(LLinkTimes);
    const double LPlain = Median(LPlainTimes);
    std::printf("%-44s %10s\n", "round trip (median of rounds)", "us/call");
    std::printf("%-44s %10.1f\n", "ONDA_COMMAND (probe + AdminCommand)", LLink);
    std::printf("%-44s %10.1f\n", "plain COM client: Version + AdminCommand", LPlain);
    std::printf("%-44s %10.3f   (goal <= 1.05)\n", "ratio", LLink / LPlain);
    return 0;
}
