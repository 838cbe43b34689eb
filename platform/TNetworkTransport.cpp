#include "platform/TNetworkTransport.h"

#include "platform/TNetworkLink.h"
#include "platform/TReceiveQueue.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>

TNetworkTransport::TNetworkTransport(std::unique_ptr<TNetworkLink> link)
    : TTransport(link->Fd()), FLink(std::move(link)) {}

TNetworkTransport::~TNetworkTransport() = default;

void TNetworkTransport::Close(bool) {
    FLink.reset(); // closes its socket
}

bool TNetworkTransport::CarriesLineSettings() const {
    return FLink->CarriesLineSettings();
}

int TNetworkTransport::SetLineSettings(const TLineSettings& settings) {
    return FLink->SetLineSettings(settings) ? 0 : EINVAL;
}

quint32 TNetworkTransport::TakeErrors() {
    return FLink->TakeErrors();
}

quint32 TNetworkTransport::LineEvents(quint32 mask, bool) {
    return FLink->TakeLineEvents() & mask;
}

// Readable covers the end of the connection too: the read then finds it.
bool TNetworkTransport::Readable() const {
    if (FLink->HasPending())
        return true;
    pollfd socket{Fd(), POLLIN | POLLRDHUP, 0};
    return ::poll(&socket, 1, 0) > 0 && socket.revents != 0;
}

TTransferStep TNetworkTransport::Read(TReceiveQueue& queue) {
    TTransferStep step;
    for (;;) {
        const TReceiveQueue::TSpan span = queue.FreeSpan();
        if (span.Size == 0)
            break;
        const int n = FLink->ReadInto(span.Data, int(std::min<std::size_t>(span.Size, 1 << 20)));
        if (n < 0)
            step.LineGone = true;
        if (n <= 0)
            break;
        queue.Commit(std::size_t(n));
        step.Bytes += n;
    }
    return step;
}

TTransferStep TNetworkTransport::Write(const char* data, int count, TTransportDeadline deadline) {
    const int done = FLink->Write(data, count, deadline.value_or(TransportClock::time_point{}),
                                  deadline.has_value());
    return {done, FLink->Gone()};
}

TTransferStep TNetworkTransport::WriteSome(const char* data, int count, int waitMs) {
    const int taken =
        FLink->Write(data, count, TransportClock::now() + std::chrono::milliseconds(waitMs), true);
    const bool gone = FLink->Gone();
    return {taken == 0 && gone ? -1 : taken, gone};
}

short TNetworkTransport::WantedPollEvents() const {
    return FLink->HasOwed() ? POLLOUT : 0;
}

void TNetworkTransport::PollReady(short revents) {
    if (revents & POLLOUT)
        FLink->SendOwed();
}
