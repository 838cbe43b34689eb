// The worker thread: paused creation, counted pauses, main-thread calls
// with exceptions handed back, the end announced on the main thread, and a
// shutdown that never deadlocks on a worker waiting for the main thread.
#include "platform/TThread.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <future>
#include <stdexcept>

namespace {

// A thread whose run is given as a function.
class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> body, bool* destroyed = nullptr)
        : FBody(std::move(body)), FDestroyed(destroyed) {}
    ~TLambdaThread() override {
        TerminateAndWait();
        if (FDestroyed)
            *FDestroyed = true;
    }
    using TThread::ParkWhilePaused;

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TLambdaThread&)> FBody;
    bool* FDestroyed;
};

// Counts steps of a loop that parks at its safe point.
std::function<void(TLambdaThread&)> SteppingLoop(std::atomic<int>& steps) {
    return [&steps](TLambdaThread& thread) {
        while (thread.ParkWhilePaused()) {
            ++steps;
            QThread::msleep(1);
        }
    };
}

// Steps taken over a while; 0 means the worker is parked.
int StepsDuring(std::atomic<int>& steps, int ms) {
    const int before = steps.load();
    QThread::msleep(ms);
    return steps.load() - before;
}

} // namespace

class TestThread : public QObject {
    Q_OBJECT

private slots:
    void runsOnlyWhileNoPauseIsLeft() {
        std::atomic<int> steps{0};
        TLambdaThread thread(SteppingLoop(steps));
        QThread::msleep(50);
        QCOMPARE(steps.load(), 0);
        QVERIFY(thread.Paused());

        thread.Pause();
        thread.Resume();
        QThread::msleep(50);
        QCOMPARE(steps.load(), 0);
        thread.Resume();
        QTRY_VERIFY(steps.load() > 0);
        QVERIFY(!thread.Paused());

        thread.Pause();
        thread.Pause();
        QThread::msleep(100); // the worker reaches its safe point
        QCOMPARE(StepsDuring(steps, 60), 0);
        thread.Resume();
        QCOMPARE(StepsDuring(steps, 60), 0);
        thread.Resume();
        QTRY_VERIFY(StepsDuring(steps, 20) > 0);

        thread.TerminateAndWait();
        QVERIFY(thread.Finished());
    }

    void pauseAndTerminateNeverWaitForTheWorker() {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> inStep{false};
        TLambdaThread thread([&](TLambdaThread& self) {
            while (self.ParkWhilePaused()) {
                inStep = true;
                released.wait();
            }
        });
        thread.Resume();
        QTRY_VERIFY(inStep.load());
        // The worker is stuck in its step: these must return all the same.
        thread.Pause();
        thread.Terminate();
        QVERIFY(thread.Terminated());
        QVERIFY(!thread.Finished());
        release.set_value();
        thread.WaitFor();
        QVERIFY(thread.Finished());
    }

    void mainThreadCallsRunThereAndHandBackExceptions() {
        QThread* callThread = nullptr;
        QString caught;
        bool firstResult = false;
        TLambdaThread thread([&](TLambdaThread& self) {
            firstResult = self.Synchronize([&] { callThread = QThread::currentThread(); });
            try {
                self.Synchronize([] { throw std::runtime_error("refused on the main thread"); });
            } catch (const std::runtime_error& error) {
                caught = QString::fromLatin1(error.what());
            }
        });
        thread.Resume();
        QTRY_VERIFY(thread.Finished());
        QVERIFY(firstResult);
        QCOMPARE(callThread, QThread::currentThread());
        QCOMPARE(caught, QStringLiteral("refused on the main thread"));
    }

    void callOnTheMainThreadRunsDirectly() {
        TLambdaThread thread([](TLambdaThread&) {});
        bool ran = false;
        QVERIFY(thread.Synchronize([&] { ran = true; }));
        QVERIFY(ran);
        QVERIFY_THROWS_EXCEPTION(std::logic_error,
                                 thread.Synchronize([] { throw std::logic_error("direct"); }));
    }

    void endIsAnnouncedOnTheMainThreadThenTheObjectFreed() {
        bool destroyed = false;
        QThread* announcedOn = nullptr;
        bool destroyedBeforeAnnouncement = true;
        auto* thread = new TLambdaThread([](TLambdaThread&) {}, &destroyed);
        thread->FreeOnTerminate = true;
        thread->OnTerminate = [&] {
            announcedOn = QThread::currentThread();
            destroyedBeforeAnnouncement = destroyed;
        };
        thread->Resume();
        QTRY_VERIFY(destroyed);
        QCOMPARE(announcedOn, QThread::currentThread());
        QVERIFY(!destroyedBeforeAnnouncement);
    }

    void exceptionEscapingTheRunIsKept() {
        TLambdaThread thread([](TLambdaThread&) { throw std::runtime_error("run failed"); });
        thread.Resume();
        thread.WaitFor();
        QVERIFY(thread.FatalException() != nullptr);
    }

    void shutdownCancelsACallTheWorkerWaitsFor() {
        std::atomic<bool> asking{false};
        bool ran = false;
        std::atomic<int> results{-1};
        std::atomic<int> laterResult{-1};
        auto thread = std::make_unique<TLambdaThread>([&](TLambdaThread& self) {
            asking = true;
            results = self.Synchronize([&] { ran = true; }) ? 1 : 0;
            laterResult = self.Synchronize([&] { ran = true; }) ? 1 : 0;
        });
        thread->Resume();
        // No event loop runs here, so the main thread never serves the call.
        while (!asking.load())
            QThread::msleep(1);
        QThread::msleep(20);
        thread->TerminateAndWait();
        QCOMPARE(results.load(), 0);
        QCOMPARE(laterResult.load(), 0);
        thread.reset();
        QCoreApplication::processEvents();
        QTest::qWait(20);
        QVERIFY(!ran);
    }

    void waitingOnTheMainThreadServesTheWorkersCalls() {
        int calls = 0;
        bool allOnMain = true;
        TLambdaThread thread([&](TLambdaThread& self) {
            for (int i = 0; i < 3; ++i) {
                self.Synchronize([&] {
                    ++calls;
                    allOnMain = allOnMain && TThread::IsMainThread();
                });
            }
        });
        thread.Resume();
        thread.WaitFor(); // no event loop runs meanwhile
        QCOMPARE(calls, 3);
        QVERIFY(allOnMain);
    }
};

QTEST_GUILESS_MAIN(TestThread)
#include "test_thread.moc"
