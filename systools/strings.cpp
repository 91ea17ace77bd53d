// String splitting and the case-insensitive string list.
#include "systools/strings.h"

#include <algorithm>
#include <type_traits>

namespace deruz::systools {

namespace {

// Simple case folding of the letters that appear in user, computer and client names,
// done here rather than with towlower so that both platforms agree whatever the locale.
std::uint32_t FoldCase(wchar_t ACh) {
    const auto LC = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(ACh));
    if (LC >= 'A' && LC <= 'Z') return LC + 32;
    if (LC < 0xC0) return LC;
    if (LC <= 0xDE)
        return LC == 0xD7 ? LC : LC + 32;  // Latin-1 capitals, not the multiplication sign
    if (LC == 0x178) return 0xFF;
    if (LC >= 0x100 && LC <= 0x137) return LC | 1;  // Latin Extended-A: capital even, small odd
    if (LC >= 0x139 && LC <= 0x148) return (LC & 1) ? LC + 1 : LC;
    if (LC >= 0x14A && LC <= 0x177) return LC | 1;
    if (LC >= 0x179 && LC <= 0x17E) return (LC & 1) ? LC + 1 : LC;
    if (LC >= 0x391 && LC <= 0x3AB && LC != 0x3A2) return LC + 32;  // Greek
    if (LC >= 0x400 && LC <= 0x40F) return LC + 80;                 // Cyrillic
    if (LC >= 0x410 && LC <= 0x42F) return LC + 32;
    return LC;
}

// Removes leading and trailing characters whose code is 32 or less.
std::wstring Trim(std::wstring_view AS) {
    auto LIsBlank = [](wchar_t AC) {
        return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(AC)) <= 32;
    };
    std::size_t LFirst = 0;
    std::size_t LLast = AS.size();
    while (LFirst < LLast && LIsBlank(AS[LFirst])) ++LFirst;
    while (LLast > LFirst && LIsBlank(AS[LLast - 1])) --LLast;
    return std::wstring(AS.substr(LFirst, LLast - LFirst));
}

// Takes an item out of double quotes: "a""b"c gives a"b. The item stays as it is when it
// does not begin with a quote, when the quote is never closed and the item does not end
// with one, and when the quotes enclose nothing but more text follows them.
std::wstring Dequote(std::wstring_view AItem) {
    constexpr wchar_t LQuote = L'"';
    if (AItem.empty() || AItem.front() != LQuote) return std::wstring(AItem);
    std::wstring LInner;
    std::size_t LPos = 1;
    bool LClosed = false;
    while (LPos < AItem.size()) {
        if (AItem[LPos] == LQuote) {
            if (LPos + 1 < AItem.size() && AItem[LPos + 1] == LQuote) {
                LInner.push_back(LQuote);
                LPos += 2;
                continue;
            }
            LClosed = true;
            ++LPos;
            break;
        }
        LInner.push_back(AItem[LPos]);
        ++LPos;
    }
    if (!LClosed) return AItem.back() == LQuote ? LInner : std::wstring(AItem);
    if (LInner.empty() && LPos < AItem.size()) return std::wstring(AItem);
    return LInner;
}

// Keeps a list inside BeginUpdate/EndUpdate for a scope, however the scope is left.
class TUpdateScope {
  public:
    explicit TUpdateScope(TStringList& AList) : FList(AList) { FList.BeginUpdate(); }
    ~TUpdateScope() {
        try {
            FList.EndUpdate();
        } catch (...) {
            // A failing change handler must not escape a destructor.
        }
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

  private:
    TStringList& FList;
};

}  // namespace

TSysCharSet SysCharSet(std::wstring_view AChars) {
    TSysCharSet LSet;
    for (wchar_t LC : AChars) {
        if (static_cast<std::uint32_t>(LC) <= 255) LSet.set(static_cast<std::size_t>(LC));
    }
    return LSet;
}

bool InCharSet(const TSysCharSet& ASet, wchar_t AC) {
    const auto LCode = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(AC));
    return LCode <= 255 && ASet.test(LCode);
}

bool SameTextIgnoreCase(std::wstring_view AA, std::wstring_view AB) {
    return AA.size() == AB.size() &&
           std::equal(AA.begin(), AA.end(), AB.begin(),
                      [](wchar_t AX, wchar_t AY) { return FoldCase(AX) == FoldCase(AY); });
}

int TStringList::Add(const std::wstring& AS) {
    FItems.push_back(AS);
    Changed();
    return Count() - 1;
}

void TStringList::Clear() {
    if (FItems.empty()) return;
    FItems.clear();
    Changed();
}

int TStringList::IndexOf(std::wstring_view AS) const {
    for (std::size_t LI = 0; LI < FItems.size(); ++LI) {
        if (SameTextIgnoreCase(FItems[LI], AS)) return static_cast<int>(LI);
    }
    return -1;
}

void TStringList::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount == 0 && FChangedInUpdate) {
        FChangedInUpdate = false;
        if (OnChange) OnChange();
    }
}

void TStringList::Changed() {
    if (FUpdateCount > 0) {
        FChangedInUpdate = true;
    } else if (OnChange) {
        OnChange();
    }
}

std::int32_t SysExtractStrings(const TSysCharSet& ASeparators, const TSysCharSet& AWhiteSpace,
                               const wchar_t* AContent, TStringList* AStrings, bool AIgnoreQuotes) {
    if (AContent == nullptr || *AContent == 0 || AStrings == nullptr) return 0;

    // The terminating zero always stops an item and is never skipped, whatever the caller's
    // sets hold, so the scan cannot run past the end of the text.
    TSysCharSet LSkip = AWhiteSpace;
    LSkip.set('\r').set('\n').reset(0);
    TSysCharSet LStop = ASeparators;
    LStop.set(0).set('\r').set('\n');
    if (!AIgnoreQuotes) LStop.set('"').set('\'');

    std::int32_t LCount = 0;
    try {
        TUpdateScope LUpdate(*AStrings);
        const wchar_t* LTail = AContent;
        wchar_t LOpenQuote = 0;
        for (;;) {
            while (InCharSet(LSkip, *LTail)) ++LTail;
            const wchar_t* const LHead = LTail;
            // Every character the scan stops on is 255 or below, so moving by one code unit
            // never splits a surrogate pair.
            for (;;) {
                while ((LOpenQuote != 0 && *LTail != 0 && *LTail != LOpenQuote) ||
                       !InCharSet(LStop, *LTail)) {
                    ++LTail;
                }
                if (AIgnoreQuotes || (*LTail != L'"' && *LTail != L'\'')) break;
                if (LOpenQuote == *LTail) {
                    LOpenQuote = 0;
                } else if (LOpenQuote == 0) {
                    LOpenQuote = *LTail;
                }
                ++LTail;
            }
            const bool LEndOfText = *LTail == 0;
            if (LHead != LTail && *LHead != 0) {
                AStrings->Add(Trim(Dequote(std::wstring_view(LHead, LTail - LHead))));
            } else {
                AStrings->Add(std::wstring());
            }
            ++LCount;
            if (LEndOfText) break;
            ++LTail;
        }
    } catch (...) {
        // Out of memory or a failing change handler: the items appended so far stay.
    }
    return LCount;
}

}  // namespace deruz::systools
