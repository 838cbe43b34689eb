#pragma once

#include <QString>

// The documents installed with the program, as the help window opens them.
// An installed program lives in <prefix>/bin; its documents in
// <prefix>/share.

// <prefix>/share/doc/qx-console/README.md, the user's guide.
QString InstalledGuide();
// The manual page, as the desktop's help viewer opens it.
QString InstalledManual();
