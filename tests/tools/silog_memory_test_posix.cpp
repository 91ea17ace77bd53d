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
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// A log entry carrying one mebibyte of data.
std::string BigEntry() {
    auto entry = SiMakeRef<TSiLogEntry>();
    entry->LogEntryType = ltMessage;
    entry->ViewerId = viBinary;
    entry->Title = "big";
    TSiMemoryStream data;
    data.SetSize(static_cast<std::int64_t>(kMiB));
    entry->SetData(&data);
    TSiBinaryFormatter formatter;
    formatter.Compile(*entry);
    TSiMemoryStream out;
    formatter.Write(out);
    return std::string(reinterpret_cast<const char*>(out.Bytes().data()), out.Bytes().size());
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
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[1]);
        const rlim_t bytes = AddressSpace() + 64 * kMiB;
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
        for (auto& arg : AArgs) {
            if (arg == "-") arg = "/dev/fd/" + std::to_string(fds[0]);
        }
        std::istringstream in;
        std::ostringstream out, err;
        const int status = SilogMain(AArgs, in, out, err);
        const std::string text = out.str();
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        const bool ok = status == AExpected.Status && lines == AExpected.Lines &&
                        err.str().find(AExpected.Error) != std::string::npos;
        if (!ok) std::cerr << "status " << status << ", " << lines << " lines, " << err.str();
        _exit(ok ? 0 : 1);
    }
    close(fds[0]);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);  // the child may stop reading early
    auto put = [&](const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    if (put("SILF")) {
        for (std::size_t i = 0; i < ACopies && put(ABlock); ++i) {
        }
    }
    close(fds[1]);
    std::signal(SIGPIPE, previous);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

TEST(SilogDumpMemory, StaysFlatOnInputsFarLargerThanTheLimit) {
    if (kSanitized) GTEST_SKIP() << "sanitizers reserve address space of their own";
    // 256 MiB of packets, 1 MiB each, under a limit of 64 MiB beyond what the process holds.
    EXPECT_EQ(DumpInChild({"dump", "--pattern", "%title%", "-"}, BigEntry(), 256, {0, 256, ""}), 0);
    // 128 MiB of zeros after the magic: damage at once, and resynchronisation scans all of it.
    const std::string zeros(kMiB, '\0');
    EXPECT_EQ(DumpInChild({"dump", "--resync", "-"}, zeros, 128,
                          {1, 0, ": skipped 134217728 bytes from offset 4 to the end of the file"}),
              0);
    // Endless input that is no log.
    EXPECT_EQ(DumpInChild({"dump", "/dev/zero"}, "", 0, {1, 0, "/dev/zero: not a log file"}), 0);
}

}  // namespace
}  // namespace deruz::silog
