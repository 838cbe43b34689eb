#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A TCP listener on the loopback address whose accepted peer reads only
// when the test reads it: a server that stopped taking bytes.
class StalledPeer {
public:
    // Backlog: connections the kernel completes before one is accepted.
    explicit StalledPeer(int backlog = 4);
    ~StalledPeer();
    StalledPeer(const StalledPeer&) = delete;
    StalledPeer& operator=(const StalledPeer&) = delete;

    // "<scheme>://127.0.0.1:<port>".
    QString Url(const char* scheme) const;
    // The connection the program made, accepted on first use; -1 when none
    // came.
    int Peer();
    // Ends the accepted connection (the program sees its server go).
    void DropPeer();
    // Fills the backlog with connections nobody accepts: from then on the
    // kernel drops every further connection request unanswered.
    void FillBacklog();

private:
    int FListener = -1;
    int FPeer = -1;
    int FBacklog = 0;
    quint16 FPort = 0;
    QList<int> FFillers;
};

// Reads what arrives on Fd until Count bytes came or TimeoutMs passed.
QByteArray ReadFromFd(int fd, qsizetype count, int timeoutMs = 15000);
