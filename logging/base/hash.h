// The string-keyed hash maps of the logging library (TSiHash and its three kinds of values).
//
// Keys compare without regard to ASCII letter case and keep the spelling of their first
// insertion. The layout is fixed rather than left to the standard library because callers rely
// on the iteration order (connection-string variables are expanded in it):
// - the hash is djb2 (start 5381, h := h * 33 + c, 32-bit wrap-around) over the UTF-16 code
//   units of the key with its ASCII letters lower-cased; the bucket is hash mod bucket count;
// - bucket counts come from SiLookupTablePrimes, starting at 7; after an insertion into an
//   empty bucket, when the number of non-empty buckets reaches 3/4 of the bucket count, the map
//   is rebuilt with the next prime (the last prime is never exceeded);
// - a new item is put at the head of its bucket's chain;
// - iteration walks the buckets in index order and each chain from its head.
//
// Not synchronised: one thread at a time. The map owns its items, and a value leaves with its
// item (removed, replaced or cleared). Whether an object map owns its objects is its type:
// TSiObjectHash<T> holds T* that others own, TSiObjectHash<std::unique_ptr<T>> owns them.
// String and integer maps can be copied (keeping their order) and moved; object maps only
// moved. A value's address stays the same while its key is in the map.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/base/strings.h"

namespace deruz::logging {

// Bucket counts of the hash maps, shared with the option tables.
inline constexpr std::array<std::uint32_t, 21> SiLookupTablePrimes = {
    7,     17,    37,    79,     163,    331,    673,     1361,    2729,    5471,    10949,
    21911, 43853, 87719, 175447, 350899, 701819, 1403641, 2807303, 5614657, 11229331};

// djb2 over the UTF-16 code units of AKey with ASCII letters lower-cased.
std::uint32_t SiHashKey(std::string_view AKey) noexcept;

template <class V>
class TSiHash {
  public:
    TSiHash() { FBuckets.resize(SiLookupTablePrimes[0]); }
    // A copy has the same buckets and chains, and so the same iteration order.
    TSiHash(const TSiHash& AOther) {
        FBuckets.resize(AOther.FBuckets.size());
        for (std::size_t LI = 0; LI < AOther.FBuckets.size(); ++LI) {
            TItemPtr* LTail = &FBuckets[LI];
            for (const TItem* LItem = AOther.FBuckets[LI].get(); LItem; LItem = LItem->Next.get()) {
                *LTail = std::make_unique<TItem>(TItem{LItem->Key, LItem->Value, LItem->Hash, {}});
                LTail = &(*LTail)->Next;
            }
        }
        FPrimeIndex = AOther.FPrimeIndex;
        FCount = AOther.FCount;
        FLoad = AOther.FLoad;
    }
    // A moved-from map is empty and stays usable.
    TSiHash(TSiHash&& AOther) noexcept { Swap(AOther); }
    TSiHash& operator=(TSiHash AOther) noexcept {
        Swap(AOther);
        return *this;
    }
    ~TSiHash() { Clear(); }

    std::size_t Count() const noexcept { return FCount; }
    std::size_t BucketCount() const noexcept { return FBuckets.size(); }

    bool Contains(std::string_view AKey) const noexcept { return Find(AKey) != nullptr; }
    // The value stored under AKey, or nullptr.
    V* Find(std::string_view AKey) noexcept {
        TItem* LItem = FindItem(AKey, SiHashKey(AKey));
        return LItem ? &LItem->Value : nullptr;
    }
    const V* Find(std::string_view AKey) const noexcept {
        const TItem* LItem = FindItem(AKey, SiHashKey(AKey));
        return LItem ? &LItem->Value : nullptr;
    }

    // Inserts, or replaces the value of an existing key (the old value is destroyed).
    void Put(std::string_view AKey, V AValue) {
        const std::uint32_t LHash = SiHashKey(AKey);
        if (TItem* LItem = FindItem(AKey, LHash)) {
            LItem->Value = std::move(AValue);
            return;
        }
        Insert(AKey, std::move(AValue), LHash);
    }
    // Inserts only when AKey is absent; returns whether it inserted.
    bool Add(std::string_view AKey, V AValue) {
        const std::uint32_t LHash = SiHashKey(AKey);
        if (FindItem(AKey, LHash)) {
            return false;
        }
        Insert(AKey, std::move(AValue), LHash);
        return true;
    }
    // Removes AKey and destroys its value; returns whether it was present.
    bool Remove(std::string_view AKey) {
        const std::uint32_t LHash = SiHashKey(AKey);
        if (FBuckets.empty()) {
            return false;
        }
        TItemPtr& LBucket = FBuckets[LHash % FBuckets.size()];
        for (TItemPtr* LLink = &LBucket; *LLink; LLink = &(*LLink)->Next) {
            if ((*LLink)->Hash == LHash && SiSameText((*LLink)->Key, AKey)) {
                const TItemPtr LItem = std::exchange(*LLink, std::move((*LLink)->Next));
                if (!LBucket) {
                    --FLoad;
                }
                --FCount;
                Restart();
                return true;
            }
        }
        return false;
    }
    // Removes every item, destroying each value. The bucket count stays.
    void Clear() noexcept {
        // Chain by chain, one item at a time: a long chain is not freed by recursion.
        for (TItemPtr& LHead : FBuckets) {
            while (LHead) {
                LHead = std::move(LHead->Next);
            }
        }
        FCount = 0;
        FLoad = 0;
        Restart();
    }

    // Iteration: Restart, then Next until it returns false; Current and CurrentKey are valid
    // after Next returned true. Inserting or removing restarts the iteration.
    void Restart() noexcept {
        FIterBucket = 0;
        FIterItem = nullptr;
        FIterStarted = false;
    }
    bool Next() noexcept {
        if (FIterStarted && FIterItem) {
            FIterItem = FIterItem->Next.get();
            if (!FIterItem) {
                ++FIterBucket;
            }
        }
        FIterStarted = true;
        while (!FIterItem && FIterBucket < FBuckets.size()) {
            FIterItem = FBuckets[FIterBucket].get();
            if (!FIterItem) {
                ++FIterBucket;
            }
        }
        return FIterItem != nullptr;
    }
    V& Current() noexcept { return FIterItem->Value; }
    const std::string& CurrentKey() const noexcept { return FIterItem->Key; }

    // Calls AFunc(key, value) for every item in iteration order, without touching the
    // Restart/Next state.
    template <class F>
    void ForEach(F&& AFunc) const {
        for (const TItemPtr& LHead : FBuckets) {
            for (const TItem* LItem = LHead.get(); LItem; LItem = LItem->Next.get()) {
                AFunc(LItem->Key, LItem->Value);
            }
        }
    }

  protected:
    // Exchanges the contents of two maps.
    void Swap(TSiHash& AOther) noexcept {
        FBuckets.swap(AOther.FBuckets);
        std::swap(FPrimeIndex, AOther.FPrimeIndex);
        std::swap(FCount, AOther.FCount);
        std::swap(FLoad, AOther.FLoad);
        Restart();
        AOther.Restart();
    }

  private:
    struct TItem;
    using TItemPtr = std::unique_ptr<TItem>;
    struct TItem {
        std::string Key;
        V Value;
        std::uint32_t Hash;
        TItemPtr Next;
    };

    TItem* FindItem(std::string_view AKey, std::uint32_t AHash) const noexcept {
        if (FBuckets.empty()) {
            return nullptr;
        }
        for (TItem* LItem = FBuckets[AHash % FBuckets.size()].get(); LItem;
             LItem = LItem->Next.get()) {
            if (LItem->Hash == AHash && SiSameText(LItem->Key, AKey)) {
                return LItem;
            }
        }
        return nullptr;
    }

    void Insert(std::string_view AKey, V&& AValue, std::uint32_t AHash) {
        if (FBuckets.empty()) {
            FBuckets.resize(SiLookupTablePrimes[0]);
        }
        TItemPtr& LHead = FBuckets[AHash % FBuckets.size()];
        const bool LWasEmpty = LHead == nullptr;
        auto LItem =
            std::make_unique<TItem>(TItem{std::string(AKey), std::move(AValue), AHash, {}});
        LItem->Next = std::move(LHead);
        LHead = std::move(LItem);
        ++FCount;
        Restart();
        if (LWasEmpty) {
            ++FLoad;
            if (4 * FLoad >= 3 * FBuckets.size() && FPrimeIndex + 1 < SiLookupTablePrimes.size()) {
                Rebuild();
            }
        }
    }

    // Re-chains every item by its stored hash into the next prime's bucket count.
    void Rebuild() {
        std::vector<TItemPtr> LBuckets(SiLookupTablePrimes[FPrimeIndex + 1]);
        std::size_t LLoad = 0;
        for (TItemPtr& LHead : FBuckets) {
            while (LHead) {
                TItemPtr LItem = std::exchange(LHead, std::move(LHead->Next));
                TItemPtr& LTarget = LBuckets[LItem->Hash % LBuckets.size()];
                if (!LTarget) {
                    ++LLoad;
                }
                LItem->Next = std::move(LTarget);
                LTarget = std::move(LItem);
            }
        }
        FBuckets.swap(LBuckets);
        FLoad = LLoad;
        ++FPrimeIndex;
        Restart();
    }

    std::vector<TItemPtr> FBuckets;
    std::size_t FPrimeIndex = 0;
    std::size_t FCount = 0;
    std::size_t FLoad = 0;
    std::size_t FIterBucket = 0;
    TItem* FIterItem = nullptr;
    bool FIterStarted = false;
};

// Text values; Get gives the empty string for a missing key.
class TSiStringHash : public TSiHash<std::string> {
  public:
    std::string Get(std::string_view AKey) const {
        const std::string* LValue = Find(AKey);
        return LValue ? *LValue : std::string();
    }
};

// 32-bit integer values; Get gives -1 for a missing key.
class TSiIntegerHash : public TSiHash<std::int32_t> {
  public:
    std::int32_t Get(std::string_view AKey) const noexcept {
        const std::int32_t* LValue = Find(AKey);
        return LValue ? *LValue : -1;
    }
    // Adds one (a missing key starts at 1) and returns the new value; wraps at the 32-bit limit.
    std::int32_t Inc(std::string_view AKey) { return Change(AKey, 1); }
    // Subtracts one (a missing key starts at -1) and returns the new value.
    std::int32_t Dec(std::string_view AKey) { return Change(AKey, -1); }

  private:
    std::int32_t Change(std::string_view AKey, std::int32_t ADelta) {
        if (std::int32_t* LValue = Find(AKey)) {
            *LValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(*LValue) +
                                                static_cast<std::uint32_t>(ADelta));
            return *LValue;
        }
        Put(AKey, ADelta);
        return ADelta;
    }
};

// Objects that others own; Get gives nullptr for a missing key. The map never frees them.
template <class T>
class TSiObjectHash : public TSiHash<T*> {
  public:
    TSiObjectHash() = default;
    // An object map is moved, not copied, whether or not it owns its objects.
    TSiObjectHash(const TSiObjectHash&) = delete;
    TSiObjectHash& operator=(const TSiObjectHash&) = delete;
    TSiObjectHash(TSiObjectHash&&) noexcept = default;
    TSiObjectHash& operator=(TSiObjectHash&& AOther) noexcept {
        this->Swap(AOther);
        return *this;
    }

    static constexpr bool OwnsObjects() noexcept { return false; }
    T* Get(std::string_view AKey) const noexcept {
        T* const* LValue = this->Find(AKey);
        return LValue ? *LValue : nullptr;
    }
};

// Objects that the map owns: each is freed when it leaves the map (removed, replaced by
// another object, or cleared) and with the map. Add that finds the key leaves the object with
// the caller.
template <class T>
class TSiObjectHash<std::unique_ptr<T>> : public TSiHash<std::unique_ptr<T>> {
  public:
    TSiObjectHash() = default;
    TSiObjectHash(TSiObjectHash&&) noexcept = default;
    // The previous content leaves with AOther.
    TSiObjectHash& operator=(TSiObjectHash&& AOther) noexcept {
        this->Swap(AOther);
        return *this;
    }

    static constexpr bool OwnsObjects() noexcept { return true; }
    T* Get(std::string_view AKey) const noexcept {
        const std::unique_ptr<T>* LValue = this->Find(AKey);
        return LValue ? LValue->get() : nullptr;
    }
    // Stores AValue under AKey and returns it.
    T* Put(std::string_view AKey, std::unique_ptr<T> AValue) {
        T* LObject = AValue.get();
        TSiHash<std::unique_ptr<T>>::Put(AKey, std::move(AValue));
        return LObject;
    }
    // Takes AValue only when AKey is absent; otherwise AValue stays the caller's.
    bool Add(std::string_view AKey, std::unique_ptr<T>&& AValue) {
        if (this->Contains(AKey)) {
            return false;
        }
        Put(AKey, std::move(AValue));
        return true;
    }
};

}  // namespace deruz::logging
