#pragma once

#include <QString>

// How the platform layer reports failures. An operation that can fail
// returns a bool (or a count with -1 for failure, or a result such as
// TFileRead) and keeps the reason as text: ErrorText() of the object (or a
// record such as a profile file's WriteError()), the Error field of the
// result, or, where a function has nothing else to
// return, the text itself (empty on success). The text is the system's own
// words, made from errno here, so every caller shows the same reason. The
// layer shows nothing itself: the layers above tell the user through
// TInteraction. No exception leaves the layer, save what a main-thread call
// threw, which TThread::Synchronize hands back to the worker that made the
// call.

// The system's text for an errno value, as the user sees it in messages.
QString SystemErrorText(int error);
