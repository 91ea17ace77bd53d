// The control's system services on Windows: private-profile INI reading, the registry,
// files, names, the session, windows, processes, atoms, monitors, the tick count and the
// thread's message queue.
#include "control/control_platform_win32.h"

#include <windows.h>

#include <iterator>
#include <vector>

#include "logging/base/strings.h"
#include "systools/cursor.h"
#include "systools/lookup.h"
#include "systools/version.h"
#include "systools/wide_text.h"

namespace deruz::control {

namespace {

class TWinIniReader final : public TIniReader {
  public:
    std::int32_t ReadInteger(const std::wstring& AFile, const std::wstring& ASection,
                             const std::wstring& AKey, std::int32_t ADefault) override {
        // The system reads "-5" as the unsigned value of -5; taken back as signed, a minus
        // sign is honoured.
        return static_cast<std::int32_t>(
            GetPrivateProfileIntW(ASection.c_str(), AKey.c_str(), ADefault, AFile.c_str()));
    }
    std::wstring ReadString(const std::wstring& AFile, const std::wstring& ASection,
                            const std::wstring& AKey, const std::wstring& ADefault,
                            std::size_t AMaxChars) override {
        std::vector<wchar_t> LBuffer(AMaxChars + 1, L'\0');
        const DWORD LN = GetPrivateProfileStringW(
            ASection.c_str(), AKey.c_str(), ADefault.c_str(), LBuffer.data(),
            static_cast<DWORD>(LBuffer.size()), AFile.c_str());
        return std::wstring(LBuffer.data(), LN > AMaxChars ? AMaxChars : LN);
    }
};

class TWinRegistryReader final : public TRegistryReader {
  public:
    std::optional<std::wstring> ReadText(TRegistryRoot ARoot, const std::wstring& AKey,
                                         const std::wstring& AValue) override {
        HKEY LRoot = ARoot == TRegistryRoot::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
        HKEY LKey = nullptr;
        if (RegOpenKeyExW(LRoot, AKey.c_str(), 0, KEY_ALL_ACCESS, &LKey) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        struct TKeyCloser {
            HKEY Key;
            ~TKeyCloser() { RegCloseKey(Key); }
        } LCloser{LKey};
        DWORD LType = 0;
        DWORD LBytes = 0;
        const wchar_t* LName = AValue.empty() ? nullptr : AValue.c_str();
        if (RegQueryValueExW(LKey, LName, nullptr, &LType, nullptr, &LBytes) != ERROR_SUCCESS) {
            return std::wstring();
        }
        if (LType != REG_SZ && LType != REG_EXPAND_SZ) {
            throw EControlError(L"Invalid data type for '" + AValue + L"'");
        }
        std::wstring LText(LBytes / sizeof(wchar_t) + 1, L'\0');
        DWORD LSize = static_cast<DWORD>(LText.size() * sizeof(wchar_t));
        if (RegQueryValueExW(LKey, LName, nullptr, &LType, reinterpret_cast<BYTE*>(LText.data()),
                             &LSize) != ERROR_SUCCESS) {
            return std::wstring();
        }
        LText.resize(LSize / sizeof(wchar_t));
        if (const auto LNul = LText.find(L'\0'); LNul != std::wstring::npos) LText.resize(LNul);
        return LText;
    }
};

class TWinFileSystem final : public TFileSystem {
  public:
    bool FileExists(const std::wstring& APath) override {
        const DWORD LA = GetFileAttributesW(APath.c_str());
        return LA != INVALID_FILE_ATTRIBUTES && !(LA & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool DirectoryExists(const std::wstring& APath) override {
        const DWORD LA = GetFileAttributesW(APath.c_str());
        return LA != INVALID_FILE_ATTRIBUTES && (LA & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool CopyNew(const std::wstring& AFrom, const std::wstring& ATo) override {
        return CopyFileW(AFrom.c_str(), ATo.c_str(), TRUE) != 0;
    }
    std::wstring FileVersion(const std::wstring& APath) override {
        return systools::GetFileVersionFromFile(APath);
    }
};

class TWinSystemInfo final : public TSystemInfo {
  public:
    std::wstring Environment(const std::wstring& AName, std::size_t AMaxChars) override {
        std::vector<wchar_t> LBuffer(AMaxChars + 1, L'\0');
        const DWORD LN = GetEnvironmentVariableW(AName.c_str(), LBuffer.data(),
                                                 static_cast<DWORD>(LBuffer.size()));
        if (LN == 0 || LN >= LBuffer.size()) {
            // Missing, or longer than the buffer: then the value is read whole and cut.
            if (LN == 0) return {};
            std::vector<wchar_t> LWhole(LN + 1, L'\0');
            const DWORD LM = GetEnvironmentVariableW(AName.c_str(), LWhole.data(), LN + 1);
            return std::wstring(LWhole.data(), LM < AMaxChars ? LM : AMaxChars);
        }
        return std::wstring(LBuffer.data(), LN);
    }
    std::wstring ComputerName() override {
        wchar_t LName[16] = {};
        DWORD LSize = static_cast<DWORD>(std::size(LName));
        if (!GetComputerNameW(LName, &LSize)) return {};
        return std::wstring(LName, LSize);
    }
    std::wstring UserName() override {
        wchar_t LName[257] = {};
        DWORD LSize = static_cast<DWORD>(std::size(LName));
        if (!GetUserNameW(LName, &LSize)) return {};
        return std::wstring(LName);
    }
    bool IsRemoteSession() override { return systools::IsRemoteSession(); }
    std::uint32_t CurrentProcessId() override { return GetCurrentProcessId(); }
    std::wstring ErrorText(std::uint32_t ACode) override {
        return systools::WideFromUtf8(logging::SiSystemMessage(ACode));
    }
};

class TWinStartedProcess final : public TStartedProcess {
  public:
    explicit TWinStartedProcess(const PROCESS_INFORMATION& AInfo) : FInfo(AInfo) {}
    ~TWinStartedProcess() override {
        CloseHandle(FInfo.hThread);
        CloseHandle(FInfo.hProcess);
    }
    TWinStartedProcess(const TWinStartedProcess&) = delete;
    TWinStartedProcess& operator=(const TWinStartedProcess&) = delete;
    std::uint32_t ProcessId() override { return FInfo.dwProcessId; }
    void WaitForInputIdle(std::uint32_t AMilliseconds) override {
        ::WaitForInputIdle(FInfo.hProcess, AMilliseconds);
    }

  private:
    PROCESS_INFORMATION FInfo;
};

class TWinDesktop final : public TDesktop {
  public:
    TWindowHandle FindWindowByClassAndPath(const std::wstring& AClassName,
                                           const std::wstring& APath,
                                           std::uint32_t& APid) override {
        return systools::GetWindowByClassNameAndPath(AClassName, APath, APid);
    }
    TWindowHandle FindWindowOfProcess(std::uint32_t APid, const std::wstring& AClassName) override {
        return systools::FindWindowOfProcess(APid, AClassName.c_str(), nullptr);
    }
    std::vector<TMonitorOrigin> Monitors() override {
        std::vector<TMonitorOrigin> LOrigins;
        EnumDisplayMonitors(
            nullptr, nullptr,
            [](HMONITOR AMonitor, HDC, LPRECT, LPARAM AData) -> BOOL {
                MONITORINFO LInfo{};
                LInfo.cbSize = sizeof LInfo;
                if (GetMonitorInfoW(AMonitor, &LInfo)) {
                    reinterpret_cast<std::vector<TMonitorOrigin>*>(AData)->push_back(
                        {LInfo.rcMonitor.left, LInfo.rcMonitor.top});
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&LOrigins));
        return LOrigins;
    }
    std::unique_ptr<TStartedProcess> StartProcess(const std::wstring& ACommandLine,
                                                  const std::wstring& AFolder, std::int32_t AX,
                                                  std::int32_t AY, std::uint32_t& AError) override {
        STARTUPINFOW LStartup{};
        LStartup.cb = sizeof LStartup;
        LStartup.dwFlags = STARTF_USEPOSITION;
        LStartup.dwX = static_cast<DWORD>(AX);
        LStartup.dwY = static_cast<DWORD>(AY);
        PROCESS_INFORMATION LInfo{};
        std::wstring LCommandLine = ACommandLine;  // the call may write into it
        if (!CreateProcessW(nullptr, LCommandLine.data(), nullptr, nullptr, FALSE,
                            CREATE_DEFAULT_ERROR_MODE, nullptr,
                            AFolder.empty() ? nullptr : AFolder.c_str(), &LStartup, &LInfo)) {
            AError = GetLastError();
            return nullptr;
        }
        AError = 0;
        return std::make_unique<TWinStartedProcess>(LInfo);
    }
    bool GlobalAtomExists(const std::wstring& AName) override {
        return GlobalFindAtomW(AName.c_str()) != 0;
    }
    std::uint32_t TickCount() override { return GetTickCount(); }
    void Sleep(std::uint32_t AMilliseconds) override { ::Sleep(AMilliseconds); }
    void ProcessOneMessage() override {
        MSG LMsg;
        if (PeekMessageW(&LMsg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&LMsg);
    }
    void PushWaitCursor() override { systools::PushWaitCursor(); }
    void PopCursor() override { systools::PopCursor(); }
};

}  // namespace

TServerAccess& WindowsServerAccess();

TControlPlatform WindowsControlPlatform() {
    static TWinIniReader LIni;
    static TWinRegistryReader LRegistry;
    static TWinFileSystem LFiles;
    static TWinSystemInfo LSystem;
    static TWinDesktop LDesktop;
    return TControlPlatform{&LIni,    &LRegistry, &LFiles,
                            &LSystem, &LDesktop,  &WindowsServerAccess()};
}

}  // namespace deruz::control
