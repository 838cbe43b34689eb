#include "tests/support/StalledPeer.h"

#include <QElapsedTimer>

#include <algorithm>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

StalledPeer::StalledPeer(int backlog) : FBacklog(backlog) {
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Small buffers: the line is full after a few kilobytes.
    const int small = 4096;
    ::setsockopt(FListener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    ::bind(FListener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(FListener, backlog);
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &size);
    FPort = ntohs(address.sin_port);
}

StalledPeer::~StalledPeer() {
    DropPeer();
    for (const int filler : FFillers)
        ::close(filler);
    ::close(FListener);
}

QString StalledPeer::Url(const char* scheme) const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(FPort);
}

int StalledPeer::Peer() {
    if (FPeer >= 0)
        return FPeer;
    pollfd wait{FListener, POLLIN, 0};
    if (::poll(&wait, 1, 10000) > 0)
        FPeer = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    return FPeer;
}

void StalledPeer::DropPeer() {
    if (FPeer >= 0)
        ::close(FPeer);
    FPeer = -1;
}

// The accept queue holds Backlog + 1 connections.
void StalledPeer::FillBacklog() {
    const sockaddr_in address = Loopback(FPort);
    for (int i = 0; i <= FBacklog; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        FFillers << filler;
    }
}

QByteArray ReadFromFd(int fd, qsizetype count, int timeoutMs) {
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (all.size() < count && clock.elapsed() < timeoutMs) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0)
            continue;
        char buffer[65536];
        const auto room = std::min<qsizetype>(qsizetype(sizeof buffer), count - all.size());
        const ssize_t n = ::read(fd, buffer, std::size_t(room));
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    return all;
}
