// The part of the two silog dump targets that runs the command over a file of given bytes.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "tools/silog/commands.h"

namespace deruz::fuzz {

// The file that each run writes and dump reads: one per process, so that parallel fuzzing
// jobs do not share it; removed at exit.
inline const std::string& DumpPath() {
    static const std::string LPath = [] {
        const char* LDir = std::getenv("TMPDIR");
        std::string LResult = std::string(LDir != nullptr && *LDir != 0 ? LDir : "/tmp") +
                              "/deruz-fuzz-dump-" + std::to_string(::getpid()) + ".log";
        static const std::string LRemove = LResult;
        std::atexit([] { std::remove(LRemove.c_str()); });
        return LResult;
    }();
    return LPath;
}

// Writes ABytes into the file and runs "silog dump AOptions... <file>". The output is
// discarded unless DERUZ_FUZZ_SHOW is set (for looking at what an input gives). A usage error
// would be a fault of the target itself.
inline void RunDumpOver(const std::vector<std::uint8_t>& ABytes,
                        const std::vector<std::string>& AOptions) {
    std::FILE* LFile = std::fopen(DumpPath().c_str(), "wb");
    if (LFile == nullptr) Fail("cannot write the dump file", DumpPath());
    if (!ABytes.empty() && std::fwrite(ABytes.data(), 1, ABytes.size(), LFile) != ABytes.size()) {
        Fail("cannot write the dump file", DumpPath());
    }
    std::fclose(LFile);

    std::vector<std::string> LArgs = AOptions;
    LArgs.push_back(DumpPath());
    std::istringstream LIn;
    std::ostringstream LOut;
    std::ostringstream LErr;
    silog::TCommandIo LIo{LIn, LOut, LErr, false};
    const int LStatus = silog::RunDump(LArgs, LIo);
    if (std::getenv("DERUZ_FUZZ_SHOW") != nullptr) {
        std::fprintf(stderr, "%s%sstatus %d\n", LOut.str().c_str(), LErr.str().c_str(), LStatus);
    }
    if (LStatus == 2) Fail("dump reports a usage error", LErr.str());
}

// Options from the first byte: resynchronisation, JSON output, and a pattern of every field
// instead of the default one.
inline std::vector<std::string> DumpOptions(std::uint8_t AFlags) {
    std::vector<std::string> LResult;
    if ((AFlags & 1) != 0) LResult.push_back("--resync");
    if ((AFlags & 2) != 0) LResult.insert(LResult.end(), {"--format", "json"});
    if ((AFlags & 4) != 0) {
        LResult.insert(LResult.end(),
                       {"--pattern",
                        "%timestamp% %level% %title% %appname% %session% %hostname% %logentrytype% "
                        "%viewerid% %color% %thread% %process%"});
    }
    return LResult;
}

}  // namespace deruz::fuzz
