#include "control/msg_handler.h"

#include "control/ondarix_control.h"
#include "logging/core/session.h"

namespace deruz::control {

std::wstring PhotoAddedText(std::int32_t APhotoType, std::int32_t ADentistId,
                            const std::wstring& APatientId, const std::wstring& APhotoId,
                            std::int32_t AQuadrant, std::int32_t AElement) {
    // The quadrant and element run together: quadrant 1, element 6 give "16".
    return L"photoadded|" + std::to_wstring(APhotoType) + L"|" + std::to_wstring(ADentistId) +
           L"|" + APatientId + L"|" + APhotoId + L"|" + std::to_wstring(AQuadrant) +
           std::to_wstring(AElement);
}

std::wstring AdminNotesText(std::int32_t ADentistId, const std::wstring& APatientId,
                            const std::wstring& AToothPosition, const std::wstring& ACode,
                            const std::wstring& ANotes) {
    return L"adminnotes|" + std::to_wstring(ADentistId) + L"|" + APatientId + L"|" +
           AToothPosition + L"|" + ACode + L"|" + ANotes;
}

void TMsgHandler::Log(const char* AEvent) {
    if (FLog != nullptr) FLog->LogMessage(AEvent);
}

void TMsgHandler::OnWakeup(TServerConnection&) {
    Log("OnWakeUp");
    FNotices.Wakeup();
}

void TMsgHandler::OnNewPhoto(TServerConnection&, std::int32_t APhotoType, std::int32_t ADentistId,
                             const std::wstring& APatientId, const std::wstring& APhotoId,
                             std::int32_t AQuadrant, std::int32_t AElement) {
    Log("OnNewPhoto");
    FNotices.Notice(TNotice::Event, L"OnNewPhoto from Ondarix: " +
                                        PhotoAddedText(APhotoType, ADentistId, APatientId, APhotoId,
                                                       AQuadrant, AElement));
}

void TMsgHandler::OnCmdReady(TServerConnection&, std::int32_t /*ResultValue*/,
                             const std::wstring& AResultText) {
    Log("OnCmdReady");
    FNotices.CommandReady(AResultText);
}

void TMsgHandler::OnAdminNotes(TServerConnection&, std::int32_t ADentistId,
                               const std::wstring& APatientId, const std::wstring& AToothPosition,
                               const std::wstring& ACode, const std::wstring& ANotes) {
    Log("OnAdminNotes");
    FNotices.Notice(TNotice::Event,
                    L"Admin-Notes from Ondarix: " +
                        AdminNotesText(ADentistId, APatientId, AToothPosition, ACode, ANotes));
}

void TMsgHandler::OnRequest(TServerConnection&, const std::wstring& ACmd) {
    Log("OnRequest");
    FNotices.Notice(TNotice::Event, L"Admin-Request from Ondarix: " + ACmd);
}

}  // namespace deruz::control
