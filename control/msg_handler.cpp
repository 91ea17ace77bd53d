#include "control/msg_handler.h"

#include "control/ondarix_control.h"
#include "logging/core/session.h"

namespace deruz::control {

std::wstring PhotoAddedText(std::int32_t PhotoType, std::int32_t DentistID,
                            const std::wstring& PatientID, const std::wstring& PhotoID,
                            std::int32_t Quadrant, std::int32_t Element) {
    // The quadrant and element run together: quadrant 1, element 6 give "16".
    return L"photoadded|" + std::to_wstring(PhotoType) + L"|" + std::to_wstring(DentistID) + L"|" +
           PatientID + L"|" + PhotoID + L"|" + std::to_wstring(Quadrant) + std::to_wstring(Element);
}

std::wstring AdminNotesText(std::int32_t DentistID, const std::wstring& PatientID,
                            const std::wstring& ToothPosition, const std::wstring& Code,
                            const std::wstring& Notes) {
    return L"adminnotes|" + std::to_wstring(DentistID) + L"|" + PatientID + L"|" + ToothPosition +
           L"|" + Code + L"|" + Notes;
}

void TMsgHandler::Log(const char* Event) {
    if (FLog != nullptr) FLog->LogMessage(Event);
}

void TMsgHandler::OnWakeup(TServerConnection&) {
    Log("OnWakeUp");
    FNotices.Wakeup();
}

void TMsgHandler::OnNewPhoto(TServerConnection&, std::int32_t PhotoType, std::int32_t DentistID,
                             const std::wstring& PatientID, const std::wstring& PhotoID,
                             std::int32_t Quadrant, std::int32_t Element) {
    Log("OnNewPhoto");
    FNotices.Notice(TNotice::Event,
                    L"OnNewPhoto from Ondarix: " + PhotoAddedText(PhotoType, DentistID, PatientID,
                                                                  PhotoID, Quadrant, Element));
}

void TMsgHandler::OnCmdReady(TServerConnection&, std::int32_t /*ResultValue*/,
                             const std::wstring& ResultText) {
    Log("OnCmdReady");
    FNotices.CommandReady(ResultText);
}

void TMsgHandler::OnAdminNotes(TServerConnection&, std::int32_t DentistID,
                               const std::wstring& PatientID, const std::wstring& ToothPosition,
                               const std::wstring& Code, const std::wstring& Notes) {
    Log("OnAdminNotes");
    FNotices.Notice(TNotice::Event,
                    L"Admin-Notes from Ondarix: " +
                        AdminNotesText(DentistID, PatientID, ToothPosition, Code, Notes));
}

void TMsgHandler::OnRequest(TServerConnection&, const std::wstring& Cmd) {
    Log("OnRequest");
    FNotices.Notice(TNotice::Event, L"Admin-Request from Ondarix: " + Cmd);
}

}  // namespace deruz::control
