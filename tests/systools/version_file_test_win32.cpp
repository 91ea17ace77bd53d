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
    wchar_t LPath[MAX_PATH] = {};
    const DWORD LLength = GetModuleFileNameW(nullptr, LPath, MAX_PATH);
    return std::wstring(LPath, LLength);
}

TEST(GetFileVersionFromFile, ReadsTheVersionOfAnExecutable) {
    const std::wstring LOwn = OwnPath();
    ASSERT_FALSE(LOwn.empty());
    EXPECT_EQ(GetFileVersionFromFile(LOwn), L"3.0.1.582");
    EXPECT_EQ(CompareFileVersionStrs(GetFileVersionFromFile(LOwn), L"3.0.1.582"), 0);
}

TEST(GetFileVersionFromFile, GivesEmptyTextWithoutAVersionResource) {
    const std::filesystem::path LFolder = std::filesystem::path(OwnPath()).parent_path();
    const std::filesystem::path LPlain = LFolder / L"systools_no_version.txt";
    {
        std::ofstream LOut(LPlain);
        LOut << "no version resource here\n";
    }
    EXPECT_EQ(GetFileVersionFromFile(LPlain.wstring()), L"");
    EXPECT_EQ(GetFileVersionFromFile(LFolder.wstring()), L"");
    EXPECT_EQ(GetFileVersionFromFile((LFolder / L"missing.exe").wstring()), L"");
    EXPECT_EQ(GetFileVersionFromFile(L""), L"");
    std::filesystem::remove(LPlain);
}

}  // namespace
}  // namespace deruz::systools
