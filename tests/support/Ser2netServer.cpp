#include "tests/support/Ser2netServer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

constexpr int Patience = 10000;

} // namespace

quint16 FreeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

Ser2netServer::Ser2netServer(const QString& device, const QString& accepter)
    : FScheme(accepter.startsWith(QLatin1String("telnet")) ? QStringLiteral("rfc2217")
                                                           : QStringLiteral("tcp")),
      FPort(FreeLoopbackPort()) {
    FConfig = FDir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(FConfig);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral("connection: &board\n"
                              "  accepter: %1,127.0.0.1,%2\n"
                              "  connector: serialdev,%3,9600n81,local\n"
                              "  options:\n"
                              "    kickolduser: true\n"
                              "    chardelay: false\n")
                   .arg(accepter)
                   .arg(FPort)
                   .arg(device)
                   .toUtf8());
}

Ser2netServer::~Ser2netServer() {
    Stop();
}

bool Ser2netServer::Installed() {
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty();
}

QString Ser2netServer::Url() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(FScheme).arg(FPort);
}

bool Ser2netServer::Start() {
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral("ser2net"),
                   {"-n", "-u", "-P", FDir.filePath("ser2net.pid"), "-c", FConfig});
    if (!FProcess.waitForStarted())
        return false;
    return QTest::qWaitFor(
        [this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, FPort);
            return probe.waitForConnected(200);
        },
        Patience);
}

void Ser2netServer::Stop() {
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(Patience))
        FProcess.kill();
    FProcess.waitForFinished();
}
