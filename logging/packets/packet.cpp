// Packet construction, sizes, data streams and the optional per-packet lock.
#include "logging/packets/packet.h"

#include "logging/base/strings.h"
#include "logging/system/system_ids.h"

namespace deruz::logging {

namespace {

std::int64_t Utf16Units(std::string_view AText) {
    return static_cast<std::int64_t>(SiUtf16Length(AText));
}

// The data handling that log entries and control commands share.
void CopyData(std::unique_ptr<TSiMemoryStream>& AData, TSiStream* AStream) {
    if (AStream == nullptr) {
        if (AData) {
            AData->Clear();
        }
        return;
    }
    if (!AData) {
        AData = std::make_unique<TSiMemoryStream>();
    }
    AData->LoadFrom(*AStream);
}

bool DataPresent(const std::unique_ptr<TSiMemoryStream>& AData) {
    return AData && AData->GetSize() > 0;
}

std::int64_t DataSize(const std::unique_ptr<TSiMemoryStream>& AData) {
    return AData ? AData->GetSize() : 0;
}

constexpr std::string_view kHostNamePrefix = "hostname=";
constexpr std::string_view kAppNamePrefix = "appname=";
constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

void TSiPacket::SetThreadSafe(bool AValue) {
    FThreadSafe = AValue;
}

void TSiPacket::Lock() {
    if (FThreadSafe) {
        FCriticalSection.lock();
    }
}

void TSiPacket::Unlock() {
    if (FThreadSafe) {
        FCriticalSection.unlock();
    }
}

bool TSiPacket::TryLock() {
    return !FThreadSafe || FCriticalSection.try_lock();
}

TSiLogEntry::TSiLogEntry(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId)
    : ViewerId(AViewerId),
      LogEntryType(ALogEntryType),
      Color(clWindow),
      ThreadId(SiCurrentThreadId()),
      ProcessId(SiCurrentProcessId()) {}

void TSiLogEntry::Renew(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
    Level = lvMessage;
    Timestamp = 0;
    ViewerId = AViewerId;
    LogEntryType = ALogEntryType;
    AppName.clear();
    HostName.clear();
    Title.clear();
    Color = clWindow;
    ThreadId = SiCurrentThreadId();
    ProcessId = SiCurrentProcessId();
}

std::int64_t TSiLogEntry::GetSize() const {
    return kSiLogEntryHeaderSize + Utf16Units(SessionName) + Utf16Units(Title) +
           Utf16Units(AppName) + Utf16Units(HostName) + DataSize(FData);
}

void TSiLogEntry::SetData(TSiStream* AStream) {
    CopyData(FData, AStream);
}

bool TSiLogEntry::HasData() const {
    return DataPresent(FData);
}

TSiControlCommand::TSiControlCommand(TSiControlCommandType AControlCommandType)
    : ControlCommandType(AControlCommandType) {
    Level = lvControl;
}

std::int64_t TSiControlCommand::GetSize() const {
    return kSiControlCommandHeaderSize + DataSize(FData);
}

void TSiControlCommand::SetData(TSiStream* AStream) {
    CopyData(FData, AStream);
}

bool TSiControlCommand::HasData() const {
    return DataPresent(FData);
}

std::int64_t TSiWatch::GetSize() const {
    return kSiWatchHeaderSize + Utf16Units(Name) + Utf16Units(Value);
}

TSiProcessFlow::TSiProcessFlow(TSiProcessFlowType AProcessFlowType)
    : ProcessFlowType(AProcessFlowType),
      ThreadId(SiCurrentThreadId()),
      ProcessId(SiCurrentProcessId()) {}

std::int64_t TSiProcessFlow::GetSize() const {
    return kSiProcessFlowHeaderSize + Utf16Units(Title) + Utf16Units(HostName);
}

std::int64_t TSiLogHeader::GetSize() const {
    // The content's length without building it: the fixed parts are ASCII.
    return kSiLogHeaderHeaderSize + static_cast<std::int64_t>(kHostNamePrefix.size()) +
           Utf16Units(HostName) +
           static_cast<std::int64_t>(kLineBreak.size() + kAppNamePrefix.size()) +
           Utf16Units(AppName) + static_cast<std::int64_t>(kLineBreak.size());
}

std::string TSiLogHeader::GetContent() const {
    std::string LContent;
    LContent.reserve(kHostNamePrefix.size() + HostName.size() + kAppNamePrefix.size() +
                     AppName.size() + 2 * kLineBreak.size());
    LContent.append(kHostNamePrefix).append(HostName).append(kLineBreak);
    LContent.append(kAppNamePrefix).append(AppName).append(kLineBreak);
    return LContent;
}

}  // namespace deruz::logging
