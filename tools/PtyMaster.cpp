#include "tools/PtyMaster.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyMaster::~PtyMaster() {
    if (FMaster >= 0)
        ::close(FMaster);
}

void PtyMaster::Close() {
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

bool PtyMaster::Open(std::string& error) {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
        ::ptsname_r(FMaster, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    FSlavePath = name;
    termios raw{};
    ::tcgetattr(FMaster, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(FMaster, TCSANOW, &raw);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    ::close(slave);
    return true;
}

bool PtyMaster::ClientPresent() const {
    pollfd p{FMaster, 0, 0};
    return ::poll(&p, 1, 0) == 0 || (p.revents & POLLHUP) == 0;
}

int PtyMaster::UnreadByClient() const {
    // Our own handle on the slave side sees the same input queue. Opening
    // it fails when the client set exclusive use.
    const int peer = ::ioctl(FMaster, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (peer < 0)
        return -1;
    int unread = -1;
    if (::ioctl(peer, FIONREAD, &unread) != 0)
        unread = -1;
    ::close(peer);
    return unread;
}
