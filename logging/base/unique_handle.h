// TSiUniqueAny: the one owner of a system handle (a file descriptor, a Windows HANDLE, a
// socket, a module), so that every handle is closed exactly once on every way out: by the
// destructor, by Reset, or by whoever took it over with Release.
//
// A traits type describes one kind of handle:
//     struct TTraits {
//         using TValue = ...;                           // the handle as the system gives it
//         static TValue Invalid() noexcept;             // the value that means "no handle"
//         static void Close(TValue AValue) noexcept;    // called only for other values
//     };
// and each kind gets a one-line alias (using TSiUniqueFd = TSiUniqueAny<TSiFdTraits>). The
// aliases for the system's own kinds stand in unique_handle_posix.h, unique_handle_win32.h and
// logging/system/system_handles_win32.h; this header includes no system header.
//
// Thread safety: none; one owner is used by one thread at a time.
// Ownership: move-only; a moved-from owner holds no handle.
#pragma once

#include <cstdint>
#include <utility>

namespace deruz::logging {

template <typename TTraits>
class TSiUniqueAny {
  public:
    using TValue = typename TTraits::TValue;

    static_assert(noexcept(TTraits::Close(TTraits::Invalid())),
                  "closing a handle runs in destructors and must not throw");

    TSiUniqueAny() noexcept = default;
    // Takes over AValue (which may be the invalid value, as a failed open returns it).
    explicit TSiUniqueAny(TValue AValue) noexcept : FValue(AValue) {}

    TSiUniqueAny(TSiUniqueAny&& AOther) noexcept : FValue(AOther.Release()) {}
    TSiUniqueAny& operator=(TSiUniqueAny&& AOther) noexcept {
        Reset(AOther.Release());
        return *this;
    }
    TSiUniqueAny(const TSiUniqueAny&) = delete;
    TSiUniqueAny& operator=(const TSiUniqueAny&) = delete;

    ~TSiUniqueAny() { Reset(); }

    // The handle, still owned here (the invalid value when there is none).
    TValue Get() const noexcept { return FValue; }
    explicit operator bool() const noexcept { return FValue != TTraits::Invalid(); }

    // Hands the handle to the caller, who closes it from now on; this owner is then empty.
    [[nodiscard]] TValue Release() noexcept { return std::exchange(FValue, TTraits::Invalid()); }

    // Closes the handle held (if any) and takes over AValue.
    void Reset(TValue AValue = TTraits::Invalid()) noexcept {
        const TValue LOld = std::exchange(FValue, AValue);
        if (LOld != TTraits::Invalid()) {
            TTraits::Close(LOld);
        }
    }

  private:
    TValue FValue = TTraits::Invalid();
};

// The system's handle of an open file or pipe as the portable headers carry it: a file
// descriptor on POSIX, a HANDLE on Windows, either in an intptr_t; -1 (INVALID_HANDLE_VALUE on
// Windows) when there is none. Close is defined per platform (unique_handle_posix.cpp,
// unique_handle_win32.cpp).
struct TSiNativeTraits {
    using TValue = std::intptr_t;
    static constexpr TValue Invalid() noexcept { return -1; }
    static void Close(TValue AValue) noexcept;
};
using TSiUniqueNative = TSiUniqueAny<TSiNativeTraits>;

}  // namespace deruz::logging
