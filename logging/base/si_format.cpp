// The format language of SiFormat, and the float and date-time texts built on the same
// number settings. Platform files supply the settings of the calling thread's locale.
#include "logging/base/si_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

constexpr int kMaxFloatDigits = 18;
constexpr int kDefaultFloatDigits = 15;
// Widths and integer precisions beyond this many characters are taken as this many, as the
// pattern language takes its token widths: a mistyped or hostile "%1000000000d" must not make
// one log call allocate a gigabyte.
constexpr std::int64_t kMaxPadding = 4096;

// A finite, non-negative number as a decimal digit string: value = 0.D1D2...Dn x 10^Exponent.
// Zero has no digits. Trailing zero digits are dropped.
struct TDecimal {
    char Digits[kMaxFloatDigits + 1] = {};
    int Count = 0;
    int Exponent = 0;

    char Digit(int AIndex) const { return AIndex >= 0 && AIndex < Count ? Digits[AIndex] : '0'; }

    void StripZeros() {
        while (Count > 0 && Digits[Count - 1] == '0') {
            --Count;
        }
    }

    // Keeps ACount significant digits, rounding half away from zero.
    void Round(int ACount) {
        if (ACount >= Count) {
            return;
        }
        if (ACount < 0) {
            Count = 0;
            return;
        }
        const bool LUp = Digits[ACount] >= '5';
        Count = ACount;
        if (LUp) {
            int LIndex = Count - 1;
            while (LIndex >= 0 && Digits[LIndex] == '9') {
                --LIndex;
            }
            if (LIndex < 0) {
                Digits[0] = '1';
                Count = 1;
                ++Exponent;
            } else {
                ++Digits[LIndex];
                Count = LIndex + 1;
            }
        }
        StripZeros();
    }
};

// The 17 significant digits of |AValue|, correctly rounded: enough to tell every double apart,
// and the same on every platform since the standard library converts exactly.
TDecimal Decompose(double AValue) {
    TDecimal LResult;
    char LBuffer[40];
    const auto LEnd = std::to_chars(LBuffer, LBuffer + sizeof LBuffer, std::fabs(AValue),
                                    std::chars_format::scientific, 16)
                          .ptr;
    // "d.dddddddddddddddde+XX"
    LResult.Digits[0] = LBuffer[0];
    for (int LI = 1; LI < 17; ++LI) {
        LResult.Digits[LI] = LBuffer[LI + 1];
    }
    LResult.Count = 17;
    int LExponent = 0;
    const char* LExp = LBuffer + 19;
    std::from_chars(LExp + (*LExp == '+' ? 1 : 0), LEnd, LExponent);
    LResult.Exponent = LExponent + 1;
    LResult.StripZeros();
    return LResult;
}

// "INF", "-INF" or "NAN" for a value that is not finite, empty otherwise.
std::string_view NonFiniteText(double AValue) {
    if (std::isnan(AValue)) {
        return "NAN";
    }
    if (std::isinf(AValue)) {
        return AValue < 0 ? "-INF" : "INF";
    }
    return {};
}

void AppendExponent(std::string& AOut, int AExponent, bool APlusSign, int AMinDigits) {
    AOut += 'E';
    if (AExponent < 0) {
        AOut += '-';
        AExponent = -AExponent;
    } else if (APlusSign) {
        AOut += '+';
    }
    SiAppendDecimal(AOut, AExponent, AMinDigits);
}

// Fixed notation with ADecimals decimals, optionally grouping the integer digits by three.
// ANegative tells whether the rounded value is below zero (a value rounded to zero is not).
std::string FixedText(double AValue, int ADecimals, const std::string* AThousands,
                      const TSiFormatSettings& ASettings, bool& ANegative) {
    TDecimal LDec = Decompose(AValue);
    LDec.Round(LDec.Exponent + ADecimals);
    ANegative = std::signbit(AValue) && LDec.Count > 0;
    std::string LOut;
    if (LDec.Count == 0 || LDec.Exponent <= 0) {
        LOut += '0';
    } else {
        for (int LI = 0; LI < LDec.Exponent; ++LI) {
            if (AThousands != nullptr && LI > 0 && (LDec.Exponent - LI) % 3 == 0) {
                LOut += *AThousands;
            }
            LOut += LDec.Digit(LI);
        }
    }
    if (ADecimals > 0) {
        LOut += ASettings.DecimalSeparator;
        for (int LI = 0; LI < ADecimals; ++LI) {
            LOut += LDec.Count == 0 ? '0' : LDec.Digit(LDec.Exponent + LI);
        }
    }
    return LOut;
}

std::string ExponentText(double AValue, int APrecision, const TSiFormatSettings& ASettings) {
    TDecimal LDec = Decompose(AValue);
    LDec.Round(APrecision);
    std::string LOut;
    if (std::signbit(AValue) && LDec.Count > 0) {
        LOut += '-';
    }
    LOut += LDec.Digit(0);
    if (APrecision > 1) {
        LOut += ASettings.DecimalSeparator;
        for (int LI = 1; LI < APrecision; ++LI) {
            LOut += LDec.Digit(LI);
        }
    }
    AppendExponent(LOut, LDec.Count == 0 ? 0 : LDec.Exponent - 1, true, 3);
    return LOut;
}

// The general form: fixed notation unless the value needs more than APrecision integer
// digits or is below 0.0001, then scientific; no trailing zeros; the exponent has a sign
// only when negative and at least AExpDigits digits.
std::string GeneralText(double AValue, int APrecision, int AExpDigits,
                        const TSiFormatSettings& ASettings) {
    TDecimal LDec = Decompose(AValue);
    LDec.Round(APrecision);
    if (LDec.Count == 0) {
        return "0";
    }
    std::string LOut;
    if (std::signbit(AValue)) {
        LOut += '-';
    }
    if (LDec.Exponent > APrecision || LDec.Exponent < -3) {
        LOut += LDec.Digits[0];
        if (LDec.Count > 1) {
            LOut += ASettings.DecimalSeparator;
            LOut.append(LDec.Digits + 1, static_cast<std::size_t>(LDec.Count - 1));
        }
        AppendExponent(LOut, LDec.Exponent - 1, false, AExpDigits);
    } else if (LDec.Exponent <= 0) {
        LOut += '0';
        LOut += ASettings.DecimalSeparator;
        LOut.append(static_cast<std::size_t>(-LDec.Exponent), '0');
        LOut.append(LDec.Digits, static_cast<std::size_t>(LDec.Count));
    } else {
        for (int LI = 0; LI < LDec.Exponent; ++LI) {
            LOut += LDec.Digit(LI);
        }
        if (LDec.Count > LDec.Exponent) {
            LOut += ASettings.DecimalSeparator;
            LOut.append(LDec.Digits + LDec.Exponent,
                        static_cast<std::size_t>(LDec.Count - LDec.Exponent));
        }
    }
    return LOut;
}

// An amount in the settings' currency format.
std::string MoneyText(double AValue, int ADecimals, const TSiFormatSettings& ASettings) {
    static constexpr std::string_view LKPositive[] = {"$1", "1$", "$ 1", "1 $"};
    static constexpr std::string_view LKNegative[] = {
        "($1)", "-$1",  "$-1",  "$1-",  "(1$)", "-1$",  "1-$",   "1$-",
        "-1 $", "-$ 1", "1 $-", "$ 1-", "$ -1", "1- $", "($ 1)", "(1 $)"};
    bool LNegative = false;
    const std::string LNumber =
        FixedText(AValue, ADecimals, &ASettings.ThousandSeparator, ASettings, LNegative);
    const int LPositive = ASettings.CurrencyFormat >= 0 && ASettings.CurrencyFormat <= 3
                              ? ASettings.CurrencyFormat
                              : 0;
    std::string_view LPattern = LKPositive[LPositive];
    std::string LOut;
    if (LNegative) {
        if (ASettings.NegCurrFormat >= 0 && ASettings.NegCurrFormat <= 15) {
            LPattern = LKNegative[ASettings.NegCurrFormat];
        } else {
            LOut += '-';
        }
    }
    for (const char LChar : LPattern) {
        if (LChar == '$') {
            LOut += ASettings.CurrencyString;
        } else if (LChar == '1') {
            LOut += LNumber;
        } else {
            LOut += LChar;
        }
    }
    return LOut;
}

// One run of the format language over its arguments.
class TFormatRun {
  public:
    // Appends to AOut; on an error AOut may hold part of the text.
    TFormatRun(const TSiFormatSettings& ASettings, std::string_view AFormat,
               std::span<const TSiFormatArg> AArgs, std::string& AOut)
        : FSettings(ASettings), FFormat(AFormat), FArgs(AArgs), FOut(AOut) {}

    void Run() {
        std::size_t LStart = 0;
        while (LStart < FFormat.size()) {
            const std::size_t LPercent = FFormat.find('%', LStart);
            if (LPercent == std::string_view::npos) {
                FOut.append(FFormat.substr(LStart));
                break;
            }
            FOut.append(FFormat.substr(LStart, LPercent - LStart));
            FPos = LPercent + 1;
            Specifier();
            LStart = FPos;
        }
    }

  private:
    enum TFailure { fInvalid, fMissing };

    [[noreturn]] void Fail(TFailure AFailure) const {
        const std::string LFormat(SiTruncateUtf16(FFormat, 31));
        if (AFailure == fMissing) {
            throw ESiConvertError("No argument for format '" + LFormat + "'");
        }
        throw ESiConvertError("Format '" + LFormat + "' invalid or incompatible with argument");
    }

    char Peek() const { return FPos < FFormat.size() ? FFormat[FPos] : '\0'; }

    const TSiFormatArg& NextArg() {
        if (FArgIndex >= FArgs.size()) {
            Fail(fMissing);
        }
        return FArgs[FArgIndex++];
    }

    // Digits, or "*" for a value from the arguments; -1 when there is neither.
    std::int64_t Number() {
        if (Peek() == '*') {
            ++FPos;
            // Any integer within the 32-bit range, so that sizes can be passed as they are.
            const TSiFormatArg& LArg = NextArg();
            constexpr auto LMax =
                static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
            switch (LArg.Kind()) {
                case TSiFormatArg::akInt32:
                    return LArg.AsInt64();
                case TSiFormatArg::akInt64:
                    if (LArg.AsInt64() >= std::numeric_limits<std::int32_t>::min() &&
                        LArg.AsInt64() <= std::numeric_limits<std::int32_t>::max()) {
                        return LArg.AsInt64();
                    }
                    break;
                case TSiFormatArg::akUInt32:
                case TSiFormatArg::akUInt64:
                    if (LArg.AsUInt64() <= LMax) {
                        return static_cast<std::int64_t>(LArg.AsUInt64());
                    }
                    break;
                default:
                    break;
            }
            Fail(fInvalid);
        }
        if (Peek() < '0' || Peek() > '9') {
            return -1;
        }
        std::int64_t LValue = 0;
        while (Peek() >= '0' && Peek() <= '9') {
            LValue = LValue * 10 + (Peek() - '0');
            if (LValue > std::numeric_limits<std::int32_t>::max()) {
                Fail(fInvalid);
            }
            ++FPos;
        }
        return LValue;
    }

    void Specifier() {
        const char LFirst = Peek();
        if (LFirst == '%') {
            ++FPos;
            FOut += '%';
            return;
        }
        if ((LFirst | 0x20) >= 'a' && (LFirst | 0x20) <= 'z') {
            // No index, width or precision (the usual "%d" or "%s"): straight to the type.
            ++FPos;
            ConvertTo(FOut, LFirst, -1);
            return;
        }
        bool LLeft = false;
        if (Peek() == '-') {
            LLeft = true;
            ++FPos;
        }
        const bool LStar = Peek() == '*';
        std::int64_t LWidth = Number();
        if (Peek() == ':') {
            // What was read is the argument index.
            if (LLeft || LStar || LWidth < 0) {
                Fail(fInvalid);
            }
            ++FPos;
            FArgIndex = static_cast<std::size_t>(LWidth);
            if (Peek() == '-') {
                LLeft = true;
                ++FPos;
            }
            LWidth = Number();
        }
        if (LWidth < -1) {
            // A negative width from the arguments left-justifies.
            LLeft = true;
            LWidth = -LWidth;
        }
        LWidth = std::min(LWidth, kMaxPadding);
        std::int64_t LPrecision = -1;
        if (Peek() == '.') {
            ++FPos;
            LPrecision = Number();
            if (LPrecision == -1 && FFormat[FPos - 1] == '.') {
                LPrecision = 0;
            }
        }
        if (FPos >= FFormat.size()) {
            Fail(fInvalid);
        }
        const char LType = FFormat[FPos++];
        if (LWidth <= 0) {
            // Nothing to pad: the text goes straight to the output.
            ConvertTo(FOut, LType, LPrecision < 0 ? -1 : LPrecision);
            return;
        }
        std::string LText;
        ConvertTo(LText, LType, LPrecision < 0 ? -1 : LPrecision);
        Pad(LText, LWidth, LLeft);
    }

    void Pad(const std::string& AText, std::int64_t AWidth, bool ALeft) {
        const auto LLength = static_cast<std::int64_t>(SiUtf16Length(AText));
        const std::size_t LFill = AWidth > LLength ? static_cast<std::size_t>(AWidth - LLength) : 0;
        if (!ALeft) {
            FOut.append(LFill, ' ');
        }
        FOut += AText;
        if (ALeft) {
            FOut.append(LFill, ' ');
        }
    }

    void ConvertTo(std::string& AOut, char AType, std::int64_t APrecision) {
        switch (AType) {
            case 'd':
            case 'D':
                IntegerTo(AOut, APrecision, false, 10);
                return;
            case 'u':
            case 'U':
                IntegerTo(AOut, APrecision, true, 10);
                return;
            case 'x':
            case 'X':
                IntegerTo(AOut, APrecision, true, 16);
                return;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'n':
            case 'N':
            case 'm':
            case 'M':
                AOut += Float(AType | 0x20, APrecision);
                return;
            case 'p':
            case 'P':
                AOut += Pointer();
                return;
            case 's':
            case 'S':
                TextTo(AOut, APrecision);
                return;
            default:
                Fail(fInvalid);
        }
    }

    // AUnsigned shows negative values in two's complement at the argument's width.
    void IntegerTo(std::string& AOut, std::int64_t APrecision, bool AUnsigned, int ABase) {
        const TSiFormatArg& LArg = NextArg();
        bool LNegative = false;
        std::uint64_t LMagnitude = 0;
        switch (LArg.Kind()) {
            case TSiFormatArg::akInt32:
            case TSiFormatArg::akInt64: {
                const std::int64_t LValue = LArg.AsInt64();
                if (AUnsigned) {
                    LMagnitude = LArg.Kind() == TSiFormatArg::akInt32
                                     ? static_cast<std::uint32_t>(LValue)
                                     : static_cast<std::uint64_t>(LValue);
                } else {
                    LNegative = LValue < 0;
                    LMagnitude = LNegative ? 0 - static_cast<std::uint64_t>(LValue)
                                           : static_cast<std::uint64_t>(LValue);
                }
                break;
            }
            case TSiFormatArg::akUInt32:
            case TSiFormatArg::akUInt64:
                LMagnitude = LArg.AsUInt64();
                break;
            default:
                Fail(fInvalid);
        }
        char LBuffer[24];
        char* const LEnd = std::to_chars(LBuffer, LBuffer + sizeof LBuffer, LMagnitude, ABase).ptr;
        const auto LCount = static_cast<std::size_t>(LEnd - LBuffer);
        if (ABase == 16) {
            for (char* LChar = LBuffer; LChar != LEnd; ++LChar) {
                if (*LChar >= 'a') {
                    *LChar = static_cast<char>(*LChar - 'a' + 'A');
                }
            }
        }
        const std::int64_t LDigits = std::min(APrecision, kMaxPadding);
        const std::size_t LZeros = LDigits > static_cast<std::int64_t>(LCount)
                                       ? static_cast<std::size_t>(LDigits) - LCount
                                       : 0;
        if (LNegative) {
            AOut += '-';
        }
        if (LZeros > 0) {
            AOut.append(LZeros, '0');
        }
        AOut.append(LBuffer, LCount);
    }

    std::string Float(char AType, std::int64_t APrecision) {
        const TSiFormatArg& LArg = NextArg();
        if (LArg.Kind() != TSiFormatArg::akDouble) {
            Fail(fInvalid);
        }
        const double LValue = LArg.AsDouble();
        if (const std::string_view LSpecial = NonFiniteText(LValue); !LSpecial.empty()) {
            return std::string(LSpecial);
        }
        const auto LDigits = [APrecision](int ADefault, int AMin) {
            if (APrecision < 0) {
                return ADefault;
            }
            return static_cast<int>(
                APrecision < AMin ? AMin
                                  : (APrecision > kMaxFloatDigits ? kMaxFloatDigits : APrecision));
        };
        bool LNegative = false;
        switch (AType) {
            case 'e':
                return ExponentText(LValue, LDigits(kDefaultFloatDigits, 1), FSettings);
            case 'g':
                return GeneralText(LValue, LDigits(kDefaultFloatDigits, 1), 3, FSettings);
            case 'f':
            case 'n': {
                std::string LText = FixedText(LValue, LDigits(2, 0),
                                              AType == 'n' ? &FSettings.ThousandSeparator : nullptr,
                                              FSettings, LNegative);
                return LNegative ? "-" + LText : LText;
            }
            default: {
                const int LDefault = FSettings.CurrencyDecimals < 0
                                         ? 0
                                         : (FSettings.CurrencyDecimals > kMaxFloatDigits
                                                ? kMaxFloatDigits
                                                : FSettings.CurrencyDecimals);
                return MoneyText(LValue, LDigits(LDefault, 0), FSettings);
            }
        }
    }

    std::string Pointer() {
        const TSiFormatArg& LArg = NextArg();
        if (LArg.Kind() != TSiFormatArg::akPointer) {
            Fail(fInvalid);
        }
        char LBuffer[24];
        const auto LValue = reinterpret_cast<std::uintptr_t>(LArg.AsPointer());
        const auto LEnd = std::to_chars(LBuffer, LBuffer + sizeof LBuffer, LValue, 16).ptr;
        std::string LOut(sizeof(void*) * 2 - static_cast<std::size_t>(LEnd - LBuffer), '0');
        for (const char* LChar = LBuffer; LChar != LEnd; ++LChar) {
            LOut += *LChar >= 'a' ? static_cast<char>(*LChar - 'a' + 'A') : *LChar;
        }
        return LOut;
    }

    void TextTo(std::string& AOut, std::int64_t APrecision) {
        const TSiFormatArg& LArg = NextArg();
        const std::size_t LStart = AOut.size();
        switch (LArg.Kind()) {
            case TSiFormatArg::akString:
                AOut += LArg.AsString();
                break;
            case TSiFormatArg::akChar: {
                const char LChar = static_cast<char>(LArg.AsUInt64());
                if (LArg.AsUInt64() < 0x80) {
                    AOut += LChar;
                } else {
                    AOut += SiAnsiToUtf8(std::string_view(&LChar, 1));
                }
                break;
            }
            case TSiFormatArg::akBool:
                AOut += LArg.AsUInt64() != 0 ? "True" : "False";
                break;
            default:
                Fail(fInvalid);
        }
        if (APrecision >= 0) {
            const std::string_view LText = std::string_view(AOut).substr(LStart);
            AOut.resize(LStart +
                        SiTruncateUtf16(LText, static_cast<std::size_t>(APrecision)).size());
        }
    }

    const TSiFormatSettings& FSettings;
    std::string_view FFormat;
    std::span<const TSiFormatArg> FArgs;
    std::string& FOut;
    std::size_t FPos = 0;
    std::size_t FArgIndex = 0;
};

// The first character (code point) of AText.
std::string_view FirstCharacter(std::string_view AText) {
    if (AText.empty()) {
        return AText;
    }
    std::size_t LIndex = 0;
    SiDecodeUtf8(AText, LIndex);
    return AText.substr(0, LIndex);
}

// Expands a date or time picture in the Windows notation (see TSiFormatSettings).
void AppendPicture(std::string& AOut, std::string_view APicture, const TSiDateTimeParts& AParts,
                   const TSiFormatSettings& ASettings) {
    std::size_t LPos = 0;
    while (LPos < APicture.size()) {
        const char LChar = APicture[LPos];
        if (LChar == '\'') {
            // Quoted text; two quotes in a row stand for one quote.
            ++LPos;
            if (LPos < APicture.size() && APicture[LPos] == '\'') {
                AOut += '\'';
                ++LPos;
                continue;
            }
            while (LPos < APicture.size()) {
                if (APicture[LPos] == '\'') {
                    if (LPos + 1 < APicture.size() && APicture[LPos + 1] == '\'') {
                        AOut += '\'';
                        LPos += 2;
                        continue;
                    }
                    ++LPos;
                    break;
                }
                AOut += APicture[LPos++];
            }
            continue;
        }
        std::size_t LRun = 1;
        while (LPos + LRun < APicture.size() && APicture[LPos + LRun] == LChar) {
            ++LRun;
        }
        const int LCount = static_cast<int>(LRun);
        switch (LChar) {
            case 'd':
                if (LCount <= 2) {
                    SiAppendDecimal(AOut, AParts.Day, LCount);
                } else {
                    const int LDay = SiDayOfWeek(AParts.Year, AParts.Month, AParts.Day);
                    AOut +=
                        LCount == 3 ? ASettings.ShortDayNames[LDay] : ASettings.LongDayNames[LDay];
                }
                break;
            case 'M':
                if (LCount <= 2) {
                    SiAppendDecimal(AOut, AParts.Month, LCount);
                } else {
                    AOut += LCount == 3 ? ASettings.ShortMonthNames[AParts.Month - 1]
                                        : ASettings.LongMonthNames[AParts.Month - 1];
                }
                break;
            case 'y':
                if (LCount <= 2) {
                    SiAppendDecimal(AOut, AParts.Year % 100, LCount);
                } else {
                    SiAppendDecimal(AOut, AParts.Year, 4);
                }
                break;
            case 'g':
                break;
            case 'h':
                SiAppendDecimal(AOut, AParts.Hour % 12 == 0 ? 12 : AParts.Hour % 12,
                                LCount >= 2 ? 2 : 1);
                break;
            case 'H':
                SiAppendDecimal(AOut, AParts.Hour, LCount >= 2 ? 2 : 1);
                break;
            case 'm':
                SiAppendDecimal(AOut, AParts.Minute, LCount >= 2 ? 2 : 1);
                break;
            case 's':
                SiAppendDecimal(AOut, AParts.Second, LCount >= 2 ? 2 : 1);
                break;
            case 't': {
                const std::string& LMarker =
                    AParts.Hour < 12 ? ASettings.TimeAMString : ASettings.TimePMString;
                AOut += LCount == 1 ? FirstCharacter(LMarker) : std::string_view(LMarker);
                break;
            }
            default:
                AOut.append(LRun, LChar);
                break;
        }
        LPos += LRun;
    }
}

}  // namespace

std::string SiFormat(std::string_view AFormat, std::initializer_list<TSiFormatArg> AArgs) {
    return SiFormat(SiThreadFormatSettings(), AFormat, std::span<const TSiFormatArg>(AArgs));
}

std::string SiFormat(std::string_view AFormat, std::span<const TSiFormatArg> AArgs) {
    return SiFormat(SiThreadFormatSettings(), AFormat, AArgs);
}

std::string SiFormat(const TSiFormatSettings& ASettings, std::string_view AFormat,
                     std::initializer_list<TSiFormatArg> AArgs) {
    return SiFormat(ASettings, AFormat, std::span<const TSiFormatArg>(AArgs));
}

std::string SiFormat(const TSiFormatSettings& ASettings, std::string_view AFormat,
                     std::span<const TSiFormatArg> AArgs) {
    std::string LOut;
    TFormatRun(ASettings, AFormat, AArgs, LOut).Run();
    return LOut;
}

void SiFormatTo(std::string& AOut, std::string_view AFormat,
                std::initializer_list<TSiFormatArg> AArgs) {
    TFormatRun(SiThreadFormatSettings(), AFormat, AArgs, AOut).Run();
}

void SiFormatTo(std::string& AOut, const TSiFormatSettings& ASettings, std::string_view AFormat,
                std::span<const TSiFormatArg> AArgs) {
    TFormatRun(ASettings, AFormat, AArgs, AOut).Run();
}

std::string SiFloatToStr(double AValue, const TSiFormatSettings& ASettings) {
    if (const std::string_view LSpecial = NonFiniteText(AValue); !LSpecial.empty()) {
        return std::string(LSpecial);
    }
    return GeneralText(AValue, kDefaultFloatDigits, 0, ASettings);
}

std::string SiFormatDateTime(std::string_view APicture, TDateTime AValue,
                             const TSiFormatSettings& ASettings) {
    if (!SiIsCalendarDate(AValue)) {
        return SiFloatToStr(AValue, ASettings);
    }
    std::string LOut;
    AppendPicture(LOut, APicture, SiDecodeDateTime(AValue), ASettings);
    return LOut;
}

std::string SiDateTimeToStr(TDateTime AValue, const TSiFormatSettings& ASettings) {
    // Beyond the calendar there is no date to show; the number is the most honest text.
    if (!SiIsCalendarDate(AValue)) {
        return SiFloatToStr(AValue, ASettings);
    }
    const TSiDateTimeParts LParts = SiDecodeDateTime(AValue);
    std::string LOut;
    AppendPicture(LOut, ASettings.ShortDateFormat, LParts, ASettings);
    if (LParts.Hour != 0 || LParts.Minute != 0 || LParts.Second != 0 || LParts.Millisecond != 0) {
        LOut += ' ';
        AppendPicture(LOut, ASettings.LongTimeFormat, LParts, ASettings);
    }
    return LOut;
}

}  // namespace deruz::logging
