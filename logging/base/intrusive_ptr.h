// Atomic reference counting for objects shared between threads (packets, protocol and
// scheduler commands) and the small intrusive pointer that pairs AddRef and Release for
// callers.
//
// Ownership: a TSiRefCounted object starts with a count of 1, held by its creator. Whoever
// keeps the object beyond a call takes a reference; the last Release deletes it. TSiRef<T>
// holds exactly one reference and gives it back when it goes out of scope.
//
// Thread safety: AddRef and Release may be called from any thread at any time. A single
// TSiRef instance is not synchronised: like a std::shared_ptr, two threads may each hold
// their own copy, but must not assign to the same TSiRef object concurrently.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace deruz::logging {

// Base of every reference-counted object of the logging library.
class TSiRefCounted {
  public:
    TSiRefCounted(const TSiRefCounted&) = delete;
    TSiRefCounted& operator=(const TSiRefCounted&) = delete;

    void AddRef() noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }

    // Gives back one reference; the last one destroys the object. The acquire-release
    // order makes every write of the other holders visible to the destructor.
    void Release() noexcept {
        if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    // The current count; only meaningful while no other thread changes it (diagnostics).
    std::int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_acquire); }

  protected:
    TSiRefCounted() noexcept = default;
    virtual ~TSiRefCounted() = default;

  private:
    std::atomic<std::int32_t> FRefCount{1};
};

// Holds one reference to a T (any class with AddRef() and Release()). Null is allowed.
template <typename T>
class TSiRef {
  public:
    TSiRef() noexcept = default;
    TSiRef(std::nullptr_t) noexcept {}

    // Takes over a reference the caller already owns (typically the 1 of a new object).
    static TSiRef Adopt(T* AObject) noexcept { return TSiRef(AObject); }

    // Takes a new reference on an object that someone else keeps alive for now.
    static TSiRef Share(T* AObject) noexcept {
        if (AObject != nullptr) {
            AObject->AddRef();
        }
        return TSiRef(AObject);
    }

    TSiRef(const TSiRef& AOther) noexcept : FObject(AOther.FObject) {
        if (FObject != nullptr) {
            FObject->AddRef();
        }
    }
    TSiRef(TSiRef&& AOther) noexcept : FObject(std::exchange(AOther.FObject, nullptr)) {}

    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    TSiRef(const TSiRef<U>& AOther) noexcept : FObject(AOther.Get()) {
        if (FObject != nullptr) {
            FObject->AddRef();
        }
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    TSiRef(TSiRef<U>&& AOther) noexcept : FObject(AOther.Detach()) {}

    ~TSiRef() { Reset(); }

    TSiRef& operator=(TSiRef AOther) noexcept {
        std::swap(FObject, AOther.FObject);
        return *this;
    }

    // Gives back the held reference, if any.
    void Reset() noexcept {
        if (T* LObject = std::exchange(FObject, nullptr)) {
            LObject->Release();
        }
    }

    // Hands the held reference to the caller, who must Release it later.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(FObject, nullptr); }

    T* Get() const noexcept { return FObject; }
    T* operator->() const noexcept { return FObject; }
    T& operator*() const noexcept { return *FObject; }
    explicit operator bool() const noexcept { return FObject != nullptr; }

    friend bool operator==(const TSiRef& A_, const TSiRef& AB) noexcept {
        return A_.FObject == AB.FObject;
    }
    friend bool operator==(const TSiRef& A_, std::nullptr_t) noexcept {
        return A_.FObject == nullptr;
    }

  private:
    explicit TSiRef(T* AObject) noexcept : FObject(AObject) {}

    T* FObject = nullptr;
};

// Creates a T with its first reference held by the returned pointer.
template <typename T, typename... Args>
TSiRef<T> SiMakeRef(Args&&... AArgs) {
    return TSiRef<T>::Adopt(new T(std::forward<Args>(AArgs)...));
}

}  // namespace deruz::logging
