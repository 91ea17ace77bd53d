#include "link/msg_handler.h"

#include "link/link.h"
#include "link/link_log.h"

namespace deruz::link {

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

void TMsgHandler::OnWakeup(control::TServerConnection&) {
    linklog::Message("OnWakeUp");
    const TWindowHandle wnd = FLink.State().AppPrevWnd;
    if (wnd != 0) FLink.Platform().Windows->SetForegroundWindow(wnd);
}

void TMsgHandler::OnNewPhoto(control::TServerConnection&, std::int32_t PhotoType,
                             std::int32_t DentistID, const std::wstring& PatientID,
                             const std::wstring& PhotoID, std::int32_t Quadrant,
                             std::int32_t Element) {
    linklog::Message("OnNewPhoto");
    FLink.Notice(control::TNotice::Event,
                 L"OnNewPhoto from Ondarix: " +
                     PhotoAddedText(PhotoType, DentistID, PatientID, PhotoID, Quadrant, Element));
}

void TMsgHandler::OnCmdReady(control::TServerConnection&, std::int32_t /*ResultValue*/,
                             const std::wstring& ResultText) {
    linklog::Message("OnCmdReady");
    FLink.State().ReturnText = ResultText;
}

void TMsgHandler::OnAdminNotes(control::TServerConnection&, std::int32_t DentistID,
                               const std::wstring& PatientID, const std::wstring& ToothPosition,
                               const std::wstring& Code, const std::wstring& Notes) {
    linklog::Message("OnAdminNotes");
    FLink.Notice(control::TNotice::Event,
                 L"Admin-Notes from Ondarix: " +
                     AdminNotesText(DentistID, PatientID, ToothPosition, Code, Notes));
}

void TMsgHandler::OnRequest(control::TServerConnection&, const std::wstring& Cmd) {
    linklog::Message("OnRequest");
    FLink.Notice(control::TNotice::Event, L"Admin-Request from Ondarix: " + Cmd);
}

}  // namespace deruz::link
