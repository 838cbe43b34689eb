#include "tests/support/PtyProgram.h"

#include <QDir>
#include <QProcessEnvironment>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

PtyProgram::~PtyProgram() {
    if (FMaster >= 0)
        ::close(FMaster);
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
}

bool PtyProgram::Start(const QStringList& arguments, const QString& directory,
                       const QByteArray& term, int columns, int rows,
                       const QStringList& environment) {
    // Everything the child needs is made before the fork.
    std::vector<QByteArray> argumentBytes;
    for (const QString& argument : arguments)
        argumentBytes.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& bytes : argumentBytes)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    QStringList settings = {"TERM=" + QString::fromLatin1(term), "LANG=C.UTF-8", "LC_ALL=C.UTF-8",
                            "HOME=" + QDir(directory).absolutePath()};
    settings += environment;
    for (const QString& inherited : QProcessEnvironment::systemEnvironment().toStringList()) {
        const QString name = inherited.section('=', 0, 0) + '=';
        if (std::none_of(settings.begin(), settings.end(),
                         [&name](const QString& own) { return own.startsWith(name); }))
            settings += inherited;
    }
    std::vector<QByteArray> settingBytes;
    for (const QString& setting : settings)
        settingBytes.push_back(setting.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& bytes : settingBytes)
        envp.push_back(bytes.data());
    envp.push_back(nullptr);
    const QByteArray where = directory.toLocal8Bit();

    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    FPid = ::forkpty(&FMaster, nullptr, nullptr, &size);
    if (FPid < 0)
        return false;
    if (FPid == 0) {
        if (::chdir(where.constData()) == 0)
            ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
    return true;
}

bool PtyProgram::Write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? n : 0;
    }
    return true;
}

bool PtyProgram::ReadUntilQuiet(int quietMs, int firstByteMs) {
    bool any = false;
    char buffer[65536];
    while (!FEnded) {
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, any ? quietMs : firstByteMs) <= 0)
            break;
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            FEnded = true; // EIO: the program closed its terminal
            break;
        }
        any = true;
        if (OnOutput)
            OnOutput(QByteArray(buffer, n));
    }
    return any;
}
