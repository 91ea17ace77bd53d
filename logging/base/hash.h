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
// Not synchronised: one thread at a time. The map owns its items; TSiObjectHash owns its values
// only when created as owner. String and integer maps can be copied (keeping their order) and
// moved; object maps only moved.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
    TSiHash() : FBuckets(SiLookupTablePrimes[0], nullptr) {}
    // A copy has the same buckets and chains, and so the same iteration order.
    TSiHash(const TSiHash& AOther) : FBuckets(AOther.FBuckets.size(), nullptr) {
        try {
            for (std::size_t I = 0; I < AOther.FBuckets.size(); ++I) {
                Item** LTail = &FBuckets[I];
                for (const Item* LItem = AOther.FBuckets[I]; LItem; LItem = LItem->Next) {
                    *LTail = new Item{LItem->Key, LItem->Value, LItem->Hash, nullptr};
                    LTail = &(*LTail)->Next;
                }
            }
        } catch (...) {
            Clear();
            throw;
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
    // Derived maps whose DoDispose does work must call Clear in their own destructor.
    virtual ~TSiHash() { Clear(); }

    std::size_t Count() const noexcept { return FCount; }
    std::size_t BucketCount() const noexcept { return FBuckets.size(); }

    bool Contains(std::string_view AKey) const noexcept { return Find(AKey) != nullptr; }
    // The value stored under AKey, or nullptr.
    V* Find(std::string_view AKey) noexcept {
        Item* LItem = FindItem(AKey, SiHashKey(AKey));
        return LItem ? &LItem->Value : nullptr;
    }
    const V* Find(std::string_view AKey) const noexcept {
        const Item* LItem = FindItem(AKey, SiHashKey(AKey));
        return LItem ? &LItem->Value : nullptr;
    }

    // Inserts, or replaces the value of an existing key (whose old value is disposed).
    void Put(std::string_view AKey, V AValue) {
        const std::uint32_t LHash = SiHashKey(AKey);
        if (Item* LItem = FindItem(AKey, LHash)) {
            V LOld = std::move(LItem->Value);
            LItem->Value = std::move(AValue);
            DoDispose(LOld);
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
    // Removes AKey and disposes its value; returns whether it was present.
    bool Remove(std::string_view AKey) {
        const std::uint32_t LHash = SiHashKey(AKey);
        if (FBuckets.empty()) {
            return false;
        }
        Item** LLink = &FBuckets[LHash % FBuckets.size()];
        while (*LLink) {
            Item* LItem = *LLink;
            if (LItem->Hash == LHash && SiSameText(LItem->Key, AKey)) {
                *LLink = LItem->Next;
                if (!FBuckets[LHash % FBuckets.size()]) {
                    --FLoad;
                }
                --FCount;
                Restart();
                DisposeItem(LItem);
                return true;
            }
            LLink = &LItem->Next;
        }
        return false;
    }
    // Removes every item, disposing each value. The bucket count stays.
    void Clear() noexcept {
        for (Item*& LHead : FBuckets) {
            while (LHead) {
                Item* LItem = LHead;
                LHead = LItem->Next;
                DisposeItem(LItem);
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
            FIterItem = FIterItem->Next;
            if (!FIterItem) {
                ++FIterBucket;
            }
        }
        FIterStarted = true;
        while (!FIterItem && FIterBucket < FBuckets.size()) {
            FIterItem = FBuckets[FIterBucket];
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
        for (const Item* LHead : FBuckets) {
            for (const Item* LItem = LHead; LItem; LItem = LItem->Next) {
                AFunc(LItem->Key, LItem->Value);
            }
        }
    }

  protected:
    // Called for every value that leaves the map (removed, replaced or cleared).
    virtual void DoDispose(V& /*AValue*/) noexcept {}

    // Exchanges the contents (not the disposal rule) of two maps.
    void Swap(TSiHash& AOther) noexcept {
        FBuckets.swap(AOther.FBuckets);
        std::swap(FPrimeIndex, AOther.FPrimeIndex);
        std::swap(FCount, AOther.FCount);
        std::swap(FLoad, AOther.FLoad);
        Restart();
        AOther.Restart();
    }

  private:
    struct Item {
        std::string Key;
        V Value;
        std::uint32_t Hash;
        Item* Next;
    };

    Item* FindItem(std::string_view AKey, std::uint32_t AHash) const noexcept {
        if (FBuckets.empty()) {
            return nullptr;
        }
        for (Item* LItem = FBuckets[AHash % FBuckets.size()]; LItem; LItem = LItem->Next) {
            if (LItem->Hash == AHash && SiSameText(LItem->Key, AKey)) {
                return LItem;
            }
        }
        return nullptr;
    }

    void Insert(std::string_view AKey, V AValue, std::uint32_t AHash) {
        if (FBuckets.empty()) {
            FBuckets.assign(SiLookupTablePrimes[0], nullptr);
        }
        Item*& LHead = FBuckets[AHash % FBuckets.size()];
        const bool LWasEmpty = LHead == nullptr;
        LHead = new Item{std::string(AKey), std::move(AValue), AHash, LHead};
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
        std::vector<Item*> LBuckets(SiLookupTablePrimes[FPrimeIndex + 1], nullptr);
        std::size_t LLoad = 0;
        for (Item* LHead : FBuckets) {
            while (LHead) {
                Item* LItem = LHead;
                LHead = LItem->Next;
                Item*& LTarget = LBuckets[LItem->Hash % LBuckets.size()];
                if (!LTarget) {
                    ++LLoad;
                }
                LItem->Next = LTarget;
                LTarget = LItem;
            }
        }
        FBuckets.swap(LBuckets);
        FLoad = LLoad;
        ++FPrimeIndex;
        Restart();
    }

    void DisposeItem(Item* AItem) noexcept {
        DoDispose(AItem->Value);
        delete AItem;
    }

    std::vector<Item*> FBuckets;
    std::size_t FPrimeIndex = 0;
    std::size_t FCount = 0;
    std::size_t FLoad = 0;
    std::size_t FIterBucket = 0;
    Item* FIterItem = nullptr;
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

// Object values; Get gives nullptr for a missing key. A map created as owner deletes a value
// when it is removed, replaced by another object, or cleared, and takes ownership of every
// object that Put stores or Add inserts (Add that finds the key leaves ownership with the
// caller).
template <class T>
class TSiObjectHash : public TSiHash<T*> {
  public:
    explicit TSiObjectHash(bool AOwnsObjects = false) : FOwnsObjects(AOwnsObjects) {}
    // Two owners of the same objects would free them twice.
    TSiObjectHash(const TSiObjectHash&) = delete;
    TSiObjectHash& operator=(const TSiObjectHash&) = delete;
    TSiObjectHash(TSiObjectHash&& AOther) noexcept
        : TSiHash<T*>(std::move(AOther)), FOwnsObjects(AOther.FOwnsObjects) {}
    // The previous content leaves with AOther, which disposes of it by its own rule.
    TSiObjectHash& operator=(TSiObjectHash&& AOther) noexcept {
        this->Swap(AOther);
        std::swap(FOwnsObjects, AOther.FOwnsObjects);
        return *this;
    }
    ~TSiObjectHash() override { this->Clear(); }

    bool OwnsObjects() const noexcept { return FOwnsObjects; }
    T* Get(std::string_view AKey) const noexcept {
        T* const* LValue = this->Find(AKey);
        return LValue ? *LValue : nullptr;
    }
    void Put(std::string_view AKey, T* AValue) {
        if (T** LValue = this->Find(AKey); LValue && *LValue == AValue) {
            return;
        }
        try {
            TSiHash<T*>::Put(AKey, AValue);
        } catch (...) {
            DoDispose(AValue);
            throw;
        }
    }
    bool Add(std::string_view AKey, T* AValue) {
        try {
            return TSiHash<T*>::Add(AKey, AValue);
        } catch (...) {
            DoDispose(AValue);
            throw;
        }
    }

  protected:
    void DoDispose(T*& AValue) noexcept override {
        if (FOwnsObjects) {
            delete AValue;
        }
        AValue = nullptr;
    }

  private:
    bool FOwnsObjects;
};

}  // namespace deruz::logging
