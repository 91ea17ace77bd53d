// imaging-sim: a stand-in imaging application for testing the link. It shows the main window
// the link looks for, adds the readiness atom, registers and serves the automation server,
// answers the shared-memory hand-over and records every call in a log file. Environment
// switches make it misbehave on purpose. See README.md.

#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "systools/wide_text.h"
#include "tools/imaging-sim/error_info_hook_win32.h"
#include "tools/imaging-sim/sim_win32.h"

namespace deruz::imagingsim {

namespace {

constexpr UINT WM_GETOX3SERVER = 0x8007;
constexpr DWORD kBlockSize = 5000;
constexpr DWORD kMaxData = kBlockSize - 2;
constexpr UINT_PTR kReadyTimer = 1;
// After Terminate: the longest the program waits for its clients to unadvise.
constexpr UINT_PTR kTerminateTimer = 2;
bool gTerminating = false;
// Events posted by a call wait this long, each on a timer of its own.
constexpr UINT kPostDelayMs = 50;
constexpr UINT_PTR kFirstPostTimer = 100;
std::map<UINT_PTR, std::wstring*> gPosted;
constexpr UINT kTerminateGraceMs = 2000;
constexpr wchar_t kLibId[] = L"{56D73100-E9A8-108B-A830-CD14D0517F8A}";
constexpr wchar_t kClsId[] = L"{56D7310D-E9A8-108B-A830-CD14D0517F8A}";

TOptions gOptions;
HWND gWindow = nullptr;
TSimServer* gServer = nullptr;
std::wstring gPid;  // the "-pid:" value, empty without one
ATOM gReadyAtom = 0;

std::string Utf8(const std::wstring& AText) {
    return systools::Utf8FromWide(AText);
}

std::wstring Environment(const wchar_t* AName) {
    wchar_t LBuffer[2048];
    const DWORD LLength = GetEnvironmentVariableW(AName, LBuffer, 2048);
    return LLength > 0 && LLength < 2048 ? std::wstring(LBuffer, LLength) : std::wstring();
}

std::wstring OwnPath() {
    wchar_t LPath[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, LPath, MAX_PATH * 2);
    return LPath;
}

void ReadOptions() {
    const std::wstring LText = Environment(L"IMAGING_SIM_OPTIONS");
    std::size_t LStart = 0;
    while (LStart <= LText.size()) {
        std::size_t LEnd = LText.find(L',', LStart);
        if (LEnd == std::wstring::npos) LEnd = LText.size();
        const std::wstring LItem = LText.substr(LStart, LEnd - LStart);
        LStart = LEnd + 1;
        if (LItem == L"ready=none") {
            gOptions.Ready = TOptions::TReady::None;
        } else if (LItem.rfind(L"ready=delay:", 0) == 0) {
            gOptions.Ready = TOptions::TReady::Delay;
            gOptions.ReadyDelayMs = std::wcstoul(LItem.c_str() + 12, nullptr, 10);
        } else if (LItem == L"window=none") {
            gOptions.NoWindow = true;
        } else if (LItem.rfind(L"handover=error:", 0) == 0) {
            gOptions.Handover = TOptions::THandover::Error;
            gOptions.HandoverError = static_cast<HRESULT>(
                static_cast<unsigned long>(std::wcstoll(LItem.c_str() + 15, nullptr, 0)));
        } else if (LItem == L"handover=empty") {
            gOptions.Handover = TOptions::THandover::Empty;
        } else if (LItem == L"handover=garbage") {
            gOptions.Handover = TOptions::THandover::Garbage;
        } else if (LItem == L"handover=oversize") {
            gOptions.Handover = TOptions::THandover::Oversize;
        } else if (LItem == L"handover=ignore") {
            gOptions.Handover = TOptions::THandover::Ignore;
        } else if (LItem == L"version=fail") {
            gOptions.VersionFails = true;
        } else if (LItem.rfind(L"exit-after=", 0) == 0) {
            gOptions.ExitAfter = LItem.substr(11);
        } else if (LItem == L"regclass=none") {
            gOptions.NoRegClass = true;
        }
    }
}

// The value of "-pid:" (or "/pid:") on the command line; other arguments are ignored.
std::wstring PidArgument(const std::wstring& ACommandLine) {
    for (const wchar_t* LSwitch : {L" -pid:", L" /pid:"}) {
        const std::size_t LAt = ACommandLine.find(LSwitch);
        if (LAt == std::wstring::npos) continue;
        std::size_t LEnd = LAt + 6;
        while (LEnd < ACommandLine.size() && iswdigit(ACommandLine[LEnd])) ++LEnd;
        return ACommandLine.substr(LAt + 6, LEnd - LAt - 6);
    }
    return {};
}

bool SetClassesValue(const std::wstring& AKey, const std::wstring& AValue) {
    HKEY LKey = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, AKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &LKey,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG LResult =
        RegSetValueExW(LKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(AValue.c_str()),
                       static_cast<DWORD>((AValue.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(LKey);
    return LResult == ERROR_SUCCESS;
}

// Registers the type library (the marshaller needs it), the "win32" file value the link reads
// to find this program, and the class for activation as a local server.
ITypeInfo* RegisterServer() {
    const std::wstring LPath = OwnPath();
    ITypeLib* LLib = nullptr;
    const HRESULT LResult = LoadTypeLibEx(LPath.c_str(), REGKIND_REGISTER, &LLib);
    if (FAILED(LResult)) LogLine(L"typelib failed=" + Hex(static_cast<unsigned long>(LResult)));
    SetClassesValue(std::wstring(L"TypeLib\\") + kLibId + L"\\1.0\\0\\win32", LPath);
    const std::wstring LClassKey = std::wstring(L"CLSID\\") + kClsId;
    if (gOptions.NoRegClass) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, LClassKey.c_str());
    } else {
        SetClassesValue(LClassKey, L"Ondarix automation server");
        SetClassesValue(LClassKey + L"\\LocalServer32", L"\"" + LPath + L"\"");
    }
    ITypeInfo* LInfo = nullptr;
    if (LLib != nullptr) {
        LLib->GetTypeInfoOfGuid(IID_Iox3server, &LInfo);
        LLib->Release();
    }
    return LInfo;
}

void AddReadyAtom() {
    if (gReadyAtom != 0) return;
    const std::wstring LName = L"OXReadyForLink" + gPid;
    gReadyAtom = GlobalAddAtomW(LName.c_str());
    LogLine(L"ready atom=" + LName);
}

// Writes the marshalled server interface into the caller's block "Ox3Server" + WParam.
LRESULT Handover(WPARAM AWParam, LPARAM ALParam) {
    LogLine(L"handover wparam=" + std::to_wstring(AWParam) + L" lparam=" +
            std::to_wstring(ALParam));
    if (gOptions.Handover == TOptions::THandover::Error) {
        return static_cast<LRESULT>(gOptions.HandoverError);
    }
    if (gOptions.Handover == TOptions::THandover::Ignore) return 0;

    const std::wstring LName = L"Ox3Server" + std::to_wstring(AWParam);
    const HANDLE LMapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, LName.c_str());
    if (LMapping == nullptr) {
        const HRESULT LError = HRESULT_FROM_WIN32(GetLastError());
        LogLine(L"handover no block " + LName);
        return static_cast<LRESULT>(LError);
    }
    auto* LView = static_cast<BYTE*>(MapViewOfFile(LMapping, FILE_MAP_WRITE, 0, 0, 0));
    if (LView == nullptr) {
        const HRESULT LError = HRESULT_FROM_WIN32(GetLastError());
        CloseHandle(LMapping);
        return static_cast<LRESULT>(LError);
    }
    HRESULT LStatus = S_OK;
    DWORD LCount = 0;
    switch (gOptions.Handover) {
        case TOptions::THandover::Empty:
            break;
        case TOptions::THandover::Garbage:
            LCount = 64;
            for (DWORD LI = 0; LI < LCount; ++LI) LView[2 + LI] = static_cast<BYTE>(0xA5 ^ LI);
            break;
        case TOptions::THandover::Oversize:
            // Claims more than the block holds; fills what fits.
            LCount = 6000;
            for (DWORD LI = 0; LI < kMaxData; ++LI) LView[2 + LI] = static_cast<BYTE>(LI);
            break;
        default: {
            IStream* LStream = nullptr;
            LStatus = CreateStreamOnHGlobal(nullptr, TRUE, &LStream);
            if (SUCCEEDED(LStatus)) {
                LStatus = CoMarshalInterface(LStream, IID_Iox3server, ServerInterface(gServer),
                                             MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL);
            }
            HGLOBAL LMemory = nullptr;
            ULARGE_INTEGER LSize = {};
            if (SUCCEEDED(LStatus)) {
                const LARGE_INTEGER LZero = {};
                LStatus = LStream->Seek(LZero, STREAM_SEEK_CUR, &LSize);
            }
            if (SUCCEEDED(LStatus)) LStatus = GetHGlobalFromStream(LStream, &LMemory);
            if (SUCCEEDED(LStatus) && LSize.QuadPart > kMaxData) LStatus = STG_E_MEDIUMFULL;
            if (SUCCEEDED(LStatus)) {
                const void* LData = GlobalLock(LMemory);
                LCount = static_cast<DWORD>(LSize.QuadPart);
                CopyMemory(LView + 2, LData, LCount);
                GlobalUnlock(LMemory);
            }
            if (LStream != nullptr) LStream->Release();
            break;
        }
    }
    if (SUCCEEDED(LStatus)) {
        LView[0] = static_cast<BYTE>(LCount & 0xFF);
        LView[1] = static_cast<BYTE>(LCount >> 8);
    }
    UnmapViewOfFile(LView);
    CloseHandle(LMapping);
    LogLine(L"handover size=" + std::to_wstring(LCount) + L" result=" +
            Hex(static_cast<unsigned long>(LStatus)));
    return SUCCEEDED(LStatus) ? 0 : static_cast<LRESULT>(LStatus);
}

LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    switch (AMessage) {
        case WM_GETOX3SERVER:
            return Handover(AWParam, ALParam);
        case WM_SIM_POSTED_EVENT: {
            // Fired a little later, so that the caller has surely taken the answer of the call
            // that asked for it before the event arrives.
            static UINT_PTR LNextTimer = kFirstPostTimer;
            const UINT_PTR LTimer = LNextTimer++;
            gPosted[LTimer] = reinterpret_cast<std::wstring*>(ALParam);
            SetTimer(AWindow, LTimer, kPostDelayMs, nullptr);
            return 0;
        }
        case WM_TIMER:
            if (AWParam == kReadyTimer) {
                KillTimer(AWindow, kReadyTimer);
                AddReadyAtom();
            } else if (const auto LPosted = gPosted.find(AWParam); LPosted != gPosted.end()) {
                KillTimer(AWindow, AWParam);
                std::unique_ptr<std::wstring> LSpec(LPosted->second);
                gPosted.erase(LPosted);
                if (gServer != nullptr && !FireEventSpec(gServer, *LSpec)) {
                    LogLine(L"post unknown event " + *LSpec);
                }
            } else if (AWParam == kTerminateTimer) {
                KillTimer(AWindow, kTerminateTimer);
                LogLine(L"terminate grace over");
                RequestExit();
            }
            return 0;
        case WM_CLOSE:
            LogLine(L"close");
            DestroyWindow(AWindow);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
    }
}

// Ends the process if the orderly shutdown does not finish: the program must never hang.
DWORD WINAPI ExitWatchdog(void*) {
    Sleep(5000);
    LogLine(L"exit forced");
    ExitProcess(3);
}

}  // namespace

const TOptions& Options() {
    return gOptions;
}

std::wstring Hex(unsigned long AValue) {
    wchar_t LBuffer[16];
    swprintf(LBuffer, 16, L"0x%08lX", AValue);
    return LBuffer;
}

void LogLine(const std::wstring& ALine) {
    static const std::wstring LPath = Environment(L"IMAGING_SIM_LOG");
    if (LPath.empty()) return;
    std::wstring LText;
    for (wchar_t LC : ALine) {
        if (LC == L'\r') {
            LText += L"\\r";
        } else if (LC == L'\n') {
            LText += L"\\n";
        } else {
            LText += LC;
        }
    }
    const std::string LBytes = Utf8(LText) + "\n";
    // Opened for each line, so that several instances can share one file and every line is on
    // disk when the call that wrote it returns.
    const HANDLE LFile = CreateFileW(LPath.c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (LFile == INVALID_HANDLE_VALUE) return;
    DWORD LWritten = 0;
    WriteFile(LFile, LBytes.data(), static_cast<DWORD>(LBytes.size()), &LWritten, nullptr);
    CloseHandle(LFile);
}

void RequestExit() {
    if (gWindow != nullptr) PostMessageW(gWindow, WM_CLOSE, 0, 0);
}

void RequestExitAfterClients(bool ANoClientLeft) {
    if (ANoClientLeft) {
        RequestExit();
    } else if (gWindow != nullptr) {
        gTerminating = true;
        SetTimer(gWindow, kTerminateTimer, kTerminateGraceMs, nullptr);
    }
}

bool Terminating() {
    return gTerminating;
}

HWND MainWindow() {
    return gWindow;
}

int Run() {
    ReadOptions();
    const std::wstring LCommandLine = GetCommandLineW();
    gPid = PidArgument(LCommandLine);
    {
        STARTUPINFOW LStartup = {};
        LStartup.cb = sizeof LStartup;
        GetStartupInfoW(&LStartup);
        wchar_t LFolder[MAX_PATH * 2] = {};
        GetCurrentDirectoryW(MAX_PATH * 2, LFolder);
        LogLine(L"start pid=" + std::to_wstring(GetCurrentProcessId()) + L" cmdline=" +
                LCommandLine + L" cwd=" + LFolder + L" x=" + std::to_wstring(LStartup.dwX) +
                L" y=" + std::to_wstring(LStartup.dwY) + L" flags=" + Hex(LStartup.dwFlags));
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        LogLine(L"exit com failed");
        return 2;
    }
    RegisterErrorInfoHook();
    ITypeInfo* LTypeInfo = RegisterServer();
    gServer = CreateSimServer(LTypeInfo);
    if (LTypeInfo != nullptr) LTypeInfo->Release();

    const HINSTANCE LInstance = GetModuleHandleW(nullptr);
    const std::wstring LClass = (gOptions.NoWindow ? L"ImagingSimWindow" : L"TOxWindow") + gPid;
    WNDCLASSW LWindowClass = {};
    LWindowClass.lpfnWndProc = WindowProc;
    LWindowClass.hInstance = LInstance;
    LWindowClass.lpszClassName = LClass.c_str();
    LWindowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&LWindowClass);
    gWindow = CreateWindowExW(0, LClass.c_str(), L"imaging-sim", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 400, 300, nullptr, nullptr, LInstance, nullptr);
    if (gWindow == nullptr) {
        LogLine(L"exit no window");
        ServerInterface(gServer)->Release();
        CoUninitialize();
        return 2;
    }
    ShowWindow(gWindow, SW_SHOWNOACTIVATE);
    LogLine(L"window class=" + LClass + L" hwnd=" +
            Hex(static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(gWindow))));

    DWORD LClassCookie = 0, LActiveCookie = 0;
    IClassFactory* LFactory = nullptr;
    if (!gOptions.NoRegClass) {
        LFactory = CreateSimClassFactory(gServer);
        HRESULT LResult = CoRegisterClassObject(CLSID_ox3server, LFactory, CLSCTX_LOCAL_SERVER,
                                                REGCLS_MULTIPLEUSE, &LClassCookie);
        if (FAILED(LResult))
            LogLine(L"classobject failed=" + Hex(static_cast<unsigned long>(LResult)));
        LResult = RegisterActiveObject(ServerInterface(gServer), CLSID_ox3server,
                                       ACTIVEOBJECT_STRONG, &LActiveCookie);
        if (FAILED(LResult))
            LogLine(L"activeobject failed=" + Hex(static_cast<unsigned long>(LResult)));
    }

    if (gOptions.Ready == TOptions::TReady::Normal) {
        AddReadyAtom();
    } else if (gOptions.Ready == TOptions::TReady::Delay) {
        SetTimer(gWindow, kReadyTimer, gOptions.ReadyDelayMs, nullptr);
    }

    LogLine(L"running");
    MSG LMessage;
    while (GetMessageW(&LMessage, nullptr, 0, 0) > 0) {
        TranslateMessage(&LMessage);
        DispatchMessageW(&LMessage);
    }

    CloseHandle(CreateThread(nullptr, 0, ExitWatchdog, nullptr, 0, nullptr));
    gWindow = nullptr;
    if (LActiveCookie != 0) RevokeActiveObject(LActiveCookie, nullptr);
    if (LClassCookie != 0) CoRevokeClassObject(LClassCookie);
    if (LFactory != nullptr) LFactory->Release();
    if (gReadyAtom != 0) GlobalDeleteAtom(gReadyAtom);
    // Clients still holding the object see it disconnected rather than hanging.
    CoDisconnectObject(ServerInterface(gServer), 0);
    DropSinks(gServer);
    ServerInterface(gServer)->Release();
    gServer = nullptr;
    LogLine(L"exit");
    CoUninitialize();
    return 0;
}

}  // namespace deruz::imagingsim

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    try {
        return deruz::imagingsim::Run();
    } catch (...) {
        deruz::imagingsim::LogLine(L"exit error");
        return 3;
    }
}
