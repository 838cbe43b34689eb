#include "bench/e2e/ConsoleProcess.h"

#include "bench/e2e/Measure.h"

#include <QFile>

ConsoleProcess::ConsoleProcess() : Environment(QProcessEnvironment::systemEnvironment()) {
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

ConsoleProcess::~ConsoleProcess() {
    Stop();
}

bool ConsoleProcess::Start(const QByteArray& settings) {
    const QString dir = FDir.path() + QLatin1Char('/');
    QFile ini(dir + QStringLiteral("Console.ini"));
    if (!ini.open(QIODevice::WriteOnly) || ini.write(settings) != settings.size())
        return false;
    ini.close();
    const QString program = dir + QStringLiteral("qx-console");
    if (!QFile::copy(QStringLiteral(QX_CONSOLE_PATH), program))
        return false;
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return Launch();
}

bool ConsoleProcess::Restart(qint64& startNs) {
    Stop();
    startNs = MonotonicNs();
    return Launch();
}

bool ConsoleProcess::Launch() {
    const QString dir = FDir.path() + QLatin1Char('/');
    FProcess.setProcessEnvironment(Environment);
    FProcess.setWorkingDirectory(dir);
    FProcess.setStandardOutputFile(QProcess::nullDevice());
    FProcess.setStandardErrorFile(QProcess::nullDevice());
    FProcess.start(dir + QStringLiteral("qx-console"), {});
    return FProcess.waitForStarted(10000);
}

void ConsoleProcess::Stop() {
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(10000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}
