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
    std::istringstream in(AInput);
    std::ostringstream out, err;
    const int status = SilogMain(AArgs, in, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace deruz::silog::testing
