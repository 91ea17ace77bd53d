#include <windows.h>

#include <string>

#include "logging/base/strings.h"
#include "tools/silog/file_source.h"

namespace deruz::silog {

namespace {

std::wstring Wide(const std::string& AText) {
    const std::u16string LText = logging::SiUtf8ToUtf16(AText);
    return std::wstring(LText.begin(), LText.end());
}

// The system's text for an error code, without the trailing period and line break.
std::string Reason(DWORD ACode) {
    wchar_t* LBuffer = nullptr;
    const DWORD LN = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&LBuffer), 0, nullptr);
    std::u16string LText;
    if (LN > 0 && LBuffer != nullptr) LText.assign(LBuffer, LBuffer + LN);
    if (LBuffer != nullptr) LocalFree(LBuffer);
    while (!LText.empty() && (LText.back() == u'\n' || LText.back() == u'\r' ||
                              LText.back() == u' ' || LText.back() == u'.')) {
        LText.pop_back();
    }
    if (LText.empty()) return "system error " + std::to_string(ACode);
    return logging::SiUtf16ToUtf8(LText);
}

// Shared so that the program that writes the log may go on writing, rename and delete it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

struct TFileSource::TImpl {
    HANDLE File = INVALID_HANDLE_VALUE;
};

TFileSource::TFileSource() : FImpl(std::make_unique<TImpl>()) {}

TFileSource::~TFileSource() {
    if (FImpl->File != INVALID_HANDLE_VALUE) CloseHandle(FImpl->File);
}

bool TFileSource::Open(const std::string& APath, std::string& AError) {
    const std::wstring LPath = Wide(APath);
    const DWORD LAttributes = GetFileAttributesW(LPath.c_str());
    if (LAttributes != INVALID_FILE_ATTRIBUTES && (LAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        AError = "Is a directory";
        return false;
    }
    const HANDLE LFile = CreateFileW(LPath.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (LFile == INVALID_HANDLE_VALUE) {
        AError = Reason(GetLastError());
        return false;
    }
    if (FImpl->File != INVALID_HANDLE_VALUE) CloseHandle(FImpl->File);
    FImpl->File = LFile;
    return true;
}

std::ptrdiff_t TFileSource::Read(void* ABuffer, std::size_t ACount, std::string& AError) {
    DWORD LRead = 0;
    const DWORD LCount = ACount > 0x40000000u ? 0x40000000u : static_cast<DWORD>(ACount);
    if (!ReadFile(FImpl->File, ABuffer, LCount, &LRead, nullptr)) {
        const DWORD LCode = GetLastError();
        if (LCode == ERROR_HANDLE_EOF || LCode == ERROR_BROKEN_PIPE) return 0;
        AError = Reason(LCode);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(LRead);
}

std::optional<std::uint64_t> TFileSource::Size() const {
    if (GetFileType(FImpl->File) != FILE_TYPE_DISK) return std::nullopt;
    LARGE_INTEGER LSize{};
    if (!GetFileSizeEx(FImpl->File, &LSize)) return std::nullopt;
    return static_cast<std::uint64_t>(LSize.QuadPart);
}

namespace {

std::optional<TFileIdentity> IdentityOfHandle(HANDLE AFile) {
    BY_HANDLE_FILE_INFORMATION LInfo{};
    if (!GetFileInformationByHandle(AFile, &LInfo)) return std::nullopt;
    return TFileIdentity{
        LInfo.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(LInfo.nFileIndexHigh) << 32) | LInfo.nFileIndexLow};
}

}  // namespace

TFileIdentity TFileSource::Identity() const {
    return IdentityOfHandle(FImpl->File).value_or(TFileIdentity{});
}

std::optional<TFileIdentity> TFileSource::IdentityOf(const std::string& APath) {
    const HANDLE LFile = CreateFileW(Wide(APath).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (LFile == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto LIdentity = IdentityOfHandle(LFile);
    CloseHandle(LFile);
    return LIdentity;
}

}  // namespace deruz::silog
