#include "platform/SystemError.h"

#include <cstring>

QString SystemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
