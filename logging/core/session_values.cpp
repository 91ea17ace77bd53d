// Values, watches, counters and checkpoints of a session: how a value becomes its text, and
// the named counters kept under the session lock.
#include <string>
#include <type_traits>

#include "logging/base/hash.h"
#include "logging/base/strings.h"
#include "logging/core/session.h"

namespace deruz::logging {

namespace {

// Wide text to UTF-8, for both widths of wchar_t: UTF-16 units pass as they are (an unpaired
// surrogate becomes U+FFFD), code points above U+FFFF become surrogate pairs first, and values
// beyond Unicode become U+FFFD.
std::string WideToUtf8(std::wstring_view AText) {
    std::u16string LUtf16;
    LUtf16.reserve(AText.size());
    for (const wchar_t LChar : AText) {
        const auto LCode =
            static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(LChar));
        if (LCode <= 0xFFFF) {
            LUtf16.push_back(static_cast<char16_t>(LCode));
        } else if (LCode <= 0x10FFFF) {
            LUtf16.push_back(static_cast<char16_t>(0xD800 + ((LCode - 0x10000) >> 10)));
            LUtf16.push_back(static_cast<char16_t>(0xDC00 + ((LCode - 0x10000) & 0x3FF)));
        } else {
            LUtf16.push_back(u'\uFFFD');
        }
    }
    return SiUtf16ToUtf8(LUtf16);
}

bool IsSigned(const TSiFormatArg& AValue) noexcept {
    return AValue.Kind() == TSiFormatArg::akInt32 || AValue.Kind() == TSiFormatArg::akInt64;
}

}  // namespace

std::string TSiSession::ValueText(TSiFormatArg AValue, TSiValueForm AForm) {
    int LHexDigits = 0;
    switch (AForm) {
        case vfString:
        case vfChar:
            return std::string(AValue.AsString());
        case vfBoolean:
            return AValue.AsUInt64() != 0 ? "True" : "False";
        case vfInteger:
            return SiFormat(IsSigned(AValue) ? "%d" : "%u", {AValue});
        case vfHex2:
            LHexDigits = 2;
            break;
        case vfHex4:
            LHexDigits = 4;
            break;
        case vfHex8:
            LHexDigits = 8;
            break;
        case vfHex16:
            LHexDigits = 16;
            break;
        case vfFloat:
            return SiFloatToStr(AValue.AsDouble(), SiThreadFormatSettings());
        case vfDateTime:
            return SiDateTimeToStr(AValue.AsDouble(), SiThreadFormatSettings());
        case vfPointer:
            // The whole address: eight digits at least, more where the address needs them.
            return SiFormat(
                "$%.8x",
                {static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(AValue.AsPointer()))});
    }
    // The hexadecimal digits show the two's complement of a negative value at the width of
    // its argument (32 bits for the narrow types, 64 for 64-bit values).
    return SiFormat(IsSigned(AValue) ? "%d ($%.*x)" : "%u ($%.*x)", {AValue, LHexDigits, AValue});
}

void TSiSession::SendValue(TSiLevel ALevel, std::string_view AName, TSiFormatArg AValue,
                           TSiValueForm AForm) noexcept {
    GuardToCore([&] {
        std::string LTitle(AName);
        if (AForm == vfString) {
            LTitle.append(" = '").append(AValue.AsString()).append("'");
        } else {
            LTitle.append(" = ").append(ValueText(AValue, AForm));
        }
        SendLogEntry(ALevel, LTitle, ltVariableValue, viTitle);
    });
}

void TSiSession::SendWatchValue(TSiLevel ALevel, std::string_view AName, TSiFormatArg AValue,
                                TSiValueForm AForm) noexcept {
    TSiWatchType LType = wtInteger;
    switch (AForm) {
        case vfString:
            LType = wtString;
            break;
        case vfBoolean:
            LType = wtBoolean;
            break;
        case vfFloat:
            LType = wtFloat;
            break;
        case vfDateTime:
            LType = wtTimestamp;
            break;
        case vfPointer:
            LType = wtAddress;
            break;
        default:
            break;
    }
    GuardToCore([&] { SendWatch(ALevel, AName, ValueText(AValue, AForm), LType); });
}

void TSiSession::SendWideValue(TSiLevel ALevel, std::string_view AName, std::wstring_view AValue,
                               bool AWatch) noexcept {
    GuardToCore([&] {
        const std::string LValue = WideToUtf8(AValue);
        if (AWatch) {
            SendWatch(ALevel, AName, LValue, wtString);
        } else {
            SendValue(ALevel, AName, LValue, vfString);
        }
    });
}

// --- Counters and checkpoints ----------------------------------------------------------------

void TSiSession::ChangeCounter(TSiLevel ALevel, std::string_view AName, bool AIncrement) noexcept {
    GuardToCore([&] {
        std::int32_t LValue = 0;
        {
            std::lock_guard LLock(FCriticalSection);
            LValue = AIncrement ? FCounter->Inc(AName) : FCounter->Dec(AName);
        }
        SendWatch(ALevel, AName, std::to_string(LValue), wtInteger);
    });
}

void TSiSession::ResetCounter(std::string_view AName) {
    std::lock_guard LLock(FCriticalSection);
    FCounter->Remove(AName);
}

void TSiSession::SendCheckpoint(TSiLevel ALevel) noexcept {
    // The counter wraps like the named ones rather than overflowing.
    const auto LNumber =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(FCheckpointCounter.fetch_add(1)) + 1u);
    GuardToCore([&] {
        SendLogEntry(ALevel, "Checkpoint #" + std::to_string(LNumber), ltCheckpoint, viTitle);
    });
}

void TSiSession::SendNamedCheckpoint(TSiLevel ALevel, std::string_view AName,
                                     std::string_view ADetails) noexcept {
    GuardToCore([&] {
        std::int32_t LNumber = 0;
        {
            std::lock_guard LLock(FCriticalSection);
            LNumber = FCheckpoints->Inc(AName);
        }
        std::string LTitle(AName);
        LTitle.append(" #").append(std::to_string(LNumber));
        if (!ADetails.empty()) LTitle.append(" (").append(ADetails).append(")");
        SendLogEntry(ALevel, LTitle, ltCheckpoint, viTitle);
    });
}

void TSiSession::ResetCheckpoint(std::string_view AName) {
    std::lock_guard LLock(FCriticalSection);
    FCheckpoints->Remove(AName);
}

}  // namespace deruz::logging
