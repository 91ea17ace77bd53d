// Format settings where the system offers no per-thread locale: the fixed, C-like defaults of
// TSiFormatSettings, so that log texts do not change with the environment's locale.
#include "logging/base/si_format.h"

namespace deruz::logging {

TSiFormatSettings SiGetLocaleFormatSettings() {
    return TSiFormatSettings();
}

const TSiFormatSettings& SiThreadFormatSettings() {
    // Never destroyed, so that logging from static destructors still finds its settings.
    static const TSiFormatSettings* const LSettings = new TSiFormatSettings();
    return *LSettings;
}

}  // namespace deruz::logging
