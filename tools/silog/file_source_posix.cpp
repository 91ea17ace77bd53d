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
    const int fd = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        AError = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        AError = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return false;
    }
    if (FImpl->Fd >= 0) ::close(FImpl->Fd);
    FImpl->Fd = fd;
    return true;
}

std::ptrdiff_t TFileSource::Read(void* ABuffer, std::size_t ACount, std::string& AError) {
    for (;;) {
        const ssize_t n = ::read(FImpl->Fd, ABuffer, ACount);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        AError = std::strerror(errno);
        return -1;
    }
}

std::optional<std::uint64_t> TFileSource::Size() const {
    struct stat st {};
    if (::fstat(FImpl->Fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

TFileIdentity TFileSource::Identity() const {
    struct stat st {};
    if (::fstat(FImpl->Fd, &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<TFileIdentity> TFileSource::IdentityOf(const std::string& APath) {
    struct stat st {};
    if (::stat(APath.c_str(), &st) != 0) return std::nullopt;
    return TFileIdentity{static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace deruz::silog
