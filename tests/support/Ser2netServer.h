#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real ser2net serving one device (a pty's slave side) on a free loopback
// port, as a lab server would. Stopped when destroyed.
class Ser2netServer {
public:
    // Accepter: "telnet(rfc2217),tcp" for RFC 2217, "tcp" for raw TCP.
    Ser2netServer(const QString& device, const QString& accepter);
    ~Ser2netServer();

    static bool Installed();
    quint16 Port() const { return FPort; }
    QString Url() const;

    // Starts it and waits until its port takes connections.
    bool Start();
    void Stop();

private:
    QTemporaryDir FDir;
    QString FConfig;
    QString FScheme;
    quint16 FPort;
    QProcess FProcess;
};

// A loopback port that nothing listens on just now.
quint16 FreeLoopbackPort();
