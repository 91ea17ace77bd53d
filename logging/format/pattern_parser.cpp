// The pattern language of text log lines: timestamp formats, tokens, the token factory and the
// parser that expands a pattern for each log entry.
#include "logging/format/pattern_parser.h"

#include <array>
#include <atomic>
#include <charconv>
#include <limits>

#include "logging/base/enums.h"
#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// --- Timestamp formats ----------------------------------------------------------------------

char Upper(char AChar) {
    return AChar >= 'a' && AChar <= 'z' ? static_cast<char>(AChar - 'a' + 'A') : AChar;
}

bool IsLetter(char AChar) {
    return Upper(AChar) >= 'A' && Upper(AChar) <= 'Z';
}

bool StartsWithText(std::string_view AText, std::size_t APos, std::string_view APrefix) {
    return AText.size() - APos >= APrefix.size() &&
           SiSameText(AText.substr(APos, APrefix.size()), APrefix);
}

// The separator of a locale's date or time picture: its first character that is neither a
// letter nor quoted nor blank; AFallback when it has none.
std::string SeparatorOf(std::string_view APicture, std::string_view AFallback) {
    bool LQuoted = false;
    for (const char LChar : APicture) {
        if (LChar == '\'') {
            LQuoted = !LQuoted;
        } else if (!LQuoted && !IsLetter(LChar) && LChar != ' ') {
            return std::string(1, LChar);
        }
    }
    return std::string(AFallback);
}

// Pads the text that AOut holds from AStart to |AWidth| characters (at most CSiMaxTokenWidth):
// on the left for a positive width, on the right for a negative one.
void Pad(std::string& AOut, std::size_t AStart, std::int32_t AWidth) {
    if (AWidth == 0) {
        return;
    }
    std::int64_t LWidth = AWidth < 0 ? -static_cast<std::int64_t>(AWidth) : AWidth;
    if (LWidth > CSiMaxTokenWidth) {
        LWidth = CSiMaxTokenWidth;
    }
    const auto LLength =
        static_cast<std::int64_t>(SiUtf16Length(std::string_view(AOut).substr(AStart)));
    if (LLength >= LWidth) {
        return;
    }
    const auto LFill = static_cast<std::size_t>(LWidth - LLength);
    if (AWidth > 0) {
        AOut.insert(AStart, LFill, ' ');
    } else {
        AOut.append(LFill, ' ');
    }
}

}  // namespace

TSiTimestampFormat::TSiTimestampFormat(const TSiFormatSettings& ASettings)
    : FSettings(ASettings),
      FDateSeparator(SeparatorOf(ASettings.ShortDateFormat, "/")),
      FTimeSeparator(SeparatorOf(ASettings.LongTimeFormat, ":")) {
    Compile(CSiDefaultTimestampFormat);
}

bool TSiTimestampFormat::Compile(std::string_view AFormat) {
    std::vector<TItem> LItems;
    bool LTwelveHour = false;
    const auto LAddLiteral = [&LItems](std::string_view AText) {
        if (AText.empty()) {
            return;
        }
        if (!LItems.empty() && LItems.back().Kind == fkLiteral) {
            LItems.back().Text.append(AText);
        } else {
            LItems.push_back({fkLiteral, std::string(AText), {}});
        }
    };
    char LLastLetter = '\0';
    std::size_t LPos = 0;
    while (LPos < AFormat.size()) {
        const char LChar = AFormat[LPos];
        if (LChar == '\'' || LChar == '"') {
            const std::size_t LClose = AFormat.find(LChar, LPos + 1);
            if (LClose == std::string_view::npos) {
                return false;
            }
            LAddLiteral(AFormat.substr(LPos + 1, LClose - LPos - 1));
            LPos = LClose + 1;
            continue;
        }
        if (LChar == ':') {
            LAddLiteral(FTimeSeparator);
            ++LPos;
            continue;
        }
        if (LChar == '/') {
            LAddLiteral(FDateSeparator);
            ++LPos;
            continue;
        }
        if (!IsLetter(LChar)) {
            LAddLiteral(AFormat.substr(LPos, 1));
            ++LPos;
            continue;
        }
        // Designators come before the letters they start with.
        if (StartsWithText(AFormat, LPos, "am/pm")) {
            LItems.push_back({fkDesignator, std::string(AFormat.substr(LPos, 2)),
                              std::string(AFormat.substr(LPos + 3, 2))});
            LTwelveHour = true;
            LPos += 5;
            LLastLetter = 'M';
            continue;
        }
        if (StartsWithText(AFormat, LPos, "a/p")) {
            LItems.push_back({fkDesignator, std::string(AFormat.substr(LPos, 1)),
                              std::string(AFormat.substr(LPos + 2, 1))});
            LTwelveHour = true;
            LPos += 3;
            LLastLetter = 'P';
            continue;
        }
        if (StartsWithText(AFormat, LPos, "ampm")) {
            LItems.push_back({fkDesignator, FSettings.TimeAMString, FSettings.TimePMString});
            LTwelveHour = true;
            LPos += 4;
            LLastLetter = 'M';
            continue;
        }
        const char LUpper = Upper(LChar);
        std::size_t LCount = 1;
        while (LPos + LCount < AFormat.size() && Upper(AFormat[LPos + LCount]) == LUpper) {
            ++LCount;
        }
        const bool LOne = LCount == 1;
        switch (LUpper) {
            case 'Y':
                LItems.push_back({LCount <= 2 ? fkYear2 : fkYear4, {}, {}});
                break;
            case 'M':
                if (LLastLetter == 'H') {
                    LItems.push_back({LOne ? fkMinute : fkMinute2, {}, {}});
                } else if (LCount <= 2) {
                    LItems.push_back({LOne ? fkMonth : fkMonth2, {}, {}});
                } else {
                    LItems.push_back({LCount == 3 ? fkMonthShort : fkMonthLong, {}, {}});
                }
                break;
            case 'D':
                if (LCount <= 2) {
                    LItems.push_back({LOne ? fkDay : fkDay2, {}, {}});
                } else {
                    LItems.push_back({LCount == 3 ? fkDayShort : fkDayLong, {}, {}});
                }
                break;
            case 'H':
                LItems.push_back({LOne ? fkHour : fkHour2, {}, {}});
                break;
            case 'N':
                LItems.push_back({LOne ? fkMinute : fkMinute2, {}, {}});
                break;
            case 'S':
                LItems.push_back({LOne ? fkSecond : fkSecond2, {}, {}});
                break;
            case 'Z':
                LItems.push_back({LOne ? fkMilli : fkMilli3, {}, {}});
                break;
            default:
                LAddLiteral(AFormat.substr(LPos, LCount));
                break;
        }
        LLastLetter = LUpper;
        LPos += LCount;
    }
    FItems = std::move(LItems);
    FTwelveHour = LTwelveHour;
    static std::atomic<std::uint64_t> LGNextId{0};
    FId = ++LGNextId;
    return true;
}

TSiTimestampFormat::TSecondText& TSiTimestampFormat::SecondCache() const {
    // A few slots, so that a thread writing to several text protocols in turn does not
    // render every second again; the oldest slot gives way.
    constexpr std::size_t LKSlots = 4;
    thread_local std::array<TSecondText, LKSlots> LSlots;
    thread_local std::size_t LNext = 0;
    for (TSecondText& LSlot : LSlots) {
        if (LSlot.Owner == FId) {
            return LSlot;
        }
    }
    TSecondText& LSlot = LSlots[LNext];
    LNext = (LNext + 1) % LKSlots;
    LSlot.Owner = FId;
    LSlot.Second = -1;
    LSlot.LastValue = std::numeric_limits<double>::quiet_NaN();
    return LSlot;
}

void TSiTimestampFormat::AppendTo(std::string& AOut, TDateTime AValue) const {
    if (!SiIsCalendarDate(AValue)) {
        AOut += SiFloatToStr(AValue, FSettings);
        return;
    }
    TSecondText& LCache = SecondCache();
    if (AValue == LCache.LastValue) {
        AOut += LCache.LastText;
        return;
    }
    const TSiDayTime LTime = SiSplitDateTime(AValue);
    const std::int64_t LSecond = LTime.Millisecond / 1000;
    if (LTime.Day != LCache.Day || LSecond != LCache.Second) {
        LCache.Second = -1;  // stays invalid if rendering throws
        LCache.LastValue = std::numeric_limits<double>::quiet_NaN();
        LCache.Text.clear();
        LCache.Millis.clear();
        Render(LCache.Text, SiDayTimeParts({LTime.Day, LSecond * 1000}), &LCache.Millis);
        LCache.Day = LTime.Day;
        LCache.Second = LSecond;
    }
    const int LMillisecond = static_cast<int>(LTime.Millisecond % 1000);
    const std::size_t LStart = AOut.size();
    std::size_t LDone = 0;
    for (const TMilliField& LField : LCache.Millis) {
        AOut.append(LCache.Text, LDone, LField.Offset - LDone);
        SiAppendDecimal(AOut, LMillisecond, LField.Digits);
        LDone = LField.Offset;
    }
    AOut.append(LCache.Text, LDone, std::string::npos);
    LCache.LastText.assign(AOut, LStart, std::string::npos);
    LCache.LastValue = AValue;
}

void TSiTimestampFormat::Render(std::string& AOut, const TSiDateTimeParts& AParts,
                                std::vector<TMilliField>* AMillis) const {
    int LHour = AParts.Hour;
    if (FTwelveHour) {
        LHour = LHour % 12 == 0 ? 12 : LHour % 12;
    }
    for (const TItem& LItem : FItems) {
        switch (LItem.Kind) {
            case fkLiteral:
                AOut += LItem.Text;
                break;
            case fkYear2:
                SiAppendDecimal(AOut, AParts.Year % 100, 2);
                break;
            case fkYear4:
                SiAppendDecimal(AOut, AParts.Year, 4);
                break;
            case fkMonth:
            case fkMonth2:
                SiAppendDecimal(AOut, AParts.Month, LItem.Kind == fkMonth ? 1 : 2);
                break;
            case fkMonthShort:
                AOut += FSettings.ShortMonthNames[AParts.Month - 1];
                break;
            case fkMonthLong:
                AOut += FSettings.LongMonthNames[AParts.Month - 1];
                break;
            case fkDay:
            case fkDay2:
                SiAppendDecimal(AOut, AParts.Day, LItem.Kind == fkDay ? 1 : 2);
                break;
            case fkDayShort:
                AOut += FSettings.ShortDayNames[SiDayOfWeek(AParts.Year, AParts.Month, AParts.Day)];
                break;
            case fkDayLong:
                AOut += FSettings.LongDayNames[SiDayOfWeek(AParts.Year, AParts.Month, AParts.Day)];
                break;
            case fkHour:
            case fkHour2:
                SiAppendDecimal(AOut, LHour, LItem.Kind == fkHour ? 1 : 2);
                break;
            case fkMinute:
            case fkMinute2:
                SiAppendDecimal(AOut, AParts.Minute, LItem.Kind == fkMinute ? 1 : 2);
                break;
            case fkSecond:
            case fkSecond2:
                SiAppendDecimal(AOut, AParts.Second, LItem.Kind == fkSecond ? 1 : 2);
                break;
            case fkMilli:
            case fkMilli3:
                if (AMillis != nullptr) {
                    AMillis->push_back({AOut.size(), LItem.Kind == fkMilli ? 1 : 3});
                } else {
                    SiAppendDecimal(AOut, AParts.Millisecond, LItem.Kind == fkMilli ? 1 : 3);
                }
                break;
            case fkDesignator:
                AOut += AParts.Hour < 12 ? LItem.Text : LItem.Text2;
                break;
        }
    }
}

std::string TSiTimestampFormat::Format(TDateTime AValue) const {
    std::string LOut;
    AppendTo(LOut, AValue);
    return LOut;
}

// --- Tokens ---------------------------------------------------------------------------------

std::string TSiToken::Expand(const TSiLogEntry& ALogEntry) const {
    std::string LOut;
    AppendTo(ALogEntry, LOut);
    return LOut;
}

void TSiLiteralToken::AppendTo(const TSiLogEntry&, std::string& AOut) const {
    AOut += Value();
}

void TSiAppNameToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += ALogEntry.AppName;
}

void TSiSessionToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += ALogEntry.SessionName;
}

void TSiHostNameToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += ALogEntry.HostName;
}

void TSiTitleToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += ALogEntry.Title;
}

void TSiLevelToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += SiLevelString(ALogEntry.Level);
}

void TSiLogEntryTypeToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += SiLogEntryTypeString(ALogEntry.LogEntryType);
}

void TSiViewerIdToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    AOut += SiViewerIdString(ALogEntry.ViewerId);
}

void TSiColorToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    if (ALogEntry.Color == clWindow) {
        AOut += "<default>";
        return;
    }
    static constexpr char LHex[] = "0123456789ABCDEF";
    const auto LValue = static_cast<std::uint32_t>(ALogEntry.Color);
    AOut += '$';
    // Red is the lowest byte of the value and comes first.
    for (int LShift = 0; LShift < 24; LShift += 8) {
        const auto LByte = static_cast<std::uint8_t>(LValue >> LShift);
        AOut += LHex[LByte >> 4];
        AOut += LHex[LByte & 0x0F];
    }
}

void TSiThreadIdToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    SiAppendDecimal(AOut, ALogEntry.ThreadId);
}

void TSiProcessIdToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    SiAppendDecimal(AOut, ALogEntry.ProcessId);
}

TSiTimestampToken::TSiTimestampToken(std::string AOptions, std::string AValue, std::int32_t AWidth,
                                     const TSiFormatSettings& ASettings)
    : TSiToken(std::move(AOptions), std::move(AValue), AWidth), FFormat(ASettings) {
    // An invalid format leaves the default in place.
    if (!Options().empty()) {
        FFormat.Compile(Options());
    }
}

void TSiTimestampToken::AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const {
    FFormat.AppendTo(AOut, ALogEntry.Timestamp);
}

// --- Token factory --------------------------------------------------------------------------

namespace {

enum TTokenClass : std::uint8_t {
    tcAppName,
    tcSession,
    tcHostName,
    tcTitle,
    tcTimestamp,
    tcLevel,
    tcColor,
    tcLogEntryType,
    tcViewerId,
    tcThread,
    tcProcess,
};

struct TTokenName {
    std::string_view Name;
    TTokenClass Class;
};

constexpr std::array<TTokenName, 11> CTokenLookup = {{
    {"%appname%", tcAppName},
    {"%session%", tcSession},
    {"%hostname%", tcHostName},
    {"%title%", tcTitle},
    {"%timestamp%", tcTimestamp},
    {"%level%", tcLevel},
    {"%color%", tcColor},
    {"%logentrytype%", tcLogEntryType},
    {"%viewerid%", tcViewerId},
    {"%thread%", tcThread},
    {"%process%", tcProcess},
}};

std::unique_ptr<TSiToken> CreateToken(TTokenClass AClass, std::string AOptions, std::string AValue,
                                      std::int32_t AWidth, const TSiFormatSettings& ASettings) {
    switch (AClass) {
        case tcAppName:
            return std::make_unique<TSiAppNameToken>(std::move(AOptions), std::move(AValue),
                                                     AWidth);
        case tcSession:
            return std::make_unique<TSiSessionToken>(std::move(AOptions), std::move(AValue),
                                                     AWidth);
        case tcHostName:
            return std::make_unique<TSiHostNameToken>(std::move(AOptions), std::move(AValue),
                                                      AWidth);
        case tcTitle:
            return std::make_unique<TSiTitleToken>(std::move(AOptions), std::move(AValue), AWidth);
        case tcTimestamp:
            return std::make_unique<TSiTimestampToken>(std::move(AOptions), std::move(AValue),
                                                       AWidth, ASettings);
        case tcLevel:
            return std::make_unique<TSiLevelToken>(std::move(AOptions), std::move(AValue), AWidth);
        case tcColor:
            return std::make_unique<TSiColorToken>(std::move(AOptions), std::move(AValue), AWidth);
        case tcLogEntryType:
            return std::make_unique<TSiLogEntryTypeToken>(std::move(AOptions), std::move(AValue),
                                                          AWidth);
        case tcViewerId:
            return std::make_unique<TSiViewerIdToken>(std::move(AOptions), std::move(AValue),
                                                      AWidth);
        case tcThread:
            return std::make_unique<TSiThreadIdToken>(std::move(AOptions), std::move(AValue),
                                                      AWidth);
        case tcProcess:
            return std::make_unique<TSiProcessIdToken>(std::move(AOptions), std::move(AValue),
                                                       AWidth);
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<TSiToken> TSiTokenFactory::GetToken(std::string_view AText,
                                                    const TSiFormatSettings& ASettings) {
    if (AText.size() <= 2 || AText.front() != '%' || AText.back() != '%') {
        return CreateLiteral(AText);
    }
    std::string LName(AText);
    std::string LOptions;
    // Options: from the first "{" through a "}" right before the closing "%".
    if (LName[LName.size() - 2] == '}') {
        const std::size_t LClose = LName.size() - 2;
        const std::size_t LOpen = LName.find('{');
        if (LOpen < LClose) {
            LOptions = LName.substr(LOpen + 1, LClose - LOpen - 1);
            LName.erase(LOpen, LClose - LOpen + 1);
        }
    }
    // Width: from the first "," up to the closing "%".
    std::string_view LWidthText;
    std::string LWidthBuffer;
    if (const std::size_t LComma = LName.find(','); LComma != std::string::npos) {
        LWidthBuffer = LName.substr(LComma + 1, LName.size() - 1 - (LComma + 1));
        LWidthText = LWidthBuffer;
        LName.erase(LComma, LName.size() - 1 - LComma);
    }
    for (const TTokenName& LEntry : CTokenLookup) {
        if (SiSameText(LName, LEntry.Name)) {
            return CreateToken(LEntry.Class, std::move(LOptions), std::string(AText),
                               ParseWidth(LWidthText), ASettings);
        }
    }
    return CreateLiteral(AText);
}

std::unique_ptr<TSiToken> TSiTokenFactory::GetToken(std::string_view AText) {
    return GetToken(AText, SiThreadFormatSettings());
}

std::unique_ptr<TSiToken> TSiTokenFactory::CreateLiteral(std::string_view AText) {
    return std::make_unique<TSiLiteralToken>(std::string(AText));
}

std::int32_t TSiTokenFactory::ParseWidth(std::string_view AText) {
    std::string_view LText = SiTrim(AText);
    if (!LText.empty() && LText.front() == '+') {
        LText.remove_prefix(1);
        if (!LText.empty() && LText.front() == '-') {
            return 0;
        }
    }
    if (LText.empty()) {
        return 0;
    }
    std::int32_t LValue = 0;
    const char* LEnd = LText.data() + LText.size();
    const auto LResult = std::from_chars(LText.data(), LEnd, LValue);
    return LResult.ec == std::errc() && LResult.ptr == LEnd ? LValue : 0;
}

// --- Parser ---------------------------------------------------------------------------------

TSiPatternParser::TSiPatternParser() = default;

void TSiPatternParser::SetPattern(std::string_view AValue) {
    FPattern = std::string(SiTrim(AValue));
    FIndentLevel = 0;
    Parse();
}

void TSiPatternParser::SetFormatSettings(const TSiFormatSettings& ASettings) {
    FSettings = ASettings;
    Parse();
}

void TSiPatternParser::Parse() {
    FTokens.clear();
    FPosition = 0;
    const TSiFormatSettings& LSettings = FSettings ? *FSettings : SiThreadFormatSettings();
    for (std::string_view LText = Next(); !LText.empty(); LText = Next()) {
        FTokens.push_back(TSiTokenFactory::GetToken(LText, LSettings));
    }
}

std::string_view TSiPatternParser::Next() {
    const std::string_view LPattern = FPattern;
    if (FPosition >= LPattern.size()) {
        return {};
    }
    const std::size_t LStart = FPosition;
    std::size_t LEnd;
    if (LPattern[LStart] == '%') {
        const std::size_t LClose = LPattern.find('%', LStart + 1);
        LEnd = LClose == std::string_view::npos ? LPattern.size() : LClose + 1;
    } else {
        const std::size_t LPercent = LPattern.find('%', LStart);
        LEnd = LPercent == std::string_view::npos ? LPattern.size() : LPercent;
    }
    FPosition = LEnd;
    return LPattern.substr(LStart, LEnd - LStart);
}

std::string TSiPatternParser::Expand(const TSiLogEntry& ALogEntry) {
    std::string LOut;
    ExpandTo(ALogEntry, LOut);
    return LOut;
}

void TSiPatternParser::ExpandTo(const TSiLogEntry& ALogEntry, std::string& AOut) {
    if (FTokens.empty()) {
        return;
    }
    if (ALogEntry.LogEntryType == ltLeaveMethod && FIndentLevel > 0) {
        --FIndentLevel;
    }
    for (const auto& LToken : FTokens) {
        if (FIndent && LToken->Indent()) {
            AOut.append(static_cast<std::size_t>(FIndentLevel) * 3, ' ');
        }
        const std::size_t LStart = AOut.size();
        LToken->AppendTo(ALogEntry, AOut);
        if (LToken->Width() != 0) {
            Pad(AOut, LStart, LToken->Width());
        }
    }
    if (ALogEntry.LogEntryType == ltEnterMethod &&
        FIndentLevel < std::numeric_limits<std::int32_t>::max()) {
        ++FIndentLevel;
    }
}

}  // namespace deruz::logging
