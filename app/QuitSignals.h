#pragma once

// SIGTERM, SIGINT and SIGHUP end the program as closing its window does:
// the event loop closes every window (a running recording gets its end
// marker, the window placement is saved) and quits. A second signal before
// that is done ends the process at once. Call once, after the application
// object exists.
void InstallQuitSignals();
