// Runs silog in the test process, as its command line would, and gives back what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tools/silog/silog.h"

namespace deruz::silog::testing {

struct TResult {
    int Status;
    std::string Out;
    std::string Err;
};

inline TResult Silog(const std::vector<std::string>& AArgs, const std::string& AInput = "") {
    std::istringstream LIn(AInput);
    std::ostringstream LOut, LErr;
    const int LStatus = SilogMain(AArgs, LIn, LOut, LErr);
    return {LStatus, LOut.str(), LErr.str()};
}

}  // namespace deruz::silog::testing
