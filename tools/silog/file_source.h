// A file opened for reading by `silog dump`, with the system's own words for every failure.
// Opened so that the program writing the log may go on writing, renaming or deleting it.
//
// Implemented per platform (file_source_posix.cpp, file_source_win32.cpp). Not thread-safe;
// the source owns its file and closes it on destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace deruz::silog {

// Which file a path or an open file is: equal identities are the same file, also after a
// rename.
struct TFileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Index = 0;
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

class TFileSource {
  public:
    TFileSource();
    ~TFileSource();
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    // Opens APath (UTF-8). On failure returns false with the system's reason in AError; a
    // directory is refused with the reason "Is a directory".
    bool Open(const std::string& APath, std::string& AError);
    // Reads up to ACount bytes: the count read, 0 at the current end of the file (a later call
    // reads what was appended meanwhile), or -1 with the system's reason in AError.
    std::ptrdiff_t Read(void* ABuffer, std::size_t ACount, std::string& AError);
    // The current size of a regular file; nothing for devices and pipes.
    std::optional<std::uint64_t> Size() const;
    TFileIdentity Identity() const;
    // The identity of the file that APath names now, or nothing when there is none.
    static std::optional<TFileIdentity> IdentityOf(const std::string& APath);

  private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace deruz::silog
