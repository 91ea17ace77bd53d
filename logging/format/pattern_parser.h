// The pattern language of text log lines, such as "[%timestamp%] %level%: %title%".
//
// A pattern is read left to right as tokens: literal text up to the next "%", and variables
// from a "%" through the next "%" (or to the end of the pattern). A variable has the form
// %name[,width][{options}]% and names one of eleven fields of a log entry; a variable that
// names none, or that is two characters or shorter ("%%", a trailing "%"), is written as it
// stands. A width w > 0 pads the text on the left to w characters, w < 0 pads it on the right to
// -w characters; longer text is never cut. Characters are counted as UTF-16 code units, as log
// viewers count them. The options of %timestamp% are a date-time format (TSiTimestampFormat).
//
// - TSiTimestampFormat: a compiled date-time format of the %timestamp% language.
// - TSiToken and its subclasses: one piece of a pattern, expanded for a log entry.
// - TSiTokenFactory: turns the text of one piece into its token.
// - TSiPatternParser: splits a pattern into tokens once and expands it for each log entry,
//   indenting titles by the method nesting depth when asked to.
//
// Thread safety: tokens and compiled formats are immutable after construction and may be read
// from any thread. A TSiPatternParser keeps the nesting depth between entries and is used by one
// thread at a time (its formatter's protocol serialises it). Ownership: the parser owns its
// tokens; nothing keeps a reference to the log entries it expands.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/si_format.h"
#include "logging/packets/packet.h"

namespace deruz::logging {

// The format of timestamps when a pattern gives none, or gives an invalid one.
inline constexpr std::string_view CSiDefaultTimestampFormat = "yyyy-mm-dd hh:nn:ss.zzz";

// Widths beyond this many characters are taken as this many, so that a mistyped width cannot
// make every line gigabytes long.
inline constexpr std::int32_t CSiMaxTokenWidth = 4096;

// A date-time format of the %timestamp% language, compiled once and applied to many values.
// Specifiers (letters in either case; a run of the same letter is one specifier):
//   y yy: two-digit year; yyy and longer: four-digit year
//   m mm: month (minute when the previous letter was an h); mmm: short month name;
//         mmmm and longer: long month name
//   d dd: day; ddd: short day name; dddd and longer: long day name
//   h hh: hour, 00 to 23 (1 to 12 when the format has an am/pm designator)
//   n nn: minute; s ss: second; z: milliseconds; zz and longer: three-digit milliseconds
//   am/pm, a/p: the designator as written in the format; ampm: the locale's designator
//   ":" the locale's time separator, "/" the locale's date separator
//   '...' and "..." copy the quoted text
// A single letter writes the number without a leading zero. Everything else is copied.
// A format with an unclosed quote is invalid.
class TSiTimestampFormat {
  public:
    // The default format, CSiDefaultTimestampFormat, with the given locale settings. The
    // separators are the first character that is neither a letter, a blank nor quoted in the
    // settings' short date and long time pictures ("/" and ":" when there is none).
    explicit TSiTimestampFormat(const TSiFormatSettings& ASettings);

    // Replaces the format by AFormat; returns false and keeps the current format when AFormat
    // is invalid.
    bool Compile(std::string_view AFormat);

    // Appends the text of AValue. A value outside the years 1 to 9999 (or not finite) has no
    // calendar date and is written as a number. Formatting does not change the format, so
    // one format may serve several threads at once: each thread keeps the text of the last
    // second it wrote with each of the few formats it used last.
    void AppendTo(std::string& AOut, TDateTime AValue) const;
    std::string Format(TDateTime AValue) const;

  private:
    enum TKind : std::uint8_t {
        fkLiteral,
        fkYear2,
        fkYear4,
        fkMonth,
        fkMonth2,
        fkMonthShort,
        fkMonthLong,
        fkDay,
        fkDay2,
        fkDayShort,
        fkDayLong,
        fkHour,
        fkHour2,
        fkMinute,
        fkMinute2,
        fkSecond,
        fkSecond2,
        fkMilli,
        fkMilli3,
        fkDesignator,
    };
    struct TItem {
        TKind Kind;
        // The copied text of a literal; the morning and afternoon designators of fkDesignator.
        std::string Text;
        std::string Text2;
    };

    // Where a millisecond field goes in the text of a second, and its least number of digits.
    struct TMilliField {
        std::size_t Offset;
        int Digits;
    };
    // The text of the last second formatted, without its millisecond fields. Log entries
    // come many to a second, so most values only need their milliseconds filled in. Kept per
    // thread and per compiled format (Owner: the format's FId).
    struct TSecondText {
        std::uint64_t Owner = 0;
        std::int64_t Day = 0;
        std::int64_t Second = -1;
        std::string Text;
        std::vector<TMilliField> Millis;
        // The whole text of the last value written (NaN, which equals no value, whenever the
        // slot or its second is renewed): entries come in bursts that share their timestamp,
        // and the clock hands out one value per millisecond.
        TDateTime LastValue = std::numeric_limits<double>::quiet_NaN();
        std::string LastText;
    };
    // This thread's text of the last second for this compiled format.
    TSecondText& SecondCache() const;

    // Appends the text of AParts; with AMillis, millisecond fields are recorded there instead.
    void Render(std::string& AOut, const TSiDateTimeParts& AParts,
                std::vector<TMilliField>* AMillis) const;

    std::vector<TItem> FItems;
    // Names this compiled state for the per-thread caches; never reused, renewed by Compile.
    std::uint64_t FId = 0;
    bool FTwelveHour = false;
    TSiFormatSettings FSettings;
    std::string FDateSeparator;
    std::string FTimeSeparator;
};

// One piece of a pattern. Options, Value (the piece's full text in the pattern), Indent and
// Width are fixed at creation.
class TSiToken {
  public:
    virtual ~TSiToken() = default;
    TSiToken(const TSiToken&) = delete;
    TSiToken& operator=(const TSiToken&) = delete;

    // Appends the token's text for ALogEntry (without width padding or indentation).
    virtual void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const = 0;
    std::string Expand(const TSiLogEntry& ALogEntry) const;

    const std::string& Options() const noexcept { return FOptions; }
    const std::string& Value() const noexcept { return FValue; }
    // Whether the parser indents this token by the nesting depth (only the title does).
    bool Indent() const noexcept { return FIndent; }
    std::int32_t Width() const noexcept { return FWidth; }

  protected:
    TSiToken(std::string AOptions, std::string AValue, std::int32_t AWidth, bool AIndent = false)
        : FOptions(std::move(AOptions)),
          FValue(std::move(AValue)),
          FIndent(AIndent),
          FWidth(AWidth) {}

  private:
    std::string FOptions;
    std::string FValue;
    bool FIndent;
    std::int32_t FWidth;
};

// Text copied as it stands.
class TSiLiteralToken final : public TSiToken {
  public:
    explicit TSiLiteralToken(std::string AValue) : TSiToken({}, std::move(AValue), 0) {}
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};

// Base of the variables: created with the options, full text and width of their piece.
class TSiFieldToken : public TSiToken {
  public:
    TSiFieldToken(std::string AOptions, std::string AValue, std::int32_t AWidth)
        : TSiToken(std::move(AOptions), std::move(AValue), AWidth) {}
};

// %appname%, %session%, %hostname%: the entry's names.
class TSiAppNameToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};
class TSiSessionToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};
class TSiHostNameToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};

// %level%, %logentrytype%, %viewerid%: display names.
class TSiLevelToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};
class TSiLogEntryTypeToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};
class TSiViewerIdToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};

// %color%: "<default>" for the system window colour, otherwise "$RRGGBB" in upper case.
class TSiColorToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};

// %thread%, %process%: the ids in decimal.
class TSiThreadIdToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};
class TSiProcessIdToken final : public TSiFieldToken {
  public:
    using TSiFieldToken::TSiFieldToken;
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};

// %title%: the entry's title; the one token that is indented by the nesting depth.
class TSiTitleToken final : public TSiToken {
  public:
    TSiTitleToken(std::string AOptions, std::string AValue, std::int32_t AWidth)
        : TSiToken(std::move(AOptions), std::move(AValue), AWidth, true) {}
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;
};

// %timestamp%: the entry's timestamp in the format given as options, or in
// CSiDefaultTimestampFormat when there are none or they are invalid.
class TSiTimestampToken final : public TSiToken {
  public:
    TSiTimestampToken(std::string AOptions, std::string AValue, std::int32_t AWidth,
                      const TSiFormatSettings& ASettings);
    void AppendTo(const TSiLogEntry& ALogEntry, std::string& AOut) const override;

  private:
    TSiTimestampFormat FFormat;
};

class TSiTokenFactory {
  public:
    // The token for the text of one piece of a pattern; ASettings are the locale settings of
    // the timestamp. Unknown and short variables become literal tokens of the full text.
    static std::unique_ptr<TSiToken> GetToken(std::string_view AText,
                                              const TSiFormatSettings& ASettings);
    static std::unique_ptr<TSiToken> GetToken(std::string_view AText);
    static std::unique_ptr<TSiToken> CreateLiteral(std::string_view AText);
    // The trimmed text as a decimal integer with an optional sign; 0 when it is empty, not a
    // number, or beyond the 32-bit range.
    static std::int32_t ParseWidth(std::string_view AText);
};

class TSiPatternParser {
  public:
    // An empty pattern; timestamps follow the settings of the locale of the thread that sets
    // the pattern.
    TSiPatternParser();

    const std::string& Pattern() const noexcept { return FPattern; }
    // Stores the trimmed pattern, parses it into tokens and resets the nesting depth to 0.
    void SetPattern(std::string_view AValue);

    bool Indent() const noexcept { return FIndent; }
    void SetIndent(bool AValue) noexcept { FIndent = AValue; }

    // Makes timestamps follow ASettings instead of the thread's locale; parses the pattern
    // again (the nesting depth is kept).
    void SetFormatSettings(const TSiFormatSettings& ASettings);

    // The current method nesting depth.
    std::int32_t IndentLevel() const noexcept { return FIndentLevel; }

    // The line for ALogEntry. A leave-method entry lowers the nesting depth before its line
    // is built, an enter-method entry raises it afterwards (not with an empty pattern).
    std::string Expand(const TSiLogEntry& ALogEntry);
    // As Expand, appending to AOut (no allocation once AOut has grown to the line's size).
    void ExpandTo(const TSiLogEntry& ALogEntry, std::string& AOut);

    const std::vector<std::unique_ptr<TSiToken>>& Tokens() const noexcept { return FTokens; }

  private:
    void Parse();
    // The text of the piece that starts at FPosition, moving past it; empty at the end.
    std::string_view Next();

    std::vector<std::unique_ptr<TSiToken>> FTokens;
    std::size_t FPosition = 0;
    std::string FPattern;
    bool FIndent = false;
    std::int32_t FIndentLevel = 0;
    std::optional<TSiFormatSettings> FSettings;
};

}  // namespace deruz::logging
