#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/silog/file_source.h"

namespace deruz::silog {

struct TFileSource::TImpl {
    int Fd = -1;
};

TFileSource::TFileSource() : FImpl(std::make_unique<TImpl>()) {}

TFileSource::~TFileSource() {
    if (FImpl->Fd >= 0) ::close(FImpl->Fd);
}

bool TFileSource::Open(const std::string& APath, std::string& AError) {
    const int LFd = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
    if (LFd < 0) {
        AError = std::strerror(errno);
        return false;
    }
    struct stat LSt {};
    if (::fstat(LFd, &LSt) != 0 || S_ISDIR(LSt.st_mode)) {
        AError = std::strerror(S_ISDIR(LSt.st_mode) ? EISDIR : errno);
        ::close(LFd);
        return false;
    }
    if (FImpl->Fd >= 0) ::close(FImpl->Fd);
    FImpl->Fd = LFd;
    return true;
}

std::ptrdiff_t TFileSource::Read(void* ABuffer, std::size_t ACount, std::string& AError) {
    for (;;) {
        const ssize_t LN = ::read(FImpl->Fd, ABuffer, ACount);
        if (LN >= 0) return LN;
        if (errno == EINTR) continue;
        AError = std::strerror(errno);
        return -1;
    }
}

std::optional<std::uint64_t> TFileSource::Size() const {
    struct stat LSt {};
    if (::fstat(FImpl->Fd, &LSt) != 0 || !S_ISREG(LSt.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(LSt.st_size);
}

TFileIdentity TFileSource::Identity() const {
    struct stat LSt {};
    if (::fstat(FImpl->Fd, &LSt) != 0) return {};
    return {static_cast<std::uint64_t>(LSt.st_dev), static_cast<std::uint64_t>(LSt.st_ino)};
}

std::optional<TFileIdentity> TFileSource::IdentityOf(const std::string& APath) {
    struct stat LSt {};
    if (::stat(APath.c_str(), &LSt) != 0) return std::nullopt;
    return TFileIdentity{static_cast<std::uint64_t>(LSt.st_dev),
                         static_cast<std::uint64_t>(LSt.st_ino)};
}

}  // namespace deruz::silog
