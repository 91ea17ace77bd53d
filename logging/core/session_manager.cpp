#include "logging/core/session_manager.h"

#include <algorithm>

#include "logging/base/strings.h"
#include "logging/config/configuration.h"
#include "logging/core/session.h"

namespace deruz::logging {

void TSiSessionDefaults::Assign(TSiSession& ASession) const {
    ASession.SetActive(Active);
    ASession.SetColor(Color);
    ASession.SetLevel(Level);
}

TSiSessionManager::TSiSessionManager() = default;
TSiSessionManager::~TSiSessionManager() = default;

TSiSession* TSiSessionManager::Add(std::unique_ptr<TSiSession> ASession, bool AStore) {
    if (!ASession) return nullptr;
    TSiSession* LSession = ASession.get();
    std::lock_guard LLock(FCriticalSection);
    FDefaults.Assign(*LSession);
    FSessionList.push_back(std::move(ASession));
    const std::string LName = LSession->NameUnshared();
    if (AStore) {
        FSessionTable.Put(LName, LSession);
        LSession->SetStored(true);
    }
    Configure(*LSession, LName);
    return LSession;
}

void TSiSessionManager::Delete(TSiSession* ASession) {
    if (ASession == nullptr) return;
    std::lock_guard LLock(FCriticalSection);
    const std::string LName = ASession->NameUnshared();
    if (Stored(LName) == ASession) FSessionTable.Remove(LName);
    auto LIt = std::find_if(FSessionList.begin(), FSessionList.end(),
                            [&](const auto& AS) { return AS.get() == ASession; });
    if (LIt != FSessionList.end()) FSessionList.erase(LIt);
}

TSiSession* TSiSessionManager::Stored(std::string_view AName) const noexcept {
    TSiSession* const* LSession = FSessionTable.Find(AName);
    return LSession != nullptr ? *LSession : nullptr;
}

TSiSession* TSiSessionManager::Get(std::string_view AName) {
    std::lock_guard LLock(FCriticalSection);
    return Stored(AName);
}

void TSiSessionManager::Update(TSiSession* ASession, const std::string& ATo,
                               const std::string& AFrom) {
    if (ASession == nullptr) return;
    std::lock_guard LLock(FCriticalSection);
    if (Stored(AFrom) == ASession) FSessionTable.Remove(AFrom);
    Configure(*ASession, ATo);
    FSessionTable.Put(ATo, ASession);
}

TSiSessionDefaults TSiSessionManager::Defaults() {
    std::lock_guard LLock(FCriticalSection);
    return FDefaults;
}

void TSiSessionManager::SetDefaults(const TSiSessionDefaults& ADefaults) {
    std::lock_guard LLock(FCriticalSection);
    FDefaults = ADefaults;
}

void TSiSessionManager::Configure(TSiSession& ASession, std::string_view AName) {
    if (const TSiSessionInfo* LInfo = FSessionInfos.Get(AName)) Assign(ASession, *LInfo);
}

void TSiSessionManager::Assign(TSiSession& ASession, const TSiSessionInfo& AInfo) {
    // A session is never switched on before its other settings change, and is switched
    // off before they do.
    if (AInfo.Active) {
        if (AInfo.HasColor) ASession.SetColor(AInfo.Color);
        if (AInfo.HasLevel) ASession.SetLevel(AInfo.Level);
        if (AInfo.HasActive) ASession.SetActive(AInfo.Active);
    } else {
        if (AInfo.HasActive) ASession.SetActive(AInfo.Active);
        if (AInfo.HasLevel) ASession.SetLevel(AInfo.Level);
        if (AInfo.HasColor) ASession.SetColor(AInfo.Color);
    }
}

void TSiSessionManager::LoadConfiguration(const TSiConfiguration& AConfig) {
    std::lock_guard LLock(FCriticalSection);
    FSessionInfos.Clear();
    LoadInfos(AConfig);
    LoadDefaults(AConfig);
}

void TSiSessionManager::LoadInfos(const TSiConfiguration& AConfig) {
    constexpr std::string_view LPrefix = "session.";
    for (std::size_t LI = 0; LI < AConfig.Count(); ++LI) {
        const std::string& LKey = AConfig.ReadKey(LI);
        if (LKey.size() < LPrefix.size() || !SiSameText(LKey.substr(0, LPrefix.size()), LPrefix)) {
            continue;
        }
        const std::string LRest = LKey.substr(LPrefix.size());
        const std::size_t LDot = LRest.rfind('.');
        if (LDot == std::string::npos) continue;
        const std::string LName = LRest.substr(0, LDot);
        if (FSessionInfos.Contains(LName)) continue;

        auto LInfo = std::make_unique<TSiSessionInfo>();
        const std::string LBase = "session." + LName;
        LInfo->Name = LName;
        LInfo->HasActive = AConfig.Contains(LBase + ".active");
        LInfo->Active = AConfig.ReadBoolean(LBase + ".active", true);
        LInfo->HasLevel = AConfig.Contains(LBase + ".level");
        LInfo->Level = AConfig.ReadLevel(LBase + ".level", lvDebug);
        LInfo->HasColor = AConfig.Contains(LBase + ".color");
        LInfo->Color = AConfig.ReadColor(LBase + ".color", clWindow);
        const TSiSessionInfo* LStored = FSessionInfos.Put(LName, std::move(LInfo));
        if (TSiSession* LSession = Stored(LName)) Assign(*LSession, *LStored);
    }
}

void TSiSessionManager::LoadDefaults(const TSiConfiguration& AConfig) {
    FDefaults.Active = AConfig.ReadBoolean("sessiondefaults.active", FDefaults.Active);
    FDefaults.Level = AConfig.ReadLevel("sessiondefaults.level", FDefaults.Level);
    FDefaults.Color = AConfig.ReadColor("sessiondefaults.color", FDefaults.Color);
}

}  // namespace deruz::logging
