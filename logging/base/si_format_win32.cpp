// Format settings of the calling thread's locale, read through GetThreadLocale and
// GetLocaleInfoW (with the user's overrides, as Windows applies them).
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "logging/base/si_format.h"
#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// The locale's text for AType, or ADefault when the locale does not give it.
std::string LocaleText(LCID ALocale, LCTYPE AType, const std::string& ADefault) {
    wchar_t LBuffer[128];
    const int LLength = GetLocaleInfoW(ALocale, AType, LBuffer, 128);
    if (LLength <= 0) {
        return ADefault;
    }
    return SiUtf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(LBuffer),
                                             static_cast<std::size_t>(LLength - 1)));
}

// The locale's number for AType, or ADefault when it gives none.
int LocaleNumber(LCID ALocale, LCTYPE AType, int ADefault) {
    const std::string LText = LocaleText(ALocale, AType, std::string());
    if (LText.empty() || LText.size() > 4) {
        return ADefault;
    }
    int LValue = 0;
    for (const char LChar : LText) {
        if (LChar < '0' || LChar > '9') {
            return ADefault;
        }
        LValue = LValue * 10 + (LChar - '0');
    }
    return LValue;
}

TSiFormatSettings ReadSettings(LCID ALocale) {
    TSiFormatSettings LSettings;
    LSettings.DecimalSeparator = LocaleText(ALocale, LOCALE_SDECIMAL, LSettings.DecimalSeparator);
    LSettings.ThousandSeparator =
        LocaleText(ALocale, LOCALE_STHOUSAND, LSettings.ThousandSeparator);
    LSettings.CurrencyString = LocaleText(ALocale, LOCALE_SCURRENCY, LSettings.CurrencyString);
    LSettings.CurrencyFormat = LocaleNumber(ALocale, LOCALE_ICURRENCY, LSettings.CurrencyFormat);
    LSettings.NegCurrFormat = LocaleNumber(ALocale, LOCALE_INEGCURR, LSettings.NegCurrFormat);
    LSettings.CurrencyDecimals =
        LocaleNumber(ALocale, LOCALE_ICURRDIGITS, LSettings.CurrencyDecimals);
    LSettings.ShortDateFormat = LocaleText(ALocale, LOCALE_SSHORTDATE, LSettings.ShortDateFormat);
    LSettings.LongTimeFormat = LocaleText(ALocale, LOCALE_STIMEFORMAT, LSettings.LongTimeFormat);
    LSettings.TimeAMString = LocaleText(ALocale, LOCALE_S1159, LSettings.TimeAMString);
    LSettings.TimePMString = LocaleText(ALocale, LOCALE_S2359, LSettings.TimePMString);
    for (int LI = 0; LI < 12; ++LI) {
        LSettings.ShortMonthNames[LI] =
            LocaleText(ALocale, LOCALE_SABBREVMONTHNAME1 + static_cast<LCTYPE>(LI),
                       LSettings.ShortMonthNames[LI]);
        LSettings.LongMonthNames[LI] = LocaleText(
            ALocale, LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(LI), LSettings.LongMonthNames[LI]);
    }
    // Windows counts the days from Monday; the settings from Sunday.
    for (int LI = 0; LI < 7; ++LI) {
        const auto LWindowsDay = static_cast<LCTYPE>((LI + 6) % 7);
        LSettings.ShortDayNames[LI] =
            LocaleText(ALocale, LOCALE_SABBREVDAYNAME1 + LWindowsDay, LSettings.ShortDayNames[LI]);
        LSettings.LongDayNames[LI] =
            LocaleText(ALocale, LOCALE_SDAYNAME1 + LWindowsDay, LSettings.LongDayNames[LI]);
    }
    return LSettings;
}

// The settings read so far, one per locale; a process meets only a handful of locales.
struct TSettingsCache {
    std::mutex Lock;
    std::map<LCID, std::unique_ptr<const TSiFormatSettings>> Entries;
};

}  // namespace

TSiFormatSettings SiGetLocaleFormatSettings() {
    return ReadSettings(GetThreadLocale());
}

const TSiFormatSettings& SiThreadFormatSettings() {
    // Never destroyed, so that logging from static destructors still finds its settings.
    static TSettingsCache* const LCache = new TSettingsCache();
    const LCID LLocale = GetThreadLocale();
    const std::lock_guard<std::mutex> LGuard(LCache->Lock);
    std::unique_ptr<const TSiFormatSettings>& LEntry = LCache->Entries[LLocale];
    if (!LEntry) {
        LEntry = std::make_unique<const TSiFormatSettings>(ReadSettings(LLocale));
    }
    return *LEntry;
}

}  // namespace deruz::logging
