#include <algorithm>

#include "tools/silog/commands.h"

namespace deruz::silog {

TArgs::TArgs(const std::vector<std::string>& AArgs, const std::vector<std::string>& AValueOptions,
             const std::vector<std::string>& AFlags) {
    auto contains = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (std::size_t i = 0; i < AArgs.size(); ++i) {
        const std::string& a = AArgs[i];
        if (a == "--") {
            FPositional.insert(FPositional.end(), AArgs.begin() + static_cast<long>(i) + 1,
                               AArgs.end());
            break;
        }
        if (a.size() < 2 || a[0] != '-' || a == "-") {
            FPositional.push_back(a);
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (contains(AValueOptions, name)) {
            if (eq != std::string::npos) {
                FValues.emplace_back(name, a.substr(eq + 1));
            } else if (i + 1 < AArgs.size()) {
                FValues.emplace_back(name, AArgs[++i]);
            } else {
                FError = "option " + name + " needs a value";
                return;
            }
        } else if (contains(AFlags, name) && eq == std::string::npos) {
            FFlags.push_back(name);
        } else {
            FError = "unknown option " + a;
            return;
        }
    }
}

std::optional<std::string> TArgs::Value(const std::string& AName) const {
    std::optional<std::string> result;
    for (const auto& [name, value] : FValues) {
        if (name == AName) result = value;
    }
    return result;
}

std::vector<std::string> TArgs::Values(const std::string& AName) const {
    std::vector<std::string> result;
    for (const auto& [name, value] : FValues) {
        if (name == AName) result.push_back(value);
    }
    return result;
}

bool TArgs::Flag(const std::string& AName) const {
    return std::find(FFlags.begin(), FFlags.end(), AName) != FFlags.end();
}

}  // namespace deruz::silog
