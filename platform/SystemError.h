#pragma once

#include <QString>

// The system's text for an errno value, as the user sees it in messages.
QString SystemErrorText(int error);
