#pragma once

namespace torvex::platform {

// SIGTERM, SIGINT and SIGHUP only note that the run is to end; the run
// stops at its next safe point, between two steps, where every file it
// manages is whole. A second such signal ends the process at once.
void InstallTerminationHandlers();

// The signal that asked the run to end, or 0.
int TerminationSignal();

// The name of a signal ("SIGTERM").
const char* SignalName(int signal);

} // namespace torvex::platform
