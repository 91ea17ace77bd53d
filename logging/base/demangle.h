// The readable names of C++ types, for the titles that name a class (the session's instance
// forms, LogException). Where the compiler's ABI has a demangler (<cxxabi.h>: GCC and Clang,
// MinGW too) the names are demangled; elsewhere they are what std::type_info gives, which
// other compilers already make readable.
//
// Thread-safety: both functions may be called from any thread.
#pragma once

#include <string>
#include <typeinfo>

namespace deruz::logging {

// The readable name of a type ("std::runtime_error", "deruz::logging::TSiSession"); the raw
// name when it cannot be demangled.
std::string SiClassName(const std::type_info& AType);

// The type of the exception being handled on this thread; nullptr when none is, or when the
// runtime cannot tell.
const std::type_info* SiCurrentExceptionType() noexcept;

}  // namespace deruz::logging
