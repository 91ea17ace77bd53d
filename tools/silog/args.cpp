#include <algorithm>

#include "tools/silog/commands.h"

namespace deruz::silog {

TArgs::TArgs(const std::vector<std::string>& AArgs, const std::vector<std::string>& AValueOptions,
             const std::vector<std::string>& AFlags) {
    auto LContains = [](const std::vector<std::string>& AList, const std::string& AName) {
        return std::find(AList.begin(), AList.end(), AName) != AList.end();
    };
    for (std::size_t LI = 0; LI < AArgs.size(); ++LI) {
        const std::string& LA = AArgs[LI];
        if (LA == "--") {
            FPositional.insert(FPositional.end(), AArgs.begin() + static_cast<long>(LI) + 1,
                               AArgs.end());
            break;
        }
        if (LA.size() < 2 || LA[0] != '-' || LA == "-") {
            FPositional.push_back(LA);
            continue;
        }
        const std::size_t LEq = LA.find('=');
        const std::string LName = LA.substr(0, LEq);
        if (LContains(AValueOptions, LName)) {
            if (LEq != std::string::npos) {
                FValues.emplace_back(LName, LA.substr(LEq + 1));
            } else if (LI + 1 < AArgs.size()) {
                FValues.emplace_back(LName, AArgs[++LI]);
            } else {
                FError = "option " + LName + " needs a value";
                return;
            }
        } else if (LContains(AFlags, LName) && LEq == std::string::npos) {
            FFlags.push_back(LName);
        } else {
            FError = "unknown option " + LA;
            return;
        }
    }
}

std::optional<std::string> TArgs::Value(const std::string& AName) const {
    std::optional<std::string> LResult;
    for (const auto& [name, value] : FValues) {
        if (name == AName) LResult = value;
    }
    return LResult;
}

std::vector<std::string> TArgs::Values(const std::string& AName) const {
    std::vector<std::string> LResult;
    for (const auto& [name, value] : FValues) {
        if (name == AName) LResult.push_back(value);
    }
    return LResult;
}

bool TArgs::Flag(const std::string& AName) const {
    return std::find(FFlags.begin(), FFlags.end(), AName) != FFlags.end();
}

}  // namespace deruz::silog
