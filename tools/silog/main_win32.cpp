// On Windows the command line arrives as UTF-16; silog works in UTF-8 throughout.
#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/silog/silog.h"

namespace {

// Whether standard output is a console that takes colour sequences (switched on here).
bool ConsoleWithColour() {
    const HANDLE LOut = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD LMode = 0;
    if (LOut == INVALID_HANDLE_VALUE || !GetConsoleMode(LOut, &LMode)) return false;
    return SetConsoleMode(LOut, LMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

int wmain(int AArgc, wchar_t** AArgv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> LArgs;
    for (int LI = 1; LI < AArgc; ++LI) {
        const int LN = WideCharToMultiByte(CP_UTF8, 0, AArgv[LI], -1, nullptr, 0, nullptr, nullptr);
        std::string LArg(LN > 0 ? static_cast<std::size_t>(LN - 1) : 0, '\0');
        if (LN > 1)
            WideCharToMultiByte(CP_UTF8, 0, AArgv[LI], -1, LArg.data(), LN, nullptr, nullptr);
        LArgs.push_back(LArg);
    }
    const bool LColour = deruz::silog::ColourWanted(ConsoleWithColour(), std::getenv("NO_COLOR"));
    return deruz::silog::SilogMain(LArgs, std::cin, std::cout, std::cerr, LColour);
}
