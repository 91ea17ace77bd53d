// What silog prints for each packet kind: the text forms (entry type as the severity,
// process flows nested per thread, control characters escaped) and the JSON schema.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "logging/base/datetime.h"
#include "tools/silog/packet_printer.h"
#include "tools/silog/silog.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog {
namespace {

using namespace deruz::logging;

const TDateTime kStamp = SiEncodeDateTime({2026, 3, 4, 5, 6, 7, 89});

TSiRef<TSiLogEntry> Entry(TSiLogEntryType AType, const std::string& ATitle,
                          const std::string& ASession = "Main") {
    auto LE = SiMakeRef<TSiLogEntry>();
    LE->LogEntryType = AType;
    LE->ViewerId = viTitle;
    LE->Title = ATitle;
    LE->SessionName = ASession;
    LE->AppName = "app";
    LE->HostName = "host";
    LE->ProcessId = 10;
    LE->ThreadId = 20;
    LE->Timestamp = kStamp;
    LE->Color = clWindow;
    LE->Level = lvMessage;  // what the packet reader sets: the format carries no level
    return LE;
}

TSiRef<TSiProcessFlow> Flow(TSiProcessFlowType AType, const std::string& ATitle,
                            std::uint32_t AThread) {
    auto LF = SiMakeRef<TSiProcessFlow>();
    LF->ProcessFlowType = AType;
    LF->Title = ATitle;
    LF->HostName = "host";
    LF->ProcessId = 10;
    LF->ThreadId = AThread;
    LF->Timestamp = kStamp;
    return LF;
}

std::string Printed(TPacketPrinter& APrinter, std::ostringstream& AOut, TSiPacket& APacket) {
    AOut.str("");
    APrinter.Print(APacket);
    return AOut.str();
}

TEST(SilogOutput, TextShowsTheEntryTypeAsSeverity) {
    struct TCase {
        TSiLogEntryType Type;
        const char* Line;
    };
    const TCase LCases[] = {
        {ltDebug, "[2026-03-04 05:06:07.089] Debug: t\n"},
        {ltVerbose, "[2026-03-04 05:06:07.089] Verbose: t\n"},
        {ltMessage, "[2026-03-04 05:06:07.089] Message: t\n"},
        {ltWarning, "[2026-03-04 05:06:07.089] Warning: t\n"},
        {ltError, "[2026-03-04 05:06:07.089] Error: t\n"},
        {ltFatal, "[2026-03-04 05:06:07.089] Fatal: t\n"},
        {ltInternalError, "[2026-03-04 05:06:07.089] InternalError: t\n"},
        {ltEnterMethod, "[2026-03-04 05:06:07.089] EnterMethod: t\n"},
        {ltSeparator, "[2026-03-04 05:06:07.089] Separator: t\n"},
        {ltDatabaseStructure, "[2026-03-04 05:06:07.089] DatabaseStructure: t\n"},
    };
    std::ostringstream LOut;
    TPacketPrinter LPrinter(LOut, TOutputFormat::Text, "[%timestamp%] %level%: %title%");
    for (const auto& LC : LCases) {
        auto LE = Entry(LC.Type, "t");
        EXPECT_EQ(Printed(LPrinter, LOut, *LE), LC.Line);
    }
    // Widths and options of %level% stay with it; any letter case counts.
    EXPECT_EQ(EntryTypeForLevel("%level,-8%|%LEVEL%|%Level{x}%|%levels%|%level"),
              "%logentrytype,-8%|%logentrytype%|%logentrytype{x}%|%levels%|%level");
    TPacketPrinter LPadded(LOut, TOutputFormat::Text, "%level,-8%|%session%");
    auto LE = Entry(ltWarning, "t");
    EXPECT_EQ(Printed(LPadded, LOut, *LE), "Warning |Main\n");
}

TEST(SilogOutput, TextFormsOfTheOtherKinds) {
    std::ostringstream LOut;
    TPacketPrinter LPrinter(LOut, TOutputFormat::Text, "%title%");

    auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
    LWatch->Name = "count";
    LWatch->Value = "42";
    LWatch->Timestamp = kStamp;
    EXPECT_EQ(Printed(LPrinter, LOut, *LWatch),
              "[2026-03-04 05:06:07.089] watch count = 42 (Integer)\n");

    auto LClear = SiMakeRef<TSiControlCommand>(ccClearLog);
    EXPECT_EQ(Printed(LPrinter, LOut, *LClear), "control ClearLog\n");
    auto LWithData = SiMakeRef<TSiControlCommand>(ccClearAll);
    TSiMemoryStream LData;
    LData.WriteBuffer("abc", 3);
    LWithData->SetData(&LData);
    EXPECT_EQ(Printed(LPrinter, LOut, *LWithData), "control ClearAll (3 bytes of data)\n");

    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "pc";
    LHeader->AppName = "OxDde32";
    EXPECT_EQ(Printed(LPrinter, LOut, *LHeader), "header hostname=pc appname=OxDde32\n");

    // Flows nest per thread: enters indent what follows on their thread, leaves undo it, and
    // a leave without an enter does not go below the left margin.
    const std::pair<TSiRef<TSiProcessFlow>, std::string> LFlows[] = {
        {Flow(pfEnterThread, "Main Thread", 1), "flow EnterThread Main Thread (thread 1"},
        {Flow(pfEnterMethod, "A", 1), "flow    EnterMethod A (thread 1"},
        {Flow(pfEnterMethod, "X", 2), "flow EnterMethod X (thread 2"},
        {Flow(pfEnterMethod, "B", 1), "flow       EnterMethod B (thread 1"},
        {Flow(pfLeaveMethod, "B", 1), "flow       LeaveMethod B (thread 1"},
        {Flow(pfLeaveMethod, "A", 1), "flow    LeaveMethod A (thread 1"},
        {Flow(pfLeaveMethod, "X", 2), "flow LeaveMethod X (thread 2"},
        {Flow(pfLeaveMethod, "Y", 2), "flow LeaveMethod Y (thread 2"},
    };
    for (const auto& [flow, start] : LFlows) {
        EXPECT_EQ(Printed(LPrinter, LOut, *flow),
                  "[2026-03-04 05:06:07.089] " + start + ", process 10, host host)\n");
    }
}

TEST(SilogOutput, ControlCharactersAreEscapedInText) {
    struct TCase {
        std::string Raw;
        std::string Shown;
    };
    const TCase LCases[] = {
        {"plain C:\\temp ok", "plain C:\\temp ok"},
        {"red\x1b[31m!", "red\\x1b[31m!"},
        {"one\n[2026-01-01 00:00:00.000] Fatal: forged",
         "one\\n[2026-01-01 00:00:00.000] Fatal: forged"},
        {"a\rb\tc\x7f\x01", "a\\rb\\tc\\x7f\\x01"},
        {"csi \xC2\x9B"
         "2J",
         "csi \\u009b2J"},  // C1 control character
        {"rtl \xE2\x80\xAE"
         "gnp.exe",
         "rtl \\u202egnp.exe"},                      // right-to-left override
        {"bad \xFF\xC3 end", "bad \\xff\\xc3 end"},  // invalid UTF-8
        {"ok \xC3\xA9 \xE2\x82\xAC", "ok \xC3\xA9 \xE2\x82\xAC"},
    };
    std::ostringstream LOut;
    TPacketPrinter LPrinter(LOut, TOutputFormat::Text, "%session%|%title%|%appname%");
    for (const auto& LC : LCases) {
        EXPECT_EQ(EscapeText(LC.Raw), LC.Shown);
        auto LE = Entry(ltMessage, LC.Raw, LC.Raw);
        LE->AppName = LC.Raw;
        EXPECT_EQ(Printed(LPrinter, LOut, *LE), LC.Shown + "|" + LC.Shown + "|" + LC.Shown + "\n");
    }
    auto LWatch = SiMakeRef<TSiWatch>(wtString);
    LWatch->Name = "n\x1b";
    LWatch->Value = "v\n";
    LWatch->Timestamp = kStamp;
    EXPECT_EQ(Printed(LPrinter, LOut, *LWatch),
              "[2026-03-04 05:06:07.089] watch n\\x1b = v\\n (String)\n");
    auto LFlow = Flow(pfEnterMethod, "m\r", 1);
    LFlow->HostName = "h\x07";
    EXPECT_EQ(
        Printed(LPrinter, LOut, *LFlow),
        "[2026-03-04 05:06:07.089] flow EnterMethod m\\r (thread 1, process 10, host h\\x07)\n");
    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "h\n";
    LHeader->AppName = "\x1b]0;title\x07";
    EXPECT_EQ(Printed(LPrinter, LOut, *LHeader),
              "header hostname=h\\n appname=\\x1b]0;title\\x07\n");

    // Text logs arrive in pieces: sequences split between pieces stay whole, lines stay lines.
    TStreamEscaper LEscaper;
    std::string LText = LEscaper.Feed("a\r");
    LText += LEscaper.Feed("\nb\xC3");
    LText += LEscaper.Feed("\xA9\x1b\xE2\x82");
    LText += LEscaper.Finish();
    EXPECT_EQ(LText, "a\nb\xC3\xA9\\x1b\\xe2\\x82");
}

TEST(SilogOutput, JsonIsOneObjectPerPacketWithStableKeys) {
    std::ostringstream LOut;
    TPacketPrinter LPrinter(LOut, TOutputFormat::Json, "%title%");

    auto LEntry = Entry(ltWarning, "say \"hi\"\x1b\n");
    TSiMemoryStream LData;
    LData.WriteBuffer("\x01\xff", 2);
    LEntry->SetData(&LData);
    char LRaw[64];
    std::snprintf(LRaw, sizeof LRaw, "%.17g", kStamp);
    EXPECT_EQ(Printed(LPrinter, LOut, *LEntry),
              "{\"packet\":\"LogEntry\",\"logEntryType\":\"Warning\",\"viewerId\":\"Title\","
              "\"appName\":\"app\",\"sessionName\":\"Main\",\"title\":\"say \\\"hi\\\"\\u001b\\n\","
              "\"hostName\":\"host\",\"processId\":10,\"threadId\":20,"
              "\"timestamp\":\"2026-03-04T05:06:07.089\",\"timestampRaw\":" +
                  std::string(LRaw) + ",\"color\":4278190085,\"data\":\"01ff\"}\n");

    auto LWatch = SiMakeRef<TSiWatch>(wtBoolean);
    LWatch->Name = "ok";
    LWatch->Value = "True";
    LWatch->Timestamp = std::nan("");
    EXPECT_EQ(Printed(LPrinter, LOut, *LWatch),
              "{\"packet\":\"Watch\",\"name\":\"ok\",\"value\":\"True\",\"watchType\":\"Boolean\","
              "\"timestamp\":null,\"timestampRaw\":null}\n");

    auto LFlow = Flow(pfLeaveProcess, "p", 3);
    EXPECT_EQ(Printed(LPrinter, LOut, *LFlow),
              "{\"packet\":\"ProcessFlow\",\"processFlowType\":\"LeaveProcess\",\"title\":\"p\","
              "\"hostName\":\"host\",\"processId\":10,\"threadId\":3,"
              "\"timestamp\":\"2026-03-04T05:06:07.089\",\"timestampRaw\":" +
                  std::string(LRaw) + "}\n");

    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearWatches);
    EXPECT_EQ(Printed(LPrinter, LOut, *LCommand),
              "{\"packet\":\"ControlCommand\",\"controlCommandType\":\"ClearWatches\","
              "\"data\":\"\"}\n");

    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "pc";
    LHeader->AppName = "a\tb";
    EXPECT_EQ(Printed(LPrinter, LOut, *LHeader),
              "{\"packet\":\"LogHeader\",\"hostName\":\"pc\",\"appName\":\"a\\tb\"}\n");
}

TEST(SilogOutput, NoColourOffATerminalOrWithNoColor) {
    EXPECT_FALSE(ColourWanted(false, nullptr));
    EXPECT_FALSE(ColourWanted(false, ""));
    EXPECT_FALSE(ColourWanted(true, "1"));
}

}  // namespace
}  // namespace deruz::silog
