#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <thread>

// A worker thread with the services the port monitor and the download need.
//
// - Created paused: the run (Execute) starts at the Resume() that takes the
//   pause count to 0.
// - Pause() and Resume() are counted; each Pause needs one Resume. Pause
//   never waits: the worker stops when it next calls ParkWhilePaused().
// - Terminate() sets a flag the run polls with Terminated(); it also frees a
//   worker parked in ParkWhilePaused().
// - Synchronize() runs a function on the main (GUI) thread while the worker
//   waits, and hands an exception thrown there back to the worker.
// - When the run has ended, the main thread calls OnTerminate and then, with
//   FreeOnTerminate, deletes the object.
//
// Shutdown: the main thread must never block on a worker that waits for the
// main thread. WaitFor() on the main thread runs the worker's main-thread
// calls itself; TerminateAndWait() cancels them instead, so nothing the
// worker asked for runs afterwards. An owner that deletes a thread object
// calls TerminateAndWait() first (a derived run must not outlive its members).
class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Pause();
    void Resume();
    bool Paused() const;

    void Terminate();
    bool Terminated() const;

    // From now on Synchronize() returns false without running its function;
    // a call the worker is waiting for is dropped (or, if it is running just
    // now, the worker stops waiting for it).
    void CancelSynchronize();
    // Blocks until the run has ended (at once if it never started).
    void WaitFor();
    // Terminate(), CancelSynchronize(), and WaitFor(): the orderly end.
    void TerminateAndWait();
    bool Finished() const;

    // Runs Call on the main thread and returns when it has returned: true
    // then, or rethrows what it threw. False when the call was cancelled
    // (it did not run, or the worker no longer waited for it) or there is no
    // application object. On the main thread Call runs directly.
    bool Synchronize(const std::function<void()>& call);

    // Whether the caller runs on the application's main thread.
    static bool IsMainThread();

    bool FreeOnTerminate = false;
    // Raised on the main thread after the run ended.
    std::function<void()> OnTerminate;
    // What escaped Execute(), if anything.
    std::exception_ptr FatalException() const;

    struct TState;

protected:
    virtual void Execute() = 0;
    // The run's safe point: waits while the thread is paused. False when
    // the thread is to terminate.
    bool ParkWhilePaused();
    // Raises OnTerminate (main thread).
    virtual void DoTerminate();

private:
    static void Run(TThread* thread, std::shared_ptr<TState> state);
    static void AnnounceEnd(const std::shared_ptr<TState>& state);
    void EndOnMainThread();

    std::shared_ptr<TState> FState;
    std::thread FThread;
    std::exception_ptr FFatalException;
};
