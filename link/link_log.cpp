#include "link/link_log.h"

#include "logging/core/si_auto.h"
#include "logging/packets/viewer_context.h"

namespace deruz::link::linklog {

namespace {

using namespace deruz::logging;

// Neither is ever freed by the link: they live as long as the process logger.
TSiSession* gSiLog = nullptr;
TSiInspectorViewerContext* gLContext = nullptr;

}  // namespace

void Start() {
    try {
        Si->SetConnections("pipe()");
    } catch (const std::exception&) {
        // The logger is left without a destination; the link works the same.
    }
    // The context is static data: built once, even if the library is loaded again.
    if (gLContext == nullptr) {
        gLContext = new TSiInspectorViewerContext();
        gLContext->StartGroup("FindOptions");
        gLContext->AppendKeyValue("Regex", true);
        gLContext->AppendKeyValue("WholeWord", false);
        gLContext->AppendKeyValue("CaseSensitive", true);
        gLContext->AppendKeyValue("Title", "Foobar");
    }

    gSiLog = Si->AddSession("DeRuz64.dll", false);
    gSiLog->SetName("DeRuz64");
    gSiLog->SetColor(0x008000);

    // Connects the pipe; with no viewer listening the connect fails once, quietly.
    Si->SetEnabled(true);
    SiMain->LogCustomContext("Custom Data", ltText, gLContext);
}

void Message(std::string_view AText) {
    if (gSiLog != nullptr) gSiLog->LogMessage(AText);
}

TMethodTrack::TMethodTrack(std::string_view AName)
    : FTracker(gSiLog != nullptr ? gSiLog->TrackMethod(AName) : logging::ISiMethodTracker()) {}

logging::TSiSession* SiLog() {
    return gSiLog;
}

}  // namespace deruz::link::linklog
