// Reading a real file's version resource. This test program carries a version resource
// (fixtures/version_fixture.rc) with the file version "3, 0, 1, 582".
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "systools/version.h"

namespace deruz::systools {
namespace {

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

TEST(GetFileVersionFromFile, ReadsTheVersionOfAnExecutable) {
    const std::wstring own = OwnPath();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(GetFileVersionFromFile(own), L"3.0.1.582");
    EXPECT_EQ(CompareFileVersionStrs(GetFileVersionFromFile(own), L"3.0.1.582"), 0);
}

TEST(GetFileVersionFromFile, GivesEmptyTextWithoutAVersionResource) {
    const std::filesystem::path folder = std::filesystem::path(OwnPath()).parent_path();
    const std::filesystem::path plain = folder / L"systools_no_version.txt";
    {
        std::ofstream out(plain);
        out << "no version resource here\n";
    }
    EXPECT_EQ(GetFileVersionFromFile(plain.wstring()), L"");
    EXPECT_EQ(GetFileVersionFromFile(folder.wstring()), L"");
    EXPECT_EQ(GetFileVersionFromFile((folder / L"missing.exe").wstring()), L"");
    EXPECT_EQ(GetFileVersionFromFile(L""), L"");
    std::filesystem::remove(plain);
}

}  // namespace
}  // namespace deruz::systools
