// Exceptions and system errors of a session: the texts that describe them and how they are
// sent (a plain error entry, or an error text entry with the stack trace as data).
#include <string>

#include "logging/base/demangle.h"
#include "logging/base/strings.h"
#include "logging/core/session.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

namespace {

// The longest description of a handled exception, in UTF-16 code units.
constexpr std::size_t kMaxDescription = 2048;

// One line: every CR LF, and any CR or LF left on its own, becomes a blank.
std::string OneLine(std::string_view AText) {
    std::string LText = SiStringReplace(AText, "\r\n", " ");
    for (char& LChar : LText) {
        if (LChar == '\r' || LChar == '\n') LChar = ' ';
    }
    return LText;
}

}  // namespace

void TSiSession::SendExceptionText(std::string_view ATitle, std::string AText,
                                   const ISiStackTrace* AStackTrace) {
    std::string LTitle = std::move(AText);
    if (!SiTrim(ATitle).empty()) LTitle = std::string(ATitle).append(": ").append(LTitle);
    const std::string LStackTrace = AStackTrace != nullptr ? AStackTrace->StackTrace() : "";
    if (!LStackTrace.empty()) {
        LogCustomText(DefaultLevel(), LTitle, LTitle + "\r\n\r\n" + LStackTrace, ltError, viData);
    } else {
        LogError(LTitle);
    }
}

void TSiSession::SendException(const std::exception* AException, std::string_view ATitle) noexcept {
    if (AException == nullptr) {
        ReportInternalError("LogException", "AException argument is not assigned");
        return;
    }
    GuardToCore([&] {
        SendExceptionText(
            ATitle,
            "Exception " + SiClassName(typeid(*AException)) + ": " + OneLine(AException->what()),
            dynamic_cast<const ISiStackTrace*>(AException));
    });
}

// The description of the exception being handled: "<class>: <message>" for a standard
// exception, the class name alone for any other thrown value.
void TSiSession::SendCurrentException(std::string_view ATitle) noexcept {
    const std::exception_ptr LCurrent = std::current_exception();
    if (!LCurrent) {
        ReportInternalError("LogException", "There is no exception handled currently");
        return;
    }
    GuardToCore([&] {
        std::string LDescription;
        const ISiStackTrace* LStackTrace = nullptr;
        try {
            std::rethrow_exception(LCurrent);
        } catch (const std::exception& LException) {
            LDescription = SiClassName(typeid(LException)) + ": " + LException.what();
            LStackTrace = dynamic_cast<const ISiStackTrace*>(&LException);
        } catch (...) {
            const std::type_info* LType = SiCurrentExceptionType();
            LDescription = LType != nullptr ? SiClassName(*LType) : "unknown exception";
        }
        // The exception object stays alive through LCurrent while it is described.
        SendExceptionText(ATitle, OneLine(SiTrim(SiTruncateUtf16(LDescription, kMaxDescription))),
                          LStackTrace);
    });
}

void TSiSession::ExceptionHandler(const void* ASender, const std::exception& AException) {
    static_cast<void>(ASender);
    if (!IsOn(lvError)) return;
    EnterMethod(lvError, "ExceptionHandler");
    LogException(&AException, std::string_view());
    LeaveMethod(lvError, "ExceptionHandler");
}

// Out of line, where the system's last error is read first thing.
void TSiSession::LogLastError(std::string_view ATitle, bool AIgnoreSuccess) {
    LogWin32Error(ATitle, SiGetLastError(), AIgnoreSuccess);
}

void TSiSession::SendSystemError(std::string_view ATitle, std::uint32_t AErrorCode) noexcept {
    GuardToCore([&] {
        LogError(SiFormat("%s: %s (Error Code: %d, $%.08x)",
                          {ATitle, SiSystemMessage(AErrorCode), AErrorCode, AErrorCode}));
    });
}

}  // namespace deruz::logging
