#include "platform/TThread.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace {

// One function the worker asked the main thread to run.
struct TMainThreadCall {
    enum class TStage { Waiting, Running, Done, Cancelled };

    explicit TMainThreadCall(std::function<void()> call) : Call(std::move(call)) {}

    std::function<void()> Call;
    TStage Stage = TStage::Waiting;
    std::exception_ptr Error;
};

} // namespace

// What the worker and the main thread share; it outlives the thread object
// for as long as a posted call or announcement still refers to it.
struct TThread::TState {
    std::mutex Lock;
    std::condition_variable Changed;
    int PauseCount = 1;
    bool Started = false;
    bool Finished = false;
    bool Terminated = false;
    bool Cancelled = false;
    std::shared_ptr<TMainThreadCall> Pending;
    // The thread object; cleared by its destructor (main thread only).
    TThread* Owner = nullptr;

    // Runs Call on the main thread unless it was cancelled or already ran.
    void RunCall(const std::shared_ptr<TMainThreadCall>& call) {
        {
            std::lock_guard lock(Lock);
            if (call->Stage != TMainThreadCall::TStage::Waiting)
                return;
            call->Stage = TMainThreadCall::TStage::Running;
        }
        std::exception_ptr error;
        try {
            call->Call();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(Lock);
            call->Error = error;
            if (call->Stage == TMainThreadCall::TStage::Running)
                call->Stage = TMainThreadCall::TStage::Done;
        }
        // Notified after the lock is free, so that the woken worker does not
        // at once block on it again (two thread switches less per call).
        Changed.notify_all();
    }
};

TThread::TThread() : FState(std::make_shared<TState>()) {
    FState->Owner = this;
}

TThread::~TThread() {
    {
        std::lock_guard lock(FState->Lock);
        FState->Owner = nullptr;
    }
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            FThread.detach();
        } else {
            TerminateAndWait();
        }
    }
}

void TThread::Pause() {
    std::lock_guard lock(FState->Lock);
    ++FState->PauseCount;
}

void TThread::Resume() {
    std::lock_guard lock(FState->Lock);
    if (FState->PauseCount > 0)
        --FState->PauseCount;
    if (FState->PauseCount == 0 && !FState->Started) {
        FState->Started = true;
        FThread = std::thread(&TThread::Run, this, FState);
    }
    FState->Changed.notify_all();
}

bool TThread::Paused() const {
    std::lock_guard lock(FState->Lock);
    return FState->PauseCount > 0;
}

void TThread::Terminate() {
    std::lock_guard lock(FState->Lock);
    FState->Terminated = true;
    FState->Changed.notify_all();
}

bool TThread::Terminated() const {
    std::lock_guard lock(FState->Lock);
    return FState->Terminated;
}

void TThread::CancelSynchronize() {
    std::lock_guard lock(FState->Lock);
    FState->Cancelled = true;
    if (FState->Pending && (FState->Pending->Stage == TMainThreadCall::TStage::Waiting ||
                            FState->Pending->Stage == TMainThreadCall::TStage::Running))
        FState->Pending->Stage = TMainThreadCall::TStage::Cancelled;
    FState->Changed.notify_all();
}

void TThread::WaitFor() {
    const bool onMainThread = IsMainThread();
    std::unique_lock lock(FState->Lock);
    if (!FState->Started)
        return;
    while (!FState->Finished) {
        const std::shared_ptr<TMainThreadCall> pending = FState->Pending;
        if (onMainThread && pending && pending->Stage == TMainThreadCall::TStage::Waiting) {
            // The worker waits for us while we wait for it: serve it here.
            lock.unlock();
            FState->RunCall(pending);
            lock.lock();
            continue;
        }
        FState->Changed.wait(lock);
    }
    lock.unlock();
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TThread::TerminateAndWait() {
    Terminate();
    CancelSynchronize();
    WaitFor();
}

bool TThread::Finished() const {
    std::lock_guard lock(FState->Lock);
    return FState->Finished;
}

std::exception_ptr TThread::FatalException() const {
    return FFatalException;
}

bool TThread::IsMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

bool TThread::Synchronize(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return true;
    }
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return false;
    const std::shared_ptr<TState> state = FState;
    const auto request = std::make_shared<TMainThreadCall>(call);
    std::unique_lock lock(state->Lock);
    if (state->Cancelled)
        return false;
    state->Pending = request;
    state->Changed.notify_all();
    // Posted with the lock free: the main thread wakes at once and would
    // otherwise find it still held. A cancellation in between marks the
    // request, which the posted call then skips.
    lock.unlock();
    QMetaObject::invokeMethod(
        application, [state, request] { state->RunCall(request); }, Qt::QueuedConnection);
    lock.lock();
    state->Changed.wait(lock, [&] {
        return request->Stage == TMainThreadCall::TStage::Done ||
               request->Stage == TMainThreadCall::TStage::Cancelled;
    });
    state->Pending.reset();
    if (request->Stage == TMainThreadCall::TStage::Cancelled)
        return false;
    if (request->Error)
        std::rethrow_exception(request->Error);
    return true;
}

bool TThread::ParkWhilePaused() {
    std::unique_lock lock(FState->Lock);
    FState->Changed.wait(lock, [this] { return FState->PauseCount == 0 || FState->Terminated; });
    return !FState->Terminated;
}

void TThread::DoTerminate() {
    if (OnTerminate)
        OnTerminate();
}

void TThread::Run(TThread* thread, std::shared_ptr<TState> state) {
    try {
        thread->Execute();
    } catch (...) {
        thread->FFatalException = std::current_exception();
    }
    // From here on the object may be gone at any moment: only State is used.
    AnnounceEnd(state);
    std::lock_guard lock(state->Lock);
    state->Finished = true;
    state->Changed.notify_all();
}

void TThread::AnnounceEnd(const std::shared_ptr<TState>& state) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application,
        [state] {
            TThread* owner = nullptr;
            {
                std::lock_guard lock(state->Lock);
                owner = state->Owner;
            }
            if (owner)
                owner->EndOnMainThread();
        },
        Qt::QueuedConnection);
}

void TThread::EndOnMainThread() {
    WaitFor();
    DoTerminate();
    if (FreeOnTerminate)
        delete this;
}
