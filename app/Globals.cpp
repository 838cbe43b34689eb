#include "app/Globals.h"

#include "platform/AppLocation.h"

QString AppDir() {
    return ApplicationDir();
}
