// Demangling where the ABI offers it, and a fallback for compilers without <cxxabi.h>. The
// choice is made once, here, for whole functions.
#include "logging/base/demangle.h"

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#define SI_HAS_CXXABI 1
#endif

namespace deruz::logging {

#ifdef SI_HAS_CXXABI

std::string SiClassName(const std::type_info& AType) {
    int LStatus = 0;
    const std::unique_ptr<char, void (*)(void*)> LName(
        abi::__cxa_demangle(AType.name(), nullptr, nullptr, &LStatus), std::free);
    return LStatus == 0 && LName ? std::string(LName.get()) : std::string(AType.name());
}

const std::type_info* SiCurrentExceptionType() noexcept {
    return abi::__cxa_current_exception_type();
}

#else

// type_info::name() is the readable name on these compilers.
std::string SiClassName(const std::type_info& AType) {
    return std::string(AType.name());
}

const std::type_info* SiCurrentExceptionType() noexcept {
    return nullptr;
}

#endif

}  // namespace deruz::logging
