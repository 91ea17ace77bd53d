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
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(arg);
    }
    const bool colour = deruz::silog::ColourWanted(ConsoleWithColour(), std::getenv("NO_COLOR"));
    return deruz::silog::SilogMain(args, std::cin, std::cout, std::cerr, colour);
}
