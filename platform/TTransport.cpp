#include "platform/TTransport.h"

#include <sys/ioctl.h>

namespace {

int QueueCount(int fd, unsigned long request) {
    int count = 0;
    return ::ioctl(fd, request, &count) == 0 ? count : 0;
}

} // namespace

int TTransport::InputQueueCount() const {
    return QueueCount(FFd, FIONREAD);
}

int TTransport::OutputQueueCount() const {
    return QueueCount(FFd, TIOCOUTQ);
}
