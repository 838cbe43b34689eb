#include "bench/e2e/ConsoleProcess.h"

#include "bench/e2e/Measure.h"

#include <QFile>

ConsoleProcess::ConsoleProcess() : Environment(QProcessEnvironment::systemEnvironment()) {
    // Offscreen unless the benchmark chose a platform (an X server of its own).
    if (!Environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
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
    // QX_BENCH_CONSOLE measures another build of the program (a comparison).
    const QString built = qEnvironmentVariable("QX_BENCH_CONSOLE", QStringLiteral(QX_CONSOLE_PATH));
    if (!QFile::copy(built, program))
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
