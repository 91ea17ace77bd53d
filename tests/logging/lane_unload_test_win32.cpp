// Unloading a DLL that holds the logging library while a thread that logged through its
// asynchronous path lives on, then letting that thread end: the DLL must really unload (no
// per-thread state pins it), the thread must end without running code of the unloaded DLL,
// and the entry must be in the file. The sequence runs in a host process of its own
// (fixtures/lane_dll_host_win32.cpp), so a crash or a hang fails this test and nothing else.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "logging/base/unique_handle_win32.h"
#include "logging/packets/packet.h"
#include "logging/viewer/packet_reader.h"
#include "tests/logging/log_file_entries.h"
#include "tests/logging/temp_dir.h"

namespace deruz::logging {
namespace {

std::string BesideThisProgram(const std::string& AName) {
    char LPath[MAX_PATH] = {};
    const DWORD LLength = GetModuleFileNameA(nullptr, LPath, MAX_PATH);
    std::string LResult(LPath, LLength);
    return LResult.substr(0, LResult.find_last_of("\\/") + 1) + AName;
}

// Runs the host with ACommandLine; its exit code, or a text for a host that hung.
DWORD RunHost(std::string ACommandLine) {
    STARTUPINFOA LStart{};
    LStart.cb = sizeof LStart;
    PROCESS_INFORMATION LProcess{};
    if (!CreateProcessA(nullptr, ACommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &LStart, &LProcess)) {
        ADD_FAILURE() << "cannot start " << ACommandLine << ": " << GetLastError();
        return 0xFFFFFFFFu;
    }
    const TSiUniqueHandle LProcessHandle(LProcess.hProcess);
    const TSiUniqueHandle LThreadHandle(LProcess.hThread);
    if (WaitForSingleObject(LProcess.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(LProcess.hProcess, 99);
        ADD_FAILURE() << "the host hung";
        return 0xFFFFFFFFu;
    }
    DWORD LCode = 0;
    GetExitCodeProcess(LProcess.hProcess, &LCode);
    return LCode;
}

std::vector<std::string> Titles(const std::string& APath) {
    return SiLogFileEntries(APath, [](const TSiLogEntry& AEntry) { return AEntry.Title; });
}

TEST(LaneDllUnload, AThreadThatLoggedEndsAfterTheDllIsUnloaded) {
    testing::TTempDir LDir;
    const std::string LLog = LDir.File("lane.sil");
    const DWORD LCode = RunHost("\"" + BesideThisProgram("lane_dll_host.exe") + "\" \"" +
                                BesideThisProgram("lane_dll.dll") + "\" \"" + LLog + "\"");
    EXPECT_EQ(LCode, 0u) << "0x" << std::hex << LCode;
    EXPECT_EQ(Titles(LLog), std::vector<std::string>{"logged before the unload"});
}

}  // namespace
}  // namespace deruz::logging
