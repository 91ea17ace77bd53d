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
    TMsgHandler(TControlNotices& Notices, logging::TSiSession* Log)
        : FNotices(Notices), FLog(Log) {}

    void OnWakeup(TServerConnection& Sender) override;
    void OnNewPhoto(TServerConnection& Sender, std::int32_t PhotoType, std::int32_t DentistID,
                    const std::wstring& PatientID, const std::wstring& PhotoID,
                    std::int32_t Quadrant, std::int32_t Element) override;
    void OnCmdReady(TServerConnection& Sender, std::int32_t ResultValue,
                    const std::wstring& ResultText) override;
    void OnAdminNotes(TServerConnection& Sender, std::int32_t DentistID,
                      const std::wstring& PatientID, const std::wstring& ToothPosition,
                      const std::wstring& Code, const std::wstring& Notes) override;
    void OnRequest(TServerConnection& Sender, const std::wstring& Cmd) override;

  private:
    void Log(const char* Event);

    TControlNotices& FNotices;
    logging::TSiSession* FLog;
};

// The texts composed for the host: "photoadded|2|7|P1|X9|35", "adminnotes|7|P|T|C|N".
std::wstring PhotoAddedText(std::int32_t PhotoType, std::int32_t DentistID,
                            const std::wstring& PatientID, const std::wstring& PhotoID,
                            std::int32_t Quadrant, std::int32_t Element);
std::wstring AdminNotesText(std::int32_t DentistID, const std::wstring& PatientID,
                            const std::wstring& ToothPosition, const std::wstring& Code,
                            const std::wstring& Notes);

}  // namespace deruz::control
