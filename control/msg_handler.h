// The receiver of the imaging server's events. The control makes one for each connection and
// frees it with the connection. Each event is logged and handed to the link as what the host
// and the user get from it: the wake-up event brings the host's window to the front, the
// command-ready event replaces the text the host fetches, and the photo, notes and request
// events become texts that the user sees after an ONDA_INIT2W with diagnostics on.
//
// Events arrive on the host's thread while it dispatches messages, possibly in the middle of
// an export; the handlers do not take ExecutingCmd and never call back into the server.
#pragma once

#include <cstdint>
#include <string>

#include "control/server_connection.h"

namespace deruz::logging {
class TSiSession;
}

namespace deruz::control {

class TControlNotices;

class TMsgHandler final : public TServerEvents {
  public:
    // Notices: the link; Log: the session the events are logged to (may be null).
    TMsgHandler(TControlNotices& ANotices, logging::TSiSession* ALog)
        : FNotices(ANotices), FLog(ALog) {}

    void OnWakeup(TServerConnection& ASender) override;
    void OnNewPhoto(TServerConnection& ASender, std::int32_t APhotoType, std::int32_t ADentistId,
                    const std::wstring& APatientId, const std::wstring& APhotoId,
                    std::int32_t AQuadrant, std::int32_t AElement) override;
    void OnCmdReady(TServerConnection& ASender, std::int32_t AResultValue,
                    const std::wstring& AResultText) override;
    void OnAdminNotes(TServerConnection& ASender, std::int32_t ADentistId,
                      const std::wstring& APatientId, const std::wstring& AToothPosition,
                      const std::wstring& ACode, const std::wstring& ANotes) override;
    void OnRequest(TServerConnection& ASender, const std::wstring& ACmd) override;

  private:
    void Log(const char* AEvent);

    TControlNotices& FNotices;
    logging::TSiSession* FLog;
};

// The texts composed for the host: "photoadded|2|7|P1|X9|35", "adminnotes|7|P|T|C|N".
std::wstring PhotoAddedText(std::int32_t APhotoType, std::int32_t ADentistId,
                            const std::wstring& APatientId, const std::wstring& APhotoId,
                            std::int32_t AQuadrant, std::int32_t AElement);
std::wstring AdminNotesText(std::int32_t ADentistId, const std::wstring& APatientId,
                            const std::wstring& AToothPosition, const std::wstring& ACode,
                            const std::wstring& ANotes);

}  // namespace deruz::control
