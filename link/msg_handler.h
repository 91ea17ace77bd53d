// The receiver of the imaging server's events: the wake-up event brings the host's window
// to the front, the command-ready event replaces the text the host fetches, and the photo,
// notes and request events are logged and, after an ONDA_INIT2W and with diagnostics on,
// shown to the user. The link creates one per connection.
//
// Events arrive on the host's thread while it dispatches messages, possibly in the middle of
// an export; the handlers do not take ExecutingCmd and never call back into the server.
#pragma once

#include <cstdint>
#include <string>

#include "control/server_connection.h"

namespace deruz::link {

class TLink;

class TMsgHandler final : public control::TServerEvents {
  public:
    explicit TMsgHandler(TLink& Link) : FLink(Link) {}

    void OnWakeup(control::TServerConnection& Sender) override;
    void OnNewPhoto(control::TServerConnection& Sender, std::int32_t PhotoType,
                    std::int32_t DentistID, const std::wstring& PatientID,
                    const std::wstring& PhotoID, std::int32_t Quadrant,
                    std::int32_t Element) override;
    void OnCmdReady(control::TServerConnection& Sender, std::int32_t ResultValue,
                    const std::wstring& ResultText) override;
    void OnAdminNotes(control::TServerConnection& Sender, std::int32_t DentistID,
                      const std::wstring& PatientID, const std::wstring& ToothPosition,
                      const std::wstring& Code, const std::wstring& Notes) override;
    void OnRequest(control::TServerConnection& Sender, const std::wstring& Cmd) override;

  private:
    TLink& FLink;
};

// The texts composed for the host: "photoadded|2|7|P1|X9|35", "adminnotes|7|P|T|C|N".
std::wstring PhotoAddedText(std::int32_t PhotoType, std::int32_t DentistID,
                            const std::wstring& PatientID, const std::wstring& PhotoID,
                            std::int32_t Quadrant, std::int32_t Element);
std::wstring AdminNotesText(std::int32_t DentistID, const std::wstring& PatientID,
                            const std::wstring& ToothPosition, const std::wstring& Code,
                            const std::wstring& Notes);

}  // namespace deruz::link
