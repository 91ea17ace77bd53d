// Fetches a file's version resource through the version API; the tree walk is portable.
#include <windows.h>

#include <vector>

#include "systools/version.h"
#include "systools/version_resource.h"

namespace deruz::systools {

std::wstring GetFileVersionFromFile(const std::wstring& AFn) {
    try {
        const DWORD LAttributes = GetFileAttributesW(AFn.c_str());
        if (LAttributes == INVALID_FILE_ATTRIBUTES || (LAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return {};
        }
        DWORD LUnused = 0;
        const DWORD LSize = GetFileVersionInfoSizeW(AFn.c_str(), &LUnused);
        if (LSize == 0) return {};
        std::vector<std::uint8_t> LData(LSize);
        if (!GetFileVersionInfoW(AFn.c_str(), 0, LSize, LData.data())) return {};
        return FileVersionFromResource(LData);
    } catch (...) {
        return {};
    }
}

}  // namespace deruz::systools
