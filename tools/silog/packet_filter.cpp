#include "tools/silog/packet_filter.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "logging/base/strings.h"
#include "logging/system/clock.h"

namespace deruz::silog {

using namespace deruz::logging;

namespace {

bool Before(const TSiDayTime& A_, const TSiDayTime& AB) {
    return A_.Day < AB.Day || (A_.Day == AB.Day && A_.Millisecond < AB.Millisecond);
}

// Reads exactly ADigits decimal digits at APos.
bool Digits(std::string_view AText, std::size_t& APos, std::size_t ADigits, int& AValue) {
    if (APos + ADigits > AText.size()) return false;
    const char* LBegin = AText.data() + APos;
    const auto LResult = std::from_chars(LBegin, LBegin + ADigits, AValue);
    if (LResult.ec != std::errc() || LResult.ptr != LBegin + ADigits) return false;
    APos += ADigits;
    return true;
}

bool Char(std::string_view AText, std::size_t& APos, char AChar) {
    if (APos >= AText.size() || AText[APos] != AChar) return false;
    ++APos;
    return true;
}

bool ReadTime(std::string_view AText, std::size_t& APos, TSiDateTimeParts& AParts) {
    if (!Digits(AText, APos, 2, AParts.Hour) || !Char(AText, APos, ':') ||
        !Digits(AText, APos, 2, AParts.Minute)) {
        return false;
    }
    if (Char(AText, APos, ':')) {
        if (!Digits(AText, APos, 2, AParts.Second)) return false;
        if (Char(AText, APos, '.') && !Digits(AText, APos, 3, AParts.Millisecond)) return false;
    }
    return AParts.Hour < 24 && AParts.Minute < 60 && AParts.Second < 60;
}

int DaysIn(int AYear, int AMonth) {
    static constexpr std::array<int, 12> LDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool LLeap = (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0;
    return AMonth == 2 && LLeap ? 29 : LDays[static_cast<std::size_t>(AMonth - 1)];
}

}  // namespace

std::optional<TDateTime> ParseLocalTime(std::string_view AText) {
    TSiDateTimeParts LParts;
    std::size_t LPos = 0;
    if (AText.size() >= 5 && AText[2] == ':') {
        const TSiDateTimeParts LToday = SiLocalTimeParts();
        LParts.Year = LToday.Year;
        LParts.Month = LToday.Month;
        LParts.Day = LToday.Day;
        if (!ReadTime(AText, LPos, LParts)) return std::nullopt;
    } else {
        if (!Digits(AText, LPos, 4, LParts.Year) || !Char(AText, LPos, '-') ||
            !Digits(AText, LPos, 2, LParts.Month) || !Char(AText, LPos, '-') ||
            !Digits(AText, LPos, 2, LParts.Day)) {
            return std::nullopt;
        }
        if (LParts.Year < 1 || LParts.Month < 1 || LParts.Month > 12 || LParts.Day < 1 ||
            LParts.Day > DaysIn(LParts.Year, LParts.Month)) {
            return std::nullopt;
        }
        if (LPos < AText.size()) {
            if (AText[LPos] != ' ' && AText[LPos] != 'T') return std::nullopt;
            ++LPos;
            if (!ReadTime(AText, LPos, LParts)) return std::nullopt;
        }
    }
    if (LPos != AText.size()) return std::nullopt;
    return SiEncodeDateTime(LParts);
}

int SeverityRank(TSiLogEntryType AType) {
    switch (AType) {
        case ltDebug:
            return 0;
        case ltVerbose:
            return 1;
        case ltMessage:
            return 2;
        case ltWarning:
            return 3;
        case ltError:
        case ltInternalError:
        case ltAssert:
            return 4;
        case ltFatal:
            return 5;
        default:
            return -1;
    }
}

const std::vector<std::string>& TPacketFilter::Options() {
    static const std::vector<std::string> LOptions = {"--session", "--min-level", "--since",
                                                      "--until"};
    return LOptions;
}

std::optional<TPacketFilter> TPacketFilter::FromArgs(const TArgs& AArgs, std::string& AError) {
    TPacketFilter LFilter;
    LFilter.FSessions = AArgs.Values("--session");
    if (const auto LLevel = AArgs.Value("--min-level")) {
        static constexpr std::array<std::string_view, 6> LLevels = {"debug",   "verbose", "message",
                                                                    "warning", "error",   "fatal"};
        const auto LIt = std::find_if(LLevels.begin(), LLevels.end(), [&](std::string_view AName) {
            return SiSameText(AName, *LLevel);
        });
        if (LIt == LLevels.end()) {
            AError = "unknown level '" + *LLevel +
                     "' (debug, verbose, message, warning, error or fatal)";
            return std::nullopt;
        }
        LFilter.FMinRank = static_cast<int>(LIt - LLevels.begin());
    }
    for (const char* LName : {"--since", "--until"}) {
        if (const auto LText = AArgs.Value(LName)) {
            const auto LTime = ParseLocalTime(*LText);
            if (!LTime) {
                AError = std::string(LName) + ": cannot read the time '" + *LText +
                         "' (yyyy-mm-dd, yyyy-mm-dd hh:nn[:ss[.zzz]] or hh:nn[:ss[.zzz]])";
                return std::nullopt;
            }
            (LName[2] == 's' ? LFilter.FSince : LFilter.FUntil) = SiSplitDateTime(*LTime);
        }
    }
    return LFilter;
}

bool TPacketFilter::Matches(const TSiPacket& APacket) const {
    const auto LType = APacket.GetPacketType();
    if (!FSessions.empty() || FMinRank >= 0) {
        if (LType != ptLogEntry) return false;
        const auto& LEntry = static_cast<const TSiLogEntry&>(APacket);
        if (!FSessions.empty() &&
            std::find(FSessions.begin(), FSessions.end(), LEntry.SessionName) == FSessions.end()) {
            return false;
        }
        // Types without a severity pass --min-level debug only.
        if (FMinRank > 0 && SeverityRank(LEntry.LogEntryType) < FMinRank) return false;
    }
    if (FSince || FUntil) {
        TDateTime LStamp;
        switch (LType) {
            case ptLogEntry:
                LStamp = static_cast<const TSiLogEntry&>(APacket).Timestamp;
                break;
            case ptWatch:
                LStamp = static_cast<const TSiWatch&>(APacket).Timestamp;
                break;
            case ptProcessFlow:
                LStamp = static_cast<const TSiProcessFlow&>(APacket).Timestamp;
                break;
            default:
                return false;
        }
        if (!SiIsCalendarDate(LStamp)) return false;
        const TSiDayTime LAt = SiSplitDateTime(LStamp);
        if (FSince && Before(LAt, *FSince)) return false;
        if (FUntil && Before(*FUntil, LAt)) return false;
    }
    return true;
}

}  // namespace deruz::silog
