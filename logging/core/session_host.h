// ISiSessionHost: what a log session needs of the logger core it belongs to, and all that it
// knows of it. The core (TSiLogger) implements it; a session holds this interface, not the
// core's class, so the two modules depend one way: the core makes, owns and configures its
// sessions (session_manager.h, session.h), and a session reaches its core only through here.
//
// Thread-safety: every member may be called from any thread. Ownership: the host outlives the
// sessions that hold it.
#pragma once

#include <exception>
#include <string>

#include "logging/base/datetime.h"
#include "logging/core/level_gate.h"

namespace deruz::logging {

class TSiControlCommand;
class TSiLogEntry;
class TSiLogger;
class TSiProcessFlow;
class TSiSession;
class TSiWatch;
struct TSiLaneEntry;

class ISiSessionHost {
  public:
    // The switch, threshold and default level that a session's level test reads inline. The
    // gate lives as long as the host.
    virtual const TSiLevelGate& Gate() const noexcept = 0;
    // The timestamp for a new packet.
    virtual TDateTime Now() = 0;
    // The application name (the process name of EnterProcess without one).
    virtual std::string AppName() = 0;

    // Complete a packet and write it to every protocol. They never raise: failures go to the
    // error event.
    virtual void SendLogEntry(TSiLogEntry& ALogEntry) = 0;
    virtual void SendProcessFlow(TSiProcessFlow& AProcessFlow) = 0;
    virtual void SendWatch(TSiWatch& AWatch) = 0;
    virtual void SendControlCommand(TSiControlCommand& AControlCommand) = 0;
    // Queues a plain or formatted log entry on the host's asynchronous path and stamps its
    // time; false when that path is closed or cannot take it: the session then builds the
    // packet itself and calls SendLogEntry. Never raises.
    virtual bool PostLogEntry(TSiSession& ASession, TSiLaneEntry& AEntry) noexcept {
        static_cast<void>(ASession);
        static_cast<void>(AEntry);
        return false;
    }
    // Whether a handler (a filter, a log-entry event, or an override of either) may see the
    // log entries given to SendLogEntry, and so change them: a session that reuses an entry
    // then stamps it afresh.
    virtual bool LogEntryHandlersMayRun() const noexcept = 0;
    // Passes a failure met while logging, outside the core, to the error event.
    virtual void ReportError(const std::exception& AException) = 0;

    // A stored session is renamed from AFrom to ATo: the host re-keys it and applies the
    // settings configured for the new name.
    virtual void UpdateSession(TSiSession* ASession, const std::string& ATo,
                               const std::string& AFrom) = 0;
    // The logger core that this host is, as a session's Parent shows it.
    virtual TSiLogger* Logger() noexcept = 0;

  protected:
    virtual ~ISiSessionHost() = default;
};

}  // namespace deruz::logging
