// RFC 5424 messages of packets: the exact form of an entry, hostile text kept inside its
// field, the cut at the length limit, severities and facilities.
#include "logging/format/syslog_formatter.h"

#include <gtest/gtest.h>

#include <string>

#include "logging/base/datetime.h"

namespace deruz::logging {
namespace {

TSiRef<TSiLogEntry> Entry(const std::string& ATitle, TSiLogEntryType AType = ltMessage) {
    auto LEntry = SiMakeRef<TSiLogEntry>(AType, viTitle);
    LEntry->Title = ATitle;
    LEntry->AppName = "Praxis";
    LEntry->HostName = "ws-01";
    LEntry->SessionName = "Main";
    LEntry->ProcessId = 42;
    LEntry->ThreadId = 7;
    LEntry->Timestamp = SiEncodeDateTime({2026, 3, 4, 5, 6, 7, 89});
    return LEntry;
}

std::string Format(const TSiPacket& APacket, const TSiSyslogSettings& ASettings = {}) {
    std::string LOut;
    SiFormatSyslog(APacket, ASettings, LOut);
    return LOut;
}

TEST(SyslogFormatter, EntryInEveryField) {
    TSiSyslogSettings LSettings;
    LSettings.Facility = 16;
    LSettings.UtcOffsetMinutes = -150;
    EXPECT_EQ(Format(*Entry("hello", ltWarning), LSettings),
              "<132>1 2026-03-04T05:06:07.089-02:30 ws-01 Praxis 42 LogEntry [silog@32473 "
              "kind=\"LogEntry\" type=\"Warning\" session=\"Main\" viewer=\"Title\" "
              "app=\"Praxis\" host=\"ws-01\" pid=\"42\" tid=\"7\"] hello");
}

TEST(SyslogFormatter, OtherKindsNamedAndFilledFromTheSource) {
    TSiSyslogSettings LSettings;
    LSettings.HostName = "ws-02";
    LSettings.AppName = "Link";
    auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
    LWatch->Name = "queue";
    LWatch->Value = "17";
    EXPECT_EQ(Format(*LWatch, LSettings),
              "<15>1 - ws-02 Link - Watch [silog@32473 kind=\"Watch\" type=\"Integer\" "
              "name=\"queue\" app=\"Link\" host=\"ws-02\"] queue = 17");
    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearAll);
    EXPECT_EQ(Format(*LCommand, LSettings),
              "<13>1 - ws-02 Link - ControlCommand [silog@32473 kind=\"ControlCommand\" "
              "type=\"ClearAll\" app=\"Link\" host=\"ws-02\"] ClearAll");
    auto LFlow = SiMakeRef<TSiProcessFlow>(pfEnterMethod);
    LFlow->Title = "Open";
    EXPECT_NE(Format(*LFlow, LSettings)
                  .find(" ProcessFlow [silog@32473 kind=\"ProcessFlow\" "
                        "type=\"EnterMethod\""),
              std::string::npos);
}

// Whatever a client puts into a title, a name or a session, the message stays one record
// with its fields where they belong.
TEST(SyslogFormatter, HostileTextStaysInItsField) {
    struct TCase {
        std::string Title;
        std::string Message;
    };
    const TCase LCases[] = {
        {"a\nb", "a\\nb"},
        {"a\r\n<13>1 2026-01-01T00:00:00Z evil app - - - forged",
         "a\\r\\n<13>1 2026-01-01T00:00:00Z evil app - - - forged"},
        {std::string("nul\0x\x1b[31m\x7f", 11), "nul\\x00x\\x1B[31m\\x7F"},
        {"next\xC2\x85line\xE2\x80\xA8sep\xE2\x80\xA9", "next\\u0085line\\u2028sep\\u2029"},
        {"bad \xFF\xC3 utf8", "bad \xEF\xBF\xBD\xEF\xBF\xBD utf8"},
        {"C:\\Praxis ] \"quoted\"", "C:\\Praxis ] \"quoted\""},
    };
    for (const TCase& LCase : LCases) {
        auto LEntry = Entry(LCase.Title);
        LEntry->SessionName = "s\"] [x@1 a=\"b\\";
        LEntry->HostName = "evil host\nx";
        const std::string LText = Format(*LEntry);
        EXPECT_EQ(LText.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << LText;
        EXPECT_EQ(LText.substr(LText.size() - LCase.Message.size()), LCase.Message) << LText;
        EXPECT_NE(LText.find(" evil_host_x Praxis "), std::string::npos) << LText;
        EXPECT_NE(LText.find(" session=\"s\\\"\\] [x@1 a=\\\"b\\\\\" "), std::string::npos)
            << LText;
    }
}

TEST(SyslogFormatter, CutAtTheLimitOnACharacterBoundary) {
    TSiSyslogSettings LSettings;
    LSettings.MaxLength = 600;
    std::string LTitle;
    for (int LI = 0; LI < 400; ++LI) LTitle += "\xC3\xA4";  // "ä", 2 bytes each
    const std::string LText = Format(*Entry(LTitle + "\n"), LSettings);
    EXPECT_LE(LText.size(), 600u);
    EXPECT_GE(LText.size(), 599u);
    EXPECT_EQ(LText.substr(LText.size() - 2), "\xC3\xA4");
    // A limit below the smallest message a receiver must take is raised to it.
    LSettings.MaxLength = 10;
    const std::size_t LRaised = Format(*Entry(LTitle), LSettings).size();
    EXPECT_LE(LRaised, 480u);
    EXPECT_GE(LRaised, 479u);
}

TEST(SyslogFormatter, SeveritiesAndFacilities) {
    EXPECT_EQ(SiSyslogSeverity(*Entry("", ltFatal)), 2);
    EXPECT_EQ(SiSyslogSeverity(*Entry("", ltError)), 3);
    EXPECT_EQ(SiSyslogSeverity(*Entry("", ltWarning)), 4);
    EXPECT_EQ(SiSyslogSeverity(*Entry("", ltMessage)), 6);
    EXPECT_EQ(SiSyslogSeverity(*Entry("", ltEnterMethod)), 7);
    EXPECT_EQ(SiSyslogSeverity(*Entry("", ltDebug)), 7);
    EXPECT_EQ(SiSyslogFacility("LOCAL7"), 23);
    EXPECT_EQ(SiSyslogFacility(" user "), 1);
    EXPECT_EQ(SiSyslogFacility("16"), 16);
    EXPECT_EQ(SiSyslogFacility("24"), std::nullopt);
    EXPECT_EQ(SiSyslogFacility("local8"), std::nullopt);
    EXPECT_EQ(SiSyslogFacilityName(16), "local0");
}

}  // namespace
}  // namespace deruz::logging
