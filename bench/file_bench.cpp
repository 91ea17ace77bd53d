// File logging throughput: 1,000,000 log entries "message %d" per iteration into a log file.
//
// - Text: the text protocol with its default pattern and "buffer" set, through a logger core
//   and a session, against spdlog's basic file sink writing the same line.
// - Buffered: the binary file protocol with "buffer" set (64 KB), through a logger core and a
//   session (the whole cost of a LogMessage call) and with log entries built directly and
//   written to the protocol (the protocol's own cost), against spdlog's basic file sink with
//   the text protocol's line and with a pattern that carries what a binary entry carries
//   (time, session, level, process, thread, message).
// - Flushed: the file protocol without "buffer", which writes every packet to the system,
//   against a loop that formats "message %d" and calls write(2) once per message, with the
//   text line alone and padded to the size of the binary packet.
// - Encrypted: the buffered protocol with "encrypt" against the same without it.
//
// The counter allocs_per_entry of the session runs counts global allocations per LogMessage.
// After the runs the program prints the ratios of the pairs. Files go to the system's
// temporary folder and are removed afterwards.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/alloc_counter.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/format/binary_formatter.h"
#include "logging/protocols/file_protocol.h"

namespace {

using namespace deruz::logging;
namespace fs = std::filesystem;

constexpr int kEntries = 1'000'000;
// Bytes of an entry's binary packet besides its title: packet header, entry header, session
// and application name.
constexpr int kPacketOverhead = 6 + 48 + 4 + 10;

std::string FilePath(const char* AName) {
    return (fs::temp_directory_path() / AName).string();
}

// Through the logger core and a session, as application code logs: AProtocol writing to the
// temporary file AFileName with AOptions.
void LogWithSession(benchmark::State& AState, const std::string& AProtocol, const char* AFileName,
                    const std::string& AOptions) {
    const std::string LPath = FilePath(AFileName);
    std::uint64_t LAllocations = 0;
    for (auto _ : AState) {
        TSiLogger LLogger("file_bench");
        LLogger.SetConnections(AProtocol + "(filename=\"" + LPath + "\", " + AOptions + ")");
        LLogger.SetEnabled(true);
        TSiSession* LSession = LLogger.AddSession("Main");
        const std::uint64_t LBefore = BenchAllocations();
        for (int LIndex = 0; LIndex < kEntries; ++LIndex) {
            LSession->LogMessage("message %d", {LIndex});
        }
        LAllocations += BenchAllocations() - LBefore;
        LLogger.SetEnabled(false);
    }
    AState.SetItemsProcessed(AState.iterations() * kEntries);
    // Allocations per LogMessage call (the first entry of a run allocates the spare).
    AState.counters["allocs_per_entry"] =
        static_cast<double>(LAllocations) / static_cast<double>(AState.iterations() * kEntries);
    fs::remove(LPath);
}

// The binary file protocol.
void LogThroughSession(benchmark::State& AState, const std::string& AOptions) {
    LogWithSession(AState, "file", "file_bench_session.sil", AOptions);
}

// A log entry "message <AIndex>" filled as the logger core fills one.
TSiPacketPtr MakeEntry(int AIndex) {
    char LTitle[32] = "message ";
    const auto LEnd = std::to_chars(LTitle + 8, LTitle + sizeof LTitle, AIndex).ptr;
    const auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title.assign(LTitle, LEnd);
    LEntry->Timestamp = TSiClock::Now(crStandard);
    LEntry->SessionName = "Main";
    LEntry->AppName = "file_bench";
    return LEntry;
}

// Log entries built one by one and written straight to the protocol.
void LogDirect(benchmark::State& AState, const std::string& AOptions) {
    const std::string LPath = FilePath("file_bench_direct.sil");
    for (auto _ : AState) {
        const auto LOwner = SiMakeProtocol<TSiFileProtocol>();
        TSiFileProtocol& LProtocol = *LOwner;
        LProtocol.Initialize("filename=\"" + LPath + "\", " + AOptions);
        LProtocol.Connect();
        for (int LIndex = 0; LIndex < kEntries; ++LIndex) {
            LProtocol.WritePacket(*MakeEntry(LIndex));
        }
        LProtocol.Disconnect();
    }
    AState.SetItemsProcessed(AState.iterations() * kEntries);
    fs::remove(LPath);
}

// The protocol's own cost: the entries are built beforehand, in chunks, outside the timing.
void LogPrebuilt(benchmark::State& AState, const std::string& AOptions) {
    constexpr int kChunk = 10'000;
    const std::string LPath = FilePath("file_bench_prebuilt.sil");
    std::vector<TSiPacketPtr> LChunk(kChunk);
    for (auto _ : AState) {
        const auto LOwner = SiMakeProtocol<TSiFileProtocol>();
        TSiFileProtocol& LProtocol = *LOwner;
        LProtocol.Initialize("filename=\"" + LPath + "\", " + AOptions);
        LProtocol.Connect();
        for (int LBase = 0; LBase < kEntries; LBase += kChunk) {
            AState.PauseTiming();
            for (int LIndex = 0; LIndex < kChunk; ++LIndex) {
                LChunk[LIndex] = MakeEntry(LBase + LIndex);
            }
            AState.ResumeTiming();
            for (const TSiPacketPtr& LEntry : LChunk) {
                LProtocol.WritePacket(*LEntry);
            }
        }
        LProtocol.Disconnect();
    }
    AState.SetItemsProcessed(AState.iterations() * kEntries);
    fs::remove(LPath);
}

// The text protocol with its default pattern "[%timestamp%] %level%: %title%".
void LogTextThroughSession(benchmark::State& AState) {
    LogWithSession(AState, "text", "file_bench_text.log", "buffer=64");
}

void SpdlogBasicFileSink(benchmark::State& AState, const std::string& APattern) {
    const std::string LPath = FilePath("file_bench_spdlog.txt");
    for (auto _ : AState) {
        auto LSink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(LPath, true);
        spdlog::logger LLogger("Main", LSink);
        LLogger.set_pattern(APattern);
        for (int LIndex = 0; LIndex < kEntries; ++LIndex) {
            LLogger.info("message {}", LIndex);
        }
        LLogger.flush();
    }
    AState.SetItemsProcessed(AState.iterations() * kEntries);
    fs::remove(LPath);
}

// One write(2) per message of "message %d" and a line break, padded with APadding spaces:
// 0 for the plain text line, kPacketOverhead for a record as large as the binary packet.
void WritePerMessage(benchmark::State& AState, int APadding) {
    const std::string LPath = FilePath("file_bench_write.txt");
    for (auto _ : AState) {
        const int LFile = ::open(LPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        char LLine[128];
        std::memset(LLine, ' ', sizeof LLine);
        for (int LIndex = 0; LIndex < kEntries; ++LIndex) {
            const auto LEnd = std::to_chars(LLine + 8, LLine + 32, LIndex).ptr;
            std::memcpy(LLine, "message ", 8);
            const auto LLength = static_cast<std::size_t>(LEnd - LLine + APadding + 1);
            LLine[LLength - 1] = '\n';
            const bool LWritten = ::write(LFile, LLine, LLength) == static_cast<ssize_t>(LLength);
            LLine[LLength - 1] = ' ';
            if (!LWritten) {
                AState.SkipWithError("write failed");
                break;
            }
        }
        ::close(LFile);
    }
    AState.SetItemsProcessed(AState.iterations() * kEntries);
    fs::remove(LPath);
}

const std::string kBuffered = "buffer=64";
const std::string kFlushed = "buffer=0";
const std::string kEncrypted = "buffer=64, encrypt=true, key=\"0123456789abcdef\"";

// What a binary entry carries: time, session, level, process, thread, message.
const std::string kSpdlogBinaryFields = "[%Y-%m-%d %H:%M:%S.%e] [%n] [%l] [%P:%t] %v";
// The text protocol's default line: "[2026-12-10 09:15:02.123] Message: message 1".
const std::string kSpdlogDefaultLine = "[%Y-%m-%d %H:%M:%S.%e] %l: %v";

BENCHMARK(LogTextThroughSession)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SpdlogBasicFileSink, text_line, kSpdlogDefaultLine)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogThroughSession, buffered, kBuffered)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogDirect, buffered, kBuffered)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogPrebuilt, buffered, kBuffered)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SpdlogBasicFileSink, binary_fields, kSpdlogBinaryFields)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogThroughSession, flushed, kFlushed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogDirect, flushed, kFlushed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogPrebuilt, flushed, kFlushed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WritePerMessage, text_line, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WritePerMessage, packet_sized, kPacketOverhead)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogThroughSession, encrypted, kEncrypted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogDirect, encrypted, kEncrypted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LogPrebuilt, encrypted, kEncrypted)->Unit(benchmark::kMillisecond);

// Keeps the real and CPU time per iteration of every run for the ratios.
class TRatioReporter final : public benchmark::ConsoleReporter {
  public:
    struct TTimes {
        double Real = 0;
        double Cpu = 0;
    };
    void ReportRuns(const std::vector<Run>& ARuns) override {
        for (const Run& LRun : ARuns) {
            if (!LRun.error_occurred) {
                Times[LRun.benchmark_name()] = {LRun.GetAdjustedRealTime(),
                                                LRun.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(ARuns);
    }
    std::map<std::string, TTimes> Times;
};

void PrintRatio(const TRatioReporter& AReporter, const std::string& AOurs, const std::string& APeer,
                double AGoal) {
    // With repetitions the medians count, as they suffer least from other load.
    const auto LFind = [&AReporter](const std::string& AName) {
        const auto LMedian = AReporter.Times.find(AName + "_median");
        return LMedian != AReporter.Times.end() ? LMedian : AReporter.Times.find(AName);
    };
    const auto LOurs = LFind(AOurs);
    const auto LPeer = LFind(APeer);
    if (LOurs == AReporter.Times.end() || LPeer == AReporter.Times.end()) {
        return;
    }
    const double LCpu = LOurs->second.Cpu / LPeer->second.Cpu;
    const double LReal = LOurs->second.Real / LPeer->second.Real;
    std::printf("%-28s / %-26s  cpu %5.2f  real %5.2f  (goal <= %.1f)\n", AOurs.c_str(),
                APeer.c_str(), LCpu, LReal, AGoal);
}

}  // namespace

int main(int argc, char** argv) {
    SiRegisterDefaultProtocols();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::printf("binary packet of \"message 123456\": %zu bytes, padded write: %d bytes\n",
                SiFormatBinary(*MakeEntry(123456)).size(), kPacketOverhead + 15);
    TRatioReporter LReporter;
    benchmark::RunSpecifiedBenchmarks(&LReporter);
    benchmark::Shutdown();
    std::printf(
        "\nRatios of the time per iteration (CPU time: user and system time of the process;\n"
        "real time suffers most from other load on the machine):\n");
    PrintRatio(LReporter, "LogTextThroughSession", "SpdlogBasicFileSink/text_line", 0.8);
    for (const char* LPath : {"LogThroughSession", "LogDirect", "LogPrebuilt"}) {
        const std::string LOurs(LPath);
        PrintRatio(LReporter, LOurs + "/buffered", "SpdlogBasicFileSink/text_line", 0.4);
        PrintRatio(LReporter, LOurs + "/buffered", "SpdlogBasicFileSink/binary_fields", 0.4);
        PrintRatio(LReporter, LOurs + "/flushed", "WritePerMessage/text_line", 1.1);
        PrintRatio(LReporter, LOurs + "/flushed", "WritePerMessage/packet_sized", 1.1);
        PrintRatio(LReporter, LOurs + "/encrypted", LOurs + "/buffered", 1.2);
    }
    return 0;
}
