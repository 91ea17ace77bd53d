// A fresh directory under the system's temporary folder for one test, removed with everything
// in it when the object goes. Paths are handed to the library as UTF-8.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace deruz::logging::testing {

class TTempDir {
  public:
    explicit TTempDir(std::string_view APrefix = "silog_test_") {
        static int LCounter = 0;
        FPath = std::filesystem::temp_directory_path() /
                (std::string(APrefix) +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                 std::to_string(++LCounter));
        std::filesystem::create_directories(FPath);
    }
    ~TTempDir() {
        std::error_code LIgnored;
        std::filesystem::remove_all(FPath, LIgnored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    // The directory with a final "/", which both platforms accept.
    std::string Dir() const { return Utf8(FPath.generic_u8string()) + "/"; }
    // The directory with the system's own separator at the end.
    std::string NativeDir() const { return Utf8(FPath) + Separator(); }
    // The path of an entry of the directory, with the system's separator.
    std::string File(const std::string& AName) const { return Utf8(FPath / AName); }

    void Write(const std::string& AName, std::string_view ABytes) const {
        std::ofstream LOut(FPath / AName, std::ios::binary);
        LOut.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    }
    void MakeDir(const std::string& AName) const {
        std::filesystem::create_directories(FPath / AName);
    }
    // The names of the entries, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> LNames;
        for (const auto& LEntry : std::filesystem::directory_iterator(FPath)) {
            LNames.push_back(Utf8(LEntry.path().filename()));
        }
        std::sort(LNames.begin(), LNames.end());
        return LNames;
    }

    static std::string Utf8(const std::filesystem::path& APath) { return Utf8(APath.u8string()); }
    static std::string Utf8(const std::u8string& AText) { return {AText.begin(), AText.end()}; }
    static std::string Separator() { return Utf8(std::filesystem::path("a") / "b").substr(1, 1); }

  private:
    std::filesystem::path FPath;
};

}  // namespace deruz::logging::testing
