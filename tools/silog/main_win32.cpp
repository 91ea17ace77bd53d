// On Windows the command line arrives as UTF-16; silog works in UTF-8 throughout.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/silog/silog.h"

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(arg);
    }
    return deruz::silog::SilogMain(args, std::cin, std::cout, std::cerr);
}
