// The logging library against spdlog and Quill in one table: every workload of the table is
// measured side by side with its peer in the same run (Google Benchmark runs the repetitions of all
// workloads shuffled, with the time taken inside the logging thread as manual time), and the
// program prints one markdown table of medians, ratios, goals and PASS/MISS, then the allocations
// per entry after warm-up.
//
// Our side is reached only through the public API an application uses: a TSiLogger, its
// sessions and a connections string. Log files are read back after each run (binary files
// decoded with the packet reader, text files by lines) to count what arrived.
//
// Rules of measurement:
// - Files live on tmpfs ($TMPDIR when it is tmpfs, else /dev/shm), so that the figures measure
//   the logging code and the system calls, not a disk.
// - All logging happens on threads other than the main one, as in applications.
// - Set-up (creating loggers, opening files) and read-back are outside the timing; the timing
//   of a synchronous run covers the log calls plus the final flush and close.
// - Each workload runs --reps times; the table shows medians.
//
// Options (ours; the rest goes to Google Benchmark, e.g. --benchmark_filter=<regex>):
//   --entries N   entries per run (default 1000000)
//   --reps R      repetitions of every workload (default 5)
//   --judge-wall  judge every row on wall time (by default the synchronous one-thread rows are
//                 judged on the logging thread's CPU time, which other load on a shared machine
//                 disturbs far less)
//   --silog PATH  the silog program: the tcp row logs into `silog listen` (without it the row
//                 is not run)
//   --tcp-window W  the window the tcp row compares with window=1 (default: the tcp protocol's)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/version.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if LOG_TABLE_QUILL
#include <quill/Backend.h>
#include <quill/Frontend.h>
#include <quill/LogMacros.h>
#include <quill/Logger.h>
#include <quill/sinks/FileSink.h>
#endif

#include "bench/alloc_counter.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/tcp_protocol.h"
#include "logging/viewer/packet_reader.h"

namespace {

using namespace deruz::logging;
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

// --- Settings of the run ----------------------------------------------------------------------

int GEntries = 1'000'000;
int GReps = 5;
// Judge every row on wall time, also those judged on the logging thread's CPU time by default.
bool GJudgeWall = false;
fs::path GDir;
std::string GDirNote;
// The silog program for the tcp row (--silog), and the window that row compares with window=1.
std::string GSilog;
int GTcpWindow = TSiTcpProtocol::kDefaultWindow;

constexpr int kThreads = 4;
constexpr int kWarmUp = 10'000;
constexpr std::size_t kSpdlogSlots = 8192;
constexpr const char* kKey = "0123456789abcdef";
// An asynchronous queue that a run never fills (a million entries take about 110 MB queued), as
// Quill's default queue grows rather than blocks.
constexpr const char* kNeverFull = "async.queue=1gb, async.throttle=true";

// The text protocol's default line "[2026-12-10 09:15:02.123] Message: message 1" in spdlog's
// pattern language.
constexpr const char* kSpdlogLine = "[%Y-%m-%d %H:%M:%S.%e] %l: %v";

double Seconds(TClock::time_point AFrom, TClock::time_point ATo) {
    return std::chrono::duration<double>(ATo - AFrom).count();
}

// CPU time (user and system) of the calling thread.
double ThreadCpu() {
    timespec LTime{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &LTime);
    return static_cast<double>(LTime.tv_sec) + static_cast<double>(LTime.tv_nsec) * 1e-9;
}

// Runs AWork on a new thread and waits for it: the timed part of every workload runs off the
// main thread.
void OnThread(const std::function<void()>& AWork) {
    std::thread LThread(AWork);
    LThread.join();
}

// --- Where files go -----------------------------------------------------------------------------

bool IsTmpfs(const fs::path& APath) {
    struct statfs LInfo {};
    constexpr long kTmpfsMagic = 0x01021994;
    return ::statfs(APath.c_str(), &LInfo) == 0 && static_cast<long>(LInfo.f_type) == kTmpfsMagic;
}

void ChooseDirectory() {
    const char* LTmpDir = std::getenv("TMPDIR");
    if (LTmpDir && *LTmpDir && IsTmpfs(LTmpDir)) {
        GDir = LTmpDir;
        GDirNote = std::string("$TMPDIR (") + LTmpDir + ", tmpfs)";
    } else if (IsTmpfs("/dev/shm")) {
        GDir = "/dev/shm";
        GDirNote = "/dev/shm (tmpfs)";
    } else {
        GDir = fs::temp_directory_path();
        GDirNote = GDir.string() + " (NOT tmpfs: no tmpfs found; figures include the disk)";
    }
    GDir /= "log_table." + std::to_string(::getpid());
    fs::create_directories(GDir);
}

std::string FilePath(const char* AName) {
    return (GDir / AName).string();
}

// --- Reading files back -------------------------------------------------------------------------

std::vector<std::uint8_t> ReadFile(const std::string& APath) {
    std::error_code LError;
    const std::uintmax_t LSize = fs::file_size(APath, LError);
    std::vector<std::uint8_t> LBytes(LError ? 0 : LSize);
    std::ifstream LFile(APath, std::ios::binary);
    LFile.read(reinterpret_cast<char*>(LBytes.data()), static_cast<std::streamsize>(LBytes.size()));
    LBytes.resize(static_cast<std::size_t>(LFile.gcount()));
    return LBytes;
}

// What a binary log file holds: the log entries whose title starts with "message ", and the
// size of each such packet in file order. Decoding stops at the first malformed packet.
struct TBinaryContent {
    std::int64_t Entries = 0;
    std::vector<std::uint32_t> PacketSizes;
    bool Intact = true;
};

// Decodes the bytes of a plain binary log file ("SILF" and packets).
TBinaryContent DecodeBinaryLog(std::span<const std::uint8_t> ABytes, const std::string& APath,
                               bool AKeepSizes) {
    TBinaryContent LContent;
    if (ABytes.size() < 4 || std::memcmp(ABytes.data(), "SILF", 4) != 0) {
        LContent.Intact = false;
        return LContent;
    }
    TSiBinaryPacketReader LReader(ABytes.subspan(4), 4);
    try {
        while (!LReader.AtEnd()) {
            const std::size_t LStart = LReader.GetPosition();
            const TSiPacketPtr LPacket = LReader.ReadPacket();
            if (LPacket->GetPacketType() != ptLogEntry) continue;
            const auto& LEntry = static_cast<const TSiLogEntry&>(*LPacket);
            if (!LEntry.Title.starts_with("message ")) continue;
            ++LContent.Entries;
            if (AKeepSizes) {
                LContent.PacketSizes.push_back(
                    static_cast<std::uint32_t>(LReader.GetPosition() - LStart));
            }
        }
    } catch (const ESiPacketFormatError& AError) {
        std::fprintf(stderr, "%s: %s\n", APath.c_str(), AError.what());
        LContent.Intact = false;
    }
    return LContent;
}

TBinaryContent ReadBinaryLog(const std::string& APath, bool AKeepSizes = false) {
    return DecodeBinaryLog(ReadFile(APath), APath, AKeepSizes);
}

// An encrypted log file ("SILE", the IV, then AES-128-CBC with PKCS#7 padding of what a plain
// file holds), decrypted with OpenSSL rather than the library's own cipher, then decoded.
TBinaryContent ReadEncryptedLog(const std::string& APath) {
    const std::vector<std::uint8_t> LBytes = ReadFile(APath);
    constexpr std::size_t kPrefix = 4 + 16;
    if (LBytes.size() < kPrefix || std::memcmp(LBytes.data(), "SILE", 4) != 0) {
        return TBinaryContent{0, {}, false};
    }
    std::vector<std::uint8_t> LPlain(LBytes.size() - kPrefix + 16);
    EVP_CIPHER_CTX* LContext = EVP_CIPHER_CTX_new();
    int LLength = 0;
    int LFinal = 0;
    const bool LDecrypted =
        EVP_DecryptInit_ex(LContext, EVP_aes_128_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(kKey), LBytes.data() + 4) == 1 &&
        EVP_DecryptUpdate(LContext, LPlain.data(), &LLength, LBytes.data() + kPrefix,
                          static_cast<int>(LBytes.size() - kPrefix)) == 1 &&
        EVP_DecryptFinal_ex(LContext, LPlain.data() + LLength, &LFinal) == 1;
    EVP_CIPHER_CTX_free(LContext);
    if (!LDecrypted) {
        std::fprintf(stderr, "%s: does not decrypt\n", APath.c_str());
        return TBinaryContent{0, {}, false};
    }
    LPlain.resize(static_cast<std::size_t>(LLength + LFinal));
    return DecodeBinaryLog(LPlain, APath, false);
}

// Lines of a text file that carry a "message " entry.
std::int64_t CountTextLines(const std::string& APath) {
    const std::vector<std::uint8_t> LBytes = ReadFile(APath);
    const std::string_view LText(reinterpret_cast<const char*>(LBytes.data()), LBytes.size());
    std::int64_t LCount = 0;
    std::size_t LStart = 0;
    while (LStart < LText.size()) {
        std::size_t LEnd = LText.find('\n', LStart);
        if (LEnd == std::string_view::npos) LEnd = LText.size();
        if (LText.substr(LStart, LEnd - LStart).find("message ") != std::string_view::npos) {
            ++LCount;
        }
        LStart = LEnd + 1;
    }
    return LCount;
}

// --- Samples ----------------------------------------------------------------------------------

// One repetition of one workload. Seconds is the figure the table compares (for throughput
// rows the wall time of all threads); Producer is the time of the log calls alone where the
// work continues on another thread; Delivered counts entries read back (-1: not counted).
struct TSample {
    double Seconds = 0;
    double Producer = 0;
    // CPU time of the logging thread over the same spans (-1: several threads, not kept).
    double Cpu = -1;
    double ProducerCpu = -1;
    std::int64_t Delivered = -1;
    bool Intact = true;
};

std::map<std::string, std::vector<TSample>> GSamples;

double Median(std::vector<double> AValues) {
    if (AValues.empty()) return 0;
    std::sort(AValues.begin(), AValues.end());
    const std::size_t LMiddle = AValues.size() / 2;
    return AValues.size() % 2 ? AValues[LMiddle] : (AValues[LMiddle - 1] + AValues[LMiddle]) / 2;
}

struct TSummary {
    bool Present = false;
    double Seconds = 0;
    double Producer = 0;
    double Cpu = -1;
    double ProducerCpu = -1;
    // Over all repetitions: the fewest entries read back, and the median fraction delivered.
    std::int64_t MinDelivered = -1;
    double DeliveredFraction = -1;
    bool Intact = true;
};

TSummary Summarize(const std::string& AName) {
    TSummary LSummary;
    const auto LFound = GSamples.find(AName);
    if (LFound == GSamples.end() || LFound->second.empty()) return LSummary;
    LSummary.Present = true;
    std::vector<double> LSeconds, LProducer, LCpu, LProducerCpu, LFractions;
    for (const TSample& LSample : LFound->second) {
        LSeconds.push_back(LSample.Seconds);
        LProducer.push_back(LSample.Producer);
        if (LSample.Cpu >= 0) LCpu.push_back(LSample.Cpu);
        if (LSample.ProducerCpu >= 0) LProducerCpu.push_back(LSample.ProducerCpu);
        LSummary.Intact = LSummary.Intact && LSample.Intact;
        if (LSample.Delivered >= 0) {
            LSummary.MinDelivered = LSummary.MinDelivered < 0
                                        ? LSample.Delivered
                                        : std::min(LSummary.MinDelivered, LSample.Delivered);
            LFractions.push_back(static_cast<double>(LSample.Delivered) / GEntries);
        }
    }
    LSummary.Seconds = Median(LSeconds);
    LSummary.Producer = Median(LProducer);
    if (!LCpu.empty()) LSummary.Cpu = Median(LCpu);
    if (!LProducerCpu.empty()) LSummary.ProducerCpu = Median(LProducerCpu);
    if (!LFractions.empty()) LSummary.DeliveredFraction = Median(LFractions);
    return LSummary;
}

// Registers a workload: one iteration per repetition, timed by the workload itself.
void Register(const std::string& AName, std::function<TSample()> AWork) {
    benchmark::RegisterBenchmark(AName.c_str(),
                                 [AName, AWork](benchmark::State& AState) {
                                     for (auto _ : AState) {
                                         std::fprintf(stderr, "  %s\n", AName.c_str());
                                         const TSample LSample = AWork();
                                         GSamples[AName].push_back(LSample);
                                         AState.SetIterationTime(LSample.Seconds);
                                     }
                                 })
        ->Iterations(1)
        ->Repetitions(GReps)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

// --- Our side
// -------------------------------------------------------------------------------------

// A logger core with one session "Main" on AConnections, enabled (files opened).
struct TOurLogger {
    explicit TOurLogger(const std::string& AConnections) : Logger("log_table") {
        Logger.SetConnections(AConnections);
        Logger.SetEnabled(true);
        Session = Logger.AddSession("Main");
    }
    TSiLogger Logger;
    TSiSession* Session = nullptr;
};

void LogEntries(TSiSession& ASession, int AFrom, int ATo) {
    for (int LIndex = AFrom; LIndex < ATo; ++LIndex) {
        ASession.LogMessage("message %d", {LIndex});
    }
}

enum class TReadBack { Binary, Encrypted, Text };

// One thread logs every entry through LogMessage; the timing covers the calls and disabling
// the core (flush and close; for an asynchronous protocol also the worker's draining), and the
// producer time the calls alone.
TSample OursSingle(const std::string& AProtocol, const char* AFileName, const std::string& AOptions,
                   TReadBack AReadBack) {
    const std::string LPath = FilePath(AFileName);
    TSample LSample;
    {
        TOurLogger LOurs(AProtocol + "(filename=\"" + LPath + "\", " + AOptions + ")");
        OnThread([&] {
            const double LCpuStart = ThreadCpu();
            const auto LStart = TClock::now();
            LogEntries(*LOurs.Session, 0, GEntries);
            const auto LCalls = TClock::now();
            LSample.ProducerCpu = ThreadCpu() - LCpuStart;
            LOurs.Logger.SetEnabled(false);
            const auto LEnd = TClock::now();
            LSample.Cpu = ThreadCpu() - LCpuStart;
            LSample.Producer = Seconds(LStart, LCalls);
            LSample.Seconds = Seconds(LStart, LEnd);
        });
    }
    if (AReadBack == TReadBack::Binary) {
        const TBinaryContent LContent = ReadBinaryLog(LPath);
        LSample.Delivered = LContent.Entries;
        LSample.Intact = LContent.Intact;
    } else if (AReadBack == TReadBack::Encrypted) {
        const TBinaryContent LContent = ReadEncryptedLog(LPath);
        LSample.Delivered = LContent.Entries;
        LSample.Intact = LContent.Intact;
    } else {
        LSample.Delivered = CountTextLines(LPath);
    }
    fs::remove(LPath);
    return LSample;
}

// Calls filtered out by the core's level: LogDebug below lvMessage, into a live protocol.
TSample OursFiltered() {
    const std::string LPath = FilePath("ours_filtered.sil");
    TSample LSample;
    {
        TOurLogger LOurs("file(filename=\"" + LPath + "\", buffer=64)");
        LOurs.Logger.SetLevel(lvMessage);
        OnThread([&] {
            const double LCpuStart = ThreadCpu();
            const auto LStart = TClock::now();
            for (int LIndex = 0; LIndex < GEntries; ++LIndex) {
                LOurs.Session->LogDebug("message %d", {LIndex});
            }
            LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
            LSample.Cpu = LSample.ProducerCpu = ThreadCpu() - LCpuStart;
        });
        LOurs.Logger.SetEnabled(false);
    }
    LSample.Delivered = ReadBinaryLog(LPath).Entries;
    fs::remove(LPath);
    return LSample;
}

// kThreads threads share one session; the time runs from their common start until the last
// has finished and the core is disabled (for an asynchronous protocol: drained and closed).
TSample OursThreads(const char* AFileName, const std::string& AOptions) {
    const std::string LPath = FilePath(AFileName);
    TSample LSample;
    {
        TOurLogger LOurs("file(filename=\"" + LPath + "\", " + AOptions + ")");
        std::atomic<bool> LGo{false};
        std::vector<std::thread> LThreads;
        for (int LThread = 0; LThread < kThreads; ++LThread) {
            LThreads.emplace_back([&, LThread] {
                LGo.wait(false);
                LogEntries(*LOurs.Session, GEntries * LThread / kThreads,
                           GEntries * (LThread + 1) / kThreads);
            });
        }
        const auto LStart = TClock::now();
        LGo = true;
        LGo.notify_all();
        for (std::thread& LThread : LThreads) LThread.join();
        LOurs.Logger.SetEnabled(false);
        LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
    }
    const TBinaryContent LContent = ReadBinaryLog(LPath);
    LSample.Delivered = LContent.Entries;
    LSample.Intact = LContent.Intact;
    fs::remove(LPath);
    return LSample;
}

// --- Over TCP into silog listen ------------------------------------------------------------------

// Entries of a tcp run: a tenth of the other rows', as window=1 takes a round trip for each.
int TcpEntries() {
    return std::max(GEntries / 10, 1);
}

// `silog listen --tcp 0 --once`, printing to a file: its process and the port it took (0 when
// it did not start). Its standard error stays open to this process until Finish.
struct TListener {
    pid_t Pid = -1;
    int Errors = -1;
    std::uint16_t Port = 0;

    explicit TListener(const std::string& AOutput) {
        int LPipe[2];
        if (::pipe2(LPipe, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t LActions;
        posix_spawn_file_actions_init(&LActions);
        posix_spawn_file_actions_addopen(&LActions, 1, AOutput.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&LActions, LPipe[1], 2);
        std::vector<std::string> LArgs = {GSilog, "listen", "--tcp", "0", "--once"};
        std::vector<char*> LArgv;
        for (std::string& LArg : LArgs) LArgv.push_back(LArg.data());
        LArgv.push_back(nullptr);
        if (posix_spawn(&Pid, GSilog.c_str(), &LActions, nullptr, LArgv.data(), environ) != 0) {
            Pid = -1;
        }
        posix_spawn_file_actions_destroy(&LActions);
        ::close(LPipe[1]);
        Errors = LPipe[0];
        // It says "silog: listening on TCP port N" once it serves.
        std::string LLine;
        char LChar = 0;
        while (Pid > 0 && ::read(Errors, &LChar, 1) == 1) {
            if (LChar != '\n') {
                LLine += LChar;
                continue;
            }
            const std::string_view LPrefix = "silog: listening on TCP port ";
            if (LLine.rfind(LPrefix, 0) == 0) {
                Port = static_cast<std::uint16_t>(std::stoi(LLine.substr(LPrefix.size())));
                break;
            }
            LLine.clear();
        }
    }
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;
    // Waits until it has ended (--once: when its client has disconnected).
    void Finish() {
        if (Pid > 0) ::waitpid(Pid, nullptr, 0);
        if (Errors >= 0) ::close(Errors);
        Pid = -1;
        Errors = -1;
    }
    ~TListener() { Finish(); }
};

// Lines of APath that print one of the run's entries ("message <i>").
std::int64_t CountPrintedEntries(const std::string& APath) {
    std::ifstream LFile(APath);
    std::int64_t LCount = 0;
    for (std::string LLine; std::getline(LFile, LLine);) {
        if (LLine.find(": message ") != std::string::npos) ++LCount;
    }
    return LCount;
}

// One thread logs TcpEntries() entries over tcp with AWindow into `silog listen`; the time runs
// from the first call until the core is disabled, which waits for every acknowledgement.
TSample OursTcp(int AWindow) {
    const std::string LPath = FilePath(("listen_" + std::to_string(AWindow) + ".txt").c_str());
    TSample LSample;
    {
        TListener LListener(LPath);
        if (LListener.Port == 0) {
            std::fprintf(stderr, "log_table: silog listen did not start (%s)\n", GSilog.c_str());
            std::exit(1);
        }
        TOurLogger LOurs("tcp(port=" + std::to_string(LListener.Port) +
                         ", window=" + std::to_string(AWindow) + ")");
        OnThread([&] {
            const double LCpuStart = ThreadCpu();
            const auto LStart = TClock::now();
            LogEntries(*LOurs.Session, 0, TcpEntries());
            LOurs.Logger.SetEnabled(false);
            LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
            LSample.Cpu = LSample.ProducerCpu = ThreadCpu() - LCpuStart;
        });
        LListener.Finish();
    }
    LSample.Delivered = CountPrintedEntries(LPath);
    fs::remove(LPath);
    return LSample;
}

// --- spdlog's side ------------------------------------------------------------------------------

void SpdlogEntries(spdlog::logger& ALogger, int AFrom, int ATo) {
    for (int LIndex = AFrom; LIndex < ATo; ++LIndex) {
        ALogger.info("message {}", LIndex);
    }
}

// The basic file sink, one thread: the calls and the final flush.
TSample SpdlogSingle() {
    const std::string LPath = FilePath("spdlog_single.txt");
    TSample LSample;
    {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        spdlog::logger LLogger("Main", LSink);
        LLogger.set_pattern(kSpdlogLine);
        OnThread([&] {
            const double LCpuStart = ThreadCpu();
            const auto LStart = TClock::now();
            SpdlogEntries(LLogger, 0, GEntries);
            LLogger.flush();
            LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
            LSample.Cpu = LSample.ProducerCpu = ThreadCpu() - LCpuStart;
        });
    }
    LSample.Delivered = CountTextLines(LPath);
    fs::remove(LPath);
    return LSample;
}

// debug calls below the logger's level (info).
TSample SpdlogFiltered() {
    const std::string LPath = FilePath("spdlog_filtered.txt");
    TSample LSample;
    {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        spdlog::logger LLogger("Main", LSink);
        LLogger.set_pattern(kSpdlogLine);
        LLogger.set_level(spdlog::level::info);
        OnThread([&] {
            const double LCpuStart = ThreadCpu();
            const auto LStart = TClock::now();
            for (int LIndex = 0; LIndex < GEntries; ++LIndex) {
                LLogger.debug("message {}", LIndex);
            }
            LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
            LSample.Cpu = LSample.ProducerCpu = ThreadCpu() - LCpuStart;
        });
        LLogger.flush();
    }
    LSample.Delivered = CountTextLines(LPath);
    fs::remove(LPath);
    return LSample;
}

TSample SpdlogThreads() {
    const std::string LPath = FilePath("spdlog_threads.txt");
    TSample LSample;
    {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        spdlog::logger LLogger("Main", LSink);
        LLogger.set_pattern(kSpdlogLine);
        std::atomic<bool> LGo{false};
        std::vector<std::thread> LThreads;
        for (int LThread = 0; LThread < kThreads; ++LThread) {
            LThreads.emplace_back([&, LThread] {
                LGo.wait(false);
                SpdlogEntries(LLogger, GEntries * LThread / kThreads,
                              GEntries * (LThread + 1) / kThreads);
            });
        }
        const auto LStart = TClock::now();
        LGo = true;
        LGo.notify_all();
        for (std::thread& LThread : LThreads) LThread.join();
        LLogger.flush();
        LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
    }
    LSample.Delivered = CountTextLines(LPath);
    fs::remove(LPath);
    return LSample;
}

// The async logger on a pool of kSpdlogSlots slots and one worker. End to end runs until the
// pool has been destroyed (its destructor lets the worker finish the queue and joins it) and
// the sink flushed.
TSample SpdlogAsync(spdlog::async_overflow_policy APolicy) {
    const std::string LPath = FilePath("spdlog_async.txt");
    TSample LSample;
    {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        auto LPool = std::make_shared<spdlog::details::thread_pool>(kSpdlogSlots, 1);
        auto LLogger = std::make_shared<spdlog::async_logger>("Main", LSink, LPool, APolicy);
        LLogger->set_pattern(kSpdlogLine);
        OnThread([&] {
            const double LCpuStart = ThreadCpu();
            const auto LStart = TClock::now();
            SpdlogEntries(*LLogger, 0, GEntries);
            const auto LCalls = TClock::now();
            LSample.ProducerCpu = ThreadCpu() - LCpuStart;
            LPool.reset();
            LSink->flush();
            const auto LEnd = TClock::now();
            LSample.Cpu = ThreadCpu() - LCpuStart;
            LSample.Producer = Seconds(LStart, LCalls);
            LSample.Seconds = Seconds(LStart, LEnd);
        });
    }
    LSample.Delivered = CountTextLines(LPath);
    fs::remove(LPath);
    return LSample;
}

// --- Quill's side -------------------------------------------------------------------------------

#if LOG_TABLE_QUILL
// Quill's backend is one thread per process, started once (its default options: it naps
// 100 us when it finds nothing to do). Every run makes a logger of its own on a new FileSink on
// tmpfs, with the text protocol's line in Quill's pattern language; "end to end" runs until
// flush_log has returned, that is until the backend has written and flushed everything.
void StartQuill() {
    static std::once_flag LStarted;
    std::call_once(LStarted, [] { quill::Backend::start(); });
}

TSample QuillRun(int AThreads) {
    StartQuill();
    static int GRun = 0;
    const std::string LName = "quill_" + std::to_string(++GRun);
    const std::string LPath = FilePath((LName + ".txt").c_str());
    TSample LSample;
    {
        quill::FileSinkConfig LConfig;
        LConfig.set_open_mode('w');
        auto LSink = quill::Frontend::create_or_get_sink<quill::FileSink>(LPath, LConfig);
        quill::Logger* LLogger = quill::Frontend::create_or_get_logger(
            LName, std::move(LSink),
            quill::PatternFormatterOptions("[%(time)] %(log_level): %(message)",
                                           "%Y-%m-%d %H:%M:%S.%Qms"));
        const auto LEntries = [LLogger](int AFrom, int ATo) {
            for (int LIndex = AFrom; LIndex < ATo; ++LIndex) {
                LOG_INFO(LLogger, "message {}", LIndex);
            }
        };
        if (AThreads == 1) {
            OnThread([&] {
                const double LCpuStart = ThreadCpu();
                const auto LStart = TClock::now();
                LEntries(0, GEntries);
                const auto LCalls = TClock::now();
                LSample.ProducerCpu = ThreadCpu() - LCpuStart;
                LLogger->flush_log();
                const auto LEnd = TClock::now();
                LSample.Cpu = ThreadCpu() - LCpuStart;
                LSample.Producer = Seconds(LStart, LCalls);
                LSample.Seconds = Seconds(LStart, LEnd);
            });
        } else {
            std::atomic<bool> LGo{false};
            std::vector<std::thread> LThreads;
            for (int LThread = 0; LThread < AThreads; ++LThread) {
                LThreads.emplace_back([&, LThread] {
                    LGo.wait(false);
                    LEntries(GEntries * LThread / AThreads, GEntries * (LThread + 1) / AThreads);
                });
            }
            const auto LStart = TClock::now();
            LGo = true;
            LGo.notify_all();
            for (std::thread& LThread : LThreads) LThread.join();
            LLogger->flush_log();
            LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
        }
        quill::Frontend::remove_logger_blocking(LLogger);
    }
    LSample.Delivered = CountTextLines(LPath);
    fs::remove(LPath);
    return LSample;
}
#endif

// --- Peers without a logger ---------------------------------------------------------------------

// Sizes of the binary packets of entries 0..N-1, taken from a file our side wrote; the size of
// the plain buffered file.
std::vector<std::uint32_t> GPacketSizes;
std::uintmax_t GPlainFileSize = 0;

void Calibrate() {
    const std::string LPath = FilePath("calibrate.sil");
    {
        TOurLogger LOurs("file(filename=\"" + LPath + "\", buffer=64)");
        OnThread([&] { LogEntries(*LOurs.Session, 0, GEntries); });
    }
    GPlainFileSize = fs::file_size(LPath);
    TBinaryContent LContent = ReadBinaryLog(LPath, true);
    GPacketSizes = std::move(LContent.PacketSizes);
    fs::remove(LPath);
    if (static_cast<int>(GPacketSizes.size()) != GEntries) {
        std::fprintf(stderr, "calibration read back %zu of %d entries\n", GPacketSizes.size(),
                     GEntries);
        std::exit(1);
    }
}

// One write(2) per entry of a record as large as that entry's binary packet: "message <i>",
// padded with spaces, ending in a line break.
TSample WritePerRecord() {
    const std::string LPath = FilePath("write_per_record.txt");
    TSample LSample;
    OnThread([&] {
        std::vector<char> LRecord(*std::max_element(GPacketSizes.begin(), GPacketSizes.end()) + 32,
                                  ' ');
        const double LCpuStart = ThreadCpu();
        const auto LStart = TClock::now();
        const int LFile = ::open(LPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::int64_t LWritten = 0;
        for (int LIndex = 0; LIndex < GEntries && LFile >= 0; ++LIndex) {
            const std::size_t LSize = GPacketSizes[LIndex];
            std::memcpy(LRecord.data(), "message ", 8);
            std::to_chars(LRecord.data() + 8, LRecord.data() + 24, LIndex);
            LRecord[LSize - 1] = '\n';
            if (::write(LFile, LRecord.data(), LSize) == static_cast<ssize_t>(LSize)) ++LWritten;
            LRecord[LSize - 1] = ' ';
        }
        if (LFile >= 0) ::close(LFile);
        LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
        LSample.Cpu = LSample.ProducerCpu = ThreadCpu() - LCpuStart;
        LSample.Delivered = LWritten;
    });
    fs::remove(LPath);
    return LSample;
}

// OpenSSL's AES-128-CBC (EVP) over as many bytes as the plain buffered file holds, in 64 KiB
// pieces as a write buffer hands them over.
TSample OpenSslCbc() {
    TSample LSample;
    OnThread([&] {
        constexpr std::size_t kPiece = 64 * 1024;
        std::vector<std::uint8_t> LIn(kPiece), LOut(kPiece + 16);
        for (std::size_t LIndex = 0; LIndex < kPiece; ++LIndex) {
            LIn[LIndex] = static_cast<std::uint8_t>(LIndex * 131 + 7);
        }
        const std::uint8_t LIv[16] = {};
        EVP_CIPHER_CTX* LContext = EVP_CIPHER_CTX_new();
        // Key set-up and the cipher's first use stay outside the timing, as the protocol's
        // happen when it connects.
        int LOutLength = 0;
        EVP_EncryptInit_ex(LContext, EVP_aes_128_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(kKey), LIv);
        EVP_CIPHER_CTX_set_padding(LContext, 0);
        EVP_EncryptUpdate(LContext, LOut.data(), &LOutLength, LIn.data(), kPiece);
        const double LCpuStart = ThreadCpu();
        const auto LStart = TClock::now();
        // Whole blocks; the remainder is padded to a block as the file's last block is.
        std::uintmax_t LLeft = (GPlainFileSize + 15) / 16 * 16;
        while (LLeft > 0) {
            const int LPiece = static_cast<int>(std::min<std::uintmax_t>(LLeft, kPiece));
            EVP_EncryptUpdate(LContext, LOut.data(), &LOutLength, LIn.data(), LPiece);
            benchmark::DoNotOptimize(LOut.data());
            LLeft -= static_cast<std::uintmax_t>(LPiece);
        }
        LSample.Seconds = LSample.Producer = Seconds(LStart, TClock::now());
        LSample.Cpu = LSample.ProducerCpu = ThreadCpu() - LCpuStart;
        EVP_CIPHER_CTX_free(LContext);
    });
    return LSample;
}

// --- Allocations after warm-up ------------------------------------------------------------------

// Allocations per entry over GEntries entries logged after kWarmUp, on a thread of their own;
// counted until everything is written (asynchronous: the worker has drained), since the
// worker's allocations belong to the entries too.
double OursAllocations(const std::string& AOptions) {
    const std::string LPath = FilePath("ours_allocations.sil");
    std::uint64_t LCount = 0;
    {
        TOurLogger LOurs("file(filename=\"" + LPath + "\", " + AOptions + ")");
        OnThread([&] {
            LogEntries(*LOurs.Session, 0, kWarmUp);
            const std::uint64_t LBefore = BenchAllocations();
            LogEntries(*LOurs.Session, 0, GEntries);
            LOurs.Logger.SetEnabled(false);
            LCount = BenchAllocations() - LBefore;
        });
    }
    fs::remove(LPath);
    return static_cast<double>(LCount) / GEntries;
}

double SpdlogSyncAllocations() {
    const std::string LPath = FilePath("spdlog_allocations.txt");
    std::uint64_t LCount = 0;
    {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        spdlog::logger LLogger("Main", LSink);
        LLogger.set_pattern(kSpdlogLine);
        OnThread([&] {
            SpdlogEntries(LLogger, 0, kWarmUp);
            const std::uint64_t LBefore = BenchAllocations();
            SpdlogEntries(LLogger, 0, GEntries);
            LLogger.flush();
            LCount = BenchAllocations() - LBefore;
        });
    }
    fs::remove(LPath);
    return static_cast<double>(LCount) / GEntries;
}

double SpdlogAsyncAllocations() {
    const std::string LPath = FilePath("spdlog_allocations.txt");
    std::uint64_t LCount = 0;
    {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        auto LPool = std::make_shared<spdlog::details::thread_pool>(kSpdlogSlots, 1);
        auto LLogger = std::make_shared<spdlog::async_logger>("Main", LSink, LPool,
                                                              spdlog::async_overflow_policy::block);
        LLogger->set_pattern(kSpdlogLine);
        OnThread([&] {
            SpdlogEntries(*LLogger, 0, kWarmUp);
            const std::uint64_t LBefore = BenchAllocations();
            SpdlogEntries(*LLogger, 0, GEntries);
            LPool.reset();
            LSink->flush();
            LCount = BenchAllocations() - LBefore;
        });
    }
    fs::remove(LPath);
    return static_cast<double>(LCount) / GEntries;
}

// --- The table ----------------------------------------------------------------------------------

// Prints Google Benchmark's own results to nothing: the program prints one table of its own.
class TSilentReporter final : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>&) override {}
};

std::string Format(const char* AFormat, double AValue) {
    char LText[256];
    std::snprintf(LText, sizeof LText, AFormat, AValue);
    return LText;
}

std::string NsPerEntry(double ASeconds, int AEntries = 0) {
    return Format("%.2f", ASeconds * 1e9 / (AEntries ? AEntries : GEntries));
}

std::string Counted(const TSummary& ASummary) {
    if (ASummary.MinDelivered < 0) return "-";
    std::string LText = std::to_string(ASummary.MinDelivered);
    if (!ASummary.Intact) LText += " (file damaged)";
    return LText;
}

// The ratio a verdict rests on is printed in bold.
std::string Judged(const std::string& ARatio, bool AJudged) {
    return AJudged ? "**" + ARatio + "**" : ARatio;
}

std::string Verdict(bool APass) {
    return APass ? "PASS" : "MISS";
}

// The thread-CPU ratio beside a wall-time ratio: "-" where the work of a side is not all on
// the timed thread.
std::string CpuRatio(double AOurs, double APeer) {
    if (AOurs < 0 || APeer <= 0) return "-";
    return Format("%.2fx", AOurs / APeer) + " (" + NsPerEntry(AOurs) + " / " + NsPerEntry(APeer) +
           ")";
}

void Row(const std::string& AWorkload, const std::string& AOurs, const std::string& APeer,
         const std::string& APeerNs, const std::string& ARatio, const std::string& ACpuRatio,
         const std::string& AGoal, const std::string& AResult, const std::string& ACounted) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", AWorkload.c_str(),
                AOurs.c_str(), APeer.c_str(), APeerNs.c_str(), ARatio.c_str(), ACpuRatio.c_str(),
                AGoal.c_str(), AResult.c_str(), ACounted.c_str());
}

// A row whose ratio is ours / peer time and whose goal is an upper bound; AMustDeliverAll also
// requires every entry to have been read back on our side in every repetition. AProducer: the
// time of the log calls alone; else the whole timed part.
void TimeRow(const std::string& AWorkload, const std::string& AOursName, const std::string& APeer,
             const std::string& APeerName, double AGoal, bool AProducer = false,
             bool AMustDeliverAll = false, bool AShowCpu = true, bool AJudgeCpu = false) {
    const TSummary LOurs = Summarize(AOursName);
    const TSummary LPeer = Summarize(APeerName);
    std::string LGoal = Format("<= %.1fx", AGoal);
    if (AMustDeliverAll) LGoal += ", 0 lost";
    if (!LOurs.Present || !LPeer.Present) {
        Row(AWorkload, "-", APeer, "-", "-", "-", LGoal, "not run", "-");
        return;
    }
    const double LOurTime = AProducer ? LOurs.Producer : LOurs.Seconds;
    const double LPeerTime = AProducer ? LPeer.Producer : LPeer.Seconds;
    const double LRatio = LOurTime / LPeerTime;
    const double LOurCpu = AProducer ? LOurs.ProducerCpu : LOurs.Cpu;
    const double LPeerCpu = AProducer ? LPeer.ProducerCpu : LPeer.Cpu;
    const bool LOnCpu = AJudgeCpu && !GJudgeWall && LOurCpu >= 0 && LPeerCpu > 0;
    bool LPass = (LOnCpu ? LOurCpu / LPeerCpu : LRatio) <= AGoal;
    if (AMustDeliverAll) LPass = LPass && LOurs.MinDelivered == GEntries && LOurs.Intact;
    const std::string LCpu = AShowCpu ? CpuRatio(LOurCpu, LPeerCpu) : "-";
    Row(AWorkload, NsPerEntry(LOurTime), APeer, NsPerEntry(LPeerTime),
        Judged(Format("%.2fx", LRatio), !LOnCpu), Judged(LCpu, LOnCpu), LGoal, Verdict(LPass),
        Counted(LOurs) + " / " + Counted(LPeer));
}

std::string LoadAverage() {
    double LLoad[3] = {};
    if (::getloadavg(LLoad, 3) != 3) return "unknown";
    return Format("%.2f", LLoad[0]) + Format(" %.2f", LLoad[1]) + Format(" %.2f", LLoad[2]);
}

std::string GLoadBefore;

void PrintTable() {
    std::printf(
        "\n### Logging library against spdlog %d.%d.%d: %d entries of \"message %%d\" a run, "
        "median of %d runs\n\n",
        SPDLOG_VER_MAJOR, SPDLOG_VER_MINOR, SPDLOG_VER_PATCH, GEntries, GReps);
    std::printf(
        "Files on %s. Every workload logs from a thread other than the main one (a new thread "
        "per run; the multi-thread row from %d such threads). The repetitions of all workloads "
        "ran shuffled. ns/entry: median wall time of a run divided by the entries; ratio: ours / "
        "peer of those medians; CPU ratio: the same with the CPU time of the logging thread (user "
        "and system), which other load disturbs far less, \"-\" where part of the work runs on "
        "other threads. PASS/MISS rests on the ratio in bold: %s. read back: the fewest entries "
        "found over all "
        "runs (ours: binary packets decoded with the packet reader, or text lines; peer: lines, "
        "or records written). %u processors; load average before the run %s, after %s.\n\n",
        GDirNote.c_str(), kThreads,
        GJudgeWall ? "wall time everywhere (--judge-wall)"
                   : "the CPU ratio for the synchronous one-thread rows (all their work is on the "
                     "timed thread), wall time for the rows where other threads work or the "
                     "producer waits",
        std::thread::hardware_concurrency(), GLoadBefore.c_str(), LoadAverage().c_str());
    std::printf(
        "| workload | ours ns/entry | against | peer ns/entry | ratio | CPU ratio (ours / peer "
        "ns) | goal | result | read back (ours / peer) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");

    TimeRow("call filtered out by level (LogDebug below lvMessage)", "ours/filtered",
            "spdlog `debug` below its level (info)", "spdlog/filtered", 0.1, false, false, true,
            true);
    TimeRow("text protocol, buffer=64, default pattern", "ours/text",
            "spdlog basic file sink, same line", "spdlog/text_line", 0.8, false, false, true, true);
    TimeRow("binary file protocol, buffer=64, LogMessage", "ours/binary",
            "spdlog basic file sink, text line", "spdlog/text_line", 0.4, false, false, true, true);
    TimeRow("file protocol flushed per packet (buffer=0), LogMessage", "ours/flushed",
            "one write(2) per packet-sized record", "write/per_record", 1.1, false, false, true,
            true);

    {
        const std::string LWorkload =
            std::to_string(kThreads) + " threads, one buffered binary file protocol (throughput)";
        const std::string LPeerName =
            "spdlog basic file sink, " + std::to_string(kThreads) + " threads";
        const TSummary LOurs = Summarize("ours/threads");
        const TSummary LPeer = Summarize("spdlog/threads");
        if (LOurs.Present && LPeer.Present) {
            // Throughput ratio: entries per second of ours over spdlog's.
            const double LRatio = LPeer.Seconds / LOurs.Seconds;
            Row(LWorkload,
                NsPerEntry(LOurs.Seconds) + Format(" (%.2f M/s)", GEntries / LOurs.Seconds / 1e6),
                LPeerName,
                NsPerEntry(LPeer.Seconds) + Format(" (%.2f M/s)", GEntries / LPeer.Seconds / 1e6),
                Format("%.2fx throughput", LRatio), "-", ">= 2x throughput", Verdict(LRatio >= 2.0),
                Counted(LOurs) + " / " + Counted(LPeer));
        } else {
            Row(LWorkload, "-", LPeerName, "-", "-", "-", ">= 2x throughput", "not run", "-");
        }
    }

    TimeRow("async file protocol, throttled: producer time per call", "ours/async_throttled",
            "spdlog async logger, block, 8192 slots", "spdlog/async_block", 0.6, true, true);
    TimeRow("async file protocol, throttled: end to end (until drained and closed)",
            "ours/async_throttled", "spdlog async logger, block, 8192 slots", "spdlog/async_block",
            0.6, false, true, false);

#if LOG_TABLE_QUILL
    TimeRow("async file protocol, queue never full (async.queue=1gb): producer time per call",
            "ours/async_unbounded", "Quill 12.1 FileSink, default unbounded queue", "quill/single",
            1.5, true, true);
    TimeRow("async file protocol, queue never full: end to end (until written and closed)",
            "ours/async_unbounded", "Quill 12.1 FileSink, until flush_log returns", "quill/single",
            1.0, false, true, false);
    TimeRow(std::to_string(kThreads) +
                " threads, async file protocol, queue never full: end to end per entry",
            "ours/async_threads",
            "Quill 12.1 FileSink, " + std::to_string(kThreads) + " threads, until flush_log",
            "quill/threads", 1.0, false, true, false);
#endif

    {
        const std::string LWorkload =
            "async, trim mode (async.throttle=false, oldest dropped): producer time; read back "
            "as delivered fraction (median)";
        const std::string LPeerName = "spdlog async logger, overrun_oldest, 8192 slots";
        const TSummary LOurs = Summarize("ours/async_trim");
        const TSummary LPeer = Summarize("spdlog/async_overrun");
        if (LOurs.Present && LPeer.Present) {
            Row(LWorkload, NsPerEntry(LOurs.Producer), LPeerName, NsPerEntry(LPeer.Producer),
                Format("%.2fx", LOurs.Producer / LPeer.Producer),
                CpuRatio(LOurs.ProducerCpu, LPeer.ProducerCpu), "report", "report",
                Format("%.1f%%", LOurs.DeliveredFraction * 100) + " / " +
                    Format("%.1f%%", LPeer.DeliveredFraction * 100));
        } else {
            Row(LWorkload, "-", LPeerName, "-", "-", "-", "report", "not run", "-");
        }
    }

    {
        const int LEntries = TcpEntries();
        const std::string LWorkload =
            "one thread over tcp into `silog listen`, window=" + std::to_string(GTcpWindow) + " (" +
            std::to_string(LEntries) + " entries a run): entries a second (ns/entry)";
        const std::string LPeerName = "the same with window=1 (one round trip a packet)";
        const TSummary LOurs = Summarize("ours/tcp_window");
        const TSummary LPeer = Summarize("ours/tcp_window1");
        const std::string LGoal = ">= 10x entries a second, 0 lost";
        if (LOurs.Present && LPeer.Present) {
            const double LRatio = LPeer.Seconds / LOurs.Seconds;
            const bool LComplete = LOurs.MinDelivered == LEntries && LPeer.MinDelivered == LEntries;
            Row(LWorkload,
                Format("%.0f/s", LEntries / LOurs.Seconds) + " (" +
                    NsPerEntry(LOurs.Seconds, LEntries) + ")",
                LPeerName,
                Format("%.0f/s", LEntries / LPeer.Seconds) + " (" +
                    NsPerEntry(LPeer.Seconds, LEntries) + ")",
                Format("%.2fx entries a second", LRatio),
                "logging thread " + NsPerEntry(LOurs.Cpu, LEntries) + " / " +
                    NsPerEntry(LPeer.Cpu, LEntries) + " ns",
                LGoal, Verdict(LRatio >= 10.0 && LComplete),
                Counted(LOurs) + " / " + Counted(LPeer));
        } else {
            Row(LWorkload, "-", LPeerName, "-", "-", "-", LGoal, "not run (no --silog)", "-");
        }
    }

    {
        const std::string LWorkload =
            Format("encrypted minus plain per entry (buffer=64, encrypt=true; %.0f bytes/entry)",
                   static_cast<double>(GPlainFileSize) / GEntries);
        const std::string LPeerName = "OpenSSL EVP AES-128-CBC over the same bytes";
        const TSummary LPlain = Summarize("ours/binary");
        const TSummary LEncrypted = Summarize("ours/encrypted");
        const TSummary LCipher = Summarize("openssl/cbc");
        if (LPlain.Present && LEncrypted.Present && LCipher.Present) {
            const double LExtra = LEncrypted.Seconds - LPlain.Seconds;
            const double LRatio = LExtra / LCipher.Seconds;
            const double LCpuRatio = (LEncrypted.Cpu - LPlain.Cpu) / LCipher.Cpu;
            const bool LOnCpu = !GJudgeWall;
            Row(LWorkload,
                NsPerEntry(LExtra) + " (" + NsPerEntry(LEncrypted.Seconds) + " - " +
                    NsPerEntry(LPlain.Seconds) + ")",
                LPeerName, NsPerEntry(LCipher.Seconds), Judged(Format("%.2fx", LRatio), !LOnCpu),
                Judged(CpuRatio(LEncrypted.Cpu - LPlain.Cpu, LCipher.Cpu), LOnCpu), "<= 1.2x",
                Verdict((LOnCpu ? LCpuRatio : LRatio) <= 1.2), Counted(LEncrypted) + " / -");
        } else {
            Row(LWorkload, "-", LPeerName, "-", "-", "-", "<= 1.2x", "not run", "-");
        }
    }
}

void PrintAllocations() {
    std::printf(
        "\nAllocations per entry after %d entries of warm-up (all threads of the process, "
        "counted until the file is written and closed):\n\n",
        kWarmUp);
    std::printf("| path | ours | spdlog |\n|---|---|---|\n");
    std::printf("| synchronous (binary file, buffer=64 / basic file sink) | %.4f | %.4f |\n",
                OursAllocations("buffer=64"), SpdlogSyncAllocations());
    std::printf("| asynchronous (throttled / block, 8192 slots) | %.4f | %.4f |\n",
                OursAllocations("buffer=64, async.enabled=true, async.throttle=true"),
                SpdlogAsyncAllocations());
}

// Takes our options out of argv; returns false on a bad value.
bool ParseOptions(int& argc, char** argv) {
    int LOut = 1;
    for (int LIndex = 1; LIndex < argc; ++LIndex) {
        const std::string_view LArg = argv[LIndex];
        int* LTarget = LArg == "--entries" ? &GEntries : LArg == "--reps" ? &GReps : nullptr;
        if (LTarget) {
            if (LIndex + 1 >= argc) return false;
            const std::string_view LValue = argv[++LIndex];
            const auto LResult =
                std::from_chars(LValue.data(), LValue.data() + LValue.size(), *LTarget);
            if (LResult.ec != std::errc() || LResult.ptr != LValue.data() + LValue.size() ||
                *LTarget < 1) {
                return false;
            }
            continue;
        }
        if (LArg == "--judge-wall") {
            GJudgeWall = true;
            continue;
        }
        if (LArg == "--silog") {
            if (LIndex + 1 >= argc) return false;
            GSilog = argv[++LIndex];
            continue;
        }
        if (LArg == "--tcp-window") {
            if (LIndex + 1 >= argc) return false;
            const std::string_view LValue = argv[++LIndex];
            const auto LResult =
                std::from_chars(LValue.data(), LValue.data() + LValue.size(), GTcpWindow);
            if (LResult.ec != std::errc() || LResult.ptr != LValue.data() + LValue.size() ||
                GTcpWindow < 1 || GTcpWindow > TSiTcpProtocol::kMaxWindow) {
                return false;
            }
            continue;
        }
        if (LArg == "--help" || LArg == "-h") return false;
        argv[LOut++] = argv[LIndex];
    }
    argc = LOut;
    argv[argc] = nullptr;
    return GEntries >= kThreads;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv)) {
        std::fprintf(stderr,
                     "usage: log_table [--entries N (default 1000000, at least %d)] [--reps R "
                     "(default 5)] [--judge-wall] [--silog PATH] [--tcp-window W (1 to %d)] "
                     "[--benchmark_... options]\n",
                     kThreads, TSiTcpProtocol::kMaxWindow);
        return 2;
    }
    // The repetitions of all workloads run shuffled, so that a change of load on the machine
    // falls on both sides of a ratio alike (a later option on the command line can turn it off).
    std::string LInterleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> LArgs{argv[0], LInterleave.data()};
    LArgs.insert(LArgs.end(), argv + 1, argv + argc);
    int LArgCount = static_cast<int>(LArgs.size());
    LArgs.push_back(nullptr);
    benchmark::Initialize(&LArgCount, LArgs.data());
    if (benchmark::ReportUnrecognizedArguments(LArgCount, LArgs.data())) return 2;

    SiRegisterDefaultProtocols();
    GLoadBefore = LoadAverage();
    ChooseDirectory();
    std::fprintf(stderr, "log_table: %d entries, %d runs per workload, files in %s\n", GEntries,
                 GReps, GDir.c_str());
    Calibrate();

    const auto Ours = [](std::string AProtocol, const char* AFile, std::string AOptions,
                         TReadBack AReadBack) {
        return [=] { return OursSingle(AProtocol, AFile, AOptions, AReadBack); };
    };
    Register("ours/filtered", OursFiltered);
    Register("spdlog/filtered", SpdlogFiltered);
    Register("ours/text", Ours("text", "ours_text.log", "buffer=64", TReadBack::Text));
    Register("spdlog/text_line", SpdlogSingle);
    Register("ours/binary", Ours("file", "ours_binary.sil", "buffer=64", TReadBack::Binary));
    Register("ours/flushed", Ours("file", "ours_flushed.sil", "buffer=0", TReadBack::Binary));
    Register("write/per_record", WritePerRecord);
    Register("ours/threads", [] { return OursThreads("ours_threads.sil", "buffer=64"); });
    Register("spdlog/threads", SpdlogThreads);
    Register("ours/async_throttled",
             Ours("file", "ours_async.sil", "buffer=64, async.enabled=true, async.throttle=true",
                  TReadBack::Binary));
    Register("spdlog/async_block",
             [] { return SpdlogAsync(spdlog::async_overflow_policy::block); });
    Register("ours/async_unbounded",
             Ours("file", "ours_async_unbounded.sil",
                  std::string("buffer=64, async.enabled=true, ") + kNeverFull, TReadBack::Binary));
    Register("ours/async_threads", [] {
        return OursThreads("ours_async_threads.sil",
                           std::string("buffer=64, async.enabled=true, ") + kNeverFull);
    });
#if LOG_TABLE_QUILL
    Register("quill/single", [] { return QuillRun(1); });
    Register("quill/threads", [] { return QuillRun(kThreads); });
#endif
    Register("ours/async_trim",
             Ours("file", "ours_trim.sil", "buffer=64, async.enabled=true, async.throttle=false",
                  TReadBack::Binary));
    Register("spdlog/async_overrun",
             [] { return SpdlogAsync(spdlog::async_overflow_policy::overrun_oldest); });
    Register("ours/encrypted", Ours("file", "ours_encrypted.sil",
                                    std::string("buffer=64, encrypt=true, key=\"") + kKey + "\"",
                                    TReadBack::Encrypted));
    Register("openssl/cbc", OpenSslCbc);
    if (!GSilog.empty()) {
        Register("ours/tcp_window", [] { return OursTcp(GTcpWindow); });
        Register("ours/tcp_window1", [] { return OursTcp(1); });
    }

    TSilentReporter LReporter;
    benchmark::RunSpecifiedBenchmarks(&LReporter);
    benchmark::Shutdown();

    PrintTable();
    PrintAllocations();
    std::error_code LIgnored;
    fs::remove_all(GDir, LIgnored);
    return 0;
}
