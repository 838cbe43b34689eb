#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

// The target's side of a pseudo-terminal for file transfers: an lrzsz
// program joined to the master through pipes (lrzsz discards unread output
// when it flushes a terminal), or, with no program, a reader that keeps what
// arrives. A thread relays between them until the object goes or the master
// is closed.
class LrzszOnPty {
public:
    LrzszOnPty(int master, const QString& folder, const QString& program, const QStringList& args);
    ~LrzszOnPty();
    LrzszOnPty(const LrzszOnPty&) = delete;
    LrzszOnPty& operator=(const LrzszOnPty&) = delete;

    // Waits (up to 30 s) for the program to end; its exit code, -1 when it
    // crashed or was killed.
    int Finish();
    // What arrived, with no program.
    QByteArray Received();

    QProcess Process;

private:
    void Relay();

    int FMaster;
    int FToPeer = -1;
    int FFromPeer = -1;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    QByteArray FReceived;
    std::thread FRelay;
};
