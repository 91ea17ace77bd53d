// silog collect's store: a file protocol per host and application; see collect_store.h.
#include "tools/silog/collect/collect_store.h"

#include <algorithm>
#include <chrono>
#include <regex>
#include <system_error>
#include <vector>

#include "logging/base/errors.h"
#include "logging/io/file_stream.h"
#include "logging/protocols/file_protocol.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog::collect {

namespace fs = std::filesystem;
using namespace deruz::logging;

namespace {

constexpr std::size_t kMaxNameLength = 64;

std::string Quoted(const std::string& AText) {
    std::string LText = "\"";
    for (const char LChar : AText) {
        LText += LChar;
        if (LChar == '"') LText += '"';
    }
    return LText + "\"";
}

}  // namespace

std::string StoreName(const std::string& AName) {
    std::string LName;
    for (const char LChar : AName.substr(0, kMaxNameLength)) {
        const bool LKeep = (LChar >= 'a' && LChar <= 'z') || (LChar >= 'A' && LChar <= 'Z') ||
                           (LChar >= '0' && LChar <= '9') || LChar == '.' || LChar == '-' ||
                           LChar == '_';
        LName += LKeep ? LChar : '_';
    }
    if (LName.empty()) return "unknown";
    if (LName[0] == '.') LName[0] = '_';
    return LName;
}

TCollectStore::TCollectStore(TStoreSettings ASettings, TReport AReport)
    : FSettings(std::move(ASettings)), FReport(std::move(AReport)) {
    std::error_code LError;
    fs::create_directories(FSettings.Folder, LError);
    if (LError) {
        throw ESiError("cannot create the store " + FSettings.Folder.string() + ": " +
                       LError.message());
    }
}

TCollectStore::~TCollectStore() {
    Close();
}

TStoreSet& TCollectStore::SetFor(const TPacketSource& ASource) {
    const std::string LHost = StoreName(ASource.HostName);
    const std::string LApp = StoreName(ASource.AppName);
    const std::string LKey = LHost + '/' + LApp;
    std::lock_guard LGuard(FLock);
    auto LIt = FSets.find(LKey);
    if (LIt != FSets.end()) return LIt->second;
    const fs::path LFolder = FSettings.Folder / LHost;
    std::error_code LError;
    fs::create_directories(LFolder, LError);
    const std::string LOptions =
        "filename=" + Quoted((LFolder / (LApp + ".sil")).string()) +
        ", append=true, reconnect=true, maxsize=" + std::to_string(FSettings.MaxBytes / 1024) +
        ", maxparts=" + std::to_string(FSettings.MaxParts) + ", rotate=" + FSettings.Rotate;
    TSiProtocolPtr LProtocol = TSiProtocolFactory::GetProtocol("file", LOptions);
    LProtocol->SetAppName(ASource.AppName);
    LProtocol->SetHostName(ASource.HostName);
    LProtocol->Connect();
    return FSets[LKey] = TStoreSet{std::move(LProtocol), (LFolder / (LApp + "-*.sil")).string()};
}

void TCollectStore::NoteError(const std::string& AError) {
    ++FErrors;
    bool LNew = false;
    {
        std::lock_guard LGuard(FLock);
        LNew = FError.Note(AError);
        FFailing.store(true);
    }
    if (LNew && FReport) FReport(AError);
}

void TCollectStore::NoteSetError(const TPacketSource& ASource, const std::string& AError) {
    NoteError("cannot store for " + EscapeText(ASource.HostName) + "/" +
              EscapeText(ASource.AppName) + " in " + FSettings.Folder.string() + ": " + AError);
}

// The text of a failed write of a set: the library's, the path, and the system's reason.
namespace {
std::string StoreErrorText(const std::string& AError, const std::string& APath) {
    std::string LText = "cannot store in " + APath + ": " + AError;
    if (const std::uint32_t LCode = SiTakeFileWriteError(); LCode != 0) {
        LText += " (" + SiSystemErrorText(LCode) + ")";
    }
    return LText;
}
}  // namespace

bool TCollectStore::Write(TStoreSet& ASet, TSiPacket& APacket) {
    try {
        SiTakeFileWriteError();
        ASet.Protocol->WritePacket(APacket);
        ++FStored;
        if (FFailing.load(std::memory_order_relaxed)) {
            bool LWasFailing = false;
            {
                std::lock_guard LGuard(FLock);
                LWasFailing = FError.Active();
                FError.Clear();
                FFailing.store(false);
            }
            if (LWasFailing && FReport) FReport("the store is written again");
        }
        return true;
    } catch (const std::exception& LError) {
        NoteError(StoreErrorText(LError.what(), ASet.Files));
        return false;
    }
}

bool TCollectStore::Sync() {
    std::vector<TStoreSet*> LSets;
    {
        std::lock_guard LGuard(FLock);
        for (auto& [LKey, LSet] : FSets) LSets.push_back(&LSet);
    }
    bool LOk = true;
    for (TStoreSet* LSet : LSets) {
        try {
            const auto LCommand = SiMakeRef<TSiProtocolCommand>(kSiFileSyncAction, nullptr);
            LSet->Protocol->Dispatch(*LCommand);
        } catch (const std::exception& LError) {
            NoteError(StoreErrorText(LError.what(), LSet->Files));
            LOk = false;
        }
    }
    return LOk;
}

std::size_t TCollectStore::Sets() {
    std::lock_guard LGuard(FLock);
    return FSets.size();
}

std::string TCollectStore::LastError() {
    std::lock_guard LGuard(FLock);
    return FError.Active() ? FError.Last() : std::string();
}

std::uint64_t TCollectStore::Sweep() {
    if (FSettings.KeepDays == 0) return 0;
    static const std::regex LRotated(R"((.*)-\d{4}-\d{2}-\d{2}-\d{2}-\d{2}-\d{2}a*\.sil)");
    const auto LLimit =
        fs::file_time_type::clock::now() - std::chrono::hours(24) * FSettings.KeepDays;
    std::uint64_t LDeleted = 0;
    std::error_code LError;
    for (const auto& LHost : fs::directory_iterator(FSettings.Folder, LError)) {
        if (!LHost.is_directory()) continue;
        // The files of each set, by name (which is age order).
        std::map<std::string, std::vector<fs::path>> LSets;
        for (const auto& LFile : fs::directory_iterator(LHost.path(), LError)) {
            std::smatch LMatch;
            const std::string LName = LFile.path().filename().string();
            if (LFile.is_regular_file() && std::regex_match(LName, LMatch, LRotated)) {
                LSets[LMatch[1].str()].push_back(LFile.path());
            }
        }
        for (auto& [LBase, LFiles] : LSets) {
            std::sort(LFiles.begin(), LFiles.end());
            LFiles.pop_back();
            for (const fs::path& LPath : LFiles) {
                const auto LTime = fs::last_write_time(LPath, LError);
                if (!LError && LTime < LLimit && fs::remove(LPath, LError)) ++LDeleted;
            }
        }
    }
    return LDeleted;
}

void TCollectStore::Close() {
    std::lock_guard LGuard(FLock);
    FSets.clear();
}

}  // namespace deruz::silog::collect
