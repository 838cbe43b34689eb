#pragma once

// SIGTERM, SIGINT and SIGHUP end the program as closing its window does:
// a download (or transfer) that owns the line is cancelled and waited for
// (EndLineWork), then the event loop closes every window (a running
// recording gets its end marker, the window placement is saved) and quits.
// A second signal before that is done ends the process at once. Call once,
// after the application object exists.
void InstallQuitSignals();

// How long a quit waits for the line's owner to end.
inline constexpr int QuitWaitMs = 3000;

// Asks the line's owner (a download or a transfer) to stop and waits, with
// the event loop running, until it gave the line back or TimeoutMs passed.
// True when the line is free (at once when nobody owned it).
bool EndLineWork(int timeoutMs = QuitWaitMs);
