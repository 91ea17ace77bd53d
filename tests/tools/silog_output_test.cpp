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
    auto e = SiMakeRef<TSiLogEntry>();
    e->LogEntryType = AType;
    e->ViewerId = viTitle;
    e->Title = ATitle;
    e->SessionName = ASession;
    e->AppName = "app";
    e->HostName = "host";
    e->ProcessId = 10;
    e->ThreadId = 20;
    e->Timestamp = kStamp;
    e->Color = clWindow;
    e->Level = lvMessage;  // what the packet reader sets: the format carries no level
    return e;
}

TSiRef<TSiProcessFlow> Flow(TSiProcessFlowType AType, const std::string& ATitle,
                            std::uint32_t AThread) {
    auto f = SiMakeRef<TSiProcessFlow>();
    f->ProcessFlowType = AType;
    f->Title = ATitle;
    f->HostName = "host";
    f->ProcessId = 10;
    f->ThreadId = AThread;
    f->Timestamp = kStamp;
    return f;
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
    const TCase cases[] = {
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
    std::ostringstream out;
    TPacketPrinter printer(out, TOutputFormat::Text, "[%timestamp%] %level%: %title%");
    for (const auto& c : cases) {
        auto e = Entry(c.Type, "t");
        EXPECT_EQ(Printed(printer, out, *e), c.Line);
    }
    // Widths and options of %level% stay with it; any letter case counts.
    EXPECT_EQ(EntryTypeForLevel("%level,-8%|%LEVEL%|%Level{x}%|%levels%|%level"),
              "%logentrytype,-8%|%logentrytype%|%logentrytype{x}%|%levels%|%level");
    TPacketPrinter padded(out, TOutputFormat::Text, "%level,-8%|%session%");
    auto e = Entry(ltWarning, "t");
    EXPECT_EQ(Printed(padded, out, *e), "Warning |Main\n");
}

TEST(SilogOutput, TextFormsOfTheOtherKinds) {
    std::ostringstream out;
    TPacketPrinter printer(out, TOutputFormat::Text, "%title%");

    auto watch = SiMakeRef<TSiWatch>(wtInteger);
    watch->Name = "count";
    watch->Value = "42";
    watch->Timestamp = kStamp;
    EXPECT_EQ(Printed(printer, out, *watch),
              "[2026-03-04 05:06:07.089] watch count = 42 (Integer)\n");

    auto clear = SiMakeRef<TSiControlCommand>(ccClearLog);
    EXPECT_EQ(Printed(printer, out, *clear), "control ClearLog\n");
    auto withData = SiMakeRef<TSiControlCommand>(ccClearAll);
    TSiMemoryStream data;
    data.WriteBuffer("abc", 3);
    withData->SetData(&data);
    EXPECT_EQ(Printed(printer, out, *withData), "control ClearAll (3 bytes of data)\n");

    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = "pc";
    header->AppName = "OxDde32";
    EXPECT_EQ(Printed(printer, out, *header), "header hostname=pc appname=OxDde32\n");

    // Flows nest per thread: enters indent what follows on their thread, leaves undo it, and
    // a leave without an enter does not go below the left margin.
    const std::pair<TSiRef<TSiProcessFlow>, std::string> flows[] = {
        {Flow(pfEnterThread, "Main Thread", 1), "flow EnterThread Main Thread (thread 1"},
        {Flow(pfEnterMethod, "A", 1), "flow    EnterMethod A (thread 1"},
        {Flow(pfEnterMethod, "X", 2), "flow EnterMethod X (thread 2"},
        {Flow(pfEnterMethod, "B", 1), "flow       EnterMethod B (thread 1"},
        {Flow(pfLeaveMethod, "B", 1), "flow       LeaveMethod B (thread 1"},
        {Flow(pfLeaveMethod, "A", 1), "flow    LeaveMethod A (thread 1"},
        {Flow(pfLeaveMethod, "X", 2), "flow LeaveMethod X (thread 2"},
        {Flow(pfLeaveMethod, "Y", 2), "flow LeaveMethod Y (thread 2"},
    };
    for (const auto& [flow, start] : flows) {
        EXPECT_EQ(Printed(printer, out, *flow),
                  "[2026-03-04 05:06:07.089] " + start + ", process 10, host host)\n");
    }
}

TEST(SilogOutput, ControlCharactersAreEscapedInText) {
    struct TCase {
        std::string Raw;
        std::string Shown;
    };
    const TCase cases[] = {
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
    std::ostringstream out;
    TPacketPrinter printer(out, TOutputFormat::Text, "%session%|%title%|%appname%");
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeText(c.Raw), c.Shown);
        auto e = Entry(ltMessage, c.Raw, c.Raw);
        e->AppName = c.Raw;
        EXPECT_EQ(Printed(printer, out, *e), c.Shown + "|" + c.Shown + "|" + c.Shown + "\n");
    }
    auto watch = SiMakeRef<TSiWatch>(wtString);
    watch->Name = "n\x1b";
    watch->Value = "v\n";
    watch->Timestamp = kStamp;
    EXPECT_EQ(Printed(printer, out, *watch),
              "[2026-03-04 05:06:07.089] watch n\\x1b = v\\n (String)\n");
    auto flow = Flow(pfEnterMethod, "m\r", 1);
    flow->HostName = "h\x07";
    EXPECT_EQ(
        Printed(printer, out, *flow),
        "[2026-03-04 05:06:07.089] flow EnterMethod m\\r (thread 1, process 10, host h\\x07)\n");
    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = "h\n";
    header->AppName = "\x1b]0;title\x07";
    EXPECT_EQ(Printed(printer, out, *header), "header hostname=h\\n appname=\\x1b]0;title\\x07\n");

    // Text logs arrive in pieces: sequences split between pieces stay whole, lines stay lines.
    TStreamEscaper escaper;
    std::string text = escaper.Feed("a\r");
    text += escaper.Feed("\nb\xC3");
    text += escaper.Feed("\xA9\x1b\xE2\x82");
    text += escaper.Finish();
    EXPECT_EQ(text, "a\nb\xC3\xA9\\x1b\\xe2\\x82");
}

TEST(SilogOutput, JsonIsOneObjectPerPacketWithStableKeys) {
    std::ostringstream out;
    TPacketPrinter printer(out, TOutputFormat::Json, "%title%");

    auto entry = Entry(ltWarning, "say \"hi\"\x1b\n");
    TSiMemoryStream data;
    data.WriteBuffer("\x01\xff", 2);
    entry->SetData(&data);
    char raw[64];
    std::snprintf(raw, sizeof raw, "%.17g", kStamp);
    EXPECT_EQ(Printed(printer, out, *entry),
              "{\"packet\":\"LogEntry\",\"logEntryType\":\"Warning\",\"viewerId\":\"Title\","
              "\"appName\":\"app\",\"sessionName\":\"Main\",\"title\":\"say \\\"hi\\\"\\u001b\\n\","
              "\"hostName\":\"host\",\"processId\":10,\"threadId\":20,"
              "\"timestamp\":\"2026-03-04T05:06:07.089\",\"timestampRaw\":" +
                  std::string(raw) + ",\"color\":4278190085,\"data\":\"01ff\"}\n");

    auto watch = SiMakeRef<TSiWatch>(wtBoolean);
    watch->Name = "ok";
    watch->Value = "True";
    watch->Timestamp = std::nan("");
    EXPECT_EQ(Printed(printer, out, *watch),
              "{\"packet\":\"Watch\",\"name\":\"ok\",\"value\":\"True\",\"watchType\":\"Boolean\","
              "\"timestamp\":null,\"timestampRaw\":null}\n");

    auto flow = Flow(pfLeaveProcess, "p", 3);
    EXPECT_EQ(Printed(printer, out, *flow),
              "{\"packet\":\"ProcessFlow\",\"processFlowType\":\"LeaveProcess\",\"title\":\"p\","
              "\"hostName\":\"host\",\"processId\":10,\"threadId\":3,"
              "\"timestamp\":\"2026-03-04T05:06:07.089\",\"timestampRaw\":" +
                  std::string(raw) + "}\n");

    auto command = SiMakeRef<TSiControlCommand>(ccClearWatches);
    EXPECT_EQ(Printed(printer, out, *command),
              "{\"packet\":\"ControlCommand\",\"controlCommandType\":\"ClearWatches\","
              "\"data\":\"\"}\n");

    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = "pc";
    header->AppName = "a\tb";
    EXPECT_EQ(Printed(printer, out, *header),
              "{\"packet\":\"LogHeader\",\"hostName\":\"pc\",\"appName\":\"a\\tb\"}\n");
}

TEST(SilogOutput, NoColourOffATerminalOrWithNoColor) {
    EXPECT_FALSE(ColourWanted(false, nullptr));
    EXPECT_FALSE(ColourWanted(false, ""));
    EXPECT_FALSE(ColourWanted(true, "1"));
}

}  // namespace
}  // namespace deruz::silog
