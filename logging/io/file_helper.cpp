// Naming, finding and deleting rotated log files.
#include "logging/io/file_helper.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "logging/base/errors.h"
#include "logging/base/string_list.h"
#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// Length of "yyyy-mm-dd-hh-nn-ss".
constexpr std::size_t kStampLength = 19;

// The parts of a base name D/N.E.
struct TBaseParts {
    std::string Directory;  // with its final delimiter, or empty
    std::string Name;
    std::string Extension;  // with its dot, or empty
};

TBaseParts SplitBaseName(const std::string& ABaseName) {
    TBaseParts LParts;
    LParts.Directory = SiExtractFilePath(ABaseName);
    const std::string LFileName = SiExtractFileName(ABaseName);
    LParts.Extension = SiExtractFileExt(LFileName);
    LParts.Name = LFileName.substr(0, LFileName.size() - LParts.Extension.size());
    return LParts;
}

void AppendTwoDigits(std::string& AText, int AValue) {
    AText.push_back(static_cast<char>('0' + AValue / 10 % 10));
    AText.push_back(static_cast<char>('0' + AValue % 10));
}

bool IsLeapYear(std::int64_t AYear) {
    return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0;
}

int DaysInMonth(std::int64_t AYear, std::int64_t AMonth) {
    constexpr int LDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return AMonth == 2 && IsLeapYear(AYear) ? 29 : LDays[AMonth - 1];
}

}  // namespace

std::string TSiFileHelper::FormatFileDate(TDateTime AUtc) {
    const TSiDateTimeParts LParts = SiDecodeDateTime(AUtc);
    std::string LText;
    LText.reserve(kStampLength);
    AppendTwoDigits(LText, LParts.Year / 100);
    AppendTwoDigits(LText, LParts.Year % 100);
    for (const int LValue : {LParts.Month, LParts.Day, LParts.Hour, LParts.Minute, LParts.Second}) {
        LText.push_back('-');
        AppendTwoDigits(LText, LValue);
    }
    return LText;
}

std::string TSiFileHelper::ExpandFileName(const std::string& ABaseName, TDateTime AUtcNow) {
    const TBaseParts LParts = SplitBaseName(ABaseName);
    std::string LStem = LParts.Directory + LParts.Name + "-" + FormatFileDate(AUtcNow);
    // Rotated files are ordered by name, so a new name must sort after every file of the same
    // stamp, not merely be free: once "N-stamp.E" was deleted while "N-stamp-a.E" remains,
    // reusing the shorter name would make the newest file look like the oldest one, the next
    // cleanup would pick it (the file being written) and appending would continue the other.
    const std::string LStampName = SiExtractFileName(LStem);
    std::vector<std::string> LSameStamp;
    SiGetFiles(LStem + "*" + LParts.Extension, LSameStamp);
    std::size_t LSuffix = 0;
    for (const std::string& LPath : LSameStamp) {
        const std::string LName = SiExtractFileName(LPath);
        if (LName.size() < LStampName.size() + LParts.Extension.size() ||
            !LName.starts_with(LStampName) || !LName.ends_with(LParts.Extension)) {
            continue;
        }
        const std::string_view LMiddle = std::string_view(LName).substr(
            LStampName.size(), LName.size() - LStampName.size() - LParts.Extension.size());
        if (LMiddle.find_first_not_of('a') == std::string_view::npos) {
            LSuffix = std::max(LSuffix, LMiddle.size() + 1);
        }
    }
    LStem.append(LSuffix, 'a');
    std::string LResult = LStem + LParts.Extension;
    while (SiFileOrDirExists(LResult)) {
        LStem.push_back('a');
        LResult = LStem + LParts.Extension;
    }
    return LResult;
}

std::string TSiFileHelper::GetFileName(const std::string& ABaseName, bool AAppend,
                                       TDateTime AUtcNow) {
    if (AAppend) {
        std::string LNewest = FindFileName(ABaseName);
        if (!LNewest.empty()) {
            return LNewest;
        }
    }
    return ExpandFileName(ABaseName, AUtcNow);
}

std::string TSiFileHelper::FindFileName(const std::string& ABaseName) {
    TSiStringList LFiles;
    GetFiles(ABaseName, LFiles);
    return LFiles.Count() == 0 ? std::string() : LFiles.Get(LFiles.Count() - 1);
}

void TSiFileHelper::GetFiles(const std::string& ABaseName, TSiStringList& AList) {
    const TBaseParts LParts = SplitBaseName(ABaseName);
    TSiStringList LFound;
    std::vector<std::string> LPaths;
    SiGetFiles(LParts.Directory + LParts.Name + "-*" + LParts.Extension, LPaths);
    for (std::string& LPath : LPaths) LFound.Add(std::move(LPath));
    LFound.Sort();
    AList.Clear();
    for (const std::string& LPath : LFound.Items()) {
        if (IsValidFile(ABaseName, LPath)) {
            AList.Add(LPath);
        }
    }
}

void TSiFileHelper::DeleteFiles(const std::string& ABaseName, std::size_t AKeep,
                                const std::string& AOpenFile) {
    TSiStringList LFiles;
    GetFiles(ABaseName, LFiles);
    if (LFiles.Count() <= AKeep) {
        return;
    }
    const std::size_t LSurplus = LFiles.Count() - AKeep;
    for (std::size_t LIndex = 0; LIndex < LSurplus; ++LIndex) {
        const std::string& LPath = LFiles.Get(LIndex);
        if (LPath != AOpenFile) {
            SiDeleteFile(LPath);
        }
    }
}

TDateTime TSiFileHelper::GetFileDate(const std::string& ABaseName, const std::string& APath) {
    TDateTime LDate = 0;
    if (!TryGetFileDate(ABaseName, APath, LDate)) {
        throw ESiProtocolError("Invalid filename", std::string(), std::string());
    }
    return LDate;
}

bool TSiFileHelper::IsValidFile(const std::string& ABaseName, const std::string& APath) {
    TDateTime LDate = 0;
    return TryGetFileDate(ABaseName, APath, LDate);
}

bool TSiFileHelper::TryGetFileDate(const std::string& ABaseName, const std::string& APath,
                                   TDateTime& ADate) {
    const TBaseParts LParts = SplitBaseName(ABaseName);
    const std::string LFileName = SiExtractFileName(APath);
    const std::string LPrefix = LParts.Name + "-";
    if (LFileName.compare(0, LPrefix.size(), LPrefix) != 0) {
        return false;
    }
    // The extension must be the base name's own: the system's wildcard search also matches
    // longer extensions (through short names), and a base name without extension would
    // otherwise claim the rotated files of "N.E" in the same directory.
    if (SiExtractFileExt(LFileName) != LParts.Extension) {
        return false;
    }
    std::string LStamp = SiChangeFileExt(LFileName.substr(LPrefix.size()), "");
    if (LStamp.size() > kStampLength) {
        LStamp.resize(kStampLength);
    }
    return TryParseFileDate(LStamp, ADate);
}

bool TSiFileHelper::TryParseFileDate(const std::string& AText, TDateTime& ADate) {
    std::int64_t LValues[6] = {};
    std::size_t LGroup = 0;
    std::size_t LDigits = 0;
    for (const char LChar : AText) {
        if (LChar == '-') {
            if (LDigits == 0 || ++LGroup == 6) {
                return false;
            }
            LDigits = 0;
        } else if (LChar >= '0' && LChar <= '9') {
            // At most 19 characters reach here from a file name; the bound keeps any text safe.
            if (++LDigits > 9) {
                return false;
            }
            LValues[LGroup] = LValues[LGroup] * 10 + (LChar - '0');
        } else {
            return false;
        }
    }
    if (LGroup != 5 || LDigits == 0) {
        return false;
    }
    const auto [LYear, LMonth, LDay, LHour, LMinute, LSecond] = LValues;
    if (LYear < 1 || LYear > 9999 || LMonth < 1 || LMonth > 12 || LDay < 1 ||
        LDay > DaysInMonth(LYear, LMonth) || LHour > 23 || LMinute > 59 || LSecond > 59) {
        return false;
    }
    TSiDateTimeParts LParts;
    LParts.Year = static_cast<int>(LYear);
    LParts.Month = static_cast<int>(LMonth);
    LParts.Day = static_cast<int>(LDay);
    LParts.Hour = static_cast<int>(LHour);
    LParts.Minute = static_cast<int>(LMinute);
    LParts.Second = static_cast<int>(LSecond);
    ADate = SiEncodeDateTime(LParts);
    return true;
}

}  // namespace deruz::logging
