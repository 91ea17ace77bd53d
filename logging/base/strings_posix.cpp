// POSIX part of the shared file-system and name functions.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "logging/base/strings.h"
#include "logging/base/unique_handle.h"

namespace deruz::logging {

namespace {

// Windows-1252 in the range 0x80..0x9F; every other byte is its own code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline int Descriptor(std::intptr_t ANative) {
    return static_cast<int>(ANative);
}

// A directory listing from opendir; null when there is none.
struct TDirTraits {
    using TValue = DIR*;
    static TValue Invalid() noexcept { return nullptr; }
    static void Close(TValue AValue) noexcept { ::closedir(AValue); }
};
using TUniqueDir = TSiUniqueAny<TDirTraits>;

}  // namespace

std::string SiAnsiToUtf8(std::string_view AText) {
    std::u16string LWide;
    LWide.reserve(AText.size());
    for (const char LChar : AText) {
        const auto LByte = static_cast<unsigned char>(LChar);
        LWide.push_back((LByte >= 0x80 && LByte <= 0x9F) ? kCp1252High[LByte - 0x80] : LByte);
    }
    return SiUtf16ToUtf8(LWide);
}

bool TSiFileHandle::Read(void* ABuffer, std::size_t ACount, std::size_t& ARead) noexcept {
    ARead = 0;
    for (;;) {
        const ssize_t LResult = ::read(Descriptor(Native()), ABuffer, ACount);
        if (LResult >= 0) {
            ARead = static_cast<std::size_t>(LResult);
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool TSiFileHandle::Write(const void* AData, std::size_t ACount) noexcept {
    const char* LData = static_cast<const char*>(AData);
    while (ACount > 0) {
        const ssize_t LResult = ::write(Descriptor(Native()), LData, ACount);
        if (LResult < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        LData += LResult;
        ACount -= static_cast<std::size_t>(LResult);
    }
    return true;
}

std::int64_t TSiFileHandle::Size() const noexcept {
    struct stat LStat {};
    if (::fstat(Descriptor(Native()), &LStat) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(LStat.st_size);
}

bool TSiFileHandle::IsRegular() const noexcept {
    struct stat LStat {};
    return ::fstat(Descriptor(Native()), &LStat) == 0 && S_ISREG(LStat.st_mode);
}

bool SiIsSpecialFile(const std::string& AFileName) {
    struct stat LStat {};
    return ::stat(AFileName.c_str(), &LStat) == 0 && !S_ISREG(LStat.st_mode);
}

bool TSiFileHandle::ReadAt(std::int64_t AOffset, void* ABuffer, std::size_t ACount,
                           std::size_t& ARead) noexcept {
    ARead = 0;
    for (;;) {
        const ssize_t LRead =
            ::pread(Descriptor(Native()), ABuffer, ACount, static_cast<off_t>(AOffset));
        if (LRead >= 0) {
            ARead = static_cast<std::size_t>(LRead);
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool TSiFileHandle::Sync() noexcept {
    return ::fdatasync(Descriptor(Native())) == 0;
}

std::uint32_t SiLastSystemError() noexcept {
    return static_cast<std::uint32_t>(errno);
}

bool TSiFileHandle::SeekToEnd() noexcept {
    return ::lseek(Descriptor(Native()), 0, SEEK_END) >= 0;
}

TSiFileHandle SiCreateFile(const std::string& AFileName, TSiFileAccess AAccess, TSiFileShare AShare,
                           TSiFileCreation ACreation, std::uint32_t& AError) {
    const bool LWrites = AAccess != faRead;
    int LFlags = O_CLOEXEC;
    LFlags |= AAccess == faRead ? O_RDONLY : (AAccess == faWrite ? O_WRONLY : O_RDWR);
    if (ACreation != fcOpenExisting) {
        LFlags |= O_CREAT;
    }
    // Truncating waits until the lock below is held, so that a refused opener cannot destroy
    // the file of the writer that holds it.
    TSiFileHandle LFile(::open(AFileName.c_str(), LFlags, 0666));
    if (!LFile.IsOpen()) {
        AError = static_cast<std::uint32_t>(errno);
        return LFile;
    }
    const int LFd = Descriptor(LFile.Native());
    // Sharing modes become advisory locks: whoever denies writers locks exclusively when it
    // writes itself and shared when it only reads; a writer that allows other writers still
    // locks shared, so that it conflicts with one that denies them.
    int LLock = 0;
    if ((AShare & fsWrite) == 0) {
        LLock = LWrites ? LOCK_EX : LOCK_SH;
    } else if (LWrites) {
        LLock = LOCK_SH;
    }
    if (LLock != 0 && ::flock(LFd, LLock | LOCK_NB) != 0) {
        AError = static_cast<std::uint32_t>(errno);
        LFile.Close();
        return LFile;
    }
    if (ACreation == fcCreateAlways && ::ftruncate(LFd, 0) != 0) {
        AError = static_cast<std::uint32_t>(errno);
        LFile.Close();
        return LFile;
    }
    AError = 0;
    return LFile;
}

bool SiDeleteFile(const std::string& AFileName) {
    return ::unlink(AFileName.c_str()) == 0;
}

bool SiFileOrDirExists(const std::string& AFileName) {
    struct stat LStat {};
    return ::stat(AFileName.c_str(), &LStat) == 0;
}

std::string SiGetUserName() {
    std::vector<char> LBuffer(16384);
    struct passwd LEntry {};
    struct passwd* LFound = nullptr;
    if (::getpwuid_r(::geteuid(), &LEntry, LBuffer.data(), LBuffer.size(), &LFound) == 0 &&
        LFound != nullptr && LFound->pw_name != nullptr) {
        return std::string(LFound->pw_name);
    }
    // Containers often run under a user id without a password entry.
    for (const char* LVariable : {"USER", "LOGNAME"}) {
        if (const char* LValue = std::getenv(LVariable); LValue != nullptr && *LValue != '\0') {
            return std::string(LValue);
        }
    }
    return std::string();
}

std::string SiGetCurrentDirectory() {
    std::vector<char> LBuffer(4096);
    while (::getcwd(LBuffer.data(), LBuffer.size()) == nullptr) {
        if (errno != ERANGE || LBuffer.size() > (1u << 20)) {
            return std::string();
        }
        LBuffer.resize(LBuffer.size() * 2);
    }
    return std::string(LBuffer.data());
}

std::string SiSystemMessage(std::uint32_t AError) {
    std::string LText = std::generic_category().message(static_cast<int>(AError));
    while (!LText.empty() &&
           (static_cast<unsigned char>(LText.back()) <= 32 || LText.back() == '.')) {
        LText.pop_back();
    }
    return LText;
}

void SiGetFiles(const std::string& APattern, std::vector<std::string>& AList) {
    const std::string LPath = SiExtractFilePath(APattern);
    const std::string LNamePattern = APattern.substr(LPath.size());
    const TUniqueDir LDir(::opendir(LPath.empty() ? "." : LPath.c_str()));
    if (!LDir) {
        return;
    }
    while (const dirent* LEntry = ::readdir(LDir.Get())) {
        const std::string_view LName(LEntry->d_name);
        if (LName == "." || LName == ".." || !SiMatchesWildcard(LNamePattern, LName)) {
            continue;
        }
        struct stat LStat {};
        if (::fstatat(::dirfd(LDir.Get()), LEntry->d_name, &LStat, 0) != 0 ||
            S_ISDIR(LStat.st_mode)) {
            continue;
        }
        AList.push_back(LPath + std::string(LName));
    }
}

}  // namespace deruz::logging
