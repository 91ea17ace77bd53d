// ondahost: loads DeRuz64.dll (or any library with its exports) by path and calls the
// exports from its arguments or a script, printing every result. See README.md.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "logging/system/system_handles_win32.h"
#include "tools/ondahost/box_recorder_win32.h"
#include "tools/ondahost/script.h"

namespace {

using namespace deruz::ondahost;

using TInit = std::int32_t(WINAPI*)(void*);
using TInitI = std::int32_t(WINAPI*)(const char*, void*, HWND);
using TCommand = std::int32_t(WINAPI*)(const char*);
using TNoArgs = std::int32_t(WINAPI*)();
using TGetStr = const char*(WINAPI*)();
using TGetStrBuf = std::int32_t(WINAPI*)(char*, std::int32_t);

std::string Utf8(const std::wstring& AW) {
    if (AW.empty()) return {};
    const int LN = WideCharToMultiByte(CP_UTF8, 0, AW.data(), static_cast<int>(AW.size()), nullptr,
                                       0, nullptr, nullptr);
    std::string LS(static_cast<std::size_t>(LN), '\0');
    WideCharToMultiByte(CP_UTF8, 0, AW.data(), static_cast<int>(AW.size()), LS.data(), LN, nullptr,
                        nullptr);
    return LS;
}

std::string Ansi(const std::wstring& AW) {
    if (AW.empty()) return {};
    const int LN = WideCharToMultiByte(CP_ACP, 0, AW.data(), static_cast<int>(AW.size()), nullptr,
                                       0, nullptr, nullptr);
    std::string LS(static_cast<std::size_t>(LN), '\0');
    WideCharToMultiByte(CP_ACP, 0, AW.data(), static_cast<int>(AW.size()), LS.data(), LN, nullptr,
                        nullptr);
    return LS;
}

// The host's message procedure handed to ONDA_INIT2W.
void WINAPI HostProcMsgs() {}

// --- Calls ------------------------------------------------------------------------------

class THost {
  public:
    explicit THost(std::wstring APath) : FPath(std::move(APath)) {}

    // Runs one call; returns false when the library or the export could not be loaded.
    bool Run(const TCall& ACall) {
        const std::string LVerb = Utf8(ACall.Verb);
        if (ACall.Verb == L"unload") {
            FLib.Reset();
            std::printf("unload\n");
            return true;
        }
        if (ACall.Verb == L"window") {
            // The host's own main window, passed as "window" to initi/init2w and brought to
            // the front by the link on the imaging application's wake-up event.
            if (FWindow == nullptr) FWindow = CreateHostWindow();
            std::printf("window -> 0x%llX\n",
                        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(FWindow)));
            return FWindow != nullptr;
        }
        if (ACall.Verb == L"pump") {
            // Dispatches this thread's messages (the imaging application's posted events
            // arrive here) for the given number of milliseconds.
            const DWORD LUntil = GetTickCount() + std::wcstoul(ACall.Args[0].c_str(), nullptr, 0);
            while (static_cast<std::int32_t>(LUntil - GetTickCount()) > 0) {
                MSG LMsg;
                while (PeekMessageW(&LMsg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&LMsg);
                Sleep(10);
            }
            std::printf("pump\n");
            return true;
        }
        if (ACall.Verb == L"box") {
            const int LR =
                MessageBoxW(nullptr, ACall.Args[1].c_str(), L"ondahost",
                            static_cast<UINT>(std::wcstoul(ACall.Args[0].c_str(), nullptr, 0)));
            std::printf("box -> %d\n", LR);
            return true;
        }
        if (!Load()) return false;
        if (ACall.Verb == L"getver") return Print(LVerb, Call<TNoArgs>("ONDA_GETVER"));
        if (ACall.Verb == L"exit") return Print(LVerb, Call<TNoArgs>("ONDA_EXIT"));
        if (ACall.Verb == L"init") return Print(LVerb, Call<TInit>("ONDA_INIT", nullptr));
        if (ACall.Verb == L"initi" || ACall.Verb == L"init2w") {
            const std::string LDir = ACall.Args[0] == L"-" ? std::string() : Ansi(ACall.Args[0]);
            HWND LWnd = nullptr;
            if (ACall.Args.size() > 1 && ACall.Args[1] == L"window") {
                LWnd = FWindow;
            } else if (ACall.Args.size() > 1) {
                LWnd = reinterpret_cast<HWND>(
                    static_cast<std::uintptr_t>(std::wcstoull(ACall.Args[1].c_str(), nullptr, 0)));
            }
            // ONDA_INIT2W gets a procedure, as a host that wants the event texts passes one
            // (the link never calls it; its presence switches the texts on).
            const bool LInit2w = ACall.Verb == L"init2w";
            return Print(
                LVerb,
                Call<TInitI>(LInit2w ? "ONDA_INIT2W" : "ONDA_INITI",
                             ACall.Args[0] == L"-" ? nullptr : LDir.c_str(),
                             LInit2w ? reinterpret_cast<void*>(&HostProcMsgs) : nullptr, LWnd));
        }
        if (ACall.Verb == L"command") {
            const std::string LText = Ansi(ACall.Args.empty() ? L"" : ACall.Args[0]);
            return Print(LVerb, Call<TCommand>("ONDA_COMMAND", LText.c_str()));
        }
        if (ACall.Verb == L"geterrorstr") {
            auto LFn = Export<TGetStr>("ONDA_GETERRORSTR");
            if (LFn == nullptr) return false;
            const char* LText = LFn();
            if (LText == nullptr) {
                std::printf("geterrorstr -> null\n");
            } else {
                std::printf("geterrorstr -> \"%s\"\n", Escape(LText).c_str());
            }
            return true;
        }
        if (ACall.Verb == L"geterrorstrbuf") {
            auto LFn = Export<TGetStrBuf>("ONDA_GETERRORSTRBUF");
            if (LFn == nullptr) return false;
            const long LN = std::wcstol(ACall.Args[0].c_str(), nullptr, 0);
            std::vector<char> LBuf(static_cast<std::size_t>(LN > 0 ? LN + 1 : 1), '\x7F');
            const std::int32_t LR = LFn(LBuf.data(), static_cast<std::int32_t>(LN));
            std::printf("geterrorstrbuf -> %d \"%s\"\n", LR, Escape(LBuf.data()).c_str());
            return true;
        }
        return false;
    }

  private:
    bool Load() {
        if (FLib) return true;
        const HMODULE LLib = LoadLibraryW(FPath.c_str());
        if (LLib == nullptr) {
            std::fprintf(stderr, "ondahost: cannot load %s (error %lu)\n", Utf8(FPath).c_str(),
                         GetLastError());
            return false;
        }
        FLib.Reset(LLib);
        return true;
    }

    template <typename F>
    F Export(const char* AName) {
        auto LFn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(FLib.Get(), AName)));
        if (LFn == nullptr) std::fprintf(stderr, "ondahost: no export %s\n", AName);
        return LFn;
    }

    template <typename F, typename... A>
    std::optional<std::int32_t> Call(const char* AName, A... AArgs) {
        auto LFn = Export<F>(AName);
        if (LFn == nullptr) return std::nullopt;
        return LFn(AArgs...);
    }

    static bool Print(const std::string& AVerb, std::optional<std::int32_t> AResult) {
        if (!AResult) return false;
        std::printf("%s -> %d\n", AVerb.c_str(), *AResult);
        std::fflush(stdout);
        return true;
    }

    static HWND CreateHostWindow() {
        WNDCLASSW LWc{};
        LWc.lpfnWndProc = DefWindowProcW;
        LWc.hInstance = GetModuleHandleW(nullptr);
        LWc.lpszClassName = L"OndaHostWindow";
        RegisterClassW(&LWc);
        return CreateWindowExW(0, LWc.lpszClassName, L"ondahost", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                               300, nullptr, nullptr, LWc.hInstance, nullptr);
    }

    std::wstring FPath;
    // Unloaded by the "unload" call or when the host ends.
    deruz::logging::TSiUniqueHModule FLib;
    HWND FWindow = nullptr;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: ondahost [--boxes] [--script FILE] DLLPATH [CALL ...]\n"
                 "calls: getver | init | initi DIR [HWND] | init2w DIR [HWND] | command TEXT |\n"
                 "       geterrorstr | geterrorstrbuf N | exit | unload | box STYLE TEXT |\n"
                 "       window | pump MS\n"
                 "HWND \"window\" passes the window made by the call \"window\".\n"
                 "DIR \"-\" passes no folder. --boxes prints and dismisses message boxes.\n");
    return 2;
}

}  // namespace

int wmain(int AArgc, wchar_t** AArgv) {
    bool LBoxes = false;
    std::wstring LScript;
    std::wstring LDll;
    std::vector<std::wstring> LLines;
    for (int LI = 1; LI < AArgc; ++LI) {
        const std::wstring LA = AArgv[LI];
        if (LA == L"--help" || LA == L"-h") {
            Usage();
            return 0;
        }
        if (LA == L"--boxes") {
            LBoxes = true;
        } else if (LA == L"--script" && LI + 1 < AArgc) {
            LScript = AArgv[++LI];
        } else if (LDll.empty()) {
            LDll = LA;
        } else {
            LLines.push_back(LA);
        }
    }
    if (LDll.empty()) return Usage();
    if (!LScript.empty()) {
        std::wifstream LIn(Utf8(LScript));
        if (!LIn) {
            std::fprintf(stderr, "ondahost: cannot read %s\n", Utf8(LScript).c_str());
            return 2;
        }
        std::wstring LLine;
        while (std::getline(LIn, LLine)) {
            if (!LLine.empty() && LLine.back() == L'\r') LLine.pop_back();
            LLines.push_back(LLine);
        }
    }
    std::optional<TBoxRecorder> LRecorder;
    if (LBoxes) {
        LRecorder.emplace([](const TRecordedBox& ABox) {
            std::printf("box: style=0x%04X caption=\"%s\" text=\"%s\"\n", ABox.Style,
                        Escape(Utf8(ABox.Caption)).c_str(), Escape(Utf8(ABox.Text)).c_str());
            std::fflush(stdout);
        });
    }

    int LStatus = 0;
    {
        THost LHost(LDll);
        for (const auto& LLine : LLines) {
            try {
                const auto LCall = ParseCall(LLine);
                if (LCall && !LHost.Run(*LCall)) {
                    LStatus = 2;
                    break;
                }
            } catch (const std::exception& LE) {
                std::fprintf(stderr, "ondahost: %s\n", LE.what());
                LStatus = 2;
                break;
            }
        }
    }
    return LStatus;
}
