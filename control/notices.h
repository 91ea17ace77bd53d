// What the link shows the user, by kind, and the one rule of its diagnostic level ("Debug")
// that decides which of them are shown. The link and the imaging-application control raise
// notices of a kind; only the link's one notice procedure applies the rule.
#pragma once

#include <cstdint>

namespace deruz::control {

enum class TNotice : std::uint8_t {
    Error,   // an error box, shown at every level
    Info,    // an information box, shown at level 1 or more
    Detail,  // a step of the work, shown at level 1 only
    Event,   // a server event's text: shown at level 1 or more, and only when the host asked
             // for event texts (initialised through ONDA_INIT2W)
};

// Whether a notice of kind Kind is shown at level Debug; EventTexts: the host asked for the
// texts of the server's events.
constexpr bool NoticeShown(TNotice AKind, std::int32_t ADebug, bool AEventTexts) {
    switch (AKind) {
        case TNotice::Error:
            return true;
        case TNotice::Info:
            return ADebug >= 1;
        case TNotice::Detail:
            return ADebug == 1;
        case TNotice::Event:
            return AEventTexts && ADebug >= 1;
    }
    return false;
}

}  // namespace deruz::control
