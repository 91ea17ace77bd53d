// String splitting and the case-insensitive string list.
#include "systools/strings.h"

#include <algorithm>

namespace deruz::systools {

namespace {

// Simple case folding of the letters that appear in user, computer and client names,
// done here rather than with towlower so that both platforms agree whatever the locale.
std::uint32_t FoldCase(wchar_t ch) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 32;  // Latin-1 capitals, not the multiplication sign
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x137) return c | 1;  // Latin Extended-A: capital even, small odd
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
    if (c >= 0x400 && c <= 0x40F) return c + 80;                // Cyrillic
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    return c;
}

// Removes leading and trailing characters whose code is 32 or less.
std::wstring Trim(std::wstring_view s) {
    auto is_blank = [](wchar_t c) { return static_cast<std::uint32_t>(c) <= 32; };
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < last && is_blank(s[first])) ++first;
    while (last > first && is_blank(s[last - 1])) --last;
    return std::wstring(s.substr(first, last - first));
}

// Takes an item out of double quotes: "a""b"c gives a"b. The item stays as it is when it
// does not begin with a quote, when the quote is never closed and the item does not end
// with one, and when the quotes enclose nothing but more text follows them.
std::wstring Dequote(std::wstring_view item) {
    constexpr wchar_t kQuote = L'"';
    if (item.empty() || item.front() != kQuote) return std::wstring(item);
    std::wstring inner;
    std::size_t pos = 1;
    bool closed = false;
    while (pos < item.size()) {
        if (item[pos] == kQuote) {
            if (pos + 1 < item.size() && item[pos + 1] == kQuote) {
                inner.push_back(kQuote);
                pos += 2;
                continue;
            }
            closed = true;
            ++pos;
            break;
        }
        inner.push_back(item[pos]);
        ++pos;
    }
    if (!closed) return item.back() == kQuote ? inner : std::wstring(item);
    if (inner.empty() && pos < item.size()) return std::wstring(item);
    return inner;
}

// Keeps a list inside BeginUpdate/EndUpdate for a scope, however the scope is left.
class TUpdateScope {
  public:
    explicit TUpdateScope(TStringList& list) : list_(list) { list_.BeginUpdate(); }
    ~TUpdateScope() {
        try {
            list_.EndUpdate();
        } catch (...) {
            // A failing change handler must not escape a destructor.
        }
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

  private:
    TStringList& list_;
};

}  // namespace

TSysCharSet SysCharSet(std::wstring_view Chars) {
    TSysCharSet set;
    for (wchar_t c : Chars) {
        if (static_cast<std::uint32_t>(c) <= 255) set.set(static_cast<std::size_t>(c));
    }
    return set;
}

bool InCharSet(const TSysCharSet& Set, wchar_t c) {
    const auto code = static_cast<std::uint32_t>(c);
    return code <= 255 && Set.test(code);
}

bool SameTextIgnoreCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return FoldCase(x) == FoldCase(y); });
}

int TStringList::Add(const std::wstring& S) {
    FItems.push_back(S);
    Changed();
    return Count() - 1;
}

void TStringList::Clear() {
    if (FItems.empty()) return;
    FItems.clear();
    Changed();
}

int TStringList::IndexOf(std::wstring_view S) const {
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        if (SameTextIgnoreCase(FItems[i], S)) return static_cast<int>(i);
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

std::int32_t SysExtractStrings(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace,
                               const wchar_t* Content, TStringList* Strings, bool IgnoreQuotes) {
    if (Content == nullptr || *Content == 0 || Strings == nullptr) return 0;

    // The terminating zero always stops an item and is never skipped, whatever the caller's
    // sets hold, so the scan cannot run past the end of the text.
    TSysCharSet skip = WhiteSpace;
    skip.set('\r').set('\n').reset(0);
    TSysCharSet stop = Separators;
    stop.set(0).set('\r').set('\n');
    if (!IgnoreQuotes) stop.set('"').set('\'');

    std::int32_t count = 0;
    try {
        TUpdateScope update(*Strings);
        const wchar_t* tail = Content;
        wchar_t open_quote = 0;
        for (;;) {
            while (InCharSet(skip, *tail)) ++tail;
            const wchar_t* const head = tail;
            // Every character the scan stops on is 255 or below, so moving by one code unit
            // never splits a surrogate pair.
            for (;;) {
                while ((open_quote != 0 && *tail != 0 && *tail != open_quote) ||
                       !InCharSet(stop, *tail)) {
                    ++tail;
                }
                if (IgnoreQuotes || (*tail != L'"' && *tail != L'\'')) break;
                if (open_quote == *tail) {
                    open_quote = 0;
                } else if (open_quote == 0) {
                    open_quote = *tail;
                }
                ++tail;
            }
            const bool end_of_text = *tail == 0;
            if (head != tail && *head != 0) {
                Strings->Add(Trim(Dequote(std::wstring_view(head, tail - head))));
            } else {
                Strings->Add(std::wstring());
            }
            ++count;
            if (end_of_text) break;
            ++tail;
        }
    } catch (...) {
        // Out of memory or a failing change handler: the items appended so far stay.
    }
    return count;
}

}  // namespace deruz::systools
