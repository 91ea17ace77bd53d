// TSiStringBuilder: an append-only text buffer for building strings piece by piece, such as
// connection strings and formatted lines.
//
// The capacity is counted in bytes of UTF-8 text. It doubles whenever an append does not fit;
// Clear keeps the memory for reuse unless a long text has made the buffer larger than
// kShrinkLimit, in which case it returns to kDefaultCapacity so that one huge message does not
// pin a large buffer for the rest of the process.
//
// Not synchronised: one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace deruz::logging {

class TSiStringBuilder {
  public:
    static constexpr std::size_t kDefaultCapacity = 256;
    static constexpr std::size_t kShrinkLimit = 1048575;

    explicit TSiStringBuilder(std::size_t ACapacity = kDefaultCapacity)
        : FCapacity(ACapacity > 0 ? ACapacity : 1) {
        FBuffer.reserve(FCapacity);
    }

    TSiStringBuilder& Append(std::string_view AText) {
        Grow(AText.size());
        FBuffer.append(AText);
        return *this;
    }
    TSiStringBuilder& Append(char AChar) {
        Grow(1);
        FBuffer.push_back(AChar);
        return *this;
    }

    void Clear() {
        FBuffer.clear();
        if (FCapacity > kShrinkLimit) {
            std::string().swap(FBuffer);
            FCapacity = kDefaultCapacity;
            FBuffer.reserve(FCapacity);
        }
    }

    std::size_t Length() const noexcept { return FBuffer.size(); }
    bool Empty() const noexcept { return FBuffer.empty(); }
    std::size_t Capacity() const noexcept { return FCapacity; }
    const std::string& ToString() const noexcept { return FBuffer; }

  private:
    void Grow(std::size_t AExtra) {
        const std::size_t LNeeded = FBuffer.size() + AExtra;
        if (LNeeded <= FCapacity) {
            return;
        }
        while (FCapacity < LNeeded) {
            FCapacity *= 2;
        }
        FBuffer.reserve(FCapacity);
    }

    std::size_t FCapacity;
    std::string FBuffer;
};

}  // namespace deruz::logging
