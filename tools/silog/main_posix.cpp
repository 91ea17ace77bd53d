#include <iostream>

#include "tools/silog/silog.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return deruz::silog::SilogMain(std::vector<std::string>(argv + 1, argv + argc), std::cin,
                                   std::cout, std::cerr);
}
