#include "serial/TLineWriter.h"

#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

constexpr qsizetype MaxWritePiece = 65535;

} // namespace

TLineWriter::TLineWriter(std::function<int(const char*, int)> writeSome, QObject* context)
    : FWriteSome(std::move(writeSome)), FRetry(std::make_unique<QTimer>()) {
    FRetry->moveToThread(context->thread());
    FRetry->setSingleShot(true);
    FRetry->callOnTimeout([this] { Drain(); });
}

TLineWriter::~TLineWriter() = default;

bool TLineWriter::Send(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return true;
    if (Pending() + bytes.size() > Capacity)
        return false;
    if (Pending() == 0)
        FLastProgress = std::chrono::steady_clock::now();
    FQueue.append(bytes);
    FPending.store(FQueue.size() - FHead);
    Drain();
    return true;
}

void TLineWriter::Clear() {
    FRetry->stop();
    FQueue.clear();
    FQueue.squeeze();
    FHead = 0;
    FPending.store(0);
    SetStalled(false);
}

void TLineWriter::Drain() {
    bool progress = false;
    while (FHead < FQueue.size()) {
        const int piece = int(std::min(FQueue.size() - FHead, MaxWritePiece));
        const int taken = FWriteSome(FQueue.constData() + FHead, piece);
        if (taken < 0) {
            Clear();
            if (OnFailed)
                OnFailed();
            return;
        }
        if (taken == 0)
            break;
        FHead += taken;
        FPending.store(FQueue.size() - FHead);
        progress = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (progress) {
        FLastProgress = now;
        SetStalled(false);
    }
    if (FHead == FQueue.size()) {
        FQueue.clear();
        FHead = 0;
        FRetry->stop();
        return;
    }
    // The taken front is let go once it outweighs what waits.
    if (FHead > FQueue.size() / 2) {
        FQueue.remove(0, FHead);
        FHead = 0;
    }
    if (now - FLastProgress >= StallTime)
        SetStalled(true);
    ScheduleRetry();
}

void TLineWriter::ScheduleRetry() {
    if (FRetry->isActive())
        return;
    const bool idle = std::chrono::steady_clock::now() - FLastProgress > 20 * RetryInterval;
    FRetry->start(idle ? IdleRetryInterval : RetryInterval);
}

void TLineWriter::SetStalled(bool stalled) {
    if (stalled == FStalled)
        return;
    FStalled = stalled;
    if (OnStalled)
        OnStalled(stalled);
}
