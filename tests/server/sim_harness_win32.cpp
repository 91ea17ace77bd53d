#include "tests/server/sim_harness_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "logging/base/strings.h"
#include "systools/wide_text.h"
#include "tools/imaging-sim/error_info_hook_win32.h"

namespace deruz::testing {

namespace {

// The proxy and the tests live in a single-threaded apartment on the main thread.
class TComEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(imagingsim::RegisterErrorInfoHook(), S_OK);
    }
    void TearDown() override { CoUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const gComEnvironment =
    ::testing::AddGlobalTestEnvironment(new TComEnvironment);

std::atomic<int> gLogNumber{0};

BOOL CALLBACK FindProcessWindow(HWND AWindow, LPARAM AParam) {
    auto* LFound = reinterpret_cast<std::pair<DWORD, HWND>*>(AParam);
    DWORD LPid = 0;
    GetWindowThreadProcessId(AWindow, &LPid);
    if (LPid != LFound->first) return TRUE;
    LFound->second = AWindow;
    return FALSE;
}

}  // namespace

std::wstring BesideTestProgram(const std::wstring& AName) {
    wchar_t LPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, LPath, MAX_PATH);
    std::wstring LDir(LPath);
    LDir.resize(LDir.find_last_of(L"\\/") + 1);
    return LDir + AName;
}

std::string Utf8(const std::wstring& AText) {
    return systools::Utf8FromWide(AText);
}

bool PumpUntil(const std::function<bool()>& ADone, DWORD ATimeoutMs) {
    const ULONGLONG LDeadline = GetTickCount64() + ATimeoutMs;
    while (!ADone()) {
        const ULONGLONG LNow = GetTickCount64();
        if (LNow >= LDeadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<ULONGLONG>(LDeadline - LNow, 10)),
                                  QS_ALLINPUT);
        MSG LMessage;
        while (PeekMessageW(&LMessage, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&LMessage);
            DispatchMessageW(&LMessage);
        }
    }
    return true;
}

// --- TSimLog --------------------------------------------------------------------------------

TSimLog::TSimLog() {
    wchar_t LTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, LTemp);
    FPath = std::wstring(LTemp) + L"imaging-sim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++gLogNumber) + L".log";
    DeleteFileW(FPath.c_str());
}

TSimLog::~TSimLog() {
    DeleteFileW(FPath.c_str());
}

std::string TSimLog::Text() const {
    std::ifstream LFile(FPath.c_str(), std::ios::binary);
    std::ostringstream LText;
    LText << LFile.rdbuf();
    return LText.str();
}

std::vector<std::string> TSimLog::Lines() const {
    std::vector<std::string> LLines;
    std::istringstream LText(Text());
    for (std::string LLine; std::getline(LText, LLine);) LLines.push_back(LLine);
    return LLines;
}

int TSimLog::Find(const std::string& APrefix, int AFrom) const {
    const std::vector<std::string> LLines = Lines();
    for (int LI = std::max(AFrom, 0); LI < static_cast<int>(LLines.size()); ++LI) {
        if (LLines[static_cast<std::size_t>(LI)].rfind(APrefix, 0) == 0) return LI;
    }
    return -1;
}

int TSimLog::Count(const std::string& APrefix) const {
    int LCount = 0;
    for (const std::string& LLine : Lines()) LCount += LLine.rfind(APrefix, 0) == 0 ? 1 : 0;
    return LCount;
}

bool TSimLog::WaitFor(const std::string& APrefix, DWORD ATimeoutMs) const {
    return PumpUntil([&] { return Has(APrefix); }, ATimeoutMs);
}

std::vector<DWORD> TSimLog::Pids() const {
    std::vector<DWORD> LPids;
    for (const std::string& LLine : Lines()) {
        if (LLine.rfind("start pid=", 0) == 0) LPids.push_back(std::stoul(LLine.substr(10)));
    }
    return LPids;
}

// --- TSim -----------------------------------------------------------------------------------

TSim::TSim() = default;

TSim::TSim(const TStart& AStart) {
    const TSimEnvironment LEnvironment(FLog.Path(), AStart.Options);
    std::wstring LCommandLine = BesideTestProgram(AStart.Exe) + L" " + AStart.Arguments;
    STARTUPINFOW LStartup = {};
    LStartup.cb = sizeof LStartup;
    LStartup.dwFlags = AStart.Flags;
    LStartup.dwX = AStart.X;
    LStartup.dwY = AStart.Y;
    PROCESS_INFORMATION LInfo = {};
    if (!CreateProcessW(nullptr, LCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &LStartup, &LInfo)) {
        ADD_FAILURE() << "imaging-sim did not start, error " << GetLastError();
        return;
    }
    CloseHandle(LInfo.hThread);
    FProcess = LInfo.hProcess;
    FPid = LInfo.dwProcessId;
    if (AStart.WaitRunning) {
        EXPECT_TRUE(FLog.WaitFor("running")) << "imaging-sim did not get ready:\n" << FLog.Text();
    }
}

TSim::~TSim() {
    Stop();
}

void TSim::Adopt(DWORD APid) {
    Stop();
    FPid = APid;
    FProcess =
        OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, APid);
}

HWND TSim::Window() const {
    std::pair<DWORD, HWND> LFound{FPid, nullptr};
    EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&LFound));
    return LFound.second;
}

bool TSim::WaitExit(DWORD ATimeoutMs) const {
    if (FProcess == nullptr) return true;
    return PumpUntil([&] { return WaitForSingleObject(FProcess, 0) == WAIT_OBJECT_0; }, ATimeoutMs);
}

void TSim::Stop() {
    if (FProcess == nullptr) return;
    if (WaitForSingleObject(FProcess, 0) != WAIT_OBJECT_0) {
        if (const HWND LWindow = Window()) PostMessageW(LWindow, WM_CLOSE, 0, 0);
        if (!WaitExit(8000)) {
            TerminateProcess(FProcess, 9);
            WaitForSingleObject(FProcess, 5000);
        }
    }
    CloseHandle(FProcess);
    FProcess = nullptr;
}

// --- TSimEnvironment ------------------------------------------------------------------------

TSimEnvironment::TSimEnvironment(const std::wstring& ALogPath, const std::wstring& AOptions) {
    SetEnvironmentVariableW(L"IMAGING_SIM_LOG", ALogPath.c_str());
    SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", AOptions.c_str());
}

TSimEnvironment::~TSimEnvironment() {
    SetEnvironmentVariableW(L"IMAGING_SIM_LOG", nullptr);
    SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", nullptr);
}

// --- Hand-over ------------------------------------------------------------------------------

std::string SystemText(HRESULT ACode) {
    return logging::SiSystemMessage(static_cast<std::uint32_t>(ACode));
}

THandover RequestHandover(HWND AWindow) {
    constexpr DWORD LSize = 5000;
    THandover LResult;
    const std::wstring LName = L"Ox3Server" + std::to_wstring(GetCurrentProcessId());
    const HANDLE LBlock =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, LSize, LName.c_str());
    if (LBlock == nullptr) {
        ADD_FAILURE() << "no shared memory, error " << GetLastError();
        return LResult;
    }
    auto* LView = static_cast<BYTE*>(MapViewOfFile(LBlock, FILE_MAP_WRITE, 0, 0, LSize));
    if (LView != nullptr) {
        LView[0] = LView[1] = 0xFF;
        LResult.Result = SendMessageW(AWindow, 0x8007, GetCurrentProcessId(), 0);
        LResult.Count = LView[0] | (LView[1] << 8);
        const unsigned LCopy = std::min(LResult.Count, static_cast<unsigned>(LSize - 2));
        LResult.Data.assign(LView + 2, LView + 2 + LCopy);
        UnmapViewOfFile(LView);
    } else {
        ADD_FAILURE() << "no view, error " << GetLastError();
    }
    CloseHandle(LBlock);
    return LResult;
}

HRESULT UnmarshalServer(const std::vector<BYTE>& AData, server::ComPtr<Iox3server>& AServer) {
    AServer.Reset();
    const HGLOBAL LMemory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, AData.size());
    if (LMemory == nullptr) return E_OUTOFMEMORY;
    std::copy(AData.begin(), AData.end(), static_cast<BYTE*>(GlobalLock(LMemory)));
    GlobalUnlock(LMemory);
    server::ComPtr<IStream> LStream;
    HRESULT LResult = CreateStreamOnHGlobal(LMemory, FALSE, &LStream);
    if (SUCCEEDED(LResult)) {
        LResult = CoUnmarshalInterface(LStream.Get(), IID_Iox3server,
                                       reinterpret_cast<void**>(AServer.GetAddressOf()));
    }
    LStream.Reset();
    GlobalFree(LMemory);
    return LResult;
}

}  // namespace deruz::testing
