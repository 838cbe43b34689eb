#include "platform/TNetworkLink.h"

#include "platform/SystemError.h"
#include "platform/TReadDeadline.h"
#include "platform/TSerialDevice.h"
#include "platform/TThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QUrl>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const QString RawScheme = QStringLiteral("tcp");
const QString TelnetScheme = QStringLiteral("rfc2217");

// Runs Step (which waits up to the given milliseconds and tells whether it
// is done) until it is done or Deadline passes. On the main thread the
// window keeps painting meanwhile; input waits, so nothing can close the
// port under the caller.
bool WaitWithoutFreezing(const std::function<bool(int)>& step, Clock::time_point deadline) {
    const bool paint = QCoreApplication::instance() && TThread::IsMainThread();
    for (;;) {
        const int left = MillisecondsUntil(deadline);
        if (step(paint ? std::min(left, 10) : left))
            return true;
        if (Clock::now() >= deadline)
            return false;
        if (paint)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

// A name look-up on a thread of its own: getaddrinfo cannot be interrupted,
// so a look-up that outlasts the time-out is left to finish by itself.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Error = 0;
    addrinfo* Result = nullptr;
    ~TLookup() {
        if (Result)
            ::freeaddrinfo(Result);
    }
};

std::shared_ptr<TLookup> StartLookup(const QByteArray& host, const QByteArray& port) {
    auto lookup = std::make_shared<TLookup>();
    std::thread([lookup, host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        const int error = ::getaddrinfo(host.constData(), port.constData(), &hints, &result);
        std::lock_guard guard(lookup->Lock);
        lookup->Error = error;
        lookup->Result = result;
        lookup->Finished = true;
        lookup->Done.notify_all();
    }).detach();
    return lookup;
}

QString ErrnoText(int error) {
    return SystemErrorText(error).toLower();
}

// Connects to one address; the socket, or -1 with Error set.
int ConnectTo(const addrinfo& address, Clock::time_point deadline, int& error) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        error = errno;
        ::close(fd);
        return -1;
    }
    bool connected = false;
    const bool answered = WaitWithoutFreezing(
        [fd, &connected](int waitMs) {
            pollfd socket{fd, POLLOUT, 0};
            connected = ::poll(&socket, 1, waitMs) > 0;
            return connected;
        },
        deadline);
    error = ETIMEDOUT;
    if (answered) {
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
    }
    if (error != 0) {
        ::close(fd);
        return -1;
    }
    // Typed keys go out at once, not gathered.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

TNetworkLink::~TNetworkLink() {
    if (FFd >= 0)
        ::close(FFd);
}

bool TNetworkLink::IsNetworkUrl(const QString& path) {
    return path.startsWith(RawScheme + QStringLiteral("://"), Qt::CaseInsensitive) ||
           path.startsWith(TelnetScheme + QStringLiteral("://"), Qt::CaseInsensitive);
}

bool TNetworkLink::Connect(const QString& url) {
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    const int port = parsed.port();
    if (!parsed.isValid() || parsed.host().isEmpty() || port <= 0 ||
        (scheme != RawScheme && scheme != TelnetScheme)) {
        FErrorText = QStringLiteral("%1: not a network port address (rfc2217://host:port or "
                                    "tcp://host:port)")
                         .arg(url);
        return false;
    }
    FTelnet = scheme == TelnetScheme;
    const QString where = parsed.host() + QLatin1Char(':') + QString::number(port);
    const Clock::time_point deadline = Clock::now() + ConnectTimeout;

    const std::shared_ptr<TLookup> lookup =
        StartLookup(QUrl::toAce(parsed.host()), QByteArray::number(port));
    const bool found = WaitWithoutFreezing(
        [&lookup](int waitMs) {
            std::unique_lock guard(lookup->Lock);
            return lookup->Done.wait_for(guard, std::chrono::milliseconds(waitMs),
                                         [&lookup] { return lookup->Finished; });
        },
        deadline);
    if (!found) {
        FErrorText = QStringLiteral("%1: the host name was not found in time").arg(where);
        return false;
    }
    if (lookup->Error != 0) {
        FErrorText = QStringLiteral("%1: host name not found (%2)")
                         .arg(where, QString::fromLocal8Bit(::gai_strerror(lookup->Error)));
        return false;
    }
    int error = ETIMEDOUT;
    for (const addrinfo* address = lookup->Result; address && FFd < 0; address = address->ai_next)
        FFd = ConnectTo(*address, deadline, error);
    if (FFd < 0) {
        FErrorText = error == ETIMEDOUT ? QStringLiteral("%1: connecting timed out after %2 s")
                                              .arg(where)
                                              .arg(ConnectTimeout.count())
                                        : QStringLiteral("%1: %2").arg(where, ErrnoText(error));
        return false;
    }
    if (FTelnet && !AwaitComPortAnswer(Clock::now() + ComPortAnswerTimeout)) {
        FErrorText =
            QStringLiteral("%1: the connection ended during the Telnet negotiation").arg(where);
        ::close(FFd);
        FFd = -1;
        return false;
    }
    return true;
}

// Offers the COM port option and reads until the server answers it; data
// that comes first is kept for the reader, up to MaxPendingData: then the
// wait ends without the answer. False when the connection ends.
bool TNetworkLink::AwaitComPortAnswer(Clock::time_point deadline) {
    if (!SendAll(FCodec.Start(), deadline, true))
        return false;
    bool ended = false;
    WaitWithoutFreezing(
        [this, &ended](int waitMs) {
            const qsizetype room = MaxPendingData - FPending.size();
            if (room <= 0)
                return true;
            pollfd socket{FFd, POLLIN, 0};
            if (::poll(&socket, 1, waitMs) > 0) {
                char buffer[4096];
                const ssize_t n =
                    ::read(FFd, buffer, std::min<std::size_t>(sizeof buffer, std::size_t(room)));
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    ended = true;
                    return true;
                }
                if (n > 0) {
                    const std::size_t data = FCodec.Decode(buffer, std::size_t(n), buffer);
                    FPending.append(buffer, qsizetype(data));
                    SendReplies();
                }
            }
            return FCodec.ComPortState() != TTelnetCodec::TComPortState::Asked;
        },
        deadline);
    FAgreed.store(FCodec.ComPortState() == TTelnetCodec::TComPortState::Agreed);
    return !ended;
}

bool TNetworkLink::CarriesLineSettings() const {
    return FTelnet && FAgreed.load();
}

bool TNetworkLink::SetLineSettings(const TLineSettings& settings) {
    if (settings.DataBits < 5 || settings.DataBits > 8 || settings.StopBits < 0 ||
        settings.StopBits > 2 || settings.Parity < 0 || settings.Parity > 4 ||
        settings.Baudrate <= 0)
        return false;
    {
        std::lock_guard guard(FSendLock);
        FSettings = settings;
        FHaveSettings = true;
        if (!CarriesLineSettings())
            return true;
        FSettingsSent = true;
    }
    return SendCommands(TTelnetCodec::LineSettingsCommands(settings));
}

int TNetworkLink::ReadInto(char* out, int room) {
    if (FFd < 0 || room <= 0)
        return FFd < 0 ? -1 : 0;
    if (!FPending.isEmpty()) {
        const int moved = int(std::min<qsizetype>(room, FPending.size()));
        std::memcpy(out, FPending.constData(), std::size_t(moved));
        FPending.remove(0, moved);
        return moved;
    }
    for (;;) {
        const ssize_t n = ::read(FFd, out, std::size_t(room));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return 0;
        if (n <= 0) {
            FGone.store(true);
            return -1;
        }
        if (!FTelnet)
            return int(n);
        const auto data = int(FCodec.Decode(out, std::size_t(n), out));
        FLineEvents.fetch_or(FCodec.TakeLineEvents());
        FErrors.fetch_or(FCodec.TakeErrors());
        const bool agreedNow = FCodec.ComPortState() == TTelnetCodec::TComPortState::Agreed;
        if (agreedNow != FAgreed.load()) {
            FAgreed.store(agreedNow);
            // A late agreement: the line gets the settings it should have.
            std::unique_lock guard(FSendLock);
            if (agreedNow && FHaveSettings)
                FCodec.Replies().append(TTelnetCodec::LineSettingsCommands(FSettings));
        }
        SendReplies();
        if (data > 0)
            return data;
        // Only commands came: look for data behind them.
    }
}

bool TNetworkLink::SendReplies() {
    if (FCodec.Replies().isEmpty())
        return true;
    return SendCommands(std::exchange(FCodec.Replies(), QByteArray()));
}

// Commands never wait for room (the caller may be the window's thread, or
// the reader that a writer waits for): they join the owed bytes, which go
// out as far as the socket takes them now and before any later byte.
bool TNetworkLink::SendCommands(const QByteArray& commands) {
    std::lock_guard guard(FSendLock);
    FOwed += commands;
    SendOwedLocked(Clock::now(), true);
    if (FOwed.size() > MaxOwedCommands)
        FGone.store(true);
    return !FGone.load();
}

void TNetworkLink::SendOwed() {
    std::lock_guard guard(FSendLock);
    SendOwedLocked(Clock::now(), true);
}

int TNetworkLink::Write(const char* data, int count, Clock::time_point deadline, bool hasDeadline) {
    if (FFd < 0 || count <= 0)
        return 0;
    const QByteArray wire = FTelnet ? TTelnetCodec::Escape(data, std::size_t(count))
                                    : QByteArray::fromRawData(data, count);
    std::lock_guard guard(FSendLock);
    if (!SendOwedLocked(deadline, hasDeadline))
        return 0;
    const qsizetype sent = SendLocked(wire, 0, deadline, hasDeadline);
    qsizetype dataBytes = 0;
    qsizetype at = 0;
    while (at < sent) {
        if (FTelnet && std::uint8_t(wire.at(at)) == TTelnetCodec::Iac) {
            // Half of a doubled 0xFF is on the wire: its second half goes
            // before any other byte, so the byte counts as sent.
            if (at + 1 == sent && !FGone.load()) {
                FOwed += char(TTelnetCodec::Iac);
                FHasOwed.store(true);
            }
            at += 2;
        } else {
            ++at;
        }
        ++dataBytes;
    }
    return int(dataBytes);
}

bool TNetworkLink::SendAll(const QByteArray& bytes, Clock::time_point deadline, bool hasDeadline) {
    std::lock_guard guard(FSendLock);
    return SendOwedLocked(deadline, hasDeadline) &&
           SendLocked(bytes, 0, deadline, hasDeadline) == bytes.size();
}

// A byte after half a doubled 0xFF would be read as a command, a data byte
// inside a cut command would garble it: the owed bytes go first, within the
// caller's time like any other byte. True when none is left.
bool TNetworkLink::SendOwedLocked(Clock::time_point deadline, bool hasDeadline) {
    if (FOwed.isEmpty())
        return true;
    FOwed.remove(0, SendLocked(FOwed, 0, deadline, hasDeadline));
    FHasOwed.store(!FOwed.isEmpty());
    return FOwed.isEmpty();
}

// Sends Bytes from From on until all went, the time ran out or the
// connection failed; the position reached. The caller holds FSendLock.
qsizetype TNetworkLink::SendLocked(const QByteArray& bytes, qsizetype from,
                                   Clock::time_point deadline, bool hasDeadline) {
    qsizetype done = from;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(FFd, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            const int waitMs = hasDeadline ? MillisecondsUntil(deadline) : -1;
            if (waitMs == 0)
                break;
            pollfd socket{FFd, POLLOUT, 0};
            if (::poll(&socket, 1, waitMs) < 0 && errno != EINTR)
                break;
            continue;
        }
        FGone.store(true);
        break;
    }
    return done;
}

quint32 TNetworkLink::TakeLineEvents() {
    return FLineEvents.exchange(0);
}

quint32 TNetworkLink::TakeErrors() {
    return FErrors.exchange(0);
}
