// The receive queue alone: its ring on scripted produce and take steps, its
// reads within their time-outs, and a producer and a consumer racing.
#include "platform/TReceiveQueue.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

// The byte at position At of the stream every test sends.
char StreamByte(quint64 at) {
    return char(at * 7 % 251);
}

// Writes up to Count stream bytes from Next on, through as many free spans
// as it takes; the number the queue took. A full queue notes its stall.
std::size_t Produce(TReceiveQueue& queue, std::size_t count, quint64& next) {
    std::size_t done = 0;
    while (done < count) {
        const TReceiveQueue::TSpan span = queue.FreeSpan();
        if (span.Size == 0) {
            queue.NoteFull();
            break;
        }
        const std::size_t n = std::min(span.Size, count - done);
        for (std::size_t i = 0; i < n; ++i)
            span.Data[i] = StreamByte(next++);
        queue.Commit(n);
        done += n;
    }
    return done;
}

// Whether Bytes continue the stream at Next (which moves past them).
bool FollowsStream(const char* bytes, std::size_t count, quint64& next) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != StreamByte(next++))
            return false;
    }
    return true;
}

} // namespace

class TestReceiveQueue : public QObject {
    Q_OBJECT

private slots:
    // Each step produces (a positive count) or takes (a negative one); the
    // results are the bytes the queue took or gave, always the stream in
    // order. Then what is left and how often room came back after a stall.
    void stepsKeepTheStreamInOrder_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("roomCalls");
        QTest::newRow("filled exactly, then full")
            << 8 << QList<int>{8, 1, -8} << QList<int>{8, 0, 8} << 0 << 1;
        QTest::newRow("more than fits") << 4 << QList<int>{10, -2} << QList<int>{4, 2} << 2 << 1;
        QTest::newRow("wrap-around")
            << 8 << QList<int>{6, -4, 6, -8} << QList<int>{6, 4, 6, 8} << 0 << 0;
        QTest::newRow("partial takes")
            << 8 << QList<int>{5, -2, -2, -2, -1} << QList<int>{5, 2, 2, 1, 0} << 0 << 0;
        QTest::newRow("wrapped while full")
            << 5 << QList<int>{3, -3, 5, 1, -1, 1, -5} << QList<int>{3, 3, 5, 0, 1, 1, 5} << 0 << 1;
        QTest::newRow("positions past twice the capacity")
            << 3 << QList<int>{2, -2, 2, -2, 2, -2, 2, -1, 2, -3}
            << QList<int>{2, 2, 2, 2, 2, 2, 2, 1, 2, 3} << 0 << 0;
    }
    void stepsKeepTheStreamInOrder() {
        QFETCH(int, capacity);
        QFETCH(QList<int>, steps);
        QFETCH(QList<int>, results);
        QFETCH(int, left);
        QFETCH(int, roomCalls);
        TReceiveQueue queue(static_cast<std::size_t>(capacity));
        int rooms = 0;
        queue.OnRoom = [&] { ++rooms; };
        quint64 produced = 0;
        quint64 taken = 0;
        QList<int> got;
        for (const int step : steps) {
            if (step > 0) {
                got.append(int(Produce(queue, std::size_t(step), produced)));
                continue;
            }
            QByteArray buffer(-step, '\0');
            const std::size_t n = queue.Take(buffer.data(), std::size_t(-step));
            QVERIFY(FollowsStream(buffer.constData(), n, taken));
            got.append(int(n));
        }
        QCOMPARE(got, results);
        QCOMPARE(int(queue.Count()), left);
        QCOMPARE(queue.Taken(), taken);
        QCOMPARE(rooms, roomCalls);
    }

    // A read takes what is there and waits for the rest within its
    // time-outs; an ended queue gives what is left at once, even to a read
    // that would otherwise wait for ever (all time-outs 0).
    void readsKeepTheirTimeouts_data() {
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<quint32>("interval");
        QTest::addColumn<quint32>("total");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<int>("got");
        const quint32 atOnce = TCommTimeouts::MaxTimeout;
        QTest::newRow("all there") << 10 << 4 << 0u << 0u << false << 4;
        QTest::newRow("less there, return at once") << 3 << 10 << atOnce << 0u << false << 3;
        QTest::newRow("less there, total time-out") << 3 << 10 << 0u << 30u << false << 3;
        QTest::newRow("nothing there, total time-out") << 0 << 10 << 0u << 30u << false << 0;
        QTest::newRow("less there, interval time-out") << 3 << 10 << 30u << 0u << false << 3;
        QTest::newRow("ended, no time-out") << 3 << 10 << 0u << 0u << true << 3;
        QTest::newRow("ended and empty, no time-out") << 0 << 10 << 0u << 0u << true << 0;
    }
    void readsKeepTheirTimeouts() {
        QFETCH(int, queued);
        QFETCH(int, wanted);
        QFETCH(quint32, interval);
        QFETCH(quint32, total);
        QFETCH(bool, ended);
        QFETCH(int, got);
        TReceiveQueue queue(16);
        quint64 produced = 0;
        QCOMPARE(int(Produce(queue, std::size_t(queue.Capacity()), produced)), 16);
        QByteArray skip(16 - queued, '\0');
        queue.Take(skip.data(), std::size_t(skip.size()));
        if (ended)
            queue.End();
        QByteArray buffer(wanted, '\0');
        QElapsedTimer clock;
        clock.start();
        const std::size_t n =
            queue.Read(buffer.data(), std::size_t(wanted), {interval, 0, total, 0, 0});
        QCOMPARE(int(n), got);
        quint64 at = quint64(16 - queued);
        QVERIFY(FollowsStream(buffer.constData(), n, at));
        // A time-out is waited for, never cut short.
        if (got < wanted && !ended && interval != TCommTimeouts::MaxTimeout)
            QVERIFY(clock.elapsed() >= qint64(std::max(interval, total)) - 1);
    }

    // One producer and one consumer on a small ring for a few seconds, both
    // in pieces of random size: the consumer gets the stream whole and in
    // order, through wrap-arounds and stalls on a full ring. Build with
    // -fsanitize=thread to have the sanitizer watch the two.
    void aProducerAndAConsumerRaceForSeconds() {
        TReceiveQueue queue(97);
        std::atomic<bool> room{false};
        queue.OnRoom = [&] { room = true; };
        std::atomic<bool> stop{false};
        std::thread producer([&] {
            QRandomGenerator random(3);
            quint64 next = 0;
            while (!stop.load()) {
                if (Produce(queue, random.bounded(1, 200), next) > 0 || queue.FreeSpan().Size > 0)
                    continue;
                while (!room.exchange(false) && !stop.load())
                    std::this_thread::yield();
            }
            queue.End();
        });
        QRandomGenerator random(4);
        QElapsedTimer clock;
        clock.start();
        quint64 taken = 0;
        bool inOrder = true;
        char buffer[256];
        while (!(queue.Ended() && queue.Count() == 0)) {
            if (clock.elapsed() > 3000)
                stop = true;
            const std::size_t want = random.bounded(1, 256);
            const std::size_t n = random.bounded(2) == 0
                                      ? queue.Take(buffer, want)
                                      : queue.Read(buffer, want, {0, 0, 5, 0, 0});
            inOrder = inOrder && FollowsStream(buffer, n, taken);
        }
        producer.join();
        QVERIFY(inOrder);
        QVERIFY(taken > 10 * queue.Capacity());
        QCOMPARE(queue.Taken(), taken);
    }
};

QTEST_GUILESS_MAIN(TestReceiveQueue)
#include "test_receive_queue.moc"
