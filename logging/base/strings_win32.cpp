// Windows part of the shared file-system and name functions.
#include <windows.h>

#include <string>
#include <vector>

#include "logging/base/strings.h"
#include "logging/base/unique_handle.h"

namespace deruz::logging {

namespace {

std::wstring Wide(std::string_view AText) {
    const std::u16string LUtf16 = SiUtf8ToUtf16(AText);
    return std::wstring(LUtf16.begin(), LUtf16.end());
}

std::string Narrow(const wchar_t* AText, std::size_t ALength) {
    return SiUtf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(AText), ALength));
}

inline HANDLE Handle(std::intptr_t ANative) {
    return reinterpret_cast<HANDLE>(ANative);
}

// A FindFirstFileW search: INVALID_HANDLE_VALUE when there is none, ended with FindClose.
struct TFindTraits {
    using TValue = HANDLE;
    static TValue Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(TValue AValue) noexcept { FindClose(AValue); }
};
using TUniqueFind = TSiUniqueAny<TFindTraits>;

}  // namespace

std::string SiAnsiToUtf8(std::string_view AText) {
    if (AText.empty()) {
        return std::string();
    }
    const int LLength =
        MultiByteToWideChar(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
    if (LLength <= 0) {
        return std::string();
    }
    std::wstring LWide(static_cast<std::size_t>(LLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()), LWide.data(),
                        LLength);
    return Narrow(LWide.data(), LWide.size());
}

bool TSiFileHandle::Read(void* ABuffer, std::size_t ACount, std::size_t& ARead) noexcept {
    ARead = 0;
    const DWORD LCount = ACount > 0x40000000 ? 0x40000000 : static_cast<DWORD>(ACount);
    DWORD LRead = 0;
    if (!ReadFile(Handle(Native()), ABuffer, LCount, &LRead, nullptr)) {
        return false;
    }
    ARead = LRead;
    return true;
}

bool TSiFileHandle::Write(const void* AData, std::size_t ACount) noexcept {
    const char* LData = static_cast<const char*>(AData);
    while (ACount > 0) {
        const DWORD LCount = ACount > 0x40000000 ? 0x40000000 : static_cast<DWORD>(ACount);
        DWORD LWritten = 0;
        if (!WriteFile(Handle(Native()), LData, LCount, &LWritten, nullptr) || LWritten == 0) {
            return false;
        }
        LData += LWritten;
        ACount -= LWritten;
    }
    return true;
}

bool TSiFileHandle::ReadAt(std::int64_t AOffset, void* ABuffer, std::size_t ACount,
                           std::size_t& ARead) noexcept {
    ARead = 0;
    OVERLAPPED LAt{};
    LAt.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(AOffset) & 0xFFFFFFFFu);
    LAt.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(AOffset) >> 32);
    const DWORD LCount = ACount > 0x40000000 ? 0x40000000 : static_cast<DWORD>(ACount);
    DWORD LRead = 0;
    if (!ReadFile(Handle(Native()), ABuffer, LCount, &LRead, &LAt)) {
        return GetLastError() == ERROR_HANDLE_EOF;
    }
    ARead = LRead;
    return true;
}

bool TSiFileHandle::Sync() noexcept {
    return FlushFileBuffers(Handle(Native())) != 0;
}

std::uint32_t SiLastSystemError() noexcept {
    return GetLastError();
}

std::int64_t TSiFileHandle::Size() const noexcept {
    LARGE_INTEGER LSize{};
    if (!GetFileSizeEx(Handle(Native()), &LSize)) {
        return -1;
    }
    return LSize.QuadPart;
}

bool TSiFileHandle::IsRegular() const noexcept {
    if (GetFileType(Handle(Native())) != FILE_TYPE_DISK) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION LInfo{};
    return GetFileInformationByHandle(Handle(Native()), &LInfo) &&
           (LInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Devices (NUL, CON, named pipes) have no attributes or report none of their own; they are
// caught on the open handle by IsRegular. Directories are caught here, before an open that
// would fail with a less telling text.
bool SiIsSpecialFile(const std::string& AFileName) {
    const DWORD LAttributes = GetFileAttributesW(Wide(AFileName).c_str());
    return LAttributes != INVALID_FILE_ATTRIBUTES && (LAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool TSiFileHandle::SeekToEnd() noexcept {
    LARGE_INTEGER LZero{};
    return SetFilePointerEx(Handle(Native()), LZero, nullptr, FILE_END) != 0;
}

TSiFileHandle SiCreateFile(const std::string& AFileName, TSiFileAccess AAccess, TSiFileShare AShare,
                           TSiFileCreation ACreation, std::uint32_t& AError) {
    DWORD LAccess = 0;
    if (AAccess != faWrite) {
        LAccess |= GENERIC_READ;
    }
    if (AAccess != faRead) {
        LAccess |= GENERIC_WRITE;
    }
    DWORD LShare = 0;
    if (AShare & fsRead) {
        LShare |= FILE_SHARE_READ;
    }
    if (AShare & fsWrite) {
        LShare |= FILE_SHARE_WRITE;
    }
    const DWORD LCreation = ACreation == fcCreateAlways
                                ? CREATE_ALWAYS
                                : (ACreation == fcOpenAlways ? OPEN_ALWAYS : OPEN_EXISTING);
    const HANDLE LHandle = CreateFileW(Wide(AFileName).c_str(), LAccess, LShare, nullptr, LCreation,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    // CREATE_ALWAYS and OPEN_ALWAYS leave ERROR_ALREADY_EXISTS behind on success.
    AError = LHandle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return TSiFileHandle(reinterpret_cast<std::intptr_t>(LHandle));
}

bool SiDeleteFile(const std::string& AFileName) {
    return DeleteFileW(Wide(AFileName).c_str()) != 0;
}

bool SiFileOrDirExists(const std::string& AFileName) {
    return GetFileAttributesW(Wide(AFileName).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string SiGetUserName() {
    wchar_t LBuffer[257];
    DWORD LSize = 257;
    if (!GetUserNameW(LBuffer, &LSize) || LSize == 0) {
        return std::string();
    }
    return Narrow(LBuffer, LSize - 1);  // the size includes the terminating null
}

std::string SiGetCurrentDirectory() {
    const DWORD LNeeded = GetCurrentDirectoryW(0, nullptr);
    if (LNeeded == 0) {
        return std::string();
    }
    std::vector<wchar_t> LBuffer(LNeeded);
    const DWORD LLength = GetCurrentDirectoryW(LNeeded, LBuffer.data());
    if (LLength == 0 || LLength >= LNeeded) {
        return std::string();
    }
    return Narrow(LBuffer.data(), LLength);
}

std::string SiSystemMessage(std::uint32_t AError) {
    wchar_t LBuffer[512];
    DWORD LLength = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, AError, 0, LBuffer, 512, nullptr);
    while (LLength > 0 && (LBuffer[LLength - 1] <= 32 || LBuffer[LLength - 1] == L'.')) {
        --LLength;
    }
    return Narrow(LBuffer, LLength);
}

void SiGetFiles(const std::string& APattern, std::vector<std::string>& AList) {
    const std::string LPath = SiExtractFilePath(APattern);
    WIN32_FIND_DATAW LData;
    const TUniqueFind LFind(FindFirstFileW(Wide(APattern).c_str(), &LData));
    if (!LFind) {
        return;
    }
    do {
        if ((LData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            AList.push_back(LPath + Narrow(LData.cFileName, wcslen(LData.cFileName)));
        }
    } while (FindNextFileW(LFind.Get(), &LData));
}

}  // namespace deruz::logging
