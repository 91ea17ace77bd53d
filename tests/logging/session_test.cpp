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
        logger.SetEnabled(true);
        session = logger.AddSession("S");
    }

    void Check(const std::vector<TCase>& ACases) {
        for (const TCase& LCase : ACases) {
            SCOPED_TRACE(LCase.Label);
            LCase.Call(*session);
            EXPECT_EQ(recorder.Take(), LCase.Expected);
        }
    }

    TSiLogger logger{"host.exe"};
    TRecorder recorder{logger};
    TSiSession* session = nullptr;
};

// --- Flow ------------------------------------------------------------------------------------

const TWidget kWidget;
const TBase* const kWidgetAsBase = &kWidget;
const std::string kWidgetName = "deruz::logging::session_test::TWidget";

std::vector<TCase> FlowCases() {
    const std::string W = kWidgetName;
    return {
        {"EnterMethod name",
         [](TSiSession& S) { S.EnterMethod("Load"); },
         {"EnterMethod/Title@Message Load", "flow EnterMethod@Message Load"}},
        {"EnterMethod level format",
         [](TSiSession& S) { S.EnterMethod(lvDebug, "Load(%d)", {7}); },
         {"EnterMethod/Title@Debug Load(7)", "flow EnterMethod@Debug Load(7)"}},
        {"EnterMethod instance through its base",
         [](TSiSession& S) { S.EnterMethod(kWidgetAsBase, "Paint"); },
         {"EnterMethod/Title@Message " + W + ".Paint", "flow EnterMethod@Message " + W + ".Paint"}},
        {"EnterMethod level instance format",
         [](TSiSession& S) { S.EnterMethod(lvVerbose, &kWidget, "Paint(%s)", {"dc"}); },
         {"EnterMethod/Title@Verbose " + W + ".Paint(dc)",
          "flow EnterMethod@Verbose " + W + ".Paint(dc)"}},
        {"LeaveMethod name",
         [](TSiSession& S) { S.LeaveMethod(lvWarning, "Load"); },
         {"LeaveMethod/Title@Warning Load", "flow LeaveMethod@Warning Load"}},
        {"LeaveMethod format",
         [](TSiSession& S) { S.LeaveMethod("Load(%d)", {7}); },
         {"LeaveMethod/Title@Message Load(7)", "flow LeaveMethod@Message Load(7)"}},
        {"LeaveMethod instance",
         [](TSiSession& S) { S.LeaveMethod(&kWidget, "Paint"); },
         {"LeaveMethod/Title@Message " + W + ".Paint", "flow LeaveMethod@Message " + W + ".Paint"}},
        {"LeaveMethod instance format",
         [](TSiSession& S) { S.LeaveMethod(kWidgetAsBase, "P%d", {1}); },
         {"LeaveMethod/Title@Message " + W + ".P1", "flow LeaveMethod@Message " + W + ".P1"}},
        {"EnterThread",
         [](TSiSession& S) { S.EnterThread("worker"); },
         {"flow EnterThread@Message worker"}},
        {"EnterThread level format",
         [](TSiSession& S) { S.EnterThread(lvDebug, "w%d", {2}); },
         {"flow EnterThread@Debug w2"}},
        {"LeaveThread",
         [](TSiSession& S) { S.LeaveThread(lvError, "worker"); },
         {"flow LeaveThread@Error worker"}},
        {"LeaveThread format",
         [](TSiSession& S) { S.LeaveThread("w%d", {2}); },
         {"flow LeaveThread@Message w2"}},
        {"EnterProcess without a name uses the core's AppName",
         [](TSiSession& S) { S.EnterProcess(); },
         {"flow EnterProcess@Message host.exe", "flow EnterThread@Message Main Thread"}},
        {"EnterProcess name",
         [](TSiSession& S) { S.EnterProcess(lvDebug, "setup"); },
         {"flow EnterProcess@Debug setup", "flow EnterThread@Debug Main Thread"}},
        {"EnterProcess format",
         [](TSiSession& S) { S.EnterProcess("p%d", {3}); },
         {"flow EnterProcess@Message p3", "flow EnterThread@Message Main Thread"}},
        {"LeaveProcess without a name",
         [](TSiSession& S) { S.LeaveProcess(lvVerbose); },
         {"flow LeaveThread@Verbose Main Thread", "flow LeaveProcess@Verbose host.exe"}},
        {"LeaveProcess name",
         [](TSiSession& S) { S.LeaveProcess("setup"); },
         {"flow LeaveThread@Message Main Thread", "flow LeaveProcess@Message setup"}},
        {"LeaveProcess level format",
         [](TSiSession& S) { S.LeaveProcess(lvDebug, "p%d", {3}); },
         {"flow LeaveThread@Debug Main Thread", "flow LeaveProcess@Debug p3"}},
        {"ResetCallstack",
         [](TSiSession& S) { S.ResetCallstack(); },
         {"ResetCallstack/None@Message "}},
        {"LogSeparator", [](TSiSession& S) { S.LogSeparator(lvDebug); }, {"Separator/None@Debug "}},
        {"SendCustomProcessFlow",
         [](TSiSession& S) { S.SendCustomProcessFlow("t", pfLeaveProcess); },
         {"flow LeaveProcess@Message t"}},
    };
}

TEST_F(SessionTest, FlowForms) {
    Check(FlowCases());
}

TEST_F(SessionTest, TrackMethodEntersNowAndLeavesOnTheLastRelease) {
    const std::string W = kWidgetName;
    const struct {
        const char* Label;
        std::function<ISiMethodTracker(TSiSession&)> Track;
        std::string Level;
        std::string Title;
    } kCases[] = {
        {"name", [](TSiSession& S) { return S.TrackMethod("OxDde32 loaded"); }, "Message",
         "OxDde32 loaded"},
        {"level format", [](TSiSession& S) { return S.TrackMethod(lvDebug, "Wait %ds", {5}); },
         "Debug", "Wait 5s"},
        {"instance", [](TSiSession& S) { return S.TrackMethod(kWidgetAsBase, "Paint"); }, "Message",
         W + ".Paint"},
        {"level instance format",
         [](TSiSession& S) { return S.TrackMethod(lvError, &kWidget, "Paint(%s)", {"x"}); },
         "Error", W + ".Paint(x)"},
    };
    for (const auto& LCase : kCases) {
        SCOPED_TRACE(LCase.Label);
        {
            ISiMethodTracker LTracker = LCase.Track(*session);
            ISiMethodTracker LCopy = LTracker;
            LTracker.Reset();
            EXPECT_EQ(recorder.Take(),
                      (TLines{"EnterMethod/Title@" + LCase.Level + " " + LCase.Title,
                              "flow EnterMethod@" + LCase.Level + " " + LCase.Title}));
        }
        EXPECT_EQ(recorder.Take(), (TLines{"LeaveMethod/Title@" + LCase.Level + " " + LCase.Title,
                                           "flow LeaveMethod@" + LCase.Level + " " + LCase.Title}));
    }
}

TEST_F(SessionTest, TrackMethodLeavesNothingWhenTheTestFailsOrLoggingStops) {
    session->SetLevel(lvWarning);
    EXPECT_FALSE(session->TrackMethod("m"));
    EXPECT_FALSE(session->TrackMethod(lvMessage, &kWidget, "m%d", {1}));
    session->SetLevel(lvDebug);
    {
        ISiMethodTracker LTracker = session->TrackMethod("m");
        EXPECT_TRUE(LTracker);
        logger.SetEnabled(false);
    }
    EXPECT_EQ(recorder.Take(),
              (TLines{"EnterMethod/Title@Message m", "flow EnterMethod@Message m"}));
}

// --- Messages, conditions, colours -----------------------------------------------------------

std::vector<TCase> MessageCases() {
    static int LTarget = 0;
    return {
        {"LogDebug", [](TSiSession& S) { S.LogDebug("d"); }, {"Debug/Title@Debug d"}},
        {"LogDebug format",
         [](TSiSession& S) { S.LogDebug("d%d", {1}); },
         {"Debug/Title@Debug d1"}},
        {"LogVerbose", [](TSiSession& S) { S.LogVerbose("v"); }, {"Verbose/Title@Verbose v"}},
        {"LogVerbose format",
         [](TSiSession& S) { S.LogVerbose("v%s", {"x"}); },
         {"Verbose/Title@Verbose vx"}},
        {"LogMessage",
         [](TSiSession& S) { S.LogMessage("OxDde32 logging started"); },
         {"Message/Title@Message OxDde32 logging started"}},
        {"LogMessage format",
         [](TSiSession& S) { S.LogMessage("Waiting %0.1fs for mutex", {2.5}); },
         {"Message/Title@Message Waiting " + Dec("2.5") + "s for mutex"}},
        {"LogWarning", [](TSiSession& S) { S.LogWarning("w"); }, {"Warning/Title@Warning w"}},
        {"LogWarning format",
         [](TSiSession& S) { S.LogWarning("w%u", {3u}); },
         {"Warning/Title@Warning w3"}},
        {"LogError", [](TSiSession& S) { S.LogError("e"); }, {"Error/Title@Error e"}},
        {"LogError format",
         [](TSiSession& S) { S.LogError("e%x", {255}); },
         {"Error/Title@Error eFF"}},
        {"LogFatal", [](TSiSession& S) { S.LogFatal("f"); }, {"Fatal/Title@Fatal f"}},
        {"LogFatal format",
         [](TSiSession& S) { S.LogFatal("%s!", {"f"}); },
         {"Fatal/Title@Fatal f!"}},
        {"LogInternalError",
         [](TSiSession& S) { S.LogInternalError("i"); },
         {"InternalError/Title@Error i"}},
        {"LogAssert true", [](TSiSession& S) { S.LogAssert(true, "a"); }, {}},
        {"LogAssert false",
         [](TSiSession& S) { S.LogAssert(false, "a"); },
         {"Assert/Title@Error a"}},
        {"LogAssert false format",
         [](TSiSession& S) { S.LogAssert(false, "a%d", {1}); },
         {"Assert/Title@Error a1"}},
        {"LogConditional true",
         [](TSiSession& S) { S.LogConditional(true, "c"); },
         {"Conditional/Title@Message c"}},
        {"LogConditional false", [](TSiSession& S) { S.LogConditional(lvError, false, "c"); }, {}},
        {"LogConditional level format",
         [](TSiSession& S) { S.LogConditional(lvDebug, true, "c%d", {2}); },
         {"Conditional/Title@Debug c2"}},
        {"LogAssigned",
         [](TSiSession& S) { S.LogAssigned("p", &LTarget); },
         {"Message/Title@Message p: Assigned"}},
        {"LogAssigned null",
         [](TSiSession& S) { S.LogAssigned(lvDebug, "p", nullptr); },
         {"Message/Title@Message p: Not assigned"}},
        {"LogColored",
         [](TSiSession& S) { S.LogColored(0x8000, "g"); },
         {"Message/Title@Message g"}},
        {"LogColored level format",
         [](TSiSession& S) { S.LogColored(lvWarning, 0x8000, "g%d", {1}); },
         {"Message/Title@Warning g1"}},
    };
}

TEST_F(SessionTest, MessageForms) {
    Check(MessageCases());
}

TEST_F(SessionTest, EntriesCarryTheSessionColourOrTheirOwn) {
    session->SetColor(0x123456);
    session->LogMessage("session colour");
    session->LogText("t", "x");
    session->LogColored(clWindow, "window colour kept");
    session->LogColored(0x8000, "own colour");
    session->LogColored(static_cast<TSiColor>(0x12345678), "masked");
    EXPECT_EQ(recorder.Colors(),
              (std::vector<TSiColor>{0x123456, 0x123456, clWindow, 0x008000, 0x345678}));
}

TEST_F(SessionTest, LevelThresholds) {
    session->SetLevel(lvWarning);
    session->LogMessage("m");
    session->LogWarning("w");
    session->LogInternalError("i");
    // LogAssigned passes its own level test, then logs through LogMessage's.
    session->LogAssigned(lvError, "p", nullptr);
    EXPECT_EQ(recorder.Take(), (TLines{"Warning/Title@Warning w", "InternalError/Title@Error i"}));

    // An assertion uses lvError whatever the default level.
    session->SetLevel(lvDebug);
    logger.SetDefaultLevel(lvFatal);
    session->LogAssert(false, "a");
    session->LogString("s", "v");
    EXPECT_EQ(recorder.Take(),
              (TLines{"Assert/Title@Error a", "VariableValue/Title@Fatal s = 'v'"}));
    logger.SetLevel(lvFatal);
    session->LogAssert(false, "a");
    EXPECT_EQ(recorder.Take(), TLines{});
}

// --- Format failures and missing instances -------------------------------------------------

TEST_F(SessionTest, FormatFailureSendsOneInternalErrorAndNothingElse) {
    const TWidget* const LWidget = &kWidget;
    const struct {
        const char* Method;
        std::function<void(TSiSession&, std::string_view)> Call;
    } kCases[] = {
        {"EnterMethod", [](TSiSession& S, std::string_view F) { S.EnterMethod(F, {}); }},
        {"EnterMethod", [&](TSiSession& S, std::string_view F) { S.EnterMethod(LWidget, F, {}); }},
        {"LeaveMethod", [](TSiSession& S, std::string_view F) { S.LeaveMethod(lvDebug, F, {}); }},
        {"LeaveMethod", [&](TSiSession& S, std::string_view F) { S.LeaveMethod(LWidget, F, {}); }},
        {"TrackMethod",
         [](TSiSession& S, std::string_view F) { EXPECT_FALSE(S.TrackMethod(F, {})); }},
        {"TrackMethod",
         [&](TSiSession& S, std::string_view F) { EXPECT_FALSE(S.TrackMethod(LWidget, F, {})); }},
        {"EnterThread", [](TSiSession& S, std::string_view F) { S.EnterThread(F, {}); }},
        {"LeaveThread", [](TSiSession& S, std::string_view F) { S.LeaveThread(F, {}); }},
        {"EnterProcess", [](TSiSession& S, std::string_view F) { S.EnterProcess(F, {}); }},
        {"LeaveProcess", [](TSiSession& S, std::string_view F) { S.LeaveProcess(F, {}); }},
        {"LogColored", [](TSiSession& S, std::string_view F) { S.LogColored(0xFF, F, {}); }},
        {"LogConditional",
         [](TSiSession& S, std::string_view F) { S.LogConditional(true, F, {}); }},
        {"LogDebug", [](TSiSession& S, std::string_view F) { S.LogDebug(F, {}); }},
        {"LogVerbose", [](TSiSession& S, std::string_view F) { S.LogVerbose(F, {}); }},
        {"LogMessage", [](TSiSession& S, std::string_view F) { S.LogMessage(F, {}); }},
        {"LogWarning", [](TSiSession& S, std::string_view F) { S.LogWarning(F, {}); }},
        {"LogError", [](TSiSession& S, std::string_view F) { S.LogError(F, {}); }},
        {"LogFatal", [](TSiSession& S, std::string_view F) { S.LogFatal(F, {}); }},
        {"LogAssert", [](TSiSession& S, std::string_view F) { S.LogAssert(false, F, {}); }},
    };
    for (const auto& LCase : kCases) {
        SCOPED_TRACE(LCase.Method);
        LCase.Call(*session, "x=%d");
        EXPECT_EQ(recorder.Take(),
                  (TLines{"InternalError/Title@Error " + std::string(LCase.Method) +
                          ": No argument for format 'x=%d'"}));
    }
    // The internal error has its own level test.
    session->SetLevel(lvFatal);
    session->LogFatal("%s", {1});
    EXPECT_EQ(recorder.Take(), TLines{});
}

TEST_F(SessionTest, MissingInstances) {
    const TWidget* const LNone = nullptr;
    session->EnterMethod(LNone, "m");
    session->EnterMethod(lvDebug, LNone, "m%d", {1});
    session->LeaveMethod(LNone, "m");
    EXPECT_FALSE(session->TrackMethod(LNone, "m"));
    EXPECT_FALSE(session->TrackMethod(LNone, "%d", {}));
    session->LogObject("o", LNone);
    EXPECT_EQ(recorder.Take(),
              (TLines{"InternalError/Title@Error EnterMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error EnterMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error LeaveMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error TrackMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error TrackMethod: AInstance argument is not assigned",
                      "InternalError/Title@Error LogObject: AInstance argument is not assigned"}));
}

// --- Values and watches ----------------------------------------------------------------------

std::vector<TCase> ValueCases() {
    const std::string V = "VariableValue/Title@Message ";
    return {
        {"LogInteger", [](TSiSession& S) { S.LogInteger("x", 42); }, {V + "x = 42"}},
        {"LogInteger hex keeps eight digits",
         [](TSiSession& S) { S.LogInteger("x", 10, true); },
         {V + "x = 10 ($0000000A)"}},
        {"LogInteger hex negative",
         [](TSiSession& S) { S.LogInteger("x", -1, true); },
         {V + "x = -1 ($FFFFFFFF)"}},
        {"LogShortint hex negative",
         [](TSiSession& S) { S.LogShortint("x", -1, true); },
         {V + "x = -1 ($FFFFFFFF)"}},
        {"LogByte hex", [](TSiSession& S) { S.LogByte("x", 255, true); }, {V + "x = 255 ($FF)"}},
        {"LogSmallint hex",
         [](TSiSession& S) { S.LogSmallint(lvDebug, "x", 300, true); },
         {"VariableValue/Title@Debug x = 300 ($012C)"}},
        {"LogWord hex",
         [](TSiSession& S) { S.LogWord("x", 65535, true); },
         {V + "x = 65535 ($FFFF)"}},
        {"LogCardinal hex",
         [](TSiSession& S) { S.LogCardinal("x", 4294967295u, true); },
         {V + "x = 4294967295 ($FFFFFFFF)"}},
        {"LogInt64 hex negative",
         [](TSiSession& S) { S.LogInt64("x", -2, true); },
         {V + "x = -2 ($FFFFFFFFFFFFFFFE)"}},
        {"LogInt64 hex keeps sixteen digits",
         [](TSiSession& S) { S.LogInt64("x", 1, true); },
         {V + "x = 1 ($0000000000000001)"}},
        {"LogInt64", [](TSiSession& S) { S.LogInt64("x", 9000000000LL); }, {V + "x = 9000000000"}},
        {"LogString empty", [](TSiSession& S) { S.LogString("s", ""); }, {V + "s = ''"}},
        {"LogString unescaped",
         [](TSiSession& S) { S.LogString("s", "it's"); },
         {V + "s = 'it's'"}},
        {"LogChar", [](TSiSession& S) { S.LogChar("c", 'a'); }, {V + "c = 'a'"}},
        {"LogPChar null", [](TSiSession& S) { S.LogPChar("p", nullptr); }, {V + "p = ''"}},
        {"LogWideString",
         [](TSiSession& S) { S.LogWideString("w", L"Gr\u00FC\u00DFe"); },
         {V + "w = 'Gr\xC3\xBC\xC3\x9F"
              "e'"}},
        {"LogPWideChar beyond the BMP",
         [](TSiSession& S) { S.LogPWideChar("w", L"\U0001F600"); },
         {V + "w = '\xF0\x9F\x98\x80'"}},
        {"LogBoolean", [](TSiSession& S) { S.LogBoolean("b", false); }, {V + "b = False"}},
        {"LogDouble", [](TSiSession& S) { S.LogDouble("d", 1.5); }, {V + "d = " + Dec("1.5")}},
        {"LogSingle",
         [](TSiSession& S) { S.LogSingle("f", 0.1f); },
         {V + "f = " + Dec("0.100000001490116")}},
        {"LogExtended", [](TSiSession& S) { S.LogExtended("e", 1e20L); }, {V + "e = 1E20"}},
        {"LogCurrency",
         [](TSiSession& S) { S.LogCurrency("c", TSiCurrency{125000}); },
         {V + "c = " + Dec("12.5")}},
        {"LogDateTime",
         [](TSiSession& S) { S.LogDateTime("t", 45000.5); },
         {V + "t = " + SiDateTimeToStr(45000.5, SiThreadFormatSettings())}},
        {"LogPointer",
         [](TSiSession& S) { S.LogPointer("p", reinterpret_cast<void*>(0x1234)); },
         {V + "p = $00001234"}},
        {"LogPointer keeps a long address whole",
         [](TSiSession& S) {
             S.LogPointer("p", reinterpret_cast<void*>(std::uintptr_t{0x7FF612345678}));
         },
         {V + "p = $7FF612345678"}},
        {"LogValue unsigned 8 bits",
         [](TSiSession& S) { S.LogValue("v", static_cast<std::uint8_t>(200)); },
         {V + "v = 200"}},
        {"LogValue signed 8 bits",
         [](TSiSession& S) { S.LogValue("v", static_cast<std::int8_t>(-100)); },
         {V + "v = -100"}},
        {"LogValue unsigned 32 bits",
         [](TSiSession& S) { S.LogValue("v", 4000000000u); },
         {V + "v = 4000000000"}},
        {"LogValue signed 64 bits",
         [](TSiSession& S) { S.LogValue(lvDebug, "v", -9000000000LL); },
         {"VariableValue/Title@Debug v = -9000000000"}},
        {"LogValue Boolean", [](TSiSession& S) { S.LogValue("v", true); }, {V + "v = True"}},
        {"LogValue char", [](TSiSession& S) { S.LogValue("v", 'q'); }, {V + "v = 'q'"}},
        {"LogValue literal", [](TSiSession& S) { S.LogValue("v", "text"); }, {V + "v = 'text'"}},
        {"LogValue string",
         [](TSiSession& S) { S.LogValue("v", std::string("s")); },
         {V + "v = 's'"}},
        {"LogValue wide",
         [](TSiSession& S) { S.LogValue("v", std::wstring(L"w")); },
         {V + "v = 'w'"}},
        {"LogValue float",
         [](TSiSession& S) { S.LogValue("v", 2.25); },
         {V + "v = " + Dec("2.25")}},
    };
}

TEST_F(SessionTest, ValueTitles) {
    Check(ValueCases());
}

std::vector<TCase> WatchCases() {
    return {
        {"WatchString",
         [](TSiSession& S) { S.WatchString("s", "v"); },
         {"watch String@Message s=v"}},
        {"WatchPChar null",
         [](TSiSession& S) { S.WatchPChar(lvDebug, "s", nullptr); },
         {"watch String@Debug s="}},
        {"WatchWideString",
         [](TSiSession& S) { S.WatchWideString("s", L"\u00E9"); },
         {"watch String@Message s=\xC3\xA9"}},
        {"WatchPWideChar",
         [](TSiSession& S) { S.WatchPWideChar("s", L"w"); },
         {"watch String@Message s=w"}},
        {"WatchChar", [](TSiSession& S) { S.WatchChar("c", 'z'); }, {"watch Char@Message c=z"}},
        {"WatchBoolean",
         [](TSiSession& S) { S.WatchBoolean("b", true); },
         {"watch Boolean@Message b=True"}},
        {"WatchInteger hex",
         [](TSiSession& S) { S.WatchInteger("i", -1, true); },
         {"watch Integer@Message i=-1 ($FFFFFFFF)"}},
        {"WatchShortint hex",
         [](TSiSession& S) { S.WatchShortint("i", 10, true); },
         {"watch Integer@Message i=10 ($0A)"}},
        {"WatchSmallint",
         [](TSiSession& S) { S.WatchSmallint("i", -5); },
         {"watch Integer@Message i=-5"}},
        {"WatchByte hex",
         [](TSiSession& S) { S.WatchByte("i", 255, true); },
         {"watch Integer@Message i=255 ($FF)"}},
        {"WatchWord hex",
         [](TSiSession& S) { S.WatchWord("i", 4096, true); },
         {"watch Integer@Message i=4096 ($1000)"}},
        {"WatchCardinal hex",
         [](TSiSession& S) { S.WatchCardinal("i", 3000000000u, true); },
         {"watch Integer@Message i=3000000000 ($B2D05E00)"}},
        {"WatchInt64 hex",
         [](TSiSession& S) { S.WatchInt64(lvError, "i", -1, true); },
         {"watch Integer@Error i=-1 ($FFFFFFFFFFFFFFFF)"}},
        {"WatchDouble",
         [](TSiSession& S) { S.WatchDouble("f", -0.5); },
         {"watch Float@Message f=" + Dec("-0.5")}},
        {"WatchSingle",
         [](TSiSession& S) { S.WatchSingle("f", 0.25f); },
         {"watch Float@Message f=" + Dec("0.25")}},
        {"WatchExtended",
         [](TSiSession& S) { S.WatchExtended("f", 3.0L); },
         {"watch Float@Message f=3"}},
        {"WatchCurrency",
         [](TSiSession& S) { S.WatchCurrency("f", TSiCurrency{-5}); },
         {"watch Float@Message f=" + Dec("-0.0005")}},
        {"WatchDateTime",
         [](TSiSession& S) { S.WatchDateTime("t", 2.0); },
         {"watch Timestamp@Message t=" + SiDateTimeToStr(2.0, SiThreadFormatSettings())}},
        {"WatchPointer",
         [](TSiSession& S) { S.WatchPointer("p", reinterpret_cast<void*>(0xAB)); },
         {"watch Address@Message p=$000000AB"}},
        {"Watch unsigned 16 bits",
         [](TSiSession& S) { S.Watch("w", static_cast<std::uint16_t>(60000)); },
         {"watch Integer@Message w=60000"}},
        {"Watch signed 16 bits",
         [](TSiSession& S) { S.Watch(lvDebug, "w", static_cast<std::int16_t>(-7)); },
         {"watch Integer@Debug w=-7"}},
        {"Watch char", [](TSiSession& S) { S.Watch("w", 'c'); }, {"watch Char@Message w=c"}},
        {"Watch literal", [](TSiSession& S) { S.Watch("w", "s"); }, {"watch String@Message w=s"}},
        {"Watch Boolean",
         [](TSiSession& S) { S.Watch("w", false); },
         {"watch Boolean@Message w=False"}},
        {"Watch float", [](TSiSession& S) { S.Watch("w", 1.0f); }, {"watch Float@Message w=1"}},
        {"SendCustomWatch",
         [](TSiSession& S) { S.SendCustomWatch("o", "obj", wtObject); },
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
         [](TSiSession& S) {
             S.IncCounter("c");
             S.IncCounter("C");
             S.DecCounter(lvDebug, "c");
         },
         {"watch Integer@Message c=1", "watch Integer@Message C=2", "watch Integer@Debug c=1"}},
        {"a reset counter starts again from 0",
         [](TSiSession& S) {
             S.ResetCounter("C");
             S.DecCounter("c");
         },
         {"watch Integer@Message c=-1"}},
        {"unnamed checkpoints are numbered",
         [](TSiSession& S) {
             S.AddCheckpoint();
             S.AddCheckpoint(lvDebug);
         },
         {"Checkpoint/Title@Message Checkpoint #1", "Checkpoint/Title@Debug Checkpoint #2"}},
        {"named checkpoints count without regard to case",
         [](TSiSession& S) {
             S.AddCheckpoint("a");
             S.AddCheckpoint("A");
             S.AddCheckpoint(lvVerbose, "a", "saving");
         },
         {"Checkpoint/Title@Message a #1", "Checkpoint/Title@Message A #2",
          "Checkpoint/Title@Verbose a #3 (saving)"}},
        {"resets start the numbering again",
         [](TSiSession& S) {
             S.ResetCheckpoint();
             S.ResetCheckpoint("A");
             S.AddCheckpoint();
             S.AddCheckpoint("a");
         },
         {"Checkpoint/Title@Message Checkpoint #1", "Checkpoint/Title@Message a #1"}},
    };
}

TEST_F(SessionTest, CountersAndCheckpoints) {
    Check(CounterCases());
}

TEST_F(SessionTest, CountersAndCheckpointsFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 250;
    std::vector<std::thread> LThreads;
    for (int LThread = 0; LThread < kThreads; ++LThread) {
        LThreads.emplace_back([this] {
            for (int LCall = 0; LCall < kCalls; ++LCall) {
                session->IncCounter("n");
                session->AddCheckpoint();
            }
        });
    }
    for (std::thread& LThread : LThreads) LThread.join();
    std::vector<int> LCounters;
    std::vector<int> LCheckpoints;
    for (const std::string& LLine : recorder.Take()) {
        const std::size_t LNumber = LLine.find_last_of("=#") + 1;
        (LLine[LNumber - 1] == '=' ? LCounters : LCheckpoints)
            .push_back(std::stoi(LLine.substr(LNumber)));
    }
    std::sort(LCounters.begin(), LCounters.end());
    std::sort(LCheckpoints.begin(), LCheckpoints.end());
    std::vector<int> LExpected(kThreads * kCalls);
    std::iota(LExpected.begin(), LExpected.end(), 1);
    EXPECT_EQ(LCounters, LExpected);
    EXPECT_EQ(LCheckpoints, LExpected);
}

// --- Data entries ---------------------------------------------------------------------------

// A file of a few bytes in the test's temporary folder.
std::string FixtureFile() {
    static const std::string LPath = [] {
        const std::string LName = ::testing::TempDir() + "session_data.bin";
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
    const std::string F = FixtureFile();
    return {
        {"LogText", [](TSiSession& S) { S.LogText("t", "x"); }, {"Text/Data@Message t"}},
        {"LogHtml",
         [](TSiSession& S) { S.LogHtml(lvDebug, "t", "<b>"); },
         {"WebContent/Web@Debug t"}},
        {"LogSource",
         [](TSiSession& S) { S.LogSource("t", "print()", siPython); },
         {"Source/PythonSource@Message t"}},
        {"LogSql",
         [](TSiSession& S) { S.LogSql("t", "select 1"); },
         {"Source/SqlSource@Message t"}},
        {"LogCustomText",
         [](TSiSession& S) { S.LogCustomText("t", "x", ltComment, viList); },
         {"Comment/List@Message t"}},
        {"LogTextFile titled by its file name",
         [](TSiSession& S) { S.LogTextFile(FixtureFile()); },
         {"Text/Data@Message " + F}},
        {"LogHtmlFile",
         [](TSiSession& S) { S.LogHtmlFile("t", FixtureFile()); },
         {"WebContent/Web@Message t"}},
        {"LogSourceFile",
         [](TSiSession& S) { S.LogSourceFile(lvDebug, FixtureFile(), siXml); },
         {"Source/XmlSource@Debug " + F}},
        {"LogBinaryFile",
         [](TSiSession& S) { S.LogBinaryFile("t", FixtureFile()); },
         {"Binary/Binary@Message t"}},
        {"LogBitmapFile",
         [](TSiSession& S) { S.LogBitmapFile(FixtureFile()); },
         {"Graphic/Bitmap@Message " + F}},
        {"LogJpegFile",
         [](TSiSession& S) { S.LogJpegFile("t", FixtureFile()); },
         {"Graphic/Jpeg@Message t"}},
        {"LogIconFile",
         [](TSiSession& S) { S.LogIconFile(lvError, "t", FixtureFile()); },
         {"Graphic/Icon@Error t"}},
        {"LogMetafileFile",
         [](TSiSession& S) { S.LogMetafileFile("t", FixtureFile()); },
         {"Graphic/Metafile@Message t"}},
        {"LogCustomFile",
         [](TSiSession& S) { S.LogCustomFile(FixtureFile(), ltSystem, viTable); },
         {"System/Table@Message " + F}},
        {"LogTextStream",
         [](TSiSession& S) { S.LogTextStream("t", FixtureStream()); },
         {"Text/Data@Message t"}},
        {"LogHtmlStream",
         [](TSiSession& S) { S.LogHtmlStream("t", FixtureStream()); },
         {"WebContent/Web@Message t"}},
        {"LogSourceStream",
         [](TSiSession& S) { S.LogSourceStream("t", FixtureStream(), siJavaScript); },
         {"Source/JavaScriptSource@Message t"}},
        {"LogBinaryStream",
         [](TSiSession& S) { S.LogBinaryStream("t", FixtureStream()); },
         {"Binary/Binary@Message t"}},
        {"LogStream",
         [](TSiSession& S) { S.LogStream(lvDebug, "t", FixtureStream()); },
         {"Binary/Binary@Debug t"}},
        {"LogBitmapStream",
         [](TSiSession& S) { S.LogBitmapStream("t", FixtureStream()); },
         {"Graphic/Bitmap@Message t"}},
        {"LogJpegStream",
         [](TSiSession& S) { S.LogJpegStream("t", FixtureStream()); },
         {"Graphic/Jpeg@Message t"}},
        {"LogIconStream",
         [](TSiSession& S) { S.LogIconStream("t", FixtureStream()); },
         {"Graphic/Icon@Message t"}},
        {"LogMetafileStream",
         [](TSiSession& S) { S.LogMetafileStream("t", FixtureStream()); },
         {"Graphic/Metafile@Message t"}},
        {"LogCustomStream",
         [](TSiSession& S) { S.LogCustomStream("t", FixtureStream(), ltObject, viInspector); },
         {"Object/Inspector@Message t"}},
        {"LogMemory",
         [](TSiSession& S) {
             static const char kBytes[] = "mem";
             S.LogMemory("t", kBytes, 3);
         },
         {"Binary/Binary@Message t"}},
        {"SendCustomLogEntry without data",
         [](TSiSession& S) { S.SendCustomLogEntry("t", ltComment, viTitle, nullptr); },
         {"Comment/Title@Message t"}},
        {"SendCustomLogEntry with data",
         [](TSiSession& S) { S.SendCustomLogEntry("t", ltText, viData, FixtureStream()); },
         {"Text/Data@Message t"}},
    };
}

TEST_F(SessionTest, DataEntryTypesAndViewers) {
    Check(DataCases());
}

TEST_F(SessionTest, DataBytes) {
    // A text goes as a byte order mark and UTF-8.
    session->LogText("t", "h\xC3\xA9llo\r\n");
    EXPECT_EQ(recorder.LastData(), kBom + "h\xC3\xA9llo\r\n");
    // Files and streams go unchanged, streams whole and put back at their position.
    session->LogTextFile(FixtureFile());
    EXPECT_EQ(recorder.LastData(), std::string("\x00\x01\xFFpng", 6));
    TSiMemoryStream* LStream = FixtureStream();
    session->LogBinaryStream("s", LStream);
    EXPECT_EQ(recorder.LastData(), "abcd");
    EXPECT_EQ(LStream->GetPosition(), 2);
    const unsigned char kBytes[] = {0, 0x80, 0xFF};
    session->LogMemory("m", kBytes, 3);
    EXPECT_EQ(recorder.LastData(), std::string("\x00\x80\xFF", 3));
    TSiStringList LList;
    LList.Add("a");
    LList.Add("b=c");
    session->LogStringList("l", &LList);
    EXPECT_EQ(recorder.LastData(), kBom + "a\r\nb=c\r\n");
    EXPECT_EQ(recorder.Take().back(), "Text/List@Message l");
}

TEST_F(SessionTest, DataFailuresBecomeInternalErrors) {
    const std::string I = "InternalError/Title@Error ";
    session->LogTextStream("t", nullptr);
    session->SendCustomLogEntry("t", ltBinary, viBinary, nullptr);  // a plain entry
    session->LogMemory("m", nullptr, 1);
    const char kByte = 0;
    session->LogMemory("m", &kByte, -1);
    session->LogStringList("l", nullptr);
    session->LogCustomContext("c", ltText, nullptr);
    session->LogSource("s", "x", static_cast<TSiSourceId>(200));
    EXPECT_EQ(recorder.Take(),
              (TLines{I + "LogCustomStream: AStream argument is not assigned",
                      "Binary/Binary@Message t", I + "LogMemory: AAddress argument is not assigned",
                      I + "LogMemory: ASize argument is negative",
                      I + "LogStringList: AStrings argument is not assigned",
                      I + "LogCustomContext: AContext argument is not assigned",
                      "Source/Data@Message s"}));
    const std::string LMissing = ::testing::TempDir() + "no_such_file.txt";
    session->LogHtmlFile(LMissing);
    const TLines LLines = recorder.Take();
    ASSERT_EQ(LLines.size(), 1u);
    EXPECT_EQ(LLines[0].rfind(I + "LogCustomFile: Cannot open file \"" + LMissing + "\". ", 0), 0u)
        << LLines[0];
}

// --- Exceptions and system errors -----------------------------------------------------------

TEST_F(SessionTest, LogExceptionTexts) {
    const std::string E = "Error/Title@Error ";
    const std::runtime_error LError("disk\r\nfull");
    session->LogException(LError, "Saving");
    session->LogException(LError, " \t ");
    session->LogException(ESiError("bad\nvalue"));
    session->LogException(static_cast<const std::exception*>(nullptr), "x");
    EXPECT_EQ(
        recorder.Take(),
        (TLines{E + "Saving: Exception std::runtime_error: disk full",
                E + "Exception std::runtime_error: disk full",
                E + "Exception deruz::logging::ESiError: bad value",
                "InternalError/Title@Error LogException: AException argument is not assigned"}));

    // With a stack trace: an error text entry at the default level, the trace as data.
    session->LogException(ETraced(), "T");
    const std::string LTitle = "T: Exception deruz::logging::session_test::ETraced: boom";
    EXPECT_EQ(recorder.LastData(), kBom + LTitle + "\r\n\r\nat Save\r\nat Main");
    EXPECT_EQ(recorder.Take(), (TLines{"Error/Data@Message " + LTitle}));
}

TEST_F(SessionTest, LogExceptionOfTheHandledException) {
    const std::string E = "Error/Title@Error ";
    session->LogException("outside");
    try {
        throw std::out_of_range("index\r\n 7");
    } catch (...) {
        session->LogException("T");
    }
    try {
        throw 42;
    } catch (int) {
        session->LogException();
    }
    try {
        throw std::length_error(std::string(3000, 'x'));
    } catch (const std::exception&) {
        session->LogException();
    }
    const TLines LLines = recorder.Take();
    ASSERT_EQ(LLines.size(), 4u);
    EXPECT_EQ(LLines[0],
              "InternalError/Title@Error LogException: There is no exception handled currently");
    EXPECT_EQ(LLines[1], E + "T: std::out_of_range: index  7");
    EXPECT_EQ(LLines[2], E + "int");
    EXPECT_EQ(LLines[3], E + "std::length_error: " + std::string(2048 - 19, 'x'));
}

TEST_F(SessionTest, ExceptionHandlerWrapsTheExceptionInItsMethod) {
    session->ExceptionHandler(nullptr, std::runtime_error("e"));
    EXPECT_EQ(recorder.Take(), (TLines{"EnterMethod/Title@Error ExceptionHandler",
                                       "flow EnterMethod@Error ExceptionHandler",
                                       "Error/Title@Error Exception std::runtime_error: e",
                                       "LeaveMethod/Title@Error ExceptionHandler",
                                       "flow LeaveMethod@Error ExceptionHandler"}));
    session->SetLevel(lvFatal);
    session->ExceptionHandler(nullptr, std::runtime_error("e"));
    EXPECT_EQ(recorder.Take(), TLines{});
}

TEST_F(SessionTest, LogWin32Error) {
    const std::string E = "Error/Title@Error ";
    session->LogWin32Error("Open", 2);
    session->LogWin32Error("Open", 0, true);
    session->LogWin32Error("Open", 0);
    session->LogWin32Error("COM", 0x80070005u, true);
    EXPECT_EQ(recorder.Take(),
              (TLines{E + "Open: " + SiSystemErrorText(2) + " (Error Code: 2, $00000002)",
                      E + "Open: " + SiSystemErrorText(0) + " (Error Code: 0, $00000000)",
                      E + "COM: " + SiSystemErrorText(0x80070005u) +
                          " (Error Code: 2147942405, $80070005)"}));
}

// --- Control commands -----------------------------------------------------------------------

TEST_F(SessionTest, ControlCommandsTestOnlyTheSwitches) {
    session->SetLevel(lvControl);
    session->ClearLog();
    session->ClearWatches();
    session->ClearAutoViews();
    session->ClearAll();
    session->ClearProcessFlow();
    EXPECT_EQ(recorder.Take(),
              (TLines{"command ClearLog", "command ClearWatches", "command ClearAutoViews",
                      "command ClearAll", "command ClearProcessFlow"}));
    session->SetLevel(lvDebug);
    TSiMemoryStream* LStream = FixtureStream();
    session->SendCustomControlCommand(ccClearAll, LStream);
    EXPECT_EQ(recorder.LastData(), "abcd");
    EXPECT_EQ(LStream->GetPosition(), 2);
    session->SendCustomControlCommand(lvDebug, ccClearLog, nullptr);
    EXPECT_EQ(recorder.Take(), (TLines{"command ClearAll", "command ClearLog"}));
    session->SetActive(false);
    session->ClearLog();
    EXPECT_EQ(recorder.Take(), TLines{});
}

// --- Information entries --------------------------------------------------------------------

TEST_F(SessionTest, LogObjectListsSortedPropertiesAndEvents) {
    const TLoggableWidget LWidget;
    const TBase* const LAsBase = &LWidget;
    session->LogObject("w", LAsBase);
    EXPECT_EQ(recorder.LastData(),
              kBom +
                  "[Properties]\r\nAlign=\\[x\\]\r\nCaption=a\\=b\r\nWidth=10\r\nalpha=x\r\n"
                  "[Events]\r\nOnClick=nil\r\n"
                  "OnPaint=(Object $00001000 of class TPainter, Method at address $00002000)\r\n");
    const struct { int X; } LPlain{1};
    session->LogObject(lvDebug, "p", &LPlain);
    session->LogObject("p", &kWidget);
    EXPECT_EQ(recorder.Take(),
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
    session->LogDataSet("rows", &LData);
    EXPECT_EQ(recorder.LastData(), kBom +
                                       "id, name, photo\r\n\r\n"
                                       "\"1\", \"Ann \"\"A\"\"\", \"<binary>\"\r\n"
                                       "\"2\", \"<null>\", \"<binary>\"\r\n");
    EXPECT_EQ(LData.Cursor, 1u);
    session->LogDataSet(lvDebug, "rows", &LData, false);
    EXPECT_EQ(LData.Cursor, 2u);
    session->LogDataSetSchema("schema", &LData);
    EXPECT_EQ(recorder.LastData(), kBom +
                                       "Name, Type, Size, Read Only\r\n\r\n"
                                       "\"id\", \"Integer\", \"4\", \"True\"\r\n"
                                       "\"name\", \"String\", \"20\", \"False\"\r\n"
                                       "\"photo\", \"Blob\", \"0\", \"False\"\r\n");
    EXPECT_EQ(recorder.Take(),
              (TLines{"DatabaseResult/Table@Message rows", "DatabaseResult/Table@Debug rows",
                      "DatabaseStructure/Table@Message schema"}));

    // A failing data set is put back where it was.
    LData.FailAt = 1;
    LData.Cursor = 1;
    session->LogDataSet("rows", &LData);
    EXPECT_EQ(LData.Cursor, 1u);
    // So is one that raises something other than a standard exception, which never reaches
    // the caller either.
    LData.FailAt.reset();
    LData.ForeignAt = 0;
    session->LogDataSet("rows", &LData);
    EXPECT_EQ(LData.Cursor, 1u);
    TFakeDataSet LEmpty;
    session->LogDataSet("e", &LEmpty);
    session->LogDataSetSchema("e", &LEmpty);
    session->LogDataSet("n", nullptr);
    session->LogDataSetSchema("n", nullptr);
    const std::string I = "InternalError/Title@Error ";
    EXPECT_EQ(
        recorder.Take(),
        (TLines{I + "LogDataSet: row unreadable", I + "LogDataSet: unknown error",
                I + "LogDataSet: data set is empty", I + "LogDataSetSchema: data set is empty",
                I + "LogDataSet: ADataSet argument is not assigned",
                I + "LogDataSetSchema: ADataSet argument is not assigned"}));
}

TEST_F(SessionTest, LogSystemAndMemoryStatistic) {
    session->LogSystem();
    const std::string LSystem = recorder.LastData();
    EXPECT_EQ(
        LSystem.rfind(kBom + "[Operating System]\r\nName=" + SiGetOsVersion().Name + "\r\n", 0), 0u)
        << LSystem;
    EXPECT_NE(LSystem.find("\r\n[User]\r\nName="), std::string::npos) << LSystem;
    EXPECT_NE(LSystem.find("\r\n[Runtime]\r\n"), std::string::npos) << LSystem;
    session->LogMemoryStatistic(lvDebug);
    const std::string LMemory = recorder.LastData();
    const std::string LSize = "\\d+[.,]\\d\\d (Bytes|KB|MB|GB)";
    EXPECT_TRUE(std::regex_match(
        LMemory, std::regex(SiStringReplace(
                     "\xEF\xBB\xBFUsage=\\d{1,3}%\r\n"
                     "Total physical=SIZE\r\nFree physical=SIZE\r\nTotal pagefile=SIZE\r\n"
                     "Free pagefile=SIZE\r\nTotal virtual=SIZE\r\nFree virtual=SIZE\r\n",
                     "SIZE", LSize))))
        << LMemory;
    session->LogSystem(lvDebug, "sys");
    session->LogMemoryStatistic("mem");
    EXPECT_EQ(recorder.Take(),
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
    LAll.push_back({"TrackMethod", [](TSiSession& S) { EXPECT_FALSE(S.TrackMethod("m")); }, {}});
    LAll.push_back({"LogException", [](TSiSession& S) { S.LogException(ETraced(), "T"); }, {}});
    LAll.push_back({"LogObject", [](TSiSession& S) { S.LogObject("o", &kWidget); }, {}});
    LAll.push_back({"LogSystem", [](TSiSession& S) { S.LogSystem(); }, {}});
    LAll.push_back({"LogMemoryStatistic", [](TSiSession& S) { S.LogMemoryStatistic(); }, {}});
    LAll.push_back({"LogWin32Error", [](TSiSession& S) { S.LogWin32Error("t", 5); }, {}});
    LAll.push_back({"format error", [](TSiSession& S) { S.LogFatal("%d", {}); }, {}});
    return LAll;
}

TEST_F(SessionTest, NothingIsSentWhenTheCoreIsDisabledOrTheSessionInactive) {
    for (int LRound = 0; LRound < 2; ++LRound) {
        SCOPED_TRACE(LRound == 0 ? "disabled core" : "inactive session");
        logger.SetEnabled(LRound != 0);
        session->SetActive(LRound == 0);
        for (const TCase& LCase : AllCases()) {
            SCOPED_TRACE(LCase.Label);
            LCase.Call(*session);
            EXPECT_EQ(recorder.Take(), TLines{});
        }
        session->ClearLog();
        EXPECT_EQ(recorder.Take(), TLines{});
    }
}

TEST_F(SessionTest, NothingButControlCommandsPassesTheHighestThreshold) {
    for (int LRound = 0; LRound < 2; ++LRound) {
        SCOPED_TRACE(LRound == 0 ? "session level" : "core level");
        session->SetLevel(LRound == 0 ? lvControl : lvDebug);
        logger.SetLevel(LRound == 0 ? lvDebug : lvControl);
        for (const TCase& LCase : AllCases()) {
            SCOPED_TRACE(LCase.Label);
            LCase.Call(*session);
            EXPECT_EQ(recorder.Take(), TLines{});
        }
        session->ClearLog();
        EXPECT_EQ(recorder.Take(), TLines{"command ClearLog"});
    }
}

}  // namespace
}  // namespace deruz::logging
