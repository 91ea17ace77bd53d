// TSiConfiguration: line parsing of configuration files.
#include "logging/config/configuration.h"

#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// Far above any real configuration; a name that points at a device or a huge file must not
// make the logging application read without end.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

}  // namespace

void TSiConfiguration::LoadFromFile(const std::string& AFileName) {
    TSiStringList LLines;
    LLines.LoadFromBytes(SiReadRegularFile(AFileName, kMaxFileSize));
    Parse(LLines);
}

void TSiConfiguration::LoadFromBytes(std::string_view ABytes) {
    TSiStringList LLines;
    LLines.LoadFromBytes(ABytes);
    Parse(LLines);
}

void TSiConfiguration::LoadFromText(std::string_view AText) {
    TSiStringList LLines;
    LLines.SetText(AText);
    Parse(LLines);
}

void TSiConfiguration::Clear() {
    FItems.Clear();
    FKeys.Clear();
}

void TSiConfiguration::Parse(const TSiStringList& ALines) {
    Clear();
    for (const std::string& LRaw : ALines.Items()) {
        const std::string_view LLine = SiTrim(LRaw);
        if (LLine.empty() || LLine.front() == ';') {
            continue;
        }
        const std::size_t LEquals = LLine.find('=');
        if (LEquals == std::string_view::npos) {
            continue;
        }
        const std::string_view LKey = SiTrim(LLine.substr(0, LEquals));
        if (!FItems.Contains(LKey)) {
            FKeys.Add(std::string(LKey));
        }
        FItems.Put(LKey, SiTrim(LLine.substr(LEquals + 1)));
    }
}

}  // namespace deruz::logging
