// Log sessions: what each family of log methods sends (packet kinds, types, viewers, levels,
// titles, data), the level test in front of every method, the format and instance forms with
// their internal errors, counters and checkpoints, data entries, exceptions, control commands
// and the information entries.
#include "logging/core/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <numeric>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "logging/base/si_format.h"
#include "logging/base/string_list.h"
#include "logging/base/strings.h"
#include "logging/core/logger.h"
#include "logging/packets/packet.h"
#include "logging/packets/viewer_context.h"
#include "logging/system/system_info.h"

// Types for the instance forms, in a named namespace so that their demangled names are plain.
namespace deruz::logging::session_test {

struct TBase {
    virtual ~TBase() = default;
};
struct TWidget : TBase {};

// An object that lists its properties and events for LogObject.
struct TLoggableWidget : TBase, ISiLoggable {
    void GetProperties(std::vector<TSiLoggableProperty>& AProperties) const override {
        AProperties = {{"Width", "10"}, {"alpha", "x"}, {"Caption", "a=b"}, {"Align", "[x]"}};
    }
    void GetEvents(std::vector<TSiLoggableEvent>& AEvents) const override {
        AEvents = {{"OnPaint", reinterpret_cast<const void*>(std::uintptr_t{0x1000}), "TPainter",
                    reinterpret_cast<const void*>(std::uintptr_t{0x2000})},
                   {"OnClick", nullptr, "", nullptr}};
    }
};

// An exception that carries a stack trace.
struct ETraced : std::runtime_error, ISiStackTrace {
    ETraced() : std::runtime_error("boom") {}
    std::string StackTrace() const override { return "at Save\r\nat Main"; }
};

}  // namespace deruz::logging::session_test

namespace deruz::logging {
namespace {

using namespace session_test;

// The packets a core passed to its events, as one line each:
//   log entry     "<type>/<viewer>@<level> <title>"
//   process flow  "flow <type>@<level> <title>"
//   watch         "watch <type>@<level> <name>=<value>"
//   control cmd   "command <type>"
// plus the colour and data of every log entry.
class TRecorder {
  public:
    explicit TRecorder(TSiLogger& ALogger) {
        ALogger.SetOnLogEntry([this](TSiLogger&, TSiLogEntry& AEntry) {
            std::string LData;
            if (AEntry.GetData() != nullptr) {
                const auto LBytes = AEntry.GetData()->Bytes();
                LData.assign(LBytes.begin(), LBytes.end());
            }
            Add(std::string(CSiLogEntryTypeString[AEntry.LogEntryType]) + "/" +
                    std::string(CSiViewerIdString[AEntry.ViewerId]) + "@" +
                    std::string(CSiLevelString[AEntry.Level]) + " " + AEntry.Title,
                AEntry.Color, LData);
        });
        ALogger.SetOnProcessFlow([this](TSiLogger&, TSiProcessFlow& AFlow) {
            Add("flow " + std::string(CSiProcessFlowTypeString[AFlow.ProcessFlowType]) + "@" +
                std::string(CSiLevelString[AFlow.Level]) + " " + AFlow.Title);
        });
        ALogger.SetOnWatch([this](TSiLogger&, TSiWatch& AWatch) {
            Add("watch " + std::string(CSiWatchTypeString[AWatch.WatchType]) + "@" +
                std::string(CSiLevelString[AWatch.Level]) + " " + AWatch.Name + "=" + AWatch.Value);
        });
        ALogger.SetOnControlCommand([this](TSiLogger&, TSiControlCommand& ACommand) {
            std::string LData;
            if (ACommand.GetData() != nullptr) {
                const auto LBytes = ACommand.GetData()->Bytes();
                LData.assign(LBytes.begin(), LBytes.end());
            }
            EXPECT_EQ(ACommand.Level, lvControl);
            Add("command " + std::string(CSiControlCommandTypeString[ACommand.ControlCommandType]),
                0, LData);
        });
    }

    // The lines so far; forgets them.
    std::vector<std::string> Take() {
        std::lock_guard LLock(FLock);
        FColors.clear();
        FData.clear();
        return std::exchange(FLines, {});
    }
    std::vector<TSiColor> Colors() {
        std::lock_guard LLock(FLock);
        return FColors;
    }
    std::string LastData() {
        std::lock_guard LLock(FLock);
        return FData.empty() ? std::string() : FData.back();
    }

  private:
    void Add(std::string ALine, TSiColor AColor = 0, std::string AData = std::string()) {
        std::lock_guard LLock(FLock);
        FLines.push_back(std::move(ALine));
        FColors.push_back(AColor);
        FData.push_back(std::move(AData));
    }

    std::mutex FLock;
    std::vector<std::string> FLines;
    std::vector<TSiColor> FColors;
    std::vector<std::string> FData;
};

using TLines = std::vector<std::string>;

// One call of a session and the packets it sends with the core enabled and all thresholds
// at lvDebug (the core's default level is lvMessage).
struct TCase {
    const char* Label;
    std::function<void(TSiSession&)> Call;
    TLines Expected;
};

const std::string kBom = "\xEF\xBB\xBF";

// A number text with the thread locale's decimal separator in place of ".".
std::string Dec(const std::string& AText) {
    return SiStringReplace(AText, ".", SiThreadFormatSettings().DecimalSeparator);
}

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() {
        FLogger.SetEnabled(true);
        FSession = FLogger.AddSession("S");
    }

    void Check(const std::vector<TCase>& ACases) {
        for (const TCase& LCase : ACases) {
            SCOPED_TRACE(LCase.Label);
            LCase.Call(*FSession);
            EXPECT_EQ(FRecorder.Take(), LCase.Expected);
        }
    }

    TSiLogger FLogger{"host.exe"};
    TRecorder FRecorder{FLogger};
    TSiSession* FSession = nullptr;
};

// --- Flow ------------------------------------------------------------------------------------

const TWidget kWidget;
const TBase* const kWidgetAsBase = &kWidget;
const std::string kWidgetName = "deruz::logging::session_test::TWidget";

std::vector<TCase> FlowCases() {
    const std::string LW = kWidgetName;
    return {
        {"EnterMethod name",
         [](TSiSession& AS) { AS.EnterMethod("Load"); },
         {"EnterMethod/Title@Message Load", "flow EnterMethod@Message Load"}},
        {"EnterMethod level format",
         [](TSiSession& AS) { AS.EnterMethod(lvDebug, "Load(%d)", {7}); },
         {"EnterMethod/Title@Debug Load(7)", "flow EnterMethod@Debug Load(7)"}},
        {"EnterMethod instance through its base",
         [](TSiSession& AS) { AS.EnterMethod(kWidgetAsBase, "Paint"); },
         {"EnterMethod/Title@Message " + LW + ".Paint",
          "flow EnterMethod@Message " + LW + ".Paint"}},
        {"EnterMethod level instance format",
         [](TSiSession& AS) { AS.EnterMethod(lvVerbose, &kWidget, "Paint(%s)", {"dc"}); },
         {"EnterMethod/Title@Verbose " + LW + ".Paint(dc)",
          "flow EnterMethod@Verbose " + LW + ".Paint(dc)"}},
        {"LeaveMethod name",
         [](TSiSession& AS) { AS.LeaveMethod(lvWarning, "Load"); },
         {"LeaveMethod/Title@Warning Load", "flow LeaveMethod@Warning Load"}},
        {"LeaveMethod format",
         [](TSiSession& AS) { AS.LeaveMethod("Load(%d)", {7}); },
         {"LeaveMethod/Title@Message Load(7)", "flow LeaveMethod@Message Load(7)"}},
        {"LeaveMethod instance",
         [](TSiSession& AS) { AS.LeaveMethod(&kWidget, "Paint"); },
         {"LeaveMethod/Title@Message " + LW + ".Paint",
          "flow LeaveMethod@Message " + LW + ".Paint"}},
        {"LeaveMethod instance format",
         [](TSiSession& AS) { AS.LeaveMethod(kWidgetAsBase, "P%d", {1}); },
         {"LeaveMethod/Title@Message " + LW + ".P1", "flow LeaveMethod@Message " + LW + ".P1"}},
        {"EnterThread",
         [](TSiSession& AS) { AS.EnterThread("worker"); },
         {"flow EnterThread@Message worker"}},
        {"EnterThread level format",
         [](TSiSession& AS) { AS.EnterThread(lvDebug, "w%d", {2}); },
         {"flow EnterThread@Debug w2"}},
        {"LeaveThread",
         [](TSiSession& AS) { AS.LeaveThread(lvError, "worker"); },
         {"flow LeaveThread@Error worker"}},
        {"LeaveThread format",
         [](TSiSession& AS) { AS.LeaveThread("w%d", {2}); },
         {"flow LeaveThread@Message w2"}},
        {"EnterProcess without a name uses the core's AppName",
         [](TSiSession& AS) { AS.EnterProcess(); },
         {"flow EnterProcess@Message host.exe", "flow EnterThread@Message Main Thread"}},
        {"EnterProcess name",
         [](TSiSession& AS) { AS.EnterProcess(lvDebug, "setup"); },
         {"flow EnterProcess@Debug setup", "flow EnterThread@Debug Main Thread"}},
        {"EnterProcess format",
         [](TSiSession& AS) { AS.EnterProcess("p%d", {3}); },
         {"flow EnterProcess@Message p3", "flow EnterThread@Message Main Thread"}},
        {"LeaveProcess without a name",
         [](TSiSession& AS) { AS.LeaveProcess(lvVerbose); },
         {"flow LeaveThread@Verbose Main Thread", "flow LeaveProcess@Verbose host.exe"}},
        {"LeaveProcess name",
         [](TSiSession& AS) { AS.LeaveProcess("setup"); },
         {"flow LeaveThread@Message Main Thread", "flow LeaveProcess@Message setup"}},
        {"LeaveProcess level format",
         [](TSiSession& AS) { AS.LeaveProcess(lvDebug, "p%d", {3}); },
         {"flow LeaveThread@Debug Main Thread", "flow LeaveProcess@Debug p3"}},
        {"ResetCallstack",
         [](TSiSession& AS) { AS.ResetCallstack(); },
         {"ResetCallstack/None@Message "}},
        {"LogSeparator",
         [](TSiSession& AS) { AS.LogSeparator(lvDebug); },
         {"Separator/None@Debug "}},
        {"SendCustomProcessFlow",
         [](TSiSession& AS) { AS.SendCustomProcessFlow("t", pfLeaveProcess); },
         {"flow LeaveProcess@Message t"}},
    };
}

TEST_F(SessionTest, FlowForms) {
    Check(FlowCases());
}

TEST_F(SessionTest, TrackMethodEntersNowAndLeavesOnTheLastRelease) {
    const std::string LW = kWidgetName;
    const struct {
        const char* Label;
        std::function<ISiMethodTracker(TSiSession&)> Track;
        std::string Level;
        std::string Title;
    } LKCases[] = {
        {"name", [](TSiSession& AS) { return AS.TrackMethod("OxDde32 loaded"); }, "Message",
         "OxDde32 loaded"},
        {"level format", [](TSiSession& AS) { return AS.TrackMethod(lvDebug, "Wait %ds", {5}); },
         "Debug", "Wait 5s"},
        {"instance", [](TSiSession& AS) { return AS.TrackMethod(kWidgetAsBase, "Paint"); },
         "Message", LW + ".Paint"},
        {"level instance format",
         [](TSiSession& AS) { return AS.TrackMethod(lvError, &kWidget, "Paint(%s)", {"x"}); },
         "Error", LW + ".Paint(x)"},
    };
    for (const auto& LCase : LKCases) {
        SCOPED_TRACE(LCase.Label);
        {
            ISiMethodTracker LTracker = LCase.Track(*FSession);
            ISiMethodTracker LCopy = LTracker;
            LTracker.Reset();
            EXPECT_EQ(FRecorder.Take(),
                      (TLines{"EnterMethod/Title@" + LCase.Level + " " + LCase.Title,
                              "flow EnterMethod@" + LCase.Level + " " + LCase.Title}));
        }
        EXPECT_EQ(FRecorder.Take(),
                  (TLines{"LeaveMethod/Title@" + LCase.Level + " " + LCase.Title,
                          "flow LeaveMethod@" + LCase.Level + " " + LCase.Title}));
    }
}

TEST_F(SessionTest, TrackMethodLeavesNothingWhenTheTestFailsOrLoggingStops) {
    FSession->SetLevel(lvWarning);
    EXPECT_FALSE(FSession->TrackMethod("m"));
    EXPECT_FALSE(FSession->TrackMethod(lvMessage, &kWidget, "m%d", {1}));
    FSession->SetLevel(lvDebug);
    {
        ISiMethodTracker LTracker = FSession->TrackMethod("m");
        EXPECT_TRUE(LTracker);
        FLogger.SetEnabled(false);
    }
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"EnterMethod/Title@Message m", "flow EnterMethod@Message m"}));
}

// --- Messages, conditions, colours -----------------------------------------------------------

std::vector<TCase> MessageCases() {
    static int LTarget = 0;
    return {
        {"LogDebug", [](TSiSession& AS) { AS.LogDebug("d"); }, {"Debug/Title@Debug d"}},
        {"LogDebug format",
         [](TSiSession& AS) { AS.LogDebug("d%d", {1}); },
         {"Debug/Title@Debug d1"}},
        {"LogVerbose", [](TSiSession& AS) { AS.LogVerbose("v"); }, {"Verbose/Title@Verbose v"}},
        {"LogVerbose format",
         [](TSiSession& AS) { AS.LogVerbose("v%s", {"x"}); },
         {"Verbose/Title@Verbose vx"}},
        {"LogMessage",
         [](TSiSession& AS) { AS.LogMessage("OxDde32 logging started"); },
         {"Message/Title@Message OxDde32 logging started"}},
        {"LogMessage format",
         [](TSiSession& AS) { AS.LogMessage("Waiting %0.1fs for mutex", {2.5}); },
         {"Message/Title@Message Waiting " + Dec("2.5") + "s for mutex"}},
        {"LogWarning", [](TSiSession& AS) { AS.LogWarning("w"); }, {"Warning/Title@Warning w"}},
        {"LogWarning format",
         [](TSiSession& AS) { AS.LogWarning("w%u", {3u}); },
         {"Warning/Title@Warning w3"}},
        {"LogError", [](TSiSession& AS) { AS.LogError("e"); }, {"Error/Title@Error e"}},
        {"LogError format",
         [](TSiSession& AS) { AS.LogError("e%x", {255}); },
         {"Error/Title@Error eFF"}},
        {"LogFatal", [](TSiSession& AS) { AS.LogFatal("f"); }, {"Fatal/Title@Fatal f"}},
        {"LogFatal format",
         [](TSiSession& AS) { AS.LogFatal("%s!", {"f"}); },
         {"Fatal/Title@Fatal f!"}},
        {"LogInternalError",
         [](TSiSession& AS) { AS.LogInternalError("i"); },
         {"InternalError/Title@Error i"}},
        {"LogAssert true", [](TSiSession& AS) { AS.LogAssert(true, "a"); }, {}},
        {"LogAssert false",
         [](TSiSession& AS) { AS.LogAssert(false, "a"); },
         {"Assert/Title@Error a"}},
        {"LogAssert false format",
         [](TSiSession& AS) { AS.LogAssert(false, "a%d", {1}); },
         {"Assert/Title@Error a1"}},
        {"LogConditional true",
         [](TSiSession& AS) { AS.LogConditional(true, "c"); },
         {"Conditional/Title@Message c"}},
        {"LogConditional false",
         [](TSiSession& AS) { AS.LogConditional(lvError, false, "c"); },
         {}},
        {"LogConditional level format",
         [](TSiSession& AS) { AS.LogConditional(lvDebug, true, "c%d", {2}); },
         {"Conditional/Title@Debug c2"}},
        {"LogAssigned",
         [](TSiSession& AS) { AS.LogAssigned("p", &LTarget); },
         {"Message/Title@Message p: Assigned"}},
        {"LogAssigned null",
         [](TSiSession& AS) { AS.LogAssigned(lvDebug, "p", nullptr); },
         {"Message/Title@Message p: Not assigned"}},
        {"LogColored",
         [](TSiSession& AS) { AS.LogColored(0x8000, "g"); },
         {"Message/Title@Message g"}},
        {"LogColored level format",
         [](TSiSession& AS) { AS.LogColored(lvWarning, 0x8000, "g%d", {1}); },
         {"Message/Title@Warning g1"}},
    };
}

TEST_F(SessionTest, MessageForms) {
    Check(MessageCases());
}

TEST_F(SessionTest, EntriesCarryTheSessionColourOrTheirOwn) {
    FSession->SetColor(0x123456);
    FSession->LogMessage("session colour");
    FSession->LogText("t", "x");
    FSession->LogColored(clWindow, "window colour kept");
    FSession->LogColored(0x8000, "own colour");
    FSession->LogColored(static_cast<TSiColor>(0x12345678), "masked");
    EXPECT_EQ(FRecorder.Colors(),
              (std::vector<TSiColor>{0x123456, 0x123456, clWindow, 0x008000, 0x345678}));
}

TEST_F(SessionTest, LevelThresholds) {
    FSession->SetLevel(lvWarning);
    FSession->LogMessage("m");
    FSession->LogWarning("w");
    FSession->LogInternalError("i");
    // LogAssigned passes its own level test, then logs through LogMessage's.
    FSession->LogAssigned(lvError, "p", nullptr);
    EXPECT_EQ(FRecorder.Take(), (TLines{"Warning/Title@Warning w", "InternalError/Title@Error i"}));

    // An assertion uses lvError whatever the default level.
    FSession->SetLevel(lvDebug);
    FLogger.SetDefaultLevel(lvFatal);
    FSession->LogAssert(false, "a");
    FSession->LogString("s", "v");
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"Assert/Title@Error a", "VariableValue/Title@Fatal s = 'v'"}));
    FLogger.SetLevel(lvFatal);
    FSession->LogAssert(false, "a");
    EXPECT_EQ(FRecorder.Take(), TLines{});
}

// --- Format failures and missing instances -------------------------------------------------

TEST_F(SessionTest, FormatFailureSendsOneInternalErrorAndNothingElse) {
    const TWidget* const LWidget = &kWidget;
    const struct {
        const char* Method;
        std::function<void(TSiSession&, std::string_view)> Call;
    } LKCases[] = {
        {"EnterMethod", [](TSiSession& AS, std::string_view AF) { AS.EnterMethod(AF, {}); }},
        {"EnterMethod",
         [&](TSiSession& AS, std::string_view AF) { AS.EnterMethod(LWidget, AF, {}); }},
        {"LeaveMethod",
         [](TSiSession& AS, std::string_view AF) { AS.LeaveMethod(lvDebug, AF, {}); }},
        {"LeaveMethod",
         [&](TSiSession& AS, std::string_view AF) { AS.LeaveMethod(LWidget, AF, {}); }},
        {"TrackMethod",
         [](TSiSession& AS, std::string_view AF) { EXPECT_FALSE(AS.TrackMethod(AF, {})); }},
        {"TrackMethod",
         [&](TSiSession& AS, std::string_view AF) {
             EXPECT_FALSE(AS.TrackMethod(LWidget, AF, {}));
         }},
        {"EnterThread", [](TSiSession& AS, std::string_view AF) { AS.EnterThread(AF, {}); }},
        {"LeaveThread", [](TSiSession& AS, std::string_view AF) { AS.LeaveThread(AF, {}); }},
        {"EnterProcess", [](TSiSession& AS, std::string_view AF) { AS.EnterProcess(AF, {}); }},
        {"LeaveProcess", [](TSiSession& AS, std::string_view AF) { AS.LeaveProcess(AF, {}); }},
        {"LogColored", [](TSiSession& AS, std::string_view AF) { AS.LogColored(0xFF, AF, {}); }},
        {"LogConditional",
         [](TSiSession& AS, std::string_view AF) { AS.LogConditional(true, AF, {}); }},
        {"LogDebug", [](TSiSession& AS, std::string_view AF) { AS.LogDebug(AF, {}); }},
        {"LogVerbose", [](TSiSession& AS, std::string_view AF) { AS.LogVerbose(AF, {}); }},
        {"LogMessage", [](TSiSession& AS, std::string_view AF) { AS.LogMessage(AF, {}); }},
        {"LogWarning", [](TSiSession& AS, std::string_view AF) { AS.LogWarning(AF, {}); }},
        {"LogError", [](TSiSession& AS, std::string_view AF) { AS.LogError(AF, {}); }},
        {"LogFatal", [](TSiSession& AS, std::string_view AF) { AS.LogFatal(AF, {}); }},
        {"LogAssert", [](TSiSession& AS, std::string_view AF) { AS.LogAssert(false, AF, {}); }},
    };
    for (const auto& LCase : LKCases) {
        SCOPED_TRACE(LCase.Method);
        LCase.Call(*FSession, "x=%d");
        EXPECT_EQ(FRecorder.Take(),
                  (TLines{"InternalError/Title@Error " + std::string(LCase.Method) +
                          ": No argument for format 'x=%d'"}));
    }
    // The internal error has its own level test.
    FSession->SetLevel(lvFatal);
    FSession->LogFatal("%s", {1});
    EXPECT_EQ(FRecorder.Take(), TLines{});
}

TEST_F(SessionTest, MissingInstances) {
    const TWidget* const LNone = nullptr;
    FSession->EnterMethod(LNone, "m");
    FSession->EnterMethod(lvDebug, LNone, "m%d", {1});
    FSession->LeaveMethod(LNone, "m");
    EXPECT_FALSE(FSession->TrackMethod(LNone, "m"));
    EXPECT_FALSE(FSession->TrackMethod(LNone, "%d", {}));
    FSession->LogObject("o", LNone);
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"InternalError/Title@Error EnterMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error EnterMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error LeaveMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error TrackMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error TrackMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error LogObject: AInstance argument is not assigned"}));
}

// --- Values and watches ----------------------------------------------------------------------

std::vector<TCase> ValueCases() {
    const std::string LV = "VariableValue/Title@Message ";
    return {
        {"LogInteger", [](TSiSession& AS) { AS.LogInteger("x", 42); }, {LV + "x = 42"}},
        {"LogInteger hex keeps eight digits",
         [](TSiSession& AS) { AS.LogInteger("x", 10, true); },
         {LV + "x = 10 ($0000000A)"}},
        {"LogInteger hex negative",
         [](TSiSession& AS) { AS.LogInteger("x", -1, true); },
         {LV + "x = -1 ($FFFFFFFF)"}},
        {"LogShortint hex negative",
         [](TSiSession& AS) { AS.LogShortint("x", -1, true); },
         {LV + "x = -1 ($FFFFFFFF)"}},
        {"LogByte hex", [](TSiSession& AS) { AS.LogByte("x", 255, true); }, {LV + "x = 255 ($FF)"}},
        {"LogSmallint hex",
         [](TSiSession& AS) { AS.LogSmallint(lvDebug, "x", 300, true); },
         {"VariableValue/Title@Debug x = 300 ($012C)"}},
        {"LogWord hex",
         [](TSiSession& AS) { AS.LogWord("x", 65535, true); },
         {LV + "x = 65535 ($FFFF)"}},
        {"LogCardinal hex",
         [](TSiSession& AS) { AS.LogCardinal("x", 4294967295u, true); },
         {LV + "x = 4294967295 ($FFFFFFFF)"}},
        {"LogInt64 hex negative",
         [](TSiSession& AS) { AS.LogInt64("x", -2, true); },
         {LV + "x = -2 ($FFFFFFFFFFFFFFFE)"}},
        {"LogInt64 hex keeps sixteen digits",
         [](TSiSession& AS) { AS.LogInt64("x", 1, true); },
         {LV + "x = 1 ($0000000000000001)"}},
        {"LogInt64",
         [](TSiSession& AS) { AS.LogInt64("x", 9000000000LL); },
         {LV + "x = 9000000000"}},
        {"LogString empty", [](TSiSession& AS) { AS.LogString("s", ""); }, {LV + "s = ''"}},
        {"LogString unescaped",
         [](TSiSession& AS) { AS.LogString("s", "it's"); },
         {LV + "s = 'it's'"}},
        {"LogChar", [](TSiSession& AS) { AS.LogChar("c", 'a'); }, {LV + "c = 'a'"}},
        {"LogPChar null", [](TSiSession& AS) { AS.LogPChar("p", nullptr); }, {LV + "p = ''"}},
        {"LogWideString",
         [](TSiSession& AS) { AS.LogWideString("w", L"Gr\u00FC\u00DFe"); },
         {LV + "w = 'Gr\xC3\xBC\xC3\x9F"
               "e'"}},
        {"LogPWideChar beyond the BMP",
         [](TSiSession& AS) { AS.LogPWideChar("w", L"\U0001F600"); },
         {LV + "w = '\xF0\x9F\x98\x80'"}},
        {"LogBoolean", [](TSiSession& AS) { AS.LogBoolean("b", false); }, {LV + "b = False"}},
        {"LogDouble", [](TSiSession& AS) { AS.LogDouble("d", 1.5); }, {LV + "d = " + Dec("1.5")}},
        {"LogSingle",
         [](TSiSession& AS) { AS.LogSingle("f", 0.1f); },
         {LV + "f = " + Dec("0.100000001490116")}},
        {"LogExtended", [](TSiSession& AS) { AS.LogExtended("e", 1e20L); }, {LV + "e = 1E20"}},
        {"LogCurrency",
         [](TSiSession& AS) { AS.LogCurrency("c", TSiCurrency{125000}); },
         {LV + "c = " + Dec("12.5")}},
        {"LogDateTime",
         [](TSiSession& AS) { AS.LogDateTime("t", 45000.5); },
         {LV + "t = " + SiDateTimeToStr(45000.5, SiThreadFormatSettings())}},
        {"LogPointer",
         [](TSiSession& AS) { AS.LogPointer("p", reinterpret_cast<void*>(0x1234)); },
         {LV + "p = $00001234"}},
        {"LogPointer keeps a long address whole",
         [](TSiSession& AS) {
             AS.LogPointer("p", reinterpret_cast<void*>(std::uintptr_t{0x7FF612345678}));
         },
         {LV + "p = $7FF612345678"}},
        {"LogValue unsigned 8 bits",
         [](TSiSession& AS) { AS.LogValue("v", static_cast<std::uint8_t>(200)); },
         {LV + "v = 200"}},
        {"LogValue signed 8 bits",
         [](TSiSession& AS) { AS.LogValue("v", static_cast<std::int8_t>(-100)); },
         {LV + "v = -100"}},
        {"LogValue unsigned 32 bits",
         [](TSiSession& AS) { AS.LogValue("v", 4000000000u); },
         {LV + "v = 4000000000"}},
        {"LogValue signed 64 bits",
         [](TSiSession& AS) { AS.LogValue(lvDebug, "v", -9000000000LL); },
         {"VariableValue/Title@Debug v = -9000000000"}},
        {"LogValue Boolean", [](TSiSession& AS) { AS.LogValue("v", true); }, {LV + "v = True"}},
        {"LogValue char", [](TSiSession& AS) { AS.LogValue("v", 'q'); }, {LV + "v = 'q'"}},
        {"LogValue literal", [](TSiSession& AS) { AS.LogValue("v", "text"); }, {LV + "v = 'text'"}},
        {"LogValue string",
         [](TSiSession& AS) { AS.LogValue("v", std::string("s")); },
         {LV + "v = 's'"}},
        {"LogValue wide",
         [](TSiSession& AS) { AS.LogValue("v", std::wstring(L"w")); },
         {LV + "v = 'w'"}},
        {"LogValue float",
         [](TSiSession& AS) { AS.LogValue("v", 2.25); },
         {LV + "v = " + Dec("2.25")}},
    };
}

TEST_F(SessionTest, ValueTitles) {
    Check(ValueCases());
}

std::vector<TCase> WatchCases() {
    return {
        {"WatchString",
         [](TSiSession& AS) { AS.WatchString("s", "v"); },
         {"watch String@Message s=v"}},
        {"WatchPChar null",
         [](TSiSession& AS) { AS.WatchPChar(lvDebug, "s", nullptr); },
         {"watch String@Debug s="}},
        {"WatchWideString",
         [](TSiSession& AS) { AS.WatchWideString("s", L"\u00E9"); },
         {"watch String@Message s=\xC3\xA9"}},
        {"WatchPWideChar",
         [](TSiSession& AS) { AS.WatchPWideChar("s", L"w"); },
         {"watch String@Message s=w"}},
        {"WatchChar", [](TSiSession& AS) { AS.WatchChar("c", 'z'); }, {"watch Char@Message c=z"}},
        {"WatchBoolean",
         [](TSiSession& AS) { AS.WatchBoolean("b", true); },
         {"watch Boolean@Message b=True"}},
        {"WatchInteger hex",
         [](TSiSession& AS) { AS.WatchInteger("i", -1, true); },
         {"watch Integer@Message i=-1 ($FFFFFFFF)"}},
        {"WatchShortint hex",
         [](TSiSession& AS) { AS.WatchShortint("i", 10, true); },
         {"watch Integer@Message i=10 ($0A)"}},
        {"WatchSmallint",
         [](TSiSession& AS) { AS.WatchSmallint("i", -5); },
         {"watch Integer@Message i=-5"}},
        {"WatchByte hex",
         [](TSiSession& AS) { AS.WatchByte("i", 255, true); },
         {"watch Integer@Message i=255 ($FF)"}},
        {"WatchWord hex",
         [](TSiSession& AS) { AS.WatchWord("i", 4096, true); },
         {"watch Integer@Message i=4096 ($1000)"}},
        {"WatchCardinal hex",
         [](TSiSession& AS) { AS.WatchCardinal("i", 3000000000u, true); },
         {"watch Integer@Message i=3000000000 ($B2D05E00)"}},
        {"WatchInt64 hex",
         [](TSiSession& AS) { AS.WatchInt64(lvError, "i", -1, true); },
         {"watch Integer@Error i=-1 ($FFFFFFFFFFFFFFFF)"}},
        {"WatchDouble",
         [](TSiSession& AS) { AS.WatchDouble("f", -0.5); },
         {"watch Float@Message f=" + Dec("-0.5")}},
        {"WatchSingle",
         [](TSiSession& AS) { AS.WatchSingle("f", 0.25f); },
         {"watch Float@Message f=" + Dec("0.25")}},
        {"WatchExtended",
         [](TSiSession& AS) { AS.WatchExtended("f", 3.0L); },
         {"watch Float@Message f=3"}},
        {"WatchCurrency",
         [](TSiSession& AS) { AS.WatchCurrency("f", TSiCurrency{-5}); },
         {"watch Float@Message f=" + Dec("-0.0005")}},
        {"WatchDateTime",
         [](TSiSession& AS) { AS.WatchDateTime("t", 2.0); },
         {"watch Timestamp@Message t=" + SiDateTimeToStr(2.0, SiThreadFormatSettings())}},
        {"WatchPointer",
         [](TSiSession& AS) { AS.WatchPointer("p", reinterpret_cast<void*>(0xAB)); },
         {"watch Address@Message p=$000000AB"}},
        {"Watch unsigned 16 bits",
         [](TSiSession& AS) { AS.Watch("w", static_cast<std::uint16_t>(60000)); },
         {"watch Integer@Message w=60000"}},
        {"Watch signed 16 bits",
         [](TSiSession& AS) { AS.Watch(lvDebug, "w", static_cast<std::int16_t>(-7)); },
         {"watch Integer@Debug w=-7"}},
        {"Watch char", [](TSiSession& AS) { AS.Watch("w", 'c'); }, {"watch Char@Message w=c"}},
        {"Watch literal", [](TSiSession& AS) { AS.Watch("w", "s"); }, {"watch String@Message w=s"}},
        {"Watch Boolean",
         [](TSiSession& AS) { AS.Watch("w", false); },
         {"watch Boolean@Message w=False"}},
        {"Watch float", [](TSiSession& AS) { AS.Watch("w", 1.0f); }, {"watch Float@Message w=1"}},
        {"SendCustomWatch",
         [](TSiSession& AS) { AS.SendCustomWatch("o", "obj", wtObject); },
         {"watch Object@Message o=obj"}},
    };
}

TEST_F(SessionTest, WatchValuesAndTypes) {
    Check(WatchCases());
}

// --- Counters and checkpoints ---------------------------------------------------------------

std::vector<TCase> CounterCases() {
    return {
        {"counters count without regard to case",
         [](TSiSession& AS) {
             AS.IncCounter("c");
             AS.IncCounter("C");
             AS.DecCounter(lvDebug, "c");
         },
         {"watch Integer@Message c=1", "watch Integer@Message C=2", "watch Integer@Debug c=1"}},
        {"a reset counter starts again from 0",
         [](TSiSession& AS) {
             AS.ResetCounter("C");
             AS.DecCounter("c");
         },
         {"watch Integer@Message c=-1"}},
        {"unnamed checkpoints are numbered",
         [](TSiSession& AS) {
             AS.AddCheckpoint();
             AS.AddCheckpoint(lvDebug);
         },
         {"Checkpoint/Title@Message Checkpoint #1", "Checkpoint/Title@Debug Checkpoint #2"}},
        {"named checkpoints count without regard to case",
         [](TSiSession& AS) {
             AS.AddCheckpoint("a");
             AS.AddCheckpoint("A");
             AS.AddCheckpoint(lvVerbose, "a", "saving");
         },
         {"Checkpoint/Title@Message a #1", "Checkpoint/Title@Message A #2",
          "Checkpoint/Title@Verbose a #3 (saving)"}},
        {"resets start the numbering again",
         [](TSiSession& AS) {
             AS.ResetCheckpoint();
             AS.ResetCheckpoint("A");
             AS.AddCheckpoint();
             AS.AddCheckpoint("a");
         },
         {"Checkpoint/Title@Message Checkpoint #1", "Checkpoint/Title@Message a #1"}},
    };
}

TEST_F(SessionTest, CountersAndCheckpoints) {
    Check(CounterCases());
}

TEST_F(SessionTest, CountersAndCheckpointsFromManyThreads) {
    constexpr int LKThreads = 4;
    constexpr int LCalls = 250;
    std::vector<std::thread> LThreads;
    for (int LThread = 0; LThread < LKThreads; ++LThread) {
        LThreads.emplace_back([this] {
            for (int LCall = 0; LCall < LCalls; ++LCall) {
                FSession->IncCounter("n");
                FSession->AddCheckpoint();
            }
        });
    }
    for (std::thread& LThread : LThreads) LThread.join();
    std::vector<int> LCounters;
    std::vector<int> LCheckpoints;
    for (const std::string& LLine : FRecorder.Take()) {
        const std::size_t LNumber = LLine.find_last_of("=#") + 1;
        (LLine[LNumber - 1] == '=' ? LCounters : LCheckpoints)
            .push_back(std::stoi(LLine.substr(LNumber)));
    }
    std::sort(LCounters.begin(), LCounters.end());
    std::sort(LCheckpoints.begin(), LCheckpoints.end());
    std::vector<int> LExpected(LKThreads * LCalls);
    std::iota(LExpected.begin(), LExpected.end(), 1);
    EXPECT_EQ(LCounters, LExpected);
    EXPECT_EQ(LCheckpoints, LExpected);
}

// --- Data entries ---------------------------------------------------------------------------

// A file of a few bytes in the test's temporary folder.
std::string FixtureFile() {
    static const std::string LPath = [] {
        std::string LName = ::testing::TempDir() + "session_data.bin";
        std::ofstream(LName, std::ios::binary) << std::string("\x00\x01\xFFpng", 6);
        return LName;
    }();
    return LPath;
}

// Position 2 of a stream of the bytes "abcd".
TSiMemoryStream* FixtureStream() {
    static TSiMemoryStream LStream;
    LStream.SetSize(0);
    LStream.SetPosition(0);
    LStream.WriteBuffer("abcd", 4);
    LStream.SetPosition(2);
    return &LStream;
}

std::vector<TCase> DataCases() {
    const std::string LF = FixtureFile();
    return {
        {"LogText", [](TSiSession& AS) { AS.LogText("t", "x"); }, {"Text/Data@Message t"}},
        {"LogHtml",
         [](TSiSession& AS) { AS.LogHtml(lvDebug, "t", "<b>"); },
         {"WebContent/Web@Debug t"}},
        {"LogSource",
         [](TSiSession& AS) { AS.LogSource("t", "print()", siPython); },
         {"Source/PythonSource@Message t"}},
        {"LogSql",
         [](TSiSession& AS) { AS.LogSql("t", "select 1"); },
         {"Source/SqlSource@Message t"}},
        {"LogCustomText",
         [](TSiSession& AS) { AS.LogCustomText("t", "x", ltComment, viList); },
         {"Comment/List@Message t"}},
        {"LogTextFile titled by its file name",
         [](TSiSession& AS) { AS.LogTextFile(FixtureFile()); },
         {"Text/Data@Message " + LF}},
        {"LogHtmlFile",
         [](TSiSession& AS) { AS.LogHtmlFile("t", FixtureFile()); },
         {"WebContent/Web@Message t"}},
        {"LogSourceFile",
         [](TSiSession& AS) { AS.LogSourceFile(lvDebug, FixtureFile(), siXml); },
         {"Source/XmlSource@Debug " + LF}},
        {"LogBinaryFile",
         [](TSiSession& AS) { AS.LogBinaryFile("t", FixtureFile()); },
         {"Binary/Binary@Message t"}},
        {"LogBitmapFile",
         [](TSiSession& AS) { AS.LogBitmapFile(FixtureFile()); },
         {"Graphic/Bitmap@Message " + LF}},
        {"LogJpegFile",
         [](TSiSession& AS) { AS.LogJpegFile("t", FixtureFile()); },
         {"Graphic/Jpeg@Message t"}},
        {"LogIconFile",
         [](TSiSession& AS) { AS.LogIconFile(lvError, "t", FixtureFile()); },
         {"Graphic/Icon@Error t"}},
        {"LogMetafileFile",
         [](TSiSession& AS) { AS.LogMetafileFile("t", FixtureFile()); },
         {"Graphic/Metafile@Message t"}},
        {"LogCustomFile",
         [](TSiSession& AS) { AS.LogCustomFile(FixtureFile(), ltSystem, viTable); },
         {"System/Table@Message " + LF}},
        {"LogTextStream",
         [](TSiSession& AS) { AS.LogTextStream("t", FixtureStream()); },
         {"Text/Data@Message t"}},
        {"LogHtmlStream",
         [](TSiSession& AS) { AS.LogHtmlStream("t", FixtureStream()); },
         {"WebContent/Web@Message t"}},
        {"LogSourceStream",
         [](TSiSession& AS) { AS.LogSourceStream("t", FixtureStream(), siJavaScript); },
         {"Source/JavaScriptSource@Message t"}},
        {"LogBinaryStream",
         [](TSiSession& AS) { AS.LogBinaryStream("t", FixtureStream()); },
         {"Binary/Binary@Message t"}},
        {"LogStream",
         [](TSiSession& AS) { AS.LogStream(lvDebug, "t", FixtureStream()); },
         {"Binary/Binary@Debug t"}},
        {"LogBitmapStream",
         [](TSiSession& AS) { AS.LogBitmapStream("t", FixtureStream()); },
         {"Graphic/Bitmap@Message t"}},
        {"LogJpegStream",
         [](TSiSession& AS) { AS.LogJpegStream("t", FixtureStream()); },
         {"Graphic/Jpeg@Message t"}},
        {"LogIconStream",
         [](TSiSession& AS) { AS.LogIconStream("t", FixtureStream()); },
         {"Graphic/Icon@Message t"}},
        {"LogMetafileStream",
         [](TSiSession& AS) { AS.LogMetafileStream("t", FixtureStream()); },
         {"Graphic/Metafile@Message t"}},
        {"LogCustomStream",
         [](TSiSession& AS) { AS.LogCustomStream("t", FixtureStream(), ltObject, viInspector); },
         {"Object/Inspector@Message t"}},
        {"LogMemory",
         [](TSiSession& AS) {
             static const char LKBytes[] = "mem";
             AS.LogMemory("t", LKBytes, 3);
         },
         {"Binary/Binary@Message t"}},
        {"SendCustomLogEntry without data",
         [](TSiSession& AS) { AS.SendCustomLogEntry("t", ltComment, viTitle, nullptr); },
         {"Comment/Title@Message t"}},
        {"SendCustomLogEntry with data",
         [](TSiSession& AS) { AS.SendCustomLogEntry("t", ltText, viData, FixtureStream()); },
         {"Text/Data@Message t"}},
    };
}

TEST_F(SessionTest, DataEntryTypesAndViewers) {
    Check(DataCases());
}

TEST_F(SessionTest, DataBytes) {
    // A text goes as a byte order mark and UTF-8.
    FSession->LogText("t", "h\xC3\xA9llo\r\n");
    EXPECT_EQ(FRecorder.LastData(), kBom + "h\xC3\xA9llo\r\n");
    // Files and streams go unchanged, streams whole and put back at their position.
    FSession->LogTextFile(FixtureFile());
    EXPECT_EQ(FRecorder.LastData(), std::string("\x00\x01\xFFpng", 6));
    TSiMemoryStream* LStream = FixtureStream();
    FSession->LogBinaryStream("s", LStream);
    EXPECT_EQ(FRecorder.LastData(), "abcd");
    EXPECT_EQ(LStream->GetPosition(), 2);
    const unsigned char LKBytes[] = {0, 0x80, 0xFF};
    FSession->LogMemory("m", LKBytes, 3);
    EXPECT_EQ(FRecorder.LastData(), std::string("\x00\x80\xFF", 3));
    TSiStringList LList;
    LList.Add("a");
    LList.Add("b=c");
    FSession->LogStringList("l", &LList);
    EXPECT_EQ(FRecorder.LastData(), kBom + "a\r\nb=c\r\n");
    EXPECT_EQ(FRecorder.Take().back(), "Text/List@Message l");
}

TEST_F(SessionTest, DataFailuresBecomeInternalErrors) {
    const std::string LI = "InternalError/Title@Error ";
    FSession->LogTextStream("t", nullptr);
    FSession->SendCustomLogEntry("t", ltBinary, viBinary, nullptr);  // a plain entry
    FSession->LogMemory("m", nullptr, 1);
    const char LByte = 0;
    FSession->LogMemory("m", &LByte, -1);
    FSession->LogStringList("l", nullptr);
    FSession->LogCustomContext("c", ltText, nullptr);
    FSession->LogSource("s", "x", static_cast<TSiSourceId>(200));
    EXPECT_EQ(FRecorder.Take(), (TLines{LI + "LogCustomStream: AStream argument is not assigned",
                                        "Binary/Binary@Message t",
                                        LI + "LogMemory: AAddress argument is not assigned",
                                        LI + "LogMemory: ASize argument is negative",
                                        LI + "LogStringList: AStrings argument is not assigned",
                                        LI + "LogCustomContext: AContext argument is not assigned",
                                        "Source/Data@Message s"}));
    const std::string LMissing = ::testing::TempDir() + "no_such_file.txt";
    FSession->LogHtmlFile(LMissing);
    const TLines LLines = FRecorder.Take();
    ASSERT_EQ(LLines.size(), 1u);
    EXPECT_EQ(LLines[0].rfind(LI + "LogCustomFile: Cannot open file \"" + LMissing + "\". ", 0), 0u)
        << LLines[0];
}

// --- Exceptions and system errors -----------------------------------------------------------

TEST_F(SessionTest, LogExceptionTexts) {
    const std::string LE = "Error/Title@Error ";
    const std::runtime_error LError("disk\r\nfull");
    FSession->LogException(LError, "Saving");
    FSession->LogException(LError, " \t ");
    FSession->LogException(ESiError("bad\nvalue"));
    FSession->LogException(static_cast<const std::exception*>(nullptr), "x");
    EXPECT_EQ(
        FRecorder.Take(),
        (TLines{LE + "Saving: Exception std::runtime_error: disk full",
                LE + "Exception std::runtime_error: disk full",
                LE + "Exception deruz::logging::ESiError: bad value",
                "InternalError/Title@Error LogException: AException argument is not assigned"}));

    // With a stack trace: an error text entry at the default level, the trace as data.
    FSession->LogException(ETraced(), "T");
    const std::string LTitle = "T: Exception deruz::logging::session_test::ETraced: boom";
    EXPECT_EQ(FRecorder.LastData(), kBom + LTitle + "\r\n\r\nat Save\r\nat Main");
    EXPECT_EQ(FRecorder.Take(), (TLines{"Error/Data@Message " + LTitle}));
}

TEST_F(SessionTest, LogExceptionOfTheHandledException) {
    const std::string LE = "Error/Title@Error ";
    FSession->LogException("outside");
    try {
        throw std::out_of_range("index\r\n 7");
    } catch (...) {
        FSession->LogException("T");
    }
    try {
        throw 42;
    } catch (int) {
        FSession->LogException();
    }
    try {
        throw std::length_error(std::string(3000, 'x'));
    } catch (const std::exception&) {
        FSession->LogException();
    }
    const TLines LLines = FRecorder.Take();
    ASSERT_EQ(LLines.size(), 4u);
    EXPECT_EQ(LLines[0],
              "InternalError/Title@Error LogException: There is no exception handled currently");
    EXPECT_EQ(LLines[1], LE + "T: std::out_of_range: index  7");
    EXPECT_EQ(LLines[2], LE + "int");
    EXPECT_EQ(LLines[3], LE + "std::length_error: " + std::string(2048 - 19, 'x'));
}

TEST_F(SessionTest, ExceptionHandlerWrapsTheExceptionInItsMethod) {
    FSession->ExceptionHandler(nullptr, std::runtime_error("e"));
    EXPECT_EQ(FRecorder.Take(), (TLines{"EnterMethod/Title@Error ExceptionHandler",
                                        "flow EnterMethod@Error ExceptionHandler",
                                        "Error/Title@Error Exception std::runtime_error: e",
                                        "LeaveMethod/Title@Error ExceptionHandler",
                                        "flow LeaveMethod@Error ExceptionHandler"}));
    FSession->SetLevel(lvFatal);
    FSession->ExceptionHandler(nullptr, std::runtime_error("e"));
    EXPECT_EQ(FRecorder.Take(), TLines{});
}

TEST_F(SessionTest, LogWin32Error) {
    const std::string LE = "Error/Title@Error ";
    FSession->LogWin32Error("Open", 2);
    FSession->LogWin32Error("Open", 0, true);
    FSession->LogWin32Error("Open", 0);
    FSession->LogWin32Error("COM", 0x80070005u, true);
    EXPECT_EQ(FRecorder.Take(),
              (TLines{LE + "Open: " + SiSystemErrorText(2) + " (Error Code: 2, $00000002)",
                      LE + "Open: " + SiSystemErrorText(0) + " (Error Code: 0, $00000000)",
                      LE + "COM: " + SiSystemErrorText(0x80070005u) +
                          " (Error Code: 2147942405, $80070005)"}));
}

// --- Control commands -----------------------------------------------------------------------

TEST_F(SessionTest, ControlCommandsTestOnlyTheSwitches) {
    FSession->SetLevel(lvControl);
    FSession->ClearLog();
    FSession->ClearWatches();
    FSession->ClearAutoViews();
    FSession->ClearAll();
    FSession->ClearProcessFlow();
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"command ClearLog", "command ClearWatches", "command ClearAutoViews",
                      "command ClearAll", "command ClearProcessFlow"}));
    FSession->SetLevel(lvDebug);
    TSiMemoryStream* LStream = FixtureStream();
    FSession->SendCustomControlCommand(ccClearAll, LStream);
    EXPECT_EQ(FRecorder.LastData(), "abcd");
    EXPECT_EQ(LStream->GetPosition(), 2);
    FSession->SendCustomControlCommand(lvDebug, ccClearLog, nullptr);
    EXPECT_EQ(FRecorder.Take(), (TLines{"command ClearAll", "command ClearLog"}));
    FSession->SetActive(false);
    FSession->ClearLog();
    EXPECT_EQ(FRecorder.Take(), TLines{});
}

// --- Information entries --------------------------------------------------------------------

TEST_F(SessionTest, LogObjectListsSortedPropertiesAndEvents) {
    const TLoggableWidget LWidget;
    const TBase* const LAsBase = &LWidget;
    FSession->LogObject("w", LAsBase);
    EXPECT_EQ(FRecorder.LastData(),
              kBom +
                  "[Properties]\r\nAlign=\\[x\\]\r\nCaption=a\\=b\r\nWidth=10\r\nalpha=x\r\n"
                  "[Events]\r\nOnClick=nil\r\n"
                  "OnPaint=(Object $00001000 of class TPainter, Method at address $00002000)\r\n");
    const struct { int X; } LPlain{1};
    FSession->LogObject(lvDebug, "p", &LPlain);
    FSession->LogObject("p", &kWidget);
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"Object/Inspector@Message w",
                      "InternalError/Title@Error LogObject: AInstance argument has no RTTI",
                      "InternalError/Title@Error LogObject: AInstance argument has no RTTI"}));
}

// A table of rows with a cursor, as a database result set.
class TFakeDataSet : public ISiDataSet {
  public:
    std::vector<TSiFieldDef> FieldDefs() const override { return Fields; }
    void First() override { Cursor = 0; }
    bool Eof() const override { return Cursor >= Rows.size(); }
    void Next() override { ++Cursor; }
    std::optional<std::string> FieldValue(std::size_t AIndex) const override {
        if (Fields.at(AIndex).IsBinary) throw std::logic_error("binary field read");
        if (Cursor == FailAt) throw std::runtime_error("row unreadable");
        if (Cursor == ForeignAt) throw 7;  // as a driver written in another language might
        return Rows.at(Cursor).at(AIndex);
    }
    std::int64_t GetBookmark() const override { return static_cast<std::int64_t>(Cursor); }
    void GotoBookmark(std::int64_t ABookmark) override {
        Cursor = static_cast<std::size_t>(ABookmark);
    }

    std::vector<TSiFieldDef> Fields;
    std::vector<std::vector<std::optional<std::string>>> Rows;
    std::size_t Cursor = 0;
    std::optional<std::size_t> FailAt;
    std::optional<std::size_t> ForeignAt;
};

TEST_F(SessionTest, LogDataSetAndItsSchema) {
    TFakeDataSet LData;
    LData.Fields = {{"id", "Integer", 4, true, false},
                    {"name", "String", 20, false, false},
                    {"photo", "Blob", 0, false, true}};
    LData.Rows = {{"1", "Ann \"A\"", std::nullopt}, {"2", std::nullopt, std::nullopt}};
    LData.Cursor = 1;
    FSession->LogDataSet("rows", &LData);
    EXPECT_EQ(FRecorder.LastData(), kBom +
                                        "id, name, photo\r\n\r\n"
                                        "\"1\", \"Ann \"\"A\"\"\", \"<binary>\"\r\n"
                                        "\"2\", \"<null>\", \"<binary>\"\r\n");
    EXPECT_EQ(LData.Cursor, 1u);
    FSession->LogDataSet(lvDebug, "rows", &LData, false);
    EXPECT_EQ(LData.Cursor, 2u);
    FSession->LogDataSetSchema("schema", &LData);
    EXPECT_EQ(FRecorder.LastData(), kBom +
                                        "Name, Type, Size, Read Only\r\n\r\n"
                                        "\"id\", \"Integer\", \"4\", \"True\"\r\n"
                                        "\"name\", \"String\", \"20\", \"False\"\r\n"
                                        "\"photo\", \"Blob\", \"0\", \"False\"\r\n");
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"DatabaseResult/Table@Message rows", "DatabaseResult/Table@Debug rows",
                      "DatabaseStructure/Table@Message schema"}));

    // A failing data set is put back where it was.
    LData.FailAt = 1;
    LData.Cursor = 1;
    FSession->LogDataSet("rows", &LData);
    EXPECT_EQ(LData.Cursor, 1u);
    // So is one that raises something other than a standard exception, which never reaches
    // the caller either.
    LData.FailAt.reset();
    LData.ForeignAt = 0;
    FSession->LogDataSet("rows", &LData);
    EXPECT_EQ(LData.Cursor, 1u);
    TFakeDataSet LEmpty;
    FSession->LogDataSet("e", &LEmpty);
    FSession->LogDataSetSchema("e", &LEmpty);
    FSession->LogDataSet("n", nullptr);
    FSession->LogDataSetSchema("n", nullptr);
    const std::string LI = "InternalError/Title@Error ";
    EXPECT_EQ(
        FRecorder.Take(),
        (TLines{LI + "LogDataSet: row unreadable", LI + "LogDataSet: unknown error",
                LI + "LogDataSet: data set is empty", LI + "LogDataSetSchema: data set is empty",
                LI + "LogDataSet: ADataSet argument is not assigned",
                LI + "LogDataSetSchema: ADataSet argument is not assigned"}));
}

TEST_F(SessionTest, LogSystemAndMemoryStatistic) {
    FSession->LogSystem();
    const std::string LSystem = FRecorder.LastData();
    EXPECT_EQ(
        LSystem.rfind(kBom + "[Operating System]\r\nName=" + SiGetOsVersion().Name + "\r\n", 0), 0u)
        << LSystem;
    EXPECT_NE(LSystem.find("\r\n[User]\r\nName="), std::string::npos) << LSystem;
    EXPECT_NE(LSystem.find("\r\n[Runtime]\r\n"), std::string::npos) << LSystem;
    FSession->LogMemoryStatistic(lvDebug);
    const std::string LMemory = FRecorder.LastData();
    const std::string LSize = "\\d+[.,]\\d\\d (Bytes|KB|MB|GB)";
    EXPECT_TRUE(std::regex_match(
        LMemory, std::regex(SiStringReplace(
                     "\xEF\xBB\xBFUsage=\\d{1,3}%\r\n"
                     "Total physical=SIZE\r\nFree physical=SIZE\r\nTotal pagefile=SIZE\r\n"
                     "Free pagefile=SIZE\r\nTotal virtual=SIZE\r\nFree virtual=SIZE\r\n",
                     "SIZE", LSize))))
        << LMemory;
    FSession->LogSystem(lvDebug, "sys");
    FSession->LogMemoryStatistic("mem");
    EXPECT_EQ(FRecorder.Take(),
              (TLines{"System/Inspector@Message System information",
                      "MemoryStatistic/ValueList@Debug Memory statistic",
                      "System/Inspector@Debug sys", "MemoryStatistic/ValueList@Message mem"}));
}

// --- The level test in front of every method ------------------------------------------------

std::vector<TCase> AllCases() {
    std::vector<TCase> LAll;
    for (auto LCases :
         {FlowCases(), MessageCases(), ValueCases(), WatchCases(), CounterCases(), DataCases()}) {
        LAll.insert(LAll.end(), LCases.begin(), LCases.end());
    }
    LAll.push_back({"TrackMethod", [](TSiSession& AS) { EXPECT_FALSE(AS.TrackMethod("m")); }, {}});
    LAll.push_back({"LogException", [](TSiSession& AS) { AS.LogException(ETraced(), "T"); }, {}});
    LAll.push_back({"LogObject", [](TSiSession& AS) { AS.LogObject("o", &kWidget); }, {}});
    LAll.push_back({"LogSystem", [](TSiSession& AS) { AS.LogSystem(); }, {}});
    LAll.push_back({"LogMemoryStatistic", [](TSiSession& AS) { AS.LogMemoryStatistic(); }, {}});
    LAll.push_back({"LogWin32Error", [](TSiSession& AS) { AS.LogWin32Error("t", 5); }, {}});
    LAll.push_back({"format error", [](TSiSession& AS) { AS.LogFatal("%d", {}); }, {}});
    return LAll;
}

TEST_F(SessionTest, NothingIsSentWhenTheCoreIsDisabledOrTheSessionInactive) {
    for (int LRound = 0; LRound < 2; ++LRound) {
        SCOPED_TRACE(LRound == 0 ? "disabled core" : "inactive session");
        FLogger.SetEnabled(LRound != 0);
        FSession->SetActive(LRound == 0);
        for (const TCase& LCase : AllCases()) {
            SCOPED_TRACE(LCase.Label);
            LCase.Call(*FSession);
            EXPECT_EQ(FRecorder.Take(), TLines{});
        }
        FSession->ClearLog();
        EXPECT_EQ(FRecorder.Take(), TLines{});
    }
}

TEST_F(SessionTest, NothingButControlCommandsPassesTheHighestThreshold) {
    for (int LRound = 0; LRound < 2; ++LRound) {
        SCOPED_TRACE(LRound == 0 ? "session level" : "core level");
        FSession->SetLevel(LRound == 0 ? lvControl : lvDebug);
        FLogger.SetLevel(LRound == 0 ? lvDebug : lvControl);
        for (const TCase& LCase : AllCases()) {
            SCOPED_TRACE(LCase.Label);
            LCase.Call(*FSession);
            EXPECT_EQ(FRecorder.Take(), TLines{});
        }
        FSession->ClearLog();
        EXPECT_EQ(FRecorder.Take(), TLines{"command ClearLog"});
    }
}

}  // namespace
}  // namespace deruz::logging
