// Fetches a file's version resource through the version API; the tree walk is portable.
#include <windows.h>

#include <vector>

#include "systools/version.h"
#include "systools/version_resource.h"

namespace deruz::systools {

std::wstring GetFileVersionFromFile(const std::wstring& Fn) {
    try {
        const DWORD attributes = GetFileAttributesW(Fn.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return {};
        }
        DWORD unused = 0;
        const DWORD size = GetFileVersionInfoSizeW(Fn.c_str(), &unused);
        if (size == 0) return {};
        std::vector<std::uint8_t> data(size);
        if (!GetFileVersionInfoW(Fn.c_str(), 0, size, data.data())) return {};
        return FileVersionFromResource(data);
    } catch (...) {
        return {};
    }
}

}  // namespace deruz::systools
