#include "control/config_file.h"

#include "systools/wide_text.h"

namespace deruz::control {

std::wstring ReadOxProgram(TIniReader& AIni, const std::wstring& AFile) {
    // Before the first initialisation no configuration file is in force: nothing is set.
    if (AFile.empty()) return {};
    return systools::LowerCase(AIni.ReadString(AFile, kIniSection, L"oxprogram", L"", kTextChars));
}

}  // namespace deruz::control
