#include <windows.h>

#include <string>

#include "logging/base/strings.h"
#include "tools/silog/file_source.h"

namespace deruz::silog {

namespace {

std::wstring Wide(const std::string& AText) {
    const std::u16string text = logging::SiUtf8ToUtf16(AText);
    return std::wstring(text.begin(), text.end());
}

// The system's text for an error code, without the trailing period and line break.
std::string Reason(DWORD ACode) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (n > 0 && buffer != nullptr) text.assign(buffer, buffer + n);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' ||
                             text.back() == u'.')) {
        text.pop_back();
    }
    if (text.empty()) return "system error " + std::to_string(ACode);
    return logging::SiUtf16ToUtf8(text);
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
    const std::wstring path = Wide(APath);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        AError = "Is a directory";
        return false;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        AError = Reason(GetLastError());
        return false;
    }
    if (FImpl->File != INVALID_HANDLE_VALUE) CloseHandle(FImpl->File);
    FImpl->File = file;
    return true;
}

std::ptrdiff_t TFileSource::Read(void* ABuffer, std::size_t ACount, std::string& AError) {
    DWORD read = 0;
    const DWORD count = ACount > 0x40000000u ? 0x40000000u : static_cast<DWORD>(ACount);
    if (!ReadFile(FImpl->File, ABuffer, count, &read, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return 0;
        AError = Reason(code);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(read);
}

std::optional<std::uint64_t> TFileSource::Size() const {
    if (GetFileType(FImpl->File) != FILE_TYPE_DISK) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(FImpl->File, &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

namespace {

std::optional<TFileIdentity> IdentityOfHandle(HANDLE AFile) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(AFile, &info)) return std::nullopt;
    return TFileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

TFileIdentity TFileSource::Identity() const {
    return IdentityOfHandle(FImpl->File).value_or(TFileIdentity{});
}

std::optional<TFileIdentity> TFileSource::IdentityOf(const std::string& APath) {
    const HANDLE file = CreateFileW(Wide(APath).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto identity = IdentityOfHandle(file);
    CloseHandle(file);
    return identity;
}

}  // namespace deruz::silog
