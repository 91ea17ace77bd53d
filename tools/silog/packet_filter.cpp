#include "tools/silog/packet_filter.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "logging/base/strings.h"
#include "logging/system/clock.h"

namespace deruz::silog {

using namespace deruz::logging;

namespace {

bool Before(const TSiDayTime& A, const TSiDayTime& B) {
    return A.Day < B.Day || (A.Day == B.Day && A.Millisecond < B.Millisecond);
}

// Reads exactly ADigits decimal digits at APos.
bool Digits(std::string_view AText, std::size_t& APos, std::size_t ADigits, int& AValue) {
    if (APos + ADigits > AText.size()) return false;
    const char* begin = AText.data() + APos;
    const auto result = std::from_chars(begin, begin + ADigits, AValue);
    if (result.ec != std::errc() || result.ptr != begin + ADigits) return false;
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
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0;
    return AMonth == 2 && leap ? 29 : kDays[static_cast<std::size_t>(AMonth - 1)];
}

}  // namespace

std::optional<TDateTime> ParseLocalTime(std::string_view AText) {
    TSiDateTimeParts parts;
    std::size_t pos = 0;
    if (AText.size() >= 5 && AText[2] == ':') {
        const TSiDateTimeParts today = SiLocalTimeParts();
        parts.Year = today.Year;
        parts.Month = today.Month;
        parts.Day = today.Day;
        if (!ReadTime(AText, pos, parts)) return std::nullopt;
    } else {
        if (!Digits(AText, pos, 4, parts.Year) || !Char(AText, pos, '-') ||
            !Digits(AText, pos, 2, parts.Month) || !Char(AText, pos, '-') ||
            !Digits(AText, pos, 2, parts.Day)) {
            return std::nullopt;
        }
        if (parts.Year < 1 || parts.Month < 1 || parts.Month > 12 || parts.Day < 1 ||
            parts.Day > DaysIn(parts.Year, parts.Month)) {
            return std::nullopt;
        }
        if (pos < AText.size()) {
            if (AText[pos] != ' ' && AText[pos] != 'T') return std::nullopt;
            ++pos;
            if (!ReadTime(AText, pos, parts)) return std::nullopt;
        }
    }
    if (pos != AText.size()) return std::nullopt;
    return SiEncodeDateTime(parts);
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
    static const std::vector<std::string> kOptions = {"--session", "--min-level", "--since",
                                                      "--until"};
    return kOptions;
}

std::optional<TPacketFilter> TPacketFilter::FromArgs(const TArgs& AArgs, std::string& AError) {
    TPacketFilter filter;
    filter.FSessions = AArgs.Values("--session");
    if (const auto level = AArgs.Value("--min-level")) {
        static constexpr std::array<std::string_view, 6> kLevels = {"debug",   "verbose", "message",
                                                                    "warning", "error",   "fatal"};
        const auto it = std::find_if(kLevels.begin(), kLevels.end(), [&](std::string_view name) {
            return SiSameText(name, *level);
        });
        if (it == kLevels.end()) {
            AError =
                "unknown level '" + *level + "' (debug, verbose, message, warning, error or fatal)";
            return std::nullopt;
        }
        filter.FMinRank = static_cast<int>(it - kLevels.begin());
    }
    for (const char* name : {"--since", "--until"}) {
        if (const auto text = AArgs.Value(name)) {
            const auto time = ParseLocalTime(*text);
            if (!time) {
                AError = std::string(name) + ": cannot read the time '" + *text +
                         "' (yyyy-mm-dd, yyyy-mm-dd hh:nn[:ss[.zzz]] or hh:nn[:ss[.zzz]])";
                return std::nullopt;
            }
            (name[2] == 's' ? filter.FSince : filter.FUntil) = SiSplitDateTime(*time);
        }
    }
    return filter;
}

bool TPacketFilter::Matches(const TSiPacket& APacket) const {
    const auto type = APacket.GetPacketType();
    if (!FSessions.empty() || FMinRank >= 0) {
        if (type != ptLogEntry) return false;
        const auto& entry = static_cast<const TSiLogEntry&>(APacket);
        if (!FSessions.empty() &&
            std::find(FSessions.begin(), FSessions.end(), entry.SessionName) == FSessions.end()) {
            return false;
        }
        // Types without a severity pass --min-level debug only.
        if (FMinRank > 0 && SeverityRank(entry.LogEntryType) < FMinRank) return false;
    }
    if (FSince || FUntil) {
        TDateTime stamp;
        switch (type) {
            case ptLogEntry:
                stamp = static_cast<const TSiLogEntry&>(APacket).Timestamp;
                break;
            case ptWatch:
                stamp = static_cast<const TSiWatch&>(APacket).Timestamp;
                break;
            case ptProcessFlow:
                stamp = static_cast<const TSiProcessFlow&>(APacket).Timestamp;
                break;
            default:
                return false;
        }
        if (!SiIsCalendarDate(stamp)) return false;
        const TSiDayTime at = SiSplitDateTime(stamp);
        if (FSince && Before(at, *FSince)) return false;
        if (FUntil && Before(*FUntil, at)) return false;
    }
    return true;
}

}  // namespace deruz::silog
