#include "transfer/TZmodemSession.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
// What the relay holds for the child before it stops reading the line.
constexpr qsizetype ChildBacklog = 65536;
// How long a round waits for the line when the child had nothing to say.
constexpr int IdleWaitMs = 5;
// How long a stopped child is given before it is killed.
constexpr int StopGraceMs = 1000;

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads what a non-blocking descriptor holds; false at its end.
bool ReadAvailable(int fd, QByteArray& into) {
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, got);
            if (got < ssize_t(sizeof buffer))
                return true;
            continue;
        }
        if (got < 0 && (errno == EINTR))
            continue;
        return got < 0 && errno == EAGAIN;
    }
}
} // namespace

TZmodemSession::TZmodemSession(TByteChannel& channel, const QStringList& files)
    : TTransferSession(channel), FSending(true), FFiles(files) {}

TZmodemSession::TZmodemSession(TByteChannel& channel, const QString& folder)
    : TTransferSession(channel), FSending(false), FFolder(folder) {}

TZmodemSession::~TZmodemSession() {
    StopChild();
    CloseFd(FToChild);
    CloseFd(FFromChild);
    CloseFd(FChildErrors);
}

bool TZmodemSession::Installed(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QString TZmodemSession::InstallHint() {
    return QStringLiteral("ZMODEM needs lrzsz's sz and rz: sudo apt-get install lrzsz");
}

TTransferResult TZmodemSession::Transfer() {
    QString error;
    if (!Start(error))
        return Finish(Installed(Program()) ? TTransferError::FileUnreadable
                                           : TTransferError::ProgramMissing,
                      error);
    FProgress.FileCount = FSending ? int(FFiles.size()) : 1;
    while (Relay()) {
        if (CancelRequested()) {
            StopChild();
            TTransferResult result =
                CancelLine(TTransferError::Cancelled, QStringLiteral("Cancelled"));
            KeepPartialFile(result);
            return result;
        }
    }
    if (FLineFailed) {
        StopChild();
        TTransferResult result = LineFailure();
        KeepPartialFile(result);
        return result;
    }
    return ChildEnded(ReapChild(true));
}

bool TZmodemSession::Start(QString& error) {
    const QString program = QStandardPaths::findExecutable(Program());
    if (program.isEmpty()) {
        error = InstallHint();
        return false;
    }
    if (FSending) {
        for (const QString& file : FFiles)
            if (!QFileInfo(file).isReadable()) {
                error = QStringLiteral("Unable to read %1").arg(file);
                return false;
            }
    } else {
        const QStringList names = QDir(FFolder).entryList(QDir::Files | QDir::Hidden);
        FBefore = QSet<QString>(names.begin(), names.end());
    }
    // The child's input is a socket, so that a write after the child ended
    // fails instead of raising SIGPIPE.
    int in[2], out[2], err[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 ||
        ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        error = QStringLiteral("Unable to start %1: %2")
                    .arg(Program(), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const QByteArray folder = QFile::encodeName(FFolder);
    if (!FSending)
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    // -vv: progress lines on standard error. rz: restricted to plain names
    // in the folder, and a taken name gives the incoming file a new one.
    QList<QByteArray> arguments = {QFile::encodeName(program), "-vv"};
    if (FSending) {
        for (const QString& file : FFiles)
            arguments << QFile::encodeName(file);
    } else {
        arguments << "-R"
                  << "-E";
    }
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int failed = ::posix_spawn(&FChild, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    FToChild = in[1];
    FFromChild = out[0];
    FChildErrors = err[0];
    if (failed != 0) {
        FChild = -1;
        error = QStringLiteral("Unable to start %1: %2")
                    .arg(program, QString::fromLocal8Bit(std::strerror(failed)));
        return false;
    }
    SetNonBlocking(FToChild);
    SetNonBlocking(FFromChild);
    SetNonBlocking(FChildErrors);
    return true;
}

bool TZmodemSession::Relay() {
    bool busy = false;
    if (!FChildOutputEnded) {
        QByteArray output;
        FChildOutputEnded = !ReadAvailable(FFromChild, output);
        if (!output.isEmpty()) {
            busy = true;
            if (!Send(output)) {
                FLineFailed = true;
                return false;
            }
        }
    }
    if (FChildErrors >= 0) {
        QByteArray errors;
        if (!ReadAvailable(FChildErrors, errors))
            CloseFd(FChildErrors);
        TakeProgress(errors);
    }
    if (!FToChildPending.isEmpty() && FToChild >= 0) {
        const ssize_t written = ::send(FToChild, FToChildPending.constData(),
                                       size_t(FToChildPending.size()), MSG_NOSIGNAL);
        if (written > 0)
            FToChildPending.remove(0, written);
        else if (written < 0 && errno != EAGAIN && errno != EINTR)
            FToChildPending.clear(); // the child closed its input: it is ending
    }
    if (FChildOutputEnded)
        return false;
    if (FToChildPending.size() < ChildBacklog) {
        char buffer[16384];
        qsizetype got = 0;
        const auto status = FChannel.Read(buffer, sizeof buffer, got, busy ? 0 : IdleWaitMs);
        if (status == TByteChannel::TStatus::Lost) {
            FLineFailed = true;
            return false;
        }
        FToChildPending.append(buffer, got);
    } else {
        pollfd wait{FToChild, POLLOUT, 0};
        ::poll(&wait, 1, IdleWaitMs);
    }
    return true;
}

// lrzsz writes "Sending: name" or "Receiving: name", then lines of
// "Bytes Sent: 1024/ 100000 ..." ended by CR.
void TZmodemSession::TakeProgress(const QByteArray& bytes) {
    FErrorLine += bytes;
    for (;;) {
        const auto end = std::find_if(FErrorLine.begin(), FErrorLine.end(),
                                      [](char ch) { return ch == '\r' || ch == '\n'; }) -
                         FErrorLine.begin();
        if (end == FErrorLine.size())
            break;
        TakeProgressLine(QString::fromLocal8Bit(FErrorLine.left(end)).trimmed());
        FErrorLine.remove(0, end + 1);
    }
}

void TZmodemSession::TakeProgressLine(const QString& line) {
    static const QRegularExpression bytesLine(
        QStringLiteral("^Bytes (?:Sent|received):\\s*(\\d+)\\s*/\\s*(\\d+)"));
    if (line.isEmpty())
        return;
    if (line.startsWith(QLatin1String("Sending: ")) ||
        line.startsWith(QLatin1String("Receiving: "))) {
        if (!std::exchange(FFileCounted, false))
            FBytesDone += FFileBytes;
        if (FProgress.File.isEmpty())
            FProgress.FileIndex = 0;
        else
            ++FProgress.FileIndex;
        FProgress.FileCount = qMax(FProgress.FileCount, FProgress.FileIndex + 1);
        FProgress.File = line.section(QLatin1Char(' '), 1);
        FProgress.Bytes = 0;
        FProgress.Total = -1;
        FProgress.Blocks = 0;
        FFileBytes = 0;
        Report();
        return;
    }
    const QRegularExpressionMatch match = bytesLine.match(line);
    if (match.hasMatch()) {
        FProgress.Bytes = match.captured(1).toLongLong();
        FProgress.Total = match.captured(2).toLongLong();
        FProgress.Blocks = (FProgress.Bytes + 1023) / 1024;
        FFileBytes = FProgress.Bytes;
        Report();
        return;
    }
    FLastMessage = line;
}

void TZmodemSession::StopChild() {
    if (FChild < 0)
        return;
    ::kill(FChild, SIGTERM);
    for (int waited = 0; waited < StopGraceMs; waited += 10) {
        if (ReapChild(false) >= 0 || FChild < 0)
            return;
        ::usleep(10000);
    }
    ::kill(FChild, SIGKILL);
    ReapChild(true);
}

// The child's wait status, or -1 while it runs.
int TZmodemSession::ReapChild(bool wait) {
    if (FChild < 0)
        return -1;
    int status = 0;
    pid_t got;
    do
        got = ::waitpid(FChild, &status, wait ? 0 : WNOHANG);
    while (got < 0 && errno == EINTR);
    if (got == 0)
        return -1;
    FChild = -1;
    return got < 0 ? -1 : status;
}

TTransferResult TZmodemSession::ChildEnded(int status) {
    TakeProgress("\n");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (!FFileCounted) {
            FBytesDone += FProgress.Total >= 0 ? FProgress.Total : FFileBytes;
            FFileCounted = true;
        }
        return Finish(TTransferError::None,
                      FSending ? QStringLiteral("Sent") : QStringLiteral("Received"));
    }
    QString text =
        WIFEXITED(status)
            ? QStringLiteral("%1 ended with exit code %2").arg(Program()).arg(WEXITSTATUS(status))
            : QStringLiteral("%1 was stopped by signal %2").arg(Program()).arg(WTERMSIG(status));
    if (!FLastMessage.isEmpty())
        text += QStringLiteral(": ") + FLastMessage;
    TTransferResult result = Finish(TTransferError::Refused, text);
    KeepPartialFile(result);
    return result;
}

// A file rz created and did not finish goes under its name plus ".part";
// a file that was there before rz ran is never touched.
void TZmodemSession::KeepPartialFile(TTransferResult& result) {
    if (FSending || FProgress.File.isEmpty() || FFileCounted)
        return;
    const QString name = QFileInfo(FProgress.File).fileName();
    if (FBefore.contains(name))
        return;
    const QString path = QDir(FFolder).filePath(name);
    const QString part = path + QStringLiteral(".part");
    if (!QFileInfo::exists(path) || QFileInfo::exists(part) || !QFile::rename(path, part))
        return;
    result.PartialFile = part;
    result.Text += QStringLiteral("; the partial file is kept as %1").arg(part);
}
