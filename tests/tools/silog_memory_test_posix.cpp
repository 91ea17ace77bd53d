// silog dump keeps its memory flat whatever the size of its input: run in a child process
// under an address-space limit far below the input's size, fed through a pipe (no size to
// know in advance) or from /dev/zero.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>

#include "logging/format/binary_formatter.h"
#include "tools/silog/silog.h"

namespace deruz::silog {
namespace {

using namespace deruz::logging;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr std::size_t kMiB = 1024 * 1024;

// The address space in use now, in bytes.
std::size_t AddressSpace() {
    std::ifstream LStatm("/proc/self/statm");
    std::size_t LPages = 0;
    LStatm >> LPages;
    return LPages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// A log entry carrying one mebibyte of data.
std::string BigEntry() {
    auto LEntry = SiMakeRef<TSiLogEntry>();
    LEntry->LogEntryType = ltMessage;
    LEntry->ViewerId = viBinary;
    LEntry->Title = "big";
    TSiMemoryStream LData;
    LData.SetSize(static_cast<std::int64_t>(kMiB));
    LEntry->SetData(&LData);
    TSiBinaryFormatter LFormatter;
    LFormatter.Compile(*LEntry);
    TSiMemoryStream LOut;
    LFormatter.Write(LOut);
    return std::string(reinterpret_cast<const char*>(LOut.Bytes().data()), LOut.Bytes().size());
}

// Runs silog dump with AArgs in a child limited to its current address space plus 64 MiB,
// the read end of a pipe standing in for the file "-"; the parent writes "SILF" and then
// ACopies times ABlock into the pipe. The child exits with 0 when dump ended with
// AStatus, printed ALines lines and said AError on standard error, otherwise with 1 after
// showing what it got.
struct TExpected {
    int Status;
    std::size_t Lines;
    std::string Error;
};

int DumpInChild(std::vector<std::string> AArgs, const std::string& ABlock, std::size_t ACopies,
                const TExpected& AExpected) {
    int LFds[2];
    if (pipe(LFds) != 0) return -1;
    const pid_t LChild = fork();
    if (LChild == 0) {
        close(LFds[1]);
        const rlim_t LBytes = AddressSpace() + 64 * kMiB;
        const rlimit LLimit{LBytes, LBytes};
        setrlimit(RLIMIT_AS, &LLimit);
        for (auto& LArg : AArgs) {
            if (LArg == "-") LArg = "/dev/fd/" + std::to_string(LFds[0]);
        }
        std::istringstream LIn;
        std::ostringstream LOut, LErr;
        const int LStatus = SilogMain(AArgs, LIn, LOut, LErr);
        const std::string LText = LOut.str();
        const auto LLines = static_cast<std::size_t>(std::count(LText.begin(), LText.end(), '\n'));
        const bool LOk = LStatus == AExpected.Status && LLines == AExpected.Lines &&
                         LErr.str().find(AExpected.Error) != std::string::npos;
        if (!LOk) std::cerr << "status " << LStatus << ", " << LLines << " lines, " << LErr.str();
        _exit(LOk ? 0 : 1);
    }
    close(LFds[0]);
    const auto LPrevious = std::signal(SIGPIPE, SIG_IGN);  // the child may stop reading early
    auto LPut = [&](const std::string& ABytes) {
        std::size_t LDone = 0;
        while (LDone < ABytes.size()) {
            const ssize_t LN = write(LFds[1], ABytes.data() + LDone, ABytes.size() - LDone);
            if (LN <= 0) return false;
            LDone += static_cast<std::size_t>(LN);
        }
        return true;
    };
    if (LPut("SILF")) {
        for (std::size_t LI = 0; LI < ACopies && LPut(ABlock); ++LI) {
        }
    }
    close(LFds[1]);
    std::signal(SIGPIPE, LPrevious);
    int LStatus = 0;
    waitpid(LChild, &LStatus, 0);
    return WIFEXITED(LStatus) ? WEXITSTATUS(LStatus) : 200;
}

TEST(SilogDumpMemory, StaysFlatOnInputsFarLargerThanTheLimit) {
    if (kSanitized) GTEST_SKIP() << "sanitizers reserve address space of their own";
    // 256 MiB of packets, 1 MiB each, under a limit of 64 MiB beyond what the process holds.
    EXPECT_EQ(DumpInChild({"dump", "--pattern", "%title%", "-"}, BigEntry(), 256, {0, 256, ""}), 0);
    // 128 MiB of zeros after the magic: damage at once, and resynchronisation scans all of it.
    const std::string LZeros(kMiB, '\0');
    EXPECT_EQ(DumpInChild({"dump", "--resync", "-"}, LZeros, 128,
                          {1, 0, ": skipped 134217728 bytes from offset 4 to the end of the file"}),
              0);
    // Endless input that is no log.
    EXPECT_EQ(DumpInChild({"dump", "/dev/zero"}, "", 0, {1, 0, "/dev/zero: not a log file"}), 0);
}

}  // namespace
}  // namespace deruz::silog
