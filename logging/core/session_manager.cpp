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
    TSiSession* session = ASession.get();
    std::lock_guard lock(FCriticalSection);
    FDefaults.Assign(*session);
    FSessionList.push_back(std::move(ASession));
    const std::string name = session->NameUnshared();
    if (AStore) {
        FSessionTable.Put(name, session);
        session->SetStored(true);
    }
    Configure(*session, name);
    return session;
}

void TSiSessionManager::Delete(TSiSession* ASession) {
    if (ASession == nullptr) return;
    std::lock_guard lock(FCriticalSection);
    const std::string name = ASession->NameUnshared();
    if (Stored(name) == ASession) FSessionTable.Remove(name);
    auto it = std::find_if(FSessionList.begin(), FSessionList.end(),
                           [&](const auto& s) { return s.get() == ASession; });
    if (it != FSessionList.end()) FSessionList.erase(it);
}

TSiSession* TSiSessionManager::Stored(std::string_view AName) const noexcept {
    TSiSession* const* session = FSessionTable.Find(AName);
    return session != nullptr ? *session : nullptr;
}

TSiSession* TSiSessionManager::Get(std::string_view AName) {
    std::lock_guard lock(FCriticalSection);
    return Stored(AName);
}

void TSiSessionManager::Update(TSiSession* ASession, const std::string& ATo,
                               const std::string& AFrom) {
    if (ASession == nullptr) return;
    std::lock_guard lock(FCriticalSection);
    if (Stored(AFrom) == ASession) FSessionTable.Remove(AFrom);
    Configure(*ASession, ATo);
    FSessionTable.Put(ATo, ASession);
}

TSiSessionDefaults TSiSessionManager::Defaults() {
    std::lock_guard lock(FCriticalSection);
    return FDefaults;
}

void TSiSessionManager::SetDefaults(const TSiSessionDefaults& ADefaults) {
    std::lock_guard lock(FCriticalSection);
    FDefaults = ADefaults;
}

void TSiSessionManager::Configure(TSiSession& ASession, std::string_view AName) {
    if (const TSiSessionInfo* info = FSessionInfos.Get(AName)) Assign(ASession, *info);
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
    std::lock_guard lock(FCriticalSection);
    FSessionInfos.Clear();
    LoadInfos(AConfig);
    LoadDefaults(AConfig);
}

void TSiSessionManager::LoadInfos(const TSiConfiguration& AConfig) {
    constexpr std::string_view kPrefix = "session.";
    for (std::size_t i = 0; i < AConfig.Count(); ++i) {
        const std::string& key = AConfig.ReadKey(i);
        if (key.size() < kPrefix.size() || !SiSameText(key.substr(0, kPrefix.size()), kPrefix)) {
            continue;
        }
        const std::string rest = key.substr(kPrefix.size());
        const std::size_t dot = rest.rfind('.');
        if (dot == std::string::npos) continue;
        const std::string name = rest.substr(0, dot);
        if (FSessionInfos.Contains(name)) continue;

        auto info = std::make_unique<TSiSessionInfo>();
        const std::string base = "session." + name;
        info->Name = name;
        info->HasActive = AConfig.Contains(base + ".active");
        info->Active = AConfig.ReadBoolean(base + ".active", true);
        info->HasLevel = AConfig.Contains(base + ".level");
        info->Level = AConfig.ReadLevel(base + ".level", lvDebug);
        info->HasColor = AConfig.Contains(base + ".color");
        info->Color = AConfig.ReadColor(base + ".color", clWindow);
        const TSiSessionInfo* stored = FSessionInfos.Put(name, std::move(info));
        if (TSiSession* session = Stored(name)) Assign(*session, *stored);
    }
}

void TSiSessionManager::LoadDefaults(const TSiConfiguration& AConfig) {
    FDefaults.Active = AConfig.ReadBoolean("sessiondefaults.active", FDefaults.Active);
    FDefaults.Level = AConfig.ReadLevel("sessiondefaults.level", FDefaults.Level);
    FDefaults.Color = AConfig.ReadColor("sessiondefaults.color", FDefaults.Color);
}

}  // namespace deruz::logging
