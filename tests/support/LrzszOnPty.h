#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

// The target's side of a pseudo-terminal for file transfers: an lrzsz
// program joined to the master through pipes by a relay thread (lrzsz drops
// unread output when it flushes a terminal), or a reader that keeps it all.
class LrzszOnPty {
public:
    LrzszOnPty(int master, const QString& folder, const QString& program, const QStringList& args);
    ~LrzszOnPty();
    Q_DISABLE_COPY(LrzszOnPty)

    // The program's exit code (-1: killed, or still running after 30 s).
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
