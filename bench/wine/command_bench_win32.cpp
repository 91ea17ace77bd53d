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

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

// Starts imaging-sim as the practice would have it running, and waits until it is ready.
HANDLE StartSim(const std::wstring& folder) {
    std::wstring cmd = Beside(L"imaging-sim.exe") + L" -dde";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &si, &pi)) {
        return nullptr;
    }
    WaitForInputIdle(pi.hProcess, 10000);
    for (int i = 0; i < 200 && GlobalFindAtomW(L"OXReadyForLink") == 0; ++i) Sleep(25);
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

void StopSim(HANDLE process) {
    if (process == nullptr) return;
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
    CloseHandle(process);
}

// An event sink that accepts everything, for the direct advise.
class TNullSink final : public IDispatch {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_Iox3serverEvents) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
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
TConnectParts TimeConnectParts(const std::wstring& app, const std::wstring& dllPath) {
    TConnectParts parts;
    auto start = TClock::now();
    std::uint32_t pid = 0;
    const HWND wnd = reinterpret_cast<HWND>(
        deruz::systools::GetWindowByClassNameAndPath(L"TOxWindow", app, pid));
    parts.FindWindow = MsSince(start);

    start = TClock::now();
    ComPtr<Iox3server> server;
    const std::wstring name = L"Ox3Server" + std::to_wstring(GetCurrentProcessId());
    const HANDLE block =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 5000, name.c_str());
    SendMessageW(wnd, 0x8007, GetCurrentProcessId(), 0);
    const auto* view = static_cast<const BYTE*>(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0));
    const std::size_t size = view[0] | (view[1] << 8);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    std::copy(view + 2, view + 2 + size, static_cast<BYTE*>(GlobalLock(memory)));
    GlobalUnlock(memory);
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(memory, FALSE, &stream);
    CoUnmarshalInterface(stream.Get(), IID_Iox3server,
                         reinterpret_cast<void**>(server.GetAddressOf()));
    stream.Reset();
    GlobalFree(memory);
    UnmapViewOfFile(view);
    CloseHandle(block);
    parts.HandOver = MsSince(start);

    start = TClock::now();
    TNullSink sink;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (server && SUCCEEDED(server.As(&container)) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_Iox3serverEvents, &point))) {
        point->Advise(&sink, &cookie);
    }
    if (server) {
        server->put_AppReturnWnd(0);
        const BSTR path = SysAllocString(dllPath.c_str());
        server->put_LastAdminLinkDLLPath(path);
        SysFreeString(path);
    }
    parts.AdviseAndProperties = MsSince(start);
    if (point) point->Unadvise(cookie);
    if (server) server->Terminate();
    return parts;
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

    // 1. ONDA_INITI against a running imaging-sim: the whole call, and its parts done directly.
    std::vector<double> initTimes;
    std::vector<TConnectParts> partTimes;
    const std::string dirName = Narrow(folder);
    for (int r = 0; r < rounds; ++r) {
        HANDLE sim = StartSim(folder);
        const HMODULE link = LoadLibraryW(Beside(L"DeRuz64.dll").c_str());
        auto init =
            reinterpret_cast<TInitI>(reinterpret_cast<void*>(GetProcAddress(link, "ONDA_INITI")));
        auto getver =
            reinterpret_cast<TNoArgs>(reinterpret_cast<void*>(GetProcAddress(link, "ONDA_GETVER")));
        getver();  // the library's load steps (logging, COM) are not part of the figure
        const auto start = TClock::now();
        const std::int32_t result = init(dirName.c_str(), nullptr, nullptr);
        initTimes.push_back(MsSince(start));
        FreeLibrary(link);  // ends the link: the application terminates
        StopSim(sim);
        if (result != 0) {
            std::fprintf(stderr, "command_bench: ONDA_INITI gave %d\n", result);
            return 1;
        }
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        sim = StartSim(folder);
        partTimes.push_back(TimeConnectParts(Beside(L"imaging-sim.exe"), Beside(L"DeRuz64.dll")));
        StopSim(sim);
        CoUninitialize();
    }
    auto medianOf = [&](double TConnectParts::*field) {
        std::vector<double> v;
        for (const auto& p : partTimes) v.push_back(p.*field);
        return Median(v);
    };
    std::printf("%-44s %10s\n", "ONDA_INITI, imaging-sim already running", "ms");
    std::printf("%-44s %10.2f\n", "whole call (median of rounds)", Median(initTimes));
    std::printf("%-44s %10.2f\n", "  find the window (class prefix, exe path)",
                medianOf(&TConnectParts::FindWindow));
    std::printf("%-44s %10.2f\n", "  hand-over: message, block, unmarshal",
                medianOf(&TConnectParts::HandOver));
    std::printf("%-44s %10.2f\n", "  advise, AppReturnWnd, LastAdminLinkDLLPath",
                medianOf(&TConnectParts::AdviseAndProperties));
    std::printf("\n");

    // 2. ONDA_COMMAND against the plain client.
    const HMODULE dll = LoadLibraryW(Beside(L"DeRuz64.dll").c_str());
    if (dll == nullptr) {
        std::fprintf(stderr, "command_bench: DeRuz64.dll did not load\n");
        return 1;
    }
    auto initI =
        reinterpret_cast<TInitI>(reinterpret_cast<void*>(GetProcAddress(dll, "ONDA_INITI")));
    auto command =
        reinterpret_cast<TCommand>(reinterpret_cast<void*>(GetProcAddress(dll, "ONDA_COMMAND")));
    auto exitLink =
        reinterpret_cast<TNoArgs>(reinterpret_cast<void*>(GetProcAddress(dll, "ONDA_EXIT")));
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

    std::vector<double> linkTimes;
    std::vector<double> plainTimes;
    for (int r = 0; r < rounds; ++r) {
        auto start = TClock::now();
        for (int i = 0; i < calls; ++i) command("result|0|bench");
        linkTimes.push_back(
            std::chrono::duration<double, std::micro>(TClock::now() - start).count() / calls);
        start = TClock::now();
        for (int i = 0; i < calls; ++i) {
            long version = 0;
            server->get_Version(&version);
            BSTR text = nullptr;
            long result = 0;
            server->AdminCommand(cmd, &text, &result);
            SysFreeString(text);
        }
        plainTimes.push_back(
            std::chrono::duration<double, std::micro>(TClock::now() - start).count() / calls);
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
