#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "tools/silog/silog.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const bool LColour =
        deruz::silog::ColourWanted(isatty(STDOUT_FILENO) == 1, std::getenv("NO_COLOR"));
    return deruz::silog::SilogMain(std::vector<std::string>(argv + 1, argv + argc), std::cin,
                                   std::cout, std::cerr, LColour);
}
