// Users of processes, read from their access tokens.
#include "logging/system/user_identity_win32.h"

#include <sddl.h>

#include "logging/base/unique_handle_win32.h"

namespace deruz::logging {

namespace {

TSiUserSid TokenUserSid(HANDLE AToken) {
    DWORD LSize = 0;
    GetTokenInformation(AToken, TokenUser, nullptr, 0, &LSize);
    if (LSize == 0) {
        return {};
    }
    std::vector<std::uint8_t> LBuffer(LSize);
    if (!GetTokenInformation(AToken, TokenUser, LBuffer.data(), LSize, &LSize)) {
        return {};
    }
    const PSID LSid = reinterpret_cast<const TOKEN_USER*>(LBuffer.data())->User.Sid;
    if (!IsValidSid(LSid)) {
        return {};
    }
    const auto* LBytes = static_cast<const std::uint8_t*>(LSid);
    return TSiUserSid(LBytes, LBytes + GetLengthSid(LSid));
}

TSiUserSid ProcessTokenUserSid(HANDLE AProcess) {
    HANDLE LToken = nullptr;
    if (!OpenProcessToken(AProcess, TOKEN_QUERY, &LToken)) {
        return {};
    }
    const TSiUniqueHandle LOwned(LToken);
    return TokenUserSid(LToken);
}

}  // namespace

TSiUserSid SiCurrentUserSid() {
    return ProcessTokenUserSid(GetCurrentProcess());
}

TSiUserSid SiProcessUserSid(DWORD AProcessId) {
    const TSiUniqueHandle LProcess(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, AProcessId));
    if (!LProcess) {
        return {};
    }
    return ProcessTokenUserSid(LProcess.Get());
}

bool SiIsLocalSystemSid(const TSiUserSid& ASid) {
    return !ASid.empty() &&
           IsWellKnownSid(const_cast<std::uint8_t*>(ASid.data()), WinLocalSystemSid) != FALSE;
}

std::wstring SiSidText(const TSiUserSid& ASid) {
    if (ASid.empty() || !IsValidSid(const_cast<std::uint8_t*>(ASid.data()))) {
        return {};
    }
    LPWSTR LText = nullptr;
    if (!ConvertSidToStringSidW(const_cast<std::uint8_t*>(ASid.data()), &LText)) {
        return {};
    }
    std::wstring LResult(LText);
    LocalFree(LText);
    return LResult;
}

}  // namespace deruz::logging
