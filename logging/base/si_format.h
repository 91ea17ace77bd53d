// SiFormat, the format function of the logging library, and the number and date texts that
// follow the calling thread's locale.
//
// The format language is the classic Pascal-style one:
//   "%" [index ":"] ["-"] [width] ["." precision] type
// - index: digits; the argument to use, counted from 0. Later specifiers without an index
//   continue with the argument after it.
// - "-": left-justify within the width (the default pads on the left).
// - width, precision: digits, or "*" to take the value from the next argument (an integer).
//   Padding is with spaces and counts UTF-16 code units, as log viewers do. Widths, and the
//   precisions of d, u and x, above 4096 are taken as 4096 (as in the pattern language).
// - type, in either letter case:
//   d  decimal integer; the precision is the minimum number of digits (zero-padded).
//   u  unsigned decimal integer; a negative value shows its two's complement at its own
//      width (32 or 64 bits).
//   x  hexadecimal integer in upper-case digits, two's complement for negatives; the precision
//      is the minimum number of digits.
//   e  scientific "-d.ddd...E+ddd"; the precision is the number of significant digits
//      (default 15).
//   f  fixed "-ddd.ddd"; the precision is the number of decimals (default 2).
//   g  general: the shorter of fixed and scientific, up to precision significant digits
//      (default 15), without trailing zeros.
//   n  like f with thousand separators.
//   m  money: like n in the locale's currency format; default decimals from the locale.
//   p  pointer in upper-case hexadecimal, as many digits as a pointer has.
//   s  text; a precision cuts it to that many UTF-16 code units (never inside a character).
//   %% gives a percent sign.
// Floating-point digits are rounded half away from zero from the value's 17 significant
// digits; infinities and NaN show as "INF", "-INF" and "NAN".
//
// A specifier that does not parse, names an unknown type or meets an argument of the wrong
// kind raises ESiConvertError "Format '<format>' invalid or incompatible with argument"; a
// specifier without an argument raises "No argument for format '<format>'". As in the classic
// function, the format text in these messages is cut to its first 31 characters. Surplus
// arguments are ignored.
//
// All functions are thread-safe. TSiFormatArg holds a reference to string arguments and is
// meant only as a parameter of a call: build the argument list in the call itself.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "logging/base/datetime.h"
#include "logging/base/errors.h"

namespace deruz::logging {

// Raised by SiFormat for a format that does not fit its arguments.
class ESiConvertError : public ESiError {
  public:
    using ESiError::ESiError;
};

// The number, currency and date conventions that SiFormat and the value texts follow.
// The defaults are the fixed settings used where the system has no thread locale (POSIX).
struct TSiFormatSettings {
    std::string DecimalSeparator = ".";
    std::string ThousandSeparator = ",";
    std::string CurrencyString = "$";
    // Position of the currency string for positive amounts: 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $".
    int CurrencyFormat = 0;
    // Pattern for negative amounts, the Windows numbering: 0 "($1)", 1 "-$1", 2 "$-1",
    // 3 "$1-", 4 "(1$)", 5 "-1$", 6 "1-$", 7 "1$-", 8 "-1 $", 9 "-$ 1", 10 "1 $-",
    // 11 "$ 1-", 12 "$ -1", 13 "1- $", 14 "($ 1)", 15 "(1 $)"; any other value gives "-"
    // before the positive form.
    int NegCurrFormat = 1;
    int CurrencyDecimals = 2;
    // Date and time pictures in the Windows notation: d dd ddd dddd (day, names), M MM MMM
    // MMMM (month, names), y yy yyyy (year), h hh (12-hour), H HH (24-hour), m mm, s ss,
    // t tt (AM/PM designator), 'quoted text'; g (era) gives nothing; anything else is literal.
    std::string ShortDateFormat = "yyyy-MM-dd";
    std::string LongTimeFormat = "HH:mm:ss";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    // Index 0 is January, and Sunday.
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};

// Reads the settings of the calling thread's locale now (Windows: GetThreadLocale with
// GetLocaleInfoW, including the user's overrides; POSIX: the fixed defaults above).
TSiFormatSettings SiGetLocaleFormatSettings();

// The settings of the calling thread's locale, read once per locale and kept for the rest of
// the process (so later changes of the user's overrides are not seen). The reference stays
// valid until the process ends.
const TSiFormatSettings& SiThreadFormatSettings();

// The integer types that the typed value overloads accept (viewer contexts, a session's LogValue
// and Watch): not bool, not the character types, which would otherwise turn silently into numbers.
template <typename T>
concept TSiContextInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                            !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> &&
                            !std::same_as<T, char16_t> && !std::same_as<T, char32_t>;

// A stand-in for a date-time where an overload set must tell it from a double.
struct TSiDateTimeValue {
    TDateTime Value;
};

// One argument of SiFormat, built implicitly from integers, enumerations, floating-point
// numbers, text, Booleans, characters and pointers. Text and Booleans suit %s, a character
// gives itself for %s; integers suit %d %u %x and "*", floating-point numbers %e %f %g %n %m,
// and pointers %p.
class TSiFormatArg {
  public:
    enum TKind : std::uint8_t {
        akInt32,
        akUInt32,
        akInt64,
        akUInt64,
        akDouble,
        akString,
        akChar,
        akBool,
        akPointer,
    };

    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
             !std::same_as<T, char8_t> && !std::same_as<T, char16_t> && !std::same_as<T, char32_t>)
        TSiFormatArg(T AValue)
    noexcept {
        if constexpr (std::is_signed_v<T>) {
            FKind = sizeof(T) <= 4 ? akInt32 : akInt64;
            // A signed char here is a small number, not a character: sign-extend it.
            FInt = static_cast<std::int64_t>(AValue);  // NOLINT(bugprone-signed-char-misuse)
        } else {
            FKind = sizeof(T) <= 4 ? akUInt32 : akUInt64;
            FUInt = static_cast<std::uint64_t>(AValue);
        }
    }
    // Enumerations count as their underlying integer.
    template <typename T>
    requires std::is_enum_v<T> TSiFormatArg(T AValue)
    noexcept : TSiFormatArg(static_cast<std::underlying_type_t<T>>(AValue)) {}
    template <std::floating_point T>
    TSiFormatArg(T AValue) noexcept : FKind(akDouble), FDouble(static_cast<double>(AValue)) {}
    TSiFormatArg(bool AValue) noexcept : FKind(akBool), FUInt(AValue ? 1 : 0) {}
    TSiFormatArg(char AValue) noexcept : FKind(akChar), FUInt(static_cast<unsigned char>(AValue)) {}
    // A null text pointer is the empty text.
    TSiFormatArg(const char* AValue) noexcept
        : TSiFormatArg(AValue != nullptr ? std::string_view(AValue) : std::string_view()) {}
    TSiFormatArg(std::string_view AValue) noexcept
        : FKind(akString), FText(AValue.data()), FLength(AValue.size()) {}
    TSiFormatArg(const std::string& AValue) noexcept : TSiFormatArg(std::string_view(AValue)) {}
    TSiFormatArg(const void* AValue) noexcept : FKind(akPointer), FPointer(AValue) {}
    TSiFormatArg(std::nullptr_t) noexcept : FKind(akPointer), FPointer(nullptr) {}

    TKind Kind() const noexcept { return FKind; }
    bool IsInteger() const noexcept { return FKind <= akUInt64; }
    // For akInt32 and akInt64.
    std::int64_t AsInt64() const noexcept { return FInt; }
    // For akUInt32, akUInt64, akChar and akBool.
    std::uint64_t AsUInt64() const noexcept { return FUInt; }
    double AsDouble() const noexcept { return FDouble; }
    std::string_view AsString() const noexcept { return {FText, FLength}; }
    const void* AsPointer() const noexcept { return FPointer; }

  private:
    TKind FKind;
    union {
        std::int64_t FInt;
        std::uint64_t FUInt;
        double FDouble;
        const char* FText;
        const void* FPointer;
    };
    std::size_t FLength = 0;
};

// Formats with the settings of the calling thread's locale.
std::string SiFormat(std::string_view AFormat, std::initializer_list<TSiFormatArg> AArgs);
std::string SiFormat(std::string_view AFormat, std::span<const TSiFormatArg> AArgs);
// Formats with the given settings.
std::string SiFormat(const TSiFormatSettings& ASettings, std::string_view AFormat,
                     std::initializer_list<TSiFormatArg> AArgs);
std::string SiFormat(const TSiFormatSettings& ASettings, std::string_view AFormat,
                     std::span<const TSiFormatArg> AArgs);
// Appends the text to AOut, with the calling thread's settings; after an error AOut may hold
// part of it. Log titles are formatted this way, straight into their packets.
void SiFormatTo(std::string& AOut, std::string_view AFormat,
                std::initializer_list<TSiFormatArg> AArgs);
// Appends with the given settings (a worker formatting for the thread that logged).
void SiFormatTo(std::string& AOut, const TSiFormatSettings& ASettings, std::string_view AFormat,
                std::span<const TSiFormatArg> AArgs);

// The shortest general text of a number with up to 15 significant digits ("1.5", "1E20",
// "1.5E-7"), with the settings' decimal separator.
std::string SiFloatToStr(double AValue, const TSiFormatSettings& ASettings);

// The date-time AValue expanded by a picture in the notation of TSiFormatSettings.
std::string SiFormatDateTime(std::string_view APicture, TDateTime AValue,
                             const TSiFormatSettings& ASettings);

// The default date-time text: the short date, then a space and the long time; the time is
// left out when the value is exactly midnight (to the millisecond). A value outside the years
// 1 to 9999 (or not finite) shows as a number.
std::string SiDateTimeToStr(TDateTime AValue, const TSiFormatSettings& ASettings);

}  // namespace deruz::logging
