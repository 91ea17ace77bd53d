#include "control/config_file.h"

#include "systools/wide_text.h"

namespace deruz::control {

std::wstring ReadOxProgram(TIniReader& Ini, const std::wstring& File) {
    // Before the first initialisation no configuration file is in force: nothing is set.
    if (File.empty()) return {};
    return systools::LowerCase(Ini.ReadString(File, kIniSection, L"oxprogram", L"", kTextChars));
}

}  // namespace deruz::control
