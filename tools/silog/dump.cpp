// silog dump: prints the packets of binary log files (plain or encrypted) and memory dumps,
// and with --follow the packets appended to a growing log file.
#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

#include "logging/config/lookup_table.h"
#include "logging/format/text_formatter.h"
#include "logging/io/file_helper.h"
#include "tools/silog/commands.h"
#include "tools/silog/file_source.h"
#include "tools/silog/interrupt.h"
#include "tools/silog/log_reader.h"
#include "tools/silog/packet_filter.h"
#include "tools/silog/packet_printer.h"

namespace deruz::silog {

namespace {

using namespace deruz::logging;

constexpr const char* kHelp =
    "usage: silog dump [--key KEY] [--format text|json] [--pattern PATTERN] [--resync]\n"
    "                  [--session NAME]... [--min-level LEVEL] [--since TIME] [--until TIME]\n"
    "                  [--count N] FILE...\n"
    "       silog dump --follow [OPTIONS] FILE\n"
    "\n"
    "Prints every packet of binary log files (\"SILF\"), encrypted log files (\"SILE\", with\n"
    "--key, the file protocol's key option) and binary memory dumps, one line each; text log\n"
    "files and text memory dumps are printed as they are, with control characters escaped.\n"
    "A file that cannot be read, is empty or is no log file is reported with its name and\n"
    "the reason, and dump goes on with the next file. A wrong key, a truncated file or a\n"
    "corrupt packet is reported with the file and offset after everything before it was\n"
    "printed; with --resync dump then goes on at the next well-formed packet and says how\n"
    "many bytes it skipped. The exit status is 1 after any such error.\n"
    "\n"
    "--follow keeps printing the packets appended to FILE, as tail -f does, until Ctrl+C (or\n"
    "until N packets were printed with --count). When FILE is replaced by a new file of the\n"
    "same name, or when FILE is the base name of a rotating file protocol and a newer file\n"
    "of that base name appears, dump goes on with the new file.\n"
    "\n"
    "Filters: --session NAME (repeatable) and --min-level LEVEL (debug, verbose, message,\n"
    "warning, error, fatal; compared with the entry type) select log entries; --since and\n"
    "--until TIME (local time: yyyy-mm-dd, yyyy-mm-dd hh:nn[:ss[.zzz]] or hh:nn[:ss] for\n"
    "today; both inclusive) select the packets that carry a timestamp.\n";

// What a dump prints to, how, and how far.
struct TDumpContext {
    TCommandIo& Io;
    TPacketPrinter& Printer;
    const TPacketFilter& Filter;
    std::uint64_t Count = 0;  // 0: no limit
    std::uint64_t Printed = 0;
    bool Failed = false;

    bool Full() const { return Count != 0 && Printed >= Count; }
};

// Handles one step of a reader. Returns false when the file is done.
bool Handle(const std::string& APath, const TLogStep& AStep, TDumpContext& AContext) {
    switch (AStep.What) {
        case TLogStep::lsPacket:
            if (AContext.Filter.Matches(*AStep.Packet)) {
                AContext.Printer.Print(*AStep.Packet);
                ++AContext.Printed;
            }
            return !AContext.Full();
        case TLogStep::lsText:
            AContext.Io.Out << AStep.Text;
            AContext.Io.Out.flush();
            return true;
        case TLogStep::lsDamage:
        case TLogStep::lsFailure:
            AContext.Failed = true;
            [[fallthrough]];
        case TLogStep::lsSkipped:
            AContext.Io.Out.flush();
            AContext.Io.Err << APath << ": " << AStep.Message << std::endl;
            return AStep.What != TLogStep::lsFailure;
        case TLogStep::lsWait:
            return true;
        case TLogStep::lsEnd:
            return false;
    }
    return false;
}

std::unique_ptr<TLogReader> OpenReader(const std::string& APath, const TLogReaderOptions& AOptions,
                                       TDumpContext& AContext) {
    auto LReader = std::make_unique<TLogReader>(AOptions);
    std::string LError;
    if (!LReader->Open(APath, LError)) {
        AContext.Io.Err << APath << ": " << LError << std::endl;
        AContext.Failed = true;
        return nullptr;
    }
    return LReader;
}

void DumpFile(const std::string& APath, const TLogReaderOptions& AOptions, TDumpContext& AContext) {
    auto LReader = OpenReader(APath, AOptions, AContext);
    if (!LReader) return;
    try {
        while (Handle(APath, LReader->Next(), AContext)) {
        }
    } catch (const std::exception& LE) {
        AContext.Io.Err << APath << ": " << LE.what() << std::endl;
        AContext.Failed = true;
    }
}

void Follow(const std::string& APath, const TLogReaderOptions& AOptions, TDumpContext& AContext) {
    using namespace std::chrono_literals;
    InstallInterruptHandler();
    bool LBaseName = false;
    std::string LCurrent = FirstFollowedFile(APath, LBaseName);
    auto LReader = OpenReader(LCurrent, AOptions, AContext);
    if (!LReader) return;
    try {
        while (!Interrupted()) {
            const TLogStep LStep = LReader->Next();
            if (!Handle(LCurrent, LStep, AContext)) return;
            if (LStep.What != TLogStep::lsWait) continue;
            const std::string LNext = NextFollowedFile(APath, LBaseName, LCurrent, *LReader);
            if (LNext.empty()) {
                std::this_thread::sleep_for(100ms);
                continue;
            }
            // What was written to the old file before the switch is printed first.
            for (TLogStep LRest = LReader->Next(); LRest.What != TLogStep::lsWait;
                 LRest = LReader->Next()) {
                if (!Handle(LCurrent, LRest, AContext)) return;
            }
            // The new file may be gone again before it opens (moved away at once): then the
            // wait goes on for the one after it instead of ending the follow.
            auto LNextReader = std::make_unique<TLogReader>(AOptions);
            std::string LError;
            if (!LNextReader->Open(LNext, LError)) {
                if (!TFileSource::IdentityOf(LNext)) continue;
                AContext.Io.Err << LNext << ": " << LError << std::endl;
                AContext.Failed = true;
                return;
            }
            LCurrent = LNext;
            AContext.Io.Err << "silog: following " << LCurrent << std::endl;
            LReader = std::move(LNextReader);
        }
    } catch (const std::exception& LE) {
        AContext.Io.Err << LCurrent << ": " << LE.what() << std::endl;
        AContext.Failed = true;
    }
}

}  // namespace

int RunDump(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    std::vector<std::string> LValueOptions = {"--key", "--format", "--pattern", "--count"};
    LValueOptions.insert(LValueOptions.end(), TPacketFilter::Options().begin(),
                         TPacketFilter::Options().end());
    const TArgs LArgs(AArgs, LValueOptions, {"--help", "--resync", "--follow"});
    if (LArgs.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const std::string LFormat = LArgs.Value("--format").value_or("text");
    const bool LFollow = LArgs.Flag("--follow");
    std::string LUsage;
    std::optional<TPacketFilter> LFilter;
    std::uint64_t LCount = 0;
    if (!LArgs.Ok()) {
        LUsage = LArgs.Error();
    } else if (LArgs.Positional().empty()) {
        LUsage = "give at least one file";
    } else if (LFollow && LArgs.Positional().size() != 1) {
        LUsage = "--follow takes exactly one file";
    } else if (LFormat != "text" && LFormat != "json") {
        LUsage = "unknown format '" + LFormat + "'";
    } else if (LFilter = TPacketFilter::FromArgs(LArgs, LUsage); LFilter) {
        try {
            if (const auto LN = LArgs.Value("--count")) LCount = std::stoull(*LN);
        } catch (const std::exception&) {
            LUsage = "--count takes a number";
        }
    }
    if (!LUsage.empty()) {
        AIo.Err << "silog dump: " << LUsage << "\n" << kHelp;
        return 2;
    }
    TLogReaderOptions LOptions;
    LOptions.Resync = LArgs.Flag("--resync");
    LOptions.Follow = LFollow;
    if (const auto LKeyText = LArgs.Value("--key")) {
        // The same conversion as the file protocol's "key" option.
        TSiLookupTable LTable;
        LTable.Put("key", *LKeyText);
        LOptions.Key = LTable.GetBytesValue("key", 16, {});
    }
    TPacketPrinter LPrinter(AIo.Out, LFormat == "json" ? TOutputFormat::Json : TOutputFormat::Text,
                            LArgs.Value("--pattern").value_or(std::string(CSiDefaultPattern)),
                            AIo.Colour);
    TDumpContext LContext{AIo, LPrinter, *LFilter, LCount};
    if (LFollow) {
        Follow(LArgs.Positional()[0], LOptions, LContext);
    } else {
        for (const auto& LPath : LArgs.Positional()) {
            if (LContext.Full()) break;
            DumpFile(LPath, LOptions, LContext);
        }
    }
    return LContext.Failed ? 1 : 0;
}

}  // namespace deruz::silog
